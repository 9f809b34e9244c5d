// Decodes arbitrary bytes as method-98 data. The first four bytes give the declared unpacked size
// (bounded; top bit: no size, decode to the end mark), the rest is the entry's data with its
// parameter word. Without a size the run still ends: every symbol narrows the range, so the coded
// data runs out sooner or later.
#include "core/plxPPMDi1.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TPpmdCodec codec;  // reused like the extractor reuses its model
    if (size < 6)
        return 0;
    std::uint32_t declared = 0;
    std::memcpy(&declared, data, 4);
    std::uint64_t unpacked = declared % (1u << 20);
    if (declared & 0x80000000u)
        unpacked = TPpmdCodec::kPpmdUnknownSize;
    const std::uint8_t* packed = data + 4;
    std::size_t packedSize = size - 4;
    // Order and restoration as given, memory field cut to 1-4 MB.
    const std::uint8_t word[2] = {std::uint8_t(packed[0] & 0x3F), std::uint8_t(packed[1] & 0xF0)};

    std::size_t pos = 0;
    std::uint64_t written = 0;
    TPpmdCallbacks io;
    io.Read = [&](std::uint8_t* buf, std::size_t n) {
        std::size_t k = 0;
        while (k < n && pos < packedSize) {
            buf[k++] = pos < 2 ? word[pos] : packed[pos];
            pos++;
        }
        return k;
    };
    io.Write = [&](const std::uint8_t*, std::size_t n) { written += n; };
    std::uint64_t out = 0;
    codec.PPMdDecompress(io, packedSize, unpacked, &out);
    if (out != written || (unpacked != TPpmdCodec::kPpmdUnknownSize && out > unpacked))
        __builtin_trap();
    return 0;
}
