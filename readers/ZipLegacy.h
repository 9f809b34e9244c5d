// Decoders of the early ZIP methods: shrink (1), reduce (2-5) and implode (6).
//
// Each decoder is an object that holds all of its state, reads the member's compressed bytes from
// a byte source and writes the decoded bytes to a byte sink in blocks of at most 32768 bytes. The
// extractor binds them to its archive-read and output-write hooks (deciphering, CRC-32 and
// progress happen there); exceptions of the sink pass through.
//
// How Decode() ends:
// - Ok: exactly the declared uncompressed size was written.
// - Truncated: the input ended before the declared size.
// - DataError: corrupt shrink codes, a reduce follower set of more than 32 bytes or an index outside
//   its set, an invalid implode tree or code.
// - StackOverflow: a shrink string longer than the decode stack.
// Every decoder stops at the declared uncompressed size and at the end of its compressed bytes.
#pragma once

#include "core/ByteIO.h"
#include "core/CodecStatus.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The working record of the member being decoded.
struct TZipLegacyMember {
    std::uint64_t CompressedSize = 0;  // bytes to read, encryption header already taken off
    std::uint64_t UncompressedSize = 0;
    std::uint16_t Flags = 0;  // general-purpose flags
};

constexpr std::size_t ZipLegacyBufferSize = 32768;

// Input block buffer with an LSB-first bit reader, and the 32768-byte output buffer.
class TZipLegacyDecoder {
public:
    TZipLegacyDecoder(TByteSource source, TByteSink sink, const TZipLegacyMember& member);
    virtual ~TZipLegacyDecoder() = default;
    TZipLegacyDecoder(const TZipLegacyDecoder&) = delete;
    TZipLegacyDecoder& operator=(const TZipLegacyDecoder&) = delete;

    TCodecStatus Decode();
    std::uint64_t BytesWritten() const { return FWritten + FOutFill; }

protected:
    // Decodes until the declared size is reached (Done()) or the input ends; answers Ok then.
    // Output still buffered at a DataError is not written unless Run flushes it itself.
    virtual TCodecStatus Run() = 0;

    // n bits (1..32) LSB-first; -1 when the input ends before n bits were gathered.
    std::int64_t ReadBits(int n);
    // Up to n bits without consuming them; bits past the end of input read as 0.
    std::uint32_t PeekBits(int n);
    int BitsAvailable(int n);  // how many of the next n bits exist (fills the bit buffer)
    void DropBits(int n);
    // True once a read wanted bits beyond the end of the input.
    bool InputShort() const { return FInputShort; }

    void PutByte(std::uint8_t b);
    bool Done() const { return BytesWritten() >= FMember.UncompressedSize; }
    void Flush();

    const TZipLegacyMember FMember;

private:
    int ReadByte();  // -1 at the end of input

    TByteSource FSource;
    TByteSink FSink;
    std::unique_ptr<std::uint8_t[]> FIn;
    std::size_t FInFill = 0;
    std::size_t FInPos = 0;
    std::uint64_t FCompressedLeft;
    bool FInputEnded = false;
    bool FInputShort = false;
    std::uint64_t FBitBuf = 0;
    int FBitCount = 0;
    std::unique_ptr<std::uint8_t[]> FOut;
    std::size_t FOutFill = 0;
    std::uint64_t FWritten = 0;
};

// Method 1: LZW with code widths 9 to 13 and partial clearing.
class TUnshrink : public TZipLegacyDecoder {
public:
    using TZipLegacyDecoder::TZipLegacyDecoder;

protected:
    TCodecStatus Run() override;

private:
    static constexpr int MaxCode = 8191;
    static constexpr int ControlCode = 256;
    static constexpr int FirstFree = 257;

    void ResetTables();
    void PartialClear();
    TCodecStatus OutputString(int code, int previous);
    void AddEntry(int parent, std::uint8_t ch);

    struct TCode {
        std::int32_t Parent = -1;  // -1: never assigned
        std::uint8_t Char = 0;
        bool Free = true;
    };
    std::vector<TCode> FCodes;
    std::vector<std::uint16_t> FFreeList;
    int FNextFree = FirstFree;
    std::vector<std::uint8_t> FStack;
    std::uint8_t FFirstChar = 0;  // first byte of the string just output
};

// Methods 2 to 5: follower sets and the 0x90 escape over a 4096-byte window.
class TUnreduce : public TZipLegacyDecoder {
public:
    // factor = method - 1, 1 to 4.
    TUnreduce(TByteSource source, TByteSink sink, const TZipLegacyMember& member, int factor);

protected:
    TCodecStatus Run() override;

private:
    static constexpr std::size_t WindowSize = 4096;
    static constexpr int DamagedInput = -2;

    TCodecStatus ReadFollowerSets();
    int ReadNextByte();  // -1 at the end of input, DamagedInput for an index outside its set
    void Expand(std::uint8_t b);
    void Emit(std::uint8_t b);

    struct TFollowerSet {
        int Count = 0;
        std::array<std::uint8_t, 32> Bytes{};
    };
    int FFactor;
    std::vector<TFollowerSet> FSets;
    std::vector<std::uint8_t> FWindow;
    std::size_t FWindowPos = 0;
    int FState = 0;
    int FLength = 0;
    int FV = 0;
    std::uint8_t FLastByte = 0;
};

// Method 6: Shannon-Fano trees over a 4 KB or 8 KB dictionary.
class TExplode : public TZipLegacyDecoder {
public:
    TExplode(TByteSource source, TByteSink sink, const TZipLegacyMember& member);

protected:
    TCodecStatus Run() override;

private:
    // A prefix code read LSB-first through a lookup table of lookupBits bits; longer codes go
    // through second-level tables.
    class TTree {
    public:
        bool Build(const std::vector<std::uint8_t>& lengths, int lookupBits);
        // Symbol, or -1 for an invalid code or the end of input.
        int Decode(TExplode& d) const;

    private:
        struct TEntry {
            std::uint32_t Value = 0;  // symbol, or the first entry of a second-level table
            std::uint8_t Bits = 0;    // code length, or the second-level table's width
            std::uint8_t Kind = 0;    // 0 invalid, 1 symbol, 2 second-level table
        };
        bool Place(std::uint32_t reversed, int length, int symbol);
        int FLookupBits = 0;
        int FSubBits = 0;
        std::vector<TEntry> FTable;
    };

    bool ReadTree(TTree& tree, int size, int lookupBits);
    void CopyMatch(std::uint32_t distance, std::uint32_t length);
    void Emit(std::uint8_t b);

    static constexpr std::size_t WindowSize = 32768;
    bool FEightKDictionary;
    bool FLiteralTree;
    int FDistanceLookupBits;
    TTree FLiterals, FLengths, FDistances;
    std::vector<std::uint8_t> FWindow;
    std::size_t FWindowPos = 0;
};

// The decoder of ZIP method 1 to 6; nullptr for any other method.
std::unique_ptr<TZipLegacyDecoder> MakeZipLegacyDecoder(int method, TByteSource source, TByteSink sink,
                                                        const TZipLegacyMember& member);

// The message number a member of this method reports for Status: damaged shrink and reduce codes
// are "Bad block", a full shrink stack its own; an early end and a damaged implode stream have no
// message (0), the member's CRC check reports them.
int ZipLegacyMessage(int method, TCodecStatus status);
