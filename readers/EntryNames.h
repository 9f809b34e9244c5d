// Checks on member names read from archives, before anything is written under a target folder.
#pragma once

#include <string>
#include <string_view>

// True when Name, joined to a target folder, could end up outside it: an absolute name ("/x",
// "\x"), a drive ("C:x", "C:\x"), a UNC or device name ("\\server\share", "//?/x"), or a ".."
// component (also "..." and dots followed by blanks, which Windows reads as a parent). Both "/"
// and "\" count as separators.
bool NameLeavesTarget(std::string_view Name);

// The last component of a stored name, with both separators and a drive taken off; empty when
// nothing usable is left ("", ".", "..", "dir/", only dots and blanks).
std::string FileNamePart(std::string_view Name);

// Name without its "." components and doubled "/" ("./a//./b" is "a/b"); a leading "/" and a
// final "/" stay, so an absolute name is still one. Empty for the folder itself ("." or "./").
std::string DropCurrentDirParts(std::string_view Name);
