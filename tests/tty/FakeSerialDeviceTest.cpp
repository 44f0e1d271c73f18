// The scripting surface of the fake serial device that the port engine's tests drive.
#include "tty/FakeSerialDevice.h"

#include <gtest/gtest.h>

#include "support/DeviceWait.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr auto Deadline = 5s;

using testsupport::StartWait;
using testsupport::TWaitResult;

class FakeSerialDeviceTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(Device.Open("COM10"), 0); }

  std::string ReadAll(uint32_t count) {
    std::string bytes(count, '\0');
    uint32_t done = 0;
    EXPECT_EQ(Device.Read(bytes.data(), count, done), 0);
    bytes.resize(done);
    return bytes;
  }

  TWaitResult WaitNow() {
    uint32_t mask = 0;
    const int error = Device.WaitCommEvent(mask);
    return {error, mask};
  }

  TFakeSerialDevice Device;
};

TEST_F(FakeSerialDeviceTest, aScriptedFailureHitsItsCallTheGivenNumberOfTimes) {
  uint32_t value = 0;
  COMSTAT stat;
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  char byte = 'x';
  const struct {
    TFakeOp Op;
    int Error;
    std::function<int()> Call;
  } cases[] = {
      {TFakeOp::SetupComm, EINVAL, [&] { return Device.SetupComm(1024, 1024); }},
      {TFakeOp::SetCommState, EIO, [&] { return Device.SetCommState(dcb); }},
      {TFakeOp::SetCommTimeouts, EIO, [&] { return Device.SetCommTimeouts(DefaultCommTimeouts()); }},
      {TFakeOp::SetCommMask, EIO, [&] { return Device.SetCommMask(EV_RXCHAR); }},
      {TFakeOp::ClearCommError, ENXIO, [&] { return Device.ClearCommError(value, stat); }},
      {TFakeOp::GetCommModemStatus, EIO, [&] { return Device.GetCommModemStatus(value); }},
      {TFakeOp::PurgeComm, EIO, [&] { return Device.PurgeComm(PURGE_RXABORT | PURGE_TXABORT); }},
      {TFakeOp::Read, EIO, [&] { return Device.Read(&byte, 1, value); }},
      {TFakeOp::Write, EAGAIN, [&] { return Device.Write(&byte, 1, value); }},
      {TFakeOp::WaitCommEvent, EIO, [&] { return Device.WaitCommEvent(value); }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(FakeOpName(c.Op));
    Device.Fail(c.Op, c.Error, 2);
    EXPECT_EQ(c.Call(), c.Error);
    EXPECT_EQ(TSerialDevice::LastError(), c.Error);
    EXPECT_EQ(c.Call(), c.Error);
    if (c.Op != TFakeOp::WaitCommEvent) { // a successful wait would sleep
      EXPECT_EQ(c.Call(), 0);
    }
  }
}

TEST_F(FakeSerialDeviceTest, aFailureForEverStaysUntilCleared) {
  TFakeSerialDevice device;
  device.Fail(TFakeOp::Open, EACCES);
  EXPECT_EQ(device.Open("ttyUSB0"), EACCES);
  EXPECT_EQ(device.Open("ttyUSB0"), EACCES);
  EXPECT_FALSE(device.IsOpen());
  device.ClearFailures();
  EXPECT_EQ(device.Open("ttyUSB0"), 0);
  EXPECT_EQ(device.OpenedName(), "ttyUSB0");
  EXPECT_EQ(device.Open("ttyUSB0"), EBUSY);
}

TEST_F(FakeSerialDeviceTest, callsAreLoggedInOrderWithTheirArguments) {
  Device.ClearCalls();
  DCB dcb;
  dcb.BaudRate = 19200;
  dcb.ByteSize = 8;
  ASSERT_EQ(Device.SetupComm(1024, 512), 0);
  ASSERT_EQ(Device.SetCommState(dcb), 0);
  ASSERT_EQ(Device.SetCommTimeouts(COMMTIMEOUTS{MAXDWORD, 0, 0, 100, 1000}), 0);
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR | EV_TXEMPTY), 0);
  uint32_t done = 0;
  ASSERT_EQ(Device.Write("abc", 3, done), 0);
  ASSERT_EQ(Device.PurgeComm(PURGE_TXABORT | PURGE_RXABORT), 0);
  ASSERT_EQ(Device.Close(), 0);
  const std::vector<std::string> expected = {"SetupComm(1024,512)", "SetCommState", "SetCommTimeouts",
                                             "SetCommMask(0x5)",    "Write(3)",     "PurgeComm(0x3)",
                                             "Close"};
  EXPECT_EQ(Device.Calls(), expected);
  EXPECT_EQ(Device.CallNames().front(), "SetupComm");
  EXPECT_EQ(Device.CallCount(TFakeOp::Write), 1);
  EXPECT_EQ(Device.Dcb().BaudRate, 19200u);
  EXPECT_EQ(Device.Timeouts().WriteTotalTimeoutConstant, 1000u);
  EXPECT_EQ(Device.InQueueSize(), 1024u);
  EXPECT_EQ(Device.OutQueueSize(), 512u);
  EXPECT_EQ(Device.Written(), "abc");
}

TEST_F(FakeSerialDeviceTest, injectedBytesRaiseTheirEventsAndAreReadOnce) {
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.EvtChar = '0';
  ASSERT_EQ(Device.SetCommState(dcb), 0);
  ASSERT_EQ(Device.SetupComm(10, 10), 0);
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR | EV_RXFLAG | EV_RX80FULL), 0);
  const struct {
    std::string Bytes;
    uint32_t Events;
  } cases[] = {
      {"#1M5<", EV_RXCHAR},
      {"#8M2.0<", EV_RXCHAR | EV_RXFLAG},
      {"#2M1.25<", EV_RXCHAR | EV_RX80FULL},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Bytes);
    Device.InjectRx(c.Bytes);
    const TWaitResult event = WaitNow();
    EXPECT_EQ(event.Error, 0);
    EXPECT_EQ(event.Mask, c.Events);
    uint32_t errors = 0;
    COMSTAT stat;
    ASSERT_EQ(Device.ClearCommError(errors, stat), 0);
    EXPECT_EQ(stat.cbInQue, c.Bytes.size());
    EXPECT_EQ(ReadAll(100), c.Bytes);
  }
  Device.SetReadLimit(2);
  Device.InjectRx("abcde");
  EXPECT_EQ(ReadAll(5), "ab");
  ASSERT_EQ(Device.PurgeComm(PURGE_RXCLEAR), 0);
  EXPECT_EQ(Device.Pending(), 0u);
}

TEST_F(FakeSerialDeviceTest, onlyEventsInTheMaskAreRecorded) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR | EV_DSR), 0);
  Device.InjectEvents(EV_CTS | EV_RING);
  Device.InjectEvents(EV_DSR);
  EXPECT_EQ(WaitNow().Mask, EV_DSR);
  Device.InjectEvents(EV_CTS);
  ASSERT_EQ(Device.SetCommMask(EV_CTS), 0);
  auto wait = StartWait(Device);
  ASSERT_TRUE(Device.WaitUntilWaiting(Deadline)) << "a new mask forgets events recorded under the old one";
  Device.InjectEvents(EV_CTS);
  ASSERT_EQ(wait.wait_for(Deadline), std::future_status::ready);
  EXPECT_EQ(wait.get().Mask, EV_CTS);
}

TEST_F(FakeSerialDeviceTest, modemLinesLineErrorsAndWritesRaiseTheirEvents) {
  ASSERT_EQ(Device.SetCommMask(EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_ERR | EV_BREAK | EV_TXEMPTY), 0);
  const struct {
    const char *Name;
    std::function<void()> Act;
    uint32_t Events;
  } cases[] = {
      {"CTS and ring rise", [&] { Device.SetModemStatus(MS_CTS_ON | MS_RING_ON); }, EV_CTS},
      {"ring ends", [&] { Device.SetModemStatus(MS_CTS_ON); }, EV_RING},
      {"DSR and RLSD rise", [&] { Device.SetModemStatus(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON); }, EV_DSR | EV_RLSD},
      {"frame error and break", [&] { Device.InjectLineErrors(CE_FRAME | CE_BREAK); }, EV_ERR | EV_BREAK},
      {"a write drains", [&] {
         uint32_t done = 0;
         Device.Write("x", 1, done);
       }, EV_TXEMPTY},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    c.Act();
    EXPECT_EQ(WaitNow().Mask, c.Events);
  }
  uint32_t status = 0, errors = 0;
  COMSTAT stat;
  ASSERT_EQ(Device.GetCommModemStatus(status), 0);
  EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  ASSERT_EQ(Device.ClearCommError(errors, stat), 0);
  EXPECT_EQ(errors, CE_FRAME | CE_BREAK);
  ASSERT_EQ(Device.ClearCommError(errors, stat), 0);
  EXPECT_EQ(errors, 0u) << "reading the errors clears them";
  Device.SetModemStatus(0, false);
  Device.InjectEvents(EV_RXCHAR | EV_TXEMPTY); // RXCHAR is outside the mask
  EXPECT_EQ(WaitNow().Mask, EV_TXEMPTY) << "a silent line change raised nothing";
}

TEST_F(FakeSerialDeviceTest, aWaitSleepsUntilAnEventCancelOrClose) {
  for (const char *how : {"event", "cancel", "close"}) {
    SCOPED_TRACE(how);
    Device.Close(); // a fresh open clears the stop signal of the case before
    ASSERT_EQ(Device.Open("COM10"), 0);
    ASSERT_EQ(Device.SetCommMask(EV_RXCHAR), 0);
    auto wait = StartWait(Device);
    ASSERT_TRUE(Device.WaitUntilWaiting(Deadline));
    uint32_t mask = 0;
    EXPECT_EQ(Device.WaitCommEvent(mask), EBUSY) << "one waiter at a time";
    EXPECT_EQ(wait.wait_for(10ms), std::future_status::timeout);
    const std::string name = how;
    if (name == "event")
      Device.InjectRx("x");
    else if (name == "cancel")
      ASSERT_EQ(Device.CancelWait(), 0);
    else
      ASSERT_EQ(Device.Close(), 0);
    ASSERT_EQ(wait.wait_for(Deadline), std::future_status::ready);
    const TWaitResult result = wait.get();
    EXPECT_EQ(result.Error, name == "event" ? 0 : ECANCELED);
    EXPECT_FALSE(Device.Waiting());
    if (name == "cancel") {
      EXPECT_TRUE(Device.CancelRequested());
      EXPECT_EQ(WaitNow().Error, ECANCELED) << "the stop signal stays set";
    }
  }
  EXPECT_EQ(WaitNow().Error, EBADF);
}

TEST_F(FakeSerialDeviceTest, aHangupEndsThePendingWaitAndEveryLaterOne) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR), 0);
  Device.InjectRx("ab");
  EXPECT_EQ(WaitNow().Mask, EV_RXCHAR);
  auto wait = StartWait(Device);
  ASSERT_TRUE(Device.WaitUntilWaiting(Deadline));
  Device.Hangup(ENXIO);
  ASSERT_EQ(wait.wait_for(Deadline), std::future_status::ready);
  EXPECT_EQ(wait.get().Error, ENXIO);
  EXPECT_TRUE(Device.HungUp());
  EXPECT_EQ(WaitNow().Error, ENXIO);
  EXPECT_EQ(ReadAll(2), "ab") << "what arrived before the hangup stays readable";
  uint32_t done = 0;
  char byte;
  EXPECT_EQ(Device.Read(&byte, 1, done), ENXIO);
  EXPECT_EQ(Device.Write("x", 1, done), ENXIO);
  EXPECT_EQ(Device.Close(), 0);
  ASSERT_EQ(Device.Open("COM10"), 0);
  EXPECT_FALSE(Device.HungUp()) << "a new open starts afresh";
}

} // namespace
