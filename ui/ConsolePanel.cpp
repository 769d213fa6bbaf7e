#include "ConsolePanel.h"

#include "ListPanel.h"
#include "SaveFolder.h"
#include "ui_ModuleWindow.h"

#include <QAbstractItemView>
#include <QClipboard>
#include <QCompleter>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QSignalBlocker>
#include <QScrollBar>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QSaveFile>
#include <QTimer>

using namespace kelvara::link;

namespace {

// The colour of each kind of entry; each also has its own marker, so colour is never needed.
const char* EntryColour(TEntryKind kind) {
    switch (kind) {
    case TEntryKind::Written:
        return "#1a4c8c";
    case TEntryKind::Echo:
        return "#707070";
    case TEntryKind::Reply:
        return "#1d6b2a";
    case TEntryKind::Unasked:
        return "#7a4a00";
    case TEntryKind::Acknowledged:
        return "#1d6b2a";
    case TEntryKind::Failure:
        return "#b00020";
    case TEntryKind::DataSent:
        return "#1a4c8c";
    case TEntryKind::DataReceived:
        return "#5a2d82";
    case TEntryKind::Note:
        break;
    }
    return "#505050";
}

bool IsEnter(QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

TConsolePanel::TConsolePanel(Ui::TfrmModule& form, const std::vector<std::string>& guide,
                             QWidget* window)
    : QObject(window), ui(form), window_(window) {
    ui.memTranscript->setMaximumBlockCount(static_cast<int>(TTranscript::kMaxEntries));
    ui.memTranscript->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ui.edtCommand->installEventFilter(this);
    placeholder_ = ui.edtCommand->placeholderText();
    QStringList completions;
    for (const std::string& command : guide)
        completions << FromBytes(command);
    auto* completer = new QCompleter(completions, window);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    ui.edtCommand->setCompleter(completer);
    // While the completions are offered, the keys go to their list first; this filter, installed
    // after the completer's own, sees Enter before it does.
    completer->popup()->installEventFilter(this);
    // A guide command with placeholders: the first one is selected, so typing fills it in.
    connect(completer, qOverload<const QString&>(&QCompleter::activated), this,
            [this](const QString& text) {
                const qsizetype placeholder = text.indexOf(QStringLiteral("<P"));
                if (placeholder >= 0)
                    QTimer::singleShot(0, ui.edtCommand, [this, placeholder] {
                        ui.edtCommand->setSelection(static_cast<int>(placeholder), 4);
                    });
            });
    connect(ui.chkHex, &QCheckBox::toggled, this, &TConsolePanel::Render);
    connect(ui.btnCopy, &QPushButton::clicked, this, &TConsolePanel::Copy);
    connect(ui.btnSaveTranscript, &QPushButton::clicked, this, &TConsolePanel::Save);
    connect(ui.chkLog, &QCheckBox::toggled, this, &TConsolePanel::LogToggled);
    dataQuiet_ = new QTimer(this);
    dataQuiet_->setSingleShot(true);
    dataQuiet_->setInterval(kQuietGapMs);
    connect(dataQuiet_, &QTimer::timeout, this, &TConsolePanel::FlushData);
}

std::variant<std::string, kelvara::TCommandFileError> TConsolePanel::Typed() const {
    const QByteArray typed = ui.edtCommand->text().toUtf8();
    return kelvara::ReadCommandLine(
        std::string_view(typed.constData(), static_cast<std::size_t>(typed.size())), 1);
}

void TConsolePanel::Sent() {
    history_.removeAll(ui.edtCommand->text());
    history_ << ui.edtCommand->text();
    historyIndex_ = static_cast<int>(history_.size());
    ui.edtCommand->clear();
}

bool TConsolePanel::eventFilter(QObject* watched, QEvent* event) {
    QCompleter* completer = ui.edtCommand->completer();
    QAbstractItemView* popup = completer ? completer->popup() : nullptr;
    if (watched == popup && IsEnter(event) && !popup->currentIndex().isValid()) {
        popup->hide();
        emit commandEntered();
        return true;
    }
    if (watched != ui.edtCommand || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    const bool offered = popup && popup->isVisible();
    // Enter sends the typed command (unless a completion is chosen in the list offered), and
    // never presses a button of the window.
    if (IsEnter(event) && (!offered || !popup->currentIndex().isValid())) {
        if (offered)
            popup->hide();
        emit commandEntered();
        return true;
    }
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && !offered && !history_.isEmpty()) {
        historyIndex_ = std::clamp(historyIndex_ + (key == Qt::Key_Up ? -1 : 1), 0,
                                   static_cast<int>(history_.size()));
        ui.edtCommand->setText(historyIndex_ < history_.size() ? history_[historyIndex_]
                                                                : QString());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TConsolePanel::See(const TEvent& event) {
    for (const TTranscriptEntry& entry : eventLines_.Entries(event))
        Add(entry.At, entry.Kind, entry.Text);
    // A device quiet part-way through a line: what came of it is shown after the gap.
    if (eventLines_.Holding())
        dataQuiet_->start();
    else
        dataQuiet_->stop();
}

void TConsolePanel::FlushData() {
    dataQuiet_->stop();
    for (const TTranscriptEntry& entry : eventLines_.Flush())
        Add(entry.At, entry.Kind, entry.Text);
}

void TConsolePanel::SetDataMode(const QString& device) {
    if (device.isEmpty())
        FlushData();
    dataMode_ = !device.isEmpty();
    ui.edtCommand->setPlaceholderText(
        dataMode_ ? tr("Type data for %1 and press Enter: it goes as it is, no reply awaited").arg(device)
                  : placeholder_);
}

void TConsolePanel::Note(Ms at, const QString& text) {
    FlushData();
    Add(at, TEntryKind::Note, text.toStdString());
}

void TConsolePanel::Add(Ms at, TEntryKind kind, const std::string& text) {
    lastAt_ = at;
    // The log keeps the entry whole, however long.
    if (log_ && !log_->Add({at, kind, text}))
        LogFailed();
    const std::size_t added = transcript_.Add(at, kind, text);
    const auto& entries = transcript_.Entries();
    const bool hex = ui.chkHex->isChecked();
    // The view follows the newest entry unless the user has scrolled away from it; once the
    // oldest entries go, the view would otherwise stay behind.
    QScrollBar* scroll = ui.memTranscript->verticalScrollBar();
    const bool following = scroll->value() >= scroll->maximum();
    for (std::size_t i = entries.size() - std::min(added, entries.size()); i < entries.size(); ++i) {
        const QString line =
            FromBytes(TTranscript::Line(entries[i], hex, "\xe2\x80\xa8")).toHtmlEscaped();
        ui.memTranscript->appendHtml(
            QStringLiteral("<span style=\"white-space:pre-wrap; color:%1\">%2</span>")
                .arg(QLatin1String(EntryColour(entries[i].Kind)), line));
    }
    if (following)
        scroll->setValue(scroll->maximum());
    if (transcript_.Dropped() > 0) {
        ui.lbDropped->setText(FromBytes(transcript_.DroppedText()));
        ui.lbDropped->show();
    }
}

void TConsolePanel::Render() {
    ui.memTranscript->clear();
    const TTranscript kept = transcript_;
    transcript_ = TTranscript();
    for (const auto& entry : kept.Entries())
        Add(entry.At, entry.Kind, entry.Text);
}

void TConsolePanel::Copy() {
    QGuiApplication::clipboard()->setText(FromBytes(transcript_.PlainText(ui.chkHex->isChecked())));
    emit status(tr("The transcript is on the clipboard."));
}

void TConsolePanel::Save() {
    const QString suggested =
        QStringLiteral("kelvara-transcript-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = QFileDialog::getSaveFileName(window_, tr("Save Transcript"),
                                                      kelvara::ui::InSaveFolder(suggested),
                                                      tr("Text files (*.txt);;All files (*)"));
    if (!path.isEmpty() && SaveTo(path))
        kelvara::ui::RememberSaveFolder(path);
}

bool TConsolePanel::SaveTo(const QString& path) {
    QSaveFile file(path);
    const std::string text = transcript_.PlainText(ui.chkHex->isChecked());
    if (file.open(QIODevice::WriteOnly) &&
        file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
        file.commit()) {
        emit status(tr("Transcript saved to %1.").arg(path));
        return true;
    }
    emit status(tr("Cannot save the transcript to %1: %2.").arg(path, file.errorString()));
    return false;
}

void TConsolePanel::LogToggled(bool on) {
    if (on == Logging())
        return;
    if (!on) {
        StopLog();
        return;
    }
    const QString suggested = kelvara::ui::InSaveFolder(FromBytes(DefaultLogName(WallNow())));
    // An existing file is appended to, never replaced: no question of overwriting it.
    const QString path = QFileDialog::getSaveFileName(window_, tr("Log to File"), suggested,
                                                      tr("Log files (*.log);;All files (*)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty() || !LogTo(path)) {
        const QSignalBlocker quiet(ui.chkLog);
        ui.chkLog->setChecked(false);
        return;
    }
    kelvara::ui::RememberSaveFolder(path);
}

bool TConsolePanel::LogTo(const QString& path) {
    StopLog();
    auto log = std::make_unique<TLinkLog>();
    std::string why;
    if (!log->Open(QFile::encodeName(path).toStdString(), why)) {
        emit status(tr("Cannot log to %1: %2.").arg(path, QString::fromLocal8Bit(why.c_str())));
        return false;
    }
    log_ = std::move(log);
    {
        const QSignalBlocker quiet(ui.chkLog);
        ui.chkLog->setChecked(true);
    }
    ui.lbLog->setStyleSheet(QString());
    Note(lastAt_, tr("logging to %1").arg(path));
    emit status(tr("Logging to %1.").arg(path));
    ShowLog();
    return true;
}

void TConsolePanel::StopLog() {
    if (!log_)
        return;
    const QString path = QFile::decodeName(log_->Path().c_str());
    Note(lastAt_, tr("log to %1 stopped").arg(path));
    log_.reset();
    const QSignalBlocker quiet(ui.chkLog);
    ui.chkLog->setChecked(false);
    ui.lbLog->setText(tr("Not logging."));
}

void TConsolePanel::ShowLog() {
    if (!log_)
        return;
    if (!log_->Failure().empty()) {
        LogFailed();
        return;
    }
    const QString path = QFile::decodeName(log_->Path().c_str());
    ui.lbLog->setText(tr("Logging to %1 (%2)")
                          .arg(QFileInfo(path).fileName(),
                               QLocale::system().formattedDataSize(static_cast<qint64>(log_->Bytes()))));
    ui.lbLog->setToolTip(path);
}

void TConsolePanel::LogFailed() {
    if (!log_)
        return;
    // Said at once, in the transcript, the log's own line and the status; the session goes on.
    const QString path = QFile::decodeName(log_->Path().c_str());
    const QString why = QString::fromLocal8Bit(log_->Failure().c_str());
    log_.reset();
    {
        const QSignalBlocker quiet(ui.chkLog);
        ui.chkLog->setChecked(false);
    }
    const QString text = tr("The log %1 cannot be written: %2. Logging stopped; the session goes on.").arg(path, why);
    ui.lbLog->setText(text);
    ui.lbLog->setStyleSheet(QStringLiteral("color: #b00020; font-weight: bold"));
    Note(lastAt_, tr("the log %1 cannot be written: %2; logging stopped").arg(path, why));
    emit status(text);
}
