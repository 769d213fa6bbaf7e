#include "Link.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kelvara::link {

std::string_view LineEndBytes(TLineEnd lineEnd) {
    switch (lineEnd) {
    case TLineEnd::Cr:
        return "\r";
    case TLineEnd::Lf:
        return "\n";
    case TLineEnd::CrLf:
        return "\r\n";
    case TLineEnd::None:
        break;
    }
    return {};
}

std::string_view LineEndName(TLineEnd lineEnd) {
    switch (lineEnd) {
    case TLineEnd::Cr:
        return "cr";
    case TLineEnd::Lf:
        return "lf";
    case TLineEnd::CrLf:
        return "crlf";
    case TLineEnd::None:
        break;
    }
    return "none";
}

std::optional<TLineEnd> LineEndFromName(std::string_view name) {
    for (TLineEnd lineEnd : {TLineEnd::None, TLineEnd::Cr, TLineEnd::Lf, TLineEnd::CrLf}) {
        if (name == LineEndName(lineEnd))
            return lineEnd;
    }
    return std::nullopt;
}

bool IsStandardBaudRate(int baudRate) {
    return std::find(kStandardBaudRates.begin(), kStandardBaudRates.end(), baudRate) !=
           kStandardBaudRates.end();
}

bool TEvent::IsOutcome() const {
    return Kind == TEventKind::Acknowledged || Kind == TEventKind::Refused ||
           Kind == TEventKind::NoAnswer || Kind == TEventKind::ConnectionLost;
}

bool Expect(bool condition, const char* what) {
#if !defined(NDEBUG) || defined(KELVARA_LINK_CHECKS)
    if (!condition) {
        std::fprintf(stderr, "kelvara: link call out of order: %s\n", what);
        std::abort();
    }
#else
    (void)what;
#endif
    return condition;
}

std::string ShownBytes(std::string_view bytes, bool escapeHighBytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 32 || c == 127 || (escapeHighBytes && c >= 128)) {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

std::string FailureText(const TEvent& outcome) {
    switch (outcome.Kind) {
    case TEventKind::NoAnswer:
        if (!outcome.Echo.empty())
            return "echoed, but gave no answer";
        return "no answer within " + std::to_string(outcome.WaitedMs) + " ms";
    case TEventKind::Refused:
        return "answered \"" + ShownReply(outcome.Reply) + '"';
    case TEventKind::NotSent:
        return "not sent";
    default:
        break;
    }
    return "connection lost";
}

} // namespace kelvara::link
