// A new TAR of a folder made as the archive manager makes it, with listeners of the whole run's
// progress and time; run under /usr/bin/time -v for its peak memory.
//
//     build/bench/tar_progress_memory ARCHIVE FOLDER [--listed]
//
// --listed adds a listener of the scan's own reports, which still needs every file listed before
// the first is written: the memory of the run as it was before the progress total was counted ahead.
#include "core/plxConsts.h"
#include "platform/win/Paths.h"
#include "writers/plxTar.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3 || argv[1][0] != '/' || argv[2][0] != '/') {
        std::fprintf(stderr, "usage: tar_progress_memory /ARCHIVE /FOLDER [--listed]\n");
        return 2;
    }
    TTar tar;
    std::int64_t events = 0;
    int lastArchive = 0;
    tar.OnProgress = [&](TObject*, std::uint8_t, std::uint8_t archive) {
        ++events;
        lastArchive = archive;
    };
    float seconds = 0;
    tar.OnElapsedTime = [&](TObject*, float elapsed) { seconds = elapsed; };
    if (argc > 3 && std::strcmp(argv[3], "--listed") == 0)
        tar.OnFileScanStatus = [](TObject*, const std::string&, int, std::int64_t) {};
    tar.RecurseDirs = true;
    tar.StoredDirNames = sdRelative;
    tar.RelativeDir = byItem;
    tar.SetFileSpec({win::ToWindowsPath(argv[2]) + "\\*"});
    tar.SetArchiveFile(win::ToWindowsPath(argv[1]));
    const auto start = std::chrono::steady_clock::now();
    const int added = tar.Compress();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d files, %lld progress events, last at %d %%, %.2f s (elapsed event %.2f s)\n", added,
                static_cast<long long>(events), lastArchive, wall, double(seconds));
    return added > 0 && lastArchive == 100 ? 0 : 1;
}
