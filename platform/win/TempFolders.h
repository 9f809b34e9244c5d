// Private working folders of a process: made unique and closed to other users, named after the
// owning process so that a later start can remove those whose owner has ended.
#pragma once

#include <string>

namespace win {

// A new folder in Parent (a Windows path) that only this user can enter, named Prefix, this
// process's id, "-" and six random characters; its Windows path with a trailing "\", or empty when
// it cannot be made.
std::string CreateOwnedTempFolder(const std::string& Parent, const std::string& Prefix);

// Removes, with everything in them, this user's folders of CreateOwnedTempFolder in Parent whose
// owning process has ended. Links are removed, never followed.
void RemoveOrphanedTempFolders(const std::string& Parent, const std::string& Prefix);

// Removes Folder (a Windows path) with everything in it, following no link; false when something
// is left.
bool RemoveFolderTree(const std::string& Folder);

}  // namespace win
