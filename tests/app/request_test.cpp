#include "app/lib/RequestHandler.h"
#include "app/lib/RequestRecord.h"
#include "app/lib/RequestState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace {

TRequestRecord SampleRequest()
{
    TRequestRecord r;
    r.ForegroundWindow = 0x11223344;
    r.ReplyWindow = 0x00ABCDEF;
    r.Mode = 12;
    r.ModeValue = 12;
    r.DefinitionFileName = "archivace.dta";
    r.DataFolder = "C:\\Účetnictví\\03\\";
    r.Minimise = 1;
    r.FtpEntry = 1;
    r.NetworkTargets = "{1(Server)\\\\srv\\data1}";
    return r;
}

TEST(RequestRecord, FieldsSitAtTheirOffsetsInWindows1250)
{
    const TRequestBytes b = EncodeRequestRecord(SampleRequest());
    EXPECT_EQ(0x44, b[0]);
    EXPECT_EQ(0x11, b[3]);
    EXPECT_EQ(0xEF, b[4]);
    EXPECT_EQ(12, b[8]);
    double modeValue = 0;
    std::memcpy(&modeValue, b.data() + 16, 8);
    EXPECT_EQ(12.0, modeValue);
    EXPECT_EQ(13, b[24]);
    EXPECT_EQ(0, std::memcmp(b.data() + 25, "archivace.dta", 13));
    // "Ú" and "í" are one byte each in Windows-1250.
    EXPECT_EQ(17, b[153]);
    EXPECT_EQ(0xDA, b[157]);
    EXPECT_EQ(1, b[307]);
    EXPECT_EQ(1, b[308]);
    EXPECT_EQ(22, b[309]);

    const auto back = DecodeRequestRecord(b.data(), b.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(0x11223344u, back->ForegroundWindow);
    EXPECT_EQ("C:\\Účetnictví\\03\\", back->DataFolder);
    EXPECT_EQ("{1(Server)\\\\srv\\data1}", back->NetworkTargets);
    EXPECT_EQ(12, back->Mode);
}

TEST(RequestRecord, LengthBytesAreClampedAndShortMessagesRefused)
{
    TRequestRecord r;
    r.DefinitionFileName = std::string(300, 'x');
    TRequestBytes b = EncodeRequestRecord(r);
    EXPECT_EQ(128, b[24]);  // cut at the field

    b.fill('A');
    b[24] = 255;
    b[153] = 255;
    b[309] = 255;
    const auto decoded = DecodeRequestRecord(b.data(), b.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(128u, decoded->DefinitionFileName.size());
    EXPECT_EQ(152u, decoded->DataFolder.size());
    EXPECT_EQ(255u, decoded->NetworkTargets.size());

    EXPECT_FALSE(DecodeRequestRecord(b.data(), 564));
    EXPECT_FALSE(DecodeRequestRecord(nullptr, 565));
}

TEST(RequestRecord, ReplyCarriesOnlyModePlusHundred)
{
    const TRequestBytes b = EncodeReplyRecord(-1);
    double value = 0;
    std::memcpy(&value, b.data() + 16, 8);
    EXPECT_EQ(99.0, value);
    for (std::size_t i = 0; i < b.size(); ++i)
        if (i < 16 || i >= 24) {
            ASSERT_EQ(0, b[i]) << i;
        }
}

TEST(ModeValues, FlagTable)
{
    // One column per mode value 0..29, written out as the protocol lists them. 14 is backup side
    // but not automatic; 18 is neither.
    const struct {
        bool TModeValueFlags::*Flag;
        const char* Values;
    } rows[] = {
        // clang-format off
        //                                      0         1         2
        //                                      012345678901234567890123456789
        {&TModeValueFlags::BackupSide,         "x.........xxxxxxxx.xxxxxxxxxxx"},
        {&TModeValueFlags::Automatic,          "..........xxxx.xxx.xxxxxxxxxxx"},
        {&TModeValueFlags::Ftp,                "...............xx..x.........."},
        {&TModeValueFlags::DeferredDispatch,   ".........x...................."},
        {&TModeValueFlags::ReadDefinitionFile, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        // clang-format on
    };
    for (const auto& row : rows)
        for (int v = 0; v <= 29; ++v)
            EXPECT_EQ(row.Values[v] == 'x', FlagsForModeValue(v).*row.Flag) << v << " " << row.Values;
    // Beyond 29 no value sets a workflow flag; only 50 and 100-102 skip the definition file.
    for (const int v : {-1, 30, 49, 50, 51, 99, 100, 101, 102, 103}) {
        const TModeValueFlags f = FlagsForModeValue(v);
        EXPECT_FALSE(f.BackupSide || f.Automatic || f.Ftp || f.DeferredDispatch) << v;
        EXPECT_EQ(v != 50 && v != 100 && v != 101 && v != 102, f.ReadDefinitionFile) << v;
    }
    // Exact comparison: a fraction is none of the listed values.
    EXPECT_FALSE(FlagsForModeValue(12.5).Automatic);
    EXPECT_FALSE(FlagsForModeValue(9.5).DeferredDispatch);
    EXPECT_EQ(10, ModeValueNumber(10.9));
    EXPECT_FALSE(ModeValueNumber(std::nan("")));
}

TEST(ModeValues, Captions)
{
    EXPECT_EQ(" TORVO 1.2.0.0 automatická archivace na FTP", ModeCaption("1.2.0.0", 17, false, "x"));
    EXPECT_EQ(" TORVO 1.2.0.0 obnova - Firma s.r.o.", ModeCaption("1.2.0.0", 2, true, "Firma s.r.o."));
    EXPECT_EQ(" ", ModeName(18));
    EXPECT_EQ(" ", ModeName(-1));
    EXPECT_EQ(" speciální archivace", ModeName(29));
}

TEST(NetworkTargets, BlocksLabelsAndPaths)
{
    const TNetworkTargets t = ParseNetworkTargets("{1(Server)\\\\srv\\data1}{3(NAS)\\\\nas\\z3}[ftp.example.cz]");
    EXPECT_EQ("Server", t.Targets[0].Label);
    EXPECT_EQ("\\\\srv\\data", t.Targets[0].Path);
    EXPECT_TRUE(t.Targets[1].Label.empty());
    EXPECT_EQ("NAS", t.Targets[2].Label);
    EXPECT_EQ("\\\\nas\\z", t.Targets[2].Path);
    EXPECT_EQ("{1(Server)\\\\srv\\data1}{3(NAS)\\\\nas\\z3}[ftp.example.cz]", t.Text);
    // An unclosed block runs to the end of the text instead of reading past it.
    EXPECT_EQ("\\\\x", ParseNetworkTargets("{2(L)\\\\x").Targets[1].Path);
}

// Records what the window would have done.
class FakeHost : public TRequestHost {
public:
    explicit FakeHost(TRequestState& state) : state_(state) {}
    std::set<std::string> files;
    std::vector<std::string> calls;
    std::string menuLine = "Zaloha";
    bool closeInDefinition = false;
    bool finishInPayslips = false;
    HWND replyWindowAtPayslips = 0;
    std::int32_t modeAtPayslips = 0;
    bool restoreSucceeds = true;

    bool FileExists(const std::string& f) override { return files.count(f) == 1; }
    void DeleteFile(const std::string& f) override
    {
        calls.push_back("delete " + f);
        files.erase(f);
    }
    bool ReadDefinitionFile() override
    {
        calls.push_back("read");
        state_.Definition.MenuArchiv = "C:\\menu.txt";
        state_.Definition.Close = closeInDefinition;
        return true;
    }
    std::string FindMenuReturnValue(const std::string& s, int n, bool, const std::string& file) override
    {
        calls.push_back("menu " + s + " " + std::to_string(n) + " " + file);
        return menuLine;
    }
    void ClearFtpEntries() override {}
    void ParseRequestOptions(const std::string& o) override { calls.push_back("options " + o); }
    void StartPayslips() override
    {
        calls.push_back("payslips");
        replyWindowAtPayslips = state_.ReplyWindow;
        modeAtPayslips = state_.Mode;
        if (finishInPayslips)
            FinishRequest();
    }
    bool RestoreArchive(const std::string& a) override
    {
        calls.push_back("restore " + a);
        return restoreSucceeds;
    }
    void DispatchRequest() override { calls.push_back("dispatch"); }
    void FinishRequest() override
    {
        calls.push_back("finish");
        state_.Finished = true;
    }
    void MinimiseApplication(bool m) override { calls.push_back(m ? "minimise" : "restore-window"); }
    void CloseMenuForm() override {}
    void ForceForeground(HWND) override { calls.push_back("foreground"); }
    void ColourForAutomaticRun() override { calls.push_back("silver"); }
    void ShowControlsForMode(std::int32_t) override {}
    void SetModeCaption(bool) override { calls.push_back("caption"); }
    void AutomaticRunDone() override { calls.push_back("done"); }

    bool Called(const std::string& what) const { return std::find(calls.begin(), calls.end(), what) != calls.end(); }

private:
    TRequestState& state_;
};

class Handler : public ::testing::Test {
protected:
    TRequestState state;
    FakeHost host{state};
    TRequestHandler handler{state, host};

    TRequestRecord Request(std::int32_t mode, double modeValue)
    {
        TRequestRecord r;
        r.ForegroundWindow = 5;
        r.ReplyWindow = 77;
        r.Mode = mode;
        r.ModeValue = modeValue;
        r.DefinitionFileName = "archivace.dta";
        r.DataFolder = "C:\\Data\\";
        host.files.insert("C:\\Data\\archivace.dta");
        return r;
    }

    TRequestOutcome Send(std::uint32_t command, const TRequestRecord& r)
    {
        const TRequestBytes b = EncodeRequestRecord(r);
        return handler.Handle(command, b.data(), b.size());
    }
};

TEST_F(Handler, AutomaticRunTakesOverStateAndClosesWhenAsked)
{
    host.closeInDefinition = true;
    EXPECT_EQ(TRequestOutcome::Dispatched, Send(1, Request(12, 12)));
    EXPECT_EQ(77u, state.ReplyWindow);
    EXPECT_EQ(12, state.Mode);
    EXPECT_TRUE(state.Automatic);
    EXPECT_TRUE(host.Called("silver"));
    EXPECT_FALSE(host.Called("foreground"));
    EXPECT_TRUE(host.Called("menu Menu 12 C:\\menu.txt"));
    EXPECT_EQ("Zaloha", state.MenuSection);
    EXPECT_TRUE(host.Called("finish"));
    EXPECT_FALSE(host.Called("done"));  // finished: nothing more happens in this message
    EXPECT_EQ(TRequestOutcome::Ignored, Send(1, Request(12, 12)));
    EXPECT_EQ(1, std::count(host.calls.begin(), host.calls.end(), "dispatch"));
}

TEST_F(Handler, ModeValueFourteenIsInteractiveButStillFinishes)
{
    TRequestRecord r = Request(14, 14);
    r.Minimise = 0;
    Send(1, r);
    EXPECT_FALSE(state.Automatic);
    EXPECT_TRUE(state.BackupSide);
    EXPECT_TRUE(host.Called("foreground"));
    EXPECT_TRUE(state.AutomaticRunFinished);  // the finishing rule goes by the mode
    EXPECT_FALSE(host.Called("finish"));      // [CLOSE] not set
}

TEST_F(Handler, RequestsThatStopWithoutReply)
{
    TRequestRecord r = Request(0, 0);
    r.DataFolder = "C:\\Elsewhere\\";
    EXPECT_EQ(TRequestOutcome::Invalid, Send(1, r));
    r.DefinitionFileName.clear();
    EXPECT_EQ(TRequestOutcome::Invalid, Send(1, r));
    host.menuLine.clear();
    EXPECT_EQ(TRequestOutcome::NoMenuLine, Send(1, Request(0, 0)));
    EXPECT_FALSE(host.Called("dispatch"));
    EXPECT_FALSE(host.Called("finish"));

    const TRequestBytes b = EncodeRequestRecord(Request(0, 0));
    EXPECT_EQ(TRequestOutcome::Malformed, handler.Handle(1, b.data(), 564));
    EXPECT_EQ(TRequestOutcome::Malformed, handler.WMCopyData(1, nullptr));
    const COPYDATASTRUCT empty{1, 565, nullptr};
    EXPECT_EQ(TRequestOutcome::Malformed, handler.WMCopyData(1, &empty));
}

TEST_F(Handler, CommandHundredKeepsTheReplyWindow)
{
    Send(1, Request(0, 0));
    TRequestRecord r = Request(1, 1);
    r.ReplyWindow = 999;
    Send(100, r);
    EXPECT_EQ(77u, state.ReplyWindow);
    EXPECT_EQ(1, state.Mode);
}

TEST_F(Handler, DeferredDispatchWaitsForTheNextMessageThenIgnoresAll)
{
    EXPECT_EQ(TRequestOutcome::Deferred, Send(1, Request(9, 9)));
    EXPECT_FALSE(host.Called("dispatch"));
    EXPECT_EQ(TRequestOutcome::Ignored, Send(1, Request(0, 0)));
    EXPECT_EQ(1, std::count(host.calls.begin(), host.calls.end(), "dispatch"));
    EXPECT_EQ(TRequestOutcome::Ignored, Send(100, Request(0, 0)));
    EXPECT_EQ(1, std::count(host.calls.begin(), host.calls.end(), "dispatch"));

    // The internet program's answer and the caller's finish still get through.
    TRequestRecord fetched = Request(0, 0);
    fetched.DefinitionFileName = "zaloha.zip";
    fetched.DataFolder = "C:\\Down\\";
    host.files.insert("C:\\Down\\zaloha.zip");
    EXPECT_EQ(TRequestOutcome::Restored, Send(101, fetched));
    EXPECT_TRUE(host.Called("restore zaloha.zip"));
    EXPECT_TRUE(host.Called("finish"));
    EXPECT_EQ(TRequestOutcome::Ignored, Send(999, Request(0, 0)));  // already finished
    EXPECT_EQ(1, std::count(host.calls.begin(), host.calls.end(), "finish"));
}

TEST_F(Handler, FinishOfADeferredRunAndOfPayslipsEndsTheMessage)
{
    Send(1, Request(9, 9));
    EXPECT_EQ(TRequestOutcome::Finished, Send(999, Request(0, 0)));
    EXPECT_EQ(std::vector<std::string>({"dispatch", "finish"}),
              std::vector<std::string>(host.calls.end() - 2, host.calls.end()));

    // Payslips that reply by themselves must not lead into a second dispatch.
    state = TRequestState{};
    host.calls.clear();
    host.finishInPayslips = true;
    TRequestRecord r = Request(50, 50);
    r.DefinitionFileName = "archivace.dta";
    r.DataFolder = "C:\\Data\\";
    EXPECT_EQ(TRequestOutcome::Finished, Send(50, r));
    EXPECT_FALSE(host.Called("dispatch"));
}

TEST_F(Handler, FetchedArchiveIsRestoredAndDeleted)
{
    TRequestRecord r = Request(0, 0);
    r.DefinitionFileName = "zaloha.zip";
    r.DataFolder = "C:\\Down\\";
    EXPECT_EQ(TRequestOutcome::FetchedFileMissing, Send(101, r));
    EXPECT_FALSE(host.Called("finish"));

    host.files.insert("C:\\Down\\zaloha.zip");
    EXPECT_EQ(TRequestOutcome::Restored, Send(102, r));
    EXPECT_EQ(std::vector<std::string>({"restore zaloha.zip", "delete C:\\Down\\zaloha.zip", "finish"}), host.calls);
    EXPECT_EQ(0u, state.ReplyWindow);  // 101/102 never take the reply window
}

TEST_F(Handler, FetchedArchiveThatFailedToRestoreIsKept)
{
    TRequestRecord r = Request(0, 0);
    r.DefinitionFileName = "zaloha.zip";
    r.DataFolder = "C:\\Down\\";
    host.files.insert("C:\\Down\\zaloha.zip");
    host.restoreSucceeds = false;
    EXPECT_EQ(TRequestOutcome::Restored, Send(101, r));
    EXPECT_EQ(std::vector<std::string>({"restore zaloha.zip", "finish"}), host.calls);
}

TEST_F(Handler, PayslipsKnowWhomToAnswerBeforeTheyStart)
{
    TRequestRecord r = Request(50, 50);
    r.DefinitionFileName = "C:\\Pasky\\";
    r.DataFolder = "0112";
    EXPECT_EQ(TRequestOutcome::Invalid, Send(50, r));
    EXPECT_TRUE(host.Called("options C:\\Pasky\\ 0112"));
    EXPECT_EQ(77u, host.replyWindowAtPayslips);
    EXPECT_EQ(50, host.modeAtPayslips);
    EXPECT_TRUE(state.PayslipRequest);
}

TEST_F(Handler, CommandTwoParsesNetworkTargetsAndFinishOnlyFinishes)
{
    TRequestRecord r = Request(1, 1);
    r.FtpEntry = 1;
    r.NetworkTargets = "{2(NAS)\\\\nas\\b2}";
    Send(2, r);
    EXPECT_TRUE(state.FtpEntry);
    EXPECT_TRUE(state.HasNetworkText);
    EXPECT_EQ("NAS", state.Network.Targets[1].Label);

    host.calls.clear();
    EXPECT_EQ(TRequestOutcome::Finished, Send(999, Request(0, 0)));
    EXPECT_EQ(std::vector<std::string>({"finish"}), host.calls);
    EXPECT_FALSE(state.FtpEntry);  // cleared by every accepted message
}

}  // namespace
