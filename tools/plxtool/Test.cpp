// plxtool test ARCHIVE [-p PASSWORD]: decodes every member and checks its CRC.
#include "tools/plxtool/Commands.h"

#include "readers/plxUnZIP.h"

#include <cstdio>
#include <vector>

int CmdTest(std::span<char*> args)
{
    std::string password;
    std::vector<std::string> positional, flags;
    if (!plxtool::SplitArguments(args, password, {}, positional, flags) || positional.size() != 1)
        return 2;
    plxtool::TExtractRun run;
    if (!plxtool::PrepareExtractRun(run, positional[0], password))
        return 1;
    const int count = run.Extractor->TestArchive();
    std::printf("tested %d, passed %d, reports %d\n", count, run.Passed, run.Failures);
    return run.Failures == 0 ? 0 : 1;
}
