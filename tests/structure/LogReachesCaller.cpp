// Built only to fail: the diagnostic log knows nothing of the program that
// uses it.
#include "DbgLog.h"
#include "ImportDlg.h"

int main()
{
    ImportDlg dialog;
    LOG_ERRCODE(dialog.getFilePath().size());
    return 0;
}
