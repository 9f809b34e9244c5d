// The full TAR entry walk (GNU, ustar, pax) over arbitrary bytes: every step moves forward,
// stays inside the archive and keeps names bounded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "readers/EntryNames.h"
#include "readers/TarFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto archiveSize = std::int64_t(size);
    TTarBlockReader read = [&](std::int64_t offset, void* buffer, std::int64_t count) -> std::int64_t {
        if (offset < 0 || offset >= archiveSize || count < 0) return 0;
        const std::int64_t n = std::min(count, archiveSize - offset);
        std::memcpy(buffer, data + offset, std::size_t(n));
        return n;
    };
    TTarReader reader(read, archiveSize);
    TTarEntry entry;
    std::int64_t last = -1;
    while (reader.Next(entry) == TTarReadStatus::Entry) {
        if (reader.Offset() <= last || reader.Offset() > archiveSize) std::abort();
        if (entry.DataOffset + entry.Size > archiveSize || entry.HeaderOffset > entry.DataOffset) std::abort();
        if (entry.Name.size() > std::size_t(TarMaxMetaSize)) std::abort();
        NameLeavesTarget(entry.Name);
        last = reader.Offset();
    }
    return 0;
}
