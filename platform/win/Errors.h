// The calling thread's last error, and how host errors read as Windows error codes.
#pragma once

#include "platform/win/WinTypes.h"

#include <string>

DWORD GetLastError();
void SetLastError(DWORD code);

namespace win {

// The Windows code for a host errno. Windows answers an existing name with ERROR_FILE_EXISTS (80)
// from some calls and ERROR_ALREADY_EXISTS (183) from others, so the caller says which.
DWORD ErrorFromErrno(int err, DWORD existsCode = ERROR_ALREADY_EXISTS);

// Sets the last error from errno (or from err) and answers FALSE, for `return Fail...();`.
BOOL FailWithErrno(DWORD existsCode = ERROR_ALREADY_EXISTS);
BOOL FailWith(DWORD code);

// The system's text for an error code, as a message box shows it.
std::string SysErrorMessage(DWORD code);

}  // namespace win
