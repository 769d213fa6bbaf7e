#include "SerialPorts.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringList>

#include <algorithm>

namespace kelvara::link {

// The terminals the kernel has a device for, as sysfs lists them: under a millisecond, where the
// full list's descriptions (asked of udev) take about ten.
QStringList PortNames() {
    QStringList names;
    const QDir ttys(QStringLiteral("/sys/class/tty"));
    for (const QString& name : ttys.entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo::exists(ttys.filePath(name + QStringLiteral("/device"))))
            names << name;
    }
    return names;
}

QList<TPortDescription> AvailablePorts() {
    QList<TPortDescription> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QStringList details;
        if (!info.manufacturer().isEmpty())
            details << info.manufacturer();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            details << QStringLiteral("USB %1:%2")
                           .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                           .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        }
        QString description = info.description();
        if (!details.isEmpty()) {
            const QString joined = details.join(QStringLiteral(", "));
            description = description.isEmpty() ? joined : description + " (" + joined + ')';
        }
        ports.append({info.portName(), info.systemLocation(), description});
    }
    std::sort(ports.begin(), ports.end(), [](const TPortDescription& a, const TPortDescription& b) {
        return a.Name < b.Name;
    });
    return ports;
}

} // namespace kelvara::link
