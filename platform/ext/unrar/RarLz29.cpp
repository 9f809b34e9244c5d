#include "platform/ext/unrar/RarLz29.h"

#include "platform/ext/unrar/unrar.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr int kNC = 299, kDC = 60, kLDC = 17, kRC = 28, kBC = 20;
constexpr int kTableSize = kNC + kDC + kLDC + kRC;
constexpr std::size_t kWindow = std::size_t(1) << 22;  // the largest dictionary of the format
constexpr std::size_t kMask = kWindow - 1;
constexpr unsigned kLowDistRepeats = 16;

constexpr std::uint8_t kLengthBits[kRC] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                           2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr std::uint8_t kLengthBase[kRC] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                           24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr std::uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};
constexpr std::uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};

struct TDistanceSlots {
    std::array<std::uint32_t, kDC> Base{};
    std::array<std::uint8_t, kDC> Bits{};
};

// Slots per bit count: 4 of none, 2 each of 1 to 15, 14 of 16, 12 of 18 (up to 4 MiB).
constexpr TDistanceSlots MakeDistanceSlots()
{
    constexpr std::uint8_t counts[] = {4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 14, 0, 12};
    TDistanceSlots s;
    std::uint32_t distance = 0;
    int slot = 0;
    for (int bits = 0; bits < int(sizeof counts); ++bits)
        for (int k = 0; k < counts[bits]; ++k, ++slot, distance += std::uint32_t(1) << bits) {
            s.Base[std::size_t(slot)] = distance;
            s.Bits[std::size_t(slot)] = std::uint8_t(bits);
        }
    return s;
}
constexpr TDistanceSlots kDistance = MakeDistanceSlots();

// MSB-first bits over the packed stream; zeros past its end, which Overrun then tells.
class TBitReader {
public:
    explicit TBitReader(const TRarPackedRead& Read) : FRead(Read) {}

    unsigned Peek16()
    {
        while (FCount <= 56) {
            if (FAt == FHave) {
                FAt = 0;
                FHave = FRead(FBuffer.data(), FBuffer.size());
            }
            std::uint8_t b = 0;
            if (FAt < FHave)
                b = FBuffer[FAt++];
            else
                ++FPadding;
            FBits = FBits << 8 | b;
            FCount += 8;
        }
        return unsigned(FBits >> (FCount - 16)) & 0xFFFF;
    }
    void Skip(unsigned Count) { FCount -= Count; }
    // The bits fed are whole bytes, so the bits still held beyond a whole byte are the current one's rest.
    void AlignToByte() { FCount -= FCount % 8; }
    bool Overrun() const { return FPadding * 8 > FCount; }

private:
    const TRarPackedRead& FRead;
    std::array<std::uint8_t, 65536> FBuffer{};
    std::size_t FAt = 0, FHave = 0;
    std::uint64_t FBits = 0;
    unsigned FCount = 0;
    unsigned FPadding = 0;
};

// A canonical Huffman code of lengths up to 15, decoded from 16 left-aligned bits.
class THuffman {
public:
    void Build(const std::uint8_t* Lengths, int Size)
    {
        std::array<unsigned, 16> count{};
        for (int i = 0; i < Size; ++i)
            ++count[Lengths[i] & 15];
        count[0] = 0;
        FLimit.fill(0);
        FFirst.fill(0);
        unsigned upper = 0;
        for (int bits = 1; bits < 16; ++bits) {
            upper += count[std::size_t(bits)];
            FLimit[std::size_t(bits)] = std::min<unsigned>(upper << (16 - bits), 0x10000);
            upper *= 2;
            FFirst[std::size_t(bits)] = FFirst[std::size_t(bits) - 1] + count[std::size_t(bits) - 1];
        }
        FSymbols.assign(std::size_t(Size), 0);
        std::array<unsigned, 16> next = FFirst;
        for (int i = 0; i < Size; ++i)
            if (const unsigned bits = Lengths[i] & 15)
                FSymbols[next[bits]++] = std::uint16_t(i);
        FUsed = next[15];
    }

    unsigned Decode(TBitReader& In) const
    {
        const unsigned field = In.Peek16() & 0xFFFE;
        unsigned bits = 15;
        for (unsigned i = 1; i < 15; ++i)
            if (field < FLimit[i]) {
                bits = i;
                break;
            }
        In.Skip(bits);
        const unsigned at = FFirst[bits] + ((field - FLimit[bits - 1]) >> (16 - bits));
        // An incomplete code's unused values decode as the first symbol, as the format's own reader does.
        return at < FUsed && at < FSymbols.size() ? FSymbols[at] : FSymbols.empty() ? 0 : FSymbols[0];
    }

private:
    std::array<unsigned, 16> FLimit{};
    std::array<unsigned, 16> FFirst{};
    std::vector<std::uint16_t> FSymbols;
    unsigned FUsed = 0;
};

class TLz29 {
public:
    TLz29(const TRarPackedRead& Read, std::uint64_t Unpacked, std::uint64_t Skip, const TRarSink& Sink)
        : FIn(Read), FUnpacked(Unpacked), FSkip(Skip), FSink(Sink), FWindow(kWindow)
    {}

    int Run()
    {
        if (!ReadTables())
            return ERAR_BAD_DATA;
        while (FPos < FUnpacked) {
            if (FIn.Overrun())
                return ERAR_BAD_DATA;
            if (FPos - FFlushed >= kWindow / 2 && !Flush())
                return ERAR_UNKNOWN;
            const unsigned number = FLiterals.Decode(FIn);
            if (number < 256) {
                FWindow[FPos++ & kMask] = std::uint8_t(number);
            } else if (number >= 271) {
                Match(number - 271);
            } else if (number == 256) {
                if (!EndOfBlock())
                    break;
            } else if (number == 257) {
                return ERAR_BAD_DATA;  // a VM filter: not read here
            } else if (number == 258) {
                if (FLastLength != 0)
                    Copy(FLastLength, FOld[0]);
            } else if (number < 263) {
                RepeatOld(number - 259);
            } else {
                const unsigned slot = number - 263;
                std::uint32_t distance = kShortBase[slot] + 1u + Bits(kShortBits[slot]);
                Remember(distance, 2);
                Copy(2, distance);
            }
        }
        if (FPos < FUnpacked)
            return ERAR_BAD_DATA;
        return Flush() ? ERAR_SUCCESS : ERAR_UNKNOWN;
    }

private:
    unsigned Bits(unsigned Count)
    {
        if (Count == 0)
            return 0;
        const unsigned v = FIn.Peek16() >> (16 - Count);
        FIn.Skip(Count);
        return v;
    }

    bool ReadTables()
    {
        FIn.AlignToByte();
        const unsigned head = FIn.Peek16();
        if (head & 0x8000)
            return false;  // a PPMd block
        // A new table starts the low-distance repeats afresh.
        FPrevLowDistance = 0;
        FLowDistanceRepeats = 0;
        if (!(head & 0x4000))
            FOldTable.fill(0);
        FIn.Skip(2);
        std::uint8_t lengths[kBC] = {};
        for (int i = 0; i < kBC; ++i) {
            const unsigned length = Bits(4);
            if (length != 15) {
                lengths[i] = std::uint8_t(length);
                continue;
            }
            unsigned zeros = Bits(4);
            if (zeros == 0) {
                lengths[i] = 15;
                continue;
            }
            for (zeros += 2; zeros > 0 && i < kBC; --zeros)
                lengths[i++] = 0;
            --i;
        }
        THuffman lengthCode;
        lengthCode.Build(lengths, kBC);
        std::array<std::uint8_t, kTableSize> table{};
        for (int i = 0; i < kTableSize;) {
            if (FIn.Overrun())
                return false;
            const unsigned n = lengthCode.Decode(FIn);
            if (n < 16) {
                table[std::size_t(i)] = std::uint8_t((n + FOldTable[std::size_t(i)]) & 0xF);
                ++i;
                continue;
            }
            unsigned count = (n & 1) == 0 ? Bits(3) + 3 : Bits(7) + 11;
            if (n < 18) {
                if (i == 0)
                    return false;
                for (; count > 0 && i < kTableSize; --count, ++i)
                    table[std::size_t(i)] = table[std::size_t(i) - 1];
            } else {
                for (; count > 0 && i < kTableSize; --count)
                    table[std::size_t(i++)] = 0;
            }
        }
        if (FIn.Overrun())
            return false;
        FLiterals.Build(table.data(), kNC);
        FDistances.Build(table.data() + kNC, kDC);
        FLowDistances.Build(table.data() + kNC + kDC, kLDC);
        FRepeatLengths.Build(table.data() + kNC + kDC + kLDC, kRC);
        FOldTable = table;
        return true;
    }

    // After a block: a new table, or the end of this file's data (false).
    bool EndOfBlock()
    {
        const unsigned head = FIn.Peek16();
        if (head & 0x8000) {
            FIn.Skip(1);
            return ReadTables();
        }
        FIn.Skip(2);
        return false;
    }

    void Match(unsigned Slot)
    {
        unsigned length = kLengthBase[Slot] + 3u + Bits(kLengthBits[Slot]);
        const unsigned slot = FDistances.Decode(FIn);
        std::uint32_t distance = kDistance.Base[slot] + 1;
        const unsigned bits = kDistance.Bits[slot];
        if (slot > 9) {
            if (bits > 4)
                distance += Bits(bits - 4) << 4;
            if (FLowDistanceRepeats > 0) {
                --FLowDistanceRepeats;
                distance += FPrevLowDistance;
            } else {
                const unsigned low = FLowDistances.Decode(FIn);
                if (low == 16) {
                    FLowDistanceRepeats = kLowDistRepeats - 1;
                    distance += FPrevLowDistance;
                } else {
                    distance += low;
                    FPrevLowDistance = low;
                }
            }
        } else {
            distance += Bits(bits);
        }
        if (distance >= 0x2000) {
            ++length;
            if (distance >= 0x40000)
                ++length;
        }
        Remember(distance, length);
        Copy(length, distance);
    }

    void RepeatOld(unsigned Index)
    {
        const std::uint32_t distance = FOld[Index];
        for (unsigned i = Index; i > 0; --i)
            FOld[i] = FOld[i - 1];
        FOld[0] = distance;
        const unsigned slot = FRepeatLengths.Decode(FIn);
        const unsigned length = kLengthBase[slot] + 2u + Bits(kLengthBits[slot]);
        FLastLength = length;
        Copy(length, distance);
    }

    void Remember(std::uint32_t Distance, unsigned Length)
    {
        FOld[3] = FOld[2];
        FOld[2] = FOld[1];
        FOld[1] = FOld[0];
        FOld[0] = Distance;
        FLastLength = Length;
    }

    void Copy(unsigned Length, std::uint32_t Distance)
    {
        for (; Length > 0; --Length, ++FPos)
            FWindow[FPos & kMask] = FWindow[(FPos - Distance) & kMask];
    }

    bool Flush()
    {
        const std::uint64_t end = std::min(FPos, FUnpacked);
        while (FFlushed < end) {
            const std::uint64_t from = std::max(FFlushed, FSkip);
            if (from >= end) {
                FFlushed = end;
                break;
            }
            const std::size_t at = std::size_t(from & kMask);
            const std::size_t n = std::size_t(std::min<std::uint64_t>(end - from, kWindow - at));
            if (!FSink(FWindow.data() + at, n))
                return false;
            FFlushed = from + n;
        }
        return true;
    }

    TBitReader FIn;
    std::uint64_t FUnpacked, FSkip;
    const TRarSink& FSink;
    std::vector<std::uint8_t> FWindow;
    std::uint64_t FPos = 0, FFlushed = 0;
    THuffman FLiterals, FDistances, FLowDistances, FRepeatLengths;
    std::array<std::uint8_t, kTableSize> FOldTable{};
    std::array<std::uint32_t, 4> FOld{};
    unsigned FLastLength = 0;
    unsigned FPrevLowDistance = 0;
    unsigned FLowDistanceRepeats = 0;
};

}  // namespace

int DecodeRar29Lz(const TRarPackedRead& Read, std::uint64_t Unpacked, std::uint64_t Skip, const TRarSink& Sink)
{
    TLz29 decoder(Read, Unpacked, Skip, Sink);
    return decoder.Run();
}
