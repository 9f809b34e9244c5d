// What plxtool's extract and test say about members it does not write: a member whose name leads
// to another member's file fails instead of merging into it, a kept file is counted as skipped,
// a member whose password failed counts as tested, and paths are shown in the host's form.
#include "tests/support/HostTree.h"
#include "tests/support/ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";

class ToolExtractReports : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kTool))
            GTEST_SKIP() << "plxtool not built";
        if (!HaveTool("zip") || !HaveTool("tar"))
            GTEST_SKIP() << "zip or tar missing";
    }

    void Shell(const std::string& Command) const { ASSERT_EQ(scratch.Run(Command), 0) << Command; }

    // plxtool run in the scratch folder: exit status, standard output in Said, errors in Errors.
    int Tool(const std::string& Args)
    {
        int code = -1;
        const std::string base = "cd " + ShellQuote(scratch.Path().string()) + " && " + ShellQuote(kTool) + " " + Args;
        Said = CaptureCommand(base + " 2>" + ShellQuote((scratch / "errors").string()), &code);
        Errors = ReadText(scratch / "errors");
        return code;
    }

    std::map<std::string, std::string> Extract(const std::string& Archive, const std::string& Folder, int Expected,
                                               const std::string& Options = "")
    {
        EXPECT_EQ(Tool("extract " + Archive + " " + Folder + Options), Expected) << Archive << "\n" << Errors;
        return FilesOnly(HostTree(scratch / Folder));
    }

    TScratchDir scratch;
    std::string Said, Errors;
};

}  // namespace

TEST_F(ToolExtractReports, MembersWhoseNamesMeetNeverShareAFile)
{
    Shell("mkdir src && cd src && echo one > 'a:b.txt' && echo two > b.txt && echo three > a_b.txt && "
          "echo dot > 'x.' && echo plain > x && echo q > 'q?.txt'");
    // "a:" is no drive: the member keeps its own file beside b.txt.
    Shell("cd src && zip -q ../c.zip 'a:b.txt' b.txt");
    using TTree = std::map<std::string, std::string>;
    EXPECT_EQ(Extract("c.zip", "c", 0), (TTree{{"a_b.txt", "one\n"}, {"b.txt", "two\n"}}));
    EXPECT_EQ(Said, "extracted 2, reports 0\n");
    // Extracting again over the files the last run made is no meeting of names.
    EXPECT_EQ(Extract("c.zip", "c", 0, " --overwrite"), (TTree{{"a_b.txt", "one\n"}, {"b.txt", "two\n"}}));

    // Two names that lead to one file, in either order and either mode: the first is written,
    // the second fails and names itself.
    Shell("cd src && zip -q ../first.zip 'a:b.txt' a_b.txt && zip -q ../second.zip a_b.txt 'a:b.txt' && "
          "tar cf ../dots.tar 'x.' x");
    for (const std::string options : {"", " --overwrite"}) {
        SCOPED_TRACE(options);
        const std::string mode = options.empty() ? "-skip" : "-over";
        EXPECT_EQ(Extract("first.zip", "f" + mode, 1, options), (TTree{{"a_b.txt", "one\n"}}));
        EXPECT_EQ(Said, "extracted 1, reports 1\n");
        EXPECT_NE(Errors.find("a_b.txt another member's name"), std::string::npos) << Errors;
        EXPECT_EQ(Extract("second.zip", "s" + mode, 1, options), (TTree{{"a_b.txt", "three\n"}}));
        EXPECT_NE(Errors.find("a:b.txt another member's name"), std::string::npos) << Errors;
        // The host drops a name's trailing dots, so "x." and "x" meet as well.
        EXPECT_EQ(Extract("dots.tar", "d" + mode, 1, options), (TTree{{"x", "dot\n"}}));
    }

    // A folder's trailing dots go as a file's do: its members land in it, and meet those of "x".
    Shell("mkdir -p src/f. src/f && echo in > src/f./y && echo out > src/f/y && cd src && tar cf ../folders.tar f./y "
          "f/y");
    EXPECT_EQ(Extract("folders.tar", "g", 1), (TTree{{"f/y", "in\n"}}));

    // The same name stored twice is one member updated: the later copy wins with --overwrite.
    Shell("cd src && tar cf ../twice.tar b.txt && echo newer > b.txt && tar rf ../twice.tar b.txt");
    EXPECT_EQ(Extract("twice.tar", "t", 0, " --overwrite"), (TTree{{"b.txt", "newer\n"}}));

    // A character no Windows name holds fails the member alone, reported in the host's form.
    Shell("cd src && zip -q ../q.zip 'q?.txt' x");
    EXPECT_EQ(Extract("q.zip", "q", 1), (TTree{{"x", "plain\n"}}));
    const std::string target = (scratch / "q" / "q?.txt").string();
    EXPECT_NE(Errors.find(": " + target + " the character ?"), std::string::npos) << Errors;
}

TEST_F(ToolExtractReports, KeptFilesAreCountedAndAFailedPasswordIsATest)
{
    Shell("echo one > a.txt && echo two > b.txt && zip -q plain.zip a.txt b.txt && zip -q -P right locked.zip a.txt");
    Extract("plain.zip", "out", 0);
    EXPECT_EQ(Said, "extracted 2, reports 0\n");
    WriteText(scratch / "out" / "a.txt", "mine\n");
    EXPECT_EQ((Extract("plain.zip", "out", 0)[std::string("a.txt")]), "mine\n");
    EXPECT_EQ(Said, "extracted 0, skipped 2, reports 0\n");
    EXPECT_EQ((Extract("plain.zip", "out", 0, " --overwrite")[std::string("a.txt")]), "one\n");
    EXPECT_EQ(Said, "extracted 2, reports 0\n");

    EXPECT_EQ(Tool("test locked.zip -p wrong"), 1);
    EXPECT_EQ(Said, "FAILED\ta.txt\ntested 1, passed 0, reports 2\n");
    EXPECT_EQ(Tool("test locked.zip -p right"), 0);
    EXPECT_EQ(Said, "ok\ta.txt\ntested 1, passed 1, reports 0\n");
}

TEST_F(ToolExtractReports, AMemberOfAnUnknownMethodIsOneReportAndTheRestIsWritten)
{
    if (!HaveTool("7zz"))
        GTEST_SKIP() << "7zz missing";
    Shell("seq 1 2000 > b.txt && echo one > a.txt && echo three > c.txt && 7zz a -tzip -mm=LZMA m.zip b.txt >/dev/null "
          "&& zip -q m.zip a.txt c.txt");
    using TTree = std::map<std::string, std::string>;
    EXPECT_EQ(Extract("m.zip", "out", 1), (TTree{{"a.txt", "one\n"}, {"c.txt", "three\n"}}));
    EXPECT_EQ(Said, "extracted 2, reports 1\n");
    EXPECT_EQ(Errors, "plxtool: 25326 Unsupported compression method: " + (scratch / "out" / "b.txt").string() + "\n");
    EXPECT_EQ(Tool("test m.zip"), 1);
    EXPECT_EQ(Said, "FAILED\tb.txt\nok\ta.txt\nok\tc.txt\ntested 3, passed 2, reports 1\n");
}

TEST_F(ToolExtractReports, ASymbolicLinkIsPassedOverInZipAsInTarAndStillTested)
{
    // zip -y stores the link itself: its data are the name it points to, not the file's bytes.
    Shell("mkdir src && cd src && echo one > a.txt && ln -s a.txt link && zip -qy ../l.zip a.txt link && "
          "tar cf ../l.tar a.txt link");
    using TTree = std::map<std::string, std::string>;
    for (const char* archive : {"l.zip", "l.tar"}) {
        SCOPED_TRACE(archive);
        const std::string folder = std::string("out-") + archive;
        EXPECT_EQ(Extract(archive, folder, 0), (TTree{{"a.txt", "one\n"}}));
        EXPECT_EQ(Said, "extracted 1, reports 0\n");
        EXPECT_NE(std::string::npos, Errors.find("26800 Skipped File: ")) << Errors;
        EXPECT_FALSE(fs::exists(scratch / folder / "link"));
    }
    EXPECT_EQ(Tool("test l.zip"), 0);
    EXPECT_EQ(Said, "ok\ta.txt\nok\tlink\ntested 2, passed 2, reports 0\n");
}

TEST_F(ToolExtractReports, AMemberNamedAsTheArchiveNeverReplacesIt)
{
    // The archive named by a host path, its folder by a relative one: the member that would land
    // on the archive is refused, the other is written.
    Shell("mkdir src && cd src && echo member > self.zip && echo member > self.tar && echo other > o.txt && "
          "zip -q ../self.zip self.zip o.txt && tar cf ../self.tar self.tar o.txt && cd .. && ln -s . alias");
    for (const std::string archive : {"self.zip", "self.tar"}) {
        SCOPED_TRACE(archive);
        const std::string before = ReadText(scratch / archive);
        const auto tree = Extract((scratch / archive).string(), ".", 1, " --overwrite");
        EXPECT_EQ(ReadText(scratch / archive), before);
        EXPECT_EQ(tree.at("o.txt"), "other\n");
        EXPECT_NE(Errors.find("25191"), std::string::npos) << Errors;
        // Its folder reached through a link: the same file by another path.
        Errors.clear();
        Extract((scratch / archive).string(), "alias", 1, " --overwrite");
        EXPECT_EQ(ReadText(scratch / archive), before);
        EXPECT_NE(Errors.find("25191"), std::string::npos) << Errors;
    }
}
