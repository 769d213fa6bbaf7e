// The module window as the program opens it (exec() from the command list window's "Send to
// Module"), closed every way a person closes it while each thing it does is under way: it says
// it is stopping, ends what is under way as it would have, closes, and the program goes on.
#include "ATCommandList.h"
#include "BeaconCommandList.h"
#include "FakeModule.h"
#include "ModalProbe.h"
#include "ModuleWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>

using kelvara::testing::TFakeModule;
using kelvara::testing::TModuleBehaviour;
using namespace std::chrono_literals;

namespace {

enum class TWay { Button, Escape, CloseEvent };

// What is under way when the window is closed: begun by a button (a batch of three modules when
// Modules is set; a connection to the first device a scan found when Connect is) and seen under
// way once the label shows the text.
struct TActivity {
    const char* Name;
    const char* Button;
    const char* Label;
    const char* Shows;
    bool Modules = false;
    bool Connect = false;
};
const TActivity kActivities[] = {
    {"list", "btnSend", "lbStatus", "Sending to"},
    {"find", "btnFind", "lbStatus", "Trying"},
    {"batch during a module", "btnBatch", "lbStatus", "sending", true},
    {"batch between modules", "btnBatch", "lbStatus", "remove it", true},
    {"scan", "btnScan", "lbDeviceState", "Scanning... 1 device"},
    {"connection", "btnScan", "lbDeviceState", "Connected to", false, true},
};

const kelvara::TListSource kSource{kelvara::TListKind::Beacon,
                                   {{"uuid", "0000FFF0-0000-1000-8000-00805F9B34FB"},
                                    {"major", "10123"},
                                    {"minor", "10125"}}};

template <class T> T* Find(QWidget* window, const char* name) {
    return window->findChild<T*>(QLatin1String(name));
}

QString Status(QWidget* window) { return Find<QLabel>(window, "lbStatus")->text(); }

// Starts the activity in the window and waits until it is under way.
void Start(QWidget* window, const TActivity& activity) {
    if (activity.Modules)
        Find<QSpinBox>(window, "spnModules")->setValue(3);
    Find<QPushButton>(window, activity.Button)->click();
    auto* label = Find<QLabel>(window, activity.Label);
    if (activity.Connect) {
        auto* devices = Find<QTreeWidget>(window, "lstDevices");
        QTRY_VERIFY_WITH_TIMEOUT(label->text().startsWith(QStringLiteral("Scan done")), 5000);
        devices->setFocus();
        devices->setCurrentItem(devices->topLevelItem(0));
        QTest::keyClick(devices, Qt::Key_Return);
    }
    QTRY_VERIFY_WITH_TIMEOUT(label->text().contains(QLatin1String(activity.Shows)), 10000);
}

void Close(QWidget* window, TWay way) {
    switch (way) {
    case TWay::Button:
        Find<QPushButton>(window, "btnClose")->click();
        break;
    case TWay::Escape:
        QTest::keyClick(window, Qt::Key_Escape);
        break;
    case TWay::CloseEvent: // the title-bar button, Alt+F4 and the window menu's Close
        window->close();
        break;
    }
}

} // namespace

class ClosingTest : public QObject {
    Q_OBJECT

  private slots:
    void closingDuringAnythingEndsItAndTheProgramGoesOn_data() {
        QTest::addColumn<int>("activity");
        QTest::addColumn<TWay>("way");
        const std::pair<const char*, TWay> ways[] = {
            {"Close button", TWay::Button}, {"Escape", TWay::Escape}, {"title bar", TWay::CloseEvent}};
        for (int a = 0; a < int(std::size(kActivities)); ++a)
            for (const auto& [way, w] : ways)
                QTest::addRow("%s, %s", kActivities[a].Name, way) << a << w;
    }

    void closingDuringAnythingEndsItAndTheProgramGoesOn() {
        QFETCH(int, activity);
        QFETCH(TWay, way);
        const std::string_view name = kActivities[activity].Name;
        TFakeModule module;
        module.Style({.AnswerOkLines = true, .CommandEnd = "\r"});
        module.On("AT+*", TModuleBehaviour::Slow(60));
        module.SwapAfterEach("AT+MINO0x", 1500ms);
        module.Scanning({"OK+DIS0:C4BE84123456", "OK+DIS0:A81B6AAE5221"}, 300, {"C4BE84123456"});
        TfrmResult result;
        result.AddList(kelvara::BuildBeaconCommandList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123",
                                                       "10125")
                           .List());
        result.SetSource(kSource);
        result.show();
        QVERIFY(QTest::qWaitForWindowActive(&result));

        QString stopping;
        ModalProbe probe(
            [&](QWidget* window) {
                Find<QComboBox>(window, "cbPort")->setEditText(QString::fromStdString(module.PortPath()));
                Find<QComboBox>(window, "cbLineEnd")->setCurrentText(QStringLiteral("CR"));
                Find<QSpinBox>(window, "spnPause")->setValue(0);
                Start(window, kActivities[activity]);
                // Closed once; a Cancel (the Close button or Escape while busy) is pressed again
                // once what was under way has ended, as a person would.
                Close(window, way);
                stopping = Status(window);
                QTRY_VERIFY_WITH_TIMEOUT(!static_cast<TfrmModule*>(window)->IsBusy() || !window->isVisible(), 15000);
                if (window->isVisible())
                    Close(window, way);
            },
            ModalProbe::CloseBy::Inspector);
        QTest::keyClick(&result, Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(probe.Seen());
        // What the window left behind goes now, as the event loop goes on.
        QTest::qWait(20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(result.isVisible());
        QVERIFY(result.findChildren<TfrmModule*>().isEmpty());
        QVERIFY(module.WaitUntilOtherEndClosed(5s));
        if (name == "batch during a module")
            QVERIFY2(stopping.startsWith(QStringLiteral("Stopping")), qPrintable(stopping));
        // No module is left with half a list: every list begun was sent to its end.
        if (name == "batch during a module" || name == "list") {
            const std::vector<std::string> commands = module.Commands();
            QVERIFY(!commands.empty());
            QVERIFY2(commands.back().starts_with("AT+MINO0x") || name == "list",
                     commands.back().c_str());
        }
        // The program goes on: the window opens again and closes at once.
        ModalProbe again([](QWidget* window) { window->close(); }, ModalProbe::CloseBy::Inspector);
        result.findChild<QAction*>(QStringLiteral("actSendToModule"))->trigger();
        QVERIFY(again.Seen());
        result.close();
    }
};

QTEST_MAIN(ClosingTest)
#include "ClosingTest.moc"
