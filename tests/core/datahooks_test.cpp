#include "core/Crc.h"
#include "core/ZipCommon.h"
#include "core/plxStreams.h"
#include "platform/win/Errors.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::uint32_t Crc32Of(const std::string& s)
{
    std::uint32_t crc = CRC_MASK;
    UpdateCrc32(s.data(), std::int64_t(s.size()), crc);
    return crc;
}

class DataHooksTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        zip.OnError = [this](TObject*, const std::string& f, const std::string&, const std::string&, int code) {
            codes.push_back(code);
            names.push_back(f);
        };
    }
    std::int32_t Out(const std::string& s, bool encrypt = false)
    {
        return zip.WriteOutputProc(nullptr, s.data(), kKindFileData, std::int32_t(s.size()), 32, encrypt);
    }
    std::string ListText(int which = 0) const
    {
        const auto& v = zip.ListTargets[which];
        return std::string(v.begin(), v.end());
    }

    TZipCommon zip;
    std::vector<int> codes;
    std::vector<std::string> names;
};

TEST_F(DataHooksTest, AsciiTranslationCarriesCrAcrossBlocksAndCrcCoversInput)
{
    zip.OperationCode = opListTarget;
    zip.AsciiTranslation = true;
    zip.StartEntryData();
    const std::string blocks[] = {"a\nb\r", "\nc\n", "\n"};
    std::string input;
    for (const auto& b : blocks) {
        EXPECT_EQ(Out(b), std::int32_t(b.size()));
        input += b;
    }
    EXPECT_EQ(ListText(), "a\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(zip.RunningCrc.Crc32, Crc32Of(input));

    // A new entry does not inherit the last CR.
    zip.ListTargets[0].clear();
    Out("x\r");
    zip.StartEntryData();
    Out("\ny");
    EXPECT_EQ(ListText(), "x\r\r\ny");
    EXPECT_TRUE(codes.empty());
}

TEST_F(DataHooksTest, OutputGoesWhereTheOperationCodeSays)
{
    const std::string data = "payload";
    zip.OperationCode = opListTarget2;
    Out(data);
    EXPECT_EQ(ListText(1), data);

    TMemoryStream32 stream;
    zip.OperationCode = opCallerStream;
    zip.CallerStream = &stream;
    Out(data);
    EXPECT_EQ(stream.Size(), std::int64_t(data.size()));

    zip.OperationCode = opTest;
    EXPECT_EQ(Out(data), 7);
    zip.OperationCode = 5;
    EXPECT_EQ(Out(data), 0);

    // A leftover disk-full code from elsewhere is not taken for a failed write.
    zip.OperationCode = opTest;
    SetLastError(ERROR_DISK_FULL);
    EXPECT_NO_THROW(Out(data));
}

TEST_F(DataHooksTest, CallerBufferIsNeverOverrun)
{
    std::uint8_t buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    zip.OperationCode = opCallerBuffer;
    zip.CallerBuffer = buffer;
    zip.CallerBufferCapacity = 5;
    zip.FileCount = 2;
    zip.FileName = "entry.txt";
    EXPECT_EQ(Out("abc"), 3);
    EXPECT_EQ(Out("defgh"), 2);  // only two bytes of room left
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 8), "abcde###");
    EXPECT_EQ(codes, std::vector<int>{25136});
    EXPECT_EQ(names.back(), "entry.txt");
    EXPECT_EQ(zip.FileCount, 2);  // the entry's check, not the write, decides what is counted
    EXPECT_EQ(Out("i"), 0);
}

TEST_F(DataHooksTest, ZipCipherRoundTripThroughTheHooks)
{
    const std::string plain = "The quick brown fox jumps over the lazy dog, twice over.";
    zip.SetArcType(atZip);
    zip.SetPassword("pw");
    zip.OperationCode = opCallerStream;
    TMemoryStream32 archive;
    zip.CallerStream = &archive;
    zip.DataCipher.InitDataKeys("pw");
    std::string block = plain;
    zip.WriteArchiveProc(&archive, block.data(), kKindFileData, std::int32_t(block.size()), 32, true);
    EXPECT_EQ(block, plain) << "the caller's block must stay plain";
    EXPECT_EQ(zip.RunningCrc.Crc32, Crc32Of(plain));

    std::string stored(plain.size(), '\0');
    archive.SetPosition(0);
    ASSERT_EQ(archive.Read(stored.data(), std::int32_t(stored.size())), std::int32_t(stored.size()));
    EXPECT_NE(stored, plain);

    // Reading back deciphers and checks the plain bytes.
    zip.DataCipher.InitDataKeys("pw");
    zip.StartEntryData();
    archive.SetPosition(0);
    std::string back(plain.size(), '\0');
    const auto n = zip.ReadArchiveProc(&archive, back.data(), std::int32_t(back.size()), true, 32);
    EXPECT_EQ(n, std::int32_t(plain.size()));
    EXPECT_EQ(back, plain);
    EXPECT_EQ(zip.RunningCrc.Crc32, Crc32Of(plain));

    // Headers and entries of other kinds are never enciphered; a raw read (no cipher, no CRC)
    // leaves the bytes as stored, as the password check header needs.
    archive.SetPosition(0);
    zip.StartEntryData();
    std::string raw(12, '\0');
    zip.ReadArchiveProc(&archive, raw.data(), 12, false, 0);
    EXPECT_EQ(raw, stored.substr(0, 12));
    EXPECT_EQ(zip.RunningCrc.Crc32, CRC_MASK);
}

TEST_F(DataHooksTest, ArjPasswordXorWrapsAround)
{
    zip.SetArcType(atArj);
    zip.SetPassword("ab");
    std::string data = "\x01\x02\x03";
    zip.DecryptEntryBlock(true, data.data(), 3);
    const std::string expected = {char(0x01 ^ 'a'), char(0x02 ^ 'b'), char(0x03 ^ 'a')};
    EXPECT_EQ(data, expected);
}

class EntryNameTest : public DataHooksTest {
protected:
    void SetUp() override
    {
        DataHooksTest::SetUp();
        std::filesystem::create_directories(root + "/out");
        zip.SetExtractDir(root + "/out");
        base = zip.ExtractDir();
    }
    std::string base;
};

TEST_F(EntryNameTest, NamesNeverLeaveTheExtractionFolder)
{
    for (const char* bad : {"../x", "..\\x", "a/../../x", "a/b/../../../x", "...\\x", "/../x"}) {
        codes.clear();
        EXPECT_FALSE(zip.SetEntryName(bad)) << bad;
        EXPECT_EQ(zip.FileName, "") << bad;
        EXPECT_EQ(codes, std::vector<int>{25245}) << bad;
    }
    const std::pair<const char*, std::string> kept[] = {
        {"/etc/x", "etc\\x"},
        {"C:\\x", "x"},
        {"C:/data/x.txt", "data\\x.txt"},
        {"\\\\server\\s\\x", "server\\s\\x"},
        {"a/./b/../c.txt", "a\\c.txt"},
        // Without a separator after it, "d:" is no drive: the colon is part of the name.
        {"d:e/f", "d_e\\f"},
        {"dir/a:b", "dir\\a_b"},
    };
    for (const auto& [stored, expected] : kept) {
        ASSERT_TRUE(zip.SetEntryName(stored)) << stored;
        EXPECT_EQ(zip.FileName, base + expected) << stored;
        // Write it: everything must land below the extraction folder.
        win::ForceDirectories(win::ExtractFilePath(zip.FileName));
        TFileStream32 f(zip.FileName, fmCreate);
        EXPECT_TRUE(f.HandleValid()) << zip.FileName;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string p = entry.path().string();
        EXPECT_TRUE(p.rfind(root + "/out", 0) == 0 || p.rfind(root + "/home", 0) == 0 ||
                    p.rfind(root + "/config", 0) == 0 || p == root + "/tmp")
            << "written outside: " << p;
    }

    zip.UseStoredDirs = false;
    ASSERT_TRUE(zip.SetEntryName("deep/er/name.txt"));
    EXPECT_EQ(zip.FileName, base + "name.txt");
}

TEST_F(EntryNameTest, UnicodePathBlockNameIsCheckedToo)
{
    const std::string name = "../../evil.txt";
    std::vector<std::uint8_t> extra = {0x75, 0x70, std::uint8_t(5 + name.size()), 0, 1, 0, 0, 0, 0};
    extra.insert(extra.end(), name.begin(), name.end());
    zip.ParseExtraField(extra.data(), extra.size(), false, 1);
    EXPECT_EQ(zip.ExtraUtf8Name, name);
    EXPECT_FALSE(zip.SetEntryName(zip.ExtraUtf8Name));
}

TEST_F(EntryNameTest, SymbolicLinksOnTheWayAreRefused)
{
    std::filesystem::create_directories(root + "/elsewhere");
    std::filesystem::create_symlink(root + "/elsewhere/target", root + "/out/link.txt");
    std::filesystem::create_directory_symlink(root + "/elsewhere", root + "/out/dirlink");

    ASSERT_TRUE(zip.SetEntryName("link.txt"));
    EXPECT_FALSE(zip.CheckOutputTarget(zip.FileName));
    ASSERT_TRUE(zip.SetEntryName("dirlink/inner.txt"));
    EXPECT_FALSE(zip.CheckOutputTarget(zip.FileName));
    EXPECT_EQ(codes, (std::vector<int>{25137, 25137}));

    ASSERT_TRUE(zip.SetEntryName("fresh/new.txt"));
    EXPECT_TRUE(zip.CheckOutputTarget(zip.FileName));
    EXPECT_FALSE(std::filesystem::exists(root + "/elsewhere/target"));
}

TEST_F(DataHooksTest, ExtraFieldBlocksAreBoundedByTheirLengths)
{
    // Central header: only the compressed size is 0xFFFFFFFF, so it takes the first 8 bytes.
    zip.UnpackedSize = 10;
    zip.PackedSize = 0xFFFFFFFF;
    zip.HeaderOffset = 20;
    std::vector<std::uint8_t> zip64 = {0x01, 0x00, 16, 0, 0x44, 0x33, 0x22, 0x11, 0x01, 0,
                                       0,    0,    9,  9, 9,    9,    9,    9,    9,    9};
    zip.ParseExtraField(zip64.data(), zip64.size(), false, 1);
    EXPECT_EQ(zip.PackedSize, 0x111223344LL);
    EXPECT_EQ(zip.UnpackedSize, 10);
    EXPECT_EQ(zip.HeaderOffset, 20);

    // A Zip64 block too short for the field leaves it; a block running past the field ends the walk.
    zip.UnpackedSize = 0xFFFFFFFF;
    std::vector<std::uint8_t> shortBlock = {0x01, 0x00, 4, 0, 1, 2, 3, 4};
    zip.ParseExtraField(shortBlock.data(), shortBlock.size(), false, 0);
    EXPECT_EQ(zip.UnpackedSize, 0xFFFFFFFF);
    std::vector<std::uint8_t> overrun = {0x64, 0x00, 200, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    zip.ParseExtraField(overrun.data(), overrun.size(), false, 0);
    EXPECT_EQ(zip.LargeSize, 0u);

    // At the edge: a block that ends exactly at the field's end is read; one that claims a single
    // byte more is not, although the byte after the field is there to be read.
    std::vector<std::uint8_t> exact = {0x64, 0x00, 8, 0, 1, 2, 3, 4, 5, 6, 7, 0};
    zip.ParseExtraField(exact.data(), exact.size(), false, 0);
    EXPECT_EQ(zip.LargeSize, 0x0007060504030201u);
    exact[2] = 9;
    exact.push_back(8);
    zip.ParseExtraField(exact.data(), exact.size() - 1, false, 0);
    EXPECT_EQ(zip.LargeSize, 0u);

    // An AES block gives the method by version and strength.
    std::vector<std::uint8_t> aes = {0x01, 0x99, 7, 0, 2, 0, 'A', 'E', 3, 8, 0};
    zip.ParseExtraField(aes.data(), aes.size(), false, 0);
    zip.Encrypted = true;
    EXPECT_EQ(zip.GetEntryEncryptMethod(), emAes2_256);
    aes[8] = 9;
    zip.ParseExtraField(aes.data(), aes.size(), false, 0);
    EXPECT_EQ(zip.GetEntryEncryptMethod(), emAes1_128);
}

TEST_F(DataHooksTest, DosDatesAreClampedNeverRaised)
{
    int y, m, d, h, n, s, ms;
    const TDateTime zero = zip.DosDateToDateTime(0);
    win::DecodeDate(zero, y, m, d);
    win::DecodeTime(zero, h, n, s, ms);
    EXPECT_EQ((std::vector<int>{y, m, d, h, n, s}), (std::vector<int>{1980, 1, 1, 0, 1, 0}));

    // Month 13, day 31 of a 30-day month, hour 31, minute 63, seconds 62.
    const std::uint32_t bad = (10u << 25) | (13u << 21) | (31u << 16) | (31u << 11) | (63u << 5) | 31u;
    TDateTime t = 0;
    EXPECT_NO_THROW(t = zip.DosDateToDateTime(bad));
    win::DecodeDate(t, y, m, d);
    win::DecodeTime(t, h, n, s, ms);
    EXPECT_EQ((std::vector<int>{y, m, d, h, n, s}), (std::vector<int>{1990, 12, 31, 23, 59, 59}));
}

TEST_F(DataHooksTest, StoredMemberCopyDeliversPlainDataAndCountsDown)
{
    std::string data(70000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7);
    TMemoryStream32 source;
    source.Write(data.data(), std::int32_t(data.size()));
    source.SetPosition(0);
    zip.SetArcType(atTar);
    zip.OperationCode = opListTarget;
    zip.MemberBytesRemaining() = std::int64_t(data.size());
    zip.StartEntryData();
    EXPECT_EQ(zip.CopyStoredMember(&source, nullptr, nullptr, "m", 32), 0);
    EXPECT_EQ(ListText(), data);
    EXPECT_EQ(zip.RunningCrc.Crc32, Crc32Of(data));
}

TEST(DisplayStrings, AttributeLetters)
{
    EXPECT_EQ(TZipCommon::DosAttrString(0x20 | 0x01 | 0x4002, '-'), "ar-e-");
    EXPECT_EQ(TZipCommon::DosAttrString(0x30, '.'), "d....");
    EXPECT_EQ(TZipCommon::UnixAttrString(0x4000 | 0755 | 0x800, '-'), "drwsr-xr-x");
    EXPECT_EQ(TZipCommon::UnixAttrString(0644 | 0x400, '-'), "-rw-r-Sr--");
}

}  // namespace
