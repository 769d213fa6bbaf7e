#pragma once

// The link to a module as plain logic. Every use of the port (sending a list, finding the
// settings, a console) is a policy: it is fed the bytes the port received, the passing of time
// and the loss of the port, and says what to write and what happened, as events. It touches no
// port and reads no clock, so it runs the same under a test as behind a real serial port.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::link {

using Ms = std::int64_t;

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
// to cost little. A reply whose last line is "OK" or "ERROR" is complete at once.
inline constexpr int kQuietGapMs = 50;
// A module that never stops talking is judged on what it said in this long.
inline constexpr int kLongestReplyMs = 2000;
// Only this much of a reply is kept; a module that talks on is still heard to the end.
inline constexpr std::size_t kMaxReplyBytes = 1024;

inline constexpr int kMinTimeoutMs = 1;
inline constexpr int kMaxTimeoutMs = 60000;
inline constexpr int kMinPauseMs = 0;
inline constexpr int kMaxPauseMs = 10000;
// Some modules restart after a command (a factory reset, a change of role) and do not listen for
// a moment; by default each acknowledged command is followed by this pause.
inline constexpr int kDefaultPauseMs = 200;

struct TSendSettings {
    int BaudRate = 9600;
    TLineEnd LineEnd = TLineEnd::None;
    int TimeoutMs = 1000; // the wait for a reply's first byte
    int PauseMs = kDefaultPauseMs;
};

// How a policy run ended.
enum class TResult { Completed, Failed, Cancelled, NotFound };

enum class TEventKind {
    Written,        // Command and the Bytes that went on the wire
    Echo,           // the module repeated the command: Bytes
    ReplyBytes,     // Bytes of the reply to the command under way, as they came
    Acknowledged,   // the command's end: Echo and Reply as judged
    Refused,        //   likewise, for a reply that does not acknowledge
    NoAnswer,       //   nothing came within WaitedMs (or only the echo)
    ConnectionLost, //   the port went away before the command was acknowledged
    NotSent,        // a command of a list that a failure or a cancel left out
    Pause,          // waiting WaitedMs before the next command
    Unasked,        // Bytes that came while no command was under way
    Trying,         // the settings finder tries BaudRate and LineEnd
    Found,          // ... and found them; Echoes tells whether the module echoes
    Finished,       // the policy is done: Result
};

struct TEvent {
    TEventKind Kind = TEventKind::Finished;
    Ms At = 0;
    std::size_t Index = 0; // which command of the policy, counted from 0
    std::string Command{};
    std::string Bytes{};   // written, echoed, received or unasked bytes
    std::string Echo{};    // with an outcome: the echo set aside
    std::string Reply{};   // with an outcome: the reply after the echo, at most kMaxReplyBytes
    int WaitedMs = 0;
    int BaudRate = 0;
    TLineEnd LineEnd = TLineEnd::None;
    bool Echoes = false;
    TResult Result = TResult::Completed;

    // An outcome ends a command: acknowledged, refused, no answer or connection lost.
    bool IsOutcome() const;
};

// What the port must do after a call, and what happened.
struct TStep {
    std::optional<int> SetBaudRate;   // first: change the port's rate
    std::optional<std::string> Write; // then: discard the bytes waiting on the port, write these
    std::vector<TEvent> Events;
    bool Finished = false;

    void Add(TEvent event) { Events.push_back(std::move(event)); }
};

// A use of the port. Start is called once, first; nothing is called after the step that
// finished it. TimePassed is due at WakeAt() and harmless at any other time.
class TPolicy {
  public:
    virtual ~TPolicy() = default;
    virtual TStep Start(Ms now) = 0;
    virtual TStep BytesReceived(std::string_view bytes, Ms now) = 0;
    virtual TStep TimePassed(Ms now) = 0;
    // The port is gone.
    virtual TStep ConnectionLost(Ms now) = 0;
    // Stops after the command under way, never in the middle of one.
    virtual TStep Cancel(Ms now) = 0;
    virtual std::optional<Ms> WakeAt() const = 0;
    virtual bool Finished() const = 0;
};

// The earlier of two wake-up times, either of which may be missing.
inline std::optional<Ms> Earliest(std::optional<Ms> a, std::optional<Ms> b) {
    if (a && b)
        return *a < *b ? a : b;
    return a ? a : b;
}

// Reports a call out of order: a programming error. A debug build (and the sanitizer builds,
// which define KELVARA_LINK_CHECKS) stops there; a release build carries on, and the call does
// nothing.
bool Expect(bool condition, const char* what);

// The bytes as they can be shown on a terminal: control bytes (and, when asked, bytes of 128 or
// more) written as \xNN, every other byte as it is.
std::string ShownBytes(std::string_view bytes, bool escapeHighBytes);

// A reply as shown to the user: every byte, control bytes and bytes of 128 or more escaped.
inline std::string ShownReply(std::string_view reply) { return ShownBytes(reply, true); }

// Why a command was not acknowledged, in words: "no answer within 1000 ms",
// "answered "ERROR"", "connection lost", "not sent".
std::string FailureText(const TEvent& outcome);

} // namespace kelvara::link
