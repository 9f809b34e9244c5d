#include "unit/XFiles.h"

#include "platform/win/SysStrings.h"
#include "platform/win/Version.h"

#include <filesystem>
#include <system_error>
#include <vector>

std::string TXFileVersion::Query(const std::string& name) const
{
    // The host path of the program: Paths.h and Version.h cannot be included together yet.
    std::error_code error;
    const std::string program = std::filesystem::read_symlink("/proc/self/exe", error).string();
    if (error)
        return {};
    const char* exe = program.c_str();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe, &handle);
    if (size == 0)
        return {};
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(exe, handle, size, block.data()))
        return {};
    void* buffer = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &buffer, &length) || length < 4)
        return {};
    const auto* words = static_cast<const WORD*>(buffer);
    const std::string path =
        "\\StringFileInfo\\" + win::IntToHex(words[0], 4) + win::IntToHex(words[1], 4) + "\\" + name;
    if (!VerQueryValueA(block.data(), path.c_str(), &buffer, &length) || buffer == nullptr)
        return {};
    return static_cast<const char*>(buffer);
}

std::string XFileVersion1()
{
    return TXFileVersion().Query("FileVersion");
}
