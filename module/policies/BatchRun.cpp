#include "BatchRun.h"

namespace kelvara::link {

TBatchRun::TBatchRun(TBatchPlan& plan, const TSendSettings& settings, int quietGapMs)
    : plan_(plan), settings_(settings), quietGapMs_(quietGapMs) {}

TStep TBatchRun::Start(Ms now) {
    TStep step;
    if (Expect(state_ == TState::Idle, "a batch is started once"))
        Watch(TPresenceWatchAwait::Arrival, now, step);
    return step;
}

template <class Call> TStep TBatchRun::Drive(Call call, Ms now) {
    TStep step;
    if (!inner_)
        return step;
    TStep inner = call(*inner_);
    step.SetBaudRate = inner.SetBaudRate;
    step.Write = std::move(inner.Write);
    step.SetAside = inner.SetAside;
    std::optional<TResult> result;
    for (TEvent& event : inner.Events) {
        if (const auto* finished = std::get_if<TFinished>(&event)) {
            result = finished->Result;
            continue;
        }
        if (const auto* outcome = std::get_if<TOutcome>(&event);
            outcome && state_ == TState::Sending && !outcome->Acknowledged() && !failure_)
            failure_ = *outcome;
        step.Add(std::move(event));
    }
    if (result)
        Next(*result, now, step);
    return step;
}

TStep TBatchRun::BytesReceived(std::string_view bytes, Ms now) {
    if (!Expect(state_ != TState::Idle && !Finished(), "a running batch takes bytes"))
        return {};
    return Drive([&](TPolicy& p) { return p.BytesReceived(bytes, now); }, now);
}

TStep TBatchRun::TimePassed(Ms now) {
    TStep step;
    if (state_ != TState::Sending && state_ != TState::Done && plan_.Complete()) {
        // Every module is set up, on this port or another. A watch asking "AT" has its
        // answer first, as a cancelled one does, so that the module takes no half command.
        if (!inner_) {
            Finish(TResult::Completed, now, step);
            return step;
        }
        if (!completing_) {
            completing_ = true;
            step = Drive([&](TPolicy& p) { return p.Cancel(now); }, now);
            if (Finished() || step.Write || !step.Events.empty())
                return step;
        }
    }
    if ((state_ == TState::Gap && now >= goneAt_ + kGoneAfterMs) ||
        (state_ == TState::Queued && now >= queuedUntil_)) {
        Watch(TPresenceWatchAwait::Arrival, now, step);
        return step;
    }
    return Drive([&](TPolicy& p) { return p.TimePassed(now); }, now);
}

TStep TBatchRun::ConnectionLost(Ms now) {
    if (!Expect(state_ != TState::Idle && !Finished() && !portLost_, "a running batch loses its port"))
        return {};
    portLost_ = true;
    goneAt_ = now;
    if (inner_)
        return Drive([&](TPolicy& p) { return p.ConnectionLost(now); }, now);
    // Lost again in the gap after it came back.
    TStep step;
    AfterLoss(now, step);
    return step;
}

TStep TBatchRun::PortBack(Ms now) {
    TStep step;
    if (!Expect(state_ == TState::WaitingForPort, "a batch waiting for its port gets it back"))
        return step;
    portLost_ = false;
    if (now >= goneAt_ + kGoneAfterMs)
        Watch(TPresenceWatchAwait::Arrival, now, step);
    else
        state_ = TState::Gap;
    return step;
}

TStep TBatchRun::Cancel(Ms now) {
    if (state_ == TState::Sending) {
        stopAfterModule_ = true;
        return {};
    }
    // A watch stops once its probe has its outcome; the run ends with it.
    if (inner_)
        return Drive([&](TPolicy& p) { return p.Cancel(now); }, now);
    TStep step;
    if (!Finished())
        Finish(TResult::Cancelled, now, step);
    return step;
}

std::optional<Ms> TBatchRun::WakeAt() const {
    if (state_ == TState::Gap)
        return goneAt_ + kGoneAfterMs;
    if (state_ == TState::Queued)
        return queuedUntil_;
    return inner_ ? inner_->WakeAt() : std::nullopt;
}

void TBatchRun::Next(TResult result, Ms now, TStep& step) {
    inner_.reset();
    const TState was = state_;
    if (result == TResult::Cancelled && was != TState::Sending) {
        Finish(TResult::Cancelled, now, step);
    } else if (was == TState::Arriving) {
        if (portLost_)
            AfterLoss(now, step);
        else
            TakeModule(now, step);
    } else if (was == TState::Sending) {
        EndModule(result == TResult::Completed, now, step);
    } else if (was == TState::Removing) {
        if (portLost_)
            AfterLoss(now, step);
        else
            Watch(TPresenceWatchAwait::Arrival, now, step);
    }
}

void TBatchRun::Watch(TPresenceWatchAwait await, Ms now, TStep& step) {
    const bool arrival = await == TPresenceWatchAwait::Arrival;
    state_ = arrival ? TState::Arriving : TState::Removing;
    Awaited(arrival ? TAwaited::Module : TAwaited::Removal, now, step);
    inner_ = std::make_unique<TPresenceWatch>(await, settings_.BaudRate, settings_.LineEnd,
                                              quietGapMs_);
    step.Append(inner_->Start(now));
}

void TBatchRun::TakeModule(Ms now, TStep& step) {
    const auto place = plan_.Take();
    if (!place && plan_.Complete()) {
        Finish(TResult::Completed, now, step);
        return;
    }
    if (!place) {
        // Every value is under way on another port: one may come back if its module fails.
        state_ = TState::Queued;
        queuedUntil_ = now + kPresenceIntervalMs;
        return;
    }
    place_ = *place;
    fields_ = plan_.FieldsFor(place_);
    failure_.reset();
    std::vector<std::string> commands =
        SetUpCommands(BuildList({plan_.Job().Source.Kind, fields_}).List());
    step.Add(TModuleTaken{.At = now, .Attempt = ++attempts_, .Fields = fields_, .Commands = commands});
    state_ = TState::Sending;
    inner_ = std::make_unique<TListSender>(std::move(commands), settings_, quietGapMs_);
    step.Append(inner_->Start(now));
}

void TBatchRun::EndModule(bool setUp, Ms now, TStep& step) {
    if (!setUp && !failure_)
        failure_ = TOutcome{.At = now, .Verdict = TVerdict::ConnectionLost};
    plan_.Ended(place_, setUp);
    step.Add(TModuleEnded{.At = now, .Attempt = attempts_, .Fields = fields_,
                          .Failure = setUp ? std::nullopt : failure_});
    if (plan_.Complete())
        Finish(TResult::Completed, now, step);
    else if (stopAfterModule_)
        Finish(TResult::Cancelled, now, step);
    else if (portLost_)
        AfterLoss(now, step);
    else
        Watch(TPresenceWatchAwait::Departure, now, step);
}

void TBatchRun::AfterLoss(Ms now, TStep& step) {
    state_ = TState::WaitingForPort;
    Awaited(TAwaited::Port, now, step);
}

void TBatchRun::Awaited(TAwaited what, Ms now, TStep& step) {
    step.Add(TModuleAwaited{.At = now, .What = what, .Done = plan_.Done(),
                            .Modules = plan_.Job().Modules});
}

void TBatchRun::Finish(TResult result, Ms now, TStep& step) {
    inner_.reset();
    state_ = TState::Done;
    step.Add(TFinished{.At = now, .Result = result});
}

} // namespace kelvara::link
