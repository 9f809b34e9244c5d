// Symbolic links are neither followed nor stored, and none is passed over in silence: adding
// and extracting tell each one with its target.
#include "tests/support/HostTree.h"
#include "tests/support/ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";

std::size_t Count(const std::string& Text, const std::string& Part)
{
    std::size_t n = 0;
    for (std::size_t at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1))
        ++n;
    return n;
}

TEST(Links, EveryLinkPassedOverIsTold)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    TScratchDir scratch;
    const fs::path src = scratch / "src";
    fs::create_directories(src / "d");
    std::ofstream(src / "a.txt") << "a\n";
    std::ofstream(src / "d" / "b.txt") << "b\n";
    fs::create_symlink("a.txt", src / "link.txt");
    fs::create_symlink("/nonexistent", src / "dangling");
    fs::create_directory_symlink("d", src / "dlink");
    const std::string tool = "cd src && " + ShellQuote(kTool) + " ";

    for (const std::string type : {"zip", "tar"}) {
        SCOPED_TRACE(type);
        int code = -1;
        const std::string added = CaptureCommand("cd " + ShellQuote(src.string()) + " && " + ShellQuote(kTool) +
                                                     " add ../t." + type + " . -r -t " + type + " 2>&1",
                                                 &code);
        EXPECT_EQ(code, 0) << added;
        EXPECT_EQ(Count(added, "26800"), 3u) << added;
        EXPECT_NE(added.find("link.txt symbolic link to a.txt"), std::string::npos) << added;
        EXPECT_NE(added.find("dlink symbolic link to d"), std::string::npos) << added;
        fs::create_directories(scratch / ("x-" + type));
        ASSERT_EQ(scratch.Run(tool + "extract ../t." + type + " ../x-" + type + " >/dev/null"), 0);
        EXPECT_EQ(FilesOnly(HostTree(scratch / ("x-" + type))),
                  (std::map<std::string, std::string>{{"a.txt", "a\n"}, {"d/b.txt", "b\n"}}));
    }

    // A link named alone: told as a link, not as a run that found nothing.
    const std::string alone = scratch.Capture(tool + "add ../one.zip link.txt 2>&1");
    EXPECT_NE(alone.find("26800"), std::string::npos) << alone;
    EXPECT_EQ(alone.find("25272"), std::string::npos) << alone;
    EXPECT_FALSE(fs::exists(scratch / "one.zip"));

    // An LHA archive's links are told on extraction; the files come out. A level-2 link header
    // (name "link|target", Unix link mode) goes in front of an archive of the file.
    if (HaveTool("lha")) {
        ASSERT_EQ(scratch.Run("cd src && lha aq ../f.lzh a.txt >/dev/null 2>&1"), 0);
        const std::string name = "link.txt|a.txt";
        std::string header(26, '\0');
        header.replace(2, 5, "-lh0-");
        header[19] = 0x20;
        header[20] = 2;
        header[23] = 'U';
        header[24] = char(1 + name.size() + 2);
        header += char(0x01) + name + char(5) + '\0';                     // name, then the next header's size
        header += std::string{char(0x50), char(0xFF), char(0xA1), 0, 0};  // Unix mode: a link
        header[0] = char(header.size());
        std::ifstream in(scratch / "f.lzh", std::ios::binary);
        std::ofstream(scratch / "l.lzh", std::ios::binary) << header << in.rdbuf();
        fs::create_directories(scratch / "x-lha");
        int code = -1;
        const std::string out = CaptureCommand("cd " + ShellQuote(scratch.Path().string()) + " && " +
                                                   ShellQuote(kTool) + " extract l.lzh x-lha 2>&1",
                                               &code);
        EXPECT_EQ(code, 0) << out;
        EXPECT_NE(out.find("26800 Skipped File: link.txt symbolic link to a.txt"), std::string::npos) << out;
        EXPECT_EQ(FilesOnly(HostTree(scratch / "x-lha")), (std::map<std::string, std::string>{{"a.txt", "a\n"}}));
    }
}

}  // namespace
