#include "PresenceWatch.h"

#include "SettingsFinder.h"

namespace kelvara::link {

TPresenceWatch::TPresenceWatch(TAwait await, int baudRate, TLineEnd lineEnd, int quietGapMs)
    : await_(await), lineEnd_(lineEnd), timeoutMs_(FindTimeoutMs(baudRate) + 100),
      quietGapMs_(quietGapMs) {}

TStep TPresenceWatch::Start(Ms now) {
    TStep step;
    if (Expect(probes_ == 0 && !finished_, "a watch is started once"))
        Probe(now, step);
    return step;
}

TStep TPresenceWatch::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(!finished_, "a finished watch takes no bytes") || !probe_)
        return step;
    probe_->BytesReceived(bytes, now);
    EndProbeIfDone(now, step);
    return step;
}

TStep TPresenceWatch::TimePassed(Ms now) {
    TStep step;
    if (finished_)
        return step;
    if (probe_) {
        probe_->TimePassed(now);
        EndProbeIfDone(now, step);
    } else if (now >= nextProbeAt_) {
        Probe(now, step);
    }
    return step;
}

TStep TPresenceWatch::ConnectionLost(Ms now) {
    TStep step;
    if (Expect(!finished_, "a running watch loses its port"))
        Finish(await_ == TAwait::Departure ? TResult::Completed : TResult::Failed, now, step);
    return step;
}

TStep TPresenceWatch::Cancel(Ms now) {
    TStep step;
    if (!finished_)
        Finish(TResult::Cancelled, now, step);
    return step;
}

std::optional<Ms> TPresenceWatch::WakeAt() const {
    if (finished_)
        return std::nullopt;
    return probe_ ? probe_->WakeAt() : std::optional<Ms>(nextProbeAt_);
}

void TPresenceWatch::Probe(Ms now, TStep& step) {
    probe_.emplace(std::string(kFindCommand), lineEnd_, timeoutMs_, quietGapMs_);
    probeSentAt_ = now;
    step.Write = probe_->Start(now);
    step.Add({.Kind = TEventKind::Written, .At = now, .Index = probes_++,
              .Command = std::string(kFindCommand), .Bytes = *step.Write});
}

void TPresenceWatch::EndProbeIfDone(Ms now, TStep& step) {
    if (!probe_->Done())
        return;
    const bool answered = ReportOutcome(*probe_, probes_ - 1, step);
    probe_.reset();
    if (answered) {
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
    nextProbeAt_ = now + kPresenceIntervalMs;
}

void TPresenceWatch::Finish(TResult result, Ms now, TStep& step) {
    finished_ = true;
    probe_.reset();
    step.Add({.Kind = TEventKind::Finished, .At = now, .Result = result});
    step.Finished = true;
}

} // namespace kelvara::link
