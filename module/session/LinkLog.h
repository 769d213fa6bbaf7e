#pragma once

// A log of everything a session with a module said and did: each transcript entry appended to a
// file as it happens, one line each, with its date and time. Each line is handed to the system
// as soon as it is complete, so that a program killed loses at most the entry under way; a
// thread of the log's own has the file synced to the storage once a second while lines come,
// so that a machine switched off loses at most the last second, and the front never waits for
// the disk. The file is only ever appended to.

#include "Transcript.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace kelvara::link {

// A moment by the wall clock: milliseconds since 1970 (UTC), and the local offset from UTC.
struct TWallTime {
    std::int64_t EpochMs = 0;
    int OffsetMinutes = 0;
};
TWallTime WallNow();
// "2026-12-10T14:26:09.123+01:00": ISO 8601 with milliseconds and the offset.
std::string Iso8601(TWallTime when);
// "2026-12-10T14:26:09.123+01:00 -> AT+DISC?\n": an entry as the log keeps it; with a port,
// "2026-12-10T14:26:09.123+01:00 [COM4] -> AT+DISC?\n" (one of a batch's several ports).
std::string LogLine(const TTranscriptEntry& entry, TWallTime when, std::string_view port = {});
// "kelvara-20261210-142609.log": the name a log started then is offered.
std::string DefaultLogName(TWallTime when);

class TLinkLog {
  public:
    TLinkLog() = default;
    TLinkLog(const TLinkLog&) = delete;
    TLinkLog& operator=(const TLinkLog&) = delete;
    // Syncs what was written and closes the file.
    ~TLinkLog();

    // Opens the file for appending, creating it if need be; false, and why, when it cannot be.
    bool Open(const std::string& path, std::string& why);
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    // Appends the entry, stamped with the time given; false once the log cannot be written,
    // Failure() then says why. Nothing more is written after a failure.
    bool Add(const TTranscriptEntry& entry, TWallTime when, std::string_view port = {});
    bool Add(const TTranscriptEntry& entry) { return Add(entry, WallNow()); }
    // Why the log cannot be written (a write or a sync that failed, the file gone); empty while
    // all is well.
    std::string Failure() const;
    // The file's size, as written through this log and before it.
    std::uint64_t Bytes() const { return bytes_; }
    // Syncs what was written and closes the file.
    void Close();

  private:
    void Fail(std::string why);
    // The syncing thread: every second, what was written since is synced, and the file is
    // checked to be still the one the path names.
    void SyncEverySecond();

    std::string path_;
    int fd_ = -1;
    std::uint64_t bytes_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread syncer_;
    bool unsynced_ = false;
    bool closing_ = false;
    std::string failure_;
};

} // namespace kelvara::link
