// The yardstick for Kelvara's start-up: a plain Qt Widgets window of the same shape and size as
// the main window (three tab pages with the same group boxes, labels, edits, drop-down, buttons
// and status bar, and the same texts) and no logic.
//   --first-paint   quit once drawn
//   --same-fonts    use Kelvara's two font families (the window's and the status bar's system
//                   font) instead of the system font alone

#include "FirstPaint.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstring>

namespace {

QGroupBox* Box(QWidget* page, const char* title, int height) {
    auto* box = new QGroupBox(QString::fromLatin1(title), page);
    if (height > 0)
        box->setFixedHeight(height);
    static_cast<QVBoxLayout*>(page->layout())->addWidget(box);
    return box;
}

void Label(QWidget* box, int x, int y, const char* text) {
    (new QLabel(QString::fromLatin1(text), box))->setGeometry(x, y, 497, 13);
}

void Edit(QWidget* box, const char* text, int maxLength) {
    auto* edit = new QLineEdit(QString::fromLatin1(text), box);
    edit->setGeometry(8, 16, 497, 21);
    edit->setMaxLength(maxLength);
}

// A 72-pixel box holding an edit and the hint below it.
void FieldBox(QWidget* page, const char* title, const char* text, int maxLength, const char* hint) {
    QGroupBox* box = Box(page, title, 72);
    Edit(box, text, maxLength);
    Label(box, 8, 48, hint);
}

QWidget* Page(QTabWidget* pages, const char* title) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    pages->addTab(page, QString::fromLatin1(title));
    return page;
}

} // namespace

int main(int argc, char* argv[]) {
    bool firstPaint = false;
    bool sameFonts = false;
    for (int i = 1; i < argc; ++i) {
        firstPaint |= std::strcmp(argv[i], "--first-paint") == 0;
        sameFonts |= std::strcmp(argv[i], "--same-fonts") == 0;
    }
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, argv);

    QMainWindow window;
    if (sameFonts) {
        const int id = QFontDatabase::addApplicationFont(QStringLiteral(KELVARA_CARRIED_FONT));
        QFont font;
        font.setFamilies({QFontDatabase::applicationFontFamilies(id).value(0)});
        font.setPixelSize(9);
        font.setHintingPreference(QFont::PreferNoHinting);
        font.setStyleStrategy(QFont::PreferNoShaping);
        window.setFont(font);
    }
    window.setWindowTitle(QStringLiteral("Kelvara V1.02"));
    window.setFixedSize(520, 384);
    auto* pages = new QTabWidget;
    window.setCentralWidget(pages);

    QWidget* study = Page(pages, "Study Function for Master Role");
    QGroupBox* box = Box(study, "UUID Type", 41);
    Label(box, 8, 19, "Chose UUID type:");
    auto* list = new QComboBox(box);
    list->addItems({QStringLiteral("Slave device is using 16 Bit format UUID"),
                    QStringLiteral("Slave device is using 128 Bit format UUID")});
    list->setGeometry(112, 16, 393, 21);
    FieldBox(study, "Characteristic included \"Notify\" property", "FFE1", 36,
             "Please input UUID which included \"Notify\" property");
    FieldBox(study, "Characteristic included \"Write\" or \"WriteWithoutResponse\" property",
             "FFE1", 36,
             "Please input UUID which included \"Write\" or \"WriteWithoutResponse\" property");
    box = Box(study, "Help information", 0);
    Label(box, 8, 24, "1. 16 Bits UUID format is like 'FFF0'");
    Label(box, 8, 40, "2. 128 Bits UUID format is like '0000FFE0-0000-1000-8000-00805F9B34FB'");
    Label(box, 8, 56,
          "3. Please use LightBlue for iOS to find UUID, android always show as 128 Bits UUID");
    Label(box, 8, 72, "4. If slave device is used one UUID, please keep those two UUID is same");
    box = Box(study, "", 44);
    (new QPushButton(QStringLiteral("Create AT Commands List"), box))
        ->setGeometry(344, 11, 155, 25);

    QWidget* beacon = Page(pages, "iBeacon function for Slave Role");
    FieldBox(beacon, "iBeacon UUID or WeChat UUID", "0000FFF0-0000-1000-8000-00805F9B34FB", 36,
             "Please input UUID, Should like \"0000FFE0-0000-1000-8000-00805F9B34FB\"");
    FieldBox(beacon, "iBeacon Major or WeChat Major", "10123", 5,
             "Please input Major, Should like \"04D2\" (Hex mode) or \"01234\" (Decimal mode)");
    FieldBox(beacon, "iBeacon Minor or WeChat Minor", "10125", 5,
             "Please input Minor, Should like \"04D3\" (Hex mode) or \"01235\" (Decimal mode)");
    box = Box(beacon, "Help information", 0);
    Label(box, 8, 24,
          "1. Major or Minor is between 1~65535, Hex mode length is 4, Decimal mode is 5.");
    Label(box, 8, 40,
          "2. If you want to use it in WeChat, Please ask Tencent to get UUID information.");
    Label(box, 8, 56,
          "3. iBeacon is based on BLE, iBeacon format is 21 Bytes in advertising data.");
    (new QPushButton(QStringLiteral("Create iBeacon AT Commands List"), box))
        ->setGeometry(272, 80, 227, 25);

    QWidget* building = new QWidget;
    pages->addTab(building, QStringLiteral("Corvex&&Lumara"));
    (new QLabel(QStringLiteral("Building......"), building))->move(168, 144);

    auto* left = new QLabel(QStringLiteral("www.corvex-lumara.example"));
    left->setFixedWidth(160);
    window.statusBar()->addWidget(left);
    window.statusBar()->addWidget(new QLabel(QStringLiteral(" support@corvex-lumara.example")), 1);
    if (sameFonts)
        window.statusBar()->setFont(QApplication::font(window.statusBar()));

    if (firstPaint)
        new QuitAfterFirstPaint(&app);
    window.show();
    return QApplication::exec();
}
