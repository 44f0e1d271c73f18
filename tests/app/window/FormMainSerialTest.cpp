// The main window's serial side: the port and framer as designed, the selection boxes and lamps
// bound to them, the Connect and Disconnect commands with their failures, live records reaching
// the meters over a pseudo-terminal, and a hangup.
#include <QCoreApplication>
#include <QKeyEvent>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QLineEdit>
#include <QTest>
#include <QPushButton>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "app/window/FormMain.h"
#include "serial/ComTerminal.h"
#include "instruments/AnVMeter.h"
#include "platform/Application.h"
#include "tty/PosixSerialDevice.h"
#include "tty/PseudoTerminal.h"
#include "tty/SerialPortList.h"
#include "serial/ComControls.h"
#include "serial/ComDataPacket.h"
#include "support/TestSupport.h"

using namespace std::chrono_literals;

namespace {

class FormMainSerialTest : public ::testing::Test {
protected:
  // Declared before the window, so the window (and its open port) goes first.
  TPseudoTerminal Pty;
  std::vector<std::string> Shown;
  TExceptionSink PreviousSink = SetExceptionSink([this](const std::string &m) { Shown.push_back(m); });
  std::unique_ptr<TFormMain> Form = std::make_unique<TFormMain>();

  void TearDown() override {
    Form.reset();
    SetExceptionSink(PreviousSink);
  }

  TAnVMeter *Instr3() const { return Form->FindComponent<TAnVMeter>(QStringLiteral("Instr3")); }

  // The three ways the user opens the port, and the three that close it.
  struct Command {
    const char *Name;
    std::function<void()> Run;
  };
  std::vector<Command> ConnectCommands() {
    return {{"menu", [this] { Form->ConnectSchnittstelle1->trigger(); }},
            {"Schnittstelle button", [this] { Form->ButtonConnectComPort1->click(); }},
            {"terminal button", [this] { Form->ButtonTerminalConnect->click(); }}};
  }
  std::vector<Command> DisconnectCommands() {
    return {{"menu", [this] { Form->DisconnectSchnittstelle1->trigger(); }},
            {"Schnittstelle button", [this] { Form->ButtonDisConnectComPort1->click(); }},
            {"terminal button", [this] { Form->ButtonTerminalDisconnect->click(); }}};
  }

  void WaitForValue(float value) {
    EXPECT_TRUE(testsupport::RunLoopUntil([&] { return Instr3()->Value() == value; }))
        << "Instr3 shows " << Instr3()->Value() << ", waited for " << value;
  }
  void SendAndWaitForValue(TPseudoTerminal &pty, const std::string &bytes, float value) {
    ASSERT_EQ(pty.Send(bytes, 2s), bytes.size());
    WaitForValue(value);
  }
};

TEST_F(FormMainSerialTest, portCarriesItsDesignSettings) {
  TComPort *p = Form->ComPort1;
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Form->FindComponent<TComPort>(QStringLiteral("ComPort1")), p);
  EXPECT_EQ(p->parent(), Form.get());
  const struct {
    const char *Property;
    std::string Actual, Expected;
  } rows[] = {
      {"Port", p->Port(), "COM10"},
      {"BaudRate", BaudRateToText(p->BaudRate()), "19200"},
      {"DataBits", DataBitsToText(p->DataBits()), "8"},
      {"StopBits", StopBitsToText(p->StopBits()), "1"},
      {"Parity.Bits", ParityToText(p->Parity().Bits()), ParityToText(prNone)},
      {"OutCTSFlow", BoolToText(p->FlowControl().OutCTSFlow()), "No"},
      {"OutDSRFlow", BoolToText(p->FlowControl().OutDSRFlow()), "No"},
      {"ControlDTR", DTRToText(p->FlowControl().ControlDTR()), DTRToText(dtrDisable)},
      {"ControlRTS", RTSToText(p->FlowControl().ControlRTS()), RTSToText(rtsDisable)},
      {"XonXoffOut", BoolToText(p->FlowControl().XonXoffOut()), "No"},
      {"XonXoffIn", BoolToText(p->FlowControl().XonXoffIn()), "No"},
      {"FlowControl", FlowControlToText(p->FlowControl().FlowControl()), FlowControlToText(fcNone)},
      {"EventChar", std::string(1, p->EventChar()), "0"},
      {"Connected", BoolToText(p->Connected()), "No"},
      {"Loading", BoolToText(p->Loading()), "No"},
  };
  for (const auto &row : rows) EXPECT_EQ(row.Actual, row.Expected) << row.Property;
  EXPECT_EQ(p->Events(), (TComEvents{evRxChar, evTxEmpty, evRxFlag, evCTS, evDSR, evRx80Full}));
  EXPECT_EQ(p->StoredProps(), TStoredProps{spBasic});
  // The framer's link hides the stored value; without it the port reports what it stores.
  Form->ComDataPacket1->SetComPort(nullptr);
  EXPECT_FALSE(p->TriggersOnRxChar());
}

TEST_F(FormMainSerialTest, portIsCreatedBeforeEverythingBoundToIt) {
  const QObjectList children = Form->children();
  const auto portAt = children.indexOf(Form->ComPort1);
  ASSERT_GE(portAt, 0);
  for (QObject *other : {static_cast<QObject *>(Form->ComDataPacket1), static_cast<QObject *>(Form->PageControl1)})
    EXPECT_LT(portAt, children.indexOf(other)) << other->objectName().toStdString();
}

TEST_F(FormMainSerialTest, framerIsBoundWithItsDelimitersAndFeedsTheMeasurementHandler) {
  TComDataPacket *d = Form->ComDataPacket1;
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Form->FindComponent<TComDataPacket>(QStringLiteral("ComDataPacket1")), d);
  EXPECT_EQ(d->ComPort(), Form->ComPort1);
  EXPECT_TRUE(Form->ComPort1->HasLink(d->Link()));
  EXPECT_EQ(d->StartString(), "#");
  EXPECT_EQ(d->StopString(), "<");
  EXPECT_TRUE(d->IncludeStrings());
  // Everything else as the class makes it.
  const TComDataPacket plain;
  EXPECT_EQ(d->CaseInsensitive(), plain.CaseInsensitive());
  EXPECT_EQ(d->Size(), plain.Size());
  EXPECT_EQ(d->MaxBufferSize(), plain.MaxBufferSize());
  EXPECT_FALSE(d->Loading());
  ASSERT_TRUE(d->OnPacket);
  d->OnPacket(d, "#3M42<");
  EXPECT_EQ(Instr3()->Value(), 42.0f);
}

TEST_F(FormMainSerialTest, selectionBoxesAndLampsAreBoundAsDesigned) {
  const struct {
    TComComboBox *Box;
    const char *Name;
    TComProperty Property;
  } boxes[] = {{Form->ComComboBox1, "ComComboBox1", cpPort}, {Form->ComComboBox2, "ComComboBox2", cpBaudRate}};
  for (const auto &b : boxes) {
    SCOPED_TRACE(b.Name);
    ASSERT_NE(b.Box, nullptr);
    EXPECT_EQ(b.Box->objectName(), QString::fromLatin1(b.Name));
    EXPECT_EQ(b.Box->ComProperty(), b.Property);
    EXPECT_TRUE(b.Box->AutoApply());
    EXPECT_EQ(b.Box->ComPort(), Form->ComPort1);
    EXPECT_FALSE(b.Box->isEditable());
  }
  EXPECT_EQ(Form->ComComboBox2->count(), 16);
  EXPECT_EQ(Form->ComComboBox2->ItemIndex(), 9);
  EXPECT_EQ(Form->ComComboBox2->Text(), "19200");

  const struct {
    TComLed *Led;
    const char *Name;
    TCustomComPort *Port;
    QWidget *Page;
  } leds[] = {{Form->ComLed2, "ComLed2", Form->ComPort1, Form->TabSheetSchnittstelle},
              {Form->ComLed1, "ComLed1", Form->ComPort1, Form->TabSheetTerminal}};
  for (const auto &l : leds) {
    SCOPED_TRACE(l.Name);
    ASSERT_NE(l.Led, nullptr);
    EXPECT_EQ(l.Led->objectName(), QString::fromLatin1(l.Name));
    EXPECT_EQ(l.Led->LedSignal(), lsConn);
    EXPECT_EQ(l.Led->Kind(), lkGreenLight);
    EXPECT_EQ(l.Led->ComPort(), l.Port);
    EXPECT_EQ(l.Led->State(), lsOff);
    EXPECT_FALSE(l.Led->Loading());
    EXPECT_TRUE(l.Page->isAncestorOf(l.Led));
  }
  EXPECT_TRUE(Form->ComPort1->HasLink(&Form->ComLed2->Link()));
  EXPECT_TRUE(Form->ComPort1->HasLink(&Form->ComLed1->Link()));
}

TEST_F(FormMainSerialTest, portBoxSelectsTheDesignPortOnlyWhereItIsListed) {
  const struct {
    std::vector<std::string> Listed;
    std::string Shown;
  } rows[] = {
      {{}, ""},
      {{"ttyS0", "ttyUSB0"}, ""},
      {{"COM1", "COM10", "COM2"}, "COM10"},
      {{"com10"}, "com10"}, // names compare without case
  };
  for (const auto &row : rows) {
    TComComboBox *box = Form->ComComboBox1;
    box->SetPortLister([&](std::vector<std::string> &list) { list = row.Listed; });
    box->Select().FillItems();
    box->Select().SelectPortValue();
    EXPECT_EQ(box->Text(), row.Shown) << row.Listed.size() << " listed";
  }
}

TEST_F(FormMainSerialTest, portSpeedTakesTheNamedRateOrACustomOne) {
  const struct {
    int32_t BitsPerSecond;
    TBaudRate Member;
    int32_t Custom; // expected CustomBaudRate when the member is brCustom
  } rows[] = {
      {110, br110, 0},          {9600, br9600, 0},           {19200, br19200, 0},
      {56000, br56000, 0},      {115200, br115200, 0},       {256000, br256000, 0},
      {1, brCustom, 1},         {115201, brCustom, 115201},  {250000, brCustom, 250000},
      {3000000, brCustom, 3000000}, {2147483647, brCustom, 2147483647},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.BitsPerSecond);
    TComPort port;
    SetPortSpeed(port, row.BitsPerSecond);
    EXPECT_EQ(port.BaudRate(), row.Member);
    if (row.Member == brCustom) {
      EXPECT_EQ(port.CustomBaudRate(), row.Custom);
    }
    EXPECT_EQ(port.BuildDcb().BaudRate, static_cast<uint32_t>(row.BitsPerSecond));
  }
}

TEST_F(FormMainSerialTest, portChosenOutsideThePageShowsInTheBoxes) {
  const struct {
    std::string Name;
    int32_t Rate;
    std::string Port, PortBox, BaudBox;
  } rows[] = {
      // A path the list does not hold is shown as given, never as a blank box.
      {"", 0, "COM10", "", "19200"},
      {"/dev/pts/7", 0, "/dev/pts/7", "/dev/pts/7", "19200"},
      {"ttyUSB0", 115200, "ttyUSB0", "ttyUSB0", "115200"},
      {"", 250000, "ttyUSB0", "ttyUSB0", "Custom"},
      {"/dev/serial/by-id/usb-Board_1234-if00", 9600, "/dev/serial/by-id/usb-Board_1234-if00",
       "/dev/serial/by-id/usb-Board_1234-if00", "9600"},
  };
  Form->ComComboBox1->SetPortLister([](std::vector<std::string> &list) { list = {"ttyACM0", "ttyUSB0"}; });
  Form->ComComboBox1->Select().FillItems();
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Name + " " + std::to_string(row.Rate));
    Form->UsePort(row.Name, row.Rate);
    EXPECT_EQ(Form->ComPort1->Port(), row.Port);
    EXPECT_EQ(Form->PortName(), row.Port);
    EXPECT_EQ(Form->ComComboBox1->Text(), row.PortBox);
    EXPECT_EQ(Form->ComComboBox2->Text(), row.BaudBox);
    EXPECT_FALSE(Form->ComPort1->Connected());
  }
  EXPECT_EQ(Form->ComPort1->CustomBaudRate(), 250000);
}

TEST_F(FormMainSerialTest, connectOnAFreshStartShowsTheMissingPortAndStaysClosed) {
  for (const Command &connect : ConnectCommands()) {
    SCOPED_TRACE(connect.Name);
    Shown.clear();
    connect.Run();
    // What to do follows: the ports that do exist, or how a board shows up.
    std::vector<std::string> ports;
    ListSerialPorts(ports);
    std::string choice = "Es gibt keine Schnittstelle COM10 (/dev/COM10)";
    for (size_t i = 0; i < ports.size(); ++i)
      choice += (i == 0 ? ". Eine der gefundenen Schnittstellen wählen: " : ", ") + ports[i];
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].rfind("Unable to open com port (Error: 2)\n" + choice, 0), 0u) << Shown[0];
    EXPECT_FALSE(Form->ComPort1->Connected());
    EXPECT_EQ(Form->ComLed2->State(), lsOff);
  }
  // The terminal button enables sending before it tries the port.
  EXPECT_TRUE(Form->ButtonSendString->isEnabled());
}

TEST_F(FormMainSerialTest, eachConnectCommandOpensAndRecordsReachTheMeters) {
  ASSERT_EQ(Pty.Open(), 0);
  Form->UsePort(Pty.SlavePath(), 0);
  const auto connects = ConnectCommands();
  const auto disconnects = DisconnectCommands();
  for (size_t i = 0; i < connects.size(); ++i) {
    SCOPED_TRACE(std::string(connects[i].Name) + " / " + disconnects[i].Name);
    connects[i].Run();
    ASSERT_TRUE(Form->ComPort1->Connected());
    EXPECT_EQ(Form->ComLed2->State(), lsOn);
    EXPECT_EQ(Form->ComLed1->State(), lsOn);
    // Two records cut into three-byte pieces: inside the head, the value and the stop string.
    const float first = 11.5f + float(i);
    const std::string record = "#3M" + std::to_string(11 + i) + ".5<";
    const std::string stream = record + "#3M77<";
    for (size_t at = 0; at < stream.size(); at += 3) {
      ASSERT_EQ(Pty.Send(stream.substr(at, 3), 2s), std::min<size_t>(3, stream.size() - at));
      if (at < record.size() && at + 3 >= record.size()) WaitForValue(first);
    }
    WaitForValue(77.0f);
    disconnects[i].Run();
    EXPECT_FALSE(Form->ComPort1->Connected());
    EXPECT_EQ(Form->ComLed2->State(), lsOff);
    EXPECT_EQ(Form->ComLed1->State(), lsOff);
  }
  EXPECT_EQ(Shown, std::vector<std::string>{});
}

TEST_F(FormMainSerialTest, connectTwiceOpensOnceAndDisconnectTwiceClosesOnce) {
  ASSERT_EQ(Pty.Open(), 0);
  Form->UsePort(Pty.SlavePath(), 0);
  int opens = 0, closes = 0;
  Form->ComPort1->SetDeviceFactory([&opens] {
    ++opens;
    return std::make_shared<TPosixSerialDevice>();
  });
  Form->ComPort1->OnAfterClose = [&closes](TObject *) { ++closes; };
  for (const Command &connect : ConnectCommands()) connect.Run();
  Form->ButtonConnectComPort1->click();
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(Form->ComLed2->State(), lsOn);
  for (const Command &disconnect : DisconnectCommands()) disconnect.Run();
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(Form->ComLed2->State(), lsOff);
  EXPECT_TRUE(Shown.empty());
}

TEST_F(FormMainSerialTest, hangupClosesThePortTurnsTheLampOffAndIsShownOnce) {
  ASSERT_EQ(Pty.Open(), 0);
  Form->UsePort(Pty.SlavePath(), 0);
  Form->ButtonConnectComPort1->click();
  ASSERT_TRUE(Form->ComPort1->Connected());
  SendAndWaitForValue(Pty, "#3M12.5<", 12.5f);
  // Mid-stream: a record is on its way when the other end goes away.
  ASSERT_EQ(Pty.Send("#3M60<#3M6", 2s), 10u);
  Pty.CloseMaster();
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !Form->ComPort1->Connected(); }));
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !Shown.empty(); }));
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].substr(0, Shown[0].find('\n')), "ReadFile function failed (Error: 5)");
  EXPECT_NE(Shown[0].find(" ist weg "), std::string::npos) << Shown[0]; // the window's German
  EXPECT_EQ(Form->ComLed2->State(), lsOff);
  EXPECT_FALSE(Form->WaitingForDevice()); // a pty's number is not the device: never waited for

  // The device is back (a new pseudo-terminal): Connect works again, and the hangup stays shown
  // once while the loop runs on. The framer does not react to the port closing, so when "#3M6"
  // came in before the hangup it is still held and swallows the first record; the next one
  // arrives either way.
  TPseudoTerminal back;
  ASSERT_EQ(back.Open(), 0);
  Form->UsePort(back.SlavePath(), 0);
  Form->ConnectSchnittstelle1->trigger();
  ASSERT_TRUE(Form->ComPort1->Connected());
  EXPECT_EQ(Form->ComLed2->State(), lsOn);
  SendAndWaitForValue(back, "#3M33<#3M34<", 34.0f);
  EXPECT_EQ(Shown.size(), 1u);
  Form->DisconnectSchnittstelle1->trigger();
}

TEST_F(FormMainSerialTest, baudBoxAppliesItsPickToTheOpenLine) {
  ASSERT_EQ(Pty.Open(), 0);
  Form->UsePort(Pty.SlavePath(), 0);
  Form->ButtonConnectComPort1->click();
  ASSERT_TRUE(Form->ComPort1->Connected());
  TComComboBox *box = Form->ComComboBox2;
  box->SetItemIndex(box->Select().IndexOf("115200"));
  emit box->activated(box->ItemIndex());
  EXPECT_EQ(Form->ComPort1->BaudRate(), br115200);
  const int fd = ::open(Pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  termios tio{};
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  ::close(fd);
  EXPECT_EQ(cfgetospeed(&tio), speed_t(B115200));
  EXPECT_TRUE(Shown.empty());
}

TEST_F(FormMainSerialTest, portBoxPickWhileConnectedReopensOnTheChosenPort) {
  TPseudoTerminal other;
  ASSERT_EQ(Pty.Open(), 0);
  ASSERT_EQ(other.Open(), 0);
  const std::vector<std::string> listed = {Pty.SlavePath(), other.SlavePath()};
  Form->ComComboBox1->SetPortLister([listed](std::vector<std::string> &list) { list = listed; });
  Form->ComComboBox1->Select().FillItems();
  Form->UsePort(Pty.SlavePath(), 0);
  ASSERT_EQ(Form->ComComboBox1->Text(), Pty.SlavePath());
  Form->ButtonConnectComPort1->click();
  ASSERT_TRUE(Form->ComPort1->Connected());
  Form->ComComboBox1->SetItemIndex(1);
  emit Form->ComComboBox1->activated(1);
  EXPECT_EQ(Form->ComPort1->Port(), other.SlavePath());
  ASSERT_TRUE(Form->ComPort1->Connected());
  EXPECT_EQ(Form->ComLed2->State(), lsOn);
  SendAndWaitForValue(other, "#3M21<", 21.0f);
  EXPECT_TRUE(Shown.empty());
}

} // namespace

TEST_F(FormMainSerialTest, receivedBytesReachTheMetersAndTheTerminalAndTypedKeysTheDevice) {
  ASSERT_EQ(Pty.Open(), 0);
  Form->UsePort(Pty.SlavePath(), 0);
  Form->Terminal1->trigger(); // the terminal page: its show erases the grid
  Form->ButtonTerminalConnect->click();
  ASSERT_TRUE(Form->ComPort1->Connected());
  ASSERT_EQ(Pty.Send("#3M7<hi", 2s), 7u);
  WaitForValue(7.0f);
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Form->ComTerminal1->Buffer().GetCell(7, 1).Ch == 'i'; }));
  std::string row;
  for (int col = 1; col <= 7; ++col) row += Form->ComTerminal1->Buffer().GetCell(col, 1).Ch;
  EXPECT_EQ(row, "#3M7<hi");
  QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
  QCoreApplication::sendEvent(Form->ComTerminal1, &key);
  EXPECT_EQ(Pty.Receive(1, 2s), "a");
  Form->ButtonTerminalDisconnect->click();
  EXPECT_FALSE(Form->ComPort1->Connected());
}

// The terminal page's edit field worked with keys and clicks on the shown window; the other end
// receives the line with the terminal's Enter bytes.
TEST_F(FormMainSerialTest, sendStringSendsTheTypedLineWithTheEnterBytesAndRecallsIt) {
  ASSERT_EQ(Pty.Open(), 0);
  Form->UsePort(Pty.SlavePath(), 0);
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  Form->Terminal1->trigger();
  QTest::mouseClick(Form->ButtonTerminalConnect, Qt::LeftButton);
  ASSERT_EQ(Form->ComLed1->State(), lsOn);
  QLineEdit *edit = Form->EditTerminalSendString;
  TComTerminal *term = Form->ComTerminal1;
  const struct {
    bool SendLF, LocalEcho, Enter;
    QString Typed;
    std::string Sent;
  } rows[] = {{false, false, false, QStringLiteral("#1M5<"), "#1M5<\r"},
              {true, true, true, QStringLiteral("abc"), "abc\r\n"},
              {false, false, true, QString(), "\r"},
              {false, true, false, QStringLiteral("Grüße €5"), "Gr\xFC\xDF" "e \x80" "5\r"}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Sent);
    term->SetSendLF(row.SendLF);
    term->SetLocalEcho(row.LocalEcho);
    term->EraseAll();
    const TTermCell blank = term->Buffer().GetCell(1, 1);
    // One key event may carry composed text: how a keyboard layout delivers "ü" or "€".
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, row.Typed, Qt::NoModifier);
    if (row.Enter)
      QTest::keyClick(edit, Qt::Key_Return);
    else
      QTest::mouseClick(Form->ButtonSendString, Qt::LeftButton);
    EXPECT_EQ(Pty.Receive(row.Sent.size(), 2s), row.Sent);
    EXPECT_EQ(Pty.Pending(), 0); // the write was done when the key returned: nothing follows
    EXPECT_TRUE(edit->text().isEmpty());
    const std::string line = row.Sent.substr(0, row.Sent.find('\r'));
    std::string shown;
    for (int col = 1; col <= int(line.size()); ++col) shown += term->Buffer().GetCell(col, 1).Ch;
    if (row.LocalEcho)
      EXPECT_EQ(shown, line);
    else
      EXPECT_TRUE(term->Buffer().GetCell(1, 1) == blank);
    EXPECT_EQ(term->CaretPos(), (TPoint{1, row.LocalEcho && row.SendLF ? 2 : 1}));
  }
  // Up goes back through the sent lines (not the empty one), Down forward to what was typed.
  QTest::keyClicks(edit, "dra");
  const std::pair<Qt::Key, const char *> keys[] = {
      {Qt::Key_Up, "Grüße €5"}, {Qt::Key_Up, "abc"},   {Qt::Key_Up, "#1M5<"}, {Qt::Key_Up, "#1M5<"},
      {Qt::Key_Down, "abc"},    {Qt::Key_Down, "Grüße €5"}, {Qt::Key_Down, "dra"}, {Qt::Key_Down, "dra"}};
  for (const auto &[key, text] : keys) {
    QTest::keyClick(edit, key);
    EXPECT_EQ(edit->text(), QString::fromUtf8(text));
  }
  // Closed: nothing goes out, the user is told why, and the typed line stays.
  QTest::mouseClick(Form->ButtonTerminalDisconnect, Qt::LeftButton);
  EXPECT_EQ(Form->ComLed1->State(), lsOff);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(Shown, std::vector<std::string>{"Port Not Open\nZuerst mit „Connect“ " + Pty.SlavePath() + " öffnen, dann erneut senden."});
  EXPECT_EQ(edit->text(), QStringLiteral("dra"));
  EXPECT_EQ(Pty.Pending(), 0);
}
