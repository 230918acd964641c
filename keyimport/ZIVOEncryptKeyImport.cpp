#include "ZIVOEncryptKeyImport.h"

#include "DbgLog.h"
#include "ImportDlg.h"
#include "ImportLock.h"
#include "RootKeyFile.h"
#include "UniqueHandle.h"
#include "WinError.h"
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

// The key library's record of the logged-on user, given back once, however
// the import ends.
class LogonUserRecord {
public:
    LogonUserRecord() : m_user(ZIVOUserInfoManager::getCurrentLogonUser()) {}
    ~LogonUserRecord() { ZIVOUserInfoManager::releaseUsers(); }
    LogonUserRecord(const LogonUserRecord&) = delete;
    LogonUserRecord& operator=(const LogonUserRecord&) = delete;
    const ZIVOUserInfo* get() const { return m_user; }

private:
    ZIVOUserInfo* m_user;
};

// How an import that reached the root key ended, and the Windows code
// behind a failure.
enum class ImportResult { Imported, InvalidKey, ImportFailed, BackupFailed };

struct ImportOutcome {
    ImportResult result;
    DWORD error;
    DWORD recorded = ERROR_SUCCESS; // a failure on the way, recorded in the log before the message
};

// The one message for each outcome.
void report(const ImportOutcome& outcome)
{
    switch (outcome.result) {
    case ImportResult::Imported:
        hvnMsgBox(IDS_IMPORT_SUCCEEDED, IDS_PRODUCT_NAME, MB_ICONINFORMATION);
        return;
    case ImportResult::InvalidKey:
        hvnMsgBox(IDS_INVALID_KEY, IDS_PRODUCT_NAME, MB_ICONERROR);
        break;
    case ImportResult::ImportFailed:
    case ImportResult::BackupFailed:
        showFailure(outcome.error);
        break;
    }
}

// The one rule from an outcome to the result of the import.
HRESULT resultOf(const ImportOutcome& outcome)
{
    switch (outcome.result) {
    case ImportResult::Imported:
        return S_OK;
    case ImportResult::BackupFailed:
        return failureOf(outcome.error);
    default:
        return E_FAIL;
    }
}

// Backup and replacement under the lock; the messages come after it, so a
// second instance waits for this one's files, not for its user.
ImportOutcome importUnderLock(RootKeySite& site, const std::wstring& newKeyPath)
{
    // Read once, now that the library has accepted it: what is staged is
    // these bytes, and the file itself is never deleted or locked.
    KeyFileBytes chosen;
    DWORD error = readKeyFile(newKeyPath, chosen);
    if (error != ERROR_SUCCESS) return {ImportResult::ImportFailed, error};
    error = openRootKeyFolder(site);
    if (error != ERROR_SUCCESS) return {ImportResult::ImportFailed, error, error};
    const ImportLock lock(site, chosen.identity);
    if (lock.error() != ERROR_SUCCESS) return {ImportResult::ImportFailed, lock.error(), lock.error()};
    KeyFileBytes root;
    DWORD backupError = readRootKey(site, root);
    // A read-only root key cannot be replaced: refused before any backup,
    // so no try leaves one more behind.
    if (backupError == ERROR_SUCCESS && (root.basic.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return {ImportResult::ImportFailed, ERROR_ACCESS_DENIED};
    // An import ended half-way may have left its staging file.
    removeLeftoverStaging(site, chosen.identity);
    // The backup takes the first free name and never replaces an earlier
    // one, whatever the clock says.
    if (backupError == ERROR_SUCCESS) {
        std::wstring backupName;
        backupError = writeToFreeName(site.folderHandle, site.name + L" " + _getCurDateTime(), root.bytes,
                                      CopyKind::Backup, root.basic, backupName);
    }
    // Only a root key that does not exist has nothing to lose.
    if (backupError != ERROR_SUCCESS && !isMissingError(backupError))
        return {ImportResult::BackupFailed, backupError, backupError};
    const KeyInstall install = installKey(site, chosen, backupError == ERROR_SUCCESS ? &root : NULL);
    switch (install.result) {
    case KeyInstallResult::Installed:
        return {ImportResult::Imported, ERROR_SUCCESS, backupError};
    case KeyInstallResult::Rejected:
        return {ImportResult::InvalidKey, ERROR_SUCCESS, backupError};
    default:
        return {ImportResult::ImportFailed, install.error, backupError};
    }
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
    const LogonUserRecord user;
    if (user.get() == NULL) {
        LOG_ERRCODE(E_POINTER);
        return E_POINTER;
    }

    const std::wstring strRootKeyPath = getUserRootKeyFilePath(user.get()->userSid, user.get()->userName, L"");
    TRACE_VAR(strRootKeyPath.c_str());
    // An empty or relative path would put the backup and the staged key in
    // whatever the current folder is: nothing is touched.
    RootKeySite site;
    if (!makeRootKeySite(strRootKeyPath, site)) {
        hvnMsgBox(IDS_IMPORT_FAILED, IDS_PRODUCT_NAME, MB_ICONERROR);
        LOG_ERRCODE(E_FAIL);
        return E_FAIL;
    }
    const ImportOutcome outcome = importUnderLock(site, newKeyPath);
    if (outcome.recorded != ERROR_SUCCESS) LOG_ERRCODE(HRESULT_FROM_WIN32(outcome.recorded));
    report(outcome);
    if (outcome.result == ImportResult::InvalidKey || outcome.result == ImportResult::ImportFailed) LOG_ERRCODE(E_FAIL);
    return resultOf(outcome);
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
        // Network errors have their texts in netmsg.dll: loaded as data, and
        // from the system folder only (Windows 7 without the search-flags
        // update refuses the flag; the system folder is named then).
        UniqueModule netMsg(LoadLibraryExW(L"netmsg.dll", NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_SEARCH_SYSTEM32));
        wchar_t systemFolder[MAX_PATH] = {};
        const UINT folderChars = GetSystemDirectoryW(systemFolder, MAX_PATH);
        if (!netMsg && GetLastError() == ERROR_INVALID_PARAMETER && folderChars > 0 && folderChars < MAX_PATH - 12)
            netMsg.reset(LoadLibraryExW((std::wstring(systemFolder) + L"\\netmsg.dll").c_str(), NULL,
                                        LOAD_LIBRARY_AS_DATAFILE));
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
