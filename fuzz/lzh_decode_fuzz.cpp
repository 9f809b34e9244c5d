// The static- and adaptive-Huffman LZ decoders over arbitrary bytes: each must end, report, and
// never produce more than asked. The first byte picks the method, the next three the size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "readers/AdaptiveHuffman.h"
#include "readers/StaticHuffman.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const char method = "14567"[data[0] % 5];
    const std::uint64_t want = (std::uint64_t(data[1]) << 16 | std::uint64_t(data[2]) << 8 | data[3]) & 0x3FFFFF;
    std::size_t pos = 4;
    TStaticHuffmanBits bits([&](std::uint8_t* buffer, std::size_t count) {
        const std::size_t n = count < size - pos ? count : size - pos;
        if (n > 0)
            std::memcpy(buffer, data + pos, n);
        pos += n;
        return n;
    });
    std::uint64_t written = 0;
    const TByteSink sink = [&](const std::uint8_t*, std::size_t count) { written += count; };
    TCodecStatus result;
    if (method == '1') {
        TAdaptiveHuffmanDecoder decoder;
        result = decoder.AdaptiveHuffmanDecode(bits, sink, want);
    } else {
        TStaticHuffmanParams params;
        LhaStaticParams(method, params);
        TStaticHuffmanDecoder decoder;
        decoder.StaticHuffmanInit(params);
        result = decoder.StaticHuffmanDecode(bits, sink, want);
    }
    if (written > want || (result == TCodecStatus::Ok && written != want))
        std::abort();
    return 0;
}
