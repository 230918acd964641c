#include "ImportDlg.h"

#include <commdlg.h>
#include <shlwapi.h>

#include "DbgLog.h"
#include "KeyCheck.h"
#include "common/HvnMsgBox.h"
#include "common/ResourceHelper.h"
#include "resource.h"

ImportDlg* ImportDlg::s_pThis = NULL;

HRESULT ImportDlg::showModal(INT_PTR& nResult)
{
    const INT_PTR nRet = DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_IMPORT_KEY), NULL,
                                         &ImportDlg::_dialogProc, reinterpret_cast<LPARAM>(this));
    if (nRet == -1) {
        LOG_ERRCODE(HRESULT_FROM_WIN32(GetLastError()));
        return HRESULT_FROM_WIN32(GetLastError());
    }
    nResult = nRet;
    return S_OK;
}

INT_PTR CALLBACK ImportDlg::_dialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        s_pThis = reinterpret_cast<ImportDlg*>(lParam);
        ASSERT(NULL != s_pThis);
        if (NULL == s_pThis) {
            // Nothing to fill the path into: the dialog cannot do its job.
            EndDialog(hWnd, IDCANCEL);
            break;
        }
        s_pThis->m_hDlg = hWnd;
        SetWindowTextW(hWnd, ResourceHelper::getStrFromRes(IDS_DIALOG_CAPTION).c_str());
        SetDlgItemTextW(hWnd, IDC_STATIC_PROMPT, ResourceHelper::getStrFromRes(IDS_PROMPT).c_str());
        SetDlgItemTextW(hWnd, IDOK, ResourceHelper::getStrFromRes(IDS_BUTTON_OK).c_str());
        SetDlgItemTextW(hWnd, IDCANCEL, ResourceHelper::getStrFromRes(IDS_BUTTON_CANCEL).c_str());
        EnableWindow(GetDlgItem(hWnd, IDOK), FALSE);
        break;
    case WM_COMMAND:
        if (NULL == s_pThis) break;
        if (HIWORD(wParam) == 0)
            _onButtonClick(LOWORD(wParam));
        else if (HIWORD(wParam) == EN_CHANGE)
            EnableWindow(GetDlgItem(hWnd, IDOK), s_pThis->_isFilePathEmpty() ? FALSE : TRUE);
        break;
    case WM_CLOSE:
        if (NULL == s_pThis || !s_pThis->m_bClosing) {
            if (NULL != s_pThis) s_pThis->m_bClosing = true;
            EndDialog(hWnd, static_cast<INT_PTR>(wParam));
        }
        break;
    default:
        break;
    }
    return 0;
}

void ImportDlg::_onButtonClick(int nId)
{
    switch (nId) {
    case IDOK:
        s_pThis->_onOk();
        break;
    case IDCANCEL:
        SendMessageW(s_pThis->m_hDlg, WM_CLOSE, IDCANCEL, 0);
        break;
    case IDC_BUTTON_BROWSE:
        s_pThis->_selectFile();
        break;
    default:
        ASSERT(!"Unknown button ID!");
        break;
    }
}

void ImportDlg::_onOk()
{
    const std::wstring strPath = _readFilePath();
    if (FAILED(_checkFilePath(strPath))) return;
    if (!_checkKey(strPath)) return;
    // Owned by the dialog, so the dialog is disabled while the warning is up.
    // Only an explicit OK goes on: Cancel, closing the box or a box that
    // failed to show (0) leave the dialog open, and a Cancel that reached the
    // dialog meanwhile has already ended it.
    if (hvnMsgBox(IDS_CONFIRM_IMPORT, IDS_PRODUCT_NAME, MB_OKCANCEL, m_hDlg) != IDOK || m_bClosing) return;
    _updateData(strPath);
    SendMessageW(m_hDlg, WM_CLOSE, IDOK, 0);
}

HRESULT ImportDlg::_selectFile()
{
    wchar_t szFile[MAX_PATH] = {};
    wchar_t szInitialDir[MAX_PATH] = {};
    const DWORD nDirChars = GetEnvironmentVariableW(L"UserProfile", szInitialDir, MAX_PATH);
    if (nDirChars >= MAX_PATH) szInitialDir[0] = L'\0'; // did not fit: let the platform choose

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_hDlg;
    ofn.lpstrFilter = L"Key File(*.key)\0*.key\0All Files(*.*)\0*.*\0";
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = MAX_PATH; // characters, not bytes
    ofn.lpstrInitialDir = szInitialDir;
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;

    if (GetOpenFileNameW(&ofn)) {
        SetDlgItemTextW(m_hDlg, IDC_EDIT_PATH, szFile);
        return S_OK;
    }
    LOG_ERRCODE(HRESULT_FROM_WIN32(CommDlgExtendedError()));
    return HRESULT_FROM_WIN32(CommDlgExtendedError());
}

std::wstring ImportDlg::_readFilePath() const
{
    wchar_t szPath[MAX_PATH] = {};
    GetDlgItemTextW(m_hDlg, IDC_EDIT_PATH, szPath, MAX_PATH);
    return szPath;
}

bool ImportDlg::_isFilePathEmpty() const
{
    return _readFilePath().empty();
}

HRESULT ImportDlg::_checkFilePath(const std::wstring& strPath)
{
    if (!strPath.empty() && PathFileExistsW(strPath.c_str())) return S_OK;
    hvnMsgBox(IDS_INVALID_PATH, IDS_PRODUCT_NAME, MB_ICONERROR, m_hDlg);
    // Through the dialog manager, so the dialog also remembers the focus
    // when it is activated again after the message box.
    SendMessageW(m_hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hDlg, IDC_EDIT_PATH)), TRUE);
    return E_FAIL;
}

bool ImportDlg::_checkKey(const std::wstring& strPath)
{
    if (strPath.empty()) return true;
    if (isUsableKeyFile(strPath)) return true;
    hvnMsgBox(IDS_INVALID_KEY, IDS_PRODUCT_NAME, MB_ICONERROR);
    return false;
}

HRESULT ImportDlg::_updateData(const std::wstring& strPath)
{
    m_strFilePath = strPath;
    ASSERT(!m_strFilePath.empty());
    return S_OK;
}
