#include "ResourceHelper.h"

#include "DbgLog.h"

std::wstring ResourceHelper::getStrFromRes(UINT nId)
{
    int nCapacity = 100;
    wchar_t* szBuffer = new wchar_t[nCapacity]();
    int nRet = LoadStringW(GetModuleHandleW(NULL), nId, szBuffer, nCapacity);
    ASSERT(nRet > 0);
    // LoadString cuts a longer text to capacity - 1 characters.
    while (nRet >= nCapacity - 1) {
        delete[] szBuffer;
        nCapacity *= 2;
        szBuffer = new wchar_t[nCapacity]();
        nRet = LoadStringW(GetModuleHandleW(NULL), nId, szBuffer, nCapacity);
    }
    std::wstring strText = nRet > 0 ? std::wstring(szBuffer) : std::wstring();
    delete[] szBuffer;
    return strText;
}
