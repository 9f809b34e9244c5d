// plxtool extract ARCHIVE DIR [-p PASSWORD] [--overwrite]: members below DIR with their folders,
// dates and attributes; existing files are kept (and counted as skipped) unless --overwrite.
#include "tools/plxtool/Commands.h"

#include "core/UnBase.h"

#include <cstdio>
#include <filesystem>
#include <vector>

int CmdExtract(std::span<char*> args)
{
    static constexpr const char* kFlags[] = {"--overwrite"};
    std::string password;
    std::vector<std::string> positional, flags;
    if (!plxtool::SplitArguments(args, password, kFlags, positional, flags) || positional.size() != 2)
        return 2;
    plxtool::TExtractRun run;
    if (!plxtool::PrepareExtractRun(run, positional[0], password))
        return 1;
    std::error_code ec;
    std::filesystem::create_directories(positional[1], ec);
    const auto dir = std::filesystem::absolute(positional[1], ec).lexically_normal();
    TUnBase& z = *run.Extractor;
    z.SetExtractDir(dir.string());
    z.CreateStoredDirs = true;
    z.UseStoredDirs = true;
    // Asked for each file that exists, so that the files kept are counted and said.
    const TOverwriteMode mode = flags.empty() ? omSkip : omOverwrite;
    int skipped = 0;
    z.ConfirmOverwrites = true;
    z.OnFileExists = [mode, &skipped](TObject*, const std::string&, std::string&, TOverwriteMode& answer) {
        answer = mode;
        skipped += mode == omSkip ? 1 : 0;
    };
    const int count = z.Extract();
    if (skipped > 0)
        std::printf("extracted %d, skipped %d, reports %d\n", count, skipped, run.Failures);
    else
        std::printf("extracted %d, reports %d\n", count, run.Failures);
    return run.Failures == 0 ? 0 : 1;
}
