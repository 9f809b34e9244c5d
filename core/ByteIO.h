// The one byte source and sink of every codec and header walker: decoders read archive bytes
// from a source and hand decoded bytes to a sink; extractors bind them to their data hooks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Up to Count bytes into Buffer; 0 at the end of the input.
using TByteSource = std::function<std::size_t(std::uint8_t* Buffer, std::size_t Count)>;
// Takes Count decoded bytes; throws when they cannot be written.
using TByteSink = std::function<void(const std::uint8_t* Data, std::size_t Count)>;

// Up to Count bytes at Offset of an archive; answers how many came. What header parsers read by.
using TReadAt = std::function<std::int64_t(std::int64_t Offset, void* Buffer, std::int64_t Count)>;

// What a header parser answers for the record at an offset: a header, the archive's regular end,
// or bytes that are no header (cut short, no marker, values out of range).
enum class THeaderStatus : std::uint8_t { Header, End, Corrupt };
