#include "ModuleWindow.h"

#include "BatchPanel.h"
#include "BatchRun.h"
#include "Lines.h"
#include "Connection.h"
#include "Console.h"
#include "ConsolePanel.h"
#include "DevicesPanel.h"
#include "ListPanel.h"
#include "ListSender.h"
#include "PortPanel.h"
#include "Scan.h"
#include "SerialPort.h"
#include "SerialPorts.h"
#include "SettingsFinder.h"
#include "ui_ModuleWindow.h"

#include <QCloseEvent>

using namespace kelvara::link;

TfrmModule::TfrmModule(kelvara::TCommandList list, std::optional<kelvara::TListSource> source,
                       QWidget* parent, TPorts ports)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmModule>()), session_(std::move(ports)) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    port_ = new TPortPanel(*ui, this);
    list_ = new TListPanel(*ui, kelvara::SetUpCommands(list), this);
    console_ = new TConsolePanel(*ui, kelvara::GuideCommands(list), this);
    batch_ = new TBatchPanel(*ui, std::move(source), this);
    devices_ = new TDevicesPanel(*ui, this);
    ui->splModule->setStretchFactor(0, 2); // the list
    ui->splModule->setStretchFactor(1, 1); // the ports of a batch
    ui->splModule->setStretchFactor(2, 1); // the modules of a batch
    ui->splModule->setStretchFactor(3, 2); // the devices
    ui->splModule->setStretchFactor(4, 3); // the console

    connect(ui->btnSend, &QPushButton::clicked, this, &TfrmModule::btnSendClick);
    connect(ui->btnFind, &QPushButton::clicked, this, &TfrmModule::btnFindClick);
    connect(ui->btnDisconnect, &QPushButton::clicked, this, &TfrmModule::btnDisconnectClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmModule::btnCloseClick);
    connect(ui->btnBatch, &QPushButton::clicked, this, &TfrmModule::btnBatchClick);
    connect(console_, &TConsolePanel::commandEntered, this, &TfrmModule::edtCommandReturnPressed);
    connect(console_, &TConsolePanel::status, this, &TfrmModule::SetStatus);
    connect(batch_, &TBatchPanel::status, this, &TfrmModule::SetStatus);
    connect(batch_, &TBatchPanel::finished, this, &TfrmModule::BatchFinished);
    connect(batch_, &TBatchPanel::notStarted, this, [this] {
        UpdateControls();
        if (closeWhenStopped_)
            close();
    });
    // The list shows the module under way on the window's own port.
    connect(batch_, &TBatchPanel::ownEvent, this, [this](const TEvent& event, bool inModule) {
        if (const auto* taken = std::get_if<TModuleTaken>(&event))
            list_->Reset(taken->Commands);
        else if (inModule)
            list_->See(event);
    });
    connect(ui->btnRefresh, &QPushButton::clicked, batch_, &TBatchPanel::Refresh);
    connect(devices_, &TDevicesPanel::scanRequested, this, &TfrmModule::Scan);
    connect(devices_, &TDevicesPanel::status, this, &TfrmModule::SetStatus);
    connect(devices_, &TDevicesPanel::connectRequested, this, &TfrmModule::Connect);
    connect(ui->chkShare, &QCheckBox::toggled, this, &TfrmModule::ShareToggled);
    connect(devices_, &TDevicesPanel::disconnectRequested, this, [this] {
        DropWaiting();
        session_.DriveAs<TConnection>([](TConnection& c, Ms now) { return c.Disconnect(now); });
    });
    connect(port_, &TPortPanel::baudRateChosen, this, [this](int baudRate) {
        if (session_.IsOpen() && session_.SetBaudRate(baudRate))
            Note(tr("now at %1 baud").arg(baudRate));
    });

    connect(&session_, &TModuleSession::linkEvent, this, &TfrmModule::Seen);
    connect(&session_, &TModuleSession::finished, this, &TfrmModule::Finished);
    connect(&session_, &TModuleSession::portLost, this, &TfrmModule::PortLost);
    connect(&session_, &TModuleSession::portBack, this, &TfrmModule::PortBack);
    connect(&session_, &TModuleSession::reopenRefused, this, &TfrmModule::ReopenRefused);
    connect(&session_, &TModuleSession::openEnded, this, &TfrmModule::OpenEnded);
    connect(&session_, &TModuleSession::portTrouble, this, [this](const QString& what) {
        Note(tr("%1: %2").arg(FromBytes(session_.PortName()), what));
    });
    session_.SetReopen(true);

    portNames_ = PortNames();
    portWatch_.setInterval(1000);
    connect(&portWatch_, &QTimer::timeout, this, [this] {
        // The log's size, and a log that can no longer be synced, within a second.
        console_->ShowLog();
        if (QStringList names = PortNames(); names != portNames_) {
            portNames_ = std::move(names);
            port_->Refresh();
            batch_->Refresh();
        }
    });
    portWatch_.start();

    port_->Load();
    SetStatus(tr("%1 commands to send. Choose the module's port and press Send, type a command "
                 "below, or press Find if the module's settings are not known.")
                  .arg(list_->Commands().size()));
    UpdateControls();
    ui->cbPort->setFocus(Qt::OtherFocusReason);
}

// The panels watch the form's widgets: they go first, while the form is whole.
TfrmModule::~TfrmModule() { qDeleteAll(QObjectList{devices_, batch_, console_, list_, port_}); }

const kelvara::link::TTranscript& TfrmModule::Transcript() const { return console_->Transcript(); }
bool TfrmModule::SaveTranscriptTo(const QString& path) { return console_->SaveTo(path); }

bool TfrmModule::IsSending() const { return session_.Running<TListSender>() != nullptr; }
bool TfrmModule::IsInBatch() const { return batch_->Running(); }

bool TfrmModule::Stoppable() const {
    return session_.Opening() || batch_->Running() || (session_.IsRunning() && !ConsoleRunning());
}

bool TfrmModule::IsBusy() const {
    if (const TConsole* console = ConsoleRunning(); console && !session_.Opening())
        return console->Busy();
    return Stoppable();
}

TConsole* TfrmModule::ConsoleRunning() const { return session_.Running<TConsole>(); }
TConnection* TfrmModule::ConnectionRunning() const { return session_.Running<TConnection>(); }

void TfrmModule::SetStatus(const QString& text) {
    // However long (a reply of noise), the status never widens the window.
    ui->lbStatus->setText(Cut(text, 400));
}

void TfrmModule::Note(const QString& text) { console_->Note(session_.Now(), text); }

void TfrmModule::Begin() {
    session_.DriveAs<TConsole>([](TConsole& c, Ms now) { return c.End(now); });
    session_.SetBaudRate(port_->Settings().BaudRate);
    port_->Save();
    closeWhenStopped_ = false;
}

void TfrmModule::Run(std::unique_ptr<TPolicy> policy) {
    Begin();
    session_.Run(std::move(policy));
    UpdateControls();
}

void TfrmModule::btnSendClick() {
    if (IsBusy() || list_->Commands().empty())
        return;
    WhenOpen([this] {
        list_->Reset();
        SetStatus(tr("Sending to %1...").arg(port_->ChosenPort()));
        ui->btnClose->setFocus(Qt::OtherFocusReason);
        Run(std::make_unique<TListSender>(list_->Commands(), port_->Settings()));
    });
}

void TfrmModule::btnFindClick() {
    if (IsBusy())
        return;
    WhenOpen([this] {
        SetStatus(tr("Looking for the module's settings..."));
        ui->btnClose->setFocus(Qt::OtherFocusReason);
        Run(std::make_unique<TSettingsFinder>());
    });
}

void TfrmModule::Scan() {
    if (IsBusy())
        return;
    WhenOpen([this] {
        devices_->Scanning();
        Run(std::make_unique<TScan>(port_->Settings()));
    });
}

void TfrmModule::Connect(char type, const QString& address) {
    if (IsBusy())
        return;
    WhenOpen([this, type, address] {
        devices_->Connecting(address);
        waitingLines_ = 0;
        Run(std::make_unique<TConnection>(type, address.toStdString(), port_->Settings(), kQuietGapMs,
                                          ui->chkRejoin->isChecked()));
        ui->edtCommand->setFocus(Qt::OtherFocusReason);
    });
}

void TfrmModule::edtCommandReturnPressed() {
    // Connected, the line is data for the remote device, sent as it is; while the link is being
    // rejoined, it waits.
    if (const TConnection* connection = ConnectionRunning();
        connection && (connection->Connected() || connection->Rejoining())) {
        std::string data = ui->edtCommand->text().toUtf8().toStdString();
        if (ui->chkEscapes->isChecked()) {
            // A line with a wrong escape stays, to be mended; nothing is sent.
            std::string why;
            auto bytes = kelvara::link::Unescaped(data, why);
            if (!bytes) {
                SetStatus(tr("Not sent: %1.").arg(FromBytes(why)));
                return;
            }
            data = std::move(*bytes);
        }
        console_->Sent();
        SendData(std::move(data));
        return;
    }
    if (Stoppable())
        return;
    // A console that is stopping (the window closing after the command under way) takes no more.
    if (closeWhenStopped_ || (ConsoleRunning() && ConsoleRunning()->Ending()))
        return;
    auto read = console_->Typed();
    if (const auto* refused = std::get_if<kelvara::TCommandFileError>(&read)) {
        SetStatus(tr("The command %1.").arg(FromBytes(refused->Reason)));
        return;
    }
    std::string command = std::move(std::get<std::string>(read));
    if (command.empty())
        return;
    WhenOpen([this, command = std::move(command)]() mutable {
        const TSendSettings settings = port_->Settings();
        if (TConsole* console = ConsoleRunning())
            console->ChangeSettings(settings.LineEnd, settings.TimeoutMs);
        else
            Run(std::make_unique<TConsole>(settings.LineEnd, settings.TimeoutMs));
        console_->Sent();
        session_.DriveAs<TConsole>(
            [command = std::move(command)](TConsole& c, Ms now) mutable { return c.Submit(std::move(command), now); });
        UpdateControls();
    });
}

void TfrmModule::btnBatchClick() {
    if (IsBusy() || !batch_->Available() || !batch_->Prepare())
        return;
    WhenOpen([this] {
        Begin();
        ui->btnClose->setFocus(Qt::OtherFocusReason);
        batch_->Start(session_, port_->Settings());
        UpdateControls();
    });
}

void TfrmModule::Seen(const TEvent& event) {
    if (const auto* data = std::get_if<TData>(&event); data && share_)
        share_->FromDevice(data->Bytes);
    console_->See(event);
    if (Told<TListSender>())
        list_->See(event);
    if (Told<TScan>() || Told<TConnection>())
        devices_->See(event);
    if (const auto* state = std::get_if<TConnectionState>(&event))
        LinkSeen(*state);
    if (const auto* outcome = std::get_if<TOutcome>(&event); outcome && Told<TConsole>()) {
        SetStatus(outcome->Acknowledged()
                      ? tr("%1: acknowledged.").arg(FromBytes(outcome->Command))
                      : tr("%1: %2.").arg(FromBytes(outcome->Command), FromBytes(FailureText(*outcome))));
    } else if (const auto news = port_->FindNews(event)) {
        if (!news->Note.isEmpty())
            Note(news->Note);
        SetStatus(news->Status);
    }
    UpdateControls();
}

void TfrmModule::Finished(TResult result) {
    // A batch ends when every port's run has: the batch panel says when.
    if (session_.Ended<TBatchRun>() || batch_->Running())
        return;
    DropWaiting();
    console_->SetDataMode({});
    UpdateControls();
    if (session_.Ended<TScan>() || session_.Ended<TConnection>()) {
        devices_->Ended(result);
    } else if (session_.Ended<TListSender>()) {
        ListFinished(result);
    } else if (session_.Ended<TSettingsFinder>()) {
        if (result == TResult::NotFound)
            SetStatus(tr("No module answered at any setting. Check the port and the wiring, and "
                         "that the module is powered."));
        else if (result == TResult::Cancelled)
            SetStatus(tr("Find cancelled; the settings are as they were."));
        if (result != TResult::Failed)
            ui->btnFind->setFocus(Qt::OtherFocusReason);
    }
    if (closeWhenStopped_)
        close();
}

void TfrmModule::ListFinished(TResult result) {
    if (const QString summary = list_->Summary(result); !summary.isEmpty())
        SetStatus(summary);
    // The list is not sent again by a stray Enter: it may begin with a factory reset.
    ui->btnSend->setDefault(false);
    ui->btnSend->setAutoDefault(false);
    ui->edtCommand->setFocus(Qt::OtherFocusReason);
}

void TfrmModule::BatchFinished() {
    UpdateControls();
    ui->btnBatch->setFocus(Qt::OtherFocusReason);
    if (closeWhenStopped_)
        close();
}

void TfrmModule::UpdateControls() {
    const bool busy = IsBusy();
    const bool stoppable = Stoppable();
    const bool waiting = session_.WaitingForPort();
    // The port is changed once it is closed.
    port_->Enable(!busy, !(busy || session_.IsOpen() || waiting));
    ui->btnSend->setEnabled(!busy && !list_->Commands().empty());
    ui->btnFind->setEnabled(!busy);
    ui->btnDisconnect->setEnabled(!busy && (session_.IsOpen() || waiting));
    ui->edtCommand->setEnabled(!stoppable || ConnectionRunning());
    const TConnection* connection = ConnectionRunning();
    devices_->Enable(!busy, connection && connection->Connected());
    ui->gbBatch->setEnabled(!busy && batch_->Available());
    ui->btnClose->setText(stoppable ? tr("Cancel") : tr("Close"));
}

void TfrmModule::Cancel() {
    if (!IsBusy())
        return;
    if (session_.Opening()) {
        // What waited for the port is not done.
        afterOpen_ = nullptr;
        session_.Close();
        SetStatus(tr("Opening %1 cancelled.").arg(std::exchange(openingPort_, QString())));
        UpdateControls();
        return;
    }
    if (batch_->Running()) {
        // A module is never left half set up: the batch stops once those under way are done.
        batch_->Stop();
        return;
    }
    SetStatus(tr("Stopping after the command under way..."));
    session_.Stop();
}

void TfrmModule::btnCloseClick() {
    if (Stoppable())
        Cancel();
    else
        close();
}

void TfrmModule::reject() {
    if (Stoppable())
        Cancel();
    else if (IsBusy())
        close(); // a typed command under way is answered first
    else
        QDialog::reject();
}

void TfrmModule::done(int result) {
    // However the window goes, the ports go with it.
    portWatch_.stop();
    afterOpen_ = nullptr;
    closeWhenStopped_ = false;
    batch_->StopAtOnce();
    session_.Close();
    console_->StopLog();
    QDialog::done(result);
}

void TfrmModule::closeEvent(QCloseEvent* event) {
    if (IsBusy()) {
        Cancel();
        if (IsBusy()) {
            // The window goes once the command (or the batch's module) under way is done.
            closeWhenStopped_ = true;
            event->ignore();
            return;
        }
    }
    QDialog::closeEvent(event);
}
