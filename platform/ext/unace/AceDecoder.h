// The ACE decoder: ACE 1.0 LZ77 and the ACE 2.0 blocked method (LZ77, and LZ77 behind the delta
// and executable filters). One decoder serves the members of an archive in order, so a solid
// archive's members share the dictionary.
#pragma once

#include "core/ByteIO.h"

#include <cstdint>
#include <vector>

enum class TAceResult { Ok, Corrupt, Truncated, Unsupported, Stopped };

// Compression types of a file header.
constexpr int kAceStored = 0;
constexpr int kAceLz77 = 1;
constexpr int kAceBlocked = 2;

class TAceDecoder {
public:
    TAceDecoder();
    // Decodes Size bytes of one member into Out (which may throw to stop). Matches reach back at
    // most 4 MiB, the largest dictionary of the format, and never before the first byte.
    TAceResult Decode(int CompType, std::uint64_t Size, const TByteSource& In, const TByteSink& Out);

private:
    class TBits;
    struct TTree {
        std::vector<std::uint16_t> Codes;
        std::vector<std::uint8_t> Widths;
        int MaxWidth = 0;
    };
    struct TMode {
        int Mode = 0;
        int DeltaDist = 0;
        int DeltaLen = 0;
        int ExeMode = 0;
    };

    static bool MakeTree(std::vector<std::uint8_t> Widths, int MaxWidth, TTree& Tree);
    static bool ReadTree(TBits& Bits, int MaxWidth, int NumCodes, TTree& Tree);
    static bool ReadSymbol(TBits& Bits, const TTree& Tree, int& Symbol);
    static void ReadMode(TBits& Bits, TMode& Mode);

    // Runs LZ77 until Want bytes (the limit no match may cross) or a mode change; every byte
    // goes into the dictionary and to Emit.
    template <class TEmit> TAceResult Lz77(TBits& Bits, std::uint64_t Want, bool& ModeChange, TMode& Next, TEmit Emit);
    TAceResult Blocked(TBits& Bits, std::uint64_t Size, const TByteSink& Out);
    void Put(std::uint8_t Byte);

    std::vector<std::uint8_t> FWindow;  // the last 4 MiB of output
    std::uint64_t FProduced = 0;        // bytes ever put into the window
    // Symbol-reader state of the running LZ77 stream.
    TTree FMain, FLen;
    int FSymbolsLeft = 0;
    std::uint32_t FHistory[4] = {};
};
