#include "RootKeyFile.h"

#include "KeyCheck.h"

namespace {

// Enough for every backup a user could make in one clock second; past it
// the import stops rather than replace anything.
const int kMaxNameTries = 1000;

// Staging files carry the root key file's name and this ending.
const wchar_t kStagingSuffix[] = L".import";

bool isNameTaken(DWORD dwError)
{
    return dwError == ERROR_FILE_EXISTS || dwError == ERROR_ALREADY_EXISTS;
}

std::wstring numberedName(const std::wstring& strName, int nNumber)
{
    return nNumber == 1 ? strName : strName + L" (" + std::to_wstring(nNumber) + L")";
}

} // namespace

std::wstring fileSystemPath(const std::wstring& strPath)
{
    // Room for the longest name a file operation may add to a folder path.
    if (strPath.size() < MAX_PATH - 12) return strPath;
    const bool bDrive = strPath.size() >= 3 && strPath[1] == L':' && strPath[2] == L'\\';
    const bool bShare = strPath.compare(0, 2, L"\\\\") == 0 && strPath.compare(0, 4, L"\\\\?\\") != 0 &&
                        strPath.compare(0, 4, L"\\\\.\\") != 0;
    if (!bDrive && !bShare) return strPath; // already extended, or relative
    // The extended form takes the path literally: resolve "." and "..".
    const DWORD nChars = GetFullPathNameW(strPath.c_str(), 0, NULL, NULL);
    if (nChars == 0) return strPath;
    std::wstring strFull(nChars, L'\0');
    const DWORD nWritten = GetFullPathNameW(strPath.c_str(), nChars, &strFull[0], NULL);
    if (nWritten == 0 || nWritten >= nChars) return strPath;
    strFull.resize(nWritten);
    return bDrive ? L"\\\\?\\" + strFull : L"\\\\?\\UNC\\" + strFull.substr(2);
}

DWORD copyToFreeName(const std::wstring& strFrom, const std::wstring& strName, std::wstring& strUsed)
{
    const std::wstring strSource = fileSystemPath(strFrom);
    DWORD dwError = ERROR_FILE_EXISTS;
    for (int nNumber = 1; nNumber <= kMaxNameTries && isNameTaken(dwError); ++nNumber) {
        const std::wstring strCandidate = numberedName(strName, nNumber);
        if (CopyFileW(strSource.c_str(), fileSystemPath(strCandidate).c_str(), TRUE)) {
            strUsed = strCandidate;
            return ERROR_SUCCESS;
        }
        dwError = GetLastError();
    }
    strUsed.clear();
    return dwError != ERROR_SUCCESS ? dwError : ERROR_GEN_FAILURE;
}

bool isMissingFileError(DWORD dwError)
{
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}

KeyInstall installKey(const std::wstring& strNewKeyPath, const std::wstring& strRootKeyPath)
{
    std::wstring strStaged;
    const DWORD dwCopy = copyToFreeName(strNewKeyPath, strRootKeyPath + kStagingSuffix, strStaged);
    if (dwCopy != ERROR_SUCCESS) return {KeyInstallResult::Failed, dwCopy};

    const std::wstring strStagedPath = fileSystemPath(strStaged);
    // Checked again as it now lies beside the root key: a file changed or
    // swapped since the dialog's check is caught here.
    if (!isUsableKeyFile(strStagedPath)) {
        (void)DeleteFileW(strStagedPath.c_str());
        return {KeyInstallResult::Rejected, ERROR_SUCCESS};
    }
    if (!MoveFileExW(strStagedPath.c_str(), fileSystemPath(strRootKeyPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD dwError = GetLastError();
        (void)DeleteFileW(strStagedPath.c_str());
        return {KeyInstallResult::Failed, dwError != ERROR_SUCCESS ? dwError : ERROR_GEN_FAILURE};
    }
    return {KeyInstallResult::Installed, ERROR_SUCCESS};
}
