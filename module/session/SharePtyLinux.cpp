#include "SharePty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace kelvara::link::share_pty {

bool Available(std::string&) { return true; }

bool Open(TPty& pty, std::string& why) {
    pty.Ours = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.Ours < 0 || grantpt(pty.Ours) != 0 || unlockpt(pty.Ours) != 0) {
        why = std::strerror(errno);
        return false;
    }
    pty.Path = ptsname(pty.Ours);
    pty.Theirs = open(pty.Path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (pty.Theirs < 0 || tcgetattr(pty.Theirs, &raw) != 0) {
        why = std::strerror(errno);
        return false;
    }
    cfmakeraw(&raw);
    tcsetattr(pty.Theirs, TCSANOW, &raw);
    fcntl(pty.Ours, F_SETFL, fcntl(pty.Ours, F_GETFL) | O_NONBLOCK);
    return true;
}

void Close(TPty& pty) {
    for (int* fd : {&pty.Ours, &pty.Theirs}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

long long Read(const TPty& pty, char* bytes, std::size_t count) { return read(pty.Ours, bytes, count); }

std::size_t Write(const TPty& pty, const char* bytes, std::size_t count) {
    std::size_t done = 0;
    for (ssize_t n; done < count && (n = write(pty.Ours, bytes + done, count - done)) > 0;)
        done += static_cast<std::size_t>(n);
    return done;
}

bool Link(const TPty& pty, const std::string& at, std::string& why) {
    std::error_code error;
    std::filesystem::create_symlink(pty.Path, at, error);
    if (error)
        why = at + ": " + error.message();
    return !error;
}

void Unlink(const TPty& pty, const std::string& at) {
    std::error_code ignored;
    if (std::filesystem::is_symlink(at, ignored) && std::filesystem::read_symlink(at, ignored) == pty.Path)
        std::filesystem::remove(at, ignored);
}

} // namespace kelvara::link::share_pty
