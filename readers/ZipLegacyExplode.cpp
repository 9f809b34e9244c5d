#include <algorithm>
#include <numeric>
#include <utility>

#include "readers/ZipLegacy.h"

namespace {
constexpr int MaxCodeLength = 16;
constexpr std::uint64_t LargeMemberSize = 200000;  // above it distances get a wider lookup
constexpr int LiteralLookupBits = 9;
constexpr int LengthLookupBits = 7;
constexpr int LongLengthCode = 63;  // followed by 8 extra bits

std::uint32_t ReverseBits(std::uint32_t code, int length)
{
    std::uint32_t r = 0;
    for (int i = 0; i < length; ++i, code >>= 1)
        r = (r << 1) | (code & 1);
    return r;
}
}  // namespace

TExplode::TExplode(TByteSource source, TByteSink sink, const TZipLegacyMember& member)
    : TZipLegacyDecoder(std::move(source), std::move(sink), member),
      FEightKDictionary((member.Flags & 0x02) != 0),
      FLiteralTree((member.Flags & 0x04) != 0),
      FDistanceLookupBits(member.CompressedSize > LargeMemberSize ? 8 : 7)
{}

// Codes are assigned from the longest, highest symbol upwards (the Shannon-Fano order) and are
// stored first bit first, so the table is indexed by the bit-reversed code.
bool TExplode::TTree::Build(const std::vector<std::uint8_t>& lengths, int lookupBits)
{
    std::vector<int> order(lengths.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lengths[a] < lengths[b]; });
    const int maxLength = lengths.empty() ? 0 : *std::max_element(lengths.begin(), lengths.end());
    FLookupBits = lookupBits;
    FSubBits = std::max(0, maxLength - lookupBits);
    FTable.assign(std::size_t(1) << lookupBits, TEntry{});

    std::uint32_t code = 0;
    std::uint32_t increment = 0;
    int lastLength = 0;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const int length = lengths[*it];
        code += increment;
        if (code > 0xFFFF)
            return false;  // more codes than the lengths allow
        if (length != lastLength) {
            lastLength = length;
            increment = 1u << (MaxCodeLength - length);
        }
        if (!Place(ReverseBits(code >> (MaxCodeLength - length), length), length, *it))
            return false;
    }
    return true;
}

bool TExplode::TTree::Place(std::uint32_t reversed, int length, int symbol)
{
    const std::uint32_t lookupMask = (1u << FLookupBits) - 1;
    std::uint32_t first = 0;
    int width = FLookupBits;
    int indexBits = length;
    if (length > FLookupBits) {
        TEntry& link = FTable[reversed & lookupMask];
        if (link.Kind == 1)
            return false;
        if (link.Kind == 0) {
            link = TEntry{std::uint32_t(FTable.size()), std::uint8_t(FSubBits), 2};
            FTable.resize(FTable.size() + (std::size_t(1) << FSubBits));
        }
        first = FTable[reversed & lookupMask].Value;
        width = FSubBits;
        reversed >>= FLookupBits;
        indexBits = length - FLookupBits;
    }
    for (std::uint32_t k = 0; k < (1u << (width - indexBits)); ++k) {
        TEntry& e = FTable[first + (reversed | (k << indexBits))];
        if (e.Kind != 0)
            return false;  // two codes share a prefix
        e = TEntry{std::uint32_t(symbol), std::uint8_t(length), 1};
    }
    return true;
}

int TExplode::TTree::Decode(TExplode& d) const
{
    const TEntry* e = &FTable[d.PeekBits(FLookupBits)];
    if (e->Kind == 2)
        e = &FTable[e->Value + (d.PeekBits(FLookupBits + e->Bits) >> FLookupBits)];
    if (e->Kind != 1 || d.BitsAvailable(e->Bits) < e->Bits)
        return -1;
    d.DropBits(e->Bits);
    return int(e->Value);
}

bool TExplode::ReadTree(TTree& tree, int size, int lookupBits)
{
    const std::int64_t count = ReadBits(8);
    if (count < 0)
        return false;
    std::vector<std::uint8_t> lengths;
    for (int i = 0; i <= count; ++i) {
        const std::int64_t b = ReadBits(8);
        if (b < 0)
            return false;
        const int codes = int(b >> 4) + 1;
        if (int(lengths.size()) + codes > size)
            return false;
        lengths.insert(lengths.end(), std::size_t(codes), std::uint8_t((b & 0x0F) + 1));
    }
    return int(lengths.size()) == size && tree.Build(lengths, lookupBits);
}

TCodecStatus TExplode::Run()
{
    FWindow.assign(WindowSize, 0);  // matches reaching before the member's start read zeros
    FWindowPos = 0;
    if ((FLiteralTree && !ReadTree(FLiterals, 256, LiteralLookupBits)) || !ReadTree(FLengths, 64, LengthLookupBits) ||
        !ReadTree(FDistances, 64, FDistanceLookupBits))
        return InputShort() ? TCodecStatus::Truncated : TCodecStatus::DataError;
    const int lowBits = FEightKDictionary ? 7 : 6;
    const std::uint32_t minLength = FLiteralTree ? 3 : 2;
    while (!Done()) {
        const std::int64_t isLiteral = ReadBits(1);
        if (isLiteral < 0)
            break;
        if (isLiteral == 1) {
            const std::int64_t literal = FLiteralTree ? FLiterals.Decode(*this) : ReadBits(8);
            if (literal < 0)
                break;
            Emit(std::uint8_t(literal));
            continue;
        }
        const std::int64_t low = ReadBits(lowBits);
        const int high = FDistances.Decode(*this);
        const int lengthCode = high < 0 ? -1 : FLengths.Decode(*this);
        if (low < 0 || lengthCode < 0)
            break;
        std::int64_t length = lengthCode;
        if (lengthCode == LongLengthCode) {
            const std::int64_t extra = ReadBits(8);
            if (extra < 0)
                break;
            length += extra;
        }
        CopyMatch((std::uint32_t(high) << lowBits | std::uint32_t(low)) + 1, std::uint32_t(length) + minLength);
    }
    if (Done())
        return TCodecStatus::Ok;
    if (InputShort())
        return TCodecStatus::Truncated;
    // What was decoded is written: the CRC check, not a message, reports a damaged implode stream.
    Flush();
    return TCodecStatus::DataError;
}

void TExplode::CopyMatch(std::uint32_t distance, std::uint32_t length)
{
    for (std::uint32_t i = 0; i < length && !Done(); ++i)
        Emit(FWindow[(FWindowPos + WindowSize - distance) % WindowSize]);
}

void TExplode::Emit(std::uint8_t b)
{
    if (Done())
        return;
    FWindow[FWindowPos] = b;
    FWindowPos = (FWindowPos + 1) % WindowSize;
    PutByte(b);
}
