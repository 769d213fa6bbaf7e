// Drives the real main window through thousands of seeded random actions: typing and pasting
// strange text, choosing list items, switching pages, pressing both buttons and closing whatever
// opens. Replay a failure with KELVARA_MONKEY_SEED=<printed seed>; KELVARA_MONKEY_ACTIONS sets
// the number of actions.
#include "BeaconCommandList.h"
#include "FakeModule.h"
#include "MemoryPort.h"
#include "ModalProbe.h"
#include "ModuleWindow.h"
#include "CommandTypes.h"
#include "StudyCommandList.h"
#include "main.h"

#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTreeWidget>

#include <random>
#include <optional>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct EditInfo {
    const char* Name;
    int Page;
    int Cap;
};

constexpr EditInfo kEdits[] = {{"edtCharNotify", 0, 36},
                               {"edtCharWrite", 0, 36},
                               {"edtiBeaconUUID", 1, 36},
                               {"edtiBeaconMajor", 1, 5},
                               {"edtiBeaconMinor", 1, 5}};

quint64 SeedFromEnvironment() {
    bool ok = false;
    const quint64 seed = qEnvironmentVariable("KELVARA_MONKEY_SEED").toULongLong(&ok);
    return ok ? seed : QRandomGenerator::system()->generate64();
}

int ActionsFromEnvironment() {
    bool ok = false;
    const int actions = qEnvironmentVariableIntValue("KELVARA_MONKEY_ACTIONS", &ok);
    return ok && actions > 0 ? actions : 3000;
}

std::string Bytes(const QString& text) { return text.toLocal8Bit().toStdString(); }

QString Joined(const std::vector<std::string>& lines) {
    QString text;
    for (const auto& line : lines)
        text += QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size())) +
                QLatin1Char('\n');
    return text;
}

} // namespace

class MonkeyTest : public QObject {
    Q_OBJECT

    QRandomGenerator random;
    std::unique_ptr<TfrmMain> window;
    int presses = 0;
    int lists = 0;
    int rejections = 0;

    int Pick(int bound) { return static_cast<int>(random.bounded(bound)); }

    template <class T> T* Find(const char* name) const {
        return window->findChild<T*>(QLatin1String(name));
    }
    QTabWidget* Pages() const { return Find<QTabWidget>("MainPage"); }

    // A piece of text a person might paste: UUID-like digits, spaces and control characters,
    // bytes of 128 or more as the locale decodes them, other scripts, sometimes very long.
    QString RandomText() {
        QString text;
        const int length = Pick(10) == 0 ? 100 + Pick(2000) : Pick(42);
        while (text.size() < length) {
            switch (Pick(8)) {
            case 0:
            case 1:
            case 2:
                text += QLatin1Char("0123456789abcdefABCDEF-"[Pick(23)]);
                break;
            case 3:
                text += QChar(Pick(33)); // space and control characters, NUL included
                break;
            case 4: {
                QByteArray bytes;
                for (int i = 0; i < 1 + Pick(3); ++i)
                    bytes += static_cast<char>(128 + Pick(128));
                text += QString::fromLocal8Bit(bytes);
                break;
            }
            case 5: {
                static constexpr char32_t kOther[] = {0x00A0, 0x2013, 0x201C, 0x201D, 0xFF10,
                                                      0xFF21, 0x0416, 0x4E2D, 0x0627, 0x1F600,
                                                      0x00E9, 0x00DF, 0x200B, 0xFEFF};
                const char32_t c = kOther[Pick(std::size(kOther))];
                text += QString::fromUcs4(&c, 1);
                break;
            }
            case 6:
                text += QStringLiteral("0000FFE0-0000-1000-8000-00805F9B34FB").mid(Pick(30));
                break;
            default:
                text += QString::number(Pick(100000));
            }
        }
        return text;
    }

    QLineEdit* ShowEdit(const EditInfo& info) {
        Pages()->setCurrentIndex(info.Page);
        auto* edit = Find<QLineEdit>(info.Name);
        edit->setFocus(Qt::MouseFocusReason);
        return edit;
    }

    void Type() {
        QLineEdit* edit = ShowEdit(kEdits[Pick(5)]);
        if (Pick(2))
            edit->selectAll();
        // Typing is slow: keep it short, and printable, as keys are.
        QString text = RandomText().left(12);
        text.removeIf([](QChar c) { return c.unicode() < 32 || c.isSurrogate(); });
        for (QChar c : text) {
            if (c.unicode() < 127)
                QTest::keyClick(edit, c.toLatin1());
            else // a key of another keyboard layout: no key code, only its text
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c),
                                    Qt::NoModifier);
        }
    }

    void Paste() {
        QLineEdit* edit = ShowEdit(kEdits[Pick(5)]);
        if (Pick(3))
            edit->selectAll();
        QApplication::clipboard()->setText(RandomText());
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    }

    // A value that passes its field's checks, so that presses also produce lists.
    QString ValidText(const EditInfo& info) {
        const auto hex = [this](int digits) {
            QString text;
            for (int i = 0; i < digits; ++i)
                text += QLatin1Char("0123456789ABCDEFabcdef"[Pick(22)]);
            return text;
        };
        if (info.Cap == 5)
            return Pick(2) ? QStringLiteral("%1").arg(1 + Pick(65535), 5, 10, QLatin1Char('0'))
                           : QStringLiteral("%1").arg(1 + Pick(65535), 4, 16, QLatin1Char('0'));
        if (Pick(3) == 0)
            return QStringLiteral("%1").arg(1 + Pick(65535), 4, 16, QLatin1Char('0'));
        // Mostly one UUID, so that 128-bit pairs often differ in one byte at most.
        QString uuid = QStringLiteral("0000FFE0-0000-1000-8000-00805F9B34FB");
        if (Pick(2))
            uuid.replace(Pick(36), 1, hex(1));
        if (Pick(4) == 0)
            return hex(32);
        return Pick(2) ? uuid : uuid.remove(QLatin1Char('-'));
    }

    void PasteValid() {
        const EditInfo& info = kEdits[Pick(5)];
        QLineEdit* edit = ShowEdit(info);
        edit->selectAll();
        QApplication::clipboard()->setText(ValidText(info));
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    }

    void Key() {
        QLineEdit* edit = ShowEdit(kEdits[Pick(5)]);
        static constexpr Qt::Key kKeys[] = {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape,
                                            Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Home,
                                            Qt::Key_End};
        QTest::keyClick(edit, kKeys[Pick(std::size(kKeys))]);
    }

    QStringList Texts() const {
        QStringList texts;
        for (const auto& info : kEdits)
            texts << Find<QLineEdit>(info.Name)->text();
        return texts;
    }

    // Presses one of the buttons and checks that exactly the expected window appeared, with
    // exactly the expected contents, and that no field changed.
    void Press(bool study) {
        Pages()->setCurrentIndex(study ? 0 : 1);
        const QStringList before = Texts();
        const kelvara::TCommandListOutcome expected =
            study ? kelvara::BuildStudyCommandList(
                        Find<QComboBox>("cbUUIDType")->currentIndex() == 0
                            ? kelvara::TUuidFormat::uf16Bit
                            : kelvara::TUuidFormat::uf128Bit,
                        Bytes(before[0]), Bytes(before[1]))
                  : kelvara::BuildBeaconCommandList(Bytes(before[2]), Bytes(before[3]),
                                                    Bytes(before[4]));
        const bool byButton = Pick(2);
        bool matched = false;
        ModalProbe probe(
            [&](QWidget* modal) {
                QAbstractButton* close = nullptr;
                if (expected.HasLines()) {
                    QCOMPARE(modal->objectName(), QStringLiteral("frmResult"));
                    QCOMPARE(modal->findChild<QPlainTextEdit*>(QStringLiteral("memLog"))->toPlainText(),
                             Joined(expected.Lines()));
                    close = modal->findChild<QPushButton*>(QStringLiteral("btnOK"));
                } else {
                    auto* box = qobject_cast<QMessageBox*>(modal);
                    QVERIFY(box);
                    QCOMPARE(box->text(), QString::fromStdString(expected.Message()));
                    close = box->button(QMessageBox::Ok);
                }
                matched = true;
                if (byButton)
                    QTest::mouseClick(close, Qt::LeftButton);
                else
                    modal->close();
            },
            ModalProbe::CloseBy::CloseBox);
        QTest::mouseClick(Find<QPushButton>(study ? "btnShow" : "btniBeacon"), Qt::LeftButton);
        QCOMPARE(probe.Count(), 1);
        QVERIFY(matched);
        QCOMPARE(Texts(), before);
        ++presses;
        ++(expected.HasLines() ? lists : rejections);
    }

  private slots:
    void randomActionsNeverBreakTheWindow() {
        const quint64 seed = SeedFromEnvironment();
        const int actions = ActionsFromEnvironment();
        qInfo("monkey seed %llu, %d actions (replay with KELVARA_MONKEY_SEED=%llu)", seed, actions,
              seed);
        random.seed(seed);
        window = std::make_unique<TfrmMain>();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));

        for (int action = 0; action < actions; ++action) {
            switch (Pick(15)) {
            case 0:
            case 1:
                Type();
                break;
            case 10:
            case 11:
            case 12:
            case 13:
            case 14:
                PasteValid();
                break;
            case 2:
            case 3:
                Paste();
                break;
            case 4:
                Key();
                break;
            case 5:
                Find<QComboBox>("cbUUIDType")->setCurrentIndex(Pick(2));
                break;
            case 6:
                Pages()->setCurrentIndex(Pick(3));
                break;
            case 7:
            case 8:
                Press(true);
                break;
            default:
                Press(false);
            }
            if (QTest::currentTestFailed()) {
                qWarning("failed at action %d of seed %llu", action, seed);
                return;
            }
            for (const auto& info : kEdits)
                QVERIFY2(Find<QLineEdit>(info.Name)->text().size() <= info.Cap, info.Name);
        }
        qInfo("%d actions: %d presses, %d lists, %d rejections", actions, presses, lists,
              rejections);
        window.reset();
        QCOMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    // Send, Find, typed commands, Cancel, Escape, Disconnect, Close, and an adapter unplugged
    // and plugged back in, at random moments, against a module on an in-memory port that answers
    // after random delays. After every step: each run of the list is the list from its start, in
    // order, none twice; nothing of the list came after a send ended or beyond what had begun
    // when it was cancelled; and the port is closed whenever the window is.
    void randomUseNeverResendsOrLeaksThePort() {
        const quint64 seed = SeedFromEnvironment();
        const int actions = std::max(20, ActionsFromEnvironment() / 20);
        qInfo("module window monkey seed %llu, %d actions", seed, actions);
        random.seed(seed);
        const std::vector<kelvara::TCommandList> lists = {
            kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List(),
            kelvara::BuildBeaconCommandList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123",
                                            "10125")
                .List()};
        const kelvara::TCommandList& list = lists[Pick(2)];
        const std::vector<std::string> commands = kelvara::SetUpCommands(list);
        QTemporaryDir dir;
        qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());

        // The module answers each command "OK+<word>" after 0 to 40 ms; unplugged, it hears
        // nothing, and what it was still to say is lost with it.
        kelvara::testing::TMemoryPort* port = nullptr;
        std::vector<std::string> received; // every command the modules received, in order
        int plugged = 0; // which module is in, counting each plugged in
        std::minstd_rand delays(static_cast<unsigned>(seed));
        const auto answer = [&](const std::string& written) {
            std::string command = written;
            while (!command.empty() && (command.back() == '\r' || command.back() == '\n'))
                command.pop_back();
            received.push_back(command);
            const std::string reply = kelvara::testing::TFakeModule::UsualReply(command, {});
            QTimer::singleShot(std::uniform_int_distribution(0, 40)(delays), port, [&, reply, module = plugged] {
                if (module == plugged && port->IsOpen()) {
                    port->Arrive(reply);
                    port->Deliver();
                }
            });
            return std::string();
        };
        const kelvara::link::TPorts ports{[&] {
                                              auto made = std::make_unique<kelvara::testing::TMemoryPort>();
                                              made->Answer = answer;
                                              port = made.get();
                                              return made;
                                          },
                                          std::make_shared<kelvara::link::TSteadyClock>()};
        auto window = std::make_unique<TfrmModule>(list, std::nullopt, nullptr, ports);
        window->findChild<QComboBox*>(QStringLiteral("cbPort"))->setEditText(QStringLiteral("adapter"));
        window->findChild<QSpinBox*>(QStringLiteral("spnPause"))->setValue(Pick(2) * 10);
        window->findChild<QSpinBox*>(QStringLiteral("spnTimeout"))->setValue(35 + Pick(35));
        window->show();

        // The commands a send has begun: rows no longer waiting.
        const auto begun = [&] {
            auto* rows = window->findChild<QTreeWidget*>(QStringLiteral("lstCommands"));
            std::size_t count = 0;
            for (int i = 0; i < rows->topLevelItemCount(); ++i)
                count += rows->topLevelItem(i)->text(1) != QLatin1String("waiting") &&
                         rows->topLevelItem(i)->text(1) != QLatin1String("not sent");
            return count;
        };
        // What the modules received of the list, in order.
        const auto listReceived = [&] {
            std::vector<std::string> ofTheList;
            for (const std::string& command : received)
                if (std::find(commands.begin(), commands.end(), command) != commands.end())
                    ofTheList.push_back(command);
            return ofTheList;
        };
        std::size_t receivedWhenIdle = 0;
        std::size_t sessionStart = 0;
        std::optional<std::size_t> begunAtCancel;
        bool sendPressed = false;
        int sends = 0;
        for (int action = 0; action < actions; ++action) {
            const bool wasSending = window->IsSending();
            const int choice = Pick(10);
            if (wasSending && choice >= 2 && choice <= 4 && !begunAtCancel)
                begunAtCancel = begun();
            switch (choice) {
            case 0:
            case 1:
                if (!window->isVisible())
                    window->show();
                if (!window->IsBusy()) {
                    ++sends;
                    sendPressed = true;
                    sessionStart = listReceived().size();
                }
                QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnSend")),
                                  Qt::LeftButton);
                break;
            case 2:
                QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnClose")),
                                  Qt::LeftButton);
                break;
            case 3:
                QTest::keyClick(window.get(), Qt::Key_Escape);
                break;
            case 4:
                window->close();
                break;
            case 5:
                if (window->isVisible()) {
                    auto* line = window->findChild<QLineEdit*>(QStringLiteral("edtCommand"));
                    line->setText(Pick(2) ? QStringLiteral("AT+DISC?") : QStringLiteral("AT+VERS?"));
                    QTest::keyClick(line, Qt::Key_Return);
                }
                break;
            case 6:
                QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnFind")),
                                  Qt::LeftButton);
                break;
            case 7:
                QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnDisconnect")),
                                  Qt::LeftButton);
                break;
            case 8:
                // Now and then unplugged, and plugged back in a moment later.
                if (port->Present && Pick(3) != 0)
                    break;
                if (port->Present) {
                    port->Unplug();
                    if (sendPressed || window->IsSending())
                        begunAtCancel = begunAtCancel ? begunAtCancel : std::optional(begun() + 1);
                } else {
                    ++plugged;
                    port->Present = true;
                }
                break;
            default:
                break;
            }
            QTest::qWait(Pick(50));

            // Each run of the list is the list from its start, in order, none twice.
            const std::vector<std::string> ofTheList = listReceived();
            std::size_t next = 0;
            for (const std::string& command : ofTheList) {
                if (command == commands.front())
                    next = 0;
                QVERIFY2(next < commands.size() && command == commands[next],
                         qPrintable(QStringLiteral("seed %1: %2 out of turn")
                                        .arg(seed)
                                        .arg(QString::fromStdString(command))));
                ++next;
            }
            if (!window->isVisible() && !window->IsBusy()) {
                QVERIFY(!window->IsPortOpen());
                QVERIFY(!port->IsOpen());
            }
            if (window->IsSending())
                continue;
            // Not sending: nothing of the list came since the last such moment but what a
            // pressed Send began, and after a cancel, nothing but the commands already begun.
            if (!sendPressed)
                QCOMPARE(ofTheList.size(), receivedWhenIdle);
            if (begunAtCancel)
                QVERIFY(ofTheList.size() - sessionStart <= *begunAtCancel);
            receivedWhenIdle = ofTheList.size();
            sendPressed = false;
            begunAtCancel.reset();
        }
        window->close();
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBusy() && !window->isVisible(), 5000);
        QVERIFY(!window->IsPortOpen() && !port->IsOpen());
        window.reset();
        qInfo("%d actions, %d sends, %zu commands received", actions, sends, listReceived().size());
    }
};

QTEST_MAIN(MonkeyTest)
#include "MonkeyTest.moc"
