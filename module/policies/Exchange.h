#pragma once

// One exchange with a module: one command written, its reply gathered and judged. And the two
// things every policy does around exchanges: keeping one command in flight, and gathering the
// bytes that come while none is.

#include "Link.h"

namespace kelvara::link {

// The rules of a reply, on their own.
namespace reply {

bool IsBreak(char c);
// Whether text could still be `word`, or begin with it, once more bytes come.
bool MayBecome(std::string_view text, std::string_view word);
// How many bytes at the end of text may begin `word`: they wait for the bytes after them.
std::size_t TailBeginning(std::string_view text, std::string_view word);

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

    // A reply that begins with this word is complete as soon as the word has come: what follows
    // it (a connection's data, which may never pause) is no part of the reply.
    void CompleteOn(std::string word) { completeOn_ = std::move(word); }

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
    // Once done: the outcome.
    TOutcome Outcome(std::size_t index) const;

  private:
    enum class TPhase { NotStarted, Awaiting, Receiving, Done };

    void Conclude(TVerdict failure, Ms now);

    std::string command_;
    std::string completeOn_;
    TLineEnd lineEnd_;
    int timeoutMs_;
    int quietGapMs_;

    TPhase phase_ = TPhase::NotStarted;
    TVerdict verdict_ = TVerdict::NoAnswer;
    std::string received_; // at most kMaxReplyBytes
    std::size_t echoLength_ = 0;
    Ms sentAt_ = 0;
    Ms firstByteAt_ = 0;
    Ms lastByteAt_ = 0;
    Ms doneAt_ = 0;
};

// At most one command in flight: started with its Written event, fed, and ended with its echo
// (when there was one) and its outcome reported. Each call that ends the exchange returns the
// outcome.
class TInFlight {
  public:
    void Start(TExchange exchange, std::size_t index, Ms now, TStep& step);
    std::optional<TOutcome> BytesReceived(std::string_view bytes, Ms now, TStep& step);
    std::optional<TOutcome> TimePassed(Ms now, TStep& step);
    std::optional<TOutcome> ConnectionLost(Ms now, TStep& step);
    // Forgets the exchange under way without an outcome (a search cancelled mid-try).
    void Drop() { exchange_.reset(); }
    // Once the outcome is told: every byte that came after the command's echo, its reply and
    // whatever came with it (at most 64 KiB), for a command whose answers run on after it.
    const std::string& AfterEcho() const { return afterEcho_; }

    bool Busy() const { return exchange_.has_value(); }
    std::optional<Ms> WakeAt() const { return exchange_ ? exchange_->WakeAt() : std::nullopt; }

  private:
    std::optional<TOutcome> EndIfDone(TStep& step);

    std::optional<TExchange> exchange_;
    std::size_t index_ = 0;
    std::string sinceWritten_;
    std::string afterEcho_;
};

// Bytes that come while no command is under way, gathered until the module has been quiet for
// the quiet gap (a scan's results come a piece at a time), then reported as one event; a module
// that talks on and on is reported in pieces of at most kMaxReplyBytes.
class TUnaskedBytes {
  public:
    explicit TUnaskedBytes(int quietGapMs = kQuietGapMs) : quietGapMs_(quietGapMs) {}
    void Add(std::string_view bytes, Ms now, TStep& step);
    // Reports what was gathered once the module has been quiet long enough (or always, when
    // flushing).
    void Report(Ms now, TStep& step, bool flush = false);
    std::optional<Ms> WakeAt() const;

  private:
    int quietGapMs_;
    std::string bytes_;
    Ms firstAt_ = 0;
    Ms lastAt_ = 0;
};

} // namespace kelvara::link
