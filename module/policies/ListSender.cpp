#include "ListSender.h"

namespace kelvara::link {

TListSender::TListSender(std::vector<std::string> commands, const TSendSettings& settings,
                         int quietGapMs)
    : commands_(std::move(commands)), settings_(settings), quietGapMs_(quietGapMs),
      unasked_(quietGapMs) {}

TStep TListSender::Start(Ms now) {
    TStep step;
    if (Expect(state_ == TState::Idle, "a list is started once"))
        SendNext(now, step);
    return step;
}

TStep TListSender::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running list takes bytes"))
        return step;
    if (inFlight_.Busy()) {
        if (const auto outcome = inFlight_.BytesReceived(bytes, now, step))
            Ended(*outcome, now, step);
    } else {
        unasked_.Add(bytes, now, step);
    }
    return step;
}

TStep TListSender::TimePassed(Ms now) {
    TStep step;
    if (state_ == TState::Idle || Finished())
        return step;
    unasked_.Report(now, step);
    if (const auto outcome = inFlight_.TimePassed(now, step))
        Ended(*outcome, now, step);
    else if (state_ == TState::Pausing && now >= pauseEndsAt_)
        SendNext(now, step);
    return step;
}

TStep TListSender::ConnectionLost(Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running list loses its port"))
        return step;
    unasked_.Report(now, step, true);
    if (const auto outcome = inFlight_.ConnectionLost(now, step)) {
        ++next_;
        if (!outcome->Acknowledged()) {
            Finish(TResult::Failed, now, step);
            return step;
        }
    }
    // The command that can no longer be sent is the one that fails; a list whose last command
    // was acknowledged is complete.
    if (next_ == commands_.size()) {
        Finish(TResult::Completed, now, step);
    } else if (state_ == TState::Stopping) {
        Finish(TResult::Cancelled, now, step);
    } else {
        step.Add(TOutcome{.At = now, .Index = next_, .Verdict = TVerdict::ConnectionLost,
                          .Command = commands_[next_], .WaitedMs = settings_.TimeoutMs});
        ++next_;
        Finish(TResult::Failed, now, step);
    }
    return step;
}

TStep TListSender::Cancel(Ms now) {
    TStep step;
    if (state_ == TState::Sending)
        state_ = TState::Stopping;
    else if (state_ == TState::Idle || state_ == TState::Pausing)
        Finish(TResult::Cancelled, now, step);
    return step;
}

std::optional<Ms> TListSender::WakeAt() const {
    if (Finished())
        return std::nullopt;
    const std::optional<Ms> pause =
        state_ == TState::Pausing ? std::optional<Ms>(pauseEndsAt_) : std::nullopt;
    return Earliest(unasked_.WakeAt(), Earliest(inFlight_.WakeAt(), pause));
}

void TListSender::SendNext(Ms now, TStep& step) {
    if (next_ == commands_.size()) {
        Finish(TResult::Completed, now, step);
        return;
    }
    // Whatever the module said before this command is no answer to it.
    unasked_.Report(now, step, true);
    state_ = TState::Sending;
    inFlight_.Start(TExchange(commands_[next_], settings_.LineEnd, settings_.TimeoutMs, quietGapMs_),
                    next_, now, step);
}

void TListSender::Ended(const TOutcome& outcome, Ms now, TStep& step) {
    ++next_;
    if (!outcome.Acknowledged())
        Finish(TResult::Failed, now, step);
    else if (state_ == TState::Stopping)
        Finish(next_ == commands_.size() ? TResult::Completed : TResult::Cancelled, now, step);
    else if (next_ < commands_.size() && settings_.PauseMs > 0) {
        state_ = TState::Pausing;
        pauseEndsAt_ = now + settings_.PauseMs;
    } else {
        SendNext(now, step);
    }
}

void TListSender::Finish(TResult result, Ms now, TStep& step) {
    unasked_.Report(now, step, true);
    state_ = TState::Done;
    // next_ is past every command that has an outcome: the rest were never sent.
    for (std::size_t i = next_; i < commands_.size(); ++i)
        step.Add(TNotSent{.At = now, .Index = i, .Command = commands_[i]});
    inFlight_.Drop();
    step.Add(TFinished{.At = now, .Result = result});
}

} // namespace kelvara::link
