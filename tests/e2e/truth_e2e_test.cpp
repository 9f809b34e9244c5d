// What goes wrong reaches the person, one operation runs at a time, hostile callers cannot stop
// the program, and backup names bring every set file back where it was. The program and its
// callers are real processes; the archives are checked with Info-ZIP.
#include "e2e/support/E2eSupport.h"
#include "platform/win/IpcFrame.h"
#include "platform/win/IpcRuntime.h"
#include "platform/win/Messages.h"
#include "support/ToolRun.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

const std::string Menu = "[Menu]\r\n{1}Obnova\r\n{10}Automaticka\r\n[Obnova] Obnova dat\r\n"
                         "~Data|Účetnictví‡0<x>\r\n[Seznam]\r\n{0}Ucto‡Ucto\r\n"
                         "[Ucto]\r\n{1}kniha.dat‡a\r\n{2}sub\\kniha.dat‡b\r\n{3}Účtování.dat‡c\r\n{4}velky.dat‡d\r\n";

std::string Definition(const std::string& archiveFiles, bool close)
{
    return "[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIV]C:\\ZALOHY\\\r\n[PATHARCHIVDRV]C:\\ZALOHY\\\r\n"
           "[PATHARCHIVACE]" +
           archiveFiles + "\r\n[COMMENT1]Zaloha\r\n" + (close ? "[CLOSE]YES\r\n" : "");
}

// Every regular file below a folder with its bytes.
std::map<std::string, std::string> Tree(const fs::path& root)
{
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            tree[fs::relative(e.path(), root).string()] = ReadFile(e.path());
    return tree;
}

// True while the process has the file open.
bool HasOpen(pid_t pid, const std::string& fileName)
{
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const fs::path target = fs::read_symlink(fd.path(), error);
        if (!error && target.filename() == fileName)
            return true;
    }
    return false;
}

int ConnectTo(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The name of a file that the process has open in the folder ("" when none passes the filter).
std::string OpenIn(pid_t pid, const fs::path& folder, const std::function<bool(const std::string&)>& wanted)
{
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const fs::path target = fs::read_symlink(fd.path(), error);
        if (!error && target.parent_path() == folder && wanted(target.filename().string()))
            return target.filename().string();
    }
    return {};
}

class Truth : public Session {
protected:
    void SetUp() override
    {
        Session::SetUp();
        data = Home() / "data";
        WriteFile(data / "kniha.dat", std::string(5000, 'k'));
        WriteFile(data / "sub" / "kniha.dat", "a file of the same name in a subfolder");
        WriteFile(data / "Účtování.dat", "úč");
        WriteFile(data / "velky.dat", "small for now");
    }
    std::string AutomaticBackup()
    {
        return Serve({"--command", "1", "--mode", "10", "--folder", "C:\\data\\", "--timeout", "120"});
    }
    fs::path Archive() const { return Home() / "ZALOHY" / "Ucto (001).ZIP"; }
    // An interactive run in Mode answered by the responses: once the transcript shows Shown, a
    // finish ends it and both processes must exit cleanly.
    void InteractiveRun(const std::string& mode, const std::string& shown)
    {
        ASSERT_TRUE(StartTorvo());
        Child run = StartCaller({"--command", "1", "--mode", mode, "--folder", "C:\\data\\", "--timeout", "60"},
                                dir / "run.out");
        ASSERT_TRUE(Eventually([&] { return TranscriptShows(shown); })) << Transcript();
        std::string output;
        Call({"--command", "999", "--timeout", "1"}, output);
        EXPECT_EQ(0, WaitFor(run));
        EXPECT_EQ(0, TorvoExit());
    }

    // The stored names but the one in the OEM code page, which unzip shows as it likes.
    std::string Names(const fs::path& archive)
    {
        return Shell("unzip -Z1 " + Quoted(archive) + " | grep -v tov | LC_ALL=C sort");
    }
    fs::path data;
};

TEST_F(Truth, SetFilesKeepTheirPlaceWhereverTheArchiveFilesOfTheDefinitionLie)
{
    const fs::path elsewhere = dir / "elsewhere";
    struct Layout {
        const char* name;
        std::string mask;
        fs::path folder;
    };
    const std::vector<Layout> layouts{{"above", "C:\\*.dta", Home()},
                                      {"beside", "C:\\jinde\\*.dta", Home() / "jinde"},
                                      {"outside", ZDrivePath(elsewhere) + "\\*.dta", elsewhere}};
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        fs::remove_all(Home() / "ZALOHY");
        WriteDefinition(Definition(layout.mask, true), Menu);
        WriteFile(layout.folder / "firma.dta", std::string("firma ") + layout.name);
        const auto before = Tree(data);
        EXPECT_EQ("reply 110\n", AutomaticBackup());
        ASSERT_TRUE(fs::exists(Archive()));
        ExpectUnzipTestPasses(Archive());
        // Relative to the data folder inside it, by bare name outside it.
        EXPECT_EQ("firma.dta\nkniha.dat\nsub/kniha.dat\nvelky.dat\n", Names(Archive()));

        // The restore puts each set file back where it was; the definition's file comes by name.
        for (const auto& [name, bytes] : before)
            if (name != "archivace.dta" && name != "menu.txt")
                WriteFile(data / name, "damaged");
        fs::remove(dir / "transcript");
        SetResponses("0\n Místní disk (C):\nUcto (001).ZIP\nOK\n");
        InteractiveRun("1", "\tData rozbalena\t");
        auto after = Tree(data);
        EXPECT_EQ(std::string("firma ") + layout.name, after["firma.dta"]);
        after.erase("firma.dta");
        EXPECT_EQ(before, after);
        fs::remove(data / "firma.dta");
        fs::remove(layout.folder / "firma.dta");
    }
}

TEST_F(Truth, ARequestDuringABackupIsServedAfterItAndTheArchiveIsWhole)
{
    WriteDefinition(Definition("C:\\data\\*.dta", false), Menu);
    // Big enough that the backup is still running when the second caller comes.
    Shell("head -c 96000000 /dev/urandom > " + Quoted(data / "velky.dat"));
    ASSERT_TRUE(StartTorvo());
    Child first = StartCaller({"--command", "1", "--mode", "10", "--folder", "C:\\data\\", "--timeout", "300"},
                              dir / "first.out");
    ASSERT_TRUE(Eventually([&] { return HasOpen(torvo.Pid(), "velky.dat"); }, 120s));
    // The finish comes while the big file is packed: it waits, then ends the run with the reply
    // to the first caller (the finish itself gets none).
    std::string output;
    EXPECT_EQ(3, Call({"--command", "999", "--timeout", "2"}, output));
    EXPECT_EQ(0, WaitFor(first, 300s));
    EXPECT_EQ("reply 110\n", ReadFile(dir / "first.out"));
    EXPECT_EQ(0, TorvoExit());
    ExpectUnzipTestPasses(Archive());
    EXPECT_EQ("archivace.dta\nkniha.dat\nsub/kniha.dat\nvelky.dat\n", Names(Archive()));
}

TEST_F(Truth, HostileCallersDoNotStopAThirdOneBeingServed)
{
    WriteDefinition(Definition("C:\\data\\*.dta", true), Menu);
    ASSERT_TRUE(StartTorvo());
    const HWND window = FindWindowA("TFormTorvo", nullptr);
    const std::string path = win::ipc::RuntimeFolderPath() + "/" + win::ipc::SocketName("TFormTorvo", window);

    // A posted WM_COPYDATA without data, its lParam a wild pointer.
    win::ipc::Frame posted;
    posted.kind = win::ipc::FrameKind::Post;
    posted.hwnd = window;
    posted.message = WM_COPYDATA;
    posted.value = 0x4141414141414141ull;
    const auto bytes = win::ipc::EncodeFrame(posted);
    const int hostile = ConnectTo(path);
    ASSERT_GE(hostile, 0);
    ASSERT_EQ(send(hostile, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    // A sender that stops halfway through its header, then 1000 idle connections. The slow one
    // comes first so that it is within this process's connection cap; those past the cap may be
    // hung up on at once.
    const int slow = ConnectTo(path);
    ASSERT_EQ(send(slow, bytes.data(), 10, MSG_NOSIGNAL), 10);
    std::vector<int> idle;
    for (int i = 0; i < 1000; ++i)
        idle.push_back(ConnectTo(path));

    std::string output;
    EXPECT_EQ(0, Call({"--command", "1", "--mode", "10", "--folder", "C:\\data\\", "--timeout", "60"}, output));
    EXPECT_EQ("reply 110\n", output);
    EXPECT_EQ(0, TorvoExit());
    for (const int fd : idle)
        close(fd);
    close(slow);
    close(hostile);
}

TEST_F(Truth, FailuresShowTheErrorListAndCountOnlyWhatWasWritten)
{
    WriteDefinition(Definition("C:\\data\\*.dta", true), Menu);
    // A target too small for the set: the writer's errors are listed and the backup is refused.
    Shell("head -c 200000 /dev/urandom > " + Quoted(data / "velky.dat"));
    SetDrives("C: fixed capacity=150000 " + Home().string() + "\n");
    std::string output;
    ASSERT_TRUE(StartTorvo());
    EXPECT_EQ(0, Call({"--command", "1", "--mode", "10", "--folder", "C:\\data\\", "--timeout", "60"}, output));
    EXPECT_EQ(0, TorvoExit());
    std::string transcript = Transcript();
    EXPECT_NE(std::string::npos, transcript.find("Form\tError messages\tOnError event | ClassName: TZip"))
        << transcript;
    EXPECT_NE(std::string::npos, transcript.find("MessageBox\tZápis zamítnut\t")) << transcript;
    EXPECT_FALSE(fs::exists(Archive()));
    SetDrives("");
    fs::remove(dir / "transcript");
    WriteFile(data / "velky.dat", "small again");
    EXPECT_EQ("reply 110\n", AutomaticBackup());
    ASSERT_TRUE(fs::exists(Archive()));

    // Every member of the archive damaged: nothing is restored, and nothing is said to be.
    std::string zip = ReadFile(Archive());
    for (std::size_t at = zip.find("PK\x03\x04"); at != std::string::npos; at = zip.find("PK\x03\x04", at + 4)) {
        const std::size_t nameLength = std::uint8_t(zip[at + 26]) | std::uint8_t(zip[at + 27]) << 8;
        const std::size_t extraLength = std::uint8_t(zip[at + 28]) | std::uint8_t(zip[at + 29]) << 8;
        zip[at + 30 + nameLength + extraLength] ^= 0x55;
    }
    WriteFile(Archive(), zip);
    const auto before = Tree(data);
    fs::remove(dir / "transcript");
    SetResponses("0\n Místní disk (C):\nUcto (001).ZIP\nOK\n");
    InteractiveRun("1", "\tData nerozbalena\t");
    transcript = Transcript();
    EXPECT_NE(std::string::npos, transcript.find("Form\tError messages\tOnError event | ClassName: TUnZip"))
        << transcript;
    EXPECT_NE(std::string::npos, transcript.find("celkem rozbaleno datových souborů: 0\\r\\n")) << transcript;
    EXPECT_EQ(std::string::npos, transcript.find("\tData rozbalena\t")) << transcript;
    EXPECT_EQ(before, Tree(data));
}

TEST_F(Truth, MissingSetFilesAnUnwritableTargetAndAnUnreadableArchiveAreReported)
{
    // The set names a file and a folder that the data folder lacks: the rest is archived, the two
    // are listed and the backup is called incomplete.
    WriteDefinition(Definition("C:\\data\\*.dta", true), Menu + "{5}chybí.dat‡e\r\n{6}Neni\\*.*‡f\r\n");
    EXPECT_EQ("reply 110\n", AutomaticBackup());
    std::string transcript = Transcript();
    EXPECT_NE(std::string::npos, transcript.find("File not found | Ext Msg:    C:\\\\data\\\\chybí.dat")) << transcript;
    EXPECT_NE(std::string::npos, transcript.find("File not found | Ext Msg:    C:\\\\data\\\\Neni\\\\*.*"))
        << transcript;
    EXPECT_NE(std::string::npos, transcript.find("MessageBox\tArchivace neúplná\t")) << transcript;
    ExpectUnzipTestPasses(Archive());
    EXPECT_EQ("archivace.dta\nkniha.dat\nsub/kniha.dat\nvelky.dat\n", Names(Archive()));

    // A set the menu file does not list packs nothing: no archive, and said so.
    std::string unlisted = Menu;
    unlisted.replace(unlisted.find("{0}Ucto"), 3, "{7}");
    WriteDefinition(Definition("C:\\data\\*.dta", true), unlisted);
    fs::remove(dir / "transcript");
    EXPECT_EQ("reply 110\n", AutomaticBackup());
    EXPECT_NE(std::string::npos, Transcript().find("MessageBox\tArchivace neúplná\tNebylo co archivovat\t"))
        << Transcript();
    EXPECT_FALSE(fs::exists(Home() / "ZALOHY" / "Ucto (002).ZIP"));
    WriteDefinition(Definition("C:\\data\\*.dta", true), Menu);

    // A target folder in which no file can be made: refused, and said so.
    const fs::path archives = Home() / "ZALOHY";
    fs::rename(archives, dir / "kept");
    fs::create_directory_symlink("/proc/self/fdinfo", archives);
    fs::remove(dir / "transcript");
    EXPECT_EQ("reply 110\n", AutomaticBackup());
    EXPECT_NE(std::string::npos, Transcript().find("MessageBox\tZápis zamítnut\tNa disk C: nelze zapisovat."))
        << Transcript();
    fs::remove(archives);
    fs::rename(dir / "kept", archives);

    // Past 999 the newest archive still comes last; this one is cut short. Choosing it says that
    // nothing was restored, shows no comment of another archive, and leaves the data as it was.
    const std::string whole = ReadFile(Archive());
    fs::rename(Archive(), archives / "Ucto (999).ZIP");
    WriteFile(archives / "Ucto (1000).ZIP", whole.substr(0, whole.size() / 2));
    WriteFile(data / "kniha.dat", "changed since");
    const auto before = Tree(data);
    fs::remove(dir / "transcript");
    SetResponses("0\n Místní disk (C):\nUcto (1000).ZIP\nOK\n");
    InteractiveRun("1", "\tData nerozbalena\t");
    transcript = Transcript();
    EXPECT_NE(std::string::npos, transcript.find("\tUcto (999).ZIP\\t5\\tZaloha\\r\\nUcto (1000).ZIP\\t0\\t\\r\\n\t"))
        << transcript;
    EXPECT_NE(std::string::npos,
              transcript.find("MessageBox\tData nerozbalena\tArchivační soubor Ucto (1000).ZIP nelze"))
        << transcript;
    EXPECT_EQ(before, Tree(data));

    // Room for the archive but not for its comment: the archive stays whole and the error is shown.
    const std::string comment(3000, 'K');
    WriteDefinition(Definition("C:\\data\\*.dta", true) + "[COMMENT1]" + comment + "\r\n", Menu);
    fs::remove_all(archives);
    EXPECT_EQ("reply 110\n", AutomaticBackup());
    const std::uintmax_t withComment = fs::file_size(Archive());
    fs::remove(Archive());
    std::uintmax_t used = 0;
    for (const auto& e : fs::recursive_directory_iterator(Home()))
        if (e.is_regular_file())
            used += e.file_size();
    SetDrives("C: fixed capacity=" + std::to_string(used + withComment - comment.size() + 1000) + " " +
              Home().string() + "\n");
    fs::remove(dir / "transcript");
    EXPECT_EQ("reply 110\n", AutomaticBackup());
    EXPECT_NE(std::string::npos, Transcript().find("Form\tError messages\tOnError event | ClassName: TZip"))
        << Transcript();
    ExpectUnzipTestPasses(Archive());
    EXPECT_EQ(withComment - comment.size(), fs::file_size(Archive()));
}

TEST_F(Truth, TheEnginesDiskPromptIsShownAndItsAnswerTaken)
{
    WriteDefinition(Definition("C:\\data\\*.dta", true),
                    "[Menu]\r\n{0}Archivace\r\n[Archivace] Archivace dat\r\n~Data|Účetnictví‡0<x>\r\n" +
                        Menu.substr(Menu.find("[Seznam]")));
    // A removable medium whose volume cannot be read: the engine asks whether to retry.
    const fs::path medium = dir / "e";
    fs::create_directories(medium);
    SetDrives("E: removable capacity=10000000 label=\"" + std::string(300, 'L') + "\" " + medium.string() + "\n");
    SetResponses("0\n Výměnný disk (E):\nRetry\nCancel\n");
    InteractiveRun("0", "\tCancel\n");
    const std::string transcript = Transcript();
    const std::string prompt = "MessageBox\ttorvo\tE:\\\\";
    const std::size_t first = transcript.find(prompt);
    ASSERT_NE(std::string::npos, first) << transcript;
    EXPECT_NE(std::string::npos, transcript.find("\tRetry\n", first)) << transcript;
    const std::size_t second = transcript.find(prompt, first + 1);
    ASSERT_NE(std::string::npos, second) << transcript;
    EXPECT_NE(std::string::npos, transcript.find("\tCancel\n", second)) << transcript;
    // Cancelled: nothing is written, and the program says so.
    EXPECT_TRUE(fs::is_empty(medium) || !fs::exists(medium / "ZALOHY" / "Ucto (001).ZIP"));
    EXPECT_NE(std::string::npos, transcript.find("MessageBox\tZápis zamítnut\t", second)) << transcript;
}

TEST_F(Truth, StartsHeadlessWithoutAUsableDisplayAndRefusesAnUnsafeRuntimeFolder)
{
    WriteDefinition(Definition("C:\\data\\*.dta", true), Menu);
    unsetenv("TORVO_WIDGETSET");
    setenv("DISPLAY", ":99", 1);
    const bool started = StartTorvo();
    setenv("TORVO_WIDGETSET", "headless", 1);
    unsetenv("DISPLAY");
    ASSERT_TRUE(started) << ReadFile(dir / "torvo.out");
    std::string output;
    EXPECT_EQ(0, Call({"--command", "1", "--mode", "10", "--folder", "C:\\data\\", "--timeout", "60"}, output));
    EXPECT_EQ("reply 110\n", output);
    EXPECT_EQ(0, TorvoExit());

    // A file, a folder open to everyone: a message and exit status 1, never a wait nobody can end.
    const fs::path runtime = dir / "run";
    fs::remove_all(runtime / "torvo");
    WriteFile(runtime / "torvo", "not a folder");
    Child broken = Spawn({TorvoProgram}, dir / "broken.out");
    EXPECT_EQ(1, WaitFor(broken, 30s));
    EXPECT_NE(std::string::npos, ReadFile(dir / "broken.out").find("not a folder")) << ReadFile(dir / "broken.out");
    fs::remove(runtime / "torvo");
    fs::create_directories(runtime / "torvo");
    fs::permissions(runtime / "torvo", fs::perms::all);
    Child open = Spawn({TorvoProgram}, dir / "open.out");
    EXPECT_EQ(1, WaitFor(open, 30s));
    EXPECT_NE(std::string::npos, ReadFile(dir / "open.out").find("mode 0777")) << ReadFile(dir / "open.out");
}

TEST_F(Truth, AnEncryptedBackupAsksForItsPassword)
{
    WriteDefinition(Definition("C:\\data\\*.dta", true), Menu);
    fs::create_directories(Home() / "ZALOHY");
    const fs::path source = dir / "source";
    WriteFile(source / "kniha.dat", "encrypted contents");
    Shell("cd " + Quoted(source) + " && zip -q -P tajne " + Quoted(Archive()) + " kniha.dat");
    SetResponses("0\n Místní disk (C):\nUcto (001).ZIP\ntajne\nOK\n");
    InteractiveRun("1", "\tData rozbalena\t");
    EXPECT_NE(std::string::npos, Transcript().find("InputBox\tOnGetPassword event\t")) << Transcript();
    EXPECT_NE(std::string::npos, Transcript().find("celkem rozbaleno datových souborů: 1\t")) << Transcript();
    EXPECT_EQ("encrypted contents", ReadFile(data / "kniha.dat"));
}

TEST_F(Truth, AKilledOrFailedRunLeavesNoPartOfAnArchiveOrFileUnderItsName)
{
    // The definition's files lie above the data folder: the backup runs in two passes.
    WriteDefinition(Definition("C:\\*.dta", true), Menu);
    WriteFile(Home() / "firma.dta", "firma");
    Shell("head -c 96000000 /dev/urandom > " + Quoted(data / "velky.dat"));
    const fs::path archives = Home() / "ZALOHY";
    const fs::path second = archives / "Ucto (002).ZIP";
    std::string output;

    // Killed while the second pass packs the big file: the first backup stays as it was, the
    // second has no archive, and the next run takes away what the killed one left.
    EXPECT_EQ("reply 110\n", AutomaticBackup());
    const std::string first = ReadFile(Archive());
    ASSERT_TRUE(StartTorvo());
    Child caller = StartCaller({"--command", "1", "--mode", "10", "--folder", "C:\\data\\", "--timeout", "120"},
                               dir / "killed.out");
    ASSERT_TRUE(Eventually([&] { return HasOpen(torvo.Pid(), "velky.dat"); }, 120s));
    torvo.Kill();
    caller.Kill();
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(first, ReadFile(Archive()));

    // A target with room for the first pass only: refused, and no archive of the first pass alone.
    std::uintmax_t used = 0;
    for (const auto& e : fs::recursive_directory_iterator(Home()))
        if (e.is_regular_file())
            used += e.file_size();
    SetDrives("C: fixed capacity=" + std::to_string(used + 50000) + " " + Home().string() + "\n");
    fs::remove(dir / "transcript");
    EXPECT_EQ("reply 110\n", AutomaticBackup());
    EXPECT_NE(std::string::npos, Transcript().find("MessageBox\tZápis zamítnut\t")) << Transcript();
    EXPECT_EQ(std::string::npos, Transcript().find("Archivace neúplná")) << Transcript();
    EXPECT_FALSE(fs::exists(second));
    SetDrives("");
    for (const auto& e : fs::directory_iterator(archives))
        EXPECT_EQ(Archive().filename(), e.path().filename());

    // Killed while the restore writes the big file under a new name: no part of it under its name.
    const std::string big = ReadFile(data / "velky.dat");
    fs::remove(data / "velky.dat");
    SetResponses("0\n Místní disk (C):\nUcto (001).ZIP\nOK\n");
    ASSERT_TRUE(StartTorvo());
    Child restore =
        StartCaller({"--command", "1", "--mode", "1", "--folder", "C:\\data\\", "--timeout", "120"}, dir / "r.out");
    const auto writingBig = [&](const std::string& name) {
        std::error_code error;
        return (name == "velky.dat" || name.rfind(".~x", 0) == 0) && fs::file_size(data / name, error) > 1000000 &&
               !error;
    };
    // (A restore that ends between two looks leaves nothing to check: no wait for what cannot come.)
    ASSERT_TRUE(Eventually(
        [&] { return !OpenIn(torvo.Pid(), data, writingBig).empty() || TranscriptShows("\tData rozbalena\t"); },
        120s));
    torvo.Kill();
    restore.Kill();
    EXPECT_TRUE(!fs::exists(data / "velky.dat") || ReadFile(data / "velky.dat") == big);
    ASSERT_TRUE(StartTorvo());
    Call({"--command", "999", "--timeout", "5"}, output);
    EXPECT_EQ(0, TorvoExit());
    for (const auto& e : fs::directory_iterator(data))
        EXPECT_NE(".~x", e.path().filename().string().substr(0, 3)) << e.path();
}

}  // namespace
