#pragma once

// One overlapped I/O on a Windows port, and the I/Os the driver never ended.

#include <windows.h>

#include <memory>
#include <vector>

namespace kelvara::link {

// Its OVERLAPPED, its event and its buffer. The kernel owns them from the call that starts the
// I/O until that I/O completes, even once cancelled: one the driver never completes is
// abandoned whole, never reused or freed.
struct TIo {
    OVERLAPPED Overlapped{};
    HANDLE Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<char> Buffer;
    bool Pending = false; // started, and not yet seen to have ended

    TIo() = default;
    TIo(const TIo&) = delete;
    TIo& operator=(const TIo&) = delete;
    ~TIo() { CloseHandle(Event); }

    OVERLAPPED* Start(std::size_t size) {
        Overlapped = {};
        Overlapped.hEvent = Event;
        ResetEvent(Event);
        Buffer.resize(size);
        Pending = true;
        return &Overlapped;
    }
    bool Ended(DWORD waitMs = 0) const { return WaitForSingleObject(Event, waitMs) == WAIT_OBJECT_0; }
    // Seen to have ended: its event no longer wakes anyone.
    void Done() {
        ResetEvent(Event);
        Pending = false;
    }
};

// The I/Os set aside for good, freed once the kernel lets go of them; those it never lets go
// of are left to it when the port goes.
class TAbandonedIo {
  public:
    TAbandonedIo() = default;
    TAbandonedIo(const TAbandonedIo&) = delete;
    TAbandonedIo& operator=(const TAbandonedIo&) = delete;
    ~TAbandonedIo() {
        for (std::unique_ptr<TIo>& io : ios_) {
            if (!io->Ended())
                static_cast<void>(io.release());
        }
    }
    // Takes the I/O and puts a fresh one in its place.
    void Take(std::unique_ptr<TIo>& io) {
        ios_.push_back(std::move(io));
        io = std::make_unique<TIo>();
    }
    void Prune() {
        std::erase_if(ios_, [](const std::unique_ptr<TIo>& io) { return io->Ended(); });
    }
    std::size_t Count() const { return ios_.size(); }

  private:
    std::vector<std::unique_ptr<TIo>> ios_;
};

// How long a cancelled I/O may take to end: a driver that honours the cancel ends it at once.
constexpr DWORD kCancelWaitMs = 50;

} // namespace kelvara::link
