// The key import: the user's root key file is backed up and replaced by a
// key file that the user picks and the key library accepts.
#pragma once

#include <windows.h>

#include <string>

// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the name is fixed by the program's interface.
HRESULT _importKey();
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the name is fixed by the program's interface.
std::wstring _getCurDateTime();

// The text of the thread's last Windows error, cut at its last line feed;
// valid until the next call.
const wchar_t* getLastErrorText();
HRESULT formatErrorText(DWORD code, std::wstring& text);
