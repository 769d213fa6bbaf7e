#pragma once

// A batch's record on disk: every row written and flushed to the storage before the next module
// is taken, so that a crash or a pulled plug loses nothing already done. Each row gets its time
// as it is written.

#include "Batch.h"

#include <string>
#include <vector>

namespace kelvara::link {

class TRecordFile {
  public:
    TRecordFile() = default;
    TRecordFile(const TRecordFile&) = delete;
    TRecordFile& operator=(const TRecordFile&) = delete;
    ~TRecordFile();

    // Opens (or creates) the record and reads the rows it holds; false, and why, when it cannot
    // be read or is no record of ours.
    bool Open(const std::string& path, std::vector<TRecordRow>& rows, std::string& why);
    bool IsOpen() const { return fd_ >= 0; }
    // Writes the row with the time now, and waits until it is on the storage.
    bool Append(TRecordRow row, std::string& why);

  private:
    bool Write(const std::string& bytes, std::string& why);
    bool SyncFolder(std::string& why);

    std::string path_;
    int fd_ = -1;
};

// "2026-12-09T10:00:00.000Z": now, in UTC.
std::string NowIso8601();

} // namespace kelvara::link
