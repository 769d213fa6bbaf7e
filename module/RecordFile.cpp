#include "RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace kelvara::link {

namespace {

// The few file calls that differ between the systems. On Windows, the C runtime's: bytes as they
// are (no CR added), and _commit, which waits until the file is on the storage.
#ifdef _WIN32
int OpenRecord(const std::string& path) {
    return _open(path.c_str(), _O_RDWR | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}
long long ReadAt(int fd, char* bytes, std::size_t count) {
    if (_lseeki64(fd, 0, SEEK_SET) != 0)
        return -1;
    std::size_t done = 0;
    while (done < count) {
        const int n = _read(fd, bytes + done, static_cast<unsigned>(std::min<std::size_t>(count - done, 1u << 30)));
        if (n <= 0)
            return n < 0 ? -1 : static_cast<long long>(done);
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}
long long WriteSome(int fd, const char* bytes, std::size_t count) {
    return _write(fd, bytes, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
}
bool SyncData(int fd) { return _commit(fd) == 0; }
void CloseRecord(int fd) { _close(fd); }
void UtcTime(std::time_t seconds, std::tm& utc) { gmtime_s(&utc, &seconds); }
#else
int OpenRecord(const std::string& path) {
    return open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}
long long ReadAt(int fd, char* bytes, std::size_t count) { return pread(fd, bytes, count, 0); }
long long WriteSome(int fd, const char* bytes, std::size_t count) { return write(fd, bytes, count); }
bool SyncData(int fd) { return fdatasync(fd) == 0; }
void CloseRecord(int fd) { close(fd); }
void UtcTime(std::time_t seconds, std::tm& utc) { gmtime_r(&seconds, &utc); }
#endif

} // namespace

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

bool TRecordFile::Write(const std::string& bytes, std::string& why) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long long n = WriteSome(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!SyncData(fd_)) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

// A new file's name must reach the storage too. (Windows' file systems keep it with the file.)
bool TRecordFile::SyncFolder([[maybe_unused]] std::string& why) {
#ifdef _WIN32
    return true;
#else
    const auto folder = std::filesystem::absolute(path_).parent_path();
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0)
        close(fd);
    if (!synced)
        why = std::strerror(errno);
    return synced;
#endif
}

} // namespace kelvara::link
