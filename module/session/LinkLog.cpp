#include "LinkLog.h"
#include "RecordFileSystem.h"

#include <QDateTime>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <utility>

namespace kelvara::link {

using namespace record_io;

namespace {

// The date and time of the moment, shifted to its offset, as a calendar day and a time of day.
std::tm Local(TWallTime when) {
    const std::int64_t seconds = when.EpochMs / 1000 - (when.EpochMs % 1000 < 0 ? 1 : 0);
    std::tm local{};
    UtcTime(static_cast<std::time_t>(seconds + std::int64_t{when.OffsetMinutes} * 60), local);
    return local;
}

} // namespace

TWallTime WallNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return {now.toMSecsSinceEpoch(), now.offsetFromUtc() / 60};
}

std::string Iso8601(TWallTime when) {
    const std::tm local = Local(when);
    const int millis = static_cast<int>(((when.EpochMs % 1000) + 1000) % 1000);
    const int offset = when.OffsetMinutes < 0 ? -when.OffsetMinutes : when.OffsetMinutes;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, millis, when.OffsetMinutes < 0 ? '-' : '+',
                  offset / 60, offset % 60);
    return text;
}

std::string LogLine(const TTranscriptEntry& entry, TWallTime when, std::string_view port) {
    std::string line = Iso8601(when) + ' ';
    if (!port.empty())
        line += '[' + ShownReply(port) + "] ";
    return line + EntryBody(entry) + '\n';
}

std::string DefaultLogName(TWallTime when) {
    const std::tm local = Local(when);
    char text[64];
    std::snprintf(text, sizeof text, "kelvara-%04d%02d%02d-%02d%02d%02d.log", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

TLinkLog::~TLinkLog() { Close(); }

bool TLinkLog::Open(const std::string& path, std::string& why) {
    Close();
    const int fd = OpenRecord(path);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        why = std::strerror(errno);
        if (fd >= 0)
            CloseRecord(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        CloseRecord(fd);
        why = "is not a regular file";
        return false;
    }
    // A new file's name reaches the storage with it.
    if (info.st_size == 0 && !SyncFolderOf(path, why)) {
        CloseRecord(fd);
        return false;
    }
    path_ = path;
    fd_ = fd;
    bytes_ = static_cast<std::uint64_t>(info.st_size);
    failure_.clear();
    closing_ = false;
    unsynced_ = false;
    syncer_ = std::thread([this] { SyncEverySecond(); });
    return true;
}

bool TLinkLog::Add(const TTranscriptEntry& entry, TWallTime when, std::string_view port) {
    if (fd_ < 0 || !Failure().empty())
        return false;
    const std::string line = LogLine(entry, when, port);
    if (!WriteAll(fd_, line)) {
        Fail(errno != 0 ? std::strerror(errno) : "nothing could be written");
        return false;
    }
    bytes_ += line.size();
    {
        const std::lock_guard lock(mutex_);
        unsynced_ = true;
    }
    return true;
}

std::string TLinkLog::Failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

void TLinkLog::Fail(std::string why) {
    const std::lock_guard lock(mutex_);
    if (failure_.empty())
        failure_ = std::move(why);
}

void TLinkLog::SyncEverySecond() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, std::chrono::seconds(1), [this] { return closing_; });
        const bool last = closing_;
        if (std::exchange(unsynced_, false) && failure_.empty()) {
            // The file's own calls are made without the lock: a line is written meanwhile.
            lock.unlock();
            const bool synced = SyncData(fd_);
            const int error = errno;
            const bool same = SameFile(fd_, path_);
            lock.lock();
            if (!synced && failure_.empty())
                failure_ = std::strerror(error);
            else if (!same && failure_.empty())
                failure_ = "the file was removed or renamed";
        }
        if (last)
            return;
    }
}

void TLinkLog::Close() {
    if (fd_ < 0)
        return;
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    syncer_.join();
    CloseRecord(fd_);
    fd_ = -1;
}

} // namespace kelvara::link
