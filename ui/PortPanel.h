#pragma once

// The module window's port and its settings: the ports found (or a path typed), the baud rate,
// line ending, timeout and pause, remembered from one window to the next.

#include "Link.h"

#include <QObject>
#include <QString>

#include <optional>

namespace Ui {
class TfrmModule;
}

// "None", "CR", "LF" or "CR LF".
QString LineEndText(kelvara::link::TLineEnd lineEnd);

class TPortPanel : public QObject {
    Q_OBJECT

  public:
    TPortPanel(Ui::TfrmModule& ui, QObject* parent);

    // Looks for the ports again; a path the user typed survives.
    void Refresh();
    // The port chosen from the list, or the path typed.
    QString ChosenPort() const;
    // How to name a port to type on this system: "a device path such as /dev/ttyUSB0".
    static QString TypedPortExample();
    kelvara::link::TSendSettings Settings() const;
    // What an event of the settings finder says: the status, and a note for the transcript once
    // the settings are found (they are then shown).
    struct TFindNews {
        QString Status;
        QString Note;
    };
    std::optional<TFindNews> FindNews(const kelvara::link::TEvent& event);
    // The settings can change while nothing is under way; the port while it is closed.
    void Enable(bool settings, bool port);

    void Load();
    void Save() const;

  signals:
    // The user chose another rate.
    void baudRateChosen(int baudRate);

  private:
    Ui::TfrmModule& ui;
};
