#include "app/lib/RequestRecord.h"
#include "platform/win/Messages.h"
#include "support/Child.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Received {
    std::uint32_t command = 0;
    WPARAM sender = 0;
    std::vector<std::uint8_t> bytes;
};

// The program's main window as a caller sees it, in this test process.
class CallerPeer : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", base_.c_str(), 1); }
    void TearDown() override
    {
        if (window_ != 0)
            DestroyWindow(window_);
    }

    // replyNow: answer from inside the handler (nested in the caller's send), else after it.
    void OpenReceiver(bool replyNow, int replies)
    {
        window_ = CreateWindowA("TFormTorvo", "receiver",
                                [this, replyNow, replies](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
                                    if (msg != WM_COPYDATA)
                                        return 0;
                                    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
                                    const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
                                    received_.push_back({static_cast<std::uint32_t>(data->dwData), wParam,
                                                         std::vector<std::uint8_t>(bytes, bytes + data->cbData)});
                                    if (replyNow)
                                        for (int i = 0; i < replies; ++i)
                                            SendReplyRecord(static_cast<HWND>(wParam), 10 + i);
                                    else
                                        pendingReplies_ = replies;
                                    return 0;
                                });
        ASSERT_NE(0u, window_);
    }

    // Runs the caller while serving the receiver; gives its exit code (-1 when it had to be
    // killed) and appends its output.
    int RunCaller(const std::vector<std::string>& args, std::string& output)
    {
        std::vector<std::string> argv{std::string(TORVO_TEST_BIN_DIR) + "/torvo-caller"};
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::Child caller(argv, testsupport::Child::Output::Capture);
        if (!caller.Started())
            return -1;
        const auto code = caller.Wait(testsupport::PeerDeadline, [this] {
            WaitMessageFor(20);
            MSG msg;
            while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            if (pendingReplies_ > 0 && !received_.empty()) {
                for (int i = 0; i < pendingReplies_; ++i)
                    SendReplyRecord(static_cast<HWND>(received_.back().sender), 20 + i);
                pendingReplies_ = 0;
            }
        });
        caller.Kill();
        output += caller.Output();
        return code.value_or(-1);
    }

    TScratchDir scratch;
    const std::string base_ = scratch.Path().string();
    HWND window_ = 0;
    std::vector<Received> received_;
    int pendingReplies_ = 0;
};

TEST_F(CallerPeer, SendsTheRecordAndPrintsNestedReplies)
{
    OpenReceiver(true, 2);
    std::string output;
    EXPECT_EQ(
        0, RunCaller({"--command", "2", "--mode", "12", "--mode-value", "12.5", "--definition", "arch.dta", "--folder",
                      "C:\\Účty\\", "--minimise", "--ftp-entry", "--targets", "{1(S)\\\\x1}", "--timeout", "20"},
                     output));
    EXPECT_EQ("reply 110\nreply 111\n", output);
    ASSERT_EQ(1u, received_.size());
    const Received& r = received_[0];
    EXPECT_EQ(2u, r.command);
    const auto record = DecodeRequestRecord(r.bytes.data(), r.bytes.size());
    ASSERT_TRUE(record);
    EXPECT_EQ(565u, r.bytes.size());
    EXPECT_EQ(r.sender, record->ReplyWindow);
    EXPECT_EQ(r.sender, record->ForegroundWindow);
    EXPECT_EQ(12, record->Mode);
    EXPECT_EQ(12.5, record->ModeValue);
    EXPECT_EQ("arch.dta", record->DefinitionFileName);
    EXPECT_EQ(8, r.bytes[153]);  // Windows-1250: one byte per letter
    EXPECT_EQ("C:\\Účty\\", record->DataFolder);
    EXPECT_EQ(1, record->Minimise);
    EXPECT_EQ(1, record->FtpEntry);
    EXPECT_EQ("{1(S)\\\\x1}", record->NetworkTargets);
}

TEST_F(CallerPeer, WaitsForALaterReply)
{
    OpenReceiver(false, 1);
    std::string output;
    EXPECT_EQ(0, RunCaller({"--command", "999", "--timeout", "20"}, output));
    EXPECT_EQ("reply 120\n", output);
    ASSERT_EQ(1u, received_.size());
    EXPECT_EQ(999u, received_[0].command);
    const auto record = DecodeRequestRecord(received_[0].bytes.data(), received_[0].bytes.size());
    EXPECT_EQ("archivace.dta", record->DefinitionFileName);
    EXPECT_EQ(0.0, record->ModeValue);  // the mode's value when not given
}

TEST_F(CallerPeer, TimeoutNoReceiverAndBadArguments)
{
    std::string output;
    EXPECT_EQ(1, RunCaller({"--command", "1"}, output));
    OpenReceiver(false, 0);
    EXPECT_EQ(3, RunCaller({"--command", "1", "--timeout", "0.3"}, output));
    EXPECT_EQ(1u, received_.size());
    EXPECT_EQ(2, RunCaller({"--mode", "1"}, output));
    EXPECT_EQ(2, RunCaller({"--command", "x"}, output));
    EXPECT_EQ("", output);
}

}  // namespace
