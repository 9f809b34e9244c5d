// Entry names between the program's UTF-8 and the OEM code page (CP852) that DOS-era archives
// store. A name that OEM cannot hold stays UTF-8 and is marked as not-OEM in "version made by".
#pragma once

#include "core/plxConsts.h"

#include <cstdint>
#include <string>
#include <string_view>

bool IsOemSafeName(std::string_view Name);
// Out := the OEM bytes of Name when Flag is 0 and the name survives the round trip, else Name.
void AnsiToOemName(int Flag, std::string& Out, std::string_view Name);
// 20 (MS-DOS host, version 2.0) for names stored in OEM; 0x0B14 (NTFS host) otherwise.
std::uint16_t VersionMadeByForName(std::string_view Name, int Flag);
// A stored name in the program's form, "/" turned into "\". ZIP-family names from a central header
// whose host byte is not 0 are not OEM: UTF-8 (Utf8Name: flag bit 11 or a Unicode path block) as
// stored, otherwise ANSI (CP1250). VersionMadeBy < 0: no central header. Everything else is OEM.
void OemToAnsiName(TArcType ArcType, int VersionMadeBy, std::string& Out, std::string_view Name,
                   bool Utf8Name = false);
