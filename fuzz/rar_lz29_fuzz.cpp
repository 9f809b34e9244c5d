// Our RAR 2.9 LZ decoder over arbitrary bytes: it must end, read only what it is given and hand
// out no more than the size asked for. The first four bytes are that size (up to 1 MiB).
#include "platform/ext/unrar/RarLz29.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::uint64_t unpacked =
        (std::uint64_t(data[0]) | data[1] << 8 | data[2] << 16 | (data[3] & 0x0F) << 24) & 0xFFFFF;
    const std::uint64_t skip = data[3] >> 4;
    std::size_t at = 4;
    const TRarPackedRead read = [&](std::uint8_t* Buffer, std::size_t Count) {
        const std::size_t n = std::min(Count, size - at);
        std::memcpy(Buffer, data + at, n);
        at += n;
        return n;
    };
    std::uint64_t out = 0;
    const TRarSink sink = [&](const void*, std::size_t Count) {
        out += Count;
        return true;
    };
    DecodeRar29Lz(read, unpacked, skip, sink);
    if (out > unpacked)
        std::abort();
    return 0;
}
