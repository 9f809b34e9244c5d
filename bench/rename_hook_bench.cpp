// A new ZIP of N small files with a listener of OnRenameFile that renames every one, against the
// same run with no listener: the rename's check that the new name is free must not grow with the
// number of entries.
//
//     build/bench/rename_hook_bench /FOLDER [N]
//
// FOLDER (made when missing) receives N files of 10 bytes and the archives.
#include "core/plxConsts.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "writers/plxZip.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

double Run(const std::string& Folder, const std::string& Archive, bool Rename, int& Added)
{
    fs::remove(Folder + "/" + Archive);
    TZip zip;
    zip.CompressMethod = cmStore;
    zip.SetFileSpec({win::ToWindowsPath(Folder + "/files") + "\\*"});
    zip.SetArchiveFile(win::ToWindowsPath(Folder + "/" + Archive));
    if (Rename)
        zip.OnRenameFile = [](TObject*, const std::string& Name, std::string& NewName) {
            NewName = win::ExtractFilePath(Name) + "r-" + win::ExtractFileName(Name);
        };
    const auto start = std::chrono::steady_clock::now();
    Added = zip.Compress();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] != '/') {
        std::fprintf(stderr, "usage: rename_hook_bench /FOLDER [N]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 20000;
    fs::create_directories(folder + "/files");
    for (int i = 0; i < count; ++i) {
        const std::string path = folder + "/files/f" + std::to_string(i) + ".txt";
        if (!fs::exists(path))
            std::ofstream(path) << "0123456789";
    }
    int plain = 0, renamed = 0;
    const double plainTime = Run(folder, "plain.zip", false, plain);
    const double renamedTime = Run(folder, "renamed.zip", true, renamed);
    std::printf("%d files: no listener %.2f s, every file renamed %.2f s, ratio %.2f\n", count, plainTime,
                renamedTime, renamedTime / plainTime);
    return plain == count && renamed == count ? 0 : 1;
}
