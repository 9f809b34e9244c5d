// The TAR, GZip/.Z and bzip2 extractors over arbitrary files: each run must end after its
// reports, and an extraction writes nothing outside its folder. The first byte picks the
// component; the rest is the archive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "readers/plxUnBZip.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnTar.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Root()
{
    static const fs::path root = [] {
        std::string pattern = (fs::temp_directory_path() / "torvo-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        return fs::path(pattern);
    }();
    return root;
}

template <class T> void RunOn(const fs::path& archive, const fs::path& out, bool extract)
{
    T un;
    un.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
    un.SetFileSpec({"*.*"});
    un.CreateStoredDirs = true;
    un.SetTempDir(Root().string());
    un.SetArchiveFile(archive.string());
    un.SetExtractDir(out.string());
    if (extract)
        un.Extract();
    else
        un.TestArchive();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const fs::path archive = Root() / "in.arc";
    const fs::path out = Root() / "out";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
    fs::remove_all(out);
    fs::create_directories(out);
    const bool extract = data[0] & 4;
    switch (data[0] & 3) {
    case 0: RunOn<TUnTar>(archive, out, extract); break;
    case 1: RunOn<TUnGZip>(archive, out, extract); break;
    default: RunOn<TUnBZip>(archive, out, extract); break;
    }
    // Only the archive and the output folder may be left in the private folder.
    for (const auto& e : fs::directory_iterator(Root()))
        if (e.path() != archive && e.path() != out)
            std::abort();
    return 0;
}
