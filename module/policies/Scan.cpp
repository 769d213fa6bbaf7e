#include "Scan.h"

#include <algorithm>

namespace kelvara::link {

namespace {

constexpr std::string_view kStarted = "OK+DISCS";
constexpr std::string_view kEnded = "OK+DISCE";
constexpr std::string_view kDevice = "OK+DIS";
constexpr std::string_view kName = "OK+NAME:";

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Whether text is an answer cut short: the beginning of a name, of the scan's start or end, or
// of a device ("OK+DIS", its type, a colon or none, fewer than twelve digits of its address).
bool CutShort(std::string_view text) {
    if ((reply::MayBecome(text, kName) && text.size() < kName.size()) ||
        (text.size() < kStarted.size() &&
         (reply::MayBecome(text, kStarted) || reply::MayBecome(text, kEnded))))
        return true;
    if (!text.starts_with(kDevice) || text.size() == kDevice.size() || text[kDevice.size()] == 'C')
        return false;
    std::string_view digits = text.substr(kDevice.size() + 1);
    if (digits.starts_with(':'))
        digits.remove_prefix(1);
    return digits.size() < 12 && std::all_of(digits.begin(), digits.end(), IsHex);
}

} // namespace

void TScanReader::Feed(std::string_view bytes, Ms now, TStep& step) {
    buffer_.append(bytes);
    while (!buffer_.empty() && ReadOne(now, step, false)) {
    }
}

void TScanReader::Quiet(Ms now, TStep& step) {
    while (!buffer_.empty() && !CutShort(buffer_) && ReadOne(now, step, true)) {
    }
    if (!(open_ && !buffer_.empty() && reply::MayBecome(buffer_, kName)))
        Report(now, step);
}

void TScanReader::End(Ms now, TStep& step) {
    while (!buffer_.empty() && ReadOne(now, step, true)) {
    }
    Report(now, step);
}

bool TScanReader::ReadOne(Ms now, TStep& step, bool quiet) {
    const std::string_view text = buffer_;
    if (open_ && open_->NameOpen) {
        std::size_t end = std::min(text.find("OK+"), text.find_first_of("\r\n"));
        if (end == std::string_view::npos && !quiet) {
            // A tail that may begin the next answer waits for the bytes after it.
            const std::size_t keep = reply::TailBeginning(text, "OK+");
            open_->Name += text.substr(0, text.size() - keep);
            buffer_.erase(0, text.size() - keep);
            return false;
        }
        end = std::min(end, text.size());
        open_->Name += text.substr(0, end);
        open_->NameOpen = false;
        buffer_.erase(0, end);
        return true;
    }
    if (reply::IsBreak(text.front())) {
        buffer_.erase(0, 1);
        return true;
    }
    // A name that comes after the module fell quiet still names the device just found.
    if (!open_ && last_ && text.starts_with(kName)) {
        open_ = *last_;
        open_->NameOpen = false;
    }
    if (open_ && text.starts_with(kName)) {
        const std::size_t end = text.find_first_of("\r\n", kName.size());
        if (end == std::string_view::npos && !quiet)
            return false;
        const std::size_t stop = std::min(end, text.size());
        open_->Name = std::string(text.substr(kName.size(), stop - kName.size()));
        buffer_.erase(0, stop);
        Report(now, step);
        return true;
    }
    if ((open_ || last_) && !quiet && reply::MayBecome(text, kName) && text.size() < kName.size())
        return false;
    // Any other answer begins: the device before it is complete.
    Report(now, step);
    if (text.starts_with(kStarted) || text.starts_with(kEnded)) {
        ended_ = ended_ || text.starts_with(kEnded);
        buffer_.erase(0, kStarted.size());
        return true;
    }
    if (text.starts_with(kDevice) && text.size() > kDevice.size() && text[kDevice.size()] != 'C') {
        const std::size_t at = kDevice.size() + 1 +
                               (text.size() > kDevice.size() + 1 && text[kDevice.size() + 1] == ':');
        const std::string_view address = text.substr(std::min(at, text.size()), 12);
        const bool hex = std::all_of(address.begin(), address.end(), IsHex);
        if (hex && address.size() < 12 && !quiet)
            return false;
        if (hex && address.size() == 12) {
            open_ = TDevice{text[kDevice.size()], std::string(address), {}, true};
            for (char& c : open_->Address)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            buffer_.erase(0, at + 12);
            return true;
        }
    } else if (!quiet && (reply::MayBecome(text, kStarted) || reply::MayBecome(text, kEnded) ||
                          (reply::MayBecome(text, kDevice) && text.size() <= kDevice.size() + 1))) {
        return false;
    }
    // None of these: kept as bytes the module sent unasked, up to the next answer (or until
    // the module is quiet, or they are many).
    const std::size_t next = text.find("OK+", 1);
    if (next == std::string_view::npos && !quiet && text.size() < kMaxReplyBytes)
        return false;
    Unasked(next == std::string_view::npos ? std::min(text.size(), kMaxReplyBytes) : next, now, step);
    return true;
}

void TScanReader::Unasked(std::size_t length, Ms now, TStep& step) {
    if (length == 0)
        return;
    step.Add(TUnasked{.At = now, .Bytes = buffer_.substr(0, length)});
    buffer_.erase(0, length);
}

void TScanReader::Report(Ms now, TStep& step) {
    if (!open_)
        return;
    TDevice device = std::move(*open_);
    open_.reset();
    last_ = device;
    const auto seen = seen_.find(device.Address);
    if (seen != seen_.end() && seen->second == device.Name)
        return;
    seen_[device.Address] = device.Name;
    step.Add(TDeviceFound{.At = now, .Type = device.Type, .Address = device.Address,
                          .Name = device.Name});
}

TScan::TScan(const TSendSettings& settings, int seconds, int quietGapMs)
    : settings_(settings), seconds_(seconds), quietGapMs_(quietGapMs) {}

TStep TScan::Start(Ms now) {
    TStep step;
    if (!Expect(state_ == TState::Idle, "a scan is started once"))
        return step;
    state_ = TState::Asking;
    endsAt_ = now + static_cast<Ms>(seconds_) * 1000;
    inFlight_.Start(TExchange(std::string(kScanCommand), settings_.LineEnd, settings_.TimeoutMs,
                              quietGapMs_),
                    0, now, step);
    return step;
}

TStep TScan::BytesReceived(std::string_view bytes, Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running scan takes bytes"))
        return step;
    lastByteAt_ = now;
    quiet_ = false;
    if (state_ == TState::Asking) {
        if (const auto outcome = inFlight_.BytesReceived(bytes, now, step))
            Asked(*outcome, now, step);
        return step;
    }
    reader_.Feed(bytes, now, step);
    if (reader_.Ended())
        Finish(TResult::Completed, now, step);
    return step;
}

TStep TScan::TimePassed(Ms now) {
    TStep step;
    if (state_ == TState::Idle || Finished())
        return step;
    if (const auto outcome = inFlight_.TimePassed(now, step)) {
        Asked(*outcome, now, step);
        if (Finished())
            return step;
    }
    if (state_ == TState::Scanning && !quiet_ && now - lastByteAt_ >= quietGapMs_) {
        quiet_ = true;
        reader_.Quiet(now, step);
    }
    if (now >= endsAt_ && state_ == TState::Scanning)
        Finish(TResult::Failed, now, step);
    return step;
}

TStep TScan::ConnectionLost(Ms now) {
    TStep step;
    if (!Expect(state_ != TState::Idle && !Finished(), "a running scan loses its port"))
        return step;
    inFlight_.ConnectionLost(now, step);
    Finish(TResult::Failed, now, step);
    return step;
}

TStep TScan::Cancel(Ms now) {
    TStep step;
    // "AT+DISC?" under way is answered first.
    if (state_ == TState::Scanning || state_ == TState::Idle)
        Finish(TResult::Cancelled, now, step);
    else if (state_ == TState::Asking)
        cancelled_ = true; // ends once it is answered
    return step;
}

std::optional<Ms> TScan::WakeAt() const {
    if (Finished() || state_ == TState::Idle)
        return std::nullopt;
    std::optional<Ms> wake = inFlight_.WakeAt();
    if (state_ == TState::Scanning) {
        wake = Earliest(wake, endsAt_);
        if (!quiet_)
            wake = Earliest(wake, lastByteAt_ + quietGapMs_);
    }
    return wake;
}

void TScan::Asked(const TOutcome& outcome, Ms now, TStep& step) {
    if (!outcome.Acknowledged()) {
        Finish(TResult::Failed, now, step);
        return;
    }
    acknowledged_ = true;
    state_ = TState::Scanning;
    if (cancelled_) {
        Finish(TResult::Cancelled, now, step);
        return;
    }
    // The devices that came with the acknowledgement.
    reader_.Feed(inFlight_.AfterEcho(), now, step);
    if (reader_.Ended())
        Finish(TResult::Completed, now, step);
}

void TScan::Finish(TResult result, Ms now, TStep& step) {
    // What came is told, however the scan ends.
    reader_.End(now, step);
    inFlight_.Drop();
    state_ = TState::Done;
    step.Add(TFinished{.At = now, .Result = result});
}

} // namespace kelvara::link
