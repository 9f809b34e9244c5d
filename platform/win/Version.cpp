#include "platform/win/Version.h"

#include "platform/win/Errors.h"
#include "platform/win/Paths.h"
#include "platform/win/Utf8.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#ifndef TORVO_VERSION
#define TORVO_VERSION "0.0.0"
#endif

namespace win {

std::string FourPartVersion(const std::string& dotted)
{
    std::string out = dotted.empty() ? "0" : dotted;
    int parts = 1;
    for (const char c : out)
        parts += c == '.';
    for (; parts < 4; ++parts)
        out += ".0";
    return out;
}

}  // namespace win

namespace {

constexpr char kMagic[4] = {'T', 'V', 'R', 'S'};
constexpr std::size_t kFixedAt = 8;
constexpr std::size_t kTranslationAt = kFixedAt + sizeof(VS_FIXEDFILEINFO);
constexpr std::size_t kStringsAt = kTranslationAt + 4;
constexpr WORD kLanguage = 0x0405;  // Czech
constexpr WORD kCodePage = 1250;

std::string BaseName(std::string_view path)
{
    const std::size_t slash = path.find_last_of("\\/");
    std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
    if (name.size() > 4 && win::SameText(name.substr(name.size() - 4), ".exe"))
        name.resize(name.size() - 4);
    return name;
}

bool IsOwnProgram(const char* fileName)
{
    if (!fileName || !*fileName)
        return false;
    const std::string self = win::ExecutablePath();
    std::string host;
    char resolved[PATH_MAX];
    if (win::ToHostPath(fileName, host) && realpath(host.c_str(), resolved))
        return self == resolved;
    return win::SameText(BaseName(fileName), BaseName(self));
}

void VersionWords(const std::string& fourPart, DWORD& ms, DWORD& ls)
{
    unsigned v[4] = {};
    const char* p = fourPart.c_str();
    for (int i = 0; i < 4 && *p; ++i) {
        v[i] = static_cast<unsigned>(std::strtoul(p, const_cast<char**>(&p), 10)) & 0xFFFF;
        if (*p == '.')
            ++p;
    }
    ms = (v[0] << 16) | v[1];
    ls = (v[2] << 16) | v[3];
}

std::vector<char> BuildBlock()
{
    const std::string version = win::FourPartVersion(TORVO_VERSION);
    VS_FIXEDFILEINFO fixed{};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    VersionWords(version, fixed.dwFileVersionMS, fixed.dwFileVersionLS);
    fixed.dwProductVersionMS = fixed.dwFileVersionMS;
    fixed.dwProductVersionLS = fixed.dwFileVersionLS;
    fixed.dwFileOS = 0x00040004;  // NT, 32-bit Windows
    fixed.dwFileType = 1;         // application

    std::vector<char> block(kStringsAt);
    std::memcpy(block.data(), kMagic, 4);
    std::memcpy(block.data() + kFixedAt, &fixed, sizeof fixed);
    const DWORD translation = kLanguage | (static_cast<DWORD>(kCodePage) << 16);
    std::memcpy(block.data() + kTranslationAt, &translation, 4);
    for (const char* text : {"FileVersion", version.c_str(), "ProductVersion", version.c_str()}) {
        block.insert(block.end(), text, text + std::strlen(text) + 1);
    }
    block.push_back('\0');
    const auto size = static_cast<DWORD>(block.size());
    std::memcpy(block.data() + 4, &size, 4);
    return block;
}

}  // namespace

DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle)
{
    if (handle)
        *handle = 0;
    if (!IsOwnProgram(fileName)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return 0;
    }
    return static_cast<DWORD>(BuildBlock().size());
}

BOOL GetFileVersionInfoA(const char* fileName, DWORD, DWORD size, void* data)
{
    if (!data || !IsOwnProgram(fileName)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    const std::vector<char> block = BuildBlock();
    if (size < block.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(data, block.data(), block.size());
    return TRUE;
}

BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length)
{
    if (!block || !subBlock || !buffer)
        return FALSE;
    const char* base = static_cast<const char*>(block);
    DWORD size = 0;
    std::memcpy(&size, base + 4, 4);
    if (std::memcmp(base, kMagic, 4) != 0 || size < kStringsAt + 1)
        return FALSE;
    const std::string_view query(subBlock);
    if (query == "\\" || query.empty()) {
        *buffer = const_cast<char*>(base + kFixedAt);
        if (length)
            *length = sizeof(VS_FIXEDFILEINFO);
        return TRUE;
    }
    if (win::SameText(query, "\\VarFileInfo\\Translation")) {
        *buffer = const_cast<char*>(base + kTranslationAt);
        if (length)
            *length = 4;
        return TRUE;
    }
    constexpr std::string_view kPrefix = "\\StringFileInfo\\040504E2\\";
    if (query.size() <= kPrefix.size() || !win::SameText(query.substr(0, kPrefix.size()), kPrefix))
        return FALSE;
    const std::string_view name = query.substr(kPrefix.size());
    std::size_t at = kStringsAt;
    while (at < size && base[at] != '\0') {
        const std::size_t nameLen = strnlen(base + at, size - at);
        const std::size_t valueAt = at + nameLen + 1;
        if (valueAt >= size)
            break;
        const std::size_t valueLen = strnlen(base + valueAt, size - valueAt);
        if (win::SameText(std::string_view(base + at, nameLen), name)) {
            *buffer = const_cast<char*>(base + valueAt);
            if (length)
                *length = static_cast<UINT>(valueLen + 1);
            return TRUE;
        }
        at = valueAt + valueLen + 1;
    }
    return FALSE;
}
