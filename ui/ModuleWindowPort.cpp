// The module window's port: opened when first needed, without waiting for it; lost, looked for
// and opened again; closed by Disconnect.
#include "ModuleWindow.h"

#include "BatchPanel.h"
#include "ConsolePanel.h"
#include "ListPanel.h"
#include "PortPanel.h"
#include "SerialPort.h"
#include "Transcript.h"
#include "ui_ModuleWindow.h"

#include <QFile>

#include <utility>

using namespace kelvara::link;

void TfrmModule::WhenOpen(std::function<void()> then) {
    if (session_.IsOpen()) {
        then();
        return;
    }
    // A port is opened for a window the user sees, never for one that has gone.
    if (!isVisible() || session_.Opening())
        return;
    const QString port = port_->ChosenPort();
    if (port.isEmpty()) {
        SetStatus(tr("Choose a port, or type %1.").arg(TPortPanel::TypedPortExample()));
        ui->cbPort->setFocus(Qt::OtherFocusReason);
        return;
    }
    // Opening may take seconds (a Bluetooth link's port connects first): the window goes on
    // meanwhile, and what was asked is done once the port is open.
    afterOpen_ = std::move(then);
    openingPort_ = port;
    session_.OpenLater(QFile::encodeName(port).toStdString(), port_->Settings().BaudRate);
    if (session_.Opening()) {
        SetStatus(tr("Opening %1...").arg(port));
        UpdateControls();
    }
}

void TfrmModule::OpenEnded(bool open) {
    std::function<void()> then = std::exchange(afterOpen_, nullptr);
    const QString port = std::exchange(openingPort_, QString());
    if (!open) {
        const std::string name = QFile::encodeName(port).toStdString();
        QString text = tr("Cannot open %1: %2.").arg(port, session_.OpenFailure().Reason);
        if (session_.OpenFailure().PermissionDenied())
            text += QLatin1Char('\n') + tr("%1.").arg(PermissionHint(name));
        SetStatus(text);
        UpdateControls();
        ui->cbPort->setFocus(Qt::OtherFocusReason);
        return;
    }
    const TSendSettings settings = port_->Settings();
    Note(FromBytes(PortOpenedNews(session_.PortName(), settings.BaudRate, settings.LineEnd)));
    port_->Save();
    UpdateControls();
    // Once the session has told what it is telling.
    if (then)
        session_.Later(std::move(then));
}

void TfrmModule::PortLost() {
    refusal_.clear();
    const QString port = FromBytes(session_.PortName());
    Note(FromBytes(PortLostNews(session_.PortName(), session_.LostReason())));
    // What a list that ended with the port says stays above.
    const auto& failure = list_->Failure();
    const QString before = failure && failure->Verdict == TVerdict::ConnectionLost
                               ? ui->lbStatus->text() + QLatin1Char('\n')
                               : QString();
    list_->ForgetFailure();
    SetStatus(before + tr("%1 went away (unplugged?). It is opened again with the same settings "
                          "as soon as it comes back; nothing is sent again by itself.")
                           .arg(port));
    UpdateControls();
    if (closeWhenStopped_)
        close();
}

void TfrmModule::ReopenRefused() {
    const QString port = FromBytes(session_.PortName());
    const QString why = session_.OpenFailure().Reason;
    if (why == refusal_)
        return;
    refusal_ = why;
    Note(FromBytes(PortRefusedNews(session_.PortName(), why.toStdString())));
    SetStatus(tr("%1 is back but cannot be opened: %2. It is tried again until it opens; "
                 "Disconnect stops the tries.")
                  .arg(port, why));
}

void TfrmModule::PortBack() {
    refusal_.clear();
    const QString port = FromBytes(session_.PortName());
    Note(FromBytes(PortBackNews(session_.PortName(), port_->Settings().BaudRate)));
    if (!batch_->Running())
        SetStatus(tr("%1 came back and is open again, with the same settings.").arg(port));
    UpdateControls();
}

void TfrmModule::btnDisconnectClick() {
    if (IsBusy())
        return;
    const bool wasOpen = session_.IsOpen();
    session_.Close();
    if (wasOpen)
        Note(FromBytes(PortClosedNews(session_.PortName())));
    SetStatus(tr("Disconnected. The port opens again when you send, find or type a command."));
    UpdateControls();
    ui->cbPort->setFocus(Qt::OtherFocusReason);
}
