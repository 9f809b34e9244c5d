// A removable drive of the drive table that tests "swap disks" in: one folder with a capacity and
// a label, whose content and label are replaced when a prompt asks for another disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

class TFloppyDrive {
public:
    // Makes `Letter` a removable drive over Folder in the drive table file TableFile (empty: this
    // process's own), keeping the file's other lines; Capacity in bytes.
    TFloppyDrive(char Letter, std::filesystem::path Folder, std::uint64_t Capacity,
                 std::filesystem::path TableFile = {});

    // Empties the folder, gives it Label, and, when given, puts Files (name -> bytes) on it.
    void Insert(const std::string& Label, const std::map<std::string, std::string>& Files = {});
    // Keeps what is on the disk now: its label and files (by path below the folder).
    struct TDisk {
        std::string Label;
        std::map<std::string, std::string> Files;
    };
    TDisk Eject() const;
    std::string Label() const;
    const std::filesystem::path& Folder() const { return folder_; }
    char Letter() const { return letter_; }

private:
    void SetLabel(const std::string& Label);
    std::string label_;

    char letter_;
    std::filesystem::path folder_;
    std::uint64_t capacity_;
    std::filesystem::path table_;
};

// The label "PKBACK# nnn" of a spanned set's disk Number.
std::string PkBackLabel(int Number);
