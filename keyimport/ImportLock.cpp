#include "ImportLock.h"

namespace {

const wchar_t kLockName[] = L"Local\\HALVERN.Dactyra.RootKeyImport";

} // namespace

ImportLock::ImportLock() : m_mutex(CreateMutexW(NULL, FALSE, kLockName))
{
    if (!m_mutex) {
        m_error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_GEN_FAILURE;
        return;
    }
    switch (WaitForSingleObject(m_mutex.get(), kWaitMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // an import that ended without letting go: nothing half-done to wait for
        m_held = true;
        break;
    case WAIT_TIMEOUT:
        m_error = ERROR_TIMEOUT;
        break;
    default:
        m_error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_GEN_FAILURE;
        break;
    }
}

ImportLock::~ImportLock()
{
    if (m_held) (void)ReleaseMutex(m_mutex.get());
}
