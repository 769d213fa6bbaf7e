#pragma once

// The link to a remote device shared with another program: a TCP port on this machine's
// loopback (as socket:// URLs, netcat and terminals' raw mode use it) or, on Linux, a
// pseudo-terminal that any serial program opens as if the device were wired to it. Bytes relay
// both ways unchanged; one program at a time (a second is told so and closed), and a program
// that goes away leaves the link up for the next.

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace kelvara::link {

namespace share_pty {
struct TPty;
}

struct TShareRequest {
    enum class TKind { Tcp, Pty } Kind = TKind::Tcp;
    std::string Host; // tcp: 127.0.0.1, ::1 or localhost
    int Port = 0;     // tcp: 0 takes a free one
    std::string Path; // pty: where a link to it is made (none when empty)
};

// "tcp:HOST:PORT", "pty" or "pty:PATH"; nothing, and why, for anything else (an address that is
// not loopback among them: the device would be open to the network).
std::optional<TShareRequest> ParseShare(std::string_view text, std::string& why);

class TLinkShare : public QObject {
    Q_OBJECT

  public:
    TLinkShare();
    ~TLinkShare() override;

    // Listens (tcp) or makes the pseudo-terminal (pty); false, and why, when it cannot.
    bool Start(const TShareRequest& request, std::string& why);
    // Where programs reach the link: "127.0.0.1:40123", or the pseudo-terminal's path.
    const std::string& Where() const { return where_; }
    // Bytes from the device, for the program: on TCP dropped while none is there; on a
    // pseudo-terminal kept for it, up to a bound.
    void FromDevice(std::string_view bytes);

  signals:
    // Bytes from the program, for the device.
    void toDevice(const std::string& bytes);
    // What happened to the share, in words ("a program connected from 127.0.0.1:51234").
    void news(const QString& what);

  private:
    void Accept();
    void ReadPty();
    // Hands the pseudo-terminal what it takes of the device's bytes; the rest waits until it
    // takes more.
    void WritePty();

    std::string where_;
    QTcpServer* server_ = nullptr;
    QPointer<QTcpSocket> client_;
    std::unique_ptr<share_pty::TPty> pty_;
    std::string link_; // the link made to it, removed at the end
    QSocketNotifier* ptyNotifier_ = nullptr;
    QSocketNotifier* ptyWritable_ = nullptr;
    // The device's bytes the pseudo-terminal has not taken yet, up to kMostUnsent: beyond that
    // no program is reading, and the newest are dropped, as is said.
    static constexpr std::size_t kMostUnsent = 1 << 20;
    std::string unsent_;
    bool droppedSaid_ = false;
};

} // namespace kelvara::link
