#include "readers/ZipLegacy.h"

namespace {
constexpr int MinWidth = 9;
constexpr int MaxWidth = 13;  // 8192 codes; a wider code could only name entries that do not exist
}  // namespace

void TUnshrink::ResetTables()
{
    FCodes.assign(MaxCode + 1, TCode{});
    FFreeList.assign(MaxCode + 1, 0);
    for (int c = FirstFree; c <= MaxCode; ++c)
        FFreeList[c] = std::uint16_t(c);
    FNextFree = FirstFree;
    FStack.clear();
    FStack.reserve(MaxCode + 1);
}

TCodecStatus TUnshrink::Run()
{
    ResetTables();
    int width = MinWidth;
    const std::int64_t first = ReadBits(width);
    if (first < 0 || first > 255)
        return TCodecStatus::DataError;
    FFirstChar = std::uint8_t(first);
    PutByte(FFirstChar);
    int previous = int(first);

    while (!Done()) {
        const std::int64_t code = ReadBits(width);
        if (code < 0)
            break;
        if (code == ControlCode) {
            const std::int64_t control = ReadBits(width);
            if (control < 0)
                break;
            if (control == 1 && width < MaxWidth) {
                ++width;
            } else if (control == 2) {
                PartialClear();
            } else {
                return TCodecStatus::DataError;
            }
            continue;
        }
        if (code > MaxCode)
            return TCodecStatus::DataError;
        if (const TCodecStatus status = OutputString(int(code), previous); status != TCodecStatus::Ok)
            return status;
        AddEntry(previous, FFirstChar);
        previous = int(code);
    }
    return TCodecStatus::Ok;
}

// Pushes the string of code (back to front), then writes it; FFirstChar becomes its first byte.
TCodecStatus TUnshrink::OutputString(int code, int previous)
{
    FStack.clear();
    auto push = [this](std::uint8_t ch) {
        if (FStack.size() >= std::size_t(MaxCode + 1))
            return false;
        FStack.push_back(ch);
        return true;
    };
    // The output so far is written before the overflow is reported.
    const auto overflow = [this] {
        Flush();
        return TCodecStatus::StackOverflow;
    };
    if (code > ControlCode && FCodes[code].Free) {
        // Not yet defined: the previous string plus its own first byte.
        push(FFirstChar);
        code = previous;
    }
    while (code > ControlCode) {
        // A freed entry keeps its string until it is handed out again; one never assigned has none.
        if (FCodes[code].Parent < 0)
            return TCodecStatus::DataError;
        if (!push(FCodes[code].Char))
            return overflow();
        code = FCodes[code].Parent;
    }
    if (code == ControlCode)
        return TCodecStatus::DataError;
    FFirstChar = std::uint8_t(code);
    if (!push(FFirstChar))
        return overflow();
    while (!FStack.empty() && !Done()) {
        PutByte(FStack.back());
        FStack.pop_back();
    }
    return TCodecStatus::Ok;
}

void TUnshrink::AddEntry(int parent, std::uint8_t ch)
{
    if (FNextFree > MaxCode)
        return;
    const int code = FFreeList[FNextFree++];
    FCodes[code] = TCode{parent, ch, false};
}

// Frees every assignable code that no code in use names as its parent; freed codes are handed out
// again lowest first.
void TUnshrink::PartialClear()
{
    std::vector<bool> hasChild(MaxCode + 1, false);
    for (int c = FirstFree; c <= MaxCode; ++c)
        if (!FCodes[c].Free)
            hasChild[FCodes[c].Parent] = true;
    FNextFree = MaxCode + 1;
    for (int c = MaxCode; c >= FirstFree; --c) {
        if (hasChild[c])
            continue;
        FCodes[c].Free = true;
        FFreeList[--FNextFree] = std::uint16_t(c);
    }
}
