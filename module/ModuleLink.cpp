#include "ModuleLink.h"

#include "Console.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

TModuleLink::TModuleLink(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &TModuleLink::TimerFired);
    connect(&port_, &QSerialPort::readyRead, this, &TModuleLink::ReadPort);
    connect(&port_, &QSerialPort::errorOccurred, this, &TModuleLink::PortError);
}

TModuleLink::~TModuleLink() {
    timer_.stop();
    // Silence the port first: closing must not feed a policy that is being destroyed.
    port_.disconnect(this);
    policy_.reset();
    ClosePort();
}

bool TModuleLink::Refuse(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case ENXIO:
    case ENODEV:
        openFailure_.Reason = QStringLiteral("no such port");
        break;
    case EACCES:
    case EPERM:
        openFailure_.Reason = QStringLiteral("permission denied");
        openFailure_.PermissionDenied = true;
        break;
    case EBUSY:
    case EWOULDBLOCK:
        openFailure_.Reason = QStringLiteral("in use by another program");
        break;
    default:
        openFailure_.Reason = QString::fromLocal8Bit(std::strerror(error));
        break;
    }
    return false;
}

bool TModuleLink::Open(const std::string& port, int baudRate) {
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
    device_ = resolved;

    port_.setPortName(QFile::decodeName(QByteArray(resolved)));
    port_.setBaudRate(baudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        // The device is ours, so a refusal here is another program's lock file.
        if (port_.error() == QSerialPort::PermissionError)
            openFailure_.Reason =
                QStringLiteral("in use by another program (%1)").arg(port_.errorString());
        else if (port_.error() == QSerialPort::DeviceNotFoundError)
            openFailure_.Reason = QStringLiteral("no such port");
        else
            openFailure_.Reason = port_.errorString();
        port_.clearError();
        ClosePort();
        return false;
    }
    clock_.start();
    return true;
}

void TModuleLink::Run(std::unique_ptr<TPolicy> policy) {
    if (!Expect(IsOpen() && !policy_, "a policy runs alone on an open port"))
        return;
    policy_ = std::move(policy);
    Apply(policy_->Start(Now()));
}

TConsole* TModuleLink::Console() const { return dynamic_cast<TConsole*>(policy_.get()); }

void TModuleLink::Submit(std::string command) {
    if (TConsole* console = Console())
        Apply(console->Submit(std::move(command), Now()));
}

void TModuleLink::EndConsole() {
    if (TConsole* console = Console())
        Apply(console->End(Now()));
}

void TModuleLink::Cancel() {
    if (policy_)
        Apply(policy_->Cancel(Now()));
}

void TModuleLink::Close() {
    timer_.stop();
    policy_.reset();
    ClosePort();
}

void TModuleLink::Report(TEvent event) { emit linkEvent(event); }

void TModuleLink::Apply(TStep step) {
    TPolicy* const policy = policy_.get();
    if (step.SetBaudRate && IsOpen())
        port_.setBaudRate(*step.SetBaudRate);
    if (step.Write && IsOpen()) {
        // What the module said before this command is no answer to it; it is still shown.
        const QByteArray before = port_.readAll();
        port_.clear(QSerialPort::Input);
        if (!before.isEmpty())
            Report({.Kind = TEventKind::Unasked, .At = Now(), .Bytes = before.toStdString()});
        writing_ = true;
        lostWhileWriting_ = false;
        // Handed to the system at once rather than on the event loop's next turn: a module that
        // answers at once is heard sooner.
        const bool written =
            port_.write(step.Write->data(), static_cast<qint64>(step.Write->size())) ==
                static_cast<qint64>(step.Write->size()) &&
            (port_.flush() || port_.bytesToWrite() == 0);
        writing_ = false;
        if (!written)
            lostWhileWriting_ = true;
    }
    for (TEvent& event : step.Events)
        Report(std::move(event));
    // A handler may have closed the link, or started another policy.
    if (policy_.get() != policy || !policy)
        return;
    if (step.Finished) {
        timer_.stop();
        const auto end = std::find_if(step.Events.begin(), step.Events.end(), [](const TEvent& e) {
            return e.Kind == TEventKind::Finished;
        });
        const TResult result = end == step.Events.end() ? TResult::Completed : end->Result;
        policy_.reset();
        emit finished(result);
        return;
    }
    if (lostWhileWriting_) {
        lostWhileWriting_ = false;
        LosePort();
        return;
    }
    if (const auto wakeAt = policy_->WakeAt())
        timer_.start(static_cast<int>(std::max<Ms>(0, *wakeAt - Now())));
    else
        timer_.stop();
}

void TModuleLink::ReadPort() {
    if (!IsOpen())
        return;
    const QByteArray bytes = port_.readAll();
    if (bytes.isEmpty())
        return;
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (policy_)
        Apply(policy_->BytesReceived(view, Now()));
    else
        Report({.Kind = TEventKind::Unasked, .At = Now(), .Bytes = std::string(view)});
}

void TModuleLink::PortError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !IsOpen())
        return;
    if (writing_) {
        // Handled once write() has returned, so that a step is never applied inside another.
        lostWhileWriting_ = true;
        return;
    }
    LosePort();
}

void TModuleLink::LosePort() {
    // An unplugged adapter, a hung-up line or a failed read or write: the module is out of
    // reach. What it said before it went still counts.
    ReadPort();
    if (!IsOpen())
        return;
    port_.clearError();
    ClosePort();
    if (policy_)
        Apply(policy_->ConnectionLost(Now()));
    // A policy that goes on by itself (a console) has no port to go on with.
    if (policy_) {
        timer_.stop();
        policy_.reset();
        emit finished(TResult::Failed);
    }
    emit portLost();
}

bool TModuleLink::SetBaudRate(int baudRate) {
    return IsOpen() && port_.setBaudRate(baudRate);
}

void TModuleLink::TimerFired() {
    if (policy_)
        Apply(policy_->TimePassed(Now()));
}

void TModuleLink::ClosePort() {
    if (port_.isOpen()) {
        // Hand what is still buffered to the system, so no command is cut off, then let go.
        port_.flush();
        port_.close();
        port_.clearError();
    }
    if (lockFd_ >= 0) {
        close(lockFd_);
        lockFd_ = -1;
    }
}

} // namespace kelvara::link
