#pragma once

// The Win32 calls the serial port makes on Windows, behind one seam: the system's own, or a
// test's stand-in driver that answers them as a misbehaving driver would. Each has the Win32
// call's meaning, its result and GetLastError() included.

#include <windows.h>

#include <memory>

namespace kelvara::link {

class TWin32Serial {
  public:
    virtual ~TWin32Serial() = default;

    virtual HANDLE Open(const wchar_t* path) = 0; // CreateFileW, overlapped, not shared
    virtual BOOL SetupComm(HANDLE port, DWORD in, DWORD out) = 0;
    virtual BOOL GetCommState(HANDLE port, DCB* dcb) = 0;
    virtual BOOL SetCommState(HANDLE port, DCB* dcb) = 0;
    virtual BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS* timeouts) = 0;
    virtual BOOL PurgeComm(HANDLE port, DWORD flags) = 0;
    virtual BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status) = 0;
    virtual BOOL ReadFile(HANDLE port, void* buffer, DWORD size, OVERLAPPED* overlapped) = 0;
    virtual BOOL WriteFile(HANDLE port, const void* bytes, DWORD size, OVERLAPPED* overlapped) = 0;
    virtual BOOL GetOverlappedResult(HANDLE port, OVERLAPPED* overlapped, DWORD* count,
                                     BOOL wait) = 0;
    virtual BOOL CancelIoEx(HANDLE port, OVERLAPPED* overlapped) = 0;
    virtual BOOL CloseHandle(HANDLE port) = 0;
};

// The calls a port makes, taken when the port is made: the system's own, unless a test has put
// its stand-in driver in their place (nullptr gives the system's back).
std::shared_ptr<TWin32Serial> SerialCalls();
void UseSerialCalls(std::shared_ptr<TWin32Serial> calls);

} // namespace kelvara::link
