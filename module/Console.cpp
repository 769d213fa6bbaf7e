#include "Console.h"

namespace kelvara::link {

TConsole::TConsole(TLineEnd lineEnd, int timeoutMs, int quietGapMs)
    : lineEnd_(lineEnd), timeoutMs_(timeoutMs), quietGapMs_(quietGapMs), unasked_(quietGapMs) {}

TStep TConsole::Start(Ms) {
    Expect(!started_, "a console is started once");
    started_ = true;
    return {};
}

TStep TConsole::Submit(std::string command, Ms now) {
    TStep step;
    if (!Expect(started_ && !finished_ && !ending_, "commands go to a running console"))
        return step;
    queue_.push_back(std::move(command));
    if (!exchange_)
        SendNext(now, step);
    return step;
}

TStep TConsole::End(Ms now) {
    TStep step;
    if (!Expect(started_ && !finished_, "a running console is ended"))
        return step;
    ending_ = true;
    FinishIfDone(now, step);
    return step;
}

TStep TConsole::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(started_ && !finished_, "a running console takes bytes"))
        return step;
    if (exchange_) {
        if (FeedExchange(*exchange_, bytes, now, sent_ - 1, step))
            EndExchange(now, step);
    } else {
        unasked_.Add(bytes, now, step);
    }
    return step;
}

TStep TConsole::TimePassed(Ms now) {
    TStep step;
    if (!started_ || finished_)
        return step;
    unasked_.Report(now, step);
    if (exchange_) {
        exchange_->TimePassed(now);
        if (exchange_->Done())
            EndExchange(now, step);
    }
    return step;
}

TStep TConsole::ConnectionLost(Ms now) {
    TStep step;
    if (!Expect(started_ && !finished_, "a running console loses its port"))
        return step;
    unasked_.Report(now, step, true);
    if (exchange_) {
        exchange_->ConnectionLost(now);
        ReportOutcome(*exchange_, sent_ - 1, step);
        exchange_.reset();
    }
    DropQueue(now, step);
    FinishIfDone(now, step);
    return step;
}

TStep TConsole::Cancel(Ms now) {
    TStep step;
    if (!started_ || finished_)
        return step;
    DropQueue(now, step);
    ending_ = true;
    cancelled_ = true;
    FinishIfDone(now, step);
    return step;
}

std::optional<Ms> TConsole::WakeAt() const {
    if (finished_)
        return std::nullopt;
    return Earliest(unasked_.WakeAt(), exchange_ ? exchange_->WakeAt() : std::nullopt);
}

void TConsole::ChangeSettings(TLineEnd lineEnd, int timeoutMs) {
    lineEnd_ = lineEnd;
    timeoutMs_ = timeoutMs;
}

void TConsole::SendNext(Ms now, TStep& step) {
    if (queue_.empty())
        return;
    unasked_.Report(now, step, true);
    exchange_.emplace(std::move(queue_.front()), lineEnd_, timeoutMs_, quietGapMs_);
    queue_.pop_front();
    step.Write = exchange_->Start(now);
    step.Add({.Kind = TEventKind::Written, .At = now, .Index = sent_,
              .Command = exchange_->Command(), .Bytes = *step.Write});
    ++sent_;
}

void TConsole::EndExchange(Ms now, TStep& step) {
    ReportOutcome(*exchange_, sent_ - 1, step);
    exchange_.reset();
    SendNext(now, step);
    FinishIfDone(now, step);
}

void TConsole::DropQueue(Ms now, TStep& step) {
    for (std::string& command : queue_)
        step.Add({.Kind = TEventKind::NotSent, .At = now, .Command = std::move(command)});
    queue_.clear();
}

void TConsole::FinishIfDone(Ms now, TStep& step) {
    if (!ending_ || exchange_ || !queue_.empty())
        return;
    unasked_.Report(now, step, true);
    finished_ = true;
    step.Add({.Kind = TEventKind::Finished, .At = now, .Result = cancelled_ ? TResult::Cancelled : TResult::Completed});
    step.Finished = true;
}

} // namespace kelvara::link
