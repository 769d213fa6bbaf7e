// kelvara-cli scan and connect against a simulated module in the master role: the devices found
// in the three forms, in pieces; a connection, a data session from a terminal and from a pipe,
// a device the module cannot reach, and a connection that drops.
#include "FakeModule.h"
#include "Link.h"
#include "RunCli.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

using kelvara::testing::TFakeModule;
using namespace std::chrono_literals;

namespace {

// The three forms of answer, cut into pieces as a module's answers come.
const std::vector<std::string> kPieces = {"OK+DIS00017EA0", "943AETag1", "OK+DIS0:C4BE84",
                                          "123456", "OK+DIS1:A81B6AAE5221\r\nOK+NA", "ME:Door\r\n"};
const std::string kDevices = "0\t0017EA0943AE\tTag1\n0\tC4BE84123456\t\n1\tA81B6AAE5221\tDoor\n";

TFakeModule& Master(TFakeModule& module, int dropAfterMs = -1) {
    module.Scanning(kPieces, 30, {"C4BE84123456", "A81B6AAE5221"}, dropAfterMs);
    return module;
}

TEST(Scan, PrintsEachDeviceAsFoundUntilTheModuleSaysItIsDone) {
    TFakeModule module;
    const Result r = RunCli({"scan", "--port", Master(module).PortName()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, kDevices);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(module.Received(), "AT+DISC?");
}

TEST(Scan, AScanThatDoesNotEndInTimeIsAFailureWithWhatWasFound) {
    TFakeModule module;
    module.Scanning({"OK+DIS0:C4BE84123456"}, 1500, {});
    const Result r = RunCli({"scan", "--port", module.PortName(), "--seconds", "1"});
    EXPECT_EQ(r.Status, 4);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "kelvara-cli: the scan did not end within 1 s\n");
    // A module in the slave role does not scan.
    TFakeModule slave;
    slave.On("AT+DISC?", kelvara::testing::TModuleBehaviour::Answering("ERROR\r\n"));
    const Result refused = RunCli({"scan", "--port", slave.PortName()});
    EXPECT_EQ(refused.Status, 4);
    EXPECT_EQ(refused.Err, "kelvara-cli: AT+DISC?: answered \"ERROR\\x0d\\x0a\"\n");
}

TEST(Connect, ADataSessionFromATerminalUntilCtrlD) {
    TFakeModule module;
    Master(module);
    int terminal = -1;
    int input = -1;
    ASSERT_EQ(openpty(&terminal, &input, nullptr, nullptr, nullptr), 0);
    const Result r = RunCli(
        {"connect", "--port", module.PortName(), "--type", "1", "a8:1b:6a:ae:52:21"},
        [&](pid_t) {
            for (int i = 0; i < 400 && !module.IsConnected(); ++i)
                std::this_thread::sleep_for(10ms);
            const std::string hello = "hello\n";
            ASSERT_EQ(write(terminal, hello.data(), hello.size()), 6);
            module.WaitUntilSent("hello", 5s);
            std::this_thread::sleep_for(200ms);
            ASSERT_EQ(write(terminal, "\x04", 1), 1);
        },
        KELVARA_CLI_PATH, input);
    close(input);
    close(terminal);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "kelvara-cli: connected to A81B6AAE5221\n");
    EXPECT_EQ(r.Out, "hello\n");
    // The connect command, the line typed, then "AT" alone to end the connection.
    EXPECT_EQ(module.Received(), "AT+CO1A81B6AAE5221helloAT");
}

TEST(Connect, StandardInputGoesAsItIsAndWhatComesBackIsPrinted) {
    TFakeModule module;
    Master(module);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "ping\r\n", 6), 6);
    close(fds[1]);
    const Result r = RunCli({"connect", "--port", module.PortName(), "--seconds", "1",
                             "C4BE84123456"},
                            {}, KELVARA_CLI_PATH, fds[0]);
    close(fds[0]);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "ping\\x0d\\x0a\n");
    EXPECT_EQ(module.Received(), "AT+CO0C4BE84123456ping\r\nAT");
}

// A sensor sends a line every millisecond while 300 lines go to it 5 ms apart: every byte it
// sent before the connection ended is printed, in order, whatever was written meanwhile.
TEST(Connect, ADeviceThatTalksWhileTheUserSendsLosesNothing) {
    for (int round = 0; round < 3; ++round) {
        TFakeModule module;
        Master(module).Streaming(1);
        // The write end stays the test's alone, so that closing it ends the program's input.
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        std::thread user([&] {
            std::this_thread::sleep_for(200ms);
            for (int i = 0; i < 300; ++i) {
                std::string line = "u";
                line += std::to_string(i);
                line += '\n';
                if (write(fds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                    break;
                std::this_thread::sleep_for(5ms);
            }
            close(fds[1]);
        });
        const Result r = RunCli({"connect", "--port", module.PortName(), "--seconds", "0", "C4BE84123456"},
                                {}, KELVARA_CLI_PATH, fds[0]);
        user.join();
        close(fds[0]);
        EXPECT_EQ(r.Status, 0) << r.Err;
        // What the device sent while connected: after "OK+CONN", up to the module's "OK+LOST".
        const std::string sent = module.Sent();
        const std::size_t from = sent.find("OK+CONN", sent.find("OK+CONNA") + 8) + 7;
        const std::string stream = sent.substr(from, sent.rfind("OK+LOST") - from);
        std::string printed = r.Out;
        std::erase(printed, '\n');
        std::string expected;
        for (char c : stream)
            expected += c == '\r' ? std::string("\\x0d") : c == '\n' ? std::string("\\x0a") : std::string(1, c);
        EXPECT_GT(stream.size(), 1000u);
        ASSERT_EQ(printed, expected) << "round " << round;
        EXPECT_NE(module.Received().find("u299\n"), std::string::npos);
    }
}

// The link drops every half second while the device sends a line every millisecond and the
// user pipes a line every 10 ms: with --rejoin the link is rejoined each time, the log holds every
// byte the device sent while connected, in order, with each drop and rejoin, and nothing piped
// was sent from a drop until the rejoin.
TEST(Connect, ARejoiningLinkKeepsEveryLineInTheLogAcrossDrops) {
    TFakeModule module;
    Master(module, 500).Streaming(1);
    const std::string log = ::testing::TempDir() + "kelvara-rejoin-" + std::to_string(getpid()) + ".log";
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    std::thread user([&] {
        for (int i = 0; i < 300; ++i) {
            const std::string line = "u" + std::to_string(i) + '\n';
            if (write(fds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                break;
            std::this_thread::sleep_for(10ms);
        }
        close(fds[1]);
    });
    const Result r = RunCli({"connect", "--port", module.PortName(), "--seconds", "1", "--rejoin", "--log", log,
                             "C4BE84123456"},
                            {}, KELVARA_CLI_PATH, fds[0]);
    user.join();
    close(fds[0]);
    EXPECT_EQ(r.Status, 0) << r.Err;
    // What the device sent while connected: each stretch after "OK+CONN", up to "OK+LOST".
    const std::string sent = module.Sent();
    std::string stream;
    std::size_t stretches = 0;
    for (std::size_t at = sent.find("OK+CONN"); at != std::string::npos; at = sent.find("OK+CONN", at + 1)) {
        if (at + 7 < sent.size() && std::string_view("AFE").find(sent[at + 7]) != std::string_view::npos)
            continue; // "OK+CONNA", "OK+CONNF", "OK+CONNE"
        stream += sent.substr(at + 7, std::min(sent.find("OK+LOST", at), sent.size()) - at - 7);
        ++stretches;
    }
    EXPECT_GE(stretches, 6u) << "at least five rejoins";
    std::ifstream in(log);
    std::string logged;
    std::size_t rejoined = 0, partLines = 0;
    std::string sentWhileUp, sentWhileDown;
    bool up = false;
    for (std::string line; std::getline(in, line);) {
        if (line.find(" << ") == 29) {
            logged += line.substr(33);
            partLines += !line.ends_with("\\x0d\\x0a");
        }
        if (line.find(" >> ") == 29)
            (up ? sentWhileUp : sentWhileDown) += line.substr(33);
        rejoined += line.find(" -- rejoined C4BE84123456 after ") == 29;
        up = line.find(" -- connected to ") == 29 || line.find(" -- rejoined ") == 29 ||
             (up && line.find(" -- the link to ") != 29);
    }
    EXPECT_LE(partLines, 1u) << "a line an entry, though the device sends some in pieces; one may be cut by the end";
    EXPECT_EQ(sentWhileDown, "");
    // Between two connections only the connect command reached the module, and a piped line
    // already on its way when the module dropped the link, sent while the link stood.
    for (const std::string& command : module.Commands())
        EXPECT_TRUE(command == "AT+CO0C4BE84123456" || sentWhileUp.find(command) != std::string::npos)
            << command;
    EXPECT_EQ(rejoined, stretches - 1);
    EXPECT_GT(stream.size(), 3000u);
    EXPECT_EQ(logged, kelvara::link::ShownReply(stream));
    std::remove(log.c_str());
}

// The link shared with another program, on a pseudo-terminal (not under Wine) and on a TCP port,
// logged: 1,000 lines go to the device (which sends each back) and all come back in order, each
// in the log both ways; Ctrl+C then ends it.
TEST(Connect, ASharedLinkRelaysEveryByteBothWays) {
    const auto loopback = [](int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    };
    for (const std::string kind : {"pty", "tcp"}) {
        if (kind == "pty" && CliCommand().front().ends_with("wine"))
            continue;
        TFakeModule module;
        Master(module);
        const std::string link = ::testing::TempDir() + "kelvara-share-" + std::to_string(getpid());
        std::remove((link + ".log").c_str());
        // A port free a moment ago.
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        const int probe = socket(AF_INET, SOCK_STREAM, 0);
        bind(probe, reinterpret_cast<sockaddr*>(&address), length);
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
        close(probe);
        const std::string share = kind == "pty" ? "pty:" + link : "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        std::string expected;
        for (int i = 0; i < 1000; ++i)
            expected += "line " + std::to_string(i) + '\n';
        std::string received;
        const Result r = RunCli(
            {"connect", "--port", module.PortName(), "--share", share, "--log", link + ".log", "C4BE84123456"},
            [&](pid_t pid) {
                int fd = -1;
                for (int tries = 0; tries < 500 && fd < 0; ++tries) {
                    std::this_thread::sleep_for(10ms);
                    if (module.IsConnected() && kind == "pty") {
                        fd = open(link.c_str(), O_RDWR | O_NOCTTY);
                    } else if (module.IsConnected() && (fd = socket(AF_INET, SOCK_STREAM, 0)) >= 0 &&
                               connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                        close(std::exchange(fd, -1));
                    }
                }
                std::thread writer([&] {
                    for (std::size_t at = 0; fd >= 0 && at < expected.size(); at += 70) {
                        if (write(fd, expected.data() + at, std::min<std::size_t>(70, expected.size() - at)) < 0)
                            break;
                        std::this_thread::sleep_for(1ms);
                    }
                });
                pollfd ready{fd, POLLIN, 0};
                char buffer[4096];
                for (ssize_t n = 1; n > 0 && received.size() < expected.size() && poll(&ready, 1, 5000) > 0;)
                    if ((n = read(fd, buffer, sizeof buffer)) > 0)
                        received.append(buffer, static_cast<std::size_t>(n));
                writer.join();
                close(fd);
                kill(pid, SIGINT);
            },
            KELVARA_CLI_PATH, open("/dev/null", O_RDONLY));
        EXPECT_EQ(r.Status, 0) << kind << ": " << r.Err;
        EXPECT_TRUE(received == expected) << kind << ": " << received.size() << " bytes, " << received.substr(0, 80);
        EXPECT_NE(r.Err.find("kelvara-cli: the link is shared on "), std::string::npos) << r.Err;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "the link is removed";
        std::ifstream in(link + ".log");
        std::map<std::string, std::string> logged; // each way's bytes, by marker
        for (std::string line; std::getline(in, line);)
            if (line.size() > 33)
                logged[line.substr(30, 2)] += line.substr(33);
        EXPECT_EQ(logged[">>"], kelvara::link::ShownReply(expected)) << kind;
        EXPECT_EQ(logged["<<"], kelvara::link::ShownReply(expected)) << kind;
        std::remove((link + ".log").c_str());
    }
}

TEST(Connect, FailuresEndWithTheirReason) {
    TFakeModule module;
    Master(module, 300);
    // A device the module cannot reach.
    const Result unknown = RunCli({"connect", "--port", module.PortName(), "112233445566"},
                                  {}, KELVARA_CLI_PATH, open("/dev/null", O_RDONLY));
    EXPECT_EQ(unknown.Status, 4);
    EXPECT_EQ(unknown.Err, "kelvara-cli: AT+CO0112233445566: the connection failed (OK+CONNF)\n");
    // A connection that drops while data is awaited.
    int terminal = -1;
    int input = -1;
    ASSERT_EQ(openpty(&terminal, &input, nullptr, nullptr, nullptr), 0);
    const Result dropped = RunCli({"connect", "--port", module.PortName(), "C4BE84123456"}, {},
                                  KELVARA_CLI_PATH, input);
    close(input);
    close(terminal);
    EXPECT_EQ(dropped.Status, 4);
    EXPECT_EQ(dropped.Err, "kelvara-cli: connected to C4BE84123456\n"
                           "kelvara-cli: C4BE84123456: the connection dropped (OK+LOST)\n");
    // A share open to the network is refused before the port is touched.
    const Result open = RunCli({"connect", "--port", module.PortName(), "--share", "tcp:0.0.0.0:5000", "C4BE84123456"});
    EXPECT_EQ(open.Status, 2);
    EXPECT_TRUE(open.Err.starts_with("kelvara-cli: --share tcp:0.0.0.0:5000: only loopback addresses (127.0.0.1, "
                                     "::1, localhost) are accepted")) << open.Err;
    // An address that is none.
    const Result bad = RunCli({"connect", "--port", module.PortName(), "C4:BE:84:12:34"});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_TRUE(bad.Err.starts_with("kelvara-cli: ADDRESS takes 12 hexadecimal digits")) << bad.Err;
}

} // namespace
