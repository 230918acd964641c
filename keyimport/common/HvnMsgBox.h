// Message boxes captioned with the product name.
#pragma once

#include <windows.h>

#include <string>

#include "DbgLog.h"
#include "ResourceHelper.h"

inline int hvnMsgBox(const wchar_t* szText, UINT nCaptionId, UINT nType, HWND hOwner = NULL)
{
    if (szText == NULL) {
        LOG_ERRCODE(0);
        return 0;
    }
    const std::wstring strCaption = ResourceHelper::getStrFromRes(nCaptionId);
    return MessageBoxW(hOwner, szText, strCaption.c_str(), nType);
}

inline int hvnMsgBox(UINT nTextId, UINT nCaptionId, UINT nType, HWND hOwner = NULL)
{
    const std::wstring strText = ResourceHelper::getStrFromRes(nTextId);
    return hvnMsgBox(strText.c_str(), nCaptionId, nType, hOwner);
}
