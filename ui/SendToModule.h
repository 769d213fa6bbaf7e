#pragma once

#include "ModuleLink.h"

#include <QDialog>

#include <memory>
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

    bool IsSending() const { return link_.IsSending(); }
    bool IsPortOpen() const { return link_.IsPortOpen(); }

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
    void ShowCommand(int index);
    void SendFinished();
    void SetSending(bool sending);
    void ResetRows();
    QString ChosenPort() const;

    std::unique_ptr<Ui::TfrmSend> ui;
    std::vector<std::string> commands_;
    kelvara::link::TModuleLink link_;
    bool closeWhenStopped_ = false;
};
