// The compress driver and entry compression, driven through a small writer with a layout of its
// own: per entry a 32-byte header, the name and the data; at the end "TVND" and the entry count.
#include "core/Endian.h"
#include "core/plxBZip2.h"
#include "core/plxBase.h"
#include "core/plxCrypt.h"
#include "core/plxPPMDi1.h"
#include "core/plxStreams.h"
#include "support/ToolRun.h"
#include "tests/platform/win/FsTestSupport.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <sys/stat.h>

namespace {

constexpr std::uint16_t kHead = 32;

// Header: "TVE1", CRC, packed, unpacked, DOS time, attributes, method, flags (bit 0 encrypted),
// name length, 2 spare bytes.
class TTestWriter : public TCompBase {
public:
    TTestWriter()
    {
        FArcType = atZip;
        FClassDefaultExt = ".tva";
        SetDefaultExt("");
    }

    std::vector<std::string> Log;
    std::string FailIn;  // hook that throws, with FailName
    std::string FailName;
    bool ReadFailure = false;  // the failure is a read error of the input

    TArcType GetArcType(TStream32& s) override
    {
        std::uint8_t end[8];
        if (s.Size() < 8)
            return atUnknown;
        s.Seek64(-8, soEnd);
        const bool ok = s.Read(end, 8) == 8 && std::memcmp(end, "TVND", 4) == 0;
        s.SetPosition(0);
        return ok ? atZip : atUnknown;
    }
    std::uint16_t GetHeadSize() override { return kHead; }
    std::uint8_t* GetHeadPtr() override { return Head; }
    void CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& List) override
    {
        InitHeader();
        TCompBase::CompressFile(Output, Index, Ok, List);
    }
    void InitHeader() override
    {
        Log.push_back("InitHeader");
        std::memcpy(Head, CurrentItem->Header.data(), kHead);
        std::memcpy(Head, "TVE1", 4);
    }
    int WriteLargeSizeExtra(TStream32&, TCompressFileInfo&, int) override
    {
        MaybeFail("WriteLargeSizeExtra");
        return 0;
    }
    void FinishHeader(std::int64_t Packed) override
    {
        Log.push_back("FinishHeader");
        MaybeFail("FinishHeader");
        PutLE32(Head + 4, Crc32);
        PutLE32(Head + 8, std::uint32_t(Packed));
        PutLE32(Head + 12, std::uint32_t(UnpackedSize));
        PutLE16(Head + 24, MethodNumber);
        PutLE16(Head + 26, Encrypted ? 1 : 0);
        PutLE16(Head + 28, std::uint16_t(EncodedFileName().size()));
    }
    void UpdateEntryName(int Index, std::uint32_t, TCompressHeaderObj& List) override
    {
        Log.push_back("UpdateEntryName");
        List.GetItem(std::uint32_t(Index)).Header.assign(Head, Head + kHead);
    }
    void DoEnd() override { Log.push_back("DoEnd"); }
    void StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info) override
    {
        Item.Header.resize(kHead);
        PutLE32(&Item.Header[12], std::uint32_t(Info.UnpackedSize));
        PutLE32(&Item.Header[16], Info.DosDateTime);
        PutLE32(&Item.Header[20], Info.Attributes);
    }
    void ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info) override
    {
        Info.PackedSize = GetLE32(&Item.Header[8]);
        Info.UnpackedSize = GetLE32(&Item.Header[12]);
        Info.DosDateTime = GetLE32(&Item.Header[16]);
        Info.Attributes = GetLE32(&Item.Header[20]);
    }
    void CopyOldEntries(TStream32& Old, TCompressHeaderObj& List) override
    {
        Log.push_back("CopyOldEntries");
        const std::int64_t size = Old.Size();
        std::int64_t pos = 0;
        std::uint8_t h[kHead];
        while (pos + kHead <= size - 8) {
            Old.SetPosition(pos);
            if (Old.Read(h, kHead) != kHead || std::memcmp(h, "TVE1", 4) != 0)
                break;
            std::string name(GetLE16(h + 28), '\0');
            Old.Read(name.data(), std::int32_t(name.size()));
            TCompressFileInfo item;
            item.Action = eaCopy;
            item.Offset = pos;
            item.Header.assign(h, h + kHead);
            std::replace(name.begin(), name.end(), '/', '\\');
            if (Switch == swDelete && std::any_of(FFileSpec.begin(), FFileSpec.end(),
                                                  [&](const std::string& m) { return MatchesMask(name, m); })) {
                item.Action = eaLeaveOut;
                ++DeletedCount;
            }
            List.AddItem(item, name, 0, 0, nullptr);
            pos += kHead + std::int64_t(name.size()) + GetLE32(h + 8);
        }
    }
    std::int64_t GetEntryLength(TStream32&, TStream32&, TCompressFileInfo& Item) override
    {
        return kHead + GetLE16(&Item.Header[28]) + std::int64_t(GetLE32(&Item.Header[8]));
    }
    void CopyEntry(TStream32& Output, TStream32& Old, TCompressHeaderObj& List, int Index) override
    {
        TCompressFileInfo& item = List.GetItem(std::uint32_t(Index));
        std::uint8_t h[kHead];
        Old.ReadBuffer(h, kHead);
        Old.Seek64(GetLE16(h + 28), soCurrent);
        std::string name = ToUnixSeparators(List.Name(std::uint32_t(Index)));
        PutLE16(h + 28, std::uint16_t(name.size()));
        item.Offset = Output.Position();
        Output.WriteBuffer(h, kHead);
        Output.WriteBuffer(name.data(), std::int32_t(name.size()));
        Output.CopyFrom(&Old, GetLE32(h + 8));
        item.Header.assign(h, h + kHead);
    }
    void WriteEndMarker(TStream32& Output) override
    {
        Log.push_back("WriteEndMarker");
        Output.WriteBuffer("TVND\0\0\0\0", 8);
        EndWritten = true;
    }
    bool WriteEnding(TStream32*, TStream32& Output, TCompressHeaderObj& List) override
    {
        Log.push_back("WriteEnding");
        if (EndWritten)
            return true;
        std::uint8_t end[8] = {'T', 'V', 'N', 'D'};
        std::uint32_t n = 0;
        for (std::uint32_t i = 0; i < List.Count; ++i)
            n += List.GetItem(i).Action != eaLeaveOut;
        PutLE32(end + 4, n);
        Output.WriteBuffer(end, 8);
        return true;
    }
    void Finish(TCompressHeaderObj&) override { Log.push_back("Finish"); }

private:
    void MaybeFail(const std::string& hook)
    {
        if (FailIn != hook || !FileName.ends_with(FailName))
            return;
        if (ReadFailure)
            throw EReadError("test read failure");
        throw std::runtime_error("hook failed");
    }
    std::uint8_t Head[kHead] = {};
    bool EndWritten = false;
};

struct TEntry {
    std::string Name;
    std::uint32_t Crc = 0;
    std::uint16_t Method = 0;
    bool Encrypted = false;
    std::string Packed;  // as stored, encryption header included
};

// Reads the test layout; fails the test on anything malformed.
std::vector<TEntry> ReadArchive(const std::string& bytes)
{
    std::vector<TEntry> out;
    EXPECT_GE(bytes.size(), 8u);
    if (bytes.size() < 8)
        return out;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(bytes.substr(bytes.size() - 8, 4), "TVND");
    std::size_t pos = 0;
    while (pos + kHead <= bytes.size() - 8) {
        EXPECT_EQ(bytes.substr(pos, 4), "TVE1") << "at " << pos;
        if (bytes.substr(pos, 4) != "TVE1")
            break;
        TEntry e;
        const std::size_t nameLen = GetLE16(p + pos + 28), packed = GetLE32(p + pos + 8);
        e.Crc = GetLE32(p + pos + 4);
        e.Method = GetLE16(p + pos + 24);
        e.Encrypted = GetLE16(p + pos + 26) & 1;
        e.Name = bytes.substr(pos + kHead, nameLen);
        e.Packed = bytes.substr(pos + kHead + nameLen, packed);
        pos += kHead + nameLen + packed;
        out.push_back(e);
    }
    EXPECT_EQ(pos, bytes.size() - 8) << "bytes between the entries and the end";
    EXPECT_EQ(GetLE32(p + bytes.size() - 4), out.size());
    return out;
}

std::string Decode(const TEntry& e, const std::string& password, std::size_t size)
{
    std::string data = e.Packed;
    if (e.Encrypted) {
        TZipCipher cipher;
        cipher.InitDataKeys(password);
        EXPECT_GE(data.size(), 12u);
        cipher.DecryptBuffer(data.data(), data.size());
        EXPECT_EQ(std::uint8_t(data[11]), std::uint8_t(e.Crc >> 24)) << e.Name << ": check byte";
        data.erase(0, 12);
    }
    std::string out(size, '\0');
    switch (e.Method) {
    case 0:
        return data;
    case 8: {
        z_stream z{};
        inflateInit2(&z, -15);
        z.next_in = reinterpret_cast<Bytef*>(data.data());
        z.avail_in = uInt(data.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size() + (size == 0));
        EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << e.Name;
        EXPECT_EQ(z.total_in, data.size()) << e.Name << ": bytes after the deflate stream";
        out.resize(z.total_out);
        inflateEnd(&z);
        return out;
    }
    case 12: {
        unsigned int n = unsigned(size);
        EXPECT_EQ(BZ2_bzBuffToBuffDecompress(out.data(), &n, data.data(), unsigned(data.size()), 0, 0), BZ_OK);
        out.resize(n);
        return out;
    }
    case 98: {
        TPpmdCodec codec;
        std::size_t at = 0;
        std::string result;
        TPpmdCallbacks io;
        io.Read = [&](std::uint8_t* b, std::size_t n) {
            n = std::min(n, data.size() - at);
            std::memcpy(b, data.data() + at, n);
            at += n;
            return n;
        };
        io.Write = [&](const std::uint8_t* b, std::size_t n) { result.append(reinterpret_cast<const char*>(b), n); };
        EXPECT_EQ(codec.PPMdDecompress(io, data.size(), size), TCodecStatus::Ok) << e.Name;
        return result;
    }
    default:
        ADD_FAILURE() << "method " << e.Method;
        return {};
    }
}

std::string Text(std::size_t n)
{
    std::string s;
    for (int i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i % 97) + " of a text that compresses well\n";
    s.resize(n);
    return s;
}

class CompressDriver : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        std::filesystem::create_directories(home + "/tmp");
        std::filesystem::create_directories(home + "/data");
        archiveHost = home + "/out/a.tva";
        writer.SetTempDir("C:\\tmp\\");
        writer.DeleteOptions = doFinal;
        writer.OnError = [this](TObject*, const std::string& file, const std::string&, const std::string&, int code) {
            errors.push_back(code);
            errorFiles.push_back(file);
        };
    }

    std::string Data(const std::string& name) const { return home + "/data/" + name; }
    void Put(const std::string& name, const std::string& content, int ageSeconds = 100)
    {
        WriteHostFile(Data(name), content);
        const auto t = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(ageSeconds);
        std::filesystem::last_write_time(Data(name), t);
    }
    int Run(TSwitch sw, std::vector<std::string> spec = {"C:\\data\\*.*"})
    {
        writer.Switch = sw;
        writer.SetFileSpec(spec);
        writer.SetArchiveFile(archive);
        errors.clear();
        writer.Log.clear();
        return writer.Compress();
    }
    std::string ArchiveBytes() const { return ReadHostFile(archiveHost); }
    std::map<std::string, std::string> Contents(const std::string& password = "")
    {
        std::map<std::string, std::string> result;
        for (const auto& e : ReadArchive(ArchiveBytes())) {
            const std::string host = Data(e.Name);
            const std::size_t size = std::filesystem::exists(host) ? std::filesystem::file_size(host) : 1 << 20;
            result[e.Name] = Decode(e, password, size);
            EXPECT_EQ(e.Crc, Crc32Of(result[e.Name])) << e.Name;
        }
        return result;
    }
    bool Has(int code) const { return std::find(errors.begin(), errors.end(), code) != errors.end(); }

    TTestWriter writer;
    std::vector<int> errors;
    std::vector<std::string> errorFiles;
    std::string archive = "C:\\out\\a.tva";
    std::string archiveHost;

    void SetArchive(const std::string& win, const std::string& host)
    {
        archive = win;
        archiveHost = host;
    }
};

TEST_F(CompressDriver, NewArchiveHookOrderAndDefaults)
{
    Put("a.txt", Text(5000));
    Put("empty.txt", "");
    std::vector<std::string> events;
    writer.OnActivate = [&](TObject*) { events.push_back("activate"); };
    writer.OnDeactivate = [&](TObject*) { events.push_back("deactivate"); };
    writer.SetPassword("pw");
    writer.SetArchiveFile("C:\\out\\a");  // the folder is created and the default extension added
    EXPECT_EQ(writer.ArchiveFile(), "C:\\out\\a.tva");
    EXPECT_EQ(Run(swAdd), 2);
    EXPECT_TRUE(writer.ArchiveWritten);
    EXPECT_EQ(events, (std::vector<std::string>{"activate", "deactivate"}));
    // Every entry: header started, finished, recorded, ended; then the ending, then Finish.
    const std::vector<std::string> one = {"InitHeader", "FinishHeader", "UpdateEntryName", "DoEnd"};
    std::vector<std::string> expected;
    for (int i = 0; i < 2; ++i)
        expected.insert(expected.end(), one.begin(), one.end());
    expected.push_back("WriteEnding");
    expected.push_back("Finish");
    EXPECT_EQ(writer.Log, expected);
    const auto entries = ReadArchive(ArchiveBytes());
    for (const auto& e : entries)
        if (e.Name == "empty.txt") {
            EXPECT_TRUE(e.Method == 0 && !e.Encrypted && e.Packed.empty() && e.Crc == 0);
        }
    EXPECT_EQ(Contents("pw")["a.txt"], Text(5000));
    EXPECT_TRUE(std::filesystem::is_empty(home + "/tmp")) << "temporary output left behind";

    writer.SetDefaultExt("ZIPX");
    EXPECT_EQ(writer.DefaultExt(), ".zip");
    EXPECT_EQ(writer.ArchiveFile(), "C:\\out\\a.zip");
    writer.SetDefaultExt("");
    EXPECT_EQ(writer.DefaultExt(), ".tva");
}

TEST_F(CompressDriver, MethodsRoundTripWithAndWithoutPassword)
{
    const std::map<std::string, std::string> files = {{"text.txt", Text(200000)},
                                                      {"small.txt", Text(100)},
                                                      {"random100.bin", RandomBytes(100, 1)},
                                                      {"random.bin", RandomBytes(100000, 2)},
                                                      {"packed.zip", RandomBytes(3000, 3)},
                                                      {"tiny.txt", "abc"}};
    for (const auto& [name, content] : files)
        Put(name, content);
    for (TCompressMethod method : {cmStore, cmDeflate, cmBz2, cmPPMDi}) {
        for (const std::string password : {"", "geheim"}) {
            SCOPED_TRACE(std::to_string(int(method)) + " '" + password + "'");
            std::filesystem::remove(archiveHost);
            writer.CompressMethod = method;
            writer.SetPassword(password);
            ASSERT_EQ(Run(swAdd), int(files.size()));
            EXPECT_EQ(Contents(password), files);
            for (const auto& e : ReadArchive(ArchiveBytes())) {
                EXPECT_EQ(e.Encrypted, !password.empty()) << e.Name;
                const std::size_t header = e.Encrypted ? 12 : 0;
                const bool fallsBack = method == cmStore || method == cmDeflate;
                if (fallsBack && (e.Name == "packed.zip" || e.Name.starts_with("random"))) {
                    EXPECT_LE(e.Packed.size(), files.at(e.Name).size() + header + 2) << e.Name;
                }
                if (e.Name == "packed.zip" || (method == cmDeflate && e.Name.starts_with("random"))) {
                    EXPECT_EQ(e.Method, 0) << e.Name << " is stored";
                }
                if (e.Name == "text.txt") {
                    EXPECT_EQ(e.Method, std::uint16_t(method == cmStore     ? 0
                                                      : method == cmDeflate ? 8
                                                      : method == cmBz2     ? 12
                                                                            : 98));
                }
            }
            EXPECT_EQ(writer.CompressMethod, method) << "a stored entry changes no later entry";
        }
    }
    writer.SetPassword("");
    writer.CompressMethod = cmDeflate;
    writer.DeflateType = dtDeflateS;
    std::filesystem::remove(archiveHost);
    ASSERT_EQ(Run(swAdd), int(files.size()));
    for (const auto& e : ReadArchive(ArchiveBytes()))
        EXPECT_EQ(e.Method, 0);
    EXPECT_EQ(writer.CompressMethod, cmStore);
}

TEST_F(CompressDriver, ActionsOnAnExistingArchive)
{
    Put("a.txt", "alpha");
    Put("b.txt", "bravo");
    Put("c.txt", "charlie");
    ASSERT_EQ(Run(swAdd), 3);
    const std::string first = ArchiveBytes();

    // Nothing changed: nothing to do, the archive stays byte for byte.
    EXPECT_EQ(Run(swAdd), 0);
    EXPECT_TRUE(Has(25272));
    EXPECT_EQ(ArchiveBytes(), first);

    // A changed file replaces its entry when the handler agrees; a new one is added; the others
    // are copied unchanged.
    Put("b.txt", "bravo two", 50);
    Put("d.txt", "delta");
    writer.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                              std::int64_t, int, int, bool& replace) { replace = true; };
    EXPECT_EQ(Run(swAdd), 2);
    auto contents = Contents();
    EXPECT_EQ(contents, (std::map<std::string, std::string>{
                            {"a.txt", "alpha"}, {"b.txt", "bravo two"}, {"c.txt", "charlie"}, {"d.txt", "delta"}}));

    // Refresh: only files newer than their entries; new files are not added.
    Put("a.txt", "alpha two", 10);
    Put("e.txt", "echo");
    EXPECT_EQ(Run(swRefresh), 1);
    contents = Contents();
    EXPECT_EQ(contents["a.txt"], "alpha two");
    EXPECT_EQ(contents.count("e.txt"), 0u);
    std::filesystem::remove(Data("e.txt"));

    // Refused replacement: the old entry is kept under the name the handler offers.
    Put("c.txt", "charlie two", 5);
    writer.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                              std::int64_t, int, int, bool& replace) { replace = false; };
    writer.OnRenameDupeFile = [](TObject*, const std::string&, std::string& name, bool&) { name = "c-old.txt"; };
    EXPECT_EQ(Run(swAdd), 1);
    contents = Contents();
    EXPECT_EQ(contents["c-old.txt"], "charlie");
    EXPECT_EQ(contents["c.txt"], "charlie two");

    // A handler that only ever offers taken names ends after a bounded number of rounds.
    Put("d.txt", "delta two", 4);
    int rounds = 0;
    writer.OnRenameDupeFile = [&](TObject*, const std::string&, std::string& name, bool&) {
        ++rounds;
        name = "a.txt";
    };
    EXPECT_EQ(Run(swAdd), 0);
    EXPECT_GT(rounds, 1);
    EXPECT_LE(rounds, 1000);
    EXPECT_EQ(Contents()["d.txt"], "delta");

    // Delete: by stored name; deleting everything leaves a valid empty archive.
    EXPECT_EQ(Run(swDelete, {"c-old.txt"}), 1);
    EXPECT_EQ(Contents().count("c-old.txt"), 0u);
    EXPECT_EQ(Run(swDelete, {"*.*"}), 4);
    EXPECT_TRUE(ReadArchive(ArchiveBytes()).empty());
    EXPECT_NE(std::find(writer.Log.begin(), writer.Log.end(), "WriteEndMarker"), writer.Log.end());

    // Refresh and delete on a missing archive do nothing.
    std::filesystem::remove(archiveHost);
    EXPECT_EQ(Run(swRefresh), 0);
    EXPECT_TRUE(Has(26859));
    EXPECT_FALSE(std::filesystem::exists(archiveHost));
}

TEST_F(CompressDriver, FailuresNeverReplaceTheArchive)
{
    // A small removable medium holds the archive; the temporary output is on C:.
    AddRemovableDrive('E', "media", 6000);
    SetArchive("E:\\a.tva", root + "/media/a.tva");

    Put("a.txt", "alpha");
    ASSERT_EQ(Run(swMove), 1);
    EXPECT_FALSE(std::filesystem::exists(Data("a.txt"))) << "moved after success";
    const std::string before = ArchiveBytes();

    Put("big.bin", RandomBytes(20000, 7));
    EXPECT_EQ(Run(swMove), 0);
    EXPECT_TRUE(Has(25156));
    EXPECT_EQ(ArchiveBytes(), before);
    EXPECT_TRUE(std::filesystem::exists(Data("big.bin"))) << "a source is deleted only after success";
    EXPECT_EQ(NamesIn(root + "/media"), std::set<std::string>{"a.tva"});
    std::filesystem::remove(Data("big.bin"));

    // Cancel in the middle of the run.
    Put("b.txt", "bravo");
    Put("c.txt", "charlie");
    writer.OnBegin = [&](TObject*, const std::string& name, int, bool&) {
        if (name == "c.txt" || name == "b.txt")
            writer.SetCancel(true);
    };
    EXPECT_EQ(Run(swMove), 0);
    EXPECT_EQ(ArchiveBytes(), before);
    EXPECT_TRUE(std::filesystem::exists(Data("b.txt")) && std::filesystem::exists(Data("c.txt")));
    writer.OnBegin = nullptr;

    // An exception in a writer's hook ends the run with a report; nothing is replaced.
    writer.FailIn = "FinishHeader";
    writer.FailName = "c.txt";
    EXPECT_EQ(Run(swMove), 0);
    EXPECT_FALSE(errors.empty());
    EXPECT_EQ(ArchiveBytes(), before);
    EXPECT_TRUE(std::filesystem::exists(Data("b.txt")) && std::filesystem::exists(Data("c.txt")));

    // A read error in one entry leaves that entry out, and nothing of it stays in the output.
    writer.ReadFailure = true;
    writer.FailIn = "WriteLargeSizeExtra";
    EXPECT_EQ(Run(swMove), 1);
    EXPECT_TRUE(Has(25236));
    auto contents = Contents();
    EXPECT_EQ(contents, (std::map<std::string, std::string>{{"a.txt", "alpha"}, {"b.txt", "bravo"}}));
    EXPECT_FALSE(std::filesystem::exists(Data("b.txt")));
    EXPECT_TRUE(std::filesystem::exists(Data("c.txt"))) << "the failed entry's source stays";
    EXPECT_TRUE(std::filesystem::is_empty(home + "/tmp"));
}

// A move that verifies deletes each source whose stored name the new archive holds, however many
// there are, and keeps the one whose entry failed; the entries' files are read back.
TEST_F(CompressDriver, MoveWithVerifyDeletesOnlyWhatTheArchiveHolds)
{
    std::map<std::string, std::string> moved;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        moved[name] = Text(std::size_t(50 + i));
        Put(name, moved[name]);
    }
    Put("bad.txt", "unreadable");
    writer.VerifyBeforeDelete = true;
    writer.ReadFailure = true;
    writer.FailIn = "WriteLargeSizeExtra";
    writer.FailName = "bad.txt";
    std::vector<std::string> deleted;
    writer.OnDeleteFile = [&](TObject*, const std::string& path, int, int) { deleted.push_back(path); };
    ASSERT_EQ(Run(swMove), 300);
    EXPECT_TRUE(Has(25236));
    EXPECT_EQ(deleted.size(), 300u);
    for (const auto& [name, content] : moved)
        EXPECT_FALSE(std::filesystem::exists(Data(name))) << name;
    EXPECT_TRUE(std::filesystem::exists(Data("bad.txt"))) << "the failed entry's source stays";
    // The sources are gone, so Contents() reads each entry back by its length in the archive.
    for (const auto& e : ReadArchive(ArchiveBytes()))
        EXPECT_EQ(Decode(e, "", moved[e.Name].size()), moved[e.Name]) << e.Name;
    EXPECT_EQ(ReadArchive(ArchiveBytes()).size(), 300u);
}

TEST_F(CompressDriver, MoveWithVerifyOfSeveralFoldersByItemDeletesEveryFolderSources)
{
    // Each folder's names are relative to that folder: the check must use the names as written.
    Put("one/a.txt", "alpha");
    Put("two/b.txt", "bravo");
    Put("two/c.txt", "charlie");
    writer.VerifyBeforeDelete = true;
    writer.RelativeDir = byItem;
    ASSERT_EQ(Run(swMove, {"C:\\data\\one\\*.*", "C:\\data\\two\\*.*"}), 3);
    std::set<std::string> names;
    for (const auto& entry : ReadArchive(ArchiveBytes()))
        names.insert(entry.Name);
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
    for (const char* moved : {"one/a.txt", "two/b.txt", "two/c.txt"})
        EXPECT_FALSE(std::filesystem::exists(Data(moved))) << moved;
}

TEST_F(CompressDriver, ArchiveIsNeverAddedToItselfAndANonArchiveIsRefused)
{
    SetArchive("C:\\data\\self.tva", Data("self.tva"));
    Put("a.txt", "alpha");
    writer.SetTempDir("C:\\data\\");  // the temporary output lies in the scanned folder too
    for (TStreamType type : {stFile, stMemory}) {
        writer.StreamType = type;
        std::filesystem::remove(archiveHost);
        ASSERT_EQ(Run(swAdd), 1);
        Put("b.txt", "bravo" + std::to_string(int(type)), 1);
        ASSERT_EQ(Run(swAdd), 1);
        std::set<std::string> names;
        for (const auto& entry : ReadArchive(ArchiveBytes()))
            names.insert(entry.Name);
        EXPECT_EQ(names, (std::set<std::string>{"a.txt", "b.txt"}));
        std::filesystem::remove(Data("b.txt"));
    }
    // Named in another case it is still the same file.
    SetArchive("C:\\DATA\\Self.TVA", Data("self.tva"));
    Put("c.txt", "charlie", 1);
    ASSERT_EQ(Run(swAdd), 1);
    std::set<std::string> names;
    for (const auto& entry : ReadArchive(ArchiveBytes()))
        names.insert(entry.Name);
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
    std::filesystem::remove(Data("c.txt"));
    EXPECT_EQ(NamesIn(home + "/data"), (std::set<std::string>{"a.txt", "self.tva"}));

    const std::string notes = "these are not an archive\n";
    WriteHostFile(home + "/out/notes.tva", notes);
    SetArchive("C:\\out\\notes.tva", home + "/out/notes.tva");
    writer.SetFileSpec({"C:\\data\\a.txt"});
    EXPECT_EQ(Run(swAdd, {"C:\\data\\a.txt"}), 0);
    EXPECT_TRUE(Has(25244));
    EXPECT_EQ(ArchiveBytes(), notes);
}

TEST_F(CompressDriver, StoredNames)
{
    writer.BaseDir = "C:\\data\\proj\\";
    const std::string path = "C:\\data\\proj\\sub\\a.txt";
    const std::vector<std::pair<TStoredDirNames, std::string>> cases = {{sdNone, "a.txt"},
                                                                        {sdAbsolute, path},
                                                                        {sdAbsoluteNoDrv, "\\data\\proj\\sub\\a.txt"},
                                                                        {sdAbsoluteNoRoot, "data\\proj\\sub\\a.txt"},
                                                                        {sdRelative, "sub\\a.txt"},
                                                                        {sdRelativeStoreStart, "proj\\sub\\a.txt"}};
    for (const auto& [mode, expected] : cases) {
        writer.StoredDirNames = mode;
        writer.SetEntryName(path);
        EXPECT_EQ(writer.FileName, expected) << int(mode);
    }
    writer.StoredDirNames = sdAbsoluteNoDrv;
    writer.SetEntryName("\\\\server\\share\\x\\y.txt");
    EXPECT_EQ(writer.FileName, "\\x\\y.txt");
}

}  // namespace
