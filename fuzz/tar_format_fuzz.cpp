// The full TAR entry walk (GNU, ustar, pax, the four sparse forms) over arbitrary bytes: every
// step moves forward, stays inside the archive, keeps names bounded and sparse maps consistent.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "readers/EntryNames.h"
#include "readers/TarFormat.h"
#include "readers/plxUnTar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto archiveSize = std::int64_t(size);
    TReadAt read = [&](std::int64_t offset, void* buffer, std::int64_t count) -> std::int64_t {
        if (offset < 0 || offset >= archiveSize || count < 0)
            return 0;
        const std::int64_t n = std::min(count, archiveSize - offset);
        std::memcpy(buffer, data + offset, std::size_t(n));
        return n;
    };
    TTarReader reader(read, archiveSize);
    TTarEntry entry;
    std::int64_t last = -1;
    while (reader.Next(entry) == TTarReadStatus::Entry) {
        if (reader.Offset() <= last || reader.Offset() > archiveSize)
            std::abort();
        if (entry.DataOffset + entry.Size > archiveSize || entry.HeaderOffset > entry.DataOffset)
            std::abort();
        if (entry.Name.size() > std::size_t(TarMaxMetaSize))
            std::abort();
        NameLeavesTarget(entry.Name);
        const std::string name = TarEntryName(entry);
        if (!name.empty() && (name.find("/./") != std::string::npos || name.starts_with("./")))
            std::abort();
        // A map taken as valid stays inside the file and accounts for the stored data exactly.
        if (entry.Sparse && entry.SparseData.Valid) {
            std::int64_t end = 0, stored = 0;
            for (const auto& c : entry.SparseData.Map) {
                if (c.Offset < end || c.Size < 0 || c.Offset + c.Size > entry.SparseData.RealSize)
                    std::abort();
                end = c.Offset + c.Size;
                stored += c.Size;
            }
            if (stored != entry.Size)
                std::abort();
        }
        // The headers rebuilt under a new name (an update's rename) stay whole blocks, and the
        // rest of the entry lies inside it.
        std::vector<std::uint8_t> renamed;
        std::int64_t rest = 0;
        if (RenameTarHeaders(read, entry, std::string(entry.Name.size() % 200 + 1, 'r'), renamed, rest) &&
            (renamed.empty() || renamed.size() % TarBlockSize != 0 || rest <= entry.HeaderOffset ||
             rest > entry.NextOffset))
            std::abort();
        last = reader.Offset();
    }
    return 0;
}
