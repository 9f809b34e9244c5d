// Starting and waiting for programs. Programs, documents and folders given as Windows paths are
// found through the drive table (Paths.h). Programs always get an argument vector, never a shell: a
// command line is split as the Windows C runtime splits it (quotes, backslashes before quotes).
// A program named "X.exe" runs "X" when only that exists; a bare name is looked up in the folder of
// the running executable, the current folder and PATH. The "open" verb on a file that is not a
// program hands it to the desktop's opener: $TORVO_OPEN_PROGRAM when set, else xdg-open.
// Every child is reaped: waited for through its handle, or by a background waiter once nobody holds
// a handle to it, so no zombie is left.
#pragma once

#include "platform/win/Handles.h"
#include "platform/win/WinTypes.h"

#include <string>
#include <string_view>
#include <vector>

using HINSTANCE = void*;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOW = 5;

constexpr DWORD SEE_MASK_NOCLOSEPROCESS = 0x00000040;
constexpr DWORD SEE_MASK_FLAG_NO_UI = 0x00000400;

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;

// Results of WinExec and ShellExecute below 32 are errors.
constexpr UINT SE_ERR_FNF = 2;
constexpr UINT SE_ERR_PNF = 3;
constexpr UINT SE_ERR_ACCESSDENIED = 5;
constexpr UINT SE_ERR_NOASSOC = 31;

struct SHELLEXECUTEINFOA {
    DWORD cbSize = sizeof(SHELLEXECUTEINFOA);
    DWORD fMask = 0;
    HWND hwnd = 0;
    const char* lpVerb = nullptr;
    const char* lpFile = nullptr;
    const char* lpParameters = nullptr;
    const char* lpDirectory = nullptr;
    int nShow = SW_SHOWNORMAL;
    HINSTANCE hInstApp = nullptr;
    void* lpIDList = nullptr;
    const char* lpClass = nullptr;
    void* hkeyClass = nullptr;
    DWORD dwHotKey = 0;
    HANDLE hIcon = nullptr;
    HANDLE hProcess = nullptr;  // with SEE_MASK_NOCLOSEPROCESS; close it with CloseHandle
};

UINT WinExec(const char* cmdLine, UINT show);
HINSTANCE ShellExecuteA(HWND hwnd, const char* verb, const char* file, const char* parameters, const char* directory,
                        int show);
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info);

// For process handles only (others fail with ERROR_INVALID_HANDLE). A child killed by signal N reports the exit code
// 128 + N.
DWORD WaitForSingleObject(HANDLE process, DWORD milliseconds);
DWORD WaitForInputIdle(HANDLE process, DWORD milliseconds);  // there is no input queue: at once
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);

namespace win {

// The whole command line (first item is the program) and parameters alone.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
std::vector<std::string> SplitParameters(std::string_view parameters);
// Argument in quotes as SplitParameters reads it back whole, whatever quotes and backslashes it holds.
std::string QuoteArgument(std::string_view argument);

// Host path of the program to run (a host path or a bare name), or empty.
std::string ResolveExecutable(const std::string& name);

}  // namespace win
