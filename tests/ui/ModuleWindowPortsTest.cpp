// The module window's ports: an adapter unplugged and plugged back, a port slow to open or
// refused when it comes back, and batches of modules on one port and on three.
#include "ModuleWindowRig.h"

class ModuleWindowPortsTest : public TModuleWindowSuite {
    Q_OBJECT

  private slots:
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
        const auto clock = std::make_shared<kelvara::testing::TSkippingClock>();
        bool slow = false; // the ports made from now on open later
        const kelvara::link::TPorts ports{[&] {
                                              auto made = std::make_unique<kelvara::testing::TMemoryPort>();
                                              made->Prompt = true;
                                              made->OpensLater = slow;
                                              made->Answer = [](const std::string&) { return std::string("OK\r\n"); };
                                              port = made.get();
                                              return made;
                                          },
                                          clock};
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
        // Tried again, and not told again.
        const int tries = port->Openings;
        QVERIFY(SkipUntil(*clock, [&] { return port->Openings >= tries + 3; }));
        port->Refusal.clear();
        QVERIFY(SkipUntil(*clock, [&] { return window.IsPortOpen(); }));
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
        QVERIFY(SkipUntil(*clock, [&] { return status->text() == QStringLiteral("All 2 modules set up."); }));
        QCOMPARE(Find<QTreeWidget>(&window, "lstBatchPorts")->topLevelItemCount(), 2);
        window.close();
    }

    // On in-memory ports, by the clock.
    void aBatchOnThreePortsFromTheKeyboard() {
        std::vector<std::string> commands;
        std::vector<std::shared_ptr<bool>> made;
        const auto clock = std::make_shared<kelvara::testing::TSkippingClock>();
        const kelvara::TListSource source = kelvara::DefaultSource(kelvara::TListKind::Beacon);
        TfrmModule window(kelvara::BuildList(source).List(), source, nullptr,
                          ModulePorts({{.AnswerOkLines = true, .CommandEnd = "\r"}, clock, 6000, &made}, commands));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Find<QComboBox>(&window, "cbPort")->setEditText(QStringLiteral("mem0"));
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
                         QStringLiteral("mem1 mem2"));
        QTest::keyClick(&window, Qt::Key_Y, Qt::AltModifier);
        // A mnemonic presses its button shortly after; a busy machine makes that later.
        QTRY_VERIFY2_WITH_TIMEOUT(window.IsInBatch(),
                                  qPrintable(Find<QLabel>(&window, "lbStatus")->text()), 10000);
        QVERIFY(Find<QTreeWidget>(&window, "lstBatchPorts")->isVisible());
        QCOMPARE(Find<QTreeWidget>(&window, "lstBatchPorts")->topLevelItemCount(), 3);
        QVERIFY(SkipUntil(*clock, [&] { return !window.IsInBatch(); }));
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(), QStringLiteral("All 6 modules set up."));
        QCOMPARE(std::count(commands.begin(), commands.end(), "AT+RENEW"), 6);
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
        QCOMPARE(made.size(), 3u);
        for (const auto& open : made)
            QVERIFY(!*open);
    }

    // On an in-memory port, by the clock: a person takes each module away once its list has
    // ended and puts the next in its place six seconds later.
    void aBatchOfModulesFromTheKeyboard() {
        std::vector<std::string> commands;
        const auto clock = std::make_shared<kelvara::testing::TSkippingClock>();
        const auto ports = ModulePorts({{.AnswerOkLines = true, .CommandEnd = "\r"}, clock, 6000}, commands);
        QTemporaryDir dir;
        const QString record = dir.filePath("beacons.csv");
        const kelvara::TListSource source{kelvara::TListKind::Beacon,
                                 {{"uuid", "0000FFF0-0000-1000-8000-00805F9B34FB"},
                                  {"major", "10123"},
                                  {"minor", "10125"}}};
        TfrmModule window(
            kelvara::BuildBeaconCommandList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125").List(),
            source, nullptr, ports);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Find<QComboBox>(&window, "cbPort")->setEditText(QStringLiteral("mem0"));
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
        QVERIFY2(SkipUntil(*clock, [&] { return !window.IsInBatch(); }), qPrintable(Find<QLabel>(&window, "lbStatus")->text()));
        QCOMPARE(Find<QLabel>(&window, "lbStatus")->text(), QStringLiteral("All 3 modules set up."));
        // Each module had its list once, and nothing but "AT" was asked between them.
        QCOMPARE(std::count(commands.begin(), commands.end(), "AT+RENEW"), 3);
        for (const std::string& command : commands)
            QVERIFY2(command == "AT" || command.starts_with("AT+"), command.c_str());
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
};

QTEST_MAIN(ModuleWindowPortsTest)
#include "ModuleWindowPortsTest.moc"
