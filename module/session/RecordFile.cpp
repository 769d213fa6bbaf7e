#include "RecordFile.h"
#include "RecordFileSystem.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace kelvara::link {

using namespace record_io;


std::string NowIso8601() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    UtcTime(seconds, utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

TRecordFile::~TRecordFile() {
    if (fd_ >= 0)
        CloseRecord(fd_);
}

bool TRecordFile::Open(const std::string& path, std::vector<TRecordRow>& rows, std::string& why) {
    path_ = path;
    fd_ = OpenRecord(path);
    struct stat info {};
    if (fd_ < 0 || fstat(fd_, &info) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode) || info.st_size > 64 * 1024 * 1024) {
        why = S_ISREG(info.st_mode) ? "is larger than 64 MiB" : "is not a regular file";
        return false;
    }
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    if (ReadAt(fd_, text.data(), text.size()) != static_cast<long long>(text.size())) {
        why = std::strerror(errno);
        return false;
    }
    if (text.empty())
        return Write(RecordHeader(), why) && SyncFolder(why);
    if (!text.ends_with('\n')) {
        why = "ends in an unfinished row";
        return false;
    }
    auto parsed = ParseRecord(text);
    if (const auto* error = std::get_if<TRecordError>(&parsed)) {
        why = "line " + std::to_string(error->Line) + ": " + error->Reason;
        return false;
    }
    rows = std::move(std::get<std::vector<TRecordRow>>(parsed));
    return true;
}

bool TRecordFile::Append(TRecordRow row, std::string& why) {
    row[RecordColumn("time")] = NowIso8601();
    return Write(RecordLine(row), why);
}

namespace record_io {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        errno = 0;
        const long long n = WriteSome(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace record_io

bool TRecordFile::Write(const std::string& bytes, std::string& why) {
    if (!WriteAll(fd_, bytes)) {
        why = std::strerror(errno);
        return false;
    }
    if (!SyncData(fd_)) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

bool TRecordFile::SyncFolder(std::string& why) { return SyncFolderOf(path_, why); }

} // namespace kelvara::link
