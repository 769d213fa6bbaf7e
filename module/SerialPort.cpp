#include "SerialPort.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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

bool TSerialPort::Exists(const std::string& port) {
    return !port.empty() && port.find('\0') == std::string::npos &&
           access(DevicePath(port).c_str(), F_OK) == 0;
}

TSerialPort::TSerialPort(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::readyRead, this, &TSerialPort::readyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &TSerialPort::Failed);
}

TSerialPort::~TSerialPort() {
    // Closing must not reach a session that is being destroyed.
    port_.disconnect(this);
    Close();
}

bool TSerialPort::Refuse(int error) {
    using TKind = TOpenFailure::TKind;
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case ENXIO:
    case ENODEV:
        openFailure_ = {TKind::NoSuchPort, QStringLiteral("no such port")};
        break;
    case EACCES:
    case EPERM:
        openFailure_ = {TKind::PermissionDenied, QStringLiteral("permission denied")};
        break;
    case EBUSY:
    case EWOULDBLOCK:
        openFailure_ = {TKind::InUse, QStringLiteral("in use by another program")};
        break;
    default:
        openFailure_ = {TKind::Other, QString::fromLocal8Bit(std::strerror(error))};
        break;
    }
    return false;
}

bool TSerialPort::Open(const std::string& port, int baudRate) {
    Close();
    openFailure_ = {};
    // A port name is a file name: any bytes but NUL, which no path can hold.
    if (port.empty() || port.find('\0') != std::string::npos)
        return Refuse(ENOENT);
    char resolved[PATH_MAX];
    if (!realpath(DevicePath(port).c_str(), resolved))
        return Refuse(errno);

    // One sender per module. The lock is taken on the device itself, so it holds whatever name
    // the port was opened by, and for root too; it is taken before the port is set up, so a
    // refused sender changes nothing on a port in use.
    const int lock = open(resolved, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (lock < 0)
        return Refuse(errno);
    if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(lock);
        return Refuse(error == EWOULDBLOCK ? EBUSY : error);
    }
    lockFd_ = lock;

    port_.setPortName(QFile::decodeName(QByteArray(resolved)));
    port_.setBaudRate(baudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        // The device is ours, so a refusal here is another program's lock file.
        if (port_.error() == QSerialPort::PermissionError)
            openFailure_ = {TOpenFailure::TKind::InUse,
                            QStringLiteral("in use by another program (%1)").arg(port_.errorString())};
        else if (port_.error() == QSerialPort::DeviceNotFoundError)
            openFailure_ = {TOpenFailure::TKind::NoSuchPort, QStringLiteral("no such port")};
        else
            openFailure_ = {TOpenFailure::TKind::Other, port_.errorString()};
        port_.clearError();
        Close();
        return false;
    }
    return true;
}

void TSerialPort::Close() {
    if (port_.isOpen()) {
        port_.flush();
        port_.close();
        port_.clearError();
    }
    if (lockFd_ >= 0) {
        close(lockFd_);
        lockFd_ = -1;
    }
}

bool TSerialPort::SetBaudRate(int baudRate) { return IsOpen() && port_.setBaudRate(baudRate); }

std::string TSerialPort::ReadAll() {
    if (!IsOpen())
        return {};
    return port_.readAll().toStdString();
}

void TSerialPort::DiscardInput() {
    if (IsOpen())
        port_.clear(QSerialPort::Input);
}

bool TSerialPort::Write(std::string_view bytes) {
    if (!IsOpen())
        return false;
    writing_ = true;
    failedWhileWriting_ = false;
    const auto size = static_cast<qint64>(bytes.size());
    const bool written = port_.write(bytes.data(), size) == size &&
                         (port_.flush() || port_.bytesToWrite() == 0);
    writing_ = false;
    return written && !failedWhileWriting_;
}

void TSerialPort::Failed(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !IsOpen())
        return;
    port_.clearError();
    // A failure while writing is the writer's to deal with, once write() has returned, so that
    // the session never handles a loss inside another step.
    if (writing_)
        failedWhileWriting_ = true;
    else
        emit lost();
}

} // namespace kelvara::link
