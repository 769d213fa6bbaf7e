// The module window's connection to a remote device: what the user types goes to the device;
// while a link that rejoins is down, it waits in the connection, shown as waiting, and goes once
// the link is back.
#include "ModuleWindow.h"

#include "Connection.h"
#include "ConsolePanel.h"
#include "DevicesPanel.h"
#include "ListPanel.h"
#include "ui_ModuleWindow.h"

#include <QSignalBlocker>

#include <utility>

using namespace kelvara::link;

void TfrmModule::SendData(std::string data) {
    const TConnection* connection = ConnectionRunning();
    if (!connection)
        return;
    // Nothing typed reaches the module while the link is down, as it would take it for a
    // command: the connection keeps it until the link is back.
    if (!connection->Connected()) {
        Note(tr("waiting for the link: %1").arg(FromBytes(ShownReply(data))));
        SetStatus(tr("%n line(s) wait to be sent once the link to %1 is back.", nullptr, ++waitingLines_)
                      .arg(devices_->Device()));
    }
    session_.DriveAs<TConnection>(
        [data = std::move(data)](TConnection& c, Ms now) { return c.Send(data, now); });
}

void TfrmModule::LinkSeen(const TConnectionState& state) {
    const TConnection* connection = ConnectionRunning();
    const bool rejoining = connection && connection->Rejoining();
    // While the link is rejoined, the line stays the device's: what is typed waits for it.
    console_->SetDataMode(state.State == TLinkState::Connected || rejoining ? devices_->Device() : QString());
    // Back, the connection has sent what waited, in the order it was typed.
    if (state.State == TLinkState::Connected && waitingLines_ > 0)
        SetStatus(tr("%n waiting line(s) sent.", nullptr, std::exchange(waitingLines_, 0)));
}

void TfrmModule::DropWaiting() {
    if (waitingLines_ == 0)
        return;
    const int dropped = std::exchange(waitingLines_, 0);
    Note(tr("%n waiting line(s) dropped with the link", nullptr, dropped));
    SetStatus(tr("Disconnected; %n line(s) that waited for the link were not sent.", nullptr, dropped));
}

void TfrmModule::ShareToggled(bool on) {
    if (!on) {
        if (share_)
            Note(tr("the link is no longer shared"));
        share_.reset();
        ui->lbShare->clear();
        ui->spnSharePort->setEnabled(true);
        return;
    }
    auto share = std::make_unique<TLinkShare>();
    std::string why;
    if (!share->Start({TShareRequest::TKind::Tcp, "127.0.0.1", ui->spnSharePort->value(), {}}, why)) {
        SetStatus(tr("Cannot share on port %1: %2.").arg(ui->spnSharePort->value()).arg(FromBytes(why)));
        const QSignalBlocker quiet(ui->chkShare);
        ui->chkShare->setChecked(false);
        return;
    }
    share_ = std::move(share);
    const QString where = FromBytes(share_->Where());
    connect(share_.get(), &TLinkShare::toDevice, this, &TfrmModule::FromShare);
    connect(share_.get(), &TLinkShare::news, this, [this, where](const QString& what) {
        Note(tr("share: %1").arg(what));
        ui->lbShare->setText(tr("Shared on %1: %2.").arg(where, what));
    });
    ui->spnSharePort->setEnabled(false);
    ui->lbShare->setText(tr("Shared on %1; no program yet.").arg(where));
    Note(tr("the link is shared on %1").arg(where));
}

void TfrmModule::FromShare(const std::string& bytes) {
    session_.DriveAs<TConnection>([bytes](TConnection& c, Ms now) { return c.SendRaw(bytes, now); });
}
