#include "WindowSystem.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>

namespace kelvara::ui {

QString TypedPortExample() {
    return QCoreApplication::translate("TPortPanel", "a device path such as /dev/ttyUSB0");
}

QString PortFieldToolTip() { return {}; }

void ShowSystemMessage(QWidget* owner, const char* caption, const std::string& message) {
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(caption),
                    QString::fromStdString(message), QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// Without a display there is nothing to show a window on: kelvara-cli is the way then.
void TellStartupFailure(const QString&) {
    std::fputs("kelvara: cannot open a display for the window; kelvara-cli makes the same "
               "command lists without one\n",
               stderr);
    std::fflush(stderr);
}

} // namespace kelvara::ui
