#pragma once

// The serial port, and nothing more: opened by the name the user gave, exclusively (one sender
// per module), 8N1 without flow control; bytes in and out; its loss reported. It knows no
// policy: the session above it decides what goes on the wire. Each system has its own side:
// SerialPortLinux.cpp (on Qt Serial Port) and SerialPortWindows.cpp (on the Win32 serial API).

#include "Port.h"

#include <memory>
#include <string>
#include <string_view>

namespace kelvara::link {

// Tells the user how to gain the right to use the port on this system: which group owns it and
// how to join that group.
QString PermissionHint(const std::string& port);

// What a port name stands for. On Linux the device file: a path as it is, a bare name
// ("ttyUSB0") under /dev. On Windows the device: "COM3" is "\\.\COM3", as is any other name the
// registry lists a port under ("CNCA0"), a device path as it is; an empty string for a name that
// names no serial port.
std::string DevicePath(const std::string& port);

class TSerialPort : public TPort {
    Q_OBJECT

  public:
    explicit TSerialPort(QObject* parent = nullptr);
    ~TSerialPort() override;

    // Opens the port (on Linux a device path or a link to one, such as those under
    // /dev/serial/by-id/, or a name that the port list shows, a file name, not text; on Windows
    // "COM1" to "COM256") at the rate. Whatever name another sender has it open by, the port is
    // refused as in use, and changes nothing.
    bool Open(const std::string& port, int baudRate) override;
    // On Windows the opening runs on a thread of its own; elsewhere it never blocks, and is
    // told at once.
    void OpenLater(const std::string& port, int baudRate) override;
    bool Opening() const override;
    bool IsOpen() const override;
    const TOpenFailure& OpenFailure() const override { return openFailure_; }
    void Close() override;
    bool SetBaudRate(int baudRate) override;
    std::string ReadAll() override;
    std::string DiscardInput() override;
    bool Write(std::string_view bytes) override;
    bool Exists(const std::string& port) const override { return PortExists(port); }
    std::string LostReason() const override;

    // Whether something is there by that name: a port that went away has come back.
    static bool PortExists(const std::string& port);

  private:
    class TDevice; // the system's side
    std::unique_ptr<TDevice> device_;
    TOpenFailure openFailure_;
};

} // namespace kelvara::link
