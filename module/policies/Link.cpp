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

std::optional<TResult> TStep::Finished() const {
    for (const TEvent& event : Events) {
        if (const auto* finished = std::get_if<TFinished>(&event))
            return finished->Result;
    }
    return std::nullopt;
}

void TStep::Append(TStep other) {
    if (other.SetBaudRate)
        SetBaudRate = other.SetBaudRate;
    if (other.Write) {
        Write = std::move(other.Write);
        SetAside = other.SetAside;
    }
    for (TEvent& event : other.Events)
        Events.push_back(std::move(event));
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

std::string FailureText(const TOutcome& outcome) {
    switch (outcome.Verdict) {
    case TVerdict::NoAnswer:
        if (!outcome.Echo.empty())
            return "echoed, but gave no answer";
        return "no answer within " + std::to_string(outcome.WaitedMs) + " ms";
    case TVerdict::Refused: {
        // A module at the wrong rate answers kilobytes of noise: name its start and its length.
        const std::string_view reply = outcome.Reply;
        std::string text = "answered \"" + ShownReply(reply.substr(0, kMaxQuotedReplyBytes)) + '"';
        if (reply.size() > kMaxQuotedReplyBytes)
            text += "... (" + std::to_string(reply.size()) + " bytes)";
        return text;
    }
    case TVerdict::KeptTalking:
        return "kept talking for " + std::to_string(kLongestReplyMs / 1000) + " s";
    case TVerdict::Acknowledged:
        return "acknowledged";
    case TVerdict::ConnectionLost:
        break;
    }
    return outcome.Detail.empty() ? "connection lost" : "connection lost (" + outcome.Detail + ')';
}

} // namespace kelvara::link
