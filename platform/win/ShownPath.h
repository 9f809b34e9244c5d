// Paths as the person at the window knows them: host paths in the host's own form, whichever form
// the program holds them in, and what the person typed taken back into the program's form.
#pragma once

#include <string>

// The host path of a program path on the drive that spells the host's root ("Z:\home\a.zip" ->
// "/home/a.zip"); any other text, a host path or a path on a drive of the person's settings, as
// it is.
std::string ShownPath(const std::string& path);

// A typed or shown host path in the program's form; any other text as it is.
std::string TypedPath(const std::string& text);
