// The program and a caller as two real processes, talking over the request protocol.
#include "e2e/support/E2eSupport.h"

#include "platform/win/Messages.h"

using namespace e2e;
using namespace std::chrono_literals;

namespace {

class Program : public Session {
protected:
    void SetUp() override
    {
        Session::SetUp();
        for (const char* media : {"e", "n", "r"})
            fs::create_directories(dir / media);
        SetDrives("E: removable label=\"ZALOHA\" " + (dir / "e").string() + "\nN: remote " + (dir / "n").string() +
                  "\nR: cdrom " + (dir / "r").string() + "\n");
        WriteDefinition("[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIVDRV]A:\\ZALOHY\\\r\n"
                        "[PATHARCHIV]C:\\ZALOHY\\\r\n[NOTEFIRMA]Firma s.r.o.\r\n"
                        "[NOTEPROGRAM]Účetnictví\r\n",
                        "[Menu]\r\n{0}Archivace\r\n[Archivace] Archivace dat\r\n"
                        "~Data|Účetnictví‡5<x>\r\n|Mzdy‡6<y>\r\n[Seznam]\r\n{5}Ucto‡ucto\r\n");
        // The first menu's first item, the removable drive in the target menu, the backup's box.
        SetResponses("0\n Výměnný disk (E):\nOK\n");
    }
};

TEST_F(Program, ServesOneRequestAndEndsWithTheReply)
{
    ASSERT_TRUE(StartTorvo());

    // A second copy ends at once and says nothing.
    Child second = Spawn({TorvoProgram}, dir / "second.out");
    EXPECT_EQ(0, WaitFor(second, testsupport::PeerDeadline));
    EXPECT_EQ("", ReadFile(dir / "second.out"));

    // A definition file that does not exist: no reply, the program keeps waiting.
    std::string output;
    EXPECT_EQ(3, Call({"--command", "1", "--mode", "0", "--definition", "chybi.dta", "--folder", "C:\\data\\",
                       "--timeout", "1.5"},
                      output));
    EXPECT_EQ("", output);
    EXPECT_EQ(-1, TorvoExit(0ms));
    EXPECT_FALSE(fs::exists(dir / "transcript"));  // nothing was shown

    // An interactive backup request: the first menu, then the target menu.
    const fs::path firstOut = dir / "first.out";
    Child first =
        StartCaller({"--command", "1", "--mode", "0", "--folder", "C:\\data\\", "--timeout", "60"}, firstOut);
    ASSERT_TRUE(Eventually([&] { return TranscriptShows("Form\t  archivace\t"); }));
    const std::string transcript = ReadFile(dir / "transcript");
    EXPECT_NE(std::string::npos, transcript.find("Form\t   Archivace dat\tData\\nÚčetnictví\\nMzdy\t0\n"));
    const std::size_t target = transcript.find("Form\t  archivace\t");
    ASSERT_NE(std::string::npos, target);
    const std::string targetLine = transcript.substr(target, transcript.find('\n', target) - target);
    for (const char* part : {"disketová mechanika\\n Výměnný disk (E):\\n", "mechanika CD\\n Disk CD (R): \\n",
                             "místní disk\\n Místní disk (C): ...Účetnictví\\n", "vzdálená jednotka\\n",
                             "\\n Síťový disk (N):", "\t Výměnný disk (E):"})
        EXPECT_NE(std::string::npos, targetLine.find(part)) << part << " in " << targetLine;
    EXPECT_LT(targetLine.find("disketová"), targetLine.find("mechanika CD"));
    EXPECT_LT(targetLine.find("mechanika CD"), targetLine.find("místní disk"));
    EXPECT_LT(targetLine.find("místní disk"), targetLine.find("vzdálená jednotka"));
    EXPECT_EQ(-1, WaitFor(first, 300ms));  // no reply yet: the run waits for its finish

    // The finish: the reply goes to the run's caller, and the program ends.
    EXPECT_EQ(3, Call({"--command", "999", "--timeout", "1"}, output));
    EXPECT_EQ(0, WaitFor(first, testsupport::PeerDeadline));
    EXPECT_EQ("reply 100\n", ReadFile(firstOut));
    EXPECT_EQ(0, TorvoExit());
    EXPECT_EQ("torvo: no window on screen; waiting headless for requests\n", ReadFile(dir / "torvo.out"));
}

}  // namespace
