#include "SendToModule.h"

#include "ListSender.h"
#include "SerialPorts.h"
#include "ui_SendToModule.h"

#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>

using namespace kelvara::link;

namespace {

enum TColumn { kCommandColumn, kStateColumn, kReplyColumn };

QString FromBytes(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

QString StateText(const TEvent& event) {
    switch (event.Kind) {
    case TEventKind::Written:
        return QStringLiteral("sending");
    case TEventKind::Acknowledged:
        return QStringLiteral("acknowledged");
    case TEventKind::NotSent:
        return QStringLiteral("not sent");
    default:
        break;
    }
    return QStringLiteral("failed: ") + FromBytes(FailureText(event));
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
    connect(&link_, &TModuleLink::linkEvent, this, &TfrmSend::ShowEvent);
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
    acknowledged_ = 0;
    failure_.reset();
    lastAcknowledged_.clear();
    const std::string portName = QFile::encodeName(port).toStdString();
    if (!link_.Open(portName, settings.BaudRate)) {
        SetSending(false);
        QString text = tr("Cannot open %1: %2.").arg(port, link_.OpenFailure().Reason);
        if (link_.OpenFailure().PermissionDenied)
            text += QLatin1Char('\n') + tr("%1.").arg(PermissionHint(portName));
        ui->lbStatus->setText(text);
        ui->cbPort->setFocus(Qt::OtherFocusReason);
        return;
    }
    link_.Run(std::make_unique<TListSender>(commands_, settings));
}

void TfrmSend::ShowEvent(const TEvent& event) {
    const bool changesRow = event.Kind == TEventKind::Written || event.IsOutcome() ||
                            event.Kind == TEventKind::NotSent;
    QTreeWidgetItem* row = ui->lstCommands->topLevelItem(static_cast<int>(event.Index));
    if (!changesRow || !row)
        return;
    row->setText(kStateColumn, StateText(event));
    row->setText(kReplyColumn, FromBytes(ShownReply(event.Reply)));
    if (event.Kind == TEventKind::Written || event.IsOutcome())
        ui->lstCommands->scrollToItem(row);
    if (event.Kind == TEventKind::Acknowledged) {
        ui->pbProgress->setValue(++acknowledged_);
        lastAcknowledged_ = event.Command;
    } else if (event.IsOutcome()) {
        failure_ = event;
    }
}

void TfrmSend::SendFinished(TResult result) {
    // The port is open only while a send is under way.
    link_.Close();
    SetSending(false);
    switch (result) {
    case TResult::Completed:
        ui->lbStatus->setText(tr("All %1 commands acknowledged.").arg(commands_.size()));
        break;
    case TResult::Failed:
        ui->lbStatus->setText(tr("%1: %2. Nothing after it was sent.")
                                  .arg(FromBytes(failure_->Command),
                                       FromBytes(FailureText(*failure_))));
        break;
    case TResult::Cancelled:
    case TResult::NotFound:
        if (!lastAcknowledged_.empty())
            ui->lbStatus->setText(tr("Cancelled; the last command acknowledged was %1.")
                                      .arg(FromBytes(lastAcknowledged_)));
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
