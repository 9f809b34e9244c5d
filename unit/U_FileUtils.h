// File routines of the application, on Windows paths through the platform's file API.
#pragma once

#include "platform/win/WinTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A sink for the texts that the routines show to the user (a message box in the program).
using TFileMessage = std::function<void(const std::string& text)>;

bool ShellExec(const std::string& file, const std::string& parameters, const std::string& folder, int showCommand);
std::string StripBadFileNameChars(std::string_view name);
// Clears the attributes and deletes; true when the file is gone.
bool DeleteFileForced(const std::string& fileName);
// Copies the source to a temporary file beside the target and renames it over the target, so the
// old target survives any failure; true when the target now holds the source's bytes.
bool ReplaceFileViaTemp(const std::string& sourceFolder, const std::string& targetFolder, const std::string& file);
// Checks the target drive's room first. Failures are told through `message` and give false.
bool CopyFileChecked(const std::string& sourceFolder, const std::string& targetFolder, const std::string& sourceName,
                     const std::string& targetName, const TFileMessage& message = {});
std::int64_t FileSizeByName(const std::string& fileName);
// Adds the names matching the mask; hidden, system and folder entries only when `attributes` asks
// for them. True when the search ended normally (also when nothing matched).
bool ListFiles(const std::string& mask, DWORD attributes, std::vector<std::string>& list);
// The write test of a folder: true when a file can be created there. An existing file of that
// name is left untouched; the test then uses a fresh name beside it.
bool EraseFile(const std::string& fileName);
bool ListFilesByExt(const std::string& folder, const std::string& extension, std::vector<std::string>& list);

// The whole file's bytes; false when it cannot be read.
bool ReadWholeFile(const std::string& fileName, std::string& bytes);
