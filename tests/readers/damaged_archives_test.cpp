// Damaged archives of every format: an archive cut short or with a damaged header is reported,
// and "nothing tested, nothing failed" is never the answer for a file that is no sound archive.
// A cut may pass in silence only where the format can end (a header boundary of a format without
// an end record), and then exactly the members before it pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "readers/Pelix.h"
#include "readers/plxUnZIP.h"
#include "readers/plxZipCheck.h"
#include "support/Reports.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

struct TOutcome {
    bool Reported = false;  // OnError, or no type or extractor found
    int Passed = 0;         // members whose check passed
    int Listed = -1;        // files listed, -1 for a listing not run
    bool ListReported = false;
};

// One archive as the program meets it: detection, the test operation and the listing.
TOutcome Examine(const std::string& Path, bool List)
{
    TOutcome o;
    TZipCheck check;
    std::vector<int> codes;
    check.OnError = CollectCodes(codes);
    check.OnStatus = [&o](TObject*, const std::string&, bool pass) { o.Passed += pass ? 1 : 0; };
    check.SetArchiveFile(Path);
    if (check.ArcType() <= atUnknown)
        codes.push_back(E_UNSUPPORTEDARCTYPE);
    else
        check.Activate();
    o.Reported = !codes.empty();
    if (List) {
        TPelix pelix;
        std::vector<int> listCodes;
        pelix.OnError = CollectCodes(listCodes);
        o.Listed = 0;
        pelix.OnRead = [&o](TObject* sender, std::int64_t, int) {
            o.Listed += (static_cast<TZipCommon*>(sender)->ExternalAttr & 0x10) ? 0 : 1;
        };
        pelix.SetArchiveFile(Path);
        // A file of no known type is refused before any listing.
        o.ListReported = pelix.ArcType() <= atUnknown || !pelix.Activate() || !listCodes.empty();
    }
    return o;
}

// Where each member's header starts, by the listing of the sound archive (folders included).
std::vector<std::pair<std::int64_t, bool>> MemberStarts(const std::string& Path)
{
    std::vector<std::pair<std::int64_t, bool>> starts;
    TPelix pelix;
    pelix.ShowEmptyDirs = true;
    pelix.OnRead = [&starts](TObject* sender, std::int64_t offset, int) {
        starts.emplace_back(offset, (static_cast<TZipCommon*>(sender)->ExternalAttr & 0x10) == 0);
    };
    pelix.SetArchiveFile(Path);
    pelix.Activate();
    return starts;
}

struct TFormat {
    const char* Name;
    const char* Tool;                                      // needed to make it; null: a fixture or our own writer
    std::function<std::string(const fs::path& Dir)> Make;  // the sound archive's path
    int Files;
    // Where a cut may be silent: at a member's header (no end record), and from the end of the
    // members on (an optional end record of Trailer bytes).
    bool EndsAtAnyMember = false;
    std::int64_t Trailer = 0;
    bool CutsTold = true;  // .Z holds no length and no CRC: gzip and uncompress take a cut in silence
    // Where the members' headers start (file or folder), where the listing's offsets are not
    // the headers' own.
    std::vector<std::pair<std::int64_t, bool>> Starts = {};
};

// A BH archive of stored members (no tool makes BH): header, name, data, one after another.
std::string StoredBh(const fs::path& Out, const fs::path& Src)
{
    std::string archive;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        const std::string data = ReadText(Src / name);
        AppendLE(archive, std::uint32_t(0x07054842));
        AppendLE(archive, std::uint16_t(37 + std::strlen(name)));
        archive += char(37);
        archive += char(3);  // version
        archive += char(0);
        archive += char(0);  // flags
        archive += char(0);  // stored
        AppendLE(archive, std::uint32_t(0x5A8B6000));
        AppendLE(archive, std::uint32_t(data.size()));
        AppendLE(archive, std::uint32_t(data.size()));
        AppendLE(archive, Crc32Of(data));
        AppendLE(archive, std::uint16_t(0x20));
        AppendLE(archive, std::uint32_t(0));
        AppendLE(archive, std::uint16_t(std::strlen(name)));
        AppendLE(archive, std::uint16_t(0));
        archive += name;
        archive += data;
    }
    WriteText(Out, archive);
    return Out.string();
}

class DamagedArchivesTest : public FsTest {};

TEST_F(DamagedArchivesTest, CutOrDamagedHeadersAreReportedInEveryFormat)
{
    const fs::path src = fs::path(home) / "src";
    fs::create_directories(src);
    WriteText(src / "a.txt", std::string(60, 'a') + "\n");
    WriteText(src / "b.txt", "bravo bravo\nbravo\n");
    WriteText(src / "c.txt", "charlie\n");
    const fs::path fixtures = FixtureRoot();
    const auto tool = [&src](const std::string& command, const std::string& name) {
        const fs::path out = src.parent_path() / name;
        EXPECT_EQ(std::system(("cd " + ShellQuote(src.string()) + " && { " + command + "; } >/dev/null 2>&1").c_str()),
                  0)
            << command;
        return out.string();
    };
    const auto fixture = [&fixtures, this](const std::string& rel) {
        const fs::path copy = fs::path(home) / fs::path(rel).filename();
        std::error_code ec;
        fs::copy_file(fixtures / rel, copy, fs::copy_options::overwrite_existing, ec);
        return ec ? std::string() : copy.string();
    };
    const std::vector<TFormat> formats = {
        {"zip", "zip", [&](const fs::path&) { return tool("zip -q ../s.zip a.txt b.txt c.txt", "s.zip"); }, 3},
        {"tar", "tar", [&](const fs::path&) { return tool("tar -b1 -cf ../s.tar a.txt b.txt c.txt", "s.tar"); }, 3,
         true, 1024},
        {"lha", "lha", [&](const fs::path&) { return tool("lha -aq ../s.lzh a.txt b.txt c.txt", "s.lzh"); }, 3, true,
         1},
        {"arj", "arj", [&](const fs::path&) { return tool("arj a -y ../s.arj a.txt b.txt c.txt", "s.arj"); }, 3},
        {"arc", "arc", [&](const fs::path&) { return tool("arc a ../s.arc a.txt b.txt c.txt", "s.arc"); }, 3, true, 2},
        {"cab", "gcab", [&](const fs::path&) { return tool("gcab -c ../s.cab a.txt b.txt c.txt", "s.cab"); }, 3},
        {"gz", "gzip", [&](const fs::path&) { return tool("gzip -c a.txt > ../s.gz", "s.gz"); }, 1},
        {"bz2", "bzip2", [&](const fs::path&) { return tool("bzip2 -c a.txt > ../s.bz2", "s.bz2"); }, 1},
        {"Z", "compress",
         [&](const fs::path&) { return tool("cat a.txt b.txt c.txt | compress -f -c > ../s.Z", "s.Z"); }, 1, false, 0,
         false},
        {"uue", "uuencode", [&](const fs::path&) { return tool("uuencode a.txt a.txt > ../s.uue", "s.uue"); }, 1, true,
         1},
        {"bh", nullptr, [&](const fs::path&) { return StoredBh(fs::path(home) / "s.bh", src); }, 3, true},
        {"zoo", nullptr, [&](const fs::path&) { return fixture("zoo/t.zoo"); }, 2},
        {"rar",
         nullptr,
         [&](const fs::path&) { return fixture("rar/t.rar"); },
         1,
         true,
         7,
         true,
         {{20, true}, {70, false}}},
        {"ace", nullptr, [&](const fs::path&) { return fixture("ace/t.ace"); }, 1, true},
    };
    for (const TFormat& f : formats) {
        SCOPED_TRACE(f.Name);
        if (f.Tool && !HaveTool(f.Tool))
            continue;
        const std::string sound = f.Make(src.parent_path());
        if (sound.empty() || !fs::exists(sound))
            continue;  // no fixtures here
        const std::vector<std::uint8_t> bytes = ReadWholeFile(sound);
        const std::string host = (fs::path(home) / (std::string("cut.") + f.Name)).string();
        const bool list = f.Files > 1;
        const TOutcome whole = Examine(sound, list);
        ASSERT_FALSE(whole.Reported);
        ASSERT_FALSE(whole.ListReported);
        ASSERT_EQ(whole.Passed, f.Files);
        const auto starts = f.Starts.empty() ? MemberStarts(sound) : f.Starts;
        const std::int64_t size = std::int64_t(bytes.size());
        const auto filesBefore = [&starts](std::int64_t cut) {
            int n = 0;
            for (const auto& [at, file] : starts)
                n += at < cut - 1 && file ? 1 : 0;
            return n;
        };
        const auto silentCut = [&](std::int64_t cut) {
            if (!f.EndsAtAnyMember)
                return false;
            if (cut >= size - f.Trailer)
                return true;
            for (const auto& [at, file] : starts)
                if (at == cut)
                    return true;
            return false;
        };
        // Every cut of the first blocks, then a sample: the headers further on are alike.
        for (std::int64_t cut = 1; cut < size && f.CutsTold; cut += cut < 600 ? 1 : 11) {
            WriteWholeFile(host, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
            const TOutcome o = Examine(host, list);
            if (!silentCut(cut)) {
                EXPECT_TRUE(o.Reported) << "cut at " << cut << " of " << size << ": " << o.Passed << " passed";
                if (list && o.Listed >= 0) {
                    EXPECT_TRUE(o.ListReported || o.Listed == f.Files)
                        << "listing cut at " << cut << " listed " << o.Listed;
                }
            } else if (!o.Reported) {
                EXPECT_EQ(o.Passed, cut >= size - f.Trailer ? f.Files : filesBefore(cut)) << "cut at " << cut;
            }
        }
        // One damaged byte: whatever it hits, no member is lost in silence.
        for (std::int64_t at = 0; at < std::min<std::int64_t>(size, 600); ++at) {
            std::vector<std::uint8_t> damaged = bytes;
            damaged[std::size_t(at)] ^= 0xFF;
            WriteWholeFile(host, damaged);
            const TOutcome o = Examine(host, list);
            EXPECT_TRUE(o.Reported || o.Passed == f.Files) << "byte " << at << ": " << o.Passed << " passed";
        }
    }
}

// An end record that counts more entries than the directory holds, or a cabinet file table that is
// not where the header puts it: entries were lost, which the listing tells as the test does.
TEST_F(DamagedArchivesTest, AListingThatMissesMembersTheArchiveCountsSaysSo)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip is not installed";
    const fs::path src = fs::path(home) / "src";
    fs::create_directories(src / "sub");
    for (const char* name : {"a.txt", "b.txt", "sub/c.txt"})
        WriteText(src / name, std::string("text of ") + name + "\n");
    const fs::path sound = fs::path(home) / "s.zip";
    ASSERT_EQ(std::system(("cd " + ShellQuote(src.string()) + " && zip -qr ../s.zip .").c_str()), 0);
    const TOutcome whole = Examine(sound.string(), true);
    EXPECT_FALSE(whole.ListReported);
    EXPECT_EQ(whole.Listed, 3);

    std::string bytes = ReadText(sound);
    const std::size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(end, std::string::npos);
    bytes[end + 8] = char(bytes[end + 8] + 2);  // entries on this disk and in all
    bytes[end + 10] = char(bytes[end + 10] + 2);
    const fs::path claims = fs::path(home) / "claims.zip";
    WriteText(claims, bytes);
    const TOutcome o = Examine(claims.string(), true);
    EXPECT_TRUE(o.Reported);
    EXPECT_TRUE(o.ListReported);
    EXPECT_EQ(o.Listed, 3);  // what is there is still shown

    // A cabinet whose file table is not where its header says: the test still finds the files,
    // and the listing must not pass off what it found there as the whole cabinet.
    if (HaveTool("gcab")) {
        ASSERT_EQ(
            std::system(("cd " + ShellQuote(src.string()) + " && gcab -c ../s.cab a.txt b.txt sub/c.txt").c_str()), 0);
        std::string cab = ReadText(fs::path(home) / "s.cab");
        cab[16] = char(cab[16] ^ 0x55);  // the file table's offset
        const fs::path moved = fs::path(home) / "moved.cab";
        WriteText(moved, cab);
        EXPECT_TRUE(Examine(moved.string(), true).ListReported);
    }
}

// An archive that lost its start or all of its members is no archive that holds nothing. A damaged ARJ
// main header leaves the first member without data looking like the archive's start (its next
// header follows at once); a RAR archive cut after its main header has neither a member nor the
// end block that closes an empty one; a BH header whose length was zeroed is not the closing header.
TEST_F(DamagedArchivesTest, AnArchiveThatLostItsStartOrEveryMemberIsReported)
{
    const auto expectReported = [this](const std::string& bytes, const std::string& name) {
        const fs::path damaged = fs::path(home) / name;
        WriteText(damaged, bytes);
        const TOutcome o = Examine(damaged.string(), true);
        EXPECT_TRUE(o.Reported) << o.Passed << " passed";
        EXPECT_TRUE(o.ListReported) << o.Listed << " listed";
    };
    const fs::path src = fs::path(home) / "src";
    fs::create_directories(src);
    WriteText(src / "a.txt", std::string(200, 'a') + "\n");
    WriteText(src / "b.txt", "bravo\n");
    WriteText(src / "empty.txt", "");
    WriteText(src / "c.txt", "charlie\n");
    const std::string bh = ReadText(StoredBh(fs::path(home) / "s.bh", src));
    for (const std::size_t header : {std::size_t(0), bh.find("BH\x05\x07", 4)}) {
        SCOPED_TRACE(header);
        std::string bytes = bh;
        bytes[header + 4] = bytes[header + 5] = '\0';
        expectReported(bytes, "damaged.bh");
    }
    if (HaveTool("arj")) {
        ASSERT_EQ(
            std::system(("cd " + ShellQuote(src.string()) + " && arj a -y ../s.arj a.txt empty.txt c.txt >/dev/null")
                            .c_str()),
            0);
        const std::string sound = ReadText(fs::path(home) / "s.arj");
        const std::size_t basicSize = std::uint8_t(sound[2]) | std::uint8_t(sound[3]) << 8;
        // The id, the file type, the header's CRC.
        for (const std::size_t at : {std::size_t(0), std::size_t(10), 4 + basicSize}) {
            SCOPED_TRACE(at);
            std::string bytes = sound;
            bytes[at] = char(bytes[at] ^ 0xFF);
            expectReported(bytes, "damaged.arj");
        }
        // The first member's size zeroed reads as the end marker, with the members still behind it.
        std::string sizeless = sound;
        const std::size_t first = sound.find("\x60\xEA", 4 + basicSize);
        ASSERT_NE(first, std::string::npos);
        sizeless[first + 2] = sizeless[first + 3] = '\0';
        expectReported(sizeless, "sizeless.arj");
    }
    const fs::path rar4 = FixtureRoot() / "rar/t.rar";
    const fs::path rar5 = FixtureRoot() / "rar/libarchive/test_read_format_rar5_stored.rar";
    if (fs::exists(rar4) && fs::exists(rar5)) {
        const std::string four = ReadText(rar4);  // marker (7), main header (its size at 5)
        expectReported(four.substr(0, 7 + (std::uint8_t(four[12]) | std::uint8_t(four[13]) << 8)), "cut4.rar");
        const std::string five = ReadText(rar5);  // signature (8), CRC (4), size (one byte here), header
        ASSERT_LT(std::uint8_t(five[12]), 0x80);
        expectReported(five.substr(0, 13 + std::uint8_t(five[12])), "cut5.rar");
    }
}

// A directory that lost its first record and a second member whose header was damaged leave only
// the first member readable, while the end record still counts three: the test and the
// extraction say so and fail, and the extraction keeps what it could read.
TEST_F(DamagedArchivesTest, MembersLostWithTheDirectoryFailTheTestAndTheExtraction)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip is not installed";
    const fs::path src = fs::path(home) / "src";
    fs::create_directories(src);
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        WriteText(src / name, std::string("text of ") + name + "\n");
    ASSERT_EQ(std::system(("cd " + ShellQuote(src.string()) + " && zip -q ../s.zip a.txt b.txt c.txt").c_str()), 0);
    std::string bytes = ReadText(fs::path(home) / "s.zip");
    const auto le16 = [&bytes](std::size_t at) {
        return std::size_t(std::uint8_t(bytes[at])) | std::size_t(std::uint8_t(bytes[at + 1])) << 8;
    };
    const std::size_t central = bytes.find(std::string("PK\x01\x02", 4));
    const std::size_t second = bytes.find(std::string("PK\x03\x04", 4), 1);
    ASSERT_NE(central, std::string::npos);
    ASSERT_LT(second, central);
    const std::size_t record = 46 + le16(central + 28) + le16(central + 30) + le16(central + 32);
    std::fill_n(bytes.begin() + std::ptrdiff_t(central), record, '\0');
    std::fill_n(bytes.begin() + std::ptrdiff_t(second), 4, '\0');
    const fs::path lost = fs::path(home) / "lost.zip";
    WriteText(lost, bytes);
    if (HaveTool("unzip")) {
        int rc = -1;
        CaptureCommand("unzip -t " + ShellQuote(lost.string()) + " 2>&1", &rc);
        EXPECT_NE(rc, 0);  // the peer refuses it too
    }

    const TOutcome o = Examine(lost.string(), false);
    EXPECT_TRUE(o.Reported);
    EXPECT_EQ(o.Passed, 1);

    TUnZip z;
    std::vector<int> codes;
    z.OnError = CollectCodes(codes);
    z.SetArchiveFile(lost.string());
    const fs::path out = fs::path(home) / "out";
    fs::create_directories(out);
    z.SetExtractDir(out.string());
    z.Extract();
    EXPECT_NE(std::find(codes.begin(), codes.end(), E_BADFILEHEADER), codes.end());
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"a.txt"});
    EXPECT_EQ(ReadText(out / "a.txt"), "text of a.txt\n");
}

}  // namespace
