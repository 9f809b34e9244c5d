// What the listing reports per entry, against the tools that made the archives: ZIP header
// offsets and the removable-drive switch, ARJ entries made on Unix, exclusion masks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "core/plxGbls.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "readers/Pelix.h"
#include "support/Reports.h"
#include "support/ToolRun.h"

namespace {

struct TEntry {
    std::string Name;
    std::int64_t Offset = -1, HeaderOffset = -1;
    std::uint32_t Attributes = 0;
    TDateTime Date = 0;
    std::string Volume;
};

struct TListing {
    bool Ok = false;
    TArcType Type = atNA;
    std::vector<TEntry> Entries;
    std::vector<int> Errors;
};

TListing List(const std::string& archive, const std::function<void(TPelix&)>& setup = {})
{
    TPelix p;
    TListing l;
    p.OnError = CollectCodes(l.Errors);
    p.OnRead = [&](TObject* s, std::int64_t offset, int) {
        auto& z = *static_cast<TZipCommon*>(s);
        std::string name = z.FileName;
        std::replace(name.begin(), name.end(), '\\', '/');
        l.Entries.push_back({name, offset, z.HeaderOffset, z.ExternalAttr, z.DateTime, z.VolumeName});
    };
    if (setup)
        setup(p);
    p.SetArchiveFile(archive);
    l.Ok = p.Activate();
    l.Type = p.ArcType();
    return l;
}

class PelixEntries : public FsTest {
protected:
    void Tree()
    {
        WriteHostFile(root + "/src/top.txt", "top\n");
        WriteHostFile(root + "/src/sub/a.txt", std::string(3000, 'a'));
        WriteHostFile(root + "/src/sub/deep/b.txt", "b\n");
        WriteHostFile(root + "/src/x/sub/c.txt", "c\n");
    }
};

TEST_F(PelixEntries, ZipOffsetsCountFromTheArchiveStartAndARemovableDriveMakesASpannedSet)
{
    if (!HaveTool("zip") || !HaveTool("zipinfo"))
        GTEST_SKIP() << "zip missing";
    Tree();
    ASSERT_EQ(std::system(("cd " + ShellQuote(root + "/src") + " && zip -qr ../a.zip top.txt sub x").c_str()), 0);
    const std::string info = CaptureCommand("zipinfo -v " + ShellQuote(root + "/a.zip"));
    std::vector<std::int64_t> offsets;
    const std::string label = "offset of local header from start of archive:";
    for (std::size_t at = info.find(label); at != std::string::npos; at = info.find(label, at + 1))
        offsets.push_back(std::stoll(info.substr(at + label.size())));

    const TListing l = List(ZDrivePath(root + "/a.zip"), [](TPelix& p) { p.ShowEmptyDirs = true; });
    ASSERT_TRUE(l.Ok);
    ASSERT_EQ(l.Entries.size(), offsets.size());
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        EXPECT_EQ(l.Entries[i].Offset, offsets[i]) << l.Entries[i].Name;
        EXPECT_EQ(l.Entries[i].HeaderOffset, offsets[i]) << l.Entries[i].Name;
    }
    EXPECT_GT(offsets.back(), 0);

    // The same archive on a diskette is the last disk of a spanned set.
    const std::string floppy = AddRemovableDrive('A', "floppy", 1'457'664, "PKBACK# 001");
    std::filesystem::copy_file(root + "/a.zip", floppy + "/a.zip");
    // The disk holds the set's end, so no disk is asked for.
    const TListing ds = List("A:\\a.zip");
    EXPECT_TRUE(ds.Errors.empty());
    EXPECT_EQ(ds.Type, atZipDS);
    ASSERT_FALSE(ds.Entries.empty()) << ds.Ok << " " << (ds.Errors.empty() ? 0 : ds.Errors[0]);
    EXPECT_EQ(ds.Entries[0].Volume, "PKBACK# 001");
}

TEST_F(PelixEntries, ArjEntriesMadeOnUnixShowTheirTimeAndPlainAttributes)
{
    if (!HaveTool("arj"))
        GTEST_SKIP() << "arj missing";
    Tree();
    ASSERT_EQ(std::system(("cd " + ShellQuote(root + "/src") + " && arj a -r ../u.arj '*' >/dev/null 2>&1").c_str()),
              0);
    const TListing l = List(ZDrivePath(root + "/u.arj"));
    ASSERT_TRUE(l.Ok);
    ASSERT_EQ(l.Entries.size(), 4u);
    for (const auto& e : l.Entries) {
        SCOPED_TRACE(e.Name);
        EXPECT_EQ(e.Attributes, 0x20u);
        // The file's own time as a DOS stamp (even seconds) against the listed one.
        const TDateTime expected =
            DosDateTimeToDateTime(std::uint32_t(win::FileAge(ZDrivePath(root + "/src/" + e.Name))));
        EXPECT_LT(std::fabs(e.Date - expected) * 86400, 2.5);
    }
}

// A Unix host keeps the file's mode in the high word of the external attributes; the listing
// shows the DOS word (read-only, folder), never the whole 32 bits.
TEST_F(PelixEntries, ZipEntriesMadeOnUnixShowTheDosWordOfTheirAttributes)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    Tree();
    ASSERT_EQ(
        std::system(
            ("cd " + ShellQuote(root + "/src") + " && chmod 444 top.txt && zip -qr ../a.zip top.txt sub").c_str()),
        0);
    const TListing l = List(ZDrivePath(root + "/a.zip"), [](TPelix& p) { p.ShowEmptyDirs = true; });
    ASSERT_TRUE(l.Ok);
    std::map<std::string, std::uint32_t> attributes;
    for (const auto& e : l.Entries)
        attributes[e.Name] = e.Attributes;
    EXPECT_EQ(attributes,
              (std::map<std::string, std::uint32_t>{
                  {"top.txt", 0x01}, {"sub/", 0x10}, {"sub/a.txt", 0}, {"sub/deep/", 0x10}, {"sub/deep/b.txt", 0}}));
}

TEST_F(PelixEntries, AnExclusionFolderHidesEverythingBelowIt)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    Tree();
    ASSERT_EQ(std::system(("cd " + ShellQuote(root + "/src") + " && zip -qr ../a.zip top.txt sub x").c_str()), 0);
    const TListing l = List(ZDrivePath(root + "/a.zip"), [](TPelix& p) { p.SetExcludeSpec({"sub\\*"}); });
    std::vector<std::string> names;
    for (const auto& e : l.Entries)
        names.push_back(e.Name);
    EXPECT_EQ(names, std::vector<std::string>{"top.txt"});
}

}  // namespace
