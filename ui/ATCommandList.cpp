#include "ATCommandList.h"

#include "ModuleWindow.h"
#include "WindowLook.h"
#include "ui_ATCommandList.h"

#include <QKeyEvent>
#include <QMenu>

TfrmResult::TfrmResult(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmResult>()) {
    kelvara::ui::ApplyWindowFont(this);
    ui->setupUi(this);
    // Close box only: no minimise, no maximise, no context help.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    ui->memLog->document()->setDocumentMargin(2);
    ui->memLog->setFocus(Qt::OtherFocusReason);
    connect(ui->btnOK, &QPushButton::clicked, this, &TfrmResult::btnOKClick);

    // Sending: from the text area's context menu, beside Copy and Select All, and on Ctrl+Return
    // (Ctrl+Enter on the keypad too) anywhere in the window.
    ui->actSendToModule->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    addAction(ui->actSendToModule);
    connect(ui->actSendToModule, &QAction::triggered, this, &TfrmResult::SendToModule);
    ui->memLog->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->memLog, &QWidget::customContextMenuRequested, this,
            &TfrmResult::ShowContextMenu);

    kelvara::ui::CentreOnDesktop(this);
}

TfrmResult::~TfrmResult() = default;

void TfrmResult::AddLines(const std::vector<std::string>& lines) {
    kelvara::TCommandList text;
    for (const std::string& line : lines)
        text.push_back(kelvara::TListEntry::Text(line));
    AddList(text);
}

void TfrmResult::AddList(const kelvara::TCommandList& list) {
    QString text = ui->memLog->toPlainText();
    for (const kelvara::TListEntry& entry : list) {
        text += QString::fromLocal8Bit(entry.Line.data(), static_cast<qsizetype>(entry.Line.size()));
        text += QLatin1Char('\n');
    }
    ui->memLog->setPlainText(text);
    list_.insert(list_.end(), list.begin(), list.end());
}

void TfrmResult::ShowContextMenu(const QPoint& position) {
    const std::unique_ptr<QMenu> menu(ui->memLog->createStandardContextMenu(position));
    menu->addSeparator();
    menu->addAction(ui->actSendToModule);
    menu->exec(ui->memLog->viewport()->mapToGlobal(position));
}

void TfrmResult::SendToModule() {
    TfrmModule window(list_, source_, this);
    window.exec();
}

void TfrmResult::btnOKClick() { done(QDialog::Accepted); }

void TfrmResult::keyPressEvent(QKeyEvent* event) {
    // OK is neither a default nor a cancel button: Escape closes nothing, and Enter presses OK
    // only while OK itself has the focus.
    switch (event->key()) {
    case Qt::Key_Enter:
    case Qt::Key_Return:
        if (ui->btnOK->hasFocus())
            ui->btnOK->click();
        [[fallthrough]];
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void ShowCommandList(const std::vector<std::string>& lines) {
    TfrmResult window;
    window.AddLines(lines);
    window.exec();
}

void ShowCommandList(const kelvara::TCommandList& list,
                     const std::optional<kelvara::TListSource>& source) {
    TfrmResult window;
    window.AddList(list);
    if (source)
        window.SetSource(*source);
    window.exec();
}
