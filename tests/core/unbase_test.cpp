// The extract driver, run over a tiny format of the test's own: "FAKE", then per member a
// header (name length, name, flags, attributes, DOS date, CRC-32, size) and its stored data.
#include "core/UnBase.h"
#include "core/plxStreams.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/SysFiles.h"
#include "support/Reports.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>

#include <algorithm>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t kDir = 1, kEncrypted = 2, kUnsupported = 4;
// 2021-06-15 10:20:30
constexpr std::uint32_t kDos = (std::uint32_t((2021 - 1980) << 9 | 6 << 5 | 15) << 16) | (10 << 11 | 20 << 5 | 15);

struct Member {
    Member(std::string name, std::string data, std::uint8_t flags = 0, std::uint32_t attr = 0x20,
           std::string password = {}, bool badCrc = false, bool complementedCrc = false)
        : Name(std::move(name)),
          Data(std::move(data)),
          Flags(flags),
          Attr(attr),
          Password(std::move(password)),
          BadCrc(badCrc),
          ComplementedCrc(complementedCrc)
    {}
    std::string Name;
    std::string Data;
    std::uint8_t Flags;
    std::uint32_t Attr;
    std::string Password;  // enciphers the data when set
    bool BadCrc;
    bool ComplementedCrc;  // stored as the running register
};

std::string BuildArchive(const std::vector<Member>& members)
{
    std::string out = "FAKE";
    for (const auto& m : members) {
        std::uint32_t crc = Crc32Of(m.Data);
        std::string data = m.Data;
        if (!m.Password.empty()) {
            TZipCipher cipher;
            std::string header = cipher.MakeCryptHeader(m.Password, crc);
            cipher.EncryptBuffer(data.data(), data.size());
            data = header + data;
        }
        if (m.BadCrc)
            crc ^= 0x1234;
        if (m.ComplementedCrc)
            crc = ~crc;
        AppendLE<std::uint16_t>(out, std::uint16_t(m.Name.size()));
        out += m.Name;
        AppendLE<std::uint8_t>(out, m.Flags | (m.Password.empty() ? 0 : kEncrypted));
        AppendLE<std::uint32_t>(out, m.Attr);
        AppendLE<std::uint32_t>(out, kDos);
        AppendLE<std::uint32_t>(out, crc);
        AppendLE<std::uint32_t>(out, std::uint32_t(data.size()));
        out += data;
    }
    return out;
}

class TFakeUn : public TUnBase {
public:
    std::function<void(TFakeUn&)> Fault;  // runs before the walk

    TArcType GetArcType(TStream32& Stream) override
    {
        char magic[4] = {};
        return Stream.Read(magic, 4) == 4 && std::string(magic, 4) == "FAKE" ? atZip : atUnknown;
    }
    // Both CRC bytes of the header, so that a wrong password passes once in 65536, not in 256.
    bool CheckPassword() override
    {
        return DataCipher.CheckCryptHeader(CryptHeader, 0, FCrc, Password(), 0) &&
               CryptHeader[10] == std::uint8_t(FCrc >> 16);
    }
    bool CanDecodeEntry() override
    {
        if (FUnsupported)
            DoError(FileName, "", 25326, VolumeName);
        return !FUnsupported;
    }

    void ProcessArchive(TStream32* Archive) override
    {
        if (Fault)
            Fault(*this);
        Archive->SetPosition(4);
        while (Archive->Position() < Archive->Size() && !GetCancel())
            ProcessMember(*Archive);
    }

private:
    template <class T>
    T Get(TStream32& s)
    {
        T v{};
        s.ReadBuffer(&v, sizeof v);
        return v;
    }

    void ProcessMember(TStream32& a)
    {
        std::string name(Get<std::uint16_t>(a), '\0');
        a.ReadBuffer(name.data(), std::int32_t(name.size()));
        const auto flags = Get<std::uint8_t>(a);
        const auto attr = Get<std::uint32_t>(a);
        const auto dos = Get<std::uint32_t>(a);
        FCrc = Get<std::uint32_t>(a);
        const auto size = Get<std::uint32_t>(a);
        const std::int64_t next = a.Position() + size;
        Encrypted = flags & kEncrypted;
        FUnsupported = flags & kUnsupported;
        const bool dir = flags & kDir;
        if (!MatchesStoredName(name, RecurseDirs) || !(NameEntry(name), PrepareOutput(dir))) {
            SkippedMemberProc(size);
            a.SetPosition(next);
            return;
        }
        if (dir) {
            if (CreateStoredDirs && MakeStoredDir(FileName)) {
                RunningCrc.Crc32 = ~FCrc;
                CheckCrc(32, FCrc);
            }
            return;
        }
        std::int64_t packed = size;
        if (Encrypted) {
            if (!AcquirePassword())
                DoBadPassword();
            packed -= 12;
        }
        std::unique_ptr<TStream32> out;
        if (!OpenOutStream(out, FileName)) {
            if (!SkipEntry)
                DoError(FileName, "", 25235, VolumeName);
            a.SetPosition(next);
            return;
        }
        StartEntryData();
        MemberBytesRemaining() = packed;
        const std::uint8_t record[1] = {std::uint8_t(Encrypted ? 1 : 0)};
        CopyStoredMember(&a, out.get(), record, FileName, 32);
        CloseOutFile(out, FileName, attr, dos);
        CheckCrc(32, FCrc);
        a.SetPosition(next);
    }

    std::uint32_t FCrc = 0;
    bool FUnsupported = false;
};

struct Report {
    std::string FileName, ExtendedMsg;
    int ECode;
};

class UnBaseTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        un.OnError = [this](TObject*, const std::string& f, const std::string& x, const std::string&, int code) {
            reports.push_back({f, x, code});
        };
        un.SetFileSpec({"*.*"});
        un.SetExtractDir("C:\\out");
    }

    void MakeArchive(const std::vector<Member>& members)
    {
        WriteHostFile(home + "/arc.fake", BuildArchive(members));
        un.SetArchiveFile("C:\\arc.fake");
        ASSERT_EQ(un.ArcType(), atZip);
    }

    std::vector<int> Codes() const
    {
        std::vector<int> codes;
        for (const auto& r : reports)
            codes.push_back(r.ECode);
        return codes;
    }
    std::string Out(const std::string& rel) const { return ReadHostFile(home + "/out/" + rel); }
    bool OutExists(const std::string& rel) const { return std::filesystem::exists(home + "/out/" + rel); }

    TFakeUn un;
    std::vector<Report> reports;
};

TEST_F(UnBaseTest, RunFiresItsEventsInOrderAndWritesEveryMember)
{
    MakeArchive({{"a.txt", "alpha"}, {"sub/", "", kDir}, {"sub/b.txt", "bravo bravo"}});
    std::vector<std::string> trace;
    un.CreateStoredDirs = true;
    un.OnActivate = [&](TObject*) { trace.push_back("activate"); };
    const auto last = [](const std::string& f) { return win::ExtractFileName(win::ExcludeTrailingPathDelimiter(f)); };
    un.OnBegin = [&](TObject*, const std::string& f, int n, bool&) {
        trace.push_back("begin " + last(f) + " " + std::to_string(n));
    };
    un.OnEnd = [&](TObject*, const std::string& f, bool pass) {
        trace.push_back("end " + last(f) + (pass ? " ok" : " bad"));
    };
    un.OnElapsedTime = [&](TObject*, float) { trace.push_back("elapsed"); };
    un.OnDeactivate = [&](TObject*) { trace.push_back("deactivate"); };

    EXPECT_EQ(un.Extract(), 3);
    EXPECT_EQ(trace, (std::vector<std::string>{"activate", "begin a.txt 1", "end a.txt ok", "begin sub 2", "end sub ok",
                                               "begin b.txt 3", "end b.txt ok", "elapsed", "deactivate"}));
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(Out("a.txt"), "alpha");
    EXPECT_EQ(Out("sub/b.txt"), "bravo bravo");
    EXPECT_EQ(un.ArchiveFile(), "C:\\arc.fake");
    EXPECT_EQ(un.ArchiveStream, nullptr);

    // Without CreateStoredDirs a folder entry ends without OnEnd.
    trace.clear();
    un.CreateStoredDirs = false;
    un.Extract();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "end sub ok"), 0);

    // No archive: nothing runs, 25192.
    TFakeUn none;
    std::vector<int> codes;
    none.OnError = CollectCodes(codes);
    none.OnActivate = [&](TObject*) { codes.push_back(-1); };
    EXPECT_EQ(none.Extract(), 0);
    EXPECT_EQ(codes, std::vector<int>{25192});
}

TEST_F(UnBaseTest, OverwriteRulesAndTheFileExistsQuestion)
{
    MakeArchive({{"a.txt", "new"}});
    const std::string target = home + "/out/a.txt";
    WriteHostFile(target, "old");

    un.OverwriteMode = omSkip;
    un.Extract();
    EXPECT_EQ(Out("a.txt"), "old");

    // A read-only file is written over when the mode says so.
    un.OverwriteMode = omOverwrite;
    chmod(target.c_str(), 0444);
    un.Extract();
    EXPECT_EQ(Out("a.txt"), "new");

    // Asking without a handler: reported, and the mode turns to skip.
    WriteHostFile(target, "old");
    un.ConfirmOverwrites = true;
    un.Extract();
    EXPECT_EQ(Out("a.txt"), "old");
    ASSERT_EQ(Codes(), std::vector<int>{E_REQUIREDEVENT});
    EXPECT_EQ(reports[0].ExtendedMsg, "OnFileExists");
    EXPECT_EQ(un.OverwriteMode, omSkip);

    // A new name without a folder lands beside the target, and a skip becomes a write there.
    std::vector<std::string> asked;
    un.OnFileExists = [&](TObject*, const std::string& f, std::string& newName, TOverwriteMode& mode) {
        asked.push_back(win::ExtractFileName(f));
        if (asked.size() == 1)
            newName = "renamed.txt";
        else
            mode = omSkip;
    };
    un.Extract();
    EXPECT_EQ(asked, std::vector<std::string>{"a.txt"});
    EXPECT_EQ(Out("a.txt"), "old");
    EXPECT_EQ(Out("renamed.txt"), "new");

    // The renamed target exists too now: asked again, and the answer skip leaves both alone.
    asked.clear();
    WriteHostFile(home + "/out/renamed.txt", "second");
    un.Extract();
    EXPECT_EQ(asked, (std::vector<std::string>{"a.txt", "renamed.txt"}));
    EXPECT_EQ(Out("renamed.txt"), "second");

    // A pipe (system attribute) is never opened: that would block.
    std::filesystem::remove(target);
    ASSERT_EQ(mkfifo(target.c_str(), 0644), 0);
    un.ConfirmOverwrites = false;
    un.OverwriteMode = omOverwrite;
    reports.clear();
    EXPECT_EQ(un.Extract(), 0);
    EXPECT_EQ(Codes(), std::vector<int>{25137});
}

TEST_F(UnBaseTest, DateAndAttributesFollowTheOptions)
{
    MakeArchive({{"ro.txt", "r", 0, 0x21}, {"plain.txt", "p", 0, 0x20}});
    un.Extract();
    EXPECT_EQ(win::FileAge("C:\\out\\ro.txt"), std::int32_t(kDos));
    EXPECT_EQ(win::FileAge("C:\\out\\plain.txt"), std::int32_t(kDos));
    EXPECT_TRUE(GetFileAttributesA("C:\\out\\ro.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(GetFileAttributesA("C:\\out\\plain.txt") & FILE_ATTRIBUTE_READONLY);

    // Without RestoreFileAttr the read-only file comes out writable; the system date replaces
    // the stored one.
    un.RestoreFileAttr = false;
    un.DateAttribute = daSysDate;
    un.Extract();
    EXPECT_FALSE(GetFileAttributesA("C:\\out\\ro.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_GT(win::FileAge("C:\\out\\ro.txt"), std::int32_t(kDos));
    EXPECT_TRUE(reports.empty());
}

TEST_F(UnBaseTest, SelectionByFileSpecAndExcludeSpec)
{
    MakeArchive({{"a.txt", "a"}, {"b.txt", "b"}, {"c.dat", "c"}, {"d/e.txt", "e"}});
    std::vector<std::string> excluded;
    un.OnExcludeFile = [&](TObject*, const std::string& f) { excluded.push_back(f); };
    un.SetFileSpec({"*.txt"});
    un.SetExcludeSpec({"b*"});
    std::vector<std::uint8_t> progress;
    un.OnProgress = [&](TObject*, std::uint8_t, std::uint8_t archive) { progress.push_back(archive); };

    EXPECT_EQ(un.Extract(), 2);
    EXPECT_EQ(NamesIn(home + "/out"), (std::set<std::string>{"a.txt", "d"}));
    EXPECT_EQ(excluded, std::vector<std::string>{"b.txt"});
    // Skipped members move the archive progress too, and it never goes back.
    ASSERT_GE(progress.size(), 4u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GT(progress.front(), 0);
}

TEST_F(UnBaseTest, CrcFailureIsReportedPerMemberAndTheRunGoesOn)
{
    MakeArchive({{"bad.txt", "x", 0, 0x20, "", true}, {"inv.txt", "y", 0, 0x20, "", false, true}, {"ok.txt", "z"}});
    std::vector<bool> results;
    un.OnEnd = [&](TObject*, const std::string&, bool pass) { results.push_back(pass); };
    EXPECT_EQ(un.Extract(), 2);  // the member that failed its check is not counted
    EXPECT_EQ(results, (std::vector<bool>{false, true, true}));
    ASSERT_EQ(Codes(), std::vector<int>{25151});
    EXPECT_EQ(reports[0].FileName, "C:\\out\\bad.txt");
}

TEST_F(UnBaseTest, PasswordSearchAsksTheHostAndRemembersWhatPassed)
{
    MakeArchive({{"one.txt", "first secret", 0, 0x20, "s3cret"}, {"two.txt", "second", 0, 0x20, "s3cret"}});
    un.SetPasswords({"wrong"});
    std::vector<std::string> asked;
    un.OnGetPassword = [&](TObject*, const std::string& f, std::string& pw, TSeedKeyRecord&, TSeedKeyRecord&, bool&) {
        asked.push_back(win::ExtractFileName(f));
        pw = asked.size() == 1 ? "guess" : "s3cret";
    };
    EXPECT_EQ(un.Extract(), 2);
    EXPECT_EQ(asked, (std::vector<std::string>{"one.txt", "one.txt"}));
    ASSERT_EQ(Codes(), std::vector<int>{26517});
    EXPECT_EQ(reports[0].ExtendedMsg, "guess");
    EXPECT_EQ(Out("one.txt"), "first secret");
    EXPECT_EQ(Out("two.txt"), "second");
    EXPECT_EQ(un.Passwords.front(), "s3cret");

    // The host gives up: reported, not counted, nothing written, the bad-password hook told.
    std::filesystem::remove_all(home + "/out");
    un.SetPassword("");
    un.SetPasswords({});
    reports.clear();
    un.OnGetPassword = [&](TObject*, const std::string&, std::string&, TSeedKeyRecord&, TSeedKeyRecord&,
                           bool& tryAgain) { tryAgain = false; };
    std::vector<std::string> bad;
    un.OnBadPassword = [&](TObject*, const std::string& stored, bool&) { bad.push_back(stored); };
    EXPECT_EQ(un.Extract(), 0);
    EXPECT_EQ(Codes(), (std::vector<int>{26517, 26517}));
    EXPECT_EQ(reports[0].ExtendedMsg, "User canceled");
    EXPECT_EQ(bad, (std::vector<std::string>{"one.txt", "two.txt"}));
    EXPECT_FALSE(OutExists("one.txt"));

    // No handler at all.
    reports.clear();
    un.OnGetPassword = nullptr;
    EXPECT_EQ(un.Extract(), 0);
    ASSERT_EQ(Codes(), (std::vector<int>{E_REQUIREDEVENT, E_REQUIREDEVENT}));
    EXPECT_EQ(reports[0].ExtendedMsg, "OnGetPassword");
}

TEST_F(UnBaseTest, OperationCodesDecideWhereOutputGoes)
{
    MakeArchive({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    std::vector<std::string> begun, ended;
    un.OnBegin = [&](TObject*, const std::string& f, int, bool&) { begun.push_back(f); };
    un.OnEnd = [&](TObject*, const std::string& f, bool pass) { ended.push_back(f + (pass ? "+" : "-")); };

    // Test: the stored names go out, nothing is written.
    EXPECT_EQ(un.TestArchive(), 2);
    EXPECT_EQ(begun, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(ended, (std::vector<std::string>{"a.txt+", "b.txt+"}));
    EXPECT_TRUE(NamesIn(home + "/out").empty());

    TMemoryStream32 stream;
    un.CallerStream = &stream;
    EXPECT_EQ(un.RunOperation(opCallerStream), 2);
    EXPECT_EQ(std::string(static_cast<char*>(stream.Memory()), std::size_t(stream.Size())), "alphabeta");

    char buffer[16] = {};
    un.CallerBuffer = reinterpret_cast<std::uint8_t*>(buffer);
    un.CallerBufferCapacity = 7;  // the rest does not fit: reported, never written past
    EXPECT_EQ(un.RunOperation(opCallerBuffer), 1);
    EXPECT_EQ(std::string(buffer), "alphabe");
    EXPECT_EQ(Codes(), (std::vector<int>{25136, 25151}));

    TUnBaseHeaderObj list;
    un.HeaderList = &list;
    EXPECT_EQ(un.RunOperation(opListTarget), 2);
    ASSERT_EQ(list.Count, 2u);
    EXPECT_EQ(std::string(list.GetBlock(1).begin(), list.GetBlock(1).end()), "b.txt");
    EXPECT_TRUE(NamesIn(home + "/out").empty());
}

TEST_F(UnBaseTest, EveryFailureIsReportedOnceAndACancelNotAtAll)
{
    MakeArchive({{"a.txt", "alpha"}});
    struct Case {
        const char* Name;
        std::function<void(TFakeUn&)> Fault;
        std::vector<int> Expected;
    };
    const std::vector<Case> cases = {
        {"reported error", [](TFakeUn& u) { u.RaiseError("x", "", "", 25116); }, {25116}},
        {"unreported E_RAISE", [](TFakeUn&) { throw E_RAISE(E_INDEXOUTOFBOUNDS); }, {E_INDEXOUTOFBOUNDS}},
        {"out of memory", [](TFakeUn&) { throw std::bad_alloc(); }, {25253}},
        {"library exception", [](TFakeUn&) { throw std::runtime_error("boom"); }, {25355}},
        {"stream error", [](TFakeUn&) { throw EReadError("Stream read error"); }, {25355}},
        {"foreign object", [](TFakeUn&) { throw 42; }, {25355}},
        {"cancel", [](TFakeUn&) { throw ECancel(); }, {}},
        {"cancelled raise",
         [](TFakeUn& u) {
             *u.CancelPtr = true;
             u.RaiseError("x", "", "", 25116);
         },
         {E_USERCANCEL}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        reports.clear();
        int deactivated = 0;
        un.OnDeactivate = [&](TObject*) { ++deactivated; };
        un.Fault = c.Fault;
        EXPECT_EQ(un.Extract(), 0);
        EXPECT_EQ(Codes(), c.Expected);
        EXPECT_EQ(deactivated, 1);
    }
    un.Fault = [](TFakeUn&) { throw std::runtime_error("boom"); };
    reports.clear();
    un.Extract();
    EXPECT_EQ(reports.at(0).ExtendedMsg, "boom");

    // A handler that throws ends the run with a report too.
    un.Fault = nullptr;
    reports.clear();
    un.OnBegin = [](TObject*, const std::string&, int, bool&) { throw std::logic_error("handler"); };
    un.Extract();
    EXPECT_EQ(Codes(), std::vector<int>{25355});
}

TEST_F(UnBaseTest, NamesThatLeaveTheFolderAreSkippedAndNothingIsWrittenOutside)
{
    std::filesystem::create_directories(home + "/elsewhere");
    std::filesystem::create_directories(home + "/out");
    std::filesystem::create_symlink(home + "/elsewhere", home + "/out/link");
    MakeArchive({{"../escape.txt", "x"},
                 {"a/../../up.txt", "x"},
                 {"link/through.txt", "x"},
                 {"C:/abs.txt", "abs"},
                 {"ok.txt", "fine"}});
    int begun = 0;
    un.OnBegin = [&](TObject*, const std::string&, int, bool&) { ++begun; };

    EXPECT_EQ(un.Extract(), 2);
    EXPECT_EQ(Codes(), (std::vector<int>{25245, 25245, 25137}));
    EXPECT_EQ(begun, 3);
    EXPECT_EQ(Out("ok.txt"), "fine");
    EXPECT_EQ(Out("abs.txt"), "abs");
    EXPECT_TRUE(NamesIn(home + "/elsewhere").empty());
    EXPECT_EQ(NamesIn(home), (std::set<std::string>{"arc.fake", "elsewhere", "out"}));
}

TEST_F(UnBaseTest, AnUndecodableMemberLeavesAnExistingFileAlone)
{
    MakeArchive({{"keep.txt", "new", kUnsupported}, {"locked.txt", "new", 0, 0x20, "pw"}});
    WriteHostFile(home + "/out/keep.txt", "precious");
    WriteHostFile(home + "/out/locked.txt", "precious too");
    chmod((home + "/out/keep.txt").c_str(), 0444);
    un.OnGetPassword = [](TObject*, const std::string&, std::string&, TSeedKeyRecord&, TSeedKeyRecord&,
                          bool& tryAgain) { tryAgain = false; };

    un.Extract();
    EXPECT_EQ(Codes(), (std::vector<int>{25326, 26517}));
    EXPECT_EQ(Out("keep.txt"), "precious");
    EXPECT_EQ(Out("locked.txt"), "precious too");
    EXPECT_TRUE(GetFileAttributesA("C:\\out\\keep.txt") & FILE_ATTRIBUTE_READONLY);
}

TEST_F(UnBaseTest, AMemberThatFailsLeavesTheFileItWouldReplaceAndNoTemporaryFile)
{
    const std::string big(100000, 'N');
    const auto oldTree = [&](const std::string& folder) {
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            WriteHostFile(folder + "/" + name, std::string("old ") + name);
        chmod((folder + "/a.txt").c_str(), 0755);
        chmod((folder + "/b.txt").c_str(), 0444);
    };
    const std::set<std::string> abc{"a.txt", "b.txt", "c.txt"};
    un.OverwriteMode = omOverwrite;

    // A bad CRC in the middle: the members around it replace their files, keeping the host
    // mode of what they replace; the failed one leaves the old file as it was.
    oldTree(home + "/out");
    MakeArchive({{"a.txt", "new a"}, {"b.txt", big, 0, 0x20, "", true}, {"c.txt", "new c"}});
    std::vector<bool> ends;
    un.OnEnd = [&](TObject*, const std::string&, bool pass) { ends.push_back(pass); };
    un.Extract();
    EXPECT_EQ(Codes(), std::vector<int>{25151});
    EXPECT_EQ(ends, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(Out("a.txt"), "new a");
    EXPECT_TRUE(Out("b.txt") == "old b.txt");  // not EXPECT_EQ: a failure would print 100 kB
    EXPECT_EQ(Out("c.txt"), "new c");
    struct stat st {};
    ASSERT_EQ(stat((home + "/out/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_TRUE(GetFileAttributesA("C:\\out\\b.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(NamesIn(home + "/out"), abc);

    // An archive that ends inside a member.
    reports.clear();
    std::string cut = BuildArchive({{"a.txt", "new a"}, {"b.txt", big}});
    cut.resize(cut.size() - 10);
    WriteHostFile(home + "/arc.fake", cut);
    un.Extract();
    EXPECT_EQ(Codes(), std::vector<int>{25151});
    EXPECT_TRUE(Out("b.txt") == "old b.txt");
    EXPECT_EQ(NamesIn(home + "/out"), abc);

    // A cancel in the middle of a member: silent, and the run stops there.
    reports.clear();
    MakeArchive({{"a.txt", "newer a"}, {"b.txt", big}, {"c.txt", "newer c"}});
    un.OnProgress = [&](TObject*, std::uint8_t byFile, std::uint8_t) {
        if (win::ExtractFileName(un.FileName) == "b.txt" && byFile > 0 && byFile < 100)
            *un.CancelPtr = true;
    };
    un.Extract();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(Out("a.txt"), "newer a");
    EXPECT_TRUE(Out("b.txt") == "old b.txt");
    EXPECT_EQ(Out("c.txt"), "new c");
    EXPECT_EQ(NamesIn(home + "/out"), abc);

    // Another program takes a name after it was found free (here while the host is asked for a
    // password): its file stays, even with overwriting allowed, and the member is reported.
    reports.clear();
    std::filesystem::remove(home + "/out/c.txt");
    MakeArchive({{"c.txt", big, 0, 0x20, "pw"}});
    un.OnGetPassword = [&](TObject*, const std::string&, std::string& password, TSeedKeyRecord&, TSeedKeyRecord&,
                           bool&) {
        WriteHostFile(home + "/out/c.txt", "theirs");
        password = "pw";
    };
    std::vector<bool> passed;
    un.OnEnd = [&](TObject*, const std::string&, bool pass) { passed.push_back(pass); };
    un.Extract();
    EXPECT_EQ(Codes(), std::vector<int>{E_WRITEFILE});
    EXPECT_EQ(passed, std::vector<bool>{false});
    EXPECT_EQ(Out("c.txt"), "theirs");
    EXPECT_EQ(NamesIn(home + "/out"), abc);
    un.OnProgress = nullptr;
    un.OnGetPassword = nullptr;
    un.OnEnd = nullptr;
    un.Passwords.clear();
    MakeArchive({{"a.txt", "newer a"}, {"b.txt", big}, {"c.txt", "newer c"}});

    // A removable drive that fills up ends the run and keeps the file.
    const std::string usb = AddRemovableDrive('R', "usb", 20000);
    oldTree(usb);
    un.SetExtractDir("R:\\");
    un.Extract();
    const std::vector<int> codes = Codes();
    EXPECT_NE(std::find(codes.begin(), codes.end(), 25160), codes.end());
    EXPECT_EQ(ReadHostFile(usb + "/a.txt"), "newer a");
    EXPECT_TRUE(ReadHostFile(usb + "/b.txt") == "old b.txt");
    EXPECT_EQ(ReadHostFile(usb + "/c.txt"), "old c.txt");
    EXPECT_EQ(NamesIn(usb), abc);
}

TEST_F(UnBaseTest, ANewFileIsWrittenUnderItsOwnNameAndRemovedWhenItsMemberFails)
{
    const std::string big(100000, 'N');
    // While a new file is written it is the only name in the folder; a bad CRC removes it, a
    // good member before and after stays.
    MakeArchive({{"a.txt", "new a"}, {"b.txt", big, 0, 0x20, "", true}, {"c.txt", "new c"}});
    std::set<std::string> seen;
    un.OnProgress = [&](TObject*, std::uint8_t byFile, std::uint8_t) {
        if (win::ExtractFileName(un.FileName) == "b.txt" && byFile > 0 && byFile < 100)
            seen = NamesIn(home + "/out");
    };
    un.Extract();
    EXPECT_EQ(Codes(), std::vector<int>{25151});
    EXPECT_EQ(seen, (std::set<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(NamesIn(home + "/out"), (std::set<std::string>{"a.txt", "c.txt"}));

    // A cancel inside a new file removes it.
    std::filesystem::remove_all(home + "/out");
    reports.clear();
    un.OnProgress = [&](TObject*, std::uint8_t byFile, std::uint8_t) {
        if (win::ExtractFileName(un.FileName) == "b.txt" && byFile > 0 && byFile < 100)
            *un.CancelPtr = true;
    };
    un.Extract();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(NamesIn(home + "/out"), std::set<std::string>{"a.txt"});

    // Another program puts its own file under the name while the member is written: the failed
    // member removes only what it made.
    std::filesystem::remove_all(home + "/out");
    reports.clear();
    un.OnProgress = [&](TObject*, std::uint8_t byFile, std::uint8_t) {
        if (win::ExtractFileName(un.FileName) == "b.txt" && byFile > 0 && byFile < 100 &&
            !std::filesystem::exists(home + "/theirs")) {
            WriteHostFile(home + "/theirs", "theirs");
            std::filesystem::rename(home + "/theirs", home + "/out/b.txt");
        }
    };
    un.Extract();
    EXPECT_EQ(Codes(), std::vector<int>{25151});
    EXPECT_EQ(Out("b.txt"), "theirs");
    EXPECT_EQ(NamesIn(home + "/out"), (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST_F(UnBaseTest, ATerminatingSignalLeavesNoHalfWrittenFileUnderItsName)
{
    MakeArchive({{"done.txt", "done"}, {"big.txt", std::string(100000, 'N')}});
    const pid_t child = fork();
    if (child == 0) {
        un.OnProgress = [&](TObject*, std::uint8_t byFile, std::uint8_t) {
            if (win::ExtractFileName(un.FileName) == "big.txt" && byFile > 0 && byFile < 100)
                raise(SIGTERM);
        };
        un.Extract();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(NamesIn(home + "/out"), std::set<std::string>{"done.txt"});
    EXPECT_EQ(Out("done.txt"), "done");
}

TEST_F(UnBaseTest, TemporaryExtractorRunsWithTheCallersSettingsAndSeedKeys)
{
    struct DefaultsAfter {
        ~DefaultsAfter() { TSeedKeys(kDataKeySet).Reset(); }
    } defaultsAfter;
    TSeedKeys(kDataKeySet).SetKeys(1, 2, 3);
    MakeArchive({{"a.txt", "under other seeds", 0, 0x20, "pw"}, {"b.dat", "x"}});
    un.SetFileSpec({"*.txt"});
    un.SetPassword("pw");
    const TSeedKeySnapshot saved = TSeedKeySnapshot::Take();

    TFakeUn inner;
    TSeedKeys(kDataKeySet).Reset();  // what creating a component may do to the process-wide seeds
    inner.CopySettingsFrom(un, saved);
    inner.SetExtractDir("C:\\inner");
    EXPECT_EQ(inner.ArcType(), atZip);
    EXPECT_EQ(inner.CancelPtr, un.CancelPtr);
    EXPECT_EQ(inner.Extract(), 1);
    EXPECT_EQ(ReadHostFile(home + "/inner/a.txt"), "under other seeds");
    EXPECT_FALSE(std::filesystem::exists(home + "/inner/b.dat"));
    EXPECT_EQ(SeedKeysOf(kDataKeySet), (TKeyTriple{1, 2, 3}));
}

}  // namespace
