// The serial port on Linux with a simulated module at the far end of a pseudo-terminal: a lock
// file naming the port, left by a process that does not have the port open, is no refusal.
#include "FakeModule.h"
#include "SerialPort.h"

#include <QCoreApplication>
#include <QSysInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvara::testing {
namespace {

using link::TSerialPort;

// A lock file naming the port, left by a process that does not have the port open (one that
// ended and whose number came back, or this very process): the port is not refused for it.
TEST(SerialPort, IsNeverRefusedForALockFileNobodyHolds) {
    for (const bool ownProcess : {false, true}) {
        TFakeModule module;
        std::string name = module.PortPath().substr(5);
        std::replace(name.begin(), name.end(), '/', '_');
        const std::string lock = "/var/lock/LCK.." + name;
        // A live process of the name the lock file gives, holding nothing.
        const pid_t holder = ownProcess ? getpid() : fork();
        if (holder == 0) {
            pause();
            _exit(0);
        }
        std::ofstream(lock) << holder << '\n'
                            << QCoreApplication::applicationName().toStdString() << '\n' << QSysInfo::machineHostName().toStdString() << '\n';
        TSerialPort port;
        EXPECT_TRUE(port.Open(module.PortPath(), 9600)) << port.OpenFailure().Reason.toStdString();
        port.Close();
        if (!ownProcess) {
            kill(holder, SIGKILL);
            waitpid(holder, nullptr, 0);
        }
        unlink(lock.c_str());
    }
}

} // namespace
} // namespace kelvara::testing

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
