// Shared driver of the early ZIP method fuzz targets: the first bytes choose the declared
// uncompressed size and the flags, the rest is the member's compressed data.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/plxConsts.h"
#include "readers/ZipLegacy.h"

namespace zip_legacy_fuzz {

class TSource : public TZipLegacySource {
public:
    TSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t ReadCompressed(std::uint8_t* buffer, std::size_t count) override {
        if (pos_ == size_ && ++readsAtEnd_ > 1) std::abort();  // a decoder that keeps asking
        const std::size_t n = std::min(count, size_ - pos_);
        if (n > 0) std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    int readsAtEnd_ = 0;
};

class TSink : public TZipLegacySink {
public:
    void WriteDecoded(const std::uint8_t*, std::size_t count) override {
        if (count > ZipLegacyBufferSize) std::abort();
        Written += count;
    }
    std::uint64_t Written = 0;
};

inline int Run(int method, const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    // Up to 256 KiB of declared output keeps each run short.
    const std::uint64_t declared = (std::uint64_t(data[0]) | std::uint64_t(data[1]) << 8 |
                                    std::uint64_t(data[2] & 0x03) << 16);
    const std::uint16_t flags = std::uint16_t(data[2] >> 4);
    TSource source(data + 3, size - 3);
    TSink sink;
    // Declare a larger compressed size than there is now and then, as a truncated member does.
    const TZipLegacyMember member{(flags & 8) ? size : size - 3, declared, flags};
    auto decoder = MakeZipLegacyDecoder(method, source, sink, member);
    try {
        const bool ok = decoder->Decode();
        if (ok && sink.Written != declared) std::abort();
    } catch (const E_RAISE&) {
    }
    if (sink.Written > declared) std::abort();
    return 0;
}

}  // namespace zip_legacy_fuzz
