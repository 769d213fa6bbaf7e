#include "Exchange.h"

#include <algorithm>

namespace kelvara::link {

namespace reply {

namespace {

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

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
    }
    lastByteAt_ = now;
    const std::size_t room = kMaxReplyBytes - received_.size();
    received_.append(bytes.substr(0, room));
    const std::string_view whole = received_;
    const std::size_t echo = reply::EchoLength(whole, command_, lineEnd_);
    if (reply::CompleteAtOnce(reply::Judged(whole.substr(echo))))
        Conclude(TEventKind::Refused, now);
}

void TExchange::TimePassed(Ms now) {
    if (phase_ == TPhase::Awaiting && now - sentAt_ >= timeoutMs_)
        Conclude(TEventKind::NoAnswer, now);
    else if (phase_ == TPhase::Receiving &&
             (now - lastByteAt_ >= quietGapMs_ || now - firstByteAt_ >= kLongestReplyMs))
        Conclude(TEventKind::Refused, now);
}

void TExchange::ConnectionLost(Ms now) {
    if (Expect(Started() && !Done(), "a running exchange loses its port"))
        Conclude(TEventKind::ConnectionLost, now);
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

void TExchange::Conclude(TEventKind failure, Ms now) {
    phase_ = TPhase::Done;
    doneAt_ = now;
    const std::string_view whole = received_;
    echoLength_ = reply::EchoLength(whole, command_, lineEnd_);
    const std::string_view judged = reply::Judged(whole.substr(echoLength_));
    if (reply::Acknowledges(judged))
        outcome_ = TEventKind::Acknowledged;
    else if (failure == TEventKind::Refused && echoLength_ > 0 && judged.empty())
        outcome_ = TEventKind::NoAnswer; // only the echo came, or only line breaks
    else
        outcome_ = failure;
}

TEvent TExchange::Outcome(std::size_t index) const {
    TEvent event;
    event.Kind = outcome_;
    event.At = doneAt_;
    event.Index = index;
    event.Command = command_;
    event.Echo = received_.substr(0, echoLength_);
    event.Reply = received_.substr(echoLength_);
    event.WaitedMs = timeoutMs_;
    return event;
}

bool ReportOutcome(const TExchange& exchange, std::size_t index, TStep& step) {
    TEvent outcome = exchange.Outcome(index);
    if (!outcome.Echo.empty())
        step.Add({.Kind = TEventKind::Echo, .At = outcome.At, .Index = index,
                  .Command = outcome.Command, .Bytes = outcome.Echo});
    const bool acknowledged = outcome.Kind == TEventKind::Acknowledged;
    step.Add(std::move(outcome));
    return acknowledged;
}

bool FeedExchange(TExchange& exchange, std::string_view bytes, Ms now, std::size_t index,
                  TStep& step) {
    exchange.BytesReceived(bytes, now);
    step.Add({.Kind = TEventKind::ReplyBytes, .At = now, .Index = index,
              .Command = exchange.Command(), .Bytes = std::string(bytes)});
    return exchange.Done();
}

} // namespace kelvara::link
