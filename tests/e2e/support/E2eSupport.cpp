#include "e2e/support/E2eSupport.h"

#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

const std::string TorvoProgram = TORVO_BUILD_DIR "/torvo";
const std::string CallerProgram = TORVO_BUILD_DIR "/tests/app/torvo-caller";
const std::string FakeInternetProgram = TORVO_BUILD_DIR "/tests/app/fake-qnet";
const std::string FakeMailProgram = TORVO_BUILD_DIR "/tests/app/fake-dastel";

std::string Shell(const std::string& command, int* status)
{
    std::string out;
    if (FILE* p = popen(("(" + command + ") 2>&1 </dev/null").c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        const int rc = pclose(p);
        if (status)
            *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    return out;
}

std::string Quoted(const fs::path& path)
{
    std::string out = "'";
    for (char c : path.string())
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool IsDatedName(const std::string& name, const std::string& base, const std::string& extension)
{
    const std::string shape = "_0000-00-00(00-00)";
    if (name.size() != base.size() + shape.size() + extension.size() || name.rfind(base, 0) != 0 ||
        name.substr(name.size() - extension.size()) != extension)
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = name[base.size() + i];
        if (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(c)) : c != shape[i])
            return false;
    }
    return true;
}

void ExpectUnzipTestPasses(const fs::path& archive)
{
    int status = -1;
    const std::string test = Shell("unzip -t " + Quoted(archive), &status);
    EXPECT_EQ(0, status) << test;
}

Child Spawn(const std::vector<std::string>& args, const fs::path& output)
{
    return Child(args, Child::Output::File, output.string());
}

int WaitFor(Child& child, std::chrono::milliseconds limit)
{
    return child.Wait(limit).value_or(-1);
}

void Session::SetUp()
{
    char pattern[] = "/tmp/torvo-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    fs::create_directories(Home() / "data");
    fs::create_directories(dir / "run");
    chmod((dir / "run").c_str(), 0700);
    fs::create_directories(dir / "tmp");
    SetDrives("");
    SetResponses("");
    setenv("HOME", Home().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    setenv("TORVO_RESPONSES", (dir / "responses").c_str(), 1);
    setenv("TORVO_TRANSCRIPT", (dir / "transcript").c_str(), 1);
    setenv("TORVO_WIDGETSET", "headless", 1);
    unsetenv("TORVO_REGISTRY_HKCU");
    unsetenv("TORVO_REGISTRY_HKLM");
}

void Session::TearDown()
{
    torvo.Kill();
    if (!getenv("KEEP_E2E"))
        fs::remove_all(dir);
}

void Session::SetDrives(const std::string& lines)
{
    WriteFile(dir / "cfg" / "torvo" / "drives", lines);
}

void Session::SetResponses(const std::string& lines)
{
    WriteFile(dir / "responses", lines);
}

void Session::WriteDefinition(const std::string& definitionUtf8, const std::string& menuUtf8)
{
    WriteFile(Home() / "data" / "archivace.dta", win::Utf8ToAnsi(definitionUtf8));
    WriteFile(Home() / "data" / "menu.txt", win::Utf8ToAnsi(menuUtf8));
}

bool Session::TranscriptShows(const std::string& text) const
{
    return Transcript().find(text) != std::string::npos;
}

bool Session::StartTorvo()
{
    torvo = Spawn({TorvoProgram}, dir / "torvo.out");
    return torvo.Started() && Eventually([] { return FindWindowA("TFormTorvo", nullptr) != 0; });
}

int Session::Call(const std::vector<std::string>& args, std::string& output)
{
    const fs::path out = dir / ("caller" + std::to_string(++calls));
    Child caller = StartCaller(args, out);
    const int rc = WaitFor(caller);
    caller.Kill();
    output = ReadFile(out);
    return rc;
}

std::string Session::Serve(const std::vector<std::string>& args)
{
    EXPECT_TRUE(StartTorvo());
    std::string output;
    EXPECT_EQ(0, Call(args, output));
    EXPECT_EQ(0, TorvoExit());
    return output;
}

Child Session::StartCaller(const std::vector<std::string>& args, const fs::path& output)
{
    std::vector<std::string> all{CallerProgram};
    all.insert(all.end(), args.begin(), args.end());
    return Spawn(all, output);
}

}  // namespace e2e
