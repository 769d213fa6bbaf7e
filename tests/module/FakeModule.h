#pragma once

// A simulated module at the far end of a pseudo-terminal pair: the code under test opens
// PortPath() as its serial port. It records every byte it receives, takes a command to be
// complete at a line ending or after a short silence, and answers each with "OK+" and the
// command's word ("AT+RENEW" gets "OK+RENEW"), unless told otherwise for that command.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace kelvara::testing {

struct TModuleBehaviour {
    enum class TKind { Answer, Silent, HangUp, AnswerThenHangUp, TalkOn };
    TKind Kind = TKind::Answer;
    std::string Reply;        // the answer; empty means the usual "OK+..."
    int DelayMs = 0;          // before answering
    int SecondPieceAfterMs = -1; // when not negative, the answer comes in two halves this far apart
    std::string StrayAfter;   // bytes sent unasked, StrayAfterMs after the answer
    int StrayAfterMs = 0;
    int Times = -1;           // how many commands it applies to; -1: every one

    static TModuleBehaviour Silent() { return With([](auto& b) { b.Kind = TKind::Silent; }); }
    static TModuleBehaviour HangUp() { return With([](auto& b) { b.Kind = TKind::HangUp; }); }
    static TModuleBehaviour AnswerThenHangUp() {
        return With([](auto& b) { b.Kind = TKind::AnswerThenHangUp; });
    }
    // Answers, then says it again and again, every 10 ms, until the port is closed.
    static TModuleBehaviour TalkingOn(std::string reply) {
        return With([&](auto& b) { b.Kind = TKind::TalkOn; b.Reply = std::move(reply); });
    }
    static TModuleBehaviour Answering(std::string reply) {
        return With([&](auto& b) { b.Reply = std::move(reply); });
    }
    static TModuleBehaviour Slow(int delayMs) {
        return With([&](auto& b) { b.DelayMs = delayMs; });
    }
    static TModuleBehaviour InTwoPieces(std::string reply, int gapMs) {
        return With([&](auto& b) { b.Reply = std::move(reply); b.SecondPieceAfterMs = gapMs; });
    }
    static TModuleBehaviour ThenStray(std::string bytes, int afterMs) {
        return With([&](auto& b) { b.StrayAfter = std::move(bytes); b.StrayAfterMs = afterMs; });
    }

  private:
    template <typename Change>
    static TModuleBehaviour With(Change change) {
        TModuleBehaviour behaviour;
        change(behaviour);
        return behaviour;
    }
};

// How the module talks, for every command.
struct TModuleStyle {
    bool Echo = false;          // repeats every byte it receives
    bool AnswerOkLines = false; // answers "\r\nOK\r\n" rather than "OK+<word>"
    std::string CommandEnd{};   // takes a command only at this ending (leading CR and LF dropped);
                                // empty: at any line ending, or after a silence
    int BaudRate = 0;           // understands only this rate and answers noise at any other;
                                // 0: any rate
};

class TFakeModule {
  public:
    TFakeModule();
    ~TFakeModule();
    TFakeModule(const TFakeModule&) = delete;
    TFakeModule& operator=(const TFakeModule&) = delete;

    // What the module answers a command, with no behaviour of its own, when it talks so: the
    // same words for a module on an in-memory port.
    static std::string UsualReply(const std::string& command, const TModuleStyle& style);

    // The device path of the serial port.
    const std::string& PortPath() const { return portPath_; }
    // The port's name for the program under test: the device path, or the Windows port that
    // leads to it when the program is run under Wine.
    const std::string& PortName() const { return portName_; }
    // How the module talks; set before the commands arrive.
    void Style(TModuleStyle style);
    // How to treat a command (or, for "AT+X*", every command beginning "AT+X"); set before the
    // commands arrive.
    void On(const std::string& command, TModuleBehaviour behaviour);
    // Answers every command without a behaviour of its own after a random delay in this range,
    // drawn from a generator seeded with seed.
    void AnswerAfterRandomDelays(int minMs, int maxMs, unsigned seed);
    // Takes the module away (it hears nothing and answers nothing, as on a port whose module was
    // removed), or puts one back.
    void Present(bool present) { present_ = present; }
    // Sends bytes unasked, as a module that reports something by itself.
    void SendUnasked(const std::string& bytes) { Write(bytes); }
    // The same, `times` over, from a thread of its own: the port fills up while nobody reads it.
    void SendUnaskedInBackground(std::string bytes, std::size_t times);
    // A person swapping modules: each time a command beginning with `last` has come (a list has
    // ended), the module is taken away for `away`, then another is put in its place.
    void SwapAfterEach(std::string last, std::chrono::milliseconds away);
    // A module in the master role: "AT+DISC?" is answered "OK+DISCS", then these pieces one
    // after another, pieceMs apart, then "OK+DISCE". "AT+CO" and a type and an address it knows
    // is answered "OK+CONNA", then "OK+CONN" (any other: "OK+CONNF"); connected, it sends back
    // every byte it receives, as a remote device that echoes, until "AT" comes alone or
    // dropAfterMs (when not negative) has passed: then "OK+LOST".
    void Scanning(std::vector<std::string> pieces, int pieceMs, std::vector<std::string> known,
                  int dropAfterMs = -1);
    bool IsConnected() const { return connected_; }
    // Connected, the remote device is a sensor: it takes what it receives without sending it
    // back, and sends "n=<count>\r\n" every everyMs, counting on over every connection, every
    // fifth line in two pieces (when more than 0; otherwise what it is given by SendUnasked).
    void Streaming(int everyMs) {
        sensor_ = true;
        streamEveryMs_ = everyMs;
    }
    // Every byte sent so far.
    std::string Sent() const;
    // Every byte received so far.
    std::string Received() const;
    // Waits until the module has sent these bytes; false after the wait limit.
    bool WaitUntilSent(const std::string& bytes, std::chrono::milliseconds limit) const;
    // The commands received so far, line endings removed.
    std::vector<std::string> Commands() const;
    // For each command received: when it was taken, and when its answer had been written.
    struct TTimes {
        std::chrono::steady_clock::time_point Taken;
        std::optional<std::chrono::steady_clock::time_point> Answered;
    };
    std::vector<TTimes> CommandTimes() const;
    // Waits until at least count commands have come; false after the wait limit.
    bool WaitForCommands(std::size_t count, std::chrono::milliseconds limit) const;
    // When the first byte came, if one has.
    std::optional<std::chrono::steady_clock::time_point> FirstByteTime() const;
    // True while the other end (the serial port) is open.
    bool OtherEndOpen() const;
    // Waits until the other end has been opened and closed again; false after the wait limit.
    bool WaitUntilOtherEndClosed(std::chrono::milliseconds limit) const;

  private:
    void Run();
    void Answer(const std::string& command);
    void Write(const std::string& bytes);
    void Received(const char* bytes, std::size_t count);
    bool AtItsRate() const;
    // Answers a scan or a connect; false for any other command.
    bool AnswerMaster(const std::string& command);

    std::atomic<int> master_{-1};
    std::string portPath_;
    std::string portName_;
    int comPortLock_ = -1;
    std::thread thread_;
    std::vector<std::thread> helpers_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> everOpened_{false};
    std::atomic<bool> present_{true};
    std::atomic<bool> connected_{false};
    std::atomic<bool> sensor_{false};
    std::atomic<int> streamEveryMs_{0};
    std::atomic<long> streamed_{0}; // lines streamed over every connection
    std::mutex streamMutex_; // a line of the stream and the module's "OK+LOST" never cross

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::string, TModuleBehaviour> behaviours_;
    TModuleStyle style_;
    int minDelayMs_ = 0;
    int maxDelayMs_ = 0;
    std::minstd_rand random_;
    std::string received_;
    std::string sent_;
    std::optional<std::chrono::steady_clock::time_point> firstByteTime_;
    std::string pending_;
    std::vector<std::string> commands_;
    std::vector<TTimes> times_;
    std::optional<std::vector<std::string>> scanPieces_;
    int scanPieceMs_ = 0;
    std::vector<std::string> known_;
    int dropAfterMs_ = -1;
};

} // namespace kelvara::testing
