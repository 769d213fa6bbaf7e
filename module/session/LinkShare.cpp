#include "LinkShare.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <charconv>

#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#endif

namespace kelvara::link {

std::optional<TShareSpec> ParseShare(std::string_view text, std::string& why) {
    TShareSpec spec;
    if (text == "pty" || text.starts_with("pty:")) {
#ifdef _WIN32
        why = "a pseudo-terminal share is Linux's; use tcp:127.0.0.1:PORT";
        return std::nullopt;
#else
        spec.Kind = TShareSpec::TKind::Pty;
        if (text.size() > 4)
            spec.Path = std::string(text.substr(4));
        if (text.starts_with("pty:") && spec.Path.empty()) {
            why = "pty: takes a path after the colon";
            return std::nullopt;
        }
        return spec;
#endif
    }
    if (!text.starts_with("tcp:")) {
        why = "takes tcp:HOST:PORT or pty[:PATH]";
        return std::nullopt;
    }
    text.remove_prefix(4);
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        why = "takes tcp:HOST:PORT";
        return std::nullopt;
    }
    std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), spec.Port);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || spec.Port < 0 ||
        spec.Port > 65535) {
        why = "takes a port from 0 to 65535";
        return std::nullopt;
    }
    if (host != "127.0.0.1" && host != "::1" && host != "localhost") {
        why = "only loopback addresses (127.0.0.1, ::1, localhost) are accepted: any other would open "
              "the device to the network";
        return std::nullopt;
    }
    spec.Host = std::string(host);
    return spec;
}

TLinkShare::TLinkShare() = default;

TLinkShare::~TLinkShare() {
    if (client_)
        client_->abort();
#ifndef _WIN32
    delete ptyNotifier_;
    if (pty_ >= 0)
        close(pty_);
    if (program_ >= 0)
        close(program_);
    // The link is removed only while it is still ours.
    std::error_code ignored;
    if (!link_.empty() && std::filesystem::is_symlink(link_, ignored) &&
        std::filesystem::read_symlink(link_, ignored) == where_)
        std::filesystem::remove(link_, ignored);
#endif
}

bool TLinkShare::Start(const TShareSpec& spec, std::string& why) {
    if (spec.Kind == TShareSpec::TKind::Tcp) {
        server_ = new QTcpServer(this);
        const QHostAddress address = spec.Host == "localhost" ? QHostAddress(QHostAddress::LocalHost)
                                                              : QHostAddress(QString::fromStdString(spec.Host));
        if (!server_->listen(address, static_cast<quint16>(spec.Port))) {
            why = server_->errorString().toStdString();
            return false;
        }
        connect(server_, &QTcpServer::newConnection, this, &TLinkShare::Accept);
        const QString host = server_->serverAddress().protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(server_->serverAddress().toString())
                                 : server_->serverAddress().toString();
        where_ = QStringLiteral("%1:%2").arg(host).arg(server_->serverPort()).toStdString();
        return true;
    }
#ifdef _WIN32
    why = "a pseudo-terminal share is Linux's";
    return false;
#else
    pty_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty_ < 0 || grantpt(pty_) != 0 || unlockpt(pty_) != 0) {
        why = std::strerror(errno);
        return false;
    }
    where_ = ptsname(pty_);
    // Raw both ways: the bytes relay unchanged, no echo, no line editing.
    program_ = open(where_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (program_ < 0 || tcgetattr(program_, &raw) != 0) {
        why = std::strerror(errno);
        return false;
    }
    cfmakeraw(&raw);
    tcsetattr(program_, TCSANOW, &raw);
    fcntl(pty_, F_SETFL, fcntl(pty_, F_GETFL) | O_NONBLOCK);
    if (!spec.Path.empty()) {
        std::error_code error;
        std::filesystem::create_symlink(where_, spec.Path, error);
        if (error) {
            why = spec.Path + ": " + error.message();
            return false;
        }
        link_ = spec.Path;
    }
    ptyNotifier_ = new QSocketNotifier(pty_, QSocketNotifier::Read);
    connect(ptyNotifier_, &QSocketNotifier::activated, this, &TLinkShare::ReadPty);
    return true;
#endif
}

void TLinkShare::Accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        const QString from = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (client_) {
            // One program at a time: two senders never talk to one module.
            socket->write("kelvara-cli: the link is in use by another program\r\n");
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            emit news(QStringLiteral("a second program, from %1, was turned away").arg(from));
            continue;
        }
        client_ = socket;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit news(QStringLiteral("a program connected from %1").arg(from));
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const QByteArray bytes = socket->readAll();
            if (!bytes.isEmpty())
                emit toDevice(bytes.toStdString());
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, from] {
            emit news(QStringLiteral("the program from %1 went away; the link stays up").arg(from));
            socket->deleteLater();
        });
    }
}

void TLinkShare::ReadPty() {
#ifndef _WIN32
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(pty_, buffer, sizeof buffer);
        if (n > 0) {
            emit toDevice(std::string(buffer, static_cast<std::size_t>(n)));
            continue;
        }
        return;
    }
#endif
}

void TLinkShare::FromDevice(std::string_view bytes) {
    if (client_ && client_->state() == QAbstractSocket::ConnectedState) {
        client_->write(bytes.data(), static_cast<qint64>(bytes.size()));
        return;
    }
#ifndef _WIN32
    // A program that reads nothing leaves the bytes in the pseudo-terminal, up to what it holds.
    if (pty_ >= 0)
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(pty_, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
#endif
}

} // namespace kelvara::link
