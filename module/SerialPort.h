#pragma once

// The serial port, and nothing more: opened by the name the user gave, exclusively (one sender
// per module), 8N1 without flow control; bytes in and out; its loss reported. It knows no
// policy: the session above it decides what goes on the wire. Each system has its own side:
// SerialPortLinux.cpp (on Qt Serial Port) and SerialPortWindows.cpp (on the Win32 serial API).

#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <string_view>

namespace kelvara::link {

// Why a port could not be opened or set up.
struct TOpenFailure {
    enum class TKind { None, NoSuchPort, PermissionDenied, InUse, Other };
    TKind Kind = TKind::None;
    QString Reason;

    // The user lacks the right to use the port; PermissionHint says what to do about it.
    bool PermissionDenied() const { return Kind == TKind::PermissionDenied; }
};

// Tells the user how to gain the right to use the port on this system: which group owns it and
// how to join that group.
QString PermissionHint(const std::string& port);

// What a port name stands for. On Linux the device file: a path as it is, a bare name
// ("ttyUSB0") under /dev. On Windows the device: "COM3" is "\\.\COM3", a device path as it is;
// an empty string for a name that names no serial port.
std::string DevicePath(const std::string& port);

class TSerialPort : public QObject {
    Q_OBJECT

  public:
    explicit TSerialPort(QObject* parent = nullptr);
    ~TSerialPort() override;

    // Opens the port (on Linux a device path or a link to one, such as those under
    // /dev/serial/by-id/, or a name that the port list shows, a file name, not text; on Windows
    // "COM1" to "COM256") at the rate. Whatever name
    // another sender has it open by, the port is refused as in use, and changes nothing. Returns
    // false when the port cannot be opened or set up; OpenFailure() says why.
    bool Open(const std::string& port, int baudRate);
    bool IsOpen() const;
    const TOpenFailure& OpenFailure() const { return openFailure_; }
    // Hands what is still buffered to the system, so no command is cut off, then lets go.
    void Close();
    bool SetBaudRate(int baudRate);
    // The bytes received and not yet read.
    std::string ReadAll();
    // Discards the bytes received and not yet read.
    void DiscardInput();
    // Hands the bytes to the system at once; false when the port failed meanwhile (lost() is
    // then not emitted: the caller deals with it).
    bool Write(std::string_view bytes);

    // Whether something is there by that name: a port that went away has come back.
    static bool Exists(const std::string& port);

  signals:
    void readyRead();
    // The port failed (an unplugged adapter, a hung-up line); it is still open until Close.
    void lost();

  private:
    class TDevice; // the system's side
    std::unique_ptr<TDevice> device_;
    TOpenFailure openFailure_;
};

} // namespace kelvara::link
