#pragma once

// The module window's list: each set-up command with its state and its reply, and the progress
// of a send.

#include "Link.h"

#include <QObject>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace Ui {
class TfrmModule;
}

// Bytes as text.
QString FromBytes(std::string_view text);
// The text, cut to length with "...".
QString Cut(const QString& text, int length);

class TListPanel : public QObject {
    Q_OBJECT

  public:
    TListPanel(Ui::TfrmModule& ui, std::vector<std::string> commands, QObject* parent);

    const std::vector<std::string>& Commands() const { return commands_; }
    // A new send: every command waiting (the commands of the module under way, in a batch).
    void Reset();
    void Reset(std::vector<std::string> commands);
    // An event of the send under way.
    void See(const kelvara::link::TEvent& event);

    // The command that failed, and the last acknowledged, in the send under way.
    const std::optional<kelvara::link::TOutcome>& Failure() const { return failure_; }
    const std::string& LastAcknowledged() const { return lastAcknowledged_; }
    // How the send ended, in words.
    QString Summary(kelvara::link::TResult result) const;
    // The failure has been told; it is not told again.
    void ForgetFailure() { failure_.reset(); }

  private:
    void Show(std::size_t index, const QString& state, const std::string& reply, bool scroll);

    Ui::TfrmModule& ui;
    std::vector<std::string> commands_;
    int acknowledged_ = 0;
    std::optional<kelvara::link::TOutcome> failure_;
    std::string lastAcknowledged_;
};
