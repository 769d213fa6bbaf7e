#include "RecordFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kelvara::link::record_io {

int OpenRecord(const std::string& path) {
    return open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}
long long ReadAt(int fd, char* bytes, std::size_t count) { return pread(fd, bytes, count, 0); }
long long WriteSome(int fd, const char* bytes, std::size_t count) { return write(fd, bytes, count); }
bool SyncData(int fd) { return fdatasync(fd) == 0; }
void CloseRecord(int fd) { close(fd); }
void UtcTime(std::time_t seconds, std::tm& utc) { gmtime_r(&seconds, &utc); }

bool SameFile(int fd, const std::string& path) {
    struct stat open {}, named {};
    return fstat(fd, &open) == 0 && stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

bool SyncFolderOf(const std::string& path, std::string& why) {
    const auto folder = std::filesystem::absolute(path).parent_path();
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0)
        close(fd);
    if (!synced)
        why = std::strerror(errno);
    return synced;
}

} // namespace kelvara::link::record_io
