// The Windows serial port against a stand-in driver that misbehaves as real drivers do: reads
// aborted or ended empty, reads failing as an unplugged adapter's do, a write never taken or
// taken slowly, bytes held beyond a read, a cancel never ended, error flags, an opening that
// blocks, SetupComm refused, an inherited state the driver would refuse.
#include "SerialPort.h"
#include "Win32Serial.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace kelvara::link {
namespace {

// Where an I/O of the stand-in stands: OVERLAPPED's Internal holds its Win32 result.
constexpr ULONG_PTR kPending = ERROR_IO_INCOMPLETE;

class TStandIn : public TWin32Serial {
  public:
    bool RefuseSetupComm = false;
    bool WritesHang = false;
    int WriteTakesMs = 0;          // a write is taken whole this long after it was handed over
    DWORD WriteTakes = MAXDWORD;   // or only this many of its bytes
    DWORD WriteFails = ERROR_SUCCESS;
    bool IgnoresCancel = false;
    DWORD ClearCommFails = ERROR_SUCCESS; // the error ClearCommError fails with, if any
    DWORD Errors = 0;                     // the error flags ClearCommError reports, once
    std::string Held;                     // what the pending read holds when it is cancelled
    std::string Queued;                   // what the driver holds beyond the pending read
    int OpenBlocksMs = 0;                 // CreateFile connects first (a Bluetooth link)
    DWORD OpenFails = ERROR_SUCCESS;
    int Reads = 0, Cancels = 0;
    std::vector<DWORD> ReadSizes;
    std::vector<OVERLAPPED*> ReadStarted;
    HANDLE ReadEvent = nullptr; // the event of the last read started
    DCB Set{};
    COMMTIMEOUTS Timeouts{};

    // Ends the pending read: bytes, or nothing with an error (or none: an empty read).
    void EndRead(const std::string& bytes, DWORD error = ERROR_SUCCESS) {
        ASSERT_NE(read_, nullptr);
        std::memcpy(buffer_, bytes.data(), bytes.size());
        Finish(*std::exchange(read_, nullptr), error, static_cast<DWORD>(bytes.size()));
    }

    HANDLE Open(const wchar_t*) override {
        Sleep(static_cast<DWORD>(OpenBlocksMs));
        if (OpenFails != ERROR_SUCCESS) {
            SetLastError(OpenFails);
            return INVALID_HANDLE_VALUE;
        }
        return reinterpret_cast<HANDLE>(0x4b4c);
    }
    BOOL SetupComm(HANDLE, DWORD, DWORD) override { return Answer(!RefuseSetupComm, ERROR_INVALID_PARAMETER); }
    // An inherited state whose XON and XOFF characters are equal, as the driver then refuses.
    BOOL GetCommState(HANDLE, DCB* dcb) override {
        *dcb = DCB{};
        dcb->DCBlength = sizeof(DCB);
        return TRUE;
    }
    BOOL SetCommState(HANDLE, DCB* dcb) override {
        Set = *dcb;
        return Answer(dcb->XonChar != dcb->XoffChar, ERROR_INVALID_PARAMETER);
    }
    BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS* timeouts) override {
        Timeouts = *timeouts;
        return TRUE;
    }
    BOOL PurgeComm(HANDLE, DWORD) override { return TRUE; }
    BOOL ClearCommError(HANDLE, DWORD* errors, COMSTAT* status) override {
        *errors = std::exchange(Errors, 0);
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(Queued.size());
        return Answer(ClearCommFails == ERROR_SUCCESS, ClearCommFails);
    }
    BOOL ReadFile(HANDLE, void* buffer, DWORD size, OVERLAPPED* overlapped) override {
        ++Reads;
        ReadSizes.push_back(size);
        ReadStarted.push_back(overlapped);
        ReadEvent = overlapped->hEvent;
        overlapped->Internal = kPending;
        // Bytes already held: the read ends at once with as many as it asked for.
        if (!Queued.empty()) {
            const auto count = static_cast<DWORD>(std::min<std::size_t>(size, Queued.size()));
            std::memcpy(buffer, Queued.data(), count);
            Queued.erase(0, count);
            Finish(*overlapped, ERROR_SUCCESS, count);
            return TRUE;
        }
        buffer_ = static_cast<char*>(buffer);
        read_ = overlapped;
        return Answer(false, ERROR_IO_PENDING);
    }
    BOOL WriteFile(HANDLE, const void*, DWORD size, OVERLAPPED* overlapped) override {
        overlapped->Internal = kPending;
        if (WriteFails != ERROR_SUCCESS)
            return Answer(false, WriteFails);
        if (WritesHang)
            return Answer(false, ERROR_IO_PENDING);
        const DWORD taken = std::min(size, WriteTakes);
        if (WriteTakesMs > 0) {
            QTimer::singleShot(WriteTakesMs, [overlapped, taken] { Finish(*overlapped, ERROR_SUCCESS, taken); });
            return Answer(false, ERROR_IO_PENDING);
        }
        Finish(*overlapped, ERROR_SUCCESS, taken);
        return TRUE;
    }
    BOOL GetOverlappedResult(HANDLE, OVERLAPPED* overlapped, DWORD* count, BOOL) override {
        *count = static_cast<DWORD>(overlapped->InternalHigh);
        return Answer(overlapped->Internal == ERROR_SUCCESS, static_cast<DWORD>(overlapped->Internal));
    }
    BOOL CancelIoEx(HANDLE, OVERLAPPED* overlapped) override {
        ++Cancels;
        if (IgnoresCancel)
            return TRUE;
        if (overlapped == read_) {
            EndRead(Held, ERROR_OPERATION_ABORTED);
        } else if (overlapped->Internal == kPending) {
            Finish(*overlapped, ERROR_OPERATION_ABORTED, 0);
        }
        return TRUE;
    }
    BOOL CloseHandle(HANDLE) override { return TRUE; }

  private:
    static BOOL Answer(bool ok, DWORD error) {
        if (!ok)
            SetLastError(error);
        return ok ? TRUE : FALSE;
    }
    static void Finish(OVERLAPPED& overlapped, DWORD error, DWORD count) {
        overlapped.Internal = error;
        overlapped.InternalHigh = count;
        SetEvent(overlapped.hEvent);
    }
    OVERLAPPED* read_ = nullptr;
    char* buffer_ = nullptr;
};

struct TRig {
    std::shared_ptr<TStandIn> driver = std::make_shared<TStandIn>();
    bool standingIn = (UseSerialCalls(driver), true);
    TSerialPort port;
    int lost = 0;
    qint64 written = 0;
    std::vector<bool> opened;
    QStringList trouble;
    TRig() {
        QObject::connect(&port, &TPort::lost, [this] { ++lost; });
        QObject::connect(&port, &TPort::bytesWritten, [this](qint64 bytes) { written += bytes; });
        QObject::connect(&port, &TPort::opened, [this](bool open) { opened.push_back(open); });
        QObject::connect(&port, &TPort::trouble, [this](const QString& what) { trouble << what; });
    }
    ~TRig() { UseSerialCalls(nullptr); }
    bool Open() { return port.Open("COM10", 9600); }
    // Runs the event loop until done, and gives the longest the loop went without turning.
    qint64 LongestStall(const std::function<bool()>& done, int withinMs) {
        QElapsedTimer clock, since;
        clock.start();
        since.start();
        qint64 longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, since.restart()); });
        tick.start(1);
        EXPECT_TRUE(QTest::qWaitFor(done, withinMs));
        return longest;
    }
};

// COM1 to COM256, and the other names the registry lists ports under; nothing else.
TEST(Port, NamesArePortsWhenWindowsListsThem) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t listed[] = L"CNCA0";
    ASSERT_EQ(RegSetValueExW(key, L"\\Device\\KelvaraTest0", 0, REG_SZ, reinterpret_cast<const BYTE*>(listed),
                             sizeof listed),
              ERROR_SUCCESS);
    EXPECT_EQ(DevicePath("COM3"), "\\\\.\\COM3");
    EXPECT_EQ(DevicePath("com256"), "\\\\.\\com256");
    EXPECT_EQ(DevicePath("\\\\.\\COM7"), "\\\\.\\COM7");
    EXPECT_EQ(DevicePath("CNCA0"), "\\\\.\\CNCA0");
    EXPECT_EQ(DevicePath("cnca0"), "\\\\.\\cnca0");
    EXPECT_EQ(DevicePath("\\\\.\\CNCA0"), "\\\\.\\CNCA0");
    EXPECT_TRUE(TSerialPort::PortExists("CNCA0"));
    for (const char* name : {"CNCB0", "COM0", "COM257", "COM", "..\\CNCA0", "CNCA0\\x", "C:\\x", ""})
        EXPECT_EQ(DevicePath(name), "") << name;
    EXPECT_EQ(DevicePath(std::string("CNCA0\0", 6)), "");
    RegDeleteValueW(key, L"\\Device\\KelvaraTest0");
    RegCloseKey(key);
    EXPECT_EQ(DevicePath("CNCA0"), "");
}

TEST(Port, OpensWhereTheDriverRefusesTheBufferSizesOrTheInheritedState) {
    TRig rig;
    rig.driver->RefuseSetupComm = true;
    ASSERT_TRUE(rig.Open()) << rig.port.OpenFailure().Reason.toStdString();
    EXPECT_EQ(rig.driver->Set.XonChar, 0x11);
    EXPECT_EQ(rig.driver->Set.XoffChar, 0x13);
    EXPECT_EQ(rig.driver->Set.BaudRate, 9600u);
}

struct TReadCase {
    const char* Name;
    std::vector<DWORD> Ends; // how the reads end, in a row, with nothing read
    DWORD ClearCommFails;
    std::string Lost; // the reason given, or empty when the port is read again
};

void PrintTo(const TReadCase& c, std::ostream* out) { *out << c.Name; }

class ReadEnds : public ::testing::TestWithParam<TReadCase> {};

TEST_P(ReadEnds, AsThePortIsStillThereOrNot) {
    const TReadCase& c = GetParam();
    TRig rig;
    ASSERT_TRUE(rig.Open());
    rig.driver->ClearCommFails = c.ClearCommFails;
    for (const DWORD error : c.Ends) {
        const int reads = rig.driver->Reads;
        rig.driver->EndRead({}, error);
        ASSERT_TRUE(QTest::qWaitFor([&] { return rig.driver->Reads > reads || rig.lost > 0; }, 2000));
    }
    // No event is left set for a read that has ended: the event loop would wake for it again
    // and again.
    QTest::qWait(20);
    EXPECT_EQ(WaitForSingleObject(rig.driver->ReadEvent, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(rig.lost, c.Lost.empty() ? 0 : 1);
    EXPECT_EQ(rig.port.LostReason(), c.Lost);
    if (c.Lost.empty()) {
        rig.driver->EndRead("OK");
        ASSERT_TRUE(QTest::qWaitFor([&] { return rig.driver->Reads == int(c.Ends.size()) + 2; }, 2000));
        EXPECT_EQ(rig.port.ReadAll(), "OK");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Port, ReadEnds,
    ::testing::Values(
        TReadCase{"AbortedWithThePortThere", {ERROR_OPERATION_ABORTED}, ERROR_SUCCESS, ""},
        TReadCase{"EmptyWithThePortThere", {ERROR_SUCCESS, ERROR_SUCCESS}, ERROR_SUCCESS, ""},
        TReadCase{"FailedOnceWithThePortThere", {ERROR_GEN_FAILURE}, ERROR_SUCCESS, ""},
        // Aborted with the port there is no data: it never counts against the port.
        TReadCase{"AbortedThriceWithThePortThere", {995, 995, 995}, ERROR_SUCCESS, ""},
        // Failed reads count, through aborted and empty ones; the reason is the last failure's.
        TReadCase{"FailedThriceWithThePortThere", {31, 995, 31, 0, 22}, ERROR_SUCCESS, "Windows error 22"},
        TReadCase{"AbortedByAnUnplug", {ERROR_OPERATION_ABORTED}, ERROR_BAD_COMMAND, "Windows error 22"},
        TReadCase{"AccessDenied", {ERROR_ACCESS_DENIED}, ERROR_ACCESS_DENIED, "Windows error 5"},
        TReadCase{"BadCommand", {ERROR_BAD_COMMAND}, ERROR_BAD_COMMAND, "Windows error 22"},
        TReadCase{"DeviceFailed", {ERROR_GEN_FAILURE}, ERROR_GEN_FAILURE, "Windows error 31"},
        TReadCase{"DeviceNotConnected", {ERROR_DEVICE_NOT_CONNECTED}, ERROR_DEVICE_NOT_CONNECTED,
                  "Windows error 1167"}),
    [](const auto& info) { return info.param.Name; });

// Writes are queued and never waited for: a slow write that its length needs at the port's rate
// succeeds; one the driver never takes, or takes short, or refuses, fails with its reason.
TEST(Port, WritesAreNeverWaitedForAndHaveTheTimeTheirLengthNeeds) {
    const std::string longest(4096, 'x'); // 4.3 s on the wire at 9600 baud
    {
        TRig rig;
        ASSERT_TRUE(rig.Open());
        EXPECT_EQ(rig.driver->Timeouts.WriteTotalTimeoutConstant, 2000u);
        EXPECT_EQ(rig.driver->Timeouts.WriteTotalTimeoutMultiplier, 3u); // twice a byte's time
        rig.driver->WriteTakesMs = 2600; // past the 2.5 s any write once had
        EXPECT_TRUE(rig.port.Write(longest));
        rig.driver->WriteTakesMs = 0;
        EXPECT_TRUE(rig.port.Write("AT\r\n")); // queued behind it
        EXPECT_EQ(rig.written, 0);
        const qint64 stall = rig.LongestStall([&] { return rig.written == 4100; }, 8000);
        EXPECT_LT(stall, 2600 / 10);
        EXPECT_EQ(rig.lost, 0);
    }
    struct TCase {
        const char* Name;
        std::string Bytes;
        std::function<void(TStandIn&)> Driver;
        bool Taken; // what Write said
        std::string Lost;
        int Cancels;
    };
    for (const TCase& c : std::vector<TCase>{
             {"never taken", "AT\r\n", [](TStandIn& d) { d.WritesHang = true; }, true, "nothing written for 2 s", 1},
             {"taken short", longest, [](TStandIn& d) { d.WriteTakes = 100; }, true,
              "only 100 of 4096 bytes written in 14 s", 0},
             {"refused", longest, [](TStandIn& d) { d.WriteFails = ERROR_GEN_FAILURE; }, false,
              "Windows error 31", 0}}) {
        SCOPED_TRACE(c.Name);
        TRig rig;
        ASSERT_TRUE(rig.Open());
        c.Driver(*rig.driver);
        EXPECT_EQ(rig.port.Write(c.Bytes), c.Taken);
        if (c.Taken) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return rig.lost == 1; }, 5000));
        }
        EXPECT_EQ(rig.port.LostReason(), c.Lost);
        EXPECT_EQ(rig.driver->Cancels, c.Cancels);
        EXPECT_FALSE(rig.port.Write("AT")); // nothing is sent after a failure
        QTest::qWait(20);
        EXPECT_EQ(rig.lost, c.Taken ? 1 : 0);
    }
}

TEST(Port, DiscardingHandsOverWhatThePendingReadHeld) {
    TRig rig;
    ASSERT_TRUE(rig.Open());
    rig.driver->Held = "+READY";
    EXPECT_EQ(rig.port.DiscardInput(), "+READY");
    EXPECT_EQ(rig.driver->Cancels, 1);
    EXPECT_EQ(rig.driver->Reads, 2); // and another read is pending
    rig.driver->Held.clear();
    QTest::qWait(50);
    EXPECT_EQ(rig.lost, 0);

    // A driver that does not end the cancelled read: the port is lost, told from the event loop.
    rig.driver->IgnoresCancel = true;
    EXPECT_EQ(rig.port.DiscardInput(), "");
    EXPECT_EQ(rig.lost, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.lost == 1; }, 1000));
    EXPECT_EQ(rig.port.LostReason(), "a read the driver would not end");
    rig.driver->IgnoresCancel = false;

    // Opened again, it starts clean: the read the driver kept is not reused, reads work, the
    // old reason is gone and failed reads are counted anew.
    rig.port.Close();
    OVERLAPPED* const kept = rig.driver->ReadStarted.back();
    ASSERT_TRUE(rig.Open());
    EXPECT_NE(rig.driver->ReadStarted.back(), kept);
    EXPECT_EQ(rig.port.LostReason(), "");
    rig.driver->EndRead("OK");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.port.ReadAll() == "OK"; }, 2000));

    // Bytes the driver holds beyond the pending read are handed over too, and a read started
    // while bytes wait asks for all of them.
    rig.driver->Held = "+READY";
    rig.driver->Queued = std::string(300, 'q');
    EXPECT_EQ(rig.port.DiscardInput(), "+READY" + std::string(300, 'q'));
    EXPECT_EQ(rig.driver->ReadSizes.back(), 128u);
    rig.driver->Held.clear();
    rig.driver->Queued = std::string(1000, 'r');
    rig.driver->EndRead("a");
    std::string read;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (read += rig.port.ReadAll()).size() == 1001; }, 2000));
    EXPECT_EQ(read, "a" + std::string(1000, 'r'));
    EXPECT_NE(std::find(rig.driver->ReadSizes.begin(), rig.driver->ReadSizes.end(), 1000u),
              rig.driver->ReadSizes.end());

    // The driver's error flags are told, and the port goes on.
    rig.driver->Errors = CE_OVERRUN | CE_FRAME;
    rig.driver->EndRead({}, ERROR_OPERATION_ABORTED);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.trouble.isEmpty(); }, 2000));
    EXPECT_EQ(rig.trouble, QStringList{"bytes lost or garbled before they were read (the adapter "
                                       "could not keep up, framing error)"});
    EXPECT_EQ(rig.lost, 1);
}

// A port whose opening blocks (a Bluetooth link's, connecting first) is opened away from the
// event loop: the loop turns meanwhile, and the outcome is told when the opening ends.
TEST(Port, AnOpeningThatBlocksNeverHoldsUpTheEventLoop) {
    TRig rig;
    rig.driver->OpenBlocksMs = 3000;
    rig.driver->OpenFails = ERROR_SEM_TIMEOUT;
    rig.port.OpenLater("COM10", 9600);
    EXPECT_TRUE(rig.port.Opening());
    const qint64 stall = rig.LongestStall([&] { return !rig.opened.empty(); }, 10000);
    EXPECT_LT(stall, 3000 / 10);
    EXPECT_EQ(rig.opened, std::vector<bool>{false});
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(rig.port.OpenFailure().Kind, TOpenFailure::TKind::Other);

    // Tried again once the device is there, it opens.
    rig.driver->OpenBlocksMs = 10;
    rig.driver->OpenFails = ERROR_SUCCESS;
    rig.port.OpenLater("COM10", 9600);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.opened.size() == 2; }, 5000));
    EXPECT_TRUE(rig.opened.back());
    EXPECT_TRUE(rig.port.IsOpen());
    EXPECT_EQ(rig.driver->Reads, 1);

    // An opening given up by a close leaves the port closed.
    rig.port.Close();
    rig.driver->OpenBlocksMs = 200;
    rig.port.OpenLater("COM10", 9600);
    rig.port.Close();
    QTest::qWait(400);
    EXPECT_EQ(rig.opened.size(), 2u);
    EXPECT_FALSE(rig.port.IsOpen());
}

} // namespace
} // namespace kelvara::link

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
