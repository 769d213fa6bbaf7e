#include "ConsoleText.h"

#include <windows.h>

#include <iostream>
#include <memory>

namespace kelvara::cli {

namespace {

// Where the last whole character ends: a lead byte whose sequence runs past the end starts a
// character still to come. Bytes that are no UTF-8 are whole as they are (shown as U+FFFD).
std::size_t WholeUpTo(std::string_view bytes) {
    const std::size_t size = bytes.size();
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[size - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

} // namespace

TConsoleText::TConsoleText(std::function<bool(std::wstring_view)> write) : write_(std::move(write)) {}

TConsoleText::~TConsoleText() { Flush(true); }

TConsoleText::int_type TConsoleText::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    held_ += traits_type::to_char_type(ch);
    if (ch == '\n' && !Flush(false))
        return traits_type::eof();
    return ch;
}

std::streamsize TConsoleText::xsputn(const char* bytes, std::streamsize count) {
    held_.append(bytes, static_cast<std::size_t>(count));
    return Flush(false) ? count : 0;
}

int TConsoleText::sync() { return Flush(false) ? 0 : -1; }

bool TConsoleText::Flush(bool all) {
    const std::size_t whole = all ? held_.size() : WholeUpTo(held_);
    if (whole == 0)
        return true;
    const int length = MultiByteToWideChar(CP_UTF8, 0, held_.data(), static_cast<int>(whole), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, held_.data(), static_cast<int>(whole), text.data(), length);
    held_.erase(0, whole);
    return write_(text);
}

void WriteConsolesAsText() {
    const auto through = [](std::ostream& stream, DWORD which) {
        const HANDLE handle = GetStdHandle(which);
        DWORD mode = 0;
        if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
            return; // a file or a pipe takes the bytes as they are
        // Kept to the end of the program: the streams are written to until then.
        static std::unique_ptr<TConsoleText> kept[2];
        auto& buffer = kept[which == STD_OUTPUT_HANDLE ? 0 : 1];
        buffer = std::make_unique<TConsoleText>([handle](std::wstring_view text) {
            while (!text.empty()) {
                DWORD written = 0;
                const auto piece = static_cast<DWORD>(std::min<std::size_t>(text.size(), 8192));
                if (!WriteConsoleW(handle, text.data(), piece, &written, nullptr) || written == 0)
                    return false;
                text.remove_prefix(written);
            }
            return true;
        });
        stream.flush();
        stream.rdbuf(buffer.get());
    };
    through(std::cout, STD_OUTPUT_HANDLE);
    through(std::cerr, STD_ERROR_HANDLE);
}

} // namespace kelvara::cli
