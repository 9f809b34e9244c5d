// BH archives: our writer and extractor against each other, and their member streams against the
// real tools (no tool reads BH itself): fused data as an LHA -lh6- member, deflate data as gzip,
// bzip2 data as .bz2, enciphered data inside a ZIP; and members that those tools coded, read back.
#include "core/Crc.h"
#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxCrypt.h"
#include "readers/BhFormat.h"
#include "readers/LhaFormat.h"
#include "readers/plxUnBh.h"
#include "readers/plxUnZIP.h"
#include "support/HostTree.h"
#include "support/Reports.h"
#include "support/ToolRun.h"
#include "support/ZipWalk.h"
#include "tests/platform/win/FsTestSupport.h"
#include "writers/BlakHole.h"
#include "writers/Lha.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string kCzechName = "\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88.txt";

std::string AsString(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

bool Shell(const std::string& command)
{
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

std::string Le32(std::uint32_t value)
{
    std::string out(4, '\0');
    PutLE32(reinterpret_cast<std::uint8_t*>(out.data()), value);
    return out;
}

struct TRawMember {
    TBhHeader Header;
    std::string Data;  // the packed bytes, encryption header included
};

// The members in order, and where the walk ended.
std::vector<TRawMember> Members(const std::string& bytes, std::int64_t& endAt)
{
    std::vector<TRawMember> out;
    TBhHeader h;
    std::int64_t pos = 0;
    while (ReadBhHeader(MemoryReadAt(bytes), pos, h) == THeaderStatus::Header) {
        out.push_back({h, bytes.substr(std::size_t(h.DataOffset()), h.PackedSize)});
        pos = h.NextOffset();
    }
    endAt = pos;
    return out;
}

// A member made by hand: Header's fields, with the lengths of Name and Data.
std::string MakeMember(TBhHeader h, const std::string& name, const std::string& data)
{
    h.NameLength = std::uint16_t(name.size());
    h.HeaderLength = std::uint16_t(kBhHeaderSize + name.size());
    h.PackedSize = std::uint32_t(data.size());
    std::uint8_t fixed[kBhHeaderSize];
    EncodeBhHeader(h, fixed);
    return std::string(reinterpret_cast<const char*>(fixed), kBhHeaderSize) + name + data;
}

TBhHeader PlainHeader(std::uint8_t method, const std::string& plain)
{
    TBhHeader h;
    h.Version = kBhCurrentVersion;
    h.Method = method;
    h.DosDateTime = 0x5A210000;
    h.Attributes = 0x20;
    h.UnpackedSize = std::uint32_t(plain.size());
    h.Crc = plain.empty() ? 0 : Crc32Of(plain);
    return h;
}

struct TRun {
    int Passed = 0;
    int Failed = 0;
    std::vector<int> Errors;
    bool Has(int code) const { return std::find(Errors.begin(), Errors.end(), code) != Errors.end(); }
};

class BhTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        src = home + "/src";
        fs::create_directories(src);
        fs::create_directories(home + "/out");
        fs::create_directories(home + "/tmp");
    }
    void Put(const std::string& rel, const std::string& data) { WriteText(src + "/" + rel, data); }
    void Watch(TBlakHole& bh)
    {
        bh.OnError = CollectCodes(errors);
        bh.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                              std::int64_t, int, int, bool& replace) { replace = true; };
    }
    // Writes Files (masks below C:\src) into home/out/Name; answers the entries written.
    int Pack(const std::string& name, TCompressMethod method, const std::string& password,
             const std::vector<std::string>& files = {"*.*"})
    {
        TBlakHole bh;
        Watch(bh);
        bh.CompressMethod = method;
        bh.StoreEmptySubDirs = true;
        bh.SetPassword(password);
        bh.SetArchiveFile("C:\\out\\" + name);
        std::vector<std::string> specs;
        for (const std::string& f : files)
            specs.push_back("C:\\src\\" + f);
        bh.SetFileSpec(specs);
        return bh.Compress();
    }
    // The first member of a one-file archive of File.
    TRawMember PackOne(const std::string& file, TCompressMethod method, const std::string& password)
    {
        fs::remove(home + "/out/one.bh");
        EXPECT_EQ(Pack("one.bh", method, password, {file}), 1);
        std::int64_t endAt = 0;
        const auto members = Members(ReadText(home + "/out/one.bh"), endAt);
        EXPECT_EQ(members.size(), 1u);
        return members.empty() ? TRawMember{} : members[0];
    }
    // Extracts (OutDir below C:\) or, with no OutDir, tests the archive at home/Rel.
    TRun RunBh(const std::string& rel, const std::string& password, const std::string& outDir = "")
    {
        TRun run;
        TUnBh un;
        un.OnError = CollectCodes(run.Errors);
        un.OnEnd = [&run](TObject*, const std::string&, bool pass) { ++(pass ? run.Passed : run.Failed); };
        un.OnGetPassword = [](TObject*, const std::string&, std::string&, TSeedKeyRecord&, TSeedKeyRecord&,
                              bool& tryAgain) { tryAgain = false; };
        un.SetFileSpec({"*.*"});
        un.CreateStoredDirs = true;
        un.SetTempDir("C:\\tmp");
        un.SetPassword(password);
        un.SetArchiveFile("C:\\" + rel);
        if (outDir.empty()) {
            un.TestArchive();
        } else {
            fs::create_directories(home + "/" + outDir);
            un.SetExtractDir("C:\\" + outDir);
            un.Extract();
        }
        return run;
    }

    std::string src;
    std::vector<int> errors;
};

TEST_F(BhTest, EveryMethodWithAndWithoutPasswordExtractsToTheSource)
{
    Put("a.txt", "alpha\n");
    Put("empty.dat", "");
    Put(kCzechName, "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88\n");
    Put("sub/deeper/random.bin", RandomBytes(70000, 3));
    Put("sub/mixed.txt", AsString(MixedBytes(400000, 8)));
    fs::create_directories(src + "/hollow");
    const auto expected = HostTree(src);

    int round = 0;
    for (const TCompressMethod method : {cmStore, cmFuse, cmDeflate, cmBz2}) {
        for (const std::string password : {"", "tajn\xC3\xA9 heslo"}) {
            const std::string name = "r" + std::to_string(++round) + ".bh";
            SCOPED_TRACE(name);
            errors.clear();
            ASSERT_EQ(Pack(name, method, password), 6);
            EXPECT_TRUE(errors.empty());

            const std::string bytes = ReadText(home + "/out/" + name);
            std::int64_t endAt = 0;
            const auto members = Members(bytes, endAt);
            ASSERT_EQ(members.size(), 6u);
            EXPECT_EQ(endAt, std::int64_t(bytes.size()));  // nothing follows the last member
            for (const TRawMember& m : members) {
                const TBhHeader& h = m.Header;
                SCOPED_TRACE(h.Name);
                EXPECT_GE(h.Version, kBhCurrentVersion);
                const bool empty = h.Name == "hollow/" || h.Name == "empty.dat";
                // Nothing to encipher in an empty member: no encryption header either.
                EXPECT_EQ(h.Encrypted(), !password.empty() && !empty);
                if (empty) {
                    EXPECT_TRUE(h.Method == 0 && h.PackedSize == 0 && h.UnpackedSize == 0 && h.Crc == 0);
                }
                if (h.Name == "sub/deeper/random.bin" && method == cmFuse) {
                    EXPECT_EQ(h.Method, 0);  // fusing does not pay
                }
                if (h.Name == "sub/mixed.txt") {
                    EXPECT_EQ(h.Method, method == cmStore ? 0 : method == cmFuse ? 3 : method == cmDeflate ? 8 : 12);
                }
                if (h.Method == 0 && !empty) {
                    EXPECT_EQ(h.PackedSize, h.UnpackedSize + (h.Encrypted() ? 12 : 0));
                }
            }

            const std::string out = "x" + std::to_string(round);
            const TRun extracted = RunBh("out\\" + name, password, out);
            EXPECT_TRUE(extracted.Errors.empty());
            EXPECT_EQ(HostTree(home + "/" + out), expected);
            const TRun tested = RunBh("out\\" + name, password);
            EXPECT_EQ(tested.Passed, 6);
            EXPECT_EQ(tested.Failed, 0);
            if (!password.empty()) {
                // The wrong password opens only what is not enciphered: the empty file and folder.
                const TRun wrong = RunBh("out\\" + name, "wrong");
                EXPECT_EQ(wrong.Passed, 2);
                EXPECT_FALSE(wrong.Errors.empty());
            }
        }
    }
}

TEST_F(BhTest, RawMemberStreamsPassTheRealTools)
{
    for (const char* tool : {"lhasa", "gzip", "bzip2", "unzip"})
        if (!HaveTool(tool))
            GTEST_SKIP() << tool << " missing";
    const std::string plain = AsString(MixedBytes(300000, 11));
    const std::string noise = RandomBytes(5000, 2);
    Put("m.txt", plain);
    Put("r.bin", noise);
    const fs::path work = fs::path(root) / "w";
    fs::create_directories(work);

    // Fused data are an LHA -lh6- stream.
    const TRawMember fused = PackOne("m.txt", cmFuse, "");
    ASSERT_EQ(fused.Header.Method, 3);
    std::uint32_t crc16 = 0;
    UpdateCrc16(plain.data(), std::int64_t(plain.size()), crc16);
    WriteText(work / "fused.lzh", TLha::EntryHeader('6', fused.Header.PackedSize, fused.Header.UnpackedSize,
                                                    fused.Header.DosDateTime, 0x20, "m.txt", std::uint16_t(crc16)) +
                                      fused.Data + std::string(1, '\0'));
    EXPECT_TRUE(Shell("lhasa t " + ShellQuote((work / "fused.lzh").string())));
    ASSERT_TRUE(Shell("cd " + ShellQuote(work.string()) + " && lhasa xq fused.lzh"));
    EXPECT_EQ(ReadText(work / "m.txt"), plain);

    // Deflate data are the body of a gzip member.
    const TRawMember deflated = PackOne("m.txt", cmDeflate, "");
    ASSERT_EQ(deflated.Header.Method, 8);
    WriteText(work / "d.gz", std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10) + deflated.Data +
                                 Le32(deflated.Header.Crc) + Le32(deflated.Header.UnpackedSize));
    EXPECT_TRUE(Shell("gzip -t " + ShellQuote((work / "d.gz").string())));
    ASSERT_TRUE(Shell("gzip -dc " + ShellQuote((work / "d.gz").string()) + " > " + ShellQuote((work / "d").string())));
    EXPECT_EQ(ReadText(work / "d"), plain);

    // bzip2 data are a .bz2 file.
    const TRawMember bz = PackOne("m.txt", cmBz2, "");
    ASSERT_EQ(bz.Header.Method, 12);
    WriteText(work / "b.bz2", bz.Data);
    EXPECT_TRUE(Shell("bzip2 -t " + ShellQuote((work / "b.bz2").string())));
    ASSERT_TRUE(
        Shell("bzip2 -dc " + ShellQuote((work / "b.bz2").string()) + " > " + ShellQuote((work / "b").string())));
    EXPECT_EQ(ReadText(work / "b"), plain);

    // The cipher is the traditional ZIP cipher: enciphered members in a ZIP open with the password,
    // in unzip and in our ZIP reader.
    for (const auto& [file, method] :
         {std::pair<std::string, TCompressMethod>{"m.txt", cmDeflate}, {"r.bin", cmStore}}) {
        SCOPED_TRACE(file + " " + std::to_string(int(method)));
        const TRawMember enc = PackOne(file, method, "heslo");
        ASSERT_TRUE(enc.Header.Encrypted());
        const std::string expected = file == "m.txt" ? plain : noise;
        TZipWalkEntry e;
        e.Name = file;
        e.Flags = std::uint16_t(1 | (enc.Header.Flags & 6));
        e.Method = enc.Header.Method;
        e.Crc = enc.Header.Crc;
        e.UncompressedSize = enc.Header.UnpackedSize;
        e.Data.assign(enc.Data.begin(), enc.Data.end());
        WriteWholeFile(work / "c.zip", OneEntryZip(e));
        EXPECT_TRUE(Shell("unzip -P heslo -t " + ShellQuote((work / "c.zip").string())));
        ASSERT_TRUE(Shell("unzip -P heslo -p " + ShellQuote((work / "c.zip").string()) + " > " +
                          ShellQuote((work / "u").string())));
        EXPECT_EQ(ReadText(work / "u"), expected);

        fs::copy_file(work / "c.zip", home + "/c.zip", fs::copy_options::overwrite_existing);
        fs::remove_all(home + "/z");
        fs::create_directories(home + "/z");
        TUnZip zip;
        zip.SetFileSpec({"*.*"});
        zip.SetPassword("heslo");
        zip.SetArchiveFile("C:\\c.zip");
        zip.SetExtractDir("C:\\z");
        EXPECT_EQ(zip.Extract(), 1);
        EXPECT_EQ(ReadText(home + "/z/" + file), expected);
    }

    // An enciphered fused member: the same cipher over the same -lh6- stream, behind a header
    // whose check byte comes from the member's CRC.
    const TRawMember encFused = PackOne("m.txt", cmFuse, "heslo");
    ASSERT_EQ(encFused.Header.Method, 3);
    ASSERT_EQ(encFused.Header.PackedSize, fused.Header.PackedSize + 12);
    std::string stream = encFused.Data;
    TZipCipher cipher;
    std::uint8_t header[24] = {};
    std::memcpy(header + 12, stream.data(), 12);
    ASSERT_TRUE(cipher.CheckCryptHeader(header, 0, encFused.Header.Crc, "heslo", 0));
    cipher.DecryptBuffer(stream.data() + 12, stream.size() - 12);
    EXPECT_EQ(stream.substr(12), fused.Data);
}

TEST_F(BhTest, MembersCodedByTheRealToolsDecode)
{
    for (const char* tool : {"lha", "gzip", "bzip2", "zip"})
        if (!HaveTool(tool))
            GTEST_SKIP() << tool << " missing";
    // Matches 25000 bytes back need the whole 32 KiB window of method 3.
    const std::string far = RandomBytes(20000, 7);
    const std::string plain = far + RandomBytes(5000, 8) + far + AsString(MixedBytes(200000, 21));
    Put("p.bin", plain);
    const auto tool = [&](const std::string& command, const std::string& output) {
        EXPECT_TRUE(Shell("cd " + ShellQuote(src) + " && " + command));
        return ReadText(src + "/" + output);
    };
    const auto lzhData = [&](const std::string& method) {
        const std::string archive = tool("lha aqo" + method + " l" + method + ".lzh p.bin", "l" + method + ".lzh");
        TLhaHeader h;
        EXPECT_EQ(ReadLhaHeader(MemoryReadAt(archive), 0, std::int64_t(archive.size()), h), THeaderStatus::Header);
        EXPECT_EQ(h.MethodChar(), method[0]);
        return archive.substr(std::size_t(h.DataOffset), std::size_t(h.PackedSize));
    };
    const std::string gz = tool("gzip -nc < p.bin > p.gz", "p.gz");
    const std::string deflate = gz.substr(10, gz.size() - 18);
    const std::string bz2 = tool("bzip2 -c p.bin > p.bz2", "p.bz2");
    const auto zipData = [&](const std::string& level) {
        fs::remove(src + "/z.zip");
        const std::string archive = tool("zip -q -P heslo -" + level + " z.zip p.bin", "z.zip");
        const auto entries = WalkZip(std::vector<std::uint8_t>(archive.begin(), archive.end()));
        EXPECT_EQ(entries.size(), 1u);
        return entries.empty() ? TZipWalkEntry{} : entries[0];
    };
    const TZipWalkEntry zipDeflated = zipData("9");
    const TZipWalkEntry zipStored = zipData("0");
    ASSERT_EQ(zipDeflated.Method, 8);
    ASSERT_EQ(zipStored.Method, 0);

    std::string archive;
    archive += MakeMember(PlainHeader(1, plain), "lh5.bin", lzhData("5"));
    archive += MakeMember(PlainHeader(3, plain), "lh6.bin", lzhData("6"));
    archive += MakeMember(PlainHeader(8, plain), "deflate8.bin", deflate);
    archive += MakeMember(PlainHeader(2, plain), "deflate2.bin", deflate);
    archive += MakeMember(PlainHeader(12, plain), "bzip2.bin", bz2);
    for (const TZipWalkEntry* z : {&zipDeflated, &zipStored}) {
        TBhHeader h = PlainHeader(std::uint8_t(z->Method), plain);
        // Info-ZIP streams: flag bit 3, so the check byte comes from the time.
        h.Flags = std::uint8_t(1 | (z->Flags & 0x0E));
        h.DosDateTime = std::uint32_t(z->DosDate) << 16 | z->DosTime;
        archive += MakeMember(h, "zip" + std::to_string(z->Method) + ".bin", AsString(z->Data));
    }
    // Older writers: the data keys start afresh after the encryption header, and stored data stay
    // plain.
    TZipCipher cipher;
    TBhHeader old = PlainHeader(0, plain);
    old.Version = 2;
    old.Flags = 1;
    archive += MakeMember(old, "old0.bin", cipher.MakeCryptHeader("heslo", old.Crc) + plain);
    old.Method = 8;
    std::string enciphered = deflate;
    const std::string header = cipher.MakeCryptHeader("heslo", old.Crc);
    cipher.InitDataKeys("heslo");
    cipher.EncryptBuffer(enciphered.data(), enciphered.size());
    archive += MakeMember(old, "old8.bin", header + enciphered);
    archive += MakeMember(PlainHeader(0, ""), "empty.bin", "");
    archive += MakeMember(PlainHeader(0, ""), "dir/", "");
    WriteText(home + "/tools.bh", archive);

    const TRun run = RunBh("tools.bh", "heslo", "t");
    EXPECT_TRUE(run.Errors.empty()) << ::testing::PrintToString(run.Errors);
    EXPECT_EQ(run.Failed, 0);
    for (const char* name : {"lh5.bin", "lh6.bin", "deflate8.bin", "deflate2.bin", "bzip2.bin", "zip8.bin", "zip0.bin",
                             "old0.bin", "old8.bin"})
        EXPECT_TRUE(ReadText(home + "/t/" + name) == plain) << name;
    EXPECT_TRUE(fs::is_regular_file(home + "/t/empty.bin") && fs::file_size(home + "/t/empty.bin") == 0);
    EXPECT_TRUE(fs::is_directory(home + "/t/dir"));
}

TEST_F(BhTest, UpdatesKeepOldMembersAndDeletesLeaveABhArchive)
{
    Put("one.txt", std::string(30000, '1') + "end");
    Put(kCzechName, "kůň");
    ASSERT_EQ(Pack("u.bh", cmFuse, ""), 2);
    const std::string before = ReadText(home + "/out/u.bh");
    std::int64_t endAt = 0;
    const auto old = Members(before, endAt);
    ASSERT_EQ(old.size(), 2u);

    Put("two.txt", "second");
    ASSERT_EQ(Pack("u.bh", cmDeflate, "", {"two.txt"}), 1);
    const std::string after = ReadText(home + "/out/u.bh");
    for (const TRawMember& m : old)
        EXPECT_NE(after.find(before.substr(std::size_t(m.Header.Offset),
                                           std::size_t(m.Header.NextOffset() - m.Header.Offset))),
                  std::string::npos);

    TBlakHole bh;
    Watch(bh);
    bh.SetArchiveFile("C:\\out\\u.bh");
    // A kept member under a new name, beside the new file of its old name.
    bh.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                          std::int64_t, int, int, bool& replace) { replace = false; };
    bh.OnRenameDupeFile = [](TObject*, const std::string&, std::string& name, bool&) { name = "renamed.txt"; };
    Put("two.txt", "second edition");
    bh.SetFileSpec({"C:\\src\\two.txt"});
    ASSERT_EQ(bh.Compress(), 1);
    // A replaced member.
    Watch(bh);
    Put("one.txt", "the new one");
    bh.SetFileSpec({"C:\\src\\one.txt"});
    ASSERT_EQ(bh.Compress(), 1);
    bh.Switch = swDelete;
    bh.SetFileSpec({"renamed.txt"});
    ASSERT_EQ(bh.Compress(), 1);
    EXPECT_TRUE(errors.empty());
    const TRun run = RunBh("out\\u.bh", "", "u");
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(HostTree(home + "/u"),
              (std::map<std::string, std::string>{
                  {"one.txt", "the new one"}, {"two.txt", "second edition"}, {kCzechName, "kůň"}}));

    // Deleting every member leaves an end header, which is still a BH archive to add to.
    bh.SetFileSpec({"*.*"});
    ASSERT_EQ(bh.Compress(), 3);
    const std::string emptied = ReadText(home + "/out/u.bh");
    ASSERT_EQ(emptied.size(), std::size_t(kBhHeaderSize));
    EXPECT_EQ(GetLE32(reinterpret_cast<const std::uint8_t*>(emptied.data())), kBhSignature);
    const TRun none = RunBh("out\\u.bh", "");
    EXPECT_EQ(none.Passed + none.Failed, 0);
    EXPECT_TRUE(none.Errors.empty());
    bh.Switch = swAdd;
    bh.SetFileSpec({"C:\\src\\two.txt"});
    ASSERT_EQ(bh.Compress(), 1);
    EXPECT_EQ(Members(ReadText(home + "/out/u.bh"), endAt).size(), 1u);
    EXPECT_TRUE(errors.empty());
}

TEST_F(BhTest, DamagedArchivesEndWithANumber)
{
    const std::string data = AsString(MixedBytes(60000, 5));
    Put("data.bin", data);
    Put("small.txt", "small");
    int round = 0;
    for (const auto& [method, password] : {std::pair<TCompressMethod, std::string>{cmFuse, ""},
                                           {cmDeflate, ""},
                                           {cmBz2, ""},
                                           {cmStore, "k"},
                                           {cmFuse, "k"}}) {
        const std::string name = "d" + std::to_string(++round) + ".bh";
        ASSERT_EQ(Pack(name, method, password), 2);
        const std::string good = ReadText(home + "/out/" + name);
        std::int64_t endAt = 0;
        std::vector<std::int64_t> boundaries;
        for (const TRawMember& m : Members(good, endAt))
            boundaries.push_back(m.Header.Offset);
        const auto check = [&](const std::string& bad, bool cut) {
            WriteText(home + "/bad.bh", bad);
            fs::remove_all(home + "/bad");
            const TRun run = RunBh("bad.bh", password, "bad");
            // Either a report with its number, or what came out is the source.
            if (run.Errors.empty()) {
                EXPECT_EQ(run.Failed, 0);
                if (fs::exists(home + "/bad/data.bin")) {
                    EXPECT_EQ(ReadText(home + "/bad/data.bin"), data);
                }
                if (cut) {  // silently shorter only where a member ends
                    EXPECT_NE(std::find(boundaries.begin(), boundaries.end(), std::int64_t(bad.size())),
                              boundaries.end())
                        << bad.size();
                }
            }
        };
        for (std::size_t size = 1; size < good.size(); size += good.size() / 41 + 1)
            check(good.substr(0, size), true);
        for (std::size_t at = 0; at < good.size(); at += good.size() / 37 + 1) {
            std::string bad = good;
            bad[at] = char(bad[at] ^ 0x5A);
            check(bad, false);
        }
    }

    // Names that climb out, a method nobody knows, and a first header of length 0.
    const std::string hostile = MakeMember(PlainHeader(0, "evil"), "../../evil.txt", "evil") +
                                MakeMember(PlainHeader(5, "xxxx"), "five.txt", "xxxx") +
                                MakeMember(PlainHeader(0, "fine"), "ok.txt", "fine");
    WriteText(home + "/hostile.bh", hostile);
    const TRun run = RunBh("hostile.bh", "", "deep/er/hostile");
    EXPECT_TRUE(run.Has(E_INVALIDFILENAME));
    EXPECT_TRUE(run.Has(E_UNSUPPORTEDMETHOD));
    EXPECT_FALSE(fs::exists(home + "/deep/evil.txt") || fs::exists(home + "/evil.txt"));
    EXPECT_EQ(ReadText(home + "/deep/er/hostile/ok.txt"), "fine");

    TBhHeader end;
    std::uint8_t fixed[kBhHeaderSize];
    EncodeBhHeader(end, fixed);
    WriteText(home + "/ended.bh", std::string(reinterpret_cast<const char*>(fixed), kBhHeaderSize) +
                                      MakeMember(PlainHeader(0, "fine"), "ok.txt", "fine"));
    const TRun ended = RunBh("ended.bh", "");
    EXPECT_EQ(ended.Passed + ended.Failed, 0);
    EXPECT_TRUE(ended.Errors.empty());
}

TEST_F(BhTest, FilesOfFourGibibytesAreRefused)
{
    Put("small.txt", "small");
    Put("huge.bin", "");
    fs::resize_file(src + "/huge.bin", std::uintmax_t(1) << 32);  // sparse: nothing is read
    EXPECT_EQ(Pack("h.bh", cmDeflate, ""), 1);
    EXPECT_NE(std::find(errors.begin(), errors.end(), E_FILESIZEFORMAT), errors.end());
    std::int64_t endAt = 0;
    const auto members = Members(ReadText(home + "/out/h.bh"), endAt);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].Header.Name, "small.txt");
}

}  // namespace
