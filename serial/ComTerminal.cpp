// The terminal's model: port binding, receive path, character step, escape codes and sending.
#include "serial/ComTerminal.h"

#include <typeinfo>

#include <algorithm>
#include <limits>

#include "serial/ComPort.h"

namespace {

// The colours of the attribute values 30 … 39 and 40 … 49.
constexpr TColor AttributeColors[10] = {
    RGBColor(0, 0, 0),     RGBColor(255, 0, 0),   RGBColor(0, 128, 0),     RGBColor(255, 255, 0),
    RGBColor(0, 0, 255),   RGBColor(128, 0, 128), RGBColor(255, 128, 0),   RGBColor(255, 255, 255),
    RGBColor(128, 0, 0),   RGBColor(128, 128, 128)};

int ClampToRange(std::int64_t v, int lo, int hi) { return static_cast<int>(std::clamp<std::int64_t>(v, lo, hi)); }

// Shows the caret again when a writing step is left, also through an exception.
class TCaretHider {
public:
  explicit TCaretHider(std::function<void()> show) : FShow(std::move(show)) {}
  ~TCaretHider() { FShow(); }
  TCaretHider(const TCaretHider &) = delete;
  TCaretHider &operator=(const TCaretHider &) = delete;

private:
  std::function<void()> FShow;
};

} // namespace

TCustomComTerminal::~TCustomComTerminal() {
  // The port must not call a freed link. A failing detach can only mean the link is not in the
  // port's list, so nothing is left pointing at it.
  try {
    SetComPort(nullptr);
  } catch (...) {
  }
}

void TCustomComTerminal::Loaded() {
  FLoading = false;
  CreateParser();
  InitialiseGrid();
}

// ---------------------------------------------------------------------------------------------
// Port

TCustomComPort *TCustomComTerminal::ComPort() const { return FComPort.data(); }

void TCustomComTerminal::SetComPort(TCustomComPort *Port) {
  if (Port == FComPort.data()) return;
  if (TCustomComPort *old = FComPort.data()) {
    QObject::disconnect(FPortDestroyed);
    FComPort = nullptr;
    old->DetachLink(FLink.get());
  }
  FComPort = Port;
  if (!Port) return;
  FPortDestroyed = QObject::connect(Port, &QObject::destroyed, this, [this] { PortDestroyed(); }, Qt::DirectConnection);
  Port->AttachLink(FLink.get());
}

void TCustomComTerminal::PortDestroyed() {
  // The port's own destructor has run and it keeps no links: drop the reference without detaching.
  QObject::disconnect(FPortDestroyed);
  FComPort = nullptr;
}

bool TCustomComTerminal::Connected() const { return FComPort && FComPort->Connected(); }

void TCustomComTerminal::SetConnected(bool Value) {
  if (FComPort) FComPort->SetConnected(Value);
}

// ---------------------------------------------------------------------------------------------
// Settings

void TCustomComTerminal::SetColumns(int Value) {
  if (Value == FColumns) return;
  FColumns = std::clamp(Value, TComTermBuffer::MinColumns, TComTermBuffer::MaxColumns);
  ApplyAutoSize();
  UpdateScrollRange();
  InitialiseGrid();
}

void TCustomComTerminal::SetRows(int Value) {
  if (Value == FRows) return;
  FRows = std::clamp(Value, TComTermBuffer::MinRows, TComTermBuffer::MaxRows);
  ApplyAutoSize();
  UpdateScrollRange();
  InitialiseGrid();
}

void TCustomComTerminal::SetEmulation(TTermEmulation Value) {
  if (Value == FEmulation) return;
  FEmulation = Value;
  if (!FLoading) CreateParser();
}

void TCustomComTerminal::SetAltColor(TColor Value) {
  FAltColor = Value;
  UpdateCellTemplate();
}

void TCustomComTerminal::CreateParser() {
  FEscapeCodes.reset();
  switch (FEmulation) {
  case teVT100orANSI: FEscapeCodes = std::make_unique<TEscapeCodesVT100>(); break;
  case teVT52: FEscapeCodes = std::make_unique<TEscapeCodesVT52>(); break;
  case teNone: {
    std::unique_ptr<TEscapeCodes> supplied;
    RaiseGetEscapeCodes(supplied);
    FEscapeCodes = std::move(supplied);
    break;
  }
  }
}

void TCustomComTerminal::InitialiseGrid() {
  // The grid always has the terminal's size, also while loading, so no position the caret can
  // take lies outside it.
  FBuffer->Initialise(FColumns, FRows);
  FDirty.assign(static_cast<std::size_t>(FRows), CleanSpan);
  KeepCaretsInGrid();
  MarkAll();
}

void TCustomComTerminal::KeepCaretsInGrid() {
  FCaretCol = std::clamp(FCaretCol, 1, FColumns);
  FCaretRow = std::clamp(FCaretRow, 1, FRows);
  // The saved caret may still be the unset (0, 0), which restores to (1, 1) through clamping.
  FSavedCaret.X = std::min(FSavedCaret.X, FColumns);
  FSavedCaret.Y = std::min(FSavedCaret.Y, FRows);
  CaretMoved();
}

// ---------------------------------------------------------------------------------------------
// Caret and grid operations

void TCustomComTerminal::EraseAll() {
  InitialiseGrid();
  MoveCaretTo(1, 1);
  FFollowCaret = true;
}

void TCustomComTerminal::MoveCaretTo(int Col, int Row) {
  FCaretCol = std::clamp(Col, 1, FColumns);
  FCaretRow = std::clamp(Row, 1, FRows);
  CaretMoved();
}

void TCustomComTerminal::MoveCaretBy(std::int64_t DCol, std::int64_t DRow) {
  // Parameters may be any 32-bit value; the sum is formed wide and clamped.
  MoveCaretTo(ClampToRange(FCaretCol + DCol, 1, FColumns), ClampToRange(FCaretRow + DRow, 1, FRows));
}

void TCustomComTerminal::LineFeed() {
  if (FCaretRow < FRows) {
    ++FCaretRow;
    CaretMoved();
  } else {
    FBuffer->ShiftUp();
  }
}

void TCustomComTerminal::ReverseLineFeed() {
  if (FCaretRow > 1) {
    --FCaretRow;
    CaretMoved();
  } else {
    FBuffer->ShiftDown();
  }
}

// ---------------------------------------------------------------------------------------------
// Received data

void TCustomComTerminal::RxBuf(TObject * /*Sender*/, const char *Buffer, std::int32_t Count) {
  if (!Buffer || Count <= 0) return;
  std::string str(Buffer, static_cast<std::size_t>(Count));
  if (FForce7Bit)
    for (char &c : str)
      c = static_cast<char>(c & 0x7F);
  if (FAppendLF) {
    std::string withLF;
    withLF.reserve(str.size() + str.size() / 8);
    for (char c : str) {
      withLF.push_back(c);
      if (c == '\r') withLF.push_back('\n');
    }
    str.swap(withLF);
  }
  RaiseStringReceived(str);
  WriteString(str);
}

void TCustomComTerminal::WriteString(const std::string &Str) {
  // Written in pieces that fit the count's type, so no length is cut short.
  const char *p = Str.data();
  std::size_t left = Str.size();
  while (left > 0) {
    const std::size_t n = std::min<std::size_t>(left, std::numeric_limits<std::int32_t>::max());
    WriteBuffer(p, static_cast<std::int32_t>(n));
    p += n;
    left -= n;
  }
}

void TCustomComTerminal::WriteBuffer(const char *Buffer, std::int32_t Count) {
  if (!Buffer || Count <= 0) return;
  HideCaret();
  TCaretHider restore([this] { ShowCaret(); });
  const char *end = Buffer + Count;
  for (const char *p = Buffer; p != end; ++p) {
    if (static_cast<unsigned char>(*p) >= 32 && RunsAllowed()) {
      const char *run = p;
      while (run != end && static_cast<unsigned char>(*run) >= 32) ++run;
      PutRun(p, static_cast<std::size_t>(run - p));
      p = run - 1;
      continue;
    }
    // The parser may be replaced by a handler called below; it is looked up for every byte.
    TEscapeCodes *parser = FEscapeCodes.get();
    if (!parser) {
      ShowChar(*p);
      continue;
    }
    switch (parser->FeedChar(*p)) {
    case frCharacter: ShowChar(parser->PlainChar()); break;
    case frCode: {
      const TEscapeCode code = parser->FoundCode();
      // Taken out of the parser, which leaves its list cleared; the codes that answer send
      // through the port, so the list must not belong to a parser that could be replaced then.
      TEscapeParams params;
      params.swap(parser->Parameters());
      // Codes not acted on touch nothing, so the parser is still there to give its text; a copy,
      // as the handler may replace the parser.
      if (!PerformCode(code, &params)) RaiseUnhandledCode(code, std::string(parser->SequenceText()));
      break;
    }
    case frNothing: break;
    }
  }
}

void TCustomComTerminal::ShowChar(char Ch) {
  const auto u = static_cast<unsigned char>(Ch);
  if (u >= 32) {
    PutChar(Ch);
  } else {
    switch (u) {
    case 8:
      if (FCaretCol > 1) MoveCaretTo(FCaretCol - 1, FCaretRow);
      break;
    case 9:
      if (const int tab = FBuffer->NextTabStop(FCaretCol + 1)) MoveCaretTo(tab, FCaretRow);
      break;
    case 10: LineFeed(); break;
    case 12: EraseAll(); break;
    case 13: MoveCaretTo(1, FCaretRow); break;
    default: break;
    }
  }
  RaiseChar(Ch);
}

bool TCustomComTerminal::RunsAllowed() const {
  if (OnChar) return false;
  const TEscapeCodes *parser = FEscapeCodes.get();
  if (!parser) return true;
  // Exactly our classes: a parser a handler supplied may treat any character its own way.
  const std::type_info &type = typeid(*parser);
  return !parser->InSequence() && (type == typeid(TEscapeCodesVT100) || type == typeid(TEscapeCodesVT52));
}

void TCustomComTerminal::PutRun(const char *Text, std::size_t Count) {
  while (Count > 0) {
    const int room = FColumns - FCaretCol + 1;
    const int n = static_cast<int>(std::min<std::size_t>(Count, static_cast<std::size_t>(room)));
    TTermCell *cell = FBuffer->RowCells(FCaretRow) + (FCaretCol - 1);
    for (int i = 0; i < n; ++i, ++cell) {
      cell->FrontColor = FCellTemplate.FrontColor;
      cell->BackColor = FCellTemplate.BackColor;
      cell->Ch = Text[i];
      cell->Underline = FCellTemplate.Underline;
    }
    MarkSpan(FCaretRow, FCaretCol, FCaretCol + n - 1);
    Text += n;
    Count -= static_cast<std::size_t>(n);
    if (n < room) {
      FCaretCol += n;
      CaretMoved();
      continue;
    }
    // The last of them went into the last column: from there on as PutChar goes on.
    if (n > 1) {
      FCaretCol = FColumns;
      CaretMoved();
    }
    if (!FWrapLines) {
      // Every further character overwrites the last column; the last one stays.
      if (Count > 0) PutChar(Text[Count - 1]);
      return;
    }
    FCaretCol = 1;
    if (FCaretRow < FRows)
      ++FCaretRow;
    else
      FBuffer->ShiftUp();
    CaretMoved();
  }
}

void TCustomComTerminal::PutChar(char Ch) {
  // Field by field: a copy of the template with Ch patched in would go through memory and stall.
  TTermCell &cell = FBuffer->RowCells(FCaretRow)[FCaretCol - 1];
  cell.FrontColor = FCellTemplate.FrontColor;
  cell.BackColor = FCellTemplate.BackColor;
  cell.Ch = Ch;
  cell.Underline = FCellTemplate.Underline;
  MarkCell(FCaretCol, FCaretRow);
  if (FCaretCol < FColumns) {
    ++FCaretCol;
  } else if (FWrapLines) {
    FCaretCol = 1;
    if (FCaretRow < FRows)
      ++FCaretRow;
    else
      FBuffer->ShiftUp();
  } else {
    return; // the next character overwrites the last column
  }
  CaretMoved();
}

// ---------------------------------------------------------------------------------------------
// Attributes and modes

void TCustomComTerminal::ResetAttributes() {
  FAttr = TTermAttributes{FFont.Color(), FColor, false, false, false};
}

void TCustomComTerminal::UpdateCellTemplate() {
  FCellTemplate.FrontColor = FAttr.Bold ? FAltColor : FAttr.Reverse ? FAttr.BackColor : FAttr.FrontColor;
  FCellTemplate.BackColor = FAttr.Reverse ? FAttr.FrontColor : FAttr.BackColor;
  FCellTemplate.Underline = FAttr.Underline;
}

void TCustomComTerminal::SetAttributes(const TEscapeParams *Params) {
  if (!Params || Params->empty()) ResetAttributes();
  const int count = Params ? static_cast<int>(std::min<std::size_t>(Params->size(), std::numeric_limits<int>::max())) : 0;
  for (int n = 1; n <= count; ++n) {
    const std::int32_t v = TEscapeCodes::ParamValue(n, Params);
    switch (v) {
    case 0: ResetAttributes(); break;
    case 1: FAttr.Bold = true; break;
    case 4: FAttr.Underline = true; break;
    case 7: FAttr.Reverse = true; break;
    case 21: FAttr.Bold = false; break;
    case 24: FAttr.Underline = false; break;
    case 27: FAttr.Reverse = false; break;
    default:
      if (v >= 30 && v <= 39) FAttr.FrontColor = AttributeColors[v - 30];
      else if (v >= 40 && v <= 49) FAttr.BackColor = AttributeColors[v - 40];
      break;
    }
  }
  UpdateCellTemplate();
}

void TCustomComTerminal::SetMode(const TEscapeParams *Params, bool On) {
  if (!Params || Params->empty()) return;
  const std::string &mode = Params->front();
  if (mode == "?1")
    FAppCursorMode = On;
  else if (mode == "?7")
    FWrapLines = On;
  else if (mode == "?3")
    SetColumns(On ? 132 : 80);
}

void TCustomComTerminal::FillTest() {
  const TTermCell e{FFont.Color(), FColor, 'E', false};
  for (int r = 1; r <= FRows; ++r)
    std::fill(FBuffer->RowCells(r), FBuffer->RowCells(r) + FColumns, e);
  MarkAll();
}

bool TCustomComTerminal::PerformCode(TEscapeCode Code, TEscapeParams *Params) {
  // Codes that answer fill a list; a caller without one gets a list of the call's own.
  TEscapeParams own;
  TEscapeParams *list = Params ? Params : &own;
  auto p = [Params](int n) { return static_cast<std::int64_t>(TEscapeCodes::ParamValue(n, Params)); };
  switch (Code) {
  case ecCursorUp:
  case ecAppCursorUp: MoveCaretBy(0, -p(1)); return true;
  case ecCursorDown: MoveCaretBy(0, p(1)); return true;
  case ecCursorLeft: MoveCaretBy(-p(1), 0); return true;
  case ecCursorRight: MoveCaretBy(p(1), 0); return true;
  case ecCursorHome:
  case ecCursorMove: MoveCaretTo(ClampToRange(p(2), 1, FColumns), ClampToRange(p(1), 1, FRows)); return true;
  case ecReverseLineFeed: ReverseLineFeed(); return true;
  case ecEraseLineFrom: FBuffer->ClearToLineEnd(FCaretCol, FCaretRow); return true;
  case ecEraseScreenFrom: FBuffer->ClearToGridEnd(FCaretCol, FCaretRow); return true;
  case ecEraseLine:
    FBuffer->ClearToLineEnd(1, FCaretRow);
    MoveCaretTo(1, FCaretRow);
    return true;
  case ecEraseScreen:
    FBuffer->ClearToGridEnd(1, 1);
    MoveCaretTo(1, 1);
    return true;
  case ecSetTab: FBuffer->SetTabAt(FCaretCol, true); return true;
  case ecClearTab: FBuffer->SetTabAt(FCaretCol, false); return true;
  case ecClearAllTabs: FBuffer->ClearTabStops(); return true;
  case ecIdentify:
    list->assign({"2"});
    TransmitReply(ecIdentResponse, list);
    return true;
  case ecQueryDevice: TransmitReply(ecReportDeviceOK); return true;
  case ecQueryCursorPos:
    list->assign({std::to_string(FCaretRow), std::to_string(FCaretCol)});
    TransmitReply(ecReportCursorPos, list);
    return true;
  case ecAttributes: SetAttributes(Params); return true;
  case ecSetMode: SetMode(Params, true); return true;
  case ecResetMode: SetMode(Params, false); return true;
  case ecReset:
    list->assign({"0"});
    SetAttributes(list);
    return true;
  case ecSaveCaretAndAttr:
    FSavedCaret = {FCaretCol, FCaretRow};
    FSavedAttr = FAttr;
    return true;
  case ecRestoreCaretAndAttr:
    MoveCaretTo(FSavedCaret.X, FSavedCaret.Y);
    FAttr = FSavedAttr;
    UpdateCellTemplate();
    return true;
  case ecSaveCaret: FSavedCaret = {FCaretCol, FCaretRow}; return true;
  case ecRestoreCaret: MoveCaretTo(FSavedCaret.X, FSavedCaret.Y); return true;
  case ecTest: FillTest(); return true;
  case ecUnknown:
  case ecNotCompleted:
  case ecAppCursorLeft:
  case ecAppCursorRight:
  case ecAppCursorDown:
  case ecIdentResponse:
  case ecReportDeviceOK:
  case ecReportDeviceFailure:
  case ecReportCursorPos: return false;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Sending

bool TCustomComTerminal::CanTransmit() const { return FComPort && FComPort->Connected() && FEscapeCodes; }

void TCustomComTerminal::TransmitReply(TEscapeCode Code, TEscapeParams *Params) {
  if (!CanTransmit()) return;
  const std::string text = FEscapeCodes->CodeToSequence(Code, Params);
  if (!text.empty()) FComPort->WriteText(text);
}

void TCustomComTerminal::TransmitCode(TEscapeCode Code, TEscapeParams *Params) {
  if (!CanTransmit()) return;
  TransmitReply(Code, Params);
  if (!FLocalEcho) return;
  HideCaret();
  TCaretHider restore([this] { ShowCaret(); });
  PerformCode(Code, Params);
}

void TCustomComTerminal::TransmitChar(char Ch) {
  if (!Connected()) return;
  FComPort->WriteText(std::string(1, Ch));
  if (FLocalEcho) {
    HideCaret();
    TCaretHider restore([this] { ShowCaret(); });
    ShowChar(Ch);
  }
  if (Ch == '\r' && FSendLF) TransmitChar('\n');
}

void TCustomComTerminal::TransmitLine(const std::string &Text) {
  std::string line = Text + '\r';
  if (FSendLF) line += '\n';
  if (!FComPort) throw EComPort(CEPortNotOpen + 1);
  FComPort->WriteText(line);
  if (!FLocalEcho) return;
  HideCaret();
  TCaretHider restore([this] { ShowCaret(); });
  for (char c : line)
    ShowChar(c);
}

// ---------------------------------------------------------------------------------------------
// Events

void TCustomComTerminal::RaiseChar(char Ch) {
  if (OnChar) OnChar(this, Ch);
}

void TCustomComTerminal::RaiseGetEscapeCodes(std::unique_ptr<TEscapeCodes> &EscapeCodes) {
  if (OnGetEscapeCodes) OnGetEscapeCodes(this, EscapeCodes);
}

void TCustomComTerminal::RaiseStringReceived(std::string &Str) {
  if (OnStrRecieved) OnStrRecieved(this, Str);
}

void TCustomComTerminal::RaiseUnhandledCode(TEscapeCode Code, const std::string &Data) {
  if (OnUnhandledCode) OnUnhandledCode(this, Code, Data);
}

void TCustomComTerminal::RaiseKeyDown(int &Key, TShiftState Shift) {
  if (OnKeyDown) OnKeyDown(this, Key, Shift);
}

void TCustomComTerminal::RaiseKeyPress(char &Key) {
  if (OnKeyPress) OnKeyPress(this, Key);
}
