#include "ProcessControl.h"

#include <psapi.h>
#include <shellapi.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cwchar>
#include <initializer_list>
#include <vector>

#include "FixedText.h"
#include "OutsideValues.h"
#include "SetupConstants.h"
#include "UniqueHandle.h"
#include "WinError.h"

namespace {

const int kParameterChars = 200;
const wchar_t kExeSuffix[] = L".exe";

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

// Every process id the system lists now; as many as there are, not a
// fixed number (a Remote Desktop server runs thousands).
std::vector<DWORD> processIds()
{
    std::vector<DWORD> ids(1024);
    for (;;) {
        DWORD bytes = 0;
        const DWORD capacity = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!EnumProcesses(ids.data(), capacity, &bytes)) return {};
        if (bytes < capacity) {
            ids.resize(bytes / sizeof(DWORD));
            return ids;
        }
        ids.resize(ids.size() * 2);
    }
}

// A product program's process, held open by its id.
struct ProductProcess {
    DWORD id;
    UniqueHandle handle;
};

// The process, opened to be ended, when its image is a product executable;
// empty otherwise.
UniqueHandle openIfProduct(DWORD id)
{
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    wchar_t image[MAX_PATH];
    if (!process || !processImagePath(process.get(), image) || !productExecutableFor(baseNameOf(image)))
        return UniqueHandle();
    return process;
}

DWORD msLeft(ULONGLONG deadline)
{
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// Top-level windows titled as the tray's whose process is the product's
// tray program. Collected first: nothing is sent from inside the walk.
BOOL CALLBACK noteTrayWindow(HWND window, LPARAM found)
{
    wchar_t title[sizeof(WINDOW_TRAY) / sizeof(wchar_t) + 1] = {};
    if (GetWindowTextW(window, title, static_cast<int>(sizeof(title) / sizeof(wchar_t))) <= 0 ||
        wcscmp(title, WINDOW_TRAY) != 0)
        return TRUE;
    DWORD id = 0;
    (void)GetWindowThreadProcessId(window, &id);
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    wchar_t image[MAX_PATH];
    if (process && processImagePath(process.get(), image) && wcscmp(baseNameOf(image), EXE_TRAY) == 0)
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

// Whether the window's program is the install folder's tray program.
bool isInstalledTray(HWND window, const wchar_t* installedTray)
{
    DWORD id = 0;
    (void)GetWindowThreadProcessId(window, &id);
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    wchar_t image[MAX_PATH];
    return installedTray[0] != L'\0' && process && processImagePath(process.get(), image) &&
           CompareStringOrdinal(image, -1, installedTray, -1, TRUE) == CSTR_EQUAL;
}

// The tray program is asked first, so it can put its things away: the
// install folder's own tray before any other program of that name, which
// could otherwise use up the time. A window that does not answer in time,
// or hangs, is passed over; all of them together wait at most kTrayAnswerMs.
void closeTrayWindows()
{
    std::vector<HWND> windows;
    (void)EnumWindows(noteTrayWindow, reinterpret_cast<LPARAM>(&windows));
    wchar_t folder[kRegistryTextChars];
    wchar_t installedTray[MAX_PATH] = {};
    if (readInstallFolder(folder) != PathValue::Usable || !joinText(installedTray, static_cast<const wchar_t*>(folder), EXE_TRAY))
        installedTray[0] = L'\0';
    (void)std::stable_partition(windows.begin(), windows.end(),
                                [&](HWND window) { return isInstalledTray(window, installedTray); });
    const ULONGLONG deadline = GetTickCount64() + kTrayAnswerMs;
    for (HWND window : windows) {
        const DWORD left = msLeft(deadline);
        if (left == 0) break;
        DWORD_PTR ignored = 0;
        (void)SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, left, &ignored);
    }
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
    if (appendText(buffer, capacity, prefix) && appendText(buffer, capacity, productCode) &&
        appendText(buffer, capacity, ARGS_MSI_NO_RESTART))
        return true;
    wmemset(buffer, L'\0', capacity);
    return false;
}

bool buildShellKillParameters(DWORD session, wchar_t* buffer, std::size_t capacity)
{
    wmemset(buffer, L'\0', capacity);
    wchar_t number[11] = {};
    (void)wsprintfW(number, L"%lu", session);
    if (appendText(buffer, capacity, ARGS_TASKKILL_EXPLORER) && appendText(buffer, capacity, ARGS_TASKKILL_SESSION) &&
        appendText(buffer, capacity, number) && appendText(buffer, capacity, ARGS_TASKKILL_SESSION_END))
        return true;
    wmemset(buffer, L'\0', capacity);
    return false;
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
    closeTrayWindows();

    // The product's processes are opened, and their images checked, before
    // the snapshot that picks them: a handle keeps its process id from
    // being used again, so the process ended is the one the snapshot names.
    std::vector<ProductProcess> held;
    for (DWORD id : processIds())
        if (id != 0)
            if (UniqueHandle process = openIfProduct(id)) held.push_back({id, std::move(process)});
    if (held.empty()) return;

    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    // One limit for the whole step: a process that does not end stops
    // nothing after it.
    const ULONGLONG deadline = GetTickCount64() + kTerminationWaitMs;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL found = firstProcessEntry(snapshot.get(), &entry); found; found = nextProcessEntry(snapshot.get(), &entry)) {
        if (!productExecutableFor(baseNameOf(entry.szExeFile))) continue;
        for (ProductProcess& product : held) {
            if (product.id != entry.th32ProcessID || !product.handle) continue;
            if (TerminateProcess(product.handle.get(), 0))
                (void)WaitForSingleObject(product.handle.get(), msLeft(deadline));
            product.handle.reset();
        }
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

DWORD ownSession()
{
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0;
}

bool processImagePath(HANDLE process, wchar_t (&path)[MAX_PATH])
{
    wmemset(path, L'\0', MAX_PATH);
    DWORD chars = MAX_PATH;
    if (QueryFullProcessImageNameW(process, 0, path, &chars) && chars > 0 && chars < MAX_PATH) return true;
    path[0] = L'\0';
    return false;
}

bool isWindowsFolderProgram(const wchar_t* path, const wchar_t* windowsFolder, const wchar_t* name)
{
    std::size_t folderChars = wcslen(windowsFolder);
    if (folderChars > 0 && windowsFolder[folderChars - 1] == L'\\') --folderChars; // "C:\" as the Windows folder
    if (folderChars == 0 || wcslen(path) != folderChars + 1 + wcslen(name) || path[folderChars] != L'\\') return false;
    return CompareStringOrdinal(path, static_cast<int>(folderChars), windowsFolder, static_cast<int>(folderChars), TRUE) ==
               CSTR_EQUAL &&
           CompareStringOrdinal(path + folderChars + 1, -1, name, -1, TRUE) == CSTR_EQUAL;
}

UniqueHandle findSessionShell(DWORD access)
{
    wchar_t windowsFolder[MAX_PATH] = {};
    const UINT folderChars = GetWindowsDirectoryW(windowsFolder, MAX_PATH);
    if (folderChars == 0 || folderChars >= MAX_PATH) return UniqueHandle();
    const DWORD session = ownSession();
    for (DWORD id : processIds()) {
        if (id == 0) continue;
        UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | access, FALSE, id));
        // Asked while the handle is open, which keeps the id from naming
        // another process meanwhile.
        DWORD processSession = 0;
        wchar_t image[MAX_PATH];
        if (!process || !ProcessIdToSessionId(id, &processSession) || processSession != session ||
            !processImagePath(process.get(), image))
            continue;
        if (isWindowsFolderProgram(image, windowsFolder, EXE_EXPLORER)) return process;
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
    wchar_t parameters[kParameterChars];
    if (joinText(name, EXE_TASKKILL, kExeSuffix) && systemProgramPath(name, taskkill) &&
        buildShellKillParameters(ownSession(), parameters, kParameterChars))
        (void)startProgram(taskkill, parameters, SW_HIDE, false);
}

UniqueHandle sessionUserToken()
{
    UniqueHandle token;
    const UniqueHandle shell = findSessionShell(0);
    UniqueHandle shellToken;
    if (shell && OpenProcessToken(shell.get(), TOKEN_DUPLICATE | TOKEN_QUERY, shellToken.put()) &&
        DuplicateTokenEx(shellToken.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, token.put()))
        return token;
    token.reset();
    // As SYSTEM in a user's session: that session's user.
    HANDLE user = nullptr;
    if (WTSQueryUserToken(ownSession(), &user)) token.reset(user);
    return token;
}

bool startShellAs(HANDLE userToken)
{
    wchar_t explorer[MAX_PATH];
    if (!userToken || !windowsProgramPath(EXE_EXPLORER, explorer)) return false;
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, userToken, FALSE)) environment = nullptr;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = const_cast<LPWSTR>(L"winsta0\\default");
    PROCESS_INFORMATION started = {};
    const DWORD flags = environment ? CREATE_UNICODE_ENVIRONMENT : 0;
    const bool ok = CreateProcessAsUserW(userToken, explorer, nullptr, nullptr, nullptr, FALSE, flags, environment,
                                         nullptr, &startup, &started) ||
                    CreateProcessWithTokenW(userToken, 0, explorer, nullptr, flags, environment, nullptr, &startup,
                                            &started);
    if (environment) (void)DestroyEnvironmentBlock(environment);
    if (!ok) return false;
    (void)CloseHandle(started.hThread);
    (void)CloseHandle(started.hProcess);
    return true;
}

namespace {

// The account a token runs as.
bool tokenUser(HANDLE token, std::vector<BYTE>& user)
{
    DWORD bytes = 0;
    (void)GetTokenInformation(token, TokenUser, nullptr, 0, &bytes);
    if (bytes == 0) return false;
    user.assign(bytes, 0);
    return GetTokenInformation(token, TokenUser, user.data(), bytes, &bytes) != FALSE;
}

bool sameUser(const std::vector<BYTE>& a, const std::vector<BYTE>& b)
{
    return EqualSid(reinterpret_cast<const TOKEN_USER*>(a.data())->User.Sid,
                    reinterpret_cast<const TOKEN_USER*>(b.data())->User.Sid) != FALSE;
}

} // namespace

void terminateForeignShells(HANDLE userToken)
{
    std::vector<BYTE> user;
    if (!userToken || !tokenUser(userToken, user)) return;
    wchar_t windowsFolder[MAX_PATH] = {};
    const UINT folderChars = GetWindowsDirectoryW(windowsFolder, MAX_PATH);
    if (folderChars == 0 || folderChars >= MAX_PATH) return;
    const DWORD session = ownSession();
    for (DWORD id : processIds()) {
        // Through the handle whose path and account were checked: a process
        // id found once and opened again could name another process by then.
        UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id));
        DWORD processSession = 0;
        wchar_t image[MAX_PATH];
        UniqueHandle token;
        std::vector<BYTE> runsAs;
        if (id == 0 || !process || !ProcessIdToSessionId(id, &processSession) || processSession != session ||
            !processImagePath(process.get(), image) || !isWindowsFolderProgram(image, windowsFolder, EXE_EXPLORER) ||
            !OpenProcessToken(process.get(), TOKEN_QUERY, token.put()) || !tokenUser(token.get(), runsAs))
            continue;
        if (!sameUser(runsAs, user)) (void)TerminateProcess(process.get(), 0);
    }
}

