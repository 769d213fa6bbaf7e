// Writes PNG pictures of Kelvara's real windows, for the README:
//   kelvara_screenshots OUTPUT_DIR
// main-study.png, main-ibeacon.png, main-building.png, list-128bit.png, list-ibeacon.png and
// rejection.png.
#include "main.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

bool Save(QWidget* window, const QString& path) {
    const bool saved = window->grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// Presses the button and pictures the modal window it opens before closing it.
bool PressAndGrab(QPushButton* button, const QString& path) {
    bool saved = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            saved = Save(modal, path);
            modal->close();
        }
    });
    button->click();
    return saved;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelvara_screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    TfrmMain window;
    window.show();
    auto* pages = window.findChild<QTabWidget*>(QStringLiteral("MainPage"));

    bool ok = Save(&window, out.filePath(QStringLiteral("main-study.png")));
    window.findChild<QComboBox*>(QStringLiteral("cbUUIDType"))->setCurrentIndex(1);
    window.findChild<QLineEdit*>(QStringLiteral("edtCharNotify"))
        ->setText(QStringLiteral("0000FFE1-0000-1000-8000-00805F9B34FB"));
    window.findChild<QLineEdit*>(QStringLiteral("edtCharWrite"))
        ->setText(QStringLiteral("0000FFE2-0000-1000-8000-00805F9B34FB"));
    ok &= PressAndGrab(window.findChild<QPushButton*>(QStringLiteral("btnShow")),
                       out.filePath(QStringLiteral("list-128bit.png")));

    pages->setCurrentIndex(1);
    ok &= Save(&window, out.filePath(QStringLiteral("main-ibeacon.png")));
    auto* beaconButton = window.findChild<QPushButton*>(QStringLiteral("btniBeacon"));
    ok &= PressAndGrab(beaconButton, out.filePath(QStringLiteral("list-ibeacon.png")));
    auto* major = window.findChild<QLineEdit*>(QStringLiteral("edtiBeaconMajor"));
    major->setText(QStringLiteral("65536"));
    ok &= PressAndGrab(beaconButton, out.filePath(QStringLiteral("rejection.png")));
    major->setText(QStringLiteral("10123"));

    pages->setCurrentIndex(2);
    ok &= Save(&window, out.filePath(QStringLiteral("main-building.png")));
    return ok ? 0 : 1;
}
