#include "WindowSystem.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <windows.h>
#include <cstdio>

namespace kelvara::ui {

QString TypedPortExample() { return QCoreApplication::translate("TPortPanel", "its name such as COM3"); }

QString PortFieldToolTip() {
    return QCoreApplication::translate("TPortPanel", "A serial port found on this computer, or its name "
                                                     "such as COM3 (Device Manager, Ports (COM & LPT))");
}

void ShowSystemMessage(QWidget* owner, const char* caption, const std::string& message) {
    // Windows' own message box, owned by the window when it is a system window (not when the
    // windows are drawn off screen, as in tests).
    const HWND window = owner && QGuiApplication::platformName() == QLatin1String("windows")
                            ? reinterpret_cast<HWND>(owner->winId())
                            : nullptr;
    MessageBoxA(window, message.c_str(), caption, MB_OK | MB_ICONINFORMATION);
}

// A window program has no console to say it on: the system's message box says it.
void TellStartupFailure(const QString& why) {
    const QString text = QStringLiteral("Kelvara could not start its windows: %1").arg(why.trimmed());
    std::fputs(("kelvara: " + text + QLatin1Char('\n')).toUtf8().constData(), stderr);
    std::fflush(stderr);
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.utf16()), L"Kelvara", MB_OK | MB_ICONERROR);
}

} // namespace kelvara::ui
