// The PPMd encoder round trip: whatever a backup feeds it, the coded data decodes to the same
// bytes. The first byte picks the order, the restoration and how far the input is stretched (by a
// generator seeded from it) so that a 1 MB model fills up and restarts or is cut down.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/plxPPMDi1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 || size > (1u << 14))
        return 0;
    static TPpmdCodec encoder;  // both kept between runs, as a worker keeps them between members
    static TPpmdCodec decoder;
    TPpmdParams params;
    params.Order = 2 + data[0] % 15;
    params.MemoryMB = 1;
    params.Restoration = (data[0] >> 4) & 1;
    std::vector<std::uint8_t> input(data + 1, data + size);
    // Mostly the input repeated with sparse changes: new contexts without becoming noise. Only
    // the long stretch fills the model; it is kept to a few first bytes so seed runs stay quick.
    const std::size_t stretch = data[0] >= 0xE0 ? 160 * 1024 : std::size_t((data[0] >> 5) & 3) * 8 * 1024;
    std::uint32_t x = 0x9E3779B9u ^ std::uint32_t(size);
    for (std::size_t i = 0; input.size() < size - 1 + stretch; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        const std::uint8_t b = data[1 + i % (size - 1)];
        input.push_back((x & 15) == 0 ? std::uint8_t(b + (x >> 24)) : b);
    }

    std::size_t at = 0;
    std::vector<std::uint8_t> packed;
    std::uint64_t coded = 0;
    if (encoder.PPMdCompress(MemoryPpmdCallbacks(input, at, packed), input.size(), params, &coded) !=
            TCodecStatus::Ok ||
        coded != input.size())
        std::abort();
    at = 0;
    std::vector<std::uint8_t> out;
    if (decoder.PPMdDecompress(MemoryPpmdCallbacks(packed, at, out), packed.size(), input.size()) != TCodecStatus::Ok ||
        out != input)
        std::abort();
    return 0;
}
