#include "ZIVOEncryptKeyImport.h"

#include "DbgLog.h"
#include "ImportDlg.h"
#include "ImportLock.h"
#include "RootKeyFile.h"
#include "UniqueHandle.h"
#include "ZIVOCommon.h"
#include "common/HvnMsgBox.h"
#include "resource.h"

namespace {

std::wstring& lastErrorText()
{
    static std::wstring s_text;
    return s_text;
}

// The text of a Windows error, cut at its last line feed; empty when the
// code is 0 or has no text. Valid until the next call.
const wchar_t* errorText(DWORD code)
{
    std::wstring& text = lastErrorText();
    if (code == 0 || FAILED(formatErrorText(code, text))) text.clear();
    const size_t lineFeed = text.rfind(L'\n');
    if (lineFeed != std::wstring::npos) text.erase(lineFeed);
    return text.c_str();
}

// The system's text for the failure, or text 203 when it has none.
void showFailure(DWORD code)
{
    const wchar_t* text = errorText(code);
    if (text[0] != L'\0')
        hvnMsgBox(text, IDS_PRODUCT_NAME, MB_ICONERROR);
    else
        hvnMsgBox(IDS_IMPORT_FAILED, IDS_PRODUCT_NAME, MB_ICONERROR);
}

HRESULT failureOf(DWORD code)
{
    return code != 0 ? HRESULT_FROM_WIN32(code) : E_FAIL;
}

} // namespace

HRESULT _importKey()
{
    ImportDlg dlg;
    INT_PTR endCode = IDCANCEL;
    HRESULT hr = dlg.showModal(endCode);
    if (FAILED(hr)) {
        LOG_ERRCODE(hr);
        return hr;
    }
    if (endCode != IDOK) {
        LOG_ERRCODE(E_FAIL);
        return E_FAIL;
    }

    const std::wstring newKeyPath = dlg.getFilePath();
    ZIVOUserInfo* user = ZIVOUserInfoManager::getCurrentLogonUser();
    if (user == NULL) {
        LOG_ERRCODE(E_POINTER);
        ZIVOUserInfoManager::releaseUsers();
        return E_POINTER;
    }

    const std::wstring strRootKeyPath = getUserRootKeyFilePath(user->userSid, user->userName, L"");
    TRACE_VAR(strRootKeyPath.c_str());
    // An empty or relative path would put the backup and the staged key in
    // whatever the current folder is: nothing is touched.
    if (!isWholeAbsolutePath(strRootKeyPath)) {
        hvnMsgBox(IDS_IMPORT_FAILED, IDS_PRODUCT_NAME, MB_ICONERROR);
        LOG_ERRCODE(E_FAIL);
        ZIVOUserInfoManager::releaseUsers();
        return E_FAIL;
    }

    // Backup and replacement under the lock, the messages after it: a
    // second instance waits for this one's files, not for its user.
    DWORD backupError = ERROR_SUCCESS;
    KeyInstall install = {KeyInstallResult::Failed, ERROR_GEN_FAILURE};
    {
        const ImportLock lock(strRootKeyPath);
        const DWORD rootAttributes = GetFileAttributesW(fileSystemPath(strRootKeyPath).c_str());
        if (lock.error() != ERROR_SUCCESS) {
            install.error = lock.error();
            LOG_ERRCODE(HRESULT_FROM_WIN32(install.error));
        } else if (rootAttributes != INVALID_FILE_ATTRIBUTES && (rootAttributes & FILE_ATTRIBUTE_READONLY)) {
            // A read-only root key cannot be replaced: refused before any
            // backup, so no try leaves one more behind.
            install.error = ERROR_ACCESS_DENIED;
        } else {
            // An import ended half-way may have left its staging file.
            removeLeftoverStaging(strRootKeyPath);
            // The backup takes the first free name and never replaces an
            // earlier one, whatever the clock says.
            std::wstring backupPath;
            backupError = copyToFreeName(strRootKeyPath, strRootKeyPath + L" " + _getCurDateTime(), CopyKind::Backup,
                                         backupPath);
            if (backupError != ERROR_SUCCESS) LOG_ERRCODE(HRESULT_FROM_WIN32(backupError));
            // Only a root key that does not exist has nothing to lose.
            if (backupError == ERROR_SUCCESS || isMissingFileError(backupError))
                install = installKey(newKeyPath, strRootKeyPath, backupPath);
        }
    }
    if (backupError != ERROR_SUCCESS && !isMissingFileError(backupError)) {
        showFailure(backupError);
        ZIVOUserInfoManager::releaseUsers();
        return failureOf(backupError);
    }

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
        showFailure(install.error);
        LOG_ERRCODE(E_FAIL);
        hr = E_FAIL;
        break;
    }

    ZIVOUserInfoManager::releaseUsers();
    return hr;
}

std::wstring _getCurDateTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t szDateTime[100] = {};
    const int dateChars = GetDateFormatW(LOCALE_USER_DEFAULT, 0, &now, L"yyyy-MM-dd ", szDateTime, 100);
    // The time goes where the date's terminator is, or at the start.
    const int timeAt = dateChars > 0 ? dateChars - 1 : 0;
    (void)GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, L"HH-mm-ss", szDateTime + timeAt, 100 - timeAt);
    TRACE_VAR(szDateTime);
    return szDateTime;
}

const wchar_t* getLastErrorText()
{
    return errorText(GetLastError());
}

HRESULT formatErrorText(DWORD code, std::wstring& text)
{
    wchar_t* buffer = NULL;
    DWORD chars = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                 NULL, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, NULL);
    if (chars == 0) {
        // Network errors have their texts in netmsg.dll; loaded as data only.
        UniqueModule netMsg(LoadLibraryExW(L"netmsg.dll", NULL, DONT_RESOLVE_DLL_REFERENCES));
        if (!netMsg) return E_FAIL;
        chars = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                   FORMAT_MESSAGE_ALLOCATE_BUFFER,
                               netMsg.get(), code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                               reinterpret_cast<LPWSTR>(&buffer), 0, NULL);
        if (chars == 0) return E_FAIL;
    }
    if (buffer == NULL) return E_FAIL;
    text.assign(buffer);
    LocalFree(buffer);
    return S_OK;
}
