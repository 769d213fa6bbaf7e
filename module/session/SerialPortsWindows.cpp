#include "SerialPort.h"
#include "SerialPorts.h"

#include <QRegularExpression>
#include <QSet>

#include <windows.h>
// After windows.h.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace kelvara::link {

namespace {

struct TListedPort {
    QString Name;     // "COM3"
    bool Bluetooth;   // a link Windows' Bluetooth stack made
};

// The serial ports Windows has now: the list every serial driver writes its ports into while
// they are there, each under its device's name ("\Device\BthModem0" for a Bluetooth link).
QList<TListedPort> ListedPorts() {
    QList<TListedPort> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return ports;
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
        const QString name = QString::fromWCharArray(data).trimmed();
        const bool known = std::any_of(ports.begin(), ports.end(), [&](const TListedPort& port) {
            return port.Name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (status == ERROR_SUCCESS && type == REG_SZ && !name.isEmpty() && !known)
            ports.append({name, QString::fromWCharArray(valueName, static_cast<int>(valueNameLength))
                                    .contains(QStringLiteral("BthModem"), Qt::CaseInsensitive)});
    }
    RegCloseKey(key);
    return ports;
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
std::map<QString, QString> PortDescriptions(QSet<QString>& bluetooth) {
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
        if (DeviceText(devices, device, SPDRP_HARDWAREID).startsWith(QStringLiteral("BTHENUM"), Qt::CaseInsensitive))
            bluetooth.insert(name.toUpper());
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

bool IsComName(const std::string& name) {
    if (name.size() < 4 || name.size() > 6)
        return false;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return false;
    }
    if (name[3] == '0')
        return false;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return false;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= 256;
}

// A name a driver may give its port: letters, digits, '_' and '-', nothing that leads elsewhere.
bool IsDeviceName(const std::string& name) {
    return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
    });
}

bool IsListed(const std::string& name) {
    const QString wanted = QString::fromStdString(name);
    const QList<TListedPort> ports = ListedPorts();
    return std::any_of(ports.begin(), ports.end(), [&](const TListedPort& listed) {
        return listed.Name.compare(wanted, Qt::CaseInsensitive) == 0;
    });
}

} // namespace

// The registry's list alone: Device Manager's descriptions are asked only when it changes.
QStringList PortNames() {
    QStringList names;
    for (const TListedPort& listed : ListedPorts())
        names << listed.Name;
    return names;
}

QList<TPortDescription> AvailablePorts() {
    QSet<QString> bluetooth;
    const std::map<QString, QString> descriptions = PortDescriptions(bluetooth);
    QList<TPortDescription> ports;
    for (const TListedPort& listed : ListedPorts()) {
        const QString& name = listed.Name;
        const auto described = descriptions.find(name.toUpper());
        QString description = described == descriptions.end() ? QString() : described->second;
        // A Bluetooth link says so, where its own name does not.
        if ((listed.Bluetooth || bluetooth.contains(name.toUpper())) &&
            !description.contains(QStringLiteral("Bluetooth"), Qt::CaseInsensitive))
            description = description.isEmpty() ? QStringLiteral("Bluetooth link")
                                                : description + QStringLiteral(" (Bluetooth link)");
        ports.append({name, QStringLiteral("\\\\.\\") + name, description});
    }
    // COM2 before COM10.
    std::sort(ports.begin(), ports.end(), [](const TPortDescription& a, const TPortDescription& b) {
        return PortNumber(a.Name) != PortNumber(b.Name) ? PortNumber(a.Name) < PortNumber(b.Name)
                                                        : a.Name < b.Name;
    });
    return ports;
}

// "COM1" to "COM256", and any other name the registry lists a port under (a virtual port
// driver's "CNCA0"), as the device "\\.\NAME"; the device path itself as it is.
std::string DevicePath(const std::string& port) {
    const std::string name = port.rfind("\\\\.\\", 0) == 0 ? port.substr(4) : port;
    if (IsComName(name) || (IsDeviceName(name) && IsListed(name)))
        return "\\\\.\\" + name;
    return {};
}

// Asked ten times a second while a port is awaited: the registry's list alone, without Device
// Manager's descriptions.
bool TSerialPort::PortExists(const std::string& port) {
    const std::string path = DevicePath(port);
    return !path.empty() && IsListed(path.substr(4));
}

} // namespace kelvara::link
