#include "core/plxConsts.h"

#include "core/Err_Msgs.h"
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

void TUnshrink::Run() {
    ResetTables();
    int width = MinWidth;
    const std::int64_t first = ReadBits(width);
    if (first < 0 || first > 255) throw E_RAISE(E_BADBLOCK);
    firstChar_ = std::uint8_t(first);
    PutByte(firstChar_);
    int previous = int(first);

    while (!Done()) {
        const std::int64_t code = ReadBits(width);
        if (code < 0) return;
        if (code == ControlCode) {
            const std::int64_t control = ReadBits(width);
            if (control < 0) return;
            if (control == 1 && width < MaxWidth) {
                ++width;
            } else if (control == 2) {
                PartialClear();
            } else {
                throw E_RAISE(E_BADBLOCK);
            }
            continue;
        }
        if (code > MaxCode) throw E_RAISE(E_BADBLOCK);
        OutputString(int(code), previous);
        AddEntry(previous, firstChar_);
        previous = int(code);
    }
}

// Pushes the string of code (back to front), then writes it; firstChar_ becomes its first byte.
void TUnshrink::OutputString(int code, int previous) {
    stack_.clear();
    auto push = [this](std::uint8_t ch) {
        if (stack_.size() >= std::size_t(MaxCode + 1)) {
            Flush();
            throw E_RAISE(E_STACKOVERFLOW);
        }
        stack_.push_back(ch);
    };
    if (code > ControlCode && codes_[code].Free) {
        // Not yet defined: the previous string plus its own first byte.
        push(firstChar_);
        code = previous;
    }
    while (code > ControlCode) {
        // A freed entry keeps its string until it is handed out again; one never assigned has none.
        if (codes_[code].Parent < 0) throw E_RAISE(E_BADBLOCK);
        push(codes_[code].Char);
        code = codes_[code].Parent;
    }
    if (code == ControlCode) throw E_RAISE(E_BADBLOCK);
    firstChar_ = std::uint8_t(code);
    push(firstChar_);
    while (!stack_.empty() && !Done()) {
        PutByte(stack_.back());
        stack_.pop_back();
    }
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
