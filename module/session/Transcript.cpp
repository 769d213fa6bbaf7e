#include "Transcript.h"

#include <cstdio>

namespace kelvara::link {

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

std::vector<TTranscriptEntry> EventEntries(const TEvent& event) {
    std::vector<TTranscriptEntry> entries;
    const auto add = [&entries](Ms at, TEntryKind kind, std::string text) {
        entries.push_back({at, kind, std::move(text)});
    };
    if (const auto* written = std::get_if<TWritten>(&event)) {
        add(written->At, written->Kind == TWriteKind::Data ? TEntryKind::DataSent : TEntryKind::Written,
            written->Bytes);
    } else if (const auto* data = std::get_if<TData>(&event)) {
        add(data->At, TEntryKind::DataReceived, data->Bytes);
    } else if (const auto* echo = std::get_if<TEcho>(&event)) {
        add(echo->At, TEntryKind::Echo, echo->Bytes);
    } else if (const auto* outcome = std::get_if<TOutcome>(&event)) {
        if (!outcome->Reply.empty())
            add(outcome->At, TEntryKind::Reply, outcome->Reply);
        if (outcome->Acknowledged())
            add(outcome->At, TEntryKind::Acknowledged, outcome->Command + " acknowledged");
        else
            add(outcome->At, TEntryKind::Failure, outcome->Command + ": " + FailureText(*outcome));
    } else if (const auto* unasked = std::get_if<TUnasked>(&event)) {
        add(unasked->At, TEntryKind::Unasked, unasked->Bytes);
    } else if (const auto* state = std::get_if<TConnectionState>(&event)) {
        add(state->At, TEntryKind::Note, LinkNews(*state));
    }
    return entries;
}

std::vector<TTranscriptEntry> TEventLines::Entries(const TEvent& event) {
    if (const auto* data = std::get_if<TData>(&event)) {
        std::vector<TTranscriptEntry> entries;
        for (std::string& line : lines_.Feed(data->Bytes))
            entries.push_back({data->At, TEntryKind::DataReceived, std::move(line)});
        heldAt_ = data->At;
        return entries;
    }
    // Data sent meanwhile leaves the device's line whole; anything else comes after it.
    const auto* written = std::get_if<TWritten>(&event);
    std::vector<TTranscriptEntry> entries = written && written->Kind == TWriteKind::Data ? std::vector<TTranscriptEntry>{} : Flush();
    for (TTranscriptEntry& entry : EventEntries(event))
        entries.push_back(std::move(entry));
    return entries;
}

std::vector<TTranscriptEntry> TEventLines::Flush() {
    if (!lines_.Holding())
        return {};
    return {{heldAt_, TEntryKind::DataReceived, lines_.Flush()}};
}

std::string LinkNews(const TConnectionState& state) {
    const std::string answer = state.Answer.empty() ? std::string() : " (" + state.Answer + ')';
    switch (state.State) {
    case TLinkState::Connected:
        if (state.Try > 0) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(state.DownMs) / 1000.0);
            return "rejoined " + state.Address + " after " + seconds + " s, " + std::to_string(state.Try) +
                   (state.Try == 1 ? " try" : " tries");
        }
        return "connected to " + state.Address + answer;
    case TLinkState::Failed:
        return "connecting to " + state.Address + " failed" + (answer.empty() ? ": no answer" : answer);
    case TLinkState::Dropped:
        return "the link to " + state.Address + " dropped" + answer;
    case TLinkState::Disconnected:
        return "disconnected from " + state.Address;
    case TLinkState::Rejoining:
        return "rejoining " + state.Address + ": try " + std::to_string(state.Try);
    }
    return {};
}

std::string_view LineEndShown(TLineEnd lineEnd) {
    switch (lineEnd) {
    case TLineEnd::Cr:
        return "CR";
    case TLineEnd::Lf:
        return "LF";
    case TLineEnd::CrLf:
        return "CR LF";
    case TLineEnd::None:
        break;
    }
    return "None";
}

std::string PortOpenedNews(std::string_view port, int baudRate, TLineEnd lineEnd) {
    return std::string(port) + " opened at " + std::to_string(baudRate) + " baud, line ending " +
           std::string(LineEndShown(lineEnd));
}

std::string PortLostNews(std::string_view port, std::string_view reason) {
    return std::string(port) + " went away" + (reason.empty() ? std::string() : " (" + std::string(reason) + ')');
}

std::string PortRefusedNews(std::string_view port, std::string_view reason) {
    return std::string(port) + " is back but cannot be opened: " + std::string(reason) + "; tried again";
}

std::string PortBackNews(std::string_view port, int baudRate) {
    return std::string(port) + " came back; opened again at " + std::to_string(baudRate) + " baud";
}

std::string PortClosedNews(std::string_view port) { return std::string(port) + " closed"; }

std::string EntryBody(const TTranscriptEntry& entry) {
    std::string body(Marker(entry.Kind));
    body += ' ';
    body += HoldsBytes(entry.Kind) ? ShownReply(entry.Text) : entry.Text;
    return body;
}

std::size_t TTranscript::Add(Ms at, TEntryKind kind, std::string_view text) {
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
    std::string line = time + EntryBody(entry);
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

} // namespace kelvara::link
