// The module window as a person at the keyboard uses it, with nothing but keys: the port typed
// and Enter (the list is sent), then a command typed on the command line and Enter; or a batch
// of three modules on three ports. Built for Linux and for Windows; WindowKeysTest runs it
// against the simulated module and checks what the modules received. Prints the status line
// and the transcript (or, for a batch, the longest the event loop stalled while it ran); exits 0
// when everything ended as it should.
//   kelvara_window_keys PORT
//   kelvara_window_keys --batch PORT PORT PORT
#include "ListSource.h"
#include "ModuleWindow.h"
#include "StudyCommandList.h"
#include "Transcript.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

// Three modules on the port given and the two typed as other ports; how long the event loop
// went at most without turning while they were set up.
int Batch(const QStringList& ports) {
    const kelvara::TListSource source = kelvara::DefaultSource(kelvara::TListKind::Beacon);
    TfrmModule window(kelvara::BuildList(source).List(), source);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTest::keyClicks(QApplication::focusWidget(), ports[0]);
    auto* count = window.findChild<QSpinBox*>(QStringLiteral("spnModules"));
    count->setFocus();
    count->selectAll();
    QTest::keyClicks(count, QStringLiteral("3"));
    QTest::keyClick(window.findChild<QComboBox*>(QStringLiteral("cbCount")), Qt::Key_Down);
    QTest::keyClick(&window, Qt::Key_H, Qt::AltModifier);
    QTest::keyClicks(QApplication::focusWidget(), ports[1] + QLatin1Char(' ') + ports[2]);
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    QTest::keyClick(&window, Qt::Key_Y, Qt::AltModifier);
    const bool started = QTest::qWaitFor([&] { return window.IsInBatch(); }, 10000);
    clock.start();
    tick.start(1);
    const bool ended = started && QTest::qWaitFor([&] { return !window.IsInBatch(); }, 60000);
    tick.stop();
    const QString status = window.findChild<QLabel*>(QStringLiteral("lbStatus"))->text();
    std::printf("%s\nlongest stall %lld ms\n", qPrintable(status), longest);
    window.close();
    return ended && status == QStringLiteral("All 3 modules set up.") ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 5 && argv[1] == std::string_view("--batch"))
        return Batch({QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                      QString::fromLocal8Bit(argv[4])});
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelvara_window_keys PORT | --batch PORT PORT PORT\n");
        return 2;
    }
    TfrmModule window(kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const auto typeAndEnter = [](const QString& text) {
        QWidget* field = QApplication::focusWidget();
        QTest::keyClicks(field, text);
        // While completions are offered, Enter goes to their list first, as for a person.
        auto* line = qobject_cast<QLineEdit*>(field);
        QWidget* popup = line && line->completer() ? line->completer()->popup() : nullptr;
        QTest::keyClick(popup && popup->isVisible() ? popup : QApplication::focusWidget(), Qt::Key_Return);
    };
    typeAndEnter(QString::fromLocal8Bit(argv[1]));
    const bool sent = QTest::qWaitFor([&] { return window.IsSending(); }, 5000) &&
                      QTest::qWaitFor([&] { return !window.IsSending(); }, 60000);
    std::printf("%s\n", qPrintable(window.findChild<QLabel*>(QStringLiteral("lbStatus"))->text()));
    typeAndEnter(QStringLiteral("AT+NAME?"));
    const bool answered = QTest::qWaitFor([&] {
        const auto& entries = window.Transcript().Entries();
        return std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
            return entry.Text.find("OK+NAME?") != std::string::npos;
        });
    }, 10000);
    for (const auto& entry : window.Transcript().Entries())
        std::printf("%s\n", kelvara::ui::TTranscript::Line(entry, false, "|").substr(10).c_str());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    return sent && answered && !window.isVisible() ? 0 : 1;
}
