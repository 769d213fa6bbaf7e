#include "ModuleLink.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kelvara::link {

namespace {

// The port's device file, whether given as a path or as a listed name ("ttyUSB0").
QString DeviceFile(const QString& port) {
    if (port.contains(QLatin1Char('/')))
        return port;
    return QSerialPortInfo(port).systemLocation();
}

// QSerialPort reports both a port in use and a port the user may not open as a permission
// error; only the file's own access rights tell them apart.
bool LacksPermission(const QString& port) {
    const QByteArray file = QFile::encodeName(DeviceFile(port));
    return access(file.constData(), R_OK | W_OK) != 0 && errno == EACCES;
}

} // namespace

QString PermissionHint(const QString& port) {
    // Serial ports belong to a group whose members may use them: 'dialout' on Debian and
    // Ubuntu, another name elsewhere. Name the one that owns this port, when joining it would
    // give the right to read and write it.
    const auto join = [](const QString& group) {
        return QFileInfo::exists(QStringLiteral("/usr/sbin/adduser"))
                   ? QStringLiteral("sudo adduser $USER %1").arg(group)
                   : QStringLiteral("sudo usermod -aG %1 $USER").arg(group);
    };
    struct stat info {};
    if (stat(QFile::encodeName(DeviceFile(port)).constData(), &info) == 0 && info.st_gid != 0 &&
        (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP)) {
        if (const struct group* owner = getgrgid(info.st_gid)) {
            const QString group = QString::fromLocal8Bit(owner->gr_name);
            return QStringLiteral("%1 belongs to the '%2' group; add yourself with '%3', then "
                                  "log out and in again")
                .arg(port, group, join(group));
        }
    }
    return QStringLiteral("serial ports belong to the 'dialout' group; add yourself with '%1', "
                          "then log out and in again")
        .arg(join(QStringLiteral("dialout")));
}

TModuleLink::TModuleLink(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &TModuleLink::TimerFired);
    connect(&port_, &QSerialPort::readyRead, this, &TModuleLink::ReadPort);
    connect(&port_, &QSerialPort::errorOccurred, this, &TModuleLink::PortError);
}

TModuleLink::~TModuleLink() {
    timer_.stop();
    // Silence the port first: closing must not feed a protocol that is being destroyed.
    port_.disconnect(this);
    ClosePort();
}

bool TModuleLink::Start(const QString& port, const TSendSettings& settings,
                        std::vector<std::string> commands) {
    ClosePort();
    openFailure_ = {};
    protocol_ = std::make_unique<TSendProtocol>(std::move(commands), settings);

    port_.setPortName(port);
    port_.setBaudRate(settings.BaudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = port_.error();
        openFailure_.PermissionDenied =
            error == QSerialPort::PermissionError && LacksPermission(port);
        if (error == QSerialPort::DeviceNotFoundError)
            openFailure_.Reason = QStringLiteral("no such port");
        else if (openFailure_.PermissionDenied)
            openFailure_.Reason = QStringLiteral("permission denied");
        else if (error == QSerialPort::PermissionError)
            openFailure_.Reason = QStringLiteral("in use by another program (%1)")
                                      .arg(port_.errorString());
        else
            openFailure_.Reason = port_.errorString();
        port_.clearError();
        protocol_.reset();
        return false;
    }
    clock_.start();
    Apply(protocol_->Start(Now()));
    return true;
}

void TModuleLink::Cancel() {
    if (IsSending())
        Apply(protocol_->Cancel());
}

bool TModuleLink::IsSending() const { return protocol_ && !protocol_->Finished(); }

void TModuleLink::Apply(TStep step) {
    if (step.Write) {
        // Whatever the module said before this command is no answer to it.
        port_.clear(QSerialPort::Input);
        port_.readAll();
        const bool written =
            port_.write(step.Write->data(), static_cast<qint64>(step.Write->size())) >= 0;
        // A port error raised inside write() has already been applied, and reported.
        if (protocol_->Finished() && !step.Finished)
            return;
        if (!written) {
            TStep lost = protocol_->ConnectionLost();
            step.Changed.insert(step.Changed.end(), lost.Changed.begin(), lost.Changed.end());
            step.Finished = lost.Finished;
        }
    }
    if (step.Finished)
        ClosePort();
    if (const auto wakeAt = protocol_->WakeAt())
        timer_.start(static_cast<int>(std::max<TSendProtocol::Ms>(0, *wakeAt - Now())));
    else
        timer_.stop();
    for (std::size_t index : step.Changed)
        emit commandChanged(static_cast<int>(index));
    if (step.Finished)
        emit finished();
}

void TModuleLink::ReadPort() {
    const QByteArray bytes = port_.readAll();
    if (!IsSending())
        return;
    Apply(protocol_->BytesReceived(std::string_view(bytes.constData(),
                                                    static_cast<std::size_t>(bytes.size())),
                                   Now()));
}

void TModuleLink::PortError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !IsSending())
        return;
    // An unplugged adapter, a hung-up line or a failed read or write: the module is out of reach.
    Apply(protocol_->ConnectionLost());
}

void TModuleLink::TimerFired() {
    if (IsSending())
        Apply(protocol_->TimePassed(Now()));
}

void TModuleLink::ClosePort() {
    if (!port_.isOpen())
        return;
    // Hand what is still buffered to the system, so no command is cut off, then let go.
    port_.flush();
    port_.close();
    port_.clearError();
}

} // namespace kelvara::link
