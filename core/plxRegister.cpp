#include "core/plxRegister.h"

#include "core/plxGbls.h"
#include "platform/win/CodePage.h"

bool IsOemSafeName(std::string_view Name) { return win::FitsCodePage(Name, win::CodePage::Cp852); }

void AnsiToOemName(int Flag, std::string& Out, std::string_view Name) {
    bool lossy = false;
    if (Flag == 0) {
        std::string oem = win::Utf8ToOem(Name, &lossy);
        if (!lossy) {
            Out = std::move(oem);
            return;
        }
    }
    Out = std::string(Name);
}

std::uint16_t VersionMadeByForName(std::string_view Name, int Flag) {
    return (Flag == 2 || IsOemSafeName(Name)) ? 20 : 0x0B14;
}

void OemToAnsiName(TArcType ArcType, int VersionMadeBy, std::string& Out, std::string_view Name, bool Utf8Name) {
    if (Utf8Name)
        Out = std::string(Name);
    else if (IsZipFamilyType(ArcType) && VersionMadeBy >= 0 && (VersionMadeBy >> 8) != 0)
        Out = win::AnsiToUtf8(Name);
    else
        Out = win::OemToUtf8(Name);
    Out = ToDosSeparators(Out);
}
