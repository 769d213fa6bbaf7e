#include "LinkShare.h"
#include "SharePty.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <charconv>
#include <utility>

namespace kelvara::link {

std::optional<TShareRequest> ParseShare(std::string_view text, std::string& why) {
    TShareRequest request;
    if (text == "pty" || text.starts_with("pty:")) {
        if (!share_pty::Available(why))
            return std::nullopt;
        request.Kind = TShareRequest::TKind::Pty;
        if (text.size() > 4)
            request.Path = std::string(text.substr(4));
        if (text.starts_with("pty:") && request.Path.empty()) {
            why = "pty: takes a path after the colon";
            return std::nullopt;
        }
        return request;
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
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), request.Port);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || request.Port < 0 ||
        request.Port > 65535) {
        why = "takes a port from 0 to 65535";
        return std::nullopt;
    }
    if (host != "127.0.0.1" && host != "::1" && host != "localhost") {
        why = "only loopback addresses (127.0.0.1, ::1, localhost) are accepted: any other would open "
              "the device to the network";
        return std::nullopt;
    }
    request.Host = std::string(host);
    return request;
}

TLinkShare::TLinkShare() = default;

TLinkShare::~TLinkShare() {
    if (client_)
        client_->abort();
    delete ptyNotifier_;
    delete ptyWritable_;
    if (pty_) {
        if (!link_.empty())
            share_pty::Unlink(*pty_, link_);
        share_pty::Close(*pty_);
    }
}

bool TLinkShare::Start(const TShareRequest& request, std::string& why) {
    if (request.Kind == TShareRequest::TKind::Tcp) {
        server_ = new QTcpServer(this);
        const QHostAddress address = request.Host == "localhost" ? QHostAddress(QHostAddress::LocalHost)
                                                              : QHostAddress(QString::fromStdString(request.Host));
        if (!server_->listen(address, static_cast<quint16>(request.Port))) {
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
    auto pty = std::make_unique<share_pty::TPty>();
    const bool made = share_pty::Open(*pty, why);
    pty_ = std::move(pty);
    if (!made || (!request.Path.empty() && !share_pty::Link(*pty_, request.Path, why)))
        return false;
    link_ = request.Path;
    where_ = pty_->Path;
    ptyNotifier_ = new QSocketNotifier(pty_->Ours, QSocketNotifier::Read);
    connect(ptyNotifier_, &QSocketNotifier::activated, this, &TLinkShare::ReadPty);
    ptyWritable_ = new QSocketNotifier(pty_->Ours, QSocketNotifier::Write);
    ptyWritable_->setEnabled(false);
    connect(ptyWritable_, &QSocketNotifier::activated, this, &TLinkShare::WritePty);
    return true;
}

void TLinkShare::Accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        const QString from = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (client_) {
            // One program at a time: two senders never talk to one module.
            socket->write("the link is in use by another program\r\n");
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
    char buffer[4096];
    for (long long n; (n = share_pty::Read(*pty_, buffer, sizeof buffer)) > 0;)
        emit toDevice(std::string(buffer, static_cast<std::size_t>(n)));
}

void TLinkShare::FromDevice(std::string_view bytes) {
    if (client_ && client_->state() == QAbstractSocket::ConnectedState)
        client_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    else if (pty_ && pty_->Ours >= 0) {
        const std::size_t room = kMostUnsent - std::min(kMostUnsent, unsent_.size());
        unsent_.append(bytes.substr(0, room));
        if (room < bytes.size() && !std::exchange(droppedSaid_, true))
            emit news(QStringLiteral("no program reads the pseudo-terminal: the device's bytes beyond 1 MiB are dropped"));
        WritePty();
    }
}

void TLinkShare::WritePty() {
    unsent_.erase(0, share_pty::Write(*pty_, unsent_.data(), unsent_.size()));
    if (unsent_.empty())
        droppedSaid_ = false;
    ptyWritable_->setEnabled(!unsent_.empty());
}

} // namespace kelvara::link
