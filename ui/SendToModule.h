#pragma once

#include "ModuleLink.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class TfrmSend;
}

// The "Send to Module" window: sends a list's set-up commands to a module on a serial port, one
// at a time, and shows what became of each. The port is open only while a send is under way.
class TfrmSend : public QDialog {
    Q_OBJECT

  public:
    TfrmSend(std::vector<std::string> commands, QWidget* parent = nullptr);
    ~TfrmSend() override;

    bool IsSending() const { return link_.IsRunning(); }
    bool IsPortOpen() const { return link_.IsOpen(); }

  public slots:
    void btnSendClick();
    // Cancels a send under way, otherwise closes the window.
    void btnCloseClick();
    void btnRefreshClick();

  protected:
    // Escape: cancels a send under way, otherwise closes the window.
    void reject() override;
    // Closing while sending stops after the command under way, then closes.
    void closeEvent(QCloseEvent* event) override;

  private:
    void Cancel();
    void ShowEvent(const kelvara::link::TEvent& event);
    void SendFinished(kelvara::link::TResult result);
    void SetSending(bool sending);
    void ResetRows();
    QString ChosenPort() const;

    std::unique_ptr<Ui::TfrmSend> ui;
    std::vector<std::string> commands_;
    kelvara::link::TModuleLink link_;
    bool closeWhenStopped_ = false;
    int acknowledged_ = 0;
    std::optional<kelvara::link::TEvent> failure_;
    std::string lastAcknowledged_;
};
