#pragma once

// The module window's devices: Scan fills a table of the devices around a module in the master
// role as they are found; Connect (or Enter on a row) connects to the one chosen, and the panel
// says whether the connection stands, failed or dropped; Disconnect Device ends it.

#include "Link.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>

namespace Ui {
class TfrmModule;
}

class TDevicesPanel : public QObject {
    Q_OBJECT

  public:
    TDevicesPanel(Ui::TfrmModule& ui, QObject* parent);

    // A scan or a connection starts (the device's address), or ends.
    void Scanning();
    void Connecting(const QString& address);
    // An event of the scan or the connection under way.
    void See(const kelvara::link::TEvent& event);
    // The scan or the connection has ended.
    void Ended(kelvara::link::TResult result);
    // The device being connected to, or connected.
    const QString& Device() const { return device_; }
    // What may be pressed: nothing else runs (free), a connection stands (connected).
    void Enable(bool free, bool connected);

  signals:
    void scanRequested();
    void connectRequested(char type, const QString& address);
    void disconnectRequested();
    void status(const QString& text);

  protected:
    // Enter on a row of the table connects to its device.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Connect();
    void SetState(const QString& text);

    Ui::TfrmModule& ui;
    enum class TDoing { Nothing, Scanning, Connecting } doing_ = TDoing::Nothing;
    QString device_;
    QHash<QString, class QTreeWidgetItem*> rows_; // by address
    bool acknowledged_ = false; // the scan's command
    QString refusal_;
    std::optional<kelvara::link::TConnectionState> state_;
};
