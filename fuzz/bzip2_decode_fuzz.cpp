// Decodes arbitrary bytes as bzip2 data. The first byte picks the read size and whether
// concatenated streams are followed; the rest is the compressed region. Every outcome must be
// data or an Ebz2libError, and no read may write past its count.
#include "core/plxBZip2.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    const std::int32_t readSize = 1 + (data[0] & 0x7F) * 97;
    TMemoryStream32 src;
    if (size > 1)
        src.WriteBuffer(data + 1, std::int32_t(size - 1));
    src.SetPosition(0);
    std::vector<std::uint8_t> buf(std::size_t(readSize) + 8, 0xA5);
    std::int64_t total = 0;
    try {
        TBzDecompressStream bz({}, &src, 0, std::int64_t(size - 1));
        bz.Concatenated = (data[0] & 0x80) != 0;
        // bzip2 expands at most a few thousand times; stop long before memory runs out.
        while (total < (std::int64_t(64) << 20)) {
            const std::int32_t n = bz.Read(buf.data(), readSize);
            if (n < 0 || n > readSize)
                __builtin_trap();
            for (std::size_t i = std::size_t(readSize); i < buf.size(); ++i)
                if (buf[i] != 0xA5)
                    __builtin_trap();
            if (n == 0)
                break;
            total += n;
        }
        if (src.Position() > std::int64_t(size - 1))
            __builtin_trap();
    } catch (const Ebz2libError&) {
    }
    return 0;
}
