#include "Input.h"

#include <QMetaObject>
#include <QPointer>

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace kelvara::cli {

namespace {

HANDLE StreamHandle(int stream) {
    return GetStdHandle(stream == 0 ? STD_INPUT_HANDLE : STD_ERROR_HANDLE);
}

// The next piece typed at the console, as UTF-8: the console hands over UTF-16, whatever its
// code page. A read that Ctrl+C interrupts comes back empty: it is read again, for Ctrl+C is an
// interrupt, not the end of the input (Ctrl+Z is). Nothing when the console fails.
std::optional<std::string> ReadConsolePiece(HANDLE input, std::wstring& pending) {
    for (;;) {
        wchar_t wide[2048];
        DWORD units = 0;
        if (!ReadConsoleW(input, wide, 2048, &units, nullptr))
            return std::nullopt;
        if (units == 0) {
            Sleep(10);
            continue;
        }
        pending.append(wide, units);
        // A pair of surrogates split by the read waits for its second half.
        std::size_t whole = pending.size();
        if (pending.back() >= 0xD800 && pending.back() <= 0xDBFF)
            --whole;
        if (whole == 0)
            continue;
        const int size = WideCharToMultiByte(CP_UTF8, 0, pending.data(), static_cast<int>(whole),
                                             nullptr, 0, nullptr, nullptr);
        std::string piece(static_cast<std::size_t>(std::max(size, 0)), '\0');
        WideCharToMultiByte(CP_UTF8, 0, pending.data(), static_cast<int>(whole), piece.data(), size,
                            nullptr, nullptr);
        pending.erase(0, whole);
        return piece;
    }
}

} // namespace

bool IsTerminal(int stream) {
    DWORD mode = 0;
    const HANDLE handle = StreamHandle(stream);
    return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

// Windows cannot wait for standard input beside the event loop's other sources, so a thread
// reads it and hands each piece over. The thread may be blocked in a read when the reader goes:
// it then finds no one to hand to, and ends with the process.
struct TInputReader::TState {
    std::mutex Lock;
    std::condition_variable Resumed;
    QPointer<QObject> Receiver;
    bool Enabled = true; // under Lock: whether the thread reads
    // On the event loop: every piece passes through Held, in the order read, so that pieces
    // read before the reader was disabled go out first once it is enabled again.
    bool Handing = true;
    std::deque<std::string> Held;
    bool Ended = false;
    std::function<void(std::string_view)> OnBytes;

    void Hand(std::string piece) {
        Held.push_back(std::move(piece));
        HandHeld();
    }
    // OnBytes may disable the reader: what is left then waits.
    void HandHeld() {
        while (Handing && !Ended && !Held.empty()) {
            const std::string piece = std::move(Held.front());
            Held.pop_front();
            Ended = piece.empty();
            OnBytes(piece);
        }
    }
};

TInputReader::TInputReader(std::function<void(std::string_view)> onBytes)
    : state_(std::make_shared<TState>()) {
    state_->Receiver = new QObject;
    state_->OnBytes = std::move(onBytes);
    const bool console = IsTerminal(0);
    std::thread([state = state_, console] {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        std::wstring pendingWide;
        for (;;) {
            {
                std::unique_lock lock(state->Lock);
                state->Resumed.wait(lock, [&] { return state->Enabled || !state->Receiver; });
                if (!state->Receiver)
                    return;
            }
            std::string piece;
            if (console) {
                piece = ReadConsolePiece(input, pendingWide).value_or(std::string());
            } else {
                char buffer[4096];
                DWORD n = 0;
                const bool read = ReadFile(input, buffer, sizeof buffer, &n, nullptr);
                piece.assign(buffer, read ? n : 0);
            }
            // At a console a line ends in CR LF, and Ctrl+Z at the start of a line ends the input.
            if (console) {
                if (!piece.empty() && piece.front() == '\x1a')
                    piece.clear();
                for (std::size_t at; (at = piece.find("\r\n")) != std::string::npos;)
                    piece.erase(at, 1);
            }
            std::lock_guard lock(state->Lock);
            if (!state->Receiver)
                return;
            QMetaObject::invokeMethod(
                state->Receiver, [state, piece] { state->Hand(piece); }, Qt::QueuedConnection);
            if (piece.empty())
                return;
        }
    }).detach();
}

TInputReader::~TInputReader() {
    QObject* receiver = nullptr;
    {
        std::lock_guard lock(state_->Lock);
        receiver = state_->Receiver;
        state_->Receiver = nullptr;
    }
    state_->Resumed.notify_all();
    delete receiver;
}

void TInputReader::SetEnabled(bool enabled) {
    state_->Handing = enabled;
    // Held pieces go out from the event loop, not from inside the caller.
    if (enabled && !state_->Held.empty())
        QMetaObject::invokeMethod(state_->Receiver, [state = state_] { state->HandHeld(); },
                                  Qt::QueuedConnection);
    {
        std::lock_guard lock(state_->Lock);
        state_->Enabled = enabled;
    }
    state_->Resumed.notify_all();
}

} // namespace kelvara::cli
