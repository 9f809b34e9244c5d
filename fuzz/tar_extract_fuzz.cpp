// The TAR, GZip/.Z and bzip2 extractors over arbitrary files: each run must end after its
// reports, and an extraction writes nothing outside its folder. The first byte picks the
// component; the rest is the archive.
#include "fuzz/ExtractFuzz.h"
#include "readers/plxUnBZip.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnTar.h"

namespace {

template <class T>
void RunOn(const std::filesystem::path& archive, const std::filesystem::path& out, bool extract)
{
    T un;
    un.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
    fuzzsupport::RunExtractor(un, archive, out, extract);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool extract = data[0] & 4;
    fuzzsupport::ExtractInPrivateFolder("in.arc", data + 1, size - 1, [&](const auto& archive, const auto& out) {
        switch (data[0] & 3) {
        case 0:
            RunOn<TUnTar>(archive, out, extract);
            break;
        case 1:
            RunOn<TUnGZip>(archive, out, extract);
            break;
        default:
            RunOn<TUnBZip>(archive, out, extract);
            break;
        }
    });
    return 0;
}
