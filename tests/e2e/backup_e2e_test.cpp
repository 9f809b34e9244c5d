// Backups through the request protocol: the program and its caller as two real processes, the
// archives checked with Info-ZIP.
#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

pid_t Spawn(const std::vector<std::string>& args, const fs::path& output)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int WaitFor(pid_t pid, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (std::chrono::steady_clock::now() > end)
            return -1;
        std::this_thread::sleep_for(20ms);
    }
}

// Output of a shell command line (the tools are the oracles).
std::string Shell(const std::string& command, int* status = nullptr)
{
    std::string out;
    if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
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

class Backup : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/torvo-backup-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        data = dir / "home" / "data";
        fs::create_directories(dir / "run");
        chmod((dir / "run").c_str(), 0700);
        fs::create_directories(dir / "e");
        WriteFile(dir / "cfg" / "torvo" / "drives", "E: removable label=\"ZALOHA\" " + (dir / "e").string() + "\n");
        WriteFile(data / "archivace.dta",
                  win::Utf8ToAnsi("[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIVDRV]A:\\ZALOHY\\\r\n"
                                  "[PATHARCHIV]C:\\ZALOHY\\\r\n[PATHARCHIVACE]C:\\data\\*.dta\r\n"
                                  "[COMMENT1]Zaloha pred uzaverkou\r\n[CLOSE]YES\r\n"));
        WriteFile(data / "menu.txt",
                  win::Utf8ToAnsi("[Menu]\r\n{0}Archivace\r\n{10}Automaticka\r\n[Archivace] Archivace dat\r\n"
                                  "~Data|Účetnictví‡0<x>\r\n[Seznam]\r\n{0}Ucto‡Ucto\r\n"
                                  "[Ucto]\r\n{1}kniha.dat‡a\r\n{2}Účtování.dat‡b\r\n"));
        WriteFile(data / "kniha.dat", std::string(5000, 'k'));
        WriteFile(data / "Účtování.dat", "úč");
        WriteFile(data / "firma.dta", "firma");
        WriteFile(data / "jine.txt", "not in the set");
        setenv("HOME", (dir / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
        setenv("TORVO_RESPONSES", (dir / "responses").c_str(), 1);
        setenv("TORVO_TRANSCRIPT", (dir / "transcript").c_str(), 1);
        setenv("TORVO_WIDGETSET", "headless", 1);
        WriteFile(dir / "responses", "");
    }
    void TearDown() override
    {
        if (torvo > 0 && WaitFor(torvo, 0ms) == -1) {
            kill(torvo, SIGKILL);
            WaitFor(torvo, 5s);
        }
        fs::remove_all(dir);
    }
    // Starts the program, sends one request and returns the caller's output.
    std::string Request(const std::vector<std::string>& args)
    {
        torvo = Spawn({Torvo}, dir / "torvo.out");
        EXPECT_GT(torvo, 0);
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (FindWindowA("TFormTorvo", nullptr) == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(20ms);
        std::vector<std::string> all{Caller};
        all.insert(all.end(), args.begin(), args.end());
        const fs::path out = dir / "caller.out";
        const pid_t caller = Spawn(all, out);
        EXPECT_EQ(0, WaitFor(caller, 60s));
        EXPECT_EQ(0, WaitFor(torvo, 20s));
        torvo = -1;
        return ReadFile(out);
    }
    fs::path dir, data;
    pid_t torvo = -1;
};

TEST_F(Backup, AutomaticRequestsWriteNumberedArchivesWithTheComment)
{
    const std::vector<std::string> request{"--command", "1", "--mode", "10", "--folder", "C:\\data\\", "--timeout", "60"};
    EXPECT_EQ("reply 110\n", Request(request));
    EXPECT_EQ("reply 110\n", Request(request));

    const fs::path first = dir / "home" / "ZALOHY" / "Ucto (001).ZIP";
    const fs::path second = dir / "home" / "ZALOHY" / "Ucto (002).ZIP";
    for (const fs::path& archive : {first, second}) {
        ASSERT_TRUE(fs::exists(archive)) << archive;
        int status = -1;
        const std::string test = Shell("unzip -t '" + archive.string() + "'", &status);
        EXPECT_EQ(0, status) << test;
        EXPECT_NE(std::string::npos, Shell("unzip -z '" + archive.string() + "'").find("Zaloha pred uzaverkou"));
        // Every file of the set and of the definition's mask, nothing else, under its own name.
        const std::string names = Shell("unzip -Z1 '" + archive.string() + "' | LC_ALL=C sort");
        EXPECT_EQ(0u, names.find("archivace.dta\nfirma.dta\nkniha.dat\n")) << names;
        EXPECT_EQ(4, std::count(names.begin(), names.end(), '\n')) << names;
        const fs::path out = dir / "out";
        fs::remove_all(out);
        Shell("unzip -qq -d '" + out.string() + "' '" + archive.string() + "'");
        EXPECT_EQ(std::string(5000, 'k'), ReadFile(out / "kniha.dat"));
        // Stored times are the files' own (DOS resolution).
        const auto a = fs::last_write_time(out / "kniha.dat"), b = fs::last_write_time(data / "kniha.dat");
        EXPECT_LE(std::chrono::abs(a - b), 2s);
    }
}

}  // namespace
