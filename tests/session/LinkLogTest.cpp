// The log of a session: its lines, and a log that cannot be written.
#include "SessionRig.h"

#include "LinkLog.h"

#include <QTemporaryDir>

namespace kelvara::testing {
namespace {

TEST(LinkLog, LinesCarryTheDateTimeOffsetMarkerAndEscapes) {
    const TWallTime when{1796909169123, 60}; // 2026-12-10 13:26:09.123 UTC
    const struct {
        TTranscriptEntry Entry;
        TWallTime When;
        std::string Port;
        std::string Line;
    } rows[] = {
        {{5, link::TEntryKind::Written, "AT+DISC?\r\n"}, when, "", "2026-12-10T14:26:09.123+01:00 -> AT+DISC?\\x0d\\x0a\n"},
        {{5, link::TEntryKind::DataReceived, "t=21\xb0" "C\r"}, {when.EpochMs, -330}, "",
         "2026-12-10T07:56:09.123-05:30 << t=21\\xb0C\\x0d\n"},
        {{5, link::TEntryKind::Note, "COM4 went away"}, {when.EpochMs + 877, 0}, "COM4", "2026-12-10T13:26:10.000+00:00 [COM4] -- COM4 went away\n"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LogLine(row.Entry, row.When, row.Port), row.Line);
    EXPECT_EQ(DefaultLogName(when), "kelvara-20261210-142609.log");
}

// The log appends to what the file holds; a file that can take no more is a failure told, and
// nothing more is written (a file removed meanwhile: the window's test).
TEST(LinkLog, AppendsAndTellsWhenItCannotBeWritten) {
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("link.log")).toStdString();
    std::ofstream(path) << "before\n";
    const TTranscriptEntry entry{0, link::TEntryKind::Note, "one"};
    std::string why;
    {
        TLinkLog log;
        ASSERT_TRUE(log.Open(path, why)) << why;
        EXPECT_TRUE(log.Add(entry, {0, 0}));
        EXPECT_EQ(log.Bytes(), 7u + 37u);
        // Full: the next line fails as on a full disk, and so does every one after it.
        WithFilesLimitedTo(log.Bytes(), [&] { EXPECT_FALSE(log.Add(entry, {0, 0})); });
        EXPECT_EQ(log.Failure(), "File too large");
        EXPECT_FALSE(log.Add(entry, {0, 0}));
    }
    EXPECT_EQ(ReadFile(QString::fromStdString(path)), "before\n1970-01-01T00:00:00.000+00:00 -- one\n");
    EXPECT_FALSE(TLinkLog().Open(folder.path().toStdString(), why));
    EXPECT_EQ(why, "Is a directory");
}

} // namespace
} // namespace kelvara::testing
