// The port on a scripted device: the numbered failures and their two routes, the order of the
// open and close notifications, batch and link order, the receive path, the three sync methods,
// the event thread's end through an exception or a hangup, and closing from inside a batch.
#include "serial/ComPort.h"
#include "serial/ComStateHint.h"
#include "serial/ComThread.h"

#include "platform/Application.h"
#include "tty/FakeSerialDevice.h"
#include "platform/GuiThread.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Waits on the event loop, looking every 5 ms at what other threads change.
bool RunUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = testsupport::Deadline) {
  return testsupport::RunLoopUntil(done, limit, 5ms);
}

// Waits until the port's event thread has handed over its next batch. With no event loop running
// here the batch stays queued: smThreadSync's thread then waits for the line again, smWindowSync's
// stays in its hand-off.
bool WaitUntilTaken(const TFakeSerialDevice &device, const TComPort &port, uint64_t batchesBefore) {
  const bool deferred = port.SyncMethod() == smThreadSync;
  QDeadlineTimer deadline(2000);
  while (deferred ? port.EventThread()->Batches() <= batchesBefore : device.Waiting()) {
    if (deadline.hasExpired())
      return false;
    std::this_thread::yield();
  }
  return true;
}

class TLog {
public:
  void Add(const std::string &item) {
    std::lock_guard lock(FMutex);
    FItems.push_back(item);
  }
  std::vector<std::string> Items() const {
    std::lock_guard lock(FMutex);
    return FItems;
  }
  size_t Size() const {
    std::lock_guard lock(FMutex);
    return FItems.size();
  }
  bool Contains(const std::string &item) const {
    std::lock_guard lock(FMutex);
    return std::find(FItems.begin(), FItems.end(), item) != FItems.end();
  }
  void Clear() {
    std::lock_guard lock(FMutex);
    FItems.clear();
  }

private:
  mutable std::mutex FMutex;
  std::vector<std::string> FItems;
};

std::string On(bool on) { return on ? "(1)" : "(0)"; }

// A link whose slots log themselves as "Name.Slot(arguments)"; received blocks as their count.
std::unique_ptr<TComLink> LoggingLink(TLog &log, const std::string &name, bool consumer) {
  auto link = std::make_unique<TComLink>();
  link->OnConnChange = [&log, name](TObject *, bool on) { log.Add(name + ".Conn" + On(on)); };
  if (consumer)
    link->OnRxBuf = [&log, name](TObject *, const char *, int32_t n) {
      log.Add(name + ".RxBuf(" + std::to_string(n) + ")");
    };
  link->OnTxData = [&log, name](TObject *, const char *b, int32_t n) {
    log.Add(name + ".TxData(" + std::string(b, size_t(n)) + ")");
  };
  link->OnTxEmpty = [&log, name](TObject *) { log.Add(name + ".TxEmpty"); };
  link->OnRxFlag = [&log, name](TObject *) { log.Add(name + ".RxFlag"); };
  link->OnCTSChange = [&log, name](TObject *, bool on) { log.Add(name + ".CTS" + On(on)); };
  link->OnDSRChange = [&log, name](TObject *, bool on) { log.Add(name + ".DSR" + On(on)); };
  link->OnRLSDChange = [&log, name](TObject *, bool on) { log.Add(name + ".RLSD" + On(on)); };
  link->OnRing = [&log, name](TObject *) { log.Add(name + ".Ring"); };
  link->OnTxActivity = [&log, name](TObject *, bool on) { log.Add(name + ".Tx" + On(on)); };
  link->OnRxActivity = [&log, name](TObject *, bool on) { log.Add(name + ".Rx" + On(on)); };
  return link;
}

void LogPortEvents(TCustomComPort &port, TLog &log) {
  port.OnBeforeOpen = [&log](TObject *) { log.Add("BeforeOpen"); };
  port.OnAfterOpen = [&log](TObject *) { log.Add("AfterOpen"); };
  port.OnBeforeClose = [&log](TObject *) { log.Add("BeforeClose"); };
  port.OnAfterClose = [&log](TObject *) { log.Add("AfterClose"); };
  port.OnRxChar = [&log](TObject *, int32_t n) { log.Add("RxChar(" + std::to_string(n) + ")"); };
  port.OnRxBuf = [&log](TObject *, const char *, int32_t n) { log.Add("RxBuf(" + std::to_string(n) + ")"); };
  port.OnTxEmpty = [&log](TObject *) { log.Add("TxEmpty"); };
  port.OnBreak = [&log](TObject *) { log.Add("Break"); };
  port.OnRing = [&log](TObject *) { log.Add("Ring"); };
  port.OnRxFlag = [&log](TObject *) { log.Add("RxFlag"); };
  port.OnRx80Full = [&log](TObject *) { log.Add("Rx80Full"); };
  port.OnCTSChange = [&log](TObject *, bool on) { log.Add("CTS" + On(on)); };
  port.OnDSRChange = [&log](TObject *, bool on) { log.Add("DSR" + On(on)); };
  port.OnRLSDChange = [&log](TObject *, bool on) { log.Add("RLSD" + On(on)); };
  port.OnError = [&log](TObject *, TComErrors e) { log.Add("Error(" + std::to_string(e.Bits()) + ")"); };
}

// Device calls without the thread's waits, whose place among the others depends on timing.
std::vector<std::string> CallsWithoutWaits(const TFakeSerialDevice &device) {
  std::vector<std::string> calls = device.Calls();
  calls.erase(std::remove(calls.begin(), calls.end(), "WaitCommEvent"), calls.end());
  return calls;
}

// Collects what the application's exception display is given.
class TShownMessages {
public:
  TShownMessages() {
    FPrevious = SetExceptionSink([this](const std::string &m) {
      std::lock_guard lock(FMutex);
      FMessages.push_back(m);
    });
  }
  ~TShownMessages() { SetExceptionSink(FPrevious); }
  std::vector<std::string> Messages() const {
    std::lock_guard lock(FMutex);
    return FMessages;
  }

private:
  mutable std::mutex FMutex;
  std::vector<std::string> FMessages;
  TExceptionSink FPrevious;
};

// A port whose window procedure logs the messages it is sent.
class TRecordingPort : public TComPort {
public:
  using TComPort::TComPort;
  TLog *Messages = nullptr;

protected:
  void WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    if (Messages)
      Messages->Add("Msg(" + std::to_string(message) + "," + std::to_string(wParam) + ")");
    TComPort::WindowProc(message, wParam, lParam);
  }
};

class ComPortFake : public ::testing::Test {
protected:
  std::shared_ptr<TFakeSerialDevice> Device = std::make_shared<TFakeSerialDevice>();
  TShownMessages Shown;
  TLog Log;
  std::vector<std::unique_ptr<TComLink>> OwnedLinks; // outlive the port, which may still call them
  TRecordingPort Port;

  TComLink *Keep(std::unique_ptr<TComLink> link) {
    OwnedLinks.push_back(std::move(link));
    return OwnedLinks.back().get();
  }

  void SetUp() override {
    Port.SetDeviceFactory([d = Device] { return d; });
    LogPortEvents(Port, Log);
  }
  void OpenAndWait() {
    Port.SetConnected(true);
    ASSERT_TRUE(Device->WaitUntilWaiting(2s));
    Log.Clear();
  }
  void TearDown() override {
    try {
      Port.SetConnected(false);
    } catch (...) {
    }
  }
};

// --- failures ---------------------------------------------------------------------------------------

struct TFailureCase {
  const char *Name;
  std::function<void(TFakeSerialDevice &, TComPort &)> Setup;
  std::function<void(TComPort &)> Action;
  int Code;
  const char *Message;
  int64_t WinError; // as given to OnException
};

std::vector<TFailureCase> FailureCases() {
  auto open = [](TFakeSerialDevice &, TComPort &p) { p.SetConnected(true); };
  auto openThenFail = [](TFakeOp op, int error) {
    return [op, error](TFakeSerialDevice &d, TComPort &p) {
      p.SetConnected(true);
      d.Fail(op, error);
    };
  };
  auto fail = [](TFakeOp op, int error) { return [op, error](TFakeSerialDevice &d, TComPort &) { d.Fail(op, error); }; };
  auto connect = [](TComPort &p) { p.SetConnected(true); };
  auto nothing = [](TFakeSerialDevice &, TComPort &) {};
  static TComLink consumer;
  consumer.OnRxBuf = [](TObject *, const char *, int32_t) {};
  return {
      {"open", fail(TFakeOp::Open, ENOENT), connect, 1, "Unable to open com port", ENOENT},
      {"open busy", fail(TFakeOp::Open, EBUSY), connect, 1, "Unable to open com port", EBUSY},
      {"write", openThenFail(TFakeOp::Write, EIO), [](TComPort &p) { p.WriteText("ab"); }, 2, "WriteFile function failed", EIO},
      {"read", openThenFail(TFakeOp::Read, EIO), [](TComPort &p) { char b[4]; p.ReadBytes(b, 4); }, 3, "ReadFile function failed", EIO},
      {"no request", open, [](TComPort &p) { p.WaitAsync(nullptr); }, 4, "Invalid Async parameter", 0},
      {"no request write", open, [](TComPort &p) { p.WriteBytesAsync("a", 1, nullptr); }, 4, "Invalid Async parameter", 0},
      {"purge", openThenFail(TFakeOp::PurgeComm, EIO), [](TComPort &p) { p.AbortAllIo(); }, 5, "PurgeComm function failed", EIO},
      {"line settings", fail(TFakeOp::SetCommState, EINVAL), connect, 7, "SetCommState function failed", EINVAL},
      {"timeouts", fail(TFakeOp::SetCommTimeouts, EINVAL), connect, 8, "SetCommTimeouts failed", EINVAL},
      {"queue sizes", fail(TFakeOp::SetupComm, ENOMEM), connect, 9, "SetupComm function failed", ENOMEM},
      {"bytes waiting", openThenFail(TFakeOp::ClearCommError, EIO), [](TComPort &p) { p.BytesWaiting(); }, 10, "ClearCommError function failed", EIO},
      {"line errors", openThenFail(TFakeOp::ClearCommError, EIO), [](TComPort &p) { p.ReadLineErrors(); }, 10, "ClearCommError function failed", EIO},
      {"modem status", openThenFail(TFakeOp::GetCommModemStatus, EIO), [](TComPort &p) { p.ModemSignals(); }, 11, "GetCommModemStatus function failed", EIO},
      {"sync method", open, [](TComPort &p) { p.SetSyncMethod(smNone); }, 14, "Cannot set property while connected", 0},
      {"attach twice", nothing, [](TComPort &p) { p.AttachLink(&consumer); p.AttachLink(&consumer); }, 18, "Link (un)registration failed", 0},
      {"detach unknown", nothing, [](TComPort &p) { TComLink other; p.DetachLink(&other); }, 18, "Link (un)registration failed", 0},
      {"triggers with consumer", [](TFakeSerialDevice &, TComPort &p) { p.AttachLink(&consumer); },
       [](TComPort &p) { p.SetTriggersOnRxChar(false); }, 22, "A component is linked to OnRxBuf event", 0},
      {"write closed", nothing, [](TComPort &p) { p.WriteText("x"); }, 24, "Port Not Open", -24},
      {"read closed", nothing, [](TComPort &p) { char b[2]; p.ReadBytes(b, 2); }, 24, "Port Not Open", -24},
  };
}

std::string ExpectedMessage(const char *message, int64_t winError) {
  std::string text = message;
  if (winError > 0)
    text += " (Error: " + std::to_string(winError) + ")";
  return text;
}

TEST(ComPortFailures, eachFailureRaisesEComPortWithItsNumberAndMessage) {
  for (const TFailureCase &c : FailureCases()) {
    SCOPED_TRACE(c.Name);
    auto device = std::make_shared<TFakeSerialDevice>();
    TComPort port;
    port.SetEvents({});
    port.SetDeviceFactory([device] { return device; });
    c.Setup(*device, port);
    try {
      c.Action(port);
      ADD_FAILURE() << "no failure";
    } catch (const EComPort &e) {
      EXPECT_EQ(e.PortErrorCode(), c.Code);
      EXPECT_EQ(e.SystemErrorCode(), c.WinError > 0 ? c.WinError : -1);
      // The first line; an open failure adds what to do on a second (its own tests).
      const std::string message = e.what();
      EXPECT_EQ(message.substr(0, message.find('\n')), ExpectedMessage(c.Message, c.WinError));
      EXPECT_EQ(message.find('\n') != std::string::npos, c.Code == 1) << message;
    }
    device->ClearFailures();
    port.SetConnected(false);
  }
}

TEST(ComPortFailures, withOnExceptionTheFailureIsReportedOnceAndNothingIsThrown) {
  for (const TFailureCase &c : FailureCases()) {
    SCOPED_TRACE(c.Name);
    auto device = std::make_shared<TFakeSerialDevice>();
    TComPort port;
    port.SetEvents({});
    port.SetDeviceFactory([device] { return device; });
    std::vector<std::string> reports;
    port.OnException = [&](TObject *sender, TComExceptions kind, const std::string &message, int64_t winError,
                           const std::string &winMessage, const std::string &) {
      EXPECT_EQ(sender, static_cast<TObject *>(&port));
      const std::string expectedWin =
          winError > 0 ? std::error_code(int(winError), std::generic_category()).message() : "";
      EXPECT_EQ(winMessage, expectedWin);
      reports.push_back(std::to_string(int(kind) + 1) + ":" + message + ":" + std::to_string(winError));
    };
    c.Setup(*device, port);
    EXPECT_NO_THROW(c.Action(port));
    EXPECT_EQ(reports, std::vector<std::string>{std::to_string(c.Code) + ":" + c.Message + ":" +
                                                std::to_string(c.WinError)});
    device->ClearFailures();
    port.SetConnected(false);
  }
}

TEST(ComPortFailures, aSwallowedSettingsFailureLeavesTheOpenGoingOn) {
  auto device = std::make_shared<TFakeSerialDevice>();
  TComPort port;
  port.SetDeviceFactory([device] { return device; });
  port.SetEvents({});
  int reports = 0;
  port.OnException = [&](TObject *, TComExceptions, const std::string &, int64_t, const std::string &,
                         const std::string &) { ++reports; };
  device->Fail(TFakeOp::SetCommState, EINVAL);
  port.SetConnected(true);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(device->CallCount(TFakeOp::SetCommTimeouts), 1);
}

TEST(ComPortFailures, aFailedSettingClosesTheDeviceAgainAndTellsNoLink) {
  auto device = std::make_shared<TFakeSerialDevice>();
  TLog log;
  auto link = LoggingLink(log, "L", false);
  TComPort port;
  port.SetDeviceFactory([device] { return device; });
  LogPortEvents(port, log);
  port.AttachLink(link.get());
  device->Fail(TFakeOp::SetCommTimeouts, EINVAL);
  EXPECT_THROW(port.SetConnected(true), EComPort);
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(device->IsOpen());
  EXPECT_EQ(log.Items(), std::vector<std::string>{"BeforeOpen"});
  EXPECT_EQ(device->CallCount(TFakeOp::SetCommMask), 0); // no thread was started
}

TEST(ComPortFailures, anUnopenableNameFiresOnlyBeforeOpen) {
  auto device = std::make_shared<TFakeSerialDevice>();
  TComPort port;
  port.SetDeviceFactory([device] { return device; });
  TLog log;
  LogPortEvents(port, log);
  device->Fail(TFakeOp::Open, ENOENT);
  EXPECT_THROW(port.SetConnected(true), EComPort);
  EXPECT_EQ(log.Items(), std::vector<std::string>{"BeforeOpen"});
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Device(), nullptr);
}

TEST(ComPortFailures, accessDeniedExplainsHowToGetAccess) {
  auto device = std::make_shared<TFakeSerialDevice>();
  TComPort port;
  port.SetDeviceFactory([device] { return device; });
  device->Fail(TFakeOp::Open, EACCES);
  try {
    port.SetConnected(true);
    FAIL() << "no failure";
  } catch (const EComPort &e) {
    const std::string message = e.what();
    EXPECT_EQ(message.substr(0, message.find('\n')), "Unable to open com port (Error: 13)");
    EXPECT_NE(message.find("\nAdd your user to the 'dialout' group"), std::string::npos) << message;
  }
  // The hint belongs to opening: a failure built without one has the single line.
  EXPECT_EQ(std::string(EComPort(1, ENOENT).what()), "Unable to open com port (Error: 2)");
  EXPECT_EQ(std::string(EComPort(3, EACCES).what()), "ReadFile function failed (Error: 13)");
}

// --- open and close -----------------------------------------------------------------------------------

TEST_F(ComPortFake, openNotifiesInTheDocumentedOrder) {
  TComLink *l1 = Keep(LoggingLink(Log, "L1", false)), *l2 = Keep(LoggingLink(Log, "L2", false));
  Port.AttachLink(l1);
  Port.AttachLink(l2);
  Device->SetModemStatus(MS_CTS_ON | MS_RLSD_ON, false);
  Port.SetConnected(true);
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"BeforeOpen", "L1.Conn(1)", "L2.Conn(1)", "AfterOpen", "L1.CTS(1)",
                                                   "L2.CTS(1)", "CTS(1)", "L1.DSR(0)", "L2.DSR(0)", "DSR(0)",
                                                   "L1.RLSD(1)", "L2.RLSD(1)", "RLSD(1)"}));
  EXPECT_EQ(CallsWithoutWaits(*Device),
            (std::vector<std::string>{"Open(COM1)", "SetupComm(1024,1024)", "SetCommState", "SetCommTimeouts",
                                      "SetCommMask(0x5ff)", "GetCommModemStatus", "GetCommModemStatus",
                                      "GetCommModemStatus"}));
  Log.Clear();
  Port.SetConnected(true); // opens once
  EXPECT_EQ(Device->CallCount(TFakeOp::Open), 1);
  EXPECT_TRUE(Log.Items().empty());
}

TEST_F(ComPortFake, closeNotifiesInTheDocumentedOrder) {
  TComLink *l1 = Keep(LoggingLink(Log, "L1", false)), *l2 = Keep(LoggingLink(Log, "L2", false));
  Port.AttachLink(l1);
  Port.AttachLink(l2);
  OpenAndWait();
  Device->ClearCalls();
  Port.OnBeforeClose = [&](TObject *) { Log.Add("BeforeClose purges=" + std::to_string(Device->CallCount(TFakeOp::PurgeComm))); };
  l1->OnConnChange = [&](TObject *, bool on) { Log.Add(std::string("L1.Conn") + On(on) + " open=" + On(Device->IsOpen())); };
  Port.SetConnected(false);
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"L1.CTS(0)", "L2.CTS(0)", "L1.DSR(0)", "L2.DSR(0)", "L1.RLSD(0)",
                                                   "L2.RLSD(0)", "CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose purges=0",
                                                   "L1.Conn(0) open=(0)", "L2.Conn(0)", "AfterClose"}));
  EXPECT_EQ(CallsWithoutWaits(*Device), (std::vector<std::string>{"PurgeComm(0x3)", "CancelWait", "SetCommMask(0x0)",
                                                                  "PurgeComm(0xc)", "Close"}));
  EXPECT_EQ(Port.EventThread(), nullptr);
  Log.Clear();
  Port.SetConnected(false); // closed already: nothing
  EXPECT_TRUE(Log.Items().empty());
}

TEST_F(ComPortFake, aFailedPurgeStillClosesAndThenRaises) {
  OpenAndWait();
  Device->Fail(TFakeOp::PurgeComm, EIO, 1);
  try {
    Port.SetConnected(false);
    FAIL() << "no failure";
  } catch (const EComPort &e) {
    EXPECT_EQ(e.PortErrorCode(), 5);
  }
  EXPECT_FALSE(Port.Connected());
  EXPECT_FALSE(Device->IsOpen());
  EXPECT_EQ(Port.EventThread(), nullptr);
  EXPECT_TRUE(Log.Contains("AfterClose"));
}

TEST_F(ComPortFake, emptyEventsStartNoThreadButLinksStillHearOpenAndClose) {
  TComLink *link = Keep(LoggingLink(Log, "L", true));
  Port.AttachLink(link);
  Port.SetEvents({});
  Port.SetConnected(true);
  EXPECT_EQ(Port.EventThread(), nullptr);
  Device->InjectRx("abc");
  Port.SetConnected(false);
  EXPECT_EQ(Device->CallCount(TFakeOp::SetCommMask), 0);
  EXPECT_EQ(Device->CallCount(TFakeOp::WaitCommEvent), 0);
  EXPECT_TRUE(Log.Contains("L.Conn(1)"));
  EXPECT_TRUE(Log.Contains("L.Conn(0)"));
  EXPECT_FALSE(Log.Contains("L.RxBuf(3)"));
}

TEST_F(ComPortFake, closingWhileTheThreadWaitsRunsTheQueuedBatchDuringTheClose) {
  TComLink *link = Keep(LoggingLink(Log, "L", true));
  Port.AttachLink(link);
  OpenAndWait();
  Port.OnRxBuf = [&](TObject *, const char *, int32_t n) {
    Log.Add("RxBuf(" + std::to_string(n) + ") connected=" + On(Port.Connected()));
  };
  // No event loop runs here: the thread's hand-off stays queued until the close serves it.
  const uint64_t before = Port.EventThread()->Batches();
  Device->InjectRx("12345");
  ASSERT_TRUE(WaitUntilTaken(*Device, Port, before));
  {
    testsupport::TWatchdog watchdog("close serving a queued batch");
    Port.SetConnected(false);
  }
  const auto items = Log.Items();
  const auto at = [&](const std::string &s) { return std::find(items.begin(), items.end(), s) - items.begin(); };
  ASSERT_TRUE(Log.Contains("RxBuf(5) connected=(1)"));
  EXPECT_LT(at("BeforeClose"), at("RxBuf(5) connected=(1)"));
  EXPECT_LT(at("RxBuf(5) connected=(1)"), at("L.RxBuf(5)"));
  EXPECT_LT(at("L.RxBuf(5)"), at("AfterClose"));
  // Nothing fires after the close.
  Log.Clear();
  Device->InjectRx("x");
  QCoreApplication::processEvents();
  EXPECT_TRUE(Log.Items().empty());
}

// --- batches ------------------------------------------------------------------------------------------

// A first batch (a break) is taken; every other event is injected while the thread is held in its
// hand-off, so they all arrive together in the second batch.
void InjectTwoBatches(TFakeSerialDevice &device, const TComPort &port) {
  const uint64_t before = port.EventThread()->Batches();
  device.InjectEvents(EV_BREAK);
  ASSERT_TRUE(WaitUntilTaken(device, port, before));
  device.SetModemStatus(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  device.InjectLineErrors(CE_FRAME | CE_OVERRUN);
  device.InjectEvents(EV_TXEMPTY | EV_RING | EV_BREAK);
  device.InjectRx(std::string(900, 'a') + "\n"); // the event character, and past 80 % of 1024
}

TEST_F(ComPortFake, aBatchFiresItsEventsInTheFixedOrder) {
  TComLink *link = Keep(LoggingLink(Log, "L", false));
  Port.AttachLink(link);
  Port.SetEventChar('\n');
  OpenAndWait();
  InjectTwoBatches(*Device, Port);
  ASSERT_TRUE(RunUntil([&] { return Log.Contains("Rx80Full"); }));
  const std::vector<std::string> expected = {
      "Break",   "Error(5)",   "L.Rx(1)", "RxChar(901)", "L.Tx(0)",    "L.TxEmpty", "TxEmpty",
      "Break",   "L.Ring",     "Ring",       "L.CTS(1)", "CTS(1)",     "L.DSR(1)",   "DSR(1)",    "L.RxFlag",
      "RxFlag",  "L.RLSD(1)",  "RLSD(1)",    "Rx80Full"};
  EXPECT_EQ(Log.Items(), expected);
  EXPECT_EQ(Device->Pending(), 901u); // announced, not read
  EXPECT_EQ(Port.EventThread()->Batches(), 2u);
}

TEST_F(ComPortFake, windowSyncSendsOneMessagePerEventInTheSameOrder) {
  TLog messages;
  Port.Messages = &messages;
  Port.SetSyncMethod(smWindowSync);
  Port.SetEventChar('\n');
  OpenAndWait();
  InjectTwoBatches(*Device, Port);
  ASSERT_TRUE(RunUntil([&] { return Log.Contains("Rx80Full"); }));
  EXPECT_EQ(messages.Items(), (std::vector<std::string>{"Msg(1025,64)", "Msg(1025,128)", "Msg(1025,1)", "Msg(1025,4)",
                                                        "Msg(1025,64)", "Msg(1025,256)", "Msg(1025,8)", "Msg(1025,16)",
                                                        "Msg(1025,2)", "Msg(1025,32)", "Msg(1025,1024)"}));
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"Break", "Error(5)", "RxChar(901)", "TxEmpty", "Break",
                                                   "Ring", "CTS(1)", "DSR(1)", "RxFlag", "RLSD(1)", "Rx80Full"}));
}

TEST_F(ComPortFake, windowSyncRunsTheRlsdStepOnTheGuiThread) {
  TLog messages;
  Port.Messages = &messages;
  Port.SetSyncMethod(smWindowSync);
  OpenAndWait();
  bool onGui = false;
  Port.OnRLSDChange = [&](TObject *, bool on) {
    onGui = IsGuiThread();
    Log.Add("RLSD" + On(on));
  };
  Device->SetModemStatus(MS_RLSD_ON);
  ASSERT_TRUE(RunUntil([&] { return Log.Contains("RLSD(1)"); }));
  EXPECT_EQ(messages.Items(), std::vector<std::string>{"Msg(1025,32)"});
  EXPECT_TRUE(onGui);
}

TEST_F(ComPortFake, windowSyncShowsAnExceptionAndGoesOn) {
  Port.SetSyncMethod(smWindowSync);
  OpenAndWait();
  Port.OnRing = [](TObject *) { throw std::runtime_error("ring failed"); };
  Device->InjectEvents(EV_RING | EV_RXFLAG);
  ASSERT_TRUE(RunUntil([&] { return Log.Contains("RxFlag"); }));
  EXPECT_EQ(Shown.Messages(), std::vector<std::string>{"ring failed"});
  Device->InjectEvents(EV_BREAK);
  EXPECT_TRUE(RunUntil([&] { return Log.Contains("Break"); }));
}

TEST_F(ComPortFake, windowMessagesQueuedAtCloseAreDropped) {
  Port.SetSyncMethod(smWindowSync);
  OpenAndWait();
  Device->InjectEvents(EV_RING);
  // The close takes the message from the thread but its window goes with the port's close.
  Port.SetConnected(false);
  QCoreApplication::processEvents();
  EXPECT_FALSE(Log.Contains("Ring"));
}

TEST_F(ComPortFake, smNoneFiresOnTheEventThread) {
  Port.SetSyncMethod(smNone);
  OpenAndWait();
  std::atomic<int> onGui{-1};
  Port.OnRing = [&](TObject *) {
    onGui = IsGuiThread() ? 1 : 0;
    Log.Add("Ring");
  };
  Device->InjectEvents(EV_RING);
  ASSERT_TRUE(RunUntil([&] { return Log.Contains("Ring"); }));
  EXPECT_EQ(onGui.load(), 0);
}

// --- the receive path -----------------------------------------------------------------------------------

TEST_F(ComPortFake, blockConsumersGetOneReadBlockAfterThePortInAttachmentOrder) {
  TComLink *l1 = Keep(LoggingLink(Log, "L1", true)), *l2 = Keep(LoggingLink(Log, "L2", true)), *l3 = Keep(LoggingLink(Log, "L3", false));
  const char *seen[3] = {};
  Port.AttachLink(l1);
  Port.AttachLink(l3);
  Port.AttachLink(l2);
  Port.OnRxBuf = [&](TObject *, const char *b, int32_t n) {
    seen[0] = b;
    Log.Add("RxBuf(" + std::string(b, size_t(n)) + ")");
  };
  l1->OnRxBuf = [&](TObject *, const char *b, int32_t n) {
    seen[1] = b;
    Log.Add("L1.RxBuf(" + std::string(b, size_t(n)) + ")");
  };
  l2->OnRxBuf = [&](TObject *, const char *b, int32_t n) {
    seen[2] = b;
    Log.Add("L2.RxBuf(" + std::string(b, size_t(n)) + ")");
  };
  OpenAndWait();
  Device->ClearCalls();
  Device->InjectRx("hello");
  ASSERT_TRUE(RunUntil([&] { return Log.Contains("L2.RxBuf(hello)"); }));
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"L1.Rx(1)", "L3.Rx(1)", "L2.Rx(1)", "L1.Rx(0)", "L3.Rx(0)", "L2.Rx(0)",
                                                   "RxBuf(hello)", "L1.RxBuf(hello)", "L2.RxBuf(hello)"}));
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[1], seen[2]);
  EXPECT_EQ(Device->CallCount(TFakeOp::Read), 1);
  EXPECT_EQ(Device->Pending(), 0u);
}

// Light data is handed over at once; past LightBytes within a frame period the rest is gathered
// for the period's end, unless another event or HeavyBytes make it go at once. A long period makes
// "held" observable: the thread is back in its wait, with a time limit, and nothing was handed over.
TEST_F(ComPortFake, receivedDataIsHandedOverAtOnceWhileLightAndOncePerFrameBeyond) {
  struct TPeriod {
    TPeriod() { TComThread::SetFramePeriod(10s); }
    ~TPeriod() { TComThread::SetFramePeriod(TComThread::DefaultFramePeriod); }
  } period;
  std::vector<std::string> blocks;
  Port.SetTriggersOnRxChar(false);
  Port.OnRxBuf = [&](TObject *, const char *b, int32_t n) { blocks.emplace_back(b, size_t(n)); };
  OpenAndWait();
  Port.OnCTSChange = [&](TObject *, bool) { blocks.emplace_back("CTS"); };
  const TComThread &thread = *Port.EventThread();
  // Injects, then waits until the thread has taken the event and waits again.
  const auto inject = [&](const std::function<void()> &what) {
    const uint64_t waits = Device->WaitsBegun();
    what();
    EXPECT_TRUE(RunUntil([&] { return Device->WaitsBegun() > waits && Device->Waiting(); }));
  };
  struct TStep {
    const char *What;
    std::function<void()> Act;
    uint64_t Batches;
    bool Holding;
  };
  const std::string heavy(TComThread::HeavyBytes, 'h');
  const TStep steps[] = {
      {"light: at once", [&] { Device->InjectRx(std::string(200, 'a')); }, 1, false},
      {"still light: at once", [&] { Device->InjectRx(std::string(200, 'b')); }, 2, false},
      {"past the light share: held", [&] { Device->InjectRx(std::string(200, 'c')); }, 2, true},
      {"more joins what is held", [&] { Device->InjectRx(std::string(50, 'd')); }, 2, true},
      {"a line change takes it along", [&] { Device->SetModemStatus(MS_CTS_ON); }, 3, false},
      {"held again", [&] { Device->InjectRx("e"); }, 3, true},
      {"heavy: at once", [&] { Device->InjectRx(heavy); }, 4, false},
  };
  for (const TStep &step : steps) {
    SCOPED_TRACE(step.What);
    inject(step.Act);
    ASSERT_TRUE(RunUntil([&] { return step.Holding || Device->Pending() == 0; }));
    EXPECT_EQ(thread.Batches(), step.Batches);
    EXPECT_EQ(Device->LastWaitTimeout() >= 0, step.Holding);
  }
  const std::vector<std::string> expected = {std::string(200, 'a'), std::string(200, 'b'),
                                             std::string(200, 'c') + std::string(50, 'd'), "CTS", "e" + heavy};
  EXPECT_EQ(blocks, expected);
  Port.SetConnected(false); // closing reports the lines off: `blocks` must still be there
}

TEST_F(ComPortFake, whatIsHeldGoesWhenTheFramePeriodEnds) {
  struct TPeriod {
    TPeriod() { TComThread::SetFramePeriod(50ms); }
    ~TPeriod() { TComThread::SetFramePeriod(TComThread::DefaultFramePeriod); }
  } period;
  std::string got;
  Port.SetTriggersOnRxChar(false);
  Port.OnRxBuf = [&](TObject *, const char *b, int32_t n) { got.append(b, size_t(n)); };
  OpenAndWait();
  Device->InjectRx(std::string(TComThread::LightBytes, 'a')); // a period's light share at once
  ASSERT_TRUE(RunUntil([&] { return got.size() == TComThread::LightBytes; }));
  Device->InjectRx("tail");
  ASSERT_TRUE(RunUntil([&] { return got.size() == TComThread::LightBytes + 4; }));
  // The thread counts a batch once the GUI thread took it, a moment after the data arrived.
  EXPECT_TRUE(RunUntil([&] { return Port.EventThread()->Batches() == 2u; }));
  EXPECT_EQ(Port.EventThread()->Batches(), 2u);
  Port.SetConnected(false);
}

TEST_F(ComPortFake, triggersOnRxCharDecidesBetweenAnnouncingAndReading) {
  struct TCase {
    const char *Name;
    bool Stored;
    bool Consumer, PlainLink;
    std::vector<std::string> Expected;
    size_t LeftInDriver;
  };
  const TCase cases[] = {
      {"announce", true, false, false, {"RxChar(5)"}, 5},
      {"read without links", false, false, false, {"RxBuf(5)"}, 0},
      {"consumer forces reading", true, true, false, {"RxBuf(5)", "C.RxBuf(5)"}, 0},
      {"plain link does not", true, false, true, {"RxChar(5)"}, 5},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    auto device = std::make_shared<TFakeSerialDevice>();
    TLog log;
    auto consumer = LoggingLink(log, "C", true);
    consumer->OnRxActivity = nullptr;
    auto plain = LoggingLink(log, "P", false);
    plain->OnRxActivity = nullptr;
    TComPort port;
    port.SetDeviceFactory([device] { return device; });
    LogPortEvents(port, log);
    port.SetTriggersOnRxChar(c.Stored);
    if (c.Consumer)
      port.AttachLink(consumer.get());
    if (c.PlainLink)
      port.AttachLink(plain.get());
    EXPECT_EQ(port.TriggersOnRxChar(), c.Stored && !c.Consumer);
    port.SetConnected(true);
    ASSERT_TRUE(device->WaitUntilWaiting(2s));
    log.Clear();
    device->InjectRx("abcde");
    ASSERT_TRUE(RunUntil([&] { return log.Size() >= c.Expected.size(); }));
    EXPECT_EQ(log.Items(), c.Expected);
    EXPECT_EQ(device->Pending(), c.LeftInDriver);
    port.SetConnected(false);
  }
}

TEST_F(ComPortFake, detachingTheConsumerRestoresTheStoredTrigger) {
  TComLink &consumer = *Keep(std::make_unique<TComLink>()), &plain = *Keep(std::make_unique<TComLink>());
  consumer.OnRxBuf = [](TObject *, const char *, int32_t) {};
  EXPECT_TRUE(Port.TriggersOnRxChar());
  Port.AttachLink(&plain);
  EXPECT_TRUE(Port.TriggersOnRxChar());
  Port.AttachLink(&consumer);
  EXPECT_FALSE(Port.TriggersOnRxChar());
  EXPECT_THROW(Port.SetTriggersOnRxChar(true), EComPort);
  Port.DetachLink(&consumer);
  EXPECT_TRUE(Port.TriggersOnRxChar());
  EXPECT_TRUE(Port.HasLink(&plain));
  EXPECT_FALSE(Port.HasLink(&consumer));
  // With OnException the value is stored despite the failure.
  Port.AttachLink(&consumer);
  Port.OnException = [](TObject *, TComExceptions, const std::string &, int64_t, const std::string &,
                         const std::string &) {};
  Port.SetTriggersOnRxChar(false);
  Port.DetachLink(&consumer);
  EXPECT_FALSE(Port.TriggersOnRxChar());
}

TEST_F(ComPortFake, aDeviceThatDeliversFewerBytesThanAnnouncedPassesOnOnlyThose) {
  TComLink *link = Keep(LoggingLink(Log, "L", true));
  link->OnRxActivity = nullptr;
  Port.AttachLink(link);
  Port.OnRxBuf = nullptr;
  Device->SetReadLimit(3);
  OpenAndWait();
  Device->InjectRx("abcdef");
  ASSERT_TRUE(RunUntil([&] { return Log.Size() >= 1; }));
  EXPECT_EQ(Log.Items(), std::vector<std::string>{"L.RxBuf(3)"});
  EXPECT_EQ(Device->Pending(), 3u); // left for the next event, as any unread bytes are
}

// --- writes -------------------------------------------------------------------------------------------

TEST_F(ComPortFake, aFinishedWriteTellsItsBytesOnceToEveryLink) {
  TComLink *l1 = Keep(LoggingLink(Log, "L1", false)), *l2 = Keep(LoggingLink(Log, "L2", false));
  Port.AttachLink(l1);
  Port.AttachLink(l2);
  Port.SetEvents({});
  Port.SetConnected(true);
  Log.Clear();
  EXPECT_EQ(Port.WriteText("hello"), 5);
  EXPECT_EQ(Device->TakeWritten(), "hello");
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"L1.Tx(1)", "L2.Tx(1)", "L1.TxData(hello)", "L2.TxData(hello)"}));

  Log.Clear();
  const int writes = Device->CallCount(TFakeOp::Write);
  EXPECT_EQ(Port.WriteText(""), 0);
  EXPECT_EQ(Device->CallCount(TFakeOp::Write), writes);
  EXPECT_TRUE(Log.Items().empty());

  // The request keeps a copy: the caller's buffer may change after the start.
  char source[] = "abc";
  TAsyncRequest *request = nullptr;
  NewAsyncRequest(request);
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(Port.WriteBytesAsync(source, 3, request), 3);
  source[0] = 'X';
  Log.Clear();
  EXPECT_EQ(Port.WaitAsync(request), 3);
  EXPECT_EQ(Port.WaitAsync(request), 3);
  EXPECT_EQ(Log.Items(), (std::vector<std::string>{"L1.TxData(abc)", "L2.TxData(abc)"}));
  FreeAsyncRequest(request);
  EXPECT_EQ(request, nullptr);
}

TEST_F(ComPortFake, aFinishedReadThatEmptiesTheQueueEndsRxActivity) {
  TComLink *link = Keep(LoggingLink(Log, "L", false));
  Port.AttachLink(link);
  Port.SetEvents({});
  Port.SetConnected(true);
  Device->InjectRx("abcd");
  Log.Clear();
  char buffer[8] = {};
  EXPECT_EQ(Port.ReadBytes(buffer, 2), 2);
  EXPECT_TRUE(Log.Items().empty()); // two bytes still waiting
  EXPECT_EQ(Port.ReadBytes(buffer, 8), 2);
  EXPECT_EQ(std::string(buffer, 2), "cd");
  EXPECT_EQ(Log.Items(), std::vector<std::string>{"L.Rx(0)"});
}

// --- line state -----------------------------------------------------------------------------------------

TEST_F(ComPortFake, lineErrorsAndModemSignalsMapTheirBits) {
  Port.SetEvents({});
  Port.SetConnected(true);
  struct TCase {
    uint32_t Bits;
    bool Check;
    TComErrors Expected;
  };
  const TCase cases[] = {
      {CE_FRAME, false, {ceFrame}},         {CE_RXPARITY, false, {}},         {CE_RXPARITY, true, {ceRxParity}},
      {CE_OVERRUN, false, {ceOverrun}},     {CE_RXOVER, false, {ceRxOver}},   {CE_TXFULL, false, {ceTxFull}},
      {CE_BREAK, false, {ceBreak}},         {CE_IOE, false, {ceIO}},          {CE_MODE, false, {ceMode}},
      {CE_PTO | CE_DNS | CE_OOP, false, {}}, {CE_FRAME | CE_BREAK, true, {ceFrame, ceBreak}},
  };
  for (const TCase &c : cases) {
    Port.Parity().SetCheck(c.Check);
    Device->InjectLineErrors(c.Bits);
    EXPECT_EQ(Port.ReadLineErrors(), c.Expected) << c.Bits;
    EXPECT_TRUE(Port.ReadLineErrors().Empty()); // cleared
  }
  const std::pair<uint32_t, TComSignals> lines[] = {
      {0, {}}, {MS_CTS_ON, {csCTS}}, {MS_DSR_ON, {csDSR}}, {MS_RING_ON, {csRing}}, {MS_RLSD_ON, {csRLSD}},
      {MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON, {csCTS, csDSR, csRing, csRLSD}}};
  for (const auto &[status, expected] : lines) {
    Device->SetModemStatus(status, false);
    EXPECT_EQ(Port.ModemSignals(), expected) << status;
  }
  Device->InjectRx("xyz");
  EXPECT_EQ(Port.BytesWaiting(), 3);
}

// --- the end of the event thread ------------------------------------------------------------------------

TEST_F(ComPortFake, anExceptionEscapingABatchEndsTheThreadQuietly) {
  for (const TSyncMethod method : {smThreadSync, smNone}) {
    SCOPED_TRACE(method);
    Port.SetSyncMethod(method);
    OpenAndWait();
    Port.OnRing = [](TObject *) { throw std::runtime_error("handler failed"); };
    Device->InjectEvents(EV_RING);
    const TComThread *thread = Port.EventThread();
    ASSERT_TRUE(RunUntil([&] { return !thread->Running(); }));
    EXPECT_NE(thread->Failure(), nullptr);
    EXPECT_TRUE(Shown.Messages().empty());
    EXPECT_TRUE(Port.Connected());
    const std::vector<std::string> calls = CallsWithoutWaits(*Device);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"SetCommMask(0x0)", "PurgeComm(0xc)"}));
    // No further events until closed and opened again; closing still works.
    const int waits = Device->CallCount(TFakeOp::WaitCommEvent);
    Port.OnRing = [&](TObject *) { Log.Add("Ring"); };
    Device->InjectEvents(EV_RING);
    QCoreApplication::processEvents();
    EXPECT_EQ(Device->CallCount(TFakeOp::WaitCommEvent), waits);
    Port.SetConnected(false);
    EXPECT_FALSE(Log.Contains("Ring"));
    EXPECT_TRUE(Log.Contains("AfterClose"));
    Port.SetConnected(true);
    Device->InjectEvents(EV_RING);
    EXPECT_TRUE(RunUntil([&] { return Log.Contains("Ring"); }));
    Port.SetConnected(false);
    Log.Clear();
  }
}

TEST_F(ComPortFake, aHangupClosesThePortAndIsShownOnce) {
  TComLink *link = Keep(LoggingLink(Log, "L", true));
  Port.AttachLink(link);
  OpenAndWait();
  Device->Hangup(EIO);
  ASSERT_TRUE(RunUntil([&] { return !Port.Connected(); }));
  ASSERT_TRUE(RunUntil([&] { return !Shown.Messages().empty(); }));
  ASSERT_EQ(Shown.Messages().size(), 1u);
  // The failure, and on a second line what happened.
  EXPECT_EQ(Shown.Messages()[0], "ReadFile function failed (Error: 5)\n" + HangupHint(Port.Port(), false));
  EXPECT_TRUE(Log.Contains("L.Conn(0)"));
  EXPECT_TRUE(Log.Contains("AfterClose"));
  EXPECT_FALSE(Device->IsOpen());
  EXPECT_EQ(Port.EventThread(), nullptr);
  // The wait was not repeated after the hangup.
  EXPECT_EQ(Device->CallCount(TFakeOp::WaitCommEvent), 1);
  // The device is back: the port opens again and delivers.
  Port.SetConnected(true);
  Device->InjectRx("ok");
  EXPECT_TRUE(RunUntil([&] { return Log.Contains("L.RxBuf(2)"); }));
  EXPECT_EQ(Shown.Messages().size(), 1u);
}

TEST_F(ComPortFake, aHangupGoesToOnExceptionWhenAssigned) {
  std::vector<std::string> reports;
  Port.OnException = [&](TObject *, TComExceptions kind, const std::string &message, int64_t winError,
                         const std::string &, const std::string &hint) {
    reports.push_back(std::to_string(int(kind)) + ":" + message + ":" + std::to_string(winError) + ":" + hint);
  };
  OpenAndWait();
  Device->Hangup(ENXIO);
  ASSERT_TRUE(RunUntil([&] { return !Port.Connected() && !reports.empty(); }));
  EXPECT_EQ(reports, std::vector<std::string>{"2:ReadFile function failed:" + std::to_string(ENXIO) + ":" +
                                              HangupHint(Port.Port(), false)});
  EXPECT_TRUE(Shown.Messages().empty());
}

TEST_F(ComPortFake, aHangupNoticeForAnEarlierOpenIsIgnored) {
  OpenAndWait();
  Device->Hangup(EIO);
  // Closed and opened again before the notice arrives: it belongs to the old open.
  Port.SetConnected(false);
  Port.SetConnected(true);
  ASSERT_TRUE(Device->WaitUntilWaiting(2s));
  QCoreApplication::processEvents();
  EXPECT_TRUE(Port.Connected());
  EXPECT_TRUE(Shown.Messages().empty());
}

TEST_F(ComPortFake, closingFromInsideABatchDoesNotWaitForItself) {
  TComLink *link = Keep(LoggingLink(Log, "L", true));
  Port.AttachLink(link);
  OpenAndWait();
  link->OnRxBuf = [&](TObject *, const char *b, int32_t n) {
    Log.Add("L.RxBuf(" + std::string(b, size_t(n)) + ")");
    Port.SetConnected(false);
  };
  Device->InjectRx("bye");
  Device->InjectEvents(EV_RING);
  testsupport::TWatchdog watchdog("close from inside a batch");
  ASSERT_TRUE(RunUntil([&] { return !Port.Connected(); }));
  EXPECT_TRUE(Log.Contains("L.RxBuf(bye)"));
  EXPECT_TRUE(Log.Contains("AfterClose"));
  EXPECT_FALSE(Log.Contains("Ring")); // the rest of the batch belonged to the closed port
  EXPECT_FALSE(Device->IsOpen());
  // The abandoned thread touched the device no more, and it can be opened again.
  const std::vector<std::string> calls = CallsWithoutWaits(*Device);
  EXPECT_EQ(calls.back(), "Close");
  link->OnRxBuf = [&](TObject *, const char *b, int32_t n) { Log.Add("L.RxBuf(" + std::string(b, size_t(n)) + ")"); };
  Port.SetConnected(true);
  Device->InjectRx("again");
  EXPECT_TRUE(RunUntil([&] { return Log.Contains("L.RxBuf(again)"); }));
}

TEST_F(ComPortFake, aBatchFailingOnAHungUpLineClosesThePortAsAHangup) {
  OpenAndWait();
  Port.OnRing = [&](TObject *) {
    Device->Hangup(EIO);
    throw std::runtime_error("GetCommModemStatus function failed (Error: 5)");
  };
  Device->InjectEvents(EV_RING);
  ASSERT_TRUE(RunUntil([&] { return !Port.Connected() && !Shown.Messages().empty(); }));
  EXPECT_EQ(Shown.Messages(),
            std::vector<std::string>{"ReadFile function failed (Error: 5)\n" + HangupHint(Port.Port(), false)});
  EXPECT_TRUE(Log.Contains("AfterClose"));
}

TEST_F(ComPortFake, aCloseFromABatchServedDuringCloseNotifiesOnce) {
  TComLink *link = Keep(LoggingLink(Log, "L", true));
  Port.AttachLink(link);
  OpenAndWait();
  link->OnRxBuf = [&](TObject *, const char *, int32_t) { Port.SetConnected(false); };
  const uint64_t before = Port.EventThread()->Batches();
  Device->InjectRx("x");
  ASSERT_TRUE(WaitUntilTaken(*Device, Port, before));
  {
    testsupport::TWatchdog watchdog("close serving a batch that closes");
    Port.SetConnected(false);
  }
  const auto items = Log.Items();
  EXPECT_EQ(std::count(items.begin(), items.end(), "AfterClose"), 1);
  EXPECT_EQ(std::count(items.begin(), items.end(), "L.Conn(0)"), 1);
  EXPECT_FALSE(Device->IsOpen());
  EXPECT_EQ(Device->CallCount(TFakeOp::Close), 1);
}

TEST_F(ComPortFake, changingThePortFromInsideABatchReopens) {
  TComLink *link = Keep(LoggingLink(Log, "L", true));
  Port.AttachLink(link);
  OpenAndWait();
  // Like the real factory, every open gets a device of its own: the abandoned thread may still
  // enter one more wait on the old one.
  auto other = std::make_shared<TFakeSerialDevice>();
  Port.SetDeviceFactory([other] { return other; });
  link->OnRxBuf = [&](TObject *, const char *, int32_t) { Port.SetPort("ttyOther"); };
  Device->InjectRx("switch");
  ASSERT_TRUE(RunUntil([&] { return other->OpenedName() == "ttyOther"; }));
  EXPECT_TRUE(Port.Connected());
  EXPECT_FALSE(Device->IsOpen());
  link->OnRxBuf = [&](TObject *, const char *b, int32_t n) { Log.Add("got " + std::string(b, size_t(n))); };
  // An event that lands before the new thread sets its mask is cleared with it: data sent again
  // must come through.
  bool through = false;
  for (int i = 0; i < 20 && !through; ++i) {
    ASSERT_TRUE(other->WaitUntilWaiting(2s));
    other->InjectRx("there");
    through = RunUntil([&] {
      const auto items = Log.Items();
      return std::any_of(items.begin(), items.end(), [](const std::string &l) { return l.rfind("got there", 0) == 0; });
    }, 500ms);
  }
  EXPECT_TRUE(through);
}

TEST_F(ComPortFake, destroyingAnOpenPortClosesItFirst) {
  auto device = std::make_shared<TFakeSerialDevice>();
  TLog log;
  auto link = LoggingLink(log, "L", true);
  {
    auto *port = new TComPort;
    QPointer<TComPort> watch(port);
    port->SetDeviceFactory([device] { return device; });
    port->AttachLink(link.get());
    port->SetConnected(true);
    ASSERT_TRUE(device->WaitUntilWaiting(2s));
    delete port;
    EXPECT_TRUE(watch.isNull());
  }
  EXPECT_FALSE(device->IsOpen());
  EXPECT_TRUE(log.Contains("L.Conn(0)"));
}

} // namespace
