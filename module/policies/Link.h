#pragma once

// The link to a module as plain logic. Every use of the port (sending a list, finding the
// settings, a console, a batch of modules) is a policy: it is fed the bytes the port received,
// the passing of time and the loss of the port, and says what to write and what happened, as
// events. It touches no port and reads no clock, so it runs the same under a test as behind a
// real serial port.

#include "ListSource.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
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
// A module still talking this long after its first byte is not answering the command: whatever
// it said, the command fails.
inline constexpr int kLongestReplyMs = 2000;
// Only this much of a reply is kept; a module that talks on is still heard to the end.
inline constexpr std::size_t kMaxReplyBytes = 1024;
// A failure names at most this much of the reply; the transcript keeps all that was kept.
inline constexpr std::size_t kMaxQuotedReplyBytes = 100;

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

// How a command ended.
enum class TVerdict {
    Acknowledged,
    Refused,        // its reply does not acknowledge it
    KeptTalking,    // the module was still talking at the longest a reply may take
    NoAnswer,       // nothing came within the timeout (or only the echo)
    ConnectionLost, // the port went away before the command was acknowledged
};

// The events of a policy, each carrying what it means. Index counts the commands of a policy
// from 0 (a list's command, a console's typed command, the settings finder's try).

// What bytes written stand for.
enum class TWriteKind {
    Command,    // a command and its line ending
    LineEnd,    // a lone line ending (the settings finder's try)
    Data,       // data for the remote device, over a connection
    Disconnect, // the "AT" that ends a connection
};
// Bytes went on the wire.
struct TWritten {
    Ms At = 0;
    std::size_t Index = 0;
    std::string Command{}; // the command, for Kind Command; empty otherwise
    std::string Bytes{};
    TWriteKind Kind = TWriteKind::Command;
};
// The module repeated the command: these bytes, set aside from its reply.
struct TEcho {
    Ms At = 0;
    std::size_t Index = 0;
    std::string Bytes{};
};
// A command's end.
struct TOutcome {
    Ms At = 0;
    std::size_t Index = 0;
    TVerdict Verdict = TVerdict::NoAnswer;
    std::string Command{};
    std::string Echo{};  // the echo set aside
    std::string Reply{}; // what came after it, at most kMaxReplyBytes
    int WaitedMs = 0;  // the timeout it had
    std::string Detail{}; // what the system said of a lost connection ("Windows error 22")

    bool Acknowledged() const { return Verdict == TVerdict::Acknowledged; }
};
// A command that a failure or a cancel left out.
struct TNotSent {
    Ms At = 0;
    std::size_t Index = 0;
    std::string Command{};
};
// Bytes that came while no command was under way, gathered until the module fell quiet.
struct TUnasked {
    Ms At = 0; // when the first of them came
    std::string Bytes{};
};
// The settings finder tries a rate and a line ending...
struct TTrying {
    Ms At = 0;
    std::size_t Index = 0;
    int BaudRate = 0;
    TLineEnd LineEnd = TLineEnd::None;
};
// ... and found the module answering at them.
struct TFound {
    Ms At = 0;
    int BaudRate = 0;
    TLineEnd LineEnd = TLineEnd::None;
    bool Echoes = false;
};
// A batch waits: for a module to answer, for the one set up to be removed, or for its port.
enum class TAwaited { Module, Removal, Port };
struct TModuleAwaited {
    Ms At = 0;
    TAwaited What = TAwaited::Module;
    std::size_t Done = 0;    // modules set up so far
    std::size_t Modules = 0; // in all
};
// A batch took the module that answered: its attempt (counted from 1), its fields and the
// commands its list sends. The list's events follow, until the module's end.
struct TModuleTaken {
    Ms At = 0;
    std::size_t Attempt = 0;
    TFields Fields{};
    std::vector<std::string> Commands{};
};
// The module's end: set up, or the command that failed.
struct TModuleEnded {
    Ms At = 0;
    std::size_t Attempt = 0;
    TFields Fields{};
    std::optional<TOutcome> Failure{};

    bool SetUp() const { return !Failure; }
};
// A scan found a device: its type, its address (12 hexadecimal digits) and its name (maybe
// empty). Found again, it is reported again only with another name.
struct TDeviceFound {
    Ms At = 0;
    char Type = '0';
    std::string Address{};
    std::string Name{};
};
// A connection to a remote device: what the module said of it. A connection that rejoins
// its device after a drop tells each try (Rejoining), and Connected again once rejoined.
enum class TLinkState { Connected, Failed, Dropped, Disconnected, Rejoining };
struct TConnectionState {
    Ms At = 0;
    TLinkState State = TLinkState::Connected;
    std::string Answer{}; // "OK+CONN", "OK+CONNF", "OK+LOST", or empty for no answer
    std::string Address{}; // the device's
    std::size_t Try = 0;   // Rejoining: the try's number, from 1; Connected: the tries it took
    Ms DownMs = 0;         // Connected after a drop: how long the link was down
};
// Bytes from the remote device, while connected.
struct TData {
    Ms At = 0;
    std::string Bytes{};
};
// The policy is done.
struct TFinished {
    Ms At = 0;
    TResult Result = TResult::Completed;
};

using TEvent = std::variant<TWritten, TEcho, TOutcome, TNotSent, TUnasked, TTrying, TFound,
                            TModuleAwaited, TModuleTaken, TModuleEnded, TDeviceFound,
                            TConnectionState, TData, TFinished>;

// What the port must do after a call, and what happened.
struct TStep {
    std::optional<int> SetBaudRate;   // first: change the port's rate
    std::optional<std::string> Write; // then: write these
    // Before the write, the bytes waiting on the port are no answer to it: they are taken off
    // the port and told as unasked (a command exchange). Otherwise they stay, and reach the
    // policy in their order whatever is written meanwhile (data, a scan).
    bool SetAside = false;
    std::vector<TEvent> Events;

    void Add(TEvent event) { Events.push_back(std::move(event)); }
    // Takes on another step's work on the port (with what it says of the bytes waiting) and
    // its events, after its own: a policy passing on the step of a policy it runs.
    void Append(TStep other);
    // The policy ended in this step: how.
    std::optional<TResult> Finished() const;
};

// A use of the port. Start is called once, first; nothing is called after the step that
// finished it. TimePassed is due at WakeAt() and harmless at any other time.
class TPolicy {
  public:
    virtual ~TPolicy() = default;
    virtual TStep Start(Ms now) = 0;
    virtual TStep BytesReceived(std::string_view bytes, Ms now) = 0;
    virtual TStep TimePassed(Ms now) = 0;
    // The port is gone. Most policies end there; one that has not ended waits for PortBack and
    // writes nothing until then.
    virtual TStep ConnectionLost(Ms now) = 0;
    // The port is open again, after a loss that did not end the policy.
    virtual TStep PortBack(Ms) { return {}; }
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
// "answered "ERROR\x0d\x0a"" (the first kMaxQuotedReplyBytes of a longer reply, then its
// length), "kept talking for 2 s", "connection lost" (with what the system said of it, in
// brackets, when it said something).
std::string FailureText(const TOutcome& outcome);
inline constexpr std::string_view kNotSentText = "not sent";

} // namespace kelvara::link
