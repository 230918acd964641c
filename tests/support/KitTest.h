// Helpers for tests that run the kit's real programs in the Windows sandbox.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kittest {

// Folder of the running test program, with a trailing backslash.
std::wstring selfDir();
// build/bin, where the deliverables are, with a trailing backslash.
std::wstring binDir();

// A fresh folder, removed with all it holds: under the test program's
// folder, or under `base` (ending in a backslash) when one is given.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& name, const std::wstring& base = {});
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& path() const { return m_path; } // ends in a backslash
    std::wstring operator/(const std::wstring& name) const { return m_path + name; }

private:
    std::wstring m_path;
};

// Polls the condition until it holds or the deadline passes; its last value.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);
// The pause between two looks of a watcher that polls.
void pollPause();

// The caller's file and line, taken as a default argument, so a helper that
// checks something reports where it was called from.
struct Where {
    const char* file = __builtin_FILE();
    int line = __builtin_LINE();
};

void removeTree(const std::wstring& path);
bool writeFile(const std::wstring& path, const std::string& bytes);
std::string readFile(const std::wstring& path);
bool exists(const std::wstring& path);
bool isDirectory(const std::wstring& path);
bool makeDirs(const std::wstring& path);
bool copyTo(const std::wstring& from, const std::wstring& to);
std::string narrow(const std::wstring& text); // UTF-8
std::wstring widen(const std::string& text);  // UTF-8
std::vector<std::string> lines(const std::string& text);

struct RunOptions {
    std::wstring currentDir;
    std::map<std::wstring, std::wstring> env; // set (empty value: removed)
    std::wstring stdoutFile;
    std::wstring stderrFile;
    DWORD timeoutMs = 60000;
};

struct Process {
    HANDLE process = nullptr;
    DWORD pid = 0;
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    Process(Process&& o) noexcept : process(o.process), pid(o.pid) { o.process = nullptr; }
    Process& operator=(Process&& o) noexcept
    {
        if (this != &o) {
            if (process) CloseHandle(process);
            process = o.process;
            pid = o.pid;
            o.process = nullptr;
        }
        return *this;
    }
    ~Process();
    // Exit code, or -1 when the process did not end in time (it is then ended).
    int wait(DWORD timeoutMs);
    bool running() const;
};

Process start(const std::wstring& commandLine, const RunOptions& options = {});
// Runs to the end; the exit code, or -1 on time-out or a failed start.
int run(const std::wstring& commandLine, const RunOptions& options = {});
std::wstring quote(const std::wstring& path);

// Registry helpers on HKEY_LOCAL_MACHINE (64-bit view).
bool regSetString(const std::wstring& key, const std::wstring& name, const std::wstring& value);
bool regSetRaw(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD bytes);
bool regValueExists(const std::wstring& key, const std::wstring& name);
bool regKeyExists(const std::wstring& key);
void regDeleteTree(const std::wstring& key);

} // namespace kittest
