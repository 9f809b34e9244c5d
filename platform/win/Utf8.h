// UTF-8 text: code points, and case folding over every Unicode letter (not only a-z).
#pragma once

#include <string>
#include <string_view>

namespace win {

// Invalid or truncated sequences decode to U+FFFD, one per bad byte.
std::u32string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::u32string_view text);
void AppendUtf8(std::string& out, char32_t cp);
// Whether DecodeUtf8 would find no bad sequence (so that encoding again gives the same bytes).
bool IsValidUtf8(std::string_view text);

// Simple (one-to-one) case folding, independent of the process locale.
char32_t FoldCase(char32_t cp);
char32_t ToUpper(char32_t cp);
std::string FoldCase(std::string_view text);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// Case-insensitive equality and ordering by folded code points.
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);

}  // namespace win
