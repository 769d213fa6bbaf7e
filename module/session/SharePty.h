#pragma once

// The pseudo-terminal a shared link is offered on, where the system has them: each system's
// calls in its own file, SharePtyLinux.cpp (POSIX) and SharePtyWindows.cpp (none).

#include <cstddef>
#include <string>

namespace kelvara::link::share_pty {

// A pseudo-terminal open, raw both ways (no echo, no line editing): our side, which never
// blocks, and the program's side, kept open so that a program closing it is no hang-up.
struct TPty {
    int Ours = -1;
    int Theirs = -1;
    std::string Path; // the program's side, as a program opens it
};

// The system has them; why not, when it does not.
bool Available(std::string& why);
// Makes one; false, and why, where it cannot be.
bool Open(TPty& pty, std::string& why);
void Close(TPty& pty);
// What our side holds now, up to count bytes; 0 or less when it holds nothing.
long long Read(const TPty& pty, char* bytes, std::size_t count);
// As much of the bytes as our side takes now: how many it took.
std::size_t Write(const TPty& pty, const char* bytes, std::size_t count);
// A link to the pseudo-terminal at `at`; false, and why, when it cannot be made.
bool Link(const TPty& pty, const std::string& at, std::string& why);
// Removes the link, while it still leads to the pseudo-terminal.
void Unlink(const TPty& pty, const std::string& at);

} // namespace kelvara::link::share_pty
