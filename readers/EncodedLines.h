// The line level of UU, XX and Base64 text: lines read in large blocks, and the decoding of one
// data line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "core/ByteIO.h"
#include "core/EncodedText.h"

// Lines of one volume, read in large blocks. A line longer than the buffer comes in pieces.
class TLineReader {
public:
    TLineReader(TByteSource Source, std::size_t Capacity)
        : FSource(std::move(Source)), FBuf(new char[Capacity]), FCapacity(Capacity)
    {}

    // The next line without its line end; Complete is false for a piece of an over-long line.
    bool Next(std::string_view& Line, bool& Complete);
    // The line last read comes again.
    void PushBack() { FBack = true; }

private:
    bool Give(std::string_view& Line, bool& Complete, const char* Start, std::size_t Length, bool Whole);
    void Refill();

    TByteSource FSource;
    std::unique_ptr<char[]> FBuf;
    std::size_t FCapacity;
    std::size_t FPos = 0;
    std::size_t FEnd = 0;
    bool FEof = false;
    bool FBack = false;
    std::string_view FLast;
    bool FLastComplete = true;
};

// One UU or XX line into Out (room for 63 bytes): the byte count, or -1 when the line is not a
// data line of this alphabet (a character outside it, or too few characters for its count).
int DecodeUuLine(std::string_view Line, const TReverseAlphabet& Rev, std::uint8_t* Out);

// What was wrong with a UU or XX line that DecodeDamagedUuLine still decoded.
struct TUuLineDamage {
    bool Short = false;  // fewer characters than its count needs
    bool Stray = false;  // a character outside the alphabet
};

// One UU or XX line decoded as the common decoders decode it whatever its damage: missing
// characters at its end are zero bits (a mail transport strips the blanks that stood for them),
// and a character outside the alphabet takes the value its code gives in UU (0 in another
// alphabet). -1 only when the count character is outside the alphabet.
int DecodeDamagedUuLine(std::string_view Line, const TReverseAlphabet& Rev, std::uint8_t* Out, TUuLineDamage& Damage);

// A line of Base64 characters only, in whole groups.
bool IsBase64DataLine(std::string_view Line, const TReverseAlphabet& Rev);

// Base64 across lines: blanks and stray characters are passed over, "=" ends a group.
class TBase64Decoder {
public:
    TBase64Decoder();
    // Decodes Line into Out (room for 3/4 of its length and 3 more); answers the bytes written.
    std::size_t Decode(std::string_view Line, std::uint8_t* Out);
    // A group cut short by the end of the data gives the bytes it holds.
    std::size_t End(std::uint8_t* Out);
    // Whether a group has begun and not ended.
    bool InGroup() const { return FQuad != 0; }
    const TReverseAlphabet& Alphabet() const { return FRev; }

private:
    TReverseAlphabet FRev;
    std::uint32_t FBits = 0;
    int FQuad = 0;
};
