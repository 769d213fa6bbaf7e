#pragma once

// One exchange with a module: one command written, its reply gathered and judged.

#include "Link.h"

namespace kelvara::link {

// The rules of a reply, on their own.
namespace reply {

// How many bytes at the start of reply are the module repeating the command: the command's own
// bytes, the line ending that followed it if it came back too, then one CR, LF or CR LF. 0 when
// the reply does not begin with the command.
std::size_t EchoLength(std::string_view reply, std::string_view command, TLineEnd lineEnd);
// The reply as judged: line breaks before its first other byte skipped.
std::string_view Judged(std::string_view afterEcho);
// A judged reply acknowledges when it begins with "OK" or its last line is "OK" alone.
bool Acknowledges(std::string_view judged);
// A judged reply is complete at once when its last line is "OK" or "ERROR" alone, followed by
// its line break (LF or CR LF).
bool CompleteAtOnce(std::string_view judged);

} // namespace reply

class TExchange {
  public:
    TExchange(std::string command, TLineEnd lineEnd, int timeoutMs, int quietGapMs = kQuietGapMs);

    // The bytes to write: the command and its line ending.
    std::string Start(Ms now);
    void BytesReceived(std::string_view bytes, Ms now);
    void TimePassed(Ms now);
    // The port is gone: a reply that had already acknowledged stands.
    void ConnectionLost(Ms now);

    bool Started() const { return phase_ != TPhase::NotStarted; }
    bool Done() const { return phase_ == TPhase::Done; }
    const std::string& Command() const { return command_; }
    std::optional<Ms> WakeAt() const;
    // Once done: the outcome, as an event (Acknowledged, Refused, NoAnswer or ConnectionLost).
    TEvent Outcome(std::size_t index) const;
    // Once done: true when the module echoed the command.
    bool Echoed() const { return echoLength_ > 0; }

  private:
    enum class TPhase { NotStarted, Awaiting, Receiving, Done };

    void Conclude(TEventKind failure, Ms now);

    std::string command_;
    TLineEnd lineEnd_;
    int timeoutMs_;
    int quietGapMs_;

    TPhase phase_ = TPhase::NotStarted;
    TEventKind outcome_ = TEventKind::NoAnswer;
    std::string received_; // at most kMaxReplyBytes
    std::size_t echoLength_ = 0;
    Ms sentAt_ = 0;
    Ms firstByteAt_ = 0;
    Ms lastByteAt_ = 0;
    Ms doneAt_ = 0;
};

// Adds a finished exchange's echo, when there was one, and its outcome to the step; true when
// it acknowledged.
bool ReportOutcome(const TExchange& exchange, std::size_t index, TStep& step);

// Feeds bytes to a policy's exchange under way and reports them as reply bytes of its command;
// true once the exchange is done.
bool FeedExchange(TExchange& exchange, std::string_view bytes, Ms now, std::size_t index,
                  TStep& step);

} // namespace kelvara::link
