// plxtool test ARCHIVE [-p PASSWORD]: decodes every member and checks it through the integrity
// test; one line per member ("ok" or "FAILED", a TAB, its name), then the totals.
#include "tools/plxtool/Commands.h"

#include "readers/plxZipCheck.h"
#include "tools/plxtool/ToolSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <vector>

int CmdTest(std::span<char*> args)
{
    std::string password;
    std::vector<std::string> positional, flags;
    if (!plxtool::SplitArguments(args, password, {}, positional, flags) || positional.size() != 1)
        return 2;
    std::string path;
    TArcType type;
    if (!plxtool::DetectArchive(positional[0], path, type))
        return 1;
    plxtool::TExtractRun run;
    TZipCheck check;
    check.SetArchiveFile(path);
    plxtool::WireRun(check, run, password);
    int failed = 0;
    check.OnStatus = [&run, &failed](TObject*, const std::string& name, bool pass) {
        run.Passed += pass ? 1 : 0;
        failed += pass ? 0 : 1;
        // A line per member of archives with 100,000 of them: no format to parse each time.
        const std::string_view verdict = pass ? "ok\t" : "FAILED\t";
        fwrite_unlocked(verdict.data(), 1, verdict.size(), stdout);
        plxtool::WriteShown(std::string_view(name.c_str()), stdout);
        fputc_unlocked('\n', stdout);
    };
    // Lines go out in large writes when they go to a file or a pipe; a terminal still sees each.
    static char lines[1 << 16];
    if (!isatty(fileno(stdout)))
        std::setvbuf(stdout, lines, _IOFBF, sizeof lines);
    // A member whose password failed was tested too, though the run does not count it.
    const int answered = check.Activate();
    const int count = std::max(answered, run.Passed + failed);
    std::printf("tested %d, passed %d, reports %d\n", count, run.Passed, run.Failures);
    return run.Failures == 0 && failed == 0 ? 0 : 1;
}
