#pragma once

// Bytes from a device cut into its lines, however it ends them: a line ends with CR, LF or
// CR LF, a CR LF split between two pieces being one end. Each line keeps its end, so that
// nothing the device sent is lost in the showing; a line that never ends is cut at a bound.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::link {

class TLineSplitter {
  public:
    static constexpr std::size_t kLongestLine = 4096;

    // The lines these bytes complete, in order. A line ended by CR is held until the next byte
    // says whether an LF follows (or until Flush).
    std::vector<std::string> Feed(std::string_view bytes);
    // What is held of a line (a device quiet part-way, or at the end), and nothing more held.
    std::string Flush();
    bool Holding() const { return !line_.empty(); }

  private:
    std::string line_;
    bool afterCr_ = false;
};

// A line typed with escapes, as the bytes it stands for: \r, \n, \t, \\ and \xNN (two
// hexadecimal digits); every other byte as it is. Nothing, and why, for any other escape.
std::optional<std::string> Unescaped(std::string_view typed, std::string& why);

} // namespace kelvara::link
