#pragma once

// Sending a list of commands: one exchange after another, a pause after each acknowledged
// command, stopping at the first that is not acknowledged; a cancel stops after the command
// under way.

#include "Exchange.h"

#include <memory>

namespace kelvara::link {

// Bytes that come while no command is under way, gathered until the module has been quiet for
// the quiet gap (a scan's results come a piece at a time), then reported as one event.
class TUnaskedBytes {
  public:
    explicit TUnaskedBytes(int quietGapMs = kQuietGapMs) : quietGapMs_(quietGapMs) {}
    void Add(std::string_view bytes, Ms now, TStep& step);
    // Reports what was gathered once the module has been quiet long enough (or always, when
    // flushing).
    void Report(Ms now, TStep& step, bool flush = false);
    std::optional<Ms> WakeAt() const;

  private:
    int quietGapMs_;
    std::string bytes_;
    Ms firstAt_ = 0;
    Ms lastAt_ = 0;
};

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
    bool Finished() const override { return phase_ == TPhase::Done; }

    std::size_t Count() const { return commands_.size(); }
    // The command under way, if any.
    std::optional<std::size_t> Current() const;

  private:
    enum class TPhase { Idle, Exchanging, Pausing, Done };

    void SendNext(Ms now, TStep& step);
    void EndExchange(Ms now, TStep& step);
    void Finish(TResult result, Ms now, TStep& step);

    std::vector<std::string> commands_;
    TSendSettings settings_;
    int quietGapMs_;
    TPhase phase_ = TPhase::Idle;
    std::size_t next_ = 0; // the command under way, or the next to send
    std::optional<TExchange> exchange_;
    Ms pauseEndsAt_ = 0;
    bool cancelRequested_ = false;
    TUnaskedBytes unasked_;
};

} // namespace kelvara::link
