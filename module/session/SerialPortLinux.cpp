#include "SerialPort.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kelvara::link {

std::string DevicePath(const std::string& port) {
    if (port.find('/') != std::string::npos)
        return port;
    return "/dev/" + port;
}

QString PermissionHint(const std::string& port) {
    // Serial ports belong to a group whose members may use them: 'dialout' on Debian and
    // Ubuntu, another name elsewhere. Name the one that owns this port, when joining it would
    // give the right to read and write it.
    const auto join = [](const QString& group) {
        return QFileInfo::exists(QStringLiteral("/usr/sbin/adduser"))
                   ? QStringLiteral("sudo adduser $USER %1").arg(group)
                   : QStringLiteral("sudo usermod -aG %1 $USER").arg(group);
    };
    struct stat info {};
    if (stat(DevicePath(port).c_str(), &info) == 0 && info.st_gid != 0 &&
        (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP)) {
        if (const struct group* owner = getgrgid(info.st_gid)) {
            const QString group = QString::fromLocal8Bit(owner->gr_name);
            return QStringLiteral("%1 belongs to the '%2' group; add yourself with '%3', then "
                                  "log out and in again")
                .arg(QFile::decodeName(QByteArray::fromStdString(port)), group, join(group));
        }
    }
    return QStringLiteral("serial ports belong to the 'dialout' group; add yourself with '%1', "
                          "then log out and in again")
        .arg(join(QStringLiteral("dialout")));
}

// Qt Serial Port, with a lock on the device beside it.
class TSerialPort::TDevice {
  public:
    explicit TDevice(TSerialPort& owner) : owner_(owner) {
        QObject::connect(&Port, &QSerialPort::readyRead, &owner, &TSerialPort::readyRead);
        QObject::connect(&Port, &QSerialPort::bytesWritten, &owner, &TSerialPort::bytesWritten);
        QObject::connect(&Port, &QSerialPort::errorOccurred, &owner,
                [this](QSerialPort::SerialPortError error) { Failed(error); });
    }
    QSerialPort Port;
    int LockFd = -1;
    bool Writing = false;
    bool FailedWhileWriting = false;

  private:
    void Failed(QSerialPort::SerialPortError error) {
        if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !Port.isOpen())
            return;
        Port.clearError();
        // A failure while writing is the writer's to deal with, once write() has returned, so
        // that the session never handles a loss inside another step.
        if (Writing)
            FailedWhileWriting = true;
        else
            emit owner_.lost();
    }

    TSerialPort& owner_;
};

namespace {

TOpenFailure Refusal(int error) {
    using TKind = TOpenFailure::TKind;
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case ENXIO:
    case ENODEV:
        return {TKind::NoSuchPort, QStringLiteral("no such port")};
    case EACCES:
    case EPERM:
        return {TKind::PermissionDenied, QStringLiteral("permission denied")};
    case EBUSY:
    case EWOULDBLOCK:
        return {TKind::InUse, QStringLiteral("in use by another program")};
    default:
        return {TKind::Other, QString::fromLocal8Bit(std::strerror(error))};
    }
}

// Qt Serial Port keeps the old lock-file convention beside our lock on the device: a file named
// after the device (LCK..ttyUSB0, LCK..pts_3) holding its owner's process number. A name comes
// back with another device (the next adapter plugged in, the next pseudo-terminal) and a process
// number with another process, so a lock file can outlive its owner and still look held. The
// lock is someone's only while its process has this very device open.
std::string LockFileOf(const std::string& device) {
    std::string name = device.starts_with("/dev/") ? device.substr(5) : device;
    std::replace(name.begin(), name.end(), '/', '_');
    for (const char* folder : {"/var/lock", "/tmp"}) {
        const std::string path = std::string(folder) + "/LCK.." + name;
        if (access(path.c_str(), F_OK) == 0)
            return path;
    }
    return {};
}

bool HasDeviceOpen(long pid, dev_t device) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(folder.c_str());
    // A process we may not look into may well hold it.
    if (!fds)
        return errno != ENOENT;
    bool found = false;
    while (const dirent* entry = readdir(fds)) {
        struct stat info {};
        if (entry->d_name[0] != '.' && stat((folder + '/' + entry->d_name).c_str(), &info) == 0 &&
            S_ISCHR(info.st_mode) && info.st_rdev == device) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
}

// Removes the device's lock file when no process holds it; true when one was removed.
bool RemoveLockNobodyHolds(const std::string& device) {
    const std::string path = LockFileOf(device);
    struct stat info {};
    if (path.empty() || stat(device.c_str(), &info) != 0)
        return false;
    std::ifstream file(path);
    long pid = 0;
    // Our own process holds no port of ours on the device: we hold its lock.
    if (!(file >> pid) || pid <= 0 || (pid != getpid() && HasDeviceOpen(pid, info.st_rdev)))
        return false;
    return unlink(path.c_str()) == 0;
}

} // namespace

bool TSerialPort::PortExists(const std::string& port) {
    return !port.empty() && port.find('\0') == std::string::npos &&
           access(DevicePath(port).c_str(), F_OK) == 0;
}

TSerialPort::TSerialPort(QObject* parent)
    : TPort(parent), device_(std::make_unique<TDevice>(*this)) {}

TSerialPort::~TSerialPort() {
    // Closing must not reach a session that is being destroyed.
    device_->Port.disconnect(this);
    Close();
}

bool TSerialPort::IsOpen() const { return device_->Port.isOpen(); }

bool TSerialPort::Open(const std::string& port, int baudRate) {
    Close();
    openFailure_ = {};
    // A port name is a file name: any bytes but NUL, which no path can hold.
    const auto refuse = [this](int error) {
        openFailure_ = Refusal(error);
        return false;
    };
    if (port.empty() || port.find('\0') != std::string::npos)
        return refuse(ENOENT);
    char resolved[PATH_MAX];
    if (!realpath(DevicePath(port).c_str(), resolved))
        return refuse(errno);

    // One sender per module. The lock is taken on the device itself, so it holds whatever name
    // the port was opened by, and for root too; it is taken before the port is set up, so a
    // refused sender changes nothing on a port in use.
    const int lock = open(resolved, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (lock < 0)
        return refuse(errno);
    if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(lock);
        return refuse(error == EWOULDBLOCK ? EBUSY : error);
    }
    device_->LockFd = lock;
    QSerialPort& serial = device_->Port;

    serial.setPortName(QFile::decodeName(QByteArray(resolved)));
    serial.setBaudRate(baudRate);
    serial.setDataBits(QSerialPort::Data8);
    serial.setParity(QSerialPort::NoParity);
    serial.setStopBits(QSerialPort::OneStop);
    serial.setFlowControl(QSerialPort::NoFlowControl);
    bool opened = serial.open(QIODevice::ReadWrite);
    // The device is ours (no sender has it: we hold its lock), so a lock file naming it that no
    // process holds is one left behind: the adapter is never refused for it.
    if (!opened && serial.error() == QSerialPort::PermissionError && RemoveLockNobodyHolds(resolved)) {
        serial.clearError();
        opened = serial.open(QIODevice::ReadWrite);
    }
    if (!opened) {
        // The device is ours, so a refusal here is another program's lock file.
        if (serial.error() == QSerialPort::PermissionError)
            openFailure_ = {TOpenFailure::TKind::InUse,
                            QStringLiteral("in use by another program (%1)").arg(serial.errorString())};
        else if (serial.error() == QSerialPort::DeviceNotFoundError)
            openFailure_ = {TOpenFailure::TKind::NoSuchPort, QStringLiteral("no such port")};
        else
            openFailure_ = {TOpenFailure::TKind::Other, serial.errorString()};
        serial.clearError();
        Close();
        return false;
    }
    return true;
}

// Opening a device file never blocks for long: it is told at once, as any port's is.
void TSerialPort::OpenLater(const std::string& port, int baudRate) { TPort::OpenLater(port, baudRate); }

bool TSerialPort::Opening() const { return false; }

void TSerialPort::Close() {
    QSerialPort& serial = device_->Port;
    if (serial.isOpen()) {
        serial.flush();
        serial.close();
        serial.clearError();
    }
    if (device_->LockFd >= 0) {
        close(device_->LockFd);
        device_->LockFd = -1;
    }
}

bool TSerialPort::SetBaudRate(int baudRate) {
    return IsOpen() && device_->Port.setBaudRate(baudRate);
}

std::string TSerialPort::ReadAll() {
    if (!IsOpen())
        return {};
    return device_->Port.readAll().toStdString();
}

std::string TSerialPort::DiscardInput() {
    // What Qt has read already, then what the system still holds, read without waiting (and
    // without signals, which would reach the session in the middle of its step).
    std::string bytes = ReadAll();
    const int fd = IsOpen() ? device_->Port.handle() : -1;
    char buffer[4096];
    pollfd waiting{fd, POLLIN, 0};
    while (fd >= 0 && poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN)) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
}

// The port's loss needs no words beyond "connection lost" here: an unplugged adapter and a
// hung-up line are all Linux reports.
std::string TSerialPort::LostReason() const { return {}; }

bool TSerialPort::Write(std::string_view bytes) {
    if (!IsOpen())
        return false;
    TDevice& device = *device_;
    device.Writing = true;
    device.FailedWhileWriting = false;
    const auto size = static_cast<qint64>(bytes.size());
    const bool written = device.Port.write(bytes.data(), size) == size &&
                         (device.Port.flush() || device.Port.bytesToWrite() == 0);
    device.Writing = false;
    return written && !device.FailedWhileWriting;
}

} // namespace kelvara::link
