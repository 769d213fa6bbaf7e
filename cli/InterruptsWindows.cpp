#include "Interrupts.h"

#include <QMetaObject>

#include <windows.h>

#include <mutex>

namespace kelvara::cli {

namespace {

// The one global of kelvara-cli: whom the console's handler hands an interrupt to.
std::mutex gLock;
TInterrupts* gInterrupts = nullptr;

} // namespace

TInterrupts::TInterrupts(std::function<void(int)> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
    {
        std::lock_guard lock(gLock);
        gInterrupts = this;
    }
    SetConsoleCtrlHandler(reinterpret_cast<PHANDLER_ROUTINE>(&TInterrupts::Handle), TRUE);
}

TInterrupts::~TInterrupts() {
    SetConsoleCtrlHandler(reinterpret_cast<PHANDLER_ROUTINE>(&TInterrupts::Handle), FALSE);
    std::lock_guard lock(gLock);
    gInterrupts = nullptr;
}

// Runs on a thread the system starts; the call itself is made on the event loop (it is dropped
// if the receiver, and so this object, has gone by then).
int __stdcall TInterrupts::Handle(unsigned long type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    std::lock_guard lock(gLock);
    if (!gInterrupts)
        return FALSE;
    TInterrupts* target = gInterrupts;
    QMetaObject::invokeMethod(
        &target->receiver_, [target] { target->onInterrupt_(++target->count_); },
        Qt::QueuedConnection);
    return TRUE;
}

} // namespace kelvara::cli
