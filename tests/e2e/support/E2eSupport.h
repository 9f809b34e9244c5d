// What every end-to-end test needs: a private world for the program (home, configuration, runtime
// folder, drive table, scripted answers, transcript), the program and its callers as real
// processes with bounded waits, and the tools as oracles.
#pragma once

#include "support/Child.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;
using testsupport::Child;
using testsupport::Eventually;

extern const std::string TorvoProgram;
extern const std::string CallerProgram;
extern const std::string FakeInternetProgram;
extern const std::string FakeMailProgram;

inline void WriteFile(const fs::path& path, const std::string& text)
{
    WriteText(path, text);
}
inline std::string ReadFile(const fs::path& path)
{
    return ReadText(path);
}
// Output and errors of a shell command line; status gets its exit code.
std::string Shell(const std::string& command, int* status = nullptr);
std::string Quoted(const fs::path& path);

// base + "_" + "yyyy-mm-dd" + "(" + "hh-mm" + ")" + extension, as dated archive names are made.
bool IsDatedName(const std::string& name, const std::string& base, const std::string& extension);
// Info-ZIP's test of the archive passes.
void ExpectUnzipTestPasses(const fs::path& archive);

// A process whose output and errors go to a file; killed if the test ends first.
Child Spawn(const std::vector<std::string>& args, const fs::path& output);
// The exit code, or -1 when the process still runs after the wait.
int WaitFor(Child& child, std::chrono::milliseconds limit = testsupport::PeerDeadline);

class Session : public ::testing::Test {
protected:
    // dir/home is C:, dir/tmp the temporary folder, the drive table holds what SetDrives gives;
    // everything the program shows is answered from dir/responses and logged to dir/transcript.
    void SetUp() override;
    void TearDown() override;

    fs::path Home() const { return dir / "home"; }
    // Lines "X: type [options] <host folder>" of the drive table.
    void SetDrives(const std::string& lines);
    void SetResponses(const std::string& lines);
    // Writes the definition file (Windows-1250) and the menu file into dir/home/data.
    void WriteDefinition(const std::string& definitionUtf8, const std::string& menuUtf8);
    std::string Transcript() const { return ReadFile(dir / "transcript"); }
    // True once the transcript holds the text.
    bool TranscriptShows(const std::string& text) const;

    // Starts the program and waits for its window.
    bool StartTorvo();
    // Runs a caller to its end; its output in `output`, its exit code returned.
    int Call(const std::vector<std::string>& args, std::string& output);
    // Starts the program, sends one request and returns the caller's output once both have ended.
    std::string Serve(const std::vector<std::string>& args);
    // Starts a caller that keeps waiting for its reply; its output goes to `output`.
    Child StartCaller(const std::vector<std::string>& args, const fs::path& output);
    // The program's exit code once it has ended (-1 while it runs after the wait).
    int TorvoExit(std::chrono::milliseconds limit = testsupport::PeerDeadline) { return WaitFor(torvo, limit); }

    fs::path dir;
    Child torvo;
    int calls = 0;
};

}  // namespace e2e
