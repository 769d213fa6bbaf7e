#include "ListSender.h"

#include <algorithm>

namespace kelvara::link {

void TUnaskedBytes::Add(std::string_view bytes, Ms now, TStep& step) {
    if (bytes.empty())
        return;
    if (bytes_.empty())
        firstAt_ = now;
    lastAt_ = now;
    // A module that talks on and on is reported in pieces of bounded size.
    while (!bytes.empty()) {
        const std::size_t room = kMaxReplyBytes - bytes_.size();
        bytes_.append(bytes.substr(0, room));
        bytes.remove_prefix(std::min(room, bytes.size()));
        if (bytes_.size() == kMaxReplyBytes)
            Report(now, step, true);
    }
}

void TUnaskedBytes::Report(Ms now, TStep& step, bool flush) {
    if (bytes_.empty() || (!flush && now - lastAt_ < quietGapMs_))
        return;
    TEvent event;
    event.Kind = TEventKind::Unasked;
    event.At = firstAt_;
    event.Bytes = std::move(bytes_);
    bytes_.clear();
    step.Add(std::move(event));
}

std::optional<Ms> TUnaskedBytes::WakeAt() const {
    if (bytes_.empty())
        return std::nullopt;
    return lastAt_ + quietGapMs_;
}

TListSender::TListSender(std::vector<std::string> commands, const TSendSettings& settings,
                         int quietGapMs)
    : commands_(std::move(commands)), settings_(settings), quietGapMs_(quietGapMs),
      unasked_(quietGapMs) {}

TStep TListSender::Start(Ms now) {
    TStep step;
    if (Expect(phase_ == TPhase::Idle, "a list is started once"))
        SendNext(now, step);
    return step;
}

TStep TListSender::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(!Finished(), "a finished list takes no bytes"))
        return step;
    if (phase_ == TPhase::Exchanging) {
        if (FeedExchange(*exchange_, bytes, now, next_, step))
            EndExchange(now, step);
    } else {
        unasked_.Add(bytes, now, step);
    }
    return step;
}

TStep TListSender::TimePassed(Ms now) {
    TStep step;
    if (Finished())
        return step;
    unasked_.Report(now, step);
    if (phase_ == TPhase::Exchanging) {
        exchange_->TimePassed(now);
        if (exchange_->Done())
            EndExchange(now, step);
    } else if (phase_ == TPhase::Pausing && now >= pauseEndsAt_) {
        SendNext(now, step);
    }
    return step;
}

TStep TListSender::ConnectionLost(Ms now) {
    TStep step;
    if (!Expect(phase_ != TPhase::Idle && !Finished(), "a running list loses its port"))
        return step;
    unasked_.Report(now, step, true);
    if (phase_ == TPhase::Exchanging) {
        exchange_->ConnectionLost(now);
        const bool acknowledged = ReportOutcome(*exchange_, next_, step);
        exchange_.reset();
        ++next_;
        if (!acknowledged) {
            Finish(TResult::Failed, now, step);
            return step;
        }
    }
    // The command that can no longer be sent is the one that fails; a list whose last command
    // was acknowledged is complete.
    if (next_ == commands_.size()) {
        Finish(TResult::Completed, now, step);
    } else if (cancelRequested_) {
        Finish(TResult::Cancelled, now, step);
    } else {
        step.Add({.Kind = TEventKind::ConnectionLost, .At = now, .Index = next_,
                  .Command = commands_[next_]});
        ++next_;
        Finish(TResult::Failed, now, step);
    }
    return step;
}

TStep TListSender::Cancel(Ms now) {
    TStep step;
    if (Finished())
        return step;
    cancelRequested_ = true;
    if (phase_ != TPhase::Exchanging)
        Finish(TResult::Cancelled, now, step);
    return step;
}

std::optional<Ms> TListSender::WakeAt() const {
    std::optional<Ms> wake = unasked_.WakeAt();
    if (phase_ == TPhase::Exchanging)
        wake = Earliest(wake, exchange_->WakeAt());
    else if (phase_ == TPhase::Pausing)
        wake = Earliest(wake, pauseEndsAt_);
    return Finished() ? std::nullopt : wake;
}

std::optional<std::size_t> TListSender::Current() const {
    if (phase_ == TPhase::Exchanging)
        return next_;
    return std::nullopt;
}

void TListSender::SendNext(Ms now, TStep& step) {
    if (next_ == commands_.size()) {
        Finish(TResult::Completed, now, step);
        return;
    }
    if (cancelRequested_) {
        Finish(TResult::Cancelled, now, step);
        return;
    }
    // Whatever the module said before this command is no answer to it.
    unasked_.Report(now, step, true);
    phase_ = TPhase::Exchanging;
    exchange_.emplace(commands_[next_], settings_.LineEnd, settings_.TimeoutMs, quietGapMs_);
    step.Write = exchange_->Start(now);
    step.Add({.Kind = TEventKind::Written, .At = now, .Index = next_,
              .Command = commands_[next_], .Bytes = *step.Write});
}

void TListSender::EndExchange(Ms now, TStep& step) {
    const bool acknowledged = ReportOutcome(*exchange_, next_, step);
    exchange_.reset();
    ++next_;
    if (!acknowledged) {
        Finish(TResult::Failed, now, step);
        return;
    }
    if (next_ < commands_.size() && !cancelRequested_ && settings_.PauseMs > 0) {
        phase_ = TPhase::Pausing;
        pauseEndsAt_ = now + settings_.PauseMs;
        step.Add({.Kind = TEventKind::Pause, .At = now, .Index = next_,
                  .Command = commands_[next_], .WaitedMs = settings_.PauseMs});
    } else {
        SendNext(now, step);
    }
}

void TListSender::Finish(TResult result, Ms now, TStep& step) {
    unasked_.Report(now, step, true);
    phase_ = TPhase::Done;
    // next_ is past every command that has an outcome: the rest were never sent.
    for (std::size_t i = next_; i < commands_.size(); ++i)
        step.Add({.Kind = TEventKind::NotSent, .At = now, .Index = i, .Command = commands_[i]});
    exchange_.reset();
    step.Add({.Kind = TEventKind::Finished, .At = now, .Result = result});
    step.Finished = true;
}

} // namespace kelvara::link
