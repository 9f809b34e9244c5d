// A backup larger than a diskette, spanned by the program over three disks of a 1.44 MB removable
// drive while the test swaps the disks at each prompt (the program is a process of its own, so it
// sees each swap only through the drive table file), then read back from the disks by another
// process.
#include "e2e/support/E2eSupport.h"

#include "tests/support/FloppyDrive.h"
#include "tests/support/HostTree.h"
#include "tests/support/PromptDriver.h"

#include <cstdio>

using namespace e2e;

namespace {

const std::string PlxTool = TORVO_BUILD_DIR "/tools/plxtool";

class Diskettes : public Session {
protected:
    void SetUp() override
    {
        Session::SetUp();
        fs::create_directories(dir / "a");
        floppy = std::make_unique<TFloppyDrive>('A', dir / "a", 1'457'664, dir / "cfg" / "torvo" / "drives");
        WriteDefinition("[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIVBYHAND]A:\\ZALOHY\\\r\n"
                        "[PATHARCHIV]C:\\ZALOHY\\\r\n[PATHARCHIVACE]C:\\data\\*.dta\r\n"
                        "[COMMENT1]Zaloha na diskety\r\n[CLOSE]YES\r\n",
                        "[Menu]\r\n{14}Rucne\r\n[Rucne] Rucni archivace\r\n|Data‡0<x>\r\n[Seznam]\r\n{0}Ucto‡Ucto\r\n"
                        "[Ucto]\r\n{1}kniha0.dat‡a\r\n{2}kniha1.dat‡b\r\n{3}kniha2.dat‡c\r\n");
        for (int i = 0; i < 3; ++i)
            WriteFile(Home() / "data" / ("kniha" + std::to_string(i) + ".dat"),
                      RandomBytes(1'200'000, unsigned(i + 7)));
    }

    std::unique_ptr<TFloppyDrive> floppy;
    std::vector<TFloppyDrive::TDisk> disks;
};

TEST_F(Diskettes, ABackupSpansThreeDisksThatAnotherProcessRestores)
{
    TPromptDriver user(dir / "answers");
    setenv("TORVO_RESPONSES", user.Fifo().c_str(), 1);
    ASSERT_TRUE(StartTorvo());
    const fs::path callerOut = dir / "caller.out";
    Child caller =
        StartCaller({"--command", "1", "--mode", "14", "--folder", "C:\\data\\", "--timeout", "120"}, callerOut);
    // Each prompt for a blank disk: the disk in the drive is put aside, a blank one goes in.
    int prompts = 0;
    const int rc = user.Run(torvo, dir / "torvo.out", [&](const std::string& line) -> std::optional<std::string> {
        if (line.find("Vložte prázdnou disketu číslo") != std::string::npos && ++prompts <= 5) {
            const TFloppyDrive::TDisk disk = floppy->Eject();
            if (!disk.Files.empty())
                disks.push_back(disk);
            floppy->Insert("");
            return "OK";
        }
        if (line.rfind("torvo: MessageBox ", 0) == 0)
            return "OK";
        if (line.rfind("torvo: Form ", 0) == 0)
            return "Esc";
        return std::nullopt;
    });
    EXPECT_EQ(0, rc) << user.Seen();
    EXPECT_EQ(0, WaitFor(caller));
    EXPECT_EQ("reply 114\n", ReadFile(callerOut));
    disks.push_back(floppy->Eject());
    ASSERT_EQ(3u, disks.size()) << user.Seen();
    EXPECT_EQ(3, prompts);
    const std::string archive = "ZALOHY/Ucto (001).ZIP";
    for (std::size_t i = 0; i < disks.size(); ++i) {
        EXPECT_EQ(PkBackLabel(int(i) + 1), disks[i].Label);
        ASSERT_EQ(1u, disks[i].Files.count(archive)) << i;
    }

    // The disks' files, renamed to a split set, pass 7-Zip.
    if (HaveTool("7zz")) {
        const fs::path set = dir / "set" / "set.zip";
        for (std::size_t i = 0; i < disks.size(); ++i) {
            const std::string number = std::to_string(i + 1);
            const std::string ext = (number.size() < 2 ? ".z0" : ".z") + number;
            WriteFile(i + 1 == disks.size() ? set : fs::path(set).replace_extension(ext), disks[i].Files[archive]);
        }
        int status = -1;
        const std::string tested = Shell("7zz t " + Quoted(set), &status);
        EXPECT_EQ(0, status) << tested;
    }

    // Another process restores from the disks, each put in as it is asked for.
    floppy->Insert(disks[0].Label, disks[0].Files);
    const fs::path restored = dir / "restored";
    TPromptDriver reader(dir / "disks");
    Child extract({PlxTool, "extract", (dir / "a" / archive).string(), restored.string()}, Child::Output::File,
                  (dir / "extract.out").string(), reader.Fifo().string());
    const int extracted =
        reader.Run(extract, dir / "extract.out", [&](const std::string& line) -> std::optional<std::string> {
            if (line.rfind("Insert ", 0) != 0)
                return std::nullopt;
            const std::size_t wanted = line.find("last") != std::string::npos    ? disks.size()
                                       : line.find("first") != std::string::npos ? 1
                                                                                 : std::stoul(line.substr(12));
            if (wanted < 1 || wanted > disks.size())
                return "q";
            floppy->Insert(disks[wanted - 1].Label, disks[wanted - 1].Files);
            return "";
        });
    EXPECT_EQ(0, extracted) << reader.Seen();
    std::map<std::string, std::string> expected;
    for (const char* name : {"kniha0.dat", "kniha1.dat", "kniha2.dat", "archivace.dta"})
        expected[name] = ReadFile(Home() / "data" / name);
    EXPECT_EQ(expected, FilesOnly(HostTree(restored)));
}

}  // namespace
