#pragma once

#include "CommandTypes.h"
#include "ListSource.h"
#include "Session.h"
#include "LinkShare.h"
#include "Transcript.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class TfrmModule;
}
namespace kelvara::link {
class TConnection;
class TConsole;
} // namespace kelvara::link
class TBatchPanel;
class TConsolePanel;
class TDevicesPanel;
class TListPanel;
class TPortPanel;

// The module window: the port and its settings (with Find, which searches for them), the shown
// list's set-up commands to send with the state of each, a console (a transcript of all that is
// exchanged and a line where any command is typed), and a batch of modules. The port opens when
// the user first sends, finds or types a command, stays open while the window is (so that late
// answers are seen), and is opened again when an unplugged adapter comes back. Each part is a
// panel of its own; the window runs one thing at a time on the module session and wires them.
class TfrmModule : public QDialog {
    Q_OBJECT

  public:
    // The source, when known, lets the window make the list again for each module of a batch.
    // Its ports are the system's unless others are given (a test's in-memory ones).
    TfrmModule(kelvara::TCommandList list, std::optional<kelvara::TListSource> source = {},
               QWidget* parent = nullptr, kelvara::link::TPorts ports = kelvara::link::SystemPorts());
    ~TfrmModule() override;

    // A list, a search or a batch under way, or a typed command waiting for its answer.
    bool IsBusy() const;
    bool IsSending() const;
    bool IsInBatch() const;
    bool IsPortOpen() const { return session_.IsOpen(); }
    const kelvara::link::TTranscript& Transcript() const;
    // Writes the transcript, as Save Transcript does once a file is chosen.
    bool SaveTranscriptTo(const QString& path);

  public slots:
    void btnSendClick();
    void btnFindClick();
    void btnDisconnectClick();
    // Cancels what is under way, otherwise closes the window.
    void btnCloseClick();
    void edtCommandReturnPressed();
    // Many modules, one after another, each with its list and its own counted value.
    void btnBatchClick();

  protected:
    // Escape: cancels what is under way, otherwise closes the window.
    void reject() override;
    void done(int result) override;
    // Closing while busy stops after the command under way, then closes.
    void closeEvent(QCloseEvent* event) override;

  private:
    // Does it once the port is open: at once, or when an opening has ended well (the user
    // hears why not otherwise).
    void WhenOpen(std::function<void()> then);
    void OpenEnded(bool open);
    // Gives the port over to what starts: a console with nothing under way ends.
    void Begin();
    // What runs on the module, one thing at a time, is the session's policy (or the batch):
    // the window keeps nothing of its own beside it. A console runs whenever a command has been
    // typed and nothing else was started since.
    void Run(std::unique_ptr<kelvara::link::TPolicy> policy);
    // The events being told are a P's: one running, or one whose end is being told.
    template <class P> bool Told() const { return session_.Running<P>() || session_.Ended<P>(); }
    void Seen(const kelvara::link::TEvent& event);
    void Finished(kelvara::link::TResult result);
    void ListFinished(kelvara::link::TResult result);
    void Scan();
    void Connect(char type, const QString& address);
    // What the user typed, connected: sent to the device, or, while the link is being rejoined,
    // shown as waiting (the connection sends it in order once the link is back).
    void SendData(std::string data);
    // The link's news: the data mode, and the lines that waited, sent once rejoined.
    void LinkSeen(const kelvara::link::TConnectionState& state);
    // Lines waiting are dropped, and how many is said.
    void DropWaiting();
    // Share on TCP port: on, the link to the device relayed to a program on this computer.
    void ShareToggled(bool on);
    // Bytes from the sharing program: to the device while the link stands, waiting in it while
    // it is being made or rejoined, dropped without a link (the module would take them as
    // commands).
    void FromShare(const std::string& bytes);
    void BatchFinished();
    void PortLost();
    void PortBack();
    void ReopenRefused();
    void Note(const QString& text);
    void UpdateControls();
    void Cancel();
    // The console or the connection running on the session, if one is.
    kelvara::link::TConsole* ConsoleRunning() const;
    kelvara::link::TConnection* ConnectionRunning() const;
    // A list, a search or a batch runs: Close cancels it, and typed commands wait.
    bool Stoppable() const;
    void SetStatus(const QString& text);

    std::unique_ptr<Ui::TfrmModule> ui;
    kelvara::link::TModuleSession session_;
    TPortPanel* port_;
    TListPanel* list_;
    TConsolePanel* console_;
    TBatchPanel* batch_;
    TDevicesPanel* devices_;
    // What waits for the port being opened, and its name as chosen.
    std::function<void()> afterOpen_;
    QString openingPort_;
    // Why the port, back, was last refused: each new reason is told once.
    QString refusal_;
    int waitingLines_ = 0; // typed while the link was down, waiting in the connection
    std::unique_ptr<kelvara::link::TLinkShare> share_;
    // The port lists follow the adapters plugged in and pulled out, without Look Again.
    QTimer portWatch_;
    QStringList portNames_;
    bool closeWhenStopped_ = false;
};
