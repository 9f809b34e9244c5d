// The LZH encoder: LZ77 matches of 3 to 256 bytes within the dictionary, sent in blocks under
// static Huffman codes fitted to each block; the bit format of LHA -lh5-/-lh6- and BH "fuse",
// which the static-Huffman decoder reads.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ByteIO.h"

struct TLzhEncodeResult {
    bool Unpackable = false;       // the output would not be smaller than the input: store instead
    std::uint64_t InputSize = 0;   // bytes taken from the source
    std::uint64_t PackedSize = 0;  // bytes handed to the sink
};

class TLzhEncoder {
public:
    // The position code counts need up to 14 dictionary bits (format limit of this encoder).
    static constexpr int kMaxDictionaryBits = 14;

    // False for dictionary bits outside 10..14: the caller must not encode then.
    bool LzhInit(int DictionaryBits, int PositionBits);
    // Codes the whole source; stops early (Unpackable) once the output would not be smaller than
    // the input read so far. The source and sink may throw to cancel.
    TLzhEncodeResult LzhEncode(const TByteSource& Source, const TByteSink& Sink);

private:
    static constexpr int NC = 510;
    static constexpr int NT = 19;
    static constexpr int kMaxMatch = 256;
    static constexpr int kMinMatch = 3;

    struct TCode {
        std::vector<std::uint8_t> Length;
        std::vector<std::uint16_t> Code;
        int Single = -1;  // the one symbol of a code with one symbol (no bits)
    };

    // Match finder.
    // Answers how far the window moved down.
    std::int32_t FillWindow(const TByteSource& Source);
    void InsertHash(std::int32_t Pos);
    int LongestMatch(std::int32_t Pos, std::int32_t Head, int PrevLength, std::int32_t& MatchPos) const;

    // Block coder.
    void PutLiteral(int Byte);
    void PutMatch(int Length, std::uint32_t DistanceValue);
    void SendBlock();
    void MakeCode(const std::vector<std::uint32_t>& Freq, TCode& Code) const;
    void CountPreCodeFreq(std::vector<std::uint32_t>& Freq) const;
    void WriteLengthList(const TCode& Code, int CountBits, int Special);
    void WriteLiteralLengths();
    void PutBits(int Count, std::uint32_t Value);
    void PutCode(const TCode& Code, int Symbol)
    {
        PutBits(Code.Length[std::size_t(Symbol)], Code.Code[std::size_t(Symbol)]);
    }
    void FlushBytes(bool All);

    int FDictBits = 13, FPositionCodes = 14, FPositionBits = 4;
    std::int32_t FDictSize = 8192;

    // Window of two halves; positions are indexes into it.
    std::vector<std::uint8_t> FWindow;
    std::vector<std::int32_t> FHead, FPrev;
    std::int32_t FStart = 0, FLookahead = 0;
    bool FEof = false;

    // Symbols of the current block.
    std::vector<std::uint16_t> FSymbols;
    std::vector<std::uint16_t> FDistances;  // per match, in order
    std::size_t FBlockBytes = 0;            // the block buffer's size as the format counts it
    std::vector<std::uint32_t> FLiteralFreq, FPositionFreq;
    TCode FLiteral, FPreCode, FPosition;

    // Output.
    const TByteSink* FSink = nullptr;
    std::vector<std::uint8_t> FOut;
    std::uint64_t FBitBuffer = 0;
    int FBitCount = 0;
    TLzhEncodeResult FResult;
};
