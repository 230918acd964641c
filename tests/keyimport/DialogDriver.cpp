#include "DialogDriver.h"

#include <vector>

#include "KitTest.h"

namespace driver {

namespace {

struct Search {
    DWORD pid;
    const std::wstring* caption;
    HWND except;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM param)
{
    Search& s = *reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != s.pid || window == s.except || !IsWindowVisible(window)) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (std::wstring(cls) != L"#32770") return TRUE;
    if (s.caption && text(window) != *s.caption) return TRUE;
    s.found = window;
    return FALSE;
}

HWND poll(Search s, DWORD timeoutMs)
{
    (void)kittest::waitUntil(
        [&s] {
            s.found = nullptr;
            EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&s));
            return s.found != nullptr;
        },
        timeoutMs);
    return s.found;
}

} // namespace

HWND waitDialog(DWORD pid, const std::wstring& caption, DWORD timeoutMs)
{
    return poll(Search{pid, &caption, nullptr, nullptr}, timeoutMs);
}

HWND waitOtherDialog(DWORD pid, HWND except, DWORD timeoutMs)
{
    return poll(Search{pid, nullptr, except, nullptr}, timeoutMs);
}

bool waitGone(HWND window, DWORD timeoutMs)
{
    return kittest::waitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

std::wstring text(HWND window)
{
    const int n = static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1);
    SendMessageW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return buffer.data();
}

std::wstring itemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? text(item) : L"<no control>";
}

std::wstring messageText(HWND box)
{
    return itemText(box, 0xFFFF);
}

bool hasButton(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item && IsWindowVisible(item);
}

void click(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void setItemText(HWND dialog, int id, const std::wstring& value)
{
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
}

HWND focusOf(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

bool bringToFront(HWND window)
{
    SetForegroundWindow(window);
    return kittest::waitUntil([window] { return GetForegroundWindow() == window; });
}

void pressKey(WORD virtualKey)
{
    INPUT input[2] = {};
    input[0].type = INPUT_KEYBOARD;
    input[0].ki.wVk = virtualKey;
    input[1] = input[0];
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
}

void typeText(const std::wstring& value)
{
    for (wchar_t c : value) {
        INPUT input[2] = {};
        input[0].type = INPUT_KEYBOARD;
        input[0].ki.wScan = c;
        input[0].ki.dwFlags = KEYEVENTF_UNICODE;
        input[1] = input[0];
        input[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
    }
}

} // namespace driver
