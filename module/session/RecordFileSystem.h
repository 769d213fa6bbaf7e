#pragma once

// The few file calls of a batch's record and a log that differ between the systems, each system's in its
// own file: RecordFileLinux.cpp (POSIX) and RecordFileWindows.cpp (the C runtime's).

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace kelvara::link::record_io {

// Opens (or creates) the file for reading and appending, bytes as they are; -1 on failure.
int OpenRecord(const std::string& path);
// Reads count bytes from the start; how many were read, or -1.
long long ReadAt(int fd, char* bytes, std::size_t count);
long long WriteSome(int fd, const char* bytes, std::size_t count);
// Writes every byte, going on after a write cut short; false, with errno set (0 when the system
// took nothing without saying why), once the system takes no more.
bool WriteAll(int fd, std::string_view bytes);
// Waits until what was written is on the storage.
bool SyncData(int fd);
void CloseRecord(int fd);
void UtcTime(std::time_t seconds, std::tm& utc);
// The path still names the file open (it was not removed or renamed meanwhile).
bool SameFile(int fd, const std::string& path);
// A new file's name must reach the storage too, where the system keeps it with its folder.
bool SyncFolderOf(const std::string& path, std::string& why);

} // namespace kelvara::link::record_io
