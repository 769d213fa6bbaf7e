#pragma once

// The module window's console: the transcript of all that is exchanged (as text or with hex),
// copied or saved, and the line where any command is typed, with its history and the guide's
// commands offered as completions.

#include "CommandFile.h"
#include "Link.h"
#include "LinkLog.h"
#include "Transcript.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace Ui {
class TfrmModule;
}
class QTimer;
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

    // Every entry from now on is appended to the file as well (Log to File): false, said, when
    // it cannot be opened.
    bool LogTo(const QString& path);
    void StopLog();
    bool Logging() const { return log_ != nullptr; }
    // Shows the log's name and size; a log that can no longer be written is said and stopped.
    void ShowLog();

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
    // The device's bytes, a line an entry however it ends them; a line left unended is shown
    // once the device is quiet, or the connection ends.
    void FlushData();
    // The check box: on asks for the file, off stops the log.
    void LogToggled(bool on);
    void LogFailed();
    void Render();
    void Copy();
    void Save();

    Ui::TfrmModule& ui;
    QWidget* window_;
    kelvara::link::TTranscript transcript_;
    std::unique_ptr<kelvara::link::TLinkLog> log_;
    kelvara::link::TEventLines eventLines_;
    QTimer* dataQuiet_ = nullptr;
    kelvara::link::Ms lastAt_ = 0; // the time of the last entry, for the log's own notes
    QStringList history_;
    QString placeholder_;
    bool dataMode_ = false;
    int historyIndex_ = 0;
};
