// The two 8-bit code pages that archives and peers use, converted to and from the program's UTF-8.
//
// The Windows names map as follows: "OEM" bytes are CP852 (DOS names in archives), "ANSI" bytes are
// CP1250 (peer records, definition and menu files, ANSI names in archives), and the program's own
// strings are UTF-8. So OemToCharA becomes OemToUtf8 and CharToOemA becomes Utf8ToOem. There are no
// raw-buffer forms: UTF-8 output can be longer than its input, which a fixed buffer cannot hold.
//
// The tables are our own and never depend on the process locale. Bytes that a code page leaves
// undefined decode to the C1 control of the same value and encode back to that byte, so every byte
// string survives a round trip.
#pragma once

#include <string>
#include <string_view>

namespace win {

enum class CodePage { Cp852 = 852, Cp1250 = 1250 };

char32_t CodePageToUnicode(unsigned char byte, CodePage cp);
std::string CodePageToUtf8(std::string_view bytes, CodePage cp);

// Characters the code page cannot hold (and invalid UTF-8) become '?'; *lossy then tells the caller
// that the text did not survive, so that it can store UTF-8 instead.
std::string Utf8ToCodePage(std::string_view text, CodePage cp, bool* lossy = nullptr);
bool FitsCodePage(std::string_view text, CodePage cp);

inline std::string OemToUtf8(std::string_view oem)
{
    return CodePageToUtf8(oem, CodePage::Cp852);
}
inline std::string Utf8ToOem(std::string_view text, bool* lossy = nullptr)
{
    return Utf8ToCodePage(text, CodePage::Cp852, lossy);
}
inline std::string AnsiToUtf8(std::string_view ansi)
{
    return CodePageToUtf8(ansi, CodePage::Cp1250);
}
inline std::string Utf8ToAnsi(std::string_view text, bool* lossy = nullptr)
{
    return Utf8ToCodePage(text, CodePage::Cp1250, lossy);
}

}  // namespace win
