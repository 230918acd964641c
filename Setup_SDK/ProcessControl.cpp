#include "ProcessControl.h"

#include <psapi.h>
#include <shellapi.h>

#include <cwchar>
#include <initializer_list>

#include "UniqueHandle.h"
#include "FixedText.h"
#include "SetupConstants.h"

namespace {

const DWORD kMaxProcessIds = 1024;
const DWORD kMaxModules = 1024;
const int kParameterChars = 200;
const wchar_t kExeSuffix[] = L".exe";

// Starts a program through the shell with no user interface of the shell's
// own: a program that cannot be started shows no error box, so a silent run
// never waits on one. The process handle when asked for and given.
UniqueHandle startProgram(const wchar_t* szFile, const wchar_t* szParameters, int nShow, bool bKeepProcess)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | (bKeepProcess ? SEE_MASK_NOCLOSEPROCESS : 0);
    info.lpVerb = VERB_OPEN;
    info.lpFile = szFile;
    info.lpParameters = szParameters;
    info.nShow = nShow;
    if (!ShellExecuteExW(&info)) return UniqueHandle();
    return UniqueHandle(info.hProcess);
}

bool programIn(UINT (WINAPI *folderOf)(LPWSTR, UINT), const wchar_t* szName, wchar_t (&szPath)[MAX_PATH])
{
    wchar_t szFolder[MAX_PATH] = {};
    const UINT nChars = folderOf(szFolder, MAX_PATH);
    if (nChars == 0 || nChars >= MAX_PATH) {
        szPath[0] = L'\0';
        return false;
    }
    return joinText(szPath, static_cast<const wchar_t*>(szFolder), L"\\", szName);
}

} // namespace

bool systemProgramPath(const wchar_t* szName, wchar_t (&szPath)[MAX_PATH])
{
    return programIn(GetSystemDirectoryW, szName, szPath);
}

bool windowsProgramPath(const wchar_t* szName, wchar_t (&szPath)[MAX_PATH])
{
    return programIn(GetWindowsDirectoryW, szName, szPath);
}

const wchar_t* baseNameOf(const wchar_t* szPath)
{
    const wchar_t* szSlash = wcsrchr(szPath, L'\\');
    return szSlash ? szSlash + 1 : szPath;
}

const wchar_t* productExecutableFor(const wchar_t* szBaseName)
{
    for (const wchar_t* szExe : {EXE_TRAY, EXE_VAULT, EXE_ENROLL, EXE_MAIN})
        if (wcscmp(szBaseName, szExe) == 0) return szExe;
    return nullptr;
}

bool buildRemoveParameters(int nMode, const wchar_t* szProductCode, wchar_t* szBuffer, std::size_t nCapacity)
{
    wmemset(szBuffer, L'\0', nCapacity);
    const wchar_t* szPrefix = nMode == 1 ? ARGS_MSI_QUIET_REMOVE : ARGS_MSI_PASSIVE_REMOVE;
    return appendText(szBuffer, nCapacity, szPrefix) && appendText(szBuffer, nCapacity, szProductCode);
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
    if (HWND hTray = FindWindowW(nullptr, WINDOW_TRAY)) SendMessageW(hTray, WM_CLOSE, 0, 0);

    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bFound = firstProcessEntry(snapshot.get(), &entry); bFound;
         bFound = nextProcessEntry(snapshot.get(), &entry)) {
        if (productExecutableFor(baseNameOf(entry.szExeFile))) terminateAndWait(entry.th32ProcessID);
    }
}

BOOL firstProcessEntry(HANDLE hSnapshot, PROCESSENTRY32W* pEntry)
{
    if (!Process32FirstW(hSnapshot, pEntry)) return FALSE;
    return pEntry->th32ProcessID != 0 ? TRUE : nextProcessEntry(hSnapshot, pEntry);
}

BOOL nextProcessEntry(HANDLE hSnapshot, PROCESSENTRY32W* pEntry)
{
    BOOL bFound = Process32NextW(hSnapshot, pEntry);
    while (bFound && pEntry->th32ProcessID == 0) bFound = Process32NextW(hSnapshot, pEntry);
    return bFound;
}

void terminateAndWait(DWORD dwProcessId)
{
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwProcessId));
    if (!process) return;
    if (TerminateProcess(process.get(), 0)) (void)WaitForSingleObject(process.get(), INFINITE);
}

DWORD findProcessByModulePath(const char* szSubstring)
{
    DWORD ids[kMaxProcessIds] = {};
    DWORD cbNeeded = 0;
    if (!EnumProcesses(ids, sizeof(ids), &cbNeeded)) return 0;
    const DWORD nIds = cbNeeded / sizeof(DWORD);
    for (DWORD i = 0; i < nIds && i < kMaxProcessIds; ++i) {
        UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
        if (!process) continue;
        HMODULE modules[kMaxModules] = {};
        DWORD cbModules = 0;
        char szPath[MAX_PATH] = {};
        if (!EnumProcessModules(process.get(), modules, sizeof(modules), &cbModules)) continue;
        if (!GetModuleFileNameExA(process.get(), modules[0], szPath, MAX_PATH)) continue;
        if (strstr(szPath, szSubstring)) return ids[i];
    }
    return 0;
}

void startAndWait(const wchar_t* szFile, const wchar_t* szParameters)
{
    const UniqueHandle process = startProgram(szFile, szParameters, SW_SHOWDEFAULT, true);
    if (process) (void)WaitForSingleObject(process.get(), INFINITE);
}

void removePackage(int nMode, const wchar_t* szProductCode)
{
    wchar_t szMsiExec[MAX_PATH];
    wchar_t szParameters[kParameterChars];
    if (systemProgramPath(EXE_MSIEXEC, szMsiExec) &&
        buildRemoveParameters(nMode, szProductCode, szParameters, kParameterChars))
        startAndWait(szMsiExec, szParameters);
}

void removeSubPackages(int nMode)
{
    for (const wchar_t* szCode : SUB_PRODUCT_CODES) removePackage(nMode, szCode);
}

void killShell()
{
    wchar_t szName[MAX_PATH];
    wchar_t szTaskkill[MAX_PATH];
    if (joinText(szName, EXE_TASKKILL, kExeSuffix) && systemProgramPath(szName, szTaskkill))
        (void)startProgram(szTaskkill, ARGS_TASKKILL_EXPLORER, SW_HIDE, false);
}

void startShell()
{
    wchar_t szExplorer[MAX_PATH];
    if (windowsProgramPath(EXE_EXPLORER, szExplorer)) (void)startProgram(szExplorer, nullptr, SW_HIDE, false);
}

void terminateShell()
{
    const DWORD dwShell = findProcessByModulePath(MODULE_EXPLORER);
    UniqueHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, dwShell));
    if (process) (void)TerminateProcess(process.get(), 0);
}
