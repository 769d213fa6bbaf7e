#include "Startup.h"

#include "WindowSystem.h"
#include "main.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

bool g_starting = true;
QtMessageHandler g_defaultHandler = nullptr;

// While the toolkit starts, a platform that cannot be opened is a fatal error that would abort
// and dump core. Report it in one line instead (and, with no console, where it is seen), and
// exit with status 1.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (g_starting) {
        if (type == QtFatalMsg) {
            kelvara::ui::TellStartupFailure(message);
            std::_Exit(1);
        }
        // The platform plugin's own complaints precede the fatal error; the line above says it.
        if (context.category && QByteArrayView(context.category).startsWith("qt.qpa"))
            return;
    }
    g_defaultHandler(type, context, message);
}

} // namespace

int RunKelvara(int argc, char* argv[], const std::function<void(QApplication&)>& beforeEventLoop) {
    g_defaultHandler = qInstallMessageHandler(StartupMessageHandler);

    // Kelvara takes no command-line arguments: the toolkit sees only the program name, so a
    // stray argument is ignored rather than read as a toolkit option.
    int toolkitArgc = argc > 0 ? 1 : 0;
    QApplication app(toolkitArgc, argv);
    g_starting = false;
    QApplication::setApplicationName(QStringLiteral("Kelvara"));
    QApplication::setApplicationVersion(QStringLiteral("1.02"));
    QApplication::setDesktopFileName(QStringLiteral("example.corvex_lumara.Kelvara"));

    TfrmMain frmMain;
    if (beforeEventLoop)
        beforeEventLoop(app);
    frmMain.show();
    return QApplication::exec();
}
