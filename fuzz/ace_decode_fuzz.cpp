// The ACE decoder and header walk over arbitrary bytes: every member ends with a result, never
// writes more than its size and never reads outside the input (blocked streams reach the sound
// and picture modes through their mode instructions). The first byte picks the method
// (LZ77 or blocked) and a size; the rest is the compressed stream, and also walked as an archive.
#include "platform/ext/unace/AceDecoder.h"
#include "platform/ext/unace/AceHeaders.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int method = (data[0] & 1) ? kAceBlocked : kAceLz77;
    const std::uint64_t want = std::uint64_t(data[0] >> 1) << (data[0] & 0x40 ? 12 : 4);
    std::size_t at = 1;
    const TByteSource in = [&](std::uint8_t* Buffer, std::size_t Count) {
        const std::size_t n = std::min(Count, size - at);
        std::memcpy(Buffer, data + at, n);
        at += n;
        return n;
    };
    std::uint64_t produced = 0;
    const TByteSink out = [&](const std::uint8_t*, std::size_t Count) {
        produced += Count;
        if (produced > want)
            std::abort();
    };
    TAceDecoder decoder;
    if (decoder.Decode(method, want, in, out) == TAceResult::Ok && produced != want)
        std::abort();
    const TAceReadAt read = [&](std::int64_t Offset, void* Buffer, std::int64_t Count) -> std::int64_t {
        if (Offset < 0 || Count <= 0 || std::uint64_t(Offset) >= size)
            return 0;
        const auto n = std::min<std::int64_t>(Count, std::int64_t(size) - Offset);
        std::memcpy(Buffer, data + Offset, std::size_t(n));
        return n;
    };
    TAceArchiveWalk walk;
    WalkAceArchive(read, std::int64_t(size), walk);
    return 0;
}
