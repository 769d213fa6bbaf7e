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
    if (Expect(state_ == TState::Idle, "a search is started once"))
        BeginTry(now, step);
    return step;
}

TStep TSettingsFinder::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running search takes bytes"))
        return step;
    // While settling, the answer to the lone line ending is of no interest.
    if (const auto outcome = inFlight_.BytesReceived(bytes, now, step))
        EndTry(*outcome, now, step);
    return step;
}

TStep TSettingsFinder::TimePassed(Ms now) {
    TStep step;
    if (state_ == TState::Settling && now >= settleEndsAt_)
        Ask(now, step);
    else if (const auto outcome = inFlight_.TimePassed(now, step))
        EndTry(*outcome, now, step);
    return step;
}

void TSettingsFinder::EndTry(const TOutcome& outcome, Ms now, TStep& step) {
    if (cancelled_) {
        Finish(TResult::Cancelled, now, step);
    } else if (outcome.Acknowledged()) {
        step.Add(TFound{.At = now, .BaudRate = BaudRate(), .LineEnd = LineEnd(),
                        .Echoes = !outcome.Echo.empty()});
        Finish(TResult::Completed, now, step);
    } else if (++try_ == TryCount()) {
        Finish(TResult::NotFound, now, step);
    } else {
        BeginTry(now, step);
    }
}

TStep TSettingsFinder::ConnectionLost(Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running search loses its port"))
        return step;
    if (!inFlight_.ConnectionLost(now, step))
        step.Add(TOutcome{.At = now, .Index = try_, .Verdict = TVerdict::ConnectionLost,
                          .Command = std::string(kFindCommand)});
    Finish(TResult::Failed, now, step);
    return step;
}

TStep TSettingsFinder::Cancel(Ms now) {
    TStep step;
    if (inFlight_.Busy())
        cancelled_ = true;
    else if (!Finished())
        Finish(TResult::Cancelled, now, step);
    return step;
}

std::optional<Ms> TSettingsFinder::WakeAt() const {
    if (state_ == TState::Settling)
        return settleEndsAt_;
    return inFlight_.WakeAt();
}

void TSettingsFinder::BeginTry(Ms now, TStep& step) {
    const bool newRate = try_ % kFindLineEnds.size() == 0;
    if (newRate)
        step.SetBaudRate = BaudRate();
    step.Add(TTrying{.At = now, .Index = try_, .BaudRate = BaudRate(), .LineEnd = LineEnd()});
    if (LineEnd() == TLineEnd::None) {
        Ask(now, step);
        return;
    }
    state_ = TState::Settling;
    settleEndsAt_ = now + kFindSettleMs;
    step.Write = std::string(LineEndBytes(TLineEnd::CrLf));
    step.SetAside = true;
    step.Add(TWritten{.At = now, .Index = try_, .Command = {}, .Bytes = *step.Write,
                      .Kind = TWriteKind::LineEnd});
}

void TSettingsFinder::Ask(Ms now, TStep& step) {
    state_ = TState::Asking;
    inFlight_.Start(TExchange(std::string(kFindCommand), LineEnd(), FindTimeoutMs(BaudRate()),
                              quietGapMs_),
                    try_, now, step);
}

void TSettingsFinder::Finish(TResult result, Ms now, TStep& step) {
    state_ = TState::Done;
    inFlight_.Drop();
    step.Add(TFinished{.At = now, .Result = result});
}

} // namespace kelvara::link
