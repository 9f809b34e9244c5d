#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/ArcType.h"
#include "core/PeResources.h"
#include "core/ZipCommon.h"
#include "core/plxStreams.h"
#include "support/ToolRun.h"
#include "tests/platform/win/FsTestSupport.h"

void PrintTo(TArcType t, std::ostream* os)
{
    *os << ArcTypeName(t) << " (" << int(t) << ")";
}

namespace {

namespace fs = std::filesystem;

const fs::path FixtureDir = FixtureRoot();

void Put16(std::string& b, std::size_t at, std::uint32_t v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}

void Put32(std::string& b, std::size_t at, std::uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

TArcTypeInfo DetectFile(const fs::path& p)
{
    TFileStream32 stream(p.string(), fmOpenRead | fmShareDenyNone);
    EXPECT_TRUE(stream.HandleValid()) << p;
    TArcTypeDetector detector(stream, p.string());
    detector.GetArcType();
    return detector.Info();
}

TArcTypeInfo DetectBytes(const std::string& bytes)
{
    TMemoryStream32 stream;
    if (!bytes.empty())
        stream.WriteBuffer(bytes.data(), std::int32_t(bytes.size()));
    TArcTypeDetector detector(stream, "");
    detector.GetArcType();
    return detector.Info();
}

// A DOS header whose image (pages and last-page bytes) ends at ImageEnd, padded to Length.
std::string DosStub(std::size_t Length, std::uint32_t Pages, std::uint32_t LastPage)
{
    std::string b(Length, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    Put16(b, 2, LastPage);
    Put16(b, 4, Pages);
    return b;
}

// A PE image whose string table holds Strings as ids 1, 2, ...; padded to Length. Corrupt
// damages the resource directory's entry count and offsets.
std::string PeWithStrings(const std::vector<std::string>& Strings, std::size_t Length, bool Corrupt = false)
{
    std::string b = DosStub(Length, 1, 0x80);
    Put32(b, 0x3C, 0x40);
    b.replace(0x40, 4, std::string("PE\0\0", 4));
    Put16(b, 0x44, 0x14C);
    Put16(b, 0x46, 1);    // sections
    Put16(b, 0x54, 224);  // optional header
    const std::size_t opt = 0x58;
    Put16(b, opt, 0x10B);
    Put32(b, opt + 92, 16);
    const std::uint32_t rva = 0x1000, raw = 0x200;

    std::string res(0x58, '\0');
    auto dir = [&](std::size_t at, std::uint32_t id, std::uint32_t target) {
        Put16(res, at + 14, 1);
        Put32(res, at + 16, id);
        Put32(res, at + 20, target);
    };
    dir(0x00, 6, 0x80000000u | 0x18);
    dir(0x18, 1, 0x80000000u | 0x30);
    dir(0x30, 0x409, 0x48);
    std::string block;
    for (int i = 0; i < 16; ++i) {
        const std::string s = i >= 1 && std::size_t(i) <= Strings.size() ? Strings[std::size_t(i) - 1] : "";
        block += char(s.size());
        block += '\0';
        for (char c : s)
            block += std::string{c, '\0'};
    }
    Put32(res, 0x48, rva + 0x58);
    Put32(res, 0x4C, std::uint32_t(block.size()));
    res += block;
    if (Corrupt) {
        Put16(res, 0x18 + 14, 0xFFFF);      // entries far beyond the section
        Put32(res, 0x30 + 20, 0x7FFFFFF0);  // a data entry outside the image
        Put32(res, 0x48, 0xFFFFFFF0);       // a string block at a wrapping address
    }

    Put32(b, opt + 96 + 16, rva);
    Put32(b, opt + 96 + 20, std::uint32_t(res.size()));
    const std::size_t section = opt + 224;
    b.replace(section, 5, ".rsrc");
    Put32(b, section + 8, std::uint32_t(res.size()));
    Put32(b, section + 12, rva);
    Put32(b, section + 16, std::uint32_t(res.size()));
    Put32(b, section + 20, raw);
    b.replace(raw, res.size(), res);
    return b;
}

class ArcTypeTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        work = fs::path(root) / "work";
        fs::create_directories(work);
        std::string text;
        for (int i = 0; i < 3000; ++i)
            text += "line " + std::to_string(i) + " of the sample text\n";
        WriteText(work / "a.txt", text);
        WriteText(work / "r.bin", RandomBytes(5000, 7));
    }

    // Runs a shell command in the work folder.
    void Sh(const std::string& command)
    {
        const std::string full = "cd '" + work.string() + "' && (" + command + ") >/dev/null 2>&1";
        ASSERT_EQ(std::system(full.c_str()), 0) << command;
    }

    TArcType Type(const std::string& name) { return DetectFile(work / name).ArcType; }

    fs::path work;
};

TEST_F(ArcTypeTest, ArchivesMadeByToolsAreClassified)
{
    Sh("zip -q a.zip a.txt r.bin && cp a.zip a.jar");
    const TArcTypeInfo zip = DetectFile(work / "a.zip");
    EXPECT_EQ(zip.ArcType, atZip);
    EXPECT_GT(zip.ArchiveOffset, 0);  // the first central header
    EXPECT_EQ(ReadText(work / "a.zip").substr(std::size_t(zip.ArchiveOffset), 4), "PK\x01\x02");
    const THeaderTypeState all = HeaderBit(htLocal) | HeaderBit(htCentral) | HeaderBit(htEnding);
    EXPECT_EQ(zip.HeaderTypeState & all, all);
    EXPECT_EQ(zip.StubSize, 0u);
    EXPECT_GE(zip.ArchiveDosDate, 0x00210020u);
    EXPECT_EQ(Type("a.jar"), atJar);

    Sh("7zz a -bd -tzip b.zip a.txt && 7zz a -bd c.7z a.txt");
    EXPECT_EQ(Type("b.zip"), atZip);
    EXPECT_EQ(Type("c.7z"), atNA);

    Sh("tar cf d.tar a.txt r.bin && tar -V LABEL -cf e.tar a.txt");
    EXPECT_EQ(DetectFile(work / "d.tar").ArchiveOffset, 0);
    EXPECT_EQ(Type("d.tar"), atTar);
    const TArcTypeInfo labelled = DetectFile(work / "e.tar");
    EXPECT_EQ(labelled.ArcType, atTar);
    EXPECT_EQ(labelled.ArchiveOffset, 512);

    Sh("gzip -c a.txt > f.gz && bzip2 -c a.txt > f.bz2 && compress -c a.txt > f.Z");
    EXPECT_EQ(Type("f.gz"), atGZip);
    EXPECT_EQ(Type("f.bz2"), atBz2);
    EXPECT_EQ(Type("f.Z"), atGZip);

    Sh("arj a -y g.arj a.txt && lha aq i.lzh a.txt && gcab -c j.cab a.txt");
    EXPECT_EQ(Type("g.arj"), atArj);
    EXPECT_EQ(Type("i.lzh"), atLha);
    EXPECT_EQ(Type("j.cab"), atCab);

    // The ARC tool picks the method per file: stored, squeezed, crunched all open an ARC archive.
    std::string big;
    for (int i = 0; i < 30000; ++i)
        big += std::to_string(i) + ' ';
    WriteText(work / "big.txt", big);
    Sh("arc a h1.arc r.bin && arc a h2.arc a.txt && arc a h3.arc big.txt");
    for (const char* name : {"h1.arc", "h2.arc", "h3.arc"})
        EXPECT_EQ(Type(name), atArc) << name;
}

TEST_F(ArcTypeTest, SplitSetIsSplitOnAFixedDiskAndSpannedOnALabelledFloppy)
{
    WriteText(work / "big.bin", RandomBytes(200000, 11));
    Sh("zip -q -s 64k set.zip big.bin");
    ASSERT_TRUE(fs::exists(work / "set.z01"));
    EXPECT_EQ(Type("set.zip"), atZipMV);
    EXPECT_EQ(Type("set.z01"), atUnsupported);  // a first volume holds no end record

    const fs::path floppy = AddRemovableDrive('A', "floppy", 1457664, "PKBACK# 001");
    fs::copy_file(work / "set.zip", floppy / "set.zip");
    TFileStream32 stream("A:\\set.zip", fmOpenRead | fmShareDenyNone);
    ASSERT_TRUE(stream.HandleValid());
    TArcTypeDetector detector(stream, "A:\\set.zip");
    EXPECT_EQ(detector.GetArcType(), atZipDS);

    // The same archive without a set is plain.
    Sh("zip -q one.zip big.bin");
    EXPECT_EQ(Type("one.zip"), atZip);
}

TEST_F(ArcTypeTest, SelfExtractingZipIsFoundBehindItsStub)
{
    Sh("zip -q plain.zip a.txt r.bin");
    const std::string zip = ReadText(work / "plain.zip");

    // Offsets adjusted to the stub (zip -A): found by the end-record search.
    WriteText(work / "adjusted.exe", DosStub(3000, 1, 0x40) + zip);
    Sh("zip -q -A adjusted.exe");
    const TArcTypeInfo adjusted = DetectFile(work / "adjusted.exe");
    EXPECT_EQ(adjusted.ArcType, atZipExe);
    EXPECT_GT(adjusted.ArchiveOffset, 3000);
    EXPECT_EQ(adjusted.StubSize, 0u);
    EXPECT_TRUE(adjusted.HeaderTypeState & HeaderBit(htSfx));
    EXPECT_TRUE(adjusted.HeaderTypeState & HeaderBit(htCentral));

    // Offsets left as they were: the stub is what they do not count.
    WriteText(work / "raw.exe", DosStub(3000, 1, 0x40) + zip);
    const TArcTypeInfo raw = DetectFile(work / "raw.exe");
    EXPECT_EQ(raw.ArcType, atZipExe);
    EXPECT_EQ(raw.StubSize, 3000u);

    // A stub of a known length is probed before anything else.
    WriteText(work / "known.exe", DosStub(7612, 1, 0x40) + zip);
    const TArcTypeInfo known = DetectFile(work / "known.exe");
    EXPECT_EQ(known.ArcType, atZipExe);
    EXPECT_EQ(known.ArchiveOffset, 7612);

    // An executable without an archive is no archive, nor is a stub with a bare local header.
    WriteText(work / "empty.exe", DosStub(40000, 1, 0x40));
    EXPECT_FALSE(IsRealArcType(Type("empty.exe")));
    WriteText(work / "fake.exe", DosStub(3000, 1, 0x40) + "PK\x03\x04" + std::string(100, 'x'));
    EXPECT_FALSE(IsRealArcType(Type("fake.exe")));
}

TEST_F(ArcTypeTest, ArchiveAtTheEndOfTheDosImage)
{
    Sh("arj a -y s.arj a.txt");
    const std::string arj = ReadText(work / "s.arj");

    WriteText(work / "x1.exe", DosStub(512, 1, 0) + arj);  // a last page of 0 bytes is a full page
    TArcTypeInfo info = DetectFile(work / "x1.exe");
    EXPECT_EQ(info.ArcType, atArjExe);
    EXPECT_EQ(info.ArchiveOffset, 512);

    WriteText(work / "x2.exe", DosStub(512, 1, 510) + arj);  // two bytes before the ARJ header
    info = DetectFile(work / "x2.exe");
    EXPECT_EQ(info.ArcType, atArjExe);
    EXPECT_EQ(info.ArchiveOffset, 512);

    // No pages, or a last page past 512 bytes: no image to go by, and the scan starts behind it.
    WriteText(work / "x3.exe", DosStub(512, 0, 0) + arj);
    EXPECT_EQ(Type("x3.exe"), atNA);
    WriteText(work / "x4.exe", DosStub(512, 0xFFFF, 0xFFFF) + arj);
    EXPECT_EQ(Type("x4.exe"), atNA);

    // Far enough in, the signature scan finds it.
    WriteText(work / "x5.exe", DosStub(2000, 0, 0) + arj);
    info = DetectFile(work / "x5.exe");
    EXPECT_EQ(info.ArcType, atArjExe);
    EXPECT_EQ(info.ArchiveOffset, 2000);
}

TEST_F(ArcTypeTest, StringResourcesPointAtTheArchive)
{
    Sh("arj a -y s.arj a.txt");
    const std::string arj = ReadText(work / "s.arj");

    WriteText(work / "res.exe", PeWithStrings({"1024"}, 1024) + arj);
    TArcTypeInfo info = DetectFile(work / "res.exe");
    EXPECT_EQ(info.ArcType, atArjExe);
    EXPECT_EQ(info.ArchiveOffset, 1024);

    // A candidate that holds nothing goes on to the next string; a blank-led number counts.
    WriteText(work / "res2.exe", PeWithStrings({"600", " 1024"}, 1024) + arj);
    info = DetectFile(work / "res2.exe");
    EXPECT_EQ(info.ArcType, atArjExe);
    EXPECT_EQ(info.ArchiveOffset, 1024);

    // Non-numeric, out of the file, or cut to five characters: nothing found here.
    for (const std::string& s : {std::string("x1024"), std::string("99999"), std::string("001024")}) {
        WriteText(work / "res3.exe", PeWithStrings({s}, 1024) + arj);
        EXPECT_EQ(Type("res3.exe"), atNA) << s;
    }

    // Damaged resource tables are read within the file and give nothing.
    WriteText(work / "bad.exe", PeWithStrings({"1024"}, 1024, true) + arj);
    EXPECT_EQ(Type("bad.exe"), atNA);
    std::string cut = PeWithStrings({"1024"}, 1024);
    Put32(cut, 0x3C, 0xFFFFFFF0);  // the PE header beyond the file
    WriteText(work / "cut.exe", cut + arj);
    EXPECT_EQ(Type("cut.exe"), atNA);
}

TEST(PeStringResources, ReadsStringsAndRefusesWhatTheFileDoesNotHold)
{
    const std::string image = PeWithStrings({"12", "", "ab\xE9"}, 1024);
    const TReadAt read = MemoryReadAt(image);
    TPeStringResources res;
    ASSERT_TRUE(res.Load(read, std::int64_t(image.size())));
    EXPECT_EQ(res.LoadString(1, 6), "12");
    EXPECT_EQ(res.LoadString(2, 6), "");
    EXPECT_EQ(res.LoadString(3, 6), "ab?");
    EXPECT_EQ(res.LoadString(3, 3), "ab");
    EXPECT_EQ(res.LoadString(17, 6), "");  // another block, absent

    // Every prefix of the image: no read outside it.
    for (std::size_t n = 0; n < image.size(); n += 7) {
        TPeStringResources part;
        if (part.Load(read, std::int64_t(n)))
            part.LoadString(1, 6);
    }
}

TEST(ArcTypeBytes, ShortRandomAndCutInputsAreNoArchive)
{
    EXPECT_EQ(DetectBytes("").ArcType, atNA);
    EXPECT_EQ(DetectBytes(std::string(20, '\0')).ArcType, atNA);
    EXPECT_EQ(DetectBytes(std::string("PK\x03\x04", 4) + std::string(15, 'a')).ArcType, atNA);  // 19 bytes
    EXPECT_EQ(DetectBytes("Rar!" + std::string(15, '\0')).ArcType, atNA);
    EXPECT_EQ(DetectBytes("Rar!" + std::string(16, '\0')).ArcType, atRar);
    EXPECT_EQ(DetectBytes(std::string("PK\x03\x04", 4) + std::string(40, 'a')).ArcType, atUnsupported);
    EXPECT_EQ(DetectBytes(std::string(1000, '\0')).ArcType, atNA);

    for (unsigned seed = 1; seed <= 20; ++seed) {
        const std::string junk = RandomBytes(seed * 997, seed);
        EXPECT_FALSE(IsRealArcType(DetectBytes(junk).ArcType)) << seed;
        EXPECT_FALSE(IsRealArcType(DetectBytes("MZ" + junk).ArcType)) << seed;
    }
}

TEST(ArcTypeBytes, ShortCompressedAndEncodedFilesAreFound)
{
    // compress writes 14 bytes for a 9-byte file, as long as bzip2's empty stream.
    for (std::size_t n = 3; n <= 19; ++n)
        EXPECT_EQ(DetectBytes(std::string("\x1F\x9D\x90", 3) + std::string(n - 3, 'a')).ArcType, atGZip) << n;
    const std::string emptyBzip2("BZh9\x17\x72\x45\x38\x50\x90\0\0\0\0", 14);
    EXPECT_EQ(DetectBytes(emptyBzip2).ArcType, atBz2);
    EXPECT_EQ(DetectBytes(emptyBzip2.substr(0, 13)).ArcType, atNA);
    EXPECT_EQ(DetectBytes(emptyBzip2 + emptyBzip2).ArcType, atBz2);  // longer, but still no block
    // An empty file encoded under a one-letter name.
    EXPECT_EQ(DetectBytes("begin 644 a\n`\nend\n").ArcType, atUUE);
    EXPECT_EQ(DetectBytes("begin 644 a\n").ArcType, atUUE);
    EXPECT_EQ(DetectBytes("begin a\n`\nend\n").ArcType, atNA);
}

TEST(ArcTypeBytes, HeaderProbesAndSignatureScan)
{
    // ACE marks its header at byte 7; LHA may sit behind a 128-byte prefix.
    std::string ace = std::string(7, '\x01') + "**ACE**" + std::string(20, '\0');
    EXPECT_EQ(DetectBytes(ace).ArcType, atAce);
    std::string lha(300, '\0');
    lha.replace(130, 5, "-lh5-");
    TArcTypeInfo info = DetectBytes(lha);
    EXPECT_EQ(info.ArcType, atLha);
    EXPECT_EQ(info.ArchiveOffset, 128);

    // Rows are tried in order: "ZO" then "-l" is LHA; only "PKG5" is a known unknown.
    EXPECT_EQ(DetectBytes("ZO-lh5-" + std::string(40, '\0')).ArcType, atLha);
    EXPECT_EQ(ClassifyFirstDword(TDetectContext::PlainFile, 0x35474B50), atUnknown);
    EXPECT_EQ(ClassifyFirstDword(TDetectContext::Executable, 0x00088B1F), atUnsupported);  // gzip

    // Found by the scan behind leading junk, with the archive where its header starts.
    const std::string junk(5000, 'j');
    info = DetectBytes(junk + "Rar!\x1A\x07" + std::string(50, '\0'));
    EXPECT_EQ(info.ArcType, atRarExe);
    EXPECT_EQ(info.ArchiveOffset, 5000);
    info = DetectBytes(junk + "\x01\x02\x03\x04\x05\x06\x07**ACE**" + std::string(50, '\0'));
    EXPECT_EQ(info.ArcType, atAce);
    EXPECT_EQ(info.ArchiveOffset, 5000);
    info = DetectBytes(junk + std::string("\x22\x00-lh5-", 7) + std::string(50, '\0'));
    EXPECT_EQ(info.ArcType, atLha);
    EXPECT_EQ(info.ArchiveOffset, 5000);

    // An ARJ header is believed only when the next header stands where its length says, and a
    // length beyond any ARJ header is not followed.
    std::string arj =
        junk + std::string("\x60\xEA\x04\x00", 4) + std::string(10, '\0') + "\x60\xEA" + std::string(30, '\0');
    EXPECT_EQ(DetectBytes(arj).ArcType, atArj);
    arj = junk + "\x60\xEA\xFF\xFF" + std::string(70000, '\0');
    arj.replace(5000 + 0xFFFF + 10, 2, "\x60\xEA");
    EXPECT_EQ(DetectBytes(arj).ArcType, atNA);

    // The signatures as a self-extractor's own code holds them are passed over.
    EXPECT_EQ(DetectBytes(junk + "BH\x05\x07\x0F\x94\xC3\x84" + std::string(50, '\0')).ArcType, atNA);
    EXPECT_EQ(DetectBytes(junk + "BH\x05\x07" + std::string(50, '\0')).ArcType, atBh);

    // The 11 blocks of the scan end it.
    EXPECT_EQ(DetectBytes(std::string(11 * 32768, 'j') + "Rar!" + std::string(50, '\0')).ArcType, atNA);
    EXPECT_EQ(DetectBytes(std::string(11 * 32768 - 2, 'j') + "Rar!" + std::string(50, '\0')).ArcType, atRarExe);
}

TEST(ArcTypeComponent, DetectionFillsTheComponent)
{
    const fs::path dir = fs::temp_directory_path() / ("arctype-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "x.lzh";
    std::string lha(300, '\0');
    lha.replace(130, 5, "-lh5-");
    WriteText(file, lha);
    TZipCommon component;
    component.ArchiveOffset = 99;
    component.HeaderTypeState = 0xFF;
    TFileStream32 stream(file.string(), fmOpenRead | fmShareDenyNone);
    bool progressed = false;
    stream.OnReadProgress = [&](TObject*, std::int64_t, std::int64_t) { progressed = true; };
    EXPECT_EQ(DetectArcType(component, stream), atLha);
    EXPECT_EQ(component.ArchiveOffset, 128);
    EXPECT_EQ(component.ArchiveSize, 300);
    EXPECT_EQ(component.HeaderTypeState, 0);
    EXPECT_FALSE(progressed);
    EXPECT_TRUE(stream.OnReadProgress);  // given back
    fs::remove_all(dir);
}

// Fixture archives made by other programs, by folder and the type each must get.
TEST(ArcTypeFixtures, ArchivesOfOtherProgramsAreClassified)
{
    TORVO_NEED_FIXTURES(fs::is_directory(FixtureDir), "no fixtures at " << FixtureDir);
    const std::vector<std::pair<std::string, TArcType>> expected = {
        {"arc/ARC601.ARC", atArc},
        {"arc/p.arc", atArc},
        {"arc/t.arc", atArc},
        {"arc/PAK100.PAK", atPak},
        {"arj/ARJ020B.ARJ", atArj},
        {"arj/t.arj", atArj},
        {"ace/t.ace", atAce},
        {"zoo/t.zoo", atZoo},
        {"cab/GCAB16.CAB", atCab},
        {"cab/t.cab", atCab},
        {"rar/RAR250.RAR", atRar},
        {"rar/p.rar", atRar},
        {"rar/t.rar", atRar},
        {"lha/LH0.LZH", atLha},
        {"lha/LH113.LZH", atLha},
        {"lha/LH5.LZH", atLha},
        {"zip/libarchive/test_read_format_zip_jar.jar", atJar},
        {"zip/libarchive/test_read_format_zip_sfx", atZip},
        {"zip/libarchive/test_read_format_zip_zip64a.zip", atZip},
    };
    for (const auto& [name, type] : expected) {
        if (fs::exists(FixtureDir / name)) {
            EXPECT_EQ(DetectFile(FixtureDir / name).ArcType, type) << name;
        }
    }
    for (const char* name :
         {"rar/libarchive/test_read_format_rar_sfx.exe", "rar/libarchive/test_read_format_rar5_sfx.exe"}) {
        if (!fs::exists(FixtureDir / name))
            continue;
        const TArcTypeInfo info = DetectFile(FixtureDir / name);
        EXPECT_EQ(info.ArcType, atRarExe) << name;
        EXPECT_EQ(ReadText(FixtureDir / name).substr(std::size_t(std::max<std::int64_t>(info.ArchiveOffset, 0)), 6),
                  "Rar!\x1A\x07")
            << name;
    }
    for (const auto& entry : fs::directory_iterator(FixtureDir / "zip-legacy"))
        if (entry.path().extension() == ".ZIP" || entry.path().extension() == ".zip") {
            EXPECT_EQ(DetectFile(entry.path()).ArcType, atZip) << entry.path();
        }
}

TEST(ArcTypeFixtures, LhaCorpusIsLhaAndItsSelfExtractorsAreFound)
{
    const fs::path corpus = FixtureDir / "lha" / "lhasa-corpus";
    TORVO_NEED_FIXTURES(fs::is_directory(corpus), "no fixtures at " << corpus);
    int archives = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file())
            continue;
        const std::string ext = entry.path().extension().string();
        const TArcTypeInfo info = DetectFile(entry.path());  // every file, archive or not: no crash
        if (ext == ".lzh" || ext == ".lzs") {
            ++archives;
            EXPECT_TRUE(info.ArcType == atLha || info.ArcType == atLhaExe) << entry.path();
        } else if (ext == ".exe") {
            EXPECT_EQ(info.ArcType, atLhaExe) << entry.path();
            const std::string bytes = ReadText(entry.path());
            ASSERT_GE(info.ArchiveOffset, 0);
            EXPECT_EQ(bytes.substr(std::size_t(info.ArchiveOffset) + 2, 3), "-lh") << entry.path();
        }
    }
    EXPECT_GT(archives, 100);
}

}  // namespace
