// The UU, XX and Base64 decoder over arbitrary text: each run ends after its reports and writes
// nothing outside its folder. The first byte picks the run (test or extract, the algorithm, the
// header line limit, whether the same text stands as the next volume too); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/ExtractFuzz.h"
#include "readers/plxUUDecode.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const fs::path file = fuzzsupport::Root() / "in.uue";
    const fs::path out = fuzzsupport::Root() / "out";
    const fs::path next = fuzzsupport::Root() / "in.uu1";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
    // A second volume brings in the part lines and the checks between volumes.
    if (data[0] & 16)
        fs::copy_file(file, next, fs::copy_options::overwrite_existing);
    else
        fs::remove(next);
    fs::remove_all(out);
    fs::create_directories(out);
    TUUDecode z;
    z.Algorithm = TDecodeMethod(data[0] % 3);
    z.MaxHeaderLines = (data[0] & 8) ? 3 : 100;
    z.SetArchiveFile(file.string());
    z.SetExtractDir(out.string());
    if (data[0] & 4)
        z.Extract();
    else
        z.TestArchive();
    for (const auto& e : fs::directory_iterator(fuzzsupport::Root()))
        if (e.path() != file && e.path() != out && e.path() != next)
            std::abort();
    return 0;
}
