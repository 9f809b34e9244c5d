// Restores through the request protocol: the program and its callers as real processes, the data
// folder compared file by file (bytes, names, times) with what the backups took.
#include "e2e/support/E2eSupport.h"
#include "platform/win/CodePage.h"
#include "support/ToolRun.h"

#include <map>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

// A whole tree: every file's relative name, bytes and write time.
struct TFileState {
    std::string Bytes;
    fs::file_time_type Time;
    bool operator==(const TFileState&) const = default;
};
using TTree = std::map<std::string, TFileState>;

TTree Snapshot(const fs::path& root)
{
    TTree tree;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            tree[fs::relative(e.path(), root).string()] = {ReadFile(e.path()), e.last_write_time()};
    return tree;
}

std::string Describe(const TTree& tree)
{
    std::string out;
    for (const auto& [name, state] : tree)
        out += name + " (" + std::to_string(state.Bytes.size()) + " bytes, " +
               std::to_string(state.Time.time_since_epoch().count()) + ")\n";
    return out;
}

// Times that a ZIP's DOS fields hold exactly (even seconds).
void SetTime(const fs::path& file, int minutesBack)
{
    const auto now = std::chrono::time_point_cast<std::chrono::seconds>(fs::file_time_type::clock::now());
    fs::last_write_time(file, now - std::chrono::minutes(minutesBack) - (now.time_since_epoch() % 2s));
}

// A stored-only ZIP whose names go in exactly as given (DOS host, no flags), so that a test can
// name members as no archiver would.
std::string TinyZip(const std::vector<std::pair<std::string, std::string>>& members)
{
    auto put = [](std::string& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out += char((value >> (8 * i)) & 0xFF);
    };
    std::string local, central;
    for (const auto& [name, data] : members) {
        const std::uint32_t offset = std::uint32_t(local.size()), crc = Crc32Of(data);
        const std::uint32_t size = std::uint32_t(data.size());
        put(local, 0x04034b50, 4), put(local, 10, 2), put(local, 0, 2), put(local, 0, 2);
        put(local, 0x6000, 2), put(local, 0x5A21, 2), put(local, crc, 4), put(local, size, 4), put(local, size, 4);
        put(local, std::uint32_t(name.size()), 2), put(local, 0, 2);
        local += name + data;
        put(central, 0x02014b50, 4), put(central, 20, 2), put(central, 10, 2), put(central, 0, 2);
        put(central, 0, 2), put(central, 0x6000, 2), put(central, 0x5A21, 2), put(central, crc, 4);
        put(central, size, 4), put(central, size, 4), put(central, std::uint32_t(name.size()), 2);
        put(central, 0, 2), put(central, 0, 2), put(central, 0, 2), put(central, 0, 2), put(central, 0x20, 4);
        put(central, offset, 4);
        central += name;
    }
    std::string zip = local + central;
    put(zip, 0x06054b50, 4), put(zip, 0, 2), put(zip, 0, 2), put(zip, std::uint32_t(members.size()), 2);
    put(zip, std::uint32_t(members.size()), 2), put(zip, std::uint32_t(central.size()), 4);
    put(zip, std::uint32_t(local.size()), 4), put(zip, 0, 2);
    return zip;
}

class Restore : public Session {
protected:
    void SetUp() override
    {
        Session::SetUp();
        home = Home();
        data = home / "data";
        fs::create_directories(dir / "e");
        SetDrives("E: removable label=\"ZALOHA\" " + (dir / "e").string() + "\n");
        WriteDefinition("[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIVDRV]A:\\ZALOHY\\\r\n"
                        "[PATHARCHIV]C:\\ZALOHY\\\r\n[PATHARCHIVACE]C:\\data\\*.dta\r\n"
                        "[COMMENT1]Záloha před uzávěrkou\r\n[CLOSE]YES\r\n[NOTELICENCE]10001\r\n",
                        "[Menu]\r\n{1}Obnova\r\n{10}Automaticka\r\n[Obnova] Obnova dat\r\n"
                        "~Data|Účetnictví‡0<x>\r\n[Seznam]\r\n{0}Ucto‡Ucto\r\n"
                        "[Ucto]\r\n{1}kniha.dat‡a\r\n{2}Účtování.dat‡b\r\n{3}Šťáva.txt‡c\r\n"
                        "{4}Přílohy\\Šťáva.txt‡d\r\n");
    }
    void StartWith(const std::string& responses)
    {
        SetResponses(responses);
        ASSERT_TRUE(StartTorvo());
    }
    // One automatic backup of the set, as the caller would ask for it.
    void Backup()
    {
        SetResponses("");
        Serve({"--command", "1", "--mode", "10", "--folder", "C:\\data\\", "--timeout", "60"});
    }
    bool Shown(const std::string& text)
    {
        return Eventually([&] { return TranscriptShows(text); });
    }
    fs::path home, data;
};

TEST_F(Restore, ChosenArchiveComesBackWholeAndAFetchedOneIsRestoredThenDeleted)
{
    WriteFile(data / "kniha.dat", std::string(70000, 'k') + "konec");
    WriteFile(data / "Účtování.dat", "úč 2024");
    WriteFile(data / "Šťáva.txt", "šťáva");
    WriteFile(data / "firma.dta", "firma");
    WriteFile(data / "jine.txt", "not in the set");
    WriteFile(data / "Přílohy" / "Šťáva.txt", "a file of the same name in a subfolder");
    int minutes = 600;
    for (const auto& e : fs::recursive_directory_iterator(data))
        if (e.is_regular_file())
            SetTime(e.path(), minutes -= 7);
    Backup();
    const TTree first = Snapshot(data);

    WriteFile(data / "kniha.dat", "second version");
    SetTime(data / "kniha.dat", 30);
    Backup();
    const TTree second = Snapshot(data);
    const fs::path archives = home / "ZALOHY";
    ASSERT_TRUE(fs::exists(archives / "Ucto (001).ZIP"));
    ASSERT_TRUE(fs::exists(archives / "Ucto (002).ZIP"));

    // The names go into the archive in the OEM code page (852), as DOS-era tools read them; the
    // UTF-8 form stands only in the Unicode path block that other tools read.
    const std::string firstArchive = ReadFile(archives / "Ucto (001).ZIP");
    for (const char* name : {"Účtování.dat", "Šťáva.txt"}) {
        EXPECT_NE(std::string::npos, firstArchive.find(win::Utf8ToOem(name))) << name;
        for (auto at = firstArchive.find(name); at != std::string::npos; at = firstArchive.find(name, at + 1)) {
            const auto block = firstArchive.rfind("\x75\x70", at);  // 0x7075, version 1
            ASSERT_NE(block, std::string::npos) << name;
            EXPECT_EQ(firstArchive[block + 4], '\x01') << name;
            EXPECT_LT(at - block, 9u + 256u) << name;
        }
    }

    // Damage the data, then restore the older archive, which is not the list's default.
    WriteFile(data / "kniha.dat", "damaged");
    fs::remove(data / "Účtování.dat");
    fs::remove(data / "Šťáva.txt");
    fs::remove_all(data / "Přílohy");
    fs::remove(dir / "transcript");
    StartWith("0\n Místní disk (C):\nUcto (001).ZIP\nOK\n");
    Child run =
        StartCaller({"--command", "1", "--mode", "1", "--folder", "C:\\data\\", "--timeout", "60"}, dir / "run.out");
    ASSERT_TRUE(Shown("\tData rozbalena\t"));
    const std::string transcript = Transcript();
    EXPECT_NE(std::string::npos,
              transcript.find("ListBox\tlstFileSpec\tUcto (001).ZIP\\t6\\tZáloha před uzávěrkou\\r\\n"
                              "Ucto (002).ZIP\\t6\\tZáloha před uzávěrkou\\r\\n\tUcto (001).ZIP\n"))
        << transcript;
    EXPECT_NE(std::string::npos, transcript.find("MessageBox\tData rozbalena\tZ archivačního souboru: Ucto (001).ZIP"
                                                 "\\r\\ncelkem rozbaleno datových souborů: 6\tOK\n"))
        << transcript;
    EXPECT_EQ(first, Snapshot(data)) << Describe(first) << "--\n" << Describe(Snapshot(data));

    // The internet program fetched the newer archive: restored, then deleted; the run replies.
    const fs::path fetched = home / "prijem" / "stazeno.zip";
    fs::create_directories(fetched.parent_path());
    fs::copy_file(archives / "Ucto (002).ZIP", fetched);
    Child internet =
        StartCaller({"--command", "101", "--definition", "stazeno.zip", "--folder", "C:\\prijem\\", "--timeout", "2"},
                    dir / "internet.out");
    EXPECT_EQ(0, WaitFor(run));
    EXPECT_EQ(0, TorvoExit());
    internet.Wait();
    // The reply carries the command that ended the run.
    EXPECT_EQ("reply 101\n", ReadFile(dir / dir / "run.out"));
    EXPECT_FALSE(fs::exists(fetched));
    EXPECT_EQ(second, Snapshot(data)) << Describe(second) << "--\n" << Describe(Snapshot(data));
}

TEST_F(Restore, MemberNamesNeverLeaveTheDataFolderAndARefusedArchiveIsKept)
{
    WriteFile(data / "jine.txt", "before");
    const fs::path outside = dir / "outside";
    fs::create_directories(outside);
    const fs::path fetched = home / "prijem" / "zly.zip";
    WriteFile(fetched, TinyZip({{"../x.txt", "up"},
                                {"..\\..\\y.txt", "up two"},
                                {"sub/../../z.txt", "up through a folder"},
                                {(outside / "abs.txt").string(), "absolute"},
                                {"C:\\drive.txt", "drive"},
                                {"dobry.txt", "fine"}}));
    const TTree homeBefore = Snapshot(home);

    // No archive folder: the list says so; then the internet program's archive arrives.
    StartWith("0\n Místní disk (C):\nOK\n");
    Child run =
        StartCaller({"--command", "1", "--mode", "1", "--folder", "C:\\data\\", "--timeout", "60"}, dir / "run.out");
    ASSERT_TRUE(Shown("\tAdresář nenalezen\t"));
    Child internet =
        StartCaller({"--command", "102", "--definition", "zly.zip", "--folder", "C:\\prijem\\", "--timeout", "2"},
                    dir / "internet.out");
    EXPECT_EQ(0, WaitFor(run));
    EXPECT_EQ(0, TorvoExit());
    internet.Wait();

    EXPECT_EQ("fine", ReadFile(data / "dobry.txt"));
    // Nothing changed outside the data folder, and the archive that was refused in part stays.
    TTree homeAfter = Snapshot(home);
    std::erase_if(homeAfter, [](const auto& e) { return e.first.rfind("data/", 0) == 0; });
    TTree homeExpected = homeBefore;
    std::erase_if(homeExpected, [](const auto& e) { return e.first.rfind("data/", 0) == 0; });
    EXPECT_EQ(homeExpected, homeAfter) << Describe(homeAfter);
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(dir / "y.txt"));
    EXPECT_FALSE(fs::exists(dir / "z.txt"));
    EXPECT_TRUE(fs::exists(fetched));
    EXPECT_EQ("before", ReadFile(data / "jine.txt"));
    // Drive and root prefixes are dropped, names that climb out are refused: three members land,
    // all inside the data folder.
    std::vector<std::string> landed;
    for (const auto& [name, state] : Snapshot(data))
        if (name != "archivace.dta" && name != "menu.txt" && name != "jine.txt")
            landed.push_back(name);
    const std::string absolute = (fs::relative(outside, "/") / "abs.txt").string();
    EXPECT_EQ((std::vector<std::string>{"dobry.txt", "drive.txt", absolute}), landed);
    EXPECT_EQ("absolute", ReadFile(data / absolute));
    // The refused members are listed as errors, and the result says the restore failed.
    EXPECT_NE(std::string::npos, Transcript().find("Form\tError messages\tOnError event | ClassName: TUnZip"))
        << Transcript();
    EXPECT_NE(std::string::npos, Transcript().find("\tData nerozbalena\tZ archivačního souboru: zly.zip\\r\\n"
                                                   "celkem rozbaleno datových souborů: 3\\r\\n"
                                                   "Obnova dat byla NEÚSPĚŠNÁ"))
        << Transcript();
}

}  // namespace
