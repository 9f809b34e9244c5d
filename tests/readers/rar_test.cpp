// The RAR extractor and listing over our RAR library: the shared fixtures (RAR 2.50, 4 and 5,
// solid, multi-volume, self-extracting) extract to what unar extracts and list what lsar lists;
// encrypted and damaged archives end with a report and write nothing outside the target.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "core/Crc.h"
#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxStreams.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/SysDates.h"
#include "readers/Pelix.h"
#include "readers/plxUnRar.h"
#include "support/HostTree.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> RarFixtures()
{
    const char* env = std::getenv("TORVO_FIXTURES");
    const fs::path root = env ? fs::path(env) : fs::path(TORVO_SOURCE_DIR) / ".." / "shared" / "fixtures";
    if (!fs::is_directory(root / "rar"))
        return std::nullopt;
    return root / "rar";
}

// Files only: the tools differ on folders and links, which we pass over.
std::map<std::string, std::string> FilesOf(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& [name, bytes] : HostTree(folder)) {
        if (!name.empty() && name.back() != '/' && !fs::is_symlink(fs::symlink_status(folder / name)))
            files[name] = bytes;
    }
    return files;
}

class RarTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        if (!TUnRar::LibraryLoaded())
            GTEST_SKIP() << "the RAR library was not built";
        fixtures = RarFixtures();
    }

    void Bind(TUnRar& un)
    {
        un.OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int code) {
            reports.push_back(code);
        };
        un.OnEnd = [this](TObject*, const std::string& name, bool pass) { ends[name] = pass; };
        un.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
    }

    int Extract(const fs::path& archive, const std::string& out)
    {
        reports.clear();
        ends.clear();
        TUnRar un;
        Bind(un);
        un.CreateStoredDirs = true;
        un.SetArchiveFile(archive.string());
        un.SetExtractDir("C:\\" + out);
        fs::create_directories(home + "/" + out);
        return un.Extract();
    }

    bool AllPassed() const
    {
        return !ends.empty() && std::all_of(ends.begin(), ends.end(), [](const auto& e) { return e.second; });
    }

    std::optional<fs::path> fixtures;
    std::vector<int> reports;
    std::map<std::string, bool> ends;
};

// Fixtures made to break readers: they must end cleanly, whatever they extract.
bool Hostile(const std::string& Name)
{
    for (const char* word : {"invalid", "overflow", "bad", "leak", "huge", "underflow", "truncated", "loop",
                             "leftshift", "desync", "use_after_free", "toolong", "exceeds", "unbound", "cursor0"})
        if (Name.find(word) != std::string::npos)
            return true;
    return false;
}

bool Encrypted(const std::string& Name)
{
    return Name.find("encrypt") != std::string::npos || Name == "p.rar";
}

// The first volume of a set, or a single archive.
bool FirstVolume(const std::string& Name)
{
    const std::size_t part = Name.rfind(".part");
    if (part == std::string::npos)
        return true;
    const std::string number = Name.substr(part + 5, Name.find('.', part + 5) - part - 5);
    return number.find_first_not_of('0') == number.size() - 1 && number.back() == '1';
}

std::vector<fs::path> FirstVolumes(const fs::path& Rar)
{
    std::vector<fs::path> archives;
    for (const fs::path& folder : {Rar, Rar / "libarchive"})
        for (const auto& e : fs::directory_iterator(folder))
            if (e.is_regular_file() && FirstVolume(e.path().filename().string()))
                archives.push_back(e.path());
    std::sort(archives.begin(), archives.end());
    return archives;
}

TEST_F(RarTest, EveryFixtureListsAndExtractsToWhatUnarExtracts)
{
    TORVO_NEED_FIXTURES(fixtures && HaveTool("unar"), "no RAR fixtures or no unar");
    int n = 0, compared = 0;
    for (const fs::path& archive : FirstVolumes(*fixtures)) {
        const std::string name = archive.filename().string();
        if (Hostile(name) || Encrypted(name))
            continue;  // the next test
        SCOPED_TRACE(name);
        const fs::path ref = root + "/ref" + std::to_string(++n);
        fs::create_directories(ref);
        const int unar = std::system(("timeout 120 unar -q -f -D -o " + ShellQuote(ref.string()) + " " +
                                      ShellQuote(archive.string()) + " </dev/null >/dev/null 2>&1")
                                         .c_str());
        if (unar != 0)
            continue;  // read by bsdtar below, or damaged beyond what unar reads
        auto expected = FilesOf(ref);
        expected.erase("hardlink.txt");  // a hard link is passed over like every link
        // The listing names every file unar writes and nothing it does not know.
        std::set<std::string> listed;
        TPelix p;
        p.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
        p.OnRead = [&listed](TObject* sender, std::int64_t, int) {
            std::string entry = static_cast<TZipCommon*>(sender)->FileName;
            std::replace(entry.begin(), entry.end(), '\\', '/');
            listed.insert(entry);
        };
        p.SetArchiveFile(archive.string());
        p.Activate();
        for (const auto& [file, bytes] : expected)
            EXPECT_TRUE(listed.count(file)) << file;
        for (const std::string& entry : listed)
            EXPECT_TRUE(fs::exists(fs::symlink_status(ref / entry))) << entry;
        const std::string out = "out" + std::to_string(n);
        Extract(archive, out);
        std::erase(reports, E_SKIPPEDFILE);  // each link passed over is told
        EXPECT_EQ(FilesOf(home + "/" + out), expected);
        if (!expected.empty()) {
            EXPECT_TRUE(reports.empty()) << reports.front();
            EXPECT_TRUE(AllPassed());
            ++compared;
        }
        fs::remove_all(ref);
        fs::remove_all(home + "/" + out);
    }
    EXPECT_GE(compared, 35);
}

TEST_F(RarTest, SolidSetAndSelfExtractorThatUnarCannotReadMatchBsdtar)
{
    TORVO_NEED_FIXTURES(fixtures && HaveTool("bsdtar"), "no RAR fixtures or no bsdtar");
    const fs::path lib = *fixtures / "libarchive";
    int n = 0;
    for (const char* name : {"test_read_format_rar5_multiarchive_solid.part01.rar", "test_read_format_rar5_sfx.exe",
                             "test_read_format_rar5_solid.rar"}) {
        SCOPED_TRACE(name);
        const std::string out = "out" + std::to_string(++n);
        EXPECT_GT(Extract(lib / name, out), 0);
        EXPECT_TRUE(reports.empty());
        EXPECT_TRUE(AllPassed());
        const fs::path ref = root + "/ref" + std::to_string(n);
        fs::create_directories(ref);
        // bsdtar takes the whole set only as one stream of its volumes.
        std::string inputs;
        for (const auto& e : fs::directory_iterator(lib)) {
            const std::string f = e.path().filename().string();
            if (f.rfind("test_read_format_rar5_multiarchive_solid.part", 0) == 0 && n == 1)
                inputs += " " + ShellQuote(e.path().string());
        }
        const std::string command =
            n == 1 ? "cat $(ls" + inputs + " | sort) | bsdtar -xf - -C " + ShellQuote(ref.string())
                   : "bsdtar -xf " + ShellQuote((lib / name).string()) + " -C " + ShellQuote(ref.string());
        ASSERT_EQ(std::system(("timeout 60 sh -c " + ShellQuote(command) + " >/dev/null 2>&1").c_str()), 0);
        EXPECT_EQ(FilesOf(home + "/" + out), FilesOf(ref));
    }
}

TEST_F(RarTest, ListingNamesWhatLsarNamesAndSumsTheParts)
{
    TORVO_NEED_FIXTURES(fixtures, "no RAR fixtures");
    struct TRow {
        std::string Name;
        std::int64_t Packed, Unpacked;
        std::uint32_t Attr;
    };
    auto list = [this](const fs::path& archive, bool showDirs, std::vector<TRow>& rows, std::int64_t& totalPacked) {
        TPelix p;
        p.ShowEmptyDirs = showDirs;
        p.OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int code) {
            reports.push_back(code);
        };
        p.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
        p.OnRead = [&rows](TObject* sender, std::int64_t, int) {
            auto& z = *static_cast<TZipCommon*>(sender);
            rows.push_back({z.FileName, z.PackedSize, z.UnpackedSize, z.ExternalAttr});
        };
        p.OnTotals = [&totalPacked](TObject*, std::int64_t, std::int64_t packed, int, int) { totalPacked = packed; };
        p.SetArchiveFile(archive.string());
        return p.Activate();
    };
    const fs::path lib = *fixtures / "libarchive";
    // One file over three volumes: listed once, with every part's packed bytes.
    std::vector<TRow> rows;
    std::int64_t packed = 0;
    ASSERT_TRUE(list(lib / "test_rar_multivolume_single_file.part1.rar", false, rows, packed));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Name, "LibarchiveAddingTest.html");
    EXPECT_GT(rows[0].Packed, 7000 * 2);
    EXPECT_EQ(packed, rows[0].Packed);
    // Folders only with ShowEmptyDirs, and always with the folder attribute.
    rows.clear();
    ASSERT_TRUE(list(lib / "test_read_format_rar5_win32.rar", false, rows, packed));
    const std::size_t files = rows.size();
    rows.clear();
    ASSERT_TRUE(list(lib / "test_read_format_rar5_win32.rar", true, rows, packed));
    EXPECT_GT(rows.size(), files);
    for (const TRow& r : rows)
        EXPECT_EQ((r.Attr & 0x10) != 0, r.Name.back() == '\\') << r.Name;
    // Unix entries list as normal files.
    rows.clear();
    ASSERT_TRUE(list(*fixtures / "t.rar", false, rows, packed));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Attr, 0x80u);
    EXPECT_TRUE(reports.empty());
    if (!HaveTool("lsar"))
        return;
    for (const char* name : {"test_read_format_rar_unicode.rar", "test_read_format_rar5_multiple_files.rar"}) {
        rows.clear();
        ASSERT_TRUE(list(lib / name, true, rows, packed));
        std::set<std::string> ours, theirs;
        for (TRow& r : rows) {
            std::replace(r.Name.begin(), r.Name.end(), '\\', '/');
            if (r.Name.back() == '/')
                r.Name.pop_back();
            ours.insert(r.Name);
        }
        const std::string text = CaptureCommand("lsar " + ShellQuote((lib / name).string()));
        std::size_t at = text.find('\n');
        while (at != std::string::npos && at + 1 < text.size()) {
            const std::size_t end = text.find('\n', at + 1);
            std::string line = text.substr(at + 1, end - at - 1);
            if (line.size() > 4 && line.compare(line.size() - 4, 4, "... ") == 0)
                line.resize(line.size() - 4);
            if (!line.empty())
                theirs.insert(line.back() == '/' ? line.substr(0, line.size() - 1) : line);
            at = end;
        }
        EXPECT_EQ(ours, theirs) << name;
    }
}

// Asked for a missing volume, a host that names the volume just read again is refused at once:
// the set ends there with a report, in the listing and in extraction.
TEST_F(RarTest, TheVolumeInUseIsNotTakenAsTheNextOne)
{
    TORVO_NEED_FIXTURES(fixtures, "no RAR fixtures");
    const fs::path set = fs::path(home) / "set";
    fs::create_directories(set);
    for (const char* n : {"1", "2"})
        fs::copy_file(*fixtures / "libarchive" / (std::string("test_rar_multivolume_single_file.part") + n + ".rar"),
                      set / (std::string("s.part") + n + ".rar"));
    int asked = 0;
    const auto sameAgain = [&asked](TObject*, std::string& name, int, bool exists, bool& cancel) {
        if (!exists) {
            ++asked;
            name = name.substr(0, name.size() - 5) + "2.rar";  // s.part3.rar -> s.part2.rar
        }
        cancel = asked > 3;
    };
    TPelix p;
    p.OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int code) {
        reports.push_back(code);
    };
    p.OnNextVolume = sameAgain;
    p.OnRead = [](TObject*, std::int64_t, int) {};
    p.SetArchiveFile((set / "s.part1.rar").string());
    p.Activate();
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(reports.empty());
    EXPECT_EQ(std::count(reports.begin(), reports.end(), E_MAXVOLUMES), 0);

    asked = 0;
    reports.clear();
    TUnRar un;
    Bind(un);
    un.OnNextVolume = sameAgain;
    un.SetArchiveFile((set / "s.part1.rar").string());
    un.SetExtractDir("C:\\out");
    fs::create_directories(home + "/out");
    EXPECT_EQ(un.Extract(), 0);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(reports.empty());
    EXPECT_FALSE(fs::exists(home + "/out/LibarchiveAddingTest.html"));
}

TEST_F(RarTest, EncryptedAndDamagedArchivesEndWithAReportAndStayInTheTarget)
{
    TORVO_NEED_FIXTURES(fixtures, "no RAR fixtures");
    int n = 0;
    // Neither backing decoder deciphers: every encrypted entry or header fails with the password number.
    for (const fs::path& archive : FirstVolumes(*fixtures)) {
        if (!Encrypted(archive.filename().string()))
            continue;
        SCOPED_TRACE(archive.filename().string());
        Extract(archive, "enc" + std::to_string(++n));
        EXPECT_NE(std::find(reports.begin(), reports.end(), E_INVALIDPASSWORD), reports.end());
        EXPECT_FALSE(AllPassed());
    }
    const std::set<std::string> before = [this] {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(root))
            names.insert(e.path().filename().string());
        return names;
    }();
    for (const fs::path& archive : FirstVolumes(*fixtures)) {
        const std::string name = archive.filename().string();
        if (!Hostile(name))
            continue;
        SCOPED_TRACE(name);
        const std::string out = "bad" + std::to_string(++n);
        Extract(archive, out);
        // An entry that fails is reported.
        EXPECT_TRUE(AllPassed() || ends.empty() || !reports.empty());
        for (const auto& [entry, pass] : ends) {
            if (pass) {
                EXPECT_TRUE(fs::exists(home + "/" + out)) << entry;
            }
        }
    }
    std::set<std::string> after;
    for (const auto& e : fs::directory_iterator(root))
        after.insert(e.path().filename().string());
    EXPECT_EQ(before, after);
}

// A RAR 4 block with its header CRC.
std::string Rar4Block(std::uint8_t Type, std::uint16_t Flags, const std::string& Body)
{
    std::string b(7, '\0');
    b[2] = char(Type);
    PutLE16(reinterpret_cast<std::uint8_t*>(&b[3]), Flags);
    PutLE16(reinterpret_cast<std::uint8_t*>(&b[5]), std::uint16_t(7 + Body.size()));
    b += Body;
    PutLE16(reinterpret_cast<std::uint8_t*>(&b[0]), std::uint16_t(Crc32Of(b.data() + 2, std::int64_t(b.size() - 2))));
    return b;
}

// A stored file header; with flag 0x0100, Packed's high half goes in the 64-bit fields.
std::string Rar4File(std::uint16_t Flags, std::uint64_t Packed, const std::string& Data)
{
    std::string body(25, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(body.data());
    PutLE32(p, std::uint32_t(Packed));
    PutLE32(p + 4, std::uint32_t(Data.size()));
    PutLE32(p + 9, Crc32Of(Data.data(), std::int64_t(Data.size())));
    PutLE32(p + 13, 0x21000000);
    p[17] = 29;
    p[18] = 0x30;
    PutLE16(p + 19, 1);
    PutLE32(p + 21, 0x20);
    if (Flags & 0x0100) {
        body.resize(body.size() + 8, '\0');
        PutLE32(reinterpret_cast<std::uint8_t*>(&body[25]), std::uint32_t(Packed >> 32));
    }
    return Rar4Block(0x74, Flags, body + "b");
}

// A file header whose 64-bit packed size wraps the walk back to an earlier header must end the
// walk as damage, not go round (a million entries) or join the set for ever (self-extractors).
TEST_F(RarTest, SizesThatStepBackToAnEarlierHeaderEndAsDamage)
{
    const std::string signature("Rar!\x1A\x07\x00", 7);
    const std::string main = Rar4Block(0x73, 0, std::string(6, '\0'));
    const std::string first = Rar4File(0x8000, 1, "x") + "x";
    int n = 0;
    for (const std::string stub : {"", "MZ"})
        for (const bool toItself : {false, true}) {
            const std::uint16_t flags = toItself ? 0x8101 : 0x8100;  // 0x0001: a continuation
            const std::size_t size = Rar4File(flags, 0, "").size();
            const std::size_t back = toItself ? size : first.size() + size;
            const std::string archive = stub + signature + main + first + Rar4File(flags, 0 - std::uint64_t(back), "");
            SCOPED_TRACE(stub + (toItself ? " to itself" : " to the first"));
            const fs::path file = root + "/back" + std::to_string(++n) + ".rar";
            std::ofstream(file, std::ios::binary) << archive;
            Extract(file, "back" + std::to_string(n));
            EXPECT_LE(ends.size(), 2u);
            EXPECT_FALSE(reports.empty());
        }
}

// A stored member named Name (at most 65,503 bytes, what a 16-bit header size leaves).
std::string Rar4Named(const std::string& Name, const std::string& Data)
{
    std::string body(25, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(body.data());
    PutLE32(p, std::uint32_t(Data.size()));
    PutLE32(p + 4, std::uint32_t(Data.size()));
    PutLE32(p + 9, Crc32Of(Data.data(), std::int64_t(Data.size())));
    PutLE32(p + 13, 0x21000000);
    p[17] = 29;
    p[18] = 0x30;
    PutLE16(p + 19, std::uint16_t(Name.size()));
    PutLE32(p + 21, 0x20);
    return Rar4Block(0x74, 0x8000, body + Name) + Data;
}

// Damage the other formats report must not pass here in silence: a header whose CRC fails (the
// listing showed it while extraction passed it over), and a name longer than the library's
// record, which arrived cut to 1,023 characters and was written hundreds of folders deep.
TEST_F(RarTest, DamagedHeadersAndCutNamesAreReported)
{
    const std::string signature("Rar!\x1A\x07\x00", 7);
    const std::string main = Rar4Block(0x73, 0, std::string(6, '\0'));
    const std::string end = Rar4Block(0x7B, 0x4000, "");
    const auto write = [this](const std::string& name, const std::string& bytes) {
        const fs::path file = root + "/" + name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    };
    const auto list = [this](const fs::path& archive, int& listed) {
        reports.clear();
        listed = 0;
        TPelix p;
        p.OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int code) {
            reports.push_back(code);
        };
        p.OnRead = [&listed](TObject*, std::int64_t, int) { ++listed; };
        p.SetArchiveFile(archive.string());
        p.Activate();
    };

    const std::string first = Rar4Named("first.txt", "one"), second = Rar4Named("second.txt", "two");
    ASSERT_EQ(Extract(write("sound.rar", signature + main + first + second + end), "sound"), 2);
    EXPECT_TRUE(reports.empty());
    for (const std::size_t at : {std::size_t(0), signature.size() + main.size() + first.size()}) {
        SCOPED_TRACE(at);
        std::string damaged = signature + main + first + second + end;
        damaged[signature.size() + (at == 0 ? 0 : at)] ^= 0x55;  // the low byte of a header's CRC
        const fs::path file = write("crc" + std::to_string(at) + ".rar", damaged);
        const int written = Extract(file, "crc" + std::to_string(at));
        EXPECT_NE(std::find(reports.begin(), reports.end(), E_BADFILEHEADER), reports.end());
        EXPECT_EQ(written, at == 0 ? 0 : 1);
        int listed = 0;
        list(file, listed);
        EXPECT_NE(std::find(reports.begin(), reports.end(), E_BADFILEHEADER), reports.end());
        EXPECT_EQ(listed, at == 0 ? 0 : 1);
    }

    std::string deep;
    while (deep.size() < 65000)
        deep += "d/";
    deep += "f.txt";
    const fs::path file = write("deep.rar", signature + main + Rar4Named(deep, "deep") + first + end);
    EXPECT_EQ(Extract(file, "deep"), 1);
    EXPECT_NE(std::find(reports.begin(), reports.end(), E_INVALIDFILENAME), reports.end());
    EXPECT_FALSE(fs::exists(home + "/deep/d"));
    EXPECT_TRUE(fs::exists(home + "/deep/first.txt"));
}

// The backing decoder's own diagnostics ("! uncompress-rar.c:24: ...") never reach the person:
// what fails is said once, by number.
TEST_F(RarTest, OnlyOurReportsReachTheTerminal)
{
    const std::string tool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";
    if (!fixtures || !fs::exists(tool))
        GTEST_SKIP() << "no fixtures or plxtool not built";
    int status = 0;
    const std::string text = CaptureCommand(
        ShellQuote(tool) + " test " +
            ShellQuote((*fixtures / "libarchive" / "test_read_format_rar_invalid1.rar").string()) + " 2>&1 >/dev/null",
        &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(text.find("plxtool: 25114"), std::string::npos) << text;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(line.rfind("plxtool: ", 0), 0u) << line;
}

// RAR 5 keeps a member's time in its header or in a file-time record: the listing shows the time
// lsar shows (to the two seconds of a DOS time), never the 1980 of no time at all.
TEST_F(RarTest, Rar5MembersKeepTheirTimes)
{
    if (!fixtures || !HaveTool("lsar"))
        GTEST_SKIP() << "no fixtures or no lsar";
    setenv("TZ", "UTC", 1);
    int compared = 0;
    for (const fs::path& archive : FirstVolumes(*fixtures)) {
        const std::string name = archive.filename().string();
        if (name.find("rar5") == std::string::npos || Hostile(name) || Encrypted(name))
            continue;
        SCOPED_TRACE(name);
        std::map<std::string, TDateTime> ours;
        TPelix p;
        p.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
        p.OnRead = [&ours](TObject* sender, std::int64_t, int) {
            auto& z = *static_cast<TZipCommon*>(sender);
            std::string n = z.FileName;
            std::replace(n.begin(), n.end(), '\\', '/');
            ours[n] = z.DateTime;
        };
        p.SetArchiveFile(archive.string());
        p.Activate();
        // lsar -L: "  Name: ..." then, further on, "  Last modified: 2018-09-26 04:43:42 +0000".
        const std::string text = CaptureCommand("TZ=UTC lsar -L " + ShellQuote(archive.string()) + " 2>/dev/null");
        std::istringstream lines(text);
        std::string line, current;
        while (std::getline(lines, line)) {
            const auto field = [&line](const char* key) {
                const std::size_t at = line.find(key);
                if (at == std::string::npos)
                    return std::string();
                std::size_t v = line.find_first_not_of(' ', at + std::strlen(key));
                return v == std::string::npos ? std::string() : line.substr(v);
            };
            if (const std::string n = field("  Name:"); !n.empty() && line.find("  Name:") == 0)
                current = n;
            const std::string modified = field("Last modified:");
            if (modified.empty() || !ours.count(current))
                continue;
            int y, mo, d, h, mi, sec;
            ASSERT_EQ(std::sscanf(modified.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &sec), 6);
            const TDateTime theirs = win::EncodeDate(y, mo, d) + win::EncodeTime(h, mi, sec, 0);
            EXPECT_NEAR(ours[current], theirs, 2.5 / 86400) << current << " " << modified;
            ++compared;
        }
    }
    unsetenv("TZ");
    EXPECT_GE(compared, 13);
}

TEST_F(RarTest, PasswordWithoutHandlerIsUsedAndReportedAndOnlySelectedEntriesReachAStream)
{
    TORVO_NEED_FIXTURES(fixtures, "no RAR fixtures");
    const fs::path lib = *fixtures / "libarchive";
    {
        // A password given without OnGetPassword is offered; the entry still fails with the number.
        reports.clear();
        TUnRar un;
        Bind(un);
        un.SetPassword("password");
        un.SetArchiveFile((lib / "test_read_format_rar5_encrypted.rar").string());
        un.TestArchive();
        EXPECT_NE(std::find(reports.begin(), reports.end(), E_INVALIDPASSWORD), reports.end());
    }
    {
        // With a handler and no password the handler is asked.
        reports.clear();
        int asked = 0;
        TUnRar un;
        Bind(un);
        un.OnGetPassword = [&asked](TObject*, const std::string&, std::string& password, TSeedKeyRecord&,
                                    TSeedKeyRecord&, bool& tryAgain) {
            ++asked;
            password = "x";
            tryAgain = true;
        };
        un.SetArchiveFile((lib / "test_read_format_rar4_encrypted.rar").string());
        un.TestArchive();
        EXPECT_GE(asked, 1);
    }
    // Into the caller's stream go the selected entry's bytes and nothing of the others.
    const fs::path archive = lib / "test_read_format_rar5_multiple_files.rar";
    ASSERT_EQ(Extract(archive, "all"), 4);
    std::string wanted;
    for (const auto& [name, bytes] : FilesOf(home + "/all"))
        if (name == "test2.bin")
            wanted = bytes;
    ASSERT_FALSE(wanted.empty());
    TMemoryStream32 stream;
    TUnRar un;
    Bind(un);
    un.SetArchiveFile(archive.string());
    un.SetFileSpec({"test2.bin"});
    un.CallerStream = &stream;
    EXPECT_EQ(un.RunOperation(opCallerStream), 1);
    ASSERT_EQ(stream.Size(), std::int64_t(wanted.size()));
    EXPECT_EQ(std::string(static_cast<const char*>(stream.Memory()), wanted.size()), wanted);
}

}  // namespace
