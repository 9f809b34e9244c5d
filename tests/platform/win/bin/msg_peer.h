// What the message peer computes, shared with the tests that check its answers.
#pragma once

#include "platform/win/WinTypes.h"

#include <cstddef>
#include <cstdint>

namespace msg_peer {

constexpr UINT WM_ADD = WM_USER + 1;         // sent: returns wParam + lParam
constexpr UINT WM_COUNT = WM_USER + 2;       // posted: wParam is added to the exit code
constexpr UINT WM_VANISH = WM_USER + 3;      // sent: the peer exits with code 7 before it answers
constexpr UINT WM_ECHO_LATER = WM_USER + 4;  // posted: after lParam ms, posts WM_ECHOED to window wParam
constexpr UINT WM_ECHOED = WM_USER + 5;
constexpr std::uintptr_t NestedTag = 2;  // dwData of the copy it sends back to the sender

// FNV-1a over the bytes, mixed with dwData.
inline LRESULT Checksum(std::uintptr_t dwData, const void* data, std::size_t size)
{
    std::uint32_t hash = 2166136261u;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return static_cast<LRESULT>(hash ^ static_cast<std::uint32_t>(dwData));
}

}  // namespace msg_peer
