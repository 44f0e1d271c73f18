// The port's configuration: text forms, the settings groups, the property setters, the records
// the settings become, and saving and loading them.
#include "serial/ComPort.h"
#include "serial/ComStateHint.h"

#include "platform/IniFile.h"
#include "platform/KeyValueStore.h"

#include <array>
#include <string_view>

namespace {

template <size_t N> using TTexts = std::array<const char *, N>;

constexpr TTexts<16> BaudRateTexts = {"Custom", "110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",
                                      "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<uint32_t, 16> BaudRateValues = {0,     CBR_110,   CBR_300,   CBR_600,    CBR_1200,   CBR_2400,
                                                     CBR_4800, CBR_9600, CBR_14400, CBR_19200, CBR_38400, CBR_56000,
                                                     CBR_57600, CBR_115200, CBR_128000, CBR_256000};
constexpr TTexts<3> StopBitsTexts = {"1", "1.5", "2"};
constexpr TTexts<4> DataBitsTexts = {"5", "6", "7", "8"};
constexpr TTexts<5> ParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr TTexts<4> FlowControlTexts = {"Hardware", "Software", "None", "Custom"};
constexpr TTexts<3> DTRTexts = {"Disable", "Enable", "Handshake"};
constexpr TTexts<4> RTSTexts = {"Disable", "Enable", "Handshake", "Toggle"};

constexpr std::array<uint32_t, 10> EventMasks = {EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_RING, EV_BREAK,
                                                 EV_CTS,    EV_DSR,     EV_ERR,    EV_RLSD, EV_RX80FULL};

std::string Upper(std::string_view text) {
  std::string s(text);
  for (char &c : s)
    if (c >= 'a' && c <= 'z')
      c = char(c - 'a' + 'A');
  return s;
}

template <size_t N> std::string ToText(const TTexts<N> &texts, int ordinal) {
  return ordinal >= 0 && size_t(ordinal) < N ? texts[size_t(ordinal)] : "";
}

// The first member whose upper-cased text equals the upper-cased text, else the fallback.
template <class E, size_t N> E FromText(const TTexts<N> &texts, const std::string &text, E fallback) {
  const std::string wanted = Upper(text);
  for (size_t i = 0; i < N; ++i)
    if (Upper(texts[i]) == wanted)
      return E(i);
  return fallback;
}

} // namespace

// --- conversions --------------------------------------------------------------------------------

uint32_t EventToMask(TComEvent event) { return EventMasks[size_t(event)]; }

uint32_t EventsToMask(TComEvents events) {
  uint32_t mask = 0;
  for (size_t i = 0; i < EventMasks.size(); ++i)
    if (events.Contains(TComEvent(i)))
      mask |= EventMasks[i];
  return mask;
}

TComEvents MaskToEvents(uint32_t mask) {
  TComEvents events;
  for (size_t i = 0; i < EventMasks.size(); ++i)
    if (mask & EventMasks[i])
      events.Include(TComEvent(i));
  return events;
}

uint32_t BaudRateValue(TBaudRate rate) {
  return rate >= brCustom && size_t(rate) < BaudRateValues.size() ? BaudRateValues[size_t(rate)] : 0;
}

std::string BaudRateToText(TBaudRate value) { return ToText(BaudRateTexts, value); }
TBaudRate TextToBaudRate(const std::string &text) { return FromText(BaudRateTexts, text, br9600); }
std::string StopBitsToText(TStopBits value) { return ToText(StopBitsTexts, value); }
TStopBits TextToStopBits(const std::string &text) { return FromText(StopBitsTexts, text, sbOneStopBit); }
std::string DataBitsToText(TDataBits value) { return ToText(DataBitsTexts, value); }
TDataBits TextToDataBits(const std::string &text) { return FromText(DataBitsTexts, text, dbEight); }
std::string ParityToText(TParityBits value) { return ToText(ParityTexts, value); }
TParityBits TextToParity(const std::string &text) { return FromText(ParityTexts, text, prNone); }
std::string FlowControlToText(TFlowControl value) { return ToText(FlowControlTexts, value); }
TFlowControl TextToFlowControl(const std::string &text) { return FromText(FlowControlTexts, text, fcCustom); }
std::string DTRToText(TDTRFlowControl value) { return ToText(DTRTexts, value); }
TDTRFlowControl TextToDTR(const std::string &text) { return FromText(DTRTexts, text, dtrDisable); }
std::string RTSToText(TRTSFlowControl value) { return ToText(RTSTexts, value); }
TRTSFlowControl TextToRTS(const std::string &text) { return FromText(RTSTexts, text, rtsDisable); }
std::string BoolToText(bool value) { return value ? "Yes" : "No"; }
bool TextToBool(const std::string &text) { return Upper(text) == "YES"; }

std::string CharToText(char value) {
  const auto code = static_cast<unsigned char>(value);
  if (code >= 33 && code <= 127)
    return std::string(1, value);
  return "#" + std::to_string(code);
}

char TextToChar(const std::string &text) {
  if (text.empty())
    return 0;
  if (text[0] != '#' || text.size() == 1)
    return text[0];
  int32_t code = 0;
  if (!TIniFile::ParseInteger(std::string_view(text).substr(1), code))
    return 0;
  return static_cast<char>(static_cast<uint32_t>(code) & 0xFFu);
}

// --- settings groups ----------------------------------------------------------------------------

void TComParity::Assign(const TObject *source) {
  const auto *other = dynamic_cast<const TComParity *>(source);
  if (!other)
    RaiseAssignError(source, this);
  FBits = other->FBits;
  FCheck = other->FCheck;
  FReplace = other->FReplace;
  FReplaceChar = other->FReplaceChar;
}

void TComParity::Changed() {
  if (FComPort)
    FComPort->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value) {
  if (FBits == value)
    return;
  FBits = value;
  Changed();
}

void TComParity::SetCheck(bool value) {
  if (FCheck == value)
    return;
  FCheck = value;
  Changed();
}

void TComParity::SetReplace(bool value) {
  if (FReplace == value)
    return;
  FReplace = value;
  Changed();
}

void TComParity::SetReplaceChar(char value) {
  if (FReplaceChar == value)
    return;
  FReplaceChar = value;
  Changed();
}

void TComFlowControl::Assign(const TObject *source) {
  const auto *other = dynamic_cast<const TComFlowControl *>(source);
  if (!other)
    RaiseAssignError(source, this);
  FOutCTSFlow = other->FOutCTSFlow;
  FOutDSRFlow = other->FOutDSRFlow;
  FControlDTR = other->FControlDTR;
  FControlRTS = other->FControlRTS;
  FXonXoffOut = other->FXonXoffOut;
  FXonXoffIn = other->FXonXoffIn;
  FDSRSensitivity = other->FDSRSensitivity;
  FTxContinueOnXoff = other->FTxContinueOnXoff;
  FXonChar = other->FXonChar;
  FXoffChar = other->FXoffChar;
}

void TComFlowControl::Changed() {
  if (FComPort)
    FComPort->ApplyLineSettings();
}

template <class T> void TComFlowControl::Set(T &field, T value) {
  if (field == value)
    return;
  field = value;
  Changed();
}

TFlowControl TComFlowControl::FlowControl() const {
  if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
    return fcHardware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut)
    return fcSoftware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
    return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    FControlRTS = rtsDisable;
    FOutCTSFlow = FXonXoffIn = FXonXoffOut = false;
    if (value == fcHardware) {
      FControlRTS = rtsHandshake;
      FOutCTSFlow = true;
    } else if (value == fcSoftware) {
      FXonXoffIn = FXonXoffOut = true;
    }
  }
  Changed();
}

void TComFlowControl::SetOutCTSFlow(bool value) { Set(FOutCTSFlow, value); }
void TComFlowControl::SetOutDSRFlow(bool value) { Set(FOutDSRFlow, value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl value) { Set(FControlDTR, value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl value) { Set(FControlRTS, value); }
void TComFlowControl::SetXonXoffOut(bool value) { Set(FXonXoffOut, value); }
void TComFlowControl::SetXonXoffIn(bool value) { Set(FXonXoffIn, value); }
void TComFlowControl::SetDSRSensitivity(bool value) { Set(FDSRSensitivity, value); }
void TComFlowControl::SetTxContinueOnXoff(bool value) { Set(FTxContinueOnXoff, value); }
void TComFlowControl::SetXonChar(char value) { Set(FXonChar, value); }
void TComFlowControl::SetXoffChar(char value) { Set(FXoffChar, value); }

void TComTimeouts::Assign(const TObject *source) {
  const auto *other = dynamic_cast<const TComTimeouts *>(source);
  if (!other)
    RaiseAssignError(source, this);
  FReadInterval = other->FReadInterval;
  FReadTotalMultiplier = other->FReadTotalMultiplier;
  FReadTotalConstant = other->FReadTotalConstant;
  FWriteTotalMultiplier = other->FWriteTotalMultiplier;
  FWriteTotalConstant = other->FWriteTotalConstant;
}

void TComTimeouts::Set(int32_t &field, int32_t value) {
  if (field == value)
    return;
  field = value;
  if (FComPort)
    FComPort->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(int32_t value) { Set(FReadInterval, value); }
void TComTimeouts::SetReadTotalMultiplier(int32_t value) { Set(FReadTotalMultiplier, value); }
void TComTimeouts::SetReadTotalConstant(int32_t value) { Set(FReadTotalConstant, value); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t value) { Set(FWriteTotalMultiplier, value); }
void TComTimeouts::SetWriteTotalConstant(int32_t value) { Set(FWriteTotalConstant, value); }

void TComBuffer::Assign(const TObject *source) {
  const auto *other = dynamic_cast<const TComBuffer *>(source);
  if (!other)
    RaiseAssignError(source, this);
  FInputSize = other->FInputSize;
  FOutputSize = other->FOutputSize;
}

void TComBuffer::Set(int32_t &field, int32_t value) {
  if (field == value)
    return;
  // Drivers want even queue sizes; negative values are left to the driver to refuse.
  field = value % 2 == 1 ? value - 1 : value;
  if (FComPort)
    FComPort->ApplyQueueSizes();
}

void TComBuffer::SetInputSize(int32_t value) { Set(FInputSize, value); }
void TComBuffer::SetOutputSize(int32_t value) { Set(FOutputSize, value); }

// --- port properties ----------------------------------------------------------------------------

void TCustomComPort::SetPort(const std::string &value) {
  if (FPort == value)
    return;
  FPort = value;
  if (FConnected && !FLoading) {
    ClosePort();
    OpenPort();
  }
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (FBaudRate == value)
    return;
  FBaudRate = value;
  ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int32_t value) {
  if (FCustomBaudRate == value)
    return;
  FCustomBaudRate = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (FDataBits == value)
    return;
  FDataBits = value;
  ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (FStopBits == value)
    return;
  FStopBits = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
  if (FDiscardNull == value)
    return;
  FDiscardNull = value;
  ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char value) {
  if (FEventChar == value)
    return;
  FEventChar = value;
  ApplyLineSettings();
}

void TCustomComPort::SetParity(const TComParity &value) {
  FParity->Assign(&value);
  ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl &value) {
  FFlowControl->Assign(&value);
  ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts &value) {
  FTimeouts->Assign(&value);
  ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer &value) {
  FBuffer->Assign(&value);
  ApplyQueueSizes();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (FSyncMethod == value)
    return;
  if (FConnected && !FLoading) {
    ReportPortError(CE_ConnChangeProp + 1, 0);
    return;
  }
  FSyncMethod = value;
}

bool TCustomComPort::TriggersOnRxChar() const { return FTriggersOnRxChar.load() && !FHasBlockConsumer.load(); }

void TCustomComPort::SetTriggersOnRxChar(bool value) {
  if (FHasBlockConsumer.load())
    ReportPortError(CE_HasLink + 1, 0); // returns only when OnException took the failure
  FTriggersOnRxChar = value;
}

// --- records and applying -----------------------------------------------------------------------

DCB TCustomComPort::BuildDcb() const {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = FBaudRate == brCustom ? static_cast<uint32_t>(FCustomBaudRate) : BaudRateValue(FBaudRate);
  dcb.fBinary = 1;
  const TComParity &parity = *FParity;
  const TComFlowControl &flow = *FFlowControl;
  dcb.fParity = parity.Check();
  dcb.fOutxCtsFlow = flow.OutCTSFlow();
  dcb.fOutxDsrFlow = flow.OutDSRFlow();
  dcb.fDtrControl = uint32_t(flow.ControlDTR());
  dcb.fDsrSensitivity = flow.DSRSensitivity();
  dcb.fTXContinueOnXoff = flow.TxContinueOnXoff();
  dcb.fOutX = flow.XonXoffOut();
  dcb.fInX = flow.XonXoffIn();
  const bool replace = parity.Check() && parity.Replace();
  dcb.fErrorChar = replace;
  dcb.fNull = FDiscardNull;
  dcb.fRtsControl = uint32_t(flow.ControlRTS());
  dcb.XonLim = static_cast<uint16_t>(FBuffer->InputSize() / 4);
  dcb.XoffLim = dcb.XonLim;
  dcb.ByteSize = uint8_t(5 + FDataBits);
  dcb.Parity = uint8_t(parity.Bits());
  dcb.StopBits = uint8_t(FStopBits);
  dcb.XonChar = flow.XonChar();
  dcb.XoffChar = flow.XoffChar();
  dcb.ErrorChar = replace ? parity.ReplaceChar() : 0;
  dcb.EvtChar = FEventChar;
  return dcb;
}

COMMTIMEOUTS TCustomComPort::BuildTimeouts() const {
  const TComTimeouts &t = *FTimeouts;
  return COMMTIMEOUTS{static_cast<uint32_t>(t.ReadInterval()), static_cast<uint32_t>(t.ReadTotalMultiplier()),
                      static_cast<uint32_t>(t.ReadTotalConstant()), static_cast<uint32_t>(t.WriteTotalMultiplier()),
                      static_cast<uint32_t>(t.WriteTotalConstant())};
}

void TCustomComPort::ApplyLineSettings() {
  if (!FConnected || FLoading)
    return;
  if (const auto device = Device())
    if (const int error = device->SetCommState(BuildDcb()))
      ReportPortError(CE_SetStateFailed + 1, error, LineSettingsHint(FPort, device->RefusedSettings(), FHintWording));
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!FConnected || FLoading)
    return;
  if (const auto device = Device())
    if (const int error = device->SetCommTimeouts(BuildTimeouts()))
      ReportPortError(CE_TimeoutsFailed + 1, error);
}

void TCustomComPort::ApplyQueueSizes() {
  if (!FConnected || FLoading)
    return;
  if (const auto device = Device())
    if (const int error = device->SetupComm(static_cast<uint32_t>(FBuffer->InputSize()),
                                            static_cast<uint32_t>(FBuffer->OutputSize())))
      ReportPortError(CE_SetupComFailed + 1, error);
}

void TCustomComPort::ApplyAllSettings() {
  ApplyQueueSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

// --- saving and loading -------------------------------------------------------------------------

namespace {

// The two stores behind one list of keys: text values and integer values.
class TSettingsWriter {
public:
  virtual ~TSettingsWriter() = default;
  virtual void Text(const char *key, const std::string &value) = 0;
  virtual void Integer(const char *key, int32_t value) = 0;
};

// `current` is the value's present text (or number): the INI reader keeps it for a missing key.
class TSettingsReader {
public:
  virtual ~TSettingsReader() = default;
  virtual std::string Text(const char *key, const std::string &current) = 0;
  virtual int32_t Integer(const char *key, int32_t current) = 0;
};

class TIniWriter final : public TSettingsWriter {
public:
  TIniWriter(TIniFile &ini, std::string section) : FIni(ini), FSection(std::move(section)) {}
  void Text(const char *key, const std::string &value) override { FIni.WriteString(FSection, key, value); }
  void Integer(const char *key, int32_t value) override { FIni.WriteInteger(FSection, key, value); }

private:
  TIniFile &FIni;
  std::string FSection;
};

class TIniReader final : public TSettingsReader {
public:
  TIniReader(TIniFile &ini, std::string section) : FIni(ini), FSection(std::move(section)) {}
  std::string Text(const char *key, const std::string &current) override {
    return FIni.ReadString(FSection, key, current);
  }
  int32_t Integer(const char *key, int32_t current) override { return FIni.ReadInteger(FSection, key, current); }

private:
  TIniFile &FIni;
  std::string FSection;
};

class TRegistryWriter final : public TSettingsWriter {
public:
  explicit TRegistryWriter(TKeyValueStore &store) : FStore(store) {}
  void Text(const char *key, const std::string &value) override { FStore.WriteString(key, value); }
  void Integer(const char *key, int32_t value) override { FStore.WriteInteger(key, value); }

private:
  TKeyValueStore &FStore;
};

class TRegistryReader final : public TSettingsReader {
public:
  explicit TRegistryReader(TKeyValueStore &store) : FStore(store) {}
  std::string Text(const char *key, const std::string &) override { return FStore.ReadString(key); }
  int32_t Integer(const char *key, int32_t) override {
    const auto value = FStore.ReadInteger(key);
    if (!value)
      throw ERegistryException(std::string("Unable to read the integer value '") + key + "'");
    return *value;
  }

private:
  TKeyValueStore &FStore;
};

void SaveSettings(const TCustomComPort &port, TSettingsWriter &w) {
  const TStoredProps props = port.StoredProps();
  if (props.Contains(spBasic)) {
    w.Text("Port", port.Port());
    w.Text("BaudRate", BaudRateToText(port.BaudRate()));
    if (port.BaudRate() == brCustom)
      w.Integer("CustomBaudRate", port.CustomBaudRate());
    w.Text("StopBits", StopBitsToText(port.StopBits()));
    w.Text("DataBits", DataBitsToText(port.DataBits()));
    w.Text("Parity", ParityToText(port.Parity().Bits()));
    w.Text("FlowControl", FlowControlToText(port.FlowControl().FlowControl()));
  }
  if (props.Contains(spOthers)) {
    w.Text("EventChar", CharToText(port.EventChar()));
    w.Text("DiscardNull", BoolToText(port.DiscardNull()));
  }
  if (props.Contains(spParity)) {
    w.Text("Parity.Check", BoolToText(port.Parity().Check()));
    w.Text("Parity.Replace", BoolToText(port.Parity().Replace()));
    w.Text("Parity.ReplaceChar", CharToText(port.Parity().ReplaceChar()));
  }
  if (props.Contains(spBuffer)) {
    w.Integer("Buffer.OutputSize", port.Buffer().OutputSize());
    w.Integer("Buffer.InputSize", port.Buffer().InputSize());
  }
  if (props.Contains(spTimeouts)) {
    const TComTimeouts &t = port.Timeouts();
    w.Integer("Timeouts.ReadInterval", t.ReadInterval());
    w.Integer("Timeouts.ReadTotalConstant", t.ReadTotalConstant());
    w.Integer("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier());
    w.Integer("Timeouts.WriteTotalConstant", t.WriteTotalConstant());
    w.Integer("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier());
  }
  if (props.Contains(spFlowControl)) {
    const TComFlowControl &f = port.FlowControl();
    w.Text("FlowControl.ControlRTS", RTSToText(f.ControlRTS()));
    w.Text("FlowControl.ControlDTR", DTRToText(f.ControlDTR()));
    w.Text("FlowControl.DSRSensitivity", BoolToText(f.DSRSensitivity()));
    w.Text("FlowControl.OutCTSFlow", BoolToText(f.OutCTSFlow()));
    w.Text("FlowControl.OutDSRFlow", BoolToText(f.OutDSRFlow()));
    w.Text("FlowControl.TxContinueOnXoff", BoolToText(f.TxContinueOnXoff()));
    w.Text("FlowControl.XonXoffIn", BoolToText(f.XonXoffIn()));
    w.Text("FlowControl.XonXoffOut", BoolToText(f.XonXoffOut()));
    w.Text("FlowControl.XoffChar", CharToText(f.XoffChar()));
    w.Text("FlowControl.XonChar", CharToText(f.XonChar()));
  }
}

// Every value goes through its setter, so an open port re-applies (and reopens on a new name) as
// the values arrive.
void LoadSettings(TCustomComPort &port, TSettingsReader &r) {
  const TStoredProps props = port.StoredProps();
  if (props.Contains(spBasic)) {
    port.SetPort(r.Text("Port", port.Port()));
    port.SetBaudRate(TextToBaudRate(r.Text("BaudRate", BaudRateToText(port.BaudRate()))));
    if (port.BaudRate() == brCustom)
      port.SetCustomBaudRate(r.Integer("CustomBaudRate", 9600));
    port.SetStopBits(TextToStopBits(r.Text("StopBits", StopBitsToText(port.StopBits()))));
    port.SetDataBits(TextToDataBits(r.Text("DataBits", DataBitsToText(port.DataBits()))));
    port.Parity().SetBits(TextToParity(r.Text("Parity", ParityToText(port.Parity().Bits()))));
    port.FlowControl().SetFlowControl(
        TextToFlowControl(r.Text("FlowControl", FlowControlToText(port.FlowControl().FlowControl()))));
  }
  if (props.Contains(spOthers)) {
    port.SetEventChar(TextToChar(r.Text("EventChar", CharToText(port.EventChar()))));
    port.SetDiscardNull(TextToBool(r.Text("DiscardNull", BoolToText(port.DiscardNull()))));
  }
  if (props.Contains(spParity)) {
    TComParity &p = port.Parity();
    p.SetCheck(TextToBool(r.Text("Parity.Check", BoolToText(p.Check()))));
    p.SetReplace(TextToBool(r.Text("Parity.Replace", BoolToText(p.Replace()))));
    p.SetReplaceChar(TextToChar(r.Text("Parity.ReplaceChar", CharToText(p.ReplaceChar()))));
  }
  if (props.Contains(spBuffer)) {
    TComBuffer &b = port.Buffer();
    b.SetOutputSize(r.Integer("Buffer.OutputSize", b.OutputSize()));
    b.SetInputSize(r.Integer("Buffer.InputSize", b.InputSize()));
  }
  if (props.Contains(spTimeouts)) {
    TComTimeouts &t = port.Timeouts();
    t.SetReadInterval(r.Integer("Timeouts.ReadInterval", t.ReadInterval()));
    t.SetReadTotalConstant(r.Integer("Timeouts.ReadTotalConstant", t.ReadTotalConstant()));
    t.SetReadTotalMultiplier(r.Integer("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier()));
    t.SetWriteTotalConstant(r.Integer("Timeouts.WriteTotalConstant", t.WriteTotalConstant()));
    t.SetWriteTotalMultiplier(r.Integer("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier()));
  }
  if (props.Contains(spFlowControl)) {
    TComFlowControl &f = port.FlowControl();
    f.SetControlRTS(TextToRTS(r.Text("FlowControl.ControlRTS", RTSToText(f.ControlRTS()))));
    f.SetControlDTR(TextToDTR(r.Text("FlowControl.ControlDTR", DTRToText(f.ControlDTR()))));
    f.SetDSRSensitivity(TextToBool(r.Text("FlowControl.DSRSensitivity", BoolToText(f.DSRSensitivity()))));
    f.SetOutCTSFlow(TextToBool(r.Text("FlowControl.OutCTSFlow", BoolToText(f.OutCTSFlow()))));
    f.SetOutDSRFlow(TextToBool(r.Text("FlowControl.OutDSRFlow", BoolToText(f.OutDSRFlow()))));
    f.SetTxContinueOnXoff(TextToBool(r.Text("FlowControl.TxContinueOnXoff", BoolToText(f.TxContinueOnXoff()))));
    f.SetXonXoffIn(TextToBool(r.Text("FlowControl.XonXoffIn", BoolToText(f.XonXoffIn()))));
    f.SetXonXoffOut(TextToBool(r.Text("FlowControl.XonXoffOut", BoolToText(f.XonXoffOut()))));
    f.SetXoffChar(TextToChar(r.Text("FlowControl.XoffChar", CharToText(f.XoffChar()))));
    f.SetXonChar(TextToChar(r.Text("FlowControl.XonChar", CharToText(f.XonChar()))));
  }
}

} // namespace

void TCustomComPort::SaveToRegistryKey(TKeyValueStore &registry) {
  TRegistryWriter w(registry);
  SaveSettings(*this, w);
}

void TCustomComPort::SaveToIniSection(TIniFile &ini) {
  TIniWriter w(ini, objectName().toStdString());
  SaveSettings(*this, w);
}

void TCustomComPort::LoadFromRegistryKey(TKeyValueStore &registry) {
  TRegistryReader r(registry);
  LoadSettings(*this, r);
}

void TCustomComPort::LoadFromIniSection(TIniFile &ini) {
  TIniReader r(ini, objectName().toStdString());
  LoadSettings(*this, r);
}
