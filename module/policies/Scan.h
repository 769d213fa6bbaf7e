#pragma once

// A scan for remote devices: "AT+DISC?" sent as any command ("OK+DISCS" acknowledges it), then
// the module's answers read as they come, each device found reported once its entry is
// complete, until "OK+DISCE", the time the user gave, or a cancel.
//
// The forms read: "OK+DIS" + type (one character) + address (12 hexadecimal digits) + name (up
// to the next "OK+" or line break, maybe empty); the same with ":" after the type; either
// followed by a line break and "OK+NAME:" + name + line break, naming the device just found.

#include "Exchange.h"

#include <map>

namespace kelvara::link {

inline constexpr std::string_view kScanCommand = "AT+DISC?";
inline constexpr int kDefaultScanSeconds = 10;

// The module's answers to a scan, in any pieces: devices, the end, and bytes that are neither.
class TScanReader {
  public:
    // Reads what can be read of the bytes so far; a device still open waits for what follows.
    void Feed(std::string_view bytes, Ms now, TStep& step);
    // The module fell quiet: what is open is complete, unless what came last may still become
    // its name. An answer cut short (its beginning, or a device's address) waits for the rest:
    // a module's bytes may pause anywhere.
    void Quiet(Ms now, TStep& step);
    // The scan ends: everything read is final.
    void End(Ms now, TStep& step);
    bool Ended() const { return ended_; }

  private:
    // Reads one answer at the start of the buffer; false when it needs more bytes.
    bool ReadOne(Ms now, TStep& step, bool quiet);
    void Report(Ms now, TStep& step);
    void Unasked(std::size_t length, Ms now, TStep& step);

    std::string buffer_;
    struct TDevice {
        char Type = '0';
        std::string Address;
        std::string Name;
        bool NameOpen = true; // its name runs on until "OK+" or a line break
    };
    std::optional<TDevice> open_;   // found, not yet reported: its OK+NAME may follow
    std::optional<TDevice> last_;   // the last reported, for an OK+NAME that comes late
    std::map<std::string, std::string> seen_; // address -> name reported
    bool ended_ = false;
};

class TScan : public TPolicy {
  public:
    TScan(const TSendSettings& settings, int seconds = kDefaultScanSeconds,
          int quietGapMs = kQuietGapMs);

    TStep Start(Ms now) override;
    TStep BytesReceived(std::string_view bytes, Ms now) override;
    TStep TimePassed(Ms now) override;
    TStep ConnectionLost(Ms now) override;
    TStep Cancel(Ms now) override;
    std::optional<Ms> WakeAt() const override;
    bool Finished() const override { return state_ == TState::Done; }

    // "AT+DISC?" was acknowledged: the scan ran.
    bool Acknowledged() const { return acknowledged_; }

  private:
    // Asking ("AT+DISC?" under way) -> Scanning -> Done (at "OK+DISCE": Completed; at the time
    // given, or not acknowledged: Failed; cancelled: Cancelled).
    enum class TState { Idle, Asking, Scanning, Done };

    void Asked(const TOutcome& outcome, Ms now, TStep& step);
    void Finish(TResult result, Ms now, TStep& step);

    TSendSettings settings_;
    int seconds_;
    int quietGapMs_;
    TState state_ = TState::Idle;
    TInFlight inFlight_;
    TScanReader reader_;
    Ms endsAt_ = 0;
    Ms lastByteAt_ = 0;
    bool quiet_ = true;
    bool acknowledged_ = false;
    bool cancelled_ = false;
};

} // namespace kelvara::link
