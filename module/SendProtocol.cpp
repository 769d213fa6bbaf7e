#include "SendProtocol.h"

#include <algorithm>

namespace kelvara::link {

std::string_view LineEndBytes(TLineEnd lineEnd) {
    switch (lineEnd) {
    case TLineEnd::Cr:
        return "\r";
    case TLineEnd::Lf:
        return "\n";
    case TLineEnd::CrLf:
        return "\r\n";
    case TLineEnd::None:
        break;
    }
    return {};
}

std::string_view LineEndName(TLineEnd lineEnd) {
    switch (lineEnd) {
    case TLineEnd::Cr:
        return "cr";
    case TLineEnd::Lf:
        return "lf";
    case TLineEnd::CrLf:
        return "crlf";
    case TLineEnd::None:
        break;
    }
    return "none";
}

std::optional<TLineEnd> LineEndFromName(std::string_view name) {
    for (TLineEnd lineEnd : {TLineEnd::None, TLineEnd::Cr, TLineEnd::Lf, TLineEnd::CrLf}) {
        if (name == LineEndName(lineEnd))
            return lineEnd;
    }
    return std::nullopt;
}

bool IsStandardBaudRate(int baudRate) {
    return std::find(kStandardBaudRates.begin(), kStandardBaudRates.end(), baudRate) !=
           kStandardBaudRates.end();
}

std::string ShownBytes(std::string_view bytes, bool escapeHighBytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 32 || c == 127 || (escapeHighBytes && c >= 128)) {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

std::string DescribeFailure(const TCommandProgress& command, int timeoutMs) {
    switch (command.Failure) {
    case TFailure::NoAnswer:
        return "no answer within " + std::to_string(timeoutMs) + " ms";
    case TFailure::Refused:
        return "answered \"" + ShownReply(command.Reply) + '"';
    case TFailure::ConnectionLost:
    case TFailure::None:
        break;
    }
    return "connection lost";
}

TSendProtocol::TSendProtocol(std::vector<std::string> commands, const TSendSettings& settings,
                             int quietGapMs)
    : settings_(settings), quietGapMs_(quietGapMs) {
    commands_.reserve(commands.size());
    for (std::string& command : commands)
        commands_.emplace_back().Command = std::move(command);
}

TStep TSendProtocol::Start(Ms now) {
    if (phase_ != TPhase::Idle)
        return {};
    return SendNext(now);
}

TStep TSendProtocol::BytesReceived(std::string_view bytes, Ms now) {
    if (bytes.empty())
        return {};
    if (phase_ == TPhase::AwaitingReply) {
        phase_ = TPhase::Receiving;
        firstByteAt_ = now;
    }
    if (phase_ == TPhase::Receiving) {
        std::string& reply = commands_[next_].Reply;
        reply.append(bytes.substr(0, kMaxReplyBytes - std::min(kMaxReplyBytes, reply.size())));
        lastByteAt_ = now;
    }
    return {};
}

TStep TSendProtocol::TimePassed(Ms now) {
    switch (phase_) {
    case TPhase::AwaitingReply:
        if (now - sentAt_ >= settings_.TimeoutMs)
            return Fail(TFailure::NoAnswer);
        break;
    case TPhase::Receiving:
        // A module that never stops talking is judged on what it said within the timeout.
        if (now - lastByteAt_ >= quietGapMs_ || now - firstByteAt_ >= settings_.TimeoutMs)
            return Judge(now);
        break;
    case TPhase::Pausing:
        if (now >= pauseEndsAt_)
            return SendNext(now);
        break;
    case TPhase::Idle:
    case TPhase::Done:
        break;
    }
    return {};
}

TStep TSendProtocol::ConnectionLost() {
    if (phase_ == TPhase::Idle || phase_ == TPhase::Done)
        return {};
    // In a pause the command that can no longer be sent is the one that fails.
    return Fail(TFailure::ConnectionLost);
}

TStep TSendProtocol::Cancel() {
    cancelRequested_ = true;
    if (phase_ == TPhase::Idle || phase_ == TPhase::Pausing)
        return Finish(TSendResult::Cancelled);
    return {};
}

std::optional<TSendProtocol::Ms> TSendProtocol::WakeAt() const {
    switch (phase_) {
    case TPhase::AwaitingReply:
        return sentAt_ + settings_.TimeoutMs;
    case TPhase::Receiving:
        return std::min(lastByteAt_ + quietGapMs_, firstByteAt_ + settings_.TimeoutMs);
    case TPhase::Pausing:
        return pauseEndsAt_;
    case TPhase::Idle:
    case TPhase::Done:
        break;
    }
    return std::nullopt;
}

std::optional<std::size_t> TSendProtocol::Current() const {
    if (phase_ == TPhase::AwaitingReply || phase_ == TPhase::Receiving)
        return next_;
    return std::nullopt;
}

std::optional<std::size_t> TSendProtocol::FailedCommand() const {
    for (std::size_t i = 0; i < commands_.size(); ++i) {
        if (commands_[i].State == TCommandState::Failed)
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> TSendProtocol::LastAcknowledged() const {
    std::optional<std::size_t> last;
    for (std::size_t i = 0; i < commands_.size(); ++i) {
        if (commands_[i].State == TCommandState::Acknowledged)
            last = i;
    }
    return last;
}

TStep TSendProtocol::SendNext(Ms now) {
    if (next_ == commands_.size())
        return Finish(TSendResult::AllAcknowledged);
    if (cancelRequested_)
        return Finish(TSendResult::Cancelled);
    TCommandProgress& command = commands_[next_];
    command.State = TCommandState::Sending;
    phase_ = TPhase::AwaitingReply;
    sentAt_ = now;
    TStep step;
    step.Write = command.Command;
    step.Write->append(LineEndBytes(settings_.LineEnd));
    step.Changed.push_back(next_);
    return step;
}

TStep TSendProtocol::Judge(Ms now) {
    TCommandProgress& command = commands_[next_];
    if (!command.Reply.starts_with("OK"))
        return Fail(TFailure::Refused);
    command.State = TCommandState::Acknowledged;
    const std::size_t acknowledged = next_++;

    TStep step;
    if (next_ < commands_.size() && !cancelRequested_ && settings_.PauseMs > 0) {
        phase_ = TPhase::Pausing;
        pauseEndsAt_ = now + settings_.PauseMs;
    } else {
        step = SendNext(now);
    }
    step.Changed.insert(step.Changed.begin(), acknowledged);
    return step;
}

TStep TSendProtocol::Fail(TFailure failure) {
    TCommandProgress& command = commands_[next_];
    command.State = TCommandState::Failed;
    command.Failure = failure;
    TStep step = Finish(TSendResult::Failed);
    step.Changed.insert(step.Changed.begin(), next_);
    return step;
}

TStep TSendProtocol::Finish(TSendResult result) {
    phase_ = TPhase::Done;
    result_ = result;
    TStep step;
    step.Finished = true;
    for (std::size_t i = 0; i < commands_.size(); ++i) {
        if (commands_[i].State == TCommandState::Waiting) {
            commands_[i].State = TCommandState::NotSent;
            step.Changed.push_back(i);
        }
    }
    return step;
}

} // namespace kelvara::link
