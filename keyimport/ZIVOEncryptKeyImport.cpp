#include "ZIVOEncryptKeyImport.h"

#include "UniqueHandle.h"
#include "DbgLog.h"
#include "ImportDlg.h"
#include "RootKeyFile.h"
#include "ZIVOCommon.h"
#include "common/HvnMsgBox.h"
#include "resource.h"

namespace {

std::wstring& lastErrorText()
{
    static std::wstring s_strText;
    return s_strText;
}

// The text of a Windows error, cut at its last line feed; empty when the
// code is 0 or has no text. Valid until the next call.
const wchar_t* errorText(DWORD dwError)
{
    std::wstring& strText = lastErrorText();
    if (dwError == 0 || FAILED(formatErrorText(dwError, strText))) strText.clear();
    const size_t nLineFeed = strText.rfind(L'\n');
    if (nLineFeed != std::wstring::npos) strText.erase(nLineFeed);
    return strText.c_str();
}

// The system's text for the failure, or text 203 when it has none.
void showFailure(DWORD dwError)
{
    const wchar_t* szError = errorText(dwError);
    if (szError[0] != L'\0')
        hvnMsgBox(szError, IDS_PRODUCT_NAME, MB_ICONERROR);
    else
        hvnMsgBox(IDS_IMPORT_FAILED, IDS_PRODUCT_NAME, MB_ICONERROR);
}

HRESULT failureCode(DWORD dwError)
{
    return dwError != 0 ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
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

    // The backup takes the first free name and never replaces an earlier
    // one, whatever the clock says.
    std::wstring strBackupPath;
    const DWORD dwBackup = copyToFreeName(strRootKeyPath, strRootKeyPath + L" " + _getCurDateTime(), strBackupPath);
    if (dwBackup != ERROR_SUCCESS) {
        LOG_ERRCODE(HRESULT_FROM_WIN32(dwBackup));
        // Only a root key that does not exist has nothing to lose.
        if (!isMissingFileError(dwBackup)) {
            showFailure(dwBackup);
            ZIVOUserInfoManager::releaseUsers();
            return failureCode(dwBackup);
        }
    }

    const KeyInstall install = installKey(strNewKeyPath, strRootKeyPath);
    switch (install.result) {
    case KeyInstallResult::Installed:
        hvnMsgBox(IDS_IMPORT_SUCCEEDED, IDS_PRODUCT_NAME, MB_ICONINFORMATION);
        hr = S_OK;
        break;
    case KeyInstallResult::Rejected:
        hvnMsgBox(IDS_INVALID_KEY, IDS_PRODUCT_NAME, MB_ICONERROR);
        LOG_ERRCODE(E_FAIL);
        hr = E_FAIL;
        break;
    case KeyInstallResult::Failed:
        showFailure(install.dwError);
        LOG_ERRCODE(E_FAIL);
        hr = E_FAIL;
        break;
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
    return errorText(GetLastError());
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
