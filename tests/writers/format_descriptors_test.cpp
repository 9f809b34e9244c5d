// Every archive format's descriptor against what the engine does: each type has one row, each
// format that is read has its walker and extractor, each that is written its writer; and a sample
// of every format (made by the real tool where there is one) is detected as its type, listed and
// tested, and every writer's archive comes back whole.
#include "core/ArcDescriptor.h"
#include "core/Err_Msgs.h"
#include "readers/ExtractorFor.h"
#include "readers/FormatReaders.h"
#include "readers/Pelix.h"
#include "readers/plxZipCheck.h"
#include "support/ToolRun.h"
#include "writers/BlakHole.h"
#include "writers/FormatWriters.h"
#include "writers/Lha.h"
#include "writers/WriterForType.h"
#include "writers/plxBZip.h"
#include "writers/plxGZip.h"
#include "writers/plxTar.h"
#include "writers/plxUUEncode.h"

#include <gtest/gtest.h>

#include <set>

namespace fs = std::filesystem;

namespace {

std::string Key(TArcType Type)
{
    const TArcDescriptor* format = DescriptorOf(Type);
    return format ? std::string(format->Key) : "none";
}

// What the engine makes of one archive file.
struct TSeen {
    TArcType Type = atNA;
    int Listed = 0;  // files, folders left out
    int Tested = 0;
    int Passed = 0;
    std::vector<int> Codes;
};

TSeen Examine(const fs::path& Archive)
{
    TSeen seen;
    const auto collect = [&seen](TObject*, const std::string&, const std::string&, const std::string&, int code) {
        seen.Codes.push_back(code);
    };
    TPelix pelix;
    pelix.OnError = collect;
    pelix.OnRead = [&seen](TObject* sender, std::int64_t, int) {
        seen.Listed += (static_cast<TZipCommon*>(sender)->ExternalAttr & 0x10) ? 0 : 1;
    };
    pelix.SetArchiveFile(Archive.string());
    seen.Type = pelix.ArcType();
    if (seen.Type <= atUnknown || !pelix.Activate())
        return seen;
    if (!HasArcFlag(seen.Type, arcflag::Test))
        return seen;
    TZipCheck check;
    check.OnError = collect;
    check.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
    check.OnStatus = [&seen](TObject*, const std::string&, bool pass) {
        ++seen.Tested;
        seen.Passed += pass ? 1 : 0;
    };
    check.SetArchiveFile(Archive.string());
    check.Activate();
    return seen;
}

std::string EnginePath(const fs::path& Host)
{
    std::string s = Host.lexically_normal().string();
    std::replace(s.begin(), s.end(), '/', '\\');
    return "Z:" + s;
}

// Writes In's files (a.txt and sub/b.txt) with Row's writer; the one-file writers take a.txt.
bool WriteWith(const TFormatWriter& Row, const fs::path& In, const fs::path& Archive)
{
    std::unique_ptr<TCompBase> writer = Row.New();
    bool failed = false;
    writer->OnError = [&failed](TObject*, const std::string&, const std::string&, const std::string&, int) {
        failed = true;
    };
    writer->RecurseDirs = true;
    writer->StoredDirNames = sdRelative;
    writer->RelativeDir = byItem;
    if (auto* encoder = dynamic_cast<TUUEncode*>(writer.get())) {
        encoder->SetArchiveFile(EnginePath(In / "a.txt"));
        encoder->SetOutFilename(EnginePath(Archive));
        return encoder->Compress() > 0 && !failed;
    }
    const bool oneFile = dynamic_cast<TGZip*>(writer.get()) || dynamic_cast<TBZip*>(writer.get());
    writer->SetFileSpec({EnginePath(oneFile ? In / "a.txt" : In) + (oneFile ? "" : "\\*")});
    writer->SetArchiveFile(EnginePath(Archive));
    std::string produced;
    if (auto* gz = dynamic_cast<TGZip*>(writer.get())) {
        gz->ConfirmOverwrites = false;
        gz->Extension = exNone;
    } else if (auto* bz = dynamic_cast<TBZip*>(writer.get())) {
        bz->OutputDir = EnginePath(Archive.parent_path()) + "\\";
        bz->OnFilename = [&produced](TObject*, const std::string&, const std::string& out) { produced = out; };
    }
    if (writer->Compress() <= 0 || failed)
        return false;
    if (!produced.empty()) {
        // The bz2 writer names its output after its input.
        std::error_code ec;
        fs::rename(Archive.parent_path() / "a.txt.bz2", Archive, ec);
        return !ec;
    }
    return true;
}

// The bytes of the extracted file named Name anywhere below Dir; any file's for an empty Name.
std::string ExtractedFile(const fs::path& Dir, const std::string& Name)
{
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(Dir, ec))
        if (entry.is_regular_file() && (Name.empty() || entry.path().filename() == Name))
            return ReadText(entry.path());
    return "";
}

}  // namespace

TEST(FormatDescriptors, EveryTypeHasOneRowAndEveryFormatItsReadersAndWriters)
{
    std::set<std::string_view> ids, keys, extensions;
    std::set<int> ranks;
    for (int t = 0; t < TEnumCount<TArcType>::value; ++t) {
        const TArcTypeRow* row = ArcTypeRowOf(TArcType(t));
        ASSERT_NE(row, nullptr) << t;
        EXPECT_EQ(row->Type, t);
        EXPECT_TRUE(ids.insert(row->Id).second) << row->Id;
        EXPECT_EQ(row->Display.size(), t == atNA ? 11u : 10u) << row->Id;
        TArcType back;
        ASSERT_TRUE(ArcTypeById(row->Id, back));
        EXPECT_EQ(back, t);
        // A range check such as "t <= atZoo" no longer decides what a type is.
        EXPECT_EQ(IsArchiveType(TArcType(t)), t > atUnknown) << row->Id;
    }
    EXPECT_EQ(ArcTypeRowOf(TArcType(TEnumCount<TArcType>::value)), nullptr);

    for (const TArcDescriptor& format : ArcDescriptors()) {
        EXPECT_TRUE(keys.insert(format.Key).second) << format.Key;
        for (std::string_view ext : format.Extensions) {
            EXPECT_TRUE(extensions.insert(ext).second) << ext;
            EXPECT_EQ(DescriptorByExtension(ext), &format);
        }
        for (const TArcSignature& signature : format.Signatures) {
            EXPECT_TRUE(ranks.insert(signature.Rank).second) << format.Key << " " << signature.Rank;
            EXPECT_EQ(DescriptorOf(signature.Plain), &format) << format.Key;
        }
        const TFormatWriter* writer = WriterOfFormat(format.Key);
        for (const TArcTypeRow& row : format.Types) {
            EXPECT_EQ(DescriptorOf(row.Type), &format);
            const TFormatReaders* readers = ReadersOf(row.Type);
            // Only the compressed TAR types are written and never listed as such.
            EXPECT_EQ(readers == nullptr, format.Key == "tgz" || format.Key == "tbz") << row.Id;
            if (readers) {
                EXPECT_NE(readers->NewWalker, nullptr) << row.Id;
                EXPECT_EQ(readers->NewExtractor != nullptr, NewExtractor(row.Type) != nullptr) << row.Id;
            }
            // What is tested or checked has an extractor, apart from the compressed TAR types, which
            // are tested as the GZip or bzip2 stream they are.
            if (readers && (row.Flags & (arcflag::Test | arcflag::Check))) {
                EXPECT_NE(readers->NewExtractor, nullptr) << row.Id;
            }
            if (row.Flags & (arcflag::Create | arcflag::Update)) {
                EXPECT_NE(writer, nullptr) << row.Id;
            }
            EXPECT_EQ(NewWriterForType(row.Type) != nullptr, (row.Flags & arcflag::Update) != 0) << row.Id;
        }
    }
    for (const TFormatReaders& readers : FormatReaders())
        EXPECT_NE(DescriptorByKey(readers.Format), nullptr) << readers.Format;
    for (const TFormatWriter& writer : FormatWriters()) {
        EXPECT_NE(DescriptorByKey(writer.Format), nullptr) << writer.Name;
        EXPECT_EQ(WriterByName(writer.Name), &writer);
    }
}

// The writers' own default extensions, kept as they stand (the setter lower-cases only what a host
// sets); the bzip2 writer's stays lower case, the only one its peer tool takes off again.
TEST(FormatDescriptors, WritersKeepTheirDefaultExtensions)
{
    TBlakHole bh;
    TLha lha;
    TTar tar;
    TBZip bz;
    const std::pair<TCompBase*, const char*> writers[] = {{&bh, ".BH"}, {&lha, ".LHA"}, {&tar, ".TAR"}, {&bz, ".bz2"}};
    for (const auto& [writer, ext] : writers) {
        EXPECT_EQ(writer->DefaultExt(), ext);
        if (writer != &bz) {  // its outputs are named from their inputs
            writer->SetArchiveFile("C:\\new");
            EXPECT_EQ(writer->ArchiveFile(), std::string("C:\\new") + ext);
        }
        writer->SetDefaultExt("Xyz");
        EXPECT_EQ(writer->DefaultExt(), ".xyz");
        writer->SetDefaultExt("");
        EXPECT_EQ(writer->DefaultExt(), ext);
    }
}

TEST(FormatDescriptors, SignaturesAnswerInTheirRankOrder)
{
    // "ZO-l" is an LHA header before it is a ZOO one; "PKG4" is nothing, "PK\1\2" a volume.
    EXPECT_EQ(ClassifyFirstDword(TDetectContext::PlainFile, 0x6C2D4F5A), atLha);
    EXPECT_EQ(ClassifyFirstDword(TDetectContext::PlainFile, 0x34474B50), atNA);
    EXPECT_EQ(ClassifyFirstDword(TDetectContext::Executable, 0x02014B50), atZipMV);
    std::int64_t offset = -1;
    EXPECT_EQ(ClassifyFirstDword(TDetectContext::PlainFile, 0x5754DFB7, &offset), atArc);
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(ClassifyFirstDword(TDetectContext::Executable, 0x5754DFB7, &offset), atArcExe);
    EXPECT_EQ(offset, 7716);
    const auto signatures = ArcSignaturesByRank();
    EXPECT_TRUE(std::is_sorted(signatures.begin(), signatures.end(),
                               [](const TArcSignature& a, const TArcSignature& b) { return a.Rank < b.Rank; }));
}

TEST(FormatDescriptors, EverySampleIsDetectedListedAndTestedAndEveryWriterRoundTrips)
{
    TScratchDir dir;
    const fs::path in = dir / "in";
    const std::string a = "every format's first member\n" + std::string(3000, 'a');
    std::string b;
    for (int i = 0; i < 2000; ++i)
        b += std::to_string(i * 7919) + "\n";
    WriteText(in / "a.txt", a);
    WriteText(in / "sub" / "b.txt", b);

    struct TSample {
        std::string_view Format;
        std::string Tool;     // empty: File is a fixture
        std::string Command;  // makes File from in/
        std::string File;
    };
    const std::vector<TSample> samples = {
        {"zip", "zip", "zip -qr s.zip in", "s.zip"},
        {"jar", "zip", "zip -qr s.jar in", "s.jar"},
        {"tar", "tar", "tar cf s.tar in", "s.tar"},
        {"gzip", "gzip", "gzip -c in/a.txt > s.gz", "s.gz"},
        {"bz2", "bzip2", "bzip2 -c in/a.txt > s.bz2", "s.bz2"},
        {"lha", "lha", "lha aq s.lzh in/a.txt in/sub/b.txt", "s.lzh"},
        {"arj", "arj", "arj a -y s.arj in/a.txt in/sub/b.txt", "s.arj"},
        {"cab", "gcab", "gcab -c s.cab in/a.txt in/sub/b.txt", "s.cab"},
        {"arc", "arc", "arc a s.arc in/a.txt", "s.arc"},
        {"text", "uuencode", "uuencode in/a.txt a.txt > s.uue", "s.uue"},
        {"ace", "", "", "ace/t.ace"},
        {"pak", "", "", "arc/PAK100.PAK"},
        {"rar", "", "", "rar/t.rar"},
        {"zoo", "", "", "zoo/t.zoo"},
    };
    // No tool makes these and no fixture holds them; BH and the compressed TAR types come from
    // our writers below.
    const std::set<std::string_view> unsampled = {"ha", "msgz", "bh", "tgz", "tbz"};

    for (const TArcDescriptor& format : ArcDescriptors()) {
        SCOPED_TRACE(std::string(format.Key));
        const auto sample =
            std::find_if(samples.begin(), samples.end(), [&](const TSample& s) { return s.Format == format.Key; });
        ASSERT_EQ(sample == samples.end(), unsampled.contains(format.Key)) << "a sample, or a reason for none";
        if (sample == samples.end())
            continue;
        fs::path archive = dir / sample->File;
        if (sample->Tool.empty()) {
            archive = FixtureRoot() / sample->File;
            TORVO_NEED_FIXTURES(fs::exists(archive), archive.string());
        } else if (!HaveTool(sample->Tool)) {
            continue;
        } else {
            ASSERT_EQ(dir.Run("(" + sample->Command + ") 2>/dev/null"), 0) << sample->Command;
        }
        const TSeen seen = Examine(archive);
        EXPECT_EQ(Key(seen.Type), format.Key) << ArcTypeName(seen.Type);
        EXPECT_GT(seen.Listed, 0);
        EXPECT_TRUE(seen.Codes.empty()) << seen.Codes.front();
        if (HasArcFlag(seen.Type, arcflag::Test)) {
            EXPECT_GT(seen.Tested, 0);
            EXPECT_EQ(seen.Passed, seen.Tested);
        }
    }

    // Our own archives: each is read back as the format that reads it (a compressed TAR as the
    // stream around it), passes the test and gives back the bytes written.
    for (const TFormatWriter& row : FormatWriters()) {
        SCOPED_TRACE(std::string(row.Name));
        const fs::path archive = dir / ("w." + std::string(row.Name));
        ASSERT_TRUE(WriteWith(row, in, archive));
        const TSeen seen = Examine(archive);
        const std::string reader = row.Format == "tgz" ? "gzip" : row.Format == "tbz" ? "bz2" : std::string(row.Format);
        EXPECT_EQ(Key(seen.Type), reader) << ArcTypeName(seen.Type);
        EXPECT_GT(seen.Listed, 0);
        EXPECT_TRUE(seen.Codes.empty()) << seen.Codes.front();
        EXPECT_GT(seen.Tested, 0);
        EXPECT_EQ(seen.Passed, seen.Tested);

        std::unique_ptr<TUnBase> extractor = NewExtractor(seen.Type);
        ASSERT_NE(extractor, nullptr);
        const fs::path out = dir / ("out." + std::string(row.Name));
        fs::create_directories(out);
        extractor->OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
        extractor->SetArchiveFile(archive.string());
        extractor->SetExtractDir(out.string());
        extractor->CreateStoredDirs = true;
        extractor->UseStoredDirs = true;
        EXPECT_GT(extractor->Extract(), 0);
        // A one-file archive's member may be named after the archive.
        const bool oneFile = row.Format == "gzip" || row.Format == "bz2" || row.Format == "text";
        EXPECT_TRUE(ExtractedFile(out, oneFile ? "" : "a.txt") == a);
        if (!oneFile) {
            EXPECT_TRUE(ExtractedFile(out, "b.txt") == b);
        }
    }
}
