// Stands in for the programs the uninstaller starts or stops. What it does
// depends on the name it is copied under; each start is recorded as a line
// "name|arguments|detail|creation time" in the file named by RECORDER_LOG.
// Programs the uninstaller starts record the path they were started from.
// Programs that are not waited for may write late: the creation time gives
// the order in which they were started.
#include <windows.h>
#include <msi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring g_name;

std::wstring ownPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// The command line after the program's own name, as it came.
std::wstring arguments()
{
    const wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        for (++p; *p && *p != L'"'; ++p) {}
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    if (*p == L' ') ++p; // the one blank that separates it
    return p;
}

void record(const std::wstring& detail)
{
    wchar_t logPath[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"RECORDER_LOG", logPath, MAX_PATH)) return;
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const unsigned long long createdAt = (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    const std::wstring line = g_name + L"|" + arguments() + L"|" + detail + L"|" + std::to_wstring(createdAt) + L"\n";
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &bytes[0], n, nullptr, nullptr);
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size() - 1), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

int runningProducts()
{
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
        const std::wstring name = entry.szExeFile;
        const std::wstring base = name.substr(name.find_last_of(L'\\') + 1);
        if (base == L"ZIVOVault.exe" || base == L"ZIVOMain.exe" || base == L"ZIVOEnroll.exe") ++count;
    }
    CloseHandle(snapshot);
    return count;
}

LRESULT CALLBACK trayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        // Stays open: the uninstaller terminates it afterwards. A slow one
        // (RECORDER_SLOW, milliseconds) takes that long to answer.
        wchar_t slow[16] = {};
        if (GetEnvironmentVariableW(L"RECORDER_SLOW", slow, 16)) {
            Sleep(static_cast<DWORD>(_wtoi(slow)));
            record(L"WM_CLOSE slow");
            return 0;
        }
        record(L"WM_CLOSE others=" + std::to_wstring(runningProducts()));
        return 0;
    }
    if (message == WM_TIMER) PostQuitMessage(7);
    return DefWindowProcW(window, message, wParam, lParam);
}

int tray(HINSTANCE instance)
{
    WNDCLASSW cls{};
    cls.lpfnWndProc = trayProc;
    cls.hInstance = instance;
    cls.lpszClassName = L"RecorderTray";
    RegisterClassW(&cls);
    HWND window = CreateWindowW(L"RecorderTray", L"ZIVOTray", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, instance,
                                nullptr);
    SetTimer(window, 1, 60000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 7;
}

// The product code after "/X ", up to the next blank; empty when there is none.
std::wstring productCode()
{
    const std::wstring args = arguments();
    const size_t x = args.find(L"/X ");
    if (x == std::wstring::npos) return {};
    return args.substr(x + 3, args.find(L' ', x + 3) - (x + 3));
}

// Carries out "/X {code}" through the Windows Installer itself, as
// msiexec would: the recorder stands where msiexec is found.
int removeForReal()
{
    const std::wstring code = productCode();
    if (code.empty()) return 1639; // invalid command line
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    return static_cast<int>(MsiConfigureProductW(code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT));
}

// The exit code the test asks for this removal, by product code:
// RECORDER_MSI_EXITS holds "{code}=number" pairs joined by ";". -1 for a
// code it does not name.
int chosenExitCode()
{
    wchar_t chosen[2048] = {};
    if (!GetEnvironmentVariableW(L"RECORDER_MSI_EXITS", chosen, 2048)) return -1;
    const std::wstring code = productCode();
    if (code.empty()) return -1;
    const std::wstring key = code + L"=";
    const std::wstring pairs = std::wstring(L";") + chosen;
    const size_t at = pairs.find(L";" + key);
    return at == std::wstring::npos ? -1 : _wtoi(pairs.c_str() + at + 1 + key.size());
}

// Owns a window titled as the tray's and never answers it: no message loop,
// until the test lets it go (event KIT_RELEASE_HUNG_TRAY) or ends it, a
// minute at most.
int hungTray(HINSTANCE instance)
{
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"KIT_RELEASE_HUNG_TRAY");
    CreateWindowW(L"STATIC", L"ZIVOTray", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
    WaitForSingleObject(release, 60000);
    CloseHandle(release);
    return 7;
}

// Rewrites its own entry in the loader's module list to claim the Windows
// folder's explorer.exe, as any program can; then it runs as a product
// program does, until it is ended.
int fakeShell()
{
    static wchar_t claimed[MAX_PATH] = {};
    const UINT chars = GetWindowsDirectoryW(claimed, MAX_PATH - 14);
    if (chars == 0 || chars >= MAX_PATH - 14) return 1;
    lstrcatW(claimed, L"\\explorer.exe");
    PROCESS_BASIC_INFORMATION basic = {};
    if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) < 0) return 1;
    LIST_ENTRY* first = basic.PebBaseAddress->Ldr->InMemoryOrderModuleList.Flink;
    auto* self = CONTAINING_RECORD(first, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
    const USHORT bytes = static_cast<USHORT>(lstrlenW(claimed) * sizeof(wchar_t));
    self->FullDllName.Buffer = claimed;
    self->FullDllName.Length = bytes;
    self->FullDllName.MaximumLength = bytes + sizeof(wchar_t);
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    const std::wstring path = ownPath();
    g_name = path.substr(path.find_last_of(L'\\') + 1);
    std::wstring lower = g_name;
    CharLowerW(&lower[0]);

    if (lower == L"msiexec.exe") {
        record(L"path=" + path);
        // A chosen code, else the removal for real when asked, else 1605
        // (not installed).
        const int chosen = chosenExitCode();
        if (chosen >= 0) return chosen;
        wchar_t pass[8] = {};
        return GetEnvironmentVariableW(L"RECORDER_REAL_MSIEXEC", pass, 8) ? removeForReal() : 1605;
    }
    if (lower == L"taskkill.exe") {
        record(L"path=" + path);
        return 0;
    }
    if (lower == L"zivoflash.exe") {
        HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, L"ZIVO_FLASH_EVENT");
        const bool signalled = event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
        if (event) CloseHandle(event);
        record(std::wstring(L"event=") + (event ? L"1" : L"0") + L" signalled=" + (signalled ? L"1" : L"0") +
               L" path=" + path);
        return 0;
    }
    if (lower == L"explorer.exe") {
        record(L"path=" + path);
        Sleep(60000);
        return 7;
    }
    // The tray's window in a product's own program, answering or hung
    // (RECORDER_HUNG); decoys of other programs with the tray's title.
    wchar_t hung[8] = {};
    if (g_name == L"ZIVOTray.exe") return GetEnvironmentVariableW(L"RECORDER_HUNG", hung, 8) ? hungTray(instance) : tray(instance);
    if (g_name == L"TrayDecoy.exe") return tray(instance);
    if (g_name == L"FakeShell.exe" && fakeShell() != 0) return 1;
    // A product program: runs until it is ended.
    Sleep(60000);
    return 7;
}
