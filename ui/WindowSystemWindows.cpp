#include "WindowSystem.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <windows.h>

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

} // namespace kelvara::ui
