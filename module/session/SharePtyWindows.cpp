// Windows has no pseudo-terminal a serial program opens: a link is shared on TCP there.
#include "SharePty.h"

namespace kelvara::link::share_pty {

bool Available(std::string& why) {
    why = "a pseudo-terminal share is Linux's; use tcp:127.0.0.1:PORT";
    return false;
}
bool Open(TPty& pty, std::string& why) { return Available(why) && pty.Ours >= 0; }
void Close(TPty&) {}
long long Read(const TPty&, char*, std::size_t) { return -1; }
std::size_t Write(const TPty&, const char*, std::size_t) { return 0; }
bool Link(const TPty&, const std::string&, std::string&) { return false; }
void Unlink(const TPty&, const std::string&) {}

} // namespace kelvara::link::share_pty
