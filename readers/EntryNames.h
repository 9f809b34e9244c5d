// Member names read from archives, reduced to what a format takes of them. Whether a name may be
// written at all is the extract driver's decision (core/OutputNames.h, also NameLeavesTarget).
#pragma once

#include "core/OutputNames.h"

#include <string>
#include <string_view>

// The last component of a stored name, with both separators and a drive taken off; empty when
// nothing usable is left ("", ".", "..", "dir/", only dots and blanks).
std::string FileNamePart(std::string_view Name);

// Name without its "." components and doubled "/" ("./a//./b" is "a/b"); a leading "/" and a
// final "/" stay, so an absolute name is still one. Empty for the folder itself ("." or "./").
std::string DropCurrentDirParts(std::string_view Name);
