// Binds the engine's questions and its message pump to the GUI: disk prompts, retries, password
// input and folder choices appear as real dialogs (or in the headless transcript), and long
// engine loops keep the window alive.
#pragma once

// Call once the widget set is chosen.
void InstallEngineHooks();
