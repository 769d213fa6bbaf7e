#include "PresenceWatch.h"

#include "SettingsFinder.h"

namespace kelvara::link {

TPresenceWatch::TPresenceWatch(TAwait await, int baudRate, TLineEnd lineEnd, int quietGapMs)
    : await_(await), lineEnd_(lineEnd), timeoutMs_(FindTimeoutMs(baudRate) + 100),
      quietGapMs_(quietGapMs) {}

TStep TPresenceWatch::Start(Ms now) {
    TStep step;
    if (Expect(state_ == TState::Idle, "a watch is started once"))
        Probe(now, step);
    return step;
}

TStep TPresenceWatch::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running watch takes bytes"))
        return step;
    // Between probes, whatever a module says is no answer: the next probe asks again.
    if (const auto outcome = probe_.BytesReceived(bytes, now, step))
        ProbeEnded(*outcome, now, step);
    return step;
}

TStep TPresenceWatch::TimePassed(Ms now) {
    TStep step;
    if (state_ == TState::Resting && now >= nextProbeAt_)
        Probe(now, step);
    else if (const auto outcome = probe_.TimePassed(now, step))
        ProbeEnded(*outcome, now, step);
    return step;
}

TStep TPresenceWatch::ConnectionLost(Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running watch loses its port"))
        return step;
    probe_.ConnectionLost(now, step);
    Finish(await_ == TAwait::Departure ? TResult::Completed : TResult::Failed, now, step);
    return step;
}

TStep TPresenceWatch::Cancel(Ms now) {
    TStep step;
    if (probe_.Busy())
        cancelled_ = true;
    else if (!Finished())
        Finish(TResult::Cancelled, now, step);
    return step;
}

std::optional<Ms> TPresenceWatch::WakeAt() const {
    if (state_ == TState::Resting)
        return nextProbeAt_;
    return probe_.WakeAt();
}

void TPresenceWatch::Probe(Ms now, TStep& step) {
    state_ = TState::Probing;
    probeSentAt_ = now;
    probe_.Start(TExchange(std::string(kFindCommand), lineEnd_, timeoutMs_, quietGapMs_), probes_++,
                 now, step);
}

void TPresenceWatch::ProbeEnded(const TOutcome& outcome, Ms now, TStep& step) {
    if (cancelled_) {
        Finish(TResult::Cancelled, now, step);
        return;
    }
    if (outcome.Acknowledged()) {
        silentSince_.reset();
        if (await_ == TAwait::Arrival) {
            Finish(TResult::Completed, now, step);
            return;
        }
    } else if (await_ == TAwait::Departure) {
        // Silent from the probe that was not answered on.
        if (!silentSince_)
            silentSince_ = probeSentAt_;
        if (now - *silentSince_ >= kGoneAfterMs) {
            Finish(TResult::Completed, now, step);
            return;
        }
    }
    state_ = TState::Resting;
    nextProbeAt_ = now + kPresenceIntervalMs;
}

void TPresenceWatch::Finish(TResult result, Ms now, TStep& step) {
    state_ = TState::Done;
    probe_.Drop();
    step.Add(TFinished{.At = now, .Result = result});
}

} // namespace kelvara::link
