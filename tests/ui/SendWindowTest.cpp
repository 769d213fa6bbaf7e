// The "Send to Module" window against a simulated module: the way in from the command list
// window, whole sends, failures, cancelling and closing mid-send, and a port that does not exist.
#include "ATCommandList.h"
#include "FakeModule.h"
#include "ModalProbe.h"
#include "SendToModule.h"
#include "CommandTypes.h"
#include "StudyCommandList.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>

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

std::string Joined(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i)
        bytes += kCommands[i];
    return bytes;
}

// Starts a send from the keyboard: the port typed into the port field, then Enter.
void SendTo(TfrmSend& window, const std::string& port, int timeoutMs = 1000) {
    Find<QSpinBox>(&window, "spnPause")->setValue(0);
    Find<QSpinBox>(&window, "spnTimeout")->setValue(timeoutMs);
    auto* portField = Find<QComboBox>(&window, "cbPort");
    portField->lineEdit()->selectAll();
    QTest::keyClicks(portField->lineEdit(), QString::fromStdString(port));
    QTest::keyClick(portField->lineEdit(), Qt::Key_Return);
}

} // namespace

class SendWindowTest : public QObject {
    Q_OBJECT

  private slots:
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
            QCOMPARE(modal->objectName(), QStringLiteral("frmSend"));
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
    }

    void wholeSendFromTheKeyboard() {
        TFakeModule module;
        TfrmSend window(kCommands);
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
        QVERIFY(!window.IsPortOpen());
        QVERIFY(module.WaitUntilOtherEndClosed(5s));
        // Escape closes the window once nothing is under way.
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
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
        TfrmSend window(kCommands);
        window.show();
        SendTo(window, module.PortPath(), 300);
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsSending(), 10000);
        QCOMPARE(Rows(&window), ExpectedRows(3, {row}));
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(), status);
        QCOMPARE(module.Received(), Joined(4));
        QVERIFY(!window.IsPortOpen());
        window.close();
    }

    void cancelStopsAfterTheCommandUnderWay() {
        TFakeModule module;
        module.On("AT+SHOW1", TModuleBehaviour::Slow(300));
        TfrmSend window(kCommands);
        window.show();
        SendTo(window, module.PortPath());
        QTRY_VERIFY_WITH_TIMEOUT(module.Commands().size() == 3, 10000);
        QTest::mouseClick(Find<QPushButton>(&window, "btnClose"), Qt::LeftButton);
        QVERIFY(window.IsSending()); // AT+SHOW1 is still under way
        QVERIFY(window.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsSending(), 10000);
        QCOMPARE(Rows(&window), ExpectedRows(3, {}));
        QCOMPARE(module.Received(), Joined(3));
        QVERIFY(module.WaitUntilOtherEndClosed(5s));
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(),
                 QStringLiteral("Cancelled; the last command acknowledged was AT+SHOW1."));
        // Sending again starts over.
        QTest::keyClick(Find<QComboBox>(&window, "cbPort")->lineEdit(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsSending() && module.Commands().size() == 12, 10000);
        QCOMPARE(Rows(&window), ExpectedRows(kCommands.size(), {}));
        window.close();
    }

    void closingMidSendClosesThePortThenTheWindow() {
        TFakeModule module;
        module.On("AT+IMME1", TModuleBehaviour::Slow(300));
        TfrmSend window(kCommands);
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
        TfrmSend window(kCommands);
        window.show();
        SendTo(window, "/dev/kelvara-no-such-port");
        QVERIFY(!window.IsSending());
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(),
                 QStringLiteral("Cannot open /dev/kelvara-no-such-port: no such port."));
        QCOMPARE(Rows(&window).first(), QStringLiteral("AT+RENEW|waiting|"));
        QVERIFY(Find<QPushButton>(&window, "btnSend")->isEnabled());
        window.close();
    }
};

QTEST_MAIN(SendWindowTest)
#include "SendWindowTest.moc"
