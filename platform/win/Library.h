// Dynamic libraries over the host loader. "name.dll" is looked up as "libname.so" and "name.so",
// first in the folder of the running executable, then in the loader's search path; a name that
// already ends in ".so" (or ".so.N") is loaded as given.
#pragma once

#include "platform/win/Errors.h"

using FARPROC = void (*)();

// nullptr and last error 126 (ERROR_MOD_NOT_FOUND) when nothing loads.
HMODULE LoadLibraryA(const char* fileName);
// nullptr and last error 127 (ERROR_PROC_NOT_FOUND) for a missing entry point.
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);
