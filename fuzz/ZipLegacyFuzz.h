// Shared driver of the early ZIP method fuzz targets: the first bytes choose the declared
// uncompressed size and the flags, the rest is the member's compressed data.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "readers/ZipLegacy.h"

namespace zip_legacy_fuzz {

struct TSource {
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t Pos = 0;
    int ReadsAtEnd = 0;

    std::size_t operator()(std::uint8_t* buffer, std::size_t count)
    {
        if (Pos == Size && ++ReadsAtEnd > 1)
            std::abort();  // a decoder that keeps asking
        const std::size_t n = std::min(count, Size - Pos);
        if (n > 0)
            std::memcpy(buffer, Data + Pos, n);
        Pos += n;
        return n;
    }
};

struct TSink {
    std::uint64_t Written = 0;

    void operator()(const std::uint8_t*, std::size_t count)
    {
        if (count > ZipLegacyBufferSize)
            std::abort();
        Written += count;
    }
};

inline int Run(int method, const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    // Up to 256 KiB of declared output keeps each run short.
    const std::uint64_t declared =
        (std::uint64_t(data[0]) | std::uint64_t(data[1]) << 8 | std::uint64_t(data[2] & 0x03) << 16);
    const std::uint16_t flags = std::uint16_t(data[2] >> 4);
    TSource source{data + 3, size - 3};
    TSink sink;
    // Declare a larger compressed size than there is now and then, as a truncated member does.
    const TZipLegacyMember member{(flags & 8) ? size : size - 3, declared, flags};
    const TCodecStatus status = MakeZipLegacyDecoder(method, std::ref(source), std::ref(sink), member)->Decode();
    if (status == TCodecStatus::Ok && sink.Written != declared)
        std::abort();
    if (sink.Written > declared)
        std::abort();
    return 0;
}

}  // namespace zip_legacy_fuzz
