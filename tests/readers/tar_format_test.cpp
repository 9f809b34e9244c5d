// TAR entries against GNU tar and bsdtar in every format they write, archives we write read back
// by both tools, and damaged archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

#include "readers/EntryNames.h"
#include "readers/TarFormat.h"
#include "support/ToolRun.h"

namespace {

using TBytes = std::vector<std::uint8_t>;

struct TListing {
    std::vector<TTarEntry> Entries;
    TTarReadStatus End = TTarReadStatus::End;
};

TListing ReadAll(const TReadAt& read, std::int64_t size)
{
    TListing listing;
    TTarReader reader(read, size);
    TTarEntry entry;
    std::int64_t last = -1;
    while ((listing.End = reader.Next(entry)) == TTarReadStatus::Entry) {
        EXPECT_GT(reader.Offset(), last);  // every step moves forward
        last = reader.Offset();
        listing.Entries.push_back(entry);
    }
    EXPECT_EQ(reader.Next(entry), listing.End);  // and stays at its end
    return listing;
}

TListing ReadAll(const TBytes& bytes)
{
    return ReadAll(MemoryReadAt(bytes), std::int64_t(bytes.size()));
}

// One line per entry in the form of "tar -tv": type letter, size, name, link target.
std::string Describe(const TTarEntry& e)
{
    char type = e.IsDirectory() ? 'd' : e.IsSymlink() ? 'l' : e.IsHardLink() ? 'h' : e.IsFile() ? '-' : '?';
    std::string name = e.Name;
    if (e.IsDirectory() && name.back() != '/')
        name += '/';
    std::string line = std::string(1, type) + " " + std::to_string(e.Size) + " " + name;
    if (e.IsSymlink())
        line += " -> " + e.LinkName;
    if (e.IsHardLink())
        line += " link to " + e.LinkName;
    return line + "\n";
}

// The same lines from GNU tar's verbose listing.
std::string ToolListing(const TScratchDir& dir, const std::string& archive)
{
    std::istringstream in(dir.Capture("tar -tv --numeric-owner -f " + archive));
    std::string out, line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string mode, owner, size, date, time;
        fields >> mode >> owner >> size >> date >> time;
        std::string name;
        std::getline(fields, name);
        out += std::string(1, mode[0]) + " " + size + " " + name.substr(1) + "\n";
    }
    return out;
}

TBytes Block(const std::string& name, char type, std::int64_t size, const char* magic = "ustar  ")
{
    TBytes h(TarBlockSize, 0);
    std::memcpy(h.data(), name.data(), std::min<std::size_t>(name.size(), 100));
    std::memcpy(h.data() + 100, "0000644", 7);
    std::snprintf(reinterpret_cast<char*>(h.data() + 124), 12, "%011llo", static_cast<unsigned long long>(size));
    h[156] = std::uint8_t(type);
    std::memcpy(h.data() + 257, magic, std::strlen(magic) + 1);
    return h;
}

void Seal(TBytes& h)
{
    std::snprintf(reinterpret_cast<char*>(h.data() + 148), 8, "%07o", TarHeaderChecksum(h.data()));
}

void Append(TBytes& archive, TBytes h, const std::string& data = {})
{
    Seal(h);
    archive.insert(archive.end(), h.begin(), h.end());
    archive.insert(archive.end(), data.begin(), data.end());
    archive.resize(archive.size() + std::size_t(TarDataPadding(std::int64_t(data.size()))), 0);
}

std::string PaxRecord(const std::string& key, const std::string& value)
{
    std::string body = " " + key + "=" + value + "\n";
    std::size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length)
        ++length;
    return std::to_string(length) + body;
}

}  // namespace

TEST(TarFormat, ListsWhatTarListsInEveryFormat)
{
    TScratchDir dir;
    // A name over 255 bytes needs folders, as no file system takes such a component.
    const std::string deep = std::string(90, 'a') + "/" + std::string(90, 'b') + "/" + std::string(120, 'c');
    const std::string mid = std::string(60, 'm') + "/" + std::string(80, 'n') + ".txt";  // 145: ustar prefix
    ASSERT_EQ(dir.Run("mkdir -p tree/" + deep.substr(0, 181) + " tree/" + mid.substr(0, 60) +
                      " tree/empty_dir && printf 'deep data' > tree/" + deep + " && printf 'middle' > tree/" + mid +
                      " && : > tree/zero && head -c 3000 /dev/urandom > tree/blob && ln -s blob tree/sym && "
                      "ln tree/blob tree/hard"),
              0);

    const std::vector<std::pair<std::string, std::string>> archivers = {
        {"gnu.tar", "tar --format=gnu -cf gnu.tar tree"},
        {"posix.tar", "tar --format=posix -cf posix.tar tree"},
        {"ustar.tar", "tar --format=ustar -cf ustar.tar --exclude=aaa* tree"},
        {"bsd.tar", "bsdtar -cf bsd.tar tree"},
        {"bsdgnu.tar", "bsdtar --format=gnutar -cf bsdgnu.tar tree"},
    };
    for (const auto& [archive, command] : archivers) {
        SCOPED_TRACE(archive);
        ASSERT_EQ(dir.Run(command), 0);
        const TBytes bytes = ReadWholeFile((dir / archive).string());
        const TListing listing = ReadAll(bytes);
        EXPECT_EQ(listing.End, TTarReadStatus::End);
        std::string ours;
        std::map<std::string, std::string> data;
        for (const auto& e : listing.Entries) {
            ours += Describe(e);
            if (e.IsFile())
                data[e.Name] = std::string(bytes.begin() + e.DataOffset, bytes.begin() + e.DataOffset + e.Size);
        }
        EXPECT_EQ(ours, ToolListing(dir, archive));
        EXPECT_EQ(listing.Entries.size(), archive == "ustar.tar" ? 8u : 11u);
        EXPECT_EQ(data["tree/" + mid], "middle");
        EXPECT_EQ(data["tree/zero"], "");
        if (archive != "ustar.tar") {
            EXPECT_EQ(data["tree/" + deep], "deep data");
        }
    }
    // A time before 1970: a negative base-256 number in GNU headers, a pax record in POSIX ones.
    ASSERT_EQ(dir.Run("printf old > old && touch -d @-315619200 old && tar --format=gnu -cf old-gnu.tar old && "
                      "tar --format=posix -cf old-posix.tar old && bsdtar --format=pax -cf old-bsd.tar old"),
              0);
    for (const char* archive : {"old-gnu.tar", "old-posix.tar", "old-bsd.tar"}) {
        SCOPED_TRACE(archive);
        const TListing listing = ReadAll(ReadWholeFile((dir / archive).string()));
        ASSERT_EQ(listing.Entries.size(), 1u);
        EXPECT_EQ(listing.Entries[0].MTime, -315619200);
    }
}

TEST(TarFormat, ArchivesWeWriteAreReadByTar)
{
    TScratchDir dir;
    const std::string name100 = std::string(96, 'x') + ".txt";
    const std::string name101 = std::string(97, 'y') + ".txt";
    const std::string deep = std::string(120, 'p') + "/" + std::string(200, 'q');
    const std::vector<std::pair<TTarWriteEntry, std::string>> entries = {
        {{"folder", true, 0, 1500000000}, ""},
        {{"folder/a.txt", false, 5, 1500000000}, "hello"},
        {{"folder/zero", false, 0, -86400}, ""},  // before 1970
        {{name100, false, 1, 0}, "1"},
        {{name101, false, 2, 0}, "22"},
        {{std::string(120, 'p'), true, 0, 0}, ""},
        {{deep, false, 3, 0}, "333"},
    };
    TBytes archive;
    for (const auto& [entry, data] : entries) {
        const TBytes headers = EncodeTarHeaders(entry);
        archive.insert(archive.end(), headers.begin(), headers.end());
        archive.insert(archive.end(), data.begin(), data.end());
        archive.resize(archive.size() + std::size_t(TarDataPadding(std::int64_t(data.size()))), 0);
    }
    archive.resize(archive.size() + std::size_t(TarEndingSize(std::int64_t(archive.size()))), 0);
    EXPECT_EQ(archive.size() % 10240, 0u);
    WriteWholeFile(dir / "ours.tar", archive);

    // Exactly 100 bytes fit the name field; 101 need an "L" record of 102 bytes (octal 146).
    const TBytes h100 = EncodeTarHeaders({name100, false, 1, 0});
    EXPECT_EQ(h100.size(), 512u);
    EXPECT_EQ(std::string(h100.begin(), h100.begin() + 100), name100);
    const TBytes h101 = EncodeTarHeaders({name101, false, 2, 0});
    EXPECT_EQ(h101.size(), 3 * 512u);
    EXPECT_EQ(h101[156], 'L');
    EXPECT_EQ(std::string(h101.begin() + 124, h101.begin() + 136), std::string("        146\0", 12));
    EXPECT_EQ(std::string(h101.begin() + 148, h101.begin() + 156).back(), '\0');
    EXPECT_TRUE(TarHeaderValid(h101.data()) && TarHeaderValid(h101.data() + 1024));

    // Both tools list it without complaint and GNU tar extracts the same bytes and times.
    EXPECT_EQ(dir.Capture("tar -tf ours.tar 2>&1"), "folder/\nfolder/a.txt\nfolder/zero\n" + name100 + "\n" + name101 +
                                                        "\n" + std::string(120, 'p') + "/\n" + deep + "\n");
    EXPECT_EQ(dir.Run("bsdtar -tf ours.tar > /dev/null 2> bsd.err && test ! -s bsd.err"), 0);
    ASSERT_EQ(dir.Run("mkdir out && tar -xf ours.tar -C out 2> x.err && test ! -s x.err"), 0);
    for (const auto& [entry, data] : entries) {
        if (!entry.Directory) {
            EXPECT_EQ(dir.Capture("cat out/" + entry.Name), data) << entry.Name;
        }
    }
    EXPECT_EQ(dir.Capture("stat -c %Y out/folder/a.txt out/folder/zero"), "1500000000\n0\n");

    // Our reader takes back what we wrote, "L" records included in each entry's extent.
    const TListing listing = ReadAll(archive);
    ASSERT_EQ(listing.Entries.size(), entries.size());
    EXPECT_EQ(listing.Entries[4].Name, name101);
    EXPECT_EQ(listing.Entries[4].DataOffset - listing.Entries[4].HeaderOffset, 3 * 512);
    EXPECT_EQ(listing.Entries[6].Name, deep);
    EXPECT_EQ(listing.Entries[2].MTime, 0);
    EXPECT_TRUE(listing.Entries[5].IsDirectory());
}

TEST(TarFormat, FolderNamesAtTheNameFieldsEdgeAndAReusedBuffer)
{
    // A folder's "/" counts: 99 bytes fit the field with it, 100 need an "L" record of 101 + 1.
    const std::string dir99(99, 'd'), dir100(100, 'e');
    TBytes headers(5000, 0xAA);  // a buffer that held more than any of these
    EncodeTarHeaders({dir99, true, 0, 0}, headers);
    ASSERT_EQ(headers.size(), 512u);
    EXPECT_EQ(std::string(headers.begin(), headers.begin() + 100), dir99 + "/");
    EXPECT_TRUE(TarHeaderValid(headers.data()));
    TBytes archive = headers;
    EncodeTarHeaders({dir100, true, 0, 0}, headers);
    ASSERT_EQ(headers.size(), 3 * 512u);
    EXPECT_EQ(std::string(headers.begin() + 124, headers.begin() + 136), std::string("        146\0", 12));
    EXPECT_EQ(std::string(headers.begin() + 512, headers.begin() + 1024), dir100 + "/" + std::string(411, '\0'));
    EXPECT_EQ(std::string(headers.begin() + 1024, headers.begin() + 1124), dir100);
    EXPECT_EQ(headers, EncodeTarHeaders({dir100 + "/", true, 0, 0}));  // a given "/" is not doubled
    archive.insert(archive.end(), headers.begin(), headers.end());
    EncodeTarHeaders({"f.txt", false, 0, 0}, headers);
    EXPECT_EQ(headers, EncodeTarHeaders({"f.txt", false, 0, 0}));
    archive.insert(archive.end(), headers.begin(), headers.end());
    archive.resize(archive.size() + std::size_t(TarEndingSize(std::int64_t(archive.size()))), 0);

    TScratchDir dir;
    WriteWholeFile(dir / "edge.tar", archive);
    EXPECT_EQ(dir.Capture("tar -tf edge.tar 2>&1"), dir99 + "/\n" + dir100 + "/\nf.txt\n");
}

TEST(TarFormat, UstarPrefixAndNameThatFillTheirFields)
{
    // GNU tar splits at the last "/" that leaves at most 155 bytes in front: here exactly 155 in
    // front and 100 behind, so neither field has room for a closing zero.
    TScratchDir dir;
    const std::string prefix = std::string(77, 'p') + "/" + std::string(77, 'q');
    const std::string name = std::string(96, 'n') + ".txt";
    ASSERT_EQ(dir.Run("mkdir -p " + prefix + " && printf edge > " + prefix + "/" + name +
                      " && tar --format=ustar -cf edge.tar " + prefix.substr(0, 77)),
              0);
    const TBytes bytes = ReadWholeFile((dir / "edge.tar").string());
    ASSERT_GE(bytes.size(), 3 * 512u);
    const auto file = bytes.begin() + 2 * 512;  // after the two folders
    ASSERT_EQ(std::string(file + 345, file + 500), prefix);
    ASSERT_EQ(std::string(file, file + 100), name);

    const TListing listing = ReadAll(bytes);
    ASSERT_EQ(listing.Entries.size(), 3u);
    std::string ours;
    for (const auto& e : listing.Entries)
        ours += Describe(e);
    EXPECT_EQ(ours, ToolListing(dir, "edge.tar"));
    const TTarEntry& e = listing.Entries[2];
    EXPECT_EQ(e.Name, prefix + "/" + name);
    EXPECT_EQ(std::string(bytes.begin() + e.DataOffset, bytes.begin() + e.DataOffset + e.Size), "edge");
}

TEST(TarFormat, NumberFieldsAreZeroPaddedOctalAtEveryDigitBoundary)
{
    // Against the C library's own octal: each place of the 7- and 11-digit fields, the last value
    // that fits and the clamped ones (owner ids beyond 7 digits, times before 1970 or too late).
    const auto octal = [](std::uint64_t value, int digits) {
        char text[32];
        std::snprintf(text, sizeof text, "%0*llo", digits, static_cast<unsigned long long>(value));
        return std::string(text) + '\0';
    };
    const auto field = [](const TBytes& h, int at, int width) {
        return std::string(h.begin() + at, h.begin() + at + width);
    };
    for (int bits = 0; bits <= 33; ++bits) {
        for (const std::uint64_t value : {(std::uint64_t(1) << bits) - 1, std::uint64_t(1) << bits}) {
            TTarWriteEntry e{"f", false, std::int64_t(value), std::int64_t(value)};
            e.Uid = std::uint32_t(std::min<std::uint64_t>(value, 0xFFFFFFFF));
            e.Gid = 0;
            e.Mode = std::uint32_t(value & 07777);
            const TBytes h = EncodeTarHeaders(e);
            ASSERT_EQ(h.size(), 512u);
            const std::uint64_t inOctal11 = std::min<std::uint64_t>(value, 077777777777);
            EXPECT_EQ(field(h, 136, 12), octal(inOctal11, 11)) << value;
            if (value <= 077777777777) {
                EXPECT_EQ(field(h, 124, 12), octal(value, 11)) << value;
            }
            EXPECT_EQ(field(h, 108, 8), octal(std::min<std::uint64_t>(e.Uid, 07777777), 7)) << value;
            EXPECT_EQ(field(h, 116, 8), octal(0, 7));
            EXPECT_EQ(field(h, 100, 8), octal(0100000 | (e.Mode ? e.Mode : 0644), 7)) << value;
            EXPECT_EQ(field(h, 148, 8), octal(TarHeaderChecksum(h.data()), 7)) << value;
        }
    }
    EXPECT_EQ(field(EncodeTarHeaders({"t", false, 0, -1}), 136, 12), octal(0, 11));
}

TEST(TarFormat, SizesFrom8GiBUp)
{
    // A header of ours for 9 GiB, then a sparse hole as data: GNU tar seeks over it.
    TScratchDir dir;
    const std::int64_t size = std::int64_t(9) << 30;
    const TBytes header = EncodeTarHeaders({"big.bin", false, size, 1500000000});
    EXPECT_EQ(header[124], 0x80);  // base-256
    const std::int64_t total = 512 + size + TarEndingSize(512 + size);
    WriteWholeFile(dir / "big.tar", header);
    ASSERT_EQ(truncate((dir / "big.tar").c_str(), total), 0);
    EXPECT_EQ(ToolListing(dir, "big.tar"), "- 9663676416 big.bin\n");

    const int fd = open((dir / "big.tar").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const TReadAt read = [fd](std::int64_t offset, void* buffer, std::int64_t count) -> std::int64_t {
        return pread(fd, buffer, std::size_t(count), offset);
    };
    const TListing listing = ReadAll(read, total);
    close(fd);
    ASSERT_EQ(listing.Entries.size(), 1u);
    EXPECT_EQ(listing.Entries[0].Size, size);
    EXPECT_EQ(listing.End, TTarReadStatus::End);

    // The same size in a pax record of a POSIX archive.
    TBytes archive;
    const std::string pax = PaxRecord("size", std::to_string(size)) + PaxRecord("mtime", "-10.5");
    Append(archive, Block("PaxHeaders/big", 'x', std::int64_t(pax.size()), "ustar\00000"), pax);
    Append(archive, Block("big", '0', 0, "ustar\00000"));
    archive.resize(archive.size() + 1024, 0);
    const std::int64_t claimed = std::int64_t(archive.size()) + size;
    const auto holes = [&](std::int64_t offset, void* buffer, std::int64_t count) -> std::int64_t {
        std::memset(buffer, 0, std::size_t(count));  // the data is a hole, the end blocks zeros
        if (offset < std::int64_t(archive.size()))
            std::memcpy(buffer, archive.data() + offset,
                        std::size_t(std::min<std::int64_t>(count, std::int64_t(archive.size()) - offset)));
        return count;
    };
    const TListing paxListing = ReadAll(holes, claimed);
    ASSERT_EQ(paxListing.Entries.size(), 1u);
    EXPECT_EQ(paxListing.Entries[0].Size, size);
    EXPECT_EQ(paxListing.Entries[0].MTime, -10);
}

TEST(TarFormat, DamagedAndUnusualHeaders)
{
    TBytes good;
    Append(good, Block("a.txt", '0', 5), "hello");
    Append(good, Block("b.txt", '0', 600), std::string(600, 'b'));
    good.resize(good.size() + 1024, 0);
    ASSERT_EQ(ReadAll(good).Entries.size(), 2u);

    TBytes badSum = good;
    badSum[10] ^= 1;
    EXPECT_EQ(ReadAll(badSum).End, TTarReadStatus::Corrupt);
    EXPECT_EQ(ReadAll(TBytes(512, 0)).End, TTarReadStatus::End);  // zero block: the end, not corruption
    for (std::size_t cut : {std::size_t(100), std::size_t(514), std::size_t(1024 + 300)}) {
        const TListing cutListing = ReadAll(TBytes(good.begin(), good.begin() + std::ptrdiff_t(cut)));
        EXPECT_EQ(cutListing.End, TTarReadStatus::Truncated) << cut;
    }

    // GNU records: the long name applies to the next entry whatever its own name field says.
    const std::string longName(700, 'L');
    TBytes gnu;
    Append(gnu, Block("././@LongLink", 'L', std::int64_t(longName.size()) + 1), longName + '\0');
    Append(gnu, Block("something else", '0', 0));
    Append(gnu, Block("././@LongLink", 'K', 300), std::string(300, 'k'));
    Append(gnu, Block("link", '2', 0));
    TListing listing = ReadAll(gnu);
    ASSERT_EQ(listing.Entries.size(), 2u);
    EXPECT_EQ(listing.Entries[0].Name, longName);
    EXPECT_EQ(listing.Entries[1].LinkName, std::string(300, 'k'));
    TBytes huge;
    Append(huge, Block("././@LongLink", 'L', TarMaxMetaSize + 1), std::string(TarMaxMetaSize + 1, 'x'));
    Append(huge, Block("x", '0', 0));
    EXPECT_EQ(ReadAll(huge).End, TTarReadStatus::Corrupt);

    // The prefix field counts only in POSIX headers; pax globals hold for every later entry.
    TBytes posix;
    TBytes withPrefix = Block("name", '0', 0, "ustar\00000");
    std::memcpy(withPrefix.data() + 345, "pre/fix", 7);
    Append(posix, withPrefix);
    TBytes gnuWithTimes = Block("plain", '0', 0);
    std::memcpy(gnuWithTimes.data() + 345, "12345670123", 11);  // GNU keeps atime here
    Append(posix, gnuWithTimes);
    const std::string global = PaxRecord("uname", "everyone");
    Append(posix, Block("g", 'g', std::int64_t(global.size()), "ustar\00000"), global);
    const std::string local = PaxRecord("path", "pax/" + std::string(300, 'z')) + PaxRecord("linkpath", "t");
    Append(posix, Block("x", 'x', std::int64_t(local.size()), "ustar\00000"), local);
    Append(posix, Block("short", '2', 0, "ustar\00000"));
    Append(posix, Block("after", '0', 0, "ustar\00000"));
    listing = ReadAll(posix);
    ASSERT_EQ(listing.Entries.size(), 4u);
    EXPECT_EQ(listing.Entries[0].Name, "pre/fix/name");
    EXPECT_EQ(listing.Entries[1].Name, "plain");
    EXPECT_EQ(listing.Entries[2].Name, "pax/" + std::string(300, 'z'));
    EXPECT_EQ(listing.Entries[2].LinkName, "t");
    EXPECT_EQ(listing.Entries[3].Name, "after");  // the "x" record was for one entry only
    EXPECT_EQ(listing.Entries[3].UName, "everyone");

    for (const std::string& bad :
         {std::string("5 a=b\n"), std::string("99 path=x\n"), std::string("x path=y\n"), PaxRecord("size", "12abc")}) {
        TBytes broken;
        Append(broken, Block("x", 'x', std::int64_t(bad.size())), bad);
        Append(broken, Block("f", '0', 0));
        EXPECT_EQ(ReadAll(broken).End, TTarReadStatus::Corrupt) << bad;
    }
}

TEST(TarFormat, NamesThatLeaveTheTarget)
{
    for (const char* name : {"../x", "a/../../x", "a\\..\\x", "/etc/passwd", "\\x", "C:", "c:\\x", "\\\\server\\share",
                             "//server/share", "a/.../b", "a/.. /b", "..", "\\\\?\\C:\\x"})
        EXPECT_TRUE(NameLeavesTarget(name)) << name;
    for (const char* name : {"a/b.txt", "a:b.txt", "C:x", "a..b/c", "..a", "a/b..", "dir/", "./a", "a/./b", ""})
        EXPECT_FALSE(NameLeavesTarget(name)) << name;
}
