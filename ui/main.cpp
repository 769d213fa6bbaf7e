#include "main.h"

#include "ATCommandList.h"
#include "ListSource.h"
#include "WindowLook.h"
#include "ui_main.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QGuiApplication>
#include <QMessageBox>

#include "WindowSystem.h"

using kelvara::TInputField;

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui::TfrmMain>()) {
    kelvara::ui::InitResources();
    kelvara::ui::ApplyWindowFont(this);
    ui->setupUi(this);
    // Fixed border with minimise and close; maximising is not offered.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    // The two panels are described in the form; the bar lays them out, the second one
    // stretching to the bar's right edge.
    ui->sbTitle->addWidget(ui->sbTitlePanel1);
    ui->sbTitle->addWidget(ui->sbTitlePanel2, 1);
    kelvara::ui::ApplyStatusBarFont(this);

    // Every edit selects its whole text when focus arrives other than by a mouse click, so
    // typing replaces it.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->installEventFilter(this);
    // A screen reader describes each edit with the hint under it (the label's buddy).
    for (const QLabel* label : findChildren<QLabel*>()) {
        if (QWidget* buddy = label->buddy())
            buddy->setAccessibleDescription(label->text());
    }
    // Enter presses the focused button, as Space does; neither button is a default button, so
    // Enter in an edit still presses nothing.
    ui->btnShow->installEventFilter(this);
    ui->btniBeacon->installEventFilter(this);

    connect(ui->btnShow, &QPushButton::clicked, this, &TfrmMain::btnShowClick);
    connect(ui->btniBeacon, &QPushButton::clicked, this, &TfrmMain::btniBeaconClick);

    // Focus starts on the tab strip, the first control in tab order.
    ui->MainPage->tabBar()->setFocus(Qt::OtherFocusReason);
    kelvara::ui::CentreOnDesktop(this);
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::btnShowClick() {
    const auto format = ui->cbUUIDType->currentIndex() == 0 ? kelvara::TUuidFormat::uf16Bit
                                                            : kelvara::TUuidFormat::uf128Bit;
    ShowOutcome({kelvara::TListKind::Study,
                 {{"format", std::string(kelvara::UuidFormatName(format))},
                  {"notify", FieldText(ui->edtCharNotify)},
                  {"write", FieldText(ui->edtCharWrite)}}});
}

void TfrmMain::btniBeaconClick() {
    ShowOutcome({kelvara::TListKind::Beacon,
                 {{"uuid", FieldText(ui->edtiBeaconUUID)},
                  {"major", FieldText(ui->edtiBeaconMajor)},
                  {"minor", FieldText(ui->edtiBeaconMinor)}}});
}

void TfrmMain::ShowOutcome(const kelvara::TListSource& source) {
    const kelvara::TCommandListOutcome outcome = kelvara::BuildList(source);
    if (outcome.IsRejection())
        ShowRejection(outcome.Message(), outcome.FocusField());
    else
        ShowCommandList(outcome.List(), source);
}

void TfrmMain::ShowRejection(const std::string& message, TInputField focusField) {
    kelvara::ui::ShowSystemMessage(this, kMessageCaption, message);
    // Focus returns to this window once the box is gone, whatever the window manager does.
    activateWindow();

    if (focusField == TInputField::ifNone)
        return;
    if (auto* edit = findChild<QLineEdit*>(QLatin1String(kelvara::InputFieldName(focusField)))) {
        edit->setFocus(Qt::OtherFocusReason);
        // The window may get its activation only later, so select here rather than rely on
        // the focus event: typing must replace the rejected text.
        edit->selectAll();
    }
}

std::string TfrmMain::FieldText(const QLineEdit* edit) {
    return edit->text().toLocal8Bit().toStdString();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        (watched == ui->btnShow || watched == ui->btniBeacon)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            static_cast<QPushButton*>(watched)->click();
            return true;
        }
    }
    if (event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::MouseFocusReason && reason != Qt::ActiveWindowFocusReason &&
            reason != Qt::PopupFocusReason) {
            if (auto* edit = qobject_cast<QLineEdit*>(watched))
                edit->selectAll();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
