#pragma once

// The module window's batch: how many modules, which value counts up, the record, the ports it
// runs on (the window's own and any others, found or typed); a row for each port with what it is
// doing, and the table of the modules done, each with its values, its outcome and its port.

#include "BatchPorts.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace Ui {
class TfrmModule;
}
class QWidget;

class TBatchPanel : public QObject {
    Q_OBJECT

  public:
    // Without a source (a list typed elsewhere), there is no batch to run.
    TBatchPanel(Ui::TfrmModule& ui, std::optional<kelvara::TListSource> source, QWidget* window);
    ~TBatchPanel() override;

    bool Available() const { return source_.has_value(); }
    // The batch as chosen, with its record read and every value checked; false, with the status
    // said and the focus on the field at fault, when it cannot run. Nothing is opened yet.
    bool Prepare();
    // Runs the batch prepared on the window's session (open, at the port named) and on the other
    // ports chosen, once they are open. Opening one may take seconds (a Bluetooth link's port):
    // the window goes on meanwhile. notStarted(), with the status said, when one of them cannot
    // be opened or Stop gives the opening up.
    void Start(kelvara::link::TModuleSession& session, const kelvara::link::TSendSettings& settings);
    // The other ports are being opened; nothing is sent yet.
    bool Opening() const { return !opening_.empty(); }
    // The batch is being opened or runs on one of its ports at least.
    bool Running() const { return Opening() || (ports_ && ports_->Running()); }
    // Each port finishes the module it is setting up, and the batch ends; while the ports are
    // being opened, the opening is given up.
    void Stop();
    // Every port stops at once: the window goes.
    void StopAtOnce();
    bool SettingUp() const { return ports_ && ports_->SettingUp(); }
    bool Several() const { return ports_ && ports_->Ports() > 1; }
    // Looks for the ports again, for the list of ports to add.
    void Refresh();

  signals:
    // An event of the window's own port; inModule while a module's list is under way on it.
    void ownEvent(const kelvara::link::TEvent& event, bool inModule);
    void status(const QString& text);
    // The batch is over: every module set up, stopped, or the record could not be written.
    void finished(kelvara::link::TResult result);
    // The batch did not start: a port could not be opened, or its opening was given up.
    void notStarted();

  private:
    // Another port of the batch, being opened.
    struct TOpening {
        QString Name;
        std::unique_ptr<kelvara::link::TModuleSession> Session;
        bool Open = false;
    };
    void OtherOpened(std::size_t other, bool open);
    // Lets the ports being opened go (after the call under way).
    void GiveUpOpening();
    // Every port is open: the batch runs.
    void Launch();
    void Seen(std::size_t port, std::size_t module, const kelvara::link::TEvent& event);
    void Ended(kelvara::link::TResult result);
    void ShowPort(std::size_t port, const QString& state, const QString& module = {});
    QString Position() const;
    void Browse();
    void AddPort();

    Ui::TfrmModule& ui;
    QWidget* window_;
    std::optional<kelvara::TListSource> source_;
    std::unique_ptr<kelvara::link::TBatchPlan> plan_;
    std::unique_ptr<kelvara::link::TRecordFile> record_;
    std::unique_ptr<kelvara::link::TBatchPorts> ports_;
    std::vector<TOpening> opening_;
    QPointer<kelvara::link::TModuleSession> own_; // the window's session, while opening
    kelvara::link::TSendSettings settings_;
    bool stopAfterModules_ = false;
    std::optional<QString> recordFailure_;
};
