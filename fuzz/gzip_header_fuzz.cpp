// GZip header parsing and whole-stream decoding over arbitrary bytes: both must end, stay
// inside the input and keep the output limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "readers/EntryNames.h"
#include "readers/GzipFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TGzipHeader header;
    if (ParseGzipHeader(data, size, header) == TCodecStatus::Ok) {
        if (header.Size > size || header.Name.size() > GzipMaxTextLength)
            std::abort();
        const std::string name = FileNamePart(header.Name);
        if (NameLeavesTarget(name))
            std::abort();
    }

    constexpr std::uint64_t Limit = 1 << 22;
    std::size_t pos = 0;
    std::uint64_t written = 0;
    const auto result = DecodeGzipStream(
        [&](std::uint8_t* buffer, std::size_t count) {
            const std::size_t n = count < size - pos ? count : size - pos;
            if (n > 0)
                std::memcpy(buffer, data + pos, n);
            pos += n;
            return n;
        },
        [&](const std::uint8_t*, std::size_t count) { written += count; }, Limit);
    if (written > Limit || result.BytesIn > size || written != result.BytesOut)
        std::abort();
    return 0;
}
