// The link's policies fed random bytes, time steps, cancels, typed commands and lost ports.
// After every step: no two commands are in flight, nothing is written after a failure or after
// the end, every command ends in exactly one outcome, what is kept of a reply stays bounded, and
// a search writes nothing but "AT" and line endings. Calls out of order abort (checked build).
#include "Console.h"
#include "ListSender.h"
#include "SettingsFinder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

using namespace kelvara::link;

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

class TInput {
  public:
    TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::string Bytes(std::size_t count) {
        std::string bytes;
        while (count-- > 0 && !Empty())
            bytes += static_cast<char>(Byte());
        return bytes;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

enum class TKind { List, Console, Finder };

// Follows the events of one policy and checks them.
struct TWatch {
    TKind Kind = TKind::List;
    bool InFlight = false;
    bool Failed = false; // a list's command was not acknowledged
    bool Finished = false;
    std::size_t Written = 0;
    std::size_t Outcomes = 0;            // of the commands written
    std::map<std::size_t, int> PerIndex; // a list's outcomes (and not sent) per command

    void See(const TStep& step) {
        Check(!Finished, "nothing happens after the end");
        Check(!step.Write || !Failed, "nothing is written after a failure");
        Check(Kind != TKind::Finder || !step.Write ||
                  (step.Write->find_first_not_of("AT\r\n") == std::string::npos &&
                   (*step.Write == "\r\n" || step.Write->starts_with("AT"))),
              "a search writes only AT and line endings");
        for (const TEvent& event : step.Events) {
            Check(event.Reply.size() <= kMaxReplyBytes && event.Echo.size() <= kMaxReplyBytes &&
                      event.Bytes.size() <= kMaxReplyBytes + 64,
                  "what is kept of a reply is bounded");
            // A list fails its next command when the port goes in a pause, a search its try
            // when the port goes while it settles: no command was in flight.
            const bool failsNext = Kind != TKind::Console && event.IsOutcome() && !InFlight;
            if (event.Kind == TEventKind::Written && !event.Command.empty()) {
                Check(!InFlight, "one command in flight at most");
                InFlight = true;
                ++Written;
            } else if (event.IsOutcome() && !failsNext) {
                Check(InFlight, "an outcome ends a command in flight");
                InFlight = false;
                ++Outcomes;
            }
            if (event.IsOutcome() || event.Kind == TEventKind::NotSent)
                ++PerIndex[event.Index];
            Failed |= Kind == TKind::List && event.IsOutcome() &&
                      event.Kind != TEventKind::Acknowledged;
            Finished |= event.Kind == TEventKind::Finished;
        }
        Check(Finished == step.Finished, "the end is said once, with the last step");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TInput input(data, size);
    const auto kind = static_cast<TKind>(input.Byte() % 3);
    const std::size_t count = 1 + input.Byte() % 6;
    const TSendSettings settings{9600, static_cast<TLineEnd>(input.Byte() % 4),
                                 1 + input.Byte() * 4, input.Byte() % 3 * 50};
    std::unique_ptr<TPolicy> policy;
    TConsole* console = nullptr;
    if (kind == TKind::List) {
        std::vector<std::string> commands;
        for (std::size_t i = 0; i < count; ++i)
            commands.push_back("AT+C" + std::to_string(i));
        policy = std::make_unique<TListSender>(commands, settings);
    } else if (kind == TKind::Console) {
        auto owned = std::make_unique<TConsole>(settings.LineEnd, settings.TimeoutMs);
        console = owned.get();
        policy = std::move(owned);
    } else {
        policy = std::make_unique<TSettingsFinder>();
    }

    TWatch watch;
    watch.Kind = kind;
    Ms now = 0;
    watch.See(policy->Start(now));
    bool ending = false;
    while (!input.Empty() && !policy->Finished()) {
        const std::uint8_t op = input.Byte();
        switch (op % 7) {
        case 0:
        case 1:
            watch.See(policy->BytesReceived(input.Bytes(op / 7 % 24), now));
            break;
        case 2:
            now += input.Byte();
            watch.See(policy->TimePassed(now));
            break;
        case 3:
            if (const auto wake = policy->WakeAt()) {
                Check(*wake >= now - 1000000, "a wake-up time is sane");
                now = std::max(now, *wake);
            }
            watch.See(policy->TimePassed(now));
            break;
        case 4:
            watch.See(policy->Cancel(now));
            ending = true;
            break;
        case 5:
            watch.See(policy->ConnectionLost(now));
            break;
        case 6:
            if (console && !ending)
                watch.See(console->Submit("AT+T" + std::to_string(op), now));
            else if (console && !console->Finished())
                watch.See(console->End(now));
            break;
        }
    }
    // Whatever was fed, the policy ends by itself once time goes on.
    if (console && !ending && !console->Finished())
        watch.See(console->End(now));
    for (int i = 0; i < 10000 && !policy->Finished(); ++i) {
        const auto wake = policy->WakeAt();
        Check(wake.has_value(), "a policy that has not ended will wake");
        now = std::max(now, *wake);
        watch.See(policy->TimePassed(now));
    }
    Check(policy->Finished(), "every policy ends");
    // A search stops at once when cancelled, with its "AT" unanswered; nothing else does.
    Check(!watch.InFlight || kind == TKind::Finder, "no command is left in flight");
    for (std::size_t i = 0; kind == TKind::List && i < count; ++i)
        Check(watch.PerIndex[i] == 1, "every command of a list ends in exactly one outcome");
    Check(kind != TKind::Console || watch.Outcomes == watch.Written,
          "every typed command sent has one outcome");
    return 0;
}
