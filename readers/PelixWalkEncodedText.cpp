// UU, XX and Base64 files: one entry, the whole file, under the name the text announces.
#include <algorithm>

#include "core/EncodedText.h"
#include "readers/Pelix.h"

namespace {

constexpr std::size_t kMaxName = 255;

class TEncodedTextWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override;
};

void TEncodedTextWalker::Open(TPelixWalk& Walk)
{
    const std::int64_t size = Walk.Pelix().ArchiveSize;
    std::string text(std::size_t(std::min<std::int64_t>(size, TPelix::kHeaderBufferSize)), '\0');
    text.resize(std::size_t(Walk.ReadAt(0, text.data(), std::int64_t(text.size()))));
    std::string stored;
    EncodedTextType(text, &stored);
    TPelixEntry entry;
    entry.Name = Walk.OemName(stored.substr(0, kMaxName));
    entry.Date = Walk.ArchiveFileDate();
    entry.Packed = entry.Unpacked = size;
    entry.NoMethodName = true;
    entry.ExternalAttr = 32;
    entry.RatioZero = true;
    Walk.ListWhole(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeEncodedTextWalker()
{
    return std::make_unique<TEncodedTextWalker>();
}
