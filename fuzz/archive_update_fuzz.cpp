// Deleting from an existing archive reads its whole directory and copies every kept entry, so a
// damaged archive must end in a clean error, never in a crash or an endless copy.
// The first byte picks the writer (ZIP or TAR); the rest is the archive.
#include "writers/Tar.h"
#include "writers/plxZip.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

template <class Writer> void DeleteFrom(const std::string& enginePath)
{
    Writer writer;
    writer.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int) {};
    writer.DeleteOptions = doFinal;
    writer.Switch = swDelete;
    writer.SetFileSpec({"*a*"});
    writer.SetArchiveFile(enginePath);
    (void)writer.Compress();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    const bool tar = data[0] & 1;
    static const std::string stem = "/tmp/archive_update_fuzz_" + std::to_string(getpid());
    const std::string path = stem + (tar ? ".tar" : ".zip");
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }
    std::string enginePath = "Z:" + path;
    for (char& c : enginePath)
        if (c == '/')
            c = '\\';
    if (tar)
        DeleteFrom<TTar>(enginePath);
    else
        DeleteFrom<TZip>(enginePath);
    std::remove(path.c_str());
    return 0;
}
