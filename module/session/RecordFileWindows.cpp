// The C runtime's calls: bytes as they are (no CR added), and _commit, which waits until the
// file is on the storage.
#include "RecordFileSystem.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>

namespace kelvara::link::record_io {

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
// A file open here cannot be removed or renamed: the C runtime does not share it for deletion.
bool SameFile(int, const std::string&) { return true; }
// Windows' file systems keep a new file's name with the file.
bool SyncFolderOf(const std::string&, std::string&) { return true; }

} // namespace kelvara::link::record_io
