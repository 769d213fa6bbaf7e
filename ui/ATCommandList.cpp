#include "ATCommandList.h"

#include "WindowLook.h"
#include "ui_ATCommandList.h"

#include <QKeyEvent>

TfrmResult::TfrmResult(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmResult>()) {
    kelvara::ui::ApplyWindowFont(this);
    ui->setupUi(this);
    // Close box only: no minimise, no maximise, no context help.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    ui->memLog->document()->setDocumentMargin(2);
    ui->memLog->setFocus(Qt::OtherFocusReason);
    connect(ui->btnOK, &QPushButton::clicked, this, &TfrmResult::btnOKClick);

    kelvara::ui::CentreOnDesktop(this);
}

TfrmResult::~TfrmResult() = default;

void TfrmResult::AddLines(const std::vector<std::string>& lines) {
    QString text = ui->memLog->toPlainText();
    for (const std::string& line : lines) {
        text += QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
        text += QLatin1Char('\n');
    }
    ui->memLog->setPlainText(text);
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
