#include "BatchPanel.h"

#include "ListPanel.h"
#include "SaveFolder.h"
#include "SerialPorts.h"
#include "ui_ModuleWindow.h"

#include <QFile>
#include <QFileDialog>
#include <QHeaderView>

#include <algorithm>

using namespace kelvara::link;

namespace {

enum TModuleColumn { kModuleColumn, kPortColumn, kValuesColumn, kOutcomeColumn };
enum TPortColumn { kPortNameColumn, kPortStateColumn, kPortModuleColumn };

std::string Encoded(const QString& port) { return QFile::encodeName(port).toStdString(); }

} // namespace

TBatchPanel::TBatchPanel(Ui::TfrmModule& form, std::optional<kelvara::TListSource> source,
                         QWidget* window)
    : QObject(window), ui(form), window_(window), source_(std::move(source)) {
    // The value counted is a Major or Minor, for an iBeacon list.
    ui.cbCount->addItem(tr("the same list for each"), QString());
    if (source_ && source_->Kind == kelvara::TListKind::Beacon) {
        ui.cbCount->addItem(tr("Minor"), QStringLiteral("minor"));
        ui.cbCount->addItem(tr("Major"), QStringLiteral("major"));
    }
    ui.gbBatch->setEnabled(Available());
    const QFontMetrics metrics = window->fontMetrics();
    ui.lstModules->setColumnWidth(kModuleColumn, metrics.horizontalAdvance(QStringLiteral("ModuleWW")));
    ui.lstModules->setColumnWidth(
        kValuesColumn, metrics.horizontalAdvance(
               QStringLiteral("uuid=0000FFF0-0000-1000-8000-00805F9B34FB major=10123 minor=10125W")));
    ui.lstModules->setColumnWidth(kPortColumn, metrics.horizontalAdvance(QStringLiteral("/dev/ttyUSB0WW")));
    ui.lstBatchPorts->setColumnWidth(kPortNameColumn, metrics.horizontalAdvance(QStringLiteral("/dev/ttyUSB0WWWW")));
    ui.lstBatchPorts->setColumnWidth(kPortStateColumn, metrics.horizontalAdvance(QStringLiteral("waiting for it to come backWWW")));
    connect(ui.btnRecordBrowse, &QPushButton::clicked, this, &TBatchPanel::Browse);
    connect(ui.btnAddBatchPort, &QPushButton::clicked, this, &TBatchPanel::AddPort);
    Refresh();
}

TBatchPanel::~TBatchPanel() = default;

void TBatchPanel::Refresh() {
    const QString chosen = ui.cbBatchPort->currentText();
    ui.cbBatchPort->clear();
    for (const TPortDescription& port : AvailablePorts())
        ui.cbBatchPort->addItem(port.Name);
    if (const int index = ui.cbBatchPort->findText(chosen); index >= 0)
        ui.cbBatchPort->setCurrentIndex(index);
    ui.btnAddBatchPort->setEnabled(ui.cbBatchPort->count() > 0);
}

void TBatchPanel::AddPort() {
    const QString port = ui.cbBatchPort->currentText();
    QStringList ports = ui.edtBatchPorts->text().split(' ', Qt::SkipEmptyParts);
    if (!port.isEmpty() && !ports.contains(port))
        ports << port;
    ui.edtBatchPorts->setText(ports.join(' '));
}

QString TBatchPanel::Position() const {
    return tr("Module %1 of %2").arg(plan_->Done() + 1).arg(plan_->Job().Modules);
}

bool TBatchPanel::Prepare() {
    if (!source_)
        return false;
    const TBatchJob job{*source_, ui.cbCount->currentData().toString().toStdString(),
                        static_cast<std::size_t>(ui.spnModules->value())};
    // The record and every value are checked before anything is sent.
    auto record = std::make_unique<TRecordFile>();
    std::vector<kelvara::TRecordRow> rows;
    // A bare name is a file in the folder files are saved in, whatever the working folder.
    const QString path = kelvara::ui::InSaveFolder(ui.edtRecord->text().trimmed());
    if (!path.isEmpty()) {
        std::string why;
        if (!record->Open(Encoded(path), rows, why)) {
            emit status(tr("Cannot use the record %1: %2.").arg(path, FromBytes(why)));
            ui.edtRecord->setFocus(Qt::OtherFocusReason);
            return false;
        }
    } else {
        record.reset();
    }
    auto made = TBatchPlan::Make(job, rows);
    if (const auto* refused = std::get_if<TBatchRefusal>(&made)) {
        emit status(refused->Record
                        ? tr("Cannot use the record %1: %2.").arg(path, FromBytes(refused->Text))
                        : tr("Cannot set up %1 modules: %2").arg(job.Modules).arg(FromBytes(refused->Text)));
        (refused->Record ? static_cast<QWidget*>(ui.edtRecord) : ui.spnModules)
            ->setFocus(Qt::OtherFocusReason);
        return false;
    }
    ports_.reset();
    plan_ = std::make_unique<TBatchPlan>(std::get<TBatchPlan>(std::move(made)));
    record_ = std::move(record);
    return true;
}

void TBatchPanel::Start(TModuleSession& session, const TSendSettings& settings) {
    own_ = &session;
    settings_ = settings;
    opening_.clear();
    QStringList names;
    for (const QString& name : ui.edtBatchPorts->text().split(' ', Qt::SkipEmptyParts)) {
        if (Encoded(name) == session.PortName() || names.contains(name))
            continue;
        names << name;
        opening_.push_back({name, session.Another()});
        const std::size_t other = opening_.size() - 1;
        connect(opening_.back().Session.get(), &TModuleSession::openEnded, this,
                [this, other](bool open) { OtherOpened(other, open); });
    }
    if (opening_.empty()) {
        Launch();
        return;
    }
    // The other ports are opened before anything is sent; one that cannot be is told.
    emit status(tr("Opening %1...").arg(names.join(QStringLiteral(", "))));
    for (std::size_t other = 0; other < opening_.size(); ++other) {
        opening_[other].Session->OpenLater(Encoded(opening_[other].Name), settings.BaudRate);
        if (opening_.empty())
            return; // refused at once
    }
}

void TBatchPanel::OtherOpened(std::size_t other, bool open) {
    if (other >= opening_.size())
        return;
    TOpening& opening = opening_[other];
    if (!open) {
        emit status(tr("Cannot open %1: %2.").arg(opening.Name, opening.Session->OpenFailure().Reason));
        GiveUpOpening();
        emit notStarted();
        ui.edtBatchPorts->setFocus(Qt::OtherFocusReason);
        return;
    }
    opening.Open = true;
    if (std::all_of(opening_.begin(), opening_.end(), [](const TOpening& o) { return o.Open; }))
        Launch();
}

void TBatchPanel::GiveUpOpening() {
    // A session may be telling its outcome: it goes once that is over.
    for (TOpening& opening : opening_) {
        opening.Session->disconnect(this);
        opening.Session->Close();
        opening.Session.release()->deleteLater();
    }
    opening_.clear();
}

void TBatchPanel::Launch() {
    if (!own_) {
        GiveUpOpening();
        emit notStarted();
        return;
    }
    // The batch is the panel's: whatever becomes of it, it goes with the window, while the
    // window's session is still there.
    auto ports = std::make_unique<TBatchPorts>(*plan_, settings_, record_.get(), this);
    ports->Add(own_->PortName(), *own_);
    for (TOpening& opening : opening_) {
        opening.Session->disconnect(this);
        opening.Session->SetReopen(true);
        ports->Own(Encoded(opening.Name), std::move(opening.Session));
    }
    opening_.clear();
    ports_ = std::move(ports);
    connect(ports_.get(), &TBatchPorts::batchEvent, this, &TBatchPanel::Seen);
    connect(ports_.get(), &TBatchPorts::finished, this, &TBatchPanel::Ended);
    connect(ports_.get(), &TBatchPorts::recordFailed, this, [this](std::size_t module, const QString& why) {
        recordFailure_ = tr("Cannot write the record: %1. Stopped after module %2.").arg(why).arg(module);
        emit status(*recordFailure_);
    });
    stopAfterModules_ = false;
    recordFailure_.reset();
    ui.lstModules->clear();
    ui.lstModules->show();
    ui.lstBatchPorts->clear();
    for (std::size_t port = 0; port < ports_->Ports(); ++port)
        new QTreeWidgetItem(ui.lstBatchPorts, {FromBytes(ports_->Name(port))});
    ui.lstBatchPorts->setVisible(Several());
    // With one port, every module is on it.
    ui.lstModules->setColumnHidden(kPortColumn, !Several());
    ports_->Start();
}

void TBatchPanel::Stop() {
    if (Opening()) {
        GiveUpOpening();
        emit status(tr("Opening the batch's ports cancelled."));
        emit notStarted();
        return;
    }
    if (!ports_ || !ports_->Running())
        return;
    stopAfterModules_ = ports_->SettingUp();
    if (stopAfterModules_)
        emit status(Several() ? tr("Stopping once the modules under way are set up...")
                              : tr("Stopping once this module is set up..."));
    ports_->Stop();
}

void TBatchPanel::StopAtOnce() {
    GiveUpOpening();
    if (ports_)
        ports_->StopAtOnce();
}

void TBatchPanel::ShowPort(std::size_t port, const QString& state, const QString& module) {
    if (QTreeWidgetItem* row = ui.lstBatchPorts->topLevelItem(static_cast<int>(port))) {
        row->setText(kPortStateColumn, state);
        row->setText(kPortModuleColumn, module);
    }
}

void TBatchPanel::Seen(std::size_t port, std::size_t module, const TEvent& event) {
    const QString name = FromBytes(ports_->Name(port));
    if (const auto* taken = std::get_if<TModuleTaken>(&event)) {
        const QString values = FromBytes(BatchValues(source_->Kind, taken->Fields));
        auto* row = new QTreeWidgetItem(ui.lstModules);
        row->setText(kModuleColumn, QString::number(module));
        row->setText(kValuesColumn, values);
        row->setText(kOutcomeColumn, tr("being set up"));
        row->setText(kPortColumn, name);
        ui.lstModules->scrollToItem(row);
        ShowPort(port, tr("setting up"), tr("%1: %2").arg(module).arg(values));
        if (!Several())
            emit status(tr("%1: sending %2...").arg(Position(), values));
    } else if (const auto* ended = std::get_if<TModuleEnded>(&event)) {
        const QString outcome = ended->SetUp()
                                    ? tr("set up")
                                    : tr("failed: %1: %2").arg(FromBytes(ended->Failure->Command),
                                                               FromBytes(FailureText(*ended->Failure)));
        const auto rows = ui.lstModules->findItems(QString::number(module), Qt::MatchExactly, kModuleColumn);
        if (!rows.isEmpty())
            rows.front()->setText(kOutcomeColumn, outcome);
        ShowPort(port, tr("module %1 %2").arg(module).arg(ended->SetUp() ? tr("set up") : tr("failed")));
    } else if (const auto* awaited = std::get_if<TModuleAwaited>(&event)) {
        switch (awaited->What) {
        case TAwaited::Module:
            ShowPort(port, tr("waiting for a module"));
            if (!Several())
                emit status(tr("%1: waiting for a module on %2...").arg(Position(), name));
            break;
        case TAwaited::Removal:
            ShowPort(port, tr("waiting for it to be removed"));
            if (!Several())
                emit status(tr("%1 set up; remove it, then put in the next.")
                                .arg(tr("Module %1").arg(ui.lstModules->topLevelItemCount())));
            break;
        case TAwaited::Port:
            ShowPort(port, tr("waiting for it to come back"));
            if (!Several())
                emit status(tr("%1: waiting for %2 to come back...").arg(Position(), name));
            break;
        }
    }
    if (Several() && !stopAfterModules_)
        emit status(tr("%1 of %2 modules set up, on %3 ports.")
                        .arg(plan_->Done())
                        .arg(plan_->Job().Modules)
                        .arg(ports_->Ports()));
    if (port == 0)
        emit ownEvent(event, ports_->UnderWay(0).has_value() || std::holds_alternative<TModuleEnded>(event));
}

void TBatchPanel::Ended(TResult result) {
    const std::size_t done = plan_->Done();
    const std::size_t modules = plan_->Job().Modules;
    if (recordFailure_)
        emit status(*recordFailure_);
    else if (result == TResult::Completed)
        emit status(tr("All %1 modules set up.").arg(modules));
    else if (stopAfterModules_)
        emit status(tr("Stopped after module %1; %2 of %3 modules set up.")
                        .arg(ui.lstModules->topLevelItemCount())
                        .arg(done)
                        .arg(modules));
    else
        emit status(tr("Cancelled; %1 of %2 modules set up.").arg(done).arg(modules));
    for (std::size_t port = 0; port < ports_->Ports(); ++port)
        ShowPort(port, ports_->Lost(port) ? tr("gone") : tr("done"));
    record_.reset();
    // The other ports are let go once the batch has returned from this call (or with the
    // panel, should the window go first).
    ports_.release()->deleteLater();
    emit finished(result);
}

void TBatchPanel::Browse() {
    const QString typed = ui.edtRecord->text().trimmed();
    const QString path = QFileDialog::getSaveFileName(
        window_, tr("Record File"),
        typed.isEmpty() ? kelvara::ui::SaveFolder() : kelvara::ui::InSaveFolder(typed),
        tr("CSV files (*.csv);;All files (*)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return;
    ui.edtRecord->setText(path);
    kelvara::ui::RememberSaveFolder(path);
}
