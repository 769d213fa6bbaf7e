#pragma once

// A batch on one port, as a policy: wait for a module to answer, send it its list, end it with
// its record row, wait for it to be removed, and take the next once it has been gone for a
// while; a port that goes away (the adapter went with the module) is waited for. The values
// come from a plan that several ports may share.

#include "BatchPlan.h"
#include "ListSender.h"
#include "PresenceWatch.h"

#include <memory>

namespace kelvara::link {

class TBatchRun : public TPolicy {
  public:
    // The plan must outlive the run.
    TBatchRun(TBatchPlan& plan, const TSendSettings& settings, int quietGapMs = kQuietGapMs);

    TStep Start(Ms now) override;
    TStep BytesReceived(std::string_view bytes, Ms now) override;
    TStep TimePassed(Ms now) override;
    // The module under way ends as its list does; the run then waits for the port.
    TStep ConnectionLost(Ms now) override;
    TStep PortBack(Ms now) override;
    // A module being set up is finished first (a module is never left half set up); a probe
    // under way has its outcome first; otherwise the run stops at once.
    TStep Cancel(Ms now) override;
    std::optional<Ms> WakeAt() const override;
    bool Finished() const override { return state_ == TState::Done; }

    // A module is being set up: its list is under way.
    bool SettingUp() const { return state_ == TState::Sending; }
    std::size_t Attempts() const { return attempts_; }

  private:
    // Arriving -> Sending -> Removing -> Arriving ..., each running its own policy; a lost port
    // leads to WaitingForPort, then (until the module has been gone kGoneAfterMs) to Gap. A
    // module that answers while every value is under way on other ports waits (Queued) for one
    // of them to fail and give its value back.
    enum class TState { Idle, Arriving, Sending, Removing, WaitingForPort, Gap, Queued, Done };

    // Feeds a call to the policy of the state, and moves on when it has finished.
    template <class Call> TStep Drive(Call call, Ms now);
    void Next(TResult result, Ms now, TStep& step);
    void Watch(TPresenceWatchAwait await, Ms now, TStep& step);
    void TakeModule(Ms now, TStep& step);
    void EndModule(bool setUp, Ms now, TStep& step);
    void AfterLoss(Ms now, TStep& step);
    void Awaited(TAwaited what, Ms now, TStep& step);
    void Finish(TResult result, Ms now, TStep& step);

    TBatchPlan& plan_;
    TSendSettings settings_;
    int quietGapMs_;
    TState state_ = TState::Idle;
    std::unique_ptr<TPolicy> inner_;
    bool portLost_ = false;      // the port is gone: nothing is started until it is back
    bool stopAfterModule_ = false;
    bool completing_ = false;    // the plan is complete: the watch under way is ending
    std::size_t attempts_ = 0;
    std::size_t place_ = 0;      // the module under way
    TFields fields_;
    std::optional<TOutcome> failure_;
    Ms goneAt_ = 0;              // when the last module went with its port
    Ms queuedUntil_ = 0;
};

} // namespace kelvara::link
