#include "HvnMsgBox.h"

#include <string>

#include "DbgLog.h"
#include "ResourceHelper.h"

int hvnMsgBox(const wchar_t* text, UINT captionId, UINT type, HWND owner)
{
    if (text == NULL) {
        LOG_ERRCODE(0);
        return 0;
    }
    const std::wstring caption = ResourceHelper::getStrFromRes(captionId);
    return MessageBoxW(owner, text, caption.c_str(), type);
}

int hvnMsgBox(UINT textId, UINT captionId, UINT type, HWND owner)
{
    const std::wstring text = ResourceHelper::getStrFromRes(textId);
    return hvnMsgBox(text.c_str(), captionId, type, owner);
}
