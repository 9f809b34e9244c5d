// The archive manager's window and dialogs on the Qt widget set: what each shows when it opens,
// the Qt window showing just that, and a picture of it for a person to look at.
#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormAddFiles.h"
#include "app/lib/FormComm.h"
#include "app/lib/FormComment.h"
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
#include "app/qt/ShownOnScreen.h"
#include "platform/qt/QtWidgetSet.h"
#include "readers/view/plxZipView.h"
#include "writers/plxZip.h"
#include "support/ToolRun.h"
#include "writers/plxZipSplitter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

// The dialog shown, as the manager shows it.
void Open(TForm& form)
{
    form.EnsureCreated();
    form.Show();
    Application->ProcessMessages();
}

// Checked and pictured, then put away as the manager puts a dialog away.
void CheckAndShoot(TForm& form, const std::string& file)
{
    qtwindows::CheckAndShoot(form, file);
    form.Hide();
}

std::vector<std::string> ItemsOf(const TStringList& items)
{
    std::vector<std::string> texts;
    for (int i = 0; i < items.Count(); ++i)
        texts.push_back(items[i]);
    return texts;
}

}  // namespace

TEST(ManagerScreens, ListedArchiveAndDialogs)
{
    TScratchDir scratch;
    qtwindows::UseQt(scratch.Path());
    setenv("XDG_CONFIG_HOME", scratch.Path().c_str(), 1);
    const std::string dir = scratch.Path().string();
    std::ofstream(dir + "/a.txt") << std::string(4000, 'a');
    std::ofstream(dir + "/b;c.txt") << "b";
    ASSERT_EQ(scratch.Run("zip -q m.zip a.txt 'b;c.txt'"), 0);

    auto* main = new TFormTorvo(nullptr);
    main->EnsureCreated();
    main->Show();
    main->ZipView1->SetVisible(true);
    main->DisplayFile(dir + "/m.zip");
    Application->ProcessMessages();
    ASSERT_EQ(2, main->ZipView1->Items.Count());
    EXPECT_EQ("a.txt", main->ZipView1->Items.Fields(0)[0]);
    EXPECT_EQ("b;c.txt", main->ZipView1->Items.Fields(1)[0]);  // the delimiter inside a name stays whole
    CheckAndShoot(*main, "torvo_manager_listed.png");
    delete main;

    TfrmExtract extract(nullptr);
    Open(extract);
    EXPECT_EQ("Extract", extract.Caption);
    EXPECT_EQ((std::vector<std::string>{"FileDate", "SystemDate", "MaxFileDate"}), ItemsOf(extract.ComboBox1->Items));
    EXPECT_EQ((std::vector<std::string>{"&Selected Files", "&All Files"}), ItemsOf(extract.RadioGroup1->Items));
    EXPECT_EQ(0, extract.RadioGroup1->ItemIndex());
    EXPECT_EQ("&Restore original folders", extract.CheckBox1->Caption);
    EXPECT_EQ("&Confirm file overwrites", extract.CheckBox2->Caption);
    EXPECT_EQ((std::vector<bool>{true, true, false, false, true}),
              (std::vector<bool>{extract.CheckBox1->Checked(), extract.CheckBox2->Checked(),
                                 extract.CheckBox3->Checked(), extract.CheckBox4->Checked(),
                                 extract.CheckBox5->Checked()}));
    EXPECT_EQ("&Extract", extract.BitBtn1->Caption);
    EXPECT_TRUE(extract.BitBtn1->Default);
    EXPECT_EQ("Create &New Dir", extract.BitBtn3->Caption);
    CheckAndShoot(extract, "torvo_extract.png");

    TZipSplitter writer;
    writer.Splitter().ArchiveSize = 3'000'000;
    TfrmAddFiles add(nullptr);
    add.ShowSettingsOf(writer);
    add.AddFileSpec(dir + "/a.txt");
    Open(add);
    EXPECT_EQ(10, add.ComboBox6->Items.Count());
    EXPECT_EQ("atZip (TZipSplitter)", add.ComboBox6->Items[9]);
    ASSERT_EQ(1, add.lstFileSpec->Items.Count());
    EXPECT_TRUE(add.lstFileSpec->Showing());
    EXPECT_FALSE(add.lstExcludeSpec->Showing());
    EXPECT_TRUE(add.cbIncludeHiddenDirs->Checked());
    EXPECT_FALSE(add.cbRecurseDirs->Checked());
    // Archive, Read Only, Hidden, SysFile, Directory, ZeroAttr, Encrypted, Reparse Points: the
    // writer's attributes 451 and excluded attributes 512.
    std::vector<bool> attributes, excluded;
    for (int i = 0; i < 8; ++i) {
        attributes.push_back(add.Attribute[i]->Checked());
        excluded.push_back(add.AttributeEx[i]->Checked());
    }
    EXPECT_EQ((std::vector<bool>{true, true, false, false, false, true, true, false}), attributes);
    EXPECT_EQ((std::vector<bool>{false, false, false, false, false, false, false, true}), excluded);
    EXPECT_EQ("&Password", add.btnPassword->Caption);
    EXPECT_EQ("&OK", add.btnOK->Caption);
    EXPECT_EQ("&Cancel", add.btnClose->Caption);
    CheckAndShoot(add, "torvo_addfiles.png");

    TfrmPassword1 password1(nullptr);
    Open(password1);
    EXPECT_EQ("Encrypt added files...", password1.Caption);
    EXPECT_EQ("Zip 2.0 compatible", password1.RadioGroup1->Items[password1.RadioGroup1->ItemIndex()]);
    EXPECT_TRUE(password1.Button3->EnabledWithParents());  // seed keys belong to the ZIP cipher
    EXPECT_EQ("&Ok", password1.Button1->Caption);
    EXPECT_TRUE(password1.Button1->Default);
    CheckAndShoot(password1, "torvo_password1.png");

    TfrmPassword2 password2(nullptr);
    password2.SetFileName("sub\\b.txt");
    Open(password2);
    EXPECT_EQ("Enter password...", password2.Caption);
    EXPECT_EQ("sub\\b.txt", password2.Edit3->Text());
    EXPECT_TRUE(password2.Edit3->ReadOnly);
    EXPECT_EQ("Change SeedKeys...", password2.Button5->Caption);
    CheckAndShoot(password2, "torvo_password2.png");

    TfrmSeedKeys seedKeys(nullptr);
    Open(seedKeys);
    EXPECT_EQ("Seed-key editor...", seedKeys.Caption);
    std::vector<std::string> keys;
    for (int i = 0; i < 3; ++i)
        keys.push_back(seedKeys.edtHeaderKey[i]->Text());
    for (int i = 0; i < 3; ++i)
        keys.push_back(seedKeys.edtDataKey[i]->Text());
    EXPECT_EQ((std::vector<std::string>{"1831506420", "1014893400", "261412514", "305419896", "591751049",
                                        "878082192"}),
              keys);
    CheckAndShoot(seedKeys, "torvo_seedkeys.png");

    TfrmSplitArchive split(nullptr);
    split.Splitter = &writer;
    Open(split);
    EXPECT_EQ("TArchiveSplitter demo... (OnSplitBegin event)", split.Caption);
    EXPECT_EQ((std::vector<std::string>{"Bytes", "KB", "MB"}), ItemsOf(split.RadioGroup1->Items));
    EXPECT_EQ("No split", split.RadioGroup2->Items[split.RadioGroup2->Items.Count() - 1]);
    EXPECT_EQ(int(writer.Splitter().PartType), split.RadioGroup2->ItemIndex());
    // The size field is for "Other Size" only.
    EXPECT_EQ(split.RadioGroup2->ItemIndex() == int(ptOtherSize), split.Edit3->Enabled());
    EXPECT_EQ("65536", split.Edit3->Text());
    EXPECT_TRUE(split.Button1->Default);
    CheckAndShoot(split, "torvo_split.png");

    TfrmComm comment(nullptr);
    comment.leComment->SetText("Poznámka k archivu");
    Open(comment);
    EXPECT_EQ("Poznámka", comment.Caption);
    EXPECT_EQ("Zadejte poznámku k pakovanému souboru:", comment.leComment->EditLabel()->Caption);
    EXPECT_EQ(50, comment.leComment->MaxLength);
    EXPECT_EQ("OK", comment.btnOK->ShownText());
    EXPECT_EQ("Zpět", comment.btnBack->ShownText());
    CheckAndShoot(comment, "torvo_comment.png");

    TfrmTestArchive test(nullptr);
    test.PrepareFor(dir + "/m.zip", {"a.txt", "b;c.txt"});
    Open(test);
    EXPECT_EQ("(TZipCheck demo) validity test...", test.Caption);
    EXPECT_EQ("a.txt; b;c.txt", test.Edit3->Text());  // two selected: both, joined
    EXPECT_TRUE(test.CheckBox1->Checked());
    test.RunTest();
    Application->ProcessMessages();
    EXPECT_EQ((std::vector<std::string>{"a.txt ...Ok", "b;c.txt ...Ok"}), test.ReportRows());
    EXPECT_EQ("File(s) tested:  2", test.StatusBar1->SimpleText);
    CheckAndShoot(test, "torvo_testarchive.png");

    TfrmUUEncode encode(nullptr);
    Open(encode);
    EXPECT_EQ("UUEncode / XXEncode", encode.Caption);
    EXPECT_EQ((std::vector<std::string>{"UUencode", "XXencode", "Base64"}), ItemsOf(encode.EncodeMethod1->Items));
    EXPECT_EQ(0, encode.EncodeMethod1->ItemIndex());
    EXPECT_EQ("0", encode.Edit3->Text());
    EXPECT_EQ(!encode.Edit1->Text().empty(), encode.btnOK->Enabled());  // nothing to encode, no OK
    CheckAndShoot(encode, "torvo_uuencode.png");

    TfrmRunFile run(nullptr);
    run.ListBox1->Items.Add("docs\\read me.txt");
    Open(run);
    EXPECT_EQ("Execute file (TZipRun demo)", run.Caption);
    EXPECT_EQ(1, run.RadioGroup1->ItemIndex());
    EXPECT_EQ(0, run.RadioGroup2->ItemIndex());
    EXPECT_EQ(4, run.RadioGroup2->Items.Count());
    EXPECT_EQ((std::vector<std::string>{"Wordpad.exe", "Notepad.exe"}), ItemsOf(run.ComboBox1->Items));
    // The program to open with is chosen only for the open-with methods.
    EXPECT_FALSE(run.ComboBox1->Enabled());
    EXPECT_FALSE(run.Edit1->Enabled());
    EXPECT_FALSE(run.btnBrowse->Enabled());
    EXPECT_TRUE(run.btnOK->Default);
    CheckAndShoot(run, "torvo_runfile.png");

    TfrmEditComments edit(nullptr);
    TZip zip;
    edit.PrepareFor(zip, dir + "/m.zip", atZip);
    Open(edit);
    EXPECT_EQ("Edit Comments...", edit.Caption);
    EXPECT_EQ(1, edit.ScrollBar1->Min);
    EXPECT_EQ(2, edit.ScrollBar1->Max);
    EXPECT_EQ("1 of 2", edit.lblCount->Caption);
    EXPECT_EQ("a.txt", edit.lblFileName->Caption);
    EXPECT_EQ("&Edit main...", edit.btnEditMain->Caption);
    EXPECT_TRUE(edit.btnEditMain->Enabled());
    CheckAndShoot(edit, "torvo_editcomments.png");

    TfrmComment archiveComment(nullptr);
    archiveComment.Memo1->SetText("The archive's comment\r\non two lines");
    Open(archiveComment);
    EXPECT_EQ("Archive Comment...", archiveComment.Caption);
    EXPECT_EQ("&Ok", archiveComment.btnOK->Caption);
    EXPECT_TRUE(archiveComment.btnOK->Default);
    EXPECT_TRUE(archiveComment.btnOK->Cancel);
    CheckAndShoot(archiveComment, "torvo_archivecomment.png");

    TfrmInput input(nullptr);
    input.Caption = "Rename current archive...";
    input.Label1->SetCaption("New name:");
    input.Edit1->SetText("m.zip");
    Open(input);
    EXPECT_EQ("&Ok", input.btnOK->Caption);
    EXPECT_EQ("&Cancel", input.btnCancel->Caption);
    CheckAndShoot(input, "torvo_input.png");

    TfrmErrorMsgs errors(nullptr);
    const std::string report =
        "OnError event\r\rClassName: TUnZip\rECode:     25151  (see err_msgs.rc)\rECode Str: File fails CRC check";
    errors.AddError(report);
    Open(errors);
    EXPECT_EQ("Error messages", errors.Caption);
    ASSERT_EQ(1, errors.ListView1->ItemCount());
    const std::string row = errors.ListView1->Items(0)->Caption;
    EXPECT_NE(std::string::npos, row.find("ECode:     25151  (see err_msgs.rc)")) << row;
    EXPECT_NE(std::string::npos, row.find("ECode Str: File fails CRC check")) << row;
    CheckAndShoot(errors, "torvo_errormsgs.png");
}
