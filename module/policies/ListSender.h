#pragma once

// Sending a list of commands: one exchange after another, a pause after each acknowledged
// command, stopping at the first that is not acknowledged; a cancel stops after the command
// under way.

#include "Exchange.h"

namespace kelvara::link {

class TListSender : public TPolicy {
  public:
    TListSender(std::vector<std::string> commands, const TSendSettings& settings,
                int quietGapMs = kQuietGapMs);

    TStep Start(Ms now) override;
    TStep BytesReceived(std::string_view bytes, Ms now) override;
    TStep TimePassed(Ms now) override;
    TStep ConnectionLost(Ms now) override;
    TStep Cancel(Ms now) override;
    std::optional<Ms> WakeAt() const override;
    bool Finished() const override { return state_ == TState::Done; }

    std::size_t Count() const { return commands_.size(); }

  private:
    // Idle -> Sending <-> Pausing -> Done; a cancel turns Sending into Stopping (the command
    // under way ends, nothing follows it) and ends a pause at once.
    enum class TState { Idle, Sending, Stopping, Pausing, Done };

    void SendNext(Ms now, TStep& step);
    void Ended(const TOutcome& outcome, Ms now, TStep& step);
    void Finish(TResult result, Ms now, TStep& step);

    std::vector<std::string> commands_;
    TSendSettings settings_;
    int quietGapMs_;
    TState state_ = TState::Idle;
    std::size_t next_ = 0; // the command under way, or the next to send
    TInFlight inFlight_;
    Ms pauseEndsAt_ = 0;
    TUnaskedBytes unasked_;
};

} // namespace kelvara::link
