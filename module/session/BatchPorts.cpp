#include "BatchPorts.h"

#include <algorithm>
#include <utility>

namespace kelvara::link {

TBatchPorts::TBatchPorts(TBatchPlan& plan, const TSendSettings& settings, TRecordFile* record,
                         QObject* parent)
    : QObject(parent), plan_(plan), settings_(settings), record_(record) {}

TBatchPorts::~TBatchPorts() {
    // The runs hold the plan: none may outlive the batch on a session that does. A row not yet
    // written still is.
    for (TPort& port : ports_) {
        for (const auto& [module, event] : port.Held) {
            std::string why;
            if (const auto* ended = std::get_if<TModuleEnded>(&event); ended && record_)
                record_->Append(plan_.Row(port.Name, ended->Fields, ended->Failure), why);
        }
        if (!port.Session)
            continue;
        port.Session->disconnect(this);
        if (port.Running)
            port.Session->Abandon();
    }
}

bool TBatchPorts::Lost(std::size_t index) const {
    const TPort& port = ports_[index];
    return !port.Session || !port.Session->IsOpen();
}

void TBatchPorts::Add(const std::string& name, TModuleSession& session) {
    const std::size_t index = ports_.size();
    ports_.push_back({name, &session, nullptr, false, std::nullopt, {}, 0, {}, false});
    connect(&session, &TModuleSession::linkEvent, this,
            [this, index](const TEvent& event) { Seen(index, event); });
    connect(&session, &TModuleSession::finished, this, [this, index] { Ended(index); });
}

void TBatchPorts::Own(const std::string& name, std::unique_ptr<TModuleSession> session) {
    Add(name, *session);
    ports_.back().Owned = std::move(session);
}

void TBatchPorts::Start() {
    for (TPort& port : ports_) {
        port.Running = true;
        port.Session->Run(std::make_unique<TBatchRun>(plan_, settings_));
    }
}

bool TBatchPorts::Running() const {
    return std::any_of(ports_.begin(), ports_.end(), [](const TPort& p) { return p.Running; });
}

bool TBatchPorts::SettingUp() const {
    return std::any_of(ports_.begin(), ports_.end(),
                       [](const TPort& p) {
                           // The run is the session's: asked for each time, never kept.
                           const TBatchRun* run = p.Running && p.Session ? p.Session->Running<TBatchRun>() : nullptr;
                           return run && run->SettingUp();
                       });
}

void TBatchPorts::Stop() {
    for (TPort& port : ports_) {
        if (port.Running && port.Session)
            port.Session->Stop();
    }
}

void TBatchPorts::StopAtOnce() {
    // A module's end still waiting for its row has it first.
    for (std::size_t index = 0; index < ports_.size(); ++index)
        Pass(index);
    // Each run's end is the batch's to tell: nothing more of it reaches the front.
    for (TPort& port : ports_) {
        if (std::exchange(port.Running, false) && port.Session)
            port.Session->Abandon();
    }
    CutShort();
    if (!over_) {
        over_ = true;
        emit finished(TResult::Cancelled);
    }
}

void TBatchPorts::Seen(std::size_t index, const TEvent& event) {
    TPort& port = ports_[index];
    if (!port.Running)
        return;
    if (const auto* taken = std::get_if<TModuleTaken>(&event)) {
        port.UnderWay = ++modules_;
        port.Fields = taken->Fields;
        port.Attempt = taken->Attempt;
    }
    const std::size_t module = port.UnderWay.value_or(0);
    const bool ended = std::holds_alternative<TModuleEnded>(event);
    if (ended)
        port.UnderWay.reset();
    // The record is not written while the session tells a step (a handler is never kept
    // waiting on the disk): a module's end waits for its row, and what follows it waits too.
    if (!port.Held.empty() || (ended && record_)) {
        port.Held.emplace_back(module, event);
        if (port.Held.size() == 1)
            port.Session->Later([self = QPointer<TBatchPorts>(this), index] {
                if (self)
                    self->Pass(index);
            });
        return;
    }
    emit batchEvent(index, module, event);
    // The last module set up: ports waiting for theirs to come back wait no more.
    if (ended && plan_.Complete())
        Stop();
}

void TBatchPorts::Pass(std::size_t index) {
    TPort& port = ports_[index];
    while (!port.Held.empty()) {
        const auto [module, event] = std::move(port.Held.front());
        port.Held.pop_front();
        const auto* ended = std::get_if<TModuleEnded>(&event);
        std::string why;
        if (ended && record_ && !record_->Append(plan_.Row(port.Name, ended->Fields, ended->Failure), why)) {
            // Nothing more is done without the record; the front hears why before the end.
            port.Held.clear();
            emit recordFailed(module, QString::fromLocal8Bit(why.c_str()));
            StopAtOnce();
            return;
        }
        emit batchEvent(index, module, event);
        if (ended && plan_.Complete())
            Stop();
    }
    if (std::exchange(port.EndHeld, false))
        Ended(index);
}

void TBatchPorts::CutShort() {
    for (std::size_t index = 0; index < ports_.size(); ++index) {
        TPort& port = ports_[index];
        if (!port.UnderWay)
            continue;
        const std::size_t module = *std::exchange(port.UnderWay, std::nullopt);
        const TModuleEnded ended{.At = port.Session ? port.Session->Now() : 0,
                                 .Attempt = port.Attempt,
                                 .Fields = port.Fields,
                                 .Failure = TOutcome{.Verdict = TVerdict::ConnectionLost,
                                                     .Command = std::string(kStoppedAtOnce)}};
        // The record goes on being written: a row it cannot take is the failure already told.
        std::string why;
        if (record_)
            record_->Append(plan_.Row(port.Name, ended.Fields, ended.Failure), why);
        emit batchEvent(index, module, ended);
    }
}

void TBatchPorts::Ended(std::size_t index) {
    if (!ports_[index].Held.empty()) {
        ports_[index].EndHeld = true;
        return;
    }
    ports_[index].Running = false;
    if (over_ || Running())
        return;
    over_ = true;
    emit finished(plan_.Complete() ? TResult::Completed : TResult::Cancelled);
}

} // namespace kelvara::link
