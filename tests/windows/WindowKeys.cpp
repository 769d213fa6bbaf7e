// The module window as a person at the keyboard uses it, with nothing but keys: the port typed
// and Enter (the list is sent), then a command typed on the command line and Enter. Built for
// Linux and for Windows; WindowKeysTest runs it against the simulated module and checks what
// the module received. Prints the status line and the transcript; exits 0 when both steps ended.
//   kelvara_window_keys PORT
#include "ModuleWindow.h"
#include "StudyCommandList.h"
#include "Transcript.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelvara_window_keys PORT\n");
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
