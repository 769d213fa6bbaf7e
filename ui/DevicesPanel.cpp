#include "DevicesPanel.h"

#include "ListPanel.h"
#include "Scan.h"
#include "ui_ModuleWindow.h"

#include <QKeyEvent>

using namespace kelvara::link;

namespace {

enum TColumn { kTypeColumn, kAddressColumn, kNameColumn };

} // namespace

TDevicesPanel::TDevicesPanel(Ui::TfrmModule& form, QObject* parent) : QObject(parent), ui(form) {
    const QFontMetrics metrics = ui.lstDevices->fontMetrics();
    ui.lstDevices->setColumnWidth(kTypeColumn, metrics.horizontalAdvance(QStringLiteral("TypeWW")));
    ui.lstDevices->setColumnWidth(kAddressColumn, metrics.horizontalAdvance(QStringLiteral("C4BE84123456WW")));
    ui.lstDevices->installEventFilter(this);
    connect(ui.btnScan, &QPushButton::clicked, this, &TDevicesPanel::scanRequested);
    connect(ui.btnConnect, &QPushButton::clicked, this, &TDevicesPanel::Connect);
    connect(ui.btnDisconnectDevice, &QPushButton::clicked, this, &TDevicesPanel::disconnectRequested);
    connect(ui.lstDevices, &QTreeWidget::itemDoubleClicked, this, &TDevicesPanel::Connect);
}

void TDevicesPanel::Enable(bool free, bool connected) {
    ui.btnScan->setEnabled(free);
    ui.btnConnect->setEnabled(free && ui.lstDevices->currentItem());
    ui.btnDisconnectDevice->setEnabled(connected);
}

bool TDevicesPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui.lstDevices && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && ui.lstDevices->currentItem()) {
            Connect();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TDevicesPanel::Connect() {
    const QTreeWidgetItem* row = ui.lstDevices->currentItem();
    if (!row || !ui.btnScan->isEnabled())
        return;
    const QString type = row->text(kTypeColumn);
    emit connectRequested(type.isEmpty() ? '0' : type.front().toLatin1(), row->text(kAddressColumn));
}

void TDevicesPanel::SetState(const QString& text) {
    // However long, the state never widens the window; the whole of it is in its tooltip.
    ui.lbDeviceState->setText(Cut(text, 200));
    ui.lbDeviceState->setToolTip(text);
    emit status(text);
}

void TDevicesPanel::Scanning() {
    doing_ = TDoing::Scanning;
    acknowledged_ = false;
    refusal_.clear();
    ui.lstDevices->clear();
    rows_.clear();
    ui.lstDevices->show();
    SetState(tr("Scanning..."));
}

void TDevicesPanel::Connecting(const QString& address) {
    doing_ = TDoing::Connecting;
    device_ = address;
    refusal_.clear();
    state_.reset();
    SetState(tr("Connecting to %1...").arg(address));
}

void TDevicesPanel::See(const TEvent& event) {
    if (const auto* device = std::get_if<TDeviceFound>(&event)) {
        // A device found again keeps its row; its later name wins.
        const QString address = FromBytes(device->Address);
        QTreeWidgetItem*& row = rows_[address];
        if (!row)
            row = new QTreeWidgetItem(ui.lstDevices);
        row->setText(kTypeColumn, QString(QLatin1Char(device->Type)));
        row->setText(kAddressColumn, address);
        row->setText(kNameColumn, FromBytes(ShownBytes(device->Name, false)));
        if (!ui.lstDevices->currentItem())
            ui.lstDevices->setCurrentItem(row);
        SetState(tr("Scanning... %n device(s) found.", nullptr, ui.lstDevices->topLevelItemCount()));
    } else if (const auto* outcome = std::get_if<TOutcome>(&event)) {
        acknowledged_ = outcome->Acknowledged();
        if (!outcome->Acknowledged())
            refusal_ = tr("%1: %2.").arg(FromBytes(outcome->Command), FromBytes(FailureText(*outcome)));
    } else if (const auto* state = std::get_if<TConnectionState>(&event)) {
        state_ = *state;
        const QString answer = state->Answer.empty() ? QString() : QStringLiteral(" (%1)").arg(FromBytes(state->Answer));
        switch (state->State) {
        case TLinkState::Connected:
            if (state->Try > 0)
                SetState(tr("Rejoined %1 after %2 s, %3.")
                             .arg(device_, QString::number(static_cast<double>(state->DownMs) / 1000.0, 'f', 1),
                                  state->Try == 1 ? tr("1 try") : tr("%1 tries").arg(state->Try)));
            else
                SetState(tr("Connected to %1.").arg(device_));
            break;
        case TLinkState::Failed:
            SetState(answer.isEmpty() ? tr("Connecting to %1 failed: no answer.").arg(device_)
                                      : tr("Connecting to %1 failed%2.").arg(device_, answer));
            break;
        case TLinkState::Dropped:
            SetState(tr("The connection to %1 dropped%2.").arg(device_, answer));
            break;
        case TLinkState::Disconnected:
            SetState(tr("Disconnected from %1.").arg(device_));
            break;
        case TLinkState::Rejoining:
            SetState(tr("The link to %1 is down; rejoining it (try %2)...").arg(device_).arg(state->Try));
            break;
        }
    }
}

void TDevicesPanel::Ended(TResult result) {
    const TDoing was = std::exchange(doing_, TDoing::Nothing);
    if (!refusal_.isEmpty()) {
        SetState(refusal_);
    } else if (was == TDoing::Scanning) {
        const int found = ui.lstDevices->topLevelItemCount();
        if (result == TResult::Completed)
            SetState(tr("Scan done: %n device(s) found.", nullptr, found));
        else if (result == TResult::Cancelled)
            SetState(tr("Scan stopped: %n device(s) found.", nullptr, found));
        else if (acknowledged_)
            SetState(tr("The scan did not end within %1 s: %n device(s) found.", nullptr, found)
                         .arg(kDefaultScanSeconds));
        ui.lstDevices->setFocus(Qt::OtherFocusReason);
    } else if (was == TDoing::Connecting && !state_ && result != TResult::Completed) {
        SetState(tr("Connecting to %1 stopped.").arg(device_));
    }
}
