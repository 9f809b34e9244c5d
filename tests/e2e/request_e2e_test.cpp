// The program and a caller as two real processes, talking over the request protocol.
#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"
#include "support/Child.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string Torvo = TORVO_BUILD_DIR "/torvo";
const std::string Caller = TORVO_BUILD_DIR "/tests/app/torvo-caller";

void WriteFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

using testsupport::Child;
using testsupport::Eventually;

// The program or a caller, its output and errors in a file; killed if the test ends first.
Child Spawn(const std::vector<std::string>& args, const fs::path& output)
{
    return Child(args, Child::Output::File, output.string());
}

// The exit code, or -1 when the process still runs after the wait.
int WaitFor(Child& child, std::chrono::milliseconds limit)
{
    return child.Wait(limit).value_or(-1);
}

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/torvo-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        fs::create_directories(dir / "home" / "data");
        fs::create_directories(dir / "run");
        chmod((dir / "run").c_str(), 0700);
        for (const char* media : {"e", "n", "r"})
            fs::create_directories(dir / media);
        WriteFile(dir / "cfg" / "torvo" / "drives", "E: removable label=\"ZALOHA\" " + (dir / "e").string() +
                                                        "\nN: remote " + (dir / "n").string() +
                                                        "\nR: cdrom " + (dir / "r").string() + "\n");
        WriteFile(dir / "home" / "data" / "archivace.dta",
                  win::Utf8ToAnsi("[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIVDRV]A:\\ZALOHY\\\r\n"
                                  "[PATHARCHIV]C:\\ZALOHY\\\r\n[NOTEFIRMA]Firma s.r.o.\r\n"
                                  "[NOTEPROGRAM]Účetnictví\r\n"));
        WriteFile(dir / "home" / "data" / "menu.txt",
                  win::Utf8ToAnsi("[Menu]\r\n{0}Archivace\r\n[Archivace] Archivace dat\r\n"
                                  "~Data|Účetnictví‡5<x>\r\n|Mzdy‡6<y>\r\n[Seznam]\r\n{5}Ucto‡ucto\r\n"));
        // The first menu's first item, the removable drive in the target menu, the backup's box.
        WriteFile(dir / "responses", "0\n Výměnný disk (E):\nOK\n");
        setenv("HOME", (dir / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
        setenv("TORVO_RESPONSES", (dir / "responses").c_str(), 1);
        setenv("TORVO_TRANSCRIPT", (dir / "transcript").c_str(), 1);
        setenv("TORVO_WIDGETSET", "headless", 1);
        unsetenv("TORVO_REGISTRY_HKCU");
        unsetenv("TORVO_REGISTRY_HKLM");
    }
    void TearDown() override
    {
        torvo.Kill();
        fs::remove_all(dir);
    }
    int Call(const std::vector<std::string>& args, std::string& output)
    {
        std::vector<std::string> all{Caller};
        all.insert(all.end(), args.begin(), args.end());
        const fs::path out = dir / ("caller" + std::to_string(++calls));
        Child caller = Spawn(all, out);
        const int rc = WaitFor(caller, testsupport::PeerDeadline);
        caller.Kill();
        output = ReadFile(out);
        return rc;
    }
    fs::path dir;
    Child torvo;
    int calls = 0;
};

TEST_F(Program, ServesOneRequestAndEndsWithTheReply)
{
    torvo = Spawn({Torvo}, dir / "torvo.out");
    ASSERT_TRUE(torvo.Started());
    ASSERT_TRUE(Eventually([] { return FindWindowA("TFormTorvo", nullptr) != 0; }));

    // A second copy ends at once and says nothing.
    Child second = Spawn({Torvo}, dir / "second.out");
    EXPECT_EQ(0, WaitFor(second, testsupport::PeerDeadline));
    EXPECT_EQ("", ReadFile(dir / "second.out"));

    // A definition file that does not exist: no reply, the program keeps waiting.
    std::string output;
    EXPECT_EQ(3, Call({"--command", "1", "--mode", "0", "--definition", "chybi.dta", "--folder", "C:\\data\\",
                       "--timeout", "1.5"},
                      output));
    EXPECT_EQ("", output);
    EXPECT_EQ(-1, WaitFor(torvo, 0ms));
    EXPECT_FALSE(fs::exists(dir / "transcript"));  // nothing was shown

    // An interactive backup request: the first menu, then the target menu.
    const fs::path firstOut = dir / "first.out";
    Child first = Spawn({Caller, "--command", "1", "--mode", "0", "--folder", "C:\\data\\", "--timeout", "60"},
                              firstOut);
    ASSERT_TRUE(Eventually([&] { return ReadFile(dir / "transcript").find("Form\t  archivace\t") != std::string::npos; }));
    const std::string transcript = ReadFile(dir / "transcript");
    EXPECT_NE(std::string::npos, transcript.find("Form\t   Archivace dat\tData\\nÚčetnictví\\nMzdy\t0\n"));
    const std::size_t target = transcript.find("Form\t  archivace\t");
    ASSERT_NE(std::string::npos, target);
    const std::string targetLine = transcript.substr(target, transcript.find('\n', target) - target);
    for (const char* part : {"disketová mechanika\\n Výměnný disk (E):\\n", "mechanika CD\\n Disk CD (R): \\n",
                             "místní disk\\n Místní disk (C): ...Účetnictví\\n", "vzdálená jednotka\\n",
                             "\\n Síťový disk (N):", "\t Výměnný disk (E):"})
        EXPECT_NE(std::string::npos, targetLine.find(part)) << part << " in " << targetLine;
    EXPECT_LT(targetLine.find("disketová"), targetLine.find("mechanika CD"));
    EXPECT_LT(targetLine.find("mechanika CD"), targetLine.find("místní disk"));
    EXPECT_LT(targetLine.find("místní disk"), targetLine.find("vzdálená jednotka"));
    EXPECT_EQ(-1, WaitFor(first, 300ms));  // no reply yet: the run waits for its finish

    // The finish: the reply goes to the run's caller, and the program ends.
    EXPECT_EQ(3, Call({"--command", "999", "--timeout", "1"}, output));
    EXPECT_EQ(0, WaitFor(first, testsupport::PeerDeadline));
    EXPECT_EQ("reply 100\n", ReadFile(firstOut));
    EXPECT_EQ(0, WaitFor(torvo, testsupport::PeerDeadline));
    EXPECT_EQ("torvo: no window on screen; waiting headless for requests\n", ReadFile(dir / "torvo.out"));
}

}  // namespace
