#include "SendToModule.h"

#include "SerialPorts.h"
#include "ui_SendToModule.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>

using namespace kelvara::link;

namespace {

enum TColumn { kCommandColumn, kStateColumn, kReplyColumn };

QString FromBytes(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

QString StateText(const TCommandProgress& command, int timeoutMs) {
    switch (command.State) {
    case TCommandState::Waiting:
        return QStringLiteral("waiting");
    case TCommandState::Sending:
        return QStringLiteral("sending");
    case TCommandState::Acknowledged:
        return QStringLiteral("acknowledged");
    case TCommandState::Failed:
        return QStringLiteral("failed: ") + FromBytes(DescribeFailure(command, timeoutMs));
    case TCommandState::NotSent:
        break;
    }
    return QStringLiteral("not sent");
}

} // namespace

TfrmSend::TfrmSend(std::vector<std::string> commands, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmSend>()), commands_(std::move(commands)) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    const TSendSettings defaults;
    for (int rate : kStandardBaudRates)
        ui->cbBaud->addItem(QString::number(rate), rate);
    ui->cbBaud->setCurrentIndex(ui->cbBaud->findData(defaults.BaudRate));
    for (auto [lineEnd, text] : {std::pair{TLineEnd::None, "None"}, {TLineEnd::Cr, "CR"},
                                 {TLineEnd::Lf, "LF"}, {TLineEnd::CrLf, "CR LF"}})
        ui->cbLineEnd->addItem(QString::fromLatin1(text), static_cast<int>(lineEnd));
    ui->cbLineEnd->setCurrentIndex(ui->cbLineEnd->findData(static_cast<int>(defaults.LineEnd)));
    ui->spnTimeout->setRange(kMinTimeoutMs, kMaxTimeoutMs);
    ui->spnTimeout->setValue(defaults.TimeoutMs);
    ui->spnPause->setRange(kMinPauseMs, kMaxPauseMs);
    ui->spnPause->setValue(defaults.PauseMs);

    // Command and state are shown whole; the reply has what is left.
    QHeaderView* header = ui->lstCommands->header();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(kCommandColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kStateColumn, QHeaderView::ResizeToContents);
    ResetRows();
    ui->pbProgress->setRange(0, static_cast<int>(commands_.size()));

    connect(ui->btnSend, &QPushButton::clicked, this, &TfrmSend::btnSendClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmSend::btnCloseClick);
    connect(ui->btnRefresh, &QPushButton::clicked, this, &TfrmSend::btnRefreshClick);
    connect(&link_, &TModuleLink::commandChanged, this, &TfrmSend::ShowCommand);
    connect(&link_, &TModuleLink::finished, this, &TfrmSend::SendFinished);

    btnRefreshClick();
    ui->lbStatus->setText(
        tr("%1 commands to send. Choose the module's port and press Send.")
            .arg(commands_.size()));
    ui->cbPort->setFocus(Qt::OtherFocusReason);
}

TfrmSend::~TfrmSend() = default;

void TfrmSend::btnRefreshClick() {
    const QString typed = ui->cbPort->currentText();
    ui->cbPort->clear();
    for (const TPortDescription& port : AvailablePorts()) {
        const QString text = port.Description.isEmpty()
                                 ? port.Name
                                 : port.Name + QStringLiteral(" (") + port.Description + ')';
        ui->cbPort->addItem(text, port.Name);
    }
    // A path the user typed survives a fresh look; otherwise the first port found is chosen.
    if (!typed.isEmpty() && ui->cbPort->findText(typed) < 0)
        ui->cbPort->setEditText(typed);
}

QString TfrmSend::ChosenPort() const {
    const int index = ui->cbPort->currentIndex();
    if (index >= 0 && ui->cbPort->currentText() == ui->cbPort->itemText(index))
        return ui->cbPort->itemData(index).toString();
    return ui->cbPort->currentText().trimmed();
}

void TfrmSend::ResetRows() {
    ui->lstCommands->clear();
    for (const std::string& command : commands_) {
        auto* row = new QTreeWidgetItem(ui->lstCommands);
        row->setText(kCommandColumn, FromBytes(command));
        row->setText(kStateColumn, QStringLiteral("waiting"));
    }
    ui->pbProgress->setValue(0);
}

void TfrmSend::btnSendClick() {
    if (IsSending())
        return;
    const QString port = ChosenPort();
    if (port.isEmpty()) {
        ui->lbStatus->setText(tr("Choose a port, or type a device path such as /dev/ttyUSB0."));
        ui->cbPort->setFocus(Qt::OtherFocusReason);
        return;
    }
    TSendSettings settings;
    settings.BaudRate = ui->cbBaud->currentData().toInt();
    settings.LineEnd = static_cast<TLineEnd>(ui->cbLineEnd->currentData().toInt());
    settings.TimeoutMs = ui->spnTimeout->value();
    settings.PauseMs = ui->spnPause->value();

    ResetRows();
    closeWhenStopped_ = false;
    SetSending(true);
    ui->lbStatus->setText(tr("Sending to %1...").arg(port));
    if (!link_.Start(port, settings, commands_)) {
        SetSending(false);
        QString text = tr("Cannot open %1: %2.").arg(port, link_.OpenFailure().Reason);
        if (link_.OpenFailure().PermissionDenied)
            text += QLatin1Char('\n') + tr("%1.").arg(PermissionHint(port));
        ui->lbStatus->setText(text);
        ui->cbPort->setFocus(Qt::OtherFocusReason);
    }
}

void TfrmSend::ShowCommand(int index) {
    const TSendProtocol* protocol = link_.Protocol();
    QTreeWidgetItem* row = ui->lstCommands->topLevelItem(index);
    if (!protocol || !row)
        return;
    const TCommandProgress& command = protocol->Commands()[static_cast<std::size_t>(index)];
    row->setText(kStateColumn, StateText(command, ui->spnTimeout->value()));
    row->setText(kReplyColumn, FromBytes(ShownReply(command.Reply)));
    if (command.State == TCommandState::Sending || command.State == TCommandState::Failed)
        ui->lstCommands->scrollToItem(row);
    if (command.State == TCommandState::Acknowledged)
        ui->pbProgress->setValue(ui->pbProgress->value() + 1);
}

void TfrmSend::SendFinished() {
    SetSending(false);
    const TSendProtocol& protocol = *link_.Protocol();
    switch (protocol.Result()) {
    case TSendResult::AllAcknowledged:
        ui->lbStatus->setText(tr("All %1 commands acknowledged.").arg(commands_.size()));
        break;
    case TSendResult::Failed: {
        const TCommandProgress& failed = protocol.Commands()[*protocol.FailedCommand()];
        ui->lbStatus->setText(tr("%1: %2. Nothing after it was sent.")
                                  .arg(FromBytes(failed.Command),
                                       FromBytes(DescribeFailure(failed, ui->spnTimeout->value()))));
        break;
    }
    case TSendResult::Cancelled:
    case TSendResult::Running:
        if (const auto last = protocol.LastAcknowledged())
            ui->lbStatus->setText(tr("Cancelled; the last command acknowledged was %1.")
                                      .arg(FromBytes(protocol.Commands()[*last].Command)));
        else
            ui->lbStatus->setText(tr("Cancelled before any command was acknowledged."));
        break;
    }
    if (closeWhenStopped_)
        close();
}

void TfrmSend::SetSending(bool sending) {
    for (QWidget* setting : {static_cast<QWidget*>(ui->cbPort), static_cast<QWidget*>(ui->btnRefresh),
                             static_cast<QWidget*>(ui->cbBaud), static_cast<QWidget*>(ui->cbLineEnd),
                             static_cast<QWidget*>(ui->spnTimeout), static_cast<QWidget*>(ui->spnPause)})
        setting->setEnabled(!sending);
    ui->btnSend->setEnabled(!sending);
    ui->btnClose->setText(sending ? tr("Cancel") : tr("Close"));
    if (sending)
        ui->btnClose->setFocus(Qt::OtherFocusReason);
}

void TfrmSend::Cancel() {
    if (!IsSending())
        return;
    ui->lbStatus->setText(tr("Stopping after the command under way..."));
    link_.Cancel();
}

void TfrmSend::btnCloseClick() {
    if (IsSending())
        Cancel();
    else
        close();
}

void TfrmSend::reject() {
    if (IsSending())
        Cancel();
    else
        QDialog::reject();
}

void TfrmSend::closeEvent(QCloseEvent* event) {
    if (IsSending()) {
        Cancel();
        if (IsSending()) {
            // The window goes once the command under way is done and the port is closed.
            closeWhenStopped_ = true;
            event->ignore();
            return;
        }
    }
    QDialog::closeEvent(event);
}
