#include "ModuleWindow.h"

#include "CommandFile.h"
#include "Console.h"
#include "ListSender.h"
#include "BatchPlan.h"
#include "PresenceWatch.h"
#include "BeaconCommandList.h"
#include "StudyCommandList.h"
#include "SerialPorts.h"
#include "SettingsFinder.h"
#include "ui_ModuleWindow.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCompleter>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>

#include <unistd.h>

using namespace kelvara::link;
using kelvara::ui::TEntryKind;
using kelvara::ui::TTranscript;

namespace {

enum TColumn { kCommandColumn, kStateColumn, kReplyColumn };

// A table cell holds this much of a reply; the transcript holds it whole.
constexpr int kShownReplyChars = 120;
// How long unasked bytes are gathered before they are shown: a module that talks in small pieces
// is shown in readable lines.
constexpr int kUnaskedGatherMs = 50;
constexpr int kLookForPortMs = 500;

QString FromBytes(std::string_view text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

QString Cut(const QString& text, int length) {
    return text.size() <= length ? text : text.left(length) + QStringLiteral("...");
}

QString StateText(const TEvent& event) {
    switch (event.Kind) {
    case TEventKind::Written:
        return QStringLiteral("sending");
    case TEventKind::Acknowledged:
        return QStringLiteral("acknowledged");
    case TEventKind::NotSent:
        return QStringLiteral("not sent");
    default:
        break;
    }
    return QStringLiteral("failed: ") + Cut(FromBytes(FailureText(event)), kShownReplyChars);
}

QString LineEndText(TLineEnd lineEnd) {
    switch (lineEnd) {
    case TLineEnd::Cr:
        return QStringLiteral("CR");
    case TLineEnd::Lf:
        return QStringLiteral("LF");
    case TLineEnd::CrLf:
        return QStringLiteral("CR LF");
    case TLineEnd::None:
        break;
    }
    return QStringLiteral("None");
}

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
    case TEntryKind::Note:
        break;
    }
    return "#505050";
}

QSettings StoredSettings() {
    return QSettings(QStringLiteral("Kelvara"), QStringLiteral("kelvara"));
}

} // namespace

TfrmModule::TfrmModule(kelvara::TCommandList list, TListSource source, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmModule>()), list_(std::move(list)),
      source_(std::move(source)), commands_(kelvara::SetUpCommands(list_)) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);

    for (int rate : kStandardBaudRates)
        ui->cbBaud->addItem(QString::number(rate), rate);
    for (TLineEnd lineEnd : {TLineEnd::None, TLineEnd::Cr, TLineEnd::Lf, TLineEnd::CrLf})
        ui->cbLineEnd->addItem(LineEndText(lineEnd), static_cast<int>(lineEnd));
    ui->spnTimeout->setRange(kMinTimeoutMs, kMaxTimeoutMs);
    ui->spnPause->setRange(kMinPauseMs, kMaxPauseMs);

    // Command and state keep their width; the reply has what is left, and is cut to it.
    QHeaderView* header = ui->lstCommands->header();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(kCommandColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(kStateColumn, QHeaderView::Interactive);
    ui->lstCommands->setColumnWidth(kCommandColumn, fontMetrics().horizontalAdvance(QStringLiteral("AT+IBE0FFFFFFFFWW")));
    ui->lstCommands->setColumnWidth(kStateColumn, fontMetrics().horizontalAdvance(QStringLiteral("failed: no answer within 1000 msWW")));
    ResetRows();
    // Six rows of commands show whatever else the window holds.
    ui->lstCommands->setMinimumHeight(
        std::max(ui->lstCommands->sizeHintForRow(0), fontMetrics().height()) * 6 +
        header->sizeHint().height() + 2 * ui->lstCommands->frameWidth());
    ui->pbProgress->setRange(0, static_cast<int>(commands_.size()));
    ui->splModule->setStretchFactor(0, 2); // the list
    ui->splModule->setStretchFactor(1, 1); // the modules of a batch
    ui->splModule->setStretchFactor(2, 3); // the console

    ui->memTranscript->setMaximumBlockCount(static_cast<int>(TTranscript::kMaxEntries));
    ui->memTranscript->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ui->edtCommand->installEventFilter(this);
    QStringList guide;
    for (const std::string& command : kelvara::GuideCommands(list_))
        guide << FromBytes(command);
    auto* completer = new QCompleter(guide, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    ui->edtCommand->setCompleter(completer);
    // A guide command with placeholders: the first one is selected, so typing fills it in.
    connect(completer, qOverload<const QString&>(&QCompleter::activated), this,
            [this](const QString& text) {
                const qsizetype placeholder = text.indexOf(QStringLiteral("<P"));
                if (placeholder >= 0)
                    QTimer::singleShot(0, ui->edtCommand, [this, placeholder] {
                        ui->edtCommand->setSelection(static_cast<int>(placeholder), 4);
                    });
            });

    connect(ui->btnSend, &QPushButton::clicked, this, &TfrmModule::btnSendClick);
    connect(ui->btnFind, &QPushButton::clicked, this, &TfrmModule::btnFindClick);
    connect(ui->btnDisconnect, &QPushButton::clicked, this, &TfrmModule::btnDisconnectClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmModule::btnCloseClick);
    connect(ui->btnRefresh, &QPushButton::clicked, this, &TfrmModule::btnRefreshClick);
    connect(ui->btnCopy, &QPushButton::clicked, this, &TfrmModule::btnCopyClick);
    connect(ui->btnSaveTranscript, &QPushButton::clicked, this, &TfrmModule::btnSaveTranscriptClick);
    connect(ui->chkHex, &QCheckBox::toggled, this, &TfrmModule::RenderTranscript);
    connect(ui->cbBaud, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
        if (link_.IsOpen() && link_.SetBaudRate(Settings().BaudRate))
            Note(tr("now at %1 baud").arg(Settings().BaudRate));
    });
    // A batch: the value counted is a Major or Minor, for an iBeacon list.
    ui->cbCount->addItem(tr("the same list for each"), QString());
    if (source_.List == "ibeacon") {
        ui->cbCount->addItem(tr("Minor"), QStringLiteral("minor"));
        ui->cbCount->addItem(tr("Major"), QStringLiteral("major"));
    }
    ui->gbBatch->setEnabled(!source_.List.empty());
    ui->lstModules->header()->setStretchLastSection(true);
    ui->lstModules->setColumnWidth(0, fontMetrics().horizontalAdvance(QStringLiteral("ModuleWW")));
    ui->lstModules->setColumnWidth(1, fontMetrics().horizontalAdvance(QStringLiteral("uuid=0000FFF0-0000-1000-8000-00805F9B34FB major=10123 minor=10125W")));
    connect(ui->btnBatch, &QPushButton::clicked, this, &TfrmModule::btnBatchClick);
    connect(ui->btnRecordBrowse, &QPushButton::clicked, this, &TfrmModule::btnRecordBrowseClick);
    batchPause_.setSingleShot(true);
    connect(&batchPause_, &QTimer::timeout, this, [this] {
        if (batch_ == TBatch::Pausing)
            Watch(TPresenceWatchAwait::Arrival);
    });

    connect(&link_, &TModuleLink::linkEvent, this, &TfrmModule::ShowEvent);
    connect(&link_, &TModuleLink::finished, this, &TfrmModule::Finished);
    connect(&link_, &TModuleLink::portLost, this, &TfrmModule::PortLost);
    replug_.setInterval(kLookForPortMs);
    connect(&replug_, &QTimer::timeout, this, &TfrmModule::LookForPort);
    unaskedFlush_.setSingleShot(true);
    connect(&unaskedFlush_, &QTimer::timeout, this, &TfrmModule::FlushUnasked);

    btnRefreshClick();
    LoadSettings();
    SetStatus(tr("%1 commands to send. Choose the module's port and press Send, type a command "
                 "below, or press Find if the module's settings are not known.")
                  .arg(commands_.size()));
    UpdateControls();
    ui->cbPort->setFocus(Qt::OtherFocusReason);
}

TfrmModule::~TfrmModule() = default;

bool TfrmModule::IsBusy() const {
    if (batch_ != TBatch::Off)
        return true;
    if (running_ == TRunning::Console)
        return link_.Console() && link_.Console()->Busy();
    return running_ != TRunning::Nothing;
}

void TfrmModule::btnRefreshClick() {
    const QString typed = ui->cbPort->currentText();
    ui->cbPort->clear();
    for (const TPortDescription& port : AvailablePorts()) {
        const QString text = port.Description.isEmpty()
                                 ? port.Name
                                 : port.Name + QStringLiteral(" (") + port.Description + ')';
        ui->cbPort->addItem(text, port.Name);
    }
    // A path the user typed survives a fresh look.
    if (!typed.isEmpty() && ui->cbPort->findText(typed) < 0)
        ui->cbPort->setEditText(typed);
}

QString TfrmModule::ChosenPort() const {
    const int index = ui->cbPort->currentIndex();
    if (index >= 0 && ui->cbPort->currentText() == ui->cbPort->itemText(index))
        return ui->cbPort->itemData(index).toString();
    return ui->cbPort->currentText().trimmed();
}

TSendSettings TfrmModule::Settings() const {
    TSendSettings settings;
    settings.BaudRate = ui->cbBaud->currentData().toInt();
    settings.LineEnd = static_cast<TLineEnd>(ui->cbLineEnd->currentData().toInt());
    settings.TimeoutMs = ui->spnTimeout->value();
    settings.PauseMs = ui->spnPause->value();
    return settings;
}

void TfrmModule::LoadSettings() {
    const TSendSettings defaults;
    QSettings stored = StoredSettings();
    stored.beginGroup(QStringLiteral("module"));
    const QString port = stored.value(QStringLiteral("port")).toString();
    if (!port.isEmpty())
        ui->cbPort->setEditText(port);
    const int baud = ui->cbBaud->findData(stored.value(QStringLiteral("baud"), defaults.BaudRate).toInt());
    ui->cbBaud->setCurrentIndex(baud >= 0 ? baud : ui->cbBaud->findData(defaults.BaudRate));
    const int lineEnd = ui->cbLineEnd->findData(
        stored.value(QStringLiteral("lineEnd"), static_cast<int>(defaults.LineEnd)).toInt());
    ui->cbLineEnd->setCurrentIndex(std::max(lineEnd, 0));
    ui->spnTimeout->setValue(stored.value(QStringLiteral("timeout"), defaults.TimeoutMs).toInt());
    ui->spnPause->setValue(stored.value(QStringLiteral("pause"), defaults.PauseMs).toInt());
}

void TfrmModule::SaveSettings() const {
    const TSendSettings settings = Settings();
    QSettings stored = StoredSettings();
    stored.beginGroup(QStringLiteral("module"));
    stored.setValue(QStringLiteral("port"), ChosenPort());
    stored.setValue(QStringLiteral("baud"), settings.BaudRate);
    stored.setValue(QStringLiteral("lineEnd"), static_cast<int>(settings.LineEnd));
    stored.setValue(QStringLiteral("timeout"), settings.TimeoutMs);
    stored.setValue(QStringLiteral("pause"), settings.PauseMs);
}

void TfrmModule::ResetRows() {
    ui->lstCommands->clear();
    for (const std::string& command : commands_) {
        auto* row = new QTreeWidgetItem(ui->lstCommands);
        row->setText(kCommandColumn, FromBytes(command));
        row->setText(kStateColumn, QStringLiteral("waiting"));
    }
    ui->pbProgress->setValue(0);
}

void TfrmModule::SetStatus(const QString& text) {
    // However long (a reply of noise), the status never widens the window.
    ui->lbStatus->setText(Cut(text, 400));
}

bool TfrmModule::EnsureOpen() {
    if (link_.IsOpen())
        return true;
    // A port is opened for a window the user sees, never for one that has gone.
    if (!isVisible())
        return false;
    const QString port = ChosenPort();
    if (port.isEmpty()) {
        SetStatus(tr("Choose a port, or type a device path such as /dev/ttyUSB0."));
        ui->cbPort->setFocus(Qt::OtherFocusReason);
        return false;
    }
    const std::string name = QFile::encodeName(port).toStdString();
    if (!link_.Open(name, Settings().BaudRate)) {
        QString text = tr("Cannot open %1: %2.").arg(port, link_.OpenFailure().Reason);
        if (link_.OpenFailure().PermissionDenied)
            text += QLatin1Char('\n') + tr("%1.").arg(PermissionHint(name));
        SetStatus(text);
        ui->cbPort->setFocus(Qt::OtherFocusReason);
        return false;
    }
    portName_ = name;
    waitingForPort_ = false;
    replug_.stop();
    Note(tr("%1 opened at %2 baud, line ending %3")
             .arg(port)
             .arg(Settings().BaudRate)
             .arg(LineEndText(Settings().LineEnd)));
    SaveSettings();
    UpdateControls();
    return true;
}

void TfrmModule::Run(TRunning what, std::unique_ptr<TPolicy> policy) {
    // A console with nothing under way gives the port over at once.
    if (running_ == TRunning::Console)
        link_.EndConsole();
    link_.SetBaudRate(Settings().BaudRate);
    SaveSettings();
    running_ = what;
    closeWhenStopped_ = false;
    UpdateControls();
    link_.Run(std::move(policy));
}

void TfrmModule::btnSendClick() {
    if (IsBusy() || commands_.empty() || !EnsureOpen())
        return;
    ResetRows();
    acknowledged_ = 0;
    failure_.reset();
    lastAcknowledged_.clear();
    SetStatus(tr("Sending to %1...").arg(ChosenPort()));
    ui->btnClose->setFocus(Qt::OtherFocusReason);
    Run(TRunning::List, std::make_unique<TListSender>(commands_, Settings()));
}

void TfrmModule::btnFindClick() {
    if (IsBusy() || !EnsureOpen())
        return;
    SetStatus(tr("Looking for the module's settings..."));
    ui->btnClose->setFocus(Qt::OtherFocusReason);
    Run(TRunning::Find, std::make_unique<TSettingsFinder>());
}

void TfrmModule::edtCommandReturnPressed() {
    if (running_ == TRunning::List || running_ == TRunning::Find)
        return;
    // A console that is stopping (the window closing after the command under way) takes no more.
    if (closeWhenStopped_ || (link_.Console() && link_.Console()->Ending()))
        return;
    const QByteArray typed = ui->edtCommand->text().toLocal8Bit();
    auto read = kelvara::ReadCommandLine(std::string_view(typed.constData(), static_cast<std::size_t>(typed.size())), 1);
    if (const auto* refused = std::get_if<kelvara::TCommandFileError>(&read)) {
        SetStatus(tr("The command %1.").arg(FromBytes(refused->Reason)));
        return;
    }
    std::string command = std::move(std::get<std::string>(read));
    if (command.empty() || !EnsureOpen())
        return;
    if (running_ != TRunning::Console) {
        Run(TRunning::Console,
            std::make_unique<TConsole>(Settings().LineEnd, Settings().TimeoutMs));
    } else if (TConsole* console = link_.Console()) {
        console->ChangeSettings(Settings().LineEnd, Settings().TimeoutMs);
    }
    history_.removeAll(ui->edtCommand->text());
    history_ << ui->edtCommand->text();
    historyIndex_ = static_cast<int>(history_.size());
    ui->edtCommand->clear();
    link_.Submit(std::move(command));
    UpdateControls();
}

bool TfrmModule::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->edtCommand && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        QCompleter* completer = ui->edtCommand->completer();
        const bool popup = completer && completer->popup()->isVisible();
        // Enter sends the typed command (unless a completion is chosen in the list offered),
        // and never presses a button of the window.
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
            (!popup || !completer->popup()->currentIndex().isValid())) {
            if (popup)
                completer->popup()->hide();
            edtCommandReturnPressed();
            return true;
        }
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && !popup && !history_.isEmpty()) {
            historyIndex_ = std::clamp(historyIndex_ + (key == Qt::Key_Up ? -1 : 1), 0,
                                       static_cast<int>(history_.size()));
            ui->edtCommand->setText(historyIndex_ < history_.size() ? history_[historyIndex_]
                                                                    : QString());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmModule::Add(Ms at, TEntryKind kind, const std::string& text) {
    const std::size_t added = transcript_.Add(at, kind, text);
    const auto& entries = transcript_.Entries();
    const bool hex = ui->chkHex->isChecked();
    for (std::size_t i = entries.size() - std::min(added, entries.size()); i < entries.size(); ++i) {
        const QString line =
            FromBytes(TTranscript::Line(entries[i], hex, "\xe2\x80\xa8")).toHtmlEscaped();
        ui->memTranscript->appendHtml(QStringLiteral("<span style=\"white-space:pre-wrap; color:%1\">%2</span>")
                                          .arg(QLatin1String(EntryColour(entries[i].Kind)), line));
    }
    if (transcript_.Dropped() > 0) {
        ui->lbDropped->setText(FromBytes(transcript_.DroppedText()));
        ui->lbDropped->show();
    }
}

void TfrmModule::RenderTranscript() {
    ui->memTranscript->clear();
    const TTranscript kept = transcript_;
    transcript_ = TTranscript();
    for (const auto& entry : kept.Entries())
        Add(entry.At, entry.Kind, entry.Text);
}

void TfrmModule::Note(const QString& text) {
    FlushUnasked();
    Add(link_.Now(), TEntryKind::Note, text.toStdString());
}

void TfrmModule::FlushUnasked() {
    unaskedFlush_.stop();
    if (unasked_.empty())
        return;
    std::string bytes;
    bytes.swap(unasked_);
    Add(unaskedAt_, TEntryKind::Unasked, bytes);
}

void TfrmModule::ShowEvent(const TEvent& event) {
    switch (event.Kind) {
    case TEventKind::Written:
        FlushUnasked();
        Add(event.At, TEntryKind::Written, event.Bytes);
        break;
    case TEventKind::Echo:
        Add(event.At, TEntryKind::Echo, event.Bytes);
        break;
    case TEventKind::Acknowledged:
    case TEventKind::Refused:
    case TEventKind::NoAnswer:
    case TEventKind::ConnectionLost:
        if (!event.Reply.empty())
            Add(event.At, TEntryKind::Reply, event.Reply);
        if (event.Kind == TEventKind::Acknowledged)
            Add(event.At, TEntryKind::Acknowledged, event.Command + " acknowledged");
        else
            Add(event.At, TEntryKind::Failure, event.Command + ": " + FailureText(event));
        if (running_ == TRunning::Console)
            SetStatus(event.Kind == TEventKind::Acknowledged
                          ? tr("%1: acknowledged.").arg(FromBytes(event.Command))
                          : tr("%1: %2.").arg(FromBytes(event.Command), FromBytes(FailureText(event))));
        break;
    case TEventKind::Unasked:
        if (unasked_.empty())
            unaskedAt_ = event.At;
        unasked_ += event.Bytes;
        if (unasked_.size() >= TTranscript::kMaxEntryBytes)
            FlushUnasked();
        else if (!unaskedFlush_.isActive())
            unaskedFlush_.start(kUnaskedGatherMs);
        break;
    case TEventKind::Trying:
        SetStatus(tr("Trying %1 baud, line ending %2 (%3 of %4)...")
                      .arg(event.BaudRate)
                      .arg(LineEndText(event.LineEnd))
                      .arg(event.Index + 1)
                      .arg(TSettingsFinder::TryCount()));
        break;
    case TEventKind::Found:
        ui->cbBaud->blockSignals(true);
        ui->cbBaud->setCurrentIndex(ui->cbBaud->findData(event.BaudRate));
        ui->cbBaud->blockSignals(false);
        ui->cbLineEnd->setCurrentIndex(ui->cbLineEnd->findData(static_cast<int>(event.LineEnd)));
        Note(tr("found the module at %1 baud, line ending %2%3")
                 .arg(event.BaudRate)
                 .arg(LineEndText(event.LineEnd),
                      event.Echoes ? tr("; it echoes each command") : QString()));
        SetStatus(tr("Found the module at %1 baud, line ending %2%3. The settings are filled in.")
                      .arg(event.BaudRate)
                      .arg(LineEndText(event.LineEnd),
                           event.Echoes ? tr("; it echoes each command") : QString()));
        break;
    default:
        break;
    }
    if (running_ == TRunning::List)
        ShowListEvent(event);
    UpdateControls();
}

void TfrmModule::ShowListEvent(const TEvent& event) {
    const bool changesRow = event.Kind == TEventKind::Written || event.IsOutcome() ||
                            event.Kind == TEventKind::NotSent;
    QTreeWidgetItem* row = ui->lstCommands->topLevelItem(static_cast<int>(event.Index));
    if (!changesRow || !row)
        return;
    const QString reply = FromBytes(ShownReply(event.Reply));
    row->setText(kStateColumn, StateText(event));
    row->setText(kReplyColumn, Cut(reply, kShownReplyChars));
    row->setToolTip(kReplyColumn, Cut(reply, 1000));
    if (event.Kind == TEventKind::Written || event.IsOutcome())
        ui->lstCommands->scrollToItem(row);
    if (event.Kind == TEventKind::Acknowledged) {
        ui->pbProgress->setValue(++acknowledged_);
        lastAcknowledged_ = event.Command;
    } else if (event.IsOutcome()) {
        failure_ = event;
    }
}

void TfrmModule::Finished(TResult result) {
    const TRunning was = running_;
    running_ = TRunning::Nothing;
    FlushUnasked();
    if (batch_ != TBatch::Off) {
        BatchFinished(result);
        UpdateControls();
        if (closeWhenStopped_ && batch_ == TBatch::Off)
            close();
        return;
    }
    if (was == TRunning::List) {
        switch (result) {
        case TResult::Completed:
            SetStatus(tr("All %1 commands acknowledged.").arg(commands_.size()));
            break;
        case TResult::Failed:
            if (failure_)
                SetStatus(tr("%1: %2. Nothing after it was sent.")
                              .arg(FromBytes(failure_->Command), FromBytes(FailureText(*failure_))));
            break;
        case TResult::Cancelled:
        case TResult::NotFound:
            if (!lastAcknowledged_.empty())
                SetStatus(tr("Cancelled; the last command acknowledged was %1.")
                              .arg(FromBytes(lastAcknowledged_)));
            else
                SetStatus(tr("Cancelled before any command was acknowledged."));
            break;
        }
        // The list is not sent again by a stray Enter: it may begin with a factory reset.
        ui->btnSend->setDefault(false);
        ui->btnSend->setAutoDefault(false);
        UpdateControls();
        ui->edtCommand->setFocus(Qt::OtherFocusReason);
    } else if (was == TRunning::Find) {
        if (result == TResult::NotFound)
            SetStatus(tr("No module answered at any setting. Check the port and the wiring, and "
                         "that the module is powered."));
        else if (result == TResult::Cancelled)
            SetStatus(tr("Find cancelled; the settings are as they were."));
        UpdateControls();
        if (result != TResult::Failed)
            ui->btnFind->setFocus(Qt::OtherFocusReason);
    }
    UpdateControls();
    if (closeWhenStopped_)
        close();
}

void TfrmModule::PortLost() {
    FlushUnasked();
    running_ = TRunning::Nothing;
    const QString port = FromBytes(portName_);
    Note(tr("%1 went away").arg(port));
    // What a list that ended with the port says stays above.
    const QString before = failure_ && failure_->Kind == TEventKind::ConnectionLost
                               ? ui->lbStatus->text() + QLatin1Char('\n')
                               : QString();
    failure_.reset();
    SetStatus(before + tr("%1 went away (unplugged?). It is opened again with the same settings "
                          "as soon as it comes back; nothing is sent again by itself.")
                           .arg(port));
    waitingForPort_ = !closeWhenStopped_;
    if (waitingForPort_)
        replug_.start();
    if (batch_ != TBatch::Off) {
        batch_ = TBatch::WaitingForPort;
        goneFor_.start();
    }
    UpdateControls();
    if (closeWhenStopped_)
        close();
}

void TfrmModule::LookForPort() {
    if (!waitingForPort_ || link_.IsOpen() || !isVisible()) {
        replug_.stop();
        return;
    }
    if (access(DevicePath(portName_).c_str(), F_OK) != 0)
        return;
    // It may still be being set up (its permissions), so a failure here is tried again.
    if (!link_.Open(portName_, Settings().BaudRate))
        return;
    waitingForPort_ = false;
    replug_.stop();
    const QString port = FromBytes(portName_);
    Note(tr("%1 came back; opened again at %2 baud").arg(port).arg(Settings().BaudRate));
    SetStatus(tr("%1 came back and is open again, with the same settings.").arg(port));
    if (batch_ == TBatch::WaitingForPort)
        BatchNext();
    UpdateControls();
}

void TfrmModule::btnDisconnectClick() {
    if (IsBusy())
        return;
    const bool wasOpen = link_.IsOpen();
    link_.Close();
    running_ = TRunning::Nothing;
    waitingForPort_ = false;
    replug_.stop();
    if (wasOpen)
        Note(tr("%1 closed").arg(FromBytes(portName_)));
    SetStatus(tr("Disconnected. The port opens again when you send, find or type a command."));
    UpdateControls();
    ui->cbPort->setFocus(Qt::OtherFocusReason);
}

void TfrmModule::btnCopyClick() {
    QGuiApplication::clipboard()->setText(FromBytes(transcript_.PlainText(ui->chkHex->isChecked())));
    SetStatus(tr("The transcript is on the clipboard."));
}

void TfrmModule::btnSaveTranscriptClick() {
    const QString suggested = QStringLiteral("kelvara-transcript-%1.txt")
                                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Transcript"), suggested,
                                                      tr("Text files (*.txt);;All files (*)"));
    if (!path.isEmpty())
        SaveTranscriptTo(path);
}

bool TfrmModule::SaveTranscriptTo(const QString& path) {
    QSaveFile file(path);
    const std::string text = transcript_.PlainText(ui->chkHex->isChecked());
    if (file.open(QIODevice::WriteOnly) &&
        file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
        file.commit()) {
        SetStatus(tr("Transcript saved to %1.").arg(path));
        return true;
    }
    SetStatus(tr("Cannot save the transcript to %1: %2.").arg(path, file.errorString()));
    return false;
}

void TfrmModule::UpdateControls() {
    const bool busy = IsBusy();
    const bool listOrFind =
        running_ == TRunning::List || running_ == TRunning::Find || batch_ != TBatch::Off;
    for (QWidget* setting : {static_cast<QWidget*>(ui->cbBaud), static_cast<QWidget*>(ui->cbLineEnd),
                             static_cast<QWidget*>(ui->spnTimeout), static_cast<QWidget*>(ui->spnPause)})
        setting->setEnabled(!busy);
    // The port is changed once it is closed.
    const bool portFixed = busy || link_.IsOpen() || waitingForPort_;
    ui->cbPort->setEnabled(!portFixed);
    ui->btnRefresh->setEnabled(!portFixed);
    ui->btnSend->setEnabled(!busy && !commands_.empty());
    ui->btnFind->setEnabled(!busy);
    ui->btnDisconnect->setEnabled(!busy && (link_.IsOpen() || waitingForPort_));
    ui->edtCommand->setEnabled(!listOrFind);
    ui->gbBatch->setEnabled(!busy && !source_.List.empty());
    ui->btnClose->setText(listOrFind ? tr("Cancel") : tr("Close"));
}

void TfrmModule::Cancel() {
    if (!IsBusy())
        return;
    if (batch_ == TBatch::Sending) {
        // A module is never left half set up: the batch stops once this one is done.
        stopAfterModule_ = true;
        SetStatus(tr("Stopping once this module is set up..."));
        return;
    }
    if (batch_ == TBatch::WaitingForPort || batch_ == TBatch::Pausing) {
        EndBatch(tr("Cancelled; %1 of %2 modules set up.").arg(done_).arg(job_->Modules));
        return;
    }
    SetStatus(tr("Stopping after the command under way..."));
    link_.Cancel();
}

void TfrmModule::btnCloseClick() {
    if (running_ == TRunning::List || running_ == TRunning::Find || batch_ != TBatch::Off)
        Cancel();
    else
        close();
}

void TfrmModule::reject() {
    if (running_ == TRunning::List || running_ == TRunning::Find || batch_ != TBatch::Off)
        Cancel();
    else if (IsBusy())
        close(); // a typed command under way is answered first
    else
        QDialog::reject();
}

void TfrmModule::done(int result) {
    // However the window goes, the port goes with it.
    replug_.stop();
    waitingForPort_ = false;
    link_.Close();
    running_ = TRunning::Nothing;
    QDialog::done(result);
}

void TfrmModule::closeEvent(QCloseEvent* event) {
    if (IsBusy()) {
        Cancel();
        if (IsBusy()) {
            // The window goes once the command (or the batch's module) under way is done.
            closeWhenStopped_ = true;
            event->ignore();
            return;
        }
    }
    QDialog::closeEvent(event);
}

void TfrmModule::btnRecordBrowseClick() {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Record File"), ui->edtRecord->text(), tr("CSV files (*.csv);;All files (*)"),
        nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        ui->edtRecord->setText(path);
}

QString TfrmModule::BatchPosition() const {
    return tr("Module %1 of %2").arg(done_ + 1).arg(job_ ? job_->Modules : 0);
}

void TfrmModule::btnBatchClick() {
    if (IsBusy() || source_.List.empty())
        return;
    TBatchJob job;
    job.List = source_.List;
    job.Fields = source_.Fields;
    job.Count = ui->cbCount->currentData().toString().toStdString();
    job.Modules = static_cast<std::size_t>(ui->spnModules->value());
    job.Build = [list = job.List](const TFields& fields) {
        if (list == "study")
            return kelvara::BuildStudyCommandList(fields.at("format") == "128"
                                                      ? kelvara::TUuidFormat::uf128Bit
                                                      : kelvara::TUuidFormat::uf16Bit,
                                                  fields.at("notify"), fields.at("write"));
        return kelvara::BuildBeaconCommandList(fields.at("uuid"), fields.at("major"),
                                               fields.at("minor"));
    };
    // The record and every value are checked before anything is sent.
    auto record = std::make_unique<TRecordFile>();
    std::vector<kelvara::TRecordRow> rows;
    const QString path = ui->edtRecord->text().trimmed();
    if (!path.isEmpty()) {
        std::string why;
        if (!record->Open(QFile::encodeName(path).toStdString(), rows, why)) {
            SetStatus(tr("Cannot use the record %1: %2.").arg(path, FromBytes(why)));
            ui->edtRecord->setFocus(Qt::OtherFocusReason);
            return;
        }
    } else {
        record.reset();
    }
    auto made = TBatchPlan::Make(job, rows);
    if (const auto* refused = std::get_if<TBatchRefusal>(&made)) {
        SetStatus(refused->Record ? tr("Cannot use the record %1: %2.").arg(path, FromBytes(refused->Text))
                                  : tr("Cannot set up %1 modules: %2").arg(job.Modules).arg(FromBytes(refused->Text)));
        (refused->Record ? static_cast<QWidget*>(ui->edtRecord) : ui->spnModules)->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!EnsureOpen())
        return;
    plan_.emplace(std::get<TBatchPlan>(std::move(made)));
    job_ = std::move(job);
    record_ = std::move(record);
    done_ = 0;
    attempt_ = 0;
    stopAfterModule_ = false;
    goneFor_.invalidate();
    ui->lstModules->clear();
    ui->lstModules->show();
    ui->btnClose->setFocus(Qt::OtherFocusReason);
    Watch(TPresenceWatchAwait::Arrival);
}

void TfrmModule::Watch(TPresenceWatchAwait await) {
    batch_ = await == TPresenceWatchAwait::Arrival ? TBatch::Arrival : TBatch::Departure;
    SetStatus(await == TPresenceWatchAwait::Arrival
                  ? tr("%1: waiting for a module on %2...").arg(BatchPosition(), FromBytes(portName_))
                  : tr("%1 set up; remove it, then put in the next.").arg(tr("Module %1").arg(attempt_)));
    Run(TRunning::Watch, std::make_unique<TPresenceWatch>(await, Settings().BaudRate,
                                                          Settings().LineEnd));
}

void TfrmModule::BatchNext() {
    if (!link_.IsOpen()) {
        batch_ = TBatch::WaitingForPort;
        SetStatus(tr("%1: waiting for %2 to come back...").arg(BatchPosition(), FromBytes(portName_)));
        return;
    }
    // A module must have been gone a second before the next is taken.
    const qint64 left = goneFor_.isValid() ? kGoneAfterMs - goneFor_.elapsed() : 0;
    if (left > 0) {
        batch_ = TBatch::Pausing;
        batchPause_.start(static_cast<int>(left));
        return;
    }
    Watch(TPresenceWatchAwait::Arrival);
}

void TfrmModule::BatchFinished(TResult result) {
    switch (batch_) {
    case TBatch::Arrival:
        if (result == TResult::Cancelled) {
            EndBatch(tr("Cancelled; %1 of %2 modules set up.").arg(done_).arg(job_->Modules));
        } else if (result == TResult::Completed) {
            ++attempt_;
            moduleFields_ = plan_->FieldsFor(done_);
            commands_ = kelvara::SetUpCommands(job_->Build(moduleFields_).List());
            ResetRows();
            ui->pbProgress->setRange(0, static_cast<int>(commands_.size()));
            auto* row = new QTreeWidgetItem(ui->lstModules);
            row->setText(0, QString::number(attempt_));
            row->setText(1, FromBytes(BatchValues(*job_, moduleFields_)));
            row->setText(2, tr("being set up"));
            ui->lstModules->scrollToItem(row);
            acknowledged_ = 0;
            failure_.reset();
            batch_ = TBatch::Sending;
            SetStatus(tr("%1: sending %2...").arg(BatchPosition(), FromBytes(BatchValues(*job_, moduleFields_))));
            Run(TRunning::List, std::make_unique<TListSender>(commands_, Settings()));
        } else {
            BatchNext(); // the port went away
        }
        break;
    case TBatch::Sending: {
        const bool ok = result == TResult::Completed;
        std::optional<TEvent> failure;
        if (!ok)
            failure = failure_ ? *failure_ : TEvent{.Kind = TEventKind::ConnectionLost, .Command = {}};
        std::string why;
        if (record_ && !record_->Append(plan_->Row(portName_, moduleFields_, failure), why)) {
            EndBatch(tr("Cannot write the record: %1. Stopped after module %2.")
                         .arg(FromBytes(why))
                         .arg(attempt_));
            return;
        }
        QTreeWidgetItem* row = ui->lstModules->topLevelItem(ui->lstModules->topLevelItemCount() - 1);
        row->setText(2, ok ? tr("set up")
                           : tr("failed: %1: %2").arg(FromBytes(failure->Command),
                                                      FromBytes(FailureText(*failure))));
        done_ += ok;
        if (done_ == job_->Modules)
            EndBatch(tr("All %1 modules set up.").arg(job_->Modules));
        else if (stopAfterModule_)
            EndBatch(tr("Stopped after module %1; %2 of %3 modules set up.")
                         .arg(attempt_)
                         .arg(done_)
                         .arg(job_->Modules));
        else if (!link_.IsOpen())
            BatchNext();
        else
            Watch(TPresenceWatchAwait::Departure);
        break;
    }
    case TBatch::Departure:
        if (result == TResult::Cancelled)
            EndBatch(tr("Cancelled; %1 of %2 modules set up.").arg(done_).arg(job_->Modules));
        else if (!link_.IsOpen())
            BatchNext(); // its own adapter went with it
        else
            Watch(TPresenceWatchAwait::Arrival);
        break;
    case TBatch::Off:
    case TBatch::WaitingForPort:
    case TBatch::Pausing:
        break;
    }
}

void TfrmModule::EndBatch(const QString& status) {
    batch_ = TBatch::Off;
    batchPause_.stop();
    record_.reset();
    SetStatus(status);
    UpdateControls();
    ui->btnBatch->setFocus(Qt::OtherFocusReason);
}
