#pragma once

#include "CommandTypes.h"
#include "ListSource.h"

#include <QDialog>

#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class TfrmResult;
}

// The "AT Commands List" window: one generated list, read-only, to select and copy.
class TfrmResult : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmResult(QWidget* parent = nullptr);
    ~TfrmResult() override;

    // Appends the lines to memLog in order, each followed by a line break, as text only.
    void AddLines(const std::vector<std::string>& lines);
    // Appends a generated list's lines; its set-up commands are what the window sends.
    void AddList(const kelvara::TCommandList& list);
    // What the list was made from, so that the module window can make it again for each next
    // value of a batch.
    void SetSource(kelvara::TListSource source) { source_ = std::move(source); }

  public slots:
    void btnOKClick();
    // Opens the module window for the list: its set-up commands to send, and a console.
    void SendToModule();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void ShowContextMenu(const QPoint& position);

    std::unique_ptr<Ui::TfrmResult> ui;
    kelvara::TCommandList list_;
    std::optional<kelvara::TListSource> source_;
};

// Shows the lines in a new command list window, modally, and destroys the window when it
// closes, however it is closed.
void ShowCommandList(const std::vector<std::string>& lines);
// The same for a generated list, whose set-up commands the window can send.
void ShowCommandList(const kelvara::TCommandList& list,
                     const std::optional<kelvara::TListSource>& source = {});
