#include "Exchange.h"

#include <algorithm>

namespace kelvara::link {

namespace reply {

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

bool MayBecome(std::string_view text, std::string_view word) {
    return word.starts_with(text.substr(0, std::min(text.size(), word.size())));
}

std::size_t TailBeginning(std::string_view text, std::string_view word) {
    for (std::size_t n = std::min(text.size(), word.size() - 1); n > 0; --n) {
        if (word.starts_with(text.substr(text.size() - n)))
            return n;
    }
    return 0;
}

namespace {

// The last line, without the line breaks that end it.
std::string_view LastLine(std::string_view text) {
    while (!text.empty() && IsBreak(text.back()))
        text.remove_suffix(1);
    const std::size_t start = text.find_last_of("\r\n");
    return start == std::string_view::npos ? text : text.substr(start + 1);
}

} // namespace

std::size_t EchoLength(std::string_view reply, std::string_view command, TLineEnd lineEnd) {
    if (command.empty() || !reply.starts_with(command))
        return 0;
    std::size_t length = command.size();
    const std::string_view ending = LineEndBytes(lineEnd);
    if (!ending.empty() && reply.substr(length).starts_with(ending))
        length += ending.size();
    const std::string_view rest = reply.substr(length);
    if (rest.starts_with("\r\n"))
        length += 2;
    else if (!rest.empty() && IsBreak(rest.front()))
        length += 1;
    return length;
}

std::string_view Judged(std::string_view afterEcho) {
    while (!afterEcho.empty() && IsBreak(afterEcho.front()))
        afterEcho.remove_prefix(1);
    return afterEcho;
}

bool Acknowledges(std::string_view judged) {
    return judged.starts_with("OK") || LastLine(judged) == "OK";
}

bool CompleteAtOnce(std::string_view judged) {
    if (!judged.ends_with('\n'))
        return false;
    const std::string_view last = LastLine(judged);
    return last == "OK" || last == "ERROR";
}

} // namespace reply

TExchange::TExchange(std::string command, TLineEnd lineEnd, int timeoutMs, int quietGapMs)
    : command_(std::move(command)), lineEnd_(lineEnd), timeoutMs_(timeoutMs),
      quietGapMs_(quietGapMs) {}

std::string TExchange::Start(Ms now) {
    if (!Expect(phase_ == TPhase::NotStarted, "an exchange is started once"))
        return {};
    phase_ = TPhase::Awaiting;
    sentAt_ = now;
    std::string bytes = command_;
    bytes.append(LineEndBytes(lineEnd_));
    return bytes;
}

void TExchange::BytesReceived(std::string_view bytes, Ms now) {
    if (!Expect(Started() && !Done(), "bytes are taken only while the exchange runs") ||
        bytes.empty())
        return;
    if (phase_ == TPhase::Awaiting) {
        phase_ = TPhase::Receiving;
        firstByteAt_ = now;
    } else if (now - firstByteAt_ >= kLongestReplyMs) {
        // Bytes still coming at the bound, however late the clock is read.
        Conclude(TVerdict::KeptTalking, now);
        return;
    }
    lastByteAt_ = now;
    const std::size_t room = kMaxReplyBytes - received_.size();
    received_.append(bytes.substr(0, room));
    const std::string_view whole = received_;
    const std::size_t echo = reply::EchoLength(whole, command_, lineEnd_);
    const std::string_view judged = reply::Judged(whole.substr(echo));
    if (!completeOn_.empty() && judged.starts_with(completeOn_)) {
        received_.resize(static_cast<std::size_t>(judged.data() - whole.data()) + completeOn_.size());
        Conclude(TVerdict::Refused, now);
    } else if (reply::CompleteAtOnce(judged)) {
        Conclude(TVerdict::Refused, now);
    }
}

void TExchange::TimePassed(Ms now) {
    if (phase_ == TPhase::Awaiting && now - sentAt_ >= timeoutMs_)
        Conclude(TVerdict::NoAnswer, now);
    else if (phase_ == TPhase::Receiving && now - lastByteAt_ >= quietGapMs_)
        Conclude(TVerdict::Refused, now);
    else if (phase_ == TPhase::Receiving && now - firstByteAt_ >= kLongestReplyMs)
        Conclude(TVerdict::KeptTalking, now);
}

void TExchange::ConnectionLost(Ms now) {
    if (Expect(Started() && !Done(), "a running exchange loses its port"))
        Conclude(TVerdict::ConnectionLost, now);
}

std::optional<Ms> TExchange::WakeAt() const {
    switch (phase_) {
    case TPhase::Awaiting:
        return sentAt_ + timeoutMs_;
    case TPhase::Receiving:
        return std::min(lastByteAt_ + quietGapMs_, firstByteAt_ + kLongestReplyMs);
    case TPhase::NotStarted:
    case TPhase::Done:
        break;
    }
    return std::nullopt;
}

// failure: how the exchange ended if the reply does not acknowledge it. A module that kept
// talking fails whatever it said.
void TExchange::Conclude(TVerdict failure, Ms now) {
    phase_ = TPhase::Done;
    doneAt_ = now;
    const std::string_view whole = received_;
    echoLength_ = reply::EchoLength(whole, command_, lineEnd_);
    const std::string_view judged = reply::Judged(whole.substr(echoLength_));
    if (failure != TVerdict::KeptTalking && reply::Acknowledges(judged))
        verdict_ = TVerdict::Acknowledged;
    else if (failure == TVerdict::Refused && echoLength_ > 0 && judged.empty())
        verdict_ = TVerdict::NoAnswer; // only the echo came, or only line breaks
    else
        verdict_ = failure;
}

TOutcome TExchange::Outcome(std::size_t index) const {
    return {.At = doneAt_,
            .Index = index,
            .Verdict = verdict_,
            .Command = command_,
            .Echo = received_.substr(0, echoLength_),
            .Reply = received_.substr(echoLength_),
            .WaitedMs = timeoutMs_};
}

void TInFlight::Start(TExchange exchange, std::size_t index, Ms now, TStep& step) {
    if (!Expect(!exchange_, "one command in flight at most"))
        return;
    exchange_.emplace(std::move(exchange));
    index_ = index;
    sinceWritten_.clear();
    afterEcho_.clear();
    step.Write = exchange_->Start(now);
    // What came before the command is no answer to it.
    step.SetAside = true;
    step.Add(TWritten{.At = now, .Index = index, .Command = exchange_->Command(),
                      .Bytes = *step.Write});
}

std::optional<TOutcome> TInFlight::BytesReceived(std::string_view bytes, Ms now, TStep& step) {
    if (!exchange_)
        return std::nullopt;
    constexpr std::size_t kMaxKept = 64 * 1024;
    sinceWritten_.append(bytes.substr(0, kMaxKept - std::min(kMaxKept, sinceWritten_.size())));
    exchange_->BytesReceived(bytes, now);
    return EndIfDone(step);
}

std::optional<TOutcome> TInFlight::TimePassed(Ms now, TStep& step) {
    if (!exchange_)
        return std::nullopt;
    exchange_->TimePassed(now);
    return EndIfDone(step);
}

std::optional<TOutcome> TInFlight::ConnectionLost(Ms now, TStep& step) {
    if (!exchange_)
        return std::nullopt;
    exchange_->ConnectionLost(now);
    return EndIfDone(step);
}

std::optional<TOutcome> TInFlight::EndIfDone(TStep& step) {
    if (!exchange_->Done())
        return std::nullopt;
    TOutcome outcome = exchange_->Outcome(index_);
    exchange_.reset();
    afterEcho_ = sinceWritten_.substr(std::min(outcome.Echo.size(), sinceWritten_.size()));
    sinceWritten_.clear();
    if (!outcome.Echo.empty())
        step.Add(TEcho{.At = outcome.At, .Index = outcome.Index, .Bytes = outcome.Echo});
    step.Add(outcome);
    return outcome;
}

void TUnaskedBytes::Add(std::string_view bytes, Ms now, TStep& step) {
    if (bytes.empty())
        return;
    if (bytes_.empty())
        firstAt_ = now;
    lastAt_ = now;
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
    step.Add(TUnasked{.At = firstAt_, .Bytes = std::move(bytes_)});
    bytes_.clear();
    firstAt_ = now;
}

std::optional<Ms> TUnaskedBytes::WakeAt() const {
    if (bytes_.empty())
        return std::nullopt;
    return lastAt_ + quietGapMs_;
}

} // namespace kelvara::link
