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

struct libdeflate_compressor;

// Members up to this size are deflated whole in memory; larger ones stream through zlib, so that
// memory stays flat for big files.
constexpr std::int64_t kWholeDeflateLimit = std::int64_t(8) << 20;

// Raw deflate of a whole member in one call: about twice zlib's speed at the same level, with the
// same or smaller output. The compressor is kept between members; one per operation or worker,
// never shared between threads.
class TWholeDeflater {
public:
    TWholeDeflater() = default;
    TWholeDeflater(const TWholeDeflater&) = delete;
    TWholeDeflater& operator=(const TWholeDeflater&) = delete;
    ~TWholeDeflater();

    // The packed bytes of Data into Out; false, with Out empty, when they would be longer than
    // Data (the caller stores the member). Raises E_OUTOFMEMORY when no compressor can be made.
    bool Deflate(const std::uint8_t* Data, std::size_t Size, TDeflateType Level, std::vector<std::uint8_t>& Out);
    // The same, but always packed (a .gz member has no stored fallback).
    void DeflateAlways(const std::uint8_t* Data, std::size_t Size, TDeflateType Level, std::vector<std::uint8_t>& Out);

private:
    libdeflate_compressor* CompressorFor(TDeflateType Level);
    libdeflate_compressor* FCompressor = nullptr;
    int FLevel = -1;
};
