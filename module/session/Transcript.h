#pragma once

// The transcript of a session with a module: every entry of an exchange (what was written,
// echoed, replied, sent unasked; outcomes; the port's and the link's life), each with its time
// since the port was opened and its marker. The module window's console keeps the last of them
// within a bound, so that a module that floods the port cannot fill the memory; a log keeps
// them all, in a file.

#include "Lines.h"
#include "Link.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::link {

enum class TEntryKind {
    Written,      // "->" a command as written
    Echo,         // "<=" the module repeating it
    Reply,        // "<-" its reply
    Unasked,      // "<~" bytes that came while nothing was asked
    Acknowledged, // "ok"
    Failure,      // "!!" not acknowledged, and why
    Note,         // "--" the port's life: opened, lost, back, closed; settings found
    DataSent,     // ">>" data sent to a connected remote device
    DataReceived, // "<<" data from it
};

struct TTranscriptEntry {
    Ms At = 0;
    TEntryKind Kind = TEntryKind::Note;
    std::string Text; // bytes as received or written, or words for outcomes and notes
};

// The entries an event of the session makes, in order; none for an event that is no exchange.
std::vector<TTranscriptEntry> EventEntries(const TEvent& event);
// The entries events make, with the device's data a line an entry however it comes in pieces,
// as the transcript and the log keep them. A line held part-way comes before the next entry
// other than data sent, or with Flush (the device quiet for a while, or the session ended).
class TEventLines {
  public:
    std::vector<TTranscriptEntry> Entries(const TEvent& event);
    std::vector<TTranscriptEntry> Flush();
    bool Holding() const { return lines_.Holding(); }

  private:
    TLineSplitter lines_;
    Ms heldAt_ = 0;
};
// What a connection's state is, in words: "connected to C4BE84123456 (OK+CONN)", "the link to
// C4BE84123456 dropped (OK+LOST)", "rejoining C4BE84123456: try 2", "rejoined C4BE84123456 after
// 12.4 s, 3 tries".
std::string LinkNews(const TConnectionState& state);
// The port's life in words, the same from every front: "COM4 opened at 9600 baud, line ending
// CR", "COM4 went away (the device was removed)", "COM4 is back but cannot be opened: access is
// denied; tried again", "COM4 came back; opened again at 9600 baud", "COM4 closed".
std::string_view LineEndShown(TLineEnd lineEnd); // "None", "CR", "LF" or "CR LF"
std::string PortOpenedNews(std::string_view port, int baudRate, TLineEnd lineEnd);
std::string PortLostNews(std::string_view port, std::string_view reason);
std::string PortRefusedNews(std::string_view port, std::string_view reason);
std::string PortBackNews(std::string_view port, int baudRate);
std::string PortClosedNews(std::string_view port);
// An entry without its time: "-> AT+DISC?", bytes escaped as kelvara-cli escapes them.
std::string EntryBody(const TTranscriptEntry& entry);

class TTranscript {
  public:
    // The most entries kept, and the most bytes an entry holds (longer runs of bytes become
    // several entries). Older entries are dropped first.
    static constexpr std::size_t kMaxEntries = 2000;
    static constexpr std::size_t kMaxEntryBytes = 1024;

    // Adds an entry; returns how many it became.
    std::size_t Add(Ms at, TEntryKind kind, std::string_view text);
    const std::deque<TTranscriptEntry>& Entries() const { return entries_; }
    std::size_t Dropped() const { return dropped_; }

    // An entry as one line, "   12.345 -> AT+DISC?", bytes escaped as kelvara-cli escapes them;
    // with hex, the bytes again in hexadecimal after lineBreak.
    static std::string Line(const TTranscriptEntry& entry, bool hex, std::string_view lineBreak);
    // Every entry kept, one a line, after a first line that says how many were dropped.
    std::string PlainText(bool hex) const;
    // What the first line says when entries were dropped.
    std::string DroppedText() const;

  private:
    std::deque<TTranscriptEntry> entries_;
    std::size_t dropped_ = 0;
};

} // namespace kelvara::link
