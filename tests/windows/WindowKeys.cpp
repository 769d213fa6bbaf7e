// The module window as a person uses it, on the port given. Built for Linux and for Windows;
// WindowKeysTest runs it against the simulated module and checks what the modules received.
// Prints what the window showed; exits 0 when everything ended as it should.
//   kelvara_window_keys PORT                  by keys alone: the port typed and Enter (the list
//                                             is sent), then a command typed and Enter
//   kelvara_window_keys --batch PORT PORT PORT  a batch of three modules on three ports, and the
//                                             longest the event loop stalled while it ran
//   kelvara_window_keys --find-scan PORT      Find, a scan, a connection to the first device
//                                             found, ended again
//   kelvara_window_keys --close-batch PORT    a batch on one port, closed during its first module
#include "ListSource.h"
#include "ModuleWindow.h"
#include "StudyCommandList.h"
#include "Transcript.h"
#include "Typing.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>

namespace {

QString Text(QWidget& window, const char* label) {
    return window.findChild<QLabel*>(QLatin1String(label))->text();
}

// Waits until the label shows the text, then prints what it shows.
bool Await(QWidget& window, const char* label, const char* text) {
    const bool shown =
        QTest::qWaitFor([&] { return Text(window, label).contains(QLatin1String(text)); }, 10000);
    std::printf("%s\n", qPrintable(Text(window, label)));
    return shown;
}

// A beacon list's window with the port typed and the number of modules; the batch not started.
void PrepareBatch(TfrmModule& window, const QString& port, int modules) {
    QTest::keyClicks(QApplication::focusWidget(), port);
    auto* count = window.findChild<QSpinBox*>(QStringLiteral("spnModules"));
    count->setFocus();
    count->selectAll();
    QTest::keyClicks(count, QString::number(modules));
    QTest::keyClick(window.findChild<QComboBox*>(QStringLiteral("cbCount")), Qt::Key_Down);
}

// Three modules on the port given and the two typed as other ports; how long the event loop
// went at most without turning while they were set up.
int Batch(TfrmModule& window, const QStringList& ports) {
    PrepareBatch(window, ports[0], 3);
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
    const QString status = Text(window, "lbStatus");
    std::printf("%s\nlongest stall %lld ms\n", qPrintable(status), longest);
    return ended && status == QStringLiteral("All 3 modules set up.") ? 0 : 1;
}

// Escape during a batch's first module stops the batch once that module is set up; Escape
// again closes the window.
int CloseBatch(TfrmModule& window, const QString& port) {
    PrepareBatch(window, port, 3);
    QTest::keyClick(&window, Qt::Key_Y, Qt::AltModifier);
    const bool sending = Await(window, "lbStatus", "sending");
    QTest::keyClick(&window, Qt::Key_Escape);
    const QString stopping = Text(window, "lbStatus");
    const bool stopped = QTest::qWaitFor([&] { return !window.IsBusy(); }, 15000);
    std::printf("%s\n%s\n", qPrintable(stopping), qPrintable(Text(window, "lbStatus")));
    QTest::keyClick(&window, Qt::Key_Escape);
    return sending && stopped && stopping.startsWith(QStringLiteral("Stopping")) &&
                   !window.isVisible() ? 0 : 1;
}

// Find (Alt+F) with the port typed; then a scan with the settings found, the first device's row
// and Enter (connected), and Disconnect Device (Alt+V).
int FindAndScan(TfrmModule& window, const QString& port) {
    QTest::keyClicks(QApplication::focusWidget(), port);
    QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
    const bool found = Await(window, "lbStatus", "Found the module");
    window.findChild<QPushButton*>(QStringLiteral("btnScan"))->click();
    const bool scanned = Await(window, "lbDeviceState", "Scan done");
    auto* devices = window.findChild<QTreeWidget*>(QStringLiteral("lstDevices"));
    devices->setFocus();
    devices->setCurrentItem(devices->topLevelItem(0));
    QTest::keyClick(devices, Qt::Key_Return);
    const bool connected = Await(window, "lbDeviceState", "Connected to");
    QTest::keyClick(&window, Qt::Key_V, Qt::AltModifier);
    const bool ended = Await(window, "lbDeviceState", "Disconnected from");
    return found && scanned && connected && ended ? 0 : 1;
}

// By keys alone: the port typed and Enter sends the list; a command typed and Enter.
int SendAndType(TfrmModule& window, const QString& port) {
    TypeAndEnter(QApplication::focusWidget(), port);
    const bool sent = QTest::qWaitFor([&] { return window.IsSending(); }, 5000) &&
                      QTest::qWaitFor([&] { return !window.IsSending(); }, 60000);
    std::printf("%s\n", qPrintable(Text(window, "lbStatus")));
    TypeAndEnter(QApplication::focusWidget(), QStringLiteral("AT+NAME?"));
    const bool answered = QTest::qWaitFor([&] {
        const auto& entries = window.Transcript().Entries();
        return std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
            return entry.Text.find("OK+NAME?") != std::string::npos;
        });
    }, 10000);
    for (const auto& entry : window.Transcript().Entries())
        std::printf("%s\n", kelvara::link::TTranscript::Line(entry, false, "|").substr(10).c_str());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    return sent && answered && !window.isVisible() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString mode = args.size() > 1 ? args.takeFirst() : QString();
    if (args.size() != (mode == QLatin1String("--batch") ? 3 : 1)) {
        std::fprintf(stderr, "usage: kelvara_window_keys [--find-scan | --close-batch] PORT | "
                             "--batch PORT PORT PORT\n");
        return 2;
    }
    const kelvara::TListSource beacon = kelvara::DefaultSource(kelvara::TListKind::Beacon);
    const bool batch = mode.endsWith(QLatin1String("batch"));
    TfrmModule window(batch ? kelvara::BuildList(beacon).List()
                            : kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List(),
                      batch ? std::optional(beacon) : std::nullopt);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "kelvara_window_keys: the module window was not shown within 5 s\n");
        return 1;
    }
    if (mode == QLatin1String("--batch"))
        return Batch(window, args);
    if (mode == QLatin1String("--close-batch"))
        return CloseBatch(window, args[0]);
    if (mode == QLatin1String("--find-scan"))
        return FindAndScan(window, args[0]);
    return SendAndType(window, args[0]);
}
