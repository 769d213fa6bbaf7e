#pragma once

#include <QString>
#include <QList>

namespace kelvara::link {

struct TPortDescription {
    QString Name;     // "ttyUSB0" or "COM3": what to pass as the port
    QString Location; // "/dev/ttyUSB0" or "\\.\COM3"
    // The port's description, with its manufacturer and USB vendor:product where known.
    QString Description;
};

// The serial ports found on this system, by name.
QList<TPortDescription> AvailablePorts();

} // namespace kelvara::link
