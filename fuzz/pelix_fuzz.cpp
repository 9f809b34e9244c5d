// The listing's header walks over arbitrary bytes: the first byte picks the format, the rest is the
// archive. Every walk must end, stay inside the file and keep its comment bounded.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "fuzz/ExtractFuzz.h"
#include "readers/Pelix.h"

namespace {

constexpr TArcType kTypes[] = {atZip, atZipMV, atJar, atTar, atGZip, atBz2, atLha,  atArj, atZoo,
                               atArc, atPak,   atBh,  atHA,  atAce,  atCab, atMsGZ, atUUE, atB64};

class TFuzzPelix : public TPelix {
public:
    explicit TFuzzPelix(TArcType Type) : Forced(Type) {}
    TArcType GetArcType(TStream32&) override
    {
        ArchiveOffset = 0;
        return Forced;
    }
    TArcType Forced;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    static const std::string path = (fuzzsupport::Root() / "archive.bin").string();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }
    TFuzzPelix pelix(kTypes[data[0] % std::size(kTypes)]);
    int entries = 0;
    pelix.ShowEmptyDirs = (data[0] & 0x80) != 0;
    pelix.OnRead = [&](TObject* sender, std::int64_t, int) {
        ++entries;
        auto& p = *static_cast<TPelix*>(sender);
        if (p.Comment().size() >= std::size_t(TPelix::kCommentBufferSize) || p.PackedSize < 0)
            std::abort();
    };
    pelix.SetArchiveFile(path);
    pelix.Activate();
    if (std::size_t(entries) > size + 1)  // every entry takes at least one byte of the file
        std::abort();
    return 0;
}
