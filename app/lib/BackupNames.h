// Names and folders of backup archives: the target folder as written, the sequence number of a
// backup set, the dated names of FTP and payslip archives, and the write test of a folder.
#pragma once

#include "platform/win/SysDates.h"

#include <functional>
#include <string>
#include <vector>

// A folder marked with a leading "*" is a network path whose "\\" prefix stays; any other folder
// has its doubled backslashes reduced to single ones.
std::string NormaliseTargetFolder(std::string folder);

// The number that follows the archives of a set: walking the names (sorted by name) from the last,
// the first that holds a number above 0 between "(" and ")" gives that number + 1; else 1.
int SequenceAfter(std::vector<std::string> names);
// Name order of a target's archives in which "(1000)" follows "(999)": runs of digits compare by
// their value, everything else as text without case.
bool ArchiveNameBefore(const std::string& a, const std::string& b);

// At least three digits: "001", "042", "1000".
std::string SequenceText(int number);

// base + " (" + sequence + ")" for the first sequence from SequenceAfter whose archive does not
// exist yet, so that no backup of the set is ever overwritten.
std::string NextSequenceName(const std::string& folder, const std::string& baseName, const std::string& extension);

// base + "_" + "yyyy-mm-dd" + "(" + "hh-mm" + ")".
std::string DatedArchiveName(const std::string& baseName, win::TDateTime when);

// True when a new file can be created in the folder: a probe of a fresh name is created
// exclusively and deleted again, so no file of the user is ever touched.
bool FolderIsWriteable(const std::string& folder);

// A name beside `archive` that does not exist.
std::string FreshNameBeside(const std::string& archive);
// A temporary name beside an archive for its new content (no file made), owned by this process:
// its leftovers are removed by the next run.
std::string OwnedOutputBeside(const std::string& archive);

// The files of a backup set split by where they are stored from: the entries inside the data
// folder keep their path below it (anchored there by a name that matches nothing, so the
// writer's list base is the data folder), every other entry is stored by its bare name.
struct TBackupSpecs {
    std::vector<std::string> InsideDataFolder;
    std::vector<std::string> Elsewhere;
};
TBackupSpecs SplitBackupSpecs(const std::vector<std::string>& files, const std::string& dataFolder);
