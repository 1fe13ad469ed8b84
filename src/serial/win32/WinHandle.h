#pragma once
// An owned Windows handle (a port, an event), closed when replaced or destroyed. Kept free of
// <windows.h> so that the engine's header can be included by code that must not see its macros.

namespace kestro {

class WinHandle {
  public:
    WinHandle() = default;
    explicit WinHandle(void* handle) { Reset(handle); }
    WinHandle(const WinHandle&) = delete;
    WinHandle& operator=(const WinHandle&) = delete;
    ~WinHandle() { Reset(); }

    // Takes `handle`, closing the one held before; INVALID_HANDLE_VALUE is taken as none.
    void Reset(void* handle = nullptr);
    void* Get() const { return m_handle; }
    bool IsOpen() const { return m_handle != nullptr; }

  private:
    void* m_handle = nullptr;
};

}  // namespace kestro
