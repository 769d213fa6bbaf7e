#pragma once

// A connection to a remote device found by a scan: "AT+CO" + type + address, judged as any
// command ("OK+CONNA" acknowledges it); then the module's word on the connection: "OK+CONN"
// connected, "OK+CONNF" or "OK+CONNE" failed, nothing within the timeout failed too. Once
// connected the port carries the device's data both ways, no reply awaited, until the module
// says "OK+LOST" or the user disconnects: "AT" sent alone makes the module drop the connection.
// A connection that rejoins sends the connect command again once the link drops (the module's
// "OK+LOST", or the port gone and back): at once, then after 1, 2, 4, 8 and 16 s, then every
// 30 s, until the device answers or the user cancels. While the link is down no data is sent.

#include "Exchange.h"

namespace kelvara::link {

// "AT+CO0C4BE84123456": the command that connects to a device.
std::string ConnectCommand(char type, std::string_view address);
// An address as given, "c4:be:84:12:34:56" or "C4BE84123456", as 12 upper-case hexadecimal
// digits; nothing for anything else.
std::optional<std::string> DeviceAddress(std::string_view text);

class TConnection : public TPolicy {
  public:
    TConnection(char type, std::string address, const TSendSettings& settings,
                int quietGapMs = kQuietGapMs, bool rejoin = false);

    // How long a connection that rejoins waits after its try'th failed try.
    static Ms RejoinWaitMs(std::size_t try_);

    TStep Start(Ms now) override;
    TStep BytesReceived(std::string_view bytes, Ms now) override;
    TStep TimePassed(Ms now) override;
    TStep ConnectionLost(Ms now) override;
    TStep PortBack(Ms now) override;
    // Before the connection stands: stops once the command under way is answered. Connected:
    // disconnects.
    TStep Cancel(Ms now) override;
    std::optional<Ms> WakeAt() const override;
    bool Finished() const override { return state_ == TState::Done; }

    bool Connected() const { return state_ == TState::Connected; }
    // The link dropped and is being rejoined: data waits.
    bool Rejoining() const { return rejoin_ && (state_ == TState::Down || (tries_ > 0 && !Finished())); }
    // Sends the bytes to the remote device, with the line ending chosen. Until the link stands,
    // or while it is down and being rejoined, they wait, and go once it stands; they go with
    // the connection if it ends first.
    TStep Send(std::string_view data, Ms now);
    // Sends the bytes as they are, as Send does.
    TStep SendRaw(std::string_view data, Ms now);
    // Bytes given that wait for the link.
    std::size_t Waiting() const { return waiting_.size(); }
    // Ends the connection: "AT" alone, then the module's "OK+LOST". A link being rejoined ends
    // at once between tries, or once the try under way is answered.
    TStep Disconnect(Ms now);

  private:
    // Asking (the command under way) -> Waiting (for the module's word) -> Connected ->
    // (Disconnecting ->) Done. A connection that rejoins goes from Connected to Down when the
    // link drops, and from Down to Asking at each try.
    enum class TState { Idle, Asking, Waiting, Connected, Disconnecting, Down, Done };

    // The command was answered: acknowledged, the module's word on the connection is awaited.
    void Asked(const TOutcome& outcome, Ms now, TStep& step);
    void Read(Ms now, TStep& step, bool quiet);
    void Finish(TResult result, Ms now, TStep& step);
    // Sends the connect command.
    void Ask(Ms now, TStep& step);
    // The link dropped: rejoined from now on (the first try at once, unless the port is gone).
    void Dropped(Ms now, TStep& step, bool portGone);
    // A try failed: the next after its wait, or the end, once cancelled or without rejoining.
    void TryFailed(TResult result, Ms now, TStep& step);

    char type_;
    std::string address_;
    TSendSettings settings_;
    int quietGapMs_;
    TState state_ = TState::Idle;
    TInFlight inFlight_;
    std::string pending_; // bytes not yet told: the module's words may come in pieces
    std::string waiting_; // data given before the link stood, or while it was down
    Ms waitEndsAt_ = 0;
    Ms lastByteAt_ = 0;
    bool cancelled_ = false;
    bool rejoin_ = false;
    std::size_t tries_ = 0; // since the link dropped
    Ms droppedAt_ = 0;
    Ms nextTryAt_ = 0;
    bool portGone_ = false; // down until the port is back
};

} // namespace kelvara::link
