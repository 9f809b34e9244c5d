#include "app/lib/EngineHooks.h"

#include "core/plxHooks.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Forms.h"

void InstallEngineHooks()
{
    ProcessMessagesHook = [] { vcl::Application->ProcessMessages(); };
    MessageBoxHook = [](const std::string& text, const std::string& caption, unsigned style) {
        return vcl::Application->MessageBox(text, caption.empty() ? vcl::Application->Title : caption, style);
    };
    InputQueryHook = [](const std::string& caption, const std::string& prompt, std::string& value) {
        return vcl::InputQuery(caption, prompt, value);
    };
    BrowseForDirHook = [](const std::string& caption, std::string& dir) {
        return vcl::SelectDirectory(caption, "", dir);
    };
}
