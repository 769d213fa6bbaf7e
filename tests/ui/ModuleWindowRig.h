#pragma once

// What the module window's tests share: the list they send, the window's transcript as
// text, typing into it, in-memory ports, the log's file choice, and each test's start and end.

#include "ATCommandList.h"
#include "BeaconCommandList.h"
#include "FakeModule.h"
#include "MemoryPort.h"
#include "ModalProbe.h"
#include "Typing.h"
#include "ModuleWindow.h"
#include "CommandTypes.h"
#include "StudyCommandList.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QComboBox>
#include <QAbstractItemView>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QSettings>
#include <QtTest>

#include <array>
#include <filesystem>

namespace module_window_rig {

inline kelvara::TCommandList DefaultList() {
    return kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List();
}

inline const std::vector<std::string> kCommands = kelvara::SetUpCommands(DefaultList());

template <class T> inline T* Find(QWidget* window, const char* name) {
    return window->findChild<T*>(QLatin1String(name));
}

// The transcript as saved, each line without its time.
inline QStringList Untimed(const TfrmModule& window) {
    QStringList lines;
    for (const auto& entry : window.Transcript().Entries())
        lines << QString::fromStdString(kelvara::link::TTranscript::Line(entry, false, "|").substr(10));
    return lines;
}

// Types a command into the console's line and sends it with Enter. While the completions are
// offered, the keyboard's keys go to their list first, as they do for a person typing.
inline void Type(TfrmModule& window, const QString& command) {
    auto* line = Find<QLineEdit>(&window, "edtCommand");
    line->setFocus();
    TypeAndEnter(line, command);
}

// In-memory ports that tell their arrivals from the event loop, each answering writes so; made
// points at the last one made.
inline kelvara::link::TPorts AnsweringPorts(std::function<std::string(const std::string&)> answer,
                                     kelvara::testing::TMemoryPort** made = nullptr,
                                     std::shared_ptr<const kelvara::link::TClock> clock =
                                         std::make_shared<kelvara::link::TSteadyClock>()) {
    return {[answer = std::move(answer), made] {
                auto port = std::make_unique<kelvara::testing::TMemoryPort>();
                port->Prompt = true;
                port->Answer = answer;
                if (made)
                    *made = port.get();
                return port;
            },
            std::move(clock)};
}

// In-memory ports, each with a module at its far end in the simulated module's words: it takes
// each write as a command (its ending dropped), keeps it in `commands`, and answers it as it
// talks (after its echo, when it echoes). With awayMs, a person swapping modules: once a list
// has ended ("AT+MINO0x..."), the port's module is away that long by the clock, then another is
// there. `Made` gets whether each port made is open, kept past the port.
struct TModulePorts {
    kelvara::testing::TModuleStyle Style;
    std::shared_ptr<const kelvara::link::TClock> Clock;
    kelvara::link::Ms AwayMs = -1;
    std::vector<std::shared_ptr<bool>>* Made = nullptr;
};
inline kelvara::link::TPorts ModulePorts(TModulePorts how, std::vector<std::string>& commands) {
    return {[how, &commands] {
                auto port = std::make_unique<kelvara::testing::TMemoryPort>();
                port->Prompt = true;
                auto backAt = std::make_shared<kelvara::link::Ms>(0);
                port->Answer = [how, &commands, backAt](const std::string& written) {
                    const std::string& end = how.Style.CommandEnd;
                    std::string command = written;
                    if (!end.empty() && command.ends_with(end))
                        command.resize(command.size() - end.size());
                    while (end.empty() && !command.empty() && (command.back() == '\r' || command.back() == '\n'))
                        command.pop_back();
                    commands.push_back(command);
                    const kelvara::link::Ms now = how.Clock->Now();
                    if (now < *backAt)
                        return std::string();
                    if (how.AwayMs >= 0 && command.starts_with("AT+MINO0x"))
                        *backAt = now + how.AwayMs;
                    const std::string reply = kelvara::testing::TFakeModule::UsualReply(command, how.Style);
                    return how.Style.Echo ? written + reply : reply;
                };
                if (how.Made)
                    how.Made->push_back(port->OpenNow);
                return port;
            },
            how.Clock};
}

// Moves the clock on, half a second at a time, until the condition holds (a minute at most):
// the waits of a back-off or a timeout pass without being waited for.
template <class Holds> bool SkipUntil(kelvara::testing::TSkippingClock& clock, Holds holds) {
    for (int step = 0; step < 120 && !holds(); ++step) {
        clock.Skip(500);
        QTest::qWait(1);
    }
    return holds();
}

// Chooses the file in the log's file dialog, which offers a new name by the date and time, as a
// person types its name and presses Enter.
inline ModalProbe ChooseFile(const QString& path) {
    return ModalProbe(
        [path](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Log to File"));
            const QString offered = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            QVERIFY2(offered.startsWith(QStringLiteral("kelvara-")) && offered.endsWith(QStringLiteral(".log")),
                     qPrintable(offered));
            qobject_cast<QFileDialog*>(dialog)->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        },
        ModalProbe::CloseBy::Inspector);
}

// A suite of the module window's tests: remembered settings go to a folder of its own, each
// test starts with none, and leaves no window showing.
class TModuleWindowSuite : public QObject {
    Q_OBJECT

    QTemporaryDir config;

  private slots:
    void initTestCase() {
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
    void init() { QSettings(QStringLiteral("Kelvara"), QStringLiteral("kelvara")).clear(); }
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    }
};

} // namespace module_window_rig

using namespace module_window_rig;
using kelvara::testing::TFakeModule;
using kelvara::testing::TModuleBehaviour;
using namespace std::chrono_literals;
