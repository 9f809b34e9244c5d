// The command line's single-file types: one input makes the archive it names, more are a usage
// error; the help offers only methods that are built; a bzip2 listing tells the real sizes.
#include "tests/support/ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";

TEST(ToolSingleFile, OneInputOneArchiveAndHonestListing)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    TScratchDir scratch;
    const std::string text(5000, 'a');
    std::ofstream(scratch / "a.txt") << text;
    std::ofstream(scratch / "b.txt") << "b\n";
    const std::string tool = ShellQuote(kTool) + " ";

    for (const std::string type : {"gz", "bz2"}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(scratch.Run(tool + "add x." + type + " a.txt b.txt -t " + type + " 2>/dev/null"), 2);
        EXPECT_EQ(scratch.Run(tool + "add x." + type + " . -t " + type + " 2>/dev/null"), 2);
        EXPECT_FALSE(fs::exists(scratch / "a.gz") || fs::exists(scratch / "a.txt.bz2") || fs::exists(scratch / "b.gz"));
        EXPECT_EQ(scratch.Run(tool + "add x." + type + " a.txt -t " + type), 0);
        EXPECT_TRUE(fs::exists(scratch / ("x." + type)));
    }
    EXPECT_EQ(scratch.Capture("bzip2 -dc x.bz2"), text);

    // name, unpacked, packed, CRC, method
    const std::string listed = scratch.Capture(tool + "list x.bz2");
    const std::string packed = std::to_string(fs::file_size(scratch / "x.bz2") - 10);
    EXPECT_EQ(listed.substr(0, listed.find('\t', listed.find('\t', listed.find('\t') + 1) + 1)), "x\t5000\t" + packed);
    EXPECT_NE(listed.find("\tBZ'd\t"), std::string::npos) << listed;

    const std::string help = scratch.Capture(tool + "--help 2>&1");
    EXPECT_EQ(help.find("lzx"), std::string::npos);
    EXPECT_EQ(scratch.Run(tool + "add x.cab a.txt -t cab -m lzx 2>/dev/null"), 2);
}

}  // namespace
