// The port's configuration: defaults, setter rules, the records the settings become, the text
// forms and saving/loading to INI sections and registry keys.
#include "serial/ComPort.h"

#include "platform/Application.h"
#include "tty/FakeSerialDevice.h"
#include "platform/IniFile.h"
#include "platform/KeyValueStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// A port on a scripted device; no events, so no event thread takes part in the call log.
struct TFakePort {
  std::shared_ptr<TFakeSerialDevice> Device = std::make_shared<TFakeSerialDevice>();
  TComPort Port;
  TFakePort() {
    Port.setObjectName("ComPort1");
    Port.SetDeviceFactory([d = Device] { return d; });
    Port.SetEvents({});
  }
  void Open() {
    Port.SetConnected(true);
    Device->ClearCalls();
  }
};

uint32_t Flags(const DCB &dcb) { return DcbFlags(dcb); }

TEST(ComPortConfig, freshPortHasDocumentedDefaults) {
  TComPort port;
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_FALSE(port.Parity().Check());
  EXPECT_FALSE(port.Parity().Replace());
  EXPECT_EQ(port.Parity().ReplaceChar(), 0);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.FlowControl().ControlDTR(), dtrDisable);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
  EXPECT_EQ(port.FlowControl().XonChar(), 17);
  EXPECT_EQ(port.FlowControl().XoffChar(), 19);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  EXPECT_FALSE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), 0);
  EXPECT_EQ(port.Events(), AllComEvents);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_TRUE(port.TriggersOnRxChar());
  EXPECT_EQ(port.StoredProps(), TStoredProps{spBasic});
  EXPECT_EQ(port.EventPriority(), QThread::NormalPriority);
  EXPECT_EQ(port.CodePage(), 0u);
  EXPECT_FALSE(port.Connected());
  EXPECT_STREQ(port.ClassName(), "TComPort");
}

struct TDcbCase {
  const char *Name;
  std::function<void(TComPort &)> Setup;
  uint32_t Baud, Flags;
  uint8_t ByteSize, Parity, StopBits;
  uint16_t XonLim;
  char ErrorChar, EvtChar, XonChar;
};

TEST(ComPortConfig, lineSettingsRecordFollowsEveryField) {
  const TDcbCase cases[] = {
      {"defaults", [](TComPort &) {}, 9600, 0x0001, 8, 0, 0, 256, 0, 0, 17},
      {"custom rate", [](TComPort &p) { p.SetBaudRate(brCustom); p.SetCustomBaudRate(250000); },
       250000, 0x0001, 8, 0, 0, 256, 0, 0, 17},
      {"custom value unused", [](TComPort &p) { p.SetCustomBaudRate(250000); }, 9600, 0x0001, 8, 0, 0, 256, 0, 0, 17},
      {"frame", [](TComPort &p) { p.SetBaudRate(br256000); p.SetDataBits(dbFive); p.SetStopBits(sbTwoStopBits);
                                  p.Parity().SetBits(prSpace); },
       256000, 0x0001, 5, 4, 2, 256, 0, 0, 17},
      {"one and a half", [](TComPort &p) { p.SetBaudRate(br110); p.SetStopBits(sbOne5StopBits); p.Parity().SetBits(prOdd); },
       110, 0x0001, 8, 1, 1, 256, 0, 0, 17},
      {"parity replaced", [](TComPort &p) { p.Parity().SetCheck(true); p.Parity().SetReplace(true);
                                            p.Parity().SetReplaceChar('?'); },
       9600, 0x0001 | 0x0002 | 0x0400, 8, 0, 0, 256, '?', 0, 17},
      {"replace needs check", [](TComPort &p) { p.Parity().SetReplace(true); p.Parity().SetReplaceChar('?'); },
       9600, 0x0001, 8, 0, 0, 256, 0, 0, 17},
      {"hardware", [](TComPort &p) { p.FlowControl().SetFlowControl(fcHardware); p.FlowControl().SetControlDTR(dtrEnable); },
       9600, 0x0001 | 0x0004 | 0x0010 | 0x2000, 8, 0, 0, 256, 0, 0, 17},
      {"software and dsr", [](TComPort &p) { p.FlowControl().SetFlowControl(fcSoftware); p.FlowControl().SetOutDSRFlow(true);
                                             p.FlowControl().SetDSRSensitivity(true); p.FlowControl().SetTxContinueOnXoff(true);
                                             p.FlowControl().SetXonChar('a'); },
       9600, 0x0001 | 0x0008 | 0x0040 | 0x0080 | 0x0100 | 0x0200, 8, 0, 0, 256, 0, 0, 'a'},
      {"toggle, dtr handshake, null", [](TComPort &p) { p.FlowControl().SetControlRTS(rtsToggle);
                                                        p.FlowControl().SetControlDTR(dtrHandshake); p.SetDiscardNull(true); },
       9600, 0x0001 | 0x0020 | 0x0800 | 0x3000, 8, 0, 0, 256, 0, 0, 17},
      {"limits from input size", [](TComPort &p) { p.Buffer().SetInputSize(1002); }, 9600, 0x0001, 8, 0, 0, 250, 0, 0, 17},
      {"negative input size wraps", [](TComPort &p) { p.Buffer().SetInputSize(-8); }, 9600, 0x0001, 8, 0, 0, 65534, 0, 0, 17},
      {"event char", [](TComPort &p) { p.SetEventChar('0'); }, 9600, 0x0001, 8, 0, 0, 256, 0, '0', 17},
  };
  for (const TDcbCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TComPort port;
    c.Setup(port);
    const DCB dcb = port.BuildDcb();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, c.Baud);
    EXPECT_EQ(Flags(dcb), c.Flags);
    EXPECT_EQ(dcb.ByteSize, c.ByteSize);
    EXPECT_EQ(dcb.Parity, c.Parity);
    EXPECT_EQ(dcb.StopBits, c.StopBits);
    EXPECT_EQ(dcb.XonLim, c.XonLim);
    EXPECT_EQ(dcb.XoffLim, c.XonLim);
    EXPECT_EQ(dcb.ErrorChar, c.ErrorChar);
    EXPECT_EQ(dcb.EvtChar, c.EvtChar);
    EXPECT_EQ(dcb.XonChar, c.XonChar);
    EXPECT_EQ(dcb.EofChar, 0);
  }
}

TEST(ComPortConfig, timeoutsRecordKeepsOrderAndPassesMinusOneAsAllOnes) {
  TComPort port;
  COMMTIMEOUTS t = port.BuildTimeouts();
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
  port.Timeouts().SetReadInterval(1);
  port.Timeouts().SetReadTotalMultiplier(2);
  port.Timeouts().SetReadTotalConstant(3);
  port.Timeouts().SetWriteTotalMultiplier(4);
  port.Timeouts().SetWriteTotalConstant(-1);
  t = port.BuildTimeouts();
  EXPECT_EQ(t.ReadIntervalTimeout, 1u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 2u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 3u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 4u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, MAXDWORD);
}

TEST(ComPortConfig, bufferSizesDropAPositiveOddByte) {
  const std::pair<int32_t, int32_t> cases[] = {{1025, 1024}, {1000, 1000}, {1, 0}, {-3, -3}, {0, 0}, {2147483647, 2147483646}};
  for (const auto &[given, stored] : cases) {
    TComBuffer buffer;
    buffer.SetInputSize(given);
    buffer.SetOutputSize(given);
    EXPECT_EQ(buffer.InputSize(), stored) << given;
    EXPECT_EQ(buffer.OutputSize(), stored) << given;
  }
}

TEST(ComPortConfig, flowControlPresetIsDerivedFromFourFields) {
  struct TCase {
    TRTSFlowControl Rts;
    bool Cts, XIn, XOut;
    TFlowControl Expected;
  };
  const TCase cases[] = {
      {rtsHandshake, true, false, false, fcHardware}, {rtsDisable, false, true, true, fcSoftware},
      {rtsDisable, false, false, false, fcNone},      {rtsToggle, false, false, false, fcCustom},
      {rtsEnable, false, false, false, fcCustom},     {rtsHandshake, false, false, false, fcCustom},
      {rtsDisable, true, false, false, fcCustom},     {rtsDisable, false, true, false, fcCustom},
      {rtsHandshake, true, true, true, fcCustom},
  };
  for (const TCase &c : cases) {
    TComFlowControl f;
    f.SetControlRTS(c.Rts);
    f.SetOutCTSFlow(c.Cts);
    f.SetXonXoffIn(c.XIn);
    f.SetXonXoffOut(c.XOut);
    // Fields outside the four do not matter.
    f.SetControlDTR(dtrHandshake);
    f.SetOutDSRFlow(true);
    EXPECT_EQ(f.FlowControl(), c.Expected) << c.Rts << c.Cts << c.XIn << c.XOut;
  }
}

TEST(ComPortConfig, writingAPresetSetsItsFieldsAndKeepsTheOthers) {
  TComFlowControl f;
  f.SetControlRTS(rtsToggle);
  f.SetControlDTR(dtrEnable);
  EXPECT_EQ(f.FlowControl(), fcCustom);
  f.SetFlowControl(fcHardware);
  EXPECT_EQ(f.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(f.OutCTSFlow());
  EXPECT_EQ(f.ControlDTR(), dtrEnable);
  EXPECT_EQ(f.FlowControl(), fcHardware);
  f.SetFlowControl(fcSoftware);
  EXPECT_EQ(f.ControlRTS(), rtsDisable);
  EXPECT_FALSE(f.OutCTSFlow());
  EXPECT_TRUE(f.XonXoffIn() && f.XonXoffOut());
  f.SetFlowControl(fcCustom);
  EXPECT_EQ(f.FlowControl(), fcSoftware);
  f.SetFlowControl(fcNone);
  EXPECT_EQ(f.FlowControl(), fcNone);
  EXPECT_EQ(f.ControlDTR(), dtrEnable);
}

template <class E> struct TTextTable {
  std::vector<const char *> Texts;
  std::function<std::string(E)> ToText;
  std::function<E(const std::string &)> FromText;
  E Fallback;
};

template <class E> void CheckTextTable(const char *name, const TTextTable<E> &t) {
  SCOPED_TRACE(name);
  for (size_t i = 0; i < t.Texts.size(); ++i) {
    const E member = E(i);
    EXPECT_EQ(t.ToText(member), t.Texts[i]);
    std::string lower = t.Texts[i], upper = t.Texts[i];
    for (char &c : lower)
      c = char(std::tolower(static_cast<unsigned char>(c)));
    for (char &c : upper)
      c = char(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(t.FromText(lower), member) << lower;
    EXPECT_EQ(t.FromText(upper), member) << upper;
  }
  EXPECT_EQ(t.FromText("4711"), t.Fallback);
  EXPECT_EQ(t.FromText(""), t.Fallback);
  EXPECT_EQ(t.FromText(std::string(t.Texts[0]) + " "), t.Fallback);
}

TEST(ComPortConfig, enumerationTextsMatchTheTablesInAnyCase) {
  CheckTextTable<TBaudRate>("baud", {{"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                                      "38400", "56000", "57600", "115200", "128000", "256000"},
                                     BaudRateToText, TextToBaudRate, br9600});
  CheckTextTable<TStopBits>("stop", {{"1", "1.5", "2"}, StopBitsToText, TextToStopBits, sbOneStopBit});
  CheckTextTable<TDataBits>("data", {{"5", "6", "7", "8"}, DataBitsToText, TextToDataBits, dbEight});
  CheckTextTable<TParityBits>("parity", {{"None", "Odd", "Even", "Mark", "Space"}, ParityToText, TextToParity, prNone});
  CheckTextTable<TFlowControl>("flow", {{"Hardware", "Software", "None", "Custom"}, FlowControlToText,
                                        TextToFlowControl, fcCustom});
  CheckTextTable<TDTRFlowControl>("dtr", {{"Disable", "Enable", "Handshake"}, DTRToText, TextToDTR, dtrDisable});
  CheckTextTable<TRTSFlowControl>("rts", {{"Disable", "Enable", "Handshake", "Toggle"}, RTSToText, TextToRTS, rtsDisable});
  EXPECT_EQ(TextToBaudRate("custom"), brCustom);
  EXPECT_EQ(TextToBaudRate("4711"), br9600);
  EXPECT_EQ(TextToStopBits("1.5"), sbOne5StopBits);
}

TEST(ComPortConfig, booleanTexts) {
  EXPECT_EQ(BoolToText(true), "Yes");
  EXPECT_EQ(BoolToText(false), "No");
  const std::pair<const char *, bool> cases[] = {{"Yes", true}, {"yes", true}, {"YES", true}, {"No", false},
                                                 {"true", false}, {"1", false}, {"", false}, {"Yes ", false}};
  for (const auto &[text, value] : cases)
    EXPECT_EQ(TextToBool(text), value) << text;
}

TEST(ComPortConfig, characterTexts) {
  const std::pair<int, const char *> toText[] = {{'A', "A"}, {32, "#32"}, {33, "!"},  {127, "\x7f"},
                                                 {128, "#128"}, {0, "#0"}, {17, "#17"}, {200, "#200"}, {255, "#255"}};
  for (const auto &[code, text] : toText)
    EXPECT_EQ(CharToText(char(code)), text) << code;
  const std::pair<const char *, int> toChar[] = {{"", 0},      {"#", '#'},     {"#x", 0},   {"#300", 44},
                                                 {"#17", 17},  {"A", 'A'},     {"AB", 'A'}, {"#-1", 255},
                                                 {"#65", 'A'}, {"#99999999999", 0}, {"x#1", 'x'}};
  for (const auto &[text, code] : toChar)
    EXPECT_EQ(static_cast<unsigned char>(TextToChar(text)), code) << text;
  for (int code = 0; code < 256; ++code)
    EXPECT_EQ(static_cast<unsigned char>(TextToChar(CharToText(char(code)))), code);
}

TEST(ComPortConfig, eventSetAndMaskConvertExactly) {
  const std::pair<TComEvent, uint32_t> bits[] = {
      {evRxChar, 0x0001}, {evRxFlag, 0x0002}, {evTxEmpty, 0x0004}, {evCTS, 0x0008},   {evDSR, 0x0010},
      {evRLSD, 0x0020},   {evBreak, 0x0040},  {evError, 0x0080},   {evRing, 0x0100}, {evRx80Full, 0x0400}};
  for (const auto &[event, bit] : bits) {
    EXPECT_EQ(EventsToMask({event}), bit) << event;
    EXPECT_EQ(MaskToEvents(bit), TComEvents{event}) << event;
  }
  EXPECT_EQ(EventsToMask(AllComEvents), 0x05FFu);
  EXPECT_EQ(MaskToEvents(0xFFFFFFFFu), AllComEvents);
  EXPECT_TRUE(MaskToEvents(EV_PERR | EV_EVENT1 | EV_EVENT2).Empty());
  EXPECT_EQ(EventsToMask({}), 0u);
}

// --- setter rules ---------------------------------------------------------------------------------

struct TSetterCase {
  const char *Name;
  std::function<void(TComPort &)> Change;
  const char *Applied; // the device call re-applying the group
};

const std::vector<TSetterCase> &SetterCases() {
  static const std::vector<TSetterCase> cases = {
      {"BaudRate", [](TComPort &p) { p.SetBaudRate(br19200); }, "SetCommState"},
      {"CustomBaudRate", [](TComPort &p) { p.SetCustomBaudRate(31250); }, "SetCommState"},
      {"DataBits", [](TComPort &p) { p.SetDataBits(dbSeven); }, "SetCommState"},
      {"StopBits", [](TComPort &p) { p.SetStopBits(sbTwoStopBits); }, "SetCommState"},
      {"DiscardNull", [](TComPort &p) { p.SetDiscardNull(true); }, "SetCommState"},
      {"EventChar", [](TComPort &p) { p.SetEventChar('\n'); }, "SetCommState"},
      {"Parity.Bits", [](TComPort &p) { p.Parity().SetBits(prEven); }, "SetCommState"},
      {"Parity.Check", [](TComPort &p) { p.Parity().SetCheck(true); }, "SetCommState"},
      {"Parity.Replace", [](TComPort &p) { p.Parity().SetReplace(true); }, "SetCommState"},
      {"Parity.ReplaceChar", [](TComPort &p) { p.Parity().SetReplaceChar('*'); }, "SetCommState"},
      {"OutCTSFlow", [](TComPort &p) { p.FlowControl().SetOutCTSFlow(true); }, "SetCommState"},
      {"OutDSRFlow", [](TComPort &p) { p.FlowControl().SetOutDSRFlow(true); }, "SetCommState"},
      {"ControlDTR", [](TComPort &p) { p.FlowControl().SetControlDTR(dtrEnable); }, "SetCommState"},
      {"ControlRTS", [](TComPort &p) { p.FlowControl().SetControlRTS(rtsEnable); }, "SetCommState"},
      {"XonXoffOut", [](TComPort &p) { p.FlowControl().SetXonXoffOut(true); }, "SetCommState"},
      {"XonXoffIn", [](TComPort &p) { p.FlowControl().SetXonXoffIn(true); }, "SetCommState"},
      {"DSRSensitivity", [](TComPort &p) { p.FlowControl().SetDSRSensitivity(true); }, "SetCommState"},
      {"TxContinueOnXoff", [](TComPort &p) { p.FlowControl().SetTxContinueOnXoff(true); }, "SetCommState"},
      {"XonChar", [](TComPort &p) { p.FlowControl().SetXonChar(1); }, "SetCommState"},
      {"XoffChar", [](TComPort &p) { p.FlowControl().SetXoffChar(2); }, "SetCommState"},
      {"ReadInterval", [](TComPort &p) { p.Timeouts().SetReadInterval(5); }, "SetCommTimeouts"},
      {"ReadTotalMultiplier", [](TComPort &p) { p.Timeouts().SetReadTotalMultiplier(5); }, "SetCommTimeouts"},
      {"ReadTotalConstant", [](TComPort &p) { p.Timeouts().SetReadTotalConstant(5); }, "SetCommTimeouts"},
      {"WriteTotalMultiplier", [](TComPort &p) { p.Timeouts().SetWriteTotalMultiplier(5); }, "SetCommTimeouts"},
      {"WriteTotalConstant", [](TComPort &p) { p.Timeouts().SetWriteTotalConstant(5); }, "SetCommTimeouts"},
      {"InputSize", [](TComPort &p) { p.Buffer().SetInputSize(4096); }, "SetupComm(4096,1024)"},
      {"OutputSize", [](TComPort &p) { p.Buffer().SetOutputSize(2048); }, "SetupComm(1024,2048)"},
  };
  return cases;
}

TEST(ComPortConfig, aChangedSettingIsAppliedOnceToAnOpenPortAndAnEqualOneNotAtAll) {
  for (const TSetterCase &c : SetterCases()) {
    SCOPED_TRACE(c.Name);
    TFakePort f;
    f.Open();
    c.Change(f.Port);
    EXPECT_EQ(f.Device->Calls(), std::vector<std::string>{c.Applied});
    f.Device->ClearCalls();
    c.Change(f.Port);
    EXPECT_TRUE(f.Device->Calls().empty());
    // What was applied is the record the settings give (queue sizes apply alone).
    const DCB applied = f.Device->Dcb(), built = f.Port.BuildDcb();
    if (std::string(c.Applied) == "SetCommState") {
      EXPECT_EQ(std::memcmp(&applied, &built, sizeof(DCB)), 0);
    }
    const COMMTIMEOUTS t = f.Device->Timeouts(), tb = f.Port.BuildTimeouts();
    EXPECT_EQ(std::memcmp(&t, &tb, sizeof t), 0);
  }
}

TEST(ComPortConfig, aClosedPortOnlyStoresAndTheNextOpenAppliesEverything) {
  for (const TSetterCase &c : SetterCases()) {
    SCOPED_TRACE(c.Name);
    TFakePort f;
    c.Change(f.Port);
    EXPECT_TRUE(f.Device->Calls().empty());
    f.Port.SetConnected(true);
    const DCB applied = f.Device->Dcb(), built = f.Port.BuildDcb();
    EXPECT_EQ(std::memcmp(&applied, &built, sizeof(DCB)), 0);
    EXPECT_EQ(f.Device->InQueueSize(), uint32_t(f.Port.Buffer().InputSize()));
    EXPECT_EQ(f.Device->OutQueueSize(), uint32_t(f.Port.Buffer().OutputSize()));
  }
}

TEST(ComPortConfig, presetAndGroupAssignmentApplyOnceEvenWhenNothingChanges) {
  TFakePort f;
  f.Open();
  f.Port.FlowControl().SetFlowControl(fcNone);
  f.Port.FlowControl().SetFlowControl(fcCustom);
  EXPECT_EQ(f.Device->Calls(), (std::vector<std::string>{"SetCommState", "SetCommState"}));
  f.Device->ClearCalls();

  TComParity parity;
  parity.SetBits(prMark);
  parity.SetCheck(true);
  f.Port.SetParity(parity);
  TComTimeouts timeouts;
  timeouts.SetReadTotalConstant(50);
  f.Port.SetTimeouts(timeouts);
  TComBuffer buffer;
  buffer.SetInputSize(512);
  f.Port.SetBuffer(buffer);
  TComFlowControl flow;
  flow.SetFlowControl(fcHardware);
  f.Port.SetFlowControl(flow);
  EXPECT_EQ(f.Device->Calls(), (std::vector<std::string>{"SetCommState", "SetCommTimeouts", "SetupComm(512,1024)",
                                                          "SetCommState"}));
  EXPECT_EQ(f.Port.Parity().Bits(), prMark);
  EXPECT_TRUE(f.Port.Parity().Check());
  EXPECT_EQ(f.Port.Timeouts().ReadTotalConstant(), 50);
  EXPECT_EQ(f.Port.FlowControl().FlowControl(), fcHardware);
  EXPECT_EQ(f.Device->Dcb().Parity, MARKPARITY);
}

TEST(ComPortConfig, assignCopiesFieldsWithoutApplyingAndRefusesOtherClasses) {
  TFakePort f;
  f.Open();
  TComTimeouts source;
  source.SetReadInterval(7);
  source.SetWriteTotalConstant(9);
  f.Port.Timeouts().Assign(&source);
  EXPECT_EQ(f.Port.Timeouts().ReadInterval(), 7);
  EXPECT_EQ(f.Port.Timeouts().WriteTotalConstant(), 9);
  EXPECT_TRUE(f.Device->Calls().empty());
  EXPECT_EQ(f.Port.Timeouts().ComPort(), &f.Port);

  TComBuffer buffer;
  EXPECT_THROW(f.Port.Parity().Assign(&buffer), EConvertError);
  EXPECT_THROW(f.Port.FlowControl().Assign(&buffer), EConvertError);
  EXPECT_THROW(f.Port.Timeouts().Assign(&buffer), EConvertError);
  EXPECT_THROW(f.Port.Buffer().Assign(&source), EConvertError);
  EXPECT_THROW(f.Port.Buffer().Assign(nullptr), EConvertError);
}

TEST(ComPortConfig, changingThePortOfAnOpenPortReopensOnTheNewName) {
  TFakePort f;
  f.Open();
  f.Port.SetPort("COM1"); // unchanged: nothing
  EXPECT_TRUE(f.Device->Calls().empty());
  f.Port.SetPort("com1"); // case matters
  EXPECT_EQ(f.Device->OpenedName(), "com1");
  EXPECT_EQ(f.Device->CallNames(), (std::vector<std::string>{"PurgeComm", "Close", "Open", "SetupComm", "SetCommState",
                                                              "SetCommTimeouts", "GetCommModemStatus",
                                                              "GetCommModemStatus", "GetCommModemStatus"}));
  EXPECT_TRUE(f.Port.Connected());

  f.Device->Fail(TFakeOp::Open, ENOENT, 1);
  try {
    f.Port.SetPort("ttyNOPE");
    FAIL() << "no failure";
  } catch (const EComPort &e) {
    EXPECT_EQ(e.PortErrorCode(), 1);
    EXPECT_EQ(e.SystemErrorCode(), ENOENT);
  }
  EXPECT_FALSE(f.Port.Connected());
  EXPECT_EQ(f.Port.Port(), "ttyNOPE");
}

TEST(ComPortConfig, syncMethodIsRefusedWhileConnected) {
  TFakePort f;
  f.Port.SetSyncMethod(smNone);
  EXPECT_EQ(f.Port.SyncMethod(), smNone);
  f.Open();
  try {
    f.Port.SetSyncMethod(smWindowSync);
    FAIL() << "no failure";
  } catch (const EComPort &e) {
    EXPECT_EQ(e.PortErrorCode(), 14);
    EXPECT_EQ(e.SystemErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Cannot set property while connected");
  }
  EXPECT_EQ(f.Port.SyncMethod(), smNone);
  f.Port.SetSyncMethod(smNone); // unchanged: no failure
  f.Port.OnException = [](TObject *, TComExceptions, const std::string &, int64_t, const std::string &,
                         const std::string &) {};
  f.Port.SetSyncMethod(smThreadSync);
  EXPECT_EQ(f.Port.SyncMethod(), smNone);
}

TEST(ComPortConfig, storedValueStaysWhenApplyingFails) {
  TFakePort f;
  f.Open();
  f.Device->Fail(TFakeOp::SetCommState, EINVAL);
  EXPECT_THROW(f.Port.SetBaudRate(br57600), EComPort);
  EXPECT_EQ(f.Port.BaudRate(), br57600);
}

TEST(ComPortConfig, lineSettingsTheDriverDidNotTakeFailWithAskedAndActualValues) {
  TFakePort f;
  f.Port.SetPort("ttyS0");
  f.Device->RefuseSettings({{"speed", "921600 baud", "115200 baud"}, {"parity", "mark", "odd"}});
  try {
    f.Port.SetConnected(true);
    FAIL() << "no failure";
  } catch (const EComPort &e) {
    EXPECT_STREQ(e.what(), "SetCommState function failed (Error: 22)\n/dev/ttyS0 did not take every line setting: "
                           "speed 921600 baud asked for, 115200 baud in effect; parity mark asked for, odd in effect. "
                           "Choose settings this device supports.");
  }
  EXPECT_FALSE(f.Port.Connected());
}

TEST(ComPortConfig, loadingDefersApplyingAndOpening) {
  TFakePort f;
  f.Port.BeginLoading();
  f.Port.SetConnected(true);
  f.Port.SetBaudRate(br115200);
  EXPECT_TRUE(f.Device->Calls().empty());
  EXPECT_TRUE(f.Port.Connected()); // stored only
  f.Port.Loaded();
  EXPECT_TRUE(f.Port.Connected());
  EXPECT_EQ(f.Device->Dcb().BaudRate, 115200u);
  EXPECT_EQ(f.Device->CallCount(TFakeOp::Open), 1);
}

TEST(ComPortConfig, aFailedOpenAtTheEndOfLoadingIsShownNotThrown) {
  std::vector<std::string> shown;
  const TExceptionSink previous = SetExceptionSink([&](const std::string &m) { shown.push_back(m); });
  {
    TFakePort f;
    f.Device->Fail(TFakeOp::Open, ENOENT);
    f.Port.BeginLoading();
    f.Port.SetConnected(true);
    EXPECT_NO_THROW(f.Port.Loaded());
    EXPECT_FALSE(f.Port.Connected());
  }
  SetExceptionSink(previous);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].substr(0, shown[0].find('\n')), "Unable to open com port (Error: 2)");
}

// --- saving and loading ---------------------------------------------------------------------------

const TStoredProps AllStoredProps{spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers};

void Customise(TComPort &p) {
  p.SetPort("/dev/ttyUSB3");
  p.SetBaudRate(brCustom);
  p.SetCustomBaudRate(250000);
  p.SetStopBits(sbTwoStopBits);
  p.SetDataBits(dbSeven);
  p.Parity().SetBits(prEven);
  p.Parity().SetCheck(true);
  p.Parity().SetReplace(true);
  p.Parity().SetReplaceChar(' ');
  p.SetEventChar('\n');
  p.SetDiscardNull(true);
  p.Buffer().SetInputSize(4096);
  p.Buffer().SetOutputSize(512);
  p.Timeouts().SetReadInterval(10);
  p.Timeouts().SetReadTotalConstant(20);
  p.Timeouts().SetReadTotalMultiplier(30);
  p.Timeouts().SetWriteTotalConstant(40);
  p.Timeouts().SetWriteTotalMultiplier(50);
  p.FlowControl().SetControlRTS(rtsToggle);
  p.FlowControl().SetControlDTR(dtrHandshake);
  p.FlowControl().SetDSRSensitivity(true);
  p.FlowControl().SetOutCTSFlow(true);
  p.FlowControl().SetOutDSRFlow(true);
  p.FlowControl().SetTxContinueOnXoff(true);
  p.FlowControl().SetXonXoffIn(true);
  p.FlowControl().SetXonXoffOut(false);
  p.FlowControl().SetXoffChar('x');
  p.FlowControl().SetXonChar(200 - 256);
}

void ExpectSameSettings(const TComPort &a, const TComPort &b) {
  EXPECT_EQ(a.Port(), b.Port());
  EXPECT_EQ(a.BaudRate(), b.BaudRate());
  EXPECT_EQ(a.CustomBaudRate(), b.CustomBaudRate());
  const DCB da = a.BuildDcb(), db = b.BuildDcb();
  EXPECT_EQ(std::memcmp(&da, &db, sizeof(DCB)), 0);
  const COMMTIMEOUTS ta = a.BuildTimeouts(), tb = b.BuildTimeouts();
  EXPECT_EQ(std::memcmp(&ta, &tb, sizeof ta), 0);
  EXPECT_EQ(a.Buffer().OutputSize(), b.Buffer().OutputSize());
  EXPECT_EQ(a.Parity().ReplaceChar(), b.Parity().ReplaceChar());
}

const std::vector<std::string> AllKeys = {
    "Port", "BaudRate", "CustomBaudRate", "StopBits", "DataBits", "Parity", "FlowControl", "EventChar", "DiscardNull",
    "Parity.Check", "Parity.Replace", "Parity.ReplaceChar", "Buffer.OutputSize", "Buffer.InputSize",
    "Timeouts.ReadInterval", "Timeouts.ReadTotalConstant", "Timeouts.ReadTotalMultiplier",
    "Timeouts.WriteTotalConstant", "Timeouts.WriteTotalMultiplier", "FlowControl.ControlRTS",
    "FlowControl.ControlDTR", "FlowControl.DSRSensitivity", "FlowControl.OutCTSFlow", "FlowControl.OutDSRFlow",
    "FlowControl.TxContinueOnXoff", "FlowControl.XonXoffIn", "FlowControl.XonXoffOut", "FlowControl.XoffChar",
    "FlowControl.XonChar"};

TEST(ComPortSettings, iniSectionHoldsEveryGroupInOrderWithTextValues) {
  TComPort port;
  port.setObjectName("ComPort1");
  Customise(port);
  port.SetStoredProps(AllStoredProps);
  TIniFile ini;
  port.SaveToIniSection(ini);
  EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{"ComPort1"});
  EXPECT_EQ(ini.ReadSection("ComPort1"), AllKeys);
  const std::pair<const char *, const char *> values[] = {
      {"Port", "/dev/ttyUSB3"}, {"BaudRate", "Custom"}, {"CustomBaudRate", "250000"}, {"StopBits", "2"},
      {"DataBits", "7"}, {"Parity", "Even"}, {"FlowControl", "Custom"}, {"EventChar", "#10"}, {"DiscardNull", "Yes"},
      {"Parity.Check", "Yes"}, {"Parity.ReplaceChar", "#32"}, {"Buffer.OutputSize", "512"},
      {"Buffer.InputSize", "4096"}, {"Timeouts.ReadTotalConstant", "20"}, {"FlowControl.ControlRTS", "Toggle"},
      {"FlowControl.ControlDTR", "Handshake"}, {"FlowControl.XonXoffOut", "No"}, {"FlowControl.XoffChar", "x"},
      {"FlowControl.XonChar", "#200"}};
  for (const auto &[key, value] : values)
    EXPECT_EQ(ini.ReadString("ComPort1", key, "?"), value) << key;
}

TEST(ComPortSettings, onlySelectedGroupsAreWrittenAndCustomRateOnlyForCustom) {
  struct TCase {
    TStoredProps Props;
    std::vector<std::string> Keys;
  };
  const TCase cases[] = {
      {{spBasic}, {"Port", "BaudRate", "StopBits", "DataBits", "Parity", "FlowControl"}},
      {{spOthers}, {"EventChar", "DiscardNull"}},
      {{spParity, spBuffer}, {"Parity.Check", "Parity.Replace", "Parity.ReplaceChar", "Buffer.OutputSize", "Buffer.InputSize"}},
      {{}, {}},
  };
  for (const TCase &c : cases) {
    TComPort port;
    port.setObjectName("P");
    port.SetStoredProps(c.Props);
    TIniFile ini;
    port.SaveToIniSection(ini);
    EXPECT_EQ(ini.ReadSection("P"), c.Keys);
  }
}

TEST(ComPortSettings, iniRoundTripRestoresEverySetting) {
  TComPort saved;
  saved.setObjectName("ComPort1");
  Customise(saved);
  saved.SetStoredProps(AllStoredProps);
  TIniFile ini;
  saved.SaveToIniSection(ini);
  TIniFile reread;
  reread.LoadFromText(ini.SaveToText());
  TComPort loaded;
  loaded.setObjectName("ComPort1");
  loaded.SetStoredProps(AllStoredProps);
  loaded.LoadFromIniSection(reread);
  ExpectSameSettings(saved, loaded);
}

TEST(ComPortSettings, missingIniKeysKeepTheCurrentValues) {
  TComPort port;
  port.setObjectName("ComPort1");
  port.SetStoredProps(AllStoredProps);
  port.FlowControl().SetOutDSRFlow(true);
  port.SetBaudRate(br38400);
  port.Timeouts().SetReadInterval(77);
  TIniFile ini;
  ini.WriteString("ComPort1", "DataBits", "6");
  port.LoadFromIniSection(ini);
  EXPECT_TRUE(port.FlowControl().OutDSRFlow());
  EXPECT_EQ(port.BaudRate(), br38400);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 77);
  EXPECT_EQ(port.DataBits(), dbSix);
}

TEST(ComPortSettings, customRateIsReadOnlyForCustomAndDefaultsTo9600) {
  TComPort port;
  port.setObjectName("P");
  port.SetCustomBaudRate(1234);
  TIniFile ini;
  ini.WriteString("P", "BaudRate", "Custom");
  port.LoadFromIniSection(ini);
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  ini.WriteString("P", "BaudRate", "19200");
  ini.WriteInteger("P", "CustomBaudRate", 4711);
  port.LoadFromIniSection(ini);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
}

TEST(ComPortSettings, flowPresetLoadsFirstAndIndividualFieldsWin) {
  TComPort port;
  port.setObjectName("P");
  port.FlowControl().SetControlRTS(rtsEnable);
  TIniFile ini;
  ini.WriteString("P", "FlowControl", "Custom"); // leaves the fields
  port.LoadFromIniSection(ini);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsEnable);
  ini.WriteString("P", "FlowControl", "hardware");
  port.LoadFromIniSection(ini);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
  port.SetStoredProps({spBasic, spFlowControl});
  ini.WriteString("P", "FlowControl.OutCTSFlow", "No");
  port.LoadFromIniSection(ini);
  EXPECT_FALSE(port.FlowControl().OutCTSFlow());
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsHandshake);
}

TEST(ComPortSettings, loadingIntoAnOpenPortAppliesAsValuesArrive) {
  TFakePort f;
  f.Open();
  TIniFile ini;
  ini.WriteString("ComPort1", "Port", "ttyACM0");
  ini.WriteString("ComPort1", "BaudRate", "115200");
  f.Port.LoadFromIniSection(ini);
  EXPECT_EQ(f.Device->OpenedName(), "ttyACM0");
  EXPECT_EQ(f.Device->Dcb().BaudRate, 115200u);
  EXPECT_TRUE(f.Port.Connected());
}

TEST(ComPortSettings, registryRoundTripUsesStringsAndIntegers) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("registry.ini").toStdString();
  TComPort saved;
  Customise(saved);
  saved.SetStoredProps(AllStoredProps);
  {
    TKeyValueStore store(path);
    ASSERT_TRUE(store.OpenKey("Software\\Telmora\\ComPort", true));
    saved.SaveToRegistryKey(store);
    EXPECT_EQ(store.GetValueNames(), AllKeys);
    EXPECT_EQ(store.GetValueKind("Port"), TKeyValueStore::TValueKind::String);
    EXPECT_EQ(store.GetValueKind("CustomBaudRate"), TKeyValueStore::TValueKind::Integer);
    EXPECT_EQ(store.GetValueKind("Timeouts.ReadInterval"), TKeyValueStore::TValueKind::Integer);
    EXPECT_EQ(store.ReadString("FlowControl.XonChar"), "#200");
    store.CloseKey();
  }
  TKeyValueStore store(path);
  ASSERT_TRUE(store.OpenKey("Software\\Telmora\\ComPort", false));
  TComPort loaded;
  loaded.SetStoredProps(AllStoredProps);
  loaded.LoadFromRegistryKey(store);
  ExpectSameSettings(saved, loaded);
}

TEST(ComPortSettings, registryReadsWithoutDefaults) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TKeyValueStore store(dir.filePath("registry.ini").toStdString());
  ASSERT_TRUE(store.OpenKey("Port", true));
  TComPort port;
  port.SetBaudRate(br57600);
  port.SetStopBits(sbTwoStopBits);
  port.LoadFromRegistryKey(store); // missing strings: empty text, so the fallbacks
  EXPECT_EQ(port.Port(), "");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);

  port.SetStoredProps({spBuffer});
  EXPECT_THROW(port.LoadFromRegistryKey(store), ERegistryException); // a missing integer
  store.WriteString("Buffer.OutputSize", "2048");
  EXPECT_THROW(port.LoadFromRegistryKey(store), ERegistryException); // not an integer
  store.WriteInteger("Buffer.OutputSize", 2048);
  store.WriteInteger("Buffer.InputSize", 333);
  port.LoadFromRegistryKey(store);
  EXPECT_EQ(port.Buffer().OutputSize(), 2048);
  EXPECT_EQ(port.Buffer().InputSize(), 332);
}

} // namespace
