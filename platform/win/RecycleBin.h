// The recycle bin: the desktop's trash folder ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash),
// with an info record per item so that file managers can put items back.
#pragma once

#include "platform/win/WinTypes.h"

#include <string>

constexpr UINT FO_MOVE = 1;
constexpr UINT FO_COPY = 2;
constexpr UINT FO_DELETE = 3;
constexpr UINT FO_RENAME = 4;
constexpr WORD FOF_SILENT = 0x4;
constexpr WORD FOF_RENAMEONCOLLISION = 0x8;
constexpr WORD FOF_NOCONFIRMATION = 0x10;
constexpr WORD FOF_ALLOWUNDO = 0x40;
constexpr WORD FOF_NOERRORUI = 0x400;

struct SHFILEOPSTRUCTA {
    HWND hwnd = 0;
    UINT wFunc = 0;
    const char* pFrom = nullptr;  // names, each ended by a zero, the list by a second zero
    const char* pTo = nullptr;
    WORD fFlags = 0;
    BOOL fAnyOperationsAborted = FALSE;
    void* hNameMappings = nullptr;
    const char* lpszProgressTitle = nullptr;
};

// Only FO_DELETE is offered: with FOF_ALLOWUNDO the items go to the recycle bin, else they are
// deleted for good (folders with their contents). Answers 0 on success, else a Windows error code.
int SHFileOperationA(SHFILEOPSTRUCTA* operation);

namespace win {

std::string TrashFolder();
// Moves a file or folder to the recycle bin.
BOOL MoveToRecycleBin(const char* path);

}  // namespace win
