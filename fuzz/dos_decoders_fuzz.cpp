// The decoders of the ARJ, ARC and ZOO members over arbitrary data: ARJ method 4, ARC
// run-length, squeeze and crunch, and the headerless LZW of ARC methods 8/9 and ZOO method 1.
// Each must end, within its output limit. The first byte picks the decoder.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "readers/ArcDecoders.h"
#include "readers/ArjMethod4.h"
#include "readers/LzwDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    constexpr std::uint64_t kLimit = 1 << 20;
    const std::uint8_t pick = data[0];
    const std::uint8_t* in = data + 1;
    std::size_t left = size - 1;
    const TByteSource source = [&](std::uint8_t* buffer, std::size_t count) {
        const std::size_t n = std::min(count, left);
        std::memcpy(buffer, in, n);
        in += n;
        left -= n;
        return n;
    };
    std::uint64_t produced = 0;
    const TByteSink sink = [&](const std::uint8_t*, std::size_t count) {
        produced += count;
        if (produced > kLimit)
            std::abort();
    };
    switch (pick % 6) {
    case 0: {
        TArjMethod4Decoder decoder;
        TStaticHuffmanBits bits(source);
        decoder.Decode(bits, sink, kLimit);
        break;
    }
    case 1: {
        TArcByteReader reader(source);
        TArcWriter writer(sink, kLimit, true);
        ArcCopy(reader, writer);
        writer.Flush();
        break;
    }
    case 2: {
        TArcByteReader reader(source);
        TArcWriter writer(sink, kLimit, pick & 8);
        ArcUnsqueeze(reader, writer);
        writer.Flush();
        break;
    }
    case 3: {
        TArcByteReader reader(source);
        TArcWriter writer(sink, kLimit, true);
        TArcCrunchDecoder decoder;
        decoder.Decode(reader, writer, pick & 8);
        writer.Flush();
        break;
    }
    default: {
        const bool zoo = pick % 6 == 5;
        TLzwDecoder decoder(source, sink, kLimit, TLzwRawFormat{zoo ? 13 : (pick & 8) ? 13 : 12, !zoo});
        decoder.Decode();
        break;
    }
    }
    return 0;
}
