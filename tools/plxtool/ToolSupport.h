// What the plxtool commands share: error output and host paths given on the command line.
#pragma once

#include <span>
#include <string>

class TObject;

namespace plxtool {

constexpr int kOk = 0, kFailure = 1, kUsage = 2;

// "plxtool: NUMBER TEXT: FILE [EXTENDED]" on stderr.
void PrintError(int Code, const std::string& File, const std::string& Extended);
// A host path as the engine takes it: absolute (read as Z:), "." and ".." resolved.
std::string EnginePath(const std::string& HostPath);
// The question on stderr, answered on stdin: Enter goes on; "q" or the end of the input cancels.
bool Confirm(const std::string& Question);

}  // namespace plxtool

int CmdAdd(std::span<char*> args);
int CmdDelete(std::span<char*> args);
