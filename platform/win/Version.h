// Version resources. Only the running program carries one: its FileVersion and ProductVersion are
// the build's version with four parts ("0.1.0" becomes "0.1.0.0"), under the translation Czech /
// Windows-1250 ("\StringFileInfo\040504E2\..."). Any other file has none (size 0, last error 1813).
#pragma once

#include "platform/win/WinTypes.h"

#include <string>

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;  // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

// The file may be the program's host path, its name with or without ".exe", or any path to it.
DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle);
BOOL GetFileVersionInfoA(const char* fileName, DWORD handle, DWORD size, void* data);
// "\" gives the VS_FIXEDFILEINFO, "\VarFileInfo\Translation" the language and code page words,
// "\StringFileInfo\<8 hex digits>\<name>" a zero-terminated string.
BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length);

namespace win {
std::string FourPartVersion(const std::string& dotted);
}
