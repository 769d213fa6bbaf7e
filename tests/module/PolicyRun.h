#pragma once

// Runs a policy by plain calls with the time given, and logs what it wrote and reported.
#include "Console.h"
#include "Link.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kelvara::testing {

using namespace kelvara::link;

// One thing that happens to a policy, at a time.
struct TAct {
    enum class TKind { Bytes, Lost, Back, Cancel, Submit, End } Kind;
    Ms At;
    std::string Text{};
};
inline TAct Bytes(Ms at, std::string bytes) { return {TAct::TKind::Bytes, at, std::move(bytes)}; }
inline TAct Lost(Ms at) { return {TAct::TKind::Lost, at}; }
inline TAct Back(Ms at) { return {TAct::TKind::Back, at}; }
inline TAct Cancel(Ms at) { return {TAct::TKind::Cancel, at}; }
inline TAct Submit(Ms at, std::string command) { return {TAct::TKind::Submit, at, std::move(command)}; }
inline TAct End(Ms at) { return {TAct::TKind::End, at}; }

inline std::string Describe(const TEvent& event) {
    static const char* verdicts[] = {"ack", "refused", "kept talking", "no answer", "lost"};
    static const char* results[] = {"completed", "failed", "cancelled", "not found"};
    static const char* awaited[] = {"module", "removal", "port"};
    static const char* states[] = {"connected", "connection failed", "dropped", "disconnected", "rejoining"};
    return std::visit(
        [](const auto& e) -> std::string {
            using T = std::decay_t<decltype(e)>;
            const std::string at = '@' + std::to_string(e.At) + ' ';
            if constexpr (std::is_same_v<T, TWritten>)
                return at + "> " + ShownReply(e.Bytes);
            else if constexpr (std::is_same_v<T, TEcho>)
                return at + "echo " + ShownReply(e.Bytes);
            else if constexpr (std::is_same_v<T, TOutcome>)
                return at + verdicts[static_cast<int>(e.Verdict)] + ' ' + std::to_string(e.Index) +
                       ' ' + e.Command + (e.Reply.empty() ? "" : ' ' + ShownReply(e.Reply));
            else if constexpr (std::is_same_v<T, TNotSent>)
                return at + "not sent " + std::to_string(e.Index) + ' ' + e.Command;
            else if constexpr (std::is_same_v<T, TUnasked>)
                return at + "unasked " + ShownReply(e.Bytes);
            else if constexpr (std::is_same_v<T, TTrying>)
                return at + "try " + std::to_string(e.BaudRate) + ' ' + std::string(LineEndName(e.LineEnd));
            else if constexpr (std::is_same_v<T, TFound>)
                return at + "found " + std::to_string(e.BaudRate) + ' ' +
                       std::string(LineEndName(e.LineEnd)) + (e.Echoes ? " echo" : "");
            else if constexpr (std::is_same_v<T, TModuleAwaited>)
                return at + "await " + awaited[static_cast<int>(e.What)] + ' ' +
                       std::to_string(e.Done) + '/' + std::to_string(e.Modules);
            else if constexpr (std::is_same_v<T, TModuleTaken>)
                return at + "take " + std::to_string(e.Attempt) + " minor=" + e.Fields.at("minor");
            else if constexpr (std::is_same_v<T, TModuleEnded>)
                return at + "end " + std::to_string(e.Attempt) +
                       (e.SetUp() ? " set up" : " failed " + e.Failure->Command);
            else if constexpr (std::is_same_v<T, TDeviceFound>)
                return at + "device " + e.Type + ' ' + e.Address + ' ' + ShownReply(e.Name);
            else if constexpr (std::is_same_v<T, TConnectionState>)
                return at + states[static_cast<int>(e.State)] + (e.Answer.empty() ? "" : ' ' + e.Answer) +
                       (e.Try ? " try " + std::to_string(e.Try) : "") + (e.DownMs ? " down " + std::to_string(e.DownMs) : "");
            else if constexpr (std::is_same_v<T, TData>)
                return at + "data " + ShownReply(e.Bytes);
            else
                return at + "finished " + results[static_cast<int>(e.Result)];
        },
        event);
}

// Runs a policy: the acts in order, the policy woken whenever it asked to be in between, and
// afterwards until it finishes or sleeps for good (or until `until`). A module, when given,
// answers each write a millisecond later.
struct TRun {
    TPolicy& Policy;
    std::function<std::optional<std::string>(const std::string& written, Ms now)> Module{};
    Ms Until = 20000;
    std::vector<std::string> Log{};
    std::map<Ms, std::string> Due{}; // the module's answers
    Ms Now = 0;

    void Take(TStep step) {
        if (step.SetBaudRate)
            Log.push_back('@' + std::to_string(Now) + " baud " + std::to_string(*step.SetBaudRate));
        for (const TEvent& event : step.Events)
            Log.push_back(Describe(event));
        if (step.Write && Module) {
            if (auto answer = Module(*step.Write, Now))
                Due[Now + 1] += *answer;
        }
    }
    // Wakes the policy, and delivers the module's answers, up to the time.
    void AdvanceTo(Ms time) {
        while (!Policy.Finished()) {
            const std::optional<Ms> wake = Policy.WakeAt();
            const std::optional<Ms> due = Due.empty() ? std::nullopt : std::optional(Due.begin()->first);
            const std::optional<Ms> next = Earliest(wake, due);
            if (!next || *next > time)
                break;
            Now = std::max(Now, *next);
            if (due && *next == *due) {
                const std::string bytes = Due.begin()->second;
                Due.erase(Due.begin());
                Take(Policy.BytesReceived(bytes, Now));
            } else {
                Take(Policy.TimePassed(Now));
            }
        }
        Now = std::max(Now, time);
    }
    std::vector<std::string> Play(const std::vector<TAct>& acts) {
        Take(Policy.Start(0));
        for (const TAct& act : acts) {
            AdvanceTo(act.At);
            if (Policy.Finished())
                break;
            switch (act.Kind) {
            case TAct::TKind::Bytes:
                Take(Policy.BytesReceived(act.Text, Now));
                break;
            case TAct::TKind::Lost:
                Take(Policy.ConnectionLost(Now));
                break;
            case TAct::TKind::Back:
                Take(Policy.PortBack(Now));
                break;
            case TAct::TKind::Cancel:
                Take(Policy.Cancel(Now));
                break;
            case TAct::TKind::Submit:
                Take(static_cast<TConsole&>(Policy).Submit(act.Text, Now));
                break;
            case TAct::TKind::End:
                Take(static_cast<TConsole&>(Policy).End(Now));
                break;
            }
        }
        AdvanceTo(Until);
        return Log;
    }
};

} // namespace kelvara::testing
