#include "ImportDlg.h"

#include <commdlg.h>
#include <shlwapi.h>

#include "DbgLog.h"
#include "KeyCheck.h"
#include "common/HvnMsgBox.h"
#include "common/ResourceHelper.h"
#include "resource.h"

ImportDlg* ImportDlg::s_pThis = NULL;

HRESULT ImportDlg::showModal(INT_PTR& endCode)
{
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_IMPORT_KEY), NULL,
                                           &ImportDlg::_dialogProc, reinterpret_cast<LPARAM>(this));
    if (result == -1) {
        const HRESULT failure = HRESULT_FROM_WIN32(GetLastError());
        LOG_ERRCODE(failure);
        return failure;
    }
    endCode = result;
    return S_OK;
}

INT_PTR CALLBACK ImportDlg::_dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        s_pThis = reinterpret_cast<ImportDlg*>(lParam);
        ASSERT(NULL != s_pThis);
        if (NULL == s_pThis) {
            // Nothing to fill the path into: the dialog cannot do its job.
            EndDialog(window, IDCANCEL);
            break;
        }
        s_pThis->m_hDlg = window;
        SetWindowTextW(window, ResourceHelper::getStrFromRes(IDS_DIALOG_CAPTION).c_str());
        SetDlgItemTextW(window, IDC_STATIC_PROMPT, ResourceHelper::getStrFromRes(IDS_PROMPT).c_str());
        SetDlgItemTextW(window, IDOK, ResourceHelper::getStrFromRes(IDS_BUTTON_OK).c_str());
        SetDlgItemTextW(window, IDCANCEL, ResourceHelper::getStrFromRes(IDS_BUTTON_CANCEL).c_str());
        EnableWindow(GetDlgItem(window, IDOK), FALSE);
        break;
    case WM_COMMAND:
        if (NULL == s_pThis) break;
        if (HIWORD(wParam) == 0)
            _onButtonClick(LOWORD(wParam));
        else if (HIWORD(wParam) == EN_CHANGE)
            EnableWindow(GetDlgItem(window, IDOK), s_pThis->_isFilePathEmpty() ? FALSE : TRUE);
        break;
    case WM_CLOSE:
        if (NULL == s_pThis || !s_pThis->m_closing) {
            if (NULL != s_pThis) s_pThis->m_closing = true;
            EndDialog(window, static_cast<INT_PTR>(wParam));
        }
        break;
    default:
        break;
    }
    return 0;
}

void ImportDlg::_onButtonClick(int id)
{
    switch (id) {
    case IDOK:
        s_pThis->_onOk();
        break;
    case IDCANCEL:
        SendMessageW(s_pThis->m_hDlg, WM_CLOSE, IDCANCEL, 0);
        break;
    case IDC_BUTTON_BROWSE:
        (void)s_pThis->_selectFile(); // a cancelled pick leaves the path box as it was
        break;
    default:
        ASSERT(!"Unknown button ID!");
        break;
    }
}

void ImportDlg::_onOk()
{
    const std::wstring path = _readFilePath();
    if (FAILED(_checkFilePath(path))) return;
    if (!_checkKey(path)) return;
    // Owned by the dialog, so the dialog is disabled while the warning is up.
    // Only an explicit OK goes on: Cancel, closing the box or a box that
    // failed to show (0) leave the dialog open, and a Cancel that reached the
    // dialog meanwhile has already ended it.
    if (hvnMsgBox(IDS_CONFIRM_IMPORT, IDS_PRODUCT_NAME, MB_OKCANCEL, m_hDlg) != IDOK || m_closing) return;
    _updateData(path);
    SendMessageW(m_hDlg, WM_CLOSE, IDOK, 0);
}

HRESULT ImportDlg::_selectFile()
{
    wchar_t file[MAX_PATH] = {};
    wchar_t initialFolder[MAX_PATH] = {};
    const DWORD folderChars = GetEnvironmentVariableW(L"UserProfile", initialFolder, MAX_PATH);
    if (folderChars >= MAX_PATH) initialFolder[0] = L'\0'; // did not fit: let the platform choose

    OPENFILENAMEW pick = {};
    pick.lStructSize = sizeof(pick);
    pick.hwndOwner = m_hDlg;
    pick.lpstrFilter = L"Key File(*.key)\0*.key\0All Files(*.*)\0*.*\0";
    pick.nFilterIndex = 0;
    pick.lpstrFile = file;
    pick.nMaxFile = MAX_PATH; // characters, not bytes
    pick.lpstrInitialDir = initialFolder;
    pick.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;

    if (GetOpenFileNameW(&pick)) {
        SetDlgItemTextW(m_hDlg, IDC_EDIT_PATH, file);
        return S_OK;
    }
    const HRESULT failure = HRESULT_FROM_WIN32(CommDlgExtendedError()); // 0 when the user cancelled
    LOG_ERRCODE(failure);
    return failure;
}

std::wstring ImportDlg::_readFilePath() const
{
    // Whole, however long: a path cut to fit would name another file.
    HWND box = GetDlgItem(m_hDlg, IDC_EDIT_PATH);
    std::wstring path(static_cast<size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    const int chars = GetWindowTextW(box, &path[0], static_cast<int>(path.size()));
    path.resize(chars > 0 ? static_cast<size_t>(chars) : 0);
    return path;
}

bool ImportDlg::_isFilePathEmpty() const
{
    return _readFilePath().empty();
}

HRESULT ImportDlg::_checkFilePath(const std::wstring& path)
{
    // More than MAX_PATH - 1 characters is no path the import can take whole.
    if (!path.empty() && path.size() < MAX_PATH && PathFileExistsW(path.c_str())) return S_OK;
    hvnMsgBox(IDS_INVALID_PATH, IDS_PRODUCT_NAME, MB_ICONERROR, m_hDlg);
    // Through the dialog manager, so the dialog also remembers the focus
    // when it is activated again after the message box.
    SendMessageW(m_hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hDlg, IDC_EDIT_PATH)), TRUE);
    return E_FAIL;
}

bool ImportDlg::_checkKey(const std::wstring& path)
{
    if (path.empty()) return true;
    if (isUsableKeyFile(path)) return true;
    hvnMsgBox(IDS_INVALID_KEY, IDS_PRODUCT_NAME, MB_ICONERROR);
    return false;
}

void ImportDlg::_updateData(const std::wstring& path)
{
    m_strFilePath = path;
    ASSERT(!m_strFilePath.empty());
}
