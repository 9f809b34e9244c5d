// The commands that live in files of their own; each takes the arguments after its name and
// answers the exit status (0 success, 1 failure, 2 usage).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

class TUnBase;

int CmdTest(std::span<char*> args);
int CmdExtract(std::span<char*> args);

namespace plxtool {

// An extractor for the archive (ZIP, JAR, TAR, GZip/.Z, bzip2, LHA, RAR, ACE; a TAR inside a compressed file is
// extracted in its place), wired to print every report to stderr with its
// number and text and to count failures (an entry passed over on purpose is none); null (after a message) when the type is not one of them.
struct TExtractRun {
    std::unique_ptr<TUnBase> Extractor;
    int Failures = 0;
    int Passed = 0;
};
bool PrepareExtractRun(TExtractRun& Run, const std::string& Archive, const std::string& Password);
// "-p PASSWORD" and the flags named in Flags are taken out of args; the rest stay in Positional.
bool SplitArguments(std::span<char*> args, std::string& Password, std::span<const char* const> Flags,
                    std::vector<std::string>& Positional, std::vector<std::string>& FlagsSeen);

}  // namespace plxtool
