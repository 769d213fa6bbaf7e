#include "Win32Serial.h"

namespace kelvara::link {

namespace {

class TSystemSerial : public TWin32Serial {
  public:
    HANDLE Open(const wchar_t* path) override {
        return ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    }
    BOOL SetupComm(HANDLE port, DWORD in, DWORD out) override { return ::SetupComm(port, in, out); }
    BOOL GetCommState(HANDLE port, DCB* dcb) override { return ::GetCommState(port, dcb); }
    BOOL SetCommState(HANDLE port, DCB* dcb) override { return ::SetCommState(port, dcb); }
    BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS* timeouts) override {
        return ::SetCommTimeouts(port, timeouts);
    }
    BOOL PurgeComm(HANDLE port, DWORD flags) override { return ::PurgeComm(port, flags); }
    BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status) override {
        return ::ClearCommError(port, errors, status);
    }
    BOOL ReadFile(HANDLE port, void* buffer, DWORD size, OVERLAPPED* overlapped) override {
        return ::ReadFile(port, buffer, size, nullptr, overlapped);
    }
    BOOL WriteFile(HANDLE port, const void* bytes, DWORD size, OVERLAPPED* overlapped) override {
        return ::WriteFile(port, bytes, size, nullptr, overlapped);
    }
    BOOL GetOverlappedResult(HANDLE port, OVERLAPPED* overlapped, DWORD* count, BOOL wait) override {
        return ::GetOverlappedResult(port, overlapped, count, wait);
    }
    BOOL CancelIoEx(HANDLE port, OVERLAPPED* overlapped) override {
        return ::CancelIoEx(port, overlapped);
    }
    BOOL CloseHandle(HANDLE port) override { return ::CloseHandle(port); }
};

std::shared_ptr<TWin32Serial>& StandIn() {
    static std::shared_ptr<TWin32Serial> calls;
    return calls;
}

} // namespace

std::shared_ptr<TWin32Serial> SerialCalls() {
    static const auto system = std::make_shared<TSystemSerial>();
    return StandIn() ? StandIn() : system;
}

void UseSerialCalls(std::shared_ptr<TWin32Serial> calls) { StandIn() = std::move(calls); }

} // namespace kelvara::link
