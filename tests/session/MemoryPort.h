#pragma once

// A port in memory, scripted from both sides, and a clock the test sets: a session driven by
// plain calls with the time given. Bytes "arrive" in the port's buffer and are told (readyRead)
// when the test delivers them, so that some can wait there while the session writes; bytes can
// also be set to arrive during the next write, after the session has looked at the port. A
// prompt port (a front's, on the event loop) tells what arrives by itself, as the system does.

#include "Port.h"

#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace kelvara::testing {

using link::Ms;

class TTestClock : public link::TClock {
  public:
    Ms Now() const override { return now; }
    Ms now = 1000;
};

// The steady clock, which a test moves on to skip a wait (a back-off, a timeout): every session
// on it does at once what fell due.
class TSkippingClock : public link::TClock {
  public:
    Ms Now() const override { return steady_.Now() + skipped_; }
    void Skip(Ms ms) {
        skipped_ += ms;
        const auto watchers = watchers_;
        for (const auto& watcher : watchers)
            if (const auto moved = watcher.lock())
                (*moved)();
    }
    std::shared_ptr<void> WhenMoved(std::function<void()> moved) const override {
        auto held = std::make_shared<std::function<void()>>(std::move(moved));
        watchers_.push_back(held);
        return held;
    }

  private:
    link::TSteadyClock steady_;
    Ms skipped_ = 0;
    mutable std::vector<std::weak_ptr<std::function<void()>>> watchers_;
};

class TMemoryPort : public link::TPort {
  public:
    // What the far end says to each write, if anything (a module answering).
    std::function<std::string(const std::string& written)> Answer;
    // The rates the port was opened or set at, in order.
    std::vector<int> Rates;
    bool Present = true;
    // Present, but refused with this reason (a port still being set up).
    QString Refusal;
    // Opened later (a port whose opening blocks): the test ends each opening with EndOpening.
    bool OpensLater = false;
    int Openings = 0;
    bool FailNextWrite = false;
    bool Prompt = false;
    std::string Reason; // what the system says of a failure
    // Whether it is open, kept past the port (a batch's other ports go with their sessions).
    std::shared_ptr<bool> OpenNow = std::make_shared<bool>(false);

    bool Open(const std::string&, int baudRate) override {
        if (!Present) {
            failure_ = {link::TOpenFailure::TKind::NoSuchPort, QStringLiteral("no such port")};
            return false;
        }
        if (!Refusal.isEmpty()) {
            failure_ = {link::TOpenFailure::TKind::Other, Refusal};
            return false;
        }
        open_ = *OpenNow = true;
        Rates.push_back(baudRate);
        return true;
    }
    void OpenLater(const std::string& name, int baudRate) override {
        ++Openings;
        if (!OpensLater)
            return TPort::OpenLater(name, baudRate);
        opening_ = {name, baudRate};
    }
    bool Opening() const override { return opening_.has_value(); }
    // The opening under way ends, as the port is now.
    void EndOpening() {
        const auto [name, baudRate] = *std::exchange(opening_, std::nullopt);
        emit opened(Open(name, baudRate));
    }
    bool IsOpen() const override { return open_; }
    const link::TOpenFailure& OpenFailure() const override { return failure_; }
    void Close() override {
        opening_.reset();
        open_ = *OpenNow = false;
        buffer_.clear();
    }
    bool SetBaudRate(int baudRate) override {
        Rates.push_back(baudRate);
        return open_;
    }
    std::string ReadAll() override { return std::exchange(buffer_, {}); }
    std::string DiscardInput() override { return ReadAll(); }
    bool Write(std::string_view bytes) override {
        if (!open_ || std::exchange(FailNextWrite, false))
            return false;
        // What came while the write went out is in the buffer once it returns.
        for (std::string& late : duringWrite_)
            buffer_ += late;
        duringWrite_.clear();
        if (Answer)
            buffer_ += Answer(std::string(bytes));
        if (Prompt)
            QTimer::singleShot(0, this, [this] { Deliver(); });
        return true;
    }
    bool Exists(const std::string&) const override { return Present; }
    std::string LostReason() const override { return Reason; }

    // Bytes from the far end, in the buffer, not yet told.
    void Arrive(const std::string& bytes) { buffer_ += bytes; }
    // Bytes that reach the buffer while the next write goes out.
    void ArriveDuringNextWrite(const std::string& bytes) { duringWrite_.push_back(bytes); }
    // Tells the session what waits in the buffer, as the system does once it has read it.
    void Deliver() {
        if (open_ && !buffer_.empty())
            emit readyRead();
    }
    bool Waiting() const { return open_ && !buffer_.empty(); }
    // The adapter pulled out.
    void Unplug() {
        Present = false;
        emit lost();
    }

  private:
    bool open_ = false;
    std::optional<std::pair<std::string, int>> opening_;
    link::TOpenFailure failure_;
    std::string buffer_;
    std::vector<std::string> duringWrite_;
};

} // namespace kelvara::testing
