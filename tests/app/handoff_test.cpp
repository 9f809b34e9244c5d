#include "app/lib/HandOff.h"
#include "app/lib/RequestRecord.h"
#include "platform/win/Messages.h"
#include "platform/win/Process.h"
#include "platform/win/Time.h"
#include "support/Child.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TFtpEntries SomeEntries()
{
    TFtpEntries entries;
    entries[1] = {"Server dvě", "ftp.example.test;user;21"};
    return entries;
}

}  // namespace

TEST(HandOffRecord, FieldsAtTheirOffsetsInWindows1250AndCutToTheirFields)
{
    THandOffRecord r = MakeUploadRecord(0x01020304, 10, 20, 19, 1, SomeEntries(), "Účetnictví/2024",
                                        "C:\\Vimo\\10001\\", "zaloha.zip");
    TCutFields cut;
    THandOffBytes b = EncodeHandOffRecord(r, &cut);
    EXPECT_TRUE(cut.empty());
    EXPECT_EQ(b[4], 0x04);
    EXPECT_EQ(b[7], 0x01);
    EXPECT_EQ(b[8] | b[9] << 8, 285);  // left + 275
    EXPECT_EQ(b[12], 195);             // top + 175
    EXPECT_EQ(b[16], 1);               // manual upload
    EXPECT_EQ(b[18], 10);              // "Server dvě": 10 Windows-1250 bytes
    EXPECT_EQ(b[18 + 10], 0xEC);       // "ě"
    EXPECT_EQ(std::string(b.begin() + 49, b.begin() + 55), std::string("\x05TORVO"));
    EXPECT_EQ(b[101], 15);
    EXPECT_EQ(b[102], 0xDA);  // "Ú"
    EXPECT_EQ(std::string(b.begin() + 123, b.begin() + 133), "zaloha.zip");
    EXPECT_EQ(b[203], 19);
    EXPECT_EQ(std::string(b.begin() + 208, b.begin() + 208 + b[207]), "C:\\Vimo\\10001\\");
    EXPECT_EQ(std::string(b.begin() + 399, b.begin() + 399 + b[398]), "ftp.example.test;user;21");
    auto back = DecodeHandOffRecord(b.data(), b.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->FtpName, "Server dvě");
    EXPECT_EQ(back->FtpFolder, "Účetnictví/2024");
    EXPECT_EQ(back->Window, 0x01020304u);
    EXPECT_FALSE(DecodeHandOffRecord(b.data(), b.size() - 1));

    // Too long, or not in Windows-1250: cut to the field, never into the next one, and reported.
    r.ArchiveName = std::string(81, 'a');
    r.FtpFolder = std::string(25, 'f');
    r.LocalFolder = "C:\\日本\\";
    cut.clear();
    b = EncodeHandOffRecord(r, &cut);
    EXPECT_EQ(cut, (TCutFields{"FtpFolder", "ArchiveName", "LocalFolder"}));
    EXPECT_EQ(b[101], 20);
    EXPECT_EQ(b[122], 80);
    EXPECT_EQ(b[203], 19);
    EXPECT_EQ(b[121], 'f');
    EXPECT_EQ(b[122 + 80], 'a');
    // A length byte beyond its field reads only the field.
    b[18] = 200;
    const std::string name = DecodeHandOffRecord(b.data(), b.size())->FtpName;
    EXPECT_EQ(name.size(), 31u);  // 30 bytes, "ě" two of them in UTF-8
    EXPECT_EQ(name.find("TORVO"), std::string::npos);
}

TEST(HandOffRecord, CodesFoldersSiblingsAndTheMailArgument)
{
    auto upload = [](const char* text) {
        auto c = UploadChoiceOfCodeText(text);
        return c ? std::pair{c->TransferCode, c->FtpEntry} : std::pair{-1, -1};
    };
    EXPECT_EQ(upload("100"), (std::pair{10, 0}));
    EXPECT_EQ(upload("102"), (std::pair{12, 2}));
    EXPECT_EQ(upload("107"), (std::pair{17, 7}));
    EXPECT_EQ(upload("19"), (std::pair{19, 9}));
    EXPECT_EQ(upload("x"), (std::pair{-1, -1}));
    EXPECT_EQ(DownloadTransferCode(2, 21), 22);
    EXPECT_EQ(DownloadTransferCode(1, 2), 70);
    EXPECT_EQ(DownloadTransferCode(0, 99), 70);
    EXPECT_TRUE(IsDownloadCode(70) && IsDownloadCode(20) && !IsDownloadCode(19));

    EXPECT_EQ(HandOffFtpFolder("10001/zalohy", "10001", "10001"), "10001/zalohy");
    EXPECT_EQ(HandOffFtpFolder("10001/zalohy", "10001", "20002"), "20002/zalohy");

    THandOffRecord d = MakeDownloadRecord(7, 0, 0, 21, 1, SomeEntries(), "f", "Zaloha", "C:\\Arch\\");
    EXPECT_EQ(d.Manual, 0);
    EXPECT_EQ(d.FtpDetails, "ftp.example.test;user;21");
    EXPECT_EQ(MakeDownloadRecord(7, 0, 0, 70, 12, SomeEntries(), "f", "Z", "C:\\").FtpName, "");

    EXPECT_FALSE(SiblingProgramOf(DefaultProductIndex));
    EXPECT_STREQ(SiblingProgramOf(2)->WindowClass, "TFormQalbet");
    EXPECT_STREQ(SiblingProgramOf(5)->Name, "Fesmol");
    EXPECT_FALSE(SiblingProgramOf(4));

    EXPECT_EQ(MailProgramArgument("C:\\Moje zálohy\\a b.zip"), "C:\\Moje?zálohy\\a?b.zip");
    EXPECT_EQ(InternetProgramStartWaitMs(0), MinimumStartWaitMs);
    EXPECT_EQ(InternetProgramStartWaitMs(30), 30500u);
}

namespace {

struct Received {
    std::uint32_t command;
    TRequestRecord record;
};

// This process plays the main window; the internet and mail programs are the fakes.
class HandOffPeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_RUNTIME_DIR", base_.c_str(), 1);
        fs::create_directories(base_ + "/inst");
        fs::create_directories(base_ + "/arch");
        fs::create_symlink(std::string(TORVO_TEST_BIN_DIR) + "/fake-qnet", base_ + "/inst/qNet");
        fs::create_symlink(std::string(TORVO_TEST_BIN_DIR) + "/fake-dastel", base_ + "/inst/Dastel");
        std::ofstream(base_ + "/fetched.zip", std::ios::binary) << "PK\x05\x06 fetched";
        setenv("TORVO_FAKE_QNET_LOG", (base_ + "/qnet.log").c_str(), 1);
        setenv("TORVO_FAKE_QNET_ZIP", ZDrivePath(base_ + "/fetched.zip").c_str(), 1);
        unsetenv("TORVO_FAKE_QNET_NESTED");
        main_ = CreateWindowA("TFormTorvo", "main", [this](HWND, UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
            if (msg == WM_COPYDATA) {
                const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
                if (auto r = DecodeRequestRecord(data->lpData, data->cbData))
                    received_.push_back({static_cast<std::uint32_t>(data->dwData), *r});
            }
            return 0;
        });
        ASSERT_NE(main_, 0u);
    }
    void TearDown() override
    {
        if (FindWindowA(InternetProgramClass, nullptr))
            PostMessageToClass(InternetProgramClass, WM_QUIT, 0, 0);
        WaitGone();
        DestroyWindow(main_);
    }
    static void Pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    void PumpUntilReceived()
    {
        testsupport::Eventually([this] { return !received_.empty(); }, testsupport::PeerDeadline,
                                [] {
                                    WaitMessageFor(10);
                                    Pump();
                                });
    }
    static bool WaitGone()
    {
        return testsupport::Eventually([] { return FindWindowA(InternetProgramClass, nullptr) == 0; });
    }
    THandOffRecord Download() const
    {
        return MakeDownloadRecord(main_, 0, 0, 21, 1, SomeEntries(), "10001", "Zaloha", ZDrivePath(base_ + "/arch"));
    }

    TScratchDir scratch;
    const std::string base_ = scratch.Path().string();
    HWND main_ = 0;
    std::vector<Received> received_;
};

}  // namespace

TEST_F(HandOffPeers, TheInternetProgramIsAwaitedLogsRecordsAndAnswersADownloadAfterTheSend)
{
    EXPECT_EQ(FindWindowA(InternetProgramClass, nullptr), 0u);
    EXPECT_EQ(StartInternetProgram(ZDrivePath(base_ + "/missing"), 2000), 0u);
    HWND qnet = StartInternetProgram(ZDrivePath(base_ + "/inst"), InternetProgramStartWaitMs(0), Pump);
    ASSERT_NE(qnet, 0u);

    THandOffRecord upload = MakeUploadRecord(main_, 5, 5, 11, 1, SomeEntries(), "10001", "C:\\A\\", "a.zip");
    ASSERT_TRUE(SendHandOffRecord(qnet, upload));
    ASSERT_TRUE(SendHandOffRecord(qnet, Download()));
    EXPECT_TRUE(received_.empty());  // the answer comes after our send has returned
    PumpUntilReceived();
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].command, 101u);
    EXPECT_EQ(received_[0].record.DefinitionFileName, "Zaloha.ZIP");
    EXPECT_EQ(received_[0].record.DataFolder, ZDrivePath(base_ + "/arch") + "\\");
    EXPECT_EQ(ReadText(base_ + "/arch/Zaloha.ZIP"), ReadText(base_ + "/fetched.zip"));

    const std::string log = ReadText(base_ + "/qnet.log");
    ASSERT_EQ(log.size(), 2 * HandOffRecordSize);
    const THandOffBytes first = EncodeHandOffRecord(upload);
    EXPECT_EQ(log.substr(0, HandOffRecordSize), std::string(first.begin(), first.end()));
    EXPECT_EQ(DecodeHandOffRecord(log.data() + HandOffRecordSize, HandOffRecordSize)->TransferCode, 21);

    EXPECT_TRUE(PostMessageToClass(InternetProgramClass, WM_QUIT, 0, 0));
    EXPECT_TRUE(WaitGone());
}

TEST_F(HandOffPeers, ANestedAnswerArrivesInsideTheSendAndTheMailProgramGetsOneArgument)
{
    setenv("TORVO_FAKE_QNET_NESTED", "1", 1);
    HWND qnet = StartInternetProgram(ZDrivePath(base_ + "/inst"), InternetProgramStartWaitMs(0));
    ASSERT_NE(qnet, 0u);
    ASSERT_TRUE(SendHandOffRecord(qnet, Download()));
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].command, 101u);

    // Nothing there: the bounded wait gives up.
    const DWORD start = GetTickCount();
    EXPECT_EQ(WaitForWindow("TFormNobodyHere", 200), 0u);
    EXPECT_GE(GetTickCount() - start, 200u);

    setenv("TORVO_FAKE_DASTEL_LOG", (base_ + "/dastel.log").c_str(), 1);
    const std::string exe = MailProgramExecutable(ZDrivePath(base_ + "/inst"));
    const std::string arg = MailProgramArgument(ZDrivePath(base_ + "/arch") + "\\moje zaloha.zip");
    HINSTANCE started = ShellExecuteA(0, "open", exe.c_str(), arg.c_str(), nullptr, 1);
    ASSERT_GT(reinterpret_cast<std::intptr_t>(started), 32);
    testsupport::Eventually([&] { return !ReadText(base_ + "/dastel.log").empty(); });
    EXPECT_EQ(ReadText(base_ + "/dastel.log"), arg + "\n");
}
