#include "Lines.h"

#include <utility>

namespace kelvara::link {

std::vector<std::string> TLineSplitter::Feed(std::string_view bytes) {
    std::vector<std::string> lines;
    for (const char c : bytes) {
        if (std::exchange(afterCr_, false)) {
            if (c == '\n') {
                line_ += c;
                lines.push_back(std::exchange(line_, {}));
                continue;
            }
            lines.push_back(std::exchange(line_, {}));
        }
        line_ += c;
        if (c == '\r')
            afterCr_ = true;
        else if (c == '\n' || line_.size() >= kLongestLine)
            lines.push_back(std::exchange(line_, {}));
    }
    return lines;
}

std::string TLineSplitter::Flush() {
    afterCr_ = false;
    return std::exchange(line_, {});
}

} // namespace kelvara::link
