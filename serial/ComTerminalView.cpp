// The terminal's view: construction, font and cell size, frame, scroll bars, caret, damage
// tracking and painting, keyboard and focus.
#include "serial/ComTerminal.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstdlib>

namespace {

// Windows code page 1252 in 0x80 … 0x9F; the other bytes are their Latin-1 code points. The
// five unassigned bytes keep their C1 code points so that every byte has a distinct character.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QChar ByteToChar(char ch) {
  const auto b = static_cast<unsigned char>(ch);
  return (b >= 0x80 && b < 0xA0) ? QChar(Cp1252High[b - 0x80]) : QChar(b);
}

// The byte of a typed character, or -1 when the code page has none.
int CharToByte(char16_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return u;
  for (int i = 0; i < 32; ++i)
    if (Cp1252High[i] == u) return 0x80 + i;
  return -1;
}

TShiftState ShiftOf(Qt::KeyboardModifiers m) {
  TShiftState s = 0;
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  return s;
}

bool AllowsHorizontal(TScrollStyle s) { return s == ssHorizontal || s == ssBoth; }
bool AllowsVertical(TScrollStyle s) { return s == ssVertical || s == ssBoth; }

// Sets a flag for the lifetime of the guard and clears it again, also on an exception.
class TFlagGuard {
public:
  explicit TFlagGuard(bool &flag) : FFlag(flag) { FFlag = true; }
  ~TFlagGuard() { FFlag = false; }
  TFlagGuard(const TFlagGuard &) = delete;
  TFlagGuard &operator=(const TFlagGuard &) = delete;

private:
  bool &FFlag;
};

} // namespace

const TFont &TCustomComTerminal::DefaultFont() {
  struct TDefaultFont : TFont {
    TDefaultFont() {
      SetName("Fixedsys");
      SetSize(9);
      SetColor(clWhite);
    }
  };
  static const TDefaultFont font;
  return font;
}

TCustomComTerminal::TCustomComTerminal(QWidget *parent)
    : QAbstractScrollArea(parent), FLink(std::make_unique<TComLink>()),
      FBuffer(std::make_unique<TComTermBuffer>(static_cast<TComTermBufferView *>(this))) {
  FLink->OnRxBuf = [this](TObject *Sender, const char *Buffer, std::int32_t Count) { RxBuf(Sender, Buffer, Count); };

  // Every pixel of the client area is painted here, and opaque content lets Qt move pixels
  // already shown when the grid scrolls.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  setFocusPolicy(Qt::StrongFocus);

  FFlushTimer.setSingleShot(true);
  connect(&FFlushTimer, &QTimer::timeout, this, [this] { FlushRepaint(); });
  FSinceFlush.start();
  connect(&FBlinkTimer, &QTimer::timeout, this, [this] { BlinkCaret(); });

  for (QScrollBar *bar : {horizontalScrollBar(), verticalScrollBar()}) {
    bar->setTracking(FSmoothScroll);
    const Qt::Orientation o = bar->orientation();
    connect(bar, &QAbstractSlider::actionTriggered, this, [this, o](int action) { ScrollBarAction(o, action); });
  }
  // Only the user's own scrolling decides whether the view follows the caret.
  connect(verticalScrollBar(), &QAbstractSlider::valueChanged, this, [this](int value) {
    if (!FScrollingToCaret && !FUpdatingRanges) FFollowCaret = CaretRowInView(value + 1);
  });

  FFont.Assign(DefaultFont());
  FFont.OnChange = [this](TFont *) { FontChanged(); };
  ResetAttributes();
  ApplyFrame();
  resize(400, 250);
  FontChanged();
  InitialiseGrid();
  CreateParser();
}

QSize TCustomComTerminal::sizeHint() const {
  if (!FAutoSize) return QSize(400, 250);
  const int border = 2 * frameWidth();
  return QSize(FCellWidth * FColumns + border, FCellHeight * FRows + border);
}

// ---------------------------------------------------------------------------------------------
// Font, colour, frame, size

void TCustomComTerminal::FontChanged() {
  FAttr.FrontColor = FFont.Color();
  UpdateCellTemplate();
  const QFont font = FFont.ToQFont();
  // A proportional face cannot fill a grid: the default terminal face replaces it (unless that
  // one is missing too, which must not loop).
  if (!QFontInfo(font).fixedPitch() && FFont.Name() != DefaultFont().Name()) {
    FFont.SetName(DefaultFont().Name());
    return;
  }
  // Underline belongs to cells, not to the font.
  if (FFont.Style() & fsUnderline) {
    FFont.SetStyle(FFont.Style() & ~fsUnderline);
    return;
  }
  const QFontMetrics m(font);
  FCellHeight = std::max(m.height(), 1);
  FCellWidth = std::max(m.maxWidth(), 1);
  FAscent = m.ascent();
  FTextFont = font;
  FRawFont = QRawFont::fromFont(font);
  FUnderlineWidth = std::clamp(m.lineWidth(), 1, FCellHeight);
  FUnderlineTop = std::clamp(FAscent + std::max(m.underlinePos(), 1), 0, FCellHeight - FUnderlineWidth);
  ApplyAutoSize();
  UpdateScrollRange();
  if (FCaretCreated) {
    // The caret's size comes from the cell.
    DestroyCaret();
    CreateCaret();
  }
  MarkAll();
}

void TCustomComTerminal::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  FAttr.BackColor = Value;
  UpdateCellTemplate();
  MarkAll();
}

void TCustomComTerminal::SetBorderStyle(TBorderStyle Value) {
  if (Value == FBorderStyle) return;
  FBorderStyle = Value;
  ApplyFrame();
}

void TCustomComTerminal::SetCtl3D(bool Value) {
  if (Value == FCtl3D) return;
  FCtl3D = Value;
  if (FBorderStyle == bsSingle) ApplyFrame();
}

void TCustomComTerminal::SetScrollBars(TScrollStyle Value) {
  if (Value == FScrollBars) return;
  FScrollBars = Value;
  ApplyFrame();
}

void TCustomComTerminal::SetSmoothScroll(bool Value) {
  FSmoothScroll = Value;
  // Without tracking a dragged scroll box moves the view only when it is released.
  horizontalScrollBar()->setTracking(Value);
  verticalScrollBar()->setTracking(Value);
}

void TCustomComTerminal::SetTabStop(bool Value) {
  FTabStop = Value;
  setFocusPolicy(Value ? Qt::StrongFocus : Qt::NoFocus);
}

void TCustomComTerminal::SetAutoSize(bool Value) {
  if (Value == FAutoSize) return;
  FAutoSize = Value;
  ApplyAutoSize();
}

void TCustomComTerminal::ApplyFrame() {
  if (FBorderStyle == bsNone) {
    setFrameStyle(QFrame::NoFrame);
  } else if (FCtl3D) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
  } else {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
  }
  setHorizontalScrollBarPolicy(AllowsHorizontal(FScrollBars) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(AllowsVertical(FScrollBars) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  ApplyAutoSize();
  UpdateScrollRange();
  MarkAll();
}

void TCustomComTerminal::ApplyAutoSize() {
  updateGeometry();
  if (FAutoSize) resize(sizeHint());
}

void TCustomComTerminal::resizeEvent(QResizeEvent *e) {
  QAbstractScrollArea::resizeEvent(e);
  UpdateScrollRange();
}

// ---------------------------------------------------------------------------------------------
// Scroll bars

void TCustomComTerminal::UpdateScrollRange() {
  if (FUpdatingRanges) return;
  QScrollBar *hbar = horizontalScrollBar();
  QScrollBar *vbar = verticalScrollBar();
  const bool hAllowed = AllowsHorizontal(FScrollBars);
  const bool vAllowed = AllowsVertical(FScrollBars);
  {
    // Bars appearing or disappearing resize the client area; those resizes must not start
    // another update.
    TFlagGuard guard(FUpdatingRanges);
    // The client area as it would be without bars.
    const QSize bare = contentsRect().size();
    const int hbarHeight = hbar->sizeHint().height();
    const int vbarWidth = vbar->sizeHint().width();
    int width = bare.width();
    int hMax = 0;
    int hPage = 1;
    const auto horizontal = [&] {
      const int visible = std::max(width / FCellWidth, 0);
      hMax = std::max(FColumns - visible, 0);
      hPage = std::max(visible, 1);
    };
    if (hAllowed) horizontal();
    if (vAllowed) {
      const int height = bare.height() - (hAllowed && hMax > 0 ? hbarHeight : 0);
      const int visible = std::max(height / FCellHeight, 0);
      const int vMax = std::max(FRows - visible, 0);
      vbar->setRange(0, vMax);
      vbar->setPageStep(std::max(visible, 1));
      vbar->setSingleStep(1);
      if (vMax > 0) {
        width -= vbarWidth;
        if (hAllowed) horizontal();
      }
    } else {
      vbar->setRange(0, 0);
    }
    hbar->setRange(0, hAllowed ? hMax : 0);
    hbar->setPageStep(hPage);
    hbar->setSingleStep(1);
  }
  // A direction without a bar cannot be scrolled, so it shows from its first cell.
  const int col = hAllowed ? hbar->value() + 1 : 1;
  const int row = vAllowed ? vbar->value() + 1 : 1;
  if (col != FTopLeftCol || row != FTopLeftRow) {
    FTopLeftCol = col;
    FTopLeftRow = row;
    MarkAll();
  }
}

void TCustomComTerminal::ScrollBarAction(Qt::Orientation Bar, int Action) {
  // The to-top and to-bottom commands leave the view where it is.
  if (Action == QAbstractSlider::SliderToMinimum || Action == QAbstractSlider::SliderToMaximum) {
    QScrollBar *bar = Bar == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
    bar->setSliderPosition(bar->value());
  }
}

bool TCustomComTerminal::CaretRowInView(int TopRow) const {
  const int visible = std::max(viewport()->height() / FCellHeight, 1);
  return FCaretRow >= TopRow && FCaretRow < TopRow + visible;
}

void TCustomComTerminal::FollowCaret() {
  if (!FFollowCaret || !AllowsVertical(FScrollBars)) return;
  QScrollBar *bar = verticalScrollBar();
  const int top = bar->value() + 1;
  if (CaretRowInView(top)) return;
  const int visible = std::max(viewport()->height() / FCellHeight, 1);
  TFlagGuard guard(FScrollingToCaret);
  bar->setValue(FCaretRow < top ? FCaretRow - 1 : FCaretRow - visible);
}

void TCustomComTerminal::scrollContentsBy(int /*dx*/, int /*dy*/) {
  // The bars' values are the truth; Qt's differences are not needed.
  const int col = AllowsHorizontal(FScrollBars) ? horizontalScrollBar()->value() + 1 : 1;
  const int row = AllowsVertical(FScrollBars) ? verticalScrollBar()->value() + 1 : 1;
  if (col == FTopLeftCol && row == FTopLeftRow) return;
  const int pxX = (FTopLeftCol - col) * FCellWidth;
  const int pxY = (FTopLeftRow - row) * FCellHeight;
  FTopLeftCol = col;
  FTopLeftRow = row;
  // Damage not yet flushed is kept in grid positions and lands right after the move; a pending
  // grid scroll is not, so then everything is repainted.
  if (FUpdatingRanges || FDirtyAll || FPendingShift != 0 || !viewport()->isVisible()) {
    MarkAll();
    return;
  }
  // Qt moves the pixels and any update still pending with them; the caret moved as the cells did.
  viewport()->scroll(pxX, pxY);
  if (!FCaretPainted.isEmpty()) FCaretPainted.translate(pxX, pxY);
  CaretMoved();
}

// ---------------------------------------------------------------------------------------------
// Caret

QRect TCustomComTerminal::CaretRect() const {
  if (!FCaretCreated) return QRect();
  return QRect((FCaretCol - FTopLeftCol) * FCellWidth, (FCaretRow - FTopLeftRow + 1) * FCellHeight - FCaretHeight,
               FCellWidth, FCaretHeight);
}

bool TCustomComTerminal::CaretVisible() const { return FCaretCreated && FCaretHidden == 0 && FBlinkOn; }

void TCustomComTerminal::CreateCaret() {
  switch (FCaretShape) {
  case tcBlock: FCaretHeight = FCellHeight; break;
  case tcUnderline: FCaretHeight = FCellHeight / 8; break;
  case tcNone: FCaretHeight = 0; break;
  }
  FCaretCreated = FCaretShape != tcNone && FCaretHeight > 0;
  FCaretHidden = 0;
  FBlinkOn = true;
  const int flash = QApplication::cursorFlashTime();
  if (FCaretCreated && flash > 0) FBlinkTimer.start(flash / 2);
  CaretMoved();
}

void TCustomComTerminal::DestroyCaret() {
  FCaretCreated = false;
  FCaretHeight = 0;
  FCaretHidden = 0;
  FBlinkTimer.stop();
  CaretMoved();
}

void TCustomComTerminal::HideCaret() {
  if (!FCaretCreated) return;
  ++FCaretHidden;
  CaretMoved();
}

void TCustomComTerminal::ShowCaret() {
  if (!FCaretCreated || FCaretHidden == 0) return;
  --FCaretHidden;
  FBlinkOn = true;
  CaretMoved();
}

void TCustomComTerminal::BlinkCaret() {
  FBlinkOn = !FBlinkOn;
  CaretMoved();
}

void TCustomComTerminal::SetCaret(TTermCaret Value) {
  if (Value == FCaretShape) return;
  FCaretShape = Value;
  if (FHasFocus) {
    DestroyCaret();
    CreateCaret();
  }
}

void TCustomComTerminal::focusInEvent(QFocusEvent *e) {
  QAbstractScrollArea::focusInEvent(e);
  FHasFocus = true;
  CreateCaret();
}

void TCustomComTerminal::focusOutEvent(QFocusEvent *e) {
  QAbstractScrollArea::focusOutEvent(e);
  FHasFocus = false;
  DestroyCaret();
}

// ---------------------------------------------------------------------------------------------
// Damage and repainting

void TCustomComTerminal::MarkSpan(int Row, int FromCol, int ToCol) {
  if (Row < 1 || Row > static_cast<int>(FDirty.size())) return;
  TSpan &s = FDirty[static_cast<std::size_t>(Row) - 1];
  s.From = std::min(s.From, FromCol);
  s.To = std::max(s.To, ToCol);
  if (!FFlushScheduled) ScheduleFlush();
}

void TCustomComTerminal::MarkAll() {
  FDirtyAll = true;
  if (!FFlushScheduled) ScheduleFlush();
}

void TCustomComTerminal::GridShifted(int Delta) {
  // A shift of more than the grid's height repaints everything anyway; holding the count there
  // keeps a long flood without flushes from overflowing it.
  FPendingShift = std::clamp(FPendingShift + Delta, -(FRows + 1), FRows + 1);
  if (!FDirtyAll && !FDirty.empty()) {
    // The damage moves with the rows; the uncovered row is new.
    if (Delta < 0) {
      std::move(FDirty.begin() + 1, FDirty.end(), FDirty.begin());
      FDirty.back() = TSpan{1, FColumns};
    } else {
      std::move_backward(FDirty.begin(), FDirty.end() - 1, FDirty.end());
      FDirty.front() = TSpan{1, FColumns};
    }
  }
  if (!FFlushScheduled) ScheduleFlush();
}

void TCustomComTerminal::CellsCleared(int Row, int FromCol, int ToCol) { MarkSpan(Row, FromCol, ToCol); }

void TCustomComTerminal::ScheduleFlush() {
  FFlushScheduled = true;
  const qint64 since = FSinceFlush.elapsed();
  FFlushTimer.start(since >= FrameMilliseconds ? 0 : static_cast<int>(FrameMilliseconds - since));
}

void TCustomComTerminal::ClearDamage() {
  std::fill(FDirty.begin(), FDirty.end(), CleanSpan);
  FDirtyAll = false;
  FPendingShift = 0;
  FCaretChanged = false;
}

QRect TCustomComTerminal::GridArea() const {
  const QRect client = viewport()->rect();
  const int w = std::max(FColumns - FTopLeftCol + 1, 0) * FCellWidth;
  const int h = std::max(FRows - FTopLeftRow + 1, 0) * FCellHeight;
  return QRect(0, 0, std::min(client.width(), w), std::min(client.height(), h));
}

TTermRepaint TCustomComTerminal::PendingRepaint() const {
  TTermRepaint plan;
  const QRect client = viewport()->rect();
  if (client.isEmpty()) return plan;
  const QRect grid = GridArea();
  const int shiftPixels = FPendingShift * FCellHeight;
  // Moving pixels pays only while some of them stay on screen.
  if (FDirtyAll || (FPendingShift != 0 && std::abs(shiftPixels) >= grid.height())) {
    plan.Full = true;
    return plan;
  }
  if (FPendingShift != 0) {
    plan.ScrollPixels = shiftPixels;
    plan.ScrollArea = grid;
  }
  const int lastRow = std::min(FRows, FTopLeftRow + (client.height() - 1) / FCellHeight);
  const int lastCol = std::min(FColumns, FTopLeftCol + (client.width() - 1) / FCellWidth);
  // One rectangle per run of rows with the same damaged columns.
  std::vector<QRect> rects;
  int runFrom = 0, runTo = -1, runTop = 0, runRows = 0;
  const auto endRun = [&] {
    if (runRows > 0)
      rects.emplace_back((runFrom - FTopLeftCol) * FCellWidth, (runTop - FTopLeftRow) * FCellHeight,
                         (runTo - runFrom + 1) * FCellWidth, runRows * FCellHeight);
    runRows = 0;
  };
  for (int row = FTopLeftRow; row <= lastRow && row <= static_cast<int>(FDirty.size()); ++row) {
    const TSpan &s = FDirty[static_cast<std::size_t>(row) - 1];
    const int from = std::max(s.From, FTopLeftCol);
    const int to = std::min(s.To, lastCol);
    if (from > to) {
      endRun();
    } else if (runRows > 0 && from == runFrom && to == runTo) {
      ++runRows;
    } else {
      endRun();
      runFrom = from;
      runTo = to;
      runTop = row;
      runRows = 1;
    }
  }
  endRun();
  for (const QRect &r : rects)
    plan.Region += r;
  if (FCaretChanged || FPendingShift != 0) {
    if (!FCaretPainted.isEmpty()) {
      plan.Region += FCaretPainted;
      if (shiftPixels != 0) plan.Region += FCaretPainted.translated(0, shiftPixels);
    }
    if (CaretVisible()) plan.Region += CaretRect();
  }
  return plan;
}

void TCustomComTerminal::FlushRepaint() {
  // Still marked as scheduled: the move's own damage joins this flush.
  FollowCaret();
  FFlushScheduled = false;
  FFlushTimer.stop();
  FSinceFlush.restart();
  const TTermRepaint plan = PendingRepaint();
  ClearDamage();
  // Once Qt has painted what is asked for now, the caret is where it is now. Paints in between
  // (exposures, grabs) read the same state, so this needs no book-keeping in paintEvent.
  FCaretPainted = CaretVisible() ? CaretRect() : QRect();
  if (!viewport()->isVisible()) return; // Qt paints the whole control when it is shown
  if (plan.Full) {
    viewport()->update();
    return;
  }
  // Qt moves the pixels and any update still pending with them.
  if (plan.ScrollPixels != 0) viewport()->scroll(0, plan.ScrollPixels, plan.ScrollArea);
  if (!plan.Region.isEmpty()) viewport()->update(plan.Region);
}

void TCustomComTerminal::paintEvent(QPaintEvent *e) {
  QPainter painter(viewport());
  const QRegion region = e->region();
  for (const QRect &r : region)
    PaintCells(painter, r);
  const QRect caret = CaretVisible() ? CaretRect() : QRect();
  if (!caret.isEmpty() && region.intersects(caret)) {
    // The caret inverts the pixels under it.
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.fillRect(caret, Qt::white);
  }
}

void TCustomComTerminal::PaintCells(QPainter &Painter, const QRect &Area) {
  Painter.fillRect(Area, ToQColor(FColor));
  const int cw = FCellWidth;
  const int ch = FCellHeight;
  const int firstX = Area.left() / cw + 1;
  const int lastX = Area.right() / cw + 1;
  const int firstY = Area.top() / ch + 1;
  const int lastY = Area.bottom() / ch + 1;
  // Bounded by the grid itself, whatever the size properties say at this moment.
  const int rows = FBuffer->Rows();
  const int columns = FBuffer->Columns();
  QString text;
  for (int y = firstY; y <= lastY; ++y) {
    const int row = y + FTopLeftRow - 1;
    if (row > rows) break;
    const TTermCell *cells = FBuffer->RowCells(row);
    const int lastCol = std::min(lastX + FTopLeftCol - 1, columns);
    int col = firstX + FTopLeftCol - 1;
    while (col <= lastCol) {
      const TTermCell &first = cells[col - 1];
      if (first.Ch == 0) {
        ++col;
        continue;
      }
      // A run of cells that look alike is filled and written in one go.
      int end = col + 1;
      while (end <= lastCol && cells[end - 1].Ch != 0 && cells[end - 1].FrontColor == first.FrontColor &&
             cells[end - 1].BackColor == first.BackColor && cells[end - 1].Underline == first.Underline)
        ++end;
      const int left = (col - FTopLeftCol) * cw;
      const int top = (y - 1) * ch;
      Painter.fillRect(QRect(left, top, (end - col) * cw, ch), ToQColor(first.BackColor));
      Painter.setPen(ToQColor(first.FrontColor));
      text.resize(end - col);
      for (int c = col; c < end; ++c)
        text[c - col] = ByteToChar(cells[c - 1].Ch);
      DrawRun(Painter, text, left, top, first.Underline);
      col = end;
    }
  }
}

void TCustomComTerminal::DrawRun(QPainter &Painter, const QString &Text, int Left, int Top, bool Underline) {
  // Each glyph at the left edge of its own cell, all in one glyph run; a character the face lacks
  // is drawn on its own through the font, which falls back to another face.
  const QList<quint32> glyphs = FRawFont.isValid() ? FRawFont.glyphIndexesForString(Text) : QList<quint32>();
  QList<quint32> found;
  QList<QPointF> positions;
  found.reserve(Text.size());
  positions.reserve(Text.size());
  for (qsizetype i = 0; i < Text.size(); ++i) {
    const int x = Left + static_cast<int>(i) * FCellWidth;
    if (glyphs.size() == Text.size() && glyphs[i] != 0) {
      found.push_back(glyphs[i]);
      positions.push_back(QPointF(x, Top + FAscent));
    } else {
      Painter.setFont(FTextFont);
      Painter.drawText(QPoint(x, Top + FAscent), QString(Text[i]));
    }
  }
  if (!found.isEmpty()) {
    QGlyphRun run;
    run.setRawFont(FRawFont);
    run.setGlyphIndexes(found);
    run.setPositions(positions);
    Painter.drawGlyphRun(QPointF(0, 0), run);
  }
  // The underline is drawn across the cells, below the baseline but inside the cell.
  if (Underline)
    Painter.fillRect(QRect(Left, Top + FUnderlineTop, static_cast<int>(Text.size()) * FCellWidth, FUnderlineWidth),
                     Painter.pen().color());
}

// ---------------------------------------------------------------------------------------------
// Keyboard

std::string TCustomComTerminal::TypedBytes(const QString &Text) {
  std::string bytes;
  for (const QChar qc : Text)
    if (const int b = CharToByte(qc.unicode()); b >= 0) bytes += char(b);
  return bytes;
}

bool TCustomComTerminal::event(QEvent *e) {
  // Qt moves the focus on Tab before the key reaches keyPressEvent; with WantTab it is typed.
  if (FWantTab && (e->type() == QEvent::KeyPress || e->type() == QEvent::ShortcutOverride)) {
    auto *k = static_cast<QKeyEvent *>(e);
    const bool tab = k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab;
    if (tab && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      if (e->type() == QEvent::KeyPress)
        keyPressEvent(k);
      else
        e->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(e);
}

void TCustomComTerminal::keyPressEvent(QKeyEvent *e) {
  const int original = e->key();
  int key = original;
  RaiseKeyDown(key, ShiftOf(e->modifiers()));
  // A handler ends the handling by clearing the key; Qt itself gives 0 for some composed text.
  if (key == 0 && original != 0) return;
  if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && !FWantTab) {
    e->ignore();
    return;
  }
  TEscapeCode code = ecUnknown;
  TEscapeCode appCode = ecUnknown;
  switch (key) {
  case Qt::Key_Home: code = ecCursorHome; break;
  case Qt::Key_Left: code = ecCursorLeft; appCode = ecAppCursorLeft; break;
  case Qt::Key_Up: code = ecCursorUp; appCode = ecAppCursorUp; break;
  case Qt::Key_Right: code = ecCursorRight; appCode = ecAppCursorRight; break;
  case Qt::Key_Down: code = ecCursorDown; appCode = ecAppCursorDown; break;
  default: break;
  }
  if (code != ecUnknown) {
    if (FAppCursorMode) {
      if (appCode != ecUnknown) TransmitCode(appCode);
    } else if (FArrowKeys == akTerminal) {
      TransmitCode(code);
    } else {
      PerformCode(code);
    }
    e->accept();
    return;
  }
  // Shift+Tab may come without text; a wanted Tab is character 9 either way.
  const QString text = (key == Qt::Key_Tab || key == Qt::Key_Backtab) ? QStringLiteral("\t") : e->text();
  if (text.isEmpty()) {
    e->ignore();
    return;
  }
  for (const QChar qc : text) {
    const int b = CharToByte(qc.unicode());
    if (b < 0) continue;
    char ch = static_cast<char>(b);
    RaiseKeyPress(ch);
    if (ch != 0) TransmitChar(ch);
  }
  e->accept();
}
