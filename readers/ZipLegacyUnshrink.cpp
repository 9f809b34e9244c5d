#include "readers/ZipLegacy.h"

namespace {
constexpr int MinWidth = 9;
constexpr int MaxWidth = 13;  // 8192 codes; a wider code could only name entries that do not exist
}  // namespace

void TUnshrink::ResetTables() {
    codes_.assign(MaxCode + 1, TCode{});
    freeList_.assign(MaxCode + 1, 0);
    for (int c = FirstFree; c <= MaxCode; ++c) freeList_[c] = std::uint16_t(c);
    nextFree_ = FirstFree;
    stack_.clear();
    stack_.reserve(MaxCode + 1);
}

TCodecStatus TUnshrink::Run() {
    ResetTables();
    int width = MinWidth;
    const std::int64_t first = ReadBits(width);
    if (first < 0 || first > 255) return TCodecStatus::DataError;
    firstChar_ = std::uint8_t(first);
    PutByte(firstChar_);
    int previous = int(first);

    while (!Done()) {
        const std::int64_t code = ReadBits(width);
        if (code < 0) break;
        if (code == ControlCode) {
            const std::int64_t control = ReadBits(width);
            if (control < 0) break;
            if (control == 1 && width < MaxWidth) {
                ++width;
            } else if (control == 2) {
                PartialClear();
            } else {
                return TCodecStatus::DataError;
            }
            continue;
        }
        if (code > MaxCode) return TCodecStatus::DataError;
        if (const TCodecStatus status = OutputString(int(code), previous); status != TCodecStatus::Ok)
            return status;
        AddEntry(previous, firstChar_);
        previous = int(code);
    }
    return TCodecStatus::Ok;
}

// Pushes the string of code (back to front), then writes it; firstChar_ becomes its first byte.
TCodecStatus TUnshrink::OutputString(int code, int previous) {
    stack_.clear();
    auto push = [this](std::uint8_t ch) {
        if (stack_.size() >= std::size_t(MaxCode + 1)) return false;
        stack_.push_back(ch);
        return true;
    };
    // The output so far is written before the overflow is reported.
    const auto overflow = [this] {
        Flush();
        return TCodecStatus::StackOverflow;
    };
    if (code > ControlCode && codes_[code].Free) {
        // Not yet defined: the previous string plus its own first byte.
        push(firstChar_);
        code = previous;
    }
    while (code > ControlCode) {
        // A freed entry keeps its string until it is handed out again; one never assigned has none.
        if (codes_[code].Parent < 0) return TCodecStatus::DataError;
        if (!push(codes_[code].Char)) return overflow();
        code = codes_[code].Parent;
    }
    if (code == ControlCode) return TCodecStatus::DataError;
    firstChar_ = std::uint8_t(code);
    if (!push(firstChar_)) return overflow();
    while (!stack_.empty() && !Done()) {
        PutByte(stack_.back());
        stack_.pop_back();
    }
    return TCodecStatus::Ok;
}

void TUnshrink::AddEntry(int parent, std::uint8_t ch) {
    if (nextFree_ > MaxCode) return;
    const int code = freeList_[nextFree_++];
    codes_[code] = TCode{parent, ch, false};
}

// Frees every assignable code that no code in use names as its parent; freed codes are handed out
// again lowest first.
void TUnshrink::PartialClear() {
    std::vector<bool> hasChild(MaxCode + 1, false);
    for (int c = FirstFree; c <= MaxCode; ++c)
        if (!codes_[c].Free) hasChild[codes_[c].Parent] = true;
    nextFree_ = MaxCode + 1;
    for (int c = MaxCode; c >= FirstFree; --c) {
        if (hasChild[c]) continue;
        codes_[c].Free = true;
        freeList_[--nextFree_] = std::uint16_t(c);
    }
}
