// Loading an external library without error boxes.
#pragma once

#include "platform/win/Library.h"

#include <string>

// The module handle, or nullptr when nothing loads.
HMODULE LoadLib(const std::string& FileName);
