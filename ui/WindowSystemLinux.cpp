#include "WindowSystem.h"

#include <QCoreApplication>
#include <QMessageBox>

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

} // namespace kelvara::ui
