#include "app/lib/FormAddFiles.h"
#include "app/lib/FormEditComments.h"
#include "app/lib/FormExtract.h"
#include "app/lib/FormInput.h"
#include "app/lib/FormPassword.h"
#include "app/lib/FormRunFile.h"
#include "app/lib/FormSeedKeys.h"
#include "app/lib/FormSplitArchive.h"
#include "app/lib/FormTestArchive.h"
#include "app/lib/FormTorvo.h"
#include "app/lib/FormUUEncode.h"
#include "platform/vcl/Headless.h"
#include "readers/ExtractorFor.h"
#include "readers/Pelix.h"
#include "readers/plxRegArchive.h"
#include "readers/plxUUDecode.h"
#include "readers/plxUnAce.h"
#include "readers/plxUnArc.h"
#include "readers/plxUnArj.h"
#include "readers/plxUnBZip.h"
#include "readers/plxUnBh.h"
#include "readers/plxUnCab.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnJar.h"
#include "readers/plxUnLha.h"
#include "readers/plxUnRar.h"
#include "readers/plxUnTar.h"
#include "readers/plxUnZoo.h"
#include "readers/plxZipRun.h"
#include "readers/view/plxZipView.h"
#include "tests/support/HostTree.h"
#include "tests/support/ToolRun.h"
#include "unit/XFiles.h"
#include "writers/BlakHole.h"
#include "writers/Lha.h"
#include "writers/plxBZip.h"
#include "writers/plxGZip.h"
#include "writers/plxJar.h"
#include "writers/plxMakeCab.h"
#include "writers/plxTar.h"
#include "writers/plxTarBZ.h"
#include "writers/plxTarGZ.h"
#include "writers/plxUUEncode.h"
#include "writers/plxZip.h"
#include "writers/plxZipSplitter.h"

#include "support/HeadlessUi.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

class ArchiveManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/managertest-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        Headless().SetAnswers({});
        form = new TFormTorvo(nullptr);
        form->EnsureCreated();
    }
    void TearDown() override
    {
        delete form;
        Headless().SetResponder(nullptr);
        fs::remove_all(dir);
    }
    int RowOf(const std::string& name) const
    {
        for (int i = 0; i < form->ZipView1->Items.Count(); ++i) {
            const auto& row = form->ZipView1->Items.Fields(i);
            if (row[zcFolder] + row[zcName] == name)
                return i;
        }
        return -1;
    }
    // A ZIP archive of the given files (name, content) made by Info-ZIP with `options`.
    std::string MakeZip(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files,
                        const std::string& options = "")
    {
        const fs::path src = dir + "/src-" + name;
        std::string names;
        for (const auto& [file, content] : files) {
            fs::create_directories((src / file).parent_path());
            std::ofstream(src / file, std::ios::binary) << content;
            names += " " + ShellQuote(file);
        }
        const std::string archive = dir + "/" + name;
        CaptureCommand("cd " + ShellQuote(src.string()) + " && zip -q -X " + options + " " + ShellQuote(archive) +
                       names);
        return archive;
    }
    // Answers message boxes with `answer` (recording their texts) and hands forms to `onForm`.
    void Respond(std::function<void(TForm&)> onForm, const std::string& answer = "Yes")
    {
        boxes.clear();
        Headless().SetResponder([this, onForm, answer](const TShown& s) -> std::optional<std::string> {
            if (s.Kind == "Form" && s.Form->ClassName() != "TfrmComment") {
                onForm(*s.Form);
                return std::nullopt;
            }
            if (s.Kind != "MessageBox")
                return "OK";
            boxes.push_back(s.Text);
            return answer;
        });
    }
    // Runs the test dialog over what is selected (the whole archive when one row or none is) and
    // returns the rows it reports.
    std::vector<std::string> TestedRows()
    {
        std::vector<std::string> rows;
        Respond([&](TForm& f) {
            auto& dialog = dynamic_cast<TfrmTestArchive&>(f);
            dialog.Button1->Click();
            rows = dialog.ReportRows();
            dialog.Button2->Click();
        });
        form->TestClick();
        return rows;
    }
    std::string dir;
    TFormTorvo* form = nullptr;
    std::vector<std::string> boxes;
};

}  // namespace

TEST_F(ArchiveManager, OpenListDeleteExactRowsAndExtract)
{
    if (!HaveTool("zip") || !HaveTool("unzip"))
        GTEST_SKIP() << "zip/unzip missing";
    const fs::path src = dir + "/src";
    fs::create_directories(src / "sub");
    const std::vector<std::string> names = {"a.txt", "semi;colon.txt", "star*.txt", "starXY.txt", "sub/b.txt"};
    for (size_t i = 0; i < names.size(); ++i)
        std::ofstream(src / names[i]) << std::string(1000 + i * 37, char('a' + i));
    const std::string archive = dir + "/test.zip";
    CaptureCommand("cd " + ShellQuote(src.string()) + " && zip -q -D -nw " + ShellQuote(archive) +
                   " a.txt 'semi;colon.txt' 'star*.txt' starXY.txt sub/b.txt && echo 'the note' | zip -qz " +
                   ShellQuote(archive));

    // F2 works while the "&File" menu is hidden.
    EXPECT_FALSE(form->mnuFile->Visible);
    Headless().SetResponder(
        [&](const TShown& s) -> std::optional<std::string> { return s.Kind == "OpenDialog" ? archive : "OK"; });
    // The list starts hidden and recursing; opening an archive shows it with every folder's entries.
    EXPECT_FALSE(form->ZipView1->Visible());
    EXPECT_TRUE(form->CheckBox1->Checked());
    form->PressKey(VK_F2);
    EXPECT_TRUE(form->ZipView1->Visible());
    ASSERT_EQ(5, form->ZipView1->Items.Count());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(size_t(zcColumnCount), form->ZipView1->Items.Fields(i).size());
    EXPECT_EQ("ZIP", form->StatusBar1->Panels[0].Text.substr(0, 3));
    EXPECT_EQ("Soubory: 5", form->StatusBar1->Panels[1].Text);
    EXPECT_EQ("Velikost: " + std::to_string(5 * 1000 + 37 * 10), form->StatusBar1->Panels[3].Text);
    EXPECT_NE("Poměr: 0%", form->StatusBar1->Panels[4].Text);
    EXPECT_EQ("Index: 0", form->StatusBar1->Panels[5].Text);
    // The archive comment is shown in its own window after the listing.
    bool commentShown = false;
    for (const TTranscriptEntry& e : HeadlessWidgetSet()->Transcript())
        commentShown |= e.Caption == "Archive Comment..." && e.Text.find("the note") != std::string::npos;
    EXPECT_TRUE(commentShown);
    EXPECT_EQ(0, form->ComboBox1->Items.IndexOf(archive));
    EXPECT_EQ(archive, form->Caption);

    // Names with ";" and "*" are deleted exactly: "starXY.txt" would match "star*.txt" as a mask.
    form->ZipView1->SetSelected(RowOf("semi;colon.txt"), true);
    form->ZipView1->SetSelected(RowOf("star*.txt"), true);
    form->DisplayTotals(1);
    EXPECT_EQ("Soubory: 2", form->StatusBar1->Panels[1].Text);
    const std::vector<std::uint8_t> before = ReadWholeFile(archive);
    Respond([](TForm&) {}, "No");
    form->mnuDelete->Click();
    EXPECT_EQ(std::vector<std::string>{"Delete selected file(s)?"}, boxes);
    EXPECT_TRUE(before == ReadWholeFile(archive));
    Respond([](TForm&) {}, "Yes");
    form->mnuDelete->Click();
    EXPECT_EQ("Deleted : 2 files", form->StatusBar1->SimpleText);
    int code = -1;
    CaptureCommand("unzip -tq " + ShellQuote(archive), &code);
    EXPECT_EQ(0, code);
    EXPECT_EQ("a.txt\nstarXY.txt\nsub/b.txt\n", CaptureCommand("unzip -Z1 " + ShellQuote(archive)));
    EXPECT_EQ(3, form->ZipView1->Items.Count());

    // Ctrl+E: the extract dialog's folder and options, every member when none is selected.
    const std::string out = dir + "/out";
    fs::create_directories(out);
    bool seedKeys = false;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (auto* dialog = dynamic_cast<TfrmExtract*>(s.Form)) {
            EXPECT_FALSE(dialog->SelectedFilesOnly());
            dialog->mnuSeedKeys->Click();
            dialog->Edit1->SetText(out);
            dialog->BitBtn1->Click();
            return std::nullopt;
        }
        seedKeys |= dynamic_cast<TfrmSeedKeys*>(s.Form) != nullptr;
        return "OK";
    });
    form->PressKey('E', ssCtrl);
    EXPECT_TRUE(seedKeys);
    EXPECT_EQ("Files Extracted: 3", form->StatusBar1->SimpleText);
    for (const char* name : {"a.txt", "starXY.txt", "sub/b.txt"})
        EXPECT_EQ(ReadWholeFile(src / name), ReadWholeFile(fs::path(out) / name)) << name;
}

namespace {

std::optional<fs::path> Fixtures()
{
    const char* env = std::getenv("TORVO_FIXTURES");
    const fs::path root = env ? fs::path(env) : fs::path(TORVO_SOURCE_DIR) / ".." / "shared" / "fixtures";
    return fs::is_directory(root) ? std::optional<fs::path>(root) : std::nullopt;
}

}  // namespace

TEST_F(ArchiveManager, F2ListsEachReadableTypeWithItsFieldsAndTotals)
{
    const fs::path src = dir + "/src";
    fs::create_directories(src / "sub");
    std::ofstream(src / "a.txt") << std::string(3000, 'a');
    std::ofstream(src / "sub" / "b.txt") << "bee bee";
    struct TCase {
        std::string file;   // in dir, or a fixture path
        const char* tool;   // nullptr: a fixture
        std::string make;   // run in src
        int rows;           // -1: any number above 0
        std::int64_t size;  // -1: not known here
    };
    const std::string two = " a.txt sub/b.txt";
    std::vector<TCase> cases = {
        {"x.zip", "zip", "zip -q -D ../x.zip" + two, 2, 3007},
        {"x.jar", "zip", "zip -q -D ../x.jar" + two, 2, 3007},
        {"x.tar", "tar", "tar cf ../x.tar" + two, 2, 3007},
        // A compressed TAR lists as the TAR it holds.
        {"x.tgz", "tar", "tar czf ../x.tgz" + two, 1, 10240},
        {"x.tbz", "bzip2", "tar cjf ../x.tbz" + two, 1, -1},
        {"x.txt.gz", "gzip", "gzip -c a.txt > ../x.txt.gz", 1, 3000},
        {"x.txt.bz2", "bzip2", "bzip2 -c a.txt > ../x.txt.bz2", 1, -1},
        {"x.txt.Z", "compress", "compress -c a.txt > ../x.txt.Z", 1, -1},
        {"x.lzh", "lha", "lha -aq ../x.lzh" + two, 2, 3007},
        {"x.arj", "arj", "arj a -r ../x.arj" + two + " >/dev/null", 2, 3007},
        {"x.arc", "arc", "arc a ../x.arc a.txt >/dev/null", 1, 3000},
        {"x.cab", "gcab", "gcab -c ../x.cab" + two, 2, 3007},
        {"x.uue", "uuencode", "uuencode a.txt a.txt > ../x.uue", 1, -1},
    };
    if (const auto fixtures = Fixtures())
        for (const char* name : {"zoo/t.zoo", "ace/t.ace", "rar/t.rar"})
            cases.push_back({(*fixtures / name).string(), nullptr, "", -1, -1});
    // The RAR fixture holds t\t.txt of 2 bytes, listed from a temporary extractor's entry fields.
    const auto rarRow = [&] {
        return form->ZipView1->Items.Fields(0)[zcFolder] + form->ZipView1->Items.Fields(0)[zcName];
    };
    form->CheckBox1->SetChecked(true);  // "Recurse Dirs"
    int listed = 0;
    for (const TCase& c : cases) {
        if (c.tool && !HaveTool(c.tool))
            continue;
        const std::string archive = c.tool ? dir + "/" + c.file : c.file;
        if (c.tool)
            CaptureCommand("cd " + ShellQuote(src.string()) + " && " + c.make);
        Headless().SetResponder(
            [&](const TShown& s) -> std::optional<std::string> { return s.Kind == "OpenDialog" ? archive : "OK"; });
        form->PressKey(VK_F2);
        const int rows = form->ZipView1->Items.Count();
        if (c.rows >= 0)
            EXPECT_EQ(c.rows, rows) << c.file;
        else
            EXPECT_GT(rows, 0) << c.file;
        std::int64_t unpacked = 0;
        for (int i = 0; i < rows; ++i) {
            const std::vector<std::string>& row = form->ZipView1->Items.Fields(i);
            ASSERT_EQ(size_t(zcColumnCount), row.size()) << c.file;
            EXPECT_FALSE(row[zcName].empty()) << c.file;
            EXPECT_EQ(15u, row[zcDateTime].size()) << c.file << " " << row[zcDateTime];  // dd.mm.yy  hh:mm
            EXPECT_EQ('%', row[zcRatio].back()) << c.file;
            EXPECT_EQ(8u, row[zcCrc].size()) << c.file;
            EXPECT_NE(std::string::npos, row[zcAttributes].find(" (")) << c.file;
            unpacked += std::atoll(row[zcUnpacked].c_str());
        }
        EXPECT_EQ(archive, form->Caption) << c.file;
        EXPECT_FALSE(form->StatusBar1->Panels[0].Text.empty()) << c.file;
        EXPECT_EQ("Soubory: " + std::to_string(rows), form->StatusBar1->Panels[1].Text) << c.file;
        EXPECT_EQ("Velikost: " + std::to_string(unpacked), form->StatusBar1->Panels[3].Text) << c.file;
        if (c.size >= 0) {
            EXPECT_EQ(c.size, unpacked) << c.file;
        }
        if (c.file.find("t.rar") != std::string::npos && rows == 1) {
            EXPECT_EQ("t\\t.txt", rarRow());
        }
        ++listed;
    }
    EXPECT_GT(listed, 0);
    // A ZIP entry names the system it was made on.
    form->DisplayFile(dir + "/x.zip");
    if (form->ZipView1->Items.Count() > 0) {
        EXPECT_EQ("Unix", form->ZipView1->Items.Fields(0)[zcHostSystem]);
    }
}

TEST_F(ArchiveManager, DeleteKeepsTheArchivesOwnFormat)
{
    const fs::path src = dir + "/src";
    fs::create_directories(src);
    for (const char* name : {"keep.txt", "go;ne.txt", "g*.txt", "gX.txt"})
        std::ofstream(src / name) << std::string(3000, name[0]) << name;
    struct TCase {
        const char* tool;
        std::string make, list;
    };
    const std::string files = " keep.txt 'go;ne.txt' 'g*.txt' gX.txt";
    const std::vector<TCase> cases = {
        {"tar", "tar cf ../a.tar" + files, "tar tf a.tar | sort"},
        {"lha", "lha -aq ../a.lzh" + files, "lha -l a.lzh | awk 'NR>2 && /\\.txt/ {print $NF}' | sort"},
    };
    for (const TCase& c : cases) {
        if (!HaveTool(c.tool))
            continue;
        const std::string archive = dir + "/" + (c.tool == std::string("tar") ? "a.tar" : "a.lzh");
        CaptureCommand("cd " + ShellQuote(src.string()) + " && " + c.make);
        form->DisplayFile(archive);
        ASSERT_EQ(4, form->ZipView1->Items.Count()) << c.tool;
        form->ZipView1->SetSelected(RowOf("go;ne.txt"), true);
        form->ZipView1->SetSelected(RowOf("g*.txt"), true);
        form->DeleteClick();
        EXPECT_EQ("gX.txt\nkeep.txt\n", CaptureCommand("cd " + dir + " && " + c.list)) << c.tool;
        EXPECT_EQ(2, form->ZipView1->Items.Count()) << c.tool;
    }
}

TEST_F(ArchiveManager, AddFilesUpdatesTheOpenArchive)
{
    if (!HaveTool("zip") || !HaveTool("unzip"))
        GTEST_SKIP() << "zip/unzip missing";
    const fs::path src = dir + "/src";
    fs::create_directories(src);
    std::ofstream(src / "old.txt") << "old";
    std::ofstream(src / "new.txt") << std::string(5000, 'n');
    const std::string archive = dir + "/a.zip";
    CaptureCommand("cd " + ShellQuote(src.string()) + " && zip -q " + ShellQuote(archive) + " old.txt");
    form->DisplayFile(archive);
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (auto* dialog = dynamic_cast<TfrmAddFiles*>(s.Form)) {
            EXPECT_EQ("atZip (TZipSplitter)", dialog->ComboBox6->Text());
            dialog->btnOK->Click();  // an empty list is refused
            EXPECT_EQ(mrNone, dialog->ModalResult);
            dialog->Edit1->SetText(src.string());
            dialog->AddFileSpec("new.txt");
            dialog->btnOK->Click();
            return std::nullopt;
        }
        return "OK";
    });
    form->PressKey('A', ssCtrl);
    int code = -1;
    CaptureCommand("unzip -tq " + ShellQuote(archive), &code);
    EXPECT_EQ(0, code);
    EXPECT_EQ("new.txt\nold.txt\n", CaptureCommand("unzip -Z1 " + ShellQuote(archive) + " | sort"));
    EXPECT_TRUE(std::string(5000, 'n') == CaptureCommand("unzip -p " + ShellQuote(archive) + " new.txt"));
    EXPECT_EQ(2, form->ZipView1->Items.Count());
    EXPECT_EQ(form->ZipSplitter1.get(), static_cast<TZipCommon*>(form->Compressor()));
    EXPECT_EQ("Přidané/aktualizované soubory: 1", form->StatusBar1->SimpleText);

    // A TAR archive is added to by the window's TAR writer, its type fixed in the dialog.
    CaptureCommand("cd " + ShellQuote(src.string()) + " && tar cf ../a.tar old.txt");
    form->DisplayFile(dir + "/a.tar");
    std::string compressor;
    bool fixed = true;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (auto* dialog = dynamic_cast<TfrmAddFiles*>(s.Form)) {
            compressor = dialog->ComboBox6->Text();
            fixed = !dialog->ComboBox6->Enabled();
            dialog->Edit1->SetText(src.string());
            dialog->AddFileSpec("new.txt");
            dialog->btnOK->Click();
            return std::nullopt;
        }
        return "OK";
    });
    form->mnuAddFiles->Click();
    EXPECT_EQ("atTar (TTar)", compressor);
    EXPECT_TRUE(fixed);
    EXPECT_EQ(form->Tar1.get(), static_cast<TZipCommon*>(form->Compressor()));
    EXPECT_EQ("new.txt\nold.txt\n", CaptureCommand("tar tf " + ShellQuote(dir + "/a.tar") + " | sort"));
    EXPECT_EQ(dir + "/a.tar", form->Caption);

    // A type no writer updates in place is refused: a new archive would replace it.
    CaptureCommand("gzip -k " + ShellQuote((src / "old.txt").string()));
    form->DisplayFile((src / "old.txt.gz").string());
    Respond([](TForm&) { ADD_FAILURE() << "no add dialog for a gzip file"; }, "OK");
    form->AddFilesClick();
    EXPECT_EQ(std::vector<std::string>{"Adding files is not supported for this type of archive."}, boxes);
    EXPECT_EQ("old", CaptureCommand("gzip -dc " + ShellQuote((src / "old.txt.gz").string())));
}

TEST_F(ArchiveManager, ExtractDialogRefusesAMissingFolder)
{
    TfrmExtract dialog(nullptr);
    EXPECT_EQ("Extract", dialog.Caption);
    EXPECT_TRUE(dialog.CheckBox2->Checked());
    dialog.PrepareFor(false);
    EXPECT_FALSE(dialog.SelectedFilesOnly());
    std::vector<std::string> shown;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (s.Kind == "MessageBox") {
            shown.push_back(s.Text);
            return "OK";
        }
        static_cast<TfrmExtract*>(s.Form)->Edit1->SetText(dir + "/missing");
        static_cast<TfrmExtract*>(s.Form)->BitBtn1->Click();
        EXPECT_EQ(mrNone, s.Form->ModalResult);
        return "Cancel";
    });
    EXPECT_EQ(mrCancel, dialog.ShowModal());
    ASSERT_EQ(1u, shown.size());
    EXPECT_NE(std::string::npos, shown[0].find("...not found."));
}

TEST_F(ArchiveManager, ExtractTakesTheWindowsExtractorOfTheArchivesType)
{
    // The window owns every archive component from the start.
    const std::vector<std::pair<const char*, const void*>> owned = {{"Pelix1", form->Pelix1.get()},
                                                                    {"Zip1", form->Zip1.get()},
                                                                    {"Jar1", form->Jar1.get()},
                                                                    {"BlakHole1", form->BlakHole1.get()},
                                                                    {"BZip1", form->BZip1.get()},
                                                                    {"GZip1", form->GZip1.get()},
                                                                    {"Lha1", form->Lha1.get()},
                                                                    {"Tar1", form->Tar1.get()},
                                                                    {"TarGZ1", form->TarGZ1.get()},
                                                                    {"TarBZ1", form->TarBZ1.get()},
                                                                    {"MakeCab1", form->MakeCab1.get()},
                                                                    {"UUEncode1", form->UUEncode1.get()},
                                                                    {"ZipSplitter1", form->ZipSplitter1.get()},
                                                                    {"UnZip1", form->UnZip1.get()},
                                                                    {"UnJAR1", form->UnJAR1.get()},
                                                                    {"UnARJ1", form->UnARJ1.get()},
                                                                    {"UnARC1", form->UnARC1.get()},
                                                                    {"UnBH1", form->UnBH1.get()},
                                                                    {"UnBZip1", form->UnBZip1.get()},
                                                                    {"UnCab1", form->UnCab1.get()},
                                                                    {"UnGZip1", form->UnGZip1.get()},
                                                                    {"UnLHA1", form->UnLHA1.get()},
                                                                    {"UnTAR1", form->UnTAR1.get()},
                                                                    {"UnRAR1", form->UnRAR1.get()},
                                                                    {"UnZOO1", form->UnZOO1.get()},
                                                                    {"UnACE1", form->UnACE1.get()},
                                                                    {"UUDecode1", form->UUDecode1.get()},
                                                                    {"RegArchive1", form->RegArchive1.get()},
                                                                    {"ZipRun1", form->ZipRun1.get()},
                                                                    {"XFileVersion1", form->XFileVersion1.get()},
                                                                    {"ZipView1", form->ZipView1}};
    for (const auto& [name, component] : owned)
        EXPECT_NE(nullptr, component) << name;
    // Each type reads through the same class as the test and view/run components take for it.
    for (int t = 0; t <= int(atZoo); ++t) {
        const std::unique_ptr<TUnBase> fresh = NewExtractor(TArcType(t));
        TUnBase* own = form->ExtractComponentFor(TArcType(t));
        ASSERT_EQ(fresh == nullptr, own == nullptr) << ArcTypeName(TArcType(t));
        if (own) {
            EXPECT_EQ(typeid(*fresh), typeid(*own)) << ArcTypeName(TArcType(t));
        }
    }

    if (!HaveTool("arj") || !HaveTool("tar"))
        GTEST_SKIP() << "arj or tar missing";
    const fs::path src = dir + "/src";
    fs::create_directories(src / "sub");
    std::ofstream(src / "a.txt") << std::string(5000, 'a');
    std::ofstream(src / "sub" / "b.txt") << "bee";
    CaptureCommand("cd " + ShellQuote(src.string()) + " && arj a -r ../a.arj a.txt sub/b.txt >/dev/null");
    form->DisplayFile(dir + "/a.arj");
    ASSERT_EQ(2, form->ZipView1->Items.Count());
    const std::string out = dir + "/out";
    fs::create_directories(out);
    // The window's own instance runs, with the window's shared handlers on it.
    int arjEntries = 0;
    const TOnBegin shared = form->UnARJ1->OnBegin;
    ASSERT_TRUE(shared);
    form->UnARJ1->OnBegin = [&](::TObject* sender, const std::string& file, int n, bool& skip) {
        ++arjEntries;
        shared(sender, file, n, skip);
    };
    // The dialog's options reach the extractor: without folders, then over a changed file, then
    // confirming that change, which the answer keeps.
    bool folders = false, confirm = false;
    std::vector<std::string> asked;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (auto* dialog = dynamic_cast<TfrmExtract*>(s.Form)) {
            dialog->Edit1->SetText(out);
            dialog->CheckBox1->SetChecked(folders);  // "&Restore original folders"
            dialog->CheckBox2->SetChecked(confirm);  // "&Confirm file overwrites"
            dialog->BitBtn1->Click();
            return std::nullopt;
        }
        asked.push_back(s.Text);
        return "No";
    });
    form->PressKey('E', ssCtrl);
    EXPECT_EQ("Files Extracted: 2", form->StatusBar1->SimpleText);
    EXPECT_EQ(2, arjEntries);
    EXPECT_EQ(ReadWholeFile(src / "sub" / "b.txt"), ReadWholeFile(fs::path(out) / "b.txt"));
    EXPECT_FALSE(fs::exists(fs::path(out) / "sub"));
    std::ofstream(fs::path(out) / "a.txt") << "changed";
    folders = true;
    form->PressKey('E', ssCtrl);
    EXPECT_EQ("Files Extracted: 2", form->StatusBar1->SimpleText);
    EXPECT_EQ(ReadWholeFile(src / "a.txt"), ReadWholeFile(fs::path(out) / "a.txt"));
    EXPECT_EQ(ReadWholeFile(src / "sub" / "b.txt"), ReadWholeFile(fs::path(out) / "sub" / "b.txt"));
    std::ofstream(fs::path(out) / "a.txt") << "changed";
    confirm = true;
    form->PressKey('E', ssCtrl);
    const std::string changed = "changed";
    EXPECT_EQ(std::vector<std::uint8_t>(changed.begin(), changed.end()), ReadWholeFile(fs::path(out) / "a.txt"));
    ASSERT_EQ(2u, asked.size());
    EXPECT_NE(std::string::npos, asked[0].find("already exists. Overwrite it?")) << asked[0];
    EXPECT_TRUE(form->ErrorMessages.empty()) << form->ErrorMessages.front();

    // A TAR goes through UnTAR1; one inside gzip through UnGZip1, with the question first.
    CaptureCommand("cd " + ShellQuote(src.string()) +
                   " && tar cf ../a.tar a.txt sub/b.txt && tar czf ../a.tgz a.txt sub/b.txt");
    int tarEntries = 0;
    const TOnBegin tarShared = form->UnTAR1->OnBegin;
    form->UnTAR1->OnBegin = [&](::TObject* sender, const std::string& file, int n, bool& skip) {
        ++tarEntries;
        tarShared(sender, file, n, skip);
    };
    form->DisplayFile(dir + "/a.tar");
    fs::remove_all(out);
    fs::create_directories(out);
    confirm = false;
    form->PressKey('E', ssCtrl);
    EXPECT_EQ(2, tarEntries);
    EXPECT_EQ(ReadWholeFile(src / "sub" / "b.txt"), ReadWholeFile(fs::path(out) / "sub" / "b.txt"));
    form->DisplayFile(dir + "/a.tgz");
    fs::remove_all(out);
    fs::create_directories(out);
    asked.clear();
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (auto* dialog = dynamic_cast<TfrmExtract*>(s.Form)) {
            dialog->Edit1->SetText(out);
            dialog->BitBtn1->Click();
            return std::nullopt;
        }
        asked.push_back(s.Text);
        return "Yes";
    });
    form->PressKey('E', ssCtrl);
    EXPECT_EQ(std::vector<std::string>{"Compressed file is a tar archive.Decompress the tar archive?"}, asked);
    EXPECT_EQ(ReadWholeFile(src / "sub" / "b.txt"), ReadWholeFile(fs::path(out) / "sub" / "b.txt"));
    EXPECT_EQ(clGreen, form->LedColour());
}

namespace {

// A tree with a member that does not shrink, so that a ZIP of it outgrows one 64 KiB volume.
fs::path MakeTree(const std::string& dir)
{
    const fs::path src = dir + "/src";
    fs::create_directories(src / "sub");
    std::ofstream(src / "a.txt") << std::string(5000, 'a');
    const std::string noise = RandomBytes(90000, 7);
    std::ofstream(src / "sub" / "b.bin", std::ios::binary) << noise;
    std::ofstream(src / "sub" / "c.txt") << "cee";
    return src;
}

struct TNewArchive {
    std::string name;
    std::function<void(TfrmAddFiles&)> addFiles;                     // after the tree is chosen, before OK
    std::function<void(TfrmSplitArchive&)> split;                    // nothing: "No split"
    std::function<std::optional<std::string>(const TShown&)> other;  // any other form
};

}  // namespace

class NewArchive : public ArchiveManager {
protected:
    // "&New" with the save dialog's name, the whole tree in the add dialog and its answers.
    void Run(const fs::path& src, const TNewArchive& n)
    {
        Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
            if (s.Kind == "SaveDialog")
                return n.name;
            if (auto* add = dynamic_cast<TfrmAddFiles*>(s.Form)) {
                add->Edit1->SetText(src.string());
                add->cbRecurseDirs->SetChecked(true);
                add->AddFileSpec("*.*");
                if (n.addFiles)
                    n.addFiles(*add);
                add->btnOK->Click();
                return std::nullopt;
            }
            if (auto* split = dynamic_cast<TfrmSplitArchive*>(s.Form)) {
                if (n.split)
                    n.split(*split);
                else
                    split->RadioGroup2->SetItemIndex(ptNoSplit);
                split->Button1->Click();
                return std::nullopt;
            }
            if (s.Form && n.other)
                return n.other(s);
            shown.push_back(s.Kind + ": " + s.Caption);
            return s.Kind == "MessageBox" ? "Yes" : "OK";
        });
        form->mnuNew->Click();
        Headless().SetResponder(nullptr);
    }
    std::vector<std::string> shown;
};

TEST_F(NewArchive, EachTypeThroughItsWriterReadsBackWithTheRealTool)
{
    const fs::path src = MakeTree(dir);
    struct TCase {
        const char* ext;
        const char* compressor;
        const char* tool;
        std::string test, extract;
    };
    const std::vector<TCase> cases = {
        {"zip", "atZip (TZipSplitter)", "unzip", "unzip -tq new.zip", "unzip -q new.zip -d out"},
        {"tar", "atTar (TTar)", "tar", "tar tf new.tar", "tar xf new.tar -C out"},
        {"lha", "atLha (TLha)", "lhasa", "lhasa t new.lha", "cd out && lhasa xq ../new.lha"},
        // The format's other extension, as typed: kept, not renamed to the writer's own.
        {"lzh", "atLha (TLha)", "lhasa", "lhasa t new.lzh", "cd out && lhasa xq ../new.lzh"},
        {"cab", "atCab (TMakeCab)", "cabextract", "cabextract -t new.cab", "cabextract -q -d out new.cab"},
        {"bh", "atBh (TBlakHole)", nullptr, "", ""},  // no tool reads it: our own listing does
    };
    form->CheckBox1->SetChecked(true);  // "Recurse Dirs": the listing shows the sub-folder too
    for (const TCase& c : cases) {
        if (c.tool && !HaveTool(c.tool))
            continue;
        const std::string name = dir + "/new." + c.ext;
        std::string compressor;
        Run(src, {name, [&](TfrmAddFiles& add) { compressor = add.ComboBox6->Text(); }, nullptr, nullptr});
        EXPECT_EQ(c.compressor, compressor);
        EXPECT_EQ("Files Compressed: 3", form->StatusBar1->SimpleText) << c.ext;
        EXPECT_EQ(clGreen, form->LedColour()) << c.ext;
        EXPECT_EQ(3, form->ZipView1->Items.Count()) << c.ext;  // the new archive is the one listed
        if (!c.tool) {
            // Our own format: Delete rewrites it in its own format, the other rows whole.
            const TArcType type = form->Pelix1->ArcType();
            form->ZipView1->SetSelected(0, true);
            const std::string gone = form->ZipView1->Items.Fields(0)[zcName];
            form->DeleteClick();
            EXPECT_EQ(type, form->Pelix1->ArcType()) << c.ext;
            ASSERT_EQ(2, form->ZipView1->Items.Count()) << c.ext;
            for (int i = 0; i < 2; ++i)
                EXPECT_NE(gone, form->ZipView1->Items.Fields(i)[zcName]);
            const std::vector<std::string> rows = TestedRows();
            EXPECT_EQ(2u, rows.size()) << c.ext;
            for (const std::string& row : rows)
                EXPECT_NE(std::string::npos, row.find(" ...Ok")) << row;
            continue;
        }
        int code = -1;
        CaptureCommand("cd " + ShellQuote(dir) + " && " + c.test + " >/dev/null 2>&1", &code);
        EXPECT_EQ(0, code) << c.test;
        fs::remove_all(dir + "/out");
        fs::create_directories(dir + "/out");
        CaptureCommand("cd " + ShellQuote(dir) + " && " + c.extract + " >/dev/null 2>&1");
        EXPECT_EQ(HostTree(src), HostTree(dir + "/out")) << c.ext;
    }
}

TEST_F(NewArchive, ZipSplitIntoVolumesAndPassword)
{
    if (!HaveTool("zip") || !HaveTool("unzip"))
        GTEST_SKIP() << "zip/unzip missing";
    const fs::path src = MakeTree(dir);
    // A volume size typed as 65,536.9: the comma is dropped and the fraction cut.
    Run(src, {dir + "/vol.zip", nullptr,
              [](TfrmSplitArchive& split) {
                  split.RadioGroup2->SetItemIndex(ptOtherSize);
                  split.RadioGroup1->SetItemIndex(stBytes);
                  split.Edit3->SetText("65,536.9");
                  // What the dialog counts is what appears: vol.z01 and vol.zip.
                  EXPECT_EQ("Number of volumes this set: 2", split.Label10->Caption);
              },
              nullptr});
    EXPECT_TRUE(fs::exists(dir + "/vol.z01"));
    EXPECT_FALSE(fs::exists(dir + "/vol.z02"));
    EXPECT_EQ(65536, std::intmax_t(fs::file_size(dir + "/vol.z01")));
    int code = -1;
    CaptureCommand("cd " + ShellQuote(dir) + " && zip -q -s 0 vol.zip --out joined.zip && unzip -tq joined.zip", &code);
    EXPECT_EQ(0, code);

    // Rename and Save As take every volume of the set; a longer older set's leftovers go.
    ASSERT_EQ(atZipMV, form->Pelix1->ArcType());
    form->CheckBox1->SetChecked(true);  // "Recurse Dirs"
    Respond([](TForm& f) {
        auto& input = dynamic_cast<TfrmInput&>(f);
        input.Edit1->SetText("moved.zip");
        input.btnOK->Click();
    });
    form->mnuRename->Click();
    for (const char* gone : {"vol.zip", "vol.z01"})
        EXPECT_FALSE(fs::exists(dir + "/" + gone)) << gone;
    std::ofstream(dir + "/copy.z02") << "stale volume";
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        return s.Kind == "SaveDialog" ? dir + "/copy.zip" : "Yes";
    });
    form->mnuSaveAs->Click();
    EXPECT_FALSE(fs::exists(dir + "/copy.z02"));
    for (const char* set : {"moved", "copy"}) {
        CaptureCommand("cd " + ShellQuote(dir) + " && rm -f j.zip && zip -q -s 0 " + set +
                           ".zip --out j.zip && unzip -tq j.zip",
                       &code);
        EXPECT_EQ(0, code) << set;
    }
    EXPECT_EQ(dir + "/copy.zip", form->Pelix1->ArchiveFile());
    EXPECT_EQ(3, form->ZipView1->Items.Count());

    // "&Password" asks for the phrase; "Super fast" does not make the method "store" for good.
    bool asked = false;
    Run(src, {dir + "/secret.zip",
              [&](TfrmAddFiles& add) {
                  add.ComboBox5->SetItemIndex(dtDeflateS);
                  add.btnPassword->Click();
                  EXPECT_EQ("&PROTECTED", add.btnPassword->Caption);
              },
              nullptr,
              [&](const TShown& s) -> std::optional<std::string> {
                  auto* password = dynamic_cast<TfrmPassword1*>(s.Form);
                  if (!password)
                      return "Cancel";
                  asked = true;
                  EXPECT_EQ(1, password->RadioGroup1->Items.Count());  // no AES offered
                  password->Edit1->SetText("tajne heslo");
                  EXPECT_EQ("tajne heslo", password->Edit2->Text());
                  password->Button1->Click();
                  return std::nullopt;
              }});
    EXPECT_TRUE(asked);
    EXPECT_EQ(cmDeflate, TCompressMethod(form->ZipSplitter1->CompressMethod));
    CaptureCommand("cd " + ShellQuote(dir) + " && unzip -tq -P 'tajne heslo' secret.zip", &code);
    EXPECT_EQ(0, code);
    CaptureCommand("cd " + ShellQuote(dir) + " && unzip -tq -P wrong secret.zip >/dev/null 2>&1", &code);
    EXPECT_NE(0, code);
}

TEST_F(NewArchive, AnExistingNameAndACancelledDialog)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const fs::path src = MakeTree(dir);
    const std::string old = dir + "/old.zip";
    CaptureCommand("cd " + ShellQuote(src.string()) + " && zip -q " + ShellQuote(old) + " a.txt");
    // "No" keeps the file and lists it.
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (s.Kind == "SaveDialog")
            return old;
        EXPECT_NE(std::string::npos,
                  s.Text.find("old.zip: already exists...\r\rOVERWRITE?\r(will be moved to the Recycling Bin)"));
        return "No";
    });
    form->mnuNew->Click();
    EXPECT_TRUE(fs::exists(old));
    EXPECT_EQ(1, form->ZipView1->Items.Count());
    // "Yes" moves it away; the add dialog's Cancel leaves no busy window behind.
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (s.Kind == "SaveDialog")
            return old;
        return dynamic_cast<TfrmAddFiles*>(s.Form) ? "Cancel" : "Yes";
    });
    form->mnuNew->Click();
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(clGreen, form->LedColour());
    EXPECT_FALSE(form->OperationRunning());
}

TEST_F(ArchiveManager, EncryptedMemberAsksThroughThePasswordDialog)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const fs::path src = MakeTree(dir);
    const std::string archive = dir + "/enc.zip";
    CaptureCommand("cd " + ShellQuote(src.string()) + " && zip -q -P pw " + ShellQuote(archive) + " a.txt");
    form->DisplayFile(archive);
    const std::string out = dir + "/out";
    fs::create_directories(out);
    // A restore asks in its own input box; the archive manager's dialog is back after it.
    const std::string restored = dir + "/restored/";
    fs::create_directories(restored);
    form->State().DataFolder = restored;
    form->State().TargetFolder = dir + "/";
    CaptureCommand("cd " + ShellQuote(src.string()) + " && zip -q -P other ../backup.zip a.txt");
    std::vector<std::string> inputBoxes;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (s.Kind == "InputBox") {
            inputBoxes.push_back(s.Caption);
            return "other";
        }
        return "OK";
    });
    EXPECT_TRUE(form->RestoreArchive("backup.zip"));
    EXPECT_EQ(std::vector<std::string>{"OnGetPassword event"}, inputBoxes);
    EXPECT_EQ(ReadWholeFile(src / "a.txt"), ReadWholeFile(restored + "a.txt"));
    // The backup's password stays with its restore.
    EXPECT_EQ("", form->UnZip1->Password());
    EXPECT_TRUE(form->UnZip1->Passwords.empty());
    std::string member;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (auto* dialog = dynamic_cast<TfrmExtract*>(s.Form)) {
            dialog->Edit1->SetText(out);
            dialog->BitBtn1->Click();
            return std::nullopt;
        }
        if (auto* password = dynamic_cast<TfrmPassword2*>(s.Form)) {
            EXPECT_EQ("Enter password...", password->Caption);
            member = password->Edit3->Text();
            password->CheckBox1->SetChecked(true);  // masked: the confirmation must match
            password->Edit1->SetText("pw");
            password->Edit2->SetText("px");
            password->Button1->Click();
            EXPECT_EQ(mrNone, password->ModalResult);
            password->Edit2->SetText("pw");
            password->Button1->Click();
            return std::nullopt;
        }
        return "OK";
    });
    form->DisplayFile(archive);
    form->PressKey('E', ssCtrl);
    // The member as the archive names it, not the file it is written to.
    EXPECT_EQ("a.txt", member);
    EXPECT_EQ(ReadWholeFile(src / "a.txt"), ReadWholeFile(fs::path(out) / "a.txt"));

    // Testing and viewing ask through the same dialog.
    std::vector<std::string> asked, rows;
    const std::string record = dir + "/record", viewer = dir + "/viewer";
    std::ofstream(viewer) << "#!/bin/sh\ncat \"$1\" > " + ShellQuote(record) + "\n";
    fs::permissions(viewer, fs::perms::owner_all);
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (auto* password = dynamic_cast<TfrmPassword2*>(s.Form)) {
            asked.push_back(password->Edit3->Text());
            password->CheckBox1->SetChecked(false);
            password->Edit1->SetText("pw");
            password->Button1->Click();
            return std::nullopt;
        }
        if (auto* test = dynamic_cast<TfrmTestArchive*>(s.Form)) {
            test->Button1->Click();
            rows = test->ReportRows();
            test->Button2->Click();
            return std::nullopt;
        }
        if (auto* run = dynamic_cast<TfrmRunFile*>(s.Form)) {
            run->RadioGroup2->SetItemIndex(3);  // OpenWithFile
            run->Edit1->SetText(viewer);
            run->btnOK->Click();
            return std::nullopt;
        }
        if (s.Kind == "InputBox")
            ADD_FAILURE() << "an input box asked: " << s.Caption;
        return "OK";
    });
    form->PressKey('T', ssCtrl);
    EXPECT_EQ(std::vector<std::string>{"a.txt ...Ok"}, rows);
    form->ZipView1->SetSelected(0, true);
    form->BitBtn[4]->Click();
    EXPECT_EQ(ReadWholeFile(src / "a.txt"), ReadWholeFile(record));
    ASSERT_EQ(2u, asked.size());
    for (const std::string& name : asked)
        EXPECT_EQ("a.txt", name);
}

TEST(ManagerDialogs, AddFilesChoicesSeedKeysAndSplitSizes)
{
    // The compressor by extension; a gzip writer offers deflate alone.
    EXPECT_EQ(5, TfrmAddFiles::CompressorIndexOfName("C:/a/B.LZH"));
    EXPECT_EQ(1, TfrmAddFiles::CompressorIndexOfName("x.bzip"));
    EXPECT_EQ(9, TfrmAddFiles::CompressorIndexOfName("x.what"));
    EXPECT_EQ(5, TfrmAddFiles::CompressorIndex(atLzh));
    TGZip gzip;
    TfrmAddFiles add(nullptr);
    add.ShowSettingsOf(gzip);
    ASSERT_EQ(1, add.ComboBox1->Items.Count());
    EXPECT_EQ("cmDeflate", add.ComboBox1->Items[0]);
    EXPECT_TRUE(add.ComboBox5->Enabled());
    // Each writer offers what it writes: no PPMd for BH, no LZX or Quantum that the cabinet
    // library here cannot code.
    const auto offered = [&add](TCompBase& writer) {
        add.ShowSettingsOf(writer);
        std::vector<std::string> items;
        for (int i = 0; i < add.ComboBox1->Items.Count(); ++i)
            items.push_back(add.ComboBox1->Items[i]);
        return items;
    };
    TBlakHole bh;
    TLha lha;
    TMakeCab cab;
    using TNames = std::vector<std::string>;
    EXPECT_EQ(offered(bh), (TNames{"cmStore", "cmDeflate", "cmFuse", "cmBz2"}));
    EXPECT_EQ(offered(lha), (TNames{"cmStore", "cmFrozen5", "cmFrozen6"}));
    EXPECT_EQ(offered(cab), (TNames{"cmStore", "cmMsZip"}));

    // Seed keys: ten digits up to 4294967295, nothing that would wrap.
    EXPECT_EQ(4294967295u, ParseSeedKey("4294967295"));
    for (const char* bad : {"4294967296", "99999999999", "", "12a", "-1"})
        EXPECT_FALSE(ParseSeedKey(bad).has_value()) << bad;
    TfrmSeedKeys keys(nullptr);
    EXPECT_EQ("Seed-key editor...", keys.Caption);
    EXPECT_EQ("305419896", keys.edtDataKey[0]->Text());
    EXPECT_EQ(std::to_string(0x6D2A91F4u), keys.edtHeaderKey[0]->Text());
    keys.edtHeaderKey[1]->SetText("4294967295");
    EXPECT_EQ(4294967295u, keys.HeaderKeys()[1]);
    std::vector<std::string> boxes;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (s.Kind == "MessageBox") {
            boxes.push_back(s.Text);
            return "OK";
        }
        keys.edtDataKey[2]->SetText("4294967296");
        keys.btnOk->Click();
        EXPECT_EQ(mrNone, keys.ModalResult);
        return "Cancel";
    });
    keys.ShowModal();
    Headless().SetResponder(nullptr);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_NE(std::string::npos, boxes[0].find("4294967295"));

    // A pasted size saturates; the volume size in megabytes does not wrap into a small one.
    EXPECT_EQ(1024, PartSizeFromText("1,024.5"));
    EXPECT_EQ(INT64_MAX, PartSizeFromText("999999999999999999999999999"));
    TZipSplitter splitter;
    splitter.Splitter().ArchiveSize = 10'000'000;
    splitter.Splitter().PartType = ptOtherSize;
    splitter.Splitter().CustomSizeType = stMB;
    splitter.Splitter().PartSize = PartSizeFromText("99999999999999999999");
    EXPECT_EQ(INT64_MAX, splitter.Splitter().RequestedVolumeSize(ptOtherSize));
    EXPECT_EQ(0u, splitter.Splitter().GetVolumeCount());
}

TEST_F(ArchiveManager, SharedEventsSpeakTheirTexts)
{
    std::vector<TShown> shown;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        shown.push_back(s);
        return s.Kind == "InputBox" ? "heslo" : s.Text.rfind("Insert", 0) == 0 ? "Cancel" : "Yes";
    });
    bool yes = false;
    form->Tar1->OnReplaceFile(nullptr, "C:\\old.txt", "C:\\new.txt", 0, 0, 10, 20, 32, 32, yes);
    EXPECT_TRUE(yes);
    form->Lha1->OnNonWriteableArchive(nullptr, "C:\\a.lzh", yes);
    bool cancel = false;
    form->Jar1->OnInsertDisk(nullptr, "3", cancel);
    EXPECT_TRUE(cancel);
    form->ZipSplitter1->OnCorruptZipHeader(nullptr, 0, cancel);
    EXPECT_FALSE(cancel);
    form->GZip1->UnpackedTotal = 3'000'000;
    form->GZip1->OnElapsedTime(form->GZip1.get(), 2.0f);  // off: nothing shown
    form->mnuElapsedTime->Click();
    form->GZip1->OnElapsedTime(form->GZip1.get(), 2.0f);
    std::string password;
    TSeedKeyRecord h{}, d{};
    bool again = false;
    form->Pelix1->OnGetPassword(nullptr, "x", password, h, d, again);
    EXPECT_TRUE(again);
    EXPECT_EQ("heslo", password);
    ASSERT_EQ(6u, shown.size());
    EXPECT_EQ(0u, shown[0].Text.find("REPLACE:\r   C:\\old.txt\r   Size: 10   Date: 12.30.99 12:00 am"))
        << shown[0].Text;
    EXPECT_NE(std::string::npos, shown[0].Text.find("\r\rWITH:C:\\new.txt"));
    EXPECT_EQ("C:\\a.lzh is ReadOnly, SysFile, or Hidden file...\r\rWrite to this file?", shown[1].Text);
    EXPECT_EQ("Insert disk# : 3", shown[2].Text);
    EXPECT_EQ("Header error... (missing or corrupt)\r\rContinue?", shown[3].Text);
    EXPECT_EQ("Seconds: 2\rBytesPerSec: 1\u00a0500\u00a0000\r\rOnElapsedTime event", shown[4].Text);
    EXPECT_EQ("OnGetPassword event", shown[5].Caption);
    // The window declines every file association, and asks nobody about it.
    bool declined = false;
    form->RegArchive1->OnAssociation(nullptr, "torvo", declined);
    EXPECT_TRUE(declined);
    EXPECT_EQ(6u, shown.size());
}

TEST_F(ArchiveManager, TestListsEachMembersResultAndRefusesNestedCommands)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const std::string good = MakeZip("good.zip", {{"a.txt", std::string(3000, 'a')}, {"b;*.txt", "bravo bravo"}}, "-0");
    fs::copy_file(good, dir + "/bad.zip");
    // One byte of the second member's stored data changed: its CRC no longer matches.
    std::vector<std::uint8_t> bytes = ReadWholeFile(dir + "/bad.zip");
    const std::string text(bytes.begin(), bytes.end());
    bytes[text.find("bravo bravo") + 3] ^= 0x20;
    WriteWholeFile(dir + "/bad.zip", bytes);

    const auto test = [&](const std::string& archive, bool selectBoth) {
        form->DisplayFile(archive);
        for (int i = 0; selectBoth && i < form->ZipView1->Items.Count(); ++i)
            form->ZipView1->SetSelected(i, true);
        std::vector<std::string> rows;
        std::string spec, status, during;
        Respond([&](TForm& f) {
            auto& dialog = dynamic_cast<TfrmTestArchive&>(f);
            EXPECT_EQ("(TZipCheck demo) validity test...", dialog.Caption);
            spec = dialog.Edit3->Text();
            dialog.Button1->Click();
            rows = dialog.ReportRows();
            status = dialog.StatusBar1->SimpleText;
            // F5 while the test dialog is up must not start a listing inside it.
            form->PressKey(VK_F5);
            during = form->StatusBar1->SimpleText;
            dialog.Button2->Click();
        });
        form->PressKey('T', ssCtrl);
        EXPECT_EQ("Busy...", during);
        return std::make_tuple(rows, spec, status);
    };
    auto [rows, spec, status] = test(good, true);
    EXPECT_EQ("a.txt; b;*.txt", spec);
    EXPECT_EQ((std::vector<std::string>{"a.txt ...Ok", "b;*.txt ...Ok"}), rows);
    EXPECT_EQ("File(s) tested:  2", status);

    std::tie(rows, spec, status) = test(dir + "/bad.zip", false);
    EXPECT_EQ("*.*", spec);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ("a.txt ...Ok", rows[0]);
    EXPECT_NE(rows.end(), std::find(rows.begin(), rows.end(), "b;*.txt ...Failed"));

    // A TAR inside GZip is tested member by member after a question, then offered for listing.
    if (HaveTool("tar") && HaveTool("gzip")) {
        CaptureCommand("cd " + ShellQuote(dir + "/src-good.zip") + " && tar czf ../t.tgz a.txt 'b;*.txt'");
        form->DisplayFile(dir + "/t.tgz");
        rows = TestedRows();
        EXPECT_NE(rows.end(), std::find(rows.begin(), rows.end(), "b;*.txt ...Ok"));
        ASSERT_EQ(2u, boxes.size());
        EXPECT_NE(std::string::npos, boxes[0].find("Decompress and verify this archive?"));
        EXPECT_EQ("Display contents of the extracted tar archive?", boxes[1]);
    }

    // A file that is no archive: nothing to test, the "&Action" menu comes into view.
    std::ofstream(dir + "/plain.txt") << "no archive";
    const int recent = form->ComboBox1->Items.Count();
    form->DisplayFile(dir + "/plain.txt");
    EXPECT_EQ(0, form->ZipView1->Items.Count());
    EXPECT_EQ("", form->Caption);
    EXPECT_EQ(recent, form->ComboBox1->Items.Count());
    EXPECT_FALSE(form->mnuAction->Visible);
    form->TestClick();
    EXPECT_TRUE(form->mnuAction->Visible);
    // The next request run starts with the menu hidden again.
    form->ShowControlsForMode(1);
    EXPECT_FALSE(form->mnuAction->Visible);
}

TEST_F(ArchiveManager, EditCommentRoundTripsThroughTheArchive)
{
    if (!HaveTool("zip") || !HaveTool("unzip") || !HaveTool("zipnote"))
        GTEST_SKIP() << "zip tools missing";
    const std::string archive = MakeZip("c.zip", {{"a.txt", "alpha"}, {"sub/b.txt", "beta"}});
    form->DisplayFile(archive);
    std::string counter;
    Respond([&](TForm& f) {
        auto& dialog = dynamic_cast<TfrmEditComments&>(f);
        counter = dialog.lblCount->Caption;
        dialog.Memo1->SetText("first file's note");
        dialog.ScrollBar1->SetPosition(2);  // stores the memo into the first entry
        dialog.btnEditMain->Click();
        EXPECT_TRUE(dialog.EditingMain());
        dialog.Memo1->SetText("the main note");
        dialog.btnEditMain->Click();  // "Save main archive comment?" Yes
        dialog.Memo1->SetText("second");
        dialog.btnOK->Click();  // stores "second" into the second entry and closes
    });
    form->PressKey('C', ssCtrl);
    EXPECT_EQ("1 of 2", counter);
    EXPECT_NE(boxes.end(), std::find(boxes.begin(), boxes.end(), "Save main archive comment?"));
    EXPECT_NE(boxes.end(), std::find(boxes.begin(), boxes.end(), "Save changes?"));
    int code = -1;
    CaptureCommand("unzip -tq " + ShellQuote(archive), &code);
    EXPECT_EQ(0, code);
    EXPECT_NE(std::string::npos, CaptureCommand("unzip -z " + ShellQuote(archive)).find("the main note"));
    const std::string notes = CaptureCommand("zipnote " + ShellQuote(archive));
    EXPECT_NE(std::string::npos, notes.find("@ a.txt\nfirst file's note\n")) << notes;
    EXPECT_NE(std::string::npos, notes.find("@ sub/b.txt\nsecond\n")) << notes;

    // Answering No leaves the archive as it was.
    const std::vector<std::uint8_t> before = ReadWholeFile(archive);
    Respond(
        [&](TForm& f) {
            auto& dialog = dynamic_cast<TfrmEditComments&>(f);
            dialog.Memo1->SetText("not kept");
            dialog.btnOK->Click();
        },
        "No");
    form->EditCommentClick();
    EXPECT_TRUE(before == ReadWholeFile(archive));

    if (HaveTool("tar")) {
        CaptureCommand("cd " + ShellQuote(dir) + " && tar cf t.tar src-c.zip");
        form->DisplayFile(dir + "/t.tar");
        Respond([](TForm&) { ADD_FAILURE() << "no dialog for a TAR archive"; }, "OK");
        form->EditCommentClick();
        EXPECT_EQ(std::vector<std::string>{"Comment editing is not supported with this type of archive"}, boxes);
    }
}

TEST_F(ArchiveManager, RenameSaveAsAndEncodeKeepTheArchiveWhole)
{
    if (!HaveTool("zip") || !HaveTool("unzip") || !HaveTool("uudecode"))
        GTEST_SKIP() << "zip, unzip or uudecode missing";
    const std::string archive = MakeZip("r.zip", {{"a.txt", std::string(20000, 'r')}, {"b.bin", RandomBytes(5000, 7)}});
    const std::vector<std::uint8_t> original = ReadWholeFile(archive);
    form->DisplayFile(archive);

    Respond([](TForm& f) {
        auto& input = dynamic_cast<TfrmInput&>(f);
        EXPECT_EQ("Rename current archive...", input.Caption);
        EXPECT_EQ("r.zip", input.Edit1->Text());
        input.Edit1->SetText("renamed.zip");
        input.btnOK->Click();
    });
    form->mnuRename->Click();
    const std::string renamed = dir + "/renamed.zip";
    EXPECT_FALSE(fs::exists(archive));
    EXPECT_TRUE(original == ReadWholeFile(renamed));
    EXPECT_EQ(renamed, form->Pelix1->ArchiveFile());
    EXPECT_EQ(2, form->ZipView1->Items.Count());
    EXPECT_EQ(-1, form->ComboBox1->Items.IndexOf(archive));
    int code = -1;
    CaptureCommand("unzip -tq " + ShellQuote(renamed), &code);
    EXPECT_EQ(0, code);

    // Save As copies; an existing target is kept unless the user agrees; never onto itself.
    const std::string copy = dir + "/copy.zip";
    std::ofstream(copy) << "precious";
    Headless().SetResponder(
        [&](const TShown& s) -> std::optional<std::string> { return s.Kind == "SaveDialog" ? copy : "No"; });
    form->mnuSaveAs->Click();
    EXPECT_EQ("precious", CaptureCommand("cat " + ShellQuote(copy)));
    Headless().SetResponder(
        [&](const TShown& s) -> std::optional<std::string> { return s.Kind == "SaveDialog" ? copy : "Yes"; });
    form->mnuSaveAs->Click();
    EXPECT_TRUE(original == ReadWholeFile(copy));
    EXPECT_EQ(copy, form->Pelix1->ArchiveFile());
    Headless().SetResponder(
        [&](const TShown& s) -> std::optional<std::string> { return s.Kind == "SaveDialog" ? copy : "Yes"; });
    form->mnuSaveAs->Click();
    EXPECT_TRUE(original == ReadWholeFile(copy));

    // Encode: the proposal follows the method; uudecode gives the archive back.
    Respond([&](TForm& f) {
        auto& dialog = dynamic_cast<TfrmUUEncode&>(f);
        EXPECT_EQ(copy, dialog.Edit1->Text());
        EXPECT_EQ(dir + "/copy.uue", dialog.Edit2->Text());
        dialog.EncodeMethod1->SetItemIndex(1);
        EXPECT_EQ(dir + "/copy.xxe", dialog.Edit2->Text());
        dialog.EncodeMethod1->SetItemIndex(0);
        // Never written over its own input.
        dialog.Edit2->SetText(copy);
        dialog.btnOK->Click();
        EXPECT_EQ(mrNone, dialog.ModalResult);
        EXPECT_TRUE(dialog.Edit1->Text().empty() && dialog.Edit2->Text().empty());
        EXPECT_FALSE(dialog.btnOK->Enabled());
        dialog.Edit1->SetText(copy);
        dialog.Edit2->SetText(dir + "/copy.uue");
        dialog.btnOK->Click();
    });
    form->mnuEncode->Click();
    EXPECT_EQ(std::vector<std::string>{"Error: infile and outfile are the same"}, boxes);
    ASSERT_TRUE(fs::exists(dir + "/copy.uue"));
    CaptureCommand("uudecode -o " + ShellQuote(dir + "/decoded.zip") + " " + ShellQuote(dir + "/copy.uue"), &code);
    EXPECT_EQ(0, code);
    EXPECT_TRUE(original == ReadWholeFile(dir + "/decoded.zip"));

    // A file that is gone is reported in the error list under the encoder's own class.
    Respond([&](TForm& f) {
        if (auto* dialog = dynamic_cast<TfrmUUEncode*>(&f)) {
            dialog->Edit1->SetText(dir + "/gone.bin");
            dialog->Edit2->SetText(dir + "/gone.uue");
            dialog->btnOK->Click();
        } else {
            f.ModalResult = mrOk;  // the error list
        }
    });
    form->mnuEncode->Click();
    ASSERT_FALSE(form->ErrorMessages.empty());
    EXPECT_NE(std::string::npos, form->ErrorMessages.back().find("ClassName: TUUEncode")) << form->ErrorMessages.back();
    EXPECT_FALSE(fs::exists(dir + "/gone.uue"));
}

TEST_F(ArchiveManager, ViewRunStartsTheViewerWithTheExtractedMember)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const std::string archive = MakeZip("v.zip", {{"docs/read me.txt", "the member's text\n"}, {"other.txt", "x"}});
    const std::string record = dir + "/record", viewer = dir + "/viewer";
    std::ofstream(viewer) << "#!/bin/sh\n{ echo \"$1\"; cat \"$1\"; } > " + ShellQuote(record) + "\n";
    fs::permissions(viewer, fs::perms::owner_all);
    form->CheckBox1->SetChecked(true);  // "Recurse Dirs": members in folders too
    form->DisplayFile(archive);
    form->ZipView1->SetSelected(RowOf("docs\\read me.txt"), true);
    std::vector<std::string> listed;
    Respond([&](TForm& f) {
        auto& dialog = dynamic_cast<TfrmRunFile&>(f);
        for (int i = 0; i < dialog.ListBox1->Items.Count(); ++i)
            listed.push_back(dialog.ListBox1->Items[i]);
        EXPECT_FALSE(dialog.Edit1->Enabled());
        dialog.RadioGroup2->SetItemIndex(3);  // OpenWithFile
        EXPECT_TRUE(dialog.Edit1->Enabled());
        dialog.Edit1->SetText(viewer);
        dialog.btnOK->Click();
    });
    form->BitBtn[4]->Click();
    ASSERT_EQ(1u, listed.size());
    EXPECT_NE(std::string::npos, listed[0].find("read me.txt"));
    const std::string seen = CaptureCommand("cat " + ShellQuote(record));
    EXPECT_NE(std::string::npos, seen.find("read me.txt\nthe member's text\n")) << seen;

    // Nothing selected: the dialog says so and runs nothing.
    form->ZipView1->Items.Clear();
    Respond([](TForm&) {}, "OK");
    fs::remove(record);
    form->ViewRunClick();
    EXPECT_EQ(std::vector<std::string>{"No files selected"}, boxes);
    EXPECT_FALSE(fs::exists(record));
}

TEST_F(ArchiveManager, HeaderClicksSortEachColumnBothWays)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const fs::path src = dir + "/src";
    fs::create_directories(src);
    // Sizes, ratios and dates that order the rows differently from their names.
    std::ofstream(src / "b.txt") << std::string(9000, 'b');
    std::ofstream(src / "a.txt") << RandomBytes(300, 3);
    std::ofstream(src / "c.txt") << std::string(20, 'c') + RandomBytes(1000, 5);
    CaptureCommand(
        "cd " + ShellQuote(src.string()) +
        " && touch -d '1999-05-01 10:00' b.txt && touch -d "
        "'2021-01-02 03:04' a.txt && touch -d '2010-07-08 09:10' c.txt && zip -q ../s.zip a.txt b.txt c.txt");
    // With the elapsed-time report on, a listing tells its time and speed.
    Respond([](TForm&) {}, "OK");
    form->mnuElapsedTime->Click();
    form->DisplayFile(dir + "/s.zip");
    ASSERT_EQ(3, form->ZipView1->Items.Count());
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Seconds: ", boxes[0].substr(0, 9));
    EXPECT_NE(std::string::npos, boxes[0].find("\rBytesPerSec: ")) << boxes[0];
    EXPECT_NE(std::string::npos, boxes[0].find("\r\rOnElapsedTime event")) << boxes[0];
    form->mnuElapsedTime->Click();
    form->DisplayFile(dir + "/s.zip");
    EXPECT_EQ(1u, boxes.size());
    const auto order = [&] {
        std::string names;
        for (int i = 0; i < form->ZipView1->Items.Count(); ++i)
            names += form->ZipView1->Items.Fields(i)[zcName].substr(0, 1);
        return names;
    };
    form->SortByColumn(zcUnpacked);
    EXPECT_EQ("acb", order());
    form->SortByColumn(zcUnpacked);
    EXPECT_EQ("bca", order());
    form->SortByColumn(zcName);
    EXPECT_EQ("abc", order());
    form->SortByColumn(zcName);
    EXPECT_EQ("cba", order());
    form->SortByColumn(zcDateTime);  // 1999, 2010, 2021: dates, not the texts "dd.mm.yy"
    EXPECT_EQ("bca", order());
    form->SortByColumn(zcDateTime);
    EXPECT_EQ("acb", order());

    // Ratios and offsets compare as numbers ("5%" before "37%" before "100%").
    form->ZipView1->Items.Clear();
    for (const auto& [name, ratio, offset] : {std::tuple{"z", "100%", "9"}, {"x", "5%", "1000"}, {"y", "37%", "20"}}) {
        std::vector<std::string> row(zcColumnCount);
        row[zcName] = name;
        row[zcRatio] = ratio;
        row[zcOffset] = offset;
        form->ZipView1->Items.AddFields(row);
    }
    form->SortByColumn(zcRatio);
    EXPECT_EQ("xyz", order());
    form->SortByColumn(zcOffset);
    EXPECT_EQ("zyx", order());
}

TEST_F(ArchiveManager, MasksRecentArchivesAndEmptyFoldersNarrowTheList)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const std::string first = MakeZip("one.zip", {{"x.txt", "x"}});
    const std::string archive = MakeZip("m.zip", {{"a.txt", "a"}, {"b.log", "b"}, {"c.txt", "c"}});
    CaptureCommand("cd " + ShellQuote(dir + "/src-m.zip") + " && mkdir -p empty && zip -q " + ShellQuote(archive) +
                   " empty/");
    Respond([](TForm&) {}, "OK");
    form->Edit1->SetText("*.txt");
    WORD enter = VK_RETURN;
    form->Edit1->OnKeyDown(form->Edit1, enter, 0);
    EXPECT_EQ(std::vector<std::string>{"No archive loaded..."}, boxes);

    form->DisplayFile(first);
    form->DisplayFile(archive);
    EXPECT_EQ(0, form->ComboBox1->Items.IndexOf(archive));
    EXPECT_EQ(1, form->ComboBox1->Items.IndexOf(first));
    EXPECT_EQ(2, form->ZipView1->Items.Count());  // the mask "*.txt"
    form->Edit1->SetText("");
    form->Edit2->SetText("*.log");
    enter = VK_RETURN;
    form->Edit2->OnKeyDown(form->Edit2, enter, 0);
    EXPECT_EQ(2, form->ZipView1->Items.Count());  // b.log excluded
    form->Edit2->SetText("");
    enter = VK_RETURN;
    form->Edit2->OnKeyDown(form->Edit2, enter, 0);
    EXPECT_EQ(3, form->ZipView1->Items.Count());
    form->CheckBox1->SetChecked(true);
    form->mnuBlankDirs->Click();
    EXPECT_EQ(4, form->ZipView1->Items.Count());  // the empty folder too
    form->mnuBlankDirs->Click();
    EXPECT_EQ(3, form->ZipView1->Items.Count());

    // Choosing an earlier archive in the recent list shows it again, first in the list.
    form->ComboBox1->SelectFromList(1);
    EXPECT_EQ(first, form->Pelix1->ArchiveFile());
    EXPECT_EQ(0, form->ComboBox1->Items.IndexOf(first));
    EXPECT_EQ(1, form->ZipView1->Items.Count());
}

// A member at the archive's root has an empty folder column, and every command on its row reaches
// that member alone, not its namesake in a folder.
TEST_F(ArchiveManager, ARootMembersRowReachesItAloneInEveryCommand)
{
    const fs::path src = dir + "/src";
    fs::create_directories(src / "sub");
    std::ofstream(src / "a.txt") << "root a";
    std::ofstream(src / "sub" / "a.txt") << "sub a";
    std::ofstream(src / "sub" / "b.txt") << "sub b";
    const std::string names = " a.txt sub/a.txt sub/b.txt";
    struct TCase {
        const char* tool;
        std::string archive, make, list;
    };
    const std::vector<TCase> cases = {
        {"zip", "r.zip", "zip -q ../r.zip" + names, "unzip -Z1 r.zip"},
        {"tar", "r.tar", "tar cf ../r.tar" + names, "tar tf r.tar"},
        {"lha", "r.lzh", "lha -aq ../r.lzh" + names, "lha -l r.lzh | awk 'NR>2 && /\\.txt/ {print $NF}'"},
    };
    form->CheckBox1->SetChecked(true);  // "Recurse Dirs"
    for (const TCase& c : cases) {
        if (!HaveTool(c.tool))
            continue;
        SCOPED_TRACE(c.archive);
        CaptureCommand("cd " + ShellQuote(src.string()) + " && " + c.make);
        const std::string archive = dir + "/" + c.archive;
        form->DisplayFile(archive);
        ASSERT_EQ(3, form->ZipView1->Items.Count());
        const int root = RowOf("a.txt");
        ASSERT_GE(root, 0);
        EXPECT_EQ("", form->ZipView1->Items.Fields(root)[zcFolder]);
        EXPECT_EQ("sub\\", form->ZipView1->Items.Fields(RowOf("sub\\a.txt"))[zcFolder]);

        // Test the root member's row and one more (a single row stands for the whole archive).
        form->ZipView1->SetSelected(root, true);
        form->ZipView1->SetSelected(RowOf("sub\\b.txt"), true);
        const std::vector<std::string> rows = TestedRows();
        ASSERT_EQ(2u, rows.size()) << ::testing::PrintToString(rows);
        EXPECT_EQ("a.txt ...Ok", rows[0]);
        EXPECT_NE(std::string::npos, rows[1].find("b.txt ...Ok")) << rows[1];
        form->ZipView1->SetSelected(RowOf("sub\\b.txt"), false);

        // Extract it alone.
        const std::string out = dir + "/out-" + c.archive;
        fs::create_directories(out);
        form->ZipView1->SetSelected(RowOf("a.txt"), true);
        Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
            if (auto* dialog = dynamic_cast<TfrmExtract*>(s.Form)) {
                EXPECT_TRUE(dialog->SelectedFilesOnly());
                dialog->Edit1->SetText(out);
                dialog->BitBtn1->Click();
                return std::nullopt;
            }
            return "OK";
        });
        form->PressKey('E', ssCtrl);
        EXPECT_EQ((std::map<std::string, std::string>{{"a.txt", "root a"}}), FilesOnly(HostTree(out)));

        // Delete it alone.
        form->ZipView1->SetSelected(RowOf("a.txt"), true);
        Respond([](TForm&) {}, "Yes");
        form->mnuDelete->Click();
        EXPECT_EQ("Deleted : 1 files", form->StatusBar1->SimpleText);
        EXPECT_EQ("sub/a.txt\nsub/b.txt\n", CaptureCommand("cd " + ShellQuote(dir) + " && " + c.list + " | sort"));
    }
}
