#pragma once

// Sending a list of commands to a module, one at a time, as plain logic: it is fed the bytes the
// port received and the passing of time, and says what to write next and what became of each
// command. It touches no port and reads no clock, so it runs the same under a test as behind a
// real serial port.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::link {

// What follows each command on the wire.
enum class TLineEnd { None, Cr, Lf, CrLf };

// The bytes of a line ending.
std::string_view LineEndBytes(TLineEnd lineEnd);
// "none", "cr", "lf" or "crlf".
std::string_view LineEndName(TLineEnd lineEnd);
// The line ending of that name, or nothing for any other text.
std::optional<TLineEnd> LineEndFromName(std::string_view name);

// The rates a port may be opened at.
inline constexpr std::array<int, 9> kStandardBaudRates = {1200,  2400,  4800,   9600,  19200,
                                                          38400, 57600, 115200, 230400};
bool IsStandardBaudRate(int baudRate);

// A reply is complete once no byte has come for this long. At 1200 baud a byte takes about
// 8 ms, so a module that is still talking never leaves a gap this long, while it is short enough
// to cost little: it is paid once per command.
inline constexpr int kQuietGapMs = 50;

inline constexpr int kMinTimeoutMs = 1;
inline constexpr int kMaxTimeoutMs = 60000;
inline constexpr int kMinPauseMs = 0;
inline constexpr int kMaxPauseMs = 10000;
// Some modules restart after a command (a factory reset, a change of role) and do not listen for
// a moment; by default each acknowledged command is followed by this pause.
inline constexpr int kDefaultPauseMs = 200;

// Only this much of a reply is kept; a module that talks on is still heard to the end.
inline constexpr std::size_t kMaxReplyBytes = 1024;

struct TSendSettings {
    int BaudRate = 9600;
    TLineEnd LineEnd = TLineEnd::None;
    int TimeoutMs = 1000;
    int PauseMs = kDefaultPauseMs;
};

enum class TCommandState { Waiting, Sending, Acknowledged, Failed, NotSent };

// Why a command failed.
enum class TFailure { None, NoAnswer, Refused, ConnectionLost };

struct TCommandProgress {
    std::string Command;
    TCommandState State = TCommandState::Waiting;
    std::string Reply; // the bytes the module answered, at most kMaxReplyBytes
    TFailure Failure = TFailure::None;
};

enum class TSendResult { Running, AllAcknowledged, Failed, Cancelled };

// What the port must do after an event, and which commands changed state.
struct TStep {
    // When set: discard the bytes waiting on the port, then write these.
    std::optional<std::string> Write;
    std::vector<std::size_t> Changed;
    bool Finished = false;
};

// The bytes as they can be shown on a terminal: control bytes (and, when asked, bytes of 128 or
// more) written as \xNN, every other byte as it is.
std::string ShownBytes(std::string_view bytes, bool escapeHighBytes);

// A reply as shown to the user: every byte, control bytes and bytes of 128 or more escaped.
inline std::string ShownReply(std::string_view reply) { return ShownBytes(reply, true); }

// Why a failed command failed, in words: "no answer within 1000 ms", "answered "ERROR"" or
// "connection lost".
std::string DescribeFailure(const TCommandProgress& command, int timeoutMs);

class TSendProtocol {
  public:
    using Ms = std::int64_t;

    TSendProtocol(std::vector<std::string> commands, const TSendSettings& settings,
                  int quietGapMs = kQuietGapMs);

    // Sends the first command (or finishes at once for an empty list).
    TStep Start(Ms now);
    // Bytes that came from the port. Bytes that answer no command (stray bytes during a pause)
    // are dropped.
    TStep BytesReceived(std::string_view bytes, Ms now);
    // Time has passed; due at WakeAt(), harmless at any other time.
    TStep TimePassed(Ms now);
    // The port is gone: the command under way, or the next one to send, fails.
    TStep ConnectionLost();
    // Stops after the command under way; at once when none is under way.
    TStep Cancel();

    // When TimePassed must next be called; nothing once finished.
    std::optional<Ms> WakeAt() const;

    bool Finished() const { return phase_ == TPhase::Done; }
    TSendResult Result() const { return result_; }
    bool CancelRequested() const { return cancelRequested_; }
    const std::vector<TCommandProgress>& Commands() const { return commands_; }
    // The command being sent or waited on; nothing before the start, in a pause and at the end.
    std::optional<std::size_t> Current() const;
    // The index of the command that failed, when the sending failed.
    std::optional<std::size_t> FailedCommand() const;
    // The index of the last command acknowledged, if any.
    std::optional<std::size_t> LastAcknowledged() const;

  private:
    enum class TPhase { Idle, AwaitingReply, Receiving, Pausing, Done };

    TStep SendNext(Ms now);
    TStep Judge(Ms now);
    TStep Fail(TFailure failure);
    TStep Finish(TSendResult result);

    std::vector<TCommandProgress> commands_;
    TSendSettings settings_;
    int quietGapMs_;

    TPhase phase_ = TPhase::Idle;
    TSendResult result_ = TSendResult::Running;
    std::size_t next_ = 0; // index of the command under way or to be sent next
    Ms sentAt_ = 0;
    Ms firstByteAt_ = 0;
    Ms lastByteAt_ = 0;
    Ms pauseEndsAt_ = 0;
    bool cancelRequested_ = false;
};

} // namespace kelvara::link
