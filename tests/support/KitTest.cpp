#include "KitTest.h"

#include <fstream>
#include <sstream>

namespace kittest {

std::wstring selfDir()
{
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::wstring binDir()
{
    return selfDir() + L"..\\bin\\";
}

ScratchDir::ScratchDir(const std::wstring& name, const std::wstring& base)
{
    m_path = (base.empty() ? selfDir() + L"scratch\\" : base) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    removeTree(m_path);
    makeDirs(m_path);
}

ScratchDir::~ScratchDir()
{
    removeTree(m_path);
}

void pollPause()
{
    Sleep(20);
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return condition();
        pollPause();
    }
    return true;
}

void removeTree(const std::wstring& path)
{
    std::wstring dir = path;
    if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
    const DWORD attributes = GetFileAttributesW(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(dir.c_str())) RemoveDirectoryW(dir.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") removeTree(dir + L"\\" + name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(dir.c_str());
}

bool writeFile(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string readFile(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const std::wstring& path)
{
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool makeDirs(const std::wstring& path)
{
    std::wstring partial;
    for (size_t i = 0; i < path.size(); ++i) {
        partial += path[i];
        if ((path[i] == L'\\' || i + 1 == path.size()) && partial.size() > 3) CreateDirectoryW(partial.c_str(), nullptr);
    }
    return isDirectory(path);
}

bool copyTo(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring widen(const std::string& text)
{
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::string current;
    for (char c : text) {
        if (c == '\n') {
            if (!current.empty() && current.back() == '\r') current.pop_back();
            out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

Process::~Process()
{
    if (process) CloseHandle(process);
}

int Process::wait(DWORD timeoutMs)
{
    if (!process) return -1;
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, 259);
        WaitForSingleObject(process, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<int>(code);
}

bool Process::running() const
{
    return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

namespace {

std::vector<wchar_t> environmentWith(const std::map<std::wstring, std::wstring>& overrides)
{
    std::map<std::wstring, std::wstring> vars;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
        const std::wstring entry(p);
        const size_t eq = entry.find(L'=', 1);
        if (eq == std::wstring::npos) continue;
        vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const auto& o : overrides) {
        for (auto it = vars.begin(); it != vars.end();) {
            if (_wcsicmp(it->first.c_str(), o.first.c_str()) == 0) it = vars.erase(it);
            else ++it;
        }
        if (!o.second.empty()) vars[o.first] = o.second;
    }
    std::vector<wchar_t> out;
    for (const auto& v : vars) {
        const std::wstring entry = v.first + L"=" + v.second;
        out.insert(out.end(), entry.begin(), entry.end());
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return out;
}

HANDLE inheritableFile(const std::wstring& path)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

Process start(const std::wstring& commandLine, const RunOptions& options)
{
    Process result;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    HANDLE out = INVALID_HANDLE_VALUE;
    HANDLE err = INVALID_HANDLE_VALUE;
    if (!options.stdoutFile.empty() || !options.stderrFile.empty()) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nullptr;
        if (!options.stdoutFile.empty()) out = inheritableFile(options.stdoutFile);
        if (!options.stderrFile.empty()) err = inheritableFile(options.stderrFile);
        si.hStdOutput = out == INVALID_HANDLE_VALUE ? nullptr : out;
        si.hStdError = err == INVALID_HANDLE_VALUE ? nullptr : err;
    }
    std::vector<wchar_t> env = environmentWith(options.env);
    std::wstring line = commandLine;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, env.data(),
                       options.currentDir.empty() ? nullptr : options.currentDir.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        result.process = pi.hProcess;
        result.pid = pi.dwProcessId;
    }
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    return result;
}

int run(const std::wstring& commandLine, const RunOptions& options)
{
    Process p = start(commandLine, options);
    return p.wait(options.timeoutMs);
}

std::wstring quote(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

namespace {

HKEY openKey(const std::wstring& key, REGSAM access, bool create)
{
    HKEY h = nullptr;
    const LONG rc = create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                             access | KEY_WOW64_64KEY, nullptr, &h, nullptr)
                           : RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, access | KEY_WOW64_64KEY, &h);
    return rc == ERROR_SUCCESS ? h : nullptr;
}

} // namespace

bool regSetRaw(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD bytes)
{
    HKEY h = openKey(key, KEY_SET_VALUE, true);
    if (!h) return false;
    const LONG rc = RegSetValueExW(h, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

bool regSetString(const std::wstring& key, const std::wstring& name, const std::wstring& value)
{
    return regSetRaw(key, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool regValueExists(const std::wstring& key, const std::wstring& name)
{
    HKEY h = openKey(key, KEY_QUERY_VALUE, false);
    if (!h) return false;
    const LONG rc = RegQueryValueExW(h, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

bool regKeyExists(const std::wstring& key)
{
    HKEY h = openKey(key, KEY_QUERY_VALUE, false);
    if (h) RegCloseKey(h);
    return h != nullptr;
}

void regDeleteTree(const std::wstring& key)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY, 0);
}

} // namespace kittest
