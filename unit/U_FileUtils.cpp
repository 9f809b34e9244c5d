#include "unit/U_FileUtils.h"

#include "platform/win/Drives.h"
#include "platform/win/Files.h"
#include "platform/win/Process.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "platform/win/TempFiles.h"

#include <vector>

namespace {

std::string WithBackslash(const std::string& folder)
{
    return folder.empty() || folder.back() == '\\' ? folder : folder + "\\";
}

std::string FolderOf(const std::string& fileName)
{
    const std::size_t slash = fileName.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : fileName.substr(0, slash);
}

}  // namespace

bool ShellExec(const std::string& file, const std::string& parameters, const std::string& folder, int showCommand)
{
    const HINSTANCE result = ShellExecuteA(0, "open", file.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
                                           folder.empty() ? nullptr : folder.c_str(), showCommand);
    return reinterpret_cast<std::intptr_t>(result) > 32;
}

std::string StripBadFileNameChars(std::string_view name)
{
    std::string result;
    for (const char c : name)
        if (std::string_view("\"':;/\\<>*?\r\n").find(c) == std::string_view::npos)
            result += c;
    return result;
}

bool DeleteFileForced(const std::string& fileName)
{
    SetFileAttributesA(fileName.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(fileName.c_str());
    return GetFileAttributesA(fileName.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool ReplaceFileViaTemp(const std::string& sourceFolder, const std::string& targetFolder, const std::string& file)
{
    const std::string source = WithBackslash(sourceFolder) + file;
    const std::string target = WithBackslash(targetFolder) + file;
    const std::string temp = win::CreateOwnedTempFile(targetFolder, "tmp");
    if (temp.empty())
        return false;
    if (!CopyFileA(source.c_str(), temp.c_str(), FALSE) ||
        !MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

bool CopyFileChecked(const std::string& sourceFolder, const std::string& targetFolder, const std::string& sourceName,
                     const std::string& targetName, const TFileMessage& message)
{
    const std::string source = WithBackslash(sourceFolder) + sourceName;
    const std::string target = WithBackslash(targetFolder) + targetName;
    const auto tell = [&](const std::string& text) {
        if (message)
            message(text);
    };
    const std::int64_t size = FileSizeByName(source);
    if (size < 0)
        return false;
    const char drive = targetFolder.size() >= 2 && targetFolder[1] == ':'
                           ? static_cast<char>(std::toupper(static_cast<unsigned char>(targetFolder[0])))
                           : 0;
    if (drive >= 'A' && drive <= 'Z') {
        const std::int64_t free = win::DiskFree(static_cast<std::uint8_t>(drive - 'A' + 1));
        const std::int64_t replaced = std::max<std::int64_t>(FileSizeByName(target), 0);
        if (free >= 0 && free + replaced < size) {
            tell("Pravděpodobně na disku " + std::string(1, drive) + ":\\ je málo volného prostoru.\r\n" + "Soubor \"" +
                 targetName + "\" nelze na tento disk uložit.");
            return false;
        }
    }
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        if (GetLastError() == ERROR_DISK_FULL)
            tell("Pravděpodobně na disku " + std::string(1, drive) + ":\\ je málo volného prostoru.\r\n" + "Soubor \"" +
                 targetName + "\" nelze na tento disk uložit.");
        else
            tell("Pravděpodobně soubor \"" + targetName + "\" je otevřen jiným programem.\r\n" +
                 "Pokusím se tento soubor přepsat a opětovně uložit.");
        return false;
    }
    return true;
}

std::int64_t FileSizeByName(const std::string& fileName)
{
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA(fileName.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return -1;
    FindClose(find);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return -1;
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool ListFiles(const std::string& mask, DWORD attributes, std::vector<std::string>& list)
{
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA(mask.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
    }
    constexpr DWORD Special = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        if ((data.dwFileAttributes & Special & ~attributes) != 0)
            continue;
        list.push_back(name);
    } while (FindNextFileA(find, &data));
    const bool ended = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return ended;
}

bool EraseFile(const std::string& fileName)
{
    HANDLE file = CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        DeleteFileA(fileName.c_str());
        return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    const std::string probe = win::CreateOwnedTempFile(FolderOf(fileName), "tst");
    if (probe.empty())
        return false;
    DeleteFileA(probe.c_str());
    return true;
}

bool ListFilesByExt(const std::string& folder, const std::string& extension, std::vector<std::string>& list)
{
    return ListFiles(WithBackslash(folder) + "*." + extension, 0, list);
}

bool ReadWholeFile(const std::string& fileName, std::string& bytes)
{
    bytes.clear();
    HANDLE file = CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return ok;
}
