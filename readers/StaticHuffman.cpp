#include "readers/StaticHuffman.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kInputBlock = 32768;
constexpr int kMaxCodeLength = 16;
constexpr int kLiteralTableBits = 12;
constexpr int kSmallTableBits = 8;
constexpr int kPreCodeCountBits = 5;  // TBIT
constexpr int kLiteralCountBits = 9;  // CBIT
constexpr int kPreCodeSpecial = 3;    // a count of zero lengths follows the third pre-code length

}  // namespace

// --- bits ---

TStaticHuffmanBits::TStaticHuffmanBits(TByteSource Source) : FSource(std::move(Source)), FBuffer(kInputBlock)
{}

void TStaticHuffmanBits::StaticHuffmanInitBits()
{
    FBits = 0;
    FCount = 0;
    Refill();
}

std::uint8_t TStaticHuffmanBits::NextByte()
{
    if (FPos == FEnd && !FEof) {
        FPos = 0;
        FEnd = FSource ? FSource(FBuffer.data(), FBuffer.size()) : 0;
        FEof = FEnd == 0;
    }
    if (FPos < FEnd)
        return FBuffer[FPos++];
    ++FPadBytes;
    return 0;
}

void TStaticHuffmanBits::Refill()
{
    while (FCount <= 56) {
        FBits |= std::uint64_t(NextByte()) << (56 - FCount);
        FCount += 8;
    }
}

// --- tables ---

bool THuffmanTable::Build(const std::uint8_t* Lengths, int Count, int TableBits)
{
    int counts[kMaxCodeLength + 1] = {};
    for (int i = 0; i < Count; ++i) {
        if (Lengths[i] > kMaxCodeLength)
            return false;
        ++counts[Lengths[i]];
    }
    std::uint32_t next[kMaxCodeLength + 2] = {};
    std::uint32_t kraft = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        kraft += std::uint32_t(counts[len]) << (kMaxCodeLength - len);
        next[len + 1] = (next[len] + std::uint32_t(counts[len])) << 1;
    }
    if (kraft != 1u << kMaxCodeLength)
        return false;

    FBits = TableBits;
    FTable.assign(std::size_t(1) << TableBits, 0);
    const int subBits = kMaxCodeLength - TableBits;
    for (int sym = 0; sym < Count; ++sym) {
        const int len = Lengths[sym];
        if (len == 0)
            continue;
        const std::uint32_t code = next[len]++;
        const std::uint32_t entry = std::uint32_t(sym) << 8 | std::uint32_t(len);
        if (len <= TableBits) {
            const std::size_t first = std::size_t(code) << (TableBits - len);
            std::fill_n(FTable.begin() + std::ptrdiff_t(first), std::size_t(1) << (TableBits - len), entry);
            continue;
        }
        const std::uint32_t prefix = code >> (len - TableBits);
        if (!(FTable[prefix] & kSubTable)) {
            FTable[prefix] = kSubTable | std::uint32_t(FTable.size()) << 8;
            FTable.resize(FTable.size() + (std::size_t(1) << subBits), 0);
        }
        const std::size_t base = FTable[prefix] >> 8 & 0x7FFFFF;
        const std::uint32_t low = code & ((1u << (len - TableBits)) - 1);
        const std::size_t first = base + (std::size_t(low) << (kMaxCodeLength - len));
        std::fill_n(FTable.begin() + std::ptrdiff_t(first), std::size_t(1) << (kMaxCodeLength - len), entry);
    }
    return true;
}

void THuffmanTable::BuildSingle(int Symbol, int TableBits)
{
    FBits = TableBits;
    FTable.assign(std::size_t(1) << TableBits, std::uint32_t(Symbol) << 8);
}

// --- parameters ---

bool LhaStaticParams(char Method, TStaticHuffmanParams& Params)
{
    switch (Method) {
    case '4':
        Params = {12, 13, 4, 16};
        return true;
    case '5':
        Params = {13, 14, 4, 16};
        return true;
    // 32 KiB, as every LHA since the 1990s writes it; a 16 KiB stream decodes the same.
    case '6':
        Params = {15, 16, 5, 16};
        return true;
    case '7':
        Params = {16, 17, 5, 16};
        return true;
    default:
        return false;
    }
}

// --- decoder ---

void TStaticHuffmanDecoder::StaticHuffmanInit(const TStaticHuffmanParams& Params)
{
    FParams = Params;
    FParams.WindowBits = std::clamp(std::max(Params.WindowBits, Params.DictionaryBits), 8, 20);
    FParams.PositionCodes = std::clamp(Params.PositionCodes, 1, 32);
}

bool TStaticHuffmanDecoder::ReadLengthList(TStaticHuffmanBits& Bits, int MaxCount, int CountBits, int Special,
                                           THuffmanTable& Table, int TableBits)
{
    const int n = int(Bits.StaticHuffmanGetBits(CountBits));
    if (n == 0) {
        const int symbol = int(Bits.StaticHuffmanGetBits(CountBits));
        if (symbol >= MaxCount)
            return false;
        Table.BuildSingle(symbol, TableBits);
        return true;
    }
    if (n > MaxCount)
        return false;
    std::uint8_t lengths[32] = {};
    int i = 0;
    while (i < n) {
        int len = int(Bits.Peek(3));
        if (len == 7) {
            const std::uint32_t next = Bits.Peek(16);
            for (std::uint32_t mask = 1u << 12; mask & next; mask >>= 1)
                ++len;
            if (len > kMaxCodeLength)
                return false;
        }
        Bits.StaticHuffmanFillBuf(len < 7 ? 3 : len - 3);
        lengths[i++] = std::uint8_t(len);
        if (i == Special) {
            for (int zeros = int(Bits.StaticHuffmanGetBits(2)); zeros > 0 && i < MaxCount; --zeros)
                lengths[i++] = 0;
        }
    }
    return Table.Build(lengths, MaxCount, TableBits);
}

bool TStaticHuffmanDecoder::ReadLiteralLengths(TStaticHuffmanBits& Bits)
{
    const int n = int(Bits.StaticHuffmanGetBits(kLiteralCountBits));
    if (n == 0) {
        const int symbol = int(Bits.StaticHuffmanGetBits(kLiteralCountBits));
        if (symbol >= NC)
            return false;
        FLiteral.BuildSingle(symbol, kLiteralTableBits);
        return true;
    }
    if (n > NC)
        return false;
    std::memset(FLengths, 0, sizeof FLengths);
    int i = 0;
    while (i < n) {
        int codeLength = 0;
        const int c = FPreCode.Decode(Bits.Peek(16), codeLength);
        Bits.StaticHuffmanFillBuf(codeLength);
        if (c > 2) {
            FLengths[i++] = std::uint8_t(c - 2);
            continue;
        }
        const int run = c == 0   ? 1
                        : c == 1 ? int(Bits.StaticHuffmanGetBits(4)) + 3
                                 : int(Bits.StaticHuffmanGetBits(kLiteralCountBits)) + 20;
        if (i + run > NC)
            return false;
        i += run;  // already zero
    }
    return FLiteral.Build(FLengths, NC, kLiteralTableBits);
}

bool TStaticHuffmanDecoder::ReadBlockHeader(TStaticHuffmanBits& Bits)
{
    FBlockLeft = Bits.StaticHuffmanGetBits(16);
    return FBlockLeft != 0 && ReadLengthList(Bits, NT, kPreCodeCountBits, kPreCodeSpecial, FPreCode, kSmallTableBits) &&
           ReadLiteralLengths(Bits) &&
           ReadLengthList(Bits, FParams.PositionCodes, FParams.PositionBits, -1, FPosition, kSmallTableBits);
}

TCodecStatus TStaticHuffmanDecoder::StaticHuffmanDecode(TStaticHuffmanBits& Bits, const TByteSink& Sink,
                                                        std::uint64_t OutputSize)
{
    const std::size_t size = std::size_t(1) << FParams.WindowBits;
    const std::size_t mask = size - 1;
    // Cleared for every member: a distance before its start reads zeros, never an older member.
    FWindow.assign(size, 0);
    std::uint8_t* const window = FWindow.data();
    FBlockLeft = 0;
    Bits.StaticHuffmanInitBits();

    std::size_t pos = 0;
    std::uint64_t produced = 0;
    const auto flush = [&] {
        Sink(window, pos);
        pos = 0;
    };
    while (produced < OutputSize) {
        if (Bits.Exhausted())
            return TCodecStatus::Truncated;
        if (FBlockLeft == 0 && !ReadBlockHeader(Bits))
            return Bits.PastEnd() ? TCodecStatus::Truncated : TCodecStatus::Corrupt;
        --FBlockLeft;
        int bits = 0;
        const int c = FLiteral.Decode(Bits.Peek(16), bits);
        Bits.StaticHuffmanFillBuf(bits);
        if (c < 256) {
            window[pos++] = std::uint8_t(c);
            ++produced;
            if (pos == size)
                flush();
            continue;
        }
        const int p = FPosition.Decode(Bits.Peek(16), bits);
        Bits.StaticHuffmanFillBuf(bits);
        const std::size_t distance = p == 0 ? 0 : (std::size_t(1) << (p - 1)) + Bits.StaticHuffmanGetBits(p - 1);
        const std::size_t length = std::size_t(std::min<std::uint64_t>(std::uint64_t(c - 253), OutputSize - produced));
        std::size_t src = (pos - distance - 1) & mask;
        produced += length;
        if (src + length <= size && pos + length <= size) {
            if (src + length <= pos || pos + length <= src) {
                std::memcpy(window + pos, window + src, length);
            } else {
                for (std::size_t k = 0; k < length; ++k)
                    window[pos + k] = window[src + k];
            }
            pos += length;
            if (pos == size)
                flush();
            continue;
        }
        for (std::size_t k = 0; k < length; ++k) {
            window[pos++] = window[src];
            src = (src + 1) & mask;
            if (pos == size)
                flush();
        }
    }
    if (pos > 0)
        flush();
    return TCodecStatus::Ok;
}
