// The modal dialog in which the user names the key file to import.
#pragma once

#include <windows.h>

#include <string>

class ImportDlg {
public:
    // Runs the dialog; on success stores its end code in nResult.
    HRESULT showModal(INT_PTR& nResult);
    std::wstring getFilePath() const { return m_strFilePath; }

private:
    static INT_PTR CALLBACK _dialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static void _onButtonClick(int nId);
    HRESULT _selectFile();
    bool _isFilePathEmpty() const;
    HRESULT _checkFilePath();
    bool _checkKey();
    HRESULT _updateData();
    std::wstring _readFilePath() const;

    static ImportDlg* s_pThis;

    HWND m_hDlg = NULL;
    std::wstring m_strFilePath;
};
