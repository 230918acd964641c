#include "ProcessControl.h"

#include <psapi.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "FixedText.h"
#include "SetupConstants.h"
#include "UniqueHandle.h"

namespace {

const DWORD kMaxProcessIds = 1024;
const DWORD kMaxModules = 1024;
const int kParameterChars = 200;
const wchar_t kExeSuffix[] = L".exe";

// The last error of a failed call, which is never taken for success.
DWORD lastErrorOr(DWORD fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// Starts a program through the shell with no user interface of the shell's
// own: a program that cannot be started shows no error box, so a silent run
// never waits on one. The process handle when asked for and given; the
// start's error when the start failed, else 0.
UniqueHandle startProgram(const wchar_t* file, const wchar_t* parameters, int show, bool keepProcess,
                          DWORD* startError = nullptr)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | (keepProcess ? SEE_MASK_NOCLOSEPROCESS : 0);
    info.lpVerb = VERB_OPEN;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = show;
    if (!ShellExecuteExW(&info)) {
        if (startError) *startError = lastErrorOr(ERROR_GEN_FAILURE);
        return UniqueHandle();
    }
    if (startError) *startError = ERROR_SUCCESS;
    return UniqueHandle(info.hProcess);
}

bool programIn(UINT(WINAPI* folderOf)(LPWSTR, UINT), const wchar_t* name, wchar_t (&path)[MAX_PATH])
{
    wchar_t folder[MAX_PATH] = {};
    const UINT chars = folderOf(folder, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH) {
        path[0] = L'\0';
        return false;
    }
    return joinText(path, static_cast<const wchar_t*>(folder), L"\\", name);
}

} // namespace

bool systemProgramPath(const wchar_t* name, wchar_t (&path)[MAX_PATH])
{
    return programIn(GetSystemDirectoryW, name, path);
}

bool windowsProgramPath(const wchar_t* name, wchar_t (&path)[MAX_PATH])
{
    return programIn(GetWindowsDirectoryW, name, path);
}

const wchar_t* baseNameOf(const wchar_t* path)
{
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

const wchar_t* productExecutableFor(const wchar_t* baseName)
{
    for (const wchar_t* exe : {EXE_TRAY, EXE_VAULT, EXE_ENROLL, EXE_MAIN})
        if (wcscmp(baseName, exe) == 0) return exe;
    return nullptr;
}

bool buildRemoveParameters(int mode, const wchar_t* productCode, wchar_t* buffer, std::size_t capacity)
{
    wmemset(buffer, L'\0', capacity);
    const wchar_t* prefix = mode == 1 ? ARGS_MSI_QUIET_REMOVE : ARGS_MSI_PASSIVE_REMOVE;
    return appendText(buffer, capacity, prefix) && appendText(buffer, capacity, productCode);
}

void enableDebugPrivilege()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueW(nullptr, PRIVILEGE_DEBUG, &privileges.Privileges[0].Luid)) return;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    (void)AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

void stopProductProcesses()
{
    enableDebugPrivilege();
    // The tray program is asked first, so it can put its things away.
    // A window that does not answer in time, or hangs, is passed over.
    if (HWND tray = FindWindowW(nullptr, WINDOW_TRAY)) {
        DWORD_PTR ignored = 0;
        (void)SendMessageTimeoutW(tray, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kTrayAnswerMs, &ignored);
    }

    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL found = firstProcessEntry(snapshot.get(), &entry); found; found = nextProcessEntry(snapshot.get(), &entry)) {
        if (productExecutableFor(baseNameOf(entry.szExeFile))) terminateAndWait(entry.th32ProcessID);
    }
}

BOOL firstProcessEntry(HANDLE snapshot, PROCESSENTRY32W* entry)
{
    if (!Process32FirstW(snapshot, entry)) return FALSE;
    return entry->th32ProcessID != 0 ? TRUE : nextProcessEntry(snapshot, entry);
}

BOOL nextProcessEntry(HANDLE snapshot, PROCESSENTRY32W* entry)
{
    BOOL found = Process32NextW(snapshot, entry);
    while (found && entry->th32ProcessID == 0) found = Process32NextW(snapshot, entry);
    return found;
}

void terminateAndWait(DWORD processId)
{
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process) return;
    // Limited: a process that does not end stops nothing after it.
    if (TerminateProcess(process.get(), 0)) (void)WaitForSingleObject(process.get(), kTerminationWaitMs);
}

bool isWindowsFolderModule(const char* path, const char* windowsFolder, const char* moduleName)
{
    std::size_t folderChars = strlen(windowsFolder);
    if (folderChars > 0 && windowsFolder[folderChars - 1] == '\\') --folderChars; // "C:\" as the Windows folder
    if (folderChars == 0 || strlen(path) != folderChars + 1 + strlen(moduleName)) return false;
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(folderChars), windowsFolder,
                       static_cast<int>(folderChars)) != CSTR_EQUAL)
        return false;
    return path[folderChars] == '\\' && strcmp(path + folderChars + 1, moduleName) == 0;
}

UniqueHandle findProcessByModulePath(const char* moduleName, DWORD access)
{
    char windowsFolder[MAX_PATH] = {};
    const UINT folderChars = GetWindowsDirectoryA(windowsFolder, MAX_PATH);
    if (folderChars == 0 || folderChars >= MAX_PATH) return UniqueHandle();
    DWORD ids[kMaxProcessIds] = {};
    DWORD idBytes = 0;
    if (!EnumProcesses(ids, sizeof(ids), &idBytes)) return UniqueHandle();
    const DWORD idCount = idBytes / sizeof(DWORD);
    for (DWORD i = 0; i < idCount && i < kMaxProcessIds; ++i) {
        if (ids[i] == 0) continue;
        UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | access, FALSE, ids[i]));
        if (!process) continue;
        HMODULE modules[kMaxModules] = {};
        DWORD moduleBytes = 0;
        char path[MAX_PATH] = {};
        if (!EnumProcessModules(process.get(), modules, sizeof(modules), &moduleBytes)) continue;
        if (!GetModuleFileNameExA(process.get(), modules[0], path, MAX_PATH)) continue;
        if (isWindowsFolderModule(path, windowsFolder, moduleName)) return process;
    }
    return UniqueHandle();
}

DWORD startAndWait(const wchar_t* file, const wchar_t* parameters)
{
    DWORD startError = ERROR_SUCCESS;
    const UniqueHandle process = startProgram(file, parameters, SW_SHOWDEFAULT, true, &startError);
    if (startError != ERROR_SUCCESS) return startError;
    // Started without a process to wait on: its outcome cannot be known.
    if (!process) return ERROR_INVALID_HANDLE;
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return lastErrorOr(ERROR_GEN_FAILURE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) return lastErrorOr(ERROR_GEN_FAILURE);
    return exitCode;
}

DWORD removePackage(int mode, const wchar_t* productCode)
{
    wchar_t msiExec[MAX_PATH];
    wchar_t parameters[kParameterChars];
    if (!systemProgramPath(EXE_MSIEXEC, msiExec)) return ERROR_FILENAME_EXCED_RANGE;
    if (!buildRemoveParameters(mode, productCode, parameters, kParameterChars)) return ERROR_INSUFFICIENT_BUFFER;
    return startAndWait(msiExec, parameters);
}

void removeSubPackages(int mode, RemovalOutcome& outcome)
{
    for (const wchar_t* code : SUB_PRODUCT_CODES) outcome.add(removePackage(mode, code));
}

void killShell()
{
    wchar_t name[MAX_PATH];
    wchar_t taskkill[MAX_PATH];
    if (joinText(name, EXE_TASKKILL, kExeSuffix) && systemProgramPath(name, taskkill))
        (void)startProgram(taskkill, ARGS_TASKKILL_EXPLORER, SW_HIDE, false);
}

void startShell()
{
    wchar_t explorer[MAX_PATH];
    if (windowsProgramPath(EXE_EXPLORER, explorer)) (void)startProgram(explorer, nullptr, SW_HIDE, false);
}

void terminateShell()
{
    // Through the handle whose path was checked: a process id found once
    // and opened again could name another process by then.
    const UniqueHandle shell = findProcessByModulePath(MODULE_EXPLORER, PROCESS_TERMINATE);
    if (shell) (void)TerminateProcess(shell.get(), 0);
}
