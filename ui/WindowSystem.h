#pragma once

// What the windows do each system's own way, each system's in its own file: WindowSystemLinux.cpp and
// WindowSystemWindows.cpp.

#include <QString>

#include <string>

class QWidget;

namespace kelvara::ui {

// How a port is typed on this system: "a device path such as /dev/ttyUSB0", "its name such as
// COM3".
QString TypedPortExample();
// The port field's tooltip, where the system needs one.
QString PortFieldToolTip();
// A rejection in the system's own message box (or Qt's), owned by the window.
void ShowSystemMessage(QWidget* owner, const char* caption, const std::string& message);
// The toolkit could not start the windows (why, in the toolkit's words): said in one line on
// standard error and, where the program has no console (Windows), in the system's message box.
void TellStartupFailure(const QString& why);

} // namespace kelvara::ui
