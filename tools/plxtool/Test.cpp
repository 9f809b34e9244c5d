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
    // A line per member of archives with 100,000 of them: gathered and written in large blocks to
    // a file or a pipe; a terminal still sees each line as its member is done.
    constexpr std::size_t kBlock = 1 << 16;
    const bool eachLine = isatty(fileno(stdout));
    std::string lines;
    lines.reserve(kBlock + 4096);
    static char block[kBlock];
    if (!eachLine)
        std::setvbuf(stdout, block, _IOFBF, sizeof block);
    const auto flush = [&lines, eachLine] {
        fwrite_unlocked(lines.data(), 1, lines.size(), stdout);
        lines.clear();
        if (eachLine)
            std::fflush(stdout);
    };
    check.OnStatus = [&](TObject*, const std::string& name, bool pass) {
        run.Passed += pass ? 1 : 0;
        failed += pass ? 0 : 1;
        lines.append(pass ? std::string_view("ok\t") : std::string_view("FAILED\t"));
        plxtool::AppendShown(lines, std::string_view(name.c_str()));
        lines.push_back('\n');
        if (eachLine || lines.size() >= kBlock)
            flush();
    };
    // A member whose password failed was tested too, though the run does not count it.
    const int answered = check.Activate();
    flush();
    const int count = std::max(answered, run.Passed + failed);
    std::printf("tested %d, passed %d, reports %d\n", count, run.Passed, run.Failures);
    return run.Failures == 0 && failed == 0 ? 0 : 1;
}
