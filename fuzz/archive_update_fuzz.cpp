// Deleting from an existing archive reads its whole directory and copies every kept entry, so a
// damaged archive must end in a clean error, never in a crash or an endless copy.
// The first byte picks the writer (ZIP, TAR, TAR+gzip, TAR+bzip2); the rest is the archive.
#include "fuzz/ExtractFuzz.h"
#include "writers/plxTar.h"
#include "writers/plxTarBZ.h"
#include "writers/plxTarGZ.h"
#include "writers/plxZip.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

template <class Writer>
void DeleteFrom(const std::string& enginePath)
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
    static const char* const extensions[] = {".zip", ".tar", ".tgz", ".tbz"};
    const int kind = data[0] & 3;
    static const std::string stem = (fuzzsupport::Root() / "archive").string();
    const std::string path = stem + extensions[kind];
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }
    std::string enginePath = "Z:" + path;
    for (char& c : enginePath)
        if (c == '/')
            c = '\\';
    switch (kind) {
    case 0:
        DeleteFrom<TZip>(enginePath);
        break;
    case 1:
        DeleteFrom<TTar>(enginePath);
        break;
    case 2:
        DeleteFrom<TTarGZ>(enginePath);
        break;
    default:
        DeleteFrom<TTarBZ>(enginePath);
        break;
    }
    std::remove(path.c_str());
    return 0;
}
