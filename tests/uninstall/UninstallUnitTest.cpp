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

TEST(RemoveParameters, PrefixFollowedDirectlyByTheCode)
{
    wchar_t buffer[200];
    wmemset(buffer, L'#', 200);
    ASSERT_TRUE(buildRemoveParameters(1, SUB_PRODUCT_CODES[0], buffer, 200));
    EXPECT_STREQ(L"/quiet /X {4CA564D7-4F81-4C2C-9429-6609A57D26A5}", buffer);
    EXPECT_EQ(L'\0', buffer[199]); // zero-filled
    ASSERT_TRUE(buildRemoveParameters(0, PRODUCT_CODE_MAIN, buffer, 200));
    EXPECT_STREQ(L"/passive /X {1A23B247-C9CF-43F5-A7AE-6B1FF4BDB52A}", buffer);
    ASSERT_TRUE(buildRemoveParameters(2, SUB_PRODUCT_CODES[9], buffer, 200));
    EXPECT_STREQ(L"/passive /X {43f6bc7b-7cd0-464c-bbad-5b25a5e89027}", buffer);

    // Too small: refused, nothing written past the buffer.
    wchar_t small[20 + 4];
    wmemset(small, L'#', 24);
    EXPECT_FALSE(buildRemoveParameters(1, PRODUCT_CODE_MAIN, small, 20));
    EXPECT_EQ(L'#', small[20]);
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
    };
    const Case cases[] = {
        {{}, 0},
        {{0, 1605, 0}, 0},
        {{1605, 3010, 0}, 3010},
        {{3010, 1641, 3010}, 1641},
        {{1641, 0}, 1641},
        {{0, 1618, 1603}, 1618},
        {{3010, 1603, 1641}, 1603},
        {{1605, ERROR_PATH_NOT_FOUND, 1603}, ERROR_PATH_NOT_FOUND}, // a start that failed
        {{1602}, 1602},
    };
    for (const Case& c : cases) {
        RemovalOutcome outcome;
        for (DWORD code : c.codes) outcome.add(code);
        std::string codes;
        for (DWORD code : c.codes) codes += std::to_string(code) + " ";
        EXPECT_EQ(c.exitCode, outcome.exitCode()) << codes;
    }
}

TEST(ShellLookup, OnlyTheWindowsFoldersExplorerIsTheShell)
{
    struct Case {
        const char* path;
        const char* windowsFolder;
        bool shell;
    };
    const Case cases[] = {
        {"C:\\windows\\explorer.exe", "C:\\windows", true},
        {"c:\\WINDOWS\\explorer.exe", "C:\\Windows", true}, // the folder in any case
        {"C:\\explorer.exe", "C:\\", true},
        {"C:\\windows\\Explorer.exe", "C:\\windows", false}, // the name byte for byte
        {"C:\\windows\\system32\\explorer.exe", "C:\\windows", false},
        {"C:\\Users\\Public\\myexplorer.exe", "C:\\windows", false},
        {"C:\\windows\\myexplorer.exe", "C:\\windows", false},
        {"C:\\x\\explorer.exe\\tool.exe", "C:\\windows", false},
        {"C:\\windowsexplorer.exe", "C:\\windows", false},
        {"C:\\windows\\explorer.exe ", "C:\\windows", false},
        {"D:\\windows\\explorer.exe", "C:\\windows", false},
        {"", "C:\\windows", false},
        {"\\explorer.exe", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.shell, isWindowsFolderModule(c.path, c.windowsFolder, MODULE_EXPLORER)) << c.path << " in " << c.windowsFolder;
}
