#include "Interrupts.h"

#include <QMetaObject>
#include <QObject>

#include <windows.h>

#include <mutex>

namespace kelvara::cli {

class TInterrupts::TSystem {
  public:
    explicit TSystem(TInterrupts& owner) : owner_(owner) {
        ResetEvent(Ended());
        {
            std::lock_guard lock(gLock);
            gSystem = this;
        }
        SetConsoleCtrlHandler(&Handle, TRUE);
    }

    ~TSystem() {
        {
            std::lock_guard lock(gLock);
            gSystem = nullptr;
        }
        SetEvent(Ended());
        SetConsoleCtrlHandler(&Handle, FALSE);
    }

  private:
    // Runs on a thread the system starts; the call itself is made on the event loop (it is
    // dropped if the receiver, and so this object, has gone by then).
    static BOOL WINAPI Handle(DWORD type) {
        if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
            return FALSE;
        {
            std::lock_guard lock(gLock);
            if (!gSystem)
                return FALSE;
            TSystem* target = gSystem;
            const bool closing = type == CTRL_CLOSE_EVENT;
            QMetaObject::invokeMethod(
                &target->receiver_,
                [target, closing] {
                    if (closing)
                        target->owner_.StopNow();
                    else
                        target->owner_.Interrupted();
                },
                Qt::QueuedConnection);
        }
        // The console is closing: Windows ends the process as soon as this returns, or after
        // about 5 s. The work stops at once, as at a second interrupt: a module under way ends
        // as stopped, with its row in the record, and the port is let go, well within that
        // time; waiting for the module to finish could run past it and be cut off unrecorded.
        if (type == CTRL_CLOSE_EVENT)
            WaitForSingleObject(Ended(), kCloseGraceMs);
        return TRUE;
    }

    // Set once the work under way has ended (the interrupts are no longer wanted).
    static HANDLE Ended() {
        static const HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        return ended;
    }
    static constexpr DWORD kCloseGraceMs = 4500;

    static std::mutex gLock;
    // The one global of kelvara-cli: whom the console's handler hands an interrupt to.
    static TSystem* gSystem;

    TInterrupts& owner_;
    QObject receiver_;
};

std::mutex TInterrupts::TSystem::gLock;
TInterrupts::TSystem* TInterrupts::TSystem::gSystem = nullptr;

TInterrupts::TInterrupts(std::function<void(int)> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)), system_(std::make_unique<TSystem>(*this)) {}

TInterrupts::~TInterrupts() = default;

} // namespace kelvara::cli
