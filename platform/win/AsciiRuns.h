// Word-at-a-time scans for runs of plain ASCII: archives of 100,000s of short names pass each one
// through several checks, and nearly every name is ASCII throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace win {

namespace ascii_detail {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

inline std::uint64_t Load8(const char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Turns every From byte of eight bytes at a time into To.
class TWordReplace {
public:
    TWordReplace(char From, char To)
        : from_(kOnes * static_cast<unsigned char>(From)), flip_(static_cast<unsigned char>(From ^ To))
    {}

    std::uint64_t operator()(std::uint64_t x) const
    {
        constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
        const std::uint64_t t = x ^ from_;
        // The high bit of each byte that equals From, exactly (no borrow between bytes).
        const std::uint64_t hits = ~(((t & kLow7) + kLow7) | t | kLow7);
        return x ^ (hits >> 7) * flip_;
    }

private:
    std::uint64_t from_;
    std::uint64_t flip_;
};

}  // namespace ascii_detail

// The length of the leading run of bytes below 0x80.
inline std::size_t AsciiPrefix(std::string_view Text)
{
    using namespace ascii_detail;
    const std::size_t n = Text.size();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        if (Load8(Text.data() + i) & kHighBits)
            break;
    // The last few bytes as the word that ends the text, which overlaps the ones checked.
    if (i + 8 > n && n >= 8 && !(Load8(Text.data() + n - 8) & kHighBits))
        return n;
    while (i < n && static_cast<unsigned char>(Text[i]) < 0x80)
        ++i;
    return i;
}

// The length of the leading run of printable ASCII bytes (0x20 to 0x7E).
inline std::size_t PrintableAsciiPrefix(std::string_view Text)
{
    using namespace ascii_detail;
    // Whether any byte is below 0x20, and whether any is above 0x7E: exact as a yes or no, though
    // not for the byte that answers.
    const auto printable = [](std::uint64_t x) {
        const std::uint64_t below = (x - kOnes * 0x20) & ~x & kHighBits;
        const std::uint64_t above = ((x + kOnes * (0x7F - 0x7E)) | x) & kHighBits;
        return (below | above) == 0;
    };
    const std::size_t n = Text.size();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        if (!printable(Load8(Text.data() + i)))
            break;
    if (i + 8 > n && n >= 8 && printable(Load8(Text.data() + n - 8)))
        return n;
    while (i < n && static_cast<unsigned char>(Text[i]) - 0x20u < 0x5Fu)
        ++i;
    return i;
}

// Replaces every From byte of Text with To.
inline void ReplaceByte(char* Text, std::size_t Count, char From, char To)
{
    const ascii_detail::TWordReplace replace(From, To);
    std::size_t i = 0;
    for (; i + 8 <= Count; i += 8) {
        const std::uint64_t x = ascii_detail::Load8(Text + i);
        const std::uint64_t y = replace(x);
        if (y != x)
            std::memcpy(Text + i, &y, sizeof y);
    }
    for (; i < Count; ++i)
        if (Text[i] == From)
            Text[i] = To;
}

// Copies the leading run of bytes below 0x80 of Text (Count bytes) to Out with every From byte
// turned into To, and answers its length; Out has room for Count bytes.
inline std::size_t CopyAsciiReplacing(const char* Text, std::size_t Count, char* Out, char From, char To)
{
    const ascii_detail::TWordReplace replace(From, To);
    std::size_t i = 0;
    for (; i + 8 <= Count; i += 8) {
        const std::uint64_t x = ascii_detail::Load8(Text + i);
        if (x & ascii_detail::kHighBits)
            break;
        const std::uint64_t y = replace(x);
        std::memcpy(Out + i, &y, sizeof y);
    }
    if (i + 8 > Count && Count >= 8) {
        // The text's last word, overlapping bytes already copied, which it writes alike.
        const std::uint64_t x = ascii_detail::Load8(Text + Count - 8);
        if (!(x & ascii_detail::kHighBits)) {
            const std::uint64_t y = replace(x);
            std::memcpy(Out + Count - 8, &y, sizeof y);
            return Count;
        }
    }
    for (; i < Count && static_cast<unsigned char>(Text[i]) < 0x80; ++i)
        Out[i] = Text[i] == From ? To : Text[i];
    return i;
}

}  // namespace win
