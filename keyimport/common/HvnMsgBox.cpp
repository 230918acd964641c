#include "HvnMsgBox.h"

#include <string>

#include "DbgLog.h"
#include "ResourceHelper.h"

int hvnMsgBox(const wchar_t* szText, UINT nCaptionId, UINT nType, HWND hOwner)
{
    if (szText == NULL) {
        LOG_ERRCODE(0);
        return 0;
    }
    const std::wstring strCaption = ResourceHelper::getStrFromRes(nCaptionId);
    return MessageBoxW(hOwner, szText, strCaption.c_str(), nType);
}

int hvnMsgBox(UINT nTextId, UINT nCaptionId, UINT nType, HWND hOwner)
{
    const std::wstring strText = ResourceHelper::getStrFromRes(nTextId);
    return hvnMsgBox(strText.c_str(), nCaptionId, nType, hOwner);
}
