// Files whose host names look like Windows paths, drives or masks ("..\..\x", "C:\x", "a*b"):
// every writer stores each one's own bytes under a name no reader takes for a path, and never
// reads another file in its place.
#include "tests/support/HostTree.h"
#include "tests/support/ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";

void Put(const fs::path& File, const std::string& Bytes)
{
    fs::create_directories(File.parent_path());
    std::ofstream(File, std::ios::binary) << Bytes;
}

class HostNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kTool))
            GTEST_SKIP() << "plxtool not built";
        // What each crafted name would reach as a Windows path, had it been read as one.
        Put(scratch / "x", "SECRET outside\n");
        Put(src / "t", "plain t\n");
        Put(src / "aXb", "plain aXb\n");
        Put(src / "normal.txt", "normal\n");
        Put(src / "sub" / "inner.txt", "inner\n");
        for (const auto& [host, stored] : kCrafted)
            Put(src / host, "own " + host + "\n");
    }

    int Tool(const std::string& Args, std::string* Output = nullptr) const
    {
        int code = -1;
        const std::string out =
            CaptureCommand("cd " + ShellQuote(src.string()) + " && " + ShellQuote(kTool) + " " + Args + " 2>&1", &code);
        if (Output)
            *Output = out;
        return code;
    }

    // Stored name -> bytes, as every stored name should hold them.
    std::map<std::string, std::string> Expected() const
    {
        std::map<std::string, std::string> tree{{"t", "plain t\n"},
                                                {"aXb", "plain aXb\n"},
                                                {"normal.txt", "normal\n"},
                                                {"sub/inner.txt", "inner\n"}};
        for (const auto& [host, stored] : kCrafted)
            tree[stored] = "own " + host + "\n";
        return tree;
    }

    // Host name -> the name an archive stores: "\" and ":" become "_", the rest as the host has it.
    const std::map<std::string, std::string> kCrafted{
        {"..\\..\\x", ".._.._x"}, {"C:\\x", "C__x"}, {"Z:\\etc\\passwd", "Z__etc_passwd"},
        {"a*b", "a*b"},           {"a?b", "a?b"},    {"a:b", "a_b"},
        {"t.", "t."},
    };
    TScratchDir scratch;
    fs::path src = scratch / "w" / "src";
};

// Name -> size and, where the format keeps one, CRC-32 of every entry, as the engine lists them.
std::map<std::string, std::string> Listed(const std::string& Listing, bool Crc32)
{
    std::map<std::string, std::string> entries;
    std::istringstream lines(Listing);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("total "))
            continue;
        std::string name, unpacked, packed, crc;
        std::istringstream fields(line);
        std::getline(fields, name, '\t');
        std::getline(fields, unpacked, '\t');
        std::getline(fields, packed, '\t');
        std::getline(fields, crc, '\t');
        for (char& c : name)
            if (c == '\\')
                c = '/';
        entries[name] = unpacked + (Crc32 ? " " + crc : "");
    }
    return entries;
}

}  // namespace

TEST_F(HostNames, EveryWriterStoresEachFilesOwnBytesUnderASafeName)
{
    std::map<std::string, std::string> sizes, crcs;
    for (const auto& [name, bytes] : Expected()) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", Crc32Of(bytes));
        sizes[name] = std::to_string(bytes.size());
        crcs[name] = sizes[name] + " " + hex;
    }
    const bool bsdtar = HaveTool("bsdtar");
    for (const std::string type : {"zip", "jar", "tar", "tgz", "tbz", "lha", "bh", "cab"}) {
        SCOPED_TRACE(type);
        const fs::path archive = scratch / ("a." + type);
        std::string out;
        ASSERT_EQ(Tool("add " + ShellQuote(archive.string()) + " '*' -r -t " + type, &out), 0) << out;
        // The engine lists each entry (a .tgz or .tbz lists as the one TAR it holds).
        if (type != "tgz" && type != "tbz") {
            ASSERT_EQ(Tool("list " + ShellQuote(archive.string()), &out), 0) << out;
            const bool crc32 = type == "zip" || type == "jar" || type == "bh";
            EXPECT_EQ(Listed(out, crc32), crc32 ? crcs : sizes) << out;
        }
        // A reader of this host finds the same names and bytes.
        if (bsdtar && type != "bh") {
            const fs::path to = scratch / ("bsd-" + type);
            fs::create_directories(to);
            ASSERT_EQ(scratch.Run("bsdtar -xf " + ShellQuote(archive.string()) + " -C " + ShellQuote(to.string())), 0);
            EXPECT_EQ(FilesOnly(HostTree(to)), Expected());
        }
    }
}
