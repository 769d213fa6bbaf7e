#pragma once

#include "ATCommandList.h"
#include "BatchPlan.h"
#include "CommandTypes.h"
#include "ModuleLink.h"
#include "PresenceWatch.h"
#include "Transcript.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class TfrmModule;
}

// The module window: the port and its settings (with Find, which searches for them), the shown
// list's set-up commands to send with the state of each, and a console: a transcript of all that
// is exchanged and a line where any command is typed. The port opens when the user first sends,
// finds or types a command, stays open while the window is (so that late answers are seen), and
// is opened again when an unplugged adapter comes back.
class TfrmModule : public QDialog {
    Q_OBJECT

  public:
    // The source, when known, lets the window make the list again for each module of a batch.
    TfrmModule(kelvara::TCommandList list, TListSource source = {}, QWidget* parent = nullptr);
    ~TfrmModule() override;

    // A list or a search under way, or a typed command waiting for its answer.
    bool IsBusy() const;
    bool IsSending() const { return running_ == TRunning::List; }
    bool IsInBatch() const { return batch_ != TBatch::Off; }
    bool IsPortOpen() const { return link_.IsOpen(); }
    const kelvara::ui::TTranscript& Transcript() const { return transcript_; }
    // Writes the transcript, as Save Transcript does once a file is chosen.
    bool SaveTranscriptTo(const QString& path);

  public slots:
    void btnSendClick();
    void btnFindClick();
    void btnDisconnectClick();
    // Cancels what is under way, otherwise closes the window.
    void btnCloseClick();
    void btnRefreshClick();
    void btnCopyClick();
    void btnSaveTranscriptClick();
    void edtCommandReturnPressed();
    // Many modules, one after another, each with its list and its own counted value.
    void btnBatchClick();
    void btnRecordBrowseClick();

  protected:
    // Escape: cancels what is under way, otherwise closes the window.
    void reject() override;
    void done(int result) override;
    // Closing while busy stops after the command under way, then closes.
    void closeEvent(QCloseEvent* event) override;
    // Up and Down in the command line walk through the commands sent.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class TRunning { Nothing, List, Find, Console, Watch };
    enum class TBatch { Off, WaitingForPort, Pausing, Arrival, Sending, Departure };

    bool EnsureOpen();
    void Run(TRunning what, std::unique_ptr<kelvara::link::TPolicy> policy);
    void ShowEvent(const kelvara::link::TEvent& event);
    void ShowListEvent(const kelvara::link::TEvent& event);
    void Finished(kelvara::link::TResult result);
    void PortLost();
    void LookForPort();
    void Note(const QString& text);
    void Add(kelvara::link::Ms at, kelvara::ui::TEntryKind kind, const std::string& text);
    void FlushUnasked();
    void RenderTranscript();
    void UpdateControls();
    void BatchFinished(kelvara::link::TResult result);
    void BatchNext();
    void Watch(kelvara::link::TPresenceWatchAwait await);
    void EndBatch(const QString& status);
    QString BatchPosition() const;
    void Cancel();
    void SetStatus(const QString& text);
    void ResetRows();
    kelvara::link::TSendSettings Settings() const;
    QString ChosenPort() const;
    void LoadSettings();
    void SaveSettings() const;

    std::unique_ptr<Ui::TfrmModule> ui;
    kelvara::TCommandList list_;
    TListSource source_;
    std::vector<std::string> commands_;
    kelvara::link::TModuleLink link_;
    TRunning running_ = TRunning::Nothing;
    bool closeWhenStopped_ = false;
    // The port as the user named it, and whether it went away and is being looked for.
    std::string portName_;
    bool waitingForPort_ = false;
    QTimer replug_;
    // The list under way.
    int acknowledged_ = 0;
    std::optional<kelvara::link::TEvent> failure_;
    std::string lastAcknowledged_;
    // The console.
    kelvara::ui::TTranscript transcript_;
    std::string unasked_;
    kelvara::link::Ms unaskedAt_ = 0;
    QTimer unaskedFlush_;
    QStringList history_;
    int historyIndex_ = 0;
    // The batch.
    TBatch batch_ = TBatch::Off;
    std::optional<kelvara::link::TBatchJob> job_;
    std::optional<kelvara::link::TBatchPlan> plan_;
    std::unique_ptr<kelvara::link::TRecordFile> record_;
    kelvara::link::TFields moduleFields_;
    std::size_t done_ = 0;
    std::size_t attempt_ = 0;
    bool stopAfterModule_ = false;
    QElapsedTimer goneFor_; // since the last module's port went away
    QTimer batchPause_;
};
