// Process-wide hooks through which the engine reaches the application without linking it.
#pragma once

#include <functional>

// Keeps the window alive during long copies; the application binds it to its message pump.
// Unset, the engine simply does not pump.
inline std::function<void()>& MessagePumpHook()
{
    static std::function<void()> hook;
    return hook;
}

inline void ProcessMessages()
{
    if (auto& pump = MessagePumpHook())
        pump();
}
