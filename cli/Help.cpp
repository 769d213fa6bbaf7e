// kelvara-cli's usage and help texts.
#include "CliSystem.h"
#include "Options.h"

#include <ostream>
#include <string>
#include <utility>

namespace kelvara::cli {

namespace {


constexpr std::string_view kUsage =
    R"(Usage: kelvara-cli study [--format 16|128] [--notify TEXT] [--write TEXT] [OUT]
       kelvara-cli ibeacon [--uuid TEXT] [--major TEXT] [--minor TEXT] [OUT]
       kelvara-cli study|ibeacon [fields] --port PORT [--port PORT]...
                   [SETTINGS] --modules N [--count major|minor] [--record FILE]
       kelvara-cli send --port PORT [SETTINGS] [FILE | -]
       kelvara-cli find --port PORT [--log FILE]
       kelvara-cli scan --port PORT [SETTINGS] [--seconds S]
       kelvara-cli connect --port PORT [SETTINGS] [--type T] [--seconds S]
                   [--rejoin] [--timestamps] [--share tcp:HOST:PORT|pty[:PATH]]
                   ADDRESS
       kelvara-cli ports
       kelvara-cli -h | --help | --version
OUT:      --commands | --port PORT [SETTINGS]
SETTINGS: [--baud N|auto] [--line-end none|cr|lf|crlf] [--timeout MS]
          [--pause MS] [--log FILE]
)";

constexpr std::string_view kHelp = R"(
Checks Bluetooth Low Energy identifiers and prints the AT commands that set up
a module, or sends them to the module on a serial port.

Commands:
  study     the master-role study list for a slave's two characteristics
    --format 16|128   UUID format of the slave device (default: 16)
    --notify TEXT     UUID of the characteristic with the "Notify" property
                      (default: FFE1)
    --write TEXT      UUID of the characteristic with the "Write" or
                      "WriteWithoutResponse" property (default: FFE1)
  ibeacon   the slave-role iBeacon list
    --uuid TEXT       iBeacon UUID, dashes optional
                      (default: 0000FFF0-0000-1000-8000-00805F9B34FB)
    --major TEXT      Major: 4 hexadecimal or 5 decimal digits (default: 10123)
    --minor TEXT      Minor: 4 hexadecimal or 5 decimal digits (default: 10125)
  send      send the commands of FILE (or of standard input), one a line;
            lines beginning with # are skipped. On a terminal, each line typed
            is sent as it is entered, until @END@
  find      find the baud rate and line ending at which the module on PORT
            answers "AT"; prints BAUD LINE-END, and "echo" if it echoes
  ports     list the serial ports found: PORT<TAB>DESCRIPTION, one a line
  scan      with a module in the master role, find the devices around it:
            TYPE<TAB>ADDRESS<TAB>NAME, one a line as each is found, until
            "OK+DISCE" (or S seconds, default 10: exit status 4)
  connect   connect to the device at ADDRESS (12 hexadecimal digits, ':'
            between the bytes or not; --type T, default 0), then send it each
            line typed until @END@, or standard input's bytes, printing what
            it sends as it comes (escaped as replies are); with standard input
            not a terminal, until S seconds (default 2) after its end
    --rejoin          when the link drops (the module's OK+LOST, or the adapter
                      gone and back), connect again at once, then after 1, 2,
                      4, 8, 16 s and every 30 s until the device answers; each
                      drop, try and rejoin is said on standard error, and
                      standard input waits while the link is down
    --timestamps      print each line the device sends (ended by CR, LF or
                      CR LF) after its date and time
    --share tcp:HOST:PORT|pty[:PATH]
                      share the link with another program, until Ctrl+C: a
                      TCP port on loopback (HOST 127.0.0.1, ::1 or localhost;
                      PORT 0 takes a free one), or on Linux a pseudo-terminal
                      (with PATH, a link to it there); where is said on
                      standard error. Bytes relay both ways unchanged, one
                      program at a time

Many modules (study, ibeacon, with --port):
  --modules N         set up N modules one after another on PORT: wait until
                      one answers "AT", send its list, wait until it is gone
                      (silent for a second, or its port gone), take the next
  --count major|minor give each next module the value after the last one,
                      written the same way (4 hexadecimal or 5 decimal digits)
  --record FILE       record each module attempted in a CSV file, on disk
                      before the next is taken; started again with the same
                      record, a batch goes on where it stopped
  With --port given more than once, every port does the same at once: the
  first module to answer on any port takes the next value, a module that
  fails gives its value back, and no value is given twice. Lines are then
  N<TAB>PORT<TAB>VALUES<TAB>OUTCOME; a port that cannot be used is told and
  the others go on.

Sending (study, ibeacon, send):
  --commands          print only the commands that would be sent, one a line
  --port PORT         @PORT@
  --baud N|auto       1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or
                      230400 (default: 9600), 8 data bits, no parity, 1 stop
                      bit, no flow control; auto: find it first (and the line
                      ending, unless --line-end is given)
  --line-end none|cr|lf|crlf
                      what follows each command (default: none)
  --timeout MS        wait for an answer's first byte, 1 to 60000 (default:
                      1000)
  --pause MS          pause after each acknowledged command, 0 to 10000
                      (default: 200), for modules that restart after one
  --log FILE          append every entry of the session to FILE as it
                      happens (written, echoed, replied, unasked, the port's
                      and the link's life), one a line after its date and
                      time, synced to the disk every second; with every
                      command that opens a port

Options:
  -h, --help  print this help and exit
  --version   print the version and exit

Options come in any order, as --option VALUE or --option=VALUE; the last of a
repeated option wins. Each TEXT is checked exactly as given, like a field of
the desktop program.

Output: the list on standard output, one line each. A rejected field gives
nothing on standard output and one line on standard error:
  kelvara-cli: --FIELD: MESSAGE
Commands are sent one at a time, stopping at the first not acknowledged. A
reply runs until the module has been quiet for 50 ms, or ends at once with a
line "OK" or "ERROR"; a module still talking after 2 s fails the command. An
echo of the command is set aside. A reply beginning "OK", or whose last line
is "OK", acknowledges: COMMAND<TAB>REPLY is printed, control bytes and bytes
of 128 or more shown as \xNN. Bytes the module sends unasked in a session on a
terminal are printed as <TAB>BYTES.

Exit status: 0 done, 1 field rejected or output not written, 2 usage error
or a refused command file, 3 port could not be used, 4 a command was not
acknowledged or no module answered, 5 the log could not be opened or
written, 130 interrupted (the first Ctrl+C stops after the command under
way, a second at once).
@NOTES@)";

// The help with this system's parts in their places.
std::string Help() {
    std::string text(kHelp);
    const TSystemHelp& system = SystemHelp();
    for (const auto& [mark, part] : {std::pair{std::string_view("@END@"), system.EndOfInput},
                                     std::pair{std::string_view("@PORT@"), system.PortHelp},
                                     std::pair{std::string_view("@NOTES@"), system.Notes}}) {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, mark.size(), part);
    }
    return text;
}

} // namespace

int UsageError(std::ostream& err, const std::string& problem) {
    err << kProgram << ": " << problem << "\n"
        << kUsage << "Try 'kelvara-cli --help' for more information.\n";
    return kExitUsage;
}

int PrintHelp(std::ostream& out) {
    out << kUsage << Help();
    return kExitOk;
}

} // namespace kelvara::cli
