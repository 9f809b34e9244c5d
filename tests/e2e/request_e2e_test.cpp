// The program and a caller as two real processes, talking over the request protocol.
#include "e2e/support/E2eSupport.h"

#include "platform/win/Messages.h"

#include <sys/stat.h>

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
    Child first = StartCaller({"--command", "1", "--mode", "0", "--folder", "C:\\data\\", "--timeout", "60"}, firstOut);
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
    // Nobody is at the screen: what was refused, shown and answered is on stderr.
    const std::string said = ReadFile(dir / "torvo.out");
    EXPECT_EQ(0u, said.find("torvo: no window on screen; waiting headless for requests\n")) << said;
    EXPECT_NE(std::string::npos, said.find("chybi.dta is missing or cannot be read; no reply")) << said;
    EXPECT_NE(std::string::npos, said.find("torvo: Form [  archivace] ")) << said;
    EXPECT_NE(std::string::npos, said.find("torvo:   -> 0\n")) << said;
}

TEST_F(Program, RequestsThatCannotBeServedSayWhyAndNeverWait)
{
    // Definition and menu files that cannot serve: a device, a link to one, a FIFO nobody writes,
    // an empty, a binary and a huge file, a menu without the mode's line. No reply is sent; the
    // program says why on stderr, never waits on a box, and serves the next request.
    const fs::path data = Home() / "data";
    fs::create_symlink("/dev/zero", data / "zero.dta");
    ASSERT_EQ(0, mkfifo((data / "fifo.txt").c_str(), 0600));
    WriteFile(data / "empty.txt", "");
    WriteFile(data / "binary.txt", RandomBytes(4096, 3));
    WriteFile(data / "nomode.txt", "[Menu]\r\n{0}Archivace\r\n");
    WriteFile(data / "huge.txt", "[Menu]\r\n{10}Automaticka\r\n");
    fs::resize_file(data / "huge.txt", 200u << 20);
    SetResponses("");
    ASSERT_TRUE(StartTorvo());
    const std::vector<std::pair<std::string, std::string>> cases{
        {"zero.dta", "zero.dta is missing or cannot be read; no reply"},
        {"dev.dta", "Soubor Z:\\dev\\zero nelze použít: není to obyčejný soubor."},
        {"fifo.dta", "fifo.txt nelze použít: není to obyčejný soubor."},
        {"empty.dta", "nelze najít návratovou hodnotu:  10"},
        {"binary.dta", "nelze najít návratovou hodnotu:  10"},
        {"huge.dta", "huge.txt nelze použít: je větší než 1 MB."},
        {"nomode.dta", "nelze najít návratovou hodnotu:  10"},
    };
    for (const auto& [definition, said] : cases) {
        const std::string menu = definition == "dev.dta"
                                     ? "Z:\\dev\\zero"
                                     : "C:\\data\\" + definition.substr(0, definition.find('.')) + ".txt";
        if (definition != "zero.dta")
            WriteFile(data / definition, "[MENUARCHIV]" + menu + "\r\n[PATHARCHIV]C:\\ZALOHY\\\r\n");
        std::string output;
        EXPECT_EQ(3, Call({"--command", "1", "--mode", "10", "--definition", definition, "--folder", "C:\\data\\",
                           "--timeout", "1"},
                          output))
            << definition;
        EXPECT_EQ("", output) << definition;
        EXPECT_TRUE(Eventually([&] { return ReadFile(dir / "torvo.out").find(said) != std::string::npos; }))
            << definition << ": " << ReadFile(dir / "torvo.out");
    }
    EXPECT_EQ(-1, TorvoExit(std::chrono::milliseconds(0)));
    std::string output;
    EXPECT_EQ(3, Call({"--command", "999", "--timeout", "1"}, output));
    EXPECT_EQ(0, TorvoExit());
}

}  // namespace
