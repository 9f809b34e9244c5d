// GZip members: the header read and written, and whole .gz streams decoded member after member
// with the engine's own inflate, each member's CRC-32 and size checked against its trailer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/ByteIO.h"
#include "core/CodecStatus.h"

constexpr std::uint8_t GzipFlagText = 0x01;
constexpr std::uint8_t GzipFlagHeaderCrc = 0x02;
constexpr std::uint8_t GzipFlagExtra = 0x04;
constexpr std::uint8_t GzipFlagName = 0x08;
constexpr std::uint8_t GzipFlagComment = 0x10;
constexpr std::uint8_t GzipFlagEncrypted = 0x20;  // set by early gzip versions only
constexpr std::uint8_t GzipFlagsReserved = 0xC0;

constexpr std::uint16_t GzipMagic = 0x8B1F;
constexpr std::uint16_t GzipOldMagic = 0x9E1F;  // early gzip, same layout
constexpr std::uint8_t GzipMethodDeflate = 8;

// A stored name or comment longer than this is taken as corruption.
constexpr std::size_t GzipMaxTextLength = 1 << 16;

// Statuses: BadHeader: reserved flags, an overlong name or comment; HeaderCrcError: FHCRC;
// Encrypted: flag bit 5; CrcError and SizeError (modulo 2^32): a member against its trailer.

struct TGzipHeader {
    std::uint16_t Magic = GzipMagic;
    std::uint8_t Method = GzipMethodDeflate;
    std::uint8_t Flags = 0;
    std::uint32_t MTime = 0;  // Unix time, 0 when none is stored
    std::uint8_t ExtraFlags = 0;
    std::uint8_t Os = 255;
    std::vector<std::uint8_t> Extra;
    std::string Name;      // FNAME as stored (no conversion); take FileNamePart before use
    std::string Comment;   // FCOMMENT as stored
    std::size_t Size = 0;  // header bytes before the deflate data, optional fields included
};

// Full keeps every field and checks FHCRC (a mismatch still leaves every field read); Skip only walks past the header
// (Size, flags and the fixed fields are still set), as a reader of member after member needs.
enum class TGzipHeaderMode : std::uint8_t { Full, Skip };

// Reads the member header at the start of Data.
TCodecStatus ParseGzipHeader(const std::uint8_t* Data, std::size_t Size, TGzipHeader& Header);
// Reads a member header from Source, a byte at a time: nothing after the header is taken.
TCodecStatus ReadGzipHeader(const TByteSource& Source, TGzipHeader& Header,
                            TGzipHeaderMode Mode = TGzipHeaderMode::Full);

struct TGzipDecodeResult {
    TCodecStatus Status = TCodecStatus::NotGzip;
    int Members = 0;            // members decoded and checked
    std::uint64_t BytesIn = 0;  // input consumed by those members
    std::uint64_t BytesOut = 0;
    std::uint64_t TrailingBytes = 0;  // zero padding after the last member
    TGzipHeader First;                // the first member's header (its name and time name the output)
};

// Decodes every member of a .gz stream into Sink (blocks of at most 32768 bytes). Stops at the
// first failure; bytes already handed on stay handed on. After the last member only zero bytes
// may follow (counted in TrailingBytes); anything else is a damaged member header (BadHeader).
TGzipDecodeResult DecodeGzipStream(const TByteSource& Source, const TByteSink& Sink,
                                   std::uint64_t MaxOutput = UINT64_MAX);

// ---- writing ----

// 1F 8B, deflate, FNAME when Name is not empty, MTIME (before 1970 or unset: 0; beyond 2106:
// the largest value), XFL, OS 0, then Name and its zero byte. Name is cut at an embedded NUL.
std::vector<std::uint8_t> EncodeGzipHeader(const std::string& Name, std::int64_t MTime, std::uint8_t ExtraFlags = 0);
// CRC-32 and size modulo 2^32, little-endian.
std::array<std::uint8_t, 8> EncodeGzipTrailer(std::uint32_t Crc, std::uint64_t Size);
// The deflate data of an empty input: one final fixed-Huffman block holding only its end code.
constexpr std::array<std::uint8_t, 2> GzipEmptyDeflate = {0x03, 0x00};

// The output name for a .gz archive without a stored name: ".gz", ".z" and ".gzip" (any case)
// removed, ".tgz" made ".tar", a final "_tar" made ".tar". Works on the file name part only.
std::string GzipOutputName(const std::string& ArchiveFileName);
