// The LZH encoder round trip: any input, encoded with the -lh5- or -lh6- parameters, decodes to
// the same bytes (unless the encoder gave it up as unpackable).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "readers/StaticHuffman.h"
#include "writers/LzhEncode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool lh6 = data[0] & 1;
    // Repeat the input a few times so that matches and several blocks happen.
    std::vector<std::uint8_t> input;
    for (int i = 0; i < 1 + (data[0] >> 5); ++i)
        input.insert(input.end(), data + 1, data + size);
    TLzhEncoder encoder;
    if (!encoder.LzhInit(lh6 ? 14 : 13, lh6 ? 5 : 4))
        std::abort();
    std::size_t at = 0;
    std::vector<std::uint8_t> packed;
    const TLzhEncodeResult result = encoder.LzhEncode(
        [&](std::uint8_t* b, std::size_t n) {
            n = n < input.size() - at ? n : input.size() - at;
            if (n)
                std::memcpy(b, input.data() + at, n);
            at += n;
            return n;
        },
        [&](const std::uint8_t* d, std::size_t n) { packed.insert(packed.end(), d, d + n); });
    if (result.Unpackable)
        return 0;
    if (result.InputSize != input.size() || result.PackedSize != packed.size() || packed.size() >= input.size() + 1)
        std::abort();
    std::size_t pos = 0;
    TStaticHuffmanBits bits([&](std::uint8_t* b, std::size_t n) {
        n = n < packed.size() - pos ? n : packed.size() - pos;
        if (n)
            std::memcpy(b, packed.data() + pos, n);
        pos += n;
        return n;
    });
    TStaticHuffmanParams params;
    LhaStaticParams(lh6 ? '6' : '5', params);
    TStaticHuffmanDecoder decoder;
    decoder.StaticHuffmanInit(params);
    std::vector<std::uint8_t> out;
    const TCodecStatus r = decoder.StaticHuffmanDecode(
        bits, [&](const std::uint8_t* d, std::size_t n) { out.insert(out.end(), d, d + n); }, input.size());
    if (r != TCodecStatus::Ok || out != input)
        std::abort();
    return 0;
}
