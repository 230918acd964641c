// The deliverables' resources, read from the built files: the dialog
// template, the string tables in both languages, icons, manifests and the
// version block.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "KitTest.h"
#include "SetupResources.h"
#include "resource.h"

using namespace kittest;

namespace {

class Module {
public:
    explicit Module(const std::wstring& name)
        : m_module(LoadLibraryExW((binDir() + name).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    ~Module()
    {
        if (m_module) FreeLibrary(m_module);
    }
    HMODULE get() const { return m_module; }

    // The bytes of a resource in one language (0: any).
    std::string resource(LPCWSTR type, LPCWSTR name, WORD language = 0) const
    {
        HRSRC info = language ? FindResourceExW(m_module, type, name, language) : FindResourceW(m_module, name, type);
        if (!info) return {};
        HGLOBAL data = LoadResource(m_module, info);
        return std::string(static_cast<const char*>(LockResource(data)), SizeofResource(m_module, info));
    }

    // A string of the string table in the given language.
    std::wstring string(UINT id, WORD language) const
    {
        const std::string block = resource(RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
        const wchar_t* p = reinterpret_cast<const wchar_t*>(block.data());
        const wchar_t* end = p + block.size() / sizeof(wchar_t);
        for (UINT i = 0; i < id % 16 && p < end; ++i) p += 1 + *p;
        return p < end ? std::wstring(p + 1, *p) : L"<none>";
    }

private:
    HMODULE m_module;
};

// Reads a DLGTEMPLATEEX and its items.
class TemplateReader {
public:
    // Keeps no copy: `bytes` must outlive the reader.
    explicit TemplateReader(const std::string& bytes)
        : m_begin(bytes.data()), m_p(bytes.data()), m_end(bytes.data() + bytes.size())
    {
    }
    template <class T>
    T read()
    {
        T value{};
        if (m_p + sizeof(T) <= m_end) memcpy(&value, m_p, sizeof(T));
        m_p += sizeof(T);
        return value;
    }
    // A name or ordinal field: "#n" for an ordinal.
    std::wstring text()
    {
        if (read<WORD>() == 0xFFFF) return L"#" + std::to_wstring(read<WORD>());
        m_p -= sizeof(WORD);
        std::wstring out;
        for (WORD c; (c = read<WORD>()) != 0;) out += static_cast<wchar_t>(c);
        return out;
    }
    // Items start on a DWORD boundary of the template.
    void alignDword()
    {
        while ((m_p - m_begin) % 4) ++m_p;
    }

private:
    const char* m_begin;
    const char* m_p;
    const char* m_end;
};

struct Item {
    DWORD style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring cls, text;
};

const WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const WORD kFrench = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);

} // namespace

TEST(KeyImportResources, DialogTemplateIsExactlyAsDesigned)
{
    Module exe(L"ZIVOEncryptKeyImport.exe");
    ASSERT_NE(nullptr, exe.get());
    const std::string bytes = exe.resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_IMPORT_KEY), kEnglish);
    ASSERT_FALSE(bytes.empty());
    TemplateReader r(bytes);

    EXPECT_EQ(1, r.read<WORD>());      // version
    EXPECT_EQ(0xFFFF, r.read<WORD>()); // extended template
    r.read<DWORD>();                   // help id
    EXPECT_EQ(0u, r.read<DWORD>());    // extended style
    EXPECT_EQ(0x80C808C8u, r.read<DWORD>());
    const WORD items = r.read<WORD>();
    EXPECT_EQ(5, items);
    EXPECT_EQ(0, r.read<short>());
    EXPECT_EQ(0, r.read<short>());
    EXPECT_EQ(221, r.read<short>());
    EXPECT_EQ(61, r.read<short>());
    EXPECT_EQ(L"", r.text()); // no menu
    EXPECT_EQ(L"", r.text()); // the standard dialog class
    EXPECT_EQ(L"Import Key", r.text());
    EXPECT_EQ(10, r.read<WORD>());  // points
    EXPECT_EQ(400, r.read<WORD>()); // weight
    EXPECT_EQ(0, r.read<BYTE>());   // italic
    EXPECT_EQ(0, r.read<BYTE>());   // character set
    EXPECT_EQ(L"MS Shell Dlg", r.text());

    std::vector<Item> read;
    for (WORD i = 0; i < items; ++i) {
        r.alignDword();
        Item item{};
        r.read<DWORD>(); // help id
        EXPECT_EQ(0u, r.read<DWORD>());
        item.style = r.read<DWORD>();
        item.x = r.read<short>();
        item.y = r.read<short>();
        item.cx = r.read<short>();
        item.cy = r.read<short>();
        item.id = r.read<DWORD>();
        item.cls = r.text();
        item.text = r.text();
        r.read<WORD>(); // no creation data
        read.push_back(item);
    }
    // Predefined classes by ordinal: 0x80 button, 0x81 edit, 0x82 static.
    const Item expected[] = {
        {0x50020000, 6, 7, 209, 8, IDC_STATIC_PROMPT, L"#130", L"Please specify .key file:"},
        {0x50810080, 6, 18, 185, 14, IDC_EDIT_PATH, L"#129", L""},
        {0x50010000, 199, 18, 16, 14, IDC_BUTTON_BROWSE, L"#128", L"..."},
        {0x50010001, 109, 41, 50, 14, IDOK, L"#128", L"OK"},
        {0x50010000, 165, 41, 50, 14, IDCANCEL, L"#128", L"Cancel"},
    };
    ASSERT_EQ(5u, read.size());
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].id, read[i].id);
        EXPECT_EQ(expected[i].style, read[i].style);
        EXPECT_EQ(expected[i].x, read[i].x);
        EXPECT_EQ(expected[i].y, read[i].y);
        EXPECT_EQ(expected[i].cx, read[i].cx);
        EXPECT_EQ(expected[i].cy, read[i].cy);
        EXPECT_EQ(expected[i].cls, read[i].cls);
        EXPECT_EQ(expected[i].text, read[i].text);
    }
}

TEST(KeyImportResources, StringTablesInEnglishAndFrench)
{
    Module exe(L"ZIVOEncryptKeyImport.exe");
    const wchar_t* const english[] = {
        L"HALVERN Dactyra",
        L"After a new key is imported, the files encrypted by current key cannot be decrypted any more. Do you want "
        L"to continue?",
        L"Import key successfully!", L"Failed to import key!", L"The file path is invalid.", L"Invalid key!", L"OK",
        L"Cancel", L"Please specify .key file:", L"Import Key"};
    const wchar_t* const french[] = {
        L"HALVERN Dactyra",
        L"Apr\u00e8s l'importation d'une nouvelle cl\u00e9, les fichiers chiffr\u00e9s par la cl\u00e9 actuelle ne "
        L"pourront plus \u00eatre d\u00e9chiffr\u00e9s. Voulez-vous continuer\u00a0?",
        L"La cl\u00e9 a bien \u00e9t\u00e9 import\u00e9e\u00a0!", L"Impossible d'importer la cl\u00e9\u00a0!",
        L"Le chemin du fichier n\u2019est pas valide.", L"Cl\u00e9 non valide\u00a0!", L"OK", L"Annuler",
        L"Veuillez sp\u00e9cifier un fichier cl\u00e9:", L"Importer la cl\u00e9"};
    for (UINT i = 0; i < 10; ++i) {
        EXPECT_EQ(english[i], exe.string(IDS_PRODUCT_NAME + i, kEnglish)) << IDS_PRODUCT_NAME + i;
        EXPECT_EQ(french[i], exe.string(IDS_PRODUCT_NAME + i, kFrench)) << IDS_PRODUCT_NAME + i;
    }
    EXPECT_EQ(IDS_DIALOG_CAPTION, IDS_PRODUCT_NAME + 9);
}

namespace {

// Sizes and colour depths of an icon group.
std::vector<std::pair<int, int>> iconImages(const Module& module, LPCWSTR group)
{
    const std::string bytes = module.resource(RT_GROUP_ICON, group);
    std::vector<std::pair<int, int>> out;
    if (bytes.size() < 6) return out;
    const WORD count = *reinterpret_cast<const WORD*>(bytes.data() + 4);
    for (WORD i = 0; i < count && 6 + 14u * (i + 1) <= bytes.size(); ++i) {
        const unsigned char* entry = reinterpret_cast<const unsigned char*>(bytes.data() + 6 + 14 * i);
        out.push_back({entry[0] == 0 ? 256 : entry[0], *reinterpret_cast<const WORD*>(entry + 6)});
    }
    return out;
}

std::string manifest(const Module& module)
{
    return module.resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
}

std::wstring versionText(const std::wstring& file, const std::wstring& name)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<char> data(size);
    if (!size || !GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return L"<no version>";
    wchar_t* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(data.data(), (L"\\StringFileInfo\\040904b0\\" + name).c_str(), reinterpret_cast<void**>(&value),
                        &chars))
        return L"<none>";
    return value;
}

} // namespace

TEST(KitResources, IconsAndManifests)
{
    const std::vector<std::pair<int, int>> sizes = {{16, 8},  {16, 32}, {24, 8},  {24, 32},  {32, 8},
                                                    {32, 32}, {48, 8},  {48, 32}, {256, 8}, {256, 32}};
    Module keyImport(L"ZIVOEncryptKeyImport.exe");
    Module uninstall(L"Uninstall.exe");
    Module sweepup(L"Sweepup.exe");
    EXPECT_EQ(sizes, iconImages(keyImport, MAKEINTRESOURCEW(IDI_SMALL)));
    EXPECT_EQ(sizes, iconImages(uninstall, MAKEINTRESOURCEW(IDI_SETUP_TOOL)));
    EXPECT_EQ(sizes, iconImages(sweepup, MAKEINTRESOURCEW(IDI_SETUP_TOOL)));

    EXPECT_NE(std::string::npos, manifest(keyImport).find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest(keyImport).find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest(uninstall).find("level=\"requireAdministrator\""));
    EXPECT_NE(std::string::npos, manifest(sweepup).find("level=\"asInvoker\""));
    // Each program's own identity carries the project's version, and each
    // declares the systems it is made for, Windows 7 to Windows 10/11.
    const char* const supportedSystems[] = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                                            "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"};
    for (const Module* program : {&keyImport, &uninstall, &sweepup}) {
        const std::string text = manifest(*program);
        EXPECT_NE(std::string::npos, text.find("version=\"" KIT_VERSION "\" processorArchitecture=\"amd64\""));
        EXPECT_NE(std::string::npos, text.find("<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">"));
        for (const char* system : supportedSystems) EXPECT_NE(std::string::npos, text.find(std::string("<supportedOS Id=\"") + system + "\"/>")) << system;
    }
    // The key import is drawn sharp at any scaling: system-aware, per-monitor
    // v2 where the system offers it.
    const std::string keyImportManifest = manifest(keyImport);
    EXPECT_NE(std::string::npos, keyImportManifest.find("<windowsSettings>"));
    EXPECT_NE(std::string::npos, keyImportManifest.find("WindowsSettings\">true</dpiAware>"));
    EXPECT_NE(std::string::npos, keyImportManifest.find("WindowsSettings\">PerMonitorV2, System</dpiAwareness>"));
}

namespace {

// Marked terminal-server aware: on a Remote Desktop server an unmarked
// program is handed a per-user copy of the Windows folder.
TEST(KitResources, ProgramsAreTerminalServerAware)
{
    for (const wchar_t* name : {L"ZIVOEncryptKeyImport.exe", L"Uninstall.exe", L"Sweepup.exe"}) {
        const std::string image = readFile(binDir() + name);
        ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER)) << narrow(name);
        const auto& dos = *reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
        ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos.e_magic) << narrow(name);
        ASSERT_LE(static_cast<size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64), image.size()) << narrow(name);
        const auto& nt = *reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos.e_lfanew);
        ASSERT_EQ(IMAGE_NT_SIGNATURE, nt.Signature) << narrow(name);
        EXPECT_EQ(IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE,
                  nt.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)
            << narrow(name);
    }
}

struct VersionCase {
    const wchar_t* file;
    const wchar_t* description;
    const wchar_t* comments;
};

// The numeric file version of the fixed part, as "a.b.c.d".
std::wstring fixedVersion(const std::wstring& file)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT bytes = 0;
    if (!size || !GetFileVersionInfoW(file.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes))
        return L"<no version>";
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

} // namespace

// Every deliverable carries the project's version and the same product,
// company and copyright texts.
TEST(KitResources, EveryDeliverableHasTheProjectVersion)
{
    const VersionCase cases[] = {
        {L"ZIVOEncryptKeyImport.exe", L"HALVERN Dactyra Key Import", L"Import key"},
        {L"Uninstall.exe", L"HALVERN Dactyra Uninstall", L"Remove the product"},
        {L"Sweepup.exe", L"HALVERN Dactyra Sweepup", L"Remove what package removal leaves behind"},
        {L"ZIVOCommon.dll", L"HALVERN Dactyra Key Library (stand-in)", L"Stand-in for the product's key library"},
    };
    const std::wstring version = widen(KIT_VERSION);
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(narrow(c.file));
        const std::wstring file = binDir() + c.file;
        EXPECT_EQ(version, fixedVersion(file));
        EXPECT_EQ(version, versionText(file, L"FileVersion"));
        EXPECT_EQ(version, versionText(file, L"ProductVersion"));
        EXPECT_EQ(c.description, versionText(file, L"FileDescription"));
        EXPECT_EQ(c.comments, versionText(file, L"Comments"));
        EXPECT_EQ(L"HALVERN Dactyra", versionText(file, L"ProductName"));
        EXPECT_EQ(L"HALVERN", versionText(file, L"CompanyName"));
        EXPECT_EQ(L"Copyright (C) HALVERN", versionText(file, L"LegalCopyright"));
        EXPECT_EQ(c.file, versionText(file, L"OriginalFilename"));
    }
}
