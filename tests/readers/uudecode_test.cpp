// The UU, XX and Base64 decoder against uuencode, uuenview and base64: the same bytes back, the
// headers and end lines of each, volumes, MIME attachments, unsafe names and damaged input.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/Err_Msgs.h"
#include "readers/plxUUDecode.h"
#include "support/Reports.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

struct TDecoded {
    int Count = 0;
    std::vector<int> Errors;
    int Passed = 0, Failed = 0;
    std::vector<std::string> VolumesAsked;
};

TDecoded Decode(const fs::path& File, const fs::path& Out, const std::function<void(TUUDecode&)>& Setup = {})
{
    TUUDecode z;
    TDecoded r;
    z.OnError = CollectCodes(r.Errors);
    z.OnEnd = [&](TObject*, const std::string&, bool pass) { ++(pass ? r.Passed : r.Failed); };
    z.OnNextVolume = [&](TObject*, std::string& volume, int, bool exists, bool& cancel) {
        r.VolumesAsked.push_back(fs::path(volume).filename().string());
        cancel = !exists;
    };
    z.SetArchiveFile(File.string());
    fs::create_directories(Out);
    z.SetExtractDir(Out.string());
    if (Setup)
        Setup(z);
    r.Count = z.Extract();
    return r;
}

std::vector<std::string> Listing(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

class UUDecodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"uuencode", "uuenview", "base64"})
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " missing";
    }
    TScratchDir dir;
};

TEST_F(UUDecodeTest, FilesOfTheToolsDecodeToTheirBytes)
{
    // Sizes around a line's 45 and 57 bytes, and more than one read block.
    for (const std::size_t size : {0, 1, 2, 44, 45, 46, 57, 58, 10000, 1500000}) {
        const std::string data = RandomBytes(size, unsigned(size) + 1);
        WriteText(dir / "in.bin", data);
        const std::vector<std::string> commands = {
            "uuencode in.bin in.bin > t.uue",
            "uuencode -m in.bin in.bin > t.uue",
            "uuenview -u in.bin > t.uue",
            "uuenview -x in.bin > t.uue",
            "echo body | uuenview -a -b in.bin > t.uue",
            "(printf 'Content-Type: application/octet-stream\\r\\nContent-Transfer-Encoding: base64\\r\\n"
            "Content-Disposition: attachment; filename=\"in.bin\"\\r\\n\\r\\n'; base64 in.bin) > t.uue",
            // One long line, headers in another case and order.
            "(printf 'Content-Transfer-Encoding: BASE64\\nContent-Type: x/y; name=in.bin\\n\\n'; base64 -w0 in.bin) > "
            "t.uue",
        };
        for (const auto& command : commands) {
            ASSERT_EQ(dir.Run(command), 0) << command;
            fs::remove_all(dir / "out");
            const TDecoded r = Decode(dir / "t.uue", dir / "out");
            const std::string what = command + " of " + std::to_string(size) + " bytes";
            EXPECT_TRUE(r.Errors.empty()) << what << ": " << (r.Errors.empty() ? 0 : r.Errors[0]);
            ASSERT_TRUE(fs::exists(dir / "out" / "in.bin")) << what;
            EXPECT_EQ(ReadText(dir / "out" / "in.bin"), data) << what;
            EXPECT_EQ(r.Passed, 1) << what;
        }
    }
}

TEST_F(UUDecodeTest, VolumesAndAttachments)
{
    const std::string data = RandomBytes(60000, 7), small = RandomBytes(300, 8);
    WriteText(dir / "big.bin", data);
    WriteText(dir / "small.bin", small);

    // Parts of 200 lines named big.001, big.002, ...: data after comment lines, no begin line.
    for (const char* type : {"-u", "-x"}) {
        fs::remove_all(dir / "parts");
        fs::create_directories(dir / "parts");
        ASSERT_EQ(dir.Run(std::string("uuenview ") + type + " -200 -od parts big.bin"), 0);
        fs::remove_all(dir / "out");
        const TDecoded r = Decode(dir / "parts" / "big.001", dir / "out");
        EXPECT_TRUE(r.Errors.empty()) << type;
        EXPECT_EQ(ReadText(dir / "out" / "big.bin"), data) << type;
        EXPECT_EQ(r.VolumesAsked.front(), "big.002") << type;
    }

    // Two attachments of one message give two files.
    ASSERT_EQ(dir.Run("echo hi | uuenview -a -b big.bin small.bin > mail.eml"), 0);
    fs::remove_all(dir / "out");
    const TDecoded mail = Decode(dir / "mail.eml", dir / "out");
    EXPECT_EQ(mail.Count, 2);
    EXPECT_EQ(mail.Passed, 2);
    EXPECT_EQ(ReadText(dir / "out" / "big.bin"), data);
    EXPECT_EQ(ReadText(dir / "out" / "small.bin"), small);

    // A volume that is not given ends the file as failed: nothing half-written is left.
    ASSERT_EQ(dir.Run("rm -rf parts && mkdir parts && uuenview -u -200 -od parts big.bin && rm parts/big.002"), 0);
    fs::remove_all(dir / "out");
    const TDecoded broken = Decode(dir / "parts" / "big.001", dir / "out");
    EXPECT_EQ(broken.Failed, 1);
    EXPECT_EQ(broken.Passed, 0);
    EXPECT_FALSE(broken.Errors.empty());
    EXPECT_TRUE(Listing(dir / "out").empty());
}

TEST_F(UUDecodeTest, HeaderlessBase64WhenTheCallerSaysSo)
{
    const std::string data = RandomBytes(5000, 9);
    WriteText(dir / "in.bin", data);
    ASSERT_EQ(dir.Run("uuenview -b in.bin > plain.b64"), 0);
    // Without a header there is no name: nothing is written, nothing reported.
    TDecoded r = Decode(dir / "plain.b64", dir / "a");
    EXPECT_EQ(r.Count, 0);
    EXPECT_TRUE(r.Errors.empty());
    EXPECT_TRUE(Listing(dir / "a").empty());
    // Chosen as Base64, it is named after the file.
    r = Decode(dir / "plain.b64", dir / "b", [](TUUDecode& d) { d.Algorithm = B64Decode; });
    EXPECT_EQ(ReadText(dir / "b" / "plain"), data);
    EXPECT_TRUE(r.Errors.empty());
}

TEST_F(UUDecodeTest, LinesAsTheFormatsWriteThem)
{
    struct TCase {
        const char* Name;
        std::string File;
        std::string Output;
        std::string Bytes;
    };
    const std::vector<TCase> cases = {
        // A count of 0 ("`" or a blank) gives nothing; "END" ends the data like "end".
        {"zero", "begin 644 z.bin\r\n#86)C\r\n`\r\n \r\nEND\r\n", "z.bin", "abc"},
        // A file shorter than a line: the alphabet comes from the whole line, not from "M" or "h".
        {"short uu", "begin 644 s.bin\n$86)C9```\n`\nend\n", "s.bin", "abcd"},
        {"short xx", "begin 644 s.bin\n2MK7XN+++\n+\nend\n", "s.bin", "abcd"},
        // A name without an extension is cut at its first blank.
        {"blank", "begin 644 My File\n#86)C\n`\nend\n", "My", "abc"},
        {"padding", "begin-base64 644 p.bin\nQQ==\nQUI=\n====\n", "p.bin", "AAB"},
        // Base64 lines that begin with "end" are data; only the exact end line ends it.
        {"endish", "begin-base64 644 e.bin\nendA\nend\n", "e.bin", "zw@"},
        // A table names the alphabet: here XX's backwards.
        {"table",
         "table\nzyxwvutsrqponmlkjihgfedcbaZYXWVU\nTSRQPONMLKJIHGFEDCBA9876543210-+\nbegin 644 t.bin\n"
         "wbdqQ\nz\nend\n",
         "t.bin", "abc"},
        // MIME headers in another order, a folded filename, and data after the blank line only.
        {"mime",
         "Content-Disposition: attachment;\r\n\tfilename=\"m.bin\"\r\nContent-Transfer-Encoding: base64\r\n"
         "\r\nYWJj\r\n\r\n--boundary--\r\n",
         "m.bin", "abc"},
    };
    for (const auto& c : cases) {
        WriteText(dir / "t.txt", c.File);
        fs::remove_all(dir / "out");
        const TDecoded r = Decode(dir / "t.txt", dir / "out");
        EXPECT_TRUE(r.Errors.empty()) << c.Name << ": " << (r.Errors.empty() ? 0 : r.Errors[0]);
        ASSERT_TRUE(fs::exists(dir / "out" / c.Output)) << c.Name;
        EXPECT_EQ(ReadText(dir / "out" / c.Output), c.Bytes) << c.Name;
    }
    // What one run found (Base64 from MIME headers) does not stay for the next.
    {
        TUUDecode z;
        z.SetExtractDir((dir / "again").string());
        fs::create_directories(dir / "again");
        WriteText(dir / "mime.txt", cases.back().File);
        z.SetArchiveFile((dir / "mime.txt").string());
        EXPECT_EQ(z.Extract(), 1);
        z.SetArchiveFile((dir / "zero.txt").string());
        WriteText(dir / "zero.txt", cases.front().File);
        z.SetArchiveFile((dir / "zero.txt").string());
        EXPECT_EQ(z.Extract(), 1);
        EXPECT_EQ(z.Algorithm, uudecode);
        EXPECT_EQ(ReadText(dir / "again" / "z.bin"), "abc");
    }
    // "M" data decodes as UU whatever Algorithm says.
    WriteText(dir / "m.uue", std::string("begin 644 m.bin\n") + "M" + std::string(60, '!') + "\n`\nend\n");
    fs::remove_all(dir / "out");
    Decode(dir / "m.uue", dir / "out", [](TUUDecode& z) { z.Algorithm = xxdecode; });
    std::string ones;
    for (int i = 0; i < 15; ++i)
        ones += "\x04\x10\x41";
    EXPECT_EQ(ReadText(dir / "out" / "m.bin"), ones);
}

TEST_F(UUDecodeTest, NamesNeverLeaveTheFolderAndDamageIsReported)
{
    WriteText(dir / "keep.bin", "old");
    fs::create_directories(dir / "in");
    const struct {
        std::string Header;
        std::vector<std::string> Written;
    } names[] = {
        {"begin 644 ../../keep.bin", {"keep.bin"}},
        {"begin 644 /etc/x.bin", {"x.bin"}},
        {"Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"..\\\\..\\\\w.bin\"\n",
         {"w.bin"}},
        {"begin 644 ..", {}},
    };
    for (const auto& n : names) {
        const bool mime = n.Header.starts_with("Content");
        WriteText(dir / "in" / "t.uue", n.Header + (mime ? "\nYWJj\n" : "\n#86)C\n`\nend\n"));
        fs::remove_all(dir / "in" / "out");
        const TDecoded r = Decode(dir / "in" / "t.uue", dir / "in" / "out");
        EXPECT_EQ(Listing(dir / "in" / "out"), n.Written) << n.Header;
        if (n.Written.empty()) {
            EXPECT_EQ(r.Errors, std::vector<int>{E_INVALIDFILENAME}) << n.Header;
        }
    }
    EXPECT_EQ(ReadText(dir / "keep.bin"), "old");

    // No end line: reported as such (no volume is asked for that nothing announced), the file
    // ends as failed and an older file of its name stays.
    fs::create_directories(dir / "out2");
    WriteText(dir / "out2" / "c.bin", "older");
    WriteText(dir / "cut.uue", "begin 644 c.bin\n#86)C\n");
    TDecoded cut = Decode(dir / "cut.uue", dir / "out2", [](TUUDecode& z) { z.OnNextVolume = nullptr; });
    EXPECT_EQ(cut.Errors, (std::vector<int>{E_EOLNOTFOUND}));
    EXPECT_TRUE(Decode(dir / "cut.uue", dir / "out2").VolumesAsked.empty());
    EXPECT_EQ(cut.Failed, 1);
    EXPECT_EQ(cut.Passed, 0);
    EXPECT_EQ(ReadText(dir / "out2" / "c.bin"), "older");

    // No header within MaxHeaderLines: nothing, quietly.
    std::string late;
    for (int i = 0; i < 120; ++i)
        late += "text\n";
    WriteText(dir / "late.uue", late + "begin 644 l.bin\n#86)C\n`\nend\n");
    fs::remove_all(dir / "out3");
    TDecoded none = Decode(dir / "late.uue", dir / "out3");
    EXPECT_EQ(none.Count, 0);
    EXPECT_TRUE(none.Errors.empty());
    TDecoded found = Decode(dir / "late.uue", dir / "out3", [](TUUDecode& z) { z.MaxHeaderLines = 200; });
    EXPECT_EQ(found.Passed, 1);

    // Data that no alphabet reads.
    WriteText(dir / "bad.uue", "begin 644 b.bin\n{{{{\nend\n");
    fs::remove_all(dir / "out4");
    EXPECT_EQ(Decode(dir / "bad.uue", dir / "out4").Errors, std::vector<int>{E_UNSUPPORTEDMETHOD});
    EXPECT_TRUE(Listing(dir / "out4").empty());
}

TEST_F(UUDecodeTest, DamagedLinesDecodeAsFarAsTheyCanAndTheRestIsReported)
{
    if (!HaveTool("uudecode"))
        GTEST_SKIP() << "uudecode missing";
    // Every line ends in zero bits: in a file that writes blanks for 0, a mail transport strips them.
    std::string data;
    for (int i = 0; i < 20; ++i)
        data += RandomBytes(36, unsigned(20 + i)) + std::string(9, '\0');
    WriteText(dir / "z", data);
    ASSERT_EQ(dir.Run("uuencode z z > z.uue && sed '/^M/s/`/ /g; s/ *$//' z.uue > stripped.uue"), 0);
    const std::string stripped = ReadText(dir / "stripped.uue");
    ASSERT_EQ(stripped.find(std::string(60, ' ')), std::string::npos);
    ASSERT_NE(stripped.find("\nM"), std::string::npos);
    TDecoded r = Decode(dir / "stripped.uue", dir / "o1");
    EXPECT_TRUE(r.Errors.empty());
    EXPECT_TRUE(ReadText(dir / "o1" / "z") == data) << "missing blanks are zero bits";
    // uudecode keeps the size too (its bytes for the missing characters are not zero).
    ASSERT_EQ(dir.Run("uudecode -o gnu.bin stripped.uue"), 0);
    EXPECT_EQ(fs::file_size(dir / "gnu.bin"), data.size());

    // What cannot be decoded is reported and the file fails, never a short file passed as sound:
    // a character outside the alphabet, a line cut short where the file writes "`" for 0 (no
    // transport strips those), an XX line cut short, a line that is no data amid the data.
    const std::string plain = RandomBytes(900, 9);
    WriteText(dir / "g", plain);
    ASSERT_EQ(dir.Run("uuencode g g > g.uue && uuencode g g | tr '`!-_' '+\\0550-9A-Za-z' | sed 's/^begin .* g$/begin "
                      "644 g/' > g.xxe"),
              0);
    const auto damaged = [&](const std::string& From, int LineNo, const std::function<void(std::string&)>& Change) {
        std::string text = ReadText(dir / From), out;
        std::size_t at = 0;
        for (int n = 0; at < text.size(); ++n) {
            std::size_t end = text.find('\n', at);
            std::string line = text.substr(at, end - at);
            if (n == LineNo)
                Change(line);
            out += line + "\n";
            at = end + 1;
        }
        return out;
    };
    const struct {
        const char* Name;
        std::string Text;
        int Code;
    } cases[] = {
        {"stray", damaged("g.uue", 4, [](std::string& l) { l[20] = 'a'; }), E_SKIPPEDILLEGALCHAR},
        {"short", damaged("g.uue", 4, [](std::string& l) { l.resize(40); }), E_UNEXPECTEDEOL},
        {"short xx", damaged("g.xxe", 4, [](std::string& l) { l.resize(40); }), E_UNEXPECTEDEOL},
        {"not data", damaged("g.uue", 4, [](std::string& l) { l = "a line of mail"; }), E_SKIPPEDILLEGALCHAR},
    };
    ASSERT_TRUE(ReadText(dir / "g.xxe").find("\nh") != std::string::npos);
    for (const auto& c : cases) {
        WriteText(dir / "d.uue", c.Text);
        fs::remove_all(dir / "o2");
        const TDecoded d = Decode(dir / "d.uue", dir / "o2");
        EXPECT_EQ(d.Errors, std::vector<int>{c.Code}) << c.Name;
        EXPECT_EQ(d.Passed, 0) << c.Name;
        EXPECT_EQ(d.Failed, 1) << c.Name;
    }
    // The undamaged XX file passes: the damage above is what failed.
    fs::remove_all(dir / "o3");
    const TDecoded xx = Decode(dir / "g.xxe", dir / "o3");
    EXPECT_TRUE(xx.Errors.empty());
    EXPECT_TRUE(ReadText(dir / "o3" / "g") == plain);
}

TEST(UUDecodeVolumes, NamesOfTheNextVolumes)
{
    TUUDecode z;
    EXPECT_EQ(z.VolumeNameOf("/d/file.UUE", 1), "/d/file.UU1");
    EXPECT_EQ(z.VolumeNameOf("/d/file.UUE", 12), "/d/file.U12");
    EXPECT_EQ(z.VolumeNameOf("/d/big.001", 1), "/d/big.002");
    EXPECT_EQ(z.VolumeNameOf("/d/big.099", 1), "/d/big.100");
    // No part takes the name of the first or of another part, whatever the first is called.
    for (const std::string first : {"/d/out.b64", "/d/out.uue", "/d/out.123", "/d/out.u1", "/d/out.b", "/d/out",
                                    "/d/out.1b2", "/d/out.mime64", "/d.1/out", "/d/out.0"}) {
        std::set<std::string> names{first};
        for (int n = 1; n <= 999; ++n)
            EXPECT_TRUE(names.insert(z.VolumeNameOf(first, n)).second) << first << " part " << n;
    }
    EXPECT_EQ(z.VolumeNameOf("/d/out.b64", 4), "/d/out.b64.004");
    z.NextVolumeName = nvChangeFilename;
    EXPECT_EQ(z.VolumeNameOf("file.UUE", 1), "fil1.UUE");
    z.SetVolumeStartNum(200);
    EXPECT_EQ(z.VolumeStartNum(), 10);
}

}  // namespace

namespace {

TEST(EncodedTextType, WhatTheFirstLinesAnnounce)
{
    std::string name;
    EXPECT_EQ(EncodedTextType("From: x\nSubject: y\n\nbegin 644 a b.txt\nM...\n", &name), atUUE);
    EXPECT_EQ(name, "a b.txt");
    EXPECT_EQ(EncodedTextType("begin-base64 644 n\r\n====\r\n", &name), atB64);
    EXPECT_EQ(name, "n");
    EXPECT_EQ(EncodedTextType("Content-Type: a/b; name=\"t.bin\"\r\ncontent-transfer-encoding: BASE64\r\n\r\nQQ==\r\n",
                              &name),
              atB64);
    EXPECT_EQ(name, "t.bin");
    // Prose is no header, nor a text part without Base64.
    EXPECT_EQ(EncodedTextType("begin the story\nbegin 644\nContent-Transfer-Encoding: 8bit\n\nx\n"), atNA);
}

}  // namespace
