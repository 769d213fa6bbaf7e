// The main window as a person meets it: its controls, defaults, limits and keys, and what each
// button press shows.
#include "Messages.h"
#include "ModalProbe.h"
#include "main.h"

#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>

namespace {

const QString kUuidNotify = QStringLiteral("0000FFE1-0000-1000-8000-00805F9B34FB");
const QString kUuidWrite = QStringLiteral("0000FFE2-0000-1000-8000-00805F9B34FB");

QString Text(std::string_view message) {
    return QString::fromLatin1(message.data(), static_cast<qsizetype>(message.size()));
}

int CountTopLevelsNamed(const QString& name) {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        count += w->objectName() == name && w->isVisible();
    return count;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMain> window;

    template <class T> T* Find(const char* name) const {
        T* child = window->findChild<T*>(QLatin1String(name));
        if (!child)
            qFatal("no control named %s", name);
        return child;
    }
    QLineEdit* Edit(const char* name) const { return Find<QLineEdit>(name); }
    QTabWidget* Pages() const { return Find<QTabWidget>("MainPage"); }

    // A page lays out its controls only once it is shown.
    void ShowPageOf(QWidget* control) const {
        for (int i = 0; i < Pages()->count(); ++i)
            if (Pages()->widget(i)->isAncestorOf(control))
                Pages()->setCurrentIndex(i);
    }

    // Presses a button and returns the plain text of the command list window it opened.
    QString PressForList(const char* button, int* windows = nullptr) {
        QString text;
        ModalProbe probe([&](QWidget* modal) {
            QCOMPARE(modal->objectName(), QStringLiteral("frmResult"));
            auto* memo = modal->findChild<QPlainTextEdit*>(QStringLiteral("memLog"));
            QTRY_COMPARE(QApplication::focusWidget(), memo);
            QVERIFY(memo->isReadOnly());
            text = memo->toPlainText();
        });
        QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton);
        if (windows)
            *windows = probe.Count();
        return text;
    }

  private slots:
    void init() {
        window = std::make_unique<TfrmMain>();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    void cleanup() {
        window.reset();
        QCOMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    void windowIsFixedAndCaptioned() {
        QCOMPARE(window->objectName(), QStringLiteral("frmMain"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Kelvara V1.02"));
        QCOMPARE(window->size(), QSize(520, 384));
        QCOMPARE(window->minimumSize(), QSize(520, 384));
        QCOMPARE(window->maximumSize(), QSize(520, 384));
        const auto flags = window->windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QCOMPARE(Pages()->geometry().size(), QSize(520, 359));
        QCOMPARE(Find<QStatusBar>("sbTitle")->height(), 25);
        // A 12-pixel character height (ascent plus descent), in "MS Sans Serif" or the font
        // carried in its place.
        QCOMPARE(qRound(QFontMetricsF(Edit("edtCharNotify")->font()).height()), 12);
        const QPoint offCentre = window->geometry().center() -
                                 QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 40, "centred on the desktop");
    }

    void pagesInOrderFirstActive() {
        QCOMPARE(Pages()->count(), 3);
        QCOMPARE(Pages()->currentIndex(), 0);
        QCOMPARE(Pages()->widget(0)->objectName(), QStringLiteral("tbStudy"));
        QCOMPARE(Pages()->widget(1)->objectName(), QStringLiteral("tabBeacon"));
        QCOMPARE(Pages()->widget(2)->objectName(), QStringLiteral("TabSheet1"));
        QCOMPARE(Pages()->tabText(0), QStringLiteral("Study Function for Master Role"));
        QCOMPARE(Pages()->tabText(1), QStringLiteral("iBeacon function for Slave Role"));
        // A doubled ampersand shows as one and marks no mnemonic.
        QCOMPARE(Pages()->tabText(2), QStringLiteral("Corvex&&Lumara"));
        auto* logo = Find<QLabel>("imgLogo");
        QCOMPARE(logo->geometry(), QRect(112, 134, 32, 32));
        QVERIFY(!logo->pixmap().isNull());
        QVERIFY(logo->pixmap().hasAlphaChannel());
        QCOMPARE(Find<QLabel>("lbBuilding")->text(), QStringLiteral("Building......"));
        QCOMPARE(Find<QLabel>("lbBuilding")->pos(), QPoint(168, 144));
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        auto row = [](const char* name, const char* text, QRect geometry) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(text)
                                << geometry;
        };
        // Labels are as wide as their box allows; left and top are what counts.
        row("lbStudyUUIDType", "Chose UUID type:", QRect(8, 19, 100, 13));
        row("cbUUIDType", "", QRect(112, 16, 393, 21));
        row("edtCharNotify", "FFE1", QRect(8, 16, 497, 21));
        row("lbCharNotify", "Please input UUID which included \"Notify\" property",
            QRect(8, 48, 497, 13));
        row("edtCharWrite", "FFE1", QRect(8, 16, 497, 21));
        row("lbCharWrite",
            "Please input UUID which included \"Write\" or \"WriteWithoutResponse\" property",
            QRect(8, 48, 497, 13));
        row("lbHelp1", "1. 16 Bits UUID format is like 'FFF0'", QRect(8, 24, 497, 13));
        row("lbhelp2", "2. 128 Bits UUID format is like '0000FFE0-0000-1000-8000-00805F9B34FB'",
            QRect(8, 40, 497, 13));
        row("lbhelp3",
            "3. Please use LightBlue for iOS to find UUID, android always show as 128 Bits UUID",
            QRect(8, 56, 497, 13));
        row("lbhelp4", "4. If slave device is used one UUID, please keep those two UUID is same",
            QRect(8, 72, 497, 13));
        row("btnShow", "Create AT Commands List", QRect(344, 11, 155, 25));
        row("edtiBeaconUUID", "0000FFF0-0000-1000-8000-00805F9B34FB", QRect(8, 16, 497, 21));
        row("lbiBeaconUUID",
            "Please input UUID, Should like \"0000FFE0-0000-1000-8000-00805F9B34FB\"",
            QRect(8, 48, 497, 13));
        row("edtiBeaconMajor", "10123", QRect(8, 16, 497, 21));
        row("lbiBeaconMajor",
            "Please input Major, Should like \"04D2\" (Hex mode) or \"01234\" (Decimal mode)",
            QRect(8, 48, 497, 13));
        row("edtiBeaconMinor", "10125", QRect(8, 16, 497, 21));
        row("lbiBeaconMinor",
            "Please input Minor, Should like \"04D3\" (Hex mode) or \"01235\" (Decimal mode)",
            QRect(8, 48, 497, 13));
        row("lbiBeaconHelp1",
            "1. Major or Minor is between 1~65535, Hex mode length is 4, Decimal mode is 5.",
            QRect(8, 24, 497, 13));
        row("lbiBeaconHelp2",
            "2. If you want to use it in WeChat, Please ask Tencent to get UUID information.",
            QRect(8, 40, 497, 13));
        row("lbiBeaconHelp3",
            "3. iBeacon is based on BLE, iBeacon format is 21 Bytes in advertising data.",
            QRect(8, 56, 497, 13));
        row("btniBeacon", "Create iBeacon AT Commands List", QRect(272, 80, 227, 25));
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        auto* control = window->findChild<QWidget*>(name);
        QVERIFY(control);
        ShowPageOf(control);
        QCOMPARE(control->geometry(), geometry);
        if (auto* label = qobject_cast<QLabel*>(control)) {
            QCOMPARE(label->text(), text);
            // Nothing is cut off: the text fits inside its group box.
            const int right = label->x() + QFontMetrics(label->font()).horizontalAdvance(text);
            QVERIFY2(right <= label->parentWidget()->contentsRect().right(), qPrintable(name));
            QVERIFY(label->sizeHint().height() <= label->height() + 2);
        } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            QCOMPARE(edit->text(), text);
            QCOMPARE(edit->maxLength(), name.contains(QLatin1String("UUID")) ||
                                                name.startsWith(QLatin1String("edtChar"))
                                            ? 36
                                            : 5);
            auto* box = qobject_cast<QGroupBox*>(edit->parentWidget());
            QCOMPARE(edit->accessibleName(), box->title());
        } else if (auto* button = qobject_cast<QPushButton*>(control)) {
            QCOMPARE(button->text(), text);
            QVERIFY(!button->isDefault());
            QVERIFY(!button->autoDefault());
            QVERIFY(QFontMetrics(button->font()).horizontalAdvance(text) < button->width() - 8);
        }
    }

    void groupBoxes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("height");
        auto row = [](const char* name, const char* title, int height) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(title)
                                << height;
        };
        row("GBUUIDType", "UUID Type", 41);
        row("GBUUIDNotify", "Characteristic included \"Notify\" property", 72);
        row("GBUUIDWrite", "Characteristic included \"Write\" or \"WriteWithoutResponse\" property",
            72);
        row("GBHelp", "Help information", -1);
        row("GBButton", "", 44);
        row("gbiBeaconUUID", "iBeacon UUID or WeChat UUID", 72);
        row("gbiBeaconMajor", "iBeacon Major or WeChat Major", 72);
        row("gbiBeaconMinor", "iBeacon Minor or WeChat Minor", 72);
        row("gbiBeaconHelp", "Help information", -1);
    }

    void groupBoxes() {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QFETCH(int, height);
        auto* box = window->findChild<QGroupBox*>(name);
        QVERIFY(box);
        ShowPageOf(box);
        QCOMPARE(box->title(), title);
        QCOMPARE(box->width(), box->parentWidget()->width());
        if (height > 0)
            QCOMPARE(box->height(), height);
        else
            QVERIFY(box->height() > 100); // the help box takes the room that is left
        QVERIFY(QFontMetrics(box->font()).horizontalAdvance(title) < box->width() - 16);
        for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(box->rect().contains(child->geometry()), qPrintable(child->objectName()));
    }

    void dropDownListIsFixedWithItemZeroSelected() {
        auto* list = Find<QComboBox>("cbUUIDType");
        QVERIFY(!list->isEditable());
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->currentIndex(), 0);
        QCOMPARE(list->itemText(0), QStringLiteral("Slave device is using 16 Bit format UUID"));
        QCOMPARE(list->itemText(1), QStringLiteral("Slave device is using 128 Bit format UUID"));
        QCOMPARE(list->accessibleName(), QStringLiteral("UUID Type"));
        for (int i = 0; i < list->count(); ++i)
            QVERIFY(QFontMetrics(list->font()).horizontalAdvance(list->itemText(i)) <
                    list->width() - 40);
    }

    void statusBarPanels() {
        auto* first = Find<QLabel>("sbTitlePanel1");
        auto* second = Find<QLabel>("sbTitlePanel2");
        QCOMPARE(first->text(), QStringLiteral("www.corvex-lumara.example"));
        QCOMPARE(second->text(), QStringLiteral(" support@corvex-lumara.example"));
        QCOMPARE(first->width(), 160);
        QVERIFY(QFontMetrics(first->font()).horizontalAdvance(first->text()) < first->width());
        QCOMPARE(first->alignment(), Qt::AlignCenter);
        QCOMPARE(first->layoutDirection(), Qt::RightToLeft);
        QVERIFY(second->x() >= first->geometry().right());
        QVERIFY(second->geometry().right() >= Find<QStatusBar>("sbTitle")->width() - 12);
    }

    void editsKeepTheirCapsWhenTypingAndPasting_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("cap");
        QTest::newRow("notify") << QStringLiteral("edtCharNotify") << 36;
        QTest::newRow("write") << QStringLiteral("edtCharWrite") << 36;
        QTest::newRow("uuid") << QStringLiteral("edtiBeaconUUID") << 36;
        QTest::newRow("major") << QStringLiteral("edtiBeaconMajor") << 5;
        QTest::newRow("minor") << QStringLiteral("edtiBeaconMinor") << 5;
    }

    void editsKeepTheirCapsWhenTypingAndPasting() {
        QFETCH(QString, name);
        QFETCH(int, cap);
        auto* edit = window->findChild<QLineEdit*>(name);
        Pages()->setCurrentWidget(edit->parentWidget()->parentWidget());
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, QString(cap, QLatin1Char('7')));
        QTest::keyClicks(edit, QStringLiteral("8"));
        QCOMPARE(edit->text(), QString(cap, QLatin1Char('7')));

        edit->clear();
        QApplication::clipboard()->setText(QString(cap + 10, QLatin1Char('9')));
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), QString(cap, QLatin1Char('9')));
    }

    void focusStartsOnTheTabStripAndFollowsTheTabOrder() {
        QCOMPARE(QApplication::focusWidget(), Pages()->tabBar());
        const char* study[] = {"cbUUIDType", "edtCharWrite", "edtCharNotify", "btnShow"};
        for (const char* name : study) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Pages()->tabBar());

        Pages()->setCurrentIndex(1);
        Pages()->tabBar()->setFocus(Qt::TabFocusReason);
        const char* beacon[] = {"edtiBeaconMinor", "edtiBeaconUUID", "edtiBeaconMajor",
                                "btniBeacon"};
        for (const char* name : beacon) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
        }
    }

    // The toolkit selects all on Tab into an empty selection by itself; these are the arrivals
    // only the window's own rule covers: focus given by code, and by Tab or a shortcut into an
    // edit that still holds part of a selection. A mouse click places the cursor instead.
    void focusOtherThanByMouseSelectsTheWholeText_data() {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("whole");
        QTest::newRow("by code") << int(Qt::OtherFocusReason) << true;
        QTest::newRow("by Tab, part selected") << int(Qt::TabFocusReason) << true;
        QTest::newRow("by shortcut, part selected") << int(Qt::ShortcutFocusReason) << true;
        QTest::newRow("by mouse") << int(Qt::MouseFocusReason) << false;
    }
    void focusOtherThanByMouseSelectsTheWholeText() {
        QFETCH(int, reason);
        QFETCH(bool, whole);
        for (const char* name : {"edtCharNotify", "edtiBeaconMajor"}) {
            QLineEdit* edit = Edit(name);
            ShowPageOf(edit);
            Pages()->tabBar()->setFocus(Qt::OtherFocusReason);
            edit->setText(QStringLiteral("ABCD"));
            edit->setSelection(1, 2);
            edit->setFocus(static_cast<Qt::FocusReason>(reason));
            QCOMPARE(QApplication::focusWidget(), edit);
            QCOMPARE(edit->selectedText(), whole ? QStringLiteral("ABCD") : QStringLiteral("BC"));
        }
    }

    // Enter presses a focused button, as Space does; in an edit it presses nothing (below).
    void enterOnAFocusedButtonPressesIt() {
        for (const char* name : {"btnShow", "btniBeacon"}) {
            auto* button = Find<QPushButton>(name);
            ShowPageOf(button);
            button->setFocus(Qt::TabFocusReason);
            int windows = 0;
            ModalProbe probe([&](QWidget* modal) {
                windows += modal->objectName() == QLatin1String("frmResult");
            });
            QTest::keyClick(button, Qt::Key_Return);
            QCOMPARE(windows, 1);
            ModalProbe second([&](QWidget*) { ++windows; });
            QTest::keyClick(button, Qt::Key_Enter);
            QCOMPARE(windows, 2);
        }
    }

    // What a screen reader says: each edit's name is its box's caption, its description the hint
    // under it; the logo has a name too.
    void screenReadersHearNamesAndHints_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("hint");
        for (auto [edit, hint] : {std::pair{"edtCharNotify", "lbCharNotify"},
                                  {"edtCharWrite", "lbCharWrite"},
                                  {"edtiBeaconUUID", "lbiBeaconUUID"},
                                  {"edtiBeaconMajor", "lbiBeaconMajor"},
                                  {"edtiBeaconMinor", "lbiBeaconMinor"}})
            QTest::newRow(edit) << QString::fromLatin1(edit) << QString::fromLatin1(hint);
    }
    void screenReadersHearNamesAndHints() {
        QFETCH(QString, edit);
        QFETCH(QString, hint);
        auto* field = window->findChild<QLineEdit*>(edit);
        QCOMPARE(field->accessibleDescription(), window->findChild<QLabel*>(hint)->text());
        QVERIFY(field->accessibleDescription().startsWith(QLatin1String("Please input ")));
        QCOMPARE(Find<QLabel>("imgLogo")->accessibleName(), QStringLiteral("Corvex&Lumara logo"));
    }

    void defaultStudyListOpensInTheListWindow() {
        int windows = 0;
        const QString text = PressForList("btnShow", &windows);
        QCOMPARE(windows, 1);
        const QStringList lines = text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 25); // 24 lines, each ended by a line break
        QCOMPARE(lines.last(), QString());
        QCOMPARE(lines[7], QStringLiteral("AT+128B0"));
        QCOMPARE(lines[8], QStringLiteral("AT+UUID0xFFE1"));
        QCOMPARE(lines[9], QStringLiteral("AT+CHAR0xFFE1"));
        QCOMPARE(lines[11], QStringLiteral(" "));
        QCOMPARE(CountTopLevelsNamed(QStringLiteral("frmResult")), 0);
    }

    void defaultBeaconListOpensInTheListWindow() {
        Pages()->setCurrentIndex(1);
        const QString text = PressForList("btniBeacon");
        QCOMPARE(text, QStringLiteral("         Those AT Command only need be executed once more\n"
                                      "         ================================================\n"
                                      "AT+RENEW\n\nAT+IBEA1\n\nAT+IBE00000FFF0\n\nAT+IBE100001000\n\n"
                                      "AT+IBE280000080\n\nAT+IBE35F9B34FB\n\nAT+MARJ0x278B\n\n"
                                      "AT+MINO0x278D\n"));
    }

    void secondPressShowsOnlyTheNewList() {
        QCOMPARE(PressForList("btnShow").count(QLatin1Char('\n')), 24);
        Find<QComboBox>("cbUUIDType")->setCurrentIndex(1);
        Edit("edtCharNotify")->setText(kUuidNotify);
        Edit("edtCharWrite")->setText(kUuidWrite);
        const QString text = PressForList("btnShow");
        QCOMPARE(text.count(QLatin1Char('\n')), 27);
        QVERIFY(text.contains(QStringLiteral("\nAT+CHAR0x04E1\n")));
        QVERIFY(!text.contains(QStringLiteral("AT+UUID0x")));
    }

    void rejections_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        using namespace kelvara::messages;
        QTest::newRow("notify empty") << 0 << 0 << "edtCharNotify" << "   " << Text(kFillInAllFields)
                                      << "edtCharNotify";
        QTest::newRow("write empty") << 0 << 0 << "edtCharWrite" << "" << Text(kFillInAllFields)
                                     << "edtCharWrite";
        QTest::newRow("notify zero") << 0 << 0 << "edtCharNotify" << "0000" << Text(kNotify)
                                     << "edtCharNotify";
        QTest::newRow("notify non-ASCII") << 0 << 0 << "edtCharNotify" << QStringLiteral("FF\u00C91")
                                          << Text(kNotify) << "edtCharNotify";
        QTest::newRow("write bad character") << 0 << 0 << "edtCharWrite" << "FFG1" << Text(kWrite)
                                             << "edtCharWrite";
        QTest::newRow("notify 16 bit in 128 fails its length check")
            << 0 << 1 << "edtCharWrite" << "FFE1" << Text(kNotify) << "edtCharNotify";
        QTest::newRow("message is never rich text")
            << 0 << 0 << "edtCharWrite" << "<b>1</b>" << Text(kWrite) << "edtCharWrite";
        QTest::newRow("uuid empty") << 1 << 0 << "edtiBeaconUUID" << "" << Text(kFillInAllFields)
                                    << "edtiBeaconUUID";
        QTest::newRow("uuid braces") << 1 << 0 << "edtiBeaconUUID" << "{0000}" << Text(kBeaconUuid)
                                     << "edtiBeaconUUID";
        QTest::newRow("uuid short") << 1 << 0 << "edtiBeaconUUID" << "0000FFF0"
                                    << Text(kBeaconUuidLength) << "edtiBeaconUUID";
        QTest::newRow("major too big") << 1 << 0 << "edtiBeaconMajor" << "65536"
                                       << Text(kBeaconMajor) << "edtiBeaconMajor";
        QTest::newRow("minor zero") << 1 << 0 << "edtiBeaconMinor" << "0000" << Text(kBeaconMinor)
                                    << "edtiBeaconMinor";
        QTest::newRow("minor empty") << 1 << 0 << "edtiBeaconMinor" << " \t" << Text(kFillInAllFields)
                                     << "edtiBeaconMinor";
    }

    void rejections() {
        QFETCH(int, page);
        QFETCH(int, format);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(QString, focus);

        Pages()->setCurrentIndex(page);
        Find<QComboBox>("cbUUIDType")->setCurrentIndex(format);
        auto* edit = window->findChild<QLineEdit*>(field);
        edit->setText(text);
        QStringList before;
        for (QLineEdit* e : window->findChildren<QLineEdit*>())
            before << e->text();

        ModalProbe probe(
            [&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box);
#ifdef Q_OS_WIN
                // Off screen the window is no system window, and Windows' box has no owner.
                if (QGuiApplication::platformName() == QLatin1String("windows"))
#endif
                    QCOMPARE(box->parentWidget(), window.get());
                QCOMPARE(box->text(), message);
                QCOMPARE(box->textFormat(), Qt::PlainText);
                QCOMPARE(box->windowTitle(), QString::fromLatin1(TfrmMain::kMessageCaption));
                QCOMPARE(box->icon(), QMessageBox::Information);
                QCOMPARE(box->buttons().size(), 1);
                QCOMPARE(box->standardButtons(), QMessageBox::Ok);
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            },
            ModalProbe::CloseBy::Inspector);
        QTest::mouseClick(Find<QPushButton>(page == 0 ? "btnShow" : "btniBeacon"), Qt::LeftButton);
        QCOMPARE(probe.Count(), 1);

        auto* focused = window->findChild<QLineEdit*>(focus);
        QTRY_COMPARE(QApplication::focusWidget(), focused);
        QCOMPARE(focused->selectedText(), focused->text());
        QStringList after;
        for (QLineEdit* e : window->findChildren<QLineEdit*>())
            after << e->text();
        QCOMPARE(after, before);
        QCOMPARE(Pages()->currentIndex(), page);
        QCOMPARE(Find<QComboBox>("cbUUIDType")->currentIndex(), format);
    }

    void differenceRejectionLeavesFocusWhereItWas() {
        Find<QComboBox>("cbUUIDType")->setCurrentIndex(1);
        Edit("edtCharNotify")->setText(kUuidNotify);
        Edit("edtCharWrite")->setText(QStringLiteral("0000FFE2-0000-1000-8000-00805F9B34FC"));
        QString shown;
        ModalProbe probe([&](QWidget* modal) {
            shown = qobject_cast<QMessageBox*>(modal)->text();
        });
        auto* button = Find<QPushButton>("btnShow");
        QTest::mouseClick(button, Qt::LeftButton); // the click gives the button focus
        QCOMPARE(shown, Text(kelvara::messages::kDifference));
        QTRY_COMPARE(QApplication::focusWidget(), button);
        QCOMPARE(Edit("edtCharNotify")->text(), kUuidNotify);
    }

    void enterAndEscapeInAnEditPressNothing() {
        ModalProbe probe([](QWidget*) {});
        for (const char* name : {"edtCharNotify", "edtCharWrite"}) {
            QTest::keyClick(Edit(name), Qt::Key_Return);
            QTest::keyClick(Edit(name), Qt::Key_Enter);
            QTest::keyClick(Edit(name), Qt::Key_Escape);
        }
        Pages()->setCurrentIndex(1);
        for (const char* name : {"edtiBeaconUUID", "edtiBeaconMajor", "edtiBeaconMinor"}) {
            QTest::keyClick(Edit(name), Qt::Key_Return);
            QTest::keyClick(Edit(name), Qt::Key_Escape);
        }
        QTest::qWait(20);
        QCOMPARE(probe.Count(), 0);
        QVERIFY(window->isVisible());
    }

    void switchingPagesClearsNothing() {
        Edit("edtCharNotify")->setText(QStringLiteral("zz"));
        Edit("edtiBeaconMajor")->setText(QStringLiteral("1"));
        Find<QComboBox>("cbUUIDType")->setCurrentIndex(1);
        for (int page : {1, 2, 0, 2, 1, 0})
            Pages()->setCurrentIndex(page);
        QCOMPARE(Edit("edtCharNotify")->text(), QStringLiteral("zz"));
        QCOMPARE(Edit("edtiBeaconMajor")->text(), QStringLiteral("1"));
        QCOMPARE(Find<QComboBox>("cbUUIDType")->currentIndex(), 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
