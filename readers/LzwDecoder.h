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
    std::uint64_t BytesWritten() const { return written_; }
    int MaxBits() const { return maxBits_; }
    bool BlockMode() const { return blockMode_; }

private:
    TCodecStatus DecodeCodes();
    bool FillBits(int n);  // true when n more bits are available
    std::uint32_t TakeBits(int n);
    void SkipToGroupEnd();
    bool Put(const std::uint8_t* data, std::size_t n);
    void Flush();

    TByteSource source_;
    TByteSink sink_;
    std::uint64_t maxOutput_;

    std::vector<std::uint8_t> in_;
    std::size_t inFill_ = 0;
    std::size_t inPos_ = 0;
    bool inputEnded_ = false;
    std::uint64_t bitBuf_ = 0;
    int bitCount_ = 0;
    std::uint64_t bitsTaken_ = 0;   // code bits read since the stream's code data began
    std::uint64_t groupStart_ = 0;  // bitsTaken_ when the current code width began

    int nBits_ = 9;
    int maxBits_ = 0;
    bool blockMode_ = false;
    bool raw_ = false;
    bool groupPadding_ = true;
    bool endCode_ = false;  // 257 ends the data

    std::vector<std::uint16_t> prefix_;
    std::vector<std::uint8_t> suffix_;
    std::vector<std::uint8_t> stack_;
    std::vector<std::uint8_t> out_;
    std::size_t outFill_ = 0;
    std::uint64_t written_ = 0;
};
