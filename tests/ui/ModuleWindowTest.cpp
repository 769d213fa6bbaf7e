// The module window against a simulated module: the way in from the command list window, whole
// sends, failures, cancelling and closing mid-send, a port that does not exist; finding the
// settings, the console and its transcript, remembered settings, and what a long reply or a
// finished send may not do.
#include "ModuleWindowRig.h"

namespace {

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
void SendTo(TfrmModule& window, const std::string& port, int timeoutMs = 1000) {
    Find<QSpinBox>(&window, "spnPause")->setValue(0);
    Find<QSpinBox>(&window, "spnTimeout")->setValue(timeoutMs);
    auto* portField = Find<QComboBox>(&window, "cbPort");
    portField->lineEdit()->selectAll();
    QTest::keyClicks(portField->lineEdit(), QString::fromStdString(port));
    QTest::keyClick(portField->lineEdit(), Qt::Key_Return);
}

} // namespace

class ModuleWindowTest : public TModuleWindowSuite {
    Q_OBJECT

  private slots:
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
