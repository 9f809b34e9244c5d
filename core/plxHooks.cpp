#include "core/plxHooks.h"

std::function<void()> ProcessMessagesHook;
TMessageBoxHook MessageBoxHook;
TInputQueryHook InputQueryHook;
TBrowseForDirHook BrowseForDirHook;

void ProcessMessages()
{
    if (ProcessMessagesHook)
        ProcessMessagesHook();
}

int ShowMessageBox(const std::string& Text, const std::string& Caption, unsigned Style)
{
    return MessageBoxHook ? MessageBoxHook(Text, Caption, Style) : IDCANCEL;
}

namespace {

// The caller's value changes only when the dialog was confirmed.
template <class Hook, class... Args>
bool AskDialog(const Hook& hook, std::string& Value, const Args&... args)
{
    if (!hook)
        return false;
    std::string answer = Value;
    if (!hook(args..., answer))
        return false;
    Value = answer;
    return true;
}

}  // namespace

bool ShowInputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value)
{
    return AskDialog(InputQueryHook, Value, Caption, Prompt);
}

bool ShowBrowseForDir(const std::string& Caption, std::string& Dir)
{
    return AskDialog(BrowseForDirHook, Dir, Caption);
}
