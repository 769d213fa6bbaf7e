// The link's policies fed random bytes, time steps, cancels, typed commands, lost and returning
// ports. After every step: no two commands are in flight, nothing is written after a failure,
// after the end or while the port is gone, every command ends in exactly one outcome, what is
// kept of a reply stays bounded, a search and a watch write nothing but "AT" and line endings,
// and a batch never gives a value twice. Calls out of order abort (checked build).
#include "BatchRun.h"
#include "Connection.h"
#include "Console.h"
#include "ListSender.h"
#include "PresenceWatch.h"
#include "Scan.h"
#include "SettingsFinder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
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

enum class TKind { List, Console, Finder, Watch, Batch, Scan, Connection, Count };

bool OnlyAsks(const std::string& bytes) {
    return bytes.find_first_not_of("AT\r\n") == std::string::npos &&
           (bytes == "\r\n" || bytes.starts_with("AT"));
}

// Follows the events of one policy and checks them.
struct TWatch {
    TKind Kind = TKind::List;
    bool InFlight = false;
    bool Failed = false;   // a list's command was not acknowledged
    bool Finished = false;
    bool PortGone = false;
    std::optional<std::size_t> Module; // a batch's module under way
    std::set<std::string> Given;       // a batch's values set up
    std::size_t Written = 0;
    std::size_t Outcomes = 0;            // of the commands written
    std::map<std::size_t, int> PerIndex; // a list's outcomes (and not sent) per command

    void See(const TStep& step) {
        Check(!Finished, "nothing happens after the end");
        Check(!step.Write || !PortGone, "nothing is written while the port is gone");
        Check(!step.Write || !Failed, "nothing is written after a failure");
        Check((Kind != TKind::Finder && Kind != TKind::Watch) || !step.Write || OnlyAsks(*step.Write),
              "a search and a watch write only AT and line endings");
        for (const TEvent& event : step.Events)
            See(event);
        Check(Kind != TKind::Batch || !step.Write || Module || OnlyAsks(*step.Write),
              "a batch between modules only asks AT");
        Check(Kind != TKind::Scan || !step.Write ||
                  (step.Write->starts_with(kScanCommand) &&
                   step.Write->find_first_not_of("\r\n", kScanCommand.size()) == std::string::npos),
              "a scan writes nothing but its command");
        Check(Finished == step.Finished().has_value(), "the end is said once, with the last step");
    }

    void See(const TEvent& event) {
        if (const auto* written = std::get_if<TWritten>(&event); written && written->Kind == TWriteKind::Command) {
            Check(!InFlight, "one command in flight at most");
            InFlight = true;
            ++Written;
        } else if (const auto* outcome = std::get_if<TOutcome>(&event)) {
            Check(outcome->Reply.size() <= kMaxReplyBytes && outcome->Echo.size() <= kMaxReplyBytes,
                  "what is kept of a reply is bounded");
            // A list fails its next command when the port goes in a pause, a search its try
            // when the port goes while it settles: no command was in flight.
            const bool failsNext = Kind != TKind::Console && !InFlight;
            if (!failsNext) {
                Check(InFlight, "an outcome ends a command in flight");
                InFlight = false;
                ++Outcomes;
            }
            ++PerIndex[outcome->Index];
            Failed |= Kind == TKind::List && !outcome->Acknowledged();
        } else if (const auto* notSent = std::get_if<TNotSent>(&event)) {
            ++PerIndex[notSent->Index];
        } else if (const auto* unasked = std::get_if<TUnasked>(&event)) {
            Check(unasked->Bytes.size() <= kMaxReplyBytes || Kind == TKind::Connection,
                  "unasked bytes come in bounded pieces");
        } else if (const auto* device = std::get_if<TDeviceFound>(&event)) {
            Check(device->Address.size() == 12, "a device has its whole address");
        } else if (const auto* taken = std::get_if<TModuleTaken>(&event)) {
            Check(!Module, "one module under way at a time");
            Check(!Given.contains(taken->Fields.at("minor")), "a value set up is never given again");
            Module = taken->Attempt;
        } else if (const auto* ended = std::get_if<TModuleEnded>(&event)) {
            Check(Module == ended->Attempt, "a module ends once, after it was taken");
            Module.reset();
            if (ended->SetUp())
                Given.insert(ended->Fields.at("minor"));
            InFlight = false; // the next list starts afresh
        } else if (std::holds_alternative<TFinished>(event)) {
            Finished = true;
            Check(!Module, "a batch never ends with a module half set up");
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TInput input(data, size);
    const auto kind = static_cast<TKind>(input.Byte() % static_cast<int>(TKind::Count));
    const std::size_t count = 1 + input.Byte() % 6;
    const TSendSettings settings{9600, static_cast<TLineEnd>(input.Byte() % 4),
                                 1 + input.Byte() * 4, input.Byte() % 3 * 50};
    std::unique_ptr<TPolicy> policy;
    TConsole* console = nullptr;
    TConnection* connection = nullptr;
    std::optional<TBatchPlan> plan;
    if (kind == TKind::List) {
        std::vector<std::string> commands;
        for (std::size_t i = 0; i < count; ++i)
            commands.push_back("AT+C" + std::to_string(i));
        policy = std::make_unique<TListSender>(commands, settings);
    } else if (kind == TKind::Console) {
        auto owned = std::make_unique<TConsole>(settings.LineEnd, settings.TimeoutMs);
        console = owned.get();
        policy = std::move(owned);
    } else if (kind == TKind::Finder) {
        policy = std::make_unique<TSettingsFinder>();
    } else if (kind == TKind::Watch) {
        policy = std::make_unique<TPresenceWatch>(
            count % 2 ? TPresenceWatchAwait::Arrival : TPresenceWatchAwait::Departure,
            settings.BaudRate, settings.LineEnd);
    } else if (kind == TKind::Scan) {
        policy = std::make_unique<TScan>(settings, 1 + count);
    } else if (kind == TKind::Connection) {
        auto owned = std::make_unique<TConnection>('0', "C4BE84123456", settings);
        connection = owned.get();
        policy = std::move(owned);
    } else {
        auto made = TBatchPlan::Make({kelvara::DefaultSource(kelvara::TListKind::Beacon), "minor", count},
                                     {});
        plan.emplace(std::get<TBatchPlan>(std::move(made)));
        policy = std::make_unique<TBatchRun>(*plan, settings);
    }

    TWatch watch;
    watch.Kind = kind;
    Ms now = 0;
    watch.See(policy->Start(now));
    bool ending = false;
    while (!input.Empty() && !policy->Finished()) {
        const std::uint8_t op = input.Byte();
        switch (op % 8) {
        case 0:
        case 1:
            if (!watch.PortGone)
                watch.See(policy->BytesReceived(input.Bytes(op / 8 % 24), now));
            break;
        case 2:
            now += input.Byte() * (kind == TKind::Batch ? 8 : 1);
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
            if (!watch.PortGone) {
                watch.PortGone = true;
                watch.See(policy->ConnectionLost(now));
            }
            break;
        case 6:
            if (watch.PortGone && !policy->Finished()) {
                watch.PortGone = false;
                watch.See(policy->PortBack(now));
            }
            break;
        case 7:
            if (connection && connection->Connected() && !watch.PortGone)
                watch.See(op % 2 ? connection->Send("data", now) : connection->Disconnect(now));
            else if (console && !ending && !watch.PortGone)
                watch.See(console->Submit("AT+T" + std::to_string(op), now));
            else if (console && !console->Finished())
                watch.See(console->End(now));
            break;
        }
    }
    // Whatever was fed, the policy ends by itself once time goes on (and a batch, once its port
    // is back and its modules answer).
    if (console && !ending && !console->Finished())
        watch.See(console->End(now));
    // A watch for an arrival, and a connection that stands, wait until someone stops them.
    if ((kind == TKind::Watch || kind == TKind::Connection) && !policy->Finished())
        watch.See(policy->Cancel(now));
    if (kind == TKind::Batch && !policy->Finished()) {
        watch.See(policy->Cancel(now));
        if (watch.PortGone && !policy->Finished()) {
            watch.PortGone = false;
            watch.See(policy->PortBack(now));
        }
    }
    for (int i = 0; i < 10000 && !policy->Finished(); ++i) {
        const auto wake = policy->WakeAt();
        Check(wake.has_value(), "a policy that has not ended will wake");
        now = std::max(now, *wake);
        watch.See(policy->TimePassed(now));
        // A module being set up answers every command, so that a batch stopping after it ends.
        if (kind == TKind::Batch && watch.InFlight && !policy->Finished())
            watch.See(policy->BytesReceived("OK\r\n", now));
    }
    Check(policy->Finished(), "every policy ends");
    // A batch that is done drops the probe of a port still watching; nothing else leaves a
    // command in flight (a cancelled search or watch lets its "AT" end first).
    Check(!watch.InFlight || kind == TKind::Batch || kind == TKind::Scan || kind == TKind::Connection,
          "no command is left in flight");
    for (std::size_t i = 0; kind == TKind::List && i < count; ++i)
        Check(watch.PerIndex[i] == 1, "every command of a list ends in exactly one outcome");
    Check(kind != TKind::Console || watch.Outcomes == watch.Written,
          "every typed command sent has one outcome");
    if (plan)
        Check(plan->Done() == watch.Given.size(), "every module set up was counted once");
    return 0;
}
