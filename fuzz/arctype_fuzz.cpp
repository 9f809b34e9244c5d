// Archive-type detection over arbitrary bytes: every probe reads inside the stream, whatever the
// headers, stub lengths or resource tables claim.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/ArcType.h"
#include "core/PeResources.h"
#include "core/plxStreams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    TMemoryStream32 stream;
    if (size > 0)
        stream.WriteBuffer(data, std::int32_t(size));
    TArcTypeDetector detector(stream, "");
    const TArcType type = detector.GetArcType();
    const TArcTypeInfo& info = detector.Info();
    if (info.ArcType != type || info.ArchiveOffset < -1 || info.ArchiveSize != std::int64_t(size))
        std::abort();
    if (type == atTarGz || type == atTarBz)
        std::abort();  // only a name tells these (encoded text announces itself in its first lines)

    // The resource reader on its own, so that it is reached without the other probes first.
    const auto read = [&](std::int64_t offset, void* buffer, std::int64_t count) -> std::int64_t {
        if (offset < 0 || count <= 0 || offset >= std::int64_t(size))
            return 0;
        const std::int64_t n = std::min<std::int64_t>(count, std::int64_t(size) - offset);
        std::memcpy(buffer, data + offset, std::size_t(n));
        return n;
    };
    TPeStringResources resources;
    if (resources.Load(read, std::int64_t(size)))
        for (unsigned id = 0; id < 40; ++id)
            if (resources.LoadString(id, 6).size() > 5)
                std::abort();
    return 0;
}
