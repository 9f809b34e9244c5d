// The program's settings in the registry, under the maker's key "Software\Vimo" + program sub-key.
#pragma once

#include "platform/win/Registry.h"

#include <functional>
#include <string>

inline constexpr const char* MakerRootKey = "Software\\Vimo";
inline constexpr const char* AlternativeRootKey =
    "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\Wow6432Node\\Vimo";
inline constexpr const char* ProgramSubKey = "\\Torvo";

std::string RegReadString(HKEY root, const std::string& key, const std::string& name, const std::string& fallback);
void RegWriteString(HKEY root, const std::string& key, const std::string& name, const std::string& value);

HKEY CurrentSettingsRoot();
const std::string& CurrentProgramSubKey();
void SetSettingsRoot(HKEY root);
void SetProgramSubKey();  // back to "\Torvo"

enum class TSettingMode { Read = 0, Write = 1 };
// Read: the value under the current root and sub-key, fallback when missing or empty.
std::string ProgramSetting(const std::string& name, const std::string& valueOrFallback, TSettingMode mode);
void SetProgramSetting(HKEY root, const std::string& name, const std::string& value);
// The value under "Software\Vimo" + subKey: current root first, then the other root.
std::string ReadOtherProgramValue(const std::string& subKey, const std::string& name);
// The mail program's install folder (machine root, its own sub-key). The current root and sub-key
// are restored afterwards, so later settings of this program are not read from the mail's key.
std::string ReadMailProgramPath();

// The install-path check of every finish. askReplace gets the question's text and answers whether
// to replace the stored folder; it is asked only when the folders differ.
void CheckInstallPath(const std::string& exeFolder, const std::string& fileVersion,
                      const std::function<bool(const std::string& text)>& askReplace);
inline constexpr const char* InstallQuestionCaption = "Torvo instalovaný vícekrát...";
std::string InstallQuestionText(const std::string& exeFolder, const std::string& stored);
