#include "ZIVOEncryptKeyImport.h"

#include "../handles/UniqueHandle.h"
#include "DbgLog.h"
#include "ImportDlg.h"
#include "ZIVOCommon.h"
#include "common/HvnMsgBox.h"
#include "resource.h"

namespace {

std::wstring& lastErrorText()
{
    static std::wstring s_strText;
    return s_strText;
}

// The system's text for the last error, or text 203 when it has none.
void showFailure()
{
    const wchar_t* szError = getLastErrorText();
    if (szError[0] != L'\0')
        hvnMsgBox(szError, IDS_PRODUCT_NAME, MB_ICONERROR);
    else
        hvnMsgBox(IDS_IMPORT_FAILED, IDS_PRODUCT_NAME, MB_ICONERROR);
}

bool fileExists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

HRESULT _importKey()
{
    ImportDlg dlg;
    INT_PTR nDlgResult = IDCANCEL;
    HRESULT hr = dlg.showModal(nDlgResult);
    if (FAILED(hr)) {
        LOG_ERRCODE(hr);
        return hr;
    }
    if (nDlgResult != IDOK) {
        LOG_ERRCODE(E_FAIL);
        return E_FAIL;
    }

    const std::wstring strNewKeyPath = dlg.getFilePath();
    ZIVOUserInfo* pUser = ZIVOUserInfoManager::getCurrentLogonUser();
    if (pUser == NULL) {
        LOG_ERRCODE(E_POINTER);
        ZIVOUserInfoManager::releaseUsers();
        return E_POINTER;
    }

    const std::wstring strRootKeyPath = getUserRootKeyFilePath(pUser->strUserSid, pUser->strUserName, L"");
    TRACE_VAR(strRootKeyPath.c_str());

    const std::wstring strBackupPath = strRootKeyPath + L" " + _getCurDateTime();
    if (!CopyFileW(strRootKeyPath.c_str(), strBackupPath.c_str(), FALSE)) {
        const DWORD dwError = GetLastError();
        LOG_ERRCODE(HRESULT_FROM_WIN32(dwError));
        // A missing root key has nothing to lose: the import creates it.
        // An existing one would be lost by replacing it now.
        if (fileExists(strRootKeyPath)) {
            SetLastError(dwError);
            showFailure();
            ZIVOUserInfoManager::releaseUsers();
            return dwError != 0 ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
        }
    }

    if (CopyFileW(strNewKeyPath.c_str(), strRootKeyPath.c_str(), FALSE)) {
        hvnMsgBox(IDS_IMPORT_SUCCEEDED, IDS_PRODUCT_NAME, MB_ICONINFORMATION);
        hr = S_OK;
    } else {
        showFailure(); // nothing runs between the failed copy and this
        LOG_ERRCODE(E_FAIL);
        hr = E_FAIL;
    }

    ZIVOUserInfoManager::releaseUsers();
    return hr;
}

std::wstring _getCurDateTime()
{
    SYSTEMTIME stNow;
    GetLocalTime(&stNow);
    wchar_t szDateTime[100] = {};
    const int n = GetDateFormatW(LOCALE_USER_DEFAULT, 0, &stNow, L"yyyy-MM-dd ", szDateTime, 100);
    // The time goes where the date's terminator is, or at the start.
    const int nTime = n > 0 ? n - 1 : 0;
    (void)GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &stNow, L"HH-mm-ss", szDateTime + nTime, 100 - nTime);
    TRACE_VAR(szDateTime);
    return szDateTime;
}

const wchar_t* getLastErrorText()
{
    const DWORD dwError = GetLastError();
    std::wstring& strText = lastErrorText();
    if (dwError == 0 || FAILED(formatErrorText(dwError, strText))) strText.clear();
    const size_t nLineFeed = strText.rfind(L'\n');
    if (nLineFeed != std::wstring::npos) strText.erase(nLineFeed);
    return strText.c_str();
}

HRESULT formatErrorText(DWORD dwCode, std::wstring& strText)
{
    wchar_t* szBuffer = NULL;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                             NULL, dwCode, 0, reinterpret_cast<LPWSTR>(&szBuffer), 0, NULL);
    if (n == 0) {
        // Network errors have their texts in netmsg.dll; loaded as data only.
        UniqueModule netMsg(LoadLibraryExW(L"netmsg.dll", NULL, DONT_RESOLVE_DLL_REFERENCES));
        if (!netMsg) return E_FAIL;
        n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                               FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           netMsg.get(), dwCode, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                           reinterpret_cast<LPWSTR>(&szBuffer), 0, NULL);
        if (n == 0) return E_FAIL;
    }
    if (szBuffer == NULL) return E_FAIL;
    strText.assign(szBuffer);
    LocalFree(szBuffer);
    return S_OK;
}
