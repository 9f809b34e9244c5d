// The ZIP extractor over arbitrary bytes written to a temporary archive: no crash, no hang,
// nothing written outside the temporary target folder, output bounded by the declared sizes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "readers/plxUnZIP.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    static const fs::path base = fs::temp_directory_path() / ("unzip_fuzz_" + std::to_string(::getpid()));
    fs::remove_all(base);
    const fs::path target = base / "out";
    fs::create_directories(target);
    const fs::path archive = base / "in.zip";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));

    TUnZip z;
    z.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int) {};
    z.SetPassword("password");
    z.PasswordAttempts = 1;
    z.OnGetPassword = [](TObject*, const std::string&, std::string&, TSeedKeyRecord&, TSeedKeyRecord&, bool& again) {
        again = false;
    };
    z.OnNextVolume = [](TObject*, std::string&, int, bool, bool& cancel) { cancel = true; };
    // Declared sizes bound the output; a tiny archive must not fill the disk either.
    std::int64_t written = 0;
    z.OnProgress = [&](TObject*, std::uint8_t, std::uint8_t) {
        if ((written += 32768) > (std::int64_t(1) << 28))
            z.SetCancel(true);
    };
    z.SetArchiveFile(archive.string());
    if (z.ArcType() == atNA || z.ArcType() == atUnknown || z.ArcType() == atUnsupported)
        z.SetArcType(atZip);
    z.SetExtractDir(target.string());
    z.CreateStoredDirs = true;
    z.Extract();
    // Hostile names may only ever land below the target folder.
    for (const auto& e : fs::directory_iterator(base))
        if (e.path() != target && e.path() != archive)
            __builtin_trap();
    fs::remove_all(base);
    return 0;
}
