// Pictures of the archive manager's window and dialogs on the Qt widget set.
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
#include "platform/qt/QtWidgetSet.h"
#include "readers/view/plxZipView.h"
#include "writers/plxZip.h"
#include "writers/plxZipSplitter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

void Shoot(TForm& form, const fs::path& file)
{
    form.EnsureCreated();
    form.Show();
    Application->ProcessMessages();
    ASSERT_TRUE(form.SaveScreenshot(file.string()));
    EXPECT_GT(fs::file_size(file), 0u);
    form.Hide();
}

}  // namespace

TEST(ManagerScreens, ListedArchiveAndDialogs)
{
    char pattern[] = "/tmp/torvo-mscreens-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    setenv("XDG_CONFIG_HOME", pattern, 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    SetWidgetSet(torvoqt::CreateQtWidgetSet());
    const fs::path folder = fs::path(TORVO_BUILD_DIR) / "screenshots";
    fs::create_directories(folder);
    const std::string dir = pattern;
    std::ofstream(dir + "/a.txt") << std::string(4000, 'a');
    std::ofstream(dir + "/b;c.txt") << "b";
    std::system(("cd " + dir + " && zip -q m.zip a.txt 'b;c.txt' >/dev/null 2>&1").c_str());

    auto* main = new TFormTorvo(nullptr);
    main->EnsureCreated();
    main->Show();
    main->ZipView1->SetVisible(true);
    main->DisplayFile(dir + "/m.zip");
    Application->ProcessMessages();
    EXPECT_EQ(2, main->ZipView1->Items.Count());
    ASSERT_TRUE(main->SaveScreenshot((folder / "torvo_manager_listed.png").string()));
    main->Hide();
    delete main;

    TfrmExtract extract(nullptr);
    Shoot(extract, folder / "torvo_extract.png");
    TZipSplitter writer;
    writer.Splitter().ArchiveSize = 3'000'000;
    TfrmAddFiles add(nullptr);
    add.ShowSettingsOf(writer);
    add.AddFileSpec(dir + "/a.txt");
    Shoot(add, folder / "torvo_addfiles.png");
    TfrmPassword1 password1(nullptr);
    Shoot(password1, folder / "torvo_password1.png");
    TfrmPassword2 password2(nullptr);
    password2.SetFileName("sub\\b.txt");
    Shoot(password2, folder / "torvo_password2.png");
    TfrmSeedKeys seedKeys(nullptr);
    Shoot(seedKeys, folder / "torvo_seedkeys.png");
    TfrmSplitArchive split(nullptr);
    split.Splitter = &writer;
    Shoot(split, folder / "torvo_split.png");
    TfrmComm comment(nullptr);
    comment.leComment->SetText("Poznámka k archivu");
    Shoot(comment, folder / "torvo_comment.png");

    TfrmTestArchive test(nullptr);
    test.PrepareFor(dir + "/m.zip", {"a.txt", "b;c.txt"});
    test.RunTest();
    EXPECT_EQ(2u, test.ReportRows().size());
    Shoot(test, folder / "torvo_testarchive.png");
    TfrmUUEncode encode(nullptr);
    Shoot(encode, folder / "torvo_uuencode.png");
    TfrmRunFile run(nullptr);
    run.ListBox1->Items.Add("docs\\read me.txt");
    Shoot(run, folder / "torvo_runfile.png");
    TfrmEditComments edit(nullptr);
    TZip zip;
    edit.PrepareFor(zip, dir + "/m.zip", atZip);
    Shoot(edit, folder / "torvo_editcomments.png");
    TfrmComment archiveComment(nullptr);
    archiveComment.Memo1->SetText("The archive's comment\r\non two lines");
    Shoot(archiveComment, folder / "torvo_archivecomment.png");
    TfrmInput input(nullptr);
    input.Caption = "Rename current archive...";
    input.Label1->SetCaption("New name:");
    input.Edit1->SetText("m.zip");
    Shoot(input, folder / "torvo_input.png");
    TfrmErrorMsgs errors(nullptr);
    errors.AddError(
        "OnError event\r\rClassName: TUnZip\rECode:     25151  (see err_msgs.rc)\rECode Str: File fails CRC check");
    Shoot(errors, folder / "torvo_errormsgs.png");
    fs::remove_all(pattern);
}
