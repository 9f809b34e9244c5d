// The ACE decoder: ACE 1.0 LZ77 and the ACE 2.0 blocked method (LZ77, LZ77 behind the delta
// and executable filters, sound and picture). One decoder serves the members of an archive in
// order, so a solid archive's members share the dictionary.
#pragma once

#include "core/ByteIO.h"
#include "platform/ext/unace/AceBits.h"
#include "platform/ext/unace/AceMedia.h"

#include <cstdint>
#include <functional>
#include <vector>

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
    using TBits = TAceBits;
    using TMode = TAceMode;

    // Runs LZ77 until Want bytes (the limit no match may cross) or a mode change; every byte
    // goes into the dictionary and to Emit.
    template <class TEmit>
    TAceResult Lz77(TBits& Bits, std::uint64_t Want, bool& ModeChange, TMode& Next, TEmit Emit);
    TAceResult Blocked(TBits& Bits, std::uint64_t Size, const TByteSink& Out);
    // One block of sound or picture data; its bytes join the dictionary.
    template <class TMedia>
    TAceResult Media(TMedia& Decoder, TBits& Bits, std::uint64_t Remaining, bool& Switched, TMode& Next,
                     const std::function<bool(const std::uint8_t*, std::size_t)>& Emit);
    void Put(std::uint8_t Byte);

    std::vector<std::uint8_t> FWindow;  // the last 4 MiB of output
    std::uint64_t FProduced = 0;        // bytes ever put into the window
    // Symbol-reader state of the running LZ77 stream.
    TAceTree FMain, FLen;
    int FSymbolsLeft = 0;
    std::uint32_t FHistory[4] = {};
    TAceSound FSound;
    TAcePicture FPicture;
};
