// kelvara-cli's standard input on Windows, read by a thread of its own: what the thread read
// before the reader was paused goes out first once it is resumed, even when more was read
// meanwhile.
#include "Input.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

namespace kelvara::cli {
namespace {

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
