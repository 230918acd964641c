// The real key import program, run in the sandbox and driven like a user:
// what shows on screen, what lands on disk, what the log records.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "DialogDriver.h"
#include "KeyFileFormat.h"
#include "KitTest.h"
#include "resource.h"

using namespace kittest;

namespace {

const std::wstring kCaptionEn = L"Import Key";
// How long an import waits for another to let go of the lock.
const DWORD ImportLockWaitMs = 30000;
const std::wstring kProduct = L"HALVERN Dactyra";
const int kPathBox = IDC_EDIT_PATH;
const int kBrowse = IDC_BUTTON_BROWSE;

std::string keyBytes(unsigned char seed, size_t keyLength = 32)
{
    std::vector<std::uint8_t> key(keyLength);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(seed * 31 + i);
    const auto file = keyfile::encode(key, 1700000000u);
    return std::string(file.begin(), file.end());
}

// A program folder, the user's roaming folder with a root key, and key
// files to pick; the program logs every record to log.txt.
class ImportRun {
public:
    explicit ImportRun(const std::wstring& name, bool withRootKey = true, Where where = {}) : m_dir(name)
    {
        const ::testing::ScopedTrace trace(where.file, where.line, "ImportRun");
        makeDirs(m_dir / L"program");
        makeDirs(m_dir / L"roaming\\ZIVO");
        EXPECT_TRUE(copyTo(binDir() + L"ZIVOEncryptKeyImport.exe", program()));
        EXPECT_TRUE(copyTo(binDir() + L"ZIVOCommon.dll", m_dir / L"program\\ZIVOCommon.dll"));
        writeFile(m_dir / L"program\\DbgLog.ini", "[LOG]\nDestination=2\nLevel=3\nTimeDateFormat=0\nLogFile=" +
                                                      narrow(m_dir / L"log.txt") + "\n");
        if (withRootKey) writeFile(rootKey(), oldKey());
        writeFile(newKeyPath(), newKey());
    }

    std::wstring program() const { return m_dir / L"program\\ZIVOEncryptKeyImport.exe"; }
    std::wstring rootKey() const { return m_dir / L"roaming\\ZIVO\\ZIVORoot.key"; }
    std::wstring newKeyPath() const { return m_dir / L"new.key"; }
    std::wstring path(const std::wstring& name) const { return m_dir / name; }
    static std::string oldKey() { return keyBytes(1); }
    static std::string newKey() { return keyBytes(2); }

    // Starts the program and waits for its dialog.
    HWND open(const std::wstring& caption = kCaptionEn, std::map<std::wstring, std::wstring> env = {},
              Where where = {})
    {
        const ::testing::ScopedTrace trace(where.file, where.line, "ImportRun::open");
        if (!env.count(L"APPDATA")) env[L"APPDATA"] = m_dir / L"roaming";
        RunOptions options;
        options.env = env;
        options.currentDir = m_dir.path();
        m_process = start(quote(program()), options);
        HWND dlg = driver::waitDialog(m_process.pid, caption);
        EXPECT_NE(nullptr, dlg) << "the dialog did not open";
        return dlg;
    }

    HWND messageBox(DWORD timeoutMs = driver::kWindowDeadlineMs) { return driver::waitDialog(m_process.pid, kProduct, timeoutMs); }

    // Replaces the log's settings.
    void setLog(const std::string& ini) { writeFile(m_dir / L"program\\DbgLog.ini", ini); }
    int exitCode() { return m_process.wait(15000); }
    DWORD pid() const { return m_process.pid; }

    std::vector<std::string> log() const { return lines(readFile(m_dir / L"log.txt")); }
    bool logged(const std::string& pattern) const
    {
        const std::regex re(pattern);
        for (const std::string& line : log())
            if (std::regex_search(line, re)) return true;
        return false;
    }

    // Backup files beside the root key.
    std::vector<std::wstring> backups() const { return filesIn(m_dir / L"roaming\\ZIVO", L"ZIVORoot.key *"); }
    // Everything in the root key's folder.
    std::vector<std::wstring> keyFolder() const { return filesIn(m_dir / L"roaming\\ZIVO", L"*"); }

    static std::vector<std::wstring> filesIn(const std::wstring& folder, const std::wstring& pattern)
    {
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return found;
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") found.push_back(name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return found;
    }

private:
    ScratchDir m_dir;
    Process m_process;
};

// Answers a message box and returns its text.
std::wstring answer(ImportRun& run, int button, Where where = {}, DWORD timeoutMs = driver::kWindowDeadlineMs)
{
    const ::testing::ScopedTrace trace(where.file, where.line, "answer");
    HWND box = run.messageBox(timeoutMs);
    if (!box) return L"<no message box>";
    const std::wstring shown = driver::messageText(box);
    driver::click(box, button);
    EXPECT_TRUE(driver::waitGone(box)) << "the message box stayed";
    return shown;
}

// Puts the keyboard focus into the path box, as a click there would.
void focusPathBox(HWND dlg, Where where = {})
{
    const ::testing::ScopedTrace trace(where.file, where.line, "focusPathBox");
    HWND edit = GetDlgItem(dlg, kPathBox);
    ASSERT_TRUE(driver::bringToFront(dlg));
    PostMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
    ASSERT_TRUE(waitUntil([&] { return driver::focusOf(dlg) == edit; }));
}

std::wstring systemText(DWORD code)
{
    wchar_t* buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                   code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = buffer ? buffer : L"";
    LocalFree(buffer);
    const size_t lf = text.rfind(L'\n');
    if (lf != std::wstring::npos) text.erase(lf);
    return text;
}

bool okEnabled(HWND dlg)
{
    return IsWindowEnabled(GetDlgItem(dlg, IDOK)) != FALSE;
}

} // namespace

TEST(KeyImportDialog, OpensInEnglishWithOkDisabledAndCancelEndsSilently)
{
    ImportRun run(L"open-en");
    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    EXPECT_EQ(L"Please specify .key file:", driver::itemText(dlg, IDC_STATIC_PROMPT));
    EXPECT_EQ(L"", driver::itemText(dlg, kPathBox));
    EXPECT_EQ(L"...", driver::itemText(dlg, kBrowse));
    EXPECT_EQ(L"OK", driver::itemText(dlg, IDOK));
    EXPECT_EQ(L"Cancel", driver::itemText(dlg, IDCANCEL));
    EXPECT_FALSE(okEnabled(dlg));

    driver::click(dlg, IDCANCEL);
    EXPECT_EQ(0, run.exitCode());
    EXPECT_TRUE(run.logged(R"(\[ERR\] \(_importKey\): Error Code: 0x80004005$)"));
    EXPECT_EQ(ImportRun::oldKey(), readFile(run.rootKey()));
    EXPECT_TRUE(run.backups().empty());
}

// Runs as its own test with LC_ALL=fr_FR.UTF-8: Wine takes the user's
// language from the Unix locale of the process tree.
TEST(KeyImportFrench, OpensAndReportsInFrench)
{
    ImportRun run(L"open-fr");
    HWND dlg = run.open(L"Importer la cl\u00e9", {{L"LC_ALL", L"fr_FR.UTF-8"}});
    ASSERT_NE(nullptr, dlg);
    EXPECT_EQ(L"Veuillez sp\u00e9cifier un fichier cl\u00e9:", driver::itemText(dlg, IDC_STATIC_PROMPT));
    EXPECT_EQ(L"Annuler", driver::itemText(dlg, IDCANCEL));
    EXPECT_EQ(L"...", driver::itemText(dlg, kBrowse));

    driver::setItemText(dlg, kPathBox, run.path(L"missing.key"));
    driver::click(dlg, IDOK);
    EXPECT_EQ(L"Le chemin du fichier n\u2019est pas valide.", answer(run, IDOK));
    driver::setItemText(dlg, kPathBox, run.newKeyPath());
    driver::click(dlg, IDOK);
    EXPECT_NE(std::wstring::npos, answer(run, IDOK).find(L"Voulez-vous continuer\u00a0?"));
    EXPECT_EQ(L"La cl\u00e9 a bien \u00e9t\u00e9 import\u00e9e\u00a0!", answer(run, IDOK));
    EXPECT_EQ(0, run.exitCode());
}

TEST(KeyImportDialog, OkFollowsThePathBoxAsTheUserTypes)
{
    ImportRun run(L"typing");
    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    focusPathBox(dlg);
    driver::typeText(L"a");
    EXPECT_TRUE(waitUntil([&] { return driver::itemText(dlg, kPathBox) == L"a" && okEnabled(dlg); }))
        << narrow(driver::itemText(dlg, kPathBox));
    driver::pressKey(VK_BACK);
    EXPECT_TRUE(waitUntil([&] { return driver::itemText(dlg, kPathBox).empty() && !okEnabled(dlg); }))
        << narrow(driver::itemText(dlg, kPathBox));

    // Escape acts as Cancel.
    driver::pressKey(VK_ESCAPE);
    EXPECT_EQ(0, run.exitCode());
    EXPECT_TRUE(run.logged(R"(\(_importKey\): Error Code: 0x80004005$)"));
}

TEST(KeyImportDialog, EnterActsAsOk)
{
    ImportRun run(L"enter");
    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    focusPathBox(dlg);
    driver::typeText(run.path(L"nothing-here.key"));
    ASSERT_TRUE(waitUntil([&] { return driver::itemText(dlg, kPathBox) == run.path(L"nothing-here.key"); }));
    driver::pressKey(VK_RETURN);
    HWND box = run.messageBox();
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(L"The file path is invalid.", driver::messageText(box));
    EXPECT_EQ(dlg, GetWindow(box, GW_OWNER));
    EXPECT_FALSE(driver::hasButton(box, IDCANCEL));
    driver::click(box, IDOK);
    ASSERT_TRUE(driver::waitGone(box));
    // The focus is back in the path box, the dialog still open.
    EXPECT_TRUE(waitUntil([&] { return driver::focusOf(dlg) == GetDlgItem(dlg, kPathBox); }))
        << GetDlgCtrlID(driver::focusOf(dlg));
    EXPECT_TRUE(IsWindow(dlg));

    // The window's close button ends the dialog too.
    PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0, run.exitCode());
    EXPECT_TRUE(run.logged(R"(\(_importKey\): Error Code: 0x80004005$)"));
    EXPECT_TRUE(run.backups().empty());
}

TEST(KeyImportDialog, RejectedKeysKeepTheDialogOpen)
{
    ImportRun run(L"rejected");
    std::string truncated = ImportRun::newKey();
    truncated.pop_back();
    std::string flipped = ImportRun::newKey();
    flipped[20] ^= 1;
    writeFile(run.path(L"text.key"), "this is not a key\r\n");
    writeFile(run.path(L"empty.key"), "");
    writeFile(run.path(L"truncated.key"), truncated);
    writeFile(run.path(L"flipped.key"), flipped);
    makeDirs(run.path(L"folder.key"));

    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    for (const wchar_t* name : {L"text.key", L"empty.key", L"truncated.key", L"flipped.key", L"folder.key"}) {
        driver::setItemText(dlg, kPathBox, run.path(name));
        driver::click(dlg, IDOK);
        HWND box = run.messageBox();
        ASSERT_NE(nullptr, box) << narrow(name);
        EXPECT_EQ(L"Invalid key!", driver::messageText(box)) << narrow(name);
        EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER)) << narrow(name);
        driver::click(box, IDOK);
        driver::waitGone(box);
        EXPECT_EQ(run.path(name), driver::itemText(dlg, kPathBox));
    }
    driver::click(dlg, IDCANCEL);
    EXPECT_EQ(0, run.exitCode());
    EXPECT_EQ(ImportRun::oldKey(), readFile(run.rootKey()));
}

TEST(KeyImportFlow, DecliningTheWarningCopiesNothingAndAcceptingImports)
{
    ImportRun run(L"import");
    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    driver::setItemText(dlg, kPathBox, run.newKeyPath());
    EXPECT_TRUE(okEnabled(dlg));

    driver::click(dlg, IDOK);
    HWND box = run.messageBox();
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(L"After a new key is imported, the files encrypted by current key cannot be decrypted any more. "
              L"Do you want to continue?",
              driver::messageText(box));
    EXPECT_TRUE(driver::hasButton(box, IDCANCEL));
    driver::click(box, IDCANCEL);
    ASSERT_TRUE(driver::waitGone(box));
    // Still open: OK below brings the warning up again.
    EXPECT_TRUE(IsWindow(dlg));
    EXPECT_EQ(run.newKeyPath(), driver::itemText(dlg, kPathBox));
    EXPECT_TRUE(run.backups().empty());
    EXPECT_EQ(ImportRun::oldKey(), readFile(run.rootKey()));

    driver::click(dlg, IDOK);
    EXPECT_NE(std::wstring::npos, answer(run, IDOK).find(L"Do you want to continue?"));
    EXPECT_EQ(L"Import key successfully!", answer(run, IDOK));
    EXPECT_EQ(0, run.exitCode());

    EXPECT_EQ(ImportRun::newKey(), readFile(run.rootKey()));
    const auto backups = run.backups();
    ASSERT_EQ(1u, backups.size());
    EXPECT_TRUE(std::regex_match(narrow(backups[0]),
                                 std::regex(R"(ZIVORoot\.key 20\d\d-[01]\d-[0-3]\d [0-2]\d-[0-5]\d-[0-5]\d)")))
        << narrow(backups[0]);
    EXPECT_EQ(ImportRun::oldKey(), readFile(run.path(L"roaming\\ZIVO\\" + backups[0])));
    EXPECT_TRUE(run.logged(R"(\[TRC\] \(_importKey\): strRootKeyPath\.c_str\(\) = .*\\roaming\\ZIVO\\ZIVORoot\.key$)"));
    EXPECT_TRUE(run.logged(R"(\[TRC\] \(_getCurDateTime\): szDateTime = 20\d\d-\d\d-\d\d \d\d-\d\d-\d\d$)"));
    EXPECT_FALSE(run.logged(R"(\[ERR\])"));
}

namespace {

void importConfirmed(ImportRun& run, HWND dlg, Where where = {})
{
    const ::testing::ScopedTrace trace(where.file, where.line, "importConfirmed");
    driver::setItemText(dlg, kPathBox, run.newKeyPath());
    driver::click(dlg, IDOK);
    EXPECT_NE(std::wstring::npos, answer(run, IDOK).find(L"Do you want to continue?"));
}

// One import confirmed and reported done, for the user whose roaming
// folder is `appData`.
void importReportedDone(ImportRun& run, const std::wstring& appData, Where where = {})
{
    const ::testing::ScopedTrace trace(where.file, where.line, "importReportedDone");
    HWND dlg = run.open(kCaptionEn, {{L"APPDATA", appData}});
    ASSERT_NE(nullptr, dlg);
    importConfirmed(run, dlg);
    EXPECT_EQ(L"Import key successfully!", answer(run, IDOK));
    EXPECT_EQ(0, run.exitCode());
}

// One whole import of the new key, from the dialog opening to the root key
// holding it.
void importsTheNewKey(ImportRun& run, Where where = {})
{
    const ::testing::ScopedTrace trace(where.file, where.line, "importsTheNewKey");
    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    importConfirmed(run, dlg);
    EXPECT_EQ(L"Import key successfully!", answer(run, IDOK));
    EXPECT_EQ(0, run.exitCode());
    EXPECT_EQ(ImportRun::newKey(), readFile(run.rootKey()));
}

} // namespace

TEST(KeyImportFlow, MissingRootKeyIsCreated)
{
    ImportRun run(L"noroot", false);
    importsTheNewKey(run);
    EXPECT_TRUE(run.backups().empty());
    EXPECT_TRUE(run.logged(R"(\[ERR\] \(_importKey\): Error Code: 0x80070002$)"));
}

TEST(KeyImportDialog, PickingAFileFillsThePathBox)
{
    ImportRun run(L"pick");
    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    driver::click(dlg, kBrowse);
    HWND picker = driver::waitOtherDialog(run.pid(), dlg);
    ASSERT_NE(nullptr, picker);
    // The file name box of the explorer-style dialog (cmb13, or edt1).
    for (int id : {0x47c, 0x480}) {
        if (GetDlgItem(picker, id)) driver::setItemText(picker, id, run.newKeyPath());
    }
    driver::click(picker, IDOK);
    ASSERT_TRUE(driver::waitGone(picker));
    EXPECT_TRUE(waitUntil([&] { return driver::itemText(dlg, kPathBox) == run.newKeyPath(); }))
        << narrow(driver::itemText(dlg, kPathBox));
    EXPECT_TRUE(okEnabled(dlg));
    driver::click(dlg, IDCANCEL);
    EXPECT_EQ(0, run.exitCode());
}

TEST(KeyImportDialog, CancellingTheOpenFileDialogLeavesThePathBox)
{
    ImportRun run(L"browse");
    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    driver::setItemText(dlg, kPathBox, L"typed");
    driver::click(dlg, kBrowse);
    HWND picker = driver::waitOtherDialog(run.pid(), dlg);
    ASSERT_NE(nullptr, picker);
    driver::click(picker, IDCANCEL);
    ASSERT_TRUE(driver::waitGone(picker));
    EXPECT_EQ(L"typed", driver::itemText(dlg, kPathBox));
    driver::click(dlg, IDCANCEL);
    EXPECT_EQ(0, run.exitCode());
    EXPECT_TRUE(run.logged(R"(\[ERR\] \(ImportDlg::_selectFile\): Error Code: 0x0$)"));
}

namespace {

// The backup name's date-time text for the local time `seconds` from `base`.
std::wstring dateTimeText(const SYSTEMTIME& base, int seconds)
{
    FILETIME file;
    SystemTimeToFileTime(&base, &file);
    ULARGE_INTEGER ticks{{file.dwLowDateTime, file.dwHighDateTime}};
    ticks.QuadPart += static_cast<long long>(seconds) * 10000000LL;
    file = {ticks.LowPart, ticks.HighPart};
    SYSTEMTIME moment;
    FileTimeToSystemTime(&file, &moment);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u-%02u-%02u", moment.wYear, moment.wMonth, moment.wDay, moment.wHour,
             moment.wMinute, moment.wSecond);
    return text;
}

// The dialog, with the new key named and OK pressed, and the warning that
// came up (null when none did).
struct Warned {
    HWND dialog;
    HWND warning;
};

// `appData` names another user's roaming folder to import into; empty for
// the run's own.
Warned openToWarning(ImportRun& run, const std::wstring& appData = {}, Where where = {})
{
    const ::testing::ScopedTrace trace(where.file, where.line, "openToWarning");
    std::map<std::wstring, std::wstring> env;
    if (!appData.empty()) env[L"APPDATA"] = appData;
    Warned warned{run.open(kCaptionEn, env), nullptr};
    if (!warned.dialog) return warned;
    driver::setItemText(warned.dialog, kPathBox, run.newKeyPath());
    driver::click(warned.dialog, IDOK);
    warned.warning = run.messageBox();
    EXPECT_NE(nullptr, warned.warning) << "no warning";
    return warned;
}

bool isBackupName(const std::wstring& name)
{
    return std::regex_match(narrow(name), std::regex(R"(ZIVORoot\.key \d{4}-\d\d-\d\d \d\d-\d\d-\d\d( \(\d+\))?)"));
}

// Everything in the key folder but the root key and its backups.
std::vector<std::wstring> debris(const ImportRun& run)
{
    std::vector<std::wstring> left;
    for (const std::wstring& name : run.keyFolder())
        if (name != L"ZIVORoot.key" && !isBackupName(name)) left.push_back(name);
    return left;
}

} // namespace

// Two imports in one second, or a clock set back, meet backup names that
// are taken already: none of them is replaced.
TEST(KeyImportSafety, TakenBackupNamesAreNeverOverwritten)
{
    ImportRun run(L"taken");
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::map<std::wstring, std::string> planted;
    for (int second = -1; second < 180; ++second) {
        const std::wstring name = L"ZIVORoot.key " + dateTimeText(now, second);
        for (const std::wstring& taken : {name, name + L" (2)"}) {
            planted[taken] = "earlier backup " + narrow(taken);
            ASSERT_TRUE(writeFile(run.path(L"roaming\\ZIVO\\" + taken), planted[taken]));
        }
    }

    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    importConfirmed(run, dlg);
    EXPECT_EQ(L"Import key successfully!", answer(run, IDOK));
    EXPECT_EQ(0, run.exitCode());

    EXPECT_EQ(ImportRun::newKey(), readFile(run.rootKey()));
    for (const auto& backup : planted)
        EXPECT_EQ(backup.second, readFile(run.path(L"roaming\\ZIVO\\" + backup.first))) << narrow(backup.first);
    std::vector<std::wstring> added;
    for (const std::wstring& name : run.backups())
        if (!planted.count(name)) added.push_back(name);
    ASSERT_EQ(1u, added.size());
    EXPECT_TRUE(std::regex_match(narrow(added[0]), std::regex(R"(ZIVORoot\.key \d{4}-\d\d-\d\d \d\d-\d\d-\d\d \(3\))")))
        << narrow(added[0]);
    EXPECT_EQ(ImportRun::oldKey(), readFile(run.path(L"roaming\\ZIVO\\" + added[0])));
    // The trace still carries the plain date-time text.
    EXPECT_TRUE(run.logged(R"(\(_getCurDateTime\): szDateTime = \d{4}-\d\d-\d\d \d\d-\d\d-\d\d$)"));
}

// The warning disables the dialog, and what was checked is what is imported,
// whatever the path box says by the time the warning is answered.
TEST(KeyImportSafety, WarningHoldsTheDialogAndTheCheckedKeyIsImported)
{
    ImportRun run(L"owned");
    writeFile(run.path(L"text.key"), "this is not a key");
    const auto [dlg, warning] = openToWarning(run);
    ASSERT_NE(nullptr, warning);
    EXPECT_EQ(dlg, GetWindow(warning, GW_OWNER));
    EXPECT_FALSE(IsWindowEnabled(dlg));

    driver::setItemText(dlg, kPathBox, run.path(L"text.key"));
    EXPECT_EQ(run.path(L"text.key"), driver::itemText(dlg, kPathBox));
    driver::click(warning, IDOK);
    ASSERT_TRUE(driver::waitGone(warning));
    EXPECT_EQ(L"Import key successfully!", answer(run, IDOK));
    EXPECT_EQ(0, run.exitCode());
    EXPECT_EQ(ImportRun::newKey(), readFile(run.rootKey()));
}

TEST(KeyImportSafety, CancelThatReachesTheDialogDuringTheWarningCancels)
{
    ImportRun run(L"cancelled");
    const auto [dlg, warning] = openToWarning(run);
    ASSERT_NE(nullptr, warning);
    // Both posted to the dialog's thread: the Cancel is handled first.
    driver::click(dlg, IDCANCEL);
    driver::click(warning, IDOK);
    EXPECT_EQ(0, run.exitCode());
    EXPECT_EQ(ImportRun::oldKey(), readFile(run.rootKey()));
    EXPECT_TRUE(run.backups().empty());
    EXPECT_TRUE(run.logged(R"(\[ERR\] \(_importKey\): Error Code: 0x80004005$)"));
}

// The chosen file is swapped for another between the check and the answer:
// the staged copy is checked again and refused; nothing is left behind.
TEST(KeyImportSafety, KeyChangedAfterTheCheckIsRefusedAndNothingIsLeft)
{
    ImportRun run(L"changed");
    const HWND warning = openToWarning(run).warning;
    ASSERT_NE(nullptr, warning);
    ASSERT_TRUE(writeFile(run.newKeyPath(), "this is not a key"));
    driver::click(warning, IDOK);
    ASSERT_TRUE(driver::waitGone(warning));
    EXPECT_EQ(L"Invalid key!", answer(run, IDOK));
    EXPECT_EQ(0, run.exitCode());

    EXPECT_EQ(ImportRun::oldKey(), readFile(run.rootKey()));
    EXPECT_EQ(std::vector<std::wstring>{}, debris(run));
    EXPECT_TRUE(run.logged(R"(\[ERR\] \(_importKey\): Error Code: 0x80004005$)"));
}

// A root key path of 259 characters, the longest a plain path takes: the
// lock, staging and backup names beside it pass MAX_PATH, and go in long
// form. (Wine does not enforce MAX_PATH on plain paths, so here this shows
// that the long forms work; on Windows the plain forms would fail.)
TEST(KeyImportSafety, RootKeyPathNearMaxPathImportsAndLeavesNothingBeside)
{
    ImportRun run(L"long");
    const std::wstring tail = L"\\ZIVO\\ZIVORoot.key";
    const std::wstring base = run.path(L"deep\\");
    const std::wstring appData = base + std::wstring(259 - base.size() - tail.size(), L'd');
    const std::wstring rootKey = appData + tail;
    ASSERT_EQ(259u, rootKey.size());
    ASSERT_TRUE(makeDirs(appData + L"\\ZIVO"));
    ASSERT_TRUE(writeFile(L"\\\\?\\" + rootKey, ImportRun::oldKey()));

    HWND dlg = run.open(kCaptionEn, {{L"APPDATA", appData}});
    ASSERT_NE(nullptr, dlg);
    importConfirmed(run, dlg);
    EXPECT_EQ(L"Import key successfully!", answer(run, IDOK));
    EXPECT_EQ(0, run.exitCode());

    EXPECT_EQ(ImportRun::newKey(), readFile(L"\\\\?\\" + rootKey));
    const auto all = ImportRun::filesIn(L"\\\\?\\" + appData + L"\\ZIVO", L"*");
    ASSERT_EQ(2u, all.size()) << "the root key and its backup, nothing else";
    const std::wstring backup = all[0] == L"ZIVORoot.key" ? all[1] : all[0];
    EXPECT_TRUE(isBackupName(backup)) << narrow(backup);
    EXPECT_GT(appData.size() + 6 + backup.size(), static_cast<size_t>(MAX_PATH));
    EXPECT_EQ(ImportRun::oldKey(), readFile(L"\\\\?\\" + appData + L"\\ZIVO\\" + backup));
    EXPECT_TRUE(run.logged(R"(strRootKeyPath\.c_str\(\) = [^?]*\\ZIVO\\ZIVORoot\.key$)"));
    EXPECT_FALSE(run.logged(R"(\[ERR\])"));
}

// The path box holds more than the import can take whole: one character
// more than a file's path names another file, and is refused as invalid
// rather than cut back to the first.
TEST(KeyImportSafety, APathLongerThanTheBoxTakesIsInvalidNotCut)
{
    ImportRun run(L"limit");
    const std::wstring base = run.path(L"");
    const std::wstring shorter = base + std::wstring(259 - base.size() - 4, L'k') + L".key";
    const std::wstring longer = shorter + L"x";
    ASSERT_EQ(259u, shorter.size());
    ASSERT_TRUE(writeFile(shorter, ImportRun::newKey()));
    ASSERT_TRUE(writeFile(L"\\\\?\\" + longer, keyBytes(3)));

    HWND dlg = run.open();
    ASSERT_NE(nullptr, dlg);
    driver::setItemText(dlg, kPathBox, longer);
    driver::click(dlg, IDOK);
    EXPECT_EQ(L"The file path is invalid.", answer(run, IDOK));
    EXPECT_TRUE(waitUntil([&] { return driver::focusOf(dlg) == GetDlgItem(dlg, kPathBox); }));
    EXPECT_EQ(ImportRun::oldKey(), readFile(run.rootKey()));
    EXPECT_TRUE(run.backups().empty());

    // Up to 259 characters the path is taken as it is.
    driver::setItemText(dlg, kPathBox, shorter);
    driver::click(dlg, IDOK);
    EXPECT_NE(std::wstring::npos, answer(run, IDOK).find(L"Do you want to continue?"));
    EXPECT_EQ(L"Import key successfully!", answer(run, IDOK));
    EXPECT_EQ(0, run.exitCode());
    EXPECT_EQ(ImportRun::newKey(), readFile(run.rootKey()));
}

namespace {

// Another program holding the root key file open, sharing as it says.
class Holder {
public:
    Holder(const std::wstring& path, DWORD share, DWORD access = GENERIC_READ)
        : m_file(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    HANDLE get() const { return m_file; }
    ~Holder() { release(); }
    bool holds() const { return m_file != INVALID_HANDLE_VALUE; }
    void release()
    {
        if (holds()) CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_file;
};

} // namespace

// A running component may hold the root key open, sharing read and write
// but not delete: the one-step replace cannot go, the key is written into
// the file in place, the old one stays in its backup. (Wine shows neither
// that the flushes reach the disk nor access lists: what the one-step
// replace keeps of the root key file is seen on Windows only.)
TEST(KeyImportSafety, ARootKeyHeldOpenByAnotherProgramIsStillImported)
{
    // A reader, and a holder that writes too: the key written in place is
    // checked by reading it back with full sharing, as such a holder allows.
    for (DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_READ | GENERIC_WRITE}}) {
        SCOPED_TRACE(access == GENERIC_READ ? "reads" : "reads and writes");
        ImportRun run(L"held");
        // What an import ended half-way left: cleared first. A name that
        // only looks alike stays.
        for (const wchar_t* name : {L"ZIVORoot.key.import", L"ZIVORoot.key.import (3)", L"ZIVORoot.key.imported"})
            ASSERT_TRUE(writeFile(run.path(L"roaming\\ZIVO\\") + name, ImportRun::newKey()));
        Holder holder(run.rootKey(), FILE_SHARE_READ | FILE_SHARE_WRITE, access);
        ASSERT_TRUE(holder.holds());
        importsTheNewKey(run);
        holder.release();
        const auto backups = run.backups();
        ASSERT_EQ(1u, backups.size());
        EXPECT_EQ(ImportRun::oldKey(), readFile(run.path(L"roaming\\ZIVO\\" + backups[0])));
        EXPECT_EQ(std::vector<std::wstring>{L"ZIVORoot.key.imported"}, debris(run));
        EXPECT_FALSE(run.logged(R"(\[ERR\])"));
    }
}

// A program maps the root key into memory while a shorter key is imported:
// the file cannot be cut, so the key written in place is not whole. A
// scanner holds every new backup as it appears, so the backup cannot be
// read back. The root key holds the old key again, from the bytes kept in
// memory, and the user sees the failure. (EFS, which a backup keeps as a
// file copy does, and the flushes are not shown: Wine has neither.)
TEST(KeyImportSafety, AKeyThatCannotBeWrittenWholeLeavesTheOldKeyAndSaysSo)
{
    ImportRun run(L"mapped");
    ASSERT_TRUE(writeFile(run.newKeyPath(), keyBytes(2, 16)));
    Holder holder(run.rootKey(), FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(holder.holds());
    HANDLE mapping = CreateFileMappingW(holder.get(), nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(nullptr, mapping);
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(nullptr, view);
    std::atomic<bool> stop{false};
    std::vector<HANDLE> scanned;
    std::thread scanner([&] {
        while (!stop) {
            for (const std::wstring& name : run.backups()) {
                HANDLE file = CreateFileW(run.path(L"roaming\\ZIVO\\" + name).c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
                if (file != INVALID_HANDLE_VALUE) scanned.push_back(file);
            }
            pollPause();
        }
    });
    HWND dlg = run.open();
    if (dlg) importConfirmed(run, dlg);
    const std::wstring shown = dlg ? answer(run, IDOK) : L"";
    stop = true;
    scanner.join();
    for (HANDLE file : scanned) CloseHandle(file);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    holder.release();
    ASSERT_NE(nullptr, dlg);
    const std::wstring mapped = systemText(ERROR_USER_MAPPED_FILE);
    EXPECT_EQ(mapped.empty() ? L"Failed to import key!" : mapped, shown);
    EXPECT_EQ(0, run.exitCode());
    EXPECT_FALSE(scanned.empty()) << "the scanner never held a backup";
    EXPECT_EQ(ImportRun::oldKey(), readFile(run.rootKey()));
    EXPECT_EQ(std::vector<std::wstring>{}, debris(run));
}

// One run with the log laid as a link into the key folder: the import is
// confirmed or cancelled, then the root key holds the new or the old key
// whole, and the key folder holds nothing else but the backup of the old
// key (after an import).
void importPastALinkedLog(ImportRun& run, bool confirmed, const std::wstring& keyFolder, Where where = {})
{
    const ::testing::ScopedTrace trace(where.file, where.line, "importPastALinkedLog");
    HWND dlg = run.open(kCaptionEn, {{L"APPDATA", keyFolder.substr(0, keyFolder.rfind(L'\\'))}});
    ASSERT_NE(nullptr, dlg);
    if (confirmed) {
        importConfirmed(run, dlg);
        EXPECT_EQ(L"Import key successfully!", answer(run, IDOK));
    } else {
        driver::click(dlg, IDCANCEL);
    }
    EXPECT_EQ(0, run.exitCode());
    EXPECT_EQ(confirmed ? ImportRun::newKey() : ImportRun::oldKey(), readFile(keyFolder + L"\\ZIVORoot.key"));
    std::vector<std::wstring> others;
    for (const std::wstring& name : ImportRun::filesIn(keyFolder, L"*"))
        if (name != L"ZIVORoot.key") others.push_back(name);
    ASSERT_EQ(confirmed ? 1u : 0u, others.size()) << "left in the key folder: " << (others.empty() ? "" : narrow(others[0]));
    if (confirmed) {
        EXPECT_TRUE(isBackupName(others[0])) << narrow(others[0]);
        EXPECT_EQ(ImportRun::oldKey(), readFile(keyFolder + L"\\" + others[0]));
    }
}

// The log file at its default path is a link to the user's root key (any
// user can lay one in C:\Users\Public): it is never written, and the
// key stays whole, whether the import is confirmed or cancelled. (A hard
// link here; symbolic links, which Wine makes only from the Unix side, in
// KeyImportLogLinks.)
TEST(KeyImportSafety, ALogFileThatIsALinkToTheRootKeyIsNeverWritten)
{
    const std::wstring logFolder = L"C:\\Users\\Public\\Halvern\\ZIVO\\Log";
    for (bool confirmed : {true, false}) {
        SCOPED_TRACE(confirmed ? "confirmed" : "cancelled");
        ImportRun run(L"loglink");
        run.setLog("[LOG]\nDestination=2\nLevel=3\n");
        removeTree(logFolder);
        ASSERT_TRUE(makeDirs(logFolder));
        ASSERT_TRUE(CreateHardLinkW((logFolder + L"\\log.txt").c_str(), run.rootKey().c_str(), nullptr));
        importPastALinkedLog(run, confirmed, run.path(L"roaming\\ZIVO"));
        removeTree(logFolder);
    }
}

// Runs as its own test after tests/keyimport/with-log-links.sh laid out
// symbolic links: the log's default file as a link to the root key, and a
// log folder as a link to the root key's folder. Neither is written
// through, and nothing is created in the key folder.
TEST(KeyImportLogLinks, NoLogIsWrittenThroughALink)
{
    const std::wstring keys = L"C:\\kit-log-links\\roaming\\ZIVO";
    ASSERT_TRUE(isDirectory(keys)) << "with-log-links.sh has not run";
    for (const std::string logFile : {"", "LogFile=C:\\Users\\Public\\Halvern\\ZIVO\\Log2\\log.txt\n"}) {
        for (bool confirmed : {true, false}) {
            SCOPED_TRACE((logFile.empty() ? "default path, " : "linked folder, ") + std::string(confirmed ? "confirmed" : "cancelled"));
            for (const std::wstring& name : ImportRun::filesIn(keys, L"*")) DeleteFileW((keys + L"\\" + name).c_str());
            ASSERT_TRUE(writeFile(keys + L"\\ZIVORoot.key", ImportRun::oldKey()));
            ImportRun run(L"loglinks");
            run.setLog("[LOG]\nDestination=2\nLevel=3\n" + logFile);
            importPastALinkedLog(run, confirmed, keys);
        }
    }
    // log.txt a link to a root key that does not exist yet: the log creates
    // nothing there, and the import creates the root key itself.
    const std::wstring noKeyYet = L"C:\\kit-log-links\\roaming2\\ZIVO";
    ImportRun run(L"loglinks");
    run.setLog("[LOG]\nDestination=2\nLevel=3\nLogFile=C:\\Users\\Public\\Halvern\\ZIVO\\Log3\\log.txt\n");
    importReportedDone(run, L"C:\\kit-log-links\\roaming2");
    EXPECT_EQ(ImportRun::newKey(), readFile(noKeyYet + L"\\ZIVORoot.key"));
    EXPECT_EQ(std::vector<std::wstring>{L"ZIVORoot.key"}, ImportRun::filesIn(noKeyYet, L"*"));
}

namespace {

// What stands in the way of one import: laid out before the dialog opens,
// and let go (by what it hands back) once the message has been read.
using Obstacle = std::function<std::function<void()>(ImportRun&)>;

std::function<void()> nothingToLetGo()
{
    return [] {};
}

// Another program holding the root key open, sharing as it says, while a
// thread of it writes the old key back every millisecond, if it rewrites.
Obstacle heldRootKey(DWORD share, DWORD access, bool rewrites = false)
{
    return [=](ImportRun& run) -> std::function<void()> {
        auto holder = std::make_shared<Holder>(run.rootKey(), share, access);
        EXPECT_TRUE(holder->holds());
        auto stop = std::make_shared<std::atomic<bool>>(false);
        auto rewriter = std::make_shared<std::thread>([holder, stop, rewrites] {
            const std::string old = ImportRun::oldKey();
            while (rewrites && !*stop) {
                LARGE_INTEGER start{};
                SetFilePointerEx(holder->get(), start, nullptr, FILE_BEGIN);
                DWORD written = 0;
                WriteFile(holder->get(), old.data(), static_cast<DWORD>(old.size()), &written, nullptr);
                SetEndOfFile(holder->get());
                Sleep(1);
            }
        });
        return [holder, stop, rewriter] {
            *stop = true;
            rewriter->join();
            holder->release();
        };
    };
}

struct RefusedImport {
    const char* what;
    Obstacle obstacle;
    DWORD error;                      // its system text is what the user sees
    std::vector<std::string> records; // log records, beside the closing E_FAIL
    bool prompt = true;               // refused at once, not after the lock's wait
    bool backupMayStay = false;       // a backup made before the failure stays, holding the old key
    const wchar_t* appData = nullptr; // the user's roaming folder, in the run's own folder
};

} // namespace

// Every way an import that reached the root key is refused or fails: the
// system's true text for it, shown promptly (the lock's 30 s wait aside);
// the root key still the old key; no backup but one of the old key made
// before the failure; nothing else left in the key folder; the records.
TEST(KeyImportFlow, EveryRefusalSaysWhyAndLeavesTheOldKey)
{
    const RefusedImport rows[] = {
        {"no root key folder", [](ImportRun&) { return nothingToLetGo(); }, ERROR_PATH_NOT_FOUND,
         {"0x80070003"}, true, false, L"gone"},
        {"the root key held without sharing: no backup", heldRootKey(0, GENERIC_READ), ERROR_SHARING_VIOLATION,
         {"0x80070020"}},
        {"the root key held sharing only reading", heldRootKey(FILE_SHARE_READ, GENERIC_READ), ERROR_SHARING_VIOLATION,
         {}, true, true},
        {"the root key rewritten by the program holding it",
         heldRootKey(FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ | GENERIC_WRITE, true), ERROR_SHARING_VIOLATION,
         {}, true, true},
        {"a read-only root key",
         [](ImportRun& run) {
             EXPECT_TRUE(SetFileAttributesW(run.rootKey().c_str(), FILE_ATTRIBUTE_READONLY));
             return std::function<void()>([&run] { SetFileAttributesW(run.rootKey().c_str(), FILE_ATTRIBUTE_NORMAL); });
         },
         ERROR_ACCESS_DENIED, {}},
        {"the lock held by another import past the wait",
         [](ImportRun& run) {
             const std::wstring lock = run.rootKey() + L".lock";
             HANDLE held = CreateFileW(lock.c_str(), GENERIC_READ, 0, nullptr, CREATE_NEW, 0, nullptr);
             EXPECT_NE(INVALID_HANDLE_VALUE, held);
             return std::function<void()>([held, lock] {
                 CloseHandle(held);
                 DeleteFileW(lock.c_str());
             });
         },
         ERROR_SHARING_VIOLATION, {"0x80070020"}, false},
        {"a folder at the lock's name",
         [](ImportRun& run) {
             const std::wstring lock = run.rootKey() + L".lock";
             EXPECT_TRUE(makeDirs(lock));
             return std::function<void()>([lock] { RemoveDirectoryW(lock.c_str()); });
         },
         ERROR_ALREADY_EXISTS, {"0x800700b7"}},
    };
    for (const RefusedImport& row : rows) {
        SCOPED_TRACE(row.what);
        ImportRun run(L"refused");
        const std::function<void()> letGo = row.obstacle(run);
        std::map<std::wstring, std::wstring> env;
        if (row.appData) env[L"APPDATA"] = run.path(row.appData);
        HWND dlg = run.open(kCaptionEn, env);
        if (dlg) importConfirmed(run, dlg);
        const ULONGLONG asked = GetTickCount64();
        const std::wstring shown = dlg ? answer(run, IDOK, {}, 60000) : L"";
        const ULONGLONG took = GetTickCount64() - asked;
        letGo();
        ASSERT_NE(nullptr, dlg);
        EXPECT_EQ(systemText(row.error), shown);
        EXPECT_EQ(std::wstring::npos, shown.find(L'\n'));
        if (row.prompt) {
            EXPECT_LT(took, ULONGLONG{ImportLockWaitMs / 2}) << "the refusal waited";
        }
        EXPECT_EQ(0, run.exitCode());
        EXPECT_EQ(ImportRun::oldKey(), readFile(run.rootKey()));
        const auto backups = run.backups();
        EXPECT_TRUE(row.backupMayStay || backups.empty()) << backups.size() << " backups";
        for (const std::wstring& name : backups) EXPECT_EQ(ImportRun::oldKey(), readFile(run.path(L"roaming\\ZIVO\\" + name)));
        EXPECT_EQ(std::vector<std::wstring>{}, debris(run));
        if (row.appData) {
            EXPECT_FALSE(exists(run.path(row.appData)));
        }
        for (const std::string& record : row.records)
            EXPECT_TRUE(run.logged(R"(\[ERR\] \(_importKey\): Error Code: )" + record + "$")) << record;
        const bool backupFailed = row.error == ERROR_SHARING_VIOLATION && row.records == std::vector<std::string>{"0x80070020"} && row.prompt;
        EXPECT_EQ(!backupFailed, run.logged(R"(\[ERR\] \(_importKey\): Error Code: 0x80004005$)"));
    }
}

// The chosen file's read-only attribute stays with it: the root key does not
// turn read-only, and no staging file is left behind.
TEST(KeyImportSafety, AReadOnlyKeyFileLeavesNoReadOnlyRootKeyAndNoDebris)
{
    ImportRun run(L"readonly");
    ASSERT_TRUE(SetFileAttributesW(run.newKeyPath().c_str(), FILE_ATTRIBUTE_READONLY));
    importsTheNewKey(run);
    EXPECT_EQ(0u, GetFileAttributesW(run.rootKey().c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(std::vector<std::wstring>{}, debris(run));
    SetFileAttributesW(run.newKeyPath().c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Two instances confirmed at the same moment: both imports go through, one
// after the other, and no key that was the root key is lost.
TEST(KeyImportSafety, TwoImportsConfirmedAtOnceEachReportWhatHappened)
{
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ImportRun first(L"twice-1");
        ImportRun second(L"twice-2");
        ASSERT_TRUE(writeFile(second.newKeyPath(), keyBytes(3)));
        const Warned one = openToWarning(first);
        const Warned other = openToWarning(second, first.path(L"roaming"));
        ASSERT_NE(nullptr, one.warning);
        ASSERT_NE(nullptr, other.warning);
        driver::click(one.warning, IDOK);
        driver::click(other.warning, IDOK);
        ASSERT_TRUE(driver::waitGone(one.warning));
        ASSERT_TRUE(driver::waitGone(other.warning));
        EXPECT_EQ(L"Import key successfully!", answer(first, IDOK));
        EXPECT_EQ(L"Import key successfully!", answer(second, IDOK));
        EXPECT_EQ(0, first.exitCode());
        EXPECT_EQ(0, second.exitCode());

        const std::string root = readFile(first.rootKey());
        EXPECT_TRUE(root == ImportRun::newKey() || root == keyBytes(3));
        std::vector<std::string> backedUp;
        for (const std::wstring& name : first.backups()) backedUp.push_back(readFile(first.path(L"roaming\\ZIVO\\" + name)));
        EXPECT_EQ(2u, backedUp.size());
        EXPECT_NE(backedUp.end(), std::find(backedUp.begin(), backedUp.end(), ImportRun::oldKey()));
        for (const std::string& key : backedUp)
            EXPECT_TRUE(key == ImportRun::oldKey() || key == ImportRun::newKey() || key == keyBytes(3));
        EXPECT_EQ(std::vector<std::wstring>{}, debris(first));
    }
}

// The key library names no usable root key file: an empty path (a profile
// path too long for it) or a relative one. Nothing is touched anywhere, the
// current folder included.
TEST(KeyImportFlow, NoWholeRootKeyPathImportsNothing)
{
    for (const std::wstring& appData : {std::wstring(300, L'a'), std::wstring(L"relative")}) {
        SCOPED_TRACE(narrow(appData.substr(0, 10)));
        ImportRun run(L"nopath");
        // Where a relative path would lead, from the program's current folder.
        makeDirs(run.path(L"relative\\ZIVO"));
        writeFile(run.path(L"relative\\ZIVO\\ZIVORoot.key"), ImportRun::oldKey());
        HWND dlg = run.open(kCaptionEn, {{L"APPDATA", appData}});
        ASSERT_NE(nullptr, dlg);
        importConfirmed(run, dlg);
        EXPECT_EQ(L"Failed to import key!", answer(run, IDOK));
        EXPECT_EQ(0, run.exitCode());
        EXPECT_EQ(ImportRun::oldKey(), readFile(run.path(L"relative\\ZIVO\\ZIVORoot.key")));
        EXPECT_EQ(std::vector<std::wstring>{L"ZIVORoot.key"}, ImportRun::filesIn(run.path(L"relative\\ZIVO"), L"*"));
        EXPECT_EQ(std::vector<std::wstring>{}, ImportRun::filesIn(run.path(L""), L"*.import*"));
        EXPECT_EQ(std::vector<std::wstring>{}, ImportRun::filesIn(run.path(L""), L" 20*"));
        EXPECT_TRUE(run.logged(R"(\[ERR\] \(_importKey\): Error Code: 0x80004005$)"));
    }
}

// The file the user chose lies beside the root key under a name the import
// uses itself (the new key a killed import left as its staged copy, or a
// file named like the lock): it is imported and stays where it is. A lock
// file left read-only is cleared and taken.
TEST(KeyImportSafety, TheChosenFileIsNeverDeletedOrLockedAndAReadOnlyStaleLockIsTaken)
{
    for (const wchar_t* name : {L"ZIVORoot.key.import", L"ZIVORoot.key.lock", L"new.key"}) {
        SCOPED_TRACE(narrow(name));
        ImportRun run(L"chosen");
        const bool staleLock = std::wstring(name) == L"new.key";
        const std::wstring chosen = staleLock ? run.newKeyPath() : run.path(L"roaming\\ZIVO\\") + name;
        ASSERT_TRUE(writeFile(chosen, ImportRun::newKey()));
        const std::wstring lock = run.rootKey() + L".lock";
        if (staleLock) {
            ASSERT_TRUE(writeFile(lock, ""));
            ASSERT_TRUE(SetFileAttributesW(lock.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        }
        HWND dlg = run.open();
        ASSERT_NE(nullptr, dlg);
        driver::setItemText(dlg, kPathBox, chosen);
        driver::click(dlg, IDOK);
        EXPECT_NE(std::wstring::npos, answer(run, IDOK).find(L"Do you want to continue?"));
        EXPECT_EQ(L"Import key successfully!", answer(run, IDOK));
        EXPECT_EQ(0, run.exitCode());
        EXPECT_EQ(ImportRun::newKey(), readFile(run.rootKey()));
        EXPECT_EQ(ImportRun::newKey(), readFile(chosen)) << "the chosen file is gone or changed";
        // The lock goes with the import, unless the chosen file was at its name.
        EXPECT_EQ(std::wstring(name) == L"ZIVORoot.key.lock", exists(lock));
    }
}

// Runs as its own test while tests/keyimport/with-log-race.sh swaps the
// log's default folder for a link to another user's folder, where log.txt
// links to this user's root key: whatever the log does, the root key and
// every backup are whole keys, at both destinations that write to a file.
TEST(KeyImportLogRace, TheRootKeyAndItsBackupsAreAlwaysWholeKeys)
{
    const std::wstring keys = L"C:\\kit-log-race\\roaming\\ZIVO";
    ASSERT_TRUE(isDirectory(keys)) << "with-log-race.sh has not run";
    for (const char* destination : {"2", "3"}) {
        for (int round = 0; round < 100; ++round) {
            SCOPED_TRACE(std::string("Destination=") + destination + ", round " + std::to_string(round));
            ASSERT_TRUE(writeFile(keys + L"\\ZIVORoot.key", ImportRun::oldKey()));
            ImportRun run(L"lograce");
            run.setLog(std::string("[LOG]\nDestination=") + destination + "\nLevel=3\nFlush=1\n");
            importReportedDone(run, L"C:\\kit-log-race\\roaming");
            ASSERT_EQ(ImportRun::newKey(), readFile(keys + L"\\ZIVORoot.key"));
            for (const std::wstring& name : ImportRun::filesIn(keys, L"ZIVORoot.key *")) {
                ASSERT_EQ(ImportRun::oldKey(), readFile(keys + L"\\" + name)) << narrow(name);
                DeleteFileW((keys + L"\\" + name).c_str());
            }
        }
    }
}

// Runs as its own test while tests/support/with-second-letter.sh has Q:
// name C:\kit-letter, as a substituted drive would: the root key and the
// log there, reached by either name, import and are written, and nothing
// is left beside the root key.
TEST(KeyImportSecondLetter, ARootKeyAndALogOnASubstitutedDriveWork)
{
    ASSERT_TRUE(isDirectory(L"Q:\\")) << "with-second-letter.sh has not run";
    for (const wchar_t* appData : {L"Q:\\roaming", L"C:\\kit-letter\\roaming"}) {
        SCOPED_TRACE(narrow(appData));
        ImportRun run(L"letter");
        const std::wstring keys = std::wstring(appData) + L"\\ZIVO";
        ASSERT_TRUE(makeDirs(keys));
        ASSERT_TRUE(writeFile(keys + L"\\ZIVORoot.key", ImportRun::oldKey()));
        run.setLog("[LOG]\nDestination=2\nLevel=3\nLogFile=Q:\\log\\log.txt\n");
        importReportedDone(run, appData);
        EXPECT_EQ(ImportRun::newKey(), readFile(keys + L"\\ZIVORoot.key"));
        const auto left = ImportRun::filesIn(keys, L"*");
        EXPECT_EQ(2u, left.size()) << "the root key and its backup, nothing else";
        for (const std::wstring& name : left) EXPECT_TRUE(name == L"ZIVORoot.key" || isBackupName(name)) << narrow(name);
        EXPECT_NE(std::string::npos, readFile(L"C:\\kit-letter\\log\\log.txt").find("strRootKeyPath")) << "no log";
        removeTree(L"C:\\kit-letter\\roaming");
        removeTree(L"C:\\kit-letter\\log");
    }
}

// Runs as its own test: tests/keyimport/with-full-disk.sh mounts a small
// file system over C:\kit-full\ZIVO first (as root; elsewhere this skips).
TEST(KeyImportFullDisk, NoEmptyFileIsLeftAndTheRootKeyStaysWhole)
{
    const std::wstring folder = L"C:\\kit-full\\ZIVO";
    if (!exists(folder + L"\\mounted"))
        GTEST_SKIP() << "no small file system is mounted over " << narrow(folder) << " (mounting needs root)";
    const std::wstring rootKey = folder + L"\\ZIVORoot.key";
    const std::wstring filler = folder + L"\\filler";
    ASSERT_TRUE(writeFile(rootKey, ImportRun::oldKey()));
    // Fills the file system, then frees `freeBlocks` blocks of 4 KB.
    const auto fill = [&](int freeBlocks) {
        HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        SetFilePointer(file, 0, nullptr, FILE_END);
        const std::string block(4096, 'f');
        DWORD written = 0;
        while (WriteFile(file, block.data(), 4096, &written, nullptr) && written == 4096) {}
        LARGE_INTEGER size{};
        GetFileSizeEx(file, &size);
        size.QuadPart = (size.QuadPart / 4096 - freeBlocks) * 4096;
        SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
    };
    // No room for a backup; room for the backup but not the staged key.
    for (int freeBlocks : {0, 1}) {
        SCOPED_TRACE(std::to_string(freeBlocks) + " free blocks");
        fill(freeBlocks);
        ImportRun run(L"full");
        HWND dlg = run.open(kCaptionEn, {{L"APPDATA", L"C:\\kit-full"}});
        ASSERT_NE(nullptr, dlg);
        importConfirmed(run, dlg);
        EXPECT_EQ(systemText(ERROR_DISK_FULL), answer(run, IDOK));
        EXPECT_EQ(0, run.exitCode());
        EXPECT_EQ(ImportRun::oldKey(), readFile(rootKey));
        size_t backups = 0;
        for (const std::wstring& name : ImportRun::filesIn(folder, L"*")) {
            if (name == L"ZIVORoot.key" || name == L"filler" || name == L"mounted") continue;
            EXPECT_TRUE(isBackupName(name)) << "left behind: " << narrow(name);
            EXPECT_EQ(ImportRun::oldKey(), readFile(folder + L"\\" + name)) << narrow(name);
            ++backups;
        }
        EXPECT_EQ(static_cast<size_t>(freeBlocks), backups);
    }
}
