// The setup tools' pure pieces: parameters, names, program paths, the
// command line and the reader of outside values.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "CommandLine.h"
#include "OutsideValues.h"
#include "ProcessControl.h"
#include "RemovalOutcome.h"
#include "SetupConstants.h"

#include <vector>

namespace {

std::string kittestNarrow(const wchar_t* text)
{
    std::string out;
    for (; *text; ++text) out += static_cast<char>(*text < 128 ? *text : '?');
    return out;
}

} // namespace

TEST(RemoveParameters, PrefixTheCodeAndNoRestart)
{
    wchar_t buffer[200];
    wmemset(buffer, L'#', 200);
    ASSERT_TRUE(buildRemoveParameters(1, SUB_PRODUCT_CODES[0], buffer, 200));
    EXPECT_STREQ(L"/quiet /X {4CA564D7-4F81-4C2C-9429-6609A57D26A5} /norestart", buffer);
    EXPECT_EQ(L'\0', buffer[199]); // zero-filled
    ASSERT_TRUE(buildRemoveParameters(0, PRODUCT_CODE_MAIN, buffer, 200));
    EXPECT_STREQ(L"/passive /X {1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A} /norestart", buffer);
    ASSERT_TRUE(buildRemoveParameters(2, SUB_PRODUCT_CODES[9], buffer, 200));
    EXPECT_STREQ(L"/passive /X {43f6bc7b-7cd0-464c-bbad-5b25a5e89027} /norestart", buffer);

    // Too small, also for the last part alone: refused and left empty,
    // nothing written past the buffer.
    for (std::size_t capacity : {20u, 59u}) { // 59: all but the terminator fits
        wchar_t small[60 + 4];
        wmemset(small, L'#', 64);
        EXPECT_FALSE(buildRemoveParameters(1, PRODUCT_CODE_MAIN, small, capacity)) << capacity;
        EXPECT_EQ(L'\0', small[0]);
        EXPECT_EQ(L'#', small[capacity]);
    }

    // The shell of one session only.
    ASSERT_TRUE(buildShellKillParameters(1, buffer, 200));
    EXPECT_STREQ(L"/f /im explorer.exe /fi \"SESSION eq 1\"", buffer);
    ASSERT_TRUE(buildShellKillParameters(4294967295u, buffer, 200));
    EXPECT_STREQ(L"/f /im explorer.exe /fi \"SESSION eq 4294967295\"", buffer);
    EXPECT_FALSE(buildShellKillParameters(1, buffer, 20));
}

TEST(ProductNames, BaseNameMatchesExactlyAndWithCase)
{
    EXPECT_STREQ(L"ZIVOVault.exe", baseNameOf(L"C:\\Program Files\\HALVERN\\ZIVOVault.exe"));
    EXPECT_STREQ(L"ZIVOVault.exe", baseNameOf(L"ZIVOVault.exe"));
    EXPECT_STREQ(L"", baseNameOf(L"C:\\folder\\"));
    EXPECT_EQ(EXE_TRAY, productExecutableFor(L"ZIVOTray.exe"));
    EXPECT_EQ(EXE_VAULT, productExecutableFor(baseNameOf(L"C:\\x\\ZIVOVault.exe")));
    EXPECT_EQ(EXE_MAIN, productExecutableFor(L"ZIVOMain.exe"));
    EXPECT_EQ(EXE_ENROLL, productExecutableFor(L"ZIVOEnroll.exe"));
    EXPECT_EQ(nullptr, productExecutableFor(L"ZIVOTRAY.EXE"));
    EXPECT_EQ(nullptr, productExecutableFor(L"ZIVOTray.exe "));
    EXPECT_EQ(nullptr, productExecutableFor(L""));
}

namespace {

// A registry value as the registry hands it over: zero-filled 512 bytes.
struct RawValue {
    wchar_t text[kRegistryTextChars] = {};
    DWORD bytes = 0;
    explicit RawValue(const std::wstring& value)
    {
        wmemcpy(text, value.c_str(), value.size());
        bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    }
};

// The path read from the value, or "<missing>"; a failed read must leave
// the buffer empty, whatever was in it.
std::wstring pathOf(DWORD type, const RawValue& raw)
{
    wchar_t path[kRegistryTextChars];
    wmemset(path, L'#', kRegistryTextChars);
    if (pathFromRegistryValue(type, raw.text, raw.bytes, path)) return path;
    return path[0] == L'\0' ? L"<missing>" : L"<not cleared>";
}

} // namespace

TEST(OutsideValues, OnlyWholeAbsoluteStringsArePaths)
{
    EXPECT_EQ(L"C:\\Program Files\\HALVERN\\", pathOf(REG_SZ, RawValue(L"C:\\Program Files\\HALVERN\\")));
    EXPECT_EQ(L"\\\\server\\share\\ZIVO\\", pathOf(REG_SZ, RawValue(L"\\\\server\\share\\ZIVO\\")));
    EXPECT_EQ(L"d:\\x", pathOf(REG_SZ, RawValue(L"d:\\x")));
    // Forward slashes stand for backslashes, as the system takes them.
    EXPECT_EQ(L"C:/Users/erin", pathOf(REG_SZ, RawValue(L"C:/Users/erin")));
    EXPECT_EQ(L"//server/share/ZIVO/", pathOf(REG_SZ, RawValue(L"//server/share/ZIVO/")));
    for (const wchar_t* notAbsolute : {L"", L"ZIVO\\", L".\\ZIVO\\", L"\\ZIVO\\", L"C:ZIVO\\", L"C:", L"1:\\x",
                                       L"\\\\server\\", L"\\\\server\\share", L"\\\\\\share\\x", L"\\\\?\\C:\\x\\",
                                       L"\\\\.\\pipe\\x", L"%SystemDrive%\\Users\\x", L"/Users/erin", L"//?/C:/x/",
                                       L"//./pipe/x", L"\\\\server/share"})
        EXPECT_EQ(L"<missing>", pathOf(REG_SZ, RawValue(notAbsolute))) << kittestNarrow(notAbsolute);

    // Other types, whatever their bytes read as.
    const RawValue text(L"C:\\ZIVO\\");
    for (DWORD type : {REG_DWORD, REG_BINARY, REG_MULTI_SZ, REG_QWORD, REG_NONE})
        EXPECT_EQ(L"<missing>", pathOf(type, text)) << type;

    // 512 bytes without a terminator.
    RawValue full(L"");
    wmemset(full.text, L'A', kRegistryTextChars);
    full.text[0] = L'C', full.text[1] = L':', full.text[2] = L'\\';
    full.bytes = 512;
    EXPECT_EQ(L"<missing>", pathOf(REG_SZ, full));
    RawValue longest(L"C:\\" + std::wstring(252, L'a'));
    EXPECT_EQ(255u, pathOf(REG_SZ, longest).size());
}

TEST(OutsideValues, ExpandableStringsAreExpandedThenChecked)
{
    SetEnvironmentVariableW(L"KIT_TEST_ROOT", L"C:\\Program Files");
    SetEnvironmentVariableW(L"KIT_TEST_RELATIVE", L"folder");
    SetEnvironmentVariableW(L"KIT_TEST_LONG", (L"C:\\" + std::wstring(250, L'l')).c_str());
    EXPECT_EQ(L"C:\\Program Files\\ZIVO\\", pathOf(REG_EXPAND_SZ, RawValue(L"%KIT_TEST_ROOT%\\ZIVO\\")));
    EXPECT_EQ(L"<missing>", pathOf(REG_EXPAND_SZ, RawValue(L"%KIT_TEST_RELATIVE%\\ZIVO\\")));
    EXPECT_EQ(L"<missing>", pathOf(REG_EXPAND_SZ, RawValue(L"%KIT_TEST_LONG%\\ZIVO\\")));
    EXPECT_EQ(L"<missing>", pathOf(REG_EXPAND_SZ, RawValue(L"%KIT_TEST_UNSET%\\ZIVO\\")));
    // The plain form is taken as it stands: no expansion.
    EXPECT_EQ(L"<missing>", pathOf(REG_SZ, RawValue(L"%KIT_TEST_ROOT%\\ZIVO\\")));
}

TEST(CommandLine, TextAfterTheProgramNameDecidesTheMode)
{
    EXPECT_STREQ(L"/silent", textAfterProgramName(L"\"C:\\x\\Uninstall.exe\"/silent"));
    EXPECT_STREQ(L"/SILENT", textAfterProgramName(L"\"C:\\with blank\\Uninstall.exe\" \t /SILENT"));
    EXPECT_STREQ(L"/silent", textAfterProgramName(L"C:\\x\\Uninstall.exe /silent"));
    EXPECT_STREQ(L"", textAfterProgramName(L"\"C:\\x\\Uninstall.exe\""));
    EXPECT_STREQ(L"", textAfterProgramName(L"\"C:\\x\\Uninstall.exe /silent"));
    EXPECT_STREQ(L"", textAfterProgramName(L""));

    EXPECT_TRUE(isSilentSwitch(L"\"C:\\x\\Uninstall.exe\"/silent"));
    EXPECT_TRUE(isSilentSwitch(L"Uninstall.exe /SiLeNt"));
    for (const wchar_t* normal : {L"Uninstall.exe /silent x", L"Uninstall.exe -silent", L"Uninstall.exe",
                                  L"Uninstall.exe /silent ", L"Uninstall.exe/silent"})
        EXPECT_FALSE(isSilentSwitch(normal)) << kittestNarrow(normal);
}

TEST(SystemPrograms, StartedByFullPathFromTheSystemFolders)
{
    wchar_t system[MAX_PATH] = {};
    wchar_t windows[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    GetWindowsDirectoryW(windows, MAX_PATH);
    wchar_t path[MAX_PATH];
    ASSERT_TRUE(systemProgramPath(EXE_MSIEXEC, path));
    EXPECT_EQ(std::wstring(system) + L"\\MsiExec.exe", path);
    ASSERT_TRUE(windowsProgramPath(EXE_EXPLORER, path));
    EXPECT_EQ(std::wstring(windows) + L"\\explorer.exe", path);
    // A name that would not fit leaves nothing to start.
    EXPECT_FALSE(systemProgramPath(std::wstring(MAX_PATH, L'x').c_str(), path));
    EXPECT_STREQ(L"", path);
}

TEST(RemovalOutcome, FirstFailureInRunOrderElseTheRestartStartedElseTheOneNeeded)
{
    struct Case {
        std::vector<DWORD> codes;
        DWORD exitCode;
        bool allDone; // the uninstall entry may go
    };
    const Case cases[] = {
        {{}, 0, true},
        {{0, 1605, 0}, 0, true},
        {{1605, 3010, 0}, 3010, true},
        {{3010, 1641, 3010}, 1641, true},
        {{1641, 0}, 1641, true},
        {{0, 1618, 1603}, 1618, false},
        {{3010, 1603, 1641}, 1603, false},
        {{1605, ERROR_PATH_NOT_FOUND, 1603}, ERROR_PATH_NOT_FOUND, false}, // a start that failed
        {{1602}, 1602, false},
    };
    for (const Case& c : cases) {
        RemovalOutcome outcome;
        for (DWORD code : c.codes) outcome.add(code);
        std::string codes;
        for (DWORD code : c.codes) codes += std::to_string(code) + " ";
        EXPECT_EQ(c.exitCode, outcome.exitCode()) << codes;
        EXPECT_EQ(c.allDone, outcome.allDone()) << codes;
    }
}

TEST(ShellLookup, OnlyTheWindowsFoldersExplorerIsTheShell)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* windowsFolder;
        bool shell;
    };
    const Case cases[] = {
        {L"C:\\windows\\explorer.exe", L"C:\\windows", true},
        {L"c:\\WINDOWS\\explorer.exe", L"C:\\Windows", true}, // in any case, as Windows names files
        {L"C:\\WINDOWS\\Explorer.EXE", L"C:\\Windows", true}, // how Windows may record the logon shell
        {L"C:\\explorer.exe", L"C:\\", true},
        {L"C:\\windows\\system32\\explorer.exe", L"C:\\windows", false},
        {L"C:\\Users\\Public\\myexplorer.exe", L"C:\\windows", false},
        {L"C:\\windows\\myexplorer.exe", L"C:\\windows", false},
        {L"C:\\x\\explorer.exe\\tool.exe", L"C:\\windows", false},
        {L"C:\\windowsexplorer.exe", L"C:\\windows", false},
        {L"C:\\windows\\explorer.exe ", L"C:\\windows", false},
        {L"D:\\windows\\explorer.exe", L"C:\\windows", false},
        {L"", L"C:\\windows", false},
        {L"\\explorer.exe", L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.shell, isWindowsFolderProgram(c.path, c.windowsFolder, EXE_EXPLORER))
            << kittestNarrow(c.path) << " in " << kittestNarrow(c.windowsFolder);
}
