// The commands that live in files of their own; each takes the arguments after its name and
// answers the exit status (0 success, 1 failure, 2 usage).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/plxConsts.h"

class TUnBase;

int CmdTest(std::span<char*> args);
int CmdExtract(std::span<char*> args);
int CmdRun(std::span<char*> args);

namespace plxtool {

// An extractor for the archive (any type that has one; a TAR inside a compressed file is
// extracted in its place), wired by WireRun; false (after a message) when the type has none.
struct TExtractRun {
    std::unique_ptr<TUnBase> Extractor;
    int Failures = 0;
    int Passed = 0;
};
bool PrepareExtractRun(TExtractRun& Run, const std::string& Archive, const std::string& Password);
// The archive's engine path and detected type; false (after a message) when it is no file.
bool DetectArchive(const std::string& Archive, std::string& Path, TArcType& Type);
// Every report printed to stderr with its number and text and counted in Run.Failures (an entry
// passed over on purpose is none); the password of the command line offered once; nested TARs
// followed; split volumes taken where their names say.
void WireRun(TUnBase& Component, TExtractRun& Run, const std::string& Password);
// "-p PASSWORD" and the flags named in Flags are taken out of args; the rest stay in Positional.
bool SplitArguments(std::span<char*> args, std::string& Password, std::span<const char* const> Flags,
                    std::vector<std::string>& Positional, std::vector<std::string>& FlagsSeen);

}  // namespace plxtool
