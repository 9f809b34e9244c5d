// plxtool extract ARCHIVE DIR [-p PASSWORD] [--overwrite]: members below DIR with their folders,
// dates and attributes; existing files are kept unless --overwrite.
#include "tools/plxtool/Commands.h"

#include "readers/plxUnZIP.h"

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
    TUnZip& z = *run.Extractor;
    z.SetExtractDir(dir.string());
    z.CreateStoredDirs = true;
    z.UseStoredDirs = true;
    z.OverwriteMode = flags.empty() ? omSkip : omOverwrite;
    const int count = z.Extract();
    std::printf("extracted %d, reports %d\n", count, run.Failures);
    return run.Failures == 0 ? 0 : 1;
}
