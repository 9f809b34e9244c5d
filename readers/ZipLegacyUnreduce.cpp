#include "readers/ZipLegacy.h"

#include <utility>

namespace {
constexpr std::uint8_t Escape = 0x90;
constexpr int MaxFollowers = 32;

// Bits of an index into a follower set of n bytes (1 <= n <= 32).
int IndexBits(int n) {
    int bits = 1;
    while ((1 << bits) < n) ++bits;
    return bits;
}
}  // namespace

TUnreduce::TUnreduce(TByteSource source, TByteSink sink, const TZipLegacyMember& member, int factor)
    : TZipLegacyDecoder(std::move(source), std::move(sink), member), factor_(factor < 1 ? 1 : factor > 4 ? 4 : factor) {}

TCodecStatus TUnreduce::Run() {
    sets_.assign(256, TFollowerSet{});
    window_.assign(WindowSize, 0);  // matches reaching before the member's start read zeros
    windowPos_ = 0;
    state_ = 0;
    length_ = 0;
    v_ = 0;
    lastByte_ = 0;
    if (const TCodecStatus status = ReadFollowerSets(); status != TCodecStatus::Ok) return status;
    while (!Done()) {
        const int b = ReadNextByte();
        if (b == DamagedInput) return TCodecStatus::DataError;
        if (b < 0) break;
        Expand(std::uint8_t(b));
    }
    return TCodecStatus::Ok;
}

TCodecStatus TUnreduce::ReadFollowerSets() {
    for (int value = 255; value >= 0; --value) {
        TFollowerSet& set = sets_[value];
        const std::int64_t count = ReadBits(6);
        if (count < 0) return TCodecStatus::Truncated;
        if (count > MaxFollowers) return TCodecStatus::DataError;
        set.Count = int(count);
        for (int i = 0; i < set.Count; ++i) {
            const std::int64_t b = ReadBits(8);
            if (b < 0) return TCodecStatus::Truncated;
            set.Bytes[i] = std::uint8_t(b);
        }
    }
    return TCodecStatus::Ok;
}

int TUnreduce::ReadNextByte() {
    // The last byte read (before expansion) selects the follower set; it starts at 0.
    const TFollowerSet& set = sets_[lastByte_];
    std::int64_t b;
    if (set.Count == 0) {
        b = ReadBits(8);
    } else {
        const std::int64_t literal = ReadBits(1);
        if (literal < 0) return -1;
        if (literal == 1) {
            b = ReadBits(8);
        } else {
            const std::int64_t index = ReadBits(IndexBits(set.Count));
            if (index < 0) return -1;
            if (index >= set.Count) return DamagedInput;
            b = set.Bytes[index];
        }
    }
    if (b < 0) return -1;
    lastByte_ = std::uint8_t(b);
    return int(b);
}

void TUnreduce::Expand(std::uint8_t b) {
    const int mask = 0xFF >> factor_;  // 0x7F, 0x3F, 0x1F, 0x0F
    switch (state_) {
    case 0:
        if (b == Escape) state_ = 1;
        else Emit(b);
        break;
    case 1:
        if (b == 0) {
            Emit(Escape);
            state_ = 0;
        } else {
            v_ = b;
            length_ = b & mask;
            state_ = length_ == mask ? 2 : 3;
        }
        break;
    case 2:
        length_ += b;
        state_ = 3;
        break;
    default: {
        const std::size_t distance = std::size_t((v_ >> (8 - factor_)) * 256 + b + 1);
        for (int i = 0; i < length_ + 3 && !Done(); ++i)
            Emit(window_[(windowPos_ + WindowSize - distance) % WindowSize]);
        state_ = 0;
        break;
    }
    }
}

void TUnreduce::Emit(std::uint8_t b) {
    if (Done()) return;
    window_[windowPos_] = b;
    windowPos_ = (windowPos_ + 1) % WindowSize;
    PutByte(b);
}
