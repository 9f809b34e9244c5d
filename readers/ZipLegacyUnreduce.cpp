#include "readers/ZipLegacy.h"

#include <utility>

namespace {
constexpr std::uint8_t Escape = 0x90;
constexpr int MaxFollowers = 32;

// Bits of an index into a follower set of n bytes (1 <= n <= 32).
int IndexBits(int n)
{
    int bits = 1;
    while ((1 << bits) < n)
        ++bits;
    return bits;
}
}  // namespace

TUnreduce::TUnreduce(TByteSource source, TByteSink sink, const TZipLegacyMember& member, int factor)
    : TZipLegacyDecoder(std::move(source), std::move(sink), member),
      FFactor(factor < 1   ? 1
              : factor > 4 ? 4
                           : factor)
{}

TCodecStatus TUnreduce::Run()
{
    FSets.assign(256, TFollowerSet{});
    FWindow.assign(WindowSize, 0);  // matches reaching before the member's start read zeros
    FWindowPos = 0;
    FState = 0;
    FLength = 0;
    FV = 0;
    FLastByte = 0;
    if (const TCodecStatus status = ReadFollowerSets(); status != TCodecStatus::Ok)
        return status;
    while (!Done()) {
        const int b = ReadNextByte();
        if (b == DamagedInput)
            return TCodecStatus::DataError;
        if (b < 0)
            break;
        Expand(std::uint8_t(b));
    }
    return TCodecStatus::Ok;
}

TCodecStatus TUnreduce::ReadFollowerSets()
{
    for (int value = 255; value >= 0; --value) {
        TFollowerSet& set = FSets[value];
        const std::int64_t count = ReadBits(6);
        if (count < 0)
            return TCodecStatus::Truncated;
        if (count > MaxFollowers)
            return TCodecStatus::DataError;
        set.Count = int(count);
        for (int i = 0; i < set.Count; ++i) {
            const std::int64_t b = ReadBits(8);
            if (b < 0)
                return TCodecStatus::Truncated;
            set.Bytes[i] = std::uint8_t(b);
        }
    }
    return TCodecStatus::Ok;
}

int TUnreduce::ReadNextByte()
{
    // The last byte read (before expansion) selects the follower set; it starts at 0.
    const TFollowerSet& set = FSets[FLastByte];
    std::int64_t b;
    if (set.Count == 0) {
        b = ReadBits(8);
    } else {
        const std::int64_t literal = ReadBits(1);
        if (literal < 0)
            return -1;
        if (literal == 1) {
            b = ReadBits(8);
        } else {
            const std::int64_t index = ReadBits(IndexBits(set.Count));
            if (index < 0)
                return -1;
            if (index >= set.Count)
                return DamagedInput;
            b = set.Bytes[index];
        }
    }
    if (b < 0)
        return -1;
    FLastByte = std::uint8_t(b);
    return int(b);
}

void TUnreduce::Expand(std::uint8_t b)
{
    const int mask = 0xFF >> FFactor;  // 0x7F, 0x3F, 0x1F, 0x0F
    switch (FState) {
    case 0:
        if (b == Escape)
            FState = 1;
        else
            Emit(b);
        break;
    case 1:
        if (b == 0) {
            Emit(Escape);
            FState = 0;
        } else {
            FV = b;
            FLength = b & mask;
            FState = FLength == mask ? 2 : 3;
        }
        break;
    case 2:
        FLength += b;
        FState = 3;
        break;
    default: {
        const std::size_t distance = std::size_t((FV >> (8 - FFactor)) * 256 + b + 1);
        for (int i = 0; i < FLength + 3 && !Done(); ++i)
            Emit(FWindow[(FWindowPos + WindowSize - distance) % WindowSize]);
        FState = 0;
        break;
    }
    }
}

void TUnreduce::Emit(std::uint8_t b)
{
    if (Done())
        return;
    FWindow[FWindowPos] = b;
    FWindowPos = (FWindowPos + 1) % WindowSize;
    PutByte(b);
}
