#include "CliSystem.h"
#include "ConsoleText.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace kelvara::cli {

void PrepareStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // What is printed is UTF-8 (ports' descriptions, the system's messages, a reply's bytes
    // escaped): a console is handed it as text, its code page left as the shell has it.
    WriteConsolesAsText();
}

// Windows has no such signal: a failed write is only a failed write.
void IgnoreBrokenPipes() {}

void EnableTerminalSequences() {
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode))
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

const TSystemHelp& SystemHelp() {
    static constexpr TSystemHelp kHelp{
        "Ctrl+Z",
        "the module's port: COM1 to COM256, or another name 'ports'\n"
        "                      lists (see Device Manager, Ports (COM & LPT))",
        "A port refused as in use is open in another program: close it there.\n"
        "\n"
        "Examples:\n"
        "  kelvara-cli ports\n"
        "  kelvara-cli ibeacon --major 1 --minor 7 --port COM3 --baud auto\n"
        "  kelvara-cli study --format 128 --commands > study.txt\n"
        "  kelvara-cli send --port COM3 --line-end crlf study.txt\n"};
    return kHelp;
}

} // namespace kelvara::cli
