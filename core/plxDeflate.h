// The window-bits value of the deflate streams (raw deflate, no zlib header) and a deflate pass
// over a whole stream.
#pragma once

#include "core/FilterStreams.h"

constexpr int InflateWindowBits = -15;
constexpr unsigned char InflateWindowBitsByte = 241;  // the same value as one byte

// Deflates the whole of Input (from its start) onto Output at the given level. The entry's context
// gives the running CRC-32 to continue, the cancel flag, the remaining counter and, for emZip_V2,
// the cipher that enciphers the output. With emNone, Crc becomes the input's final CRC-32; a
// cipher's CRC was taken by its own pass and is left alone. False when the run was cancelled;
// engine and write failures raise.
bool DeflateStreamRegion(TStream* Input, TStream* Output, const TStreamControl& Entry, int WindowBits,
                         const TStreamProgress& Progress, TDeflateType Level, std::uint32_t& Crc);
