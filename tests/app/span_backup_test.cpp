// The diskette road: a backup larger than a diskette spans several disks of a removable drive of
// the drive table, the user swapping disks at each prompt, and the restore reads them back.
#include "app/lib/FormTorvo.h"
#include "app/lib/Settings.h"
#include "platform/vcl/Headless.h"
#include "platform/win/Drives.h"
#include "platform/win/Paths.h"
#include "tests/support/FloppyDrive.h"
#include "tests/support/HostTree.h"
#include "tests/support/ToolRun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

class DisketteRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        SetSettingsRoot(HKEY_CURRENT_USER);
        SetProgramSubKey();
        floppy = std::make_unique<TFloppyDrive>('A', dir / "floppy", 1'457'664);
        ui = HeadlessWidgetSet();
        ui->ClearTranscript();
        ui->SetAnswers({});
        form = new TFormTorvo(nullptr);
        form->EnsureCreated();
    }
    void TearDown() override
    {
        ui->SetResponder(nullptr);
        delete form;
        Application->ResetTerminated();
        win::LoadDriveTable();
    }

    TScratchDir scratch;
    const fs::path dir = scratch.Path();
    std::unique_ptr<TFloppyDrive> floppy;
    THeadlessWidgetSet* ui = nullptr;
    TFormTorvo* form = nullptr;
};

TEST_F(DisketteRoad, ABackupSpansDisketteseAndTheRestoreAsksForTheLastDiskFirst)
{
    const fs::path data = dir / "data";
    fs::create_directories(data);
    for (int i = 0; i < 3; ++i) {
        const std::string bytes = RandomBytes(1'200'000, unsigned(i + 1));
        std::ofstream(data / ("kniha" + std::to_string(i) + ".dat"), std::ios::binary) << bytes;
    }
    std::ofstream(data / "firma.txt") << "Firma s.r.o.\n";

    // Backup: at each prompt the disk in the drive is put aside and a blank one inserted.
    std::vector<TFloppyDrive::TDisk> disks;
    std::vector<std::string> prompts;
    ui->SetResponder([&](const TShown& shown) -> std::optional<std::string> {
        if (shown.Caption == DiskPromptCaption) {
            prompts.push_back(shown.Text);
            const TFloppyDrive::TDisk disk = floppy->Eject();
            if (!disk.Files.empty())
                disks.push_back(disk);
            floppy->Insert("");
        }
        return "OK";
    });
    form->Target().TargetFolder = "A:\\ZALOHY\\";
    form->Target().Letter = "A";
    form->Target().DriveType = DRIVE_REMOVABLE;
    form->State().ArchiveBaseName = "zaloha";
    form->lstFileSpec->Items.Clear();
    form->lstFileSpec->Items.Add(win::ToWindowsPath(data.string()) + "\\*.*");
    fs::create_directories(dir / "floppy" / "ZALOHY");
    EXPECT_TRUE(form->BackupToDisk());
    disks.push_back(floppy->Eject());
    ASSERT_GE(disks.size(), 3u) << (prompts.empty() ? "" : prompts.back());
    EXPECT_EQ(prompts.size(), disks.size());
    for (std::size_t i = 0; i < disks.size(); ++i)
        EXPECT_EQ(disks[i].Label, PkBackLabel(int(i) + 1));

    // The disks' files, renamed to a split set, pass 7-Zip.
    ASSERT_EQ(disks.back().Files.size(), 1u);
    if (HaveTool("7zz")) {
        const fs::path set = dir / "set" / "set.zip";
        fs::create_directories(set.parent_path());
        for (std::size_t i = 0; i < disks.size(); ++i) {
            char ext[16];
            std::snprintf(ext, sizeof ext, ".z%02d", int(i) + 1);
            std::ofstream(i + 1 == disks.size() ? set : fs::path(set).replace_extension(ext), std::ios::binary)
                << disks[i].Files.begin()->second;
        }
        int rc = -1;
        const std::string out = CaptureCommand("7zz t " + ShellQuote(set.string()) + " 2>&1", &rc);
        EXPECT_EQ(rc, 0) << out;
    }

    // Restore: the first disk is in the drive; the reader asks for the last one first, then the
    // first and each next one, and the data folder gets every file back.
    const std::string archiveName = fs::path(disks.back().Files.begin()->first).filename().string();
    floppy->Insert(disks.front().Label, disks.front().Files);
    prompts.clear();
    std::vector<std::string> boxes;
    ui->SetResponder([&](const TShown& shown) -> std::optional<std::string> {
        boxes.push_back(shown.Caption);
        if (shown.Caption != DiskPromptCaption)
            return "OK";
        prompts.push_back(shown.Text);
        std::size_t wanted = 0;
        if (shown.Text.find("poslední") != std::string::npos)
            wanted = disks.size();
        else if (shown.Text.find("první") != std::string::npos)
            wanted = 1;
        else
            wanted =
                std::size_t(std::stoi(shown.Text.substr(shown.Text.find("číslo ") + std::string("číslo ").size())));
        floppy->Insert(disks[wanted - 1].Label, disks[wanted - 1].Files);
        return "OK";
    });
    const fs::path restored = dir / "restored";
    fs::create_directories(restored);
    form->State().TargetFolder = "A:\\ZALOHY\\";
    form->State().DataFolder = win::ToWindowsPath(restored.string()) + "\\";
    form->State().BackupSide = false;
    const std::size_t reports = form->ErrorMessages.size();
    EXPECT_TRUE(form->RestoreArchive(archiveName));
    EXPECT_EQ(form->ErrorMessages.size(), reports) << form->ErrorMessages.back();
    ASSERT_FALSE(prompts.empty());
    EXPECT_NE(prompts.front().find("poslední"), std::string::npos) << prompts.front();
    EXPECT_EQ(HostTree(restored), HostTree(data));
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "Data rozbalena"), boxes.end());
}

}  // namespace
