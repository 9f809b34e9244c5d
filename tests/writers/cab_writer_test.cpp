// The cabinet writer and the library's FCI against the cabinet tools: our cabinets (stored and
// MSZIP, folders, Czech names, a set cut by a size limit) pass cabextract, gcab and 7-Zip and
// extract to the source; an update keeps the old entries; a failed run leaves the old cabinet.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "readers/plxUnCab.h"
#include "support/HostTree.h"
#include "support/Reports.h"
#include "support/ToolRun.h"
#include "writers/plxMakeCab.h"

namespace fs = std::filesystem;

namespace {

class TMakeCabWithoutLibrary : public TMakeCab {
public:
    TMakeCabWithoutLibrary() { FLibrary = &Absent; }
    static inline const TCabinetLibrary Absent{};
};

class CabWriterTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        fs::create_directories(home + "/tmp");
        src = fs::path(home) / "src";
        fs::create_directories(src / "sub" / "hluboko");
        WriteWholeFile(src / "text.txt", MixedBytes(300000, 1));
        const std::string noise = RandomBytes(90000, 2);
        WriteWholeFile(src / "noise.bin", std::vector<std::uint8_t>(noise.begin(), noise.end()));
        WriteWholeFile(src / "sub" / "žluťoučký kůň.txt", MixedBytes(3000, 3));
        WriteWholeFile(src / "sub" / "hluboko" / "prázdný", {});
    }

    void Bind(TMakeCab& cab, const std::string& archive, const std::vector<std::string>& specs)
    {
        reports.clear();
        cab.OnError = CollectCodes(reports);
        cab.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                               std::int64_t, int, int, bool& replace) { replace = true; };
        cab.SetTempDir("C:\\tmp");
        cab.RecurseDirs = true;
        cab.StoredDirNames = sdRelative;
        cab.RelativeDir = byItem;
        cab.SetFileSpec(specs);
        cab.SetArchiveFile(archive);
    }

    int Make(const std::string& archive, const std::vector<std::string>& specs, TCompressMethod method)
    {
        TMakeCab cab;
        Bind(cab, archive, specs);
        cab.CompressMethod = method;
        return cab.Compress();
    }

    std::map<std::string, std::string> OursExtracted(const fs::path& cabinet, const std::string& out)
    {
        TUnCab un;
        un.OnError = CollectCodes(reports);
        un.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
        un.CreateStoredDirs = true;
        un.SetTempDir("C:\\tmp");
        un.SetArchiveFile(cabinet.string());
        un.SetExtractDir("C:\\" + out);
        fs::create_directories(home + "/" + out);
        un.Extract();
        return HostTree(fs::path(home) / out);
    }

    std::map<std::string, std::string> ToolExtracted(const std::string& command, const std::string& out)
    {
        const fs::path dir = fs::path(home) / out;
        fs::create_directories(dir);
        EXPECT_EQ(std::system(("cd " + ShellQuote(dir.string()) + " && " + command + " >/dev/null 2>&1").c_str()), 0)
            << command;
        return HostTree(dir);
    }

    // The source without its empty folder entries, which a cabinet cannot hold.
    std::map<std::string, std::string> SourceFiles() { return FilesOnly(HostTree(src)); }

    fs::path src;
    std::vector<int> reports;
};

TEST_F(CabWriterTest, OurCabinetsPassTheToolsAndExtractToTheSource)
{
    if (!HaveTool("cabextract") || !HaveTool("gcab") || !HaveTool("7zz"))
        GTEST_SKIP() << "cabextract, gcab or 7zz missing";
    for (const TCompressMethod method : {cmStore, cmMsZip}) {
        SCOPED_TRACE(int(method));
        const std::string name = method == cmStore ? "stored.cab" : "mszip.cab";
        const fs::path cab = fs::path(home) / name;
        ASSERT_EQ(Make("C:\\" + name, {"C:\\src\\*"}, method), 4);
        EXPECT_TRUE(reports.empty());
        const std::string q = ShellQuote(cab.string());
        EXPECT_EQ(std::system(("cabextract -t " + q + " >/dev/null 2>&1").c_str()), 0);
        EXPECT_EQ(std::system(("gcab -t " + q + " >/dev/null 2>&1").c_str()), 0);
        EXPECT_EQ(std::system(("7zz t " + q + " >/dev/null 2>&1").c_str()), 0);
        const auto expected = SourceFiles();
        EXPECT_EQ(FilesOnly(ToolExtracted("cabextract -q " + q, name + ".cx")), expected);
        EXPECT_EQ(FilesOnly(ToolExtracted("gcab -x " + q, name + ".gcab")), expected);
        EXPECT_EQ(FilesOnly(OursExtracted(cab, name + ".ours")), expected);
        if (method == cmMsZip) {
            EXPECT_LT(fs::file_size(cab), fs::file_size(fs::path(home) / "stored.cab") * 3 / 4);
        }
    }
}

TEST_F(CabWriterTest, AnUpdateKeepsTheOldEntriesAndAFailedOneLeavesTheCabinet)
{
    if (!HaveTool("cabextract"))
        GTEST_SKIP() << "cabextract missing";
    const fs::path cab = fs::path(home) / "u.cab";
    ASSERT_EQ(Make("C:\\u.cab", {"C:\\src\\*"}, cmMsZip), 4);
    fs::create_directories(fs::path(home) / "more");
    WriteWholeFile(fs::path(home) / "more" / "nový.txt", MixedBytes(5000, 9));
    ASSERT_EQ(Make("C:\\u.cab", {"C:\\more\\*"}, cmMsZip), 1);
    auto expected = SourceFiles();
    expected["nový.txt"] = HostTree(fs::path(home) / "more").at("nový.txt");
    EXPECT_EQ(FilesOnly(ToolExtracted("cabextract -q " + ShellQuote(cab.string()), "cx1")), expected);

    // A changed file replaces its entry; the others stay.
    WriteWholeFile(src / "text.txt", MixedBytes(1000, 7));
    ASSERT_EQ(Make("C:\\u.cab", {"C:\\src\\text.txt"}, cmStore), 1);
    expected["text.txt"] = HostTree(src).at("text.txt");
    EXPECT_EQ(FilesOnly(ToolExtracted("cabextract -q " + ShellQuote(cab.string()), "cx2")), expected);

    // LZX and Quantum are not written: refused by number, the cabinet as it was.
    const std::vector<std::uint8_t> before = ReadWholeFile(cab);
    WriteWholeFile(fs::path(home) / "more" / "další.txt", MixedBytes(500, 10));
    for (const TCompressMethod method : {cmLzx, cmQuantum}) {
        EXPECT_EQ(Make("C:\\u.cab", {"C:\\more\\*"}, method), 0);
        EXPECT_EQ(reports, std::vector<int>{E_UNSUPPORTEDMETHOD});
        EXPECT_EQ(ReadWholeFile(cab), before);
    }
    EXPECT_EQ(Make("C:\\fresh.cab", {"C:\\more\\*"}, cmLzx), 0);
    EXPECT_FALSE(fs::exists(fs::path(home) / "fresh.cab"));
    // A damaged old cabinet is never rewritten without its entries.
    std::vector<std::uint8_t> damaged = before;
    damaged[damaged.size() / 2] ^= 0x55;
    WriteWholeFile(cab, damaged);
    EXPECT_EQ(Make("C:\\u.cab", {"C:\\more\\*"}, cmMsZip), 0);
    EXPECT_FALSE(reports.empty());
    EXPECT_EQ(ReadWholeFile(cab), damaged);
    // Deleting from a cabinet is not offered.
    TMakeCab deleter;
    Bind(deleter, "C:\\u.cab", {"text.txt"});
    deleter.Switch = swDelete;
    EXPECT_EQ(deleter.Compress(), 0);
    EXPECT_EQ(reports, std::vector<int>{E_UNSUPPORTEDARCTYPE});
}

TEST_F(CabWriterTest, SettingsAndAbsentLibrary)
{
    TMakeCab cab;
    cab.SetLzxLevel(30);
    cab.SetQuantumMemory(5);
    cab.SetQuantumLevel(0);
    EXPECT_EQ(cab.LzxLevel(), 21);
    EXPECT_EQ(cab.QuantumMemory(), 10);
    EXPECT_EQ(cab.QuantumLevel(), 1);
    cab.CompressMethod = cmLzx;
    EXPECT_EQ(cab.CompressionTypeWord(), (21 << 8) | 3);
    cab.CompressMethod = cmQuantum;
    cab.QuantumType = ctLzx;
    EXPECT_EQ(cab.CompressionTypeWord(), (10 << 8) | (1 << 4) | 2);  // Quantum whatever the type says
    EXPECT_TRUE(win::SameText(cab.DefaultExt(), ".cab"));

    TMakeCabWithoutLibrary absent;
    Bind(absent, "C:\\none.cab", {"C:\\src\\*"});
    EXPECT_EQ(absent.Compress(), 0);
    EXPECT_EQ(reports, std::vector<int>{E_CABINETDLL});
    EXPECT_FALSE(fs::exists(fs::path(home) / "none.cab"));
}

// ---- the library's FCI driven directly: a set cut by a size limit ----

int HostFlags(int flags)
{
    int f = (flags & CAB_O_RDWR) ? O_RDWR : (flags & CAB_O_WRONLY) ? O_WRONLY : O_RDONLY;
    if (flags & CAB_O_CREAT)
        f |= O_CREAT;
    if (flags & CAB_O_TRUNC)
        f |= O_TRUNC;
    return f;
}

struct TSetState {
    std::string Folder;
    int Next = 1;
};

extern "C" {
int Placed(CCAB*, char*, CAB_LONG, CAB_BOOL, void*)
{
    return 0;
}
void* Alloc(CAB_ULONG n)
{
    return std::malloc(n);
}
void Free(void* p)
{
    std::free(p);
}
CAB_INT_PTR Open(char* name, int flags, int, int* err, void*)
{
    const int fd = ::open(name, HostFlags(flags), 0600);
    *err = fd < 0 ? errno : 0;
    return fd < 0 ? -1 : fd;
}
CAB_UINT Read(CAB_INT_PTR h, void* b, CAB_UINT n, int* err, void*)
{
    const ssize_t r = ::read(int(h), b, n);
    *err = r < 0 ? errno : 0;
    return r < 0 ? CAB_UINT(-1) : CAB_UINT(r);
}
CAB_UINT Write(CAB_INT_PTR h, void* b, CAB_UINT n, int* err, void*)
{
    const ssize_t r = ::write(int(h), b, n);
    *err = r < 0 ? errno : 0;
    return r < 0 ? CAB_UINT(-1) : CAB_UINT(r);
}
int Close(CAB_INT_PTR h, int* err, void*)
{
    *err = 0;
    return ::close(int(h));
}
CAB_LONG Seek(CAB_INT_PTR h, CAB_LONG d, int o, int* err, void*)
{
    const off_t r = ::lseek(int(h), d, o == 0 ? SEEK_SET : o == 1 ? SEEK_CUR : SEEK_END);
    *err = r < 0 ? errno : 0;
    return CAB_LONG(r);
}
int Delete(char* name, int* err, void*)
{
    *err = 0;
    return ::unlink(name);
}
CAB_BOOL TempName(char* buffer, int size, void* pv)
{
    static int n = 0;
    const std::string name = static_cast<TSetState*>(pv)->Folder + "/fci" + std::to_string(++n) + ".tmp";
    if (int(name.size()) >= size)
        return 0;
    std::strcpy(buffer, name.c_str());
    return 1;
}
CAB_BOOL NextCab(CCAB* cab, CAB_ULONG, void* pv)
{
    auto* state = static_cast<TSetState*>(pv);
    std::snprintf(cab->szCab, sizeof cab->szCab, "set%d.cab", ++state->Next);
    return 1;
}
CAB_LONG Status(CAB_UINT, CAB_ULONG, CAB_ULONG, void*)
{
    return 0;
}
CAB_INT_PTR OpenInfo(char* name, CAB_USHORT* date, CAB_USHORT* time, CAB_USHORT* attribs, int* err, void* pv)
{
    *date = (46 << 9) | (12 << 5) | 6;
    *time = (12 << 11);
    *attribs = 0x20;
    return Open(name, CAB_O_RDONLY, 0, err, pv);
}
}

TEST_F(CabWriterTest, ASizeLimitCutsASetThatTheToolsAndWeReadWhole)
{
    if (!HaveTool("cabextract"))
        GTEST_SKIP() << "cabextract missing";
    const TCabinetLibrary& lib = CabinetLibrary();
    ASSERT_TRUE(lib.Loaded);
    const fs::path out = fs::path(home) / "set";
    fs::create_directories(out);
    TSetState state{out.string()};
    for (const CAB_USHORT type : {tcompTYPE_MSZIP, tcompTYPE_NONE}) {
        SCOPED_TRACE(type);
        for (const auto& e : fs::directory_iterator(out))
            fs::remove(e.path());
        state.Next = 1;
        CCAB ccab{};
        ccab.cb = 60000;
        ccab.cbFolderThresh = 0x7FFFFFFF;
        ccab.setID = 4711;
        std::strcpy(ccab.szCab, "set1.cab");
        std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s/", out.string().c_str());
        ERF erf{};
        HFCI fci =
            lib.FCICreate(&erf, Placed, Alloc, Free, Open, Read, Write, Close, Seek, Delete, TempName, &ccab, &state);
        ASSERT_NE(fci, nullptr);
        for (const char* name : {"text.txt", "noise.bin", "sub/žluťoučký kůň.txt", "sub/hluboko/prázdný"}) {
            std::string path = (src / name).string(), stored = name;
            std::replace(stored.begin(), stored.end(), '/', '\\');
            EXPECT_TRUE(lib.FCIAddFile(fci, path.data(), stored.data(), 0, NextCab, Status, OpenInfo, type));
        }
        EXPECT_TRUE(lib.FCIFlushCabinet(fci, 0, NextCab, Status));
        EXPECT_TRUE(lib.FCIDestroy(fci));
        EXPECT_GE(state.Next, 3);  // at least two cabinets, each within the limit
        for (int i = 1; i <= state.Next; ++i) {
            const fs::path part = out / ("set" + std::to_string(i) + ".cab");
            ASSERT_TRUE(fs::exists(part)) << part;
            EXPECT_LE(fs::file_size(part), 60000u);
        }
        const std::string first = ShellQuote((out / "set1.cab").string());
        EXPECT_EQ(std::system(("cabextract -t " + first + " >/dev/null 2>&1").c_str()), 0);
        auto expected = SourceFiles();
        // The names went in without the UTF-8 attribute: the tools read them as Latin-1, we as OEM.
        const auto contents = [](const std::map<std::string, std::string>& tree) {
            std::multiset<std::string> c;
            for (const auto& [n, b] : tree)
                if (n.back() != '/')
                    c.insert(b);
            return c;
        };
        const std::string tag = type == tcompTYPE_NONE ? "s" : "z";
        EXPECT_TRUE(contents(ToolExtracted("cabextract -q " + first, "cx" + tag)) == contents(expected));
        EXPECT_TRUE(contents(OursExtracted(out / "set1.cab", "ours" + tag)) == contents(expected));
        EXPECT_TRUE(reports.empty());
    }

    // The writer passes its part size to the library: the set extracts whole, names and all.
    const fs::path w = fs::path(home) / "w";
    fs::create_directories(w);
    for (const bool named : {true, false}) {
        SCOPED_TRACE(named);
        TMakeCab cab;
        Bind(cab, "C:\\w\\w1.cab", {"C:\\src\\*"});
        cab.SetPartSize(60000);
        EXPECT_EQ(cab.GetPartSize(), 60000);
        int asked = 1;
        if (named)
            cab.OnGetNextCabinet = [&asked](TObject*, CCAB& ccab, std::string& name, int, bool& abort) {
                EXPECT_EQ(int(ccab.iCab), asked);
                name = "C:\\w\\w" + std::to_string(++asked) + ".cab";
                abort = false;
            };
        if (!named) {
            // Without a handler the set cannot go on: the run says why and writes nothing.
            EXPECT_EQ(cab.Compress(), 0);
            EXPECT_NE(std::find(reports.begin(), reports.end(), E_REQUIREDEVENT), reports.end());
            EXPECT_FALSE(fs::exists(w / "w1.cab") || fs::exists(w / "w2.cab"));
            break;
        }
        ASSERT_EQ(cab.Compress(), 4);
        EXPECT_TRUE(reports.empty());
        ASSERT_GE(asked, 3);
        for (int i = 1; i <= asked; ++i) {
            const fs::path part = w / ("w" + std::to_string(i) + ".cab");
            ASSERT_TRUE(fs::exists(part)) << part;
            EXPECT_LE(fs::file_size(part), 60000u);
        }
        const std::string first = ShellQuote((w / "w1.cab").string());
        EXPECT_EQ(std::system(("cabextract -t " + first + " >/dev/null 2>&1").c_str()), 0);
        EXPECT_EQ(FilesOnly(ToolExtracted("cabextract -q " + first, "wcx")), SourceFiles());
        EXPECT_EQ(FilesOnly(OursExtracted(w / "w1.cab", "wours")), SourceFiles());
        for (int i = 1; i <= asked; ++i)
            fs::remove(w / ("w" + std::to_string(i) + ".cab"));
    }
    TMakeCab unlimited;
    unlimited.SetPartSize(0);
    EXPECT_EQ(unlimited.GetPartSize(), 0x7FFFFFFF);
    unlimited.SetPartSize(10);
    EXPECT_EQ(unlimited.GetPartSize(), 1024);
}

}  // namespace
