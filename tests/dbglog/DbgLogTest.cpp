// The diagnostic log, each configuration in a log-writing process of its own
// with its own DbgLog.ini, as settings are read once per process.
#include <gtest/gtest.h>

#include <regex>

#include "KitTest.h"

using namespace kittest;

namespace {

class LogRun {
public:
    LogRun(const std::wstring& name, const std::string& ini, Where where = {}) : m_dir(name)
    {
        const ::testing::ScopedTrace trace(where.file, where.line, "LogRun");
        EXPECT_TRUE(copyTo(selfDir() + L"LogWriter.exe", m_dir / L"LogWriter.exe"));
        if (!ini.empty()) {
            EXPECT_TRUE(writeFile(m_dir / L"DbgLog.ini", ini));
        }
    }

    // Runs the writer; returns what it printed on its standard output.
    std::string run(const std::wstring& args, const std::map<std::wstring, std::wstring>& env = {}, Where where = {})
    {
        const ::testing::ScopedTrace trace(where.file, where.line, "LogRun::run");
        RunOptions options;
        options.currentDir = m_dir.path();
        options.env = env;
        options.stdoutFile = m_dir / L"stdout.txt";
        options.stderrFile = m_dir / L"stderr.txt";
        EXPECT_EQ(0, kittest::run(quote(m_dir / L"LogWriter.exe") + L" " + args, options));
        return readFile(m_dir / L"stdout.txt");
    }

    Process startWriter(const std::wstring& args) const
    {
        RunOptions options;
        options.currentDir = m_dir.path();
        return start(quote(m_dir / L"LogWriter.exe") + L" " + args, options);
    }

    std::wstring path(const std::wstring& name) const { return m_dir / name; }
    std::string log() const { return readFile(m_dir / L"log.txt"); }
    std::vector<std::string> logLines() const { return lines(log()); }
    // Settings with the log file in this run's folder.
    std::string fileIni(int destination, const std::string& more = "") const
    {
        return "[LOG]\r\nDestination=" + std::to_string(destination) + "\r\nLogFile=" + narrow(m_dir / L"log.txt") +
               "\r\nTimeDateFormat=0\r\n" + more;
    }

private:
    ScratchDir m_dir;
};

std::string fileIni(const LogRun& run, int destination, const std::string& more = "")
{
    return run.fileIni(destination, more);
}

} // namespace

TEST(DbgLogSettings, WithoutIniOrWithDestinationZeroNothingIsWritten)
{
    const std::wstring defaultFolder = L"C:\\Users\\Public\\Halvern";
    removeTree(defaultFolder);
    {
        LogRun run(L"noini", "");
        EXPECT_EQ("example=0\nmacros=0\n", run.run(L"example macros"));
    }
    for (const char* destination : {"0", "5", "-1", "x"}) {
        LogRun run(L"dest", "");
        writeFile(run.path(L"DbgLog.ini"), "[LOG]\nDestination=" + std::string(destination) + "\nLogFile=" +
                                               narrow(run.path(L"sub\\log.txt")) + "\n");
        EXPECT_EQ("example=0\n", run.run(L"example")) << destination;
        EXPECT_FALSE(exists(run.path(L"sub"))) << destination;
        EXPECT_EQ("", readFile(run.path(L"stderr.txt"))) << destination;
    }
    EXPECT_FALSE(exists(defaultFolder));
}

TEST(DbgLogSettings, WorkedExampleComesOutCharacterForCharacterAtTheDefaultPath)
{
    const std::wstring defaultLog = L"C:\\Users\\Public\\Halvern\\ZIVO\\Log\\log.txt";
    removeTree(L"C:\\Users\\Public\\Halvern");
    LogRun run(L"example", "[LOG]\r\nDestination=2\r\n");
    EXPECT_EQ("example=88\n", run.run(L"example"));
    const std::string text = readFile(defaultLog);
    EXPECT_TRUE(std::regex_match(
        text, std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d: ImportDlg\(52\):  \[ERR\] \(ImportDlg::_dialogProc\): )"
                         R"(ASSERT\( NULL != s_pThis \)\r\n)")))
        << text;
    removeTree(L"C:\\Users\\Public\\Halvern");
}

// Settings and the lines they give, whole: each row a DbgLog.ini ("{log}"
// the run's log file), what the writer is asked to log, and each line of
// the file it leaves.
TEST(DbgLogSettings, EachSettingGivesItsLines)
{
    const std::string site = R"(ImportDlg\(52\):  \[ERR\] \(ImportDlg::_dialogProc\): ASSERT\( NULL != s_pThis \))";
    const std::string time = R"(\d\d:\d\d:\d\d\.\d\d\d: )";
    struct Row {
        std::string ini;
        const wchar_t* args;
        std::vector<std::string> lines; // each matched whole
    };
    const Row rows[] = {
        // Keys match without regard to case.
        {"[log]\ndestination=2\nLOGFILE={log}\ntimedateformat=0\n", L"example", {site}},
        // The time prefix: none, the time (any other number too), date and time.
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\n", L"text a", {R"(f\(1\):  \[ERR\] \(f\): a)"}},
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=1\n", L"text a", {time + R"(f\(1\).*)"}},
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=9\n", L"text a", {time + R"(f\(1\).*)"}},
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=2\n", L"text a",
         {R"(20\d\d-[01]\d-[0-3]\d )" + time + R"(f\(1\).*)"}},
        // The source file as given or cut to its name; a forward slash is no separator.
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\nSourceFileFormat=0\n", L"example site a/b/plain.cpp",
         {site, R"(a/b/plain\.cpp\(3\):  \[ERR\] \(Ns::fn\): m)"}},
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\nSourceFileFormat=2\n", L"example site a/b/plain.cpp",
         {site, R"(a/b/plain\.cpp\(3\):  \[ERR\] \(Ns::fn\): m)"}},
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\nSourceFileFormat=1\n", L"example site a/b/plain.cpp",
         {R"(\.\\)" + site, R"(a/b/plain\.cpp\(3\):  \[ERR\] \(Ns::fn\): m)"}},
        // Characters above Latin-1 become one question mark each.
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\n", L"wide", {"f\\(1\\):  \\[ERR\\] \\(f\\): A\xE9\\?\\?Z"}},
        // The level filter; levels out of range act as 0.
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\n", L"levels", {".* err"}},
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\nLevel=7\n", L"levels", {".* err"}},
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\nLevel=-2\n", L"levels", {".* err"}},
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\nLevel=1\n", L"levels", {".* err", ".* wrn"}},
        {"[LOG]\nDestination=2\nLogFile={log}\nTimeDateFormat=0\nLevel=3\n", L"levels",
         {".* err", ".* wrn", ".* inf", ".* trc"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ini + narrow(row.args));
        LogRun run(L"settings", "");
        std::string ini = row.ini;
        ini.replace(ini.find("{log}"), 5, narrow(run.path(L"log.txt")));
        writeFile(run.path(L"DbgLog.ini"), ini);
        run.run(row.args);
        const auto logged = run.logLines();
        ASSERT_EQ(row.lines.size(), logged.size());
        for (size_t i = 0; i < logged.size(); ++i)
            EXPECT_TRUE(std::regex_match(logged[i], std::regex(row.lines[i]))) << logged[i];
    }
    // Bytes, not only lines: one byte for each Latin-1 character, CR LF after.
    LogRun wide(L"wide", "");
    writeFile(wide.path(L"DbgLog.ini"), fileIni(wide, 2));
    wide.run(L"wide");
    EXPECT_EQ("f(1):  [ERR] (f): A\xE9??Z\r\n", wide.log());
}

TEST(DbgLogLevels, MacrosWriteTheirRecordsAndTraceNeedsLevelThree)
{
    LogRun errors(L"macros-err", "");
    writeFile(errors.path(L"DbgLog.ini"), fileIni(errors, 2, "SourceFileFormat=1\n"));
    errors.run(L"macros");
    EXPECT_EQ((std::vector<std::string>{
                  ".\\LogWriter.cpp(35):  [ERR] (macroSites): ASSERT( 1 + 1 == 3 )",
                  ".\\LogWriter.cpp(37):  [ERR] (macroSites): Error Code: 0x80070002"}),
              errors.logLines());

    LogRun traces(L"macros-trc", "");
    writeFile(traces.path(L"DbgLog.ini"), fileIni(traces, 2, "Level=3\n"));
    traces.run(L"macros");
    const auto logged = traces.logLines();
    ASSERT_EQ(3u, logged.size());
    // A "%" in a traced value is no format to the sink.
    EXPECT_EQ("LogWriter.cpp(39):  [TRC] (macroSites): value = 100% sure %s %d", logged[2]);
}

TEST(DbgLogLines, ElapsedTimePrefixCountsFromTheFirstEntry)
{
    LogRun elapsed(L"elapsed", "");
    writeFile(elapsed.path(L"DbgLog.ini"), "[LOG]\nDestination=2\nTimeDateFormat=3\nLogFile=" +
                                               narrow(elapsed.path(L"log.txt")) + "\n");
    // The writer pauses 1.2 s between the two entries; on a loaded machine
    // the second may come later still, never sooner than the pause less one
    // step of the tick count (10 to 16 ms).
    elapsed.run(L"text a sleep 1200 text b");
    const auto logged = elapsed.logLines();
    ASSERT_EQ(2u, logged.size());
    EXPECT_TRUE(std::regex_match(logged[0], std::regex(R"(0\.\d\d\d: f\(1\).*)"))) << logged[0];
    std::smatch seconds;
    ASSERT_TRUE(std::regex_match(logged[1], seconds, std::regex(R"((\d+)\.(\d\d\d): f\(1\).*)"))) << logged[1];
    EXPECT_GE(std::stoi(seconds[1]) * 1000 + std::stoi(seconds[2]), 1200 - 20) << logged[1];
}

TEST(DbgLogLines, LinesAreCutAt510Characters)
{
    LogRun run(L"cut", "");
    writeFile(run.path(L"DbgLog.ini"), fileIni(run, 2));
    // The prefix "f(1):  [ERR] (f): " has 18 characters.
    EXPECT_EQ("fill=511\nfill=512\nfill=512\nfill=20\n", run.run(L"fill 492 fill 493 fill 3000 fill 1"));
    const auto logged = run.logLines();
    ASSERT_EQ(4u, logged.size());
    EXPECT_EQ(510u, logged[0].size());
    EXPECT_EQ(510u, logged[1].size());
    EXPECT_EQ(510u, logged[2].size());
    EXPECT_EQ(logged[1], logged[2]);
    EXPECT_EQ("f(1):  [ERR] (f): x", logged[3]);
    EXPECT_EQ(4 * 2 + 510 * 3 + 19, static_cast<int>(run.log().size())); // CR LF after each
}

TEST(DbgLogLines, WritingAnEntryKeepsTheLastErrorValue)
{
    LogRun run(L"lasterror", "");
    writeFile(run.path(L"DbgLog.ini"), fileIni(run, 3));
    EXPECT_EQ("lasterror=4660\n", run.run(L"lasterror"));
    EXPECT_EQ(1u, run.logLines().size());
}

TEST(DbgLogDestinations, RunFileStartsAfreshWhilePerLineFileAppends)
{
    LogRun runFile(L"dest2", "");
    writeFile(runFile.path(L"DbgLog.ini"), fileIni(runFile, 2));
    runFile.run(L"text first");
    runFile.run(L"text second");
    EXPECT_EQ(std::vector<std::string>{"f(1):  [ERR] (f): second"}, runFile.logLines());

    LogRun perLine(L"dest3", "");
    writeFile(perLine.path(L"DbgLog.ini"), fileIni(perLine, 3));
    perLine.run(L"text first");
    perLine.run(L"text second text third");
    EXPECT_EQ((std::vector<std::string>{"f(1):  [ERR] (f): first", "f(1):  [ERR] (f): second",
                                        "f(1):  [ERR] (f): third"}),
              perLine.logLines());
}

TEST(DbgLogDestinations, MissingFolderChainIsCreatedAndEnvironmentReferencesExpanded)
{
    for (int destination : {2, 3}) {
        LogRun run(L"folders", "");
        writeFile(run.path(L"DbgLog.ini"),
                  "[LOG]\nDestination=" + std::to_string(destination) + "\nTimeDateFormat=0\nLogFile=%LOGTEST_DIR%\\a\\b\\c\\log.txt\n");
        std::wstring dir = run.path(L"");
        dir.pop_back();
        run.run(L"text a", {{L"LOGTEST_DIR", dir}});
        EXPECT_EQ("f(1):  [ERR] (f): a\r\n", readFile(run.path(L"a\\b\\c\\log.txt"))) << destination;
    }
}

// A log file that is a second name for another file (a hard link, say to a
// key file) is never written in either file destination, nor started
// afresh: the line is dropped, as for a file that cannot be opened. (A
// symbolic link or junction is caught by the final path; Wine makes those
// only from the Unix side.)
TEST(DbgLogDestinations, ALogFileThatIsALinkIsNeverWritten)
{
    for (int destination : {2, 3}) {
        SCOPED_TRACE(destination);
        LogRun run(L"linked", "");
        writeFile(run.path(L"DbgLog.ini"), fileIni(run, destination));
        ASSERT_TRUE(writeFile(run.path(L"key.bin"), "key bytes"));
        ASSERT_TRUE(CreateHardLinkW(run.path(L"log.txt").c_str(), run.path(L"key.bin").c_str(), nullptr));
        run.run(L"text a");
        EXPECT_EQ("key bytes", readFile(run.path(L"key.bin")));
    }
}

TEST(DbgLogDestinations, StandardErrorStream)
{
    LogRun run(L"stderr", "[LOG]\nDestination=4\nTimeDateFormat=0\n");
    run.run(L"text one text two");
    EXPECT_EQ("f(1):  [ERR] (f): one\r\nf(1):  [ERR] (f): two\r\n", readFile(run.path(L"stderr.txt")));
}

// Files hold the bytes a text-mode stream stores: every line feed, those
// inside a message included, as carriage return and line feed; a carriage
// return of the message's own stays as it is. The run's file is buffered,
// flushed or not, and whole when the program ends.
TEST(DbgLogDestinations, FilesHoldTextModeLineEnds)
{
    const std::string expected = "f(1):  [ERR] (f): a\r\nb\r\r\nc\r\nf(1):  [ERR] (f): d\r\n";
    for (const char* settings : {"Destination=2\r\nFlush=0", "Destination=2\r\nFlush=1", "Destination=3"}) {
        LogRun run(L"lineends", "");
        writeFile(run.path(L"DbgLog.ini"), "[LOG]\r\n" + std::string(settings) + "\r\nTimeDateFormat=0\r\nLogFile=" +
                                                narrow(run.path(L"log.txt")) + "\r\n");
        run.run(L"lines text d");
        EXPECT_EQ(expected, readFile(run.path(L"log.txt"))) << settings;
    }
}

TEST(DbgLogDestinations, SecondInstanceCannotShareTheRunFile)
{
    LogRun run(L"shared", "");
    writeFile(run.path(L"DbgLog.ini"), fileIni(run, 2));
    const std::wstring release = L"KitLogHold-" + std::to_wstring(GetCurrentProcessId());
    HANDLE letGo = CreateEventW(nullptr, TRUE, FALSE, release.c_str());
    Process first = run.startWriter(L"text first hold " + release);
    // The first instance has its file open once the file exists.
    ASSERT_TRUE(waitUntil([&] { return exists(run.path(L"log.txt")); }));
    run.run(L"text second");
    SetEvent(letGo);
    EXPECT_EQ(0, first.wait(20000));
    CloseHandle(letGo);
    EXPECT_EQ(std::vector<std::string>{"f(1):  [ERR] (f): first"}, run.logLines());
}

namespace {

// Runs the writer under this process as its debugger and collects its
// debugger output.
std::string debuggerOutput(const std::wstring& exe, const std::wstring& args, const std::wstring& dir)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = quote(exe) + L" " + args;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, dir.c_str(),
                        &si, &pi))
        return "<not started>";
    std::string output;
    for (bool done = false; !done;) {
        DEBUG_EVENT event{};
        if (!WaitForDebugEvent(&event, 30000)) break;
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            const auto& s = event.u.DebugString;
            if (s.fUnicode) {
                std::wstring text(s.nDebugStringLength, L'\0');
                ReadProcessMemory(pi.hProcess, s.lpDebugStringData, &text[0], text.size() * sizeof(wchar_t), nullptr);
                output += narrow(text.c_str());
            } else {
                std::string text(s.nDebugStringLength, '\0');
                ReadProcessMemory(pi.hProcess, s.lpDebugStringData, &text[0], text.size(), nullptr);
                output += text.c_str();
            }
            break;
        }
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            done = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return output;
}

} // namespace

TEST(DbgLogDestinations, DebuggerOutput)
{
    LogRun run(L"debugger", "");
    writeFile(run.path(L"DbgLog.ini"), fileIni(run, 1));
    const std::string output = debuggerOutput(run.path(L"LogWriter.exe"), L"text hello", run.path(L""));
    EXPECT_NE(std::string::npos, output.find("f(1):  [ERR] (f): hello\n")) << output;
    EXPECT_FALSE(exists(run.path(L"log.txt")));
}
