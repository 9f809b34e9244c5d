// plxtool run ARCHIVE MEMBER [--wait] [--with PROGRAM] [-p PASSWORD]: extracts the member into a
// private folder and opens it, with PROGRAM or else through the desktop's opener
// ($TORVO_OPEN_PROGRAM or xdg-open); --wait waits for the started program. A folder whose file a
// started program may still be reading is left for a later run to remove.
#include "tools/plxtool/Commands.h"

#include "platform/win/ShownPath.h"
#include "readers/plxZipRun.h"
#include "tools/plxtool/ToolSupport.h"

#include <cstdio>
#include <cstring>
#include <vector>

int CmdRun(std::span<char*> args)
{
    std::string program;
    std::vector<char*> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (std::strcmp(args[i], "--with") != 0) {
            rest.push_back(args[i]);
        } else if (i + 1 < args.size()) {
            program = args[++i];
        } else {
            return 2;
        }
    }
    static constexpr const char* kFlags[] = {"--wait"};
    std::string password;
    std::vector<std::string> positional, flags;
    if (!plxtool::SplitArguments(rest, password, kFlags, positional, flags) || positional.size() != 2)
        return 2;
    std::string path;
    TArcType type;
    if (!plxtool::DetectArchive(positional[0], path, type))
        return 1;
    plxtool::TExtractRun run;
    TZipRun zipRun;
    zipRun.SetArchiveFile(path);
    plxtool::WireRun(zipRun, run, password);
    zipRun.SetFileSpec({positional[1]});
    zipRun.ExecutionMethod = flags.empty() ? emExecuteNoWait : emExecuteAndWait;
    if (!program.empty()) {
        zipRun.OpenMethod = omOpenWithFile;
        zipRun.CommandLineParams = program;
    }
    const bool started = zipRun.Activate();
    if (!zipRun.RunFile().empty())
        std::printf("%s %s\n", started ? "opened" : "extracted", plxtool::Shown(ShownPath(zipRun.RunFile())).c_str());
    zipRun.KeepRunFolders();
    return started && run.Failures == 0 ? 0 : 1;
}
