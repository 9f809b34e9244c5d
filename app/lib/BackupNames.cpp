#include "app/lib/BackupNames.h"

#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Utf8.h"
#include "unit/U_FileUtils.h"

#include <algorithm>
#include <cstdio>

std::string NormaliseTargetFolder(std::string folder)
{
    if (!folder.empty() && folder[0] == '*')
        return folder.substr(1);
    for (std::size_t at; (at = folder.find("\\\\")) != std::string::npos;)
        folder.erase(at, 1);
    return folder;
}

namespace {

// The number between the last "(" and the ")" after it; 0 when there is none.
int NumberInParentheses(const std::string& name)
{
    const std::size_t open = name.rfind('(');
    if (open == std::string::npos)
        return 0;
    const std::size_t close = name.find(')', open + 1);
    if (close == std::string::npos)
        return 0;
    int number = 0;
    return win::TryStrToInt(name.substr(open + 1, close - open - 1), number) && number > 0 ? number : 0;
}

}  // namespace

int SequenceAfter(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return win::CompareText(a, b) < 0; });
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (const int number = NumberInParentheses(*name); number > 0)
            return number < 1 << 30 ? number + 1 : number;
    }
    return 1;
}

namespace {

// The name with every run of digits widened to one width, so that text order is value order.
std::string NumbersWidened(const std::string& name)
{
    constexpr std::size_t width = 20;
    std::string key;
    for (std::size_t at = 0; at < name.size();) {
        if (name[at] < '0' || name[at] > '9') {
            key += name[at++];
            continue;
        }
        std::size_t end = at;
        while (end < name.size() && name[end] >= '0' && name[end] <= '9')
            ++end;
        while (at + 1 < end && name[at] == '0')
            ++at;
        key += std::string(width > end - at ? width - (end - at) : 0, '0') + name.substr(at, end - at);
        at = end;
    }
    return key;
}

}  // namespace

bool ArchiveNameBefore(const std::string& a, const std::string& b)
{
    const int order = win::CompareText(NumbersWidened(a), NumbersWidened(b));
    return order != 0 ? order < 0 : win::CompareText(a, b) < 0;
}

std::string SequenceText(int number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%03d", number);
    return text;
}

std::string NextSequenceName(const std::string& folder, const std::string& baseName, const std::string& extension)
{
    std::vector<std::string> names;
    ListFiles(folder + baseName + "*.*", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, names);
    for (int number = SequenceAfter(names);; ++number) {
        const std::string name = baseName + " (" + SequenceText(number) + ")";
        if (!win::FileExists(folder + name + extension))
            return name;
    }
}

std::string DatedArchiveName(const std::string& baseName, win::TDateTime when)
{
    return baseName + "_" + win::FormatDateTime("yyyy-mm-dd", when) + "(" + win::FormatDateTime("hh-nn", when) + ")";
}

bool FolderIsWriteable(const std::string& folder)
{
    char probe[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), "tst", 0, probe) == 0)
        return false;
    DeleteFileA(probe);
    return true;
}

std::string FreshNameBeside(const std::string& archive)
{
    const std::string stem = win::ChangeFileExt(archive, "");
    const std::string extension = win::ExtractFileExt(archive);
    for (int n = 1;; ++n) {
        const std::string name = stem + ".new" + std::to_string(n) + extension;
        if (!win::FileExists(name))
            return name;
    }
}

std::string OwnedOutputBeside(const std::string& archive)
{
    const std::string name = win::ExtractFilePath(archive) + win::OwnedTempName("plx");
    // Listed, so that a signal removes it and the next run finds it should this one be killed.
    std::string host;
    if (win::ToHostPath(name, host))
        win::NoteTempFileMade(host);
    return name;
}

TBackupSpecs SplitBackupSpecs(const std::vector<std::string>& files, const std::string& dataFolder)
{
    TBackupSpecs specs;
    const std::string base = dataFolder.empty() ? std::string() : win::IncludeTrailingBackslash(dataFolder);
    for (const std::string& file : files) {
        const std::string folder = win::ExtractFilePath(file);
        const bool inside =
            !base.empty() && folder.size() >= base.size() && win::SameText(folder.substr(0, base.size()), base);
        (inside ? specs.InsideDataFolder : specs.Elsewhere).push_back(file);
    }
    if (!specs.InsideDataFolder.empty())
        specs.InsideDataFolder.push_back(FreshNameBeside(base + "torvo-base.none"));
    return specs;
}
