// ZIP records over arbitrary bytes: the directory search, the central and local header reads and
// the extra-field walk must stay inside the input and every walk must move forward.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/ZipRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto archiveSize = std::int64_t(size);
    const TReadAt read = MemoryZipReader(data, size);

    TZipSizes sizes{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF};
    TZipExtraInfo info;
    ParseExtraField(data, size, true, sizes, info);
    if (info.UnicodeName && info.UnicodeName->size() > 511)
        std::abort();

    TZipEnding ending;
    const std::int64_t start = FindZipEnding(read, archiveSize, ending);
    if (start >= archiveSize)
        std::abort();
    std::int64_t count = 0;
    std::vector<std::int64_t> next;
    WalkCentralDirectory(read, archiveSize, ending, [&](const TZipEntry& e) {
        if (e.NextPos <= e.HeaderPos || e.NextPos > archiveSize || ++count > archiveSize / 46)
            std::abort();
        next.push_back(e.NextPos);
        return true;
    });
    // In blocks (small ones, so that entries cross their ends) the walk finds the same entries.
    std::size_t seen = 0;
    WalkCentralDirectory(
        read, archiveSize, ending,
        [&](const TZipEntry& e) {
            if (seen >= next.size() || e.NextPos != next[seen++])
                std::abort();
            return true;
        },
        100);
    if (seen != next.size())
        std::abort();

    // Local headers one after another, as a reader without a directory walks them.
    TZipCipher cipher(kHeaderKeySet);
    TZipLocalEntry local;
    std::int64_t pos = ending.FirstLocalPos;
    while (pos >= 0 && ReadLocalEntry(read, archiveSize, pos, cipher, local)) {
        if (local.DataPos <= pos || local.DataPos > archiveSize)
            std::abort();
        pos = local.DataPos + std::int64_t(local.Header.PackedSize);
    }
    return 0;
}
