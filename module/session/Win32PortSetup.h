#pragma once

// Opening a serial port on Windows and setting it up: what may block (CreateFile on a Bluetooth
// link's port connects to its device first), kept apart from the port's I/O so that it can run
// away from the event loop.

#include "Port.h"
#include "Win32Serial.h"

#include <windows.h>

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kelvara::link {

// The driver's own bound on a write: a constant and a multiplier per byte that grows at low
// rates, so that a long write at 9600 baud is given its time on the wire, twice over.
constexpr DWORD kWriteConstantMs = 2000;
DWORD WriteMultiplierMs(int baudRate);
// How long a write of that many bytes may take at that rate before it has failed.
DWORD WriteLimitMs(std::size_t bytes, int baudRate);

// The system's words for an error, without its full stop, beginning in lower case.
QString SystemMessage(DWORD error);
// Why a port could not be opened, from the error CreateFile gave.
TOpenFailure Refusal(DWORD error);
// "Windows error N".
std::string WindowsError(DWORD error);

// 8N1, no flow control, at the rate.
bool SetRate(TWin32Serial& calls, HANDLE handle, int baudRate);
// The read and write timeouts for the rate: reads end a moment after a burst, writes are
// bounded by their length.
bool SetTimeouts(TWin32Serial& calls, HANDLE handle, int baudRate);

// Opens the device and sets it up, or says why not: the handle, or INVALID_HANDLE_VALUE with
// failure filled in. May block for seconds; touches nothing but its arguments.
HANDLE OpenAndSetUp(TWin32Serial& calls, const std::string& path, int baudRate, TOpenFailure& failure);

// An opening under way on a thread of its own, and what it came to.
struct TOpening {
    int BaudRate = 0;
    std::mutex Lock;
    bool GivenUp = false;
    HANDLE Handle = INVALID_HANDLE_VALUE;
    TOpenFailure Failure;
};

// Opens and sets up the device on a thread of its own; once done, ended is called on the
// context's thread, unless the opening was given up first (or the context has gone).
std::shared_ptr<TOpening> OpenAway(std::shared_ptr<TWin32Serial> calls, std::string path, int baudRate,
                                   QObject& context,
                                   std::function<void(const std::shared_ptr<TOpening>&)> ended);
// What an opening that has ended came to: its handle (INVALID_HANDLE_VALUE with failure filled
// in when it failed), now the caller's.
HANDLE TakeOpened(TOpening& opening, TOpenFailure& failure);
// Gives the opening up: a handle it opened, now or later, is closed.
void GiveUp(TOpening& opening, TWin32Serial& calls);

} // namespace kelvara::link
