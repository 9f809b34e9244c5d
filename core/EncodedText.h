// Binary files carried as text (UU, XX, Base64): the alphabets, and the header lines that
// announce such a file. Detection, the listing, the decoder and the encoder all read these.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/plxConsts.h"

enum class TTextCode : std::uint8_t { Uu, Xx, Base64 };

// The 64 characters of a code, index = 6-bit value.
std::string_view AlphabetOf(TTextCode Code);

// The value of each character (-1 outside the alphabet). UU also reads a blank as 0.
struct TReverseAlphabet {
    std::array<std::int8_t, 256> Value{};
    TReverseAlphabet() { Value.fill(-1); }
    explicit TReverseAlphabet(std::string_view Alphabet, bool BlankIsZero = false);
    int operator[](unsigned char c) const { return Value[c]; }
};

// "begin 644 name" or "begin-base64 644 name": the mode digits and the name as written (a name
// without an extension is cut at its first blank). The name still has to be made safe.
struct TBeginLine {
    bool Base64 = false;
    std::string Mode;
    std::string Name;
};
bool ParseBeginLine(std::string_view Line, TBeginLine& Out);

// The header lines of one MIME part, taken one by one up to the blank line that ends them, in
// any order and folded or not.
struct TMimePartHeader {
    bool Base64 = false;  // "Content-Transfer-Encoding: base64", letter case ignored
    std::string Name;     // "filename=" (of Content-Disposition), else "name=" (of Content-Type)
    void Take(std::string_view Line);

private:
    bool FFromDisposition = false;
};

// The data's end: "end" (any case) alone on its line.
bool IsEndLine(std::string_view Line);

bool StartsWithNoCase(std::string_view Text, std::string_view Prefix);

// What the head of a file announces: atUUE for a "begin" line, atB64 for "begin-base64" or MIME
// Base64 part headers, atNA for anything else. Name gets the first name found.
TArcType EncodedTextType(std::string_view Head, std::string* Name = nullptr);
