// Temporary files that name their owner.
//
// A run that is killed leaves its temporary files behind. Each name carries the owner's process
// number, the process's start time and a tag of the running system, so that a later run can tell
// the file of a dead owner from that of a living one. The first temporary file a process makes in
// a folder removes the dead owners' files (and folders) of the same prefix there; a file whose
// owner lives, or that another system made, is never touched.
#pragma once

#include "platform/win/Handles.h"

#include <string>
#include <string_view>

namespace win {

// Creates a new empty file "<folder>\<prefix><owner>-<n>.tmp" exclusively and answers its Windows
// path; empty, with the last error set, on failure. Unlike GetTempFileNameA the path is not held
// to MAX_PATH: any path the host takes works.
std::string CreateOwnedTempFile(std::string_view folder, std::string_view prefix);
// The same in a folder whose host path (folderHost) the caller has found (folder: its full Windows
// path), left open for reading and writing (`handle`, closed by CloseHandle): a file written at
// once is neither looked up nor opened a second time.
std::string CreateOwnedTempFileIn(std::string_view folder, const std::string& folderHost, std::string_view prefix,
                                  HANDLE& handle);

// What the first temporary file of `prefix` made in a folder does, without making one: removes the
// files of dead owners there, once per folder (host path) and prefix in a process.
void SweepDeadOwnersFiles(const std::string& folderHost, std::string_view prefix);

// Whether `name` (a file name without folder) is a temporary name of `prefix` whose owner is known
// to be dead.
bool IsDeadOwnersTempName(std::string_view name, std::string_view prefix);

}  // namespace win
