// FTP and mail hand-offs: the program, its caller and the stand-ins for the internet and mail
// programs as real processes. The 654-byte record is read here at its fixed offsets, not through
// the program's own decoder.
#include "e2e/support/E2eSupport.h"

#include "app/lib/Settings.h"
#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"
#include "platform/win/Registry.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace e2e;

namespace {

constexpr std::size_t RecordSize = 654;

std::int32_t Int32At(const std::string& record, std::size_t offset)
{
    std::int32_t value = 0;
    std::memcpy(&value, record.data() + offset, 4);
    return value;
}

// A length byte and up to `size` Windows-1250 characters.
std::string TextAt(const std::string& record, std::size_t offset, std::size_t size)
{
    const std::size_t length = static_cast<unsigned char>(record[offset]);
    EXPECT_LE(length, size) << "at " << offset;
    return win::AnsiToUtf8(record.substr(offset + 1, std::min(length, size)));
}

class HandOffs : public Session {
protected:
    void SetUp() override
    {
        Session::SetUp();
        fs::create_directories(dir / "e");
        SetDrives("E: removable label=\"ZALOHA\" " + (dir / "e").string() + "\n");
        WriteDefinition("[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIVDRV]A:\\ZALOHY\\\r\n"
                        "[PATHARCHIV]C:\\ZALOHY\\\r\n[PATHARCHIVACE]C:\\data\\*.dta\r\n"
                        "[PATHARCHIVFTP]10001/zálohy\r\n[NOTELICENCE]20002\r\n[NOTEOTHERLICENCE]10001\r\n"
                        "[COMMENT1]Záloha před uzávěrkou\r\n",
                        "[Menu]\r\n{0}Archivace\r\n{2}Obnova\r\n{15}Ftp\r\n[Archivace] Archivace dat\r\n"
                        "~Data|Účetnictví‡0<x>\r\n[Obnova] Obnova dat\r\n~Data|Účetnictví‡0<x>\r\n"
                        "[Ftp] Archivace na FTP\r\n~Data|Účetnictví‡0<x>\r\n"
                        "[Seznam]\r\n{0}Ucto‡Moje Ucto\r\n[Ucto]\r\n{1}kniha.dat‡a\r\n");
        WriteFile(Home() / "data" / "kniha.dat", std::string(3000, 'k'));
        WriteFile(Home() / "data" / "firma.dta", "firma");
        // The installed internet and mail programs, as the registry names them.
        fs::create_directories(Home() / "inst");
        fs::create_symlink(FakeInternetProgram, Home() / "inst" / "qNet");
        fs::create_symlink(FakeMailProgram, Home() / "inst" / "Dastel");
        RegWriteString(HKEY_LOCAL_MACHINE, "Software\\Vimo\\qNet", "InstallPath", "C:\\inst");
        RegWriteString(HKEY_LOCAL_MACHINE, "Software\\Vimo\\Dastel", "InstallPath", "C:\\inst");
        setenv("TORVO_FAKE_QNET_LOG", (dir / "qnet.log").c_str(), 1);
        setenv("TORVO_FAKE_DASTEL_LOG", (dir / "dastel.log").c_str(), 1);
        unsetenv("TORVO_FAKE_QNET_NESTED");
        unsetenv("TORVO_FAKE_QNET_ZIP");
    }
    void TearDown() override
    {
        if (FindWindowA("TFormqNet", nullptr))
            PostMessageToClass("TFormqNet", WM_QUIT, 0, 0);
        Eventually([] { return FindWindowA("TFormqNet", nullptr) == 0; });
        Session::TearDown();
    }
    void StartProgram()
    {
        ASSERT_TRUE(StartTorvo());
        mainWindow = FindWindowA("TFormTorvo", nullptr);
    }
    // The first record the internet program got, once it is there.
    std::string FirstRecord()
    {
        EXPECT_TRUE(Eventually([this] { return ReadFile(dir / "qnet.log").size() >= RecordSize; }));
        return ReadFile(dir / "qnet.log").substr(0, RecordSize);
    }
    // The fields that upload and download share.
    void ExpectCommonFields(const std::string& record)
    {
        ASSERT_EQ(RecordSize, record.size());
        EXPECT_EQ(static_cast<std::int32_t>(mainWindow), Int32At(record, 4));
        // The headless main window sits at (0, 0).
        EXPECT_EQ(275, Int32At(record, 8));
        EXPECT_EQ(175, Int32At(record, 12));
        EXPECT_EQ("Vimo software", TextAt(record, 18, 30));
        EXPECT_EQ("TORVO", TextAt(record, 49, 30));
        // The folder's first part names the licence the data now belong to.
        EXPECT_EQ("20002/zálohy", TextAt(record, 101, 20));
    }
    HWND mainWindow = 0;
};

TEST_F(HandOffs, AnAutomaticFtpBackupHandsItsArchiveToTheInternetProgram)
{
    // A copy of the internet program already runs: the upload closes it and starts its own.
    Child running = Spawn({FakeInternetProgram, "--log", (dir / "running.log").string()}, dir / "running.out");
    ASSERT_TRUE(Eventually([] { return FindWindowA("TFormqNet", nullptr) != 0; }));
    StartProgram();
    const fs::path callerOut = dir / "caller.out";
    Child caller =
        StartCaller({"--command", "1", "--mode", "15", "--folder", "C:\\data\\", "--timeout", "60"}, callerOut);
    const std::string record = FirstRecord();
    EXPECT_EQ(0, WaitFor(running));
    EXPECT_EQ("", ReadFile(dir / "running.log"));
    ExpectCommonFields(record);
    EXPECT_EQ(0, record[16]);  // no manual upload
    const std::string archive = TextAt(record, 122, 80);
    EXPECT_TRUE(IsDatedName(archive, "ftp_Moje_Ucto", ".ZIP")) << archive;
    EXPECT_EQ(15, Int32At(record, 203));
    EXPECT_EQ("C:\\ZALOHY\\", TextAt(record, 207, 127));
    EXPECT_EQ("", TextAt(record, 398, 255));

    // The archive named is complete, comment included, when the internet program hears of it.
    const fs::path written = Home() / "ZALOHY" / archive;
    ExpectUnzipTestPasses(written);
    EXPECT_NE(std::string::npos, Shell("unzip -Z1 " + Quoted(written)).find("kniha.dat\n"));
    EXPECT_EQ(win::Utf8ToAnsi("Záloha před uzávěrkou"), Shell("unzip -zq " + Quoted(written)).substr(0, 21));

    // The upload leaves the run open until its finish.
    EXPECT_EQ(-1, WaitFor(caller, std::chrono::milliseconds(300)));
    std::string output;
    EXPECT_EQ(3, Call({"--command", "999", "--timeout", "1"}, output));
    EXPECT_EQ(0, WaitFor(caller));
    EXPECT_EQ("reply 115\n", ReadFile(callerOut));
    EXPECT_EQ(0, TorvoExit());
    EXPECT_EQ(RecordSize, ReadFile(dir / "qnet.log").size());  // one hand-off only
}

TEST_F(HandOffs, AnFtpRestoreAsksForTheArchiveAndEndsWhenTheInternetProgramAnswers)
{
    // What the internet program "fetches".
    WriteFile(dir / "fetched" / "obnova.dat", "restored from the server");
    Shell("cd " + Quoted(dir / "fetched") + " && zip -q fetched.zip obnova.dat");
    setenv("TORVO_FAKE_QNET_ZIP", (dir / "fetched" / "fetched.zip").c_str(), 1);
    fs::create_directories(Home() / "ZALOHY");
    // A download goes to the internet program that already runs.
    Child running = Spawn({FakeInternetProgram}, dir / "running.out");
    ASSERT_TRUE(Eventually([] { return FindWindowA("TFormqNet", nullptr) != 0; }));

    StartProgram();
    std::string output;
    EXPECT_EQ(0, Call({"--command", "2", "--mode", "2", "--ftp-entry", "--folder", "C:\\data\\", "--linger", "1",
                       "--timeout", "60"},
                      output));
    // The answer 101 ends the run with the one reply, for the run's mode.
    EXPECT_EQ("reply 102\n", output);
    EXPECT_EQ(0, TorvoExit());

    const std::string record = FirstRecord();
    EXPECT_EQ(-1, WaitFor(running, std::chrono::milliseconds(0)));
    ExpectCommonFields(record);
    EXPECT_EQ("ftp_Moje_Ucto", TextAt(record, 122, 80));  // the base name: the server picks the file
    EXPECT_EQ(70, Int32At(record, 203));
    EXPECT_EQ("C:\\ZALOHY\\", TextAt(record, 207, 127));  // "[PATHARCHIV]"
    EXPECT_EQ("", TextAt(record, 398, 255));

    const fs::path fetched = Home() / "ZALOHY" / "ftp_Moje_Ucto.ZIP";
    const std::string transcript = Transcript();
    if (transcript.find("Tato část programu zatím není hotová: RestoreArchive ftp_Moje_Ucto.ZIP.") !=
        std::string::npos) {
        // Nothing was restored, so the fetched archive stays.
        EXPECT_TRUE(fs::exists(fetched));
        EXPECT_FALSE(fs::exists(Home() / "data" / "obnova.dat"));
    } else {
        EXPECT_NE(std::string::npos, transcript.find("Data rozbalena")) << transcript;
        EXPECT_EQ("restored from the server", ReadFile(Home() / "data" / "obnova.dat"));
        EXPECT_FALSE(fs::exists(fetched));
    }
}

TEST_F(HandOffs, TheMailCommandStartsTheMailProgramWithTheArchive)
{
    // The backup menu, the removable drive, then the main window's e-mail command.
    SetResponses("0\n Výměnný disk (E):\nMainMenu:E-mail\n");
    StartProgram();
    const fs::path callerOut = dir / "caller.out";
    Child caller =
        StartCaller({"--command", "1", "--mode", "0", "--folder", "C:\\data\\", "--timeout", "60"}, callerOut);
    ASSERT_TRUE(Eventually([this] { return !ReadFile(dir / "dastel.log").empty(); })) << Transcript();
    // One argument, the archive with its blanks as "?".
    EXPECT_EQ("E:\\ZALOHY\\Moje?Ucto?(001).ZIP\n", ReadFile(dir / "dastel.log"));
    EXPECT_TRUE(fs::exists(dir / "e" / "ZALOHY" / "Moje Ucto (001).ZIP"));

    std::string output;
    EXPECT_EQ(3, Call({"--command", "999", "--timeout", "1"}, output));
    EXPECT_EQ(0, WaitFor(caller));
    EXPECT_EQ("reply 100\n", ReadFile(callerOut));
    EXPECT_EQ(0, TorvoExit());
    // The finish writes the program's own settings, not the mail program's.
    EXPECT_NE("", RegReadString(HKEY_CURRENT_USER, "Software\\Vimo\\Torvo", "InstallVersion", ""));
    EXPECT_EQ("", RegReadString(HKEY_LOCAL_MACHINE, "Software\\Vimo\\Dastel", "InstallVersion", ""));
}

}  // namespace
