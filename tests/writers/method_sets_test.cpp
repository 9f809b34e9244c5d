// Every writer against every method: a method of its set round-trips through the format's real
// tool (our own reader for BH, which no other tool reads); any other is refused with 25326 before
// anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "readers/plxUnBh.h"
#include "support/Reports.h"
#include "support/ToolRun.h"
#include "writers/BlakHole.h"
#include "writers/Lha.h"
#include "writers/plxBZip.h"
#include "writers/plxGZip.h"
#include "writers/plxJar.h"
#include "writers/plxMakeCab.h"
#include "writers/plxTar.h"
#include "writers/plxTarBZ.h"
#include "writers/plxTarGZ.h"
#include "writers/plxUUEncode.h"
#include "writers/plxZip.h"

namespace fs = std::filesystem;

namespace {

struct TWriterCase {
    const char* Name;
    std::function<std::unique_ptr<TCompBase>()> Make;
    const char* Output;  // under out/
    // Shell command run in an empty folder x/ beside out/ that leaves a.txt in it (uudeview reads
    // all three codes of the text writer).
    const char* Unpack;
    const char* Tool;
};

const TWriterCase kWriters[] = {
    {"zip", [] { return std::make_unique<TZip>(); }, "x.zip", "7zz x -y ../out/x.zip >/dev/null", "7zz"},
    {"jar", [] { return std::make_unique<TJar>(); }, "x.jar", "unzip -qq ../out/x.jar", "unzip"},
    {"tar", [] { return std::make_unique<TTar>(); }, "x.tar", "tar -xf ../out/x.tar", "tar"},
    {"tgz", [] { return std::make_unique<TTarGZ>(); }, "x.tgz", "tar -xzf ../out/x.tgz", "tar"},
    {"tbz", [] { return std::make_unique<TTarBZ>(); }, "x.tbz", "tar -xjf ../out/x.tbz", "tar"},
    {"gz", [] { return std::make_unique<TGZip>(); }, "a.gz", "gzip -dc ../out/a.gz > a.txt", "gzip"},
    {"bz2", [] { return std::make_unique<TBZip>(); }, "a.txt.bz2", "bzip2 -dc ../out/a.txt.bz2 > a.txt", "bzip2"},
    {"lha", [] { return std::make_unique<TLha>(); }, "x.lha", "lhasa xq ../out/x.lha", "lhasa"},
    {"bh", [] { return std::make_unique<TBlakHole>(); }, "x.bh", "", ""},
    {"cab", [] { return std::make_unique<TMakeCab>(); }, "x.cab", "cabextract -q ../out/x.cab", "cabextract"},
    {"uue", [] { return std::make_unique<TUUEncode>(); }, "x.uue", "uudeview -i -q ../out/x.uue >/dev/null",
     "uudeview"},
};

class MethodSets : public FsTest {};

}  // namespace

TEST_F(MethodSets, EveryWriterWritesItsMethodsAndRefusesTheRest)
{
    for (const char* tool : {"7zz", "unzip", "tar", "gzip", "bzip2", "lhasa", "cabextract", "uudeview"})
        if (!HaveTool(tool))
            GTEST_SKIP() << tool << " missing";
    const fs::path h = home;
    fs::create_directories(h / "src");
    fs::create_directories(h / "tmp");
    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "line " + std::to_string(i * 7919 % 1000) + " of the method matrix\n";
    WriteWholeFile(h / "src" / "a.txt", std::vector<std::uint8_t>(text.begin(), text.end()));

    for (const TWriterCase& w : kWriters) {
        for (int m = 0; m < TEnumCount<TCompressMethod>::value; ++m) {
            const auto method = TCompressMethod(m);
            const std::string what = std::string(w.Name) + " x " + std::string(CompressMethodName(method));
            fs::remove_all(h / "out");
            fs::remove_all(h / "x");
            fs::create_directories(h / "out");
            fs::create_directories(h / "x");
            std::unique_ptr<TCompBase> writer = w.Make();
            std::vector<int> codes;
            writer->OnError = CollectCodes(codes);
            writer->SetTempDir("C:\\tmp");
            writer->StoredDirNames = sdNone;
            writer->CompressMethod = method;
            const bool inSet = writer->MethodAvailable(method);
            if (auto* uu = dynamic_cast<TUUEncode*>(writer.get())) {
                uu->SetArchiveFile("C:\\src\\a.txt");
                uu->SetOutFilename("C:\\out\\x.uue");
            } else if (auto* gz = dynamic_cast<TGZip*>(writer.get())) {
                gz->DefaultDir = "C:\\out";
                gz->SetFileSpec({"C:\\src\\a.txt"});
            } else if (auto* bz = dynamic_cast<TBZip*>(writer.get())) {
                bz->OutputDir = "C:\\out";
                bz->SetFileSpec({"C:\\src\\a.txt"});
            } else {
                writer->SetFileSpec({"C:\\src\\a.txt"});
                writer->SetArchiveFile(std::string("C:\\out\\") + w.Output);
            }
            const int added = writer->Compress();
            if (!inSet) {
                EXPECT_EQ(added, 0) << what;
                EXPECT_EQ(codes, std::vector<int>{E_UNSUPPORTEDMETHOD}) << what;
                EXPECT_TRUE(fs::is_empty(h / "out")) << what << ": written although refused";
                continue;
            }
            ASSERT_EQ(added, 1) << what;
            EXPECT_TRUE(codes.empty()) << what;
            if (std::string(w.Name) == "bh") {
                TUnBh un;
                std::vector<int> read;
                un.OnError = CollectCodes(read);
                un.SetFileSpec({"*.*"});
                un.SetTempDir("C:\\tmp");
                un.SetArchiveFile(std::string("C:\\out\\") + w.Output);
                un.SetExtractDir("C:\\x");
                EXPECT_EQ(un.Extract(), 1) << what;
                EXPECT_TRUE(read.empty()) << what;
            } else {
                int rc = -1;
                const std::string said =
                    CaptureCommand("cd '" + (h / "x").string() + "' && " + w.Unpack + " 2>&1", &rc);
                EXPECT_EQ(rc, 0) << what << ": " << said;
            }
            EXPECT_TRUE(ReadText(h / "x" / "a.txt") == text) << what;
        }
    }
}
