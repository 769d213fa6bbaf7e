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
    bool Failed = false;
    bool Finished = false;
    std::size_t Written = 0;
    std::map<std::size_t, int> Outcomes; // list: outcomes per command
    std::size_t ConsoleOutcomes = 0;
    std::size_t ConsoleNotSent = 0;

    void See(const TStep& step) {
        Check(!Finished, "nothing happens after the end");
        if (step.Write) {
            Check(!Failed || Kind != TKind::List, "nothing is written after a failure");
            if (Kind == TKind::Finder)
                Check(step.Write->find_first_not_of("AT\r\n") == std::string::npos &&
                          (*step.Write == "\r\n" || step.Write->starts_with("AT")),
                      "a search writes only AT and line endings");
        }
        bool wrote = false;
        for (const TEvent& event : step.Events) {
            Check(event.Reply.size() <= kMaxReplyBytes && event.Echo.size() <= kMaxReplyBytes,
                  "a kept reply is bounded");
            Check(event.Kind != TEventKind::Unasked || event.Bytes.size() <= kMaxReplyBytes,
                  "unasked bytes come in bounded pieces");
            if (event.Kind == TEventKind::Written && !event.Command.empty()) {
                Check(!InFlight, "one command in flight at most");
                Check(Kind != TKind::List || !Failed, "no command after a failure");
                InFlight = true;
                wrote = true;
                ++Written;
            } else if (event.IsOutcome() && !(Kind == TKind::List && !InFlight)) {
                Check(InFlight || Kind == TKind::Finder, "an outcome ends a command in flight");
                InFlight = false;
                ++ConsoleOutcomes;
            }
            if (Kind == TKind::List && (event.IsOutcome() || event.Kind == TEventKind::NotSent))
                ++Outcomes[event.Index];
            if (event.Kind == TEventKind::NotSent)
                ++ConsoleNotSent;
            if (Kind == TKind::List && event.IsOutcome() && event.Kind != TEventKind::Acknowledged)
                Failed = true;
            if (event.Kind == TEventKind::Finished)
                Finished = true;
        }
        Check(wrote == (step.Write.has_value() && Kind != TKind::Finder) || Kind == TKind::Finder,
              "a command is written exactly when its event says so");
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
    Check(!watch.InFlight || kind == TKind::Finder, "no command is left in flight");
    if (kind == TKind::List) {
        for (std::size_t i = 0; i < count; ++i)
            Check(watch.Outcomes[i] == 1, "every command of a list ends in exactly one outcome");
    }
    if (kind == TKind::Console)
        Check(watch.ConsoleOutcomes == watch.Written, "every typed command sent has one outcome");
    return 0;
}
