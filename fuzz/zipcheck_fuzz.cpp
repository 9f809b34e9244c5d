// The integrity test over arbitrary files: detection picks the type, the extractor from the one
// table tests it, and every run ends after its reports with nothing left beside the archive. The
// first byte picks the name's extension (some types are told by it); the rest is the file.
#include "fuzz/ExtractFuzz.h"
#include "readers/plxZipCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static constexpr const char* kNames[] = {"in.bin", "in.jar", "in.tgz", "in.uue"};
    if (size < 1)
        return 0;
    const char* name = kNames[data[0] % std::size(kNames)];
    for (const char* other : kNames)
        std::filesystem::remove(fuzzsupport::Root() / other);  // the folder check sees one archive
    fuzzsupport::ExtractInPrivateFolder(name, data + 1, size - 1, [](const auto& archive, const auto&) {
        TZipCheck check;
        check.SetTempDir(fuzzsupport::Root().string());
        check.OnStatus = [](TObject*, const std::string&, bool) {};
        check.OnProgress = fuzzsupport::ProgressBudget();
        check.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
        check.SetArchiveFile(archive.string());
        check.Activate();
    });
    return 0;
}
