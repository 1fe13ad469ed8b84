#include "serial/win32/WinHandle.h"

#include <windows.h>

namespace kestro {

void WinHandle::Reset(void* handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        handle = nullptr;
    }
    if (m_handle != nullptr && m_handle != handle) {
        ::CloseHandle(m_handle);
    }
    m_handle = handle;
}

}  // namespace kestro
