#pragma once

// Watching for a module to arrive on a port, or to go from it, by asking "AT" now and then at the
// batch's settings; nothing else is ever written. A module has gone once it has not answered for
// a while, so that a loose contact is not taken for a new module.

#include "Exchange.h"

namespace kelvara::link {

inline constexpr int kPresenceIntervalMs = 150;

enum class TPresenceWatchAwait { Arrival, Departure };
// A module must not have answered for this long before it counts as gone.
inline constexpr int kGoneAfterMs = 1000;

class TPresenceWatch : public TPolicy {
  public:
    using TAwait = TPresenceWatchAwait;

    TPresenceWatch(TAwait await, int baudRate, TLineEnd lineEnd, int quietGapMs = kQuietGapMs);

    TStep Start(Ms now) override;
    TStep BytesReceived(std::string_view bytes, Ms now) override;
    TStep TimePassed(Ms now) override;
    // A port that goes away took its module with it: the watch for a departure ends (Completed);
    // the watch for an arrival fails.
    TStep ConnectionLost(Ms now) override;
    // Stops once the probe under way has its outcome, so that its "AT" never runs into the next
    // command; between probes, at once.
    TStep Cancel(Ms now) override;
    std::optional<Ms> WakeAt() const override;
    bool Finished() const override { return state_ == TState::Done; }

  private:
    // Idle -> Probing <-> Resting (until the next probe) -> Done.
    enum class TState { Idle, Probing, Resting, Done };

    void Probe(Ms now, TStep& step);
    void ProbeEnded(const TOutcome& outcome, Ms now, TStep& step);
    void Finish(TResult result, Ms now, TStep& step);

    TAwait await_;
    TLineEnd lineEnd_;
    int timeoutMs_;
    int quietGapMs_;
    TState state_ = TState::Idle;
    TInFlight probe_;
    std::size_t probes_ = 0;
    Ms probeSentAt_ = 0;
    Ms nextProbeAt_ = 0;
    std::optional<Ms> silentSince_;
    bool cancelled_ = false;
};

} // namespace kelvara::link
