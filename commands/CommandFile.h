#pragma once

// Reading a file of commands to send, written by hand or edited from a generated list: one
// command a line.

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kelvara {

// The longest command a line may hold, and the largest file read.
inline constexpr std::size_t kMaxCommandBytes = 256;
inline constexpr std::size_t kMaxCommandFileBytes = 1024 * 1024;

// Why a file was refused: the line (counted from 1; 0 for the file as a whole) and the reason.
struct TCommandFileError {
    std::size_t Line = 0;
    std::string Reason;

    friend bool operator==(const TCommandFileError&, const TCommandFileError&) = default;
};

// The commands of a file, in order. Lines end in LF or CR LF; spaces and tabs at either end of
// a line are dropped; empty lines and lines beginning with "#" are skipped. A line holding any
// other control byte, or a command longer than kMaxCommandBytes, refuses the file, and so does a
// file without a command or larger than kMaxCommandFileBytes. A file that begins with a
// byte-order mark is read in the encoding it names, as editors and shells write them: UTF-8 (the
// mark dropped), UTF-16 little- or big-endian (turned into UTF-8); without one, its bytes are
// taken as they are.
std::variant<std::vector<std::string>, TCommandFileError> ReadCommandFile(std::string_view text);

// One line as the file reader takes it: the command, or nothing (an empty line or a comment);
// a refused line gives its reason.
std::variant<std::string, TCommandFileError> ReadCommandLine(std::string_view line,
                                                             std::size_t lineNumber);

} // namespace kelvara
