// Top-level windows and the messages between processes (WM_COPYDATA), over Unix domain sockets.
//
// A window created with a class name is published as a socket in the per-user runtime folder, so
// that FindWindowA in another process finds it. Messages sent to a window run its window procedure
// on the thread that created it (the GUI thread), inside GetMessageA, PeekMessageA, or a
// SendMessageA that this thread is itself waiting in.
#pragma once

#include "platform/win/Errors.h"  // window calls report through GetLastError
#include "platform/win/WinTypes.h"

#include <functional>
#include <string>
#include <vector>

using WNDPROC = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Creates a top-level window. With a non-empty class name it becomes findable by other processes.
HWND CreateWindowA(const char* className, const char* windowName, WNDPROC proc);
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);

// Finds a live top-level window of that class (any process of this user); 0 when there is none.
HWND FindWindowA(const char* className, const char* windowName);

// Delivers the message and waits for the window procedure's result. WM_COPYDATA carries the
// COPYDATASTRUCT that lParam points to across processes. While it waits, messages sent to this
// thread's own windows are dispatched.
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues the message for the window's thread and returns at once (WM_QUIT, WM_CLOSE, WM_USER+n).
// A remote window too busy to take the connection for about 2 s fails both calls with ERROR_TIMEOUT.
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
// Dispatches incoming sent messages, then takes a posted message if one is queued.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// Waits for a posted message, dispatching sent messages meanwhile; FALSE on WM_QUIT.
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
LRESULT DispatchMessageA(const MSG* msg);

// For message loops of other toolkits (Qt): descriptors that become readable when a message may
// be waiting (watch them, then call PeekMessageA until it returns FALSE), and a blocking wait on
// them with a timeout in milliseconds (-1: forever). WaitMessageFor returns TRUE when something is
// ready. The set changes as peers connect and leave: fetch it again after each PeekMessageA round.
// The first descriptor stays readable while posted messages are queued.
std::vector<int> MessageWaitDescriptors();
BOOL WaitMessageFor(int timeoutMs);

// Other processes' windows can only be asked whether they are alive: these return TRUE for a live
// remote window. Local windows answer TRUE.
BOOL SetForegroundWindow(HWND hwnd);
BOOL ShowWindow(HWND hwnd, int showCommand);

// Posts the message to the first live window of the class; FALSE when there is none.
BOOL PostMessageToClass(const char* className, UINT msg, WPARAM wParam, LPARAM lParam);
