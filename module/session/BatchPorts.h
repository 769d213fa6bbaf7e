#pragma once

// A batch over one port or several at once, whichever front runs it: a batch run on each port's
// session, all taking their values from one plan, so that the first module to answer on any
// port takes the next value and no value is given twice; each module's row in the one record,
// on disk before its port takes another; the batch over once every module is set up.

#include "BatchRun.h"
#include "RecordFile.h"
#include "Session.h"

#include <QObject>
#include <QPointer>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvara::link {

// What a module cut short by a stop at once failed on, in its row.
inline constexpr std::string_view kStoppedAtOnce = "(stopped at once)";

class TBatchPorts : public QObject {
    Q_OBJECT

  public:
    // The plan, and the record when there is one, must outlive the batch.
    TBatchPorts(TBatchPlan& plan, const TSendSettings& settings, TRecordFile* record,
                QObject* parent = nullptr);
    ~TBatchPorts() override;

    // A port whose session is open: the caller's own, or (Own) one the batch keeps.
    void Add(const std::string& name, TModuleSession& session);
    void Own(const std::string& name, std::unique_ptr<TModuleSession> session);
    // Starts the batch on every port.
    void Start();
    // Each port finishes the module it is setting up, and the batch ends.
    void Stop();
    // Every port stops at once. A module cut short part-way through its list ends as failed,
    // "(stopped at once)", with its row in the record.
    void StopAtOnce();

    bool Running() const;
    // A module is being set up on some port.
    bool SettingUp() const;
    std::size_t Ports() const { return ports_.size(); }
    const std::string& Name(std::size_t port) const { return ports_[port].Name; }
    // The number (counted from 1 over all ports) of the module under way on the port, if any.
    std::optional<std::size_t> UnderWay(std::size_t port) const { return ports_[port].UnderWay; }
    // A port whose adapter went away and has not come back.
    bool Lost(std::size_t port) const;

  signals:
    // An event of a port's run; module is the number of its module under way, or 0.
    void batchEvent(std::size_t port, std::size_t module, const kelvara::link::TEvent& event);
    // The record could not be written: every port has stopped at once.
    void recordFailed(std::size_t module, const QString& why);
    // Every port's run has ended; Completed once every module is set up.
    void finished(kelvara::link::TResult result);

  private:
    struct TPort {
        std::string Name;
        // The caller's session may go first (a window closing): then it is let be.
        QPointer<TModuleSession> Session;
        std::unique_ptr<TModuleSession> Owned;
        bool Running = false; // its run is the batch's, and has not ended
        std::optional<std::size_t> UnderWay;
        TFields Fields; // the module's under way, and its attempt
        std::size_t Attempt = 0;
        // A module's end whose row is not yet written, and what the port told after it: the
        // row is written once the session's delivery is over, and they are told then, in order.
        std::deque<std::pair<std::size_t, TEvent>> Held;
        bool EndHeld = false; // and the run's end came after them
    };

    void Seen(std::size_t port, const TEvent& event);
    // Writes the row of the module ended, and tells what the port held, in order.
    void Pass(std::size_t port);
    void Ended(std::size_t port);
    // The modules under way end as cut short, each with its row.
    void CutShort();

    TBatchPlan& plan_;
    TSendSettings settings_;
    TRecordFile* record_;
    std::vector<TPort> ports_;
    std::size_t modules_ = 0; // modules taken over all ports
    bool over_ = false;
};

} // namespace kelvara::link
