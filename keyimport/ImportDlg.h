// The modal dialog in which the user names the key file to import.
#pragma once

#include <windows.h>

#include <string>

class ImportDlg {
public:
    // Runs the dialog; on success stores its end code in `endCode`.
    HRESULT showModal(INT_PTR& endCode);
    std::wstring getFilePath() const { return m_strFilePath; }

private:
    static INT_PTR CALLBACK _dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void _onButtonClick(int id);
    void _onOk();
    HRESULT _selectFile();
    bool _isFilePathEmpty() const;
    // The checks and the stored path all take the one path read when OK was
    // pressed: what was checked is what gets imported.
    HRESULT _checkFilePath(const std::wstring& path);
    bool _checkKey(const std::wstring& path);
    void _updateData(const std::wstring& path);
    std::wstring _readFilePath() const;

    static ImportDlg* s_pThis;

    HWND m_hDlg = NULL;
    std::wstring m_strFilePath;
    // Set by the first close request; a later one (the confirmed OK after a
    // Cancel that came in while the warning was up) does not change the end.
    bool m_closing = false;
};
