// The RAR header walk over arbitrary bytes: it must end, stay inside the buffer and keep its
// fields within the sizes it read.
#include "platform/ext/unrar/RarHeaders.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const TRarReadAt read = [&](std::int64_t Offset, void* Buffer, std::int64_t Count) -> std::int64_t {
        if (Offset < 0 || Count <= 0 || std::uint64_t(Offset) >= size)
            return 0;
        const auto n = std::min<std::int64_t>(Count, std::int64_t(size) - Offset);
        std::memcpy(Buffer, data + Offset, std::size_t(n));
        return n;
    };
    TRarVolumeWalk walk;
    WalkRarVolume(read, std::int64_t(size), walk);
    for (const TRarHeader& h : walk.Headers)
        if (h.Offset < 0 || std::uint64_t(h.Offset) >= size || h.Name.size() > 4096 * 3)
            std::abort();
    NextRarVolumeName(std::string(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 64)), size & 1);
    return 0;
}
