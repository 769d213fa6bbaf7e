#include "Console.h"

namespace kelvara::link {

TConsole::TConsole(TLineEnd lineEnd, int timeoutMs, int quietGapMs)
    : lineEnd_(lineEnd), timeoutMs_(timeoutMs), quietGapMs_(quietGapMs), unasked_(quietGapMs) {}

TStep TConsole::Start(Ms) {
    if (Expect(state_ == TState::Idle, "a console is started once"))
        state_ = TState::Open;
    return {};
}

TStep TConsole::Submit(std::string command, Ms now) {
    TStep step;
    if (!Expect(state_ == TState::Open, "commands go to a running console"))
        return step;
    queue_.push_back(std::move(command));
    if (!inFlight_.Busy())
        SendNext(now, step);
    return step;
}

TStep TConsole::End(Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running console is ended"))
        return step;
    if (state_ == TState::Open)
        state_ = TState::Ending;
    FinishIfDone(now, step, state_ == TState::Cancelling ? TResult::Cancelled : TResult::Completed);
    return step;
}

TStep TConsole::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running console takes bytes"))
        return step;
    if (!inFlight_.Busy()) {
        unasked_.Add(bytes, now, step);
    } else if (inFlight_.BytesReceived(bytes, now, step)) {
        SendNext(now, step);
        FinishIfDone(now, step, state_ == TState::Cancelling ? TResult::Cancelled : TResult::Completed);
    }
    return step;
}

TStep TConsole::TimePassed(Ms now) {
    TStep step;
    if (state_ == TState::Idle || Finished())
        return step;
    unasked_.Report(now, step);
    if (inFlight_.TimePassed(now, step)) {
        SendNext(now, step);
        FinishIfDone(now, step, state_ == TState::Cancelling ? TResult::Cancelled : TResult::Completed);
    }
    return step;
}

TStep TConsole::ConnectionLost(Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running console loses its port"))
        return step;
    unasked_.Report(now, step, true);
    inFlight_.ConnectionLost(now, step);
    DropQueue(now, step);
    state_ = TState::Ending;
    FinishIfDone(now, step, TResult::Failed);
    return step;
}

TStep TConsole::Cancel(Ms now) {
    TStep step;
    if (state_ == TState::Idle || Finished())
        return step;
    DropQueue(now, step);
    state_ = TState::Cancelling;
    FinishIfDone(now, step, TResult::Cancelled);
    return step;
}

std::optional<Ms> TConsole::WakeAt() const {
    if (Finished())
        return std::nullopt;
    return Earliest(unasked_.WakeAt(), inFlight_.WakeAt());
}

void TConsole::ChangeSettings(TLineEnd lineEnd, int timeoutMs) {
    lineEnd_ = lineEnd;
    timeoutMs_ = timeoutMs;
}

void TConsole::SendNext(Ms now, TStep& step) {
    if (queue_.empty())
        return;
    unasked_.Report(now, step, true);
    inFlight_.Start(TExchange(std::move(queue_.front()), lineEnd_, timeoutMs_, quietGapMs_), sent_,
                    now, step);
    queue_.pop_front();
    ++sent_;
}

void TConsole::DropQueue(Ms now, TStep& step) {
    // Each keeps the index it would have had, counting on from the commands sent.
    std::size_t index = sent_;
    for (std::string& command : queue_)
        step.Add(TNotSent{.At = now, .Index = index++, .Command = std::move(command)});
    queue_.clear();
}

void TConsole::FinishIfDone(Ms now, TStep& step, TResult result) {
    if (state_ == TState::Open || inFlight_.Busy() || !queue_.empty())
        return;
    unasked_.Report(now, step, true);
    state_ = TState::Done;
    step.Add(TFinished{.At = now, .Result = result});
}

} // namespace kelvara::link
