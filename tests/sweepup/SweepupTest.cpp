// The real cleanup tool in the sandbox: profiles added to the profile list,
// the product's leftovers laid out where the product leaves them, then the
// files and registry checked after each run.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "KitTest.h"

using namespace kittest;

namespace {

const std::wstring kProfileList = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const std::wstring kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kProductKey = L"Software\\HALVERN\\ZIVO";
const std::wstring kPublic = L"C:\\Users\\Public\\ZIVO";
const std::wstring kPublicLogs = kPublic + L"\\ZIVOlogs";
const std::wstring kStartMenuMaker = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\HALVERN";
const std::wstring kStartMenu = kStartMenuMaker + L"\\Utilities";
const std::wstring kStartup = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
const wchar_t* const kInstallFiles[] = {L"DataMigrate.exe",  L"MigrateCore.dll",   L"RecoveryTool.exe",
                                        L"RecoveryCore.dll", L"SensorDecrypt.dll", L"TemplateStore.dat"};

void makeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    makeDirs(path.substr(0, path.find_last_of(L'\\')));
    writeFile(path, "leftover");
    SetFileAttributesW(path.c_str(), attributes);
}

// Each file and folder below `folder` (ending in a backslash), by path,
// with its attributes and the contents of a file; the tool's own output
// files aside.
using Described = std::map<std::string, std::string>;

void describeTree(const std::wstring& folder, Described& out)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || name == L"stdout.txt" || name == L"stderr.txt") continue;
        const std::wstring path = folder + name;
        std::string& described = out[narrow(path)] = std::to_string(found.dwFileAttributes);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            described += " " + readFile(path);
        else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            describeTree(path + L"\\", out);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// The paths of the preview's lines of one kind ("delete", "remove",
// "keep"), each with the reason for a kept item after a tab.
std::multiset<std::string> listed(const std::vector<std::string>& preview, const std::string& kind)
{
    std::multiset<std::string> out;
    for (const std::string& line : preview)
        if (line.compare(0, kind.size() + 1, kind + "\t") == 0) out.insert(line.substr(kind.size() + 1));
    return out;
}

// One machine's worth of leftovers, and the means to run the tool on it.
// Its folders lie on the sandbox's own C: drive, so their final paths are
// the paths the tool is given wherever the sandbox itself lies.
class Machine {
public:
    // The link tests lay out the shared folders themselves: `cleanShared`
    // false leaves those to them.
    explicit Machine(const std::wstring& name, bool cleanShared = true)
        : m_dir(name, L"C:\\kit-scratch\\"), m_cleanShared(cleanShared)
    {
        clean();
    }
    ~Machine() { clean(); }

    std::wstring path(const std::wstring& name) const { return m_dir / name; }

    // A profile of the profile list whose folder is in the scratch folder.
    std::wstring addProfile(const std::wstring& sid, bool withImagePath = true)
    {
        const std::wstring folder = m_dir / (L"profiles\\" + sid);
        makeDirs(folder);
        if (withImagePath)
            regSetString(kProfileList + sid, L"ProfileImagePath", folder);
        else
            regSetString(kProfileList + sid, L"Other", L"x");
        m_profiles.push_back(sid);
        return folder + L"\\AppData\\Roaming\\ZIVO";
    }

    void addRawProfile(const std::wstring& sid, DWORD type, const void* data, DWORD bytes)
    {
        regSetRaw(kProfileList + sid, L"ProfileImagePath", type, data, bytes);
        m_profiles.push_back(sid);
    }

    void addProfileText(const std::wstring& sid, DWORD type, const std::wstring& text)
    {
        addRawProfile(sid, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    std::wstring installFolder() const { return m_dir / L"install"; }

    // Everything the tool removes, in one profile with a nine-character name.
    void layOutLeftovers()
    {
        makeFile(addProfile(L"S-1-5-999") + L"\\settings.dat");
        makeFile(kPublicLogs + L"\\today.log");
        makeFile(kPublic + L"\\shared.dat");
        regSetString(kProductKey, L"InstallPath", installFolder() + L"\\");
        for (const wchar_t* name : kInstallFiles) makeFile(installFolder() + L"\\" + name, FILE_ATTRIBUTE_READONLY);
        makeFile(kStartMenu + L"\\Dactyra.lnk");
        makeFile(kStartMenu + L"\\Recovery Tool.lnk");
        makeFile(kStartup + L"\\ZIVO Vault.lnk");
        makeFile(kStartup + L"\\ZIVO Tray.lnk");
        regSetString(kRunKey, L"ZIVOVaultService", L"vault.exe");
        regSetString(kRunKey, L"ZIVOAgent", L"agent.exe");
    }

    // How many of the leftovers are still there.
    int leftovers() const
    {
        int n = 0;
        n += exists(path(L"profiles\\S-1-5-999\\AppData\\Roaming\\ZIVO"));
        n += exists(kPublicLogs);
        n += exists(kPublic);
        for (const wchar_t* name : kInstallFiles) n += exists(installFolder() + L"\\" + name);
        n += exists(kStartMenu + L"\\Dactyra.lnk") + exists(kStartMenu + L"\\Recovery Tool.lnk");
        n += exists(kStartup + L"\\ZIVO Vault.lnk") + exists(kStartup + L"\\ZIVO Tray.lnk");
        n += regValueExists(kRunKey, L"ZIVOVaultService") + regValueExists(kRunKey, L"ZIVOAgent");
        return n;
    }
    static constexpr int kAllLeftovers = 15;

    // Runs the preview; it must end with 0 and print nothing to the error
    // stream. Its lines, as UTF-8 text.
    std::vector<std::string> preview(Where where = {})
    {
        const ::testing::ScopedTrace trace(where.file, where.line, "Machine::preview");
        return lines(runTool(L"/Preview", {}));
    }

    // Everything the tool may touch, as text: each file and folder under
    // the scratch folder and the shared, Start-menu and Startup folders
    // with its attributes and contents, and the Run values.
    Described state() const
    {
        Described out;
        for (const std::wstring& root : {m_dir.path(), kPublic + L"\\", kStartMenuMaker + L"\\", kStartup + L"\\"})
            describeTree(root, out);
        if (isDirectory(kPublic)) out[narrow(kPublic)] = "folder";
        for (const wchar_t* name : {L"ZIVOVaultService", L"ZIVOAgent", L"Other"})
            if (regValueExists(kRunKey, name)) out["HKLM\\" + narrow(kRunKey) + "\\" + narrow(name)] = "set";
        return out;
    }

    // Runs the tool; it must end with 0 and print nothing. "/Uninstall"
    // runs "/Preview" first: the preview changes nothing, and the cleanup
    // then takes exactly what it listed as deleted and removed, of all
    // that state() describes. (Not where something changes the machine
    // meanwhile, or holds a file whose deletion only a try refuses:
    // sweepWithoutPreview.)
    void sweep(const std::wstring& args, const std::map<std::wstring, std::wstring>& env = {}, Where where = {})
    {
        const ::testing::ScopedTrace trace(where.file, where.line, "Machine::sweep");
        if (args != L"/Uninstall" || !env.empty()) {
            EXPECT_EQ("", runTool(args, env)) << narrow(args);
            return;
        }
        const Described before = state();
        const std::vector<std::string> listedLines = lines(runTool(L"/Preview", {}));
        EXPECT_EQ(before, state()) << "the preview changed something";
        EXPECT_EQ("", runTool(args, env));
        const Described after = state();
        std::multiset<std::string> gone, expected;
        for (const auto& [path, described] : before)
            if (!after.count(path)) gone.insert(path);
        for (const char* kind : {"delete", "remove"})
            for (const std::string& path : listed(listedLines, kind))
                if (isDescribed(path)) expected.insert(path);
        EXPECT_EQ(expected, gone) << "the cleanup did other than the preview listed";
    }
    void sweepWithoutPreview(Where where = {})
    {
        const ::testing::ScopedTrace trace(where.file, where.line, "Machine::sweepWithoutPreview");
        EXPECT_EQ("", runTool(L"/Uninstall", {}));
    }

private:
    // Runs the tool, which must end with 0 and write nothing to its error
    // stream; what it wrote to its standard output.
    std::string runTool(const std::wstring& args, const std::map<std::wstring, std::wstring>& env)
    {
        RunOptions options;
        options.env = env;
        options.currentDir = m_dir.path();
        options.stdoutFile = m_dir / L"stdout.txt";
        options.stderrFile = m_dir / L"stderr.txt";
        const std::wstring line = quote(binDir() + L"Sweepup.exe") + (args.empty() ? L"" : L" " + args);
        EXPECT_EQ(0, run(line, options)) << narrow(args);
        EXPECT_EQ("", readFile(m_dir / L"stderr.txt")) << narrow(args);
        return readFile(m_dir / L"stdout.txt");
    }

    // Whether state() describes the path (a file or folder under its roots,
    // or a Run value).
    bool isDescribed(const std::string& path) const
    {
        const auto startsWith = [&](const std::wstring& root) {
            const std::string r = narrow(root);
            return path.size() >= r.size() && _strnicmp(path.c_str(), r.c_str(), r.size()) == 0;
        };
        return startsWith(m_dir.path()) || startsWith(kPublic) || startsWith(kStartMenuMaker + L"\\") ||
               startsWith(kStartup + L"\\") || path.compare(0, 5, "HKLM\\") == 0;
    }

    void clean()
    {
        for (const std::wstring& sid : m_profiles) regDeleteTree(kProfileList + sid);
        if (m_cleanShared) removeTree(kPublic);
        removeTree(kStartMenuMaker);
        removeTree(kStartup + L"\\ZIVO Vault.lnk");
        removeTree(kStartup + L"\\ZIVO Tray.lnk");
        regDeleteTree(kProductKey);
        HKEY run = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey.c_str(), 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
            RegDeleteValueW(run, L"ZIVOVaultService");
            RegDeleteValueW(run, L"ZIVOAgent");
            RegDeleteValueW(run, L"Other");
            RegCloseKey(run);
        }
    }

    ScratchDir m_dir;
    bool m_cleanShared;
    std::vector<std::wstring> m_profiles;
};

} // namespace

TEST(SweepupSwitch, OnlyAnExactFirstArgumentRunsTheSweep)
{
    Machine machine(L"switch");
    machine.layOutLeftovers();
    ASSERT_EQ(Machine::kAllLeftovers, machine.leftovers());
    for (const wchar_t* args : {L"", L"/uninstall", L"/UNINSTALL", L"Uninstall", L"x /Uninstall", L"\"/Uninstall \""}) {
        machine.sweep(args);
        EXPECT_EQ(Machine::kAllLeftovers, machine.leftovers()) << narrow(args);
    }
    machine.sweep(L"/Uninstall and more");
    EXPECT_EQ(0, machine.leftovers());
    // What the tool leaves on purpose.
    EXPECT_TRUE(isDirectory(machine.installFolder()));
    EXPECT_TRUE(isDirectory(kStartMenu));
}

TEST(SweepupProfiles, NamesLongerThanEightCharactersHaveTheirDataSwept)
{
    Machine machine(L"profiles");
    const std::wstring eight = machine.addProfile(L"S-1-5-88");
    const std::wstring nine = machine.addProfile(L"S-1-5-999");
    machine.addProfile(L"S-1-5-21-4001", false);
    const std::wstring hidden = machine.addProfile(L"S-1-5-21-4002");
    const std::wstring nested = machine.addProfile(L"S-1-5-21-4003");
    makeFile(eight + L"\\a.dat");
    makeFile(nine + L"\\a.dat");
    makeFile(hidden + L"\\readonly.dat", FILE_ATTRIBUTE_READONLY);
    makeFile(hidden + L"\\hidden.dat", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    makeFile(hidden + L"\\no dot");
    makeFile(nested + L"\\a.dat");
    makeFile(nested + L"\\sub\\b.dat");
    makeDirs(machine.path(L"profiles\\S-1-5-21-4001\\AppData\\Roaming\\ZIVO"));

    machine.sweep(L"/Uninstall");

    EXPECT_TRUE(exists(eight + L"\\a.dat"));
    EXPECT_FALSE(exists(nine));
    EXPECT_TRUE(isDirectory(machine.path(L"profiles\\S-1-5-999\\AppData\\Roaming")));
    EXPECT_FALSE(exists(hidden));
    EXPECT_FALSE(exists(nested + L"\\a.dat"));
    EXPECT_TRUE(exists(nested + L"\\sub\\b.dat"));
    EXPECT_TRUE(isDirectory(machine.path(L"profiles\\S-1-5-21-4001\\AppData\\Roaming\\ZIVO")));
}

// Another process deletes profiles while the tool sweeps: the others are
// all swept, none shifted out of the walk.
TEST(SweepupProfiles, ProfilesDeletedDuringTheWalkMissNoOther)
{
    Machine machine(L"walk");
    std::vector<std::wstring> kept, deleted;
    std::vector<std::wstring> keptData;
    for (int i = 0; i < 300; ++i) {
        const std::wstring sid = L"S-1-5-21-9" + std::to_wstring(1000 + i);
        const std::wstring data = machine.addProfile(sid);
        makeFile(data + L"\\a.dat");
        if (i % 3 == 0) {
            kept.push_back(sid);
            keptData.push_back(data);
        } else {
            deleted.push_back(sid);
        }
    }
    // Once the sweep has begun (the first profile's data is gone), the
    // others' keys go, from the front of the list.
    std::atomic<bool> began{false};
    std::thread deleter([&] {
        began = waitUntil([&] { return !exists(keptData[0]); }, 60000);
        if (began)
            for (const std::wstring& sid : deleted) regDeleteTree(kProfileList + sid);
    });
    machine.sweepWithoutPreview(); // profiles go from the list meanwhile
    deleter.join();
    ASSERT_TRUE(began) << "the sweep never began";
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_FALSE(exists(keptData[i])) << narrow(kept[i]);
}

TEST(SweepupSharedFolders, LogFolderGoesBeforeItsParentAndSubfoldersStay)
{
    {
        Machine machine(L"public");
        makeFile(kPublicLogs + L"\\a.log", FILE_ATTRIBUTE_READONLY);
        makeFile(kPublic + L"\\data.dat");
        machine.sweep(L"/Uninstall");
        EXPECT_FALSE(exists(kPublic));
    }
    {
        Machine machine(L"public-sub");
        makeFile(kPublicLogs + L"\\a.log");
        makeFile(kPublicLogs + L"\\old\\b.log");
        makeFile(kPublic + L"\\data.dat");
        machine.sweep(L"/Uninstall");
        EXPECT_FALSE(exists(kPublicLogs + L"\\a.log"));
        EXPECT_FALSE(exists(kPublic + L"\\data.dat"));
        EXPECT_TRUE(exists(kPublicLogs + L"\\old\\b.log"));
    }
    {
        // A process standing in a folder (a console left open there) keeps
        // only the folder itself; its files go all the same.
        Machine machine(L"stood-in");
        const std::wstring roaming = machine.addProfile(L"S-1-5-21-3001");
        makeFile(kPublicLogs + L"\\a.log", FILE_ATTRIBUTE_READONLY);
        makeFile(kPublic + L"\\data.dat");
        makeFile(roaming + L"\\settings.dat");
        ASSERT_TRUE(copyTo(selfDir() + L"Recorder.exe", machine.path(L"stander.exe")));
        std::vector<Process> standers;
        for (const std::wstring& folder : {kPublicLogs, roaming}) {
            RunOptions options;
            options.currentDir = folder;
            standers.push_back(start(quote(machine.path(L"stander.exe")), options));
        }
        for (const Process& stander : standers) ASSERT_TRUE(stander.running());
        // Only the cleanup's try shows that a folder stood in cannot go:
        // asking with its access would refuse the stander's own opens.
        machine.sweepWithoutPreview();
        EXPECT_FALSE(exists(kPublicLogs + L"\\a.log"));
        EXPECT_FALSE(exists(roaming + L"\\settings.dat"));
        EXPECT_FALSE(exists(kPublic + L"\\data.dat"));
        EXPECT_TRUE(isDirectory(kPublicLogs)); // stood in: it cannot go
        for (const Process& stander : standers) TerminateProcess(stander.process, 0);
    }
    {
        // One who leaves while the folder's many files go: the folder goes
        // too, after them.
        Machine machine(L"left");
        const int kFiles = 6000;
        ASSERT_TRUE(makeDirs(kPublicLogs));
        for (int i = 0; i < kFiles; ++i) writeFile(kPublicLogs + L"\\" + std::to_wstring(i) + L".log", "x");
        ASSERT_TRUE(copyTo(selfDir() + L"Recorder.exe", machine.path(L"stander.exe")));
        RunOptions options;
        options.currentDir = kPublicLogs;
        Process stander = start(quote(machine.path(L"stander.exe")), options);
        ASSERT_TRUE(stander.running());
        std::atomic<bool> left{false};
        std::thread leaver([&] {
            const auto sweeping = [&] {
                for (int i = 0; i < kFiles; i += 250)
                    if (!exists(kPublicLogs + L"\\" + std::to_wstring(i) + L".log")) return true;
                return false;
            };
            if (waitUntil(sweeping, 60000)) left = TerminateProcess(stander.process, 0) && stander.wait(10000) == 0;
        });
        machine.sweepWithoutPreview(); // the stander leaves meanwhile
        leaver.join();
        ASSERT_TRUE(left) << "the sweep never began, or the stander did not leave";
        EXPECT_FALSE(exists(kPublicLogs));
        EXPECT_FALSE(exists(kPublic));
    }
}

TEST(SweepupInstallFiles, SixNamedFilesGoEvenReadOnly)
{
    Machine machine(L"install");
    const std::wstring folder = machine.installFolder();
    for (const wchar_t* name : kInstallFiles) makeFile(folder + L"\\" + name, FILE_ATTRIBUTE_READONLY);
    makeFile(folder + L"\\ZIVOMain.exe");
    regSetString(kProductKey, L"InstallPath", folder + L"\\");
    machine.sweep(L"/Uninstall");
    for (const wchar_t* name : kInstallFiles) EXPECT_FALSE(exists(folder + L"\\" + name)) << narrow(name);
    EXPECT_TRUE(exists(folder + L"\\ZIVOMain.exe"));

    // Stored without its trailing backslash, the folder would run into each
    // name and name files beside it ("...\\installDataMigrate.exe"): it
    // counts as missing, and neither those nor the six files go.
    for (const wchar_t* name : kInstallFiles) {
        makeFile(folder + L"\\" + name);
        makeFile(folder + name);
    }
    regSetString(kProductKey, L"InstallPath", folder);
    machine.sweep(L"/Uninstall");
    for (const wchar_t* name : kInstallFiles) {
        EXPECT_TRUE(exists(folder + L"\\" + name)) << narrow(name);
        EXPECT_TRUE(exists(folder + name)) << narrow(name);
    }
}

TEST(SweepupShortcuts, DeletedWithoutAttributeReset)
{
    Machine machine(L"shortcuts");
    makeFile(kStartMenu + L"\\Dactyra.lnk", FILE_ATTRIBUTE_READONLY);
    makeFile(kStartMenu + L"\\Recovery Tool.lnk");
    makeFile(kStartMenu + L"\\Other.lnk");
    makeFile(kStartup + L"\\ZIVO Vault.lnk");
    makeFile(kStartup + L"\\ZIVO Tray.lnk");
    machine.sweep(L"/Uninstall");
    EXPECT_TRUE(exists(kStartMenu + L"\\Dactyra.lnk"));
    EXPECT_FALSE(exists(kStartMenu + L"\\Recovery Tool.lnk"));
    EXPECT_TRUE(exists(kStartMenu + L"\\Other.lnk"));
    EXPECT_FALSE(exists(kStartup + L"\\ZIVO Vault.lnk"));
    EXPECT_FALSE(exists(kStartup + L"\\ZIVO Tray.lnk"));
}

TEST(SweepupRunValues, BothGoAndOthersStay)
{
    Machine machine(L"run");
    regSetString(kRunKey, L"ZIVOVaultService", L"vault.exe");
    regSetString(kRunKey, L"ZIVOAgent", L"agent.exe");
    regSetString(kRunKey, L"Other", L"other.exe");
    machine.sweep(L"/Uninstall");
    EXPECT_FALSE(regValueExists(kRunKey, L"ZIVOVaultService"));
    EXPECT_FALSE(regValueExists(kRunKey, L"ZIVOAgent"));
    EXPECT_TRUE(regValueExists(kRunKey, L"Other"));

    regSetString(kRunKey, L"ZIVOAgent", L"agent.exe");
    machine.sweep(L"/Uninstall");
    EXPECT_FALSE(regValueExists(kRunKey, L"ZIVOAgent"));
}

TEST(SweepupBadValues, UnterminatedOrOverlongValuesDeleteNothingElse)
{
    Machine machine(L"bad");
    // A folder with files where a value cut at its buffer would point.
    const std::wstring victim = machine.path(L"victim");
    makeFile(victim + L"\\AppData\\Roaming\\ZIVO\\precious.dat");
    for (const wchar_t* name : kInstallFiles) makeFile(victim + L"\\" + name);
    // 512 bytes: the folder and then backslashes, with no terminator; the
    // character after them is not zero either.
    std::wstring unterminated = victim + std::wstring(300, L'\\');
    machine.addRawProfile(L"S-1-5-21-5001", REG_SZ, unterminated.c_str(), 512);
    regSetRaw(kProductKey, L"InstallPath", REG_SZ, unterminated.c_str(), 512);

    machine.sweep(L"/Uninstall");

    EXPECT_TRUE(exists(victim + L"\\AppData\\Roaming\\ZIVO\\precious.dat"));
    for (const wchar_t* name : kInstallFiles) EXPECT_TRUE(exists(victim + L"\\" + name)) << narrow(name);
}

// A profile folder, install folder or log folder known only as a relative,
// empty or non-string value would be swept wherever the tool happens to
// run; such a value counts as missing. An expandable one is expanded.
TEST(SweepupOutsideValues, OnlyWholeAbsolutePathsAreSwept)
{
    Machine machine(L"values");
    // Where relative or empty values would lead, run from this folder on C:.
    makeFile(machine.path(L"relative\\AppData\\Roaming\\ZIVO\\canary.dat"));
    makeFile(L"C:\\AppData\\Roaming\\ZIVO\\canary.dat");
    const DWORD number = 0x00430043;
    machine.addProfileText(L"S-1-5-21-7001", REG_SZ, L"relative");
    machine.addProfileText(L"S-1-5-21-7002", REG_SZ, L"");
    machine.addRawProfile(L"S-1-5-21-7003", REG_DWORD, &number, sizeof number);
    machine.addProfileText(L"S-1-5-21-7004", REG_EXPAND_SZ, L"%KIT_TEST_PROFILES%\\expanded");
    makeFile(machine.path(L"profiles\\expanded\\AppData\\Roaming\\ZIVO\\gone.dat"));
    const std::wstring after = machine.addProfile(L"S-1-5-21-7005");
    makeFile(after + L"\\gone.dat");
    // The profile folder in its 8.3 form, and with forward slashes: the
    // same folders, swept.
    const std::wstring longName = machine.path(L"profiles\\long profile name");
    makeFile(longName + L"\\AppData\\Roaming\\ZIVO\\gone.dat");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(longName.c_str(), shortName, MAX_PATH), 0u);
    ASSERT_NE(longName, shortName);
    machine.addProfileText(L"S-1-5-21-7006", REG_SZ, shortName);
    std::wstring slashed = machine.path(L"profiles\\slashed");
    makeFile(slashed + L"\\AppData\\Roaming\\ZIVO\\gone.dat");
    for (wchar_t& c : slashed) c = c == L'\\' ? L'/' : c;
    machine.addProfileText(L"S-1-5-21-7007", REG_SZ, slashed);

    for (const wchar_t* name : kInstallFiles) makeFile(machine.path(L"install\\") + name);
    regSetString(kProductKey, L"InstallPath", L"install\\");
    std::wstring profiles = machine.path(L"profiles");
    machine.sweep(L"/Uninstall", {{L"KIT_TEST_PROFILES", profiles}});

    EXPECT_TRUE(exists(machine.path(L"relative\\AppData\\Roaming\\ZIVO\\canary.dat")));
    EXPECT_TRUE(exists(L"C:\\AppData\\Roaming\\ZIVO\\canary.dat"));
    EXPECT_FALSE(exists(machine.path(L"profiles\\expanded\\AppData\\Roaming\\ZIVO")));
    EXPECT_FALSE(exists(after)) << "the walk stopped at a bad value";
    EXPECT_FALSE(exists(longName + L"\\AppData\\Roaming\\ZIVO")) << narrow(shortName);
    EXPECT_FALSE(exists(machine.path(L"profiles\\slashed\\AppData\\Roaming\\ZIVO")));
    for (const wchar_t* name : kInstallFiles) EXPECT_TRUE(exists(machine.path(L"install\\") + name)) << narrow(name);
    removeTree(L"C:\\AppData");

    // The install folder as a number, then expandable.
    regSetRaw(kProductKey, L"InstallPath", REG_DWORD, &number, sizeof number);
    machine.sweep(L"/Uninstall");
    for (const wchar_t* name : kInstallFiles) EXPECT_TRUE(exists(machine.path(L"install\\") + name)) << narrow(name);
    const std::wstring expandable = L"%KIT_TEST_INSTALL%\\";
    regSetRaw(kProductKey, L"InstallPath", REG_EXPAND_SZ, expandable.c_str(),
              static_cast<DWORD>((expandable.size() + 1) * sizeof(wchar_t)));
    std::wstring install = machine.path(L"install");
    machine.sweep(L"/Uninstall", {{L"KIT_TEST_INSTALL", install}});
    for (const wchar_t* name : kInstallFiles) EXPECT_FALSE(exists(machine.path(L"install\\") + name)) << narrow(name);
}

// A hard link in a swept folder shares its attributes with a file outside:
// those are never reset, so the outside file keeps them. A link that can go
// without a change goes.
TEST(SweepupHardLinks, OutsideFilesKeepTheirAttributesAndContents)
{
    Machine machine(L"hardlinks");
    const std::wstring data = machine.addProfile(L"S-1-5-21-8001");
    makeDirs(data);
    const std::wstring readOnly = machine.path(L"outside\\read-only.dat");
    const std::wstring plain = machine.path(L"outside\\plain.dat");
    makeFile(readOnly, FILE_ATTRIBUTE_READONLY);
    makeFile(plain);
    ASSERT_TRUE(CreateHardLinkW((data + L"\\read-only-link.dat").c_str(), readOnly.c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkW((data + L"\\plain-link.dat").c_str(), plain.c_str(), nullptr));
    makeFile(data + L"\\own.dat", FILE_ATTRIBUTE_READONLY);
    // The install files go the same way.
    const std::wstring install = machine.installFolder();
    makeDirs(install);
    regSetString(kProductKey, L"InstallPath", install + L"\\");
    ASSERT_TRUE(CreateHardLinkW((install + L"\\TemplateStore.dat").c_str(), readOnly.c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkW((install + L"\\SensorDecrypt.dll").c_str(), plain.c_str(), nullptr));

    machine.sweep(L"/Uninstall");

    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ("leftover", readFile(readOnly));
    EXPECT_EQ("leftover", readFile(plain));
    EXPECT_TRUE(exists(data + L"\\read-only-link.dat")); // cannot go without a change
    EXPECT_FALSE(exists(data + L"\\plain-link.dat"));
    EXPECT_FALSE(exists(data + L"\\own.dat"));
    EXPECT_TRUE(exists(install + L"\\TemplateStore.dat"));
    EXPECT_FALSE(exists(install + L"\\SensorDecrypt.dll"));
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The preview decides as the cleanup does and changes nothing: what it
// lists as deleted and removed is exactly what the cleanup then deletes,
// and what is in the way is kept with its reason.
TEST(SweepupPreview, ListsExactlyWhatTheCleanupDeletesAndChangesNothing)
{
    Machine machine(L"preview");
    machine.layOutLeftovers();
    const std::wstring profile = machine.path(L"profiles\\S-1-5-999");
    const std::wstring data = profile + L"\\AppData\\Roaming\\ZIVO";
    makeFile(data + L"\\ZIVORoot.key");
    makeFile(data + L"\\ZIVORoot.key 2026-12-01 10-00-00", FILE_ATTRIBUTE_READONLY);
    // A name in Greek and Cyrillic: whole in the redirected output (UTF-8).
    const std::wstring named = data + L"\\\u03ba\u03bb\u03b5\u03b9\u03b4\u03af-\u043a\u043b\u044e\u0447.dat";
    ASSERT_TRUE(writeFile(named, "leftover"));
    makeFile(data + L"\\sub\\kept.dat");
    SetFileAttributesW((kStartMenu + L"\\Dactyra.lnk").c_str(), FILE_ATTRIBUTE_READONLY);
    machine.addProfileText(L"S-1-5-21-7101", REG_SZ, L"relative");
    regSetString(kRunKey, L"Other", L"other.exe");

    const Described before = machine.state();
    const std::vector<std::string> preview = machine.preview();
    EXPECT_EQ(before, machine.state()) << "the preview changed something";

    const std::string d = narrow(data);
    const std::multiset<std::string> kept = {
        d + "\\sub\tsubfolder (not entered)",
        d + "\tfolder not empty (holds what is kept)",
        narrow(kStartMenu) + "\\Dactyra.lnk\tread-only shortcut",
        "HKLM\\" + narrow(kProfileList) + "S-1-5-21-7101\\ProfileImagePath\tprofile folder is not a whole, absolute path",
    };
    EXPECT_EQ(kept, listed(preview, "keep"));
    const std::multiset<std::string> deleted = listed(preview, "delete");
    EXPECT_EQ(1u, deleted.count(narrow(named)));
    EXPECT_EQ(1u, deleted.count(narrow(kStartMenu) + "\\Recovery Tool.lnk")) << "each shortcut once";
    ASSERT_FALSE(preview.empty());
    EXPECT_EQ("total\t15 files, 2 folders, 2 values to delete; 4 items kept\troot key files of " + narrow(profile),
              preview.back());

    // The cleanup then takes exactly what the preview listed.
    machine.sweep(L"/Uninstall");
    const Described after = machine.state();
    std::multiset<std::string> gone;
    for (const auto& [path, described] : before)
        if (!after.count(path)) gone.insert(path);
    std::multiset<std::string> expected = deleted;
    for (const std::string& folder : listed(preview, "remove")) expected.insert(folder);
    EXPECT_EQ(expected, gone);
}

// On a console the preview's names come out whole in any script, as the
// console shows them.
TEST(SweepupPreview, NamesInAnyScriptReachAConsoleWhole)
{
    Machine machine(L"console");
    const std::wstring data = machine.addProfile(L"S-1-5-21-7201");
    const std::wstring name = L"\u03ba\u03bb\u03b5\u03b9\u03b4\u03af-\u043a\u043b\u044e\u0447.dat";
    ASSERT_TRUE(makeDirs(data));
    ASSERT_TRUE(writeFile(data + L"\\" + name, "leftover"));

    // A console of the test's own, which the preview shares; the test's
    // own output keeps going where it went.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE),
                 in = GetStdHandle(STD_INPUT_HANDLE);
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    std::wstring command = quote(binDir() + L"Sweepup.exe") + L" /Preview";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    const bool started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                        machine.path(L"").c_str(), &startup, &child) != FALSE;
    std::wstring shown;
    if (started) {
        WaitForSingleObject(child.hProcess, 60000);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        CONSOLE_SCREEN_BUFFER_INFO info = {};
        if (GetConsoleScreenBufferInfo(screen, &info)) {
            shown.assign(static_cast<size_t>(info.dwSize.X) * (info.dwCursorPosition.Y + 1), L' ');
            DWORD read = 0;
            ReadConsoleOutputCharacterW(screen, &shown[0], static_cast<DWORD>(shown.size()), COORD{0, 0}, &read);
            shown.resize(read);
        }
    }
    CloseHandle(screen);
    FreeConsole();
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, err);
    SetStdHandle(STD_INPUT_HANDLE, in);
    ASSERT_TRUE(started);
    // The console shows the tab as blanks.
    EXPECT_NE(std::wstring::npos, shown.find(data + L"\\" + name)) << narrow(shown);
}

// Runs as its own test after tests/sweepup/make-links.sh laid out links.
TEST(SweepupLinks, NothingBehindALinkAtAnyLevelIsTouched)
{
    const std::wstring links = L"C:\\kit-links\\";
    ASSERT_TRUE(isDirectory(links + L"victim")) << "make-links.sh has not run";
    Machine machine(L"links", false);
    ASSERT_TRUE(exists(kPublic + L"\\data.txt"));
    const wchar_t* const profiles[] = {L"data-link",    L"profile-link", L"appdata-link",
                                       L"roaming-link", L"empty-link",   L"inside"};
    int number = 6001;
    for (const wchar_t* profile : profiles)
        machine.addProfileText(L"S-1-5-21-" + std::to_wstring(number++), REG_SZ, links + profile);
    ASSERT_TRUE(GetFileAttributesW((links + L"data-link\\AppData\\Roaming\\ZIVO").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    // An install file that is a link to a read-only file elsewhere.
    const std::wstring template_ = links + L"victim\\template-target.dat";
    ASSERT_TRUE(GetFileAttributesW(template_.c_str()) & FILE_ATTRIBUTE_READONLY);
    regSetString(kProductKey, L"InstallPath", links + L"install\\");

    // The preview keeps each link with its reason and lists nothing behind one.
    const std::vector<std::string> preview = machine.preview();
    for (const std::string& line : listed(preview, "delete")) EXPECT_EQ(std::string::npos, line.find("victim")) << line;
    for (const std::string& line : listed(preview, "remove")) EXPECT_EQ(std::string::npos, line.find("-link")) << line;
    // (Wine opens a folder link's target where Windows opens the link: the
    // reason may name the link itself or one in the path.)
    const std::multiset<std::string> kept = listed(preview, "keep");
    const std::string l = narrow(links);
    for (const std::string& item : {l + "data-link\\AppData\\Roaming\\ZIVO", l + "profile-link\\AppData\\Roaming\\ZIVO",
                                    l + "inside\\AppData\\Roaming\\ZIVO\\folder-link"}) {
        const auto line = kept.lower_bound(item + "\t");
        EXPECT_TRUE(line != kept.end() && line->rfind(item + "\ta link or junction", 0) == 0) << item;
    }

    machine.sweep(L"/Uninstall");

    // Behind a link at each level of a data folder's path: untouched.
    for (const wchar_t* canary : {L"ZIVO-target", L"profile-target\\AppData\\Roaming\\ZIVO",
                                  L"appdata-target\\Roaming\\ZIVO", L"roaming-target\\ZIVO", L"folder-target",
                                  L"logs-target"})
        EXPECT_TRUE(exists(links + L"victim\\" + canary + L"\\canary.txt")) << narrow(canary);
    EXPECT_TRUE(GetFileAttributesW((links + L"data-link\\AppData\\Roaming\\ZIVO").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_TRUE(isDirectory(links + L"victim\\empty-target\\Roaming\\ZIVO"));
    // Inside a real data folder: its own file goes; a folder link stays,
    // and a file link never reaches the file it names.
    const std::wstring inside = links + L"inside\\AppData\\Roaming\\ZIVO";
    EXPECT_FALSE(exists(inside + L"\\own.txt"));
    EXPECT_TRUE(GetFileAttributesW((inside + L"\\folder-link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ("keep\n", readFile(links + L"victim\\file-target.txt"));
    // The public log folder as a link: the public folder's own file goes.
    EXPECT_FALSE(exists(kPublic + L"\\data.txt"));
    // The install file's link is not followed: the file behind it keeps its
    // attributes and contents.
    EXPECT_TRUE(GetFileAttributesW(template_.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ("keep\n", readFile(template_));
}

// Runs as its own test after "make-links.sh public": the public data folder
// is a link, so neither it nor the log folder behind it is swept.
TEST(SweepupLinksPublic, NothingBehindALinkedPublicFolderIsTouched)
{
    const std::wstring victim = L"C:\\kit-links\\victim\\public-target";
    ASSERT_TRUE(exists(victim + L"\\shared.txt")) << "make-links.sh public has not run";
    Machine machine(L"public-link", false);
    machine.sweep(L"/Uninstall");
    EXPECT_TRUE(exists(victim + L"\\shared.txt"));
    EXPECT_TRUE(exists(victim + L"\\ZIVOlogs\\canary.txt"));
}

// Runs as its own test while tests/support/with-second-letter.sh has Q:
// name C:\kit-letter and R: name C:\users, as substituted drives would:
// a profile on Q:, a profile and the public folders under C:\users, all
// named by their letters in the system's final paths, are listed by the
// preview and swept.
TEST(SweepupSecondLetter, ProfilesAndPublicFoldersBehindASecondLetterAreSwept)
{
    ASSERT_TRUE(isDirectory(L"Q:\\")) << "with-second-letter.sh has not run";
    Machine machine(L"letter");
    const std::wstring onLetter = L"Q:\\alice\\AppData\\Roaming\\ZIVO";
    const std::wstring underUsers = L"C:\\users\\kit-letter-bob\\AppData\\Roaming\\ZIVO";
    for (const std::wstring& data : {onLetter, underUsers}) {
        makeDirs(data);
        makeFile(data + L"\\ZIVORoot.key");
    }
    machine.addProfileText(L"S-1-5-21-9101", REG_SZ, L"Q:\\alice");
    machine.addProfileText(L"S-1-5-21-9102", REG_SZ, L"C:\\users\\kit-letter-bob");
    makeFile(kPublicLogs + L"\\today.log");
    makeFile(kPublic + L"\\shared.dat");

    const std::vector<std::string> listed = machine.preview();
    for (const std::wstring& data : {onLetter, underUsers, kPublicLogs, kPublic})
        EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), "remove\t" + narrow(data))) << narrow(data);
    ASSERT_FALSE(listed.empty());
    EXPECT_NE(std::string::npos, listed.back().find("Q:\\alice")) << listed.back();
    EXPECT_NE(std::string::npos, listed.back().find("C:\\users\\kit-letter-bob")) << listed.back();
    EXPECT_NE(std::string::npos, listed.back().find("; 0 items kept")) << listed.back();

    machine.sweep(L"/Uninstall");
    for (const std::wstring& data : {onLetter, underUsers, kPublicLogs, kPublic}) EXPECT_FALSE(exists(data)) << narrow(data);
    removeTree(L"C:\\users\\kit-letter-bob");
}

// Whose keys are at stake, whatever holds them: a root key held open
// without delete sharing by a running program (the product, before
// Uninstall.exe stops it) is named as held, one whose only key is a staged
// copy that an import left is named as going, and a profile without any
// is not named. While the preview walks a large folder, another program's
// opens of it (reading, sharing reading and writing) are never refused.
TEST(SweepupPreview, TheTotalNamesEveryProfileWhoseKeysAreAtStakeAndOthersCanStillOpen)
{
    Machine machine(L"stake");
    const std::wstring held = machine.addProfile(L"S-1-5-21-7301");
    const std::wstring staged = machine.addProfile(L"S-1-5-21-7302");
    const std::wstring none = machine.addProfile(L"S-1-5-21-7303");
    makeFile(held + L"\\ZIVORoot.key");
    makeFile(staged + L"\\ZIVORoot.key.import (2)");
    makeFile(none + L"\\settings.dat");
    for (int i = 0; i < 3000; ++i) makeFile(none + L"\\f" + std::to_wstring(i) + L".dat");
    HANDLE key = CreateFileW((held + L"\\ZIVORoot.key").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, key);
    std::atomic<bool> stop{false};
    std::atomic<int> opens{0}, refused{0};
    std::thread other([&] {
        while (!stop) {
            HANDLE folder = CreateFileW(none.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            ++opens;
            if (folder == INVALID_HANDLE_VALUE)
                ++refused;
            else
                CloseHandle(folder);
        }
    });
    const std::vector<std::string> preview = machine.preview();
    stop = true;
    other.join();
    CloseHandle(key);
    EXPECT_GT(opens.load(), 0);
    EXPECT_EQ(0, refused.load()) << "another program's opens were refused while the preview walked";
    ASSERT_FALSE(preview.empty());
    const std::string total = preview.back();
    const auto profileOf = [](const std::wstring& data) { return narrow(data.substr(0, data.size() - 21)); };
    EXPECT_NE(std::string::npos, total.find("root key files of " + profileOf(staged))) << total;
    EXPECT_NE(std::string::npos, total.find("held by a running program, going once it stops, of " + profileOf(held))) << total;
    EXPECT_EQ(std::string::npos, total.find(profileOf(none) + ",")) << total;
    EXPECT_NE(profileOf(none), total.substr(total.size() - profileOf(none).size())) << total;
}

// An install file that a running program maps (a service's DLL) cannot be
// deleted: it stays as it was, read-only and hidden, not stripped of its
// attributes by a cleanup that then failed.
TEST(SweepupInstallFiles, AFileInUseKeepsItsAttributes)
{
    Machine machine(L"mapped");
    machine.layOutLeftovers();
    const std::wstring mapped = machine.installFolder() + L"\\TemplateStore.dat";
    ASSERT_TRUE(writeFile(mapped, "templates"));
    const DWORD marks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(SetFileAttributesW(mapped.c_str(), marks));
    HANDLE file = CreateFileW(mapped.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(nullptr, mapping);
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(nullptr, view);
    machine.sweepWithoutPreview(); // only the try shows a mapped file cannot go
    const bool stayed = exists(mapped);
    const DWORD attributes = GetFileAttributesW(mapped.c_str());
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(file);
    EXPECT_TRUE(stayed) << "the mapped file was deleted";
    if (stayed) {
        EXPECT_EQ(marks, attributes & marks) << "its attributes were reset and not put back";
    }
    EXPECT_FALSE(exists(machine.installFolder() + L"\\SensorDecrypt.dll"));
    SetFileAttributesW(mapped.c_str(), FILE_ATTRIBUTE_NORMAL);
}
