// The ACE extractor over our ACE library: the shared fixtures and archives made by the test-side
// ACE 1.0 writer extract to what the reference reader (acefile) extracts; damage and overwrite
// rules end with reports and never touch what should stay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "readers/plxUnAce.h"
#include "readers/support/AceWriter.h"
#include "support/HostTree.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

fs::path SharedRoot()
{
    const char* env = std::getenv("TORVO_FIXTURES");
    return env ? fs::path(env).parent_path() : fs::path(TORVO_SOURCE_DIR) / ".." / "shared";
}

std::optional<fs::path> AceFixtures()
{
    const char* env = std::getenv("TORVO_FIXTURES");
    const fs::path dir = (env ? fs::path(env) : SharedRoot() / "fixtures") / "ace";
    return fs::is_directory(dir) ? std::optional(dir) : std::nullopt;
}

std::optional<fs::path> AceOracle()
{
    const fs::path script = SharedRoot() / "oracles" / "acefile" / "acefile.py";
    return fs::exists(script) && HaveTool("python3") ? std::optional(script) : std::nullopt;
}

std::vector<std::uint8_t> Bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

// 8-bit samples of a slow wave with a flat stretch (runs of zero differences) and some noise.
std::vector<std::uint8_t> Wave8(std::size_t n)
{
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = i % 700 < 150 ? 77 : std::uint8_t(128 + 90 * std::sin(double(i) * 0.05) + double(i * 7 % 5));
    return out;
}

// 16-bit stereo frames (left, right; little-endian).
std::vector<std::uint8_t> Wave16(std::size_t frames)
{
    std::vector<std::uint8_t> out;
    for (std::size_t k = 0; k < frames; ++k)
        for (double v : {8000 * std::sin(double(k) * 0.01), 6000 * std::cos(double(k) * 0.013) + double(k % 3)}) {
            const auto s = std::uint16_t(std::int16_t(v));
            out.insert(out.end(), {std::uint8_t(s), std::uint8_t(s >> 8)});
        }
    return out;
}

// Rows of Width bytes holding Planes interleaved colour planes: gradients with a pattern.
std::vector<std::uint8_t> Picture(int width, int planes, std::size_t size)
{
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t row = i / std::size_t(width), col = i % std::size_t(width);
        out[i] = std::uint8_t(row * 3 + col / std::size_t(planes) * (col % std::size_t(planes) + 1) +
                              ((row / 8 + col / 16) % 2) * 40);
    }
    return out;
}

class AceTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        fs::create_directories(home + "/tmp");
    }

    void Bind(TUnACE& un)
    {
        un.OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int code) {
            reports.push_back(code);
        };
        un.OnEnd = [this](TObject*, const std::string& name, bool pass) { ends[name] = pass; };
        un.OnBegin = [this](TObject*, const std::string&, int, bool&) { ++begins; };
        un.SetTempDir("C:\\tmp");
    }

    int Extract(const fs::path& archive, const std::string& out, const std::function<void(TUnACE&)>& setup = {})
    {
        reports.clear();
        ends.clear();
        begins = 0;
        TUnACE un;
        Bind(un);
        un.CreateStoredDirs = true;
        un.SetArchiveFile(archive.string());
        un.SetExtractDir("C:\\" + out);
        fs::create_directories(home + "/" + out);
        if (setup)
            setup(un);
        return un.Extract();
    }

    std::map<std::string, std::string> OracleTree(const fs::path& archive, const std::string& out,
                                                  const std::string& password = "")
    {
        const fs::path dir = root + "/" + out;
        fs::create_directories(dir);
        const std::string oracle = "timeout 300 python3 " + ShellQuote(AceOracle()->string()) + " -b " +
                                   (password.empty() ? "" : "-p " + ShellQuote(password) + " ");
        const std::string tail = " " + ShellQuote(archive.string()) + " >/dev/null 2>&1";
        EXPECT_EQ(std::system((oracle + "-t" + tail).c_str()), 0) << archive;
        EXPECT_EQ(std::system((oracle + "-x -d " + ShellQuote(dir.string()) + tail).c_str()), 0) << archive;
        return HostTree(dir);
    }

    // Writes the archive (volumes x.ace, x.C00, x.C01 ...) and returns the first volume.
    fs::path WriteSet(const std::string& name, const std::vector<TAceTestMember>& members,
                      const TAceTestOptions& options)
    {
        const auto volumes = WriteAceVolumes(members, options);
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            char ext[16];
            std::snprintf(ext, sizeof ext, ".C%02d", int(i) - 1);
            WriteWholeFile(root + "/" + name + (i == 0 ? std::string(".ace") : std::string(ext)), volumes[i]);
        }
        return root + "/" + name + ".ace";
    }

    static std::map<std::string, std::string> TreeOf(const std::vector<TAceTestMember>& members)
    {
        std::map<std::string, std::string> tree;
        for (const auto& m : members) {
            std::string name = m.Name;
            std::replace(name.begin(), name.end(), '\\', '/');
            tree[name] = std::string(m.Data.begin(), m.Data.end());
            for (std::size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
                tree[name.substr(0, slash + 1)] = "";
        }
        return tree;
    }

    bool AllPassed() const
    {
        return !ends.empty() && std::all_of(ends.begin(), ends.end(), [](const auto& e) { return e.second; });
    }

    std::vector<int> reports;
    std::map<std::string, bool> ends;
    int begins = 0;
};

TEST_F(AceTest, FixturesExtractToWhatTheReferenceReaderExtracts)
{
    const auto fixtures = AceFixtures();
    TORVO_NEED_FIXTURES(fixtures && AceOracle(), "no ACE fixtures or no reference reader");
    int n = 0;
    for (const auto& e : fs::directory_iterator(*fixtures)) {
        SCOPED_TRACE(e.path().filename().string());
        const std::string out = "out" + std::to_string(++n);
        EXPECT_GT(Extract(e.path(), out), 0);
        EXPECT_TRUE(reports.empty());
        EXPECT_TRUE(AllPassed());
        EXPECT_EQ(begins, int(ends.size()));
        EXPECT_EQ(HostTree(home + "/" + out), OracleTree(e.path(), "ref" + std::to_string(n)));
    }
}

TEST_F(AceTest, WrittenLz77ArchivesDecodeAsTheReferenceReaderDecodesThem)
{
    if (!AceOracle())
        GTEST_SKIP() << "no reference reader";
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "line " + std::to_string(i % 97) + " of a text that repeats itself with small changes\n";
    std::vector<std::uint8_t> runs(70000, 'a');
    for (std::size_t i = 0; i < runs.size(); i += 1000)
        runs[i] = std::uint8_t(i / 1000);
    // Far copies (distances beyond 8 KiB) and repeated distances.
    std::vector<std::uint8_t> far = MixedBytes(20000, 3);
    const auto noise = far;
    far.insert(far.end(), noise.begin(), noise.end());
    far.insert(far.end(), noise.begin() + 100, noise.begin() + 9000);
    const std::vector<TAceTestMember> members = {
        {"text.txt", Bytes(text)},
        {"runs.bin", runs},
        {"dir\\far.bin", far},
        {"random.bin", MixedBytes(5000, 7)},
        {"one.txt", Bytes("x")},
        {"empty.txt", {}},
        {"stored.bin", MixedBytes(3000, 9), false},
    };
    int n = 0;
    for (int blockSymbols : {3000, 97}) {
        SCOPED_TRACE(blockSymbols);
        const fs::path archive = root + "/w" + std::to_string(++n) + ".ace";
        WriteWholeFile(archive, WriteAce10Archive(members, blockSymbols));
        const std::string out = "out" + std::to_string(n);
        EXPECT_EQ(Extract(archive, out), int(members.size()));
        EXPECT_TRUE(reports.empty());
        EXPECT_TRUE(AllPassed());
        const auto ours = HostTree(home + "/" + out);
        EXPECT_EQ(ours, OracleTree(archive, "ref" + std::to_string(n)));
        EXPECT_EQ(ours.at("dir/far.bin"), std::string(far.begin(), far.end()));
        EXPECT_EQ(ours.at("text.txt"), text);
        if (HaveTool("unace")) {
            // The ACE 1.0 reader of the distribution agrees where it reads the archive.
            const fs::path dir = root + "/unace" + std::to_string(n);
            fs::create_directories(dir);
            if (std::system(("cd " + ShellQuote(dir.string()) + " && timeout 60 unace x -y " +
                             ShellQuote(archive.string()) + " >/dev/null 2>&1")
                                .c_str()) == 0) {
                EXPECT_EQ(HostTree(dir), ours);
            }
        }
    }
}

TEST_F(AceTest, DamageEndsWithAReportAndLeavesExistingFilesAlone)
{
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "some words " + std::to_string(i % 13) + "\n";
    std::vector<std::uint8_t> archive = WriteAce10Archive({{"a.txt", Bytes(text)}, {"b.txt", Bytes(text)}});
    // An existing target survives a member that fails its check.
    fs::create_directories(home + "/out");
    WriteWholeFile(home + "/out/a.txt", Bytes("keep me"));
    std::vector<std::uint8_t> flipped = archive;
    flipped[flipped.size() / 3] ^= 0x55;
    WriteWholeFile(root + "/flipped.ace", flipped);
    Extract(root + "/flipped.ace", "out");
    EXPECT_FALSE(reports.empty());
    EXPECT_FALSE(AllPassed());
    // Either the bad member failed its check (and its target was kept) or the stream ended.
    const auto after = ReadWholeFile(home + "/out/a.txt");
    if (!(ends.count("C:\\out\\a.txt") && ends["C:\\out\\a.txt"])) {
        EXPECT_EQ(std::string(after.begin(), after.end()), "keep me");
    }
    // Truncated anywhere: a report, nothing written beside the folder.
    for (std::size_t cut : {archive.size() - 7, archive.size() / 2, std::size_t(40), std::size_t(10)}) {
        WriteWholeFile(root + "/cut.ace",
                       std::vector<std::uint8_t>(archive.begin(), archive.begin() + std::ptrdiff_t(cut)));
        Extract(root + "/cut.ace", "cut");
        EXPECT_FALSE(AllPassed() && reports.empty()) << cut;
    }
    // Damage inside sound and picture blocks ends with a report as well.
    const std::vector<std::uint8_t> blocked =
        WriteAceVolumes({{"media.bin", Wave8(2400), true, {{3, 1200}, {7, 1200, 40, 2}}}}, TAceTestOptions{}).front();
    for (std::size_t at : {blocked.size() / 2, blocked.size() - 40, blocked.size() - 9}) {
        std::vector<std::uint8_t> bad = blocked;
        bad[at] ^= 0x21;
        WriteWholeFile(root + "/media.ace", bad);
        Extract(root + "/media.ace", "cut");
        EXPECT_FALSE(AllPassed() && reports.empty()) << at;
        WriteWholeFile(root + "/media.ace",
                       std::vector<std::uint8_t>(blocked.begin(), blocked.begin() + std::ptrdiff_t(at)));
        Extract(root + "/media.ace", "cut");
        EXPECT_FALSE(AllPassed() && reports.empty()) << at;
    }
    for (const auto& e : fs::directory_iterator(home))
        EXPECT_TRUE(e.path().filename() == "out" || e.path().filename() == "cut" || e.path().filename() == "tmp")
            << e.path();
}

TEST_F(AceTest, OverwriteRulesNamesAndSelectionGoThroughTheDriver)
{
    const std::vector<std::uint8_t> archive =
        WriteAce10Archive({{"a.txt", Bytes("new a")}, {"sub\\b.txt", Bytes("new b")}, {"..\\evil.txt", Bytes("x")}});
    WriteWholeFile(root + "/x.ace", archive);
    fs::create_directories(home + "/out");
    WriteWholeFile(home + "/out/a.txt", Bytes("old a"));
    // omSkip keeps an existing target whole.
    Extract(root + "/x.ace", "out", [](TUnACE& un) { un.OverwriteMode = omSkip; });
    EXPECT_EQ(ReadWholeFile(home + "/out/a.txt"), Bytes("old a"));
    EXPECT_EQ(ReadWholeFile(home + "/out/sub/b.txt"), Bytes("new b"));
    EXPECT_FALSE(fs::exists(home + "/evil.txt"));
    EXPECT_NE(std::find(reports.begin(), reports.end(), E_INVALIDFILENAME), reports.end());
    // OnFileExists and OnRenameFile fire as for every extractor.
    int asked = 0;
    Extract(root + "/x.ace", "out", [&asked](TUnACE& un) {
        un.ConfirmOverwrites = true;
        un.OnFileExists = [&asked](TObject*, const std::string&, std::string&, TOverwriteMode& mode) {
            ++asked;
            mode = omOverwrite;
        };
        un.SetFileSpec({"a.txt"});
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadWholeFile(home + "/out/a.txt"), Bytes("new a"));
    EXPECT_EQ(int(ends.size()), 1);
    // A test writes nothing and still tells every entry's end.
    reports.clear();
    ends.clear();
    TUnACE un;
    Bind(un);
    un.SetArchiveFile(root + "/x.ace");
    un.SetFileSpec({"*.txt"});
    EXPECT_EQ(un.TestArchive(), 3);
    EXPECT_EQ(ends.size(), 3u);
}

TEST_F(AceTest, BlockedMembersInEveryModeDecodeAsTheReferenceReaderDecodesThem)
{
    if (!AceOracle())
        GTEST_SKIP() << "no reference reader";
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "row " + std::to_string(i % 17) + " of the table\n";
    std::vector<std::uint8_t> mixed(text.begin(), text.begin() + 300);
    const auto pic1 = Picture(60, 2, 600), snd = Wave8(800), pic2 = Picture(30, 1, 300);
    mixed.insert(mixed.end(), pic1.begin(), pic1.end());
    mixed.insert(mixed.end(), snd.begin(), snd.end());
    mixed.insert(mixed.end(), text.begin() + 300, text.begin() + 500);
    mixed.insert(mixed.end(), pic2.begin(), pic2.end());
    mixed.insert(mixed.end(), text.begin() + 500, text.begin() + 577);
    const auto wave16 = Wave16(3000);
    std::vector<std::uint8_t> tail16 = wave16;
    tail16.insert(tail16.end(), text.begin(), text.begin() + 37);
    const std::vector<TAceTestMember> members = {
        {"sound8.raw", Wave8(6000), true, {{0, 500}, {3, 5500}}},
        // Starts in a sound mode; the LZ77 tail is no whole group of four.
        {"sound16.raw", tail16, true, {{4, wave16.size()}, {0, 37}}},
        {"sound32a.raw", wave16, true, {{5, wave16.size()}}},
        {"sound32b.raw", wave16, true, {{6, wave16.size()}}},
        // Ends inside a picture row.
        {"pic\\image.rgb", Picture(192, 3, 192 * 50 + 100), true, {{7, 192 * 50 + 100, 192, 3}}},
        // Every switch: to the picture, to sound, to the same sound mode (state kept), back to LZ77
        // (distance history kept) and to a picture of another geometry.
        {"mixed.bin", mixed, true, {{0, 300}, {7, 600, 60, 2}, {3, 400}, {3, 400}, {0, 200}, {7, 300, 30, 1}, {0, 77}}},
        {"plain.txt", std::vector<std::uint8_t>(text.begin(), text.end())},
    };
    int n = 0;
    for (int blockSymbols : {30000, 211}) {
        SCOPED_TRACE(blockSymbols);
        TAceTestOptions options;
        options.BlockSymbols = blockSymbols;
        const fs::path archive = WriteSet("modes" + std::to_string(++n), members, options);
        const std::string out = "out" + std::to_string(n);
        EXPECT_EQ(Extract(archive, out), int(members.size()));
        EXPECT_TRUE(reports.empty());
        EXPECT_TRUE(AllPassed());
        const auto ours = HostTree(home + "/" + out);
        EXPECT_EQ(ours, TreeOf(members));
        EXPECT_EQ(ours, OracleTree(archive, "ref" + std::to_string(n)));
    }
}

TEST_F(AceTest, VolumeSetsJoinMembersAcrossVolumes)
{
    std::string text;
    for (int i = 0; i < 2500; ++i)
        text += "entry " + std::to_string(i * 37 % 101) + " continues\n";
    const std::vector<TAceTestMember> members = {
        {"first.txt", Bytes(text.substr(0, 900))},
        {"big.txt", Bytes(text)},
        {"noise.bin", MixedBytes(9000, 5), false},
        {"sound.raw", Wave8(4000), true, {{3, 4000}}},
        {"last.txt", Bytes("the end")},
    };
    TAceTestOptions options;
    options.VolumeBytes = 4000;
    const fs::path archive = WriteSet("set", members, options);
    ASSERT_TRUE(fs::exists(root + "/set.C02"));
    std::vector<int> asked;
    const auto confirm = [&asked](TUnACE& un) {
        un.OnNextVolume = [&asked](TObject*, std::string&, int id, bool exists, bool& cancel) {
            asked.push_back(id);
            cancel = !exists;
        };
    };
    EXPECT_EQ(Extract(archive, "out", confirm), int(members.size()));
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(AllPassed());
    EXPECT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), 1);
    EXPECT_TRUE(std::is_sorted(asked.begin(), asked.end()));
    const auto ours = HostTree(home + "/out");
    EXPECT_EQ(ours, TreeOf(members));
    if (AceOracle()) {
        EXPECT_EQ(ours, OracleTree(archive, "ref"));
    }
    // Without OnNextVolume the run stops at the first member continued in the next volume, with
    // the missing event named; a missing volume stops it too. What was written is whole.
    const auto wholeOrAbsent = [&](const std::string& out) {
        const auto tree = HostTree(home + "/" + out);
        for (const auto& [name, data] : tree)
            EXPECT_EQ(data, TreeOf(members).at(name)) << name;
        return tree;
    };
    Extract(archive, "noevent");
    EXPECT_NE(std::find(reports.begin(), reports.end(), E_REQUIREDEVENT), reports.end());
    EXPECT_EQ(wholeOrAbsent("noevent").count("noise.bin"), 0u);
    EXPECT_EQ(wholeOrAbsent("noevent").count("first.txt"), 1u);
    fs::remove(root + "/set.C01");
    Extract(archive, "missing", confirm);
    EXPECT_FALSE(reports.empty());
    EXPECT_LT(wholeOrAbsent("missing").size(), members.size());
}

TEST_F(AceTest, EncryptedMembersDecipherWithThePasswordGiven)
{
    if (!AceOracle())
        GTEST_SKIP() << "no reference reader";
    const std::string password = "Sesame, open 123";
    // The reference reader's own cipher enciphers (CBC, zero IV, little-endian words).
    const auto encipher = [this, &password](const std::vector<std::uint8_t>& plain) {
        WriteWholeFile(root + "/plain.bin", plain);
        const std::string script =
            "import sys,struct,importlib.util as u\n"
            "s=u.spec_from_file_location('a',sys.argv[1]);m=u.module_from_spec(s);s.loader.exec_module(m)\n"
            "bf=m.AceBlowfish(sys.argv[2].encode());d=open(sys.argv[3],'rb').read();o=[];pl=pr=0\n"
            "for i in range(0,len(d),8):\n"
            " l,r=struct.unpack('<LL',d[i:i+8]);pl,pr=bf._bf_encrypt_block(l^pl,r^pr);o.append(struct.pack('<LL',pl,pr)"
            ")\n"
            "open(sys.argv[4],'wb').write(b''.join(o))\n";
        WriteWholeFile(root + "/enc.py", Bytes(script));
        const std::string command = "python3 " + ShellQuote(root + "/enc.py") + " " +
                                    ShellQuote(AceOracle()->string()) + " " + ShellQuote(password) + " " +
                                    ShellQuote(root + "/plain.bin") + " " + ShellQuote(root + "/cipher.bin");
        EXPECT_EQ(std::system(command.c_str()), 0);
        return ReadWholeFile(root + "/cipher.bin");
    };
    std::string text;
    for (int i = 0; i < 1500; ++i)
        text += "secret line " + std::to_string(i % 31) + "\n";
    std::vector<TAceTestMember> members = {
        {"secret.txt", Bytes(text)},
        {"stored.bin", MixedBytes(1001, 3), false},
        {"sound.raw", Wave8(3000), true, {{3, 3000}}},
        {"open.txt", Bytes("not secret")},
    };
    for (std::size_t i = 0; i < 3; ++i)
        members[i].Encrypt = true;
    TAceTestOptions options;
    options.Encipher = encipher;
    const fs::path archive = WriteSet("locked", members, options);
    EXPECT_EQ(Extract(archive, "out", [&password](TUnACE& un) { un.SetPassword(password); }), int(members.size()));
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(AllPassed());
    EXPECT_EQ(HostTree(home + "/out"), TreeOf(members));
    EXPECT_EQ(HostTree(home + "/out"), OracleTree(archive, "ref", password));
    // The password asked for when none is set; across volumes the cipher runs on.
    options.VolumeBytes = 3000;
    const fs::path set = WriteSet("lockedset", members, options);
    int prompts = 0;
    Extract(set, "asked", [&password, &prompts](TUnACE& un) {
        un.OnNextVolume = [](TObject*, std::string&, int, bool, bool&) {};
        un.OnGetPassword = [&password, &prompts](TObject*, const std::string&, std::string& pw, TSeedKeyRecord&,
                                                 TSeedKeyRecord&, bool&) {
            ++prompts;
            pw = password;
        };
    });
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(HostTree(home + "/asked"), TreeOf(members));
    // A wrong password: each enciphered member reported, none written; the open one still comes.
    Extract(archive, "wrong", [](TUnACE& un) { un.SetPassword("not it"); });
    EXPECT_EQ(std::count(reports.begin(), reports.end(), E_INVALIDPASSWORD), 3);
    EXPECT_EQ(HostTree(home + "/wrong"), (std::map<std::string, std::string>{{"open.txt", "not secret"}}));
}

}  // namespace
