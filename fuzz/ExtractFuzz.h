// What the extractor fuzz targets share: a private folder, one run of an extractor over a file
// in it, and the check that nothing but the archive and the output folder is left there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "core/ZipCommon.h"

namespace fuzzsupport {

// The process's own folder under $TMPDIR, removed when the process ends normally (a crash keeps
// it, with the evidence).
inline const std::filesystem::path& Root()
{
    struct TFolder {
        std::filesystem::path Path;
        TFolder()
        {
            std::string pattern = (std::filesystem::temp_directory_path() / "torvo-fuzz-XXXXXX").string();
            if (!mkdtemp(pattern.data()))
                std::abort();
            Path = pattern;
        }
        ~TFolder()
        {
            std::error_code ec;
            std::filesystem::remove_all(Path, ec);
        }
    };
    static const TFolder folder;
    return folder.Path;
}

// Writes Size bytes as Root()/Name, runs Run(archive, output folder), then checks the folder.
template <class TRun>
void ExtractInPrivateFolder(const char* Name, const std::uint8_t* Data, std::size_t Size, TRun Run)
{
    namespace fs = std::filesystem;
    const fs::path archive = Root() / Name;
    const fs::path out = Root() / "out";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(Data), std::streamsize(Size));
    fs::remove_all(out);
    fs::create_directories(out);
    Run(archive, out);
    for (const auto& e : fs::directory_iterator(Root()))
        if (e.path() != archive && e.path() != out)
            std::abort();
}

// A progress handler that cancels the reporting extractor after 256 reports: a few KB of archive
// may unpack to gigabytes, which is no fault but would spend the run's time and fill its folder.
inline TOnProgress ProgressBudget()
{
    return [reports = 0](TObject* Sender, std::uint8_t, std::uint8_t) mutable {
        if (++reports > 256)
            static_cast<TZipCommon*>(Sender)->SetCancel(true);
    };
}

// One extraction (or test) run of an extractor of type T.
template <class T>
void RunExtractor(T& Un, const std::filesystem::path& Archive, const std::filesystem::path& Out, bool Extract)
{
    Un.OnProgress = ProgressBudget();
    Un.SetFileSpec({"*.*"});
    Un.CreateStoredDirs = true;
    Un.SetTempDir(Root().string());
    Un.SetArchiveFile(Archive.string());
    Un.SetExtractDir(Out.string());
    if (Extract)
        Un.Extract();
    else
        Un.TestArchive();
}

}  // namespace fuzzsupport
