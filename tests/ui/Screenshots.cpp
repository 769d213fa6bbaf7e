// Writes PNG pictures of Kelvara's real windows, for the README:
//   kelvara_screenshots OUTPUT_DIR
// main-study.png, main-ibeacon.png, main-building.png, list-128bit.png, list-ibeacon.png and
// rejection.png; send-progress.png and send-failed.png, the send window against a simulated
// module.
#include "FakeModule.h"
#include "BeaconCommandList.h"
#include "ConsolePanel.h"
#include "ModuleWindow.h"
#include "CommandTypes.h"
#include "StudyCommandList.h"
#include "main.h"

#include <QElapsedTimer>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <QApplication>
#include <QSettings>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <optional>

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

// Runs the event loop until the condition holds, for at most ten seconds.
template <typename Condition> bool WaitUntil(Condition condition) {
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return condition();
}

// The module window setting up iBeacons, each with its own Minor, swapped by hand: on one port,
// or on three at once.
bool GrabBatch(const QDir& out, std::size_t ports, const char* name) {
    using kelvara::testing::TFakeModule;
    std::vector<std::unique_ptr<TFakeModule>> modules;
    QStringList others;
    for (std::size_t i = 0; i < ports; ++i) {
        auto& module = *modules.emplace_back(std::make_unique<TFakeModule>());
        module.Style({.AnswerOkLines = true, .CommandEnd = "\r"});
        module.SwapAfterEach("AT+MINO0x", std::chrono::milliseconds(1300));
        if (i > 0)
            others << QString::fromStdString(module.PortPath());
    }
    QTemporaryDir dir;
    const kelvara::TListSource source{kelvara::TListKind::Beacon,
                             {{"uuid", "0000FFF0-0000-1000-8000-00805F9B34FB"},
                              {"major", "10123"},
                              {"minor", "00001"}}};
    TfrmModule window(kelvara::BuildList(source).List(), source);
    window.resize(ports > 1 ? 760 : 680, 700);
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("cbPort"))
        ->setEditText(QString::fromStdString(modules.front()->PortPath()));
    window.findChild<QComboBox*>(QStringLiteral("cbLineEnd"))->setCurrentText(QStringLiteral("CR"));
    window.findChild<QSpinBox*>(QStringLiteral("spnPause"))->setValue(0);
    window.findChild<QSpinBox*>(QStringLiteral("spnModules"))->setValue(ports > 1 ? 9 : 5);
    window.findChild<QComboBox*>(QStringLiteral("cbCount"))->setCurrentIndex(1);
    window.findChild<QLineEdit*>(QStringLiteral("edtRecord"))->setText(QStringLiteral("beacons.csv"));
    window.findChild<QLineEdit*>(QStringLiteral("edtBatchPorts"))->setText(others.join(' '));
    // The record sits in a folder of its own, named as a user would name it.
    const QString picture = out.absoluteFilePath(QString::fromLatin1(name));
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QSettings(QStringLiteral("Kelvara"), QStringLiteral("kelvara")).setValue(QStringLiteral("saveFolder"), dir.path());
    window.btnBatchClick();
    const int rows = ports > 1 ? 5 : 3;
    bool ok = WaitUntil([&] {
        QCoreApplication::processEvents();
        return window.findChild<QTreeWidget*>(QStringLiteral("lstModules"))->topLevelItemCount() >= rows;
    });
    ok &= WaitUntil([&] {
        QCoreApplication::processEvents();
        return ports > 1 || window.findChild<QLabel*>(QStringLiteral("lbStatus"))->text().contains("remove it");
    });
    ok &= Save(&window, picture);
    QDir::setCurrent(before);
    window.close();
    return ok;
}

// The module window after a scan, connected to the second device found, data sent and back.
bool GrabDevices(const QDir& out) {
    using kelvara::testing::TFakeModule;
    TFakeModule module;
    module.Scanning({"OK+DIS00017EA0943AETag1", "OK+DIS0:C4BE84123456", "OK+DIS1:A81B6AAE5221\r\n",
                     "OK+NAME:Door\r\n"},
                    60, {"C4BE84123456"}, 1500);
    TfrmModule window(kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List());
    window.resize(680, 700);
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("cbPort"))->setEditText(QString::fromStdString(module.PortPath()));
    // Logged, and rejoined when the link drops, 1.5 s after it stands.
    QTemporaryDir dir;
    window.findChild<TConsolePanel*>()->LogTo(dir.filePath(QStringLiteral("kelvara-20261210-142609.log")));
    window.findChild<QCheckBox*>(QStringLiteral("chkRejoin"))->setChecked(true);
    window.findChild<QPushButton*>(QStringLiteral("btnScan"))->click();
    auto* devices = window.findChild<QTreeWidget*>(QStringLiteral("lstDevices"));
    bool ok = WaitUntil([&] { return !window.IsBusy() && devices->topLevelItemCount() == 3; });
    devices->setCurrentItem(devices->topLevelItem(1));
    devices->setFocus();
    QTest::keyClick(devices, Qt::Key_Return);
    ok &= WaitUntil([&] { return module.IsConnected(); });
    QTest::qWait(100);
    auto* line = window.findChild<QLineEdit*>(QStringLiteral("edtCommand"));
    line->setText(QStringLiteral("hello"));
    QTest::keyClick(line, Qt::Key_Return);
    ok &= WaitUntil([&] { return module.Received().find("hello") != std::string::npos; });
    QTest::qWait(200);
    ok &= Save(&window, out.absoluteFilePath(QStringLiteral("module-devices.png")));
    auto* state = window.findChild<QLabel*>(QStringLiteral("lbDeviceState"));
    ok &= WaitUntil([&] { return state->text().startsWith(QStringLiteral("Rejoined")); });
    window.findChild<TConsolePanel*>()->ShowLog();
    ok &= Save(&window, out.absoluteFilePath(QStringLiteral("module-rejoin.png")));
    window.close();
    return ok;
}

// Types a command into the module window's console and sends it.
void Type(TfrmModule& window, const QString& command) {
    auto* line = window.findChild<QLineEdit*>(QStringLiteral("edtCommand"));
    line->setText(command);
    QTest::keyClick(line, Qt::Key_Return);
}

// The module window: part-way through a send, after a module that stopped answering, after a
// find, during a console session with a scan's late answers, and after an unplug.
bool GrabModuleWindow(const QDir& out) {
    using kelvara::testing::TFakeModule;
    using kelvara::testing::TModuleBehaviour;
    const auto list =
        kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List();
    const auto start = [](TfrmModule& window, const std::string& port) {
        window.resize(680, 640);
        window.show();
        window.findChild<QComboBox*>(QStringLiteral("cbPort"))
            ->setEditText(QString::fromStdString(port));
        window.findChild<QSpinBox*>(QStringLiteral("spnPause"))->setValue(0);
    };
    bool ok = true;
    {
        TFakeModule module;
        module.On("AT+NOTI1", TModuleBehaviour::Slow(1500));
        TfrmModule window(list);
        start(window, module.PortPath());
        window.btnSendClick();
        ok &= WaitUntil([&] { return module.Commands().size() == 5; });
        QCoreApplication::processEvents();
        ok &= Save(&window, out.filePath(QStringLiteral("send-progress.png")));
        window.btnCloseClick();
        ok &= WaitUntil([&] { return !window.IsBusy(); });
    }
    {
        TFakeModule module;
        module.On("AT+NOTI1", TModuleBehaviour::Silent());
        TfrmModule window(list);
        start(window, module.PortPath());
        window.btnSendClick();
        ok &= WaitUntil([&] { return !window.IsBusy(); });
        ok &= Save(&window, out.filePath(QStringLiteral("send-failed.png")));
    }
    {
        TFakeModule module;
        module.Style({.Echo = true, .AnswerOkLines = true, .CommandEnd = "\r\n", .BaudRate = 115200});
        TfrmModule window(list);
        start(window, module.PortPath());
        window.btnFindClick();
        ok &= WaitUntil([&] { return !window.IsBusy(); });
        ok &= Save(&window, out.filePath(QStringLiteral("module-find.png")));
    }
    QTemporaryDir dir;
    const std::string link = dir.filePath(QStringLiteral("usb-adapter-port0")).toStdString();
    std::optional<TFakeModule> module(std::in_place);
    auto scan = TModuleBehaviour::ThenStray("OK+DIS0:1C1A2B3C4D5EOK+DIS0:7A6B5C4D3E2FOK+DISCE", 400);
    scan.Reply = "OK+DISCS";
    module->On("AT+DISC?", scan);
    std::filesystem::create_symlink(module->PortPath(), link);
    TfrmModule window(list);
    start(window, link);
    window.btnSendClick();
    ok &= WaitUntil([&] { return !window.IsBusy(); });
    Type(window, QStringLiteral("AT+DISC?"));
    ok &= WaitUntil([&] {
        QCoreApplication::processEvents();
        const auto& entries = window.Transcript().Entries();
        return !entries.empty() && entries.back().Kind == kelvara::link::TEntryKind::Unasked;
    });
    window.findChild<QLineEdit*>(QStringLiteral("edtCommand"))->setText(QStringLiteral("AT+CO0"));
    ok &= Save(&window, out.filePath(QStringLiteral("module-console.png")));
    window.findChild<QLineEdit*>(QStringLiteral("edtCommand"))->clear();
    module.reset();
    ok &= WaitUntil([&] {
        QCoreApplication::processEvents();
        return !window.IsPortOpen();
    });
    ok &= Save(&window, out.filePath(QStringLiteral("module-unplugged.png")));
    window.close();
    return ok && GrabBatch(out, 1, "module-batch.png") && GrabBatch(out, 3, "module-batch-ports.png") &&
           GrabDevices(out);
}

} // namespace

int main(int argc, char* argv[]) {
    // The windows remember nothing of the user's own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
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
    ok &= GrabModuleWindow(out);
    return ok ? 0 : 1;
}
