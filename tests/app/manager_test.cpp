#include "app/lib/FormAddFiles.h"
#include "app/lib/FormExtract.h"
#include "app/lib/FormTorvo.h"
#include "platform/vcl/Headless.h"
#include "readers/Pelix.h"
#include "readers/view/plxZipView.h"
#include "tests/support/ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

THeadlessWidgetSet& Headless()
{
    THeadlessWidgetSet* set = HeadlessWidgetSet();
    EXPECT_NE(set, nullptr);
    set->ClearTranscript();
    set->SetResponder(nullptr);
    return *set;
}

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
    std::string dir;
    TFormTorvo* form = nullptr;
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
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        return s.Kind == "OpenDialog" ? archive : "OK";
    });
    form->CheckBox1->SetChecked(true);  // "Recurse Dirs"
    form->PressKey(VK_F2);
    ASSERT_EQ(5, form->ZipView1->Items.Count());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(size_t(zcColumnCount), form->ZipView1->Items.Fields(i).size());
    EXPECT_EQ("Files: 5", form->StatusBar1->Panels[0].Text);
    EXPECT_NE("Ratio: 100%", form->StatusBar1->Panels[3].Text);
    EXPECT_EQ("Unpacked: " + std::to_string(5 * 1000 + 37 * 10), form->StatusBar1->Panels[2].Text);
    EXPECT_EQ("the note", form->StatusBar1->Panels[4].Text.substr(0, 8));
    EXPECT_EQ(0, form->ComboBox1->Items.IndexOf(archive));

    // Names with ";" and "*" are deleted exactly: "starXY.txt" would match "star*.txt" as a mask.
    form->ZipView1->SetSelected(RowOf("semi;colon.txt"), true);
    form->ZipView1->SetSelected(RowOf("star*.txt"), true);
    form->DisplayTotals(1);
    EXPECT_EQ("Selected: 2", form->StatusBar1->Panels[0].Text);
    form->mnuDelete->Click();
    int code = -1;
    CaptureCommand("unzip -tq " + ShellQuote(archive), &code);
    EXPECT_EQ(0, code);
    EXPECT_EQ("a.txt\nstarXY.txt\nsub/b.txt\n", CaptureCommand("unzip -Z1 " + ShellQuote(archive)));
    EXPECT_EQ(3, form->ZipView1->Items.Count());

    // Ctrl+E: the extract dialog's folder and options, every member when none is selected.
    const std::string out = dir + "/out";
    fs::create_directories(out);
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (auto* dialog = dynamic_cast<TfrmExtract*>(s.Form)) {
            EXPECT_FALSE(dialog->SelectedFilesOnly());
            dialog->Edit1->SetText(out);
            dialog->BitBtn1->Click();
            return std::nullopt;
        }
        return "OK";
    });
    form->PressKey('E', ssCtrl);
    EXPECT_EQ("Files Extracted: 3", form->StatusBar1->SimpleText);
    for (const char* name : {"a.txt", "starXY.txt", "sub/b.txt"})
        EXPECT_EQ(ReadWholeFile(src / name), ReadWholeFile(fs::path(out) / name)) << name;
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
}

TEST_F(ArchiveManager, ExtractDialogRefusesAMissingFolder)
{
    TfrmExtract dialog(nullptr);
    EXPECT_EQ("Extract", dialog.Caption);
    EXPECT_TRUE(dialog.CheckBox2->Checked());
    dialog.PrepareFor(false);
    EXPECT_FALSE(dialog.SelectedFilesOnly());
    std::vector<std::string> boxes;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (s.Kind == "MessageBox") {
            boxes.push_back(s.Text);
            return "OK";
        }
        static_cast<TfrmExtract*>(s.Form)->Edit1->SetText(dir + "/missing");
        static_cast<TfrmExtract*>(s.Form)->BitBtn1->Click();
        EXPECT_EQ(mrNone, s.Form->ModalResult);
        return "Cancel";
    });
    EXPECT_EQ(mrCancel, dialog.ShowModal());
    ASSERT_EQ(1u, boxes.size());
    EXPECT_NE(std::string::npos, boxes[0].find("...not found."));
}

TEST_F(ArchiveManager, ExtractTakesTheExtractorOfTheArchivesType)
{
    if (!HaveTool("arj"))
        GTEST_SKIP() << "arj missing";
    const fs::path src = dir + "/src";
    fs::create_directories(src / "sub");
    std::ofstream(src / "a.txt") << std::string(5000, 'a');
    std::ofstream(src / "sub" / "b.txt") << "bee";
    CaptureCommand("cd " + ShellQuote(src.string()) + " && arj a -r ../a.arj a.txt sub/b.txt >/dev/null");
    form->DisplayFile(dir + "/a.arj");
    ASSERT_EQ(2, form->ZipView1->Items.Count());
    const std::string out = dir + "/out";
    fs::create_directories(out);
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        if (auto* dialog = dynamic_cast<TfrmExtract*>(s.Form)) {
            dialog->Edit1->SetText(out);
            dialog->BitBtn1->Click();
            return std::nullopt;
        }
        return "OK";
    });
    form->PressKey('E', ssCtrl);
    EXPECT_EQ("Files Extracted: 2", form->StatusBar1->SimpleText);
    EXPECT_EQ(ReadWholeFile(src / "a.txt"), ReadWholeFile(fs::path(out) / "a.txt"));
    EXPECT_EQ(ReadWholeFile(src / "sub" / "b.txt"), ReadWholeFile(fs::path(out) / "sub" / "b.txt"));
}
