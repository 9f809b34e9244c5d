// The ARC family's own decoders: run-length expansion (marker 0x90), squeeze (a Huffman tree
// stored in the member) and the fixed-table crunch of methods 5 to 7. Methods 8 and 9 are the
// LZW of LzwDecoder.h. State per object.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ByteIO.h"
#include "core/CodecStatus.h"

// The packed bytes one at a time; -1 at their end.
class TArcByteReader {
public:
    explicit TArcByteReader(TByteSource Source) : FSource(std::move(Source)), FBuffer(32768) {}
    int Next()
    {
        if (FPos == FEnd && !Refill())
            return -1;
        return FBuffer[FPos++];
    }

private:
    bool Refill();
    TByteSource FSource;
    std::vector<std::uint8_t> FBuffer;
    std::size_t FPos = 0, FEnd = 0;
    bool FEof = false;
};

// Decoded bytes out to a sink in blocks, optionally through the run-length expansion, never
// more than the declared size.
class TArcWriter {
public:
    TArcWriter(TByteSink Sink, std::uint64_t Limit, bool RunLength);
    // False when the output would exceed the limit.
    bool Put(std::uint8_t c) { return FRunLength ? Expand(c) : Emit(c); }
    void Flush();
    std::uint64_t Written() const { return FWritten + FFill; }
    bool Full() const { return Written() >= FLimit && !FRepeat; }

private:
    bool Emit(std::uint8_t c)
    {
        if (FWritten + FFill >= FLimit)
            return false;
        FBlock[FFill++] = c;
        if (FFill == FBlock.size())
            Flush();
        return true;
    }
    bool Expand(std::uint8_t c);

    TByteSink FSink;
    std::vector<std::uint8_t> FBlock;
    std::size_t FFill = 0;
    std::uint64_t FWritten = 0;
    std::uint64_t FLimit;
    bool FRunLength;
    bool FRepeat = false;  // the last byte read was the marker
    std::uint8_t FLast = 0;
};

// Each ends Ok at the end of the packed bytes (a short result is the caller's to judge), DataError
// for a bad squeeze tree (the format's own "invalid decode tree"), StackOverflow for a string
// too long, OutputLimit for data that decode to more than the declared size.
TCodecStatus ArcCopy(TArcByteReader& In, TArcWriter& Out);
TCodecStatus ArcUnsqueeze(TArcByteReader& In, TArcWriter& Out);

class TArcCrunchDecoder {
public:
    // OldHash: methods 5 and 6; the faster hash of method 7 otherwise.
    TCodecStatus Decode(TArcByteReader& In, TArcWriter& Out, bool OldHash);

private:
    static constexpr int kTableSize = 4096;
    static constexpr std::uint16_t kNoPredecessor = 0xFFFF;
    struct TEntry {
        bool Used;
        std::uint16_t Next;
        std::uint16_t Predecessor;
        std::uint8_t Follower;
    };
    void Insert(std::uint16_t Predecessor, std::uint8_t Follower, bool OldHash);
    int ReadCode(TArcByteReader& In);

    std::vector<TEntry> FTable;
    std::vector<std::uint8_t> FStack;
    int FHeldNibble = -1;
};
