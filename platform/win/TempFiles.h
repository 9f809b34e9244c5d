// Temporary files that name their owner.
//
// A run that is killed leaves its temporary files behind. Each name carries the owner's process
// number, the process's start time and a tag of the running system, so that a later run can tell
// the file of a dead owner from that of a living one. The first temporary file a process makes in
// a folder removes the dead owners' files (and folders) of the same prefix there; a file whose
// owner lives, or that another system made, is never touched.
//
// Every folder that gets such a file is named in a small per-user list, so that the next run of
// any kind finds a dead owner's leftovers wherever they were made. While a process lives, its
// temporary files are removed when SIGINT, SIGTERM or SIGHUP ends it (unless the host handles
// those signals itself).
#pragma once

#include "platform/win/Handles.h"

#include <string>
#include <string_view>
#include <vector>

namespace win {

// Creates a new empty file "<folder>\<prefix><owner>-<n>.tmp" exclusively and answers its Windows
// path; empty, with the last error set, on failure. Unlike GetTempFileNameA the path is not held
// to MAX_PATH: any path the host takes works.
std::string CreateOwnedTempFile(std::string_view folder, std::string_view prefix);
// The same, readable and writable by this user only: for data staged in a folder others can list,
// such as the temporary folder.
std::string CreatePrivateTempFile(std::string_view folder, std::string_view prefix);
// The same in a folder whose host path (folderHost) the caller has found (folder: its full Windows
// path), left open for reading and writing (`handle`, closed by CloseHandle): a file written at
// once is neither looked up nor opened a second time.
std::string CreateOwnedTempFileIn(std::string_view folder, const std::string& folderHost, std::string_view prefix,
                                  HANDLE& handle);

// A new folder "<folder>\<prefix><owner>-<n>.tmp" that only this user can enter (a work folder);
// its Windows path without a trailing backslash, empty with the last error set on failure.
std::string CreateOwnedTempFolderIn(std::string_view folder, std::string_view prefix);

// Whether `name` (a file name without folder) is a temporary name of `prefix` whose owner is known
// to be dead.
bool IsDeadOwnersTempName(std::string_view name, std::string_view prefix);
// The same for a temporary name of any prefix.
bool IsDeadOwnersTempName(std::string_view name);

// A new name "<prefix><owner>-<n>.tmp" (no file is made; the caller calls NoteTempFileMade and
// then creates it exclusively).
std::string OwnedTempName(std::string_view prefix);
// Lists the folder of a temporary file (or folder) about to be made under an owned name and has
// the file removed should a terminating signal end the process first. A file renamed or removed
// since, or never made, needs no word.
void NoteTempFileMade(const std::string& hostPath);

// What the first temporary file of `prefix` made in a folder does, without making one: removes the
// files of dead owners there, once per folder (host path) and prefix in a process.
void SweepDeadOwnersFiles(std::string_view folderHost, std::string_view prefix);

// A file being written under its final name, which a terminating signal should not leave half
// written: removed by the signal until ForgetPartialFile says it is complete (or gone).
void NotePartialFile(const std::string& hostPath);
void ForgetPartialFile(const std::string& hostPath);

// Replaces a set of files whose last one (the name the set is opened by) is put in place last, so
// that an earlier set under the same names is never left half replaced. Begin keeps each other
// target that exists under a second name (an owned temporary name beside it) and writes a journal
// of the set; should the process die before the last target is replaced, the next run of any
// kind puts the kept files back and removes the new ones (also where none was kept: a new set, or
// one beside a single old file). Without other targets nothing is written.
class SetReplacement {
public:
    SetReplacement() = default;
    SetReplacement(const SetReplacement&) = delete;
    SetReplacement& operator=(const SetReplacement&) = delete;
    ~SetReplacement() { Undo(); }

    // Windows paths; false (last error set) when a kept copy or the journal cannot be made.
    bool Begin(const std::vector<std::string>& others, const std::string& last);
    // The last target is in place: the kept copies and the journal go.
    void Finish();
    // A failure before the last target was replaced: the kept files go back, the new ones go.
    void Undo();

private:
    struct Kept {
        std::string target, copy;  // host paths; copy empty where the target did not exist
    };
    std::vector<Kept> kept_;
    std::string journal_;
};

// Removes the dead owners' temporary files in every folder listed so far; folders without any
// temporary file leave the list. Runs once per process by itself; a program calls it at its start.
void RemoveDeadOwnersLeftovers();
// Where the list of folders is kept (a host path).
std::string TempFolderListPath();

}  // namespace win
