#include "SerialPorts.h"

#include <QRegularExpression>

#include <windows.h>
// After windows.h.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <map>

namespace kelvara::link {

namespace {

// The serial ports Windows has now, by name ("COM3"): the list every serial driver writes its
// ports into while they are there.
QStringList ListedPorts() {
    QStringList names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD valueNameLength = 256;
        wchar_t data[256] = {};
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG status = RegEnumValueW(key, index, valueName, &valueNameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status == ERROR_SUCCESS && type == REG_SZ)
            names << QString::fromWCharArray(data).trimmed();
    }
    RegCloseKey(key);
    names.removeAll(QString());
    names.removeDuplicates();
    return names;
}

QString DeviceText(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type,
                                           reinterpret_cast<BYTE*>(text), sizeof text - sizeof(wchar_t),
                                           nullptr))
        return {};
    return QString::fromWCharArray(text).trimmed();
}

// What Device Manager says of each port it knows: its name, maker and USB identity.
std::map<QString, QString> PortDescriptions() {
    std::map<QString, QString> descriptions;
    const HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return descriptions;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        QString name;
        if (const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            key != INVALID_HANDLE_VALUE) {
            wchar_t portName[64] = {};
            DWORD size = sizeof portName - sizeof(wchar_t);
            if (RegQueryValueExW(key, L"PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(portName),
                                 &size) == ERROR_SUCCESS)
                name = QString::fromWCharArray(portName).trimmed();
            RegCloseKey(key);
        }
        if (name.isEmpty())
            continue;
        QString description = DeviceText(devices, device, SPDRP_FRIENDLYNAME);
        if (description.isEmpty())
            description = DeviceText(devices, device, SPDRP_DEVICEDESC);
        // "USB Serial Device (COM3)": the port's name is in the list already.
        description.remove(QStringLiteral(" (") + name + QLatin1Char(')'));
        QStringList details;
        if (const QString maker = DeviceText(devices, device, SPDRP_MFG); !maker.isEmpty() &&
            !maker.startsWith(QLatin1Char('(')))
            details << maker;
        const QRegularExpressionMatch usb =
            QRegularExpression(QStringLiteral("VID_([0-9A-Fa-f]{4})&PID_([0-9A-Fa-f]{4})"))
                .match(DeviceText(devices, device, SPDRP_HARDWAREID));
        if (usb.hasMatch())
            details << QStringLiteral("USB %1:%2").arg(usb.captured(1).toLower(), usb.captured(2).toLower());
        if (!details.isEmpty()) {
            const QString joined = details.join(QStringLiteral(", "));
            description = description.isEmpty() ? joined : description + " (" + joined + ')';
        }
        descriptions[name.toUpper()] = description;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return descriptions;
}

int PortNumber(const QString& name) { return name.mid(3).toInt(); }

} // namespace

QList<TPortDescription> AvailablePorts() {
    const std::map<QString, QString> descriptions = PortDescriptions();
    QList<TPortDescription> ports;
    for (const QString& name : ListedPorts()) {
        const auto described = descriptions.find(name.toUpper());
        ports.append({name, QStringLiteral("\\\\.\\") + name,
                      described == descriptions.end() ? QString() : described->second});
    }
    // COM2 before COM10.
    std::sort(ports.begin(), ports.end(), [](const TPortDescription& a, const TPortDescription& b) {
        return PortNumber(a.Name) != PortNumber(b.Name) ? PortNumber(a.Name) < PortNumber(b.Name)
                                                        : a.Name < b.Name;
    });
    return ports;
}

} // namespace kelvara::link
