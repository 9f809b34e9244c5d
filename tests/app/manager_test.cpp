#include "app/lib/FormAddFiles.h"
#include "app/lib/FormExtract.h"
#include "app/lib/FormPassword.h"
#include "app/lib/FormSeedKeys.h"
#include "app/lib/FormSplitArchive.h"
#include "app/lib/FormTorvo.h"
#include "platform/vcl/Headless.h"
#include "readers/Pelix.h"
#include "readers/view/plxZipView.h"
#include "tests/support/HostTree.h"
#include "tests/support/ToolRun.h"
#include "writers/Lha.h"
#include "writers/plxGZip.h"
#include "writers/plxJar.h"
#include "writers/plxTar.h"
#include "writers/plxTarGZ.h"
#include "writers/plxZipSplitter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

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
    std::function<void(TfrmAddFiles&)> addFiles;        // after the tree is chosen, before OK
    std::function<void(TfrmSplitArchive&)> split;       // nothing: "No split"
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
        if (!c.tool)
            continue;
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
    Run(src, {dir + "/vol.zip", nullptr, [](TfrmSplitArchive& split) {
                  split.RadioGroup2->SetItemIndex(ptOtherSize);
                  split.RadioGroup1->SetItemIndex(stBytes);
                  split.Edit3->SetText("65,536.9");
                  EXPECT_NE(std::string::npos, split.Label10->Caption.find("volumes this set: 1"));
              }, nullptr});
    EXPECT_TRUE(fs::exists(dir + "/vol.z01"));
    EXPECT_EQ(65536, std::intmax_t(fs::file_size(dir + "/vol.z01")));
    int code = -1;
    CaptureCommand("cd " + ShellQuote(dir) + " && zip -q -s 0 vol.zip --out joined.zip && unzip -tq joined.zip", &code);
    EXPECT_EQ(0, code);

    // "&Password" asks for the phrase; "Super fast" does not make the method "store" for good.
    bool asked = false;
    Run(src, {dir + "/secret.zip",
              [&](TfrmAddFiles& add) {
                  add.ComboBox5->SetItemIndex(dtDeflateS);
                  add.btnPassword->Click();
                  EXPECT_EQ("PROTECTED", add.btnPassword->Caption);
              },
              nullptr, [&](const TShown& s) -> std::optional<std::string> {
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
        EXPECT_NE(std::string::npos, s.Text.find("old.zip: already exists...\r\rOVERWRITE?\r(will be moved to the Recycling Bin)"));
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
    form->PressKey('E', ssCtrl);
    EXPECT_NE(std::string::npos, member.find("a.txt"));
    EXPECT_EQ(ReadWholeFile(src / "a.txt"), ReadWholeFile(fs::path(out) / "a.txt"));
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
    form->GZip1->OnElapsedTime(nullptr, 2.0f);  // off: nothing shown
    form->ShowElapsedTime = true;
    form->GZip1->OnElapsedTime(nullptr, 2.0f);
    std::string password;
    TSeedKeyRecord h{}, d{};
    bool again = false;
    form->Pelix1->OnGetPassword(nullptr, "x", password, h, d, again);
    EXPECT_TRUE(again);
    EXPECT_EQ("heslo", password);
    ASSERT_EQ(6u, shown.size());
    EXPECT_EQ(0u, shown[0].Text.find("REPLACE:\r   C:\\old.txt\r   Size: 10   Date: 12.30.99 12:00 am")) << shown[0].Text;
    EXPECT_NE(std::string::npos, shown[0].Text.find("\r\rWITH:C:\\new.txt"));
    EXPECT_EQ("C:\\a.lzh is ReadOnly, SysFile, or Hidden file...\r\rWrite to this file?", shown[1].Text);
    EXPECT_EQ("Insert disk# : 3", shown[2].Text);
    EXPECT_EQ("Header error... (missing or corrupt)\r\rContinue?", shown[3].Text);
    EXPECT_EQ("Seconds: 2\rBytesPerSec: 1\u00a0500\u00a0000\r\rOnElapsedTime event", shown[4].Text);
    EXPECT_EQ("OnGetPassword event", shown[5].Caption);
    EXPECT_EQ("TTarGZ", TFormTorvo::ComponentClassName(form->TarGZ1.get()));
    EXPECT_EQ("TZipSplitter", TFormTorvo::ComponentClassName(form->ZipSplitter1.get()));
}
