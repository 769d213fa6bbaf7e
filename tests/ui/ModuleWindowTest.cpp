// The module window against a simulated module: the way in from the command list window, whole
// sends, failures, cancelling and closing mid-send, a port that does not exist; finding the
// settings, the console and its transcript, an unplugged and replugged adapter, remembered
// settings, and what a long reply or a finished send may not do.
#include "ATCommandList.h"
#include "BeaconCommandList.h"
#include "FakeModule.h"
#include "MemoryPort.h"
#include "ModalProbe.h"
#include "Typing.h"
#include "ModuleWindow.h"
#include "CommandTypes.h"
#include "StudyCommandList.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QComboBox>
#include <QAbstractItemView>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QSettings>
#include <QtTest>

#include <array>
#include <filesystem>

using kelvara::testing::TFakeModule;
using kelvara::testing::TModuleBehaviour;
using namespace std::chrono_literals;

namespace {

kelvara::TCommandList DefaultList() {
    return kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List();
}

const std::vector<std::string> kCommands = kelvara::SetUpCommands(DefaultList());

template <class T> T* Find(QWidget* window, const char* name) {
    return window->findChild<T*>(QLatin1String(name));
}

// Each row as "COMMAND|STATE|REPLY".
QStringList Rows(QWidget* window) {
    QStringList rows;
    auto* list = Find<QTreeWidget>(window, "lstCommands");
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = list->topLevelItem(i);
        rows << row->text(0) + '|' + row->text(1) + '|' + row->text(2);
    }
    return rows;
}

// The rows of a send whose first `acknowledged` commands were answered "OK+<word>", followed by
// the given rows.
QStringList ExpectedRows(std::size_t acknowledged, const QStringList& rest) {
    QStringList rows;
    for (std::size_t i = 0; i < acknowledged; ++i) {
        const QString command = QString::fromStdString(kCommands[i]);
        rows << command + "|acknowledged|OK+" + command.mid(3);
    }
    rows << rest;
    for (std::size_t i = acknowledged + static_cast<std::size_t>(rest.size()); i < kCommands.size(); ++i)
        rows << QString::fromStdString(kCommands[i]) + "|not sent|";
    return rows;
}

// The transcript as saved, each line without its time.
QStringList Untimed(const TfrmModule& window) {
    QStringList lines;
    for (const auto& entry : window.Transcript().Entries())
        lines << QString::fromStdString(kelvara::link::TTranscript::Line(entry, false, "|").substr(10));
    return lines;
}

// Types a command into the console's line and sends it with Enter. While the completions are
// offered, the keyboard's keys go to their list first, as they do for a person typing.
void Type(TfrmModule& window, const QString& command) {
    auto* line = Find<QLineEdit>(&window, "edtCommand");
    line->setFocus();
    TypeAndEnter(line, command);
}

// In-memory ports that tell their arrivals from the event loop, each answering writes so; made
// points at the last one made.
kelvara::link::TPorts AnsweringPorts(std::function<std::string(const std::string&)> answer,
                                     kelvara::testing::TMemoryPort** made = nullptr) {
    return {[answer = std::move(answer), made] {
                auto port = std::make_unique<kelvara::testing::TMemoryPort>();
                port->Prompt = true;
                port->Answer = answer;
                if (made)
                    *made = port.get();
                return port;
            },
            std::make_shared<kelvara::link::TSteadyClock>()};
}

// Chooses the file in the log's file dialog, which offers a new name by the date and time, as a
// person types its name and presses Enter.
ModalProbe ChooseFile(const QString& path) {
    return ModalProbe(
        [path](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Log to File"));
            const QString offered = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            QVERIFY2(offered.startsWith(QStringLiteral("kelvara-")) && offered.endsWith(QStringLiteral(".log")),
                     qPrintable(offered));
            qobject_cast<QFileDialog*>(dialog)->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        },
        ModalProbe::CloseBy::Inspector);
}

std::string Joined(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i)
        bytes += kCommands[i];
    return bytes;
}

// Starts a send from the keyboard: the port typed into the port field, then Enter.
void SendTo(TfrmModule& window, const std::string& port, int timeoutMs = 1000) {
    Find<QSpinBox>(&window, "spnPause")->setValue(0);
    Find<QSpinBox>(&window, "spnTimeout")->setValue(timeoutMs);
    auto* portField = Find<QComboBox>(&window, "cbPort");
    portField->lineEdit()->selectAll();
    QTest::keyClicks(portField->lineEdit(), QString::fromStdString(port));
    QTest::keyClick(portField->lineEdit(), Qt::Key_Return);
}

} // namespace

class ModuleWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir config;

  private slots:
    void initTestCase() {
        // Remembered settings go to a folder of the test's own.
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
    void init() { QSettings(QStringLiteral("Kelvara"), QStringLiteral("kelvara")).clear(); }

    void cleanup() {
        const auto left = QApplication::topLevelWidgets();
        for (QWidget* w : left)
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    }

    void sendToModuleIsInTheContextMenuAndOnCtrlReturn() {
        TfrmResult result;
        result.AddList(DefaultList());
        result.show();
        QVERIFY(QTest::qWaitForWindowActive(&result));

        // The context menu: the toolkit's own entries, then ours.
        QStringList entries;
        QTimer::singleShot(50, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions())
                    entries << action->text().remove('&').section('\t', 0, 0);
                menu->close();
            }
        });
        auto* memo = Find<QPlainTextEdit>(&result, "memLog");
        emit memo->customContextMenuRequested(QPoint(10, 10));
        QVERIFY2(entries.contains("Copy") && entries.contains("Select All"), qPrintable(entries.join(',')));
        QCOMPARE(entries.last(), QStringLiteral("Send to Module..."));

        // Ctrl+Return opens the send window for the shown list, focus in the port field.
        QString focused;
        QStringList rows;
        ModalProbe probe([&](QWidget* modal) {
            QCOMPARE(modal->objectName(), QStringLiteral("frmModule"));
            QVERIFY(!modal->windowIcon().isNull());
            QCOMPARE(modal->parentWidget(), &result);
            if (QWidget* focus = modal->focusWidget())
                focused = focus->objectName() == "cbPort" ? focus->objectName()
                                                          : focus->parentWidget()->objectName();
            rows = Rows(modal);
        });
        QTest::keyClick(memo, Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(probe.Seen());
        QCOMPARE(focused, QStringLiteral("cbPort"));
        QCOMPARE(rows.size(), 9);
        QCOMPARE(rows.first(), QStringLiteral("AT+RENEW|waiting|"));
        QCOMPARE(rows.last(), QStringLiteral("AT+ROLE1|waiting|"));
        QVERIFY(result.isVisible());
        QVERIFY(!result.windowIcon().isNull());
    }

    void wholeSendFromTheKeyboard() {
        TFakeModule module;
        TfrmModule window(DefaultList());
        window.show();
        SendTo(window, module.PortPath());
        QVERIFY(window.IsSending());
        QCOMPARE(Find<QPushButton>(&window, "btnClose")->text(), QStringLiteral("Cancel"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsSending(), 10000);
        QCOMPARE(Rows(&window), ExpectedRows(kCommands.size(), {}));
        QCOMPARE(module.Received(), Joined(kCommands.size()));
        QCOMPARE(Find<QProgressBar>(&window, "pbProgress")->value(), 9);
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(), QStringLiteral("All 9 commands acknowledged."));
        QCOMPARE(Find<QPushButton>(&window, "btnClose")->text(), QStringLiteral("Close"));
        // The port stays open, for late answers, until the window closes; a stray Enter does
        // not send the list again: the focus is on the command line, and Send is no default.
        QVERIFY(window.IsPortOpen());
        QCOMPARE(QApplication::focusWidget(), Find<QWidget>(&window, "edtCommand"));
        QVERIFY(!Find<QPushButton>(&window, "btnSend")->isDefault());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(Find<QWidget>(&window, "spnTimeout"), Qt::Key_Return);
        QTest::qWait(100);
        QCOMPARE(module.Received(), Joined(kCommands.size()));
        // Escape closes the window once nothing is under way, and the port with it.
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        QVERIFY(!window.IsPortOpen());
        QVERIFY(module.WaitUntilOtherEndClosed(5s));
    }

    void failureEndsOnItsRow_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("status");
        QTest::newRow("silent") << 0 << "AT+COMP1|failed: no answer within 300 ms|"
                                << "AT+COMP1: no answer within 300 ms. Nothing after it was sent.";
        QTest::newRow("hang-up") << 1 << "AT+COMP1|failed: connection lost|"
                                 << "AT+COMP1: connection lost. Nothing after it was sent.";
        QTest::newRow("refusing") << 2 << "AT+COMP1|failed: answered \"ERROR\\x0d\"|ERROR\\x0d"
                                  << "AT+COMP1: answered \"ERROR\\x0d\". Nothing after it was sent.";
    }
    void failureEndsOnItsRow() {
        QFETCH(int, kind);
        QFETCH(QString, row);
        QFETCH(QString, status);
        TFakeModule module;
        module.On("AT+COMP1", kind == 0   ? TModuleBehaviour::Silent()
                              : kind == 1 ? TModuleBehaviour::HangUp()
                                          : TModuleBehaviour::Answering("ERROR\r"));
        TfrmModule window(DefaultList());
        window.show();
        SendTo(window, module.PortPath(), 300);
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsSending(), 10000);
        QCOMPARE(Rows(&window), ExpectedRows(3, {row}));
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text().section('\n', 0, 0), status);
        QCOMPARE(module.Received(), Joined(4));
        QCOMPARE(window.IsPortOpen(), kind != 1);
        window.close();
        QVERIFY(!window.IsPortOpen());
    }

    void cancelStopsAfterTheCommandUnderWay() {
        TFakeModule module;
        module.On("AT+SHOW1", TModuleBehaviour::Slow(300));
        TfrmModule window(DefaultList());
        window.show();
        SendTo(window, module.PortPath());
        QTRY_VERIFY_WITH_TIMEOUT(module.Commands().size() == 3, 10000);
        QTest::mouseClick(Find<QPushButton>(&window, "btnClose"), Qt::LeftButton);
        QVERIFY(window.IsSending()); // AT+SHOW1 is still under way
        QVERIFY(window.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsSending(), 10000);
        QCOMPARE(Rows(&window), ExpectedRows(3, {}));
        QCOMPARE(module.Received(), Joined(3));
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(),
                 QStringLiteral("Cancelled; the last command acknowledged was AT+SHOW1."));
        // Sending again starts over.
        QTest::mouseClick(Find<QPushButton>(&window, "btnSend"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsSending() && module.Commands().size() == 12, 10000);
        QCOMPARE(Rows(&window), ExpectedRows(kCommands.size(), {}));
        window.close();
    }

    void closingMidSendClosesThePortThenTheWindow() {
        TFakeModule module;
        module.On("AT+IMME1", TModuleBehaviour::Slow(300));
        TfrmModule window(DefaultList());
        window.show();
        SendTo(window, module.PortPath());
        QTRY_VERIFY_WITH_TIMEOUT(module.Commands().size() == 2, 10000);
        window.close();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 10000);
        QVERIFY(!window.IsPortOpen());
        QVERIFY(module.WaitUntilOtherEndClosed(5s));
        QCOMPARE(module.Received(), Joined(2));
    }

    void portThatDoesNotExist() {
        TfrmModule window(DefaultList());
        window.show();
        SendTo(window, "/dev/kelvara-no-such-port");
        QVERIFY(!window.IsSending());
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(),
                 QStringLiteral("Cannot open /dev/kelvara-no-such-port: no such port."));
        QCOMPARE(Rows(&window).first(), QStringLiteral("AT+RENEW|waiting|"));
        QVERIFY(Find<QPushButton>(&window, "btnSend")->isEnabled());
        window.close();
    }

    void findFillsInTheSettingsFromTheKeyboard() {
        TFakeModule module;
        module.Style({.Echo = true, .AnswerOkLines = true, .CommandEnd = "\r\n", .BaudRate = 115200});
        TfrmModule window(DefaultList());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* port = Find<QComboBox>(&window, "cbPort");
        port->lineEdit()->selectAll();
        QTest::keyClicks(port->lineEdit(), QString::fromStdString(module.PortPath()));
        QTest::keyClick(port->lineEdit(), Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(window.IsBusy(), 2000); // a mnemonic presses its button shortly after
        QCOMPARE(Find<QPushButton>(&window, "btnClose")->text(), QStringLiteral("Cancel"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBusy(), 10000);
        QCOMPARE(Find<QComboBox>(&window, "cbBaud")->currentText(), QStringLiteral("115200"));
        QCOMPARE(Find<QComboBox>(&window, "cbLineEnd")->currentText(), QStringLiteral("CR LF"));
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(),
                 QStringLiteral("Found the module at 115200 baud, line ending CR LF; it echoes "
                                "each command. The settings are filled in."));
        QCOMPARE(Untimed(window).last(),
                 QStringLiteral("-- found the module at 115200 baud, line ending CR LF; it echoes each command"));
        // The list then goes out at what was found, with a pause and a timeout of the user's.
        Find<QSpinBox>(&window, "spnPause")->setValue(150);
        Find<QSpinBox>(&window, "spnTimeout")->setValue(700);
        QTest::mouseClick(Find<QPushButton>(&window, "btnSend"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBusy(), 10000);
        QCOMPARE(Find<QProgressBar>(&window, "pbProgress")->value(), 9);
        window.close();
        // The next window, in this run or the next, offers what was used.
        TfrmModule next(DefaultList());
        QCOMPARE(Find<QComboBox>(&next, "cbPort")->currentText(), QString::fromStdString(module.PortPath()));
        QCOMPARE(Find<QComboBox>(&next, "cbBaud")->currentText(), QStringLiteral("115200"));
        QCOMPARE(Find<QComboBox>(&next, "cbLineEnd")->currentText(), QStringLiteral("CR LF"));
        QCOMPARE(Find<QSpinBox>(&next, "spnPause")->value(), 150);
        QCOMPARE(Find<QSpinBox>(&next, "spnTimeout")->value(), 700);
    }

    void aListThenTypedCommandsAndTheScansLateAnswers() {
        TFakeModule module;
        auto scan = TModuleBehaviour::ThenStray("OK+DIS0:1C1A2B3C4D5E", 150);
        scan.Reply = "OK+DISCS";
        module.On("AT+DISC?", scan);
        module.On("AT+BAD", TModuleBehaviour::Answering("ERROR"));
        TfrmModule window(DefaultList());
        window.show();
        SendTo(window, module.PortPath());
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBusy(), 10000);
        // The guide's commands are offered as completions.
        auto* completer = Find<QLineEdit>(&window, "edtCommand")->completer();
        QVERIFY(completer);
        QCOMPARE(completer->model()->rowCount(), 2);
        // One Enter sends a command that matches a completion, offered but not chosen.
        Type(window, QStringLiteral("AT+DISC?"));
        QVERIFY(!completer->popup()->isVisible());
        QTRY_VERIFY2_WITH_TIMEOUT(Untimed(window).last().startsWith(QStringLiteral("<~")), qPrintable(Untimed(window).join("\n")), 10000);
        Type(window, QStringLiteral("AT+BAD"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBusy() && Untimed(window).last().startsWith("!!"), 10000);
        // Up walks back through the commands sent.
        QTest::keyClick(Find<QLineEdit>(&window, "edtCommand"), Qt::Key_Up);
        QTest::keyClick(Find<QLineEdit>(&window, "edtCommand"), Qt::Key_Up);
        QCOMPARE(Find<QLineEdit>(&window, "edtCommand")->text(), QStringLiteral("AT+DISC?"));

        QStringList expected = {"-- " + QString::fromStdString(module.PortPath()) +
                                " opened at 9600 baud, line ending None"};
        for (const std::string& command : kCommands) {
            const QString c = QString::fromStdString(command);
            expected << "-> " + c << "<- OK+" + c.mid(3) << "ok " + c + " acknowledged";
        }
        expected << "-> AT+DISC?" << "<- OK+DISCS" << "ok AT+DISC? acknowledged"
                 << "<~ OK+DIS0:1C1A2B3C4D5E" << "-> AT+BAD" << "<- ERROR"
                 << "!! AT+BAD: answered \"ERROR\"";
        QCOMPARE(Untimed(window), expected);
        // Saved as plain text with its times, and with the bytes in hexadecimal when asked.
        QTemporaryDir dir;
        Find<QCheckBox>(&window, "chkHex")->setChecked(true);
        QVERIFY(window.SaveTranscriptTo(dir.filePath("t.txt")));
        QFile saved(dir.filePath("t.txt"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(saved.readAll());
        QVERIFY2(text.contains(QRegularExpression("\n +\\d+\\.\\d{3} -> AT\\+BAD\n {14}41 54 2B 42 41 44\n")),
                 qPrintable(text));
        window.close();
    }

    void anUnpluggedAdapterIsOpenedAgainWhenItComesBack() {
        QTemporaryDir dir;
        const std::string link = dir.filePath("by-id-adapter").toStdString();
        std::optional<TFakeModule> module(std::in_place);
        std::filesystem::create_symlink(module->PortPath(), link);
        TfrmModule window(DefaultList());
        window.show();
        Find<QComboBox>(&window, "cbPort")->setEditText(QString::fromStdString(link));
        Type(window, QStringLiteral("AT+VERS?"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBusy() && module->Commands().size() == 1, 10000);
        module.reset(); // unplugged
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsPortOpen(), 10000);
        QCOMPARE(Untimed(window).last(), QString::fromStdString("-- " + link + " went away"));
        // Plugged in again, under another device name: the link finds it.
        module.emplace();
        std::filesystem::remove(link);
        std::filesystem::create_symlink(module->PortPath(), link);
        QTRY_VERIFY_WITH_TIMEOUT(window.IsPortOpen(), 10000);
        QCOMPARE(Untimed(window).last(),
                 QString::fromStdString("-- " + link + " came back; opened again at 9600 baud"));
        QCOMPARE(module->Received(), ""); // nothing re-sent by itself
        Type(window, QStringLiteral("AT+VERS?"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBusy() && module->Commands().size() == 1, 10000);
        QCOMPARE(Untimed(window).last(), QStringLiteral("ok AT+VERS? acknowledged"));
        window.close();
        QVERIFY(module->WaitUntilOtherEndClosed(5s));
    }

    // On an in-memory port: an opening that takes its time (a Bluetooth link's) leaves the window
    // free, can be cancelled, and what waited for it is done once it ends; a port back but
    // refused (a driver still starting) is said once, and tried again until it opens.
    void aPortThatOpensSlowlyOrComesBackRefusedNeverHoldsTheWindow() {
        kelvara::testing::TMemoryPort* port = nullptr;
        bool slow = false; // the ports made from now on open later
        const kelvara::link::TPorts ports{[&] {
                                              auto made = std::make_unique<kelvara::testing::TMemoryPort>();
                                              made->Prompt = true;
                                              made->OpensLater = slow;
                                              made->Answer = [](const std::string&) { return std::string("OK\r\n"); };
                                              port = made.get();
                                              return made;
                                          },
                                          std::make_shared<kelvara::link::TSteadyClock>()};
        const kelvara::TListSource source{kelvara::TListKind::Beacon,
                                          {{"uuid", "0000FFF0-0000-1000-8000-00805F9B34FB"}, {"major", "10123"}, {"minor", "10125"}}};
        TfrmModule window(kelvara::BuildBeaconCommandList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125").List(),
                          source, nullptr, ports);
        window.show();
        Find<QComboBox>(&window, "cbPort")->setEditText(QStringLiteral("mem0"));
        port->OpensLater = true;
        Type(window, QStringLiteral("AT"));
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(), QStringLiteral("Opening mem0..."));
        QVERIFY(window.IsBusy());
        QCOMPARE(Find<QPushButton>(&window, "btnClose")->text(), QStringLiteral("Cancel"));
        QTest::keyClick(&window, Qt::Key_Escape);
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(), QStringLiteral("Opening mem0 cancelled."));
        QVERIFY(!window.IsBusy() && !port->Opening() && window.isVisible());
        // The command typed is still there, and Enter tries again.
        QCOMPARE(Find<QLineEdit>(&window, "edtCommand")->text(), QStringLiteral("AT"));
        QTest::keyClick(Find<QLineEdit>(&window, "edtCommand"), Qt::Key_Return);
        QVERIFY(port->Opening());
        port->EndOpening();
        QTRY_COMPARE_WITH_TIMEOUT(Untimed(window).last(), QStringLiteral("ok AT acknowledged"), 5000);
        QVERIFY2(Untimed(window).contains(QStringLiteral("-- mem0 opened at 9600 baud, line ending None")), qPrintable(Untimed(window).join("\n")));
        port->OpensLater = false;
        port->Unplug();
        QCOMPARE(Untimed(window).last(), QStringLiteral("-- mem0 went away"));
        port->Present = true;
        port->Refusal = QStringLiteral("the device is not functioning");
        const QString refused = QStringLiteral("-- mem0 is back but cannot be opened: the device is not "
                                               "functioning; tried again");
        QTRY_COMPARE_WITH_TIMEOUT(Untimed(window).last(), refused, 5000);
        QVERIFY(Find<QLabel>(&window, "lbStatus")->text().contains("It is tried again until it opens"));
        QTest::qWait(500); // tried again meanwhile, and not told again
        port->Refusal.clear();
        QTRY_VERIFY_WITH_TIMEOUT(window.IsPortOpen(), 5000);
        QCOMPARE(Untimed(window).filter(QStringLiteral("cannot be opened")), QStringList{refused});
        QCOMPARE(Untimed(window).last(), QStringLiteral("-- mem0 came back; opened again at 9600 baud"));
        // A batch's other port opens without holding the window either, and Cancel gives it up.
        kelvara::testing::TMemoryPort* const own = port;
        auto* status = Find<QLabel>(&window, "lbStatus");
        auto* others = Find<QLineEdit>(&window, "edtBatchPorts");
        Find<QSpinBox>(&window, "spnModules")->setValue(2); // one on each port
        QVERIFY(QTest::qWaitForWindowActive(&window));
        others->setFocus();
        QTest::keyClicks(others, QStringLiteral("mem1"));
        slow = true;
        auto* many = Find<QPushButton>(&window, "btnBatch");
        many->setFocus();
        QTest::keyClick(many, Qt::Key_Space);
        QCOMPARE(status->text(), QStringLiteral("Opening mem1..."));
        QVERIFY(window.IsInBatch() && port != own && port->Opening());
        QTest::keyClick(&window, Qt::Key_Escape);
        QCOMPARE(status->text(), QStringLiteral("Opening the batch's ports cancelled."));
        QVERIFY(!window.IsBusy() && !port->Opening());
        QCOMPARE(Untimed(window).last(), QStringLiteral("-- mem0 came back; opened again at 9600 baud"));
        many->setFocus();
        QTest::keyClick(many, Qt::Key_Space);
        port->EndOpening();
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("All 2 modules set up."), 5000);
        QCOMPARE(Find<QTreeWidget>(&window, "lstBatchPorts")->topLevelItemCount(), 2);
        window.close();
    }

    // By keyboard alone: Log to File and Rejoin on, a connection, a drop. A line typed while the
    // link is down waits and goes once it is back; the transcript and the log tell it all, and a
    // log that can no longer be written is said at once, the session going on.
    void aLinkThatRejoinsKeepsTypedLinesWaitingAndTheLogTellsIt() {
        kelvara::testing::TMemoryPort* port = nullptr;
        bool answering = true;
        std::string written;
        TfrmModule window(DefaultList(), {}, nullptr, AnsweringPorts([&](const std::string& bytes) {
                              written += bytes;
                              if (bytes == "AT+DISC?")
                                  return std::string("OK+DISCSOK+DIS0:C4BE84123456OK+DISCE");
                              return bytes.starts_with("AT+CO") && answering ? std::string("OK+CONNAOK+CONN")
                                                                             : std::string();
                          }, &port));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Find<QComboBox>(&window, "cbPort")->setEditText(QStringLiteral("mem0"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("link.log"));
        ModalProbe probe = ChooseFile(path);
        auto* log = Find<QCheckBox>(&window, "chkLog");
        auto* shown = Find<QLabel>(&window, "lbLog");
        log->setFocus();
        QTest::keyClick(log, Qt::Key_Space);
        QVERIFY(probe.Seen() && log->isChecked());
        QCOMPARE(shown->text(), QStringLiteral("Logging to link.log (%1)").arg(QLocale::system().formattedDataSize(QFileInfo(path).size())));
        window.activateWindow(); // as the desktop does once the file dialog is gone
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_J, Qt::AltModifier);
        QTRY_VERIFY(Find<QCheckBox>(&window, "chkRejoin")->isChecked());
        auto* scan = Find<QPushButton>(&window, "btnScan");
        scan->setFocus();
        QTest::keyClick(scan, Qt::Key_Space);
        auto* devices = Find<QTreeWidget>(&window, "lstDevices");
        QTRY_VERIFY(devices->topLevelItemCount() == 1 && !window.IsBusy());
        devices->setFocus();
        QTest::keyClick(devices, Qt::Key_Return);
        auto* state = Find<QLabel>(&window, "lbDeviceState");
        QTRY_COMPARE(state->text(), QStringLiteral("Connected to C4BE84123456."));
        const auto arrive = [&](const std::string& bytes) {
            port->Arrive(bytes);
            port->Deliver();
        };
        // A device that ends its lines with CR alone: a line each.
        arrive("a=1\rb=2\r");
        QTRY_VERIFY(Untimed(window).contains(QStringLiteral("<< b=2\\x0d")));
        QVERIFY(Untimed(window).contains(QStringLiteral("<< a=1\\x0d")));
        // With Escapes, a binary line; a wrong escape stays in the line, and nothing goes.
        auto* escapes = Find<QCheckBox>(&window, "chkEscapes");
        escapes->setFocus();
        QTest::keyClick(escapes, Qt::Key_Space);
        Type(window, QStringLiteral("\\x01A\\tB"));
        QTRY_VERIFY(written.ends_with("\x01" "A\tB"));
        Type(window, QStringLiteral("\\q"));
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(), QStringLiteral("Not sent: \\q is no escape (\\r, \\n, \\t, \\\\ or \\xNN)."));
        QCOMPARE(Find<QLineEdit>(&window, "edtCommand")->text(), QStringLiteral("\\q"));
        Find<QLineEdit>(&window, "edtCommand")->clear();
        QTest::keyClick(escapes, Qt::Key_Space);
        arrive("n=1\r\n");
        answering = false; // the first try after the drop goes unanswered
        arrive("OK+LOST");
        QTRY_VERIFY(state->text().startsWith(QStringLiteral("The link to C4BE84123456 is down; rejoining it")));
        Type(window, QStringLiteral("hello"));
        QCOMPARE(Untimed(window).last(), QStringLiteral("-- waiting for the link: hello"));
        QVERIFY(written.find("hello") == std::string::npos);
        answering = true;
        QTRY_VERIFY_WITH_TIMEOUT(state->text().startsWith("Rejoined C4BE84123456 after") && state->text().endsWith(" s, 2 tries."), 5000);
        QTRY_VERIFY(written.ends_with("hello"));
        arrive("n=2\r\n");
        QTRY_VERIFY(Untimed(window).contains(QStringLiteral("<< n=2\\x0d\\x0a")));
        // Shared on a TCP port: a program's bytes reach the device, and the device's the program.
        auto* share = Find<QCheckBox>(&window, "chkShare");
        share->setFocus();
        QTest::keyClick(share, Qt::Key_Space);
        auto* shared = Find<QLabel>(&window, "lbShare");
        QVERIFY2(shared->text().startsWith(QStringLiteral("Shared on 127.0.0.1:")), qPrintable(shared->text()));
        QTcpSocket program;
        program.connectToHost(QHostAddress::LocalHost,
                              static_cast<quint16>(shared->text().section(':', 1, 1).section(';', 0, 0).toInt()));
        QVERIFY(program.waitForConnected(5000));
        QTRY_VERIFY(shared->text().contains(QStringLiteral("a program connected from 127.0.0.1:")));
        program.write("ping\x01");
        QTRY_VERIFY(written.ends_with("ping\x01"));
        arrive("pong\r\n");
        QByteArray got;
        QTRY_COMPARE((got += program.readAll()), QByteArray("pong\r\n"));
        QTest::keyClick(share, Qt::Key_Space);
        QVERIFY(shared->text().isEmpty());
        QTest::keyClick(log, Qt::Key_Space); // the log off
        QCOMPARE(shown->text(), QStringLiteral("Not logging."));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList logged;
        for (const QByteArray& line : file.readAll().split('\n'))
            logged << QString::fromUtf8(line.mid(30));
        const QStringList expected{"-- logging to " + path, "-- mem0 opened at 9600 baud, line ending None",
                                   "-> AT+DISC?", "-> AT+CO0C4BE84123456", "<- OK+CONNA",
                                   "ok AT+CO0C4BE84123456 acknowledged", "-- connected to C4BE84123456 (OK+CONN)", "<< n=1\\x0d\\x0a",
                                   "-- the link to C4BE84123456 dropped (OK+LOST)",
                                   "-- rejoining C4BE84123456: try 1", "-- waiting for the link: hello",
                                   "-- rejoining C4BE84123456: try 2", "-- rejoined C4BE84123456 after",
                                   ">> hello", "<< n=2\\x0d\\x0a", "-- log to " + path + " stopped"};
        qsizetype at = 0;
        for (const QString& entry : expected) {
            while (at < logged.size() && !logged[at].startsWith(entry))
                ++at;
            QVERIFY2(at < logged.size(), qPrintable(entry + QStringLiteral(" is not in order in\n") + logged.join('\n')));
        }
        // Again into the same file, which then goes: said at once, and the session goes on.
        file.close();
        ModalProbe again = ChooseFile(path);
        QTest::keyClick(log, Qt::Key_Space);
        QVERIFY(again.Seen() && log->isChecked());
        QVERIFY(QFile::remove(path));
        arrive("n=3\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(shown->text().startsWith("The log " + path + " cannot be written: the file was removed or renamed."), 5000);
        QVERIFY(!log->isChecked());
        QVERIFY(Find<QLabel>(&window, "lbStatus")->text().contains(QStringLiteral("the session goes on")));
        arrive("n=4\r\n");
        QTRY_VERIFY(Untimed(window).contains(QStringLiteral("<< n=4\\x0d\\x0a")));
        window.close();
    }

    void scanConnectTalkAndDropFromTheKeyboard() {
        TFakeModule module;
        module.Scanning({"OK+DIS00017EA0", "943AETag1", "OK+DIS0:C4BE84", "123456",
                         "OK+DIS1:A81B6AAE5221\r\nOK+NA", "ME:Door\r\n"},
                        40, {"C4BE84123456"}, 1500);
        TfrmModule window(DefaultList());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Find<QComboBox>(&window, "cbPort")->setEditText(QString::fromStdString(module.PortPath()));
        auto* scan = Find<QPushButton>(&window, "btnScan");
        scan->setFocus();
        QTest::keyClick(scan, Qt::Key_Space);
        auto* devices = Find<QTreeWidget>(&window, "lstDevices");
        auto* state = Find<QLabel>(&window, "lbDeviceState");
        QTRY_VERIFY_WITH_TIMEOUT(devices->isVisible() && devices->topLevelItemCount() >= 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("Scan done: 3 device(s) found."), 5000);
        QStringList rows;
        for (int i = 0; i < devices->topLevelItemCount(); ++i)
            rows << devices->topLevelItem(i)->text(0) + '|' + devices->topLevelItem(i)->text(1) + '|' +
                        devices->topLevelItem(i)->text(2);
        QCOMPARE(rows, (QStringList{"0|0017EA0943AE|Tag1", "0|C4BE84123456|", "1|A81B6AAE5221|Door"}));
        // The second, with Enter on its row.
        QVERIFY(devices->hasFocus());
        QTest::keyClick(devices, Qt::Key_Down);
        QTest::keyClick(devices, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(state->text().startsWith(QStringLiteral("Connected to C4BE84123456.")), 5000);
        // The state shows whole beside the buttons, however narrow its room.
        const QRect needed = state->fontMetrics().boundingRect(QRect(0, 0, state->width(), 10000),
                                                               Qt::TextWordWrap, state->text());
        QTRY_VERIFY2(needed.width() <= state->contentsRect().width() &&
                         needed.height() <= state->contentsRect().height(),
                     qPrintable(QStringLiteral("%1x%2 in %3x%4").arg(needed.width()).arg(needed.height())
                                    .arg(state->contentsRect().width()).arg(state->contentsRect().height())));
        auto* line = Find<QLineEdit>(&window, "edtCommand");
        QVERIFY(line->placeholderText().contains(QStringLiteral("C4BE84123456")));
        Type(window, QStringLiteral("hello"));
        QTRY_VERIFY_WITH_TIMEOUT(Untimed(window).contains(QStringLiteral("<< hello")), 5000);
        QVERIFY(Untimed(window).contains(QStringLiteral(">> hello")));
        // The module says the connection dropped.
        QTRY_COMPARE_WITH_TIMEOUT(state->text(),
                                  QStringLiteral("The connection to C4BE84123456 dropped (OK+LOST)."), 5000);
        QVERIFY(!line->placeholderText().contains(QStringLiteral("C4BE84123456")));
        QVERIFY(!window.IsBusy());
        QCOMPARE(module.Received(), std::string("AT+DISC?AT+CO0C4BE84123456hello"));
        window.close();
    }

    void aBatchOnThreePortsFromTheKeyboard() {
        std::array<TFakeModule, 3> modules;
        for (TFakeModule& module : modules) {
            module.Style({.AnswerOkLines = true, .CommandEnd = "\r"});
            module.SwapAfterEach("AT+MINO0x", 1300ms);
        }
        const kelvara::TListSource source = kelvara::DefaultSource(kelvara::TListKind::Beacon);
        TfrmModule window(kelvara::BuildList(source).List(), source);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Find<QComboBox>(&window, "cbPort")->setEditText(QString::fromStdString(modules[0].PortPath()));
        Find<QComboBox>(&window, "cbLineEnd")->setCurrentText(QStringLiteral("CR"));
        Find<QSpinBox>(&window, "spnPause")->setValue(0);
        auto* count = Find<QSpinBox>(&window, "spnModules");
        count->setFocus();
        count->selectAll();
        QTest::keyClicks(count, QStringLiteral("6"));
        QTest::keyClick(Find<QComboBox>(&window, "cbCount"), Qt::Key_Down);
        // The other two ports typed, after Alt+H.
        QTest::keyClick(&window, Qt::Key_H, Qt::AltModifier);
        QTRY_VERIFY(Find<QLineEdit>(&window, "edtBatchPorts")->hasFocus());
        QTest::keyClicks(Find<QLineEdit>(&window, "edtBatchPorts"),
                         QString::fromStdString(modules[1].PortPath() + ' ' + modules[2].PortPath()));
        QTest::keyClick(&window, Qt::Key_Y, Qt::AltModifier);
        // A mnemonic presses its button shortly after; a busy machine makes that later.
        QTRY_VERIFY2_WITH_TIMEOUT(window.IsInBatch(),
                                  qPrintable(Find<QLabel>(&window, "lbStatus")->text()), 10000);
        QVERIFY(Find<QTreeWidget>(&window, "lstBatchPorts")->isVisible());
        QCOMPARE(Find<QTreeWidget>(&window, "lstBatchPorts")->topLevelItemCount(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsInBatch(), 30000);
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(), QStringLiteral("All 6 modules set up."));
        // Six modules, each Minor once, spread over the three ports.
        auto* table = Find<QTreeWidget>(&window, "lstModules");
        QStringList minors;
        QSet<QString> ports;
        for (int i = 0; i < table->topLevelItemCount(); ++i) {
            QCOMPARE(table->topLevelItem(i)->text(3), QStringLiteral("set up"));
            minors << table->topLevelItem(i)->text(2).right(5);
            ports << table->topLevelItem(i)->text(1);
        }
        minors.sort();
        QCOMPARE(minors, (QStringList{"10125", "10126", "10127", "10128", "10129", "10130"}));
        QCOMPARE(ports.size(), 3);
        window.close();
        for (TFakeModule& module : modules)
            QVERIFY(module.WaitUntilOtherEndClosed(5s));
    }

    void aBatchOfModulesFromTheKeyboard() {
        TFakeModule module;
        module.Style({.AnswerOkLines = true, .CommandEnd = "\r"});
        module.SwapAfterEach("AT+MINO0x", 1500ms);
        QTemporaryDir dir;
        const QString record = dir.filePath("beacons.csv");
        const kelvara::TListSource source{kelvara::TListKind::Beacon,
                                 {{"uuid", "0000FFF0-0000-1000-8000-00805F9B34FB"},
                                  {"major", "10123"},
                                  {"minor", "10125"}}};
        TfrmModule window(
            kelvara::BuildBeaconCommandList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125").List(),
            source);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Find<QComboBox>(&window, "cbPort")->setEditText(QString::fromStdString(module.PortPath()));
        Find<QComboBox>(&window, "cbLineEnd")->setCurrentText(QStringLiteral("CR"));
        Find<QSpinBox>(&window, "spnPause")->setValue(0);
        auto* count = Find<QSpinBox>(&window, "spnModules");
        count->setFocus();
        count->selectAll();
        QTest::keyClicks(count, QStringLiteral("3"));
        QTest::keyClick(Find<QComboBox>(&window, "cbCount"), Qt::Key_Down);
        QTest::keyClicks(Find<QLineEdit>(&window, "edtRecord"), record);
        QTest::keyClick(Find<QLineEdit>(&window, "edtRecord"), Qt::Key_Y, Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(window.IsInBatch(), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsInBatch(), 30000);
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(), QStringLiteral("All 3 modules set up."));
        auto* modules = Find<QTreeWidget>(&window, "lstModules");
        QVERIFY(modules->isVisible());
        QStringList rows;
        for (int i = 0; i < modules->topLevelItemCount(); ++i)
            rows << modules->topLevelItem(i)->text(0) + '|' + modules->topLevelItem(i)->text(2) + '|' +
                        modules->topLevelItem(i)->text(3);
        const QString values = "uuid=0000FFF0-0000-1000-8000-00805F9B34FB major=10123 minor=";
        QCOMPARE(rows, (QStringList{"1|" + values + "10125|set up", "2|" + values + "10126|set up",
                                    "3|" + values + "10127|set up"}));
        // The record, as kelvara-cli writes it for the same batch: each row's time and port aside.
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromLatin1(file.readAll()).split("\r\n");
        for (qsizetype i = 1; i + 1 < lines.size(); ++i)
            lines[i] = "TIME,PORT," + lines[i].section(',', 2);
        const QString row = "TIME,PORT,ibeacon,,,,0000FFF0-0000-1000-8000-00805F9B34FB,10123,";
        QCOMPARE(lines, (QStringList{"time,port,list,format,notify,write,uuid,major,minor,outcome,"
                                     "command,reply",
                                     row + "10125,set up,,", row + "10126,set up,,",
                                     row + "10127,set up,,", ""}));
        window.close();
    }

    // A sensor sends a line every millisecond while lines are typed 5 ms apart: every byte it
    // sent while connected is in the transcript as received, in order.
    void aDeviceThatTalksWhileLinesAreTypedLosesNothing() {
        TFakeModule module;
        module.Scanning({"OK+DIS0:C4BE84123456"}, 20, {"C4BE84123456"});
        module.Streaming(1);
        TfrmModule window(DefaultList());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Find<QComboBox>(&window, "cbPort")->setEditText(QString::fromStdString(module.PortPath()));
        Find<QPushButton>(&window, "btnScan")->click();
        auto* devices = Find<QTreeWidget>(&window, "lstDevices");
        auto* state = Find<QLabel>(&window, "lbDeviceState");
        QTRY_VERIFY_WITH_TIMEOUT(state->text().startsWith(QStringLiteral("Scan done")), 5000);
        devices->setFocus();
        devices->setCurrentItem(devices->topLevelItem(0));
        QTest::keyClick(devices, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(state->text().startsWith(QStringLiteral("Connected to")), 5000);
        auto* line = Find<QLineEdit>(&window, "edtCommand");
        line->setFocus();
        for (int i = 0; i < 150; ++i) {
            QTest::keyClicks(line, QStringLiteral("u%1").arg(i));
            QTest::keyClick(line, Qt::Key_Return);
            QTest::qWait(5);
        }
        Find<QPushButton>(&window, "btnDisconnectDevice")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBusy() && !state->text().startsWith(QStringLiteral("Connected")), 5000);
        const std::string sent = module.Sent();
        const std::size_t from = sent.find("OK+CONN", sent.find("OK+CONNA") + 8) + 7;
        const std::string stream = sent.substr(from, sent.rfind("OK+LOST") - from);
        std::string received;
        for (const auto& entry : window.Transcript().Entries())
            if (entry.Kind == kelvara::link::TEntryKind::DataReceived)
                received += entry.Text;
        QCOMPARE(window.Transcript().Dropped(), std::size_t{0});
        QVERIFY(stream.size() > 1000);
        QCOMPARE(received, stream);
        QVERIFY(module.Received().find("u149") != std::string::npos);
        window.close();
    }

    // A bare record name is a file in the folder files are saved in (the last one used, else
    // Documents), never in the working folder, which on Windows is the program's own.
    void aBareRecordNameIsInTheSaveFolder() {
        QTemporaryDir saved;
        QTemporaryDir working;
        const QString before = QDir::currentPath();
        QDir::setCurrent(working.path());
        QSettings(QStringLiteral("Kelvara"), QStringLiteral("kelvara")).setValue(QStringLiteral("saveFolder"), saved.path());
        const kelvara::TListSource source{kelvara::TListKind::Beacon, {{"uuid", "0000FFF0-0000-1000-8000-00805F9B34FB"},
                                                                       {"major", "10123"}, {"minor", "10125"}}};
        TfrmModule window(kelvara::BuildList(source).List(), source);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Find<QLineEdit>(&window, "edtRecord")->setText(QStringLiteral("beacons.csv"));
        // No port is chosen: the record is read (made) first, then the port is asked for.
        window.btnBatchClick();
        QDir::setCurrent(before);
        QVERIFY(QFile::exists(saved.filePath(QStringLiteral("beacons.csv"))));
        QVERIFY(!QFile::exists(working.filePath(QStringLiteral("beacons.csv"))));
        window.close();
    }

    void noReplyWidensTheWindowOrHidesItsButtons() {
        TFakeModule module;
        module.On("AT+RENEW", TModuleBehaviour::Answering("OK" + std::string(4000, '\xf0')));
        module.On("AT+IMME1", TModuleBehaviour::Answering(std::string(3000, '\xfe')));
        TfrmModule window(DefaultList());
        window.resize(640, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize before = window.size();
        SendTo(window, module.PortPath());
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBusy(), 10000);
        QCoreApplication::processEvents();
        QCOMPARE(window.size(), before);
        for (const char* name : {"btnSend", "btnDisconnect", "btnClose", "btnFind"}) {
            auto* button = Find<QPushButton>(&window, name);
            QVERIFY2(window.rect().contains(QRect(button->mapTo(&window, QPoint(0, 0)), button->size())), name);
        }
        auto* table = Find<QTreeWidget>(&window, "lstCommands");
        QVERIFY(table->height() > 5 * table->sizeHintForRow(0));
        QVERIFY(table->topLevelItem(0)->text(2).size() <= 123);
        // A flood far beyond what the transcript keeps: the oldest entries go, and the window
        // says so.
        module.SendUnaskedInBackground(std::string(1024, 'x'), 2100);
        QTRY_VERIFY_WITH_TIMEOUT(window.Transcript().Dropped() > 0, 20000);
        QCOMPARE(window.Transcript().Entries().size(), kelvara::link::TTranscript::kMaxEntries);
        QVERIFY(Find<QLabel>(&window, "lbDropped")->isVisible());
        QVERIFY(Find<QLabel>(&window, "lbDropped")->text().endsWith(
            QStringLiteral("older entries were dropped; the transcript keeps the last 2000.")));
        QVERIFY(Find<QPlainTextEdit>(&window, "memTranscript")->blockCount() <= 2000);
        QCOMPARE(window.size(), before);
        window.close();
    }
};

QTEST_MAIN(ModuleWindowTest)
#include "ModuleWindowTest.moc"
