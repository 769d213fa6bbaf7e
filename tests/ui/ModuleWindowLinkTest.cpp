// The module window and a device: a scan, a connection and its data from the keyboard, a device
// that talks while lines are typed, and a link that drops and is rejoined, logged to a file.
#include "ModuleWindowRig.h"

class ModuleWindowLinkTest : public TModuleWindowSuite {
    Q_OBJECT

  private slots:
    // By keyboard alone: Log to File and Rejoin on, a connection, a drop. A line typed while the
    // link is down waits and goes once it is back; the transcript and the log tell it all, and a
    // log that can no longer be written is said at once, the session going on.
    void aLinkThatRejoinsKeepsTypedLinesWaitingAndTheLogTellsIt() {
        kelvara::testing::TMemoryPort* port = nullptr;
        const auto clock = std::make_shared<kelvara::testing::TSkippingClock>();
        bool answering = true;
        std::string written;
        TfrmModule window(DefaultList(), {}, nullptr, AnsweringPorts([&](const std::string& bytes) {
                              written += bytes;
                              if (bytes == "AT+DISC?")
                                  return std::string("OK+DISCSOK+DIS0:C4BE84123456OK+DISCE");
                              return bytes.starts_with("AT+CO") && answering ? std::string("OK+CONNAOK+CONN")
                                                                             : std::string();
                          }, &port, clock));
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
        QVERIFY(SkipUntil(*clock, [&] { return state->text().startsWith("Rejoined C4BE84123456 after"); }));
        QVERIFY2(state->text().endsWith(" s, 2 tries."), qPrintable(state->text()));
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
};

QTEST_MAIN(ModuleWindowLinkTest)
#include "ModuleWindowLinkTest.moc"
