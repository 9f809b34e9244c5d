#include "tests/support/FloppyDrive.h"

#include "platform/win/Drives.h"
#include "support/ToolRun.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string PkBackLabel(int Number)
{
    char text[32];
    std::snprintf(text, sizeof text, "PKBACK# %03d", Number);
    return text;
}

TFloppyDrive::TFloppyDrive(char Letter, fs::path Folder, std::uint64_t Capacity, fs::path TableFile)
    : letter_(Letter),
      folder_(std::move(Folder)),
      capacity_(Capacity),
      table_(TableFile.empty() ? fs::path(win::DriveTableFile()) : std::move(TableFile))
{
    fs::create_directories(folder_);
    SetLabel("");
}

void TFloppyDrive::SetLabel(const std::string& Label)
{
    label_ = Label;
    std::vector<win::DriveEntry> entries = win::ParseDriveTable(ReadText(table_));
    std::erase_if(entries, [this](const win::DriveEntry& e) { return e.letter == letter_; });
    win::DriveEntry e;
    e.letter = letter_;
    e.type = DRIVE_REMOVABLE;
    e.root = folder_.string();
    e.capacity = capacity_;
    e.label = Label;
    e.configured = true;
    entries.push_back(e);
    fs::create_directories(table_.parent_path());
    std::ofstream(table_, std::ios::binary | std::ios::trunc) << win::FormatDriveTable(entries);
    win::LoadDriveTable();
}

void TFloppyDrive::Insert(const std::string& Label, const std::map<std::string, std::string>& Files)
{
    for (const auto& e : fs::directory_iterator(folder_))
        fs::remove_all(e.path());
    for (const auto& [name, bytes] : Files) {
        fs::create_directories((folder_ / name).parent_path());
        std::ofstream(folder_ / name, std::ios::binary) << bytes;
    }
    SetLabel(Label);
}

TFloppyDrive::TDisk TFloppyDrive::Eject() const
{
    TDisk disk;
    disk.Label = Label();
    for (const auto& e : fs::recursive_directory_iterator(folder_))
        if (e.is_regular_file())
            disk.Files[fs::relative(e.path(), folder_).string()] = ReadText(e.path());
    return disk;
}

std::string TFloppyDrive::Label() const
{
    // The program may have relabelled the disk in the table file since.
    for (const auto& e : win::ParseDriveTable(ReadText(table_)))
        if (e.letter == letter_)
            return e.label;
    return label_;
}
