// Decoder of Unix compress (.Z) data: LZW with codes of 9 up to 16 bits, LSB first. The same
// decoder reads the headerless LZW of other formats (TLzwRawFormat).
//
// Like the compressor, it reads codes in groups of n_bits bytes: after a width increase and after a
// CLEAR code the rest of the current group is padding. After CLEAR the next code still adds a
// (never used) table entry, which keeps the width changes in step with the compressor.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/ByteIO.h"
#include "core/CodecStatus.h"

// Decode's statuses: Ok when the input ended after whole codes; NotCompress without the 1F 9D magic or with fewer
// than 3 header bytes; BadHeader for reserved flag bits 5 or 6 or a code width outside 9..16;
// Corrupt for a code beyond the next free one or a first code that is not a byte; OutputLimit;
// Truncated when a raw stream with an end code ended without it.

// Headerless LZW: always with the clear code 256. GroupPadding: codes come in groups as the
// compress tool writes them (ARC methods 8 and 9); without it they run on bit after bit, code
// 257 ends the data and a clear code starts again like the first code (ZOO method 1).
struct TLzwRawFormat {
    int MaxBits = 12;
    bool GroupPadding = true;
};

class TLzwDecoder {
public:
    static constexpr std::size_t InputBlockSize = 32768;
    static constexpr std::size_t OutputBlockSize = 16384;

    // Source gives the whole .Z file from its first byte; Sink takes blocks of at most
    // OutputBlockSize bytes.
    TLzwDecoder(TByteSource Source, TByteSink Sink, std::uint64_t MaxOutput = UINT64_MAX);
    // Source gives the codes from their first byte.
    TLzwDecoder(TByteSource Source, TByteSink Sink, std::uint64_t MaxOutput, const TLzwRawFormat& Raw);

    TCodecStatus Decode();
    std::uint64_t BytesWritten() const { return FWritten; }
    int MaxBits() const { return FMaxBits; }
    bool BlockMode() const { return FBlockMode; }
    // The header's flag bits 5 or 6 were set: no stream of this format at all.
    bool ReservedFlags() const { return FReservedFlags; }

private:
    TCodecStatus DecodeCodes();
    bool FillBits(int n);  // true when n more bits are available
    std::uint32_t TakeBits(int n);
    void SkipToGroupEnd();
    bool Put(const std::uint8_t* data, std::size_t n);
    void Flush();

    TByteSource FSource;
    TByteSink FSink;
    std::uint64_t FMaxOutput;

    std::vector<std::uint8_t> FIn;
    std::size_t FInFill = 0;
    std::size_t FInPos = 0;
    bool FInputEnded = false;
    std::uint64_t FBitBuf = 0;
    int FBitCount = 0;
    std::uint64_t FBitsTaken = 0;   // code bits read since the stream's code data began
    std::uint64_t FGroupStart = 0;  // FBitsTaken when the current code width began

    int FNBits = 9;
    int FMaxBits = 0;
    bool FBlockMode = false;
    bool FReservedFlags = false;
    bool FRaw = false;
    bool FGroupPadding = true;
    bool FEndCode = false;  // 257 ends the data

    std::vector<std::uint16_t> FPrefix;
    std::vector<std::uint8_t> FSuffix;
    std::vector<std::uint8_t> FStack;
    std::vector<std::uint8_t> FOut;
    std::size_t FOutFill = 0;
    std::uint64_t FWritten = 0;
};
