#pragma once

// Finding the settings at which a module answers: "AT" at each baud rate with each line ending,
// until the module acknowledges it. Nothing but "AT" and line endings is ever written.

#include "Exchange.h"

namespace kelvara::link {

// The rates in the order they are tried: the common ones first.
inline constexpr std::array<int, 9> kFindOrder = {9600,  115200, 57600, 38400, 19200,
                                                  4800,  2400,   1200,  230400};
// At each rate: no line ending first (modules that take a command when the sender falls
// silent), then the line endings.
inline constexpr std::array<TLineEnd, 4> kFindLineEnds = {TLineEnd::None, TLineEnd::CrLf,
                                                          TLineEnd::Cr, TLineEnd::Lf};
inline constexpr std::string_view kFindCommand = "AT";
// Before a try with a line ending, a lone CR LF ends whatever an earlier try left in the
// module's input; its answer, if any, is let pass for this long and dropped.
inline constexpr int kFindSettleMs = 40;

// How long to wait for the answer to "AT" at a rate: long enough for the command and the first
// bytes of the answer to cross the wire, plus the module's own time.
int FindTimeoutMs(int baudRate);

class TSettingsFinder : public TPolicy {
  public:
    explicit TSettingsFinder(int quietGapMs = kQuietGapMs);

    TStep Start(Ms now) override;
    TStep BytesReceived(std::string_view bytes, Ms now) override;
    TStep TimePassed(Ms now) override;
    TStep ConnectionLost(Ms now) override;
    // Stops once the "AT" under way has its outcome (at most its short timeout): a module that
    // takes a command when the sender falls silent must not get it run into the next command.
    TStep Cancel(Ms now) override;
    std::optional<Ms> WakeAt() const override;
    bool Finished() const override { return state_ == TState::Done; }

    // How many tries there are in all, and the one under way (counted from 0).
    static constexpr std::size_t TryCount() { return kFindOrder.size() * kFindLineEnds.size(); }
    std::size_t CurrentTry() const { return try_; }

  private:
    // Idle -> (Settling ->) Asking -> the next try, or Done once found or out of tries.
    enum class TState { Idle, Settling, Asking, Done };

    int BaudRate() const { return kFindOrder[try_ / kFindLineEnds.size()]; }
    TLineEnd LineEnd() const { return kFindLineEnds[try_ % kFindLineEnds.size()]; }
    void BeginTry(Ms now, TStep& step);
    void Ask(Ms now, TStep& step);
    void EndTry(const TOutcome& outcome, Ms now, TStep& step);
    void Finish(TResult result, Ms now, TStep& step);

    int quietGapMs_;
    TState state_ = TState::Idle;
    std::size_t try_ = 0;
    Ms settleEndsAt_ = 0;
    TInFlight inFlight_;
    bool cancelled_ = false;
};

} // namespace kelvara::link
