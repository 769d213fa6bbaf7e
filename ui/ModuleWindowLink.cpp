// The module window's connection to a remote device: what the user types goes to the device;
// while a link that rejoins is down, it waits, shown as waiting, and goes once the link is back.
#include "ModuleWindow.h"

#include "Connection.h"
#include "ConsolePanel.h"
#include "DevicesPanel.h"
#include "ListPanel.h"
#include "ui_ModuleWindow.h"

#include <utility>

using namespace kelvara::link;

void TfrmModule::SendData(std::string data) {
    const TConnection* connection = ConnectionRunning();
    if (!connection)
        return;
    // Nothing typed reaches the module while the link is down: it would take it as a command.
    if (!connection->Connected()) {
        Note(tr("waiting for the link: %1").arg(FromBytes(ShownReply(data))));
        waiting_.push_back(std::move(data));
        SetStatus(tr("%n line(s) wait to be sent once the link to %1 is back.", nullptr,
                     static_cast<int>(waiting_.size()))
                      .arg(devices_->Device()));
        return;
    }
    session_.DriveAs<TConnection>(
        [data = std::move(data)](TConnection& c, Ms now) { return c.Send(data, now); });
}

void TfrmModule::LinkSeen(const TConnectionState& state) {
    const TConnection* connection = ConnectionRunning();
    const bool rejoining = connection && connection->Rejoining();
    // While the link is rejoined, the line stays the device's: what is typed waits for it.
    console_->SetDataMode(state.State == TLinkState::Connected || rejoining ? devices_->Device() : QString());
    if (state.State != TLinkState::Connected || waiting_.empty())
        return;
    // Once the session has told what it is telling, in the order they were typed.
    session_.Later([this, lines = std::exchange(waiting_, {})]() mutable {
        for (std::string& line : lines)
            SendData(std::move(line));
        SetStatus(tr("%n waiting line(s) sent.", nullptr, static_cast<int>(lines.size())));
    });
}

void TfrmModule::DropWaiting() {
    if (waiting_.empty())
        return;
    const int dropped = static_cast<int>(std::exchange(waiting_, {}).size());
    Note(tr("%n waiting line(s) dropped with the link", nullptr, dropped));
    SetStatus(tr("Disconnected; %n line(s) that waited for the link were not sent.", nullptr, dropped));
}
