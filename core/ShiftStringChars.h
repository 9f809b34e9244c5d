// Character shift of the ARJ reader's garbled texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A copy of Text with every byte moved down (Down) or up by Amount, wrapping within 8 bits.
inline std::string ShiftStringChars(std::string_view Text, std::uint8_t Amount, bool Down)
{
    std::string out(Text);
    for (char& c : out) {
        const auto b = std::uint8_t(c);
        c = char(std::uint8_t(Down ? b - Amount : b + Amount));
    }
    return out;
}
