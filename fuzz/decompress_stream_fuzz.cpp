// The inflating filter over arbitrary input: reads of varied sizes must stay in bounds, end, and
// leave the source at a sane position.
#include "core/FilterStreams.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool deflate64 = data[0] & 1;
    const std::int32_t readSize = 1 + (data[0] >> 1) * 1021;
    TMemoryStream32 source;
    if (size > 1)
        source.WriteBuffer(data + 1, std::int32_t(size - 1));
    source.SetPosition(0);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(readSize));
    {
        TDecompressStream z(&source, -15, emNone, deflate64);
        std::int64_t total = 0;
        while (total < (1 << 22)) {
            const std::int32_t got = z.Read(out.data(), readSize);
            if (got <= 0)
                break;
            total += got;
        }
    }
    if (source.Position() < 0 || source.Position() > source.Size())
        __builtin_trap();
    return 0;
}
