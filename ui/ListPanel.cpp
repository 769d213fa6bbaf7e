#include "ListPanel.h"

#include "ui_ModuleWindow.h"

#include <QHeaderView>

using namespace kelvara::link;

namespace {

enum TColumn { kCommandColumn, kStateColumn, kReplyColumn };

// A table cell holds this much of a reply; the transcript holds it whole.
constexpr int kShownReplyChars = 120;

} // namespace

QString FromBytes(std::string_view text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

QString Cut(const QString& text, int length) {
    return text.size() <= length ? text : text.left(length) + QStringLiteral("...");
}

TListPanel::TListPanel(Ui::TfrmModule& form, std::vector<std::string> commands, QObject* parent)
    : QObject(parent), ui(form), commands_(std::move(commands)) {
    // Command and state keep their width; the reply has what is left, and is cut to it.
    QHeaderView* header = ui.lstCommands->header();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(kCommandColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(kStateColumn, QHeaderView::Interactive);
    const QFontMetrics metrics = ui.lstCommands->fontMetrics();
    ui.lstCommands->setColumnWidth(kCommandColumn,
                                   metrics.horizontalAdvance(QStringLiteral("AT+IBE0FFFFFFFFWW")));
    ui.lstCommands->setColumnWidth(
        kStateColumn, metrics.horizontalAdvance(QStringLiteral("failed: no answer within 1000 msWW")));
    Reset();
    // Six rows of commands show whatever else the window holds.
    ui.lstCommands->setMinimumHeight(
        std::max(ui.lstCommands->sizeHintForRow(0), metrics.height()) * 6 +
        header->sizeHint().height() + 2 * ui.lstCommands->frameWidth());
}

void TListPanel::Reset(std::vector<std::string> commands) {
    commands_ = std::move(commands);
    Reset();
}

void TListPanel::Reset() {
    ui.lstCommands->clear();
    for (const std::string& command : commands_) {
        auto* row = new QTreeWidgetItem(ui.lstCommands);
        row->setText(kCommandColumn, FromBytes(command));
        row->setText(kStateColumn, QStringLiteral("waiting"));
    }
    ui.pbProgress->setRange(0, static_cast<int>(commands_.size()));
    ui.pbProgress->setValue(0);
    acknowledged_ = 0;
    failure_.reset();
    lastAcknowledged_.clear();
}

void TListPanel::See(const TEvent& event) {
    if (const auto* written = std::get_if<TWritten>(&event)) {
        Show(written->Index, QStringLiteral("sending"), {}, true);
    } else if (const auto* outcome = std::get_if<TOutcome>(&event)) {
        if (outcome->Acknowledged()) {
            Show(outcome->Index, QStringLiteral("acknowledged"), outcome->Reply, true);
            ui.pbProgress->setValue(++acknowledged_);
            lastAcknowledged_ = outcome->Command;
        } else {
            Show(outcome->Index,
                 QStringLiteral("failed: ") + Cut(FromBytes(FailureText(*outcome)), kShownReplyChars),
                 outcome->Reply, true);
            failure_ = *outcome;
        }
    } else if (const auto* notSent = std::get_if<TNotSent>(&event)) {
        Show(notSent->Index, QStringLiteral("not sent"), {}, false);
    }
}

void TListPanel::Show(std::size_t index, const QString& state, const std::string& reply,
                      bool scroll) {
    QTreeWidgetItem* row = ui.lstCommands->topLevelItem(static_cast<int>(index));
    if (!row)
        return;
    const QString shown = FromBytes(ShownReply(reply));
    row->setText(kStateColumn, state);
    row->setText(kReplyColumn, Cut(shown, kShownReplyChars));
    row->setToolTip(kReplyColumn, Cut(shown, 1000));
    if (scroll)
        ui.lstCommands->scrollToItem(row);
}

QString TListPanel::Summary(TResult result) const {
    switch (result) {
    case TResult::Completed:
        return tr("All %1 commands acknowledged.").arg(commands_.size());
    case TResult::Failed:
        if (failure_)
            return tr("%1: %2. Nothing after it was sent.")
                .arg(FromBytes(failure_->Command), FromBytes(FailureText(*failure_)));
        break;
    case TResult::Cancelled:
    case TResult::NotFound:
        if (!lastAcknowledged_.empty())
            return tr("Cancelled; the last command acknowledged was %1.").arg(FromBytes(lastAcknowledged_));
        return tr("Cancelled before any command was acknowledged.");
    }
    return {};
}
