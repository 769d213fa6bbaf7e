#pragma once

// What kelvara-cli does each system's own way, each system's in its own file: CliSystemLinux.cpp
// and CliSystemWindows.cpp (standard input and interrupts have their own: Input*, Interrupts*).

#include <string_view>

namespace kelvara::cli {

// The standard streams carry bytes as they are, as on Linux: lines end in LF, a CR stays a CR.
void PrepareStandardStreams();
// A closed pipe on standard output must not end the program part-way through a session: the
// write fails, and is reported at the end.
void IgnoreBrokenPipes();
// The progress lines are redrawn with a terminal's escape sequences: a console follows them once
// asked to.
void EnableTerminalSequences();

// The help's parts that differ between the systems.
struct TSystemHelp {
    std::string_view EndOfInput; // the keys that end typed input
    std::string_view PortHelp;   // what --port takes
    std::string_view Notes;      // the help's last paragraphs
};
const TSystemHelp& SystemHelp();

} // namespace kelvara::cli
