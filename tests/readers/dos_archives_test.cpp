// The ARJ, ARC/PAK and ZOO extractors against the real tools: archives of `arj` and `arc` made
// here, the shared fixtures, ZOO archives built in the test, and damaged input that must end
// with a report and write nothing outside the target folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/Crc.h"
#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "readers/LhaFormat.h"
#include "readers/plxUnArc.h"
#include "readers/plxUnArj.h"
#include "readers/plxUnLha.h"
#include "readers/plxUnZoo.h"
#include "support/HostTree.h"
#include "support/Reports.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

using TTree = std::map<std::string, std::string>;
using TBytes = std::vector<std::uint8_t>;

struct TRun {
    int Count = 0;
    std::vector<int> Reports;
    int Passed = 0, Failed = 0;
};

// One run of an extractor (test, or extraction into Out) over Archive.
template <class T>
TRun RunOn(const fs::path& Archive, const fs::path& Out, bool Extract, const std::string& Password = "")
{
    TRun run;
    T un;
    un.OnError = CollectCodes(run.Reports);
    un.OnEnd = [&](TObject*, const std::string&, bool pass) { ++(pass ? run.Passed : run.Failed); };
    un.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
    un.OnGetPassword = [Password](TObject*, const std::string&, std::string& p, TSeedKeyRecord&, TSeedKeyRecord&,
                                  bool& again) {
        p = Password;
        again = !Password.empty();
    };
    un.SetPassword(Password);
    un.PasswordAttempts = 1;
    un.SetFileSpec({"*.*"});
    un.CreateStoredDirs = true;
    un.SetTempDir(Out.parent_path().string());
    un.SetArchiveFile(Archive.string());
    fs::create_directories(Out);
    un.SetExtractDir(Out.string());
    run.Count = Extract ? un.Extract() : un.TestArchive();
    return run;
}

// What a tool extracts into a fresh folder (Command runs there, %A is the archive).
TTree ToolTree(const TScratchDir& dir, const std::string& command, const fs::path& archive, const std::string& name)
{
    const fs::path ref = dir / name;
    fs::create_directories(ref);
    std::string c = command;
    c.replace(c.find("%A"), 2, ShellQuote(archive.string()));
    EXPECT_EQ(std::system(("cd " + ShellQuote(ref.string()) + " && " + c + " >/dev/null 2>&1 </dev/null").c_str()), 0)
        << c;
    return HostTree(ref);
}

// Every prefix and a run of single-byte flips of Archive: each run ends, nothing outside Out.
template <class T>
void SurvivesDamage(const TScratchDir& dir, const fs::path& archive)
{
    const TBytes whole = ReadWholeFile(archive);
    const fs::path bad = dir / "bad.bin";
    std::vector<TBytes> cases;
    for (std::size_t n = 0; n < whole.size(); n += std::max<std::size_t>(1, whole.size() / 40))
        cases.emplace_back(whole.begin(), whole.begin() + std::ptrdiff_t(n));
    for (std::size_t at = 0; at < whole.size(); at += std::max<std::size_t>(1, whole.size() / 60)) {
        TBytes flipped = whole;
        flipped[at] ^= 0x5A;
        cases.push_back(flipped);
    }
    for (const TBytes& bytes : cases) {
        WriteWholeFile(bad, bytes);
        fs::remove_all(dir / "dmg");
        RunOn<T>(bad, dir / "dmg" / "out", true);
        for (const auto& e : fs::directory_iterator(dir / "dmg"))
            EXPECT_EQ(e.path().filename(), "out");
    }
}

TTree SourceTree(const fs::path& src)
{
    fs::create_directories(src / "sub" / "deep");
    WriteWholeFile(src / "a.txt", MixedBytes(5000, 1));
    WriteWholeFile(src / "sub" / "deep" / "b.bin", MixedBytes(200000, 2));
    // Repeats beyond the 32 KiB window of method 4.
    const std::string noise = RandomBytes(12000, 3);
    std::string far;
    for (int i = 0; i < 8; ++i)
        far += noise;
    WriteWholeFile(src / "sub" / "far.bin", TBytes(far.begin(), far.end()));
    WriteWholeFile(src / "v\xC3\xBDlet \xC3\xBAter\xC3\xBD.txt", MixedBytes(77, 4));
    WriteWholeFile(src / "empty", {});
    return HostTree(src);
}

}  // namespace

// --- ARJ ---

TEST(ArjReader, ArchivesOfArjExtractAsArjAnd7zzExtractThem)
{
    if (!HaveTool("arj"))
        GTEST_SKIP() << "arj missing";
    TScratchDir dir;
    const TTree source = SourceTree(dir / "src");
    // Folder times of their own, which the folders' entries carry and arj restores.
    ASSERT_EQ(dir.Run("cd src && touch -d '2001-02-03 04:05:06' sub sub/deep"), 0);
    for (const char* method : {"0", "1", "2", "3", "4"}) {
        SCOPED_TRACE(std::string("method ") + method);
        const fs::path archive = dir / (std::string("m") + method + ".arj");
        ASSERT_EQ(dir.Run(std::string("cd src && arj a -y -r -a1 -m") + method + " " + ShellQuote(archive.string()) +
                          " . >/dev/null </dev/null"),
                  0);
        const fs::path out = dir / (std::string("out") + method);
        const TRun run = RunOn<TUnARJ>(archive, out, true);
        EXPECT_TRUE(run.Reports.empty()) << run.Reports.front();
        EXPECT_EQ(run.Failed, 0);
        EXPECT_EQ(HostTree(out), ToolTree(dir, "arj x -y %A", archive, std::string("arj") + method));
        EXPECT_EQ(FolderTimes(out), FolderTimes(dir / (std::string("arj") + method)));
        EXPECT_EQ(FilesOnly(HostTree(out)), FilesOnly(source));
        if (HaveTool("7zz")) {
            EXPECT_EQ(FilesOnly(HostTree(out)),
                      FilesOnly(ToolTree(dir, "7zz x -y %A", archive, std::string("7z") + method)));
        }
        const TRun test = RunOn<TUnARJ>(archive, dir / "t", false);
        EXPECT_EQ(test.Passed, test.Count);
        EXPECT_TRUE(test.Reports.empty());
    }
}

TEST(ArjReader, GarbledMembersNeedTheirPassword)
{
    if (!HaveTool("arj"))
        GTEST_SKIP() << "arj missing";
    TScratchDir dir;
    const TTree source = SourceTree(dir / "src");
    for (const char* method : {"1", "4"}) {
        SCOPED_TRACE(method);
        const fs::path archive = dir / (std::string("g") + method + ".arj");
        ASSERT_EQ(dir.Run(std::string("cd src && arj a -y -r -gS3cr\xC3\xA9t -m") + method + " " +
                          ShellQuote(archive.string()) + " . >/dev/null </dev/null"),
                  0);
        const fs::path out = dir / (std::string("ok") + method);
        const TRun good = RunOn<TUnARJ>(archive, out, true, "S3cr\xC3\xA9t");
        EXPECT_TRUE(good.Reports.empty());
        EXPECT_EQ(FilesOnly(HostTree(out)), FilesOnly(source));
        // A wrong password writes nothing and says so for every member but the empty one.
        const fs::path wrong = dir / (std::string("wrong") + method);
        const TRun bad = RunOn<TUnARJ>(archive, wrong, true, "secret");
        EXPECT_EQ(bad.Count, 1);
        EXPECT_EQ(std::count(bad.Reports.begin(), bad.Reports.end(), E_PASSWORDFAILED), 4);
        EXPECT_EQ(FilesOnly(HostTree(wrong)), (TTree{{"empty", ""}}));
    }
}

TEST(ArjReader, VolumesExtractAsOneSet)
{
    if (!HaveTool("arj"))
        GTEST_SKIP() << "arj missing";
    TScratchDir dir;
    SourceTree(dir / "src");
    // A hard link to a file split over volumes: its header comes in a later volume than the data.
    fs::create_hard_link(dir / "src" / "sub" / "deep" / "b.bin", dir / "src" / "b.link");
    const TTree source = HostTree(dir / "src");
    ASSERT_EQ(dir.Run("cd src && arj a -y -r -v30k -m1 ../set.arj . >/dev/null </dev/null"), 0);
    ASSERT_TRUE(fs::exists(dir / "set.a02"));
    const TRun run = RunOn<TUnARJ>(dir / "set.arj", dir / "out", true);
    EXPECT_TRUE(run.Reports.empty());
    EXPECT_EQ(run.Count, 6);  // each file once, however many pieces
    EXPECT_EQ(FilesOnly(HostTree(dir / "out")), FilesOnly(source));
    EXPECT_TRUE(fs::equivalent(dir / "out" / "b.link", dir / "out" / "sub" / "deep" / "b.bin"));
    const TRun test = RunOn<TUnARJ>(dir / "set.arj", dir / "test", false);
    EXPECT_TRUE(test.Reports.empty());
    EXPECT_EQ(test.Failed, 0);
    // A missing volume ends the run with a report; what came before stays whole.
    fs::remove(dir / "set.a02");
    const TRun cut = RunOn<TUnARJ>(dir / "set.arj", dir / "cut", true);
    EXPECT_FALSE(cut.Reports.empty());
    for (const auto& [name, bytes] : FilesOnly(HostTree(dir / "cut")))
        EXPECT_EQ(bytes, source.at(name)) << name;
}

TEST(ArjReader, HardLinksAreLinkedOrCopiedAndOtherwiseNamed)
{
    if (!HaveTool("arj"))
        GTEST_SKIP() << "arj missing";
    TScratchDir dir;
    fs::create_directories(dir / "src" / "sub");
    WriteWholeFile(dir / "src" / "sub" / "original.txt", MixedBytes(3000, 7));
    fs::create_hard_link(dir / "src" / "sub" / "original.txt", dir / "src" / "link");
    ASSERT_EQ(dir.Run("cd src && arj a -y -r ../l.arj . >/dev/null </dev/null"), 0);
    const TTree wanted = FilesOnly(HostTree(dir / "src"));

    // A link to a member written in the run is a link on disk. (arj itself fails on the "./" that
    // its links' names carry when the archive was made of ".".)
    const TRun all = RunOn<TUnARJ>(dir / "l.arj", dir / "all", true);
    EXPECT_TRUE(all.Reports.empty()) << all.Reports.front();
    EXPECT_EQ(all.Failed, 0);
    EXPECT_EQ(FilesOnly(HostTree(dir / "all")), wanted);
    EXPECT_TRUE(fs::equivalent(dir / "all" / "link", dir / "all" / "sub" / "original.txt"));
    const TRun test = RunOn<TUnARJ>(dir / "l.arj", dir / "t", false);
    EXPECT_TRUE(test.Reports.empty());
    EXPECT_EQ(test.Passed, test.Count);

    // The link alone takes the data of the member it names.
    {
        TUnARJ un;
        std::vector<int> reports;
        un.OnError = CollectCodes(reports);
        un.SetFileSpec({"link"});
        un.SetArchiveFile((dir / "l.arj").string());
        fs::create_directories(dir / "alone");
        un.SetExtractDir((dir / "alone").string());
        EXPECT_EQ(un.Extract(), 1);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(FilesOnly(HostTree(dir / "alone")), (TTree{{"link", wanted.at("link")}}));
    }

    // Without folders, a later file of the same name replaces the linked member's file: the link
    // takes the data of the member it names, not of what lies there now.
    {
        fs::create_directories(dir / "two" / "x");
        fs::create_directories(dir / "two" / "y");
        WriteText(dir / "two" / "x" / "a", "from x\n");
        WriteText(dir / "two" / "y" / "a", "from y\n");
        fs::create_hard_link(dir / "two" / "x" / "a", dir / "two" / "h");
        ASSERT_EQ(dir.Run("cd two && arj a -y ../two.arj x/a y/a h >/dev/null </dev/null"), 0);
        TUnARJ un;
        std::vector<int> reports;
        un.OnError = CollectCodes(reports);
        un.SetFileSpec({"*.*"});
        un.UseStoredDirs = false;
        un.SetArchiveFile((dir / "two.arj").string());
        fs::create_directories(dir / "flat");
        un.SetExtractDir((dir / "flat").string());
        EXPECT_EQ(un.Extract(), 3);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(FilesOnly(HostTree(dir / "flat")), (TTree{{"a", "from y\n"}, {"h", "from x\n"}}));
    }

    // With the member it names gone, the link is reported by its name and nothing is written.
    ASSERT_EQ(dir.Run("arj d -y l.arj sub/original.txt >/dev/null </dev/null"), 0);
    std::vector<std::string> named;
    TUnARJ un;
    un.OnError = [&](TObject*, const std::string& file, const std::string& extra, const std::string&, int code) {
        named.push_back(file + " " + extra + " " + std::to_string(code));
    };
    un.SetArchiveFile((dir / "l.arj").string());
    fs::create_directories(dir / "gone");
    un.SetExtractDir((dir / "gone").string());
    EXPECT_EQ(un.Extract(), 0);
    EXPECT_EQ(named, (std::vector<std::string>{"link sub\\original.txt " + std::to_string(E_FILENOTFOUND)}));
    EXPECT_TRUE(fs::is_empty(dir / "gone"));
}

TEST(ArjReader, FixturesPassTheirChecksAndDamageIsReported)
{
    const fs::path root = FixtureRoot();
    TORVO_NEED_FIXTURES(fs::is_directory(root / "arj"), "no ARJ fixtures");
    TScratchDir dir;
    for (const char* name : {"ARJ020B.ARJ", "t.arj"}) {
        SCOPED_TRACE(name);
        const fs::path out = dir / name;
        const TRun run = RunOn<TUnARJ>(root / "arj" / name, out, true);
        EXPECT_TRUE(run.Reports.empty());
        EXPECT_GT(run.Count, 0);
        EXPECT_EQ(run.Passed, run.Count);
        if (HaveTool("arj")) {
            EXPECT_EQ(FilesOnly(HostTree(out)),
                      FilesOnly(ToolTree(dir, "arj x -y %A", root / "arj" / name, std::string("ref") + name)));
        }
    }
    SurvivesDamage<TUnARJ>(dir, root / "arj" / "ARJ020B.ARJ");
}

// --- ARC ---

TEST(ArcReader, ArchivesOfArcExtractAsArcAndNomarchExtractThem)
{
    if (!HaveTool("arc"))
        GTEST_SKIP() << "arc missing";
    TScratchDir dir;
    fs::create_directories(dir / "src");
    WriteWholeFile(dir / "src" / "a.txt", MixedBytes(30000, 5));  // crunched (8)
    const std::string noise = RandomBytes(5000, 6);
    WriteWholeFile(dir / "src" / "r.bin", TBytes(noise.begin(), noise.end()));  // stored (2)
    WriteWholeFile(dir / "src" / "z.bin", TBytes(3000, 0));                     // squeezed (4) when squashing
    const std::string runs = "aaaaaaaaaaaaaaaaaaaaaaaaa\x90\x90\x90xyz" + std::string(40, 'b');
    WriteWholeFile(dir / "src" / "rle.txt", TBytes(runs.begin(), runs.end()));  // packed (3)
    const TTree source = HostTree(dir / "src");
    for (const char* mode : {"a", "aq"}) {  // crunch, squash
        SCOPED_TRACE(mode);
        const fs::path archive = dir / (std::string(mode) + ".arc");
        ASSERT_EQ(dir.Run(std::string("cd src && arc ") + mode + " " + ShellQuote(archive.string()) + " * >/dev/null"),
                  0);
        const fs::path out = dir / (std::string("out") + mode);
        const TRun run = RunOn<TUnArc>(archive, out, true);
        EXPECT_TRUE(run.Reports.empty());
        EXPECT_EQ(run.Passed, 4);
        EXPECT_EQ(HostTree(out), source);
        if (HaveTool("nomarch")) {
            TTree ref;
            for (const auto& [name, bytes] : ToolTree(dir, "nomarch %A", archive, std::string("nm") + mode))
                ref[name] = bytes;
            TTree ours;  // nomarch writes lower-case names
            for (const auto& [name, bytes] : HostTree(out)) {
                std::string lower = name;
                std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
                ours[lower] = bytes;
            }
            EXPECT_EQ(ours, ref);
        }
    }
    SurvivesDamage<TUnArc>(dir, dir / "aq.arc");
}

TEST(ArcReader, FixturesExtractOrRefuseTheirMethods)
{
    const fs::path root = FixtureRoot();
    TORVO_NEED_FIXTURES(fs::is_directory(root / "arj"), "no ARJ fixtures");
    TScratchDir dir;
    const TRun arc = RunOn<TUnArc>(root / "arc" / "ARC601.ARC", dir / "arc", true);
    EXPECT_TRUE(arc.Reports.empty());
    EXPECT_EQ(arc.Passed, 3);
    if (HaveTool("nomarch")) {
        EXPECT_EQ(HostTree(dir / "arc").size(), ToolTree(dir, "nomarch %A", root / "arc" / "ARC601.ARC", "nm").size());
    }
    EXPECT_EQ(RunOn<TUnArc>(root / "arc" / "t.arc", dir / "t", true).Passed, 2);
    // PAK's own methods (crushed) are not ours: each member says so and nothing is written.
    const TRun pak = RunOn<TUnArc>(root / "arc" / "PAK100.PAK", dir / "pak", true);
    EXPECT_EQ(pak.Reports, (std::vector<int>{E_UNSUPPORTEDMETHOD, E_UNSUPPORTEDMETHOD, E_UNSUPPORTEDMETHOD}));
    EXPECT_TRUE(HostTree(dir / "pak").empty());
}

namespace {

// An ARC record: 29 bytes (25 for method 1) and the data.
TBytes ArcRecord(std::uint8_t method, const std::string& name, const TBytes& packed, const TBytes& plain)
{
    TBytes r(method == 1 ? 25 : 29, 0);
    r[0] = 0x1A;
    r[1] = method;
    std::copy(name.begin(), name.end(), r.begin() + 2);
    PutLE32(r.data() + 15, std::uint32_t(packed.size()));
    PutLE16(r.data() + 19, 0x5A21);
    std::uint32_t crc = 0;
    UpdateCrc16(plain.data(), std::int64_t(plain.size()), crc);
    PutLE16(r.data() + 23, std::uint16_t(crc));
    if (method != 1)
        PutLE32(r.data() + 25, std::uint32_t(plain.size()));
    r.insert(r.end(), packed.begin(), packed.end());
    return r;
}

}  // namespace

TEST(ArcReader, HandMadeRecordsCoverTheMethodsEdges)
{
    TScratchDir dir;
    TBytes archive;
    const auto add = [&archive](const TBytes& r) { archive.insert(archive.end(), r.begin(), r.end()); };
    add(ArcRecord(3, "RLE1", {0x90, 0x00, 0x41, 0x90, 0x04}, {0x90, 0x41, 0x41, 0x41, 0x41}));
    add(ArcRecord(4, "EMPTY", {0, 0}, {}));  // a squeeze tree of no nodes
    // 'a' = 0, 'b' = 10, end = 11; "aab" and no end code: the padding zeros are no more 'a's.
    add(ArcRecord(4, "NOEND", {2, 0, 0x9E, 0xFF, 1, 0, 0x9D, 0xFF, 0xFF, 0xFE, 0x04}, {'a', 'a', 'b'}));
    add(ArcRecord(1, "OLD", {'o', 'l', 'd'}, {'o', 'l', 'd'}));     // 25-byte header
    add(ArcRecord(8, "BITS", {13, 0, 0}, {'x'}));                   // not 12 bits
    add(ArcRecord(12, "NEWER", {1, 2, 3}, {'y'}));                  // a method of later programs
    add(ArcRecord(4, "BADTREE", {1, 0, 5, 0, 0xFE, 0xFE}, {'z'}));  // child 5 of 1 node
    add(ArcRecord(30, "DIR", {}, {}));
    add(ArcRecord(2, "IN", {'i'}, {'i'}));
    add({0x1A, 31});
    add(ArcRecord(2, "OUT", {'o'}, {'o'}));
    add({0x1A, 0x00});
    // PAK keeps comments behind the end marker: they are no members.
    add(ArcRecord(2, "COMMENT", {'c'}, {'c'}));
    WriteWholeFile(dir / "h.arc", archive);
    const TRun run = RunOn<TUnArc>(dir / "h.arc", dir / "out", true);
    EXPECT_EQ(run.Reports, (std::vector<int>{E_INCORRECTBITCOUNT, E_UNSUPPORTEDMETHOD, E_INVALIDDECODETREE}));
    const TTree tree = HostTree(dir / "out");
    EXPECT_EQ(tree, (TTree{{"RLE1", "\x90"
                                    "AAAA"},
                           {"EMPTY", ""},
                           {"NOEND", "aab"},
                           {"OLD", "old"},
                           {"DIR/", ""},
                           {"DIR/IN", "i"},
                           {"OUT", "o"}}));
}

namespace {

// The fixed-table crunch of methods 5 to 7 as its writer made it: the same table, entries placed
// by the same rule, 12-bit codes in pairs of three bytes.
TBytes Crunch(const TBytes& plain, bool oldHash)
{
    struct TEntry {
        bool Used = false;
        int Next = 0, Pred = 0, Foll = 0;
    };
    std::vector<TEntry> table(4096);
    const auto hash = [oldHash](int p, int c) -> int {
        if (!oldHash)
            return int((std::uint32_t((p + c) & 0xFFFF) * 15073) & 0xFFF);
        std::uint32_t v = (std::uint32_t(p + c) | 0x0800) & 0xFFFF;
        return int((v * v >> 6) & 0xFFF);
    };
    const auto insert = [&](int p, int c) {
        int at = hash(p, c);
        if (table[at].Used) {
            while (table[at].Next != 0)
                at = table[at].Next;
            int free = (at + 101) & 0xFFF;
            while (table[free].Used)
                free = (free + 1) & 0xFFF;
            table[at].Next = free;
            at = free;
        }
        table[at] = {true, 0, p, c};
    };
    const auto find = [&](int p, int c) {
        for (int at = hash(p, c); table[at].Used; at = table[at].Next) {
            if (table[at].Pred == p && table[at].Foll == c)
                return at;
            if (table[at].Next == 0)
                break;
        }
        return -1;
    };
    for (int c = 0; c < 256; ++c)
        insert(0xFFFF, c);
    std::vector<int> codes;
    int freeEntries = 4096 - 256, w = find(0xFFFF, plain[0]);
    for (std::size_t i = 1; i < plain.size(); ++i) {
        const int next = find(w, plain[i]);
        if (next >= 0) {
            w = next;
            continue;
        }
        codes.push_back(w);
        if (freeEntries > 0) {
            insert(w, plain[i]);
            --freeEntries;
        }
        w = find(0xFFFF, plain[i]);
    }
    codes.push_back(w);
    TBytes out;
    for (std::size_t i = 0; i < codes.size(); i += 2) {
        const int b = i + 1 < codes.size() ? codes[i + 1] : 0;
        out.push_back(std::uint8_t(codes[i] >> 4));
        out.push_back(std::uint8_t((codes[i] & 0xF) << 4 | b >> 8));
        if (i + 1 < codes.size())
            out.push_back(std::uint8_t(b));
    }
    return out;
}

}  // namespace

TEST(ArcReader, FixedTableCrunchOfBothHashesDecodes)
{
    TScratchDir dir;
    TBytes text = MixedBytes(40000, 11);  // enough strings to fill the table
    std::replace(text.begin(), text.end(), std::uint8_t(0x90), std::uint8_t(' '));
    TBytes archive;
    for (const int method : {5, 6, 7}) {
        const TBytes r = ArcRecord(std::uint8_t(method), "M" + std::to_string(method), Crunch(text, method != 7), text);
        archive.insert(archive.end(), r.begin(), r.end());
    }
    WriteWholeFile(dir / "c.arc", archive);
    const TRun run = RunOn<TUnArc>(dir / "c.arc", dir / "out", true);
    EXPECT_TRUE(run.Reports.empty()) << run.Reports.front();
    EXPECT_EQ(run.Passed, 3);
    for (const auto& [name, bytes] : HostTree(dir / "out"))
        EXPECT_EQ(bytes, std::string(text.begin(), text.end())) << name;
}

// --- ZOO ---

namespace {

TBytes ZooLzw(const TBytes& plain)
{
    // Codes of 9 to 13 bits, lowest bit first: clear, the strings, end.
    TBytes out;
    std::uint32_t bits = 0;
    int count = 0, width = 9;
    std::map<std::pair<int, int>, int> table;
    int next = 258;
    const auto emit = [&](int code) {
        while (next - 1 > (1 << width) - 1 && width < 13)
            ++width;
        bits |= std::uint32_t(code) << count;
        count += width;
        while (count >= 8) {
            out.push_back(std::uint8_t(bits));
            bits >>= 8;
            count -= 8;
        }
    };
    emit(256);
    int w = -1;
    for (std::uint8_t c : plain) {
        if (w < 0) {
            w = c;
            continue;
        }
        const auto it = table.find({w, c});
        if (it != table.end()) {
            w = it->second;
            continue;
        }
        emit(w);
        if (next < 8192)
            table[{w, c}] = next++;
        w = c;
    }
    if (w >= 0) {
        emit(w);
        ++next;
    }
    emit(257);
    if (count > 0)
        out.push_back(std::uint8_t(bits));
    return out;
}

struct TZooMember {
    std::string Name;
    std::uint8_t Method;
    TBytes Packed;
    TBytes Plain;
    bool Deleted = false;
};

TBytes ZooArchive(const std::vector<TZooMember>& members, bool cycle = false)
{
    TBytes a(42, 0);
    const std::string text = "ZOO 2.10 Archive.\x1A";
    std::copy(text.begin(), text.end(), a.begin());
    PutLE32(a.data() + 20, 0xFDC4A7DC);
    PutLE32(a.data() + 24, 42);
    PutLE32(a.data() + 28, std::uint32_t(-42));
    a[32] = 2;
    a[33] = 1;
    for (const TZooMember& m : members) {
        const std::size_t at = a.size();
        a.resize(at + 56);
        std::uint8_t* e = a.data() + at;
        PutLE32(e, 0xFDC4A7DC);
        e[4] = 2;
        e[5] = m.Method;
        PutLE32(e + 6, cycle && &m == &members.back() ? 42 : std::uint32_t(at + 56 + m.Packed.size()));
        PutLE32(e + 10, std::uint32_t(at + 56));
        PutLE16(e + 14, 0x5A21);
        std::uint32_t crc = 0;
        UpdateCrc16(m.Plain.data(), std::int64_t(m.Plain.size()), crc);
        PutLE16(e + 18, std::uint16_t(crc));
        PutLE32(e + 20, std::uint32_t(m.Plain.size()));
        PutLE32(e + 24, std::uint32_t(m.Packed.size()));
        e[28] = m.Method == 2 ? 2 : 1;
        e[30] = m.Deleted;
        std::copy(m.Name.begin(), m.Name.end(), e + 38);
        e[53] = 127;
        std::uint32_t dirCrc = 0;
        UpdateCrc16(e, 56, dirCrc);
        PutLE16(e + 54, std::uint16_t(dirCrc));
        a.insert(a.end(), m.Packed.begin(), m.Packed.end());
    }
    const std::size_t end = a.size();
    a.resize(end + 56);
    PutLE32(a.data() + end, 0xFDC4A7DC);
    a[end + 4] = 2;
    return a;
}

}  // namespace

TEST(ZooReader, BuiltArchivesExtractAsUnarExtractsThem)
{
    TScratchDir dir;
    const TBytes text = MixedBytes(60000, 7);  // enough strings for 13-bit codes
    std::vector<TZooMember> members = {{"stored.txt", 0, text, text}, {"lzw.txt", 1, ZooLzw(text), text}};
    members.push_back({"gone.txt", 0, {'x'}, {'x'}, true});
    // Method 2 is an -lh5- stream: take one from the lha tool with its CRC-16.
    if (HaveTool("lha")) {
        WriteWholeFile(dir / "lh5.txt", text);
        ASSERT_EQ(dir.Run("lha aqo5 l.lzh lh5.txt >/dev/null 2>&1"), 0);
        const TBytes lzh = ReadWholeFile(dir / "l.lzh");
        const TReadAt read = MemoryReadAt(lzh);
        TLhaHeader h;
        ASSERT_EQ(ReadLhaHeader(read, 0, std::int64_t(lzh.size()), h), THeaderStatus::Header);
        members.push_back(
            {"lh5.txt", 2, TBytes(lzh.begin() + h.DataOffset, lzh.begin() + h.DataOffset + h.PackedSize), text});
    }
    WriteWholeFile(dir / "b.zoo", ZooArchive(members));
    const TRun run = RunOn<TUnZoo>(dir / "b.zoo", dir / "out", true);
    EXPECT_TRUE(run.Reports.empty());
    EXPECT_EQ(run.Passed, int(members.size()) - 1);
    const TTree ours = HostTree(dir / "out");
    EXPECT_EQ(ours.count("gone.txt"), 0u);
    for (const auto& [name, bytes] : ours)
        EXPECT_EQ(bytes, std::string(text.begin(), text.end())) << name;
    if (HaveTool("unar")) {
        TTree ref = ToolTree(dir, "unar -q -D -o . %A", dir / "b.zoo", "unar");
        ref.erase("gone.txt");  // unar extracts deleted entries too
        EXPECT_EQ(ours, ref);
    }
    // A chain that points back ends with a report after what came before.
    WriteWholeFile(dir / "c.zoo", ZooArchive({{"a", 0, {'a'}, {'a'}}, {"b", 0, {'b'}, {'b'}}}, true));
    const TRun cycle = RunOn<TUnZoo>(dir / "c.zoo", dir / "cyc", true);
    EXPECT_EQ(cycle.Reports, std::vector<int>{E_BADFILEHEADER});
    EXPECT_EQ(cycle.Passed, 1);
    SurvivesDamage<TUnZoo>(dir, dir / "b.zoo");
}

TEST(ZooReader, TheFixtureExtractsAsUnarExtractsIt)
{
    const fs::path root = FixtureRoot();
    TORVO_NEED_FIXTURES(fs::is_directory(root / "arj"), "no ARJ fixtures");
    TScratchDir dir;
    const fs::path zoo = root / "zoo" / "t.zoo";
    const TRun run = RunOn<TUnZoo>(zoo, dir / "out", true);
    EXPECT_TRUE(run.Reports.empty());
    EXPECT_EQ(run.Passed, 2);
    if (HaveTool("unar")) {
        EXPECT_EQ(HostTree(dir / "out"), ToolTree(dir, "unar -q -D -o . %A", zoo, "ref"));
    }
}
