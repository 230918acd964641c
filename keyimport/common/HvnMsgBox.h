// Message boxes captioned with the product name.
#pragma once

#include <windows.h>

// Shows the text with the string of `nCaptionId` as caption; the platform's
// answer, or 0 (and an error record) when there is no text.
int hvnMsgBox(const wchar_t* szText, UINT nCaptionId, UINT nType, HWND hOwner = NULL);
// The same with the text taken from the string table.
int hvnMsgBox(UINT nTextId, UINT nCaptionId, UINT nType, HWND hOwner = NULL);
