#include "readers/AdaptiveHuffman.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::size_t kWindow = 4096;
constexpr std::size_t kLongestMatch = 60;
constexpr std::size_t kOutputBlock = 32768;

// The fixed code of a position's upper 6 bits, indexed by the next 8 bits: the code value and
// the code's length.
struct TPositionCode {
    std::array<std::uint8_t, 256> Code{};
    std::array<std::uint8_t, 256> Length{};
};

constexpr TPositionCode MakePositionCode()
{
    // (codes, length): 1 code of 3 bits, 3 of 4, 8 of 5, 12 of 6, 24 of 7, 16 of 8.
    constexpr int groups[6][2] = {{1, 3}, {3, 4}, {8, 5}, {12, 6}, {24, 7}, {16, 8}};
    TPositionCode t;
    int index = 0, code = 0;
    for (const auto& g : groups) {
        const int span = 1 << (8 - g[1]);
        for (int c = 0; c < g[0]; ++c, ++code) {
            for (int k = 0; k < span; ++k, ++index) {
                t.Code[std::size_t(index)] = std::uint8_t(code);
                t.Length[std::size_t(index)] = std::uint8_t(g[1]);
            }
        }
    }
    return t;
}

constexpr TPositionCode kPositionCode = MakePositionCode();

}  // namespace

void TAdaptiveHuffmanDecoder::StartTree()
{
    for (int i = 0; i < N_CHAR; ++i) {
        FFreq[i] = 1;
        FSon[i] = std::int16_t(i + T);
        FParent[i + T] = std::int16_t(i);
    }
    for (int i = 0, j = N_CHAR; j <= R; i += 2, ++j) {
        FFreq[j] = std::uint16_t(FFreq[i] + FFreq[i + 1]);
        FSon[j] = std::int16_t(i);
        FParent[i] = FParent[i + 1] = std::int16_t(j);
    }
    FFreq[T] = 0xFFFF;
    FParent[R] = 0;
}

void TAdaptiveHuffmanDecoder::Rebuild()
{
    int j = 0;
    for (int i = 0; i < T; ++i) {
        if (FSon[i] >= T) {
            FFreq[j] = std::uint16_t((FFreq[i] + 1) / 2);
            FSon[j] = FSon[i];
            ++j;
        }
    }
    for (int i = 0, node = N_CHAR; node < T; i += 2, ++node) {
        const std::uint16_t f = std::uint16_t(FFreq[i] + FFreq[i + 1]);
        int k = node - 1;
        while (f < FFreq[k])
            --k;
        ++k;
        std::memmove(&FFreq[k + 1], &FFreq[k], sizeof FFreq[0] * std::size_t(node - k));
        FFreq[k] = f;
        std::memmove(&FSon[k + 1], &FSon[k], sizeof FSon[0] * std::size_t(node - k));
        FSon[k] = std::int16_t(i);
    }
    for (int i = 0; i < T; ++i) {
        const int k = FSon[i];
        if (k >= T)
            FParent[k] = std::int16_t(i);
        else
            FParent[k] = FParent[k + 1] = std::int16_t(i);
    }
}

void TAdaptiveHuffmanDecoder::Update(int Symbol)
{
    if (FFreq[R] == kMaxFreq)
        Rebuild();
    int c = FParent[Symbol + T];
    do {
        const std::uint16_t k = ++FFreq[c];
        int l = c + 1;
        if (k > FFreq[l]) {
            while (k > FFreq[++l]) {
            }
            --l;
            FFreq[c] = FFreq[l];
            FFreq[l] = k;
            const int i = FSon[c];
            FParent[i] = std::int16_t(l);
            if (i < T)
                FParent[i + 1] = std::int16_t(l);
            const int j = FSon[l];
            FSon[l] = std::int16_t(i);
            FParent[j] = std::int16_t(c);
            if (j < T)
                FParent[j + 1] = std::int16_t(c);
            FSon[c] = std::int16_t(j);
            c = l;
        }
    } while ((c = FParent[c]) != 0);
}

int TAdaptiveHuffmanDecoder::DecodeSymbol(TStaticHuffmanBits& Bits)
{
    int c = FSon[R];
    while (c < T)
        c = FSon[c + int(Bits.StaticHuffmanGetBits(1))];
    c -= T;
    Update(c);
    return c;
}

unsigned TAdaptiveHuffmanDecoder::DecodePosition(TStaticHuffmanBits& Bits)
{
    unsigned i = Bits.StaticHuffmanGetBits(8);
    const unsigned upper = kPositionCode.Code[i];
    const int extra = kPositionCode.Length[i] - 2;
    i = (i << extra) | Bits.StaticHuffmanGetBits(extra);
    return upper << 6 | (i & 63);
}

TCodecStatus TAdaptiveHuffmanDecoder::AdaptiveHuffmanDecode(TStaticHuffmanBits& Bits, const TByteSink& Sink,
                                                            std::uint64_t OutputSize)
{
    StartTree();
    Bits.StaticHuffmanInitBits();
    // The whole window starts as spaces: early matches may reach back before the data.
    std::array<std::uint8_t, kWindow> window;
    window.fill(' ');
    std::size_t pos = kWindow - kLongestMatch;
    std::vector<std::uint8_t> out;
    out.reserve(kOutputBlock);
    const auto put = [&](std::uint8_t b) {
        window[pos] = b;
        pos = (pos + 1) & (kWindow - 1);
        out.push_back(b);
        if (out.size() == kOutputBlock) {
            Sink(out.data(), out.size());
            out.clear();
        }
    };
    std::uint64_t produced = 0;
    while (produced < OutputSize) {
        if (Bits.Exhausted())
            return TCodecStatus::Truncated;
        const int c = DecodeSymbol(Bits);
        if (c < 256) {
            put(std::uint8_t(c));
            ++produced;
            continue;
        }
        const std::size_t distance = DecodePosition(Bits);
        std::size_t src = (pos - distance - 1) & (kWindow - 1);
        const std::uint64_t length = std::min<std::uint64_t>(std::uint64_t(c - 253), OutputSize - produced);
        for (std::uint64_t k = 0; k < length; ++k) {
            put(window[src]);
            src = (src + 1) & (kWindow - 1);
        }
        produced += length;
    }
    if (!out.empty())
        Sink(out.data(), out.size());
    return TCodecStatus::Ok;
}
