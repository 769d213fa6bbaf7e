#include "Interrupts.h"

#include "Input.h"

#include "CliSystem.h"

#include <algorithm>
#include <iostream>
#include <string>

namespace kelvara::cli {

TProgress::TProgress() : shown_(IsTerminal(2)) {
    if (shown_)
        EnableTerminalSequences();
}

void TProgress::Show(std::size_t index, std::size_t total, const std::string& what) {
    ShowLines({'[' + std::to_string(index + 1) + '/' + std::to_string(total) + "] " + what + " ..."});
}

void TProgress::ShowLines(const std::vector<std::string>& lines) {
    if (!shown_ || lines.empty())
        return;
    // Back to the first line drawn, then each line over the old one.
    std::string text = "\r";
    for (std::size_t i = 1; i < drawn_; ++i)
        text += "\033[A";
    // Appended piece by piece: gcc's optimiser takes a chain of + for overlapping copies.
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += "\033[K";
        text += lines[i];
    }
    for (std::size_t i = lines.size(); i < drawn_; ++i)
        text += "\n\033[K";
    for (std::size_t i = lines.size(); i < drawn_; ++i)
        text += "\033[A";
    std::cerr << text << std::flush;
    drawn_ = lines.size();
}

void TProgress::Clear() {
    if (drawn_ > 0) {
        std::string text = "\r";
        for (std::size_t i = 1; i < drawn_; ++i)
            text += "\033[A";
        text += "\033[J";
        std::cerr << text;
    }
    std::cerr.flush();
    drawn_ = 0;
}

} // namespace kelvara::cli
