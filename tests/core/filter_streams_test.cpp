#include "core/FilterStreams.h"
#include "core/plxDeflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Sample(std::size_t n)
{
    // Text-like with random runs, so that every level finds something to do.
    std::mt19937 rng(7);
    Bytes out;
    const std::string words[] = {"archive ", "backup ", "zaloha ", "data ", "\r\n", "0123456789"};
    while (out.size() < n) {
        if (rng() % 5 == 0)
            for (int i = 0; i < 40; ++i)
                out.push_back(std::uint8_t(rng()));
        else
            for (char c : words[rng() % 6])
                out.push_back(std::uint8_t(c));
    }
    out.resize(n);
    return out;
}

Bytes ContentOf(TMemoryStream32& m)
{
    const auto* p = static_cast<const std::uint8_t*>(m.Memory());
    return Bytes(p, p + m.Size());
}

Bytes ZlibRawInflate(const Bytes& in)
{
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    Bytes out(1 << 16);
    std::size_t have = 0;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    int r = Z_OK;
    while (r == Z_OK) {
        if (have == out.size())
            out.resize(out.size() * 2);
        z.next_out = out.data() + have;
        z.avail_out = uInt(out.size() - have);
        r = inflate(&z, Z_NO_FLUSH);
        have = out.size() - z.avail_out;
    }
    EXPECT_EQ(r, Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "nothing may follow the end block";
    inflateEnd(&z);
    out.resize(have);
    return out;
}

Bytes ZlibRawDeflate(const Bytes& in, int level = 6)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&z, uLong(in.size())));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TMemoryStream32* StreamOf(TMemoryStream32& m, const Bytes& data)
{
    m.WriteBuffer(data.data(), std::int32_t(data.size()));
    m.SetPosition(0);
    return &m;
}

TEST(FilterStreams, CompressOutputInflatesToInputAtEveryLevel)
{
    const Bytes input = Sample(300000);
    for (TDeflateType level : {dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX}) {
        TMemoryStream32 target;
        target.WriteBuffer("HDR", 3);  // the filter appends after what is already there
        {
            TCompressStream z(&target, level, -15);
            std::size_t done = 0;
            for (std::size_t step = 1; done < input.size(); step = step * 3 + 1) {
                const std::size_t n = std::min(step, input.size() - done);
                EXPECT_EQ(z.Write(input.data() + done, std::int32_t(n)), std::int32_t(n));
                done += n;
            }
            EXPECT_EQ(z.Seek(0, soCurrent), std::int32_t(input.size()));
            EXPECT_EQ(z.Seek(5, soBeginning), -1);
            char c;
            EXPECT_EQ(z.Read(&c, 1), -1);
            EXPECT_THROW(z.Seek64(std::int64_t(1) << 33, soCurrent), ERangeError);
            std::uint32_t crc = z.Crc ^ CRC_MASK;
            EXPECT_EQ(crc, crc32(0, input.data(), uInt(input.size())));
            z.FinishDeflate();
        }
        const Bytes out = ContentOf(target);
        ASSERT_EQ(Bytes(out.begin(), out.begin() + 3), Bytes({'H', 'D', 'R'}));
        EXPECT_EQ(ZlibRawInflate(Bytes(out.begin() + 3, out.end())), input) << "level " << int(level);
    }

    // Whole small inputs in one call with tables sized for them: the same data back, no larger than
    // with the full-size ones.
    const std::pair<TDeflateType, int> levels[] = {{dtDeflateS, 0}, {dtDeflateF, 1}, {dtDeflateN, 6}, {dtDeflateX, 9}};
    for (const auto& [type, zlibLevel] : levels) {
        for (std::size_t n : {0, 1, 100, 256, 257, 5000, 16384}) {
            const Bytes small(input.begin(), input.begin() + std::ptrdiff_t(n));
            const Bytes packed = DeflateSmallBuffer(small.data(), small.size(), type);
            EXPECT_EQ(ZlibRawInflate(packed), small) << n << " bytes, level " << zlibLevel;
            EXPECT_LE(packed.size(), ZlibRawDeflate(small, zlibLevel).size()) << n << " bytes, level " << zlibLevel;
        }
    }

    // Nothing written: freeing still writes the end block.
    TMemoryStream32 empty;
    {
        TCompressStream z(&empty, dtDeflateN, -15);
    }
    EXPECT_GT(empty.Size(), 0);
    EXPECT_TRUE(ZlibRawInflate(ContentOf(empty)).empty());

    // An engine that refuses its settings is an error, not an empty stream.
    TMemoryStream32 bad;
    try {
        TCompressStream z(&bad, dtDeflateN, -3);
        ADD_FAILURE() << "invalid window bits accepted";
    } catch (const E_RAISE& e) {
        EXPECT_EQ(e.ECode, 25355);
    }
}

TEST(FilterStreams, DecompressReadsZlibDataWithEveryReadSize)
{
    const Bytes input = Sample(400000);
    Bytes packed = ZlibRawDeflate(input);
    const std::size_t packedSize = packed.size();
    packed.insert(packed.end(), {'T', 'A', 'I', 'L'});

    for (std::int32_t size : {1, 7, 4096, 32768, 65535, 65536, 65537, 200000, 1000000}) {
        TMemoryStream32 source;
        StreamOf(source, packed);
        Bytes out;
        {
            TDecompressStream z(&source, -15, emNone);
            Bytes chunk(std::size_t(size) + 64, 0xAB);  // canaries past the asked count
            for (;;) {
                const std::int32_t got = z.Read(chunk.data(), size);
                ASSERT_GE(got, 0) << "read size " << size;
                if (got == 0)
                    break;
                out.insert(out.end(), chunk.begin(), chunk.begin() + got);
                if (size < 1000 && out.size() > 20000)
                    break;  // small reads: a prefix is proof enough
            }
            for (std::size_t i = std::size_t(size); i < chunk.size(); ++i)
                ASSERT_EQ(chunk[i], 0xAB) << "written past the asked count";
            if (out.size() == input.size()) {
                EXPECT_TRUE(z.EndOfStream());
            }
        }
        ASSERT_LE(out.size(), input.size());
        EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin())) << "read size " << size;
        if (out.size() == input.size()) {
            EXPECT_EQ(source.Position(), std::int64_t(packedSize)) << "source stands after the data";
        }
    }
}

TEST(FilterStreams, DecompressSeeksForwardOnlyAndRejectsDamage)
{
    const Bytes input = Sample(100000);
    TMemoryStream32 source;
    StreamOf(source, ZlibRawDeflate(input));
    TDecompressStream z(&source, -15, emNone);
    EXPECT_EQ(z.Seek64(5000, soBeginning), 5000);
    EXPECT_EQ(z.Seek64(1000, soCurrent), 6000);
    EXPECT_EQ(z.Seek64(10, soBeginning), 6000) << "backwards changes nothing";
    std::uint8_t b[10];
    z.ReadBuffer(b, 10);
    EXPECT_TRUE(std::equal(b, b + 10, input.begin() + 6000));
    EXPECT_EQ(z.Seek64(0, soBeginning), 0);
    z.ReadBuffer(b, 10);
    EXPECT_TRUE(std::equal(b, b + 10, input.begin()));
    EXPECT_THROW(z.Seek64(std::int64_t(1) << 31, soCurrent), ERangeError);

    // Damaged data answers a negative count and fails a whole read.
    Bytes corrupt = ZlibRawDeflate(input);
    corrupt[0] = 0xFF;  // reserved block type
    TMemoryStream32 bad;
    TDecompressStream zb(StreamOf(bad, corrupt), -15, emNone);
    EXPECT_LT(zb.Read(b, 10), 0);
    EXPECT_THROW(zb.ReadBuffer(b, 10), EReadError);

    // Truncated data fails once the input runs out.
    Bytes cut = ZlibRawDeflate(input);
    cut.resize(cut.size() / 2);
    TMemoryStream32 shortSource;
    TDecompressStream zs(StreamOf(shortSource, cut), -15, emNone);
    Bytes all(input.size());
    EXPECT_THROW(zs.ReadBuffer(all.data(), std::int32_t(all.size())), EReadError);
}

TEST(FilterStreams, DecompressDeflate64MadeByRealTool)
{
    const auto dir = std::filesystem::temp_directory_path() / ("d64-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const Bytes input = Sample(300000);
    std::ofstream(dir / "in.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
    const std::string cmd = "cd '" + dir.string() + "' && 7zz a -tzip -mm=Deflate64 a.zip in.bin >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
        std::filesystem::remove_all(dir);
        GTEST_SKIP() << "7zz could not make a Deflate64 archive";
    }
    std::ifstream zip(dir / "a.zip", std::ios::binary);
    const Bytes arc((std::istreambuf_iterator<char>(zip)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(dir);
    ASSERT_GT(arc.size(), 30u);
    auto u16 = [&](std::size_t at) { return std::size_t(arc[at] | arc[at + 1] << 8); };
    ASSERT_EQ(u16(8), 9u) << "method Deflate64";
    const std::size_t start = 30 + u16(26) + u16(28);

    TMemoryStream32 source;
    StreamOf(source, Bytes(arc.begin() + std::ptrdiff_t(start), arc.end()));
    TDecompressStream z(&source, -15, emNone, true);  // the switch widens the window
    Bytes out(input.size());
    z.ReadBuffer(out.data(), std::int32_t(out.size()));
    EXPECT_EQ(out, input);
    char extra;
    EXPECT_EQ(z.Read(&extra, 1), 0);
    EXPECT_TRUE(z.EndOfStream());
}

TEST(FilterStreams, StoreStreamCrcAndCipherAgreeAndLeaveCallerDataAlone)
{
    const Bytes input = Sample(250000);

    // Plain: the bytes pass unchanged and the CRC registers match zlib's and our tables.
    TMemoryStream32 source;
    StreamOf(source, input);
    source.SetPosition(777);
    std::int64_t remaining = std::int64_t(input.size());
    TStreamControl control;
    control.Remaining = &remaining;
    TMemoryStream32 plain;
    TStoreStream store(&plain, control, 32);
    EXPECT_EQ(store.CopyData(&source, 0), std::int64_t(input.size())) << "count 0 copies all from the start";
    EXPECT_EQ(ContentOf(plain), input);
    EXPECT_EQ(store.Crc ^ CRC_MASK, crc32(0, input.data(), uInt(input.size())));
    EXPECT_EQ(remaining, 0);

    TMemoryStream32 plain16;
    TStoreStream store16(&plain16, control, 16);
    store16.Write(input.data(), std::int32_t(input.size()));
    std::uint32_t crc16 = 0;
    UpdateCrc16(input.data(), std::int64_t(input.size()), crc16);
    EXPECT_EQ(store16.Crc, crc16);

    // Enciphered: the same bytes as the cipher gives, and the caller's buffer is unchanged.
    TZipCipher streamKeys;
    streamKeys.InitDataKeys("heslo");
    TRunningCrc running;
    running.Crc32 = 0x12345678;
    TStreamControl secret;
    secret.EncryptionMethod = emZip_V2;
    secret.Cipher = &streamKeys;
    secret.RunningCrc = &running;
    TMemoryStream32 sealed;
    Bytes caller = input;
    TStoreStream enc(&sealed, secret, 32);
    EXPECT_EQ(enc.Crc, 0x12345678u) << "an enciphered copy continues the running CRC";
    enc.Write(caller.data(), std::int32_t(caller.size()));
    EXPECT_EQ(caller, input);
    TZipCipher reference;
    reference.InitDataKeys("heslo");
    Bytes expected = input;
    reference.EncryptBuffer(expected.data(), expected.size());
    EXPECT_EQ(ContentOf(sealed), expected);

    TStreamControl noKeys;
    noKeys.EncryptionMethod = emZip_V2;
    EXPECT_THROW(TStoreStream(&sealed, noKeys, 32), E_RAISE);
}

TEST(FilterStreams, CompressEnciphersItsOutput)
{
    const Bytes input = Sample(150000);
    TZipCipher keys;
    keys.InitDataKeys("pw");
    TMemoryStream32 sealed;
    {
        TCompressStream z(&sealed, dtDeflateN, -15);
        z.EncryptionMethod = emZip_V2;
        z.Cipher = &keys;
        z.WriteBuffer(input.data(), std::int32_t(input.size()));
    }
    Bytes packed = ContentOf(sealed);
    TZipCipher back;
    back.InitDataKeys("pw");
    back.DecryptBuffer(packed.data(), packed.size());
    EXPECT_EQ(ZlibRawInflate(packed), input);

    // And the inflater deciphers on the way in.
    TZipCipher readKeys;
    readKeys.InitDataKeys("pw");
    sealed.SetPosition(0);
    TDecompressStream z(&sealed, -15, emZip_V2);
    z.Cipher = &readKeys;
    Bytes out(input.size());
    z.ReadBuffer(out.data(), std::int32_t(out.size()));
    EXPECT_EQ(out, input);
}

TEST(FilterStreams, DeflateRegionCoversTheWholeInputWithItsCrc)
{
    const Bytes input = Sample(200000);
    TMemoryStream32 source;
    source.WriteBuffer(input.data(), std::int32_t(input.size()));
    source.SetPosition(12345);  // the whole input counts, wherever it stands

    TMemoryStream32 packed;
    packed.WriteBuffer("HDR", 3);  // data goes after what the output holds
    bool cancel = false;
    std::int64_t remaining = std::int64_t(input.size());
    TStreamControl entry;
    entry.Cancel = &cancel;
    entry.Remaining = &remaining;
    int progress = 0;
    std::uint32_t crc = 0;
    ASSERT_TRUE(DeflateStreamRegion(
        &source, &packed, entry, InflateWindowBits, [&](TObject*, std::int64_t, std::int64_t) { ++progress; },
        dtDeflateX, crc));
    EXPECT_EQ(crc, crc32(0, input.data(), uInt(input.size())));
    EXPECT_EQ(remaining, 0);
    EXPECT_GT(progress, 0);
    const Bytes all = ContentOf(packed);
    EXPECT_EQ(ZlibRawInflate(Bytes(all.begin() + 3, all.end())), input);

    // A CRC already running continues; an empty input still ends its deflate stream.
    TRunningCrc running;
    UpdateCrc32("ab", 2, running.Crc32);
    entry.RunningCrc = &running;
    TMemoryStream32 empty, out;
    ASSERT_TRUE(DeflateStreamRegion(&empty, &out, entry, InflateWindowBits, {}, dtDeflateN, crc));
    EXPECT_EQ(crc, crc32(0, reinterpret_cast<const Bytef*>("ab"), 2));
    EXPECT_TRUE(ZlibRawInflate(ContentOf(out)).empty());
    entry.RunningCrc = nullptr;
    ASSERT_TRUE(DeflateStreamRegion(&empty, &out, entry, InflateWindowBits, {}, dtDeflateN, crc));
    EXPECT_EQ(crc, 0u);

    // Enciphered: the output deciphers to the deflate stream, the CRC of the first pass stays.
    TZipCipher keys;
    keys.InitDataKeys("pw");
    entry.EncryptionMethod = emZip_V2;
    entry.Cipher = &keys;
    TMemoryStream32 sealed;
    crc = 0x1234;
    ASSERT_TRUE(DeflateStreamRegion(&source, &sealed, entry, InflateWindowBits, {}, dtDeflateN, crc));
    EXPECT_EQ(crc, 0x1234u);
    Bytes bytes = ContentOf(sealed);
    TZipCipher back;
    back.InitDataKeys("pw");
    back.DecryptBuffer(bytes.data(), bytes.size());
    EXPECT_EQ(ZlibRawInflate(bytes), input);

    // A cancel answers False.
    entry.EncryptionMethod = emNone;
    cancel = true;
    TMemoryStream32 stopped;
    EXPECT_FALSE(DeflateStreamRegion(&source, &stopped, entry, InflateWindowBits, {}, dtDeflateN, crc));
}

TEST(FilterStreams, CalcStreamCrcAndAdler)
{
    const Bytes input = Sample(70000);
    TMemoryStream32 source;
    StreamOf(source, input);
    std::int64_t progressCalls = 0;
    const std::uint32_t reg = CalcStreamCRC(
        &source, TStreamControl{}, [&](TObject*, std::int64_t, std::int64_t) { ++progressCalls; }, nullptr, 0);
    EXPECT_EQ(reg ^ CRC_MASK, crc32(0, input.data(), uInt(input.size())));
    EXPECT_GT(progressCalls, 0);
    EXPECT_EQ(source.Position(), 0);

    EXPECT_EQ(Adler32(1, nullptr, 5), 1u);
    EXPECT_EQ(Adler32(1, input.data(), std::uint32_t(input.size())), adler32(1, input.data(), uInt(input.size())));
    const Bytes ff(10000, 0xFF);  // worst case for the deferred reduction
    EXPECT_EQ(Adler32(0xFFF0FFF0, ff.data(), 10000), adler32(0xFFF0FFF0, ff.data(), 10000));
}

}  // namespace

#include "core/TempStreams.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"

#include <sys/wait.h>

namespace {

class TempStreamsTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        std::filesystem::create_directories(home + "/tmp");
        std::filesystem::create_directories(home + "/out");
        owner.Cancel = &cancel;
        owner.DoTmpFileMoveBegin = [this](TObject*, const std::string& archive, const std::string& temp, bool&) {
            begins.push_back(archive + "|" + temp);
        };
        owner.DoTmpFileMoveEnd = [this](TObject*) { ++ends; };
        owner.ReportError = [this](int code, const std::string& extended) {
            reports.push_back(std::to_string(code) + " " + extended);
        };
    }

    // Drive E:, a removable medium of 60,000 bytes; answers its host folder.
    std::string SmallMedium()
    {
        const std::string media = root + "/media";
        std::filesystem::create_directories(media);
        WriteHostFile(root + "/config/torvo/drives", "E: removable capacity=60000 " + media + "\n");
        win::LoadDriveTable();
        return media;
    }

    // Writes size bytes through a temporary file stream made for target and closes it.
    std::string WriteTemp(const std::string& target, std::size_t size, bool cancelFirst = false)
    {
        TTempFileStream out(owner, fmCreate, target, "C:\\tmp\\");
        EXPECT_TRUE(out.HandleValid());
        EXPECT_TRUE(out.Temporary());
        const std::string temp = out.OpenedName();
        const Bytes data = Sample(size);
        out.WriteBuffer(data.data(), std::int32_t(size));
        cancel = cancelFirst;
        out.Close();
        return temp;
    }

    TTempStreamOwner owner;
    bool cancel = false;
    std::vector<std::string> begins;
    int ends = 0;
    std::vector<std::string> reports;
};

TEST_F(TempStreamsTest, ReplacesTargetOnSuccessOnly)
{
    WriteHostFile(home + "/out/a.zip", "old archive");

    // Exactly 64 KiB: replaced, begin fired, end not.
    const std::string temp = WriteTemp("C:\\out\\a.zip", 65536);
    EXPECT_EQ(ReadHostFile(home + "/out/a.zip").size(), 65536u);
    ASSERT_EQ(begins.size(), 1u);
    EXPECT_EQ(begins[0], "C:\\out\\a.zip|" + temp);
    EXPECT_EQ(ends, 0);
    EXPECT_TRUE(NamesIn(home + "/tmp").empty()) << "the temporary file is gone";
    EXPECT_EQ(temp.rfind("C:\\tmp\\plx", 0), 0u);

    // One byte more fires the end event too.
    WriteTemp("C:\\out\\a.zip", 65537);
    EXPECT_EQ(ends, 1);
    const Bytes expect = Sample(65537);
    const std::string now = ReadHostFile(home + "/out/a.zip");
    EXPECT_TRUE(std::equal(now.begin(), now.end(), expect.begin(), expect.end(),
                           [](char a, std::uint8_t b) { return std::uint8_t(a) == b; }));

    // A read-only archive is still replaced.
    SetFileAttributesA("C:\\out\\a.zip", FILE_ATTRIBUTE_READONLY);
    WriteTemp("C:\\out\\a.zip", 100);
    EXPECT_EQ(ReadHostFile(home + "/out/a.zip").size(), 100u);

    // Cancelled: the old archive as it was, no temporary file left, no event.
    begins.clear();
    WriteTemp("C:\\out\\a.zip", 5000, true);
    EXPECT_EQ(ReadHostFile(home + "/out/a.zip").size(), 100u);
    EXPECT_TRUE(NamesIn(home + "/tmp").empty());
    EXPECT_TRUE(begins.empty());

    // A host that cancels in the begin event keeps the old archive as well.
    cancel = false;
    owner.DoTmpFileMoveBegin = [](TObject*, const std::string&, const std::string&, bool& c) { c = true; };
    WriteTemp("C:\\out\\a.zip", 5000);
    EXPECT_EQ(ReadHostFile(home + "/out/a.zip").size(), 100u);
    EXPECT_TRUE(NamesIn(home + "/tmp").empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(TempStreamsTest, FailedReplacementKeepsOldArchiveAndTemporaryFile)
{
    // A small removable medium: the new archive does not fit beside the old one.
    const std::string media = SmallMedium();
    WriteHostFile(media + "/a.zip", "old archive");

    std::string temp;
    EXPECT_THROW(temp = WriteTemp("E:\\a.zip", 100000), E_RAISE);
    EXPECT_EQ(ReadHostFile(media + "/a.zip"), "old archive");
    EXPECT_EQ(NamesIn(media), std::set<std::string>{"a.zip"}) << "no half-written sibling is left";
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].substr(0, 5), "25160");
    const auto kept = NamesIn(home + "/tmp");
    ASSERT_EQ(kept, std::set<std::string>{"a.zip"}) << "the new archive is kept under its own name";
    EXPECT_EQ(ReadHostFile(home + "/tmp/a.zip").size(), 100000u);
    EXPECT_EQ(reports[0], "25160 C:\\tmp\\a.zip") << "the message says where";

    // The new archive of a private one is private while it is written, and it stays so.
    WriteHostFile(home + "/out/private.zip", "old");
    chmod((home + "/out/private.zip").c_str(), 0600);
    {
        TTempFileStream out(owner, fmCreate, "C:\\out\\private.zip", "C:\\tmp\\");
        std::string host;
        ASSERT_TRUE(win::ToHostPath(out.OpenedName(), host));
        struct stat st {};
        ASSERT_EQ(stat(host.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        out.WriteBuffer("new", 3);
    }
    EXPECT_EQ(ReadHostFile(home + "/out/private.zip"), "new");
    struct stat replaced {};
    ASSERT_EQ(stat((home + "/out/private.zip").c_str(), &replaced), 0);
    EXPECT_EQ(replaced.st_mode & 0777, 0600u);

    // A dead run's kept archive outlives the next run's clean-up; its unfinished files do not.
    std::filesystem::create_directories(home + "/tmp2");
    const pid_t child = fork();
    if (child == 0) {
        try {
            TTempFileStream out(owner, fmCreate, "E:\\a.zip", "C:\\tmp2\\");
            const Bytes data = Sample(100000);
            out.WriteBuffer(data.data(), std::int32_t(data.size()));
            out.Close();
        } catch (...) {
        }
        win::CreateOwnedTempFile("C:\\tmp2\\", "plx");
        _exit(0);
    }
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    ASSERT_EQ(NamesIn(home + "/tmp2").size(), 2u);
    const std::string next = win::CreateOwnedTempFile("C:\\tmp2\\", "plx");
    EXPECT_EQ(NamesIn(home + "/tmp2"), (std::set<std::string>{"a.zip", win::ExtractFileName(next)}));
    EXPECT_EQ(ReadHostFile(home + "/tmp2/a.zip").size(), 100000u);

    // What fits goes across drives through a copy, with progress.
    int progress = 0;
    owner.DoTmpFileProgress = [&](TObject*, std::int64_t, std::int64_t) { ++progress; };
    WriteTemp("E:\\a.zip", 20000);
    EXPECT_EQ(ReadHostFile(media + "/a.zip").size(), 20000u);
    EXPECT_GT(progress, 0);
    EXPECT_EQ(NamesIn(home + "/tmp").size(), 1u) << "only the earlier failure's file";
}

TEST_F(TempStreamsTest, AnArchiveInTheTemporaryFolderIsItsOwnersOnlyUntilPlaced)
{
    const auto modeOf = [](const std::string& host) {
        struct stat st {};
        EXPECT_EQ(stat(host.c_str(), &st), 0) << host;
        return st.st_mode & 0777;
    };
    const mode_t mask = umask(022);
    umask(mask);
    for (const char* target : {"C:\\out\\new.zip", "C:\\tmp\\new.zip"}) {  // copied across, renamed
        SCOPED_TRACE(target);
        {
            TTempFileStream out(owner, fmCreate, target, "C:\\tmp\\");
            std::string host;
            ASSERT_TRUE(win::ToHostPath(out.OpenedName(), host));
            EXPECT_EQ(modeOf(host), 0600u) << "others may list the temporary folder";
            out.WriteBuffer("new", 3);
        }
        std::string placed;
        ASSERT_TRUE(win::ToHostPath(target, placed));
        EXPECT_EQ(modeOf(placed), 0666u & ~mask) << "a new archive is made as any new file";
    }
    // A replaced archive keeps its mode.
    WriteHostFile(home + "/tmp/shared.zip", "old");
    chmod((home + "/tmp/shared.zip").c_str(), 0640);
    WriteTemp("C:\\tmp\\shared.zip", 10);
    EXPECT_EQ(modeOf(home + "/tmp/shared.zip"), 0640u);
    // One that could not be placed stays its owner's in the temporary folder.
    SmallMedium();
    EXPECT_THROW(WriteTemp("E:\\big.zip", 100000), E_RAISE);
    EXPECT_EQ(modeOf(home + "/tmp/big.zip"), 0600u);
}

TEST_F(TempStreamsTest, OutputThatDoesNotReachTheDiskReplacesNothing)
{
    // The temporary folder is on a small medium; the gathered writes fail only when flushed.
    const std::string media = SmallMedium();
    WriteHostFile(home + "/out/a.zip", "old archive");
    {
        TTempFileStream out(owner, fmCreate, "C:\\out\\a.zip", "E:\\");
        ASSERT_TRUE(out.HandleValid());
        out.EnableWriteBehind();
        const Bytes data = Sample(100000);
        out.WriteBuffer(data.data(), std::int32_t(data.size()));
        EXPECT_THROW(out.Close(), E_RAISE);
    }
    EXPECT_EQ(ReadHostFile(home + "/out/a.zip"), "old archive");
    EXPECT_TRUE(NamesIn(media).empty()) << "the incomplete output is removed";
    EXPECT_TRUE(begins.empty());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].substr(0, 5), "25160");
}

TEST_F(TempStreamsTest, MemoryOutputAndCopies)
{
    WriteHostFile(home + "/out/m.zip", "old");
    {
        TTempMemStream out(owner, fmCreate, "C:\\out\\m.zip");
        out.WriteBuffer("new archive", 11);
    }
    EXPECT_EQ(ReadHostFile(home + "/out/m.zip"), "new archive");
    ASSERT_EQ(begins.size(), 1u);
    EXPECT_EQ(begins[0], "C:\\out\\m.zip|NoName");
    EXPECT_EQ(ends, 1) << "a memory output always ends its move";
    EXPECT_EQ(NamesIn(home + "/out"), std::set<std::string>{"m.zip"});

    // Copies stop at the source's end and answer what they really copied.
    TMemoryStream32 source;
    source.WriteBuffer("0123456789", 10);
    TTempMemStream mem(owner, fmOpenRead, "C:\\out\\m.zip");
    EXPECT_FALSE(mem.Temporary());
    source.SetPosition(4);
    EXPECT_EQ(mem.CopyFrom(&source, 100), 6);
    TTempFileStream file(owner, fmCreate, "C:\\out\\n.zip", "C:\\tmp\\");
    EXPECT_EQ(file.CopyFrom(&source, 0), 10);
    cancel = true;  // leave C:\out\n.zip uncreated
}

}  // namespace
