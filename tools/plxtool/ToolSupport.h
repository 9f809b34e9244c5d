// What the plxtool commands share: error output and host paths given on the command line.
#pragma once

#include <span>
#include <string>
#include <string_view>

class TObject;

namespace plxtool {

constexpr int kOk = 0, kFailure = 1, kUsage = 2;

// "plxtool: NUMBER TEXT: FILE [EXTENDED]" on stderr, the names as Shown gives them and FILE in
// the host's form, as the window shows it.
void PrintError(int Code, const std::string& File, const std::string& Extended);
// A name from an archive as it may reach a terminal: control characters (and the C1 controls of
// UTF-8) in caret or hex form, as unzip shows them, so a hostile name cannot drive the terminal.
std::string Shown(std::string_view Name);
// The same appended to Out, without a copy of a name that needs no change (a line per member of
// archives with 100,000 of them).
void AppendShown(std::string& Out, std::string_view Name);
// A host path as the engine takes it: absolute (read as Z:), "." and ".." resolved.
std::string EnginePath(const std::string& HostPath);
// The question on stderr, answered on stdin: Enter goes on; "q" or the end of the input cancels.
bool Confirm(const std::string& Question);

}  // namespace plxtool

int CmdAdd(std::span<char*> args);
int CmdDelete(std::span<char*> args);
