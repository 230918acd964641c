#include "RootKeyFile.h"

#include "KeyCheck.h"

namespace {

// Enough for every backup a user could make in one clock second; past it
// the import stops rather than replace anything.
const int kMaxNameTries = 1000;

// Staging files carry the root key file's name and this ending.
const wchar_t kStagingSuffix[] = L".import";

bool isNameTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// "name", "name (2)", "name (3)", ... The digits are written by hand: the
// runtime's number formatting would add its whole printf engine.
std::wstring numberedName(const std::wstring& name, int number)
{
    if (number == 1) return name;
    std::wstring digits;
    for (int rest = number; rest > 0; rest /= 10) digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + rest % 10));
    return name + L" (" + digits + L")";
}

} // namespace

std::wstring fileSystemPath(const std::wstring& path)
{
    // Room for the longest name a file operation may add to a folder path.
    if (path.size() < MAX_PATH - 12) return path;
    const bool onDrive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    const bool onShare = path.compare(0, 2, L"\\\\") == 0 && path.compare(0, 4, L"\\\\?\\") != 0 &&
                         path.compare(0, 4, L"\\\\.\\") != 0;
    if (!onDrive && !onShare) return path; // already extended, or relative
    // The extended form takes the path literally: resolve "." and "..".
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, NULL, NULL);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, &full[0], NULL);
    if (written == 0 || written >= needed) return path;
    full.resize(written);
    return onDrive ? L"\\\\?\\" + full : L"\\\\?\\UNC\\" + full.substr(2);
}

DWORD copyToFreeName(const std::wstring& from, const std::wstring& name, std::wstring& used)
{
    const std::wstring source = fileSystemPath(from);
    DWORD error = ERROR_FILE_EXISTS;
    for (int number = 1; number <= kMaxNameTries && isNameTaken(error); ++number) {
        const std::wstring candidate = numberedName(name, number);
        if (CopyFileW(source.c_str(), fileSystemPath(candidate).c_str(), TRUE)) {
            used = candidate;
            return ERROR_SUCCESS;
        }
        error = GetLastError();
    }
    used.clear();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

bool isMissingFileError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

KeyInstall installKey(const std::wstring& newKeyPath, const std::wstring& rootKeyPath)
{
    std::wstring staged;
    const DWORD copyError = copyToFreeName(newKeyPath, rootKeyPath + kStagingSuffix, staged);
    if (copyError != ERROR_SUCCESS) return {KeyInstallResult::Failed, copyError};

    const std::wstring stagedPath = fileSystemPath(staged);
    // Checked again as it now lies beside the root key: a file changed or
    // swapped since the dialog's check is caught here.
    if (!isUsableKeyFile(stagedPath)) {
        (void)DeleteFileW(stagedPath.c_str());
        return {KeyInstallResult::Rejected, ERROR_SUCCESS};
    }
    if (!MoveFileExW(stagedPath.c_str(), fileSystemPath(rootKeyPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveError = GetLastError();
        (void)DeleteFileW(stagedPath.c_str());
        return {KeyInstallResult::Failed, moveError != ERROR_SUCCESS ? moveError : ERROR_GEN_FAILURE};
    }
    return {KeyInstallResult::Installed, ERROR_SUCCESS};
}
