// Arbitrary bytes as a stored name, under every format's rules: whatever is let through stays
// below the extraction folder, and the stricter rules never let through more or map it elsewhere.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/OutputNames.h"

namespace {

bool StaysBelow(const TOutputName& Out)
{
    if (!Out.Allowed || Out.FolderItself)
        return Out.Relative.empty();
    const std::string& r = Out.Relative;
    if (r.empty() || r.front() == '\\' || r.find_first_of("/:") != std::string::npos)
        return false;
    std::size_t start = 0;
    while (start <= r.size()) {
        const std::size_t end = std::min(r.find('\\', start), r.size());
        const std::string_view part = std::string_view(r).substr(start, end - start);
        if (part.find_first_not_of(". ") == std::string_view::npos)
            return false;  // empty, ".", ".." or what a host reads as ".."
        start = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string stored(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 8192));
    const TOutputName below = DecideOutputName(stored, {}, true);
    const TOutputName dos = DecideOutputName(stored, kDosFullPaths, true);
    const TOutputName strict = DecideOutputName(stored, kRelativeNamesOnly, true);
    if (!StaysBelow(below) || !StaysBelow(dos) || !StaysBelow(strict))
        std::abort();
    if ((strict.Allowed && (!dos.Allowed || dos.Relative != strict.Relative)) ||
        (dos.Allowed && (!below.Allowed || below.Relative != dos.Relative)))
        std::abort();
    if (strict.Allowed && NameLeavesTarget(stored))
        std::abort();
    // A plain name's fast answer is the part-by-part decision's.
    for (const bool folders : {true, false}) {
        std::string fast;
        const TOutputName full = DecideOutputNameInFull(stored, kRelativeNamesOnly, folders);
        if (AppendPlainOutputName(stored, folders, fast) && (!full.Allowed || full.FolderItself || fast != full.Relative))
            std::abort();
    }
    const TOutputName flat = DecideOutputName(stored, {}, false);
    if (!StaysBelow(flat) || flat.Relative.find('\\') != std::string::npos)
        std::abort();
    return 0;
}
