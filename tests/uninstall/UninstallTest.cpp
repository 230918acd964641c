// The real uninstaller against real Windows Installer packages and stand-in
// product programs. Recorder programs stand in the system folder for
// MsiExec.exe and taskkill.exe (the test runs with native overrides for
// them), in the install folder for the flash-memory program, and, planted,
// in the current folder and beside the uninstaller, where they must never
// run. The UninstallPlanted tests run without overrides, against the
// system's own programs.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "KitTest.h"

using namespace kittest;

namespace {

const std::wstring kProductKey = L"Software\\HALVERN\\ZIVO";
const std::wstring kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kEntryKey = kUninstallKey + L"ZIVO{24919A8D-2502-49CA-B37B-C348EE6E708C}";
const std::vector<std::wstring> kSubCodes = {
    L"{4CA564D7-4F81-4C2C-9429-6609A57D26A5}", L"{9B739684-14D2-447F-865E-28E21576139A}",
    L"{F9B424D4-51A1-40E0-8EB1-1B9097AF9811}", L"{897B5A9B-25C7-4C20-BD6A-C13EA4397A6A}",
    L"{3A041F1F-A2AC-4453-A057-829C89692083}", L"{67A0279B-3337-4BC2-AA79-56C802EAA72F}",
    L"{343C5F9C-35D1-4F4B-A04B-BF246FA1A19C}", L"{9815A65A-DD46-44B9-A088-819C3D10C058}",
    L"{79910CD7-CD3A-415F-9CE5-A178A44EB618}", L"{43f6bc7b-7cd0-464c-bbad-5b25a5e89027}"};
const std::wstring kMainCode = L"{1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A}";

struct Record {
    std::string name, args, detail;
    unsigned long long created;
};

std::wstring upper(std::wstring text)
{
    CharUpperW(&text[0]);
    return text;
}

std::string lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::wstring systemFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

std::wstring windowsFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetWindowsDirectoryW(path, MAX_PATH);
    return path;
}

// Recorders in place of the system's msiexec.exe and taskkill.exe and the
// Windows folder's explorer.exe for the life of the object; the originals
// are put back afterwards. The shell is a program of its own: Wine names
// the image of its built-in explorer.exe after the system folder's copy,
// which its desktop runs, where Windows names the file started.
class SystemRecorders {
public:
    explicit SystemRecorders(Where where = {})
    {
        const ::testing::ScopedTrace trace(where.file, where.line, "SystemRecorders");
        ++s_active;
        for (const std::wstring& path :
             {systemFolder() + L"\\msiexec.exe", systemFolder() + L"\\taskkill.exe", windowsFolder() + L"\\explorer.exe"}) {
            EXPECT_TRUE(MoveFileExW(path.c_str(), (path + L".kit-original").c_str(), MOVEFILE_REPLACE_EXISTING));
            EXPECT_TRUE(copyTo(selfDir() + L"Recorder.exe", path));
            m_paths.push_back(path);
        }
    }
    // While recorders stand in, the uninstaller runs the shell's recorder
    // in place of Wine's built-in explorer.exe.
    static bool active() { return s_active > 0; }

    ~SystemRecorders()
    {
        --s_active;
        for (const std::wstring& path : m_paths)
            MoveFileExW((path + L".kit-original").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }

private:
    static inline int s_active = 0;
    std::vector<std::wstring> m_paths;
};

// Processes whose image is explorer.exe: the shell, Wine's desktop among them.
std::vector<DWORD> shellProcesses()
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"explorer.exe") == 0) ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

DWORD ownSession()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

// Top-level windows titled as the tray's, whoever owns them.
int trayWindows()
{
    int count = 0;
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            wchar_t title[16] = {};
            GetWindowTextW(window, title, 16);
            if (wcscmp(title, L"ZIVOTray") == 0) ++*reinterpret_cast<int*>(param);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

// What a process's own loader list says its program is.
std::wstring loaderPathOf(const Process& p)
{
    wchar_t path[MAX_PATH] = {};
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, p.pid);
    if (process) {
        GetModuleFileNameExW(process, nullptr, path, MAX_PATH);
        CloseHandle(process);
    }
    return path;
}

// Watches a process for visible top-level windows while it runs. Each one
// is noted and closed, so a run that would wait on it goes on.
class WindowWatch {
public:
    explicit WindowWatch(DWORD pid) : m_pid(pid)
    {
        m_thread = std::thread([this] {
            while (!m_stop) {
                EnumWindows(note, reinterpret_cast<LPARAM>(this));
                pollPause();
            }
        });
    }
    ~WindowWatch() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    std::vector<std::wstring> seen() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    static BOOL CALLBACK note(HWND window, LPARAM param)
    {
        WindowWatch& self = *reinterpret_cast<WindowWatch*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != self.m_pid || !IsWindowVisible(window)) return TRUE;
        wchar_t text[256] = {};
        GetWindowTextW(window, text, 256);
        {
            std::lock_guard<std::mutex> lock(self.m_mutex);
            self.m_seen.push_back(text);
        }
        PostMessageW(window, WM_COMMAND, IDOK, 0);
        PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    }

    DWORD m_pid;
    mutable std::mutex m_mutex;
    std::vector<std::wstring> m_seen;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class UninstallRun {
public:
    explicit UninstallRun(const std::wstring& name, Where where = {}) : m_dir(name)
    {
        const ::testing::ScopedTrace trace(where.file, where.line, "UninstallRun");
        for (const wchar_t* folder :
             {L"prog", L"install", L"products", L"other", L"cwd\\install", L"lookalike\\explorer.exe"})
            makeDirs(m_dir / folder);
        const std::wstring recorder = selfDir() + L"Recorder.exe";
        EXPECT_TRUE(copyTo(binDir() + L"Uninstall.exe", m_dir / L"prog\\Uninstall.exe"));
        // Planted beside the uninstaller and in its current folder: the
        // names a bare-name start would find first.
        for (const wchar_t* name :
             {L"prog\\MsiExec.exe", L"prog\\taskkill.exe", L"prog\\explorer.exe", L"prog\\ZIVOFlash.exe",
              L"cwd\\MsiExec.exe", L"cwd\\taskkill.exe", L"cwd\\explorer.exe", L"cwd\\ZIVOFlash.exe",
              L"cwd\\install\\ZIVOFlash.exe", L"install\\ZIVOFlash.exe", L"install\\ZIVOTray.exe", L"products\\ZIVOTray.exe",
              L"products\\ZIVOVault.exe", L"products\\ZIVOMain.exe", L"products\\ZIVOEnroll.exe",
              L"products\\TrayDecoy.exe", L"other\\ZIVOMAIN.EXE", L"lookalike\\myexplorer.exe",
              L"lookalike\\explorer.exe\\tool.exe", L"lookalike\\FakeShell.exe"})
            EXPECT_TRUE(copyTo(recorder, m_dir / name));
        regDeleteTree(kProductKey);
        regSetString(kProductKey, L"InstallPath", m_dir / L"install\\");
        regSetString(kEntryKey, L"DisplayName", L"HALVERN Dactyra");
    }

    ~UninstallRun() { regDeleteTree(kProductKey); }

    std::wstring path(const std::wstring& name) const { return m_dir / name; }

    Process startProduct(const std::wstring& relative, const std::map<std::wstring, std::wstring>& env = {})
    {
        RunOptions options;
        options.env = env;
        options.env[L"RECORDER_LOG"] = m_dir / L"records.txt";
        return start(quote(m_dir / relative), options);
    }

    // Runs the uninstaller with the given text after its quoted path (or
    // right after it, with no blank, when `joined`). Any window it shows is
    // noted in `windows` and closed, so a run that would wait on it ends.
    // A run not ended by the deadline counts as -1.
    int run(const std::wstring& args, bool realMsiexec, bool joined = false,
            std::vector<std::wstring>* windows = nullptr,
            const std::map<std::wstring, std::wstring>& env = {}, DWORD deadlineMs = 120000)
    {
        RunOptions options;
        options.currentDir = m_dir / L"cwd";
        options.env = env;
        options.env[L"RECORDER_LOG"] = m_dir / L"records.txt";
        if (realMsiexec) options.env[L"RECORDER_REAL_MSIEXEC"] = L"1";
        if (SystemRecorders::active()) options.env[L"WINEDLLOVERRIDES"] = L"msiexec.exe,taskkill.exe,explorer.exe=n";
        const std::wstring line =
            quote(m_dir / L"prog\\Uninstall.exe") + (args.empty() || joined ? L"" : L" ") + args;
        Process uninstall = start(line, options);
        WindowWatch watch(uninstall.pid);
        const int code = uninstall.wait(deadlineMs);
        watch.stop();
        if (windows) *windows = watch.seen();
        return code;
    }

    // In the order the recorded programs were started.
    std::vector<Record> records() const
    {
        std::vector<Record> out;
        for (const std::string& line : lines(readFile(m_dir / L"records.txt"))) {
            const size_t a = line.find('|');
            const size_t b = line.find('|', a + 1);
            const size_t c = line.rfind('|');
            out.push_back({lower(line.substr(0, a)), line.substr(a + 1, b - a - 1), line.substr(b + 1, c - b - 1),
                           std::stoull(line.substr(c + 1))});
        }
        std::stable_sort(out.begin(), out.end(), [](const Record& x, const Record& y) { return x.created < y.created; });
        return out;
    }

    std::vector<std::string> msiexecArgs() const
    {
        std::vector<std::string> out;
        for (const Record& r : records())
            if (r.name == "msiexec.exe") out.push_back(r.args);
        return out;
    }

    size_t count(const std::string& name) const
    {
        const auto all = records();
        return static_cast<size_t>(
            std::count_if(all.begin(), all.end(), [&](const Record& r) { return r.name == lower(name); }));
    }

    // Records of programs started from anywhere but the system folder, the
    // install folder and the Windows folder's shell: the planted ones.
    std::vector<std::string> planted() const
    {
        std::vector<std::string> out;
        const std::string system = lower("path=" + narrow(systemFolder()) + "\\");
        const std::string install = lower("path=" + narrow(m_dir / L"install\\"));
        const std::string shell = lower("path=" + narrow(windowsFolder()) + "\\explorer.exe");
        for (const Record& r : records()) {
            const std::string detail = lower(r.detail);
            if (detail.rfind("path=", 0) != 0 || detail == shell) continue;
            if (detail.rfind(system, 0) != 0 && detail.rfind(install, 0) != 0) out.push_back(r.detail);
        }
        return out;
    }

    // Every package removal with the given prefix, in the expected order,
    // none of them allowed to restart the machine.
    static std::vector<std::string> removals(const std::string& prefix)
    {
        std::vector<std::string> out;
        for (const std::wstring& code : kSubCodes) out.push_back(prefix + narrow(code) + " /norestart");
        out.push_back(prefix + narrow(kMainCode) + " /norestart");
        return out;
    }

private:
    ScratchDir m_dir;
};

// A window of the test's own keeps the display in use while the shell
// comes and goes.
class OwnWindow {
public:
    OwnWindow()
    {
        m_window = CreateWindowW(L"STATIC", L"uninstall test", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 40, 40, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~OwnWindow() { DestroyWindow(m_window); }

private:
    HWND m_window;
};

// Watches the shell processes through a run: every explorer.exe that runs
// before or starts during the run is held, so its end can be read after.
class ShellWatch {
public:
    ShellWatch()
    {
        collect(true);
        m_thread = std::thread([this] {
            while (!m_stop) {
                collect(false);
                pollPause();
            }
        });
    }
    ~ShellWatch()
    {
        stop();
        for (auto& s : m_shells) {
            // Shells the run started are ended; Wine brings its desktop back.
            if (!s.before) TerminateProcess(s.handle, 1);
            CloseHandle(s.handle);
        }
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    size_t runningBefore() const { return count([](const Shell& s) { return s.before; }); }
    // Shells that ran before the run (Wine's desktop) and have ended since.
    size_t endedBefore() const
    {
        return count([](const Shell& s) { return s.before && WaitForSingleObject(s.handle, 0) == WAIT_OBJECT_0; });
    }
    size_t started() const { return count([](const Shell& s) { return !s.before; }); }
    // Shells the run started that still run.
    size_t startedRunning() const
    {
        return count([](const Shell& s) { return !s.before && WaitForSingleObject(s.handle, 0) == WAIT_TIMEOUT; });
    }
private:
    struct Shell {
        DWORD id;
        HANDLE handle;
        bool before;
    };

    void collect(bool before)
    {
        for (DWORD id : shellProcesses()) {
            bool known = false;
            for (const Shell& s : m_shells) known = known || (s.id == id && WaitForSingleObject(s.handle, 0) != WAIT_OBJECT_0);
            if (known) continue;
            HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
            if (h) m_shells.push_back({id, h, before});
        }
    }

    template <class Pred>
    size_t count(Pred pred) const
    {
        return static_cast<size_t>(std::count_if(m_shells.begin(), m_shells.end(), pred));
    }

    std::vector<Shell> m_shells;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

namespace {

// The session's own shell, as the user's logon starts it: the Windows
// folder's explorer.exe (the recorder, while recorders stand in). The
// uninstaller takes the token a new shell runs with from it. (Wine runs
// every process as one user in one session: that the new shell runs as
// the session's user and not as an administrator who elevated the
// uninstaller, or as SYSTEM, is Windows' to show; see the closing notes of
// ProcessControl.h.)
class UserShell {
public:
    UserShell() : m_process(start(quote(windowsFolder() + L"\\explorer.exe"))) {}
    ~UserShell()
    {
        if (m_process.process) TerminateProcess(m_process.process, 1);
    }
    bool running() const { return m_process.running(); }

private:
    Process m_process;
};

// The eleven packages, installed for real.
void installPackages(Where where = {})
{
    const ::testing::ScopedTrace trace(where.file, where.line, "installPackages");
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    for (int i = 0; i < 11; ++i) {
        const std::wstring msi = selfDir() + L"packages\\package" + std::to_wstring(i) + L".msi";
        ASSERT_EQ(0u, MsiInstallProductW(msi.c_str(), L"")) << i;
    }
}

} // namespace

TEST(UninstallSequence, RemovesRealPackagesStopsProgramsAndCyclesTheShell)
{
    OwnWindow window;
    SystemRecorders recorders;
    UninstallRun run(L"full");
    ASSERT_NO_FATAL_FAILURE(installPackages());
    const std::wstring markers = L"C:\\Program Files\\ZIVOTest\\";
    for (const auto& code : kSubCodes) ASSERT_TRUE(regKeyExists(kUninstallKey + upper(code))) << narrow(code);
    ASSERT_TRUE(exists(markers + kMainCode.substr(1, 36) + L"\\marker.txt"));

    // Windows titled as the tray's in another program, before and after the
    // tray's own: only the tray's gets the close request.
    Process decoyBefore = run.startProduct(L"products\\TrayDecoy.exe");
    ASSERT_TRUE(waitUntil([] { return FindWindowW(nullptr, L"ZIVOTray") != nullptr; })) << "the decoy did not start";
    Process tray = run.startProduct(L"products\\ZIVOTray.exe");
    Process vault = run.startProduct(L"products\\ZIVOVault.exe");
    Process main = run.startProduct(L"products\\ZIVOMain.exe");
    Process enroll = run.startProduct(L"products\\ZIVOEnroll.exe");
    Process otherCase = run.startProduct(L"other\\ZIVOMAIN.EXE");
    ASSERT_TRUE(waitUntil([] { return trayWindows() == 2; })) << "the tray did not start";
    Process decoyAfter = run.startProduct(L"products\\TrayDecoy.exe");
    ASSERT_TRUE(waitUntil([] { return trayWindows() == 3; })) << "the second decoy did not start";
    // Look-alikes of the shell: a name that ends in it, a folder named so,
    // and a program that claims the shell's path in its own loader list.
    Process lookAlike = run.startProduct(L"lookalike\\myexplorer.exe");
    Process inFolder = run.startProduct(L"lookalike\\explorer.exe\\tool.exe");
    Process fakeShell = run.startProduct(L"lookalike\\FakeShell.exe");
    ASSERT_TRUE(waitUntil([&] { return loaderPathOf(fakeShell) == windowsFolder() + L"\\explorer.exe"; }))
        << "the fake shell did not rewrite its loader entry: " << narrow(loaderPathOf(fakeShell));
    UserShell userShell;
    ASSERT_TRUE(waitUntil([&] { return userShell.running(); })) << "no shell of the user's";
    ShellWatch shells;
    ASSERT_GE(shells.runningBefore(), 1u) << "no desktop shell to cycle";

    EXPECT_EQ(0, run.run(L"/SILENT", true));
    shells.stop();
    // Only the Windows folder's explorer.exe is the shell: the look-alikes
    // and Wine's desktop (system32\explorer.exe) run on.
    EXPECT_TRUE(lookAlike.running());
    EXPECT_TRUE(inFolder.running());
    EXPECT_TRUE(fakeShell.running()) << "ended for the path it claims";
    EXPECT_EQ(0u, shells.endedBefore());
    EXPECT_TRUE(decoyBefore.running());
    EXPECT_TRUE(decoyAfter.running());

    // The tray was asked first, while the other programs still ran; then the
    // four were terminated (exit code 0 from the termination).
    const auto records = run.records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ("zivotray.exe", records[0].name);
    EXPECT_EQ("WM_CLOSE others=3", records[0].detail);
    for (Process* p : {&tray, &vault, &main, &enroll}) EXPECT_EQ(0, p->wait(5000));
    EXPECT_TRUE(otherCase.running());
    EXPECT_EQ(0u, run.count("TrayDecoy.exe")) << "a decoy got the close request";
    for (Process* p : {&otherCase, &decoyBefore, &decoyAfter, &fakeShell, &lookAlike, &inFolder})
        TerminateProcess(p->process, 0);

    // The flash-memory program from the install folder, under its event.
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ("zivoflash.exe", records[1].name);
    EXPECT_EQ(" /close", records[1].args.substr(records[1].args.size() - 7));
    EXPECT_EQ("event=1 signalled=1 path=" + narrow(run.path(L"install\\ZIVOFlash.exe")), records[1].detail);
    EXPECT_EQ(1u, run.count("ZIVOFlash.exe"));

    // Ten sub-packages in order, taskkill, then the main package, each by
    // its full path in the system folder.
    EXPECT_EQ(UninstallRun::removals("/quiet /X "), run.msiexecArgs());
    std::vector<std::string> order;
    for (const Record& r : records) order.push_back(r.name);
    const auto taskkill = std::find(order.begin(), order.end(), "taskkill.exe");
    ASSERT_NE(order.end(), taskkill);
    EXPECT_EQ(10, std::count(order.begin(), taskkill, "msiexec.exe"));
    EXPECT_EQ(1, std::count(taskkill, order.end(), "msiexec.exe"));
    // The shell of the uninstaller's own session only.
    EXPECT_EQ("/f /im explorer.exe /fi \"SESSION eq " + std::to_string(ownSession()) + "\"",
              records[taskkill - order.begin()].args);
    const std::string system = lower("path=" + narrow(systemFolder()));
    for (const Record& r : records) {
        if (r.name == "msiexec.exe" || r.name == "taskkill.exe") {
            EXPECT_EQ(system + "\\" + r.name, lower(r.detail));
        }
    }
    EXPECT_EQ(std::vector<std::string>{}, run.planted());

    // The packages are gone for real, and so is the uninstall entry.
    for (const auto& code : kSubCodes) EXPECT_FALSE(regKeyExists(kUninstallKey + upper(code))) << narrow(code);
    EXPECT_FALSE(regKeyExists(kUninstallKey + kMainCode));
    EXPECT_FALSE(exists(markers + kMainCode.substr(1, 36)));
    EXPECT_FALSE(exists(markers + upper(kSubCodes[9].substr(1, 36))));
    EXPECT_FALSE(regKeyExists(kEntryKey));

    // The shell was started one to three times and a shell terminated.
    // Under Wine the count can include the desktop process that Wine starts
    // again once its own is gone, and a browser window of Wine's may end
    // with 0 along with it.
    // The new shell, started with the user's own token, runs on: the final
    // step ends no shell that runs as the user.
    EXPECT_GE(shells.started(), 1u);
    EXPECT_LE(shells.started(), 3u);
    EXPECT_GE(shells.startedRunning(), 1u);
    EXPECT_TRUE(userShell.running());
}

namespace {

struct ModeCase {
    const wchar_t* args;
    bool joined; // no blank between the quoted program name and the text
    const char* prefix;
    const char* installPath; // how the install folder is stored
    size_t flashStarts;
    // What the removals give, as "index=code" pairs (0 to 9 the sub-packages,
    // 10 the main package; 1605 for the others), and the exit code expected.
    std::vector<std::pair<int, int>> removalCodes;
    int exitCode;
};

// The recorders' exit codes by product code.
std::wstring recorderExits(const std::vector<std::pair<int, int>>& removalCodes)
{
    std::wstring pairs;
    for (const auto& [index, code] : removalCodes)
        pairs += (index < 10 ? kSubCodes[index] : kMainCode) + L"=" + std::to_wstring(code) + L";";
    return pairs;
}

void storeInstallPath(const std::string& how, const std::wstring& folder)
{
    if (how == "missing") {
        regDeleteTree(kProductKey);
    } else if (how == "unterminated") {
        // 512 bytes of text and no zero; the character after them is not
        // zero either, so the registry stores no terminator.
        std::wstring text(300, L'A');
        regSetRaw(kProductKey, L"InstallPath", REG_SZ, text.c_str(), 512);
    } else if (how == "dword") {
        const DWORD value = 0x005A005A;
        regSetRaw(kProductKey, L"InstallPath", REG_DWORD, &value, sizeof value);
    } else if (how == "too long") {
        // Fits the value buffer, leaves no room for the program's name.
        std::wstring text = folder + std::wstring(250 - folder.size(), L'x') + L"\\";
        regSetString(kProductKey, L"InstallPath", text);
    } else if (how == "relative") {
        // The current folder holds install\ZIVOFlash.exe.
        regSetString(kProductKey, L"InstallPath", L"install\\");
    } else if (how == "empty") {
        regSetString(kProductKey, L"InstallPath", L"");
    } else if (how == "no backslash") {
        // "...\\install" runs into the names after it: programs planted
        // beside the folder under those names must not run.
        regSetString(kProductKey, L"InstallPath", folder + L"install");
        copyTo(selfDir() + L"Recorder.exe", folder + L"installZIVOFlash.exe");
    } else if (how == "expandable") {
        const std::wstring text = L"%KIT_TEST_FOLDER%\\install\\";
        regSetRaw(kProductKey, L"InstallPath", REG_EXPAND_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
}

} // namespace

TEST(UninstallSequence, SwitchSelectsTheModeAndOnlyAWholeAbsoluteInstallFolderStartsTheFlashProgram)
{
    OwnWindow window;
    SystemRecorders recorders;
    // Every step runs whatever the removals give; the exit code is the first
    // failure's, else a restart started (1641), else one needed (3010). A
    // failure keeps the uninstall entry.
    const ModeCase cases[] = {
        {L"/silent", true, "/quiet /X ", "expandable", 1, {}, 0},
        {L"/silent x", false, "/passive /X ", "unterminated", 0, {{3, 1603}}, 1603},
        {L"-silent", false, "/passive /X ", "dword", 0, {{1, 1618}, {10, 1603}}, 1618},
        {L"", false, "/passive /X ", "too long", 0, {{2, 3010}}, 3010},
        {L"/Silent", false, "/quiet /X ", "missing", 0, {{2, 3010}, {6, 1641}, {8, 3010}}, 1641},
        {L"", false, "/passive /X ", "relative", 0, {{4, 3010}, {10, 1603}}, 1603},
        {L"", false, "/passive /X ", "empty", 0, {{0, 0}, {9, 0}, {10, 0}}, 0},
        {L"/silent", false, "/quiet /X ", "no backslash", 0, {{5, 1605}}, 0},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(narrow(c.args) + " / " + c.installPath + " / exit " + std::to_string(c.exitCode));
        UninstallRun run(L"mode");
        storeInstallPath(c.installPath, run.path(L""));
        UserShell userShell;
        ASSERT_TRUE(waitUntil([&] { return userShell.running(); })) << "no shell of the user's";
        ShellWatch shells;
        std::wstring folder = run.path(L"");
        folder.pop_back();
        EXPECT_EQ(c.exitCode, run.run(c.args, false, c.joined, nullptr,
                                      {{L"KIT_TEST_FOLDER", folder}, {L"RECORDER_MSI_EXITS", recorderExits(c.removalCodes)}}));
        shells.stop();
        EXPECT_EQ(UninstallRun::removals(c.prefix), run.msiexecArgs());
        // Only ever from the install folder; never a planted program beside
        // the uninstaller or in the current folder.
        EXPECT_EQ(c.flashStarts, run.count("ZIVOFlash.exe"));
        EXPECT_EQ(std::vector<std::string>{}, run.planted());
        EXPECT_EQ(1u, run.count("taskkill.exe"));
        // The entry goes only with a product removed whole: every removal
        // done, with or without a restart to come.
        const bool removed = c.exitCode == 0 || c.exitCode == 3010 || c.exitCode == 1641;
        EXPECT_EQ(!removed, regKeyExists(kEntryKey));
        EXPECT_GE(shells.started(), 1u);
        EXPECT_LE(shells.started(), 3u);
        EXPECT_GE(shells.startedRunning(), 1u);
        EXPECT_EQ(0u, shells.endedBefore());
    }
}

// A tray that never answers gets its close request with a time limit, and
// the removal goes on. (The limit on the wait after a termination is not
// shown: under Wine every terminated process ends at once.)
TEST(UninstallSequence, ATrayWindowThatNeverAnswersHoldsNothingUp)
{
    OwnWindow window;
    SystemRecorders recorders;
    UninstallRun run(L"hung");
    Process hung = run.startProduct(L"products\\ZIVOTray.exe", {{L"RECORDER_HUNG", L"1"}});
    ASSERT_TRUE(waitUntil([] { return FindWindowW(nullptr, L"ZIVOTray") != nullptr; })) << "no hung window";
    ShellWatch shells;
    // The window's program lives until released, a minute at most: a run
    // that waited for its answer would miss the deadline.
    EXPECT_EQ(0, run.run(L"/silent", false, false, nullptr, {}, 45000));
    shells.stop();
    EXPECT_EQ(UninstallRun::removals("/quiet /X "), run.msiexecArgs());
    EXPECT_EQ(1u, run.count("ZIVOFlash.exe"));
    EXPECT_FALSE(regKeyExists(kEntryKey));
    // The tray's own program: asked, passed over, then terminated.
    EXPECT_EQ(0, hung.wait(10000));
}

// An ordinary user's program named ZIVOTray.exe outside the install folder,
// with a window titled as the tray's that takes longer than the whole limit
// to answer, started after the product's tray (so listed before it): the
// install folder's tray is still asked first, and answers.
TEST(UninstallSequence, TheInstalledTrayIsAskedBeforeALookAlikeThatIsSlowToAnswer)
{
    OwnWindow window;
    SystemRecorders recorders;
    UninstallRun run(L"slowdecoy");
    Process tray = run.startProduct(L"install\\ZIVOTray.exe");
    ASSERT_TRUE(waitUntil([] { return trayWindows() == 1; })) << "the tray did not start";
    Process decoy = run.startProduct(L"products\\ZIVOTray.exe", {{L"RECORDER_SLOW", L"11000"}});
    ASSERT_TRUE(waitUntil([] { return trayWindows() == 2; })) << "the look-alike did not start";
    EXPECT_EQ(0, run.run(L"/silent", false, false, nullptr, {}, 60000));
    size_t answered = 0;
    for (const Record& r : run.records()) answered += r.name == "zivotray.exe" && r.detail.rfind("WM_CLOSE others=", 0) == 0;
    EXPECT_EQ(1u, answered) << "the install folder's tray was not asked";
    EXPECT_EQ(0, tray.wait(10000));
    TerminateProcess(decoy.process, 0);
}

namespace {

// Runs "Uninstall /silent" with look-alikes planted beside it and in its
// current folder, and the flash-memory program missing from the install
// folder, where a start would show an error box and wait on it.
// Its exit code.
int runPlanted(UninstallRun& run, Where where = {})
{
    const ::testing::ScopedTrace trace(where.file, where.line, "runPlanted");
    EXPECT_TRUE(DeleteFileW(run.path(L"install\\ZIVOFlash.exe").c_str()));
    ShellWatch shells;
    std::vector<std::wstring> windows;
    const int code = run.run(L"/silent", false, false, &windows);
    shells.stop();
    EXPECT_EQ(std::vector<std::wstring>{}, windows);
    for (const Record& r : run.records()) ADD_FAILURE() << r.name << " ran: " << r.detail;
    return code;
}

} // namespace

// Without native overrides: the system's own msiexec, taskkill and explorer
// do the work, and the packages are gone for real.
TEST(UninstallPlanted, SystemProgramsRemoveThePackagesAndSilentShowsNothing)
{
    OwnWindow window;
    UninstallRun run(L"planted");
    ASSERT_NO_FATAL_FAILURE(installPackages());
    EXPECT_EQ(0, runPlanted(run));
    EXPECT_FALSE(regKeyExists(kEntryKey));
    for (const auto& code : kSubCodes) EXPECT_FALSE(regKeyExists(kUninstallKey + upper(code))) << narrow(code);
    EXPECT_FALSE(regKeyExists(kUninstallKey + kMainCode));
    EXPECT_FALSE(exists(L"C:\\Program Files\\ZIVOTest\\" + kMainCode.substr(1, 36)));
}

// With native overrides for msiexec and taskkill and the system folder's
// own (built-in) files in place, Wine's search takes a bare name from beside
// the program or the current folder: the look-alikes there would run. The
// system programs cannot start in this setting; the run goes on without
// them, and a removal that could not start is a failure, with the start's
// error as the exit code.
TEST(UninstallPlantedNative, LookAlikesThatABareNameWouldFindNeverRun)
{
    OwnWindow window;
    UninstallRun run(L"planted-native");
    const int code = runPlanted(run);
    EXPECT_NE(0, code);
    for (int done : {1605, 1641, 3010}) EXPECT_NE(done, code);
    EXPECT_TRUE(regKeyExists(kEntryKey)) << "the product's entry went with its packages still there";
}
