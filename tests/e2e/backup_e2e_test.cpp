// Backups through the request protocol: the program and its caller as two real processes, the
// archives checked with Info-ZIP.
#include "e2e/support/E2eSupport.h"

#include <algorithm>
#include <map>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

class Backup : public Session {
protected:
    void SetUp() override
    {
        Session::SetUp();
        data = Home() / "data";
        fs::create_directories(dir / "e");
        SetDrives("E: removable label=\"ZALOHA\" " + (dir / "e").string() + "\n");
        WriteDefinition("[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIVDRV]A:\\ZALOHY\\\r\n"
                        "[PATHARCHIV]C:\\ZALOHY\\\r\n[PATHARCHIVACE]C:\\data\\*.dta\r\n"
                        "[COMMENT1]Zaloha pred uzaverkou\r\n[CLOSE]YES\r\n",
                        "[Menu]\r\n{0}Archivace\r\n{10}Automaticka\r\n[Archivace] Archivace dat\r\n"
                        "~Data|Účetnictví‡0<x>\r\n[Seznam]\r\n{0}Ucto‡Ucto\r\n"
                        "[Ucto]\r\n{1}kniha.dat‡a\r\n{2}Účtování.dat‡b\r\n");
        WriteFile(data / "kniha.dat", std::string(5000, 'k'));
        WriteFile(data / "Účtování.dat", "úč");
        WriteFile(data / "firma.dta", "firma");
        WriteFile(data / "jine.txt", "not in the set");
    }
    fs::path data;
};

TEST_F(Backup, AutomaticRequestsWriteNumberedArchivesWithTheComment)
{
    const std::vector<std::string> request{"--command", "1",          "--mode",    "10",
                                           "--folder",  "C:\\data\\", "--timeout", "60"};
    EXPECT_EQ("reply 110\n", Serve(request));
    EXPECT_EQ("reply 110\n", Serve(request));

    const fs::path first = Home() / "ZALOHY" / "Ucto (001).ZIP";
    const fs::path second = Home() / "ZALOHY" / "Ucto (002).ZIP";
    for (const fs::path& archive : {first, second}) {
        ASSERT_TRUE(fs::exists(archive)) << archive;
        ExpectUnzipTestPasses(archive);
        EXPECT_NE(std::string::npos, Shell("unzip -z " + Quoted(archive)).find("Zaloha pred uzaverkou"));
        // Every file of the set and of the definition's mask, nothing else, under its own name.
        const std::string names = Shell("unzip -Z1 " + Quoted(archive) + " | LC_ALL=C sort");
        EXPECT_EQ(0u, names.find("archivace.dta\nfirma.dta\nkniha.dat\n")) << names;
        EXPECT_EQ(4, std::count(names.begin(), names.end(), '\n')) << names;
        const fs::path out = dir / "out";
        fs::remove_all(out);
        Shell("unzip -qq -d " + Quoted(out) + " " + Quoted(archive));
        EXPECT_EQ(std::string(5000, 'k'), ReadFile(out / "kniha.dat"));
        // Stored times are the files' own (DOS resolution).
        const auto a = fs::last_write_time(out / "kniha.dat"), b = fs::last_write_time(data / "kniha.dat");
        EXPECT_LE(std::chrono::abs(a - b), 2s);
    }
}

TEST_F(Backup, DataFilesNamedLikePathsDrivesOrMasksAreBackedUpAsThemselves)
{
    // Beside the set: files the definition's mask takes whose names read as Windows paths, drives
    // or masks, and the files those would name.
    WriteFile(Home() / "x.dta", "SECRET outside the data folder");
    WriteFile(data / "aXb.dta", "plain aXb");
    const std::map<std::string, std::string> crafted{
        {"..\\..\\x.dta", ".._.._x.dta"}, {"C:\\x.dta", "C__x.dta"}, {"Z:\\etc\\passwd.dta", "Z__etc_passwd.dta"},
        {"a*b.dta", "a*b.dta"},           {"a?b.dta", "a?b.dta"},    {"a:b.dta", "a_b.dta"},
    };
    for (const auto& [host, stored] : crafted)
        WriteFile(data / host, "own " + host);
    EXPECT_EQ("reply 110\n",
              Serve({"--command", "1", "--mode", "10", "--folder", "C:\\data\\", "--timeout", "60"}));
    const fs::path archive = Home() / "ZALOHY" / "Ucto (001).ZIP";
    ASSERT_TRUE(fs::exists(archive)) << ReadFile(dir / "torvo.out");
    ExpectUnzipTestPasses(archive);
    const fs::path out = dir / "out";
    Shell("unzip -qq -d " + Quoted(out) + " " + Quoted(archive));
    for (const auto& [host, stored] : crafted)
        EXPECT_EQ(ReadFile(out / stored), "own " + host) << stored;
    EXPECT_EQ(ReadFile(out / "aXb.dta"), "plain aXb");
    EXPECT_FALSE(fs::exists(out / "x.dta"));
    EXPECT_EQ(std::string::npos, Shell("unzip -p " + Quoted(archive)).find("SECRET"));
}

TEST_F(Backup, AnAutomaticBackupThatWritesNothingSaysSoOnStderr)
{
    // Targets that cannot take the archive and a menu file without the backup set: the caller
    // still gets its reply, and whoever runs the program reads why nothing was written.
    const std::string menu = "[Menu]\r\n{10}Automaticka\r\n[Seznam]\r\n{0}Ucto‡Ucto\r\n"
                             "[Ucto]\r\n{1}kniha.dat‡a\r\n";
    struct TCase {
        std::string PathArchiv, Menu, Said;
    };
    // The data folder named on Z:, so that a Z: target stays on Z:.
    const auto onZ = [](const fs::path& folder) {
        std::string name = "Z:" + folder.string() + "/";
        std::replace(name.begin(), name.end(), '/', '\\');
        return name;
    };
    const std::string dataFolder = onZ(Home() / "data");
    // A target that takes files, so that only the missing set keeps the archive out of it.
    const fs::path writable = dir / "target";
    fs::create_directories(writable);
    const std::vector<TCase> cases{
        {"Z:\\proc\\", menu, "MessageBox [Zápis zamítnut]"},
        {"Z:\\" + std::string(6000, 'a') + "\\", menu, "MessageBox [Adresář nelze založit]"},
        {onZ(writable), "[Menu]\r\n{10}Automaticka\r\n", "MessageBox [Archivace neúplná] Nebylo co archivovat"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.PathArchiv.substr(0, 20));
        WriteDefinition("[MENUARCHIV]" + dataFolder + "menu.txt\r\n[PATHARCHIV]" + c.PathArchiv +
                            "\r\n[PATHARCHIVACE]" + dataFolder + "*.dta\r\n[CLOSE]YES\r\n",
                        c.Menu);
        EXPECT_EQ("reply 110\n", Serve({"--command", "1", "--mode", "10", "--folder", dataFolder, "--timeout", "60"}));
        const std::string said = ReadFile(dir / "torvo.out");
        EXPECT_NE(std::string::npos, said.find(c.Said)) << said;
        EXPECT_NE(std::string::npos, said.find("byla NEÚSPĚŠNÁ")) << said;
    }
    // No archive anywhere: not in the target, not kept in the temporary folder.
    EXPECT_TRUE(fs::is_empty(writable)) << Shell("ls -la " + Quoted(writable));
    EXPECT_EQ("", Shell("find " + Quoted(dir / "tmp") + " -type f")) << "left in the temporary folder";
}

TEST_F(Backup, AFullOrReadOnlyFileSystemShowsTheFailureAndKeepsNoPartOfTheArchive)
{
    // A real file system of its own under the target folder (only where mounting is allowed).
    const fs::path target = Home() / "ZALOHY";
    fs::create_directories(target);
    if (std::system(("mount -t tmpfs -o size=96k tmpfs " + Quoted(target) + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    struct TUnmount {
        fs::path At;
        ~TUnmount() { std::system(("umount " + Quoted(At)).c_str()); }
    } unmount{target};
    // The session's own temporary folder: what the full target leaves there is this run's alone.
    const fs::path temp = dir / "tmp";
    Shell("head -c 300000 /dev/urandom > " + Quoted(data / "kniha.dat"));
    const std::vector<std::string> request{"--command", "1",          "--mode",    "10",
                                           "--folder",  "C:\\data\\", "--timeout", "60"};
    for (const char* mode : {"full", "read-only"}) {
        SCOPED_TRACE(mode);
        if (std::string(mode) == "read-only")
            Shell("mount -o remount,ro " + Quoted(target));
        fs::remove(dir / "transcript");
        // The caller's reply is the protocol's, whatever the outcome; the person is told it failed.
        EXPECT_EQ("reply 110\n", Serve(request));
        const std::string said = ReadFile(dir / "torvo.out");
        EXPECT_NE(std::string::npos, said.find("MessageBox [Zápis zamítnut]")) << said;
        EXPECT_NE(std::string::npos, said.find("byla NEÚSPĚŠNÁ")) << said;
        EXPECT_TRUE(fs::is_empty(target)) << Shell("ls -la " + Quoted(target));
    }
    // The finished archive that found no room is kept whole in the temporary folder, and the
    // error list says where; the read-only target refused before anything was written.
    const fs::path kept = temp / "Ucto (001).ZIP";
    ASSERT_TRUE(fs::exists(kept)) << Shell("ls -la " + Quoted(temp));
    ExpectUnzipTestPasses(kept);
    EXPECT_EQ(1, std::distance(fs::directory_iterator(temp), fs::directory_iterator()));
}

}  // namespace

namespace {

class Interactive : public Backup {
protected:
    void SetUp() override
    {
        Backup::SetUp();
        fs::create_directories(dir / "a");
        SetDrives("A: removable " + (dir / "a").string() + "\n" + "E: removable label=\"ZALOHA\" " +
                  (dir / "e").string() + "\n");
    }
    // One interactive backup: the first menu's item, then the drive of the target menu; the run
    // ends with the finish.
    void BackUpTo(const std::string& drive)
    {
        // This run's target menu, not one of an earlier run in the same transcript.
        const auto targetMenus = [this] {
            const std::string text = Transcript(), menu = "Form\t  archivace\t";
            std::size_t count = 0;
            for (auto at = text.find(menu); at != std::string::npos; at = text.find(menu, at + 1))
                ++count;
            return count;
        };
        const std::size_t before = targetMenus();
        SetResponses("0\n Výměnný disk (" + drive + "):\n");
        ASSERT_TRUE(StartTorvo());
        const fs::path callerOut = dir / "interactive.out";
        Child caller =
            StartCaller({"--command", "1", "--mode", "0", "--folder", "C:\\data\\", "--timeout", "60"}, callerOut);
        ASSERT_TRUE(Eventually([&] { return targetMenus() > before; }));
        std::string output;
        // The finish may only be served once the backup is done: it follows the menus' answers.
        EXPECT_EQ(3, Call({"--command", "999", "--timeout", "1"}, output));
        EXPECT_EQ(0, WaitFor(caller));
        EXPECT_EQ("reply 100\n", ReadFile(callerOut));
        EXPECT_EQ(0, TorvoExit());
    }
    void ExpectBackup(const fs::path& archive)
    {
        ASSERT_TRUE(fs::exists(archive)) << archive;
        ExpectUnzipTestPasses(archive);
        EXPECT_EQ("archivace.dta\nfirma.dta\nkniha.dat\n",
                  Shell("unzip -Z1 " + Quoted(archive) + " | LC_ALL=C sort | head -3"));
        EXPECT_NE(std::string::npos, Shell("unzip -z " + Quoted(archive)).find("Zaloha pred uzaverkou"));
    }
};

TEST_F(Interactive, ADisketteBackupIsStagedOnCAndCopiedToTheChosenDrive)
{
    BackUpTo("A");
    const fs::path onDiskette = dir / "a" / "ZALOHY" / "Ucto (001).ZIP";
    const fs::path staged = Home() / "ZALOHY" / "disketa" / "Ucto (001).ZIP";
    ExpectBackup(onDiskette);
    // The staging copy stays on C:, byte for byte the archive on the diskette.
    ASSERT_TRUE(fs::exists(staged));
    EXPECT_EQ(ReadFile(staged), ReadFile(onDiskette));
    EXPECT_EQ(1, std::distance(fs::directory_iterator(dir / "a" / "ZALOHY"), fs::directory_iterator()));

    // A second diskette backup follows the first's number.
    BackUpTo("A");
    ExpectBackup(dir / "a" / "ZALOHY" / "Ucto (002).ZIP");
    ExpectBackup(onDiskette);

    // Any other removable drive is written directly.
    BackUpTo("E");
    ExpectBackup(dir / "e" / "ZALOHY" / "Ucto (001).ZIP");
    EXPECT_EQ(2, std::distance(fs::directory_iterator(Home() / "ZALOHY" / "disketa"), fs::directory_iterator()));
}

}  // namespace
