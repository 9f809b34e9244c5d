// The listing component against archives made by real tools and by other programs, with the
// tools' own listings as the oracle, plus hand-made hostile headers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win/SysDates.h"
#include "readers/Pelix.h"
#include "support/Reports.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

class TTypedPelix : public TPelix {
public:
    explicit TTypedPelix(TArcType Type) : Forced(Type) {}
    TArcType GetArcType(TStream32&) override
    {
        ArchiveOffset = 0;
        return Forced;
    }
    TArcType Forced;
};

struct TListed {
    std::string Name;  // "/" separators
    std::int64_t Unpacked = 0, Packed = 0;
    std::uint32_t Crc = 0;
    std::string Volume;
    TDateTime Date = 0;
};

struct TRun {
    bool Ok = false;
    std::vector<TListed> Entries;
    std::vector<int> Errors;
    std::vector<std::string> ReadFiles;
    int Totals = -1;
    std::int64_t TotalUnpacked = -1, TotalPacked = -1;
};

std::string Slashed(std::string s)
{
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

TRun List(const fs::path& archive, TArcType type, const std::function<void(TPelix&)>& setup = {})
{
    TTypedPelix p(type);
    TRun run;
    p.OnError = CollectCodes(run.Errors);
    p.OnRead = [&](TObject* s, std::int64_t, int) {
        auto& z = *static_cast<TZipCommon*>(s);
        run.Entries.push_back({Slashed(z.FileName), z.UnpackedSize, z.PackedSize, z.Crc32, z.VolumeName, z.DateTime});
    };
    p.OnReadFile = [&](TObject*, const std::string& name) { run.ReadFiles.push_back(Slashed(name)); };
    p.OnTotals = [&](TObject*, std::int64_t u, std::int64_t pk, int, int n) {
        run.Totals = n;
        run.TotalUnpacked = u;
        run.TotalPacked = pk;
    };
    if (setup)
        setup(p);
    p.SetArchiveFile(archive.string());
    run.Ok = p.Activate();
    return run;
}

bool Shell(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

struct TOracleEntry {
    std::int64_t Size = 0;
    std::optional<std::uint32_t> Crc;
};
using TOracle = std::map<std::string, TOracleEntry>;

std::string Value(const std::string& line)
{
    const auto eq = line.find_first_of("=:");
    std::string v = line.substr(eq + 1);
    v.erase(0, v.find_first_not_of(' '));
    return v;
}

// Files (not folders) as "7zz l -slt" reports them.
TOracle SevenZip(const fs::path& archive)
{
    TOracle files;
    std::istringstream in(CaptureCommand("7zz l -slt '" + archive.string() + "' 2>/dev/null"));
    std::string line, name;
    TOracleEntry e;
    bool folder = false, inEntries = false;
    const auto flush = [&] {
        if (inEntries && !name.empty() && !folder)
            files[Slashed(name)] = e;
        name.clear(), e = {}, folder = false;
    };
    while (std::getline(in, line)) {
        if (line.rfind("----------", 0) == 0) {
            inEntries = true;
            name.clear(), e = {}, folder = false;
        }
        if (line.rfind("Path = ", 0) == 0) {
            flush();
            name = Value(line);
        } else if (line.rfind("Size = ", 0) == 0) {
            e.Size = std::atoll(Value(line).c_str());
        } else if (line.rfind("CRC = ", 0) == 0 && !Value(line).empty()) {
            e.Crc = std::uint32_t(std::stoul(Value(line), nullptr, 16));
        } else if (line.rfind("Folder = +", 0) == 0 || (line.rfind("Attributes = D", 0) == 0)) {
            folder = true;
        }
    }
    flush();
    return files;
}

// Files as "lsar -L" reports them.
TOracle Lsar(const fs::path& archive)
{
    TOracle files;
    std::istringstream in(CaptureCommand("lsar -L '" + archive.string() + "' 2>/dev/null"));
    std::string line, name;
    TOracleEntry e;
    bool folder = false;
    const auto flush = [&] {
        if (!name.empty() && !folder)
            files[name] = e;
        name.clear(), e = {}, folder = false;
    };
    while (std::getline(in, line)) {
        if (line.rfind("  Name:", 0) == 0) {
            flush();
            name = Value(line);
        } else if (line.rfind("  Size:", 0) == 0) {
            const std::string v = Value(line);
            const auto paren = v.find('(');
            e.Size = std::atoll(v.c_str() + (paren == std::string::npos ? 0 : paren + 1));
        } else if (line.find("Is a directory:    Yes") != std::string::npos) {
            folder = true;
        } else if (line.find("CRC") != std::string::npos && line.find("0x") != std::string::npos) {
            e.Crc = std::uint32_t(std::stoul(line.substr(line.find("0x")), nullptr, 16));
        }
    }
    flush();
    return files;
}

void ExpectMatches(const TRun& run, const TOracle& oracle, const std::string& what)
{
    ASSERT_FALSE(oracle.empty()) << what;
    EXPECT_TRUE(run.Ok) << what;
    std::map<std::string, const TListed*> ours;
    for (const auto& e : run.Entries)
        ours[e.Name] = &e;
    for (const auto& [name, o] : oracle) {
        auto it = ours.find(name);
        if (it == ours.end()) {
            ADD_FAILURE() << what << ": missing " << name;
            continue;
        }
        EXPECT_EQ(it->second->Unpacked, o.Size) << what << ": " << name;
        if (o.Crc) {
            EXPECT_EQ(it->second->Crc, *o.Crc) << what << ": " << name;
        }
    }
    EXPECT_EQ(ours.size(), oracle.size()) << what;
}

class PelixTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(Dir / "src" / "sub");
        WriteText(Dir / "src" / "a.txt", "hello listing\n");
        std::string big;
        for (int i = 0; i < 4000; ++i)
            big += std::to_string(i * 7919) + "\n";
        WriteText(Dir / "src" / "sub" / "b.txt", big);
        WriteText(Dir / "src" / "sub" / "empty.dat", "");
    }
    std::string In(const std::string& cmd) const { return "cd '" + (Dir / "src").string() + "' && " + cmd; }
    TScratchDir scratch;
    const fs::path Dir = scratch.Path();
};

}  // namespace

TEST_F(PelixTest, ArchivesOfDebianToolsListAsTheToolsSee)
{
    struct TCase {
        const char* Name;
        TArcType Type;
        std::string Make;
        bool Lsar;
    };
    const std::vector<TCase> cases = {
        {"t.zip", atZip, "zip -qr ../t.zip a.txt sub", false},
        {"t.tar", atTar, "tar cf ../t.tar a.txt sub", false},
        {"t.arj", atArj, "arj a -r ../t.arj a.txt sub >/dev/null", false},
        {"t.lzh", atLha, "lha aq ../t.lzh a.txt sub >/dev/null", false},
        {"t0.lzh", atLha, "lha aq0 ../t0.lzh a.txt sub >/dev/null", false},
        {"t1.lzh", atLha, "lha aq1 ../t1.lzh a.txt sub >/dev/null", false},
        {"t.cab", atCab, "gcab -c ../t.cab a.txt sub/b.txt sub/empty.dat", false},
        {"t.arc", atArc, "arc a ../t.arc a.txt sub/b.txt >/dev/null", true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Shell(In(c.Make))) << c.Make;
        const fs::path archive = Dir / c.Name;
        const TRun run = List(archive, c.Type);
        ExpectMatches(run, c.Lsar ? Lsar(archive) : SevenZip(archive), c.Name);
        EXPECT_TRUE(run.Errors.empty()) << c.Name;
        std::int64_t sum = 0;
        for (const auto& e : run.Entries)
            sum += e.Unpacked;
        EXPECT_EQ(run.TotalUnpacked, sum) << c.Name;
        EXPECT_EQ(run.Totals, int(run.Entries.size())) << c.Name;
    }
}

TEST_F(PelixTest, TarListsWhatTheExtractorWritesUnderItsNames)
{
    // A hard link comes out as a copy, a symbolic link is passed over.
    ASSERT_TRUE(Shell(In("ln -s a.txt link.txt && ln a.txt hard.txt && tar cf ../links.tar a.txt link.txt hard.txt")));
    TRun run = List(Dir / "links.tar", atTar);
    ASSERT_EQ(run.Entries.size(), 2u);
    EXPECT_EQ(run.Entries[0].Name, "a.txt");
    EXPECT_EQ(run.Entries[1].Name, "hard.txt");

    // Long names in every form (GNU long-name records, pax path records, the ustar prefix), and
    // "./" in front as "tar cf x.tar ." writes it: the names the extractor writes.
    const std::string deep = std::string(90, 'd') + "/" + std::string(60, 'e');
    ASSERT_TRUE(Shell(In("mkdir -p " + deep + " && echo x > " + deep + "/" + std::string(40, 'f'))));
    for (const std::string format : {"gnu", "posix", "ustar"}) {
        SCOPED_TRACE(format);
        ASSERT_TRUE(Shell(In("tar --format=" + format + " -cf ../n.tar .")));
        std::set<std::string> expected;
        std::istringstream names(CaptureCommand("tar -tf '" + (Dir / "n.tar").string() + "'"));
        for (std::string line; std::getline(names, line);) {
            if (line.empty() || line.back() == '/' || line.ends_with("link.txt"))
                continue;
            expected.insert(line.substr(2));  // without "./"
        }
        std::set<std::string> listed;
        for (const auto& e : List(Dir / "n.tar", atTar).Entries)
            listed.insert(e.Name);
        EXPECT_EQ(listed, expected);
        EXPECT_TRUE(listed.count(deep + "/" + std::string(40, 'f')));
    }
}

TEST_F(PelixTest, SingleMemberFilesTakeTheirNamesFromTheArchive)
{
    const std::string a = "hello listing\n";
    ASSERT_TRUE(
        Shell(In("gzip -c a.txt > ../named.gz && gzip -nc a.txt > ../x.tgz && gzip -nc a.txt > ../y_tar.gz"
                 " && bzip2 -c a.txt > ../a.txt.bz2 && bzip2 -c a.txt > ../f.tbz"
                 " && compress -c sub/b.txt > ../b.txt.Z && : > ../empty && compress -c ../empty > ../empty.Z")));
    const auto one = [&](const char* file, TArcType type) {
        TRun r = List(Dir / file, type);
        EXPECT_TRUE(r.Ok) << file;
        EXPECT_EQ(r.Entries.size(), 1u) << file;
        return r.Entries.empty() ? TListed{} : r.Entries[0];
    };
    const TListed named = one("named.gz", atGZip);
    EXPECT_EQ(named.Name, "a.txt");
    EXPECT_EQ(named.Unpacked, std::int64_t(a.size()));
    EXPECT_EQ(named.Crc, Crc32Of(a));
    EXPECT_EQ(one("x.tgz", atGZip).Name, "x.tar");
    EXPECT_EQ(one("y_tar.gz", atGZip).Name, "y.tar");
    EXPECT_EQ(one("a.txt.bz2", atBz2).Name, "a.txt");
    EXPECT_EQ(one("f.tbz", atBz2).Name, "f.tar");
    const TListed z = one("b.txt.Z", atGZip);
    EXPECT_EQ(z.Name, "b.txt");
    EXPECT_EQ(z.Unpacked, std::int64_t(fs::file_size(Dir / "b.txt.Z")) - 3);
    // Three bytes, shorter than gzip's fixed header: still a member.
    EXPECT_EQ(one("empty.Z", atGZip).Name, "empty");
    // Every optional field before the data and a header CRC that does not match: the stored name
    // still names the member, and the packed size counts the data only.
    std::ifstream in(Dir / "x.tgz", std::ios::binary);
    const std::string plain((std::istreambuf_iterator<char>(in)), {});
    std::string header = plain.substr(0, 10);
    header[3] = char(0x04 | 0x08 | 0x10 | 0x02);
    header += std::string("\x03\x00xyz", 5) + "full.txt" + '\0' + "a comment" + '\0' + "\x5A\x5A";
    WriteText(Dir / "full.gz", header + plain.substr(10));
    const TListed full = one("full.gz", atGZip);
    EXPECT_EQ(full.Name, "full.txt");
    EXPECT_EQ(full.Packed, std::int64_t(plain.size()) - 18);
    EXPECT_EQ(full.Unpacked, std::int64_t(a.size()));
}

TEST_F(PelixTest, EncodedTextIsOneEntryOfTheWholeFile)
{
    ASSERT_TRUE(Shell(In("uuencode sub/b.txt stored.bin > ../t.uue && base64 sub/b.txt > ../t.b64")));
    WriteText(Dir / "mime.b64", "From: x\r\ncontent-transfer-encoding: BASE64\r\n"
                                "Content-Disposition: attachment; filename=\"mail.bin\"\r\n\r\naGVsbG8K\r\n");
    const struct {
        const char* File;
        TArcType Type;
        const char* Name;
    } cases[] = {{"t.uue", atUUE, "stored.bin"}, {"t.b64", atB64, ""}, {"mime.b64", atB64, "mail.bin"}};
    for (const auto& c : cases) {
        const TRun r = List(Dir / c.File, c.Type);
        ASSERT_EQ(r.Entries.size(), 1u) << c.File;
        EXPECT_EQ(r.Entries[0].Name, c.Name) << c.File;
        const auto size = std::int64_t(fs::file_size(Dir / c.File));
        EXPECT_EQ(r.Entries[0].Unpacked, size);
        EXPECT_EQ(r.TotalPacked, size);
    }
}

TEST_F(PelixTest, EventsSelectionFoldersAndRefusals)
{
    ASSERT_TRUE(Shell(In("zip -qr ../t.zip a.txt sub")));
    const fs::path zip = Dir / "t.zip";

    TRun plain = List(zip, atZip);
    EXPECT_EQ(plain.Entries.size(), 3u);
    EXPECT_EQ(plain.ReadFiles.size(), 4u);  // the folder fires OnReadFile only

    TRun dirs = List(zip, atZip, [](TPelix& p) { p.ShowEmptyDirs = true; });
    EXPECT_EQ(dirs.Entries.size(), 4u);
    EXPECT_EQ(dirs.TotalUnpacked, plain.TotalUnpacked);

    std::vector<std::string> excluded;
    TRun some = List(zip, atZip, [&](TPelix& p) {
        p.SetExcludeSpec({"*.dat"});
        p.OnExcludeFile = [&](TObject*, const std::string& n) { excluded.push_back(n); };
    });
    EXPECT_EQ(some.Entries.size(), 2u);
    EXPECT_EQ(excluded.size(), 1u);

    // A second run started from inside the first is refused and leaves it undisturbed.
    int nested = -1, seen = 0;
    TTypedPelix p(atZip);
    p.OnRead = [&](TObject*, std::int64_t, int) {
        ++seen;
        nested = p.Activate();
    };
    p.SetArchiveFile(zip.string());
    EXPECT_TRUE(p.Activate());
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(seen, 3);

    std::vector<int> errors;
    TTypedPelix quiet(atZip);
    quiet.OnError = CollectCodes(errors);
    quiet.SetArchiveFile(zip.string());
    EXPECT_FALSE(quiet.Activate());  // no OnRead
    quiet.OnRead = [](TObject*, std::int64_t, int) {};
    quiet.SetArchiveFile((Dir / "missing.zip").string());
    EXPECT_FALSE(quiet.Activate());
    EXPECT_EQ(errors, (std::vector<int>{25277, 25192}));

    // An archive without entries still opens, totals and closes.
    WriteText(Dir / "empty.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    std::vector<std::string> order;
    TRun empty = List(Dir / "empty.zip", atZip, [&](TPelix& q) {
        q.OnActivate = [&](TObject*) { order.push_back("activate"); };
        q.OnDeactivate = [&](TObject*) { order.push_back("deactivate"); };
    });
    EXPECT_TRUE(empty.Ok);
    EXPECT_EQ(empty.Totals, 0);
    EXPECT_TRUE(empty.Errors.empty());  // an empty archive is not a damaged one
    EXPECT_EQ(order, (std::vector<std::string>{"activate", "deactivate"}));

    // Taken for RAR, a ZIP is refused by the RAR library, and the listing ends without entries.
    TRun rar = List(zip, atRar);
    EXPECT_TRUE(rar.Ok);
    EXPECT_EQ(rar.Errors, (std::vector<int>{25244}));
    EXPECT_EQ(rar.Totals, 0);
}

TEST_F(PelixTest, SplitZipVolumesAreNamedLikeTheirFiles)
{
    std::mt19937 random(7);
    std::string noise;
    for (int i = 0; i < 300000; ++i)
        noise += char(random());
    WriteText(Dir / "src" / "noise.bin", noise);
    ASSERT_TRUE(Shell(In("zip -q -s 64k ../split.zip a.txt noise.bin sub/b.txt")));
    const TRun r = List(Dir / "split.zip", atZipMV);
    ASSERT_EQ(r.Entries.size(), 3u);
    EXPECT_TRUE(r.Entries[0].Volume.ends_with("split.z01")) << r.Entries[0].Volume;
    EXPECT_TRUE(fs::exists(Dir / "split.z04"));
    EXPECT_TRUE(r.Entries[2].Volume.ends_with("split.zip")) << r.Entries[2].Volume;
}

namespace {

void Le(std::string& s, std::uint64_t v, int n)
{
    for (int i = 0; i < n; ++i)
        s += char(i < 8 ? v >> (8 * i) : 0);
}

}  // namespace

TEST_F(PelixTest, HostileHeadersAreBoundedAndEndTheWalk)
{
    // A ZIP entry comment longer than the comment buffer.
    std::string zip, central;
    Le(zip, 0x04034B50, 4), Le(zip, 10, 2), Le(zip, 0, 8), Le(zip, 0, 12), Le(zip, 1, 2), Le(zip, 0, 2), zip += "x";
    Le(central, 0x02014B50, 4), Le(central, 10, 2), Le(central, 10, 2), Le(central, 0, 8), Le(central, 0, 12);
    Le(central, 1, 2), Le(central, 0, 2), Le(central, 40000, 2), Le(central, 0, 8), Le(central, 0, 4);
    central += "x" + std::string(40000, 'c');
    const std::size_t centralAt = zip.size();
    zip += central;
    Le(zip, 0x06054B50, 4), Le(zip, 0, 4), Le(zip, 1, 2), Le(zip, 1, 2), Le(zip, central.size(), 4);
    Le(zip, centralAt, 4), Le(zip, 0, 2);
    WriteText(Dir / "comment.zip", zip);
    std::size_t commentLength = 0;
    TRun c = List(Dir / "comment.zip", atZip, [&](TPelix& p) {
        p.OnReadEnd = [&](TObject* s) { commentLength = static_cast<TPelix*>(s)->Comment().size(); };
    });
    ASSERT_EQ(c.Entries.size(), 1u);
    EXPECT_EQ(commentLength, std::size_t(TPelix::kCommentBufferSize - 1));

    // ARJ: a basic header that would not fit the header buffer.
    std::string arj;
    Le(arj, 0xEA60, 2), Le(arj, 32765, 2), arj += std::string(40000, 'a');
    WriteText(Dir / "big.arj", arj);
    TRun a = List(Dir / "big.arj", atArj);
    EXPECT_TRUE(a.Entries.empty());
    EXPECT_EQ(a.Errors, (std::vector<int>{25114}));

    // ZOO: an entry whose next pointer leads back to itself.
    std::string zoo(20, 'Z');
    Le(zoo, 0xFDC4A7DC, 4), Le(zoo, 58, 4), Le(zoo, std::uint32_t(-58), 4), zoo.resize(58, '\0');
    std::string entry;
    Le(entry, 0xFDC4A7DC, 4), entry += '\1', entry += '\0', Le(entry, 58, 4);
    entry.resize(38, '\0'), entry += "loop.txt", entry.resize(58, '\0');
    zoo += entry + std::string(64, '\0');
    WriteText(Dir / "loop.zoo", zoo);
    TRun z = List(Dir / "loop.zoo", atZoo);
    EXPECT_LE(z.Entries.size(), 1u);

    // ARC: a folder (method 30) whose members carry its path, its end (31), the end marker, garbage.
    const auto arcHeader = [](int method, const std::string& name, std::uint32_t size, const std::string& data) {
        std::string h;
        h += '\x1A', h += char(method), h += name, h.resize(15, '\0');
        Le(h, size, 4), Le(h, 0x21, 2), Le(h, 0, 2), Le(h, 0, 2), Le(h, data.size(), 4);
        return h + data;
    };
    std::string inner = arcHeader(2, "IN.TXT", 3, "abc") + std::string("\x1A\x1F", 2);
    std::string arc = arcHeader(30, "DIR", std::uint32_t(inner.size()), "") + inner + arcHeader(2, "OUT.TXT", 2, "xy") +
                      std::string("\x1A\0", 2) + "\x1A\x05garbage-after-end";
    WriteText(Dir / "dirs.arc", arc);
    TRun d = List(Dir / "dirs.arc", atArc, [](TPelix& p) { p.ShowEmptyDirs = true; });
    std::vector<std::string> names;
    for (const auto& e : d.Entries)
        names.push_back(e.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"DIR/", "DIR/IN.TXT", "OUT.TXT"}));

    // Cut inside the first member's header, or a chain that leads to no entry: damage is reported
    // as the extractor reports it, after what could be listed.
    WriteText(Dir / "cut.arc", arc.substr(0, 40));
    TRun cut = List(Dir / "cut.arc", atArc);
    EXPECT_TRUE(cut.Entries.empty());
    EXPECT_EQ(cut.Errors, (std::vector<int>{E_BADFILEHEADER}));
    std::string broken = zoo;
    broken[58 + 6] = char(58 + 58);  // the next entry would start in the zeros after this one
    WriteText(Dir / "broken.zoo", broken);
    TRun b = List(Dir / "broken.zoo", atZoo);
    ASSERT_EQ(b.Entries.size(), 1u);
    EXPECT_EQ(b.Entries[0].Name, "loop.txt");
    EXPECT_EQ(b.Errors, (std::vector<int>{E_BADFILEHEADER}));
}

TEST_F(PelixTest, LhaLevelTwoReadsItsExtendedHeaderChain)
{
    // Level 2: a common header first, the name second, a folder third; host byte "M".
    std::string ext;
    const auto block = [&](int type, const std::string& data) {
        Le(ext, data.size() + 3, 2), ext += char(type), ext += data;
    };
    block(0x00, "\0\0");
    block(0x01, "name.txt");
    block(0x02, std::string("dir\xFF", 4));
    Le(ext, 0, 2);
    std::string h;
    Le(h, 0, 2), h += "-lh0-", Le(h, 3, 4), Le(h, 3, 4), Le(h, 1700000000, 4), h += '\x20', h += '\x02';
    Le(h, 0, 2), h += 'M';
    const std::size_t total = h.size() + ext.size();
    h[0] = char(total), h[1] = char(total >> 8);
    const std::string lzh = h + ext + "abc" + std::string(1, '\0');
    WriteText(Dir / "l2.lzh", lzh);
    TRun r = List(Dir / "l2.lzh", atLha);
    ASSERT_EQ(r.Entries.size(), 1u);
    EXPECT_EQ(r.Entries[0].Name, "dir/name.txt");
    EXPECT_EQ(r.Entries[0].Unpacked, 3);
    int y, m, d;
    win::DecodeDate(r.Entries[0].Date, y, m, d);
    EXPECT_EQ(y, 2023);  // Unix time, although the host byte says otherwise
}

TEST(PelixFixtures, ArchivesOfOtherProgramsListAsIndependentReadersSee)
{
    const fs::path root = FixtureRoot();
    TORVO_NEED_FIXTURES(fs::is_directory(root), "no fixtures folder");
    const struct {
        const char* Folder;
        TArcType Type;
        bool Lsar;
    } groups[] = {{"arc", atArc, true},
                  {"arj", atArj, false},
                  {"lha", atLha, false},
                  {"zoo", atZoo, true},
                  {"cab", atCab, false},
                  {"zip-legacy", atZip, false},
                  {"lha/lhasa-corpus/explzh_723", atLha, false}};
    int compared = 0;
    for (const auto& g : groups) {
        for (const auto& item : fs::directory_iterator(root / g.Folder)) {
            if (!item.is_regular_file())
                continue;
            const std::string name = item.path().filename().string();
            const std::string upper = [&] {
                std::string u = name;
                for (auto& ch : u)
                    ch = char(std::toupper((unsigned char)ch));
                return u;
            }();
            TArcType type = g.Type;
            if (upper.ends_with(".PAK"))
                type = atPak;
            if (!(upper.ends_with(".ARC") || upper.ends_with(".PAK") || upper.ends_with(".ARJ") ||
                  upper.ends_with(".LZH") || upper.ends_with(".ZOO") || upper.ends_with(".CAB") ||
                  upper.ends_with(".ZIP")))
                continue;
            const TRun run = List(item.path(), type);  // must end, whatever the file holds
            const TOracle oracle = g.Lsar ? Lsar(item.path()) : SevenZip(item.path());
            if (oracle.empty() || name.find("multi") != std::string::npos)
                continue;
            ExpectMatches(run, oracle, item.path().string());
            ++compared;
        }
    }
    EXPECT_GT(compared, 10);
    // No independent reader lists ACE: the stored CRCs and names are the check.
    const TRun ace = List(root / "ace" / "t.ace", atAce);
    EXPECT_TRUE(ace.Ok);
    EXPECT_FALSE(ace.Entries.empty());
}

TEST_F(PelixTest, CommandLineDriverDetectsAndListsWithTabs)
{
    const std::string tool = std::string(TORVO_BUILD_DIR) + "/tools/plxtool";
    if (!fs::exists(tool))
        GTEST_SKIP() << "plxtool not built";
    ASSERT_TRUE(Shell(In("zip -qr ../t.zip a.txt sub")));
    const std::string zip = (Dir / "t.zip").string();
    EXPECT_EQ(CaptureCommand(tool + " type '" + zip + "'"), "atZip\n");
    const std::string out = CaptureCommand(tool + " list '" + zip + "'");
    EXPECT_NE(out.find("a.txt\t14\t14\t" +
                       [] {
                           char hex[9];
                           std::snprintf(hex, sizeof hex, "%08X", unsigned(Crc32Of("hello listing\n")));
                           return std::string(hex);
                       }() +
                       "\tStored\t"),
              std::string::npos)
        << out;
    EXPECT_TRUE(out.ends_with("total 3 " + std::to_string(14 + fs::file_size(Dir / "src/sub/b.txt")) + " ") ||
                out.find("\ntotal 3 ") != std::string::npos)
        << out;
    EXPECT_NE(std::system((tool + " list >/dev/null 2>&1").c_str()), 0);
}
