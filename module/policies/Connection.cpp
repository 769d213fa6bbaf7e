#include "Connection.h"

#include <algorithm>
#include <utility>

namespace kelvara::link {

namespace {

constexpr std::string_view kAccepted = "OK+CONNA";
constexpr std::string_view kConnected = "OK+CONN";
constexpr std::string_view kLost = "OK+LOST";
constexpr std::size_t kMaxPending = 64 * 1024;

} // namespace

std::string ConnectCommand(char type, std::string_view address) {
    return "AT+CO" + std::string(1, type) + std::string(address);
}

std::optional<std::string> DeviceAddress(std::string_view text) {
    std::string address;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // A colon only between the bytes.
        if (c == ':' && address.size() % 2 == 0 && !address.empty() && i + 1 < text.size() &&
            text[i - 1] != ':')
            continue;
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return std::nullopt;
        address += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (address.size() != 12)
        return std::nullopt;
    return address;
}

TConnection::TConnection(char type, std::string address, const TSendSettings& settings,
                         int quietGapMs, bool rejoin)
    : type_(type), address_(std::move(address)), settings_(settings), quietGapMs_(quietGapMs),
      rejoin_(rejoin) {}

Ms TConnection::RejoinWaitMs(std::size_t try_) {
    return try_ >= 1 && try_ <= 5 ? Ms{1000} << (try_ - 1) : Ms{30000};
}

TStep TConnection::Start(Ms now) {
    TStep step;
    if (!Expect(state_ == TState::Idle, "a connection is started once"))
        return step;
    Ask(now, step);
    return step;
}

void TConnection::Ask(Ms now, TStep& step) {
    if (tries_ > 0)
        step.Add(TConnectionState{.At = now, .State = TLinkState::Rejoining, .Address = address_, .Try = tries_});
    state_ = TState::Asking;
    TExchange asking(ConnectCommand(type_, address_), settings_.LineEnd, settings_.TimeoutMs, quietGapMs_);
    // The device's data may follow the module's words at once, and never pause.
    asking.CompleteOn(std::string(kAccepted));
    inFlight_.Start(std::move(asking), 0, now, step);
}

void TConnection::Dropped(Ms now, TStep& step, bool portGone) {
    if (tries_ == 0)
        droppedAt_ = now;
    if (!pending_.empty())
        step.Add(TUnasked{.At = now, .Bytes = std::move(pending_)});
    pending_.clear();
    inFlight_.Drop();
    state_ = TState::Down;
    portGone_ = portGone;
    if (!portGone) {
        ++tries_;
        Ask(now, step);
    }
}

void TConnection::TryFailed(TResult result, Ms now, TStep& step) {
    if (!rejoin_ || tries_ == 0 || cancelled_) {
        Finish(cancelled_ ? TResult::Cancelled : result, now, step);
        return;
    }
    if (!pending_.empty())
        step.Add(TUnasked{.At = now, .Bytes = std::move(pending_)});
    pending_.clear();
    state_ = TState::Down;
    nextTryAt_ = now + RejoinWaitMs(tries_);
}

TStep TConnection::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running connection takes bytes"))
        return step;
    lastByteAt_ = now;
    if (state_ == TState::Asking) {
        if (const auto outcome = inFlight_.BytesReceived(bytes, now, step))
            Asked(*outcome, now, step);
    } else if (pending_.size() < kMaxPending) {
        pending_.append(bytes.substr(0, kMaxPending - pending_.size()));
    }
    if (!Finished())
        Read(now, step, false);
    return step;
}

void TConnection::Asked(const TOutcome& outcome, Ms now, TStep& step) {
    if (!outcome.Acknowledged()) {
        TryFailed(TResult::Failed, now, step);
        return;
    }
    // The words after "OK+CONNA" say how it went; they may have come with it.
    pending_ = inFlight_.AfterEcho();
    state_ = TState::Waiting;
    waitEndsAt_ = now + settings_.TimeoutMs;
}

TStep TConnection::TimePassed(Ms now) {
    TStep step;
    if (state_ == TState::Idle || Finished())
        return step;
    if (state_ == TState::Down) {
        if (!portGone_ && now >= nextTryAt_) {
            ++tries_;
            Ask(now, step);
        }
        return step;
    }
    if (const auto outcome = inFlight_.TimePassed(now, step)) {
        Asked(*outcome, now, step);
        if (Finished())
            return step;
    }
    if (!pending_.empty() && now - lastByteAt_ >= quietGapMs_)
        Read(now, step, true);
    if (Finished())
        return step;
    if ((state_ == TState::Waiting || state_ == TState::Disconnecting) && now >= waitEndsAt_) {
        const bool waiting = state_ == TState::Waiting;
        step.Add(TConnectionState{.At = now,
                                  .State = waiting ? TLinkState::Failed : TLinkState::Disconnected,
                                  .Address = address_});
        // No word came: a connection the user cancelled meanwhile was cancelled, not failed.
        if (waiting)
            TryFailed(TResult::Failed, now, step);
        else
            Finish(TResult::Completed, now, step);
    }
    return step;
}

void TConnection::Read(Ms now, TStep& step, bool quiet) {
    while (!pending_.empty() && !Finished()) {
        if (state_ == TState::Down) {
            // Between tries, what the module says answers nothing.
            step.Add(TUnasked{.At = now, .Bytes = std::move(pending_)});
            pending_.clear();
            return;
        }
        const std::string_view text = pending_;
        if (state_ == TState::Waiting) {
            // "OK+CONNA" again, line breaks: nothing yet.
            const std::size_t skip = text.starts_with(kAccepted) ? kAccepted.size()
                                     : (text.front() == '\r' || text.front() == '\n') ? 1 : 0;
            if (skip > 0) {
                pending_.erase(0, skip);
                continue;
            }
            if (text.starts_with(kConnected) && (text.size() > kConnected.size() || quiet)) {
                const char after = text.size() > kConnected.size() ? text[kConnected.size()] : '\0';
                const bool failed = after == 'F' || after == 'E';
                const std::size_t length = kConnected.size() + (failed ? 1 : 0);
                const bool rejoined = !failed && tries_ > 0;
                step.Add(TConnectionState{.At = now,
                                          .State = failed ? TLinkState::Failed : TLinkState::Connected,
                                          .Answer = std::string(text.substr(0, length)),
                                          .Address = address_,
                                          .Try = rejoined ? tries_ : 0,
                                          .DownMs = rejoined ? now - droppedAt_ : 0});
                pending_.erase(0, length);
                if (failed) {
                    TryFailed(TResult::Failed, now, step);
                } else {
                    tries_ = 0;
                    state_ = TState::Connected;
                    // What was given while the link was being made goes first.
                    if (!waiting_.empty() && !cancelled_)
                        step.Append(SendRaw(std::exchange(waiting_, {}), now));
                    if (cancelled_) {
                        step.Append(Disconnect(now));
                    }
                }
                continue;
            }
            if (!quiet && (reply::MayBecome(text, kConnected) || reply::MayBecome(text, kAccepted)))
                return;
            // Neither: what the module said is shown, and the wait goes on.
            const std::size_t next = text.find("OK+", 1);
            const std::size_t length = next == std::string_view::npos ? text.size() : next;
            step.Add(TUnasked{.At = now, .Bytes = std::string(text.substr(0, length))});
            pending_.erase(0, length);
            continue;
        }
        // Connected: the device's data, as it comes, until "OK+LOST".
        const std::size_t lost = text.find(kLost);
        const std::size_t keep = lost == std::string_view::npos && !quiet ? reply::TailBeginning(text, kLost) : 0;
        const std::size_t data = lost == std::string_view::npos ? text.size() - keep : lost;
        if (data > 0)
            step.Add(TData{.At = now, .Bytes = std::string(text.substr(0, data))});
        pending_.erase(0, data);
        if (lost == std::string_view::npos)
            return;
        pending_.erase(0, kLost.size());
        step.Add(TConnectionState{.At = now,
                                  .State = state_ == TState::Disconnecting ? TLinkState::Disconnected
                                                                           : TLinkState::Dropped,
                                  .Answer = std::string(kLost),
                                  .Address = address_});
        if (state_ == TState::Connected && rejoin_)
            Dropped(now, step, false);
        else
            Finish(state_ == TState::Disconnecting ? TResult::Completed : TResult::Failed, now, step);
    }
}

TStep TConnection::ConnectionLost(Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running connection loses its port"))
        return step;
    inFlight_.ConnectionLost(now, step);
    if (state_ == TState::Connected || state_ == TState::Disconnecting)
        step.Add(TConnectionState{.At = now, .State = TLinkState::Dropped, .Address = address_});
    // A link that stood once is rejoined when the port is back, unless the user was ending it.
    if (rejoin_ && !cancelled_ && (state_ == TState::Connected || state_ == TState::Down || tries_ > 0))
        Dropped(now, step, true);
    else
        Finish(TResult::Failed, now, step);
    return step;
}

TStep TConnection::PortBack(Ms now) {
    TStep step;
    if (state_ == TState::Down && std::exchange(portGone_, false)) {
        ++tries_;
        Ask(now, step);
    }
    return step;
}

TStep TConnection::Cancel(Ms now) {
    if (state_ == TState::Connected)
        return Disconnect(now);
    TStep step;
    if (state_ == TState::Idle || state_ == TState::Down)
        Finish(TResult::Cancelled, now, step);
    else
        cancelled_ = true;
    return step;
}

TStep TConnection::Send(std::string_view data, Ms now) {
    std::string bytes(data);
    bytes.append(LineEndBytes(settings_.LineEnd));
    return SendRaw(bytes, now);
}

TStep TConnection::SendRaw(std::string_view data, Ms now) {
    TStep step;
    // Until the link stands, and while a link being rejoined is down, nothing reaches the
    // module, which takes commands then: the data waits for the link.
    if (state_ == TState::Asking || state_ == TState::Waiting || state_ == TState::Down) {
        waiting_.append(data);
        return step;
    }
    // A connection being ended takes no more.
    if (state_ != TState::Connected) {
        Expect(state_ == TState::Disconnecting, "data goes over a connection that stands");
        return step;
    }
    if (data.empty())
        return step;
    step.Write = std::string(data);
    step.Add(TWritten{.At = now, .Index = 0, .Command = {}, .Bytes = *step.Write, .Kind = TWriteKind::Data});
    return step;
}

TStep TConnection::Disconnect(Ms now) {
    TStep step;
    // A link down between tries is let go at once; a try under way ends it once answered.
    if (state_ == TState::Down) {
        Finish(TResult::Completed, now, step);
        return step;
    }
    if (tries_ > 0 && (state_ == TState::Asking || state_ == TState::Waiting))
        cancelled_ = true;
    if (state_ != TState::Connected)
        return step;
    state_ = TState::Disconnecting;
    waitEndsAt_ = now + settings_.TimeoutMs;
    step.Write = "AT";
    step.Add(TWritten{.At = now, .Index = 0, .Command = {}, .Bytes = *step.Write,
                      .Kind = TWriteKind::Disconnect});
    return step;
}

std::optional<Ms> TConnection::WakeAt() const {
    if (Finished() || state_ == TState::Idle)
        return std::nullopt;
    std::optional<Ms> wake = inFlight_.WakeAt();
    if (!pending_.empty())
        wake = Earliest(wake, lastByteAt_ + quietGapMs_);
    if (state_ == TState::Waiting || state_ == TState::Disconnecting)
        wake = Earliest(wake, waitEndsAt_);
    if (state_ == TState::Down && !portGone_)
        wake = Earliest(wake, nextTryAt_);
    return wake;
}

void TConnection::Finish(TResult result, Ms now, TStep& step) {
    if (!pending_.empty())
        step.Add(TUnasked{.At = now, .Bytes = std::move(pending_)});
    pending_.clear();
    waiting_.clear();
    inFlight_.Drop();
    state_ = TState::Done;
    step.Add(TFinished{.At = now, .Result = result});
}

} // namespace kelvara::link
