// A folder's files and subfolders by relative path, for comparing extracted trees whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

// Files map to their bytes; folders appear with a trailing "/" and no bytes.
std::map<std::string, std::string> HostTree(const std::filesystem::path& Folder);
// The tree without its folder entries.
std::map<std::string, std::string> FilesOnly(std::map<std::string, std::string> Tree);
// Every folder's modification time in whole seconds, by relative path.
std::map<std::string, std::int64_t> FolderTimes(const std::filesystem::path& Folder);
