// LZ77 under block-wise static Huffman codes: the decoder of LHA -lh4- to -lh7-, and of the BH,
// ARJ and ZOO methods that use the same bit format. One object decodes one member at a time; its
// tables and window are its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/ByteIO.h"
#include "core/CodecStatus.h"

// MSB-first bit reader over a byte source. Past the end of the input it reads zero bits, but only
// for a few bytes: then Exhausted() turns true and the decoder stops with a report.
class TStaticHuffmanBits {
public:
    explicit TStaticHuffmanBits(TByteSource Source);

    // Loads the first bits; must run before the first Peek.
    void StaticHuffmanInitBits();
    // The next N (<= 32) bits, without consuming them.
    std::uint32_t Peek(int N) const { return std::uint32_t(FBits >> (64 - N)); }
    void StaticHuffmanFillBuf(int N)
    {
        FBits <<= N;
        FCount -= N;
        if (FCount < 48)
            Refill();
    }
    std::uint32_t StaticHuffmanGetBits(int N)
    {
        if (N == 0)
            return 0;
        const std::uint32_t v = Peek(N);
        StaticHuffmanFillBuf(N);
        return v;
    }
    bool Exhausted() const { return FPadBytes > kMaxPadBytes; }
    // Whether bits beyond the end of the input have been consumed.
    bool PastEnd() const { return FPadBytes * 8 > FCount; }

private:
    static constexpr int kMaxPadBytes = 16;
    void Refill();
    std::uint8_t NextByte();

    TByteSource FSource;
    std::vector<std::uint8_t> FBuffer;
    std::size_t FPos = 0, FEnd = 0;
    bool FEof = false;
    int FPadBytes = 0;
    std::uint64_t FBits = 0;  // the next bits at the top
    int FCount = 0;
};

// A canonical Huffman code as a two-level lookup table: the first TableBits bits index the main
// table; longer codes go on in a sub-table of the remaining bits up to 16.
class THuffmanTable {
public:
    // False when the lengths (each <= 16) do not form a complete code.
    bool Build(const std::uint8_t* Lengths, int Count, int TableBits);
    // A code with one symbol that takes no bits.
    void BuildSingle(int Symbol, int TableBits);
    // Decodes one symbol from the next 16 bits; Length receives its code length.
    int Decode(std::uint32_t Next16, int& Length) const
    {
        std::uint32_t e = FTable[Next16 >> (16 - FBits)];
        if (e & kSubTable)
            e = FTable[(e >> 8 & 0x7FFFFF) + (Next16 & ((1u << (16 - FBits)) - 1))];
        Length = int(e & 0xFF);
        return int(e >> 8);
    }

private:
    static constexpr std::uint32_t kSubTable = 0x80000000u;
    std::vector<std::uint32_t> FTable;
    int FBits = 8;
};

struct TStaticHuffmanParams {
    int DictionaryBits = 13;  // the distance limit
    int PositionCodes = 14;   // NP
    int PositionBits = 4;     // PBIT, bits of the position-code count
    int WindowBits = 16;      // the ring buffer, 2^WindowBits >= the dictionary
};

// The parameters of the LHA methods ('4' to '7'); false for any other character.
bool LhaStaticParams(char Method, TStaticHuffmanParams& Params);

class TStaticHuffmanDecoder {
public:
    static constexpr int NC = 510;  // literals and lengths 3 to 256
    static constexpr int NT = 19;   // the pre-code of the lengths

    void StaticHuffmanInit(const TStaticHuffmanParams& Params);
    // Decodes OutputSize bytes from Bits into Sink (in blocks of at most the window size): Ok,
    // Corrupt or Truncated.
    TCodecStatus StaticHuffmanDecode(TStaticHuffmanBits& Bits, const TByteSink& Sink, std::uint64_t OutputSize);

private:
    bool ReadBlockHeader(TStaticHuffmanBits& Bits);
    bool ReadLengthList(TStaticHuffmanBits& Bits, int MaxCount, int CountBits, int Special, THuffmanTable& Table,
                        int TableBits);
    bool ReadLiteralLengths(TStaticHuffmanBits& Bits);

    TStaticHuffmanParams FParams;
    std::vector<std::uint8_t> FWindow;
    THuffmanTable FLiteral, FPreCode, FPosition;
    std::uint8_t FLengths[NC] = {};
    std::uint32_t FBlockLeft = 0;
};
