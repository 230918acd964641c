// Message boxes captioned with the product name.
#pragma once

#include <windows.h>

// Shows the text with the string of `captionId` as caption; the platform's
// answer, or 0 (and an error record) when there is no text.
int hvnMsgBox(const wchar_t* text, UINT captionId, UINT type, HWND owner = NULL);
// The same with the text taken from the string table.
int hvnMsgBox(UINT textId, UINT captionId, UINT type, HWND owner = NULL);
