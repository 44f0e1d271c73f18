#include "instruments/AnTrend.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include <QBuffer>
#include <QDateTime>
#include <QFileDialog>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>

#include "platform/Application.h"
#include "platform/AtomicFile.h"
#include "platform/Canvas.h"
#include "platform/FormatFloat.h"
#include "platform/FormatSettings.h"

namespace {

std::string TwoDigits(int n) {
  std::string s = std::to_string(n);
  return s.size() < 2 ? "0" + s : s;
}

std::int64_t LocalZoneOffsetMs() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<std::int64_t>(local.tm_gmtoff) * 1000;
}

QRect QRectOf(const TRect &r) { return r.ToQRect(); }

// Written whole or not at all, as the program writes its other files.
bool SavePng(const QImage &picture, const std::string &file, std::string *error) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!picture.save(&buffer, "PNG")) {
    if (error) *error = "Cannot save the trend picture " + file + ": the picture is empty.";
    return false;
  }
  std::string why;
  if (WriteFileAtomically(file, png.toStdString(), &why)) return true;
  if (error) *error = "Cannot save the trend picture " + file + ": " + why;
  return false;
}

} // namespace

const char *TrendSpanText(TTrendSpan s) {
  static const char *const texts[TrendSpanCount] = {"10 s", "1 min", "10 min", "1 h"};
  return texts[s < TrendSpanCount ? s : ts1min];
}

TAnTrend::TAnTrend(QWidget *parent, TTrendHistory *history) : TAnGraphicControl(parent), FHistory(history) {
  for (int i = 0; i < MaxSeries; ++i) FColor[static_cast<std::size_t>(i)] = DefaultColors[i];
  FFont.SetName("Arial");
  FFont.SetHeight(-11);
  FFont.SetColor(clBlack);
  FFrameBevel.SetStyle(bsRaised);
  FFrameBevel.SetSpacing(0);
  FFrameBevel.SetWidth(2);
  FFrameBevel.SetBevelLine(blOuter);
  // Frame, face and plot cover every pixel: the background beneath is never painted for it.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  // Both buttons drag, as on the meters; a right click without a move opens the menu itself.
  setContextMenuPolicy(Qt::PreventContextMenu);
  TAnTrend::SetBounds(Left(), Top(), 480, 220);
  UnixOffsetMs = [this] {
    return QDateTime::currentMSecsSinceEpoch() - (FHistory ? FloorDiv(FHistory->Now(), 1'000'000) : 0);
  };
  LocalOffsetMs = LocalZoneOffsetMs;
  ChooseExportFile = [this](bool csv) {
    const QString name = objectName().isEmpty() ? QStringLiteral("Trend") : objectName();
    const QString file = QFileDialog::getSaveFileName(
        this, csv ? QStringLiteral("Trend als CSV speichern") : QStringLiteral("Trend als PNG speichern"),
        name + (csv ? QStringLiteral(".csv") : QStringLiteral(".png")),
        csv ? QStringLiteral("CSV-Dateien (*.csv)") : QStringLiteral("PNG-Bilder (*.png)"));
    return file.toStdString();
  };
}

TAnTrend::~TAnTrend() {
  if (FHistory) FHistory->Unsubscribe(this);
}

// ---- Settings ---------------------------------------------------------------------------------

void TAnTrend::RequestRepaint() {
  FNeedFull = true;
  update();
}

void TAnTrend::SetSpan(TTrendSpan s) {
  if (s >= TrendSpanCount || s == FSpan) return;
  FSpan = s;
  FSlotsStale = true;
  RequestRepaint();
}

void TAnTrend::SetInstrument(int i, int instrument) {
  if (i < 0 || i >= MaxSeries) return;
  if (instrument < 0 || instrument > TTrendHistory::Instruments) instrument = 0;
  int &slot = FInstrument[static_cast<std::size_t>(i)];
  if (slot == instrument) return;
  slot = instrument;
  FSlotsStale = true;
  RefreshInfo();
  RequestRepaint();
}

void TAnTrend::SetSeriesColor(int i, TColor c) {
  if (i < 0 || i >= MaxSeries || FColor[static_cast<std::size_t>(i)] == c) return;
  FColor[static_cast<std::size_t>(i)] = c;
  RequestRepaint();
}

void TAnTrend::SetBackgroundColor(TColor c) {
  if (c == FBackground) return;
  FBackground = c;
  RequestRepaint();
}

void TAnTrend::SetAutoAxis(bool b) {
  if (b == FAutoAxis) return;
  FAutoAxis = b;
  RequestRepaint();
}

bool TAnTrend::SetAxis(double from, double to) {
  if (!std::isfinite(from) || !std::isfinite(to) || !(to > from)) return false;
  if (from == FAxisFrom && to == FAxisTo) return true;
  FAxisFrom = from;
  FAxisTo = to;
  if (!FAutoAxis) RequestRepaint();
  return true;
}

void TAnTrend::SetBounds(int left, int top, int width, int height) {
  TAnGraphicControl::SetBounds(left, top, std::clamp(width, MinWidth, MaxWidth), std::clamp(height, MinHeight, MaxHeight));
}

void TAnTrend::SetInfoSource(TInfoSource source) {
  FInfoSource = std::move(source);
  RefreshInfo();
}

void TAnTrend::RefreshInfo() {
  bool changed = false;
  for (std::size_t i = 0; i < MaxSeries; ++i) {
    TTrendSeriesInfo info;
    if (FInstrument[i] != 0) {
      if (FInfoSource) info = FInfoSource(FInstrument[i]);
      else info.Name = "Instr" + std::to_string(FInstrument[i]);
    }
    if (info == FInfo[i]) continue;
    FInfo[i] = std::move(info);
    changed = true;
  }
  if (changed) RequestRepaint();
}

int TAnTrend::FirstSeries() const {
  for (int i = 0; i < MaxSeries; ++i)
    if (FInstrument[static_cast<std::size_t>(i)] != 0) return i;
  return -1;
}

std::string TAnTrend::LegendText(int i) const {
  const TTrendSeriesInfo &info = FInfo[static_cast<std::size_t>(i)];
  std::string t = "#" + TwoDigits(FInstrument[static_cast<std::size_t>(i)]);
  if (!info.Name.empty()) t += " " + info.Name;
  if (!info.Unit.empty()) t += " (" + info.Unit + ")";
  return t;
}

// ---- Pause and ticks --------------------------------------------------------------------------

void TAnTrend::SetPaused(bool p) {
  if (p == FPaused) return;
  FPaused = p;
  // Paused, the chart keeps the window and the slots it shows now.
  if (p) FPauseEndNs = FFrame.Window.EndNs() - 1;
  else FSlotsStale = true;
  SyncSubscription();
  RequestRepaint();
}

void TAnTrend::SyncSubscription() {
  if (!FHistory) return;
  if (isVisible() && !FPaused) FHistory->Subscribe(this);
  else FHistory->Unsubscribe(this);
}

void TAnTrend::showEvent(QShowEvent *e) {
  TAnGraphicControl::showEvent(e);
  // What happened while hidden was not followed: read it all again (a paused chart keeps what it
  // showed).
  if (!FPaused) FSlotsStale = true;
  RefreshInfo();
  FNeedFull = true;
  SyncSubscription();
}

void TAnTrend::hideEvent(QHideEvent *e) {
  TAnGraphicControl::hideEvent(e);
  SyncSubscription();
  QToolTip::hideText();
}

void TAnTrend::resizeEvent(QResizeEvent *) { FNeedFull = true; }

std::int64_t TAnTrend::UnixOffset() const { return UnixOffsetMs ? UnixOffsetMs() : 0; }

TTrendWindow TAnTrend::CurrentWindow() const {
  const std::int64_t end = FPaused ? FPauseEndNs : (FHistory ? FHistory->Now() : 0);
  return TrendWindow(FSpan, std::max(1, FLayout.Plot.Width()), end);
}

bool TAnTrend::TrendTick() {
  if (!FHistory || FPaused || !isVisible()) return false;
  RefreshInfo();
  // Nothing to draw for: the frame is made when the face is (next paint), or when the window
  // comes back from the task bar.
  if (FNeedFull || FLayout.TooSmall || window()->isMinimized()) return HasData();
  bool fresh = false;
  for (std::size_t i = 0; i < MaxSeries; ++i)
    fresh = fresh || (FInstrument[i] != 0 && FHistory->Count(FInstrument[i]) != FSeen[i]);
  const TTrendWindow w = CurrentWindow();
  if (!fresh && w == FFrame.Window) return HasData();
  ReadSlots(w);
  if (BuildFrame(w)) {
    RenderPlot();
    update(QRectOf(PlotArea()));
  }
  return fresh || HasData();
}

bool TAnTrend::HasData() const {
  for (const auto &px : FFrame.Pixels)
    for (const TColumnPixels &p : px)
      if (p.Flags & tcPresent) return true;
  return false;
}

void TAnTrend::ReadSlots(const TTrendWindow &w) {
  const TSlotRange r = SlotsOfWindow(w);
  FSlotsFirst = r.First;
  for (std::size_t i = 0; i < MaxSeries; ++i) {
    if (FInstrument[i] == 0 || !FHistory) {
      FSlots[i].clear();
      continue;
    }
    FSeen[i] = FHistory->Count(FInstrument[i]);
    FHistory->Read(FInstrument[i], FSpan, r.First, r.Count, FSlots[i]);
  }
  FSlotsStale = false;
}

bool TAnTrend::BuildFrame(const TTrendWindow &w) {
  FNext.Window = w;
  FNext.Paused = FPaused;
  for (std::size_t i = 0; i < MaxSeries; ++i) {
    GatherColumns(FSlots[i], FSlotsFirst, w, FColumns[i]);
    ColumnPixels(FColumns[i], FAxis, FNext.Pixels[i]);
  }
  // Labels at least one and a half times their width apart.
  const int step = TimeLabelStep(w, FClockWidth * 3 / 2);
  FNext.Labels = TimeLabels(w, step, UnixOffset(), LocalOffsetMs ? LocalOffsetMs() : 0);
  if (FNext == FFrame) return false;
  std::swap(FNext, FFrame);
  return true;
}

// ---- Painting ---------------------------------------------------------------------------------

TRect TAnTrend::PlotArea() const {
  const TRect &p = FLayout.Plot, &t = FLayout.TimeAxis;
  return {std::min(p.Left, t.Left), p.Top, std::max(p.Right, t.Right), std::max(p.Bottom, t.Bottom)};
}

void TAnTrend::paintEvent(QPaintEvent *e) {
  if (FNeedFull || FFace.size() != size()) FullPaint();
  QPainter painter(this);
  const QRect damaged = e->rect();
  const QRect area = QRectOf(PlotArea());
  if (FLayout.TooSmall || !area.contains(damaged)) painter.drawImage(damaged.topLeft(), FFace, damaged);
  if (!FLayout.TooSmall) {
    const QRect plot = area & damaged;
    painter.drawImage(plot.topLeft(), FPlot, plot);
  }
}

void TAnTrend::FullPaint() {
  RefreshInfo();
  FNeedFull = false;
  FFace = QImage(size(), QImage::Format_ARGB32_Premultiplied);
  FPlot = QImage(size(), QImage::Format_ARGB32_Premultiplied);
  ++FFullPaints;
  if (FFace.isNull()) return;
  {
    TCanvas c(FFace);
    Measure(c);
    DrawFace(c);
  }
  if (FLayout.TooSmall) return;
  const TTrendWindow w = CurrentWindow();
  if (!FPaused || FSlotsStale) ReadSlots(w);
  BuildFrame(w);
  RenderPlot();
}

void TAnTrend::Measure(TCanvas &c) {
  c.SetFont(FFont);
  FTextHeight = c.TextHeight("0");
  FClockWidth = c.TextWidth("00:00:00");
  // The legend flows over the width inside the frame.
  std::vector<int> widths;
  for (int i = 0; i < MaxSeries; ++i)
    if (FInstrument[static_cast<std::size_t>(i)] != 0) widths.push_back(FTextHeight + 4 + c.TextWidth(LegendText(i)));
  const int t = FFrameBevel.Thickness();
  const TRect legendArea{t + TrendMargin, t + TrendMargin, width() - t - TrendMargin, height()};
  const TLegendFlow flow = FlowLegend(widths, legendArea, FTextHeight + 2, 12);
  FLegendAt = flow.Positions;

  // The value axis: the first instrument's range and steps, or the range set by hand.
  const int first = FirstSeries();
  const TTrendSeriesInfo axisInfo = first >= 0 ? FInfo[static_cast<std::size_t>(first)] : TTrendSeriesInfo{};
  FAxis.From = FAutoAxis ? axisInfo.From : FAxisFrom;
  FAxis.To = FAutoAxis ? axisInfo.To : FAxisTo;
  if (!(FAxis.To > FAxis.From)) {
    FAxis.From = 0;
    FAxis.To = 100;
  }
  const int steps = std::clamp(axisInfo.Steps, 1, 20);
  int labelWidth = 0;
  for (int k = 0; k <= steps; ++k)
    labelWidth = std::max(labelWidth, c.TextWidth(FormatFloat(axisInfo.Format, FAxis.From + (FAxis.To - FAxis.From) * k / steps)));

  FLayout = LayoutTrend(width(), height(), {t, flow.Height, FTextHeight, labelWidth});
  FAxis.Top = FLayout.Plot.Top;
  FAxis.Bottom = FLayout.Plot.Bottom;
  FGridY.clear();
  for (int k = 0; k <= steps; ++k) FGridY.push_back(FAxis.Y(FAxis.From + (FAxis.To - FAxis.From) * k / steps));
}

void TAnTrend::DrawFace(TCanvas &c) {
  TRect r{0, 0, width(), height()};
  FFrameBevel.Draw(c, r);
  c.SetFont(FFont);
  c.SetBrushStyle(bsClear);
  // Legend: a colour mark and the text of each series.
  std::size_t at = 0;
  for (int i = 0; i < MaxSeries; ++i) {
    if (FInstrument[static_cast<std::size_t>(i)] == 0 || at >= FLegendAt.size()) continue;
    const TPoint p = FLegendAt[at++];
    c.SetBrushStyle(bsSolid);
    c.SetBrushColor(FColor[static_cast<std::size_t>(i)]);
    c.FillRect({p.X, p.Y + FTextHeight / 2 - 2, p.X + FTextHeight, p.Y + FTextHeight / 2 + 2});
    c.SetBrushStyle(bsClear);
    c.TextOut(p.X + FTextHeight + 4, p.Y, LegendText(i));
  }
  if (FLayout.TooSmall) return;
  // The plot's frame and the value axis: ticks and labels right-aligned beside them.
  const TRect &p = FLayout.Plot;
  c.SetPenColor(clGray);
  c.SetPenWidth(1);
  c.SetPenStyle(psSolid);
  c.Rectangle(p.Left - 1, p.Top - 1, p.Right + 1, p.Bottom + 1);
  const int first = FirstSeries();
  const std::string format = first >= 0 ? FInfo[static_cast<std::size_t>(first)].Format : TTrendSeriesInfo{}.Format;
  const int steps = static_cast<int>(FGridY.size()) - 1;
  c.SetPenColor(clBlack);
  for (int k = 0; k <= steps; ++k) {
    const int y = FGridY[static_cast<std::size_t>(k)];
    c.MoveTo(p.Left - 1 - TrendTickLength, y);
    c.LineTo(p.Left - 1, y);
    const std::string text = FormatFloat(format, FAxis.From + (FAxis.To - FAxis.From) * k / steps);
    c.TextOut(p.Left - 3 - TrendTickLength - c.TextWidth(text), y - FTextHeight / 2, text);
  }
}

void TAnTrend::RenderPlot() {
  ++FPlotRenders;
  TCanvas c(FPlot);
  const TRect &p = FLayout.Plot;
  c.SetPenStyle(psClear);
  c.SetBrushStyle(bsSolid);
  c.SetBrushColor(clBtnFace);
  c.FillRect(FLayout.TimeAxis);
  c.SetBrushColor(FBackground);
  c.FillRect(p);
  c.SetClipRect(p);
  // Grid: the value axis's steps and the clock labels' times, in a grey that keeps out of the way.
  FRects.clear();
  for (int y : FGridY) FRects.push_back({p.Left, y, p.Right, y + 1});
  for (const TTimeLabel &l : FFrame.Labels) FRects.push_back({p.Left + l.Column, p.Top, p.Left + l.Column + 1, p.Bottom});
  c.SetBrushColor(GridColor);
  c.FillRects(FRects);
  c.SetPenStyle(psSolid);
  // The first series lies on top.
  for (int i = MaxSeries - 1; i >= 0; --i)
    if (FInstrument[static_cast<std::size_t>(i)] != 0) DrawSeries(c, i);
  if (FPaused) {
    c.SetFont(FFont);
    const std::string text = "Pause";
    const int w = c.TextWidth(text) + 8;
    const TRect box{p.Right - w - 4, p.Top + 4, p.Right - 4, p.Top + 4 + FTextHeight + 4};
    c.SetBrushColor(clYellow);
    c.SetPenColor(clBlack);
    c.SetPenWidth(1);
    c.Rectangle(box);
    c.SetBrushStyle(bsClear);
    c.TextOut(box.Left + 4, box.Top + 2, text);
  }
  c.ResetClipRect();
  DrawTimeAxis(c);
}

void TAnTrend::DrawSeries(TCanvas &c, int i) {
  const TRect &p = FLayout.Plot;
  const std::vector<TColumnPixels> &px = FFrame.Pixels[static_cast<std::size_t>(i)];
  const TColor color = FColor[static_cast<std::size_t>(i)];
  c.SetPenColor(color);
  c.SetPenWidth(LineWidth);
  FRects.clear();
  int previous = -1;
  for (int col = 0; col < static_cast<int>(px.size()); ++col) {
    const TColumnPixels &cp = px[static_cast<std::size_t>(col)];
    if (!(cp.Flags & tcPresent)) continue;
    const int x = p.Left + col;
    // Across columns without values the line goes straight from the last value to this column.
    if (previous >= 0 && previous < col - 1) {
      const int fromY = px[static_cast<std::size_t>(previous)].LastY;
      c.MoveTo(p.Left + previous, fromY);
      c.LineTo(x, std::clamp<int>(fromY, cp.Top, cp.Bottom));
    }
    FRects.push_back({x, cp.Top, x + LineWidth, cp.Bottom + LineWidth});
    if (cp.Flags & tcAbove) FRects.push_back({x, p.Top, x + LineWidth, p.Top + EdgeMark});
    if (cp.Flags & tcBelow) FRects.push_back({x, p.Bottom - EdgeMark, x + LineWidth, p.Bottom});
    previous = col;
  }
  c.SetBrushStyle(bsSolid);
  c.SetBrushColor(color);
  c.FillRects(FRects);
}

void TAnTrend::DrawTimeAxis(TCanvas &c) {
  const TRect &p = FLayout.Plot, &axis = FLayout.TimeAxis;
  c.SetFont(FFont);
  c.SetPenColor(clBlack);
  c.SetPenWidth(1);
  c.SetBrushStyle(bsClear);
  for (const TTimeLabel &l : FFrame.Labels) {
    const int x = p.Left + l.Column;
    c.MoveTo(x, p.Bottom);
    c.LineTo(x, p.Bottom + TrendTickLength);
    const int w = c.TextWidth(l.Text);
    const int left = x - w / 2;
    // A label that would stick out of the axis is left out rather than cut.
    if (left < axis.Left || left + w > axis.Right) continue;
    c.TextOut(left, p.Bottom + TrendTickLength + 1, l.Text);
  }
}

QImage TAnTrend::Picture() {
  if (FNeedFull || FFace.size() != size()) FullPaint();
  QImage image = FFace.copy();
  if (!FLayout.TooSmall && !image.isNull()) {
    QPainter painter(&image);
    const QRect area = QRectOf(PlotArea());
    painter.drawImage(area.topLeft(), FPlot, area);
  }
  return image;
}

// ---- Mouse, tooltip, menu and export ----------------------------------------------------------

void TAnTrend::mousePressEvent(QMouseEvent *e) {
  FPressPos = pos();
  QToolTip::hideText();
  TAnGraphicControl::mousePressEvent(e);
}

void TAnTrend::mouseReleaseEvent(QMouseEvent *e) {
  const QPointer<TAnTrend> self(this);
  TAnGraphicControl::mouseReleaseEvent(e);
  // The drag handlers may have moved the chart: only a click where it was pauses or opens the menu.
  if (!self || pos() != FPressPos || !rect().contains(e->position().toPoint())) return;
  if (e->button() == Qt::LeftButton) SetPaused(!FPaused);
  else if (e->button() == Qt::RightButton) ShowContextMenu(e->globalPosition().toPoint());
}

void TAnTrend::mouseMoveEvent(QMouseEvent *e) {
  TAnGraphicControl::mouseMoveEvent(e);
  if (e->buttons() != Qt::NoButton) return;
  const std::string text = HoverText(e->position().toPoint().x());
  if (text.empty() || e->position().toPoint().y() < FLayout.Plot.Top || e->position().toPoint().y() >= FLayout.Plot.Bottom)
    QToolTip::hideText();
  else
    QToolTip::showText(e->globalPosition().toPoint(), QString::fromStdString(text), this);
}

void TAnTrend::leaveEvent(QEvent *e) {
  TAnGraphicControl::leaveEvent(e);
  QToolTip::hideText();
}

std::string TAnTrend::HoverText(int x) const {
  const int column = x - FLayout.Plot.Left;
  if (FLayout.TooSmall || column < 0 || column >= FLayout.Plot.Width() || column >= FFrame.Window.Columns) return {};
  const TFormatSettings &fs = FormatSettings();
  const std::int64_t startNs = FFrame.Window.ColumnStartNs(column);
  const std::int64_t local = FloorDiv(startNs, 1'000'000) + UnixOffset() + (LocalOffsetMs ? LocalOffsetMs() : 0);
  std::string text = ClockText(local, true, true, fs.DecimalSeparator);
  for (int i = 0; i < MaxSeries; ++i) {
    if (FInstrument[static_cast<std::size_t>(i)] == 0) continue;
    const std::vector<TTrendSlot> &cols = FColumns[static_cast<std::size_t>(i)];
    text += "\n" + LegendText(i) + ": ";
    if (static_cast<std::size_t>(column) >= cols.size() || cols[static_cast<std::size_t>(column)].Empty()) {
      text += "–";
      continue;
    }
    const TTrendSlot &s = cols[static_cast<std::size_t>(column)];
    text += FormatFloat("0.###", s.Min, fs);
    if (s.Max != s.Min) text += " … " + FormatFloat("0.###", s.Max, fs);
  }
  return text;
}

std::vector<TTrendExportRow> TAnTrend::ExportRows() const {
  std::vector<TTrendExportRow> rows;
  const TTrendWindow &w = FFrame.Window;
  const std::int64_t slotNs = TrendSlotNs(FSpan);
  const std::int64_t offset = UnixOffset();
  for (std::size_t i = 0; i < MaxSeries; ++i) {
    if (FInstrument[i] == 0) continue;
    for (std::size_t k = 0; k < FSlots[i].size(); ++k) {
      const TTrendSlot &s = FSlots[i][k];
      const std::int64_t startNs = (FSlotsFirst + static_cast<std::int64_t>(k)) * slotNs;
      if (s.Empty() || startNs < w.StartNs() || startNs >= w.EndNs()) continue;
      const std::int64_t ms = FloorDiv(startNs, 1'000'000) + offset;
      // The extreme the slot ended with comes second.
      const bool maxFirst = s.Last == s.Min && s.Min != s.Max;
      rows.push_back({ms, FInstrument[i], maxFirst ? s.Max : s.Min, FInfo[i].Unit});
      if (s.Max != s.Min) rows.push_back({ms, FInstrument[i], maxFirst ? s.Min : s.Max, FInfo[i].Unit});
    }
  }
  std::stable_sort(rows.begin(), rows.end(), [](const TTrendExportRow &a, const TTrendExportRow &b) { return a.UnixMs < b.UnixMs; });
  return rows;
}

bool TAnTrend::SavePicture(const std::string &file, std::string *error) { return SavePng(Picture(), file, error); }

void TAnTrend::ShowContextMenu(const QPoint &globalPos) {
  // What shows now is what gets saved, however long the file dialog stays open.
  auto snapshot = std::make_shared<TExportSnapshot>();
  snapshot->Rows = ExportRows();
  snapshot->Picture = Picture();
  delete FMenu;
  FMenu = new QMenu(this);
  FMenu->setObjectName(QStringLiteral("TrendMenu"));
  FMenu->addAction(QStringLiteral("Als PNG speichern …"), this, [this, snapshot] { Export(false, snapshot); });
  QAction *csv = FMenu->addAction(QStringLiteral("Als CSV speichern …"), this, [this, snapshot] { Export(true, snapshot); });
  csv->setEnabled(static_cast<bool>(OnWriteCsv));
  FMenu->popup(globalPos);
}

void TAnTrend::Export(bool csv, const std::shared_ptr<TExportSnapshot> &snapshot) {
  const std::string file = ChooseExportFile ? ChooseExportFile(csv) : std::string();
  if (file.empty()) return;
  std::string error;
  bool ok;
  if (csv) {
    ok = OnWriteCsv && OnWriteCsv(snapshot->Rows, file, &error);
  } else {
    ok = SavePng(snapshot->Picture, file, &error);
  }
  if (!ok) ShowExceptionMessage(error);
}
