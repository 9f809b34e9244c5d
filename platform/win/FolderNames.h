// Names of host folders for lookups without case.
//
// Reading a whole folder for every name that does not exist as given made each new file cost as
// much as the folder already held. A folder is read once; its names then answer from memory while
// the folder is the same one with the same change time, or was changed only by this process's own
// calls, which report what they add and remove (a stamp up to the clock at the report is taken as
// ours, with no call to the host). A change by someone else that falls between the last lookup in
// the folder and the report of our next change there can go unseen until the folder changes
// again: the worst outcome is a second name that differs from an existing one only in case.
#pragma once

#include <string>
#include <sys/stat.h>

namespace win {

// The name in host folder `dir` (whose lstat is `dirStat`) that equals `name` but for case; empty
// when there is none.
std::string FindNameIgnoringCase(const std::string& dir, const struct stat& dirStat, const std::string& name);

// This process made or removed the host path; a remembered listing of its folder follows.
void NoteNameAdded(const std::string& hostPath);
void NoteNameRemoved(const std::string& hostPath);
// This process made the host path under a name nobody looks up without case (its own temporary
// files): the folder's new stamp is ours, the name stays out of the listing.
void NoteFolderChanged(const std::string& hostPath);

// How many folder reads the lookups have made (tests).
unsigned long FolderReadCount();

}  // namespace win
