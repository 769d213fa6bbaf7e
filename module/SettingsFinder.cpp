#include "SettingsFinder.h"

namespace kelvara::link {

int FindTimeoutMs(int baudRate) {
    // About ten bit times a byte: "AT", a line ending and the answer's first bytes.
    constexpr int kBytesOnTheWire = 8;
    constexpr int kModuleMs = 60;
    return kModuleMs + kBytesOnTheWire * 10000 / baudRate;
}

TSettingsFinder::TSettingsFinder(int quietGapMs) : quietGapMs_(quietGapMs) {}

TStep TSettingsFinder::Start(Ms now) {
    TStep step;
    if (Expect(phase_ == TPhase::Idle, "a search is started once"))
        BeginTry(now, step);
    return step;
}

TStep TSettingsFinder::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(!Finished(), "a finished search takes no bytes"))
        return step;
    // While settling, the answer to the lone line ending is of no interest.
    if (phase_ != TPhase::Exchanging)
        return step;
    exchange_->BytesReceived(bytes, now);
    EndTryIfDone(now, step);
    return step;
}

TStep TSettingsFinder::TimePassed(Ms now) {
    TStep step;
    if (phase_ == TPhase::Settling && now >= settleEndsAt_) {
        Ask(now, step);
        return step;
    }
    if (phase_ == TPhase::Exchanging) {
        exchange_->TimePassed(now);
        EndTryIfDone(now, step);
    }
    return step;
}

void TSettingsFinder::EndTryIfDone(Ms now, TStep& step) {
    if (!exchange_->Done())
        return;
    if (ReportOutcome(*exchange_, try_, step)) {
        step.Add({.Kind = TEventKind::Found, .At = now, .Index = try_, .BaudRate = BaudRate(),
                  .LineEnd = LineEnd(), .Echoes = exchange_->Echoed()});
        Finish(TResult::Completed, now, step);
        return;
    }
    exchange_.reset();
    if (++try_ == TryCount())
        Finish(TResult::NotFound, now, step);
    else
        BeginTry(now, step);
}

TStep TSettingsFinder::ConnectionLost(Ms now) {
    TStep step;
    if (!Expect(phase_ != TPhase::Idle && !Finished(), "a running search loses its port"))
        return step;
    step.Add({.Kind = TEventKind::ConnectionLost, .At = now, .Index = try_,
              .Command = std::string(kFindCommand)});
    Finish(TResult::Failed, now, step);
    return step;
}

TStep TSettingsFinder::Cancel(Ms now) {
    TStep step;
    if (!Finished())
        Finish(TResult::Cancelled, now, step);
    return step;
}

std::optional<Ms> TSettingsFinder::WakeAt() const {
    if (phase_ == TPhase::Settling)
        return settleEndsAt_;
    if (phase_ == TPhase::Exchanging)
        return exchange_->WakeAt();
    return std::nullopt;
}

void TSettingsFinder::BeginTry(Ms now, TStep& step) {
    const bool newRate = try_ % kFindLineEnds.size() == 0;
    if (newRate)
        step.SetBaudRate = BaudRate();
    step.Add({.Kind = TEventKind::Trying, .At = now, .Index = try_,
              .Command = std::string(kFindCommand), .BaudRate = BaudRate(),
              .LineEnd = LineEnd()});
    if (LineEnd() == TLineEnd::None) {
        Ask(now, step);
        return;
    }
    phase_ = TPhase::Settling;
    settleEndsAt_ = now + kFindSettleMs;
    step.Write = std::string(LineEndBytes(TLineEnd::CrLf));
    step.Add({.Kind = TEventKind::Written, .At = now, .Index = try_, .Bytes = *step.Write});
}

void TSettingsFinder::Ask(Ms now, TStep& step) {
    phase_ = TPhase::Exchanging;
    exchange_.emplace(std::string(kFindCommand), LineEnd(), FindTimeoutMs(BaudRate()),
                      quietGapMs_);
    step.Write = exchange_->Start(now);
    step.Add({.Kind = TEventKind::Written, .At = now, .Index = try_,
              .Command = std::string(kFindCommand), .Bytes = *step.Write});
}

void TSettingsFinder::Finish(TResult result, Ms now, TStep& step) {
    phase_ = TPhase::Done;
    exchange_.reset();
    step.Add({.Kind = TEventKind::Finished, .At = now, .Result = result});
    step.Finished = true;
}

} // namespace kelvara::link
