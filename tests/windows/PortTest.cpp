// The Windows serial port against a stand-in driver that misbehaves as real drivers do: reads
// aborted or ended empty, reads failing as an unplugged adapter's do, a write never taken,
// SetupComm refused, an inherited state the driver would refuse.
#include "SerialPort.h"
#include "Win32Serial.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kelvara::link {
namespace {

// Where an I/O of the stand-in stands: OVERLAPPED's Internal holds its Win32 result.
constexpr ULONG_PTR kPending = ERROR_IO_INCOMPLETE;

class TStandIn : public TWin32Serial {
  public:
    bool RefuseSetupComm = false;
    bool WritesHang = false;
    bool IgnoresCancel = false;
    DWORD ClearCommFails = ERROR_SUCCESS; // the error ClearCommError fails with, if any
    std::string Held;                     // what the pending read holds when it is cancelled
    int Reads = 0, Cancels = 0;
    HANDLE ReadEvent = nullptr; // the event of the last read started
    DCB Set{};

    // Ends the pending read: bytes, or nothing with an error (or none: an empty read).
    void EndRead(const std::string& bytes, DWORD error = ERROR_SUCCESS) {
        ASSERT_NE(read_, nullptr);
        std::memcpy(buffer_, bytes.data(), bytes.size());
        Finish(*std::exchange(read_, nullptr), error, static_cast<DWORD>(bytes.size()));
    }

    HANDLE Open(const wchar_t*) override { return reinterpret_cast<HANDLE>(0x4b4c); }
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
    BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS*) override { return TRUE; }
    BOOL PurgeComm(HANDLE, DWORD) override { return TRUE; }
    BOOL ClearCommError(HANDLE, DWORD* errors, COMSTAT*) override {
        *errors = 0;
        return Answer(ClearCommFails == ERROR_SUCCESS, ClearCommFails);
    }
    BOOL ReadFile(HANDLE, void* buffer, DWORD, OVERLAPPED* overlapped) override {
        ++Reads;
        buffer_ = static_cast<char*>(buffer);
        read_ = overlapped;
        ReadEvent = overlapped->hEvent;
        overlapped->Internal = kPending;
        return Answer(false, ERROR_IO_PENDING);
    }
    BOOL WriteFile(HANDLE, const void*, DWORD size, OVERLAPPED* overlapped) override {
        overlapped->Internal = kPending;
        if (WritesHang)
            return Answer(false, ERROR_IO_PENDING);
        Finish(*overlapped, ERROR_SUCCESS, size);
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
    TRig() { QObject::connect(&port, &TPort::lost, [this] { ++lost; }); }
    ~TRig() { UseSerialCalls(nullptr); }
    bool Open() { return port.Open("COM10", 9600); }
};

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
        TReadCase{"AbortedThriceInARow", {995, 995, 995}, ERROR_SUCCESS, "Windows error 995"},
        TReadCase{"AbortedByAnUnplug", {ERROR_OPERATION_ABORTED}, ERROR_BAD_COMMAND, "Windows error 22"},
        TReadCase{"AccessDenied", {ERROR_ACCESS_DENIED}, ERROR_ACCESS_DENIED, "Windows error 5"},
        TReadCase{"BadCommand", {ERROR_BAD_COMMAND}, ERROR_BAD_COMMAND, "Windows error 22"},
        TReadCase{"DeviceFailed", {ERROR_GEN_FAILURE}, ERROR_GEN_FAILURE, "Windows error 31"},
        TReadCase{"DeviceNotConnected", {ERROR_DEVICE_NOT_CONNECTED}, ERROR_DEVICE_NOT_CONNECTED,
                  "Windows error 1167"}),
    [](const auto& info) { return info.param.Name; });

TEST(Port, AWriteTheDriverNeverTakesFailsWithinItsBoundAndIsCancelled) {
    TRig rig;
    ASSERT_TRUE(rig.Open());
    rig.driver->WritesHang = true;
    QElapsedTimer waited;
    waited.start();
    EXPECT_FALSE(rig.port.Write("AT\r\n"));
    EXPECT_LT(waited.elapsed(), 5000);
    EXPECT_EQ(rig.driver->Cancels, 1);
    EXPECT_EQ(rig.port.LostReason(), "nothing written for 2 s");
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
}

} // namespace
} // namespace kelvara::link

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
