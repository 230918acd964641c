// Drives another process's dialogs and message boxes, as a user would.
// Nothing here waits a fixed time: callers wait for what they expect.
#pragma once

#include <windows.h>

#include <string>

namespace driver {

// How long a window may take to show up or go: a program started under
// Wine on a loaded machine (two test runs at once on two cores) has taken
// over 10 s to show its first dialog. A deadline, not a pause: waits end as
// soon as the window is there.
inline constexpr DWORD kWindowDeadlineMs = 30000;

// A visible top-level dialog-class window of the process with that caption;
// null when none shows up in time. A dialog is visible only once its
// initialisation is done.
HWND waitDialog(DWORD pid, const std::wstring& caption, DWORD timeoutMs = kWindowDeadlineMs);
// Any visible top-level dialog-class window of the process other than `except`.
HWND waitOtherDialog(DWORD pid, HWND except, DWORD timeoutMs = kWindowDeadlineMs);
bool waitGone(HWND window, DWORD timeoutMs = kWindowDeadlineMs);

std::wstring text(HWND window);
std::wstring itemText(HWND dialog, int id);
// The text of a message box.
std::wstring messageText(HWND box);
bool hasButton(HWND dialog, int id);

void click(HWND dialog, int id);
void setItemText(HWND dialog, int id, const std::wstring& value);
HWND focusOf(HWND window);

// Real keyboard input to the foreground window.
bool bringToFront(HWND window);
void pressKey(WORD virtualKey);
void typeText(const std::wstring& value);

} // namespace driver
