#include "core/plxLoadLib.h"

// The host loader shows no boxes, so there is no error mode to set and restore.
HMODULE LoadLib(const std::string& FileName)
{
    return LoadLibraryA(FileName.c_str());
}
