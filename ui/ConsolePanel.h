#pragma once

// The module window's console: the transcript of all that is exchanged (as text or with hex),
// copied or saved, and the line where any command is typed, with its history and the guide's
// commands offered as completions.

#include "CommandFile.h"
#include "Link.h"
#include "Transcript.h"

#include <QObject>
#include <QStringList>

#include <string>
#include <variant>
#include <vector>

namespace Ui {
class TfrmModule;
}
class QWidget;

class TConsolePanel : public QObject {
    Q_OBJECT

  public:
    TConsolePanel(Ui::TfrmModule& ui, const std::vector<std::string>& guide, QWidget* window);

    // Adds what the event shows to the transcript.
    void See(const kelvara::link::TEvent& event);
    // Connected to a remote device (its address), the line sends data; empty: commands again.
    void SetDataMode(const QString& device);
    bool DataMode() const { return dataMode_; }
    // A line of the port's life: opened, lost, back, closed; settings found.
    void Note(kelvara::link::Ms at, const QString& text);

    // The command typed, read as a line of a command file is read.
    std::variant<std::string, kelvara::TCommandFileError> Typed() const;
    // The typed command went to the module: it joins the history and the line is emptied.
    void Sent();

    const kelvara::link::TTranscript& Transcript() const { return transcript_; }
    bool SaveTo(const QString& path);

  signals:
    // Enter in the command line, with no completion chosen.
    void commandEntered();
    void status(const QString& text);

  protected:
    // Up and Down in the command line walk through the commands sent; Enter sends, whether or
    // not the completions are offered, unless one of them is chosen.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Add(kelvara::link::Ms at, kelvara::link::TEntryKind kind, const std::string& text);
    void Render();
    void Copy();
    void Save();

    Ui::TfrmModule& ui;
    QWidget* window_;
    kelvara::link::TTranscript transcript_;
    QStringList history_;
    QString placeholder_;
    bool dataMode_ = false;
    int historyIndex_ = 0;
};
