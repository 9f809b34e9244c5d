#include "core/plxHooks.h"

std::function<void()> ProcessMessagesHook;
TMessageBoxHook MessageBoxHook;

void ProcessMessages() {
    if (ProcessMessagesHook) ProcessMessagesHook();
}

int ShowMessageBox(const std::string& Text, const std::string& Caption, unsigned Style) {
    return MessageBoxHook ? MessageBoxHook(Text, Caption, Style) : IDCANCEL;
}
