// Splitting a damaged archive reads its whole directory and copies every entry over volumes, so
// it must end in a clean error or a complete set inside its own folder: no crash, no endless copy,
// no file written elsewhere.
#include "fuzz/ExtractFuzz.h"
#include "writers/plxArchiveSplitter.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    static const std::filesystem::path folder = fuzzsupport::Root();
    std::filesystem::create_directories(folder / "out");
    const std::filesystem::path source = folder / "source.zip";
    if (FILE* f = std::fopen(source.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    auto engine = [](const std::filesystem::path& p) {
        std::string s = "Z:" + p.string();
        for (char& c : s)
            if (c == '/')
                c = '\\';
        return s;
    };
    TArchiveSplitter splitter;
    splitter.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int) {};
    splitter.OnFileExists = [](TObject*, const std::string&, bool& overwrite) { overwrite = true; };
    splitter.OnSplitDeleteVolume = [](TObject*, const std::string&, bool& toBin) { toBin = false; };
    splitter.SetArchiveFile(engine(source));
    splitter.SplitArchiveFile = engine(folder / "out" / "set.zip");
    splitter.PartSize = 65536;
    (void)splitter.SplitZip();
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path() != source && e.path() != folder / "out")
            std::abort();  // a volume or temporary file outside the target folder
    std::filesystem::remove_all(folder / "out");
    return 0;
}
