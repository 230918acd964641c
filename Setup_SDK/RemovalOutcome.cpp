#include "RemovalOutcome.h"

void RemovalOutcome::add(DWORD code)
{
    switch (code) {
    case ERROR_SUCCESS:
    case ERROR_UNKNOWN_PRODUCT:
        break;
    case ERROR_SUCCESS_REBOOT_REQUIRED:
        m_restartNeeded = true;
        break;
    case ERROR_SUCCESS_REBOOT_INITIATED:
        m_restartStarted = true;
        break;
    default:
        if (m_firstFailure == ERROR_SUCCESS) m_firstFailure = code;
        break;
    }
}

DWORD RemovalOutcome::exitCode() const
{
    if (m_firstFailure != ERROR_SUCCESS) return m_firstFailure;
    if (m_restartStarted) return ERROR_SUCCESS_REBOOT_INITIATED;
    if (m_restartNeeded) return ERROR_SUCCESS_REBOOT_REQUIRED;
    return ERROR_SUCCESS;
}
