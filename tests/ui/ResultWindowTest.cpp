// The "AT Commands List" window: what it shows, how it can be closed, and that it cannot be
// edited but can be copied from.
#include "ATCommandList.h"
#include "ModalProbe.h"
#include "StudyCommandList.h"

#include <QClipboard>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

namespace {

std::vector<std::string> List128() {
    return kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf128Bit,
                                          "0000FFE1-0000-1000-8000-00805F9B34FB",
                                          "0000FFE2-0000-1000-8000-00805F9B34FB")
        .Lines();
}

QString Joined(const std::vector<std::string>& lines) {
    QString text;
    for (const auto& line : lines)
        text += QString::fromStdString(line) + QLatin1Char('\n');
    return text;
}

int CountResultWindows() {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        count += w->objectName() == QLatin1String("frmResult");
    return count;
}

} // namespace

class ResultWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() { QCOMPARE(CountResultWindows(), 0); }

    void holdsExactlyTheLinesEachEndedByALineBreak() {
        TfrmResult window;
        const std::vector<std::string> lines = {"AT+RENEW", "", " ", "   lead", "", "last"};
        window.AddLines(lines);
        auto* memo = window.findChild<QPlainTextEdit*>(QStringLiteral("memLog"));
        QVERIFY(memo);
        QCOMPARE(memo->toPlainText(), QStringLiteral("AT+RENEW\n\n \n   lead\n\nlast\n"));
    }

    void fixedShapeAndControls() {
        TfrmResult window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.objectName(), QStringLiteral("frmResult"));
        QCOMPARE(window.windowTitle(), QStringLiteral("AT Commands List"));
        QCOMPARE(window.size(), QSize(467, 424));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        const QPoint offCentre = window.geometry().center() -
                                 QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 40, "centred on the desktop");
        const auto flags = window.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));

        auto* box = window.findChild<QGroupBox*>(QStringLiteral("GBResult"));
        QCOMPARE(box->geometry(), QRect(0, 0, 467, 385));
        QCOMPARE(box->title(), QString());
        auto* ok = window.findChild<QPushButton*>(QStringLiteral("btnOK"));
        QCOMPARE(ok->geometry(), QRect(176, 392, 75, 25));
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QVERIFY(!ok->isDefault());
        QVERIFY(!ok->autoDefault());

        auto* memo = window.findChild<QPlainTextEdit*>(QStringLiteral("memLog"));
        QCOMPARE(memo->parentWidget(), box);
        QVERIFY(memo->isReadOnly());
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    }

    void longestListShowsWholeWithoutScrolling() {
        TfrmResult window;
        const auto lines = List128();
        QCOMPARE(lines.size(), 27u);
        window.AddLines(lines);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* memo = window.findChild<QPlainTextEdit*>(QStringLiteral("memLog"));
        QCOMPARE(memo->toPlainText(), Joined(lines));
        // The range is kept even with the bars hidden: zero means nothing lies out of view.
        QCOMPARE(memo->verticalScrollBar()->maximum(), 0);
        QCOMPARE(memo->horizontalScrollBar()->maximum(), 0);
    }

    void textCannotBeEditedButCanBeCopied() {
        TfrmResult window;
        window.AddLines({"AT+ROLE1", "AT+RENEW"});
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* memo = window.findChild<QPlainTextEdit*>(QStringLiteral("memLog"));
        QCOMPARE(QApplication::focusWidget(), memo);
        QTest::keyClicks(memo, QStringLiteral("xyz"));
        QTest::keyClick(memo, Qt::Key_Backspace);
        QTest::keyClick(memo, Qt::Key_Delete);
        QTest::keyClick(memo, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(memo->toPlainText(), QStringLiteral("AT+ROLE1\nAT+RENEW\n"));

        QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(memo, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("AT+ROLE1\nAT+RENEW\n"));
    }

    void enterAndEscapeInTheTextCloseNothing() {
        TfrmResult window;
        window.AddLines({"AT+RENEW"});
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* memo = window.findChild<QPlainTextEdit*>(QStringLiteral("memLog"));
        QTest::keyClick(memo, Qt::Key_Escape);
        QTest::keyClick(memo, Qt::Key_Return);
        QTest::keyClick(memo, Qt::Key_Enter);
        QVERIFY(window.isVisible());
        QCOMPARE(memo->toPlainText(), QStringLiteral("AT+RENEW\n"));
    }

    void showCommandListIsModalWithFocusInTheText() {
        bool inspected = false;
        ModalProbe probe([&](QWidget* modal) {
            QCOMPARE(modal->objectName(), QStringLiteral("frmResult"));
            QVERIFY(modal->isModal());
            QCOMPARE(modal->parentWidget(), nullptr);
            auto* memo = modal->findChild<QPlainTextEdit*>(QStringLiteral("memLog"));
            QTRY_COMPARE(QApplication::focusWidget(), memo);
            QCOMPARE(memo->toPlainText(), QStringLiteral("a\n\nb\n"));
            inspected = true;
        });
        ShowCommandList({"a", "", "b"});
        QVERIFY(inspected);
    }

    void closingByOkOrCloseBoxDestroysTheWindow_data() {
        QTest::addColumn<bool>("byOk");
        QTest::newRow("OK") << true;
        QTest::newRow("close box") << false;
    }

    // The click or the close box itself must end the window; if it does not, the failed check
    // closes it, so a broken OK fails here instead of hanging. The window is gone afterwards:
    // cleanup() counts every top-level window named frmResult, hidden ones included.
    void closingByOkOrCloseBoxDestroysTheWindow() {
        QFETCH(bool, byOk);
        ModalProbe probe(
            [&](QWidget* modal) {
                auto* dialog = qobject_cast<QDialog*>(modal);
                QVERIFY(dialog);
                if (byOk)
                    QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("btnOK")),
                                      Qt::LeftButton);
                else
                    modal->close();
                QVERIFY2(!modal->isVisible(), "the window is still open");
                QCOMPARE(dialog->result(), byOk ? QDialog::Accepted : QDialog::Rejected);
            },
            ModalProbe::CloseBy::Inspector);
        ShowCommandList({"AT+RENEW"});
        QVERIFY(probe.Seen());
        QCOMPARE(CountResultWindows(), 0);
    }

    void enterOnTheFocusedOkButtonPressesIt() {
        ModalProbe probe(
            [&](QWidget* modal) {
                auto* ok = modal->findChild<QPushButton*>(QStringLiteral("btnOK"));
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QTRY_COMPARE(QApplication::focusWidget(), ok);
                QTest::keyClick(ok, Qt::Key_Escape);
                QVERIFY(modal->isVisible());
                QTest::keyClick(ok, Qt::Key_Return);
                QVERIFY2(!modal->isVisible(), "Enter on OK left the window open");
                QCOMPARE(qobject_cast<QDialog*>(modal)->result(), QDialog::Accepted);
            },
            ModalProbe::CloseBy::Inspector);
        ShowCommandList({"AT+RENEW"});
        QVERIFY(probe.Seen());
    }
};

QTEST_MAIN(ResultWindowTest)
#include "ResultWindowTest.moc"
