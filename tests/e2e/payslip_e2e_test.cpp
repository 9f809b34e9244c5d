// Payslip packing through command 50: the program and its caller as two real processes, the
// archives checked with Info-ZIP.
#include "e2e/support/E2eSupport.h"

#include "platform/win/CodePage.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <set>

using namespace e2e;

namespace {

const std::string Bsdtar = "LC_ALL=C.UTF-8 bsdtar --options hdrcharset=CP852 ";

class Payslips : public Session {
protected:
    void SetUp() override
    {
        Session::SetUp();
        pdf = Home() / "výplatní pásky" / "pdf";
        zip = Home() / "pasky" / "zip";
        fs::create_directories(pdf);
        fs::create_directories(zip);
    }
    // n payslips in the PDF folder, listed by bare name; the last one is listed with a folder of
    // its own instead.
    std::vector<std::string> MakePayslips(int n)
    {
        std::vector<std::string> names;
        std::string list;
        for (int i = 1; i <= n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "páska %03d.pdf", i);
            names.push_back(name);
            if (i == n) {
                WriteFile(Home() / "jinde" / name, "%PDF elsewhere " + std::to_string(i));
                list += win::Utf8ToAnsi(std::string("C:\\jinde\\") + name) + "\r\n";
            } else {
                WriteFile(pdf / name, "%PDF payslip " + std::to_string(i) + std::string(std::size_t(i) * 37, 'x'));
                list += win::Utf8ToAnsi(name) + "\r\n";
            }
        }
        WriteFile(zip / "seznam.txt", list);
        return names;
    }
    // One command-50 request in a fresh program; the caller's replies and the base name that the
    // result box names.
    std::string Pack(std::string& baseName)
    {
        EXPECT_TRUE(StartTorvo());
        std::string output;
        EXPECT_EQ(0, Call({"--command", "50", "--mode", "50", "--definition",
                           "/nameseznam=seznam.txt /pathpdf=C:\\výplatní?pásky\\pdf", "--folder",
                           "/pathpdfzip=C:\\pasky\\zip /filepdfzip=Pasky", "--linger", "1", "--timeout", "60"},
                          output));
        EXPECT_EQ(0, TorvoExit());
        // The error list, when it was shown, comes before the result box.
        std::string transcript = Transcript();
        errorLists = 0;
        for (const std::string list = "Form\tError messages\t"; transcript.rfind(list, 0) == 0; ++errorLists)
            transcript.erase(0, transcript.find('\n') + 1);
        const std::string head = "MessageBox\tVýplatní pásky\tNa adresáří C:\\\\pasky\\\\zip\\\\\\r\\nv souboru ";
        const std::string middle = ".ZIP\\r\\njsou zpakované výplatní pásky v počtu: ";
        const std::size_t at = transcript.find(head);
        const std::size_t mid = transcript.find(middle, at);
        baseName.clear();
        lastCount = -1;
        EXPECT_TRUE(at == 0 && mid != std::string::npos) << transcript;
        if (at == 0 && mid != std::string::npos) {
            baseName = transcript.substr(head.size(), mid - head.size());
            lastCount = std::atoi(transcript.c_str() + mid + middle.size());
            EXPECT_TRUE(IsDatedName(baseName, "VyplatniPasky", "")) << baseName;
        }
        EXPECT_EQ(1, std::count(transcript.begin(), transcript.end(), '\n')) << "one box only: " << transcript;
        fs::remove(dir / "transcript");
        return output;
    }
    // The archives in the ZIP folder.
    std::set<std::string> Archives() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(zip))
            if (entry.path().filename() != "seznam.txt")
                names.insert(entry.path().filename().string());
        return names;
    }
    // The sorted names inside an archive, after an integrity test. Names are stored in the OEM code
    // page.
    std::vector<std::string> Entries(const std::string& archive) const
    {
        ExpectUnzipTestPasses(zip / archive);
        std::vector<std::string> names;
        std::string all = Shell(Bsdtar + "-tf " + Quoted(zip / archive));
        for (std::size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
            names.push_back(all.substr(start, end - start));
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::vector<std::string> Slice(const std::vector<std::string>& all, std::size_t first, std::size_t end)
    {
        std::vector<std::string> part(all.begin() + std::ptrdiff_t(first), all.begin() + std::ptrdiff_t(end));
        std::sort(part.begin(), part.end());
        return part;
    }

    fs::path pdf, zip;
    int lastCount = -1;
    int errorLists = 0;
};

std::string MinuteName(std::time_t when)
{
    char text[64];
    std::strftime(text, sizeof text, "VyplatniPasky_%Y-%m-%d(%H-%M).ZIP", std::localtime(&when));
    return text;
}

TEST_F(Payslips, GroupsOfFiftyGetRangesAndEachRequestRepliesOnce)
{
    std::string base;
    // No list: nothing packed, the result says 0 and the caller still gets its one reply.
    EXPECT_EQ("reply 150\n", Pack(base));
    EXPECT_EQ(0, lastCount);
    EXPECT_TRUE(Archives().empty());

    struct Case {
        int count;
        std::vector<std::pair<std::string, std::pair<std::size_t, std::size_t>>> archives;
    };
    const Case cases[] = {
        {50, {{"", {0, 50}}}},
        {51, {{"1-50", {0, 50}}, {"51-51", {50, 51}}}},
        {120, {{"1-50", {0, 50}}, {"51-100", {50, 100}}, {"101-120", {100, 120}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        for (const std::string& old : Archives())
            fs::remove(zip / old);
        fs::remove_all(pdf);
        fs::create_directories(pdf);
        const std::vector<std::string> names = MakePayslips(c.count);
        EXPECT_EQ("reply 150\n", Pack(base));
        EXPECT_EQ(c.count, lastCount);
        std::set<std::string> expected;
        for (const auto& [range, slice] : c.archives)
            expected.insert(base + range + ".ZIP");
        ASSERT_EQ(expected, Archives());
        for (const auto& [range, slice] : c.archives)
            EXPECT_EQ(Slice(names, slice.first, slice.second), Entries(base + range + ".ZIP")) << range;
    }
    // Bytes survive the trip, from the PDF folder (blank in its name) and from a folder of its own.
    const fs::path out = dir / "out";
    fs::create_directories(out);
    Shell(Bsdtar + "-xf " + Quoted(zip / (base + "101-120.ZIP")) + " -C " + Quoted(out));
    EXPECT_EQ(ReadFile(pdf / "páska 101.pdf"), ReadFile(out / "páska 101.pdf"));
    EXPECT_EQ(ReadFile(Home() / "jinde" / "páska 120.pdf"), ReadFile(out / "páska 120.pdf"));
}

TEST_F(Payslips, ARerunInTheSameMinuteKeepsTheEarlierArchiveUntilTheNewOneIsWritten)
{
    // Earlier archives under the names this minute and the next can give.
    WriteFile(dir / "earlier" / "earlier.pdf", "earlier payslip");
    Shell("cd " + Quoted(dir / "earlier") + " && zip -q earlier.zip earlier.pdf");
    const std::string earlier = ReadFile(dir / "earlier" / "earlier.zip");
    const std::time_t now = std::time(nullptr);
    const std::set<std::string> earlierNames{MinuteName(now), MinuteName(now + 60)};
    for (const std::string& name : earlierNames)
        WriteFile(zip / name, earlier);

    // The listed files are gone: nothing can be written, the result box counts nothing, and the
    // earlier archive stays whole.
    const std::vector<std::string> names = MakePayslips(3);
    const fs::path kept = dir / "kept", keptElsewhere = dir / "kept elsewhere";
    fs::rename(pdf, kept);
    fs::rename(Home() / "jinde", keptElsewhere);
    std::string base;
    EXPECT_EQ("reply 150\n", Pack(base));
    EXPECT_EQ(0, lastCount);
    EXPECT_EQ(0, errorLists);
    EXPECT_EQ(1u, earlierNames.count(base + ".ZIP")) << base;
    EXPECT_EQ(earlierNames, Archives());
    for (const std::string& name : earlierNames)
        EXPECT_EQ(earlier, ReadFile(zip / name)) << name;

    // With the files back the new archive replaces the earlier one of its name, and nothing else.
    fs::rename(kept, pdf);
    fs::rename(keptElsewhere, Home() / "jinde");
    EXPECT_EQ("reply 150\n", Pack(base));
    EXPECT_EQ(3, lastCount);
    EXPECT_EQ(0, errorLists);
    ASSERT_EQ(1u, earlierNames.count(base + ".ZIP")) << base;
    EXPECT_EQ(earlierNames, Archives());
    EXPECT_EQ(Slice(names, 0, 3), Entries(base + ".ZIP"));
    for (const std::string& name : earlierNames) {
        if (name != base + ".ZIP") {
            EXPECT_EQ(earlier, ReadFile(zip / name)) << name;
        }
    }
}

}  // namespace
