// What the engine asks of the application without knowing it: a message pump, message boxes and
// two dialogs (a line of text, a folder).
//
// The engine never links the GUI library. Long loops (scans, disk prompts, retries) call
// ProcessMessages() so that the window stays alive and a Cancel button can act; questions go to
// ShowMessageBox(). The application sets the hooks once at start; unset, the pump does nothing,
// a message box answers IDCANCEL and a dialog answers cancelled, so that an engine run without a
// GUI never waits for an answer that cannot come.
#pragma once

#include <functional>
#include <string>

#include "platform/win/WinTypes.h"

// Caption empty: the application's title.
using TMessageBoxHook = std::function<int(const std::string& Text, const std::string& Caption, unsigned Style)>;

extern std::function<void()> ProcessMessagesHook;
extern TMessageBoxHook MessageBoxHook;

void ProcessMessages();
int ShowMessageBox(const std::string& Text, const std::string& Caption, unsigned Style);

// Value holds the proposed text and, on True, the text entered.
using TInputQueryHook = std::function<bool(const std::string& Caption, const std::string& Prompt, std::string& Value)>;
// A folder dialog that lets the user create folders; Dir holds the start and, on True, the choice.
using TBrowseForDirHook = std::function<bool(const std::string& Caption, std::string& Dir)>;

extern TInputQueryHook InputQueryHook;
extern TBrowseForDirHook BrowseForDirHook;

// False, with the value left alone, when cancelled or unset.
bool ShowInputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value);
bool ShowBrowseForDir(const std::string& Caption, std::string& Dir);
