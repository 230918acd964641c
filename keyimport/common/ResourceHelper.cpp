#include "ResourceHelper.h"

#include <vector>

#include "DbgLog.h"

std::wstring ResourceHelper::getStrFromRes(UINT id)
{
    std::vector<wchar_t> buffer(100);
    int nRet = LoadStringW(GetModuleHandleW(NULL), id, buffer.data(), static_cast<int>(buffer.size()));
    ASSERT(nRet > 0);
    // LoadString cuts a longer text to capacity - 1 characters.
    while (nRet >= static_cast<int>(buffer.size()) - 1) {
        buffer.assign(buffer.size() * 2, L'\0');
        nRet = LoadStringW(GetModuleHandleW(NULL), id, buffer.data(), static_cast<int>(buffer.size()));
    }
    return nRet > 0 ? std::wstring(buffer.data()) : std::wstring();
}
