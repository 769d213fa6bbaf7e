#pragma once

// A console: commands typed one by one, each sent through one exchange as soon as the one
// before it has ended, each outcome reported and the session going on; bytes that come while no
// command is under way (a scan's results arrive over seconds) are reported as they come.

#include "Exchange.h"

#include <deque>

namespace kelvara::link {

class TConsole : public TPolicy {
  public:
    TConsole(TLineEnd lineEnd, int timeoutMs, int quietGapMs = kQuietGapMs);

    TStep Start(Ms now) override;
    // Sends the command, or queues it behind the one under way.
    TStep Submit(std::string command, Ms now);
    // Ends the session once the commands queued have been sent.
    TStep End(Ms now);
    TStep BytesReceived(std::string_view bytes, Ms now) override;
    TStep TimePassed(Ms now) override;
    // The command under way ends (an acknowledgement that came before stands), the queued ones
    // are not sent, and the session ends: a console is opened again on the port that comes back.
    TStep ConnectionLost(Ms now) override;
    // Drops the queue and ends the session after the command under way.
    TStep Cancel(Ms now) override;
    std::optional<Ms> WakeAt() const override;
    bool Finished() const override { return state_ == TState::Done; }

    bool Busy() const { return inFlight_.Busy(); }
    // Ended or cancelled, and finishing the command under way: it takes no more commands.
    bool Ending() const { return state_ == TState::Ending || state_ == TState::Cancelling; }
    // Commands written so far.
    std::size_t Sent() const { return sent_; }
    void ChangeSettings(TLineEnd lineEnd, int timeoutMs);

  private:
    // Idle -> Open -> Ending (End: the queue is sent first) or Cancelling (the queue dropped)
    // -> Done once nothing is under way.
    enum class TState { Idle, Open, Ending, Cancelling, Done };

    void SendNext(Ms now, TStep& step);
    // The commands typed but not sent are not sent.
    void DropQueue(Ms now, TStep& step);
    void FinishIfDone(Ms now, TStep& step, TResult result);

    TLineEnd lineEnd_;
    int timeoutMs_;
    int quietGapMs_;
    TState state_ = TState::Idle;
    std::size_t sent_ = 0;
    std::deque<std::string> queue_;
    TInFlight inFlight_;
    TUnaskedBytes unasked_;
};

} // namespace kelvara::link
