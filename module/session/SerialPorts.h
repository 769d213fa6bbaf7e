#pragma once

#include <QString>
#include <QList>
#include <QStringList>

namespace kelvara::link {

struct TPortDescription {
    QString Name;     // "ttyUSB0" or "COM3": what to pass as the port
    QString Location; // "/dev/ttyUSB0" or "\\.\COM3"
    // The port's description, with its manufacturer and USB vendor:product where known.
    QString Description;
};

// The serial ports found on this system, by name.
QList<TPortDescription> AvailablePorts();
// Their names alone, asked cheaply enough to be asked every second: a port plugged in or
// pulled out changes them.
QStringList PortNames();

} // namespace kelvara::link
