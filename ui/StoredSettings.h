#pragma once

// What the windows remember between runs (the port's settings, the folder saved in), in the
// system's place for Kelvara's settings: a file under ~/.config on Linux, the registry's
// HKEY_CURRENT_USER\Software\Kelvara on Windows.

#include <QSettings>

namespace kelvara::ui {

inline QSettings StoredSettings() { return QSettings(QStringLiteral("Kelvara"), QStringLiteral("kelvara")); }

} // namespace kelvara::ui
