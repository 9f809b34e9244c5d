// The UU, XX and Base64 encoder: what it writes decodes with uudecode, uudeview, base64 and our
// own decoder to the input's bytes; parts, split ZIP sets, and runs that must leave no output.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/Err_Msgs.h"
#include "readers/plxUUDecode.h"
#include "support/Reports.h"
#include "support/ToolRun.h"
#include "writers/plxUUEncode.h"

namespace fs = std::filesystem;

namespace {

struct TEncoded {
    int Count = 0;
    std::vector<int> Errors;
    bool Ended = false, Passed = false;
};

TEncoded Encode(const fs::path& Input, const fs::path& Output, TCompressMethod Method,
                const std::function<void(TUUEncode&)>& Setup = {})
{
    TUUEncode z;
    TEncoded r;
    z.OnError = CollectCodes(r.Errors);
    z.OnEnd = [&](TObject*, const std::string&, bool pass) {
        r.Ended = true;
        r.Passed = pass;
    };
    z.CompressMethod = Method;
    z.SetArchiveFile(Input.string());
    z.SetOutFilename(Output.string());
    if (Setup)
        Setup(z);
    r.Count = z.Compress();
    return r;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// Our decoder over First and the parts after it; answers the folder's one file's bytes.
std::string DecodeOurs(const fs::path& First, const fs::path& Out, int* Files = nullptr)
{
    TUUDecode z;
    z.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
    z.SetArchiveFile(First.string());
    fs::remove_all(Out);
    fs::create_directories(Out);
    z.SetExtractDir(Out.string());
    const int n = z.Extract();
    if (Files)
        *Files = n;
    for (const auto& e : fs::directory_iterator(Out))
        return ReadText(e.path());
    return "<nothing>";
}

class UUEncodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"uudecode", "uudeview", "base64"})
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " missing";
    }
    TScratchDir dir;
};

TEST_F(UUEncodeTest, OutputsDecodeWithTheToolsAndOurs)
{
    const struct {
        TCompressMethod Method;
        const char* Ext;
    } methods[] = {{cmUUEncode, "uue"}, {cmXXEncode, "xxe"}, {cmBase64, "mim"}};
    for (const std::size_t size : {0, 1, 2, 44, 45, 57, 100, 70000}) {
        const std::string data = RandomBytes(size, unsigned(size) + 3);
        WriteText(dir / "in.bin", data);
        for (const auto& m : methods) {
            const std::string what = std::string(m.Ext) + " of " + std::to_string(size) + " bytes";
            const fs::path out = dir / (std::string("t.") + m.Ext);
            const TEncoded r = Encode(dir / "in.bin", out, m.Method);
            ASSERT_EQ(r.Count, 1) << what;
            EXPECT_TRUE(r.Errors.empty()) << what;
            EXPECT_TRUE(r.Passed) << what;
            EXPECT_TRUE(DecodeOurs(out, dir / "ours") == data) << what;

            // uudeview misses short files (under some 500 bytes), its own among them.
            if (size >= 1000) {
                fs::remove_all(dir / "v");
                fs::create_directories(dir / "v");
                dir.Run(std::string("cd v && uudeview -i -q ../t.") + m.Ext + " >/dev/null 2>&1");
                ASSERT_TRUE(fs::exists(dir / "v" / "in.bin")) << "uudeview, " << what;
                EXPECT_TRUE(ReadText(dir / "v" / "in.bin") == data) << "uudeview, " << what;
            }
            if (m.Method == cmUUEncode) {
                ASSERT_EQ(dir.Run("uudecode -o dec.bin t.uue"), 0) << what;
                EXPECT_TRUE(ReadText(dir / "dec.bin") == data) << "uudecode, " << what;
            }
            if (m.Method == cmBase64) {
                // Our Base64 data end with an empty line; uudecode wants its own end line "====" in
                // its place (and reads Base64 lines that mail has turned into plain line ends).
                ASSERT_EQ(dir.Run("tr -d '\\r' < t.mim | sed 's/^$/====/' > lf.mim && uudecode -o dec.bin lf.mim"), 0)
                    << what;
                EXPECT_TRUE(ReadText(dir / "dec.bin") == data) << "uudecode, " << what;
                // The data lines alone are RFC 2045 Base64.
                ASSERT_EQ(dir.Run("sed -n '/^begin-base64/,/^====/p' lf.mim | sed '1d;$d' | base64 -d > dec.bin"), 0)
                    << what;
                EXPECT_TRUE(ReadText(dir / "dec.bin") == data) << "base64 -d, " << what;
            }
        }
    }
}

TEST_F(UUEncodeTest, LinesHeadersAndParts)
{
    WriteText(dir / "photo.jpg", std::string(45, 'x'));
    Encode(dir / "photo.jpg", dir / "photo.uue", cmUUEncode);
    const auto uu = Lines(ReadText(dir / "photo.uue"));
    ASSERT_EQ(uu.size(), 5u);
    EXPECT_EQ(uu[0], "begin 644 photo.jpg");
    EXPECT_EQ(uu[1].size(), 61u);
    EXPECT_EQ(uu[1][0], 'M');
    EXPECT_EQ(uu[2], "`");
    EXPECT_EQ(uu[3], "end");
    EXPECT_EQ(uu[4], "45 bytes");

    Encode(dir / "photo.jpg", dir / "photo.mim", cmBase64);
    const auto mime = Lines(ReadText(dir / "photo.mim"));
    EXPECT_EQ(mime[0], "Content-Type: image/jpeg; name=\"photo.jpg\";");
    EXPECT_EQ(mime[1], "Content-Transfer-Encoding: base64");
    EXPECT_EQ(mime[2], "Content-Disposition: attachment; filename=\"photo.jpg\"");
    EXPECT_EQ(mime[3], "");
    EXPECT_EQ(mime[4], "begin-base64 664 photo.jpg");

    WriteText(dir / "one", "A");
    Encode(dir / "one", dir / "one.mim", cmBase64);
    EXPECT_EQ(Lines(ReadText(dir / "one.mim"))[5], "QQ==");

    WriteText(dir / "empty", "");
    Encode(dir / "empty", dir / "empty.xxe", cmXXEncode, [](TUUEncode& z) { z.WriteTableToFile = true; });
    EXPECT_EQ(Lines(ReadText(dir / "empty.xxe")),
              (std::vector<std::string>{"table", "+-0123456789ABCDEFGHIJKLMNOPQRST", "UVWXYZabcdefghijklmnopqrstuvwxyz",
                                        "begin 644 empty", "+", "end", "0 bytes"}));
    EXPECT_EQ(DecodeOurs(dir / "empty.xxe", dir / "ours"), "");

    // Parts of 1 KiB: 16 lines, three of them counted for the header; named report.UU1, ...
    const std::string data = RandomBytes(2000, 5);
    WriteText(dir / "data", data);
    TUUEncode named;
    named.SetArchiveFile((dir / "data").string());
    named.SetOutFilename((dir / "report").string());
    EXPECT_EQ(named.OutFilename(), (dir / "report.UUE").string());
    named.KBytesPerVolume = 1;
    ASSERT_EQ(named.Compress(), 1);
    std::string input = (dir / "data").string();
    std::replace(input.begin(), input.end(), '/', '\\');
    EXPECT_EQ(named.ArchiveFile(), input);  // no extension added to it
    const auto first = Lines(ReadText(dir / "report.UUE"));
    EXPECT_EQ(first.size(), 14u);
    const auto last = Lines(ReadText(dir / "report.UU3"));
    EXPECT_EQ(last[0], "part 3");
    EXPECT_EQ(last[1], "begin 644 data");
    EXPECT_EQ(last.back(), "encoded into 3 file(s)");
    EXPECT_FALSE(fs::exists(dir / "report.UU4"));
    int files = 0;
    EXPECT_TRUE(DecodeOurs(dir / "report.UUE", dir / "ours", &files) == data);
    EXPECT_EQ(files, 1);
    // uudecode takes the parts joined once each continuation's part and begin lines are cut.
    ASSERT_EQ(dir.Run("cat report.UUE report.UU1 report.UU2 report.UU3 | sed '/^part [0-9]*\r$/,/^begin /d' | "
                      "uudecode -o joined"),
              0);
    EXPECT_TRUE(ReadText(dir / "joined") == data) << "uudecode of the parts joined";

    for (const auto method : {cmXXEncode, cmBase64}) {
        Encode(dir / "data", dir / "p.txt", method, [](TUUEncode& z) { z.KBytesPerVolume = 1; });
        EXPECT_TRUE(fs::exists(dir / "p.tx1"));
        EXPECT_TRUE(DecodeOurs(dir / "p.txt", dir / "ours") == data) << method;
    }
}

TEST_F(UUEncodeTest, PartsKeepTheirOwnNamesAndABrokenSetFails)
{
    // out.b64 in parts: by the extension's numbering part 4 would be out.b64 itself.
    const std::string data = RandomBytes(40000, 12);
    WriteText(dir / "f", data);
    for (const auto method : {cmBase64, cmUUEncode}) {
        SCOPED_TRACE(method);
        fs::remove_all(dir / "s");
        fs::create_directories(dir / "s");
        const TEncoded r =
            Encode(dir / "f", dir / "s" / "out.b64", method, [](TUUEncode& z) { z.KBytesPerVolume = 4; });
        ASSERT_EQ(r.Count, 1);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir / "s"))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        ASSERT_GE(names.size(), 10u);
        EXPECT_EQ(names[0], "out.b64");
        EXPECT_EQ(names[1], "out.b64.001");
        const auto last = Lines(ReadText(dir / "s" / names.back()));
        EXPECT_EQ(last.back(), "encoded into " + std::to_string(names.size() - 1) + " file(s)");
        EXPECT_TRUE(DecodeOurs(dir / "s" / "out.b64", dir / "ours") == data);
        if (method == cmUUEncode) {
            ASSERT_EQ(dir.Run("cat s/out.b64* | sed '/^part [0-9]*\r$/,/^begin /d' | uudecode -o joined"), 0);
            EXPECT_TRUE(ReadText(dir / "joined") == data) << "uudecode of the parts joined";
        }

        // A missing part, a part in another's place, a later part as the first, a part cut
        // short: each fails with a report.
        const auto fails = [&](const std::function<void()>& Break, const char* What) {
            fs::remove_all(dir / "b");
            fs::copy(dir / "s", dir / "b");
            Break();
            TUUDecode z;
            std::vector<int> errors;
            int passed = 0;
            z.OnError = CollectCodes(errors);
            z.OnEnd = [&](TObject*, const std::string&, bool pass) { passed += pass ? 1 : 0; };
            z.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
            z.SetArchiveFile((dir / "b" / "out.b64").string());
            z.SetExtractDir((dir / "b").string());
            z.TestArchive();
            EXPECT_EQ(passed, 0) << What;
            EXPECT_FALSE(errors.empty()) << What;
            return errors.empty() ? 0 : errors.front();
        };
        const auto put = [&](const char* From, const char* To) {
            fs::copy_file(dir / "b" / From, dir / "b" / To, fs::copy_options::overwrite_existing);
        };
        fails([&] { fs::remove(dir / "b" / "out.b64.002"); }, "missing");
        EXPECT_EQ(fails([&] { put("out.b64.003", "out.b64.002"); }, "replaced"), E_VOLUMEOUTOFSEQUENCE);
        EXPECT_EQ(fails([&] { put("out.b64.004", "out.b64"); }, "first replaced"), E_VOLUMEOUTOFSEQUENCE);
        fails(
            [&] {
                const auto lines = Lines(ReadText(dir / "b" / "out.b64.001"));
                std::string text;
                for (std::size_t i = 0; i + 5 < lines.size(); ++i)
                    text += lines[i] + "\r\n";
                WriteText(dir / "b" / "out.b64.001", text);
            },
            "cut");
    }
}

// Every continuation part opens with "part N" and "begin 644 NAME", and Base64 data end with an
// empty line: what our decoder (and the system's other installations) read. uudeview cannot join
// such a set: it takes every begin line for the start of another file.
TEST_F(UUEncodeTest, ASetOfSeveralPartsOpensEachPartWithItsPartAndBeginLines)
{
    const std::string data = RandomBytes(14000, 21);
    WriteText(dir / "in.bin", data);
    const struct {
        TCompressMethod Method;
        const char* Ext;
    } methods[] = {{cmUUEncode, "uue"}, {cmXXEncode, "xxe"}, {cmBase64, "mim"}};
    for (const auto& m : methods) {
        SCOPED_TRACE(m.Ext);
        const fs::path set = dir / m.Ext;
        fs::create_directories(set);
        const fs::path first = set / (std::string("set.") + m.Ext);
        ASSERT_EQ(Encode(dir / "in.bin", first, m.Method, [](TUUEncode& z) { z.KBytesPerVolume = 4; }).Count, 1);
        std::vector<fs::path> parts{first};
        for (int n = 1; fs::exists(TZipCommon::TextPartName(first.string(), n)); ++n)
            parts.emplace_back(TZipCommon::TextPartName(first.string(), n));
        ASSERT_GE(parts.size(), 5u);
        for (std::size_t n = 1; n < parts.size(); ++n) {
            const auto lines = Lines(ReadText(parts[n]));
            ASSERT_GE(lines.size(), 3u);
            EXPECT_EQ(lines[0], "part " + std::to_string(n));
            EXPECT_EQ(lines[1], "begin 644 in.bin");
        }
        const auto last = Lines(ReadText(parts.back()));
        const auto end = std::find(last.begin(), last.end(), "end");
        ASSERT_NE(end, last.end());
        EXPECT_EQ(end[-1], m.Method == cmBase64 ? "" : m.Method == cmUUEncode ? "`" : "+");
        int files = 0;
        EXPECT_TRUE(DecodeOurs(first, dir / "ours", &files) == data);
        EXPECT_EQ(files, 1);
        if (m.Method == cmUUEncode) {
            std::string joined;
            for (const auto& p : parts)
                joined += " " + ShellQuote(p.string());
            ASSERT_EQ(dir.Run("cat" + joined + " | sed '/^part [0-9]*\r$/,/^begin /d' | uudecode -o joined"), 0);
            EXPECT_TRUE(ReadText(dir / "joined") == data) << "uudecode of the parts joined";
        }
    }
}

TEST_F(UUEncodeTest, SplitZipSetIsWrittenVolumeByVolume)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    WriteText(dir / "r.bin", RandomBytes(200000, 11));
    ASSERT_EQ(dir.Run("zip -q -s 64k set.zip r.bin"), 0);
    for (const auto method : {cmUUEncode, cmBase64}) {
        const TEncoded r = Encode(dir / "set.zip", dir / "set.txt", method);
        ASSERT_EQ(r.Count, 1);
        EXPECT_TRUE(r.Errors.empty());
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        TUUDecode z;
        z.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
        z.SetArchiveFile((dir / "set.txt").string());
        z.SetExtractDir((dir / "out").string());
        EXPECT_EQ(z.Extract(), 4) << method;
        for (const char* v : {"set.z01", "set.z02", "set.z03", "set.zip"})
            EXPECT_TRUE(ReadText(dir / "out" / v) == ReadText(dir / v)) << method << " " << v;
    }
}

TEST_F(UUEncodeTest, FailedRunsLeaveNoOutput)
{
    WriteText(dir / "in.bin", RandomBytes(3 << 20, 4));
    WriteText(dir / "old.uue", "old");

    // The output named as the input: refused, the input stays.
    TEncoded same = Encode(dir / "in.bin", dir / "in.bin", cmUUEncode);
    EXPECT_EQ(same.Errors, std::vector<int>{E_SAMEINOUTNAMES});
    EXPECT_EQ(fs::file_size(dir / "in.bin"), std::uintmax_t(3 << 20));

    // Cancelled half way: no part, the old output as it was.
    TEncoded cancelled = Encode(dir / "in.bin", dir / "old.uue", cmUUEncode, [](TUUEncode& z) {
        z.KBytesPerVolume = 100;
        z.OnProgress = [&z](TObject*, std::uint8_t, std::uint8_t) { z.SetCancel(true); };
    });
    EXPECT_EQ(cancelled.Count, 0);
    EXPECT_FALSE(cancelled.Passed);
    EXPECT_EQ(ReadText(dir / "old.uue"), "old");
    EXPECT_FALSE(fs::exists(dir / "old.uu1"));

    // An input that ends before its size (a failing medium): reported, nothing written.
    TEncoded cut = Encode(dir / "in.bin", dir / "old.uue", cmUUEncode, [this](TUUEncode& z) {
        z.OnProgress = [this](TObject*, std::uint8_t, std::uint8_t) { fs::resize_file(dir / "in.bin", 1 << 20); };
    });
    EXPECT_EQ(cut.Errors, std::vector<int>{E_READFILE});
    EXPECT_EQ(ReadText(dir / "old.uue"), "old");

    // More than 999 parts: refused before anything is written.
    WriteText(dir / "in.bin", RandomBytes(800000, 4));
    TEncoded many = Encode(dir / "in.bin", dir / "many.uue", cmUUEncode, [](TUUEncode& z) { z.KBytesPerVolume = 1; });
    EXPECT_EQ(many.Errors, std::vector<int>{E_MAXVOLUMES});
    EXPECT_FALSE(fs::exists(dir / "many.uue"));

    // An existing output is replaced only when the host agrees.
    TEncoded kept = Encode(dir / "in.bin", dir / "old.uue", cmUUEncode, [](TUUEncode& z) {
        z.OverwriteMode = omSkip;
        z.OnFileExists = [](TObject*, const std::string&, TDateTime, TOverwriteMode& mode) { mode = omSkip; };
    });
    EXPECT_EQ(kept.Count, 0);
    EXPECT_EQ(ReadText(dir / "old.uue"), "old");
    TEncoded unasked =
        Encode(dir / "in.bin", dir / "old.uue", cmUUEncode, [](TUUEncode& z) { z.OverwriteMode = omSkip; });
    EXPECT_EQ(unasked.Errors, std::vector<int>{E_REQUIREDEVENT});

    // No temporary file is left beside the outputs.
    for (const auto& e : fs::directory_iterator(dir.Path()))
        EXPECT_FALSE(e.path().filename().string().starts_with("uue")) << e.path();
}

TEST(UUEncodeParts, CountsAndContentTypes)
{
    EXPECT_EQ(TUUEncode::PartCount(0, 45, 0), 1);
    EXPECT_EQ(TUUEncode::PartCount(45 * 12, 45, 16), 1);  // 12 data lines and the zero line
    EXPECT_EQ(TUUEncode::PartCount(45 * 13, 45, 16), 2);  // the zero line starts a part
    EXPECT_EQ(TUUEncode::PartCount(45 * 13 * 999, 45, 16), 1000);
    EXPECT_EQ(MimeContentType("a.htm"), "text/html");
    EXPECT_EQ(MimeContentType("a.TXT"), "text/plain; Charset=US-ASCII");
    EXPECT_EQ(MimeContentType("a.au"), "audio/basic");
    EXPECT_EQ(MimeContentType("a.html"), "text/html");
    EXPECT_EQ(MimeContentType("a"), "application/octet-stream");
}

}  // namespace
