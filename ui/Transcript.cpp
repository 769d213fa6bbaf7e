#include "Transcript.h"

#include <cstdio>

namespace kelvara::ui {

namespace {

std::string_view Marker(TEntryKind kind) {
    switch (kind) {
    case TEntryKind::Written:
        return "->";
    case TEntryKind::Echo:
        return "<=";
    case TEntryKind::Reply:
        return "<-";
    case TEntryKind::Unasked:
        return "<~";
    case TEntryKind::Acknowledged:
        return "ok";
    case TEntryKind::Failure:
        return "!!";
    case TEntryKind::DataSent:
        return ">>";
    case TEntryKind::DataReceived:
        return "<<";
    case TEntryKind::Note:
        break;
    }
    return "--";
}

bool HoldsBytes(TEntryKind kind) {
    return kind == TEntryKind::Written || kind == TEntryKind::Echo || kind == TEntryKind::Reply ||
           kind == TEntryKind::Unasked || kind == TEntryKind::DataSent ||
           kind == TEntryKind::DataReceived;
}

} // namespace

std::size_t TTranscript::Add(link::Ms at, TEntryKind kind, std::string_view text) {
    std::size_t added = 0;
    do {
        entries_.push_back({at, kind, std::string(text.substr(0, kMaxEntryBytes))});
        text.remove_prefix(std::min(text.size(), kMaxEntryBytes));
        ++added;
        if (entries_.size() > kMaxEntries) {
            entries_.pop_front();
            ++dropped_;
        }
    } while (!text.empty());
    return added;
}

std::string TTranscript::Line(const TTranscriptEntry& entry, bool hex, std::string_view lineBreak) {
    char time[32];
    std::snprintf(time, sizeof time, "%9.3f ", static_cast<double>(entry.At) / 1000.0);
    std::string line = time;
    line += Marker(entry.Kind);
    line += ' ';
    line += HoldsBytes(entry.Kind) ? link::ShownReply(entry.Text) : entry.Text;
    if (hex && HoldsBytes(entry.Kind) && !entry.Text.empty()) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        line += lineBreak;
        line += "             ";
        for (unsigned char c : entry.Text) {
            line += ' ';
            line += kHex[c >> 4];
            line += kHex[c & 15];
        }
    }
    return line;
}

std::string TTranscript::DroppedText() const {
    if (dropped_ == 0)
        return {};
    return std::to_string(dropped_) + " older entries were dropped; the transcript keeps the last " +
           std::to_string(kMaxEntries) + ".";
}

std::string TTranscript::PlainText(bool hex) const {
    std::string text;
    if (dropped_ > 0)
        text += DroppedText() + '\n';
    for (const TTranscriptEntry& entry : entries_) {
        text += Line(entry, hex, "\n");
        text += '\n';
    }
    return text;
}

} // namespace kelvara::ui
