// The simulated module in the master role: it scans for devices, connects to those it knows,
// and, connected, stands for the remote device (one that echoes, or a sensor that streams),
// until the link drops.
#include "FakeModule.h"

#include <algorithm>

namespace kelvara::testing {

void TFakeModule::Scanning(std::vector<std::string> pieces, int pieceMs,
                           std::vector<std::string> known, int dropAfterMs) {
    std::lock_guard lock(mutex_);
    scanPieces_ = std::move(pieces);
    scanPieceMs_ = pieceMs;
    known_ = std::move(known);
    dropAfterMs_ = dropAfterMs;
}

bool TFakeModule::AnswerMaster(const std::string& command) {
    std::vector<std::string> pieces;
    std::vector<std::string> known;
    int pieceMs = 0;
    int dropAfterMs = -1;
    {
        std::lock_guard lock(mutex_);
        if (!scanPieces_)
            return false;
        pieces = *scanPieces_;
        known = known_;
        pieceMs = scanPieceMs_;
        dropAfterMs = dropAfterMs_;
    }
    const auto sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    if (command == "AT+DISC?") {
        Write("OK+DISCS");
        for (const std::string& piece : pieces) {
            sleep(pieceMs);
            Write(piece);
        }
        sleep(pieceMs);
        Write("OK+DISCE");
        return true;
    }
    if (!command.starts_with("AT+CO") || command.size() != 18)
        return false;
    Write("OK+CONNA");
    sleep(50);
    if (std::find(known.begin(), known.end(), command.substr(6)) == known.end()) {
        Write("OK+CONNF");
        return true;
    }
    Write("OK+CONN");
    connected_ = true;
    if (const int everyMs = streamEveryMs_; everyMs > 0) {
        helpers_.emplace_back([this, everyMs] {
            // The count goes on over every connection: each line it ever sent is its own.
            while (!stop_) {
                {
                    std::lock_guard lock(streamMutex_);
                    if (!connected_)
                        return;
                    const long count = streamed_++;
                    const std::string line = "n=" + std::to_string(count) + "\r\n";
                    // Every fifth line comes in two pieces, as a slow device's might.
                    Write(count % 5 == 0 ? line.substr(0, 2) : line);
                    if (count % 5 == 0) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                        Write(line.substr(2));
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
            }
        });
    }
    if (dropAfterMs >= 0) {
        helpers_.emplace_back([this, dropAfterMs] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(dropAfterMs);
            while (!stop_ && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::lock_guard lock(streamMutex_);
            if (!stop_ && connected_.exchange(false))
                Write("OK+LOST");
        });
    }
    return true;
}

} // namespace kelvara::testing
