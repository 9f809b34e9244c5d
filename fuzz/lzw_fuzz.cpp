// The .Z decoder over arbitrary bytes: it must end, and never write past its output limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "readers/LzwDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::uint64_t Limit = 1 << 22;
    std::size_t pos = 0;
    std::uint64_t written = 0;
    TLzwDecoder decoder(
        [&](std::uint8_t* buffer, std::size_t count) {
            const std::size_t n = count < size - pos ? count : size - pos;
            if (n > 0)
                std::memcpy(buffer, data + pos, n);
            pos += n;
            return n;
        },
        [&](const std::uint8_t*, std::size_t count) {
            if (count > TLzwDecoder::OutputBlockSize)
                std::abort();
            written += count;
        },
        Limit);
    decoder.Decode();
    if (written > Limit || written != decoder.BytesWritten())
        std::abort();
    return 0;
}
