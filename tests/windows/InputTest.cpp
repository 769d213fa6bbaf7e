// kelvara-cli's standard input on Windows, read by a thread of its own: what the thread read
// before the reader was paused goes out first once it is resumed, even when more was read
// meanwhile. And its text on a console, handed over as UTF-16 whole characters.
#include "ConsoleText.h"
#include "Input.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace kelvara::cli {
namespace {

// Text for a console: a character split between writes waits until it is whole; bytes that are
// no UTF-8 are shown as U+FFFD; what is held is handed over at a flush, a line's end, or the end.
TEST(Input, TextForAConsoleGoesAsWholeCharacters) {
    std::vector<std::wstring> handed;
    {
        TConsoleText text([&](std::wstring_view piece) {
            handed.emplace_back(piece);
            return true;
        });
        std::ostream out(&text);
        out << "caf\xC3" << std::flush;
        out << "\xA9 \xE2\x82" << std::flush;
        out << "\xAC\n";
        out << "\xFF!" << std::flush;
        out << "\xF0\x9F";
    }
    EXPECT_EQ(handed, (std::vector<std::wstring>{L"caf", L"\u00E9 ", L"\u20AC\n", L"\uFFFD!", L"\uFFFD"}));
}

TEST(Input, PiecesKeepTheirOrderAcrossAPause) {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    ASSERT_TRUE(SetStdHandle(STD_INPUT_HANDLE, readEnd));
    const auto write = [&](const char* bytes) {
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(writeEnd, bytes, static_cast<DWORD>(strlen(bytes)), &n, nullptr));
        Sleep(200); // the thread reads it and hands it over
    };
    std::string handed;
    TInputReader input([&](std::string_view piece) { handed += piece.empty() ? "|end" : piece; });
    QObject resumer;
    // On the event loop, in this order: "A" handed while paused, the reader resumed, "B" handed.
    write("A");
    QMetaObject::invokeMethod(&resumer, [&] { input.SetEnabled(true); }, Qt::QueuedConnection);
    write("B");
    input.SetEnabled(false);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(handed, "AB");
    CloseHandle(writeEnd);
    Sleep(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(handed, "AB|end");
}

} // namespace
} // namespace kelvara::cli
