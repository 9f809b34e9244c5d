#include "readers/ArjMethod4.h"

namespace {

// Leading 1-bits (at most Limit), then as many more bits as ones plus Base: the sum of the
// widths skipped and that value.
std::uint32_t ReadPrefixCode(TStaticHuffmanBits& Bits, int Base, int Limit)
{
    std::uint32_t plus = 0;
    int width = Base;
    while (width < Base + Limit && Bits.StaticHuffmanGetBits(1) != 0) {
        plus += 1u << width;
        ++width;
    }
    return plus + Bits.StaticHuffmanGetBits(width);
}

}  // namespace

TCodecStatus TArjMethod4Decoder::Decode(TStaticHuffmanBits& Bits, const TByteSink& Sink, std::uint64_t OutputSize)
{
    constexpr std::size_t mask = kWindowSize - 1;
    FWindow.assign(kWindowSize, 0);  // a distance before the start reads zeros
    std::uint8_t* const window = FWindow.data();
    Bits.StaticHuffmanInitBits();
    std::size_t pos = 0;
    std::uint64_t produced = 0;
    const auto put = [&](std::uint8_t c) {
        window[pos++] = c;
        if (pos == kWindowSize) {
            Sink(window, pos);
            pos = 0;
        }
    };
    while (produced < OutputSize) {
        if (Bits.Exhausted())
            return TCodecStatus::Truncated;
        const std::uint32_t code = ReadPrefixCode(Bits, 0, 7);
        if (code == 0) {
            put(std::uint8_t(Bits.StaticHuffmanGetBits(8)));
            ++produced;
            continue;
        }
        const std::uint64_t length = std::min<std::uint64_t>(code + 2, OutputSize - produced);
        const std::size_t distance = ReadPrefixCode(Bits, 9, 4);
        std::size_t src = (pos - distance - 1) & mask;
        for (std::uint64_t k = 0; k < length; ++k) {
            put(window[src]);
            src = (src + 1) & mask;
        }
        produced += length;
    }
    if (pos > 0)
        Sink(window, pos);
    return Bits.PastEnd() ? TCodecStatus::Truncated : TCodecStatus::Ok;
}
