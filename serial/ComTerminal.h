#pragma once
// The terminal control: shows the bytes a serial port receives in a grid of character cells, acts
// on the escape codes its parser recognises, and sends what the user types.
//
// The model half (ComTerminal.cpp) keeps the grid, the caret, the attributes and the receive path;
// the view half (ComTerminalView.cpp) paints, places the caret, scrolls and reads the keyboard.
// Repainting is coalesced: writing a cell only records it as damaged, and at most one flush per
// frame turns the damage into update() calls (or a scroll of the pixels already shown), so a
// flood of received data never paints per byte. Qt then paints the damaged parts in paintEvent.
//
// Everything runs on the GUI thread, which is where the port delivers received data.
#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QMetaObject>
#include <QPointer>
#include <QRawFont>
#include <QRegion>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Color.h"
#include "platform/Events.h"
#include "platform/Font.h"
#include "platform/Geometry.h"
#include "serial/ComLink.h"
#include "serial/ComTermBuffer.h"
#include "serial/EscapeCodes.h"

class TCustomComPort;

enum TTermEmulation { teVT100orANSI, teVT52, teNone };
enum TTermCaret { tcBlock, tcUnderline, tcNone };
enum TArrowKeys { akTerminal, akWindows };
enum TBorderStyle { bsNone, bsSingle };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// The attributes applied to each character written.
struct TTermAttributes {
  TColor FrontColor = 0;
  TColor BackColor = 0;
  bool Reverse = false;
  bool Bold = false;
  bool Underline = false;
  bool operator==(const TTermAttributes &) const = default;
};

using TChScreenEvent = std::function<void(TObject *Sender, char Ch)>;
// The handler may change the received text before it is shown.
using TStrRecvEvent = std::function<void(TObject *Sender, std::string &Str)>;
using TUnhandledEvent = std::function<void(TObject *Sender, TEscapeCode Code, const std::string &Data)>;
// With teNone the handler may supply a parser; the terminal owns whatever it is left with.
using TEscapeEvent = std::function<void(TObject *Sender, std::unique_ptr<TEscapeCodes> &EscapeCodes)>;
// Key is a Qt key code; setting it to 0 ends the handling of the key.
using TKeyEvent = std::function<void(TObject *Sender, int &Key, TShiftState Shift)>;
// Key is the typed 8-bit character; setting it to 0 drops it.
using TKeyPressEvent = std::function<void(TObject *Sender, char &Key)>;

// What the next repaint of the client area has to do, in client pixels.
struct TTermRepaint {
  bool Full = false;    // repaint the whole client area; nothing else applies
  int ScrollPixels = 0; // first move ScrollArea's pixels vertically by this much (negative: up)
  QRect ScrollArea;
  QRegion Region;       // then repaint this
};

class TCustomComTerminal : public QAbstractScrollArea, public TObject, protected TComTermBufferView {
  Q_OBJECT
public:
  static constexpr TColor DefaultAltColor = RGBColor(166, 166, 166);
  // The longest a flush waits after the previous one: repainting keeps to about 60 frames/s.
  static constexpr int FrameMilliseconds = 16;

  explicit TCustomComTerminal(QWidget *parent = nullptr);
  ~TCustomComTerminal() override;
  TCustomComTerminal(const TCustomComTerminal &) = delete;
  TCustomComTerminal &operator=(const TCustomComTerminal &) = delete;
  const char *ClassName() const override { return "TCustomComTerminal"; }

  // The font every terminal starts with: "Fixedsys", 9 points, white.
  static const TFont &DefaultFont();

  // Stored properties are being applied: Emulation only stores until Loaded(), which creates the
  // parser and clears the grid. A terminal made in code is ready without this.
  void BeginLoading() { FLoading = true; }
  virtual void Loaded();
  bool Loading() const { return FLoading; }

  // --- port ---
  // The port whose bytes are shown and to which typed text goes; not owned. A destroyed port
  // clears itself.
  TCustomComPort *ComPort() const;
  void SetComPort(TCustomComPort *Port);
  // The port is set and open; writing opens or closes it (nothing without a port).
  bool Connected() const;
  void SetConnected(bool Value);
  // The terminal's attachment to its port (only OnRxBuf is set).
  TComLink *Link() const { return FLink.get(); }

  // --- grid and received data ---
  int Columns() const { return FColumns; }
  void SetColumns(int Value); // 2 … 256; clears the grid
  int Rows() const { return FRows; }
  void SetRows(int Value); // 2 … 100; clears the grid
  TTermEmulation Emulation() const { return FEmulation; }
  void SetEmulation(TTermEmulation Value);
  bool WrapLines() const { return FWrapLines; }
  void SetWrapLines(bool Value) { FWrapLines = Value; }
  bool AppendLF() const { return FAppendLF; }
  void SetAppendLF(bool Value) { FAppendLF = Value; }
  // Received bytes lose their top bit.
  bool Force7Bit() const { return FForce7Bit; }
  void SetForce7Bit(bool Value) { FForce7Bit = Value; }
  // Text colour of characters written while bold is on; cells already written keep theirs.
  TColor AltColor() const { return FAltColor; }
  void SetAltColor(TColor Value);

  const TComTermBuffer &Buffer() const { return *FBuffer; }
  // The parser in use, or null.
  TEscapeCodes *EscapeCodes() const { return FEscapeCodes.get(); }
  // Caret and saved caret as (column, row), 1-based; the saved caret is (0, 0) until saved.
  TPoint CaretPos() const { return {FCaretCol, FCaretRow}; }
  TPoint SavedCaret() const { return FSavedCaret; }
  const TTermAttributes &Attributes() const { return FAttr; }
  const TTermAttributes &SavedAttributes() const { return FSavedAttr; }
  bool AppCursorMode() const { return FAppCursorMode; }
  // The grid cell shown at the client's top left, (column, row).
  TPoint TopLeft() const { return {FTopLeftCol, FTopLeftRow}; }

  // Empties the grid, resets the tab stops and puts the caret at (1, 1).
  void EraseAll();
  // Each coordinate clamped to the grid.
  void MoveCaretTo(int Col, int Row);
  // Shows text as if it had been received.
  void WriteString(const std::string &Str);
  void WriteBuffer(const char *Buffer, std::int32_t Count);
  // Acts on a code; false when the terminal does not act on it. Codes that answer (ecIdentify,
  // ecQueryCursorPos, ecReset) fill Params, or a list of their own when Params is null.
  bool PerformCode(TEscapeCode Code, TEscapeParams *Params = nullptr);
  // Sends the parser's text for the code when the port is open and there is a parser; with
  // LocalEcho the code is then also acted on here.
  void TransmitCode(TEscapeCode Code, TEscapeParams *Params = nullptr);
  // As TransmitCode, without the local echo.
  void TransmitReply(TEscapeCode Code, TEscapeParams *Params = nullptr);
  // Sends one typed character (see LocalEcho, SendLF); nothing without an open port.
  void TransmitChar(char Ch);
  // Sends a line as one write: Text and the Enter bytes (CR, and LF with SendLF), all shown here
  // too with LocalEcho. Unlike typing, a closed port raises the port's "Port Not Open".
  void TransmitLine(const std::string &Text);
  // Text typed outside the grid as the bytes the keyboard would send; characters the code page
  // has no byte for are left out.
  static std::string TypedBytes(const QString &Text);

  // --- view ---
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle Value);
  // With a single border: a sunken 2-pixel edge (true) or a 1-pixel line.
  bool Ctl3D() const { return FCtl3D; }
  void SetCtl3D(bool Value);
  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle Value);
  // The view follows a dragged scroll box while it moves, not only when it is released.
  bool SmoothScroll() const { return FSmoothScroll; }
  void SetSmoothScroll(bool Value);
  // Shape of the caret.
  TTermCaret Caret() const { return FCaretShape; }
  void SetCaret(TTermCaret Value);
  TArrowKeys ArrowKeys() const { return FArrowKeys; }
  void SetArrowKeys(TArrowKeys Value) { FArrowKeys = Value; }
  bool WantTab() const { return FWantTab; }
  void SetWantTab(bool Value) { FWantTab = Value; }
  bool LocalEcho() const { return FLocalEcho; }
  void SetLocalEcho(bool Value) { FLocalEcho = Value; }
  bool SendLF() const { return FSendLF; }
  void SetSendLF(bool Value) { FSendLF = Value; }
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool Value);
  // Size follows the grid: Columns × cell width and Rows × cell height plus the border.
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  // Background of the control and the current back colour.
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  // Text font; its colour is the current front colour. Changes go through the font's setters.
  TFont &Font() { return FFont; }
  const TFont &Font() const { return FFont; }
  void SetFont(const TFont &Value) { FFont.Assign(Value); }

  int CellWidth() const { return FCellWidth; }
  int CellHeight() const { return FCellHeight; }
  bool CaretCreated() const { return FCaretCreated; }
  int CaretHeight() const { return FCaretHeight; }
  // The caret in client pixels; empty when there is none.
  QRect CaretRect() const;

  // --- repainting ---
  // What the damage recorded since the last flush asks for.
  TTermRepaint PendingRepaint() const;
  // Hands the damage to Qt now instead of at the next frame.
  void FlushRepaint();
  QSize sizeHint() const override;

  TChScreenEvent OnChar;
  TStrRecvEvent OnStrRecieved;
  TUnhandledEvent OnUnhandledCode;
  TEscapeEvent OnGetEscapeCodes;
  TKeyEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;

protected:
  virtual void RaiseChar(char Ch);
  virtual void RaiseGetEscapeCodes(std::unique_ptr<TEscapeCodes> &EscapeCodes);
  virtual void RaiseStringReceived(std::string &Str);
  virtual void RaiseUnhandledCode(TEscapeCode Code, const std::string &Data);
  virtual void RaiseKeyDown(int &Key, TShiftState Shift);
  virtual void RaiseKeyPress(char &Key);

  // The character step: control characters act, 32 … 255 are written at the caret.
  void ShowChar(char Ch);
  // Count characters of 32 … 255 written at the caret as PutChar writes them one by one (no
  // OnChar between them): a row's worth at a time, so a flood of text costs little per byte.
  void PutRun(const char *Text, std::size_t Count);
  // Whether received text may go through PutRun: nothing is called between its characters, and
  // the parser is one of ours, outside a sequence, which passes such characters on unchanged.
  bool RunsAllowed() const;
  void HideCaret();
  void ShowCaret();

  bool event(QEvent *e) override;
  void paintEvent(QPaintEvent *e) override;
  void resizeEvent(QResizeEvent *e) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent *e) override;
  void focusInEvent(QFocusEvent *e) override;
  void focusOutEvent(QFocusEvent *e) override;

  // TComTermBufferView
  void GridShifted(int Delta) override;
  void CellsCleared(int Row, int FromCol, int ToCol) override;

private:
  struct TSpan {
    int From = 0x7FFFFFFF;
    int To = 0; // From > To: clean
  };
  static constexpr TSpan CleanSpan{0x7FFFFFFF, 0};

  // model (ComTerminal.cpp)
  void RxBuf(TObject *Sender, const char *Buffer, std::int32_t Count);
  void PortDestroyed();
  void CreateParser();
  void InitialiseGrid();
  void KeepCaretsInGrid();
  void PutChar(char Ch);
  void LineFeed();
  void ReverseLineFeed();
  void MoveCaretBy(std::int64_t DCol, std::int64_t DRow);
  void SetAttributes(const TEscapeParams *Params);
  void ResetAttributes();
  void UpdateCellTemplate();
  void SetMode(const TEscapeParams *Params, bool On);
  void FillTest();
  bool CanTransmit() const;

  // view (ComTerminalView.cpp)
  void FontChanged();
  void ApplyFrame();
  void ApplyAutoSize();
  void UpdateScrollRange();
  void ScrollBarAction(Qt::Orientation Bar, int Action);
  bool CaretRowInView(int TopRow) const;
  void FollowCaret();
  void CreateCaret();
  void DestroyCaret();
  void BlinkCaret();
  bool CaretVisible() const;
  QRect GridArea() const;
  void MarkCell(int Col, int Row) {
    TSpan &s = FDirty[static_cast<std::size_t>(Row) - 1];
    if (Col < s.From) s.From = Col;
    if (Col > s.To) s.To = Col;
    if (!FFlushScheduled) ScheduleFlush();
  }
  void MarkSpan(int Row, int FromCol, int ToCol);
  void MarkAll();
  void CaretMoved() {
    FCaretChanged = true;
    if (!FFlushScheduled) ScheduleFlush();
  }
  void ScheduleFlush();
  void ClearDamage();
  void PaintCells(QPainter &Painter, const QRect &Area);
  void DrawRun(QPainter &Painter, const QString &Text, int Left, int Top, bool Underline);

  // port
  std::unique_ptr<TComLink> FLink;
  QPointer<TCustomComPort> FComPort;
  QMetaObject::Connection FPortDestroyed;

  // grid and state
  std::unique_ptr<TComTermBuffer> FBuffer;
  std::unique_ptr<TEscapeCodes> FEscapeCodes;
  int FColumns = 80;
  int FRows = 24;
  int FCaretCol = 1;
  int FCaretRow = 1;
  TPoint FSavedCaret{0, 0};
  int FTopLeftCol = 1;
  int FTopLeftRow = 1;
  TTermAttributes FAttr;
  TTermAttributes FSavedAttr;
  TTermCell FCellTemplate; // what a written character stores, from FAttr and AltColor
  bool FAppCursorMode = false;
  TTermEmulation FEmulation = teVT100orANSI;
  bool FWrapLines = false;
  bool FAppendLF = false;
  bool FForce7Bit = false;
  TColor FAltColor = DefaultAltColor;
  bool FLoading = false;

  // view settings
  TBorderStyle FBorderStyle = bsSingle;
  bool FCtl3D = true;
  TScrollStyle FScrollBars = ssBoth;
  bool FSmoothScroll = false;
  TTermCaret FCaretShape = tcBlock;
  TArrowKeys FArrowKeys = akTerminal;
  bool FWantTab = false;
  bool FLocalEcho = false;
  bool FSendLF = false;
  bool FTabStop = true;
  bool FAutoSize = false;
  TColor FColor = clBlack;
  TFont FFont;

  // font measures
  int FCellWidth = 1;
  int FCellHeight = 1;
  int FAscent = 0;
  QFont FTextFont;      // for characters the face has no glyph for (Qt falls back to others)
  int FUnderlineTop = 0; // underline position and thickness within a cell
  int FUnderlineWidth = 1;
  QRawFont FRawFont;    // glyphs placed cell by cell: advances are fractional, cells are not

  // caret
  bool FHasFocus = false;
  bool FCaretCreated = false;
  int FCaretHeight = 0;
  int FCaretHidden = 0; // hide count
  bool FBlinkOn = true;
  QTimer FBlinkTimer;

  // scrolling
  bool FUpdatingRanges = false;
  // The view keeps the caret's row in sight, as a terminal does, until the user scrolls it out of
  // sight; scrolling back to it, or clearing the terminal, makes it follow again.
  bool FFollowCaret = true;
  bool FScrollingToCaret = false;

  // damage since the last flush, in grid rows (index Row − 1)
  std::vector<TSpan> FDirty;
  bool FDirtyAll = true;
  int FPendingShift = 0; // net rows the grid content moved
  bool FCaretChanged = false;
  QRect FCaretPainted; // the caret's pixels once the last flush is painted; empty: none
  bool FFlushScheduled = false;
  QTimer FFlushTimer;
  QElapsedTimer FSinceFlush;
};

// The terminal with every property published.
class TComTerminal : public TCustomComTerminal {
  Q_OBJECT
public:
  explicit TComTerminal(QWidget *parent = nullptr) : TCustomComTerminal(parent) {}
  const char *ClassName() const override { return "TComTerminal"; }
};
