// Deflate and Deflate64 members through the engine's own inflater, read and written through the
// caller's byte source and sink; optionally following further gzip members of a .gz stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "core/ByteIO.h"
#include "core/CodecStatus.h"

class Inflater;

// The buffers and decoder a member needs, kept by a caller that runs many members: an archive of
// 100,000 small ones then allocates them once, not per member.
class TInflateWorkspace {
public:
    TInflateWorkspace();
    ~TInflateWorkspace();
    TInflateWorkspace(const TInflateWorkspace&) = delete;
    TInflateWorkspace& operator=(const TInflateWorkspace&) = delete;

    // A decoder of the kind asked for, reset to the start of a stream.
    Inflater& Decoder(bool Deflate64);
    std::uint8_t* Input() { return FIn.get(); }
    std::uint8_t* Output() { return FOut.get(); }

private:
    std::unique_ptr<std::uint8_t[]> FIn;
    std::unique_ptr<std::uint8_t[]> FOut;
    std::unique_ptr<Inflater> FDecoder;
};

struct TInflateIo {
    TByteSource Read;  // compressed bytes, 0 at the end of the member's data
    TByteSink Write;   // decoded bytes, in blocks of at most 32768
    // Called before each following gzip member, so that its CRC starts afresh.
    std::function<void()> NextGzipMember;
    const bool* Cancel = nullptr;
    TInflateWorkspace* Workspace = nullptr;  // none: one for this call
};

// Inflates one raw Deflate (or Deflate64) stream. With GzipChain, a stream that ends is followed
// by its 8-byte trailer and, where another gzip member header follows (every optional field
// skipped), by that member's data, until the input ends or something else follows.
// Ok when the stream ended properly; DataError for damaged data; Truncated when the input ended
// before the stream did; Canceled.
TCodecStatus InflateData(const TInflateIo& Io, bool Deflate64, bool GzipChain = false);
