#include "readers/ArcDecoders.h"

#include <cstdint>

#include "core/Endian.h"

namespace {

constexpr std::uint8_t kRunMarker = 0x90;
constexpr int kSqueezeEnd = 256;
constexpr int kMaxSqueezeNodes = 256;

}  // namespace

bool TArcByteReader::Refill()
{
    if (FEof)
        return false;
    FPos = 0;
    FEnd = FSource ? FSource(FBuffer.data(), FBuffer.size()) : 0;
    FEof = FEnd == 0;
    return !FEof;
}

TArcWriter::TArcWriter(TByteSink Sink, std::uint64_t Limit, bool RunLength)
    : FSink(std::move(Sink)), FBlock(32768), FLimit(Limit), FRunLength(RunLength)
{}

void TArcWriter::Flush()
{
    if (FFill == 0)
        return;
    FSink(FBlock.data(), FFill);
    FWritten += FFill;
    FFill = 0;
}

bool TArcWriter::Expand(std::uint8_t c)
{
    if (!FRepeat) {
        if (c == kRunMarker) {
            FRepeat = true;
            return true;
        }
        FLast = c;
        return Emit(c);
    }
    FRepeat = false;
    if (c == 0)
        return Emit(kRunMarker);
    // The first copy is already out.
    for (int n = c; n > 1; --n)
        if (!Emit(FLast))
            return false;
    return true;
}

TCodecStatus ArcCopy(TArcByteReader& In, TArcWriter& Out)
{
    for (int c; (c = In.Next()) >= 0;)
        if (!Out.Put(std::uint8_t(c)))
            return TCodecStatus::OutputLimit;
    return TCodecStatus::Ok;
}

TCodecStatus ArcUnsqueeze(TArcByteReader& In, TArcWriter& Out)
{
    const auto word = [&In]() -> int {
        const int lo = In.Next(), hi = In.Next();
        if (lo < 0 || hi < 0)
            return INT32_MIN;
        const std::uint8_t bytes[2] = {std::uint8_t(lo), std::uint8_t(hi)};
        return std::int16_t(GetLE16(bytes));
    };
    const int count = word();
    if (count == INT32_MIN)
        return TCodecStatus::Ok;  // nothing at all: the CRC check tells
    if (count < 0 || count > kMaxSqueezeNodes)
        return TCodecStatus::DataError;
    // Node 0 stands for the end when the tree is empty.
    std::int16_t nodes[kMaxSqueezeNodes][2] = {{-(kSqueezeEnd + 1), -(kSqueezeEnd + 1)}};
    for (int i = 0; i < count; ++i) {
        for (int side = 0; side < 2; ++side) {
            const int child = word();
            // A node names a later node or a value 0 to 256.
            if (child == INT32_MIN || child >= count || child < -(kSqueezeEnd + 1))
                return TCodecStatus::DataError;
            nodes[i][side] = std::int16_t(child);
        }
    }
    int byte = 0, bitsLeft = 0;
    for (;;) {
        // Squeezed data may lack its end code; the bits padding its last bytes then decode to
        // junk past the declared size.
        if (Out.Full())
            return TCodecStatus::Ok;
        int node = 0;
        while (node >= 0) {
            if (bitsLeft == 0) {
                if ((byte = In.Next()) < 0)
                    return TCodecStatus::Ok;
                bitsLeft = 8;
            }
            node = nodes[node][byte & 1];
            byte >>= 1;
            --bitsLeft;
        }
        const int value = -(node + 1);
        if (value == kSqueezeEnd)
            return TCodecStatus::Ok;
        if (!Out.Put(std::uint8_t(value)))
            return TCodecStatus::OutputLimit;
    }
}

// --- crunch ---

namespace {

std::uint16_t OldHash(std::uint16_t Predecessor, std::uint8_t Follower)
{
    // The middle bits of the square.
    std::uint32_t v = ((std::uint32_t(Predecessor) + Follower) | 0x0800) & 0xFFFF;
    v *= v;
    return std::uint16_t((v >> 6) & 0x0FFF);
}

std::uint16_t NewHash(std::uint16_t Predecessor, std::uint8_t Follower)
{
    return std::uint16_t((((std::uint32_t(Predecessor) + Follower) & 0xFFFF) * 15073) & 0x0FFF);
}

}  // namespace

void TArcCrunchDecoder::Insert(std::uint16_t Predecessor, std::uint8_t Follower, bool Old)
{
    std::uint16_t at = Old ? OldHash(Predecessor, Follower) : NewHash(Predecessor, Follower);
    if (FTable[at].Used) {
        // The end of the chain of duplicates, then the next free entry 101 on.
        int links = 0;
        while (FTable[at].Next != 0 && links++ < kTableSize)
            at = FTable[at].Next;
        std::uint16_t free = (at + 101) & 0x0FFF;
        for (int probes = 0; FTable[free].Used && probes < kTableSize; ++probes)
            free = (free + 1) & 0x0FFF;
        FTable[at].Next = free;
        at = free;
    }
    FTable[at] = {true, 0, Predecessor, Follower};
}

int TArcCrunchDecoder::ReadCode(TArcByteReader& In)
{
    if (FHeldNibble < 0) {
        const int a = In.Next(), b = a < 0 ? -1 : In.Next();
        if (b < 0)
            return -1;
        FHeldNibble = b & 0x0F;
        return a << 4 | b >> 4;
    }
    const int b = In.Next();
    const int code = FHeldNibble << 8 | b;
    FHeldNibble = -1;
    return b < 0 ? -1 : code;
}

TCodecStatus TArcCrunchDecoder::Decode(TArcByteReader& In, TArcWriter& Out, bool Old)
{
    FTable.assign(kTableSize, TEntry{});
    FStack.clear();
    FHeldNibble = -1;
    for (int c = 0; c < 256; ++c)
        Insert(kNoPredecessor, std::uint8_t(c), Old);
    int freeEntries = kTableSize - 256;
    int previous = ReadCode(In);
    if (previous < 0)
        return TCodecStatus::Ok;
    std::uint8_t first = FTable[std::size_t(previous)].Follower;
    if (!Out.Put(first))
        return TCodecStatus::OutputLimit;
    for (int code; (code = ReadCode(In)) >= 0;) {
        const int read = code;
        FStack.clear();
        if (!FTable[std::size_t(code)].Used) {
            FStack.push_back(first);
            code = previous;
        }
        while (FTable[std::size_t(code)].Predecessor != kNoPredecessor) {
            if (FStack.size() >= kTableSize)
                return TCodecStatus::StackOverflow;
            FStack.push_back(FTable[std::size_t(code)].Follower);
            code = FTable[std::size_t(code)].Predecessor;
        }
        first = FTable[std::size_t(code)].Follower;
        FStack.push_back(first);
        for (auto it = FStack.rbegin(); it != FStack.rend(); ++it)
            if (!Out.Put(*it))
                return TCodecStatus::OutputLimit;
        if (freeEntries > 0) {
            Insert(std::uint16_t(previous), first, Old);
            --freeEntries;
        }
        previous = read;
    }
    return TCodecStatus::Ok;
}
