#pragma once
// A trend chart of the Show page: the last 10 s, 1 min, 10 min or 1 h of up to four instruments as
// lines, each in its own colour, with a legend, clock times under the plot and a value axis
// taken from the first instrument's range or set by hand. Values beyond the axis run along its
// edge under a thick mark. A click pauses and resumes; the mouse over the plot shows the time and
// the values there; the context menu saves what is shown as PNG or CSV.
//
// Drawing follows the meters' rule: a full paint (settings, size) renders frame, legend and value
// axis into a face image. The history ticks the chart ten times a second while it is shown and
// running; a tick that finds new values or a new column gathers the history's slots into one
// min/max pair per pixel column, and only when those pixels, the clock labels or the pause
// state differ from the last ones does it render the plot off-screen and invalidate the plot.
// The paint blits.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QImage>
#include <QPointer>

#include "instruments/AnBase.h"
#include "instruments/AnBevel.h"
#include "instruments/TrendGeometry.h"
#include "instruments/TrendHistory.h"

class QMenu;
class TCanvas;

// What a chart shows of an instrument: its name and unit for the legend, its range and scale
// for the value axis.
struct TTrendSeriesInfo {
  std::string Name;
  std::string Unit;
  float From = 0.0f;
  float To = 100.0f;
  int Steps = 5;
  std::string Format = "##0.0";
  bool operator==(const TTrendSeriesInfo &) const = default;
};

// One line of an export: a value at its time (ms since 1970).
struct TTrendExportRow {
  std::int64_t UnixMs = 0;
  int Instrument = 0;
  float Value = 0.0f;
  std::string Unit;
};

class TAnTrend : public TAnGraphicControl, public TTrendClient {
  Q_OBJECT
public:
  static constexpr int MaxSeries = 4;
  static constexpr int MinWidth = 160, MinHeight = 100;
  static constexpr int MaxWidth = 3000, MaxHeight = 2000;
  // Traces are this many pixels thick; a value beyond the axis marks this many rows at its edge.
  static constexpr int LineWidth = 2;
  static constexpr int EdgeMark = 4;
  static constexpr TColor DefaultColors[MaxSeries] = {clRed, clBlue, clGreen, clPurple};
  static constexpr TColor GridColor = 0xE0E0E0;

  TAnTrend(QWidget *parent, TTrendHistory *history);
  ~TAnTrend() override;
  const char *ClassName() const override { return "TAnTrend"; }

  TTrendSpan Span() const { return FSpan; }
  void SetSpan(TTrendSpan s);
  // Instrument 1 … 10 of series i (0 … 3); 0 shows nothing there.
  int Instrument(int i) const { return FInstrument[static_cast<std::size_t>(i)]; }
  void SetInstrument(int i, int instrument);
  TColor SeriesColor(int i) const { return FColor[static_cast<std::size_t>(i)]; }
  void SetSeriesColor(int i, TColor c);
  TColor BackgroundColor() const { return FBackground; }
  void SetBackgroundColor(TColor c);
  // The value axis: the first instrument's range, or From … To set by hand.
  bool AutoAxis() const { return FAutoAxis; }
  void SetAutoAxis(bool b);
  double AxisFrom() const { return FAxisFrom; }
  double AxisTo() const { return FAxisTo; }
  // False (and nothing changes) unless both ends are finite and To lies above From.
  bool SetAxis(double from, double to);
  // Sizes are kept within MinWidth … MaxWidth and MinHeight … MaxHeight.
  void SetBounds(int left, int top, int width, int height) override;

  bool Paused() const { return FPaused; }
  void SetPaused(bool p);

  // Where the legend and the axis learn about instrument n.
  using TInfoSource = std::function<TTrendSeriesInfo(int instrument)>;
  void SetInfoSource(TInfoSource source);
  // Rereads the instruments' names, units and ranges; repaints when they changed.
  void RefreshInfo();
  // Unix time in ms minus the history's clock in ms, and the time zone's offset from UTC in ms;
  // replaceable for tests.
  std::function<std::int64_t()> UnixOffsetMs;
  std::function<std::int64_t()> LocalOffsetMs;

  // Export: where to save (empty: cancelled), and how a CSV file is written (the recording's
  // format belongs to the program). Without the writer the menu offers no CSV.
  std::function<std::string(bool csv)> ChooseExportFile;
  std::function<bool(const std::vector<TTrendExportRow> &rows, const std::string &file, std::string *error)> OnWriteCsv;
  // The values of the span shown, oldest first (a slot's minimum and maximum in their order).
  std::vector<TTrendExportRow> ExportRows() const;
  // The chart as it shows now.
  QImage Picture();
  bool SavePicture(const std::string &file, std::string *error);
  // The context menu at a screen point; it saves what was shown when it opened.
  void ShowContextMenu(const QPoint &globalPos);
  QMenu *ContextMenu() const { return FMenu; }
  // The text the mouse over plot column x (client coordinates) shows; empty outside the plot.
  std::string HoverText(int x) const;

  bool TrendTick() override;

  // Drawing state for tests and benchmarks.
  const TTrendLayout &Layout() const { return FLayout; }
  const TTrendWindow &Window() const { return FFrame.Window; }
  const TValueAxis &Axis() const { return FAxis; }
  std::uint64_t FullPaintCount() const { return FFullPaints; }
  std::uint64_t PlotRenderCount() const { return FPlotRenders; }

protected:
  void paintEvent(QPaintEvent *e) override;
  void resizeEvent(QResizeEvent *e) override;
  void showEvent(QShowEvent *e) override;
  void hideEvent(QHideEvent *e) override;
  void mousePressEvent(QMouseEvent *e) override;
  void mouseReleaseEvent(QMouseEvent *e) override;
  void mouseMoveEvent(QMouseEvent *e) override;
  void leaveEvent(QEvent *e) override;

private:
  struct TFrame {
    TTrendWindow Window;
    std::array<std::vector<TColumnPixels>, MaxSeries> Pixels;
    std::vector<TTimeLabel> Labels;
    bool Paused = false;
    bool operator==(const TFrame &) const = default;
  };
  struct TExportSnapshot {
    std::vector<TTrendExportRow> Rows;
    QImage Picture;
  };

  void RequestRepaint();
  void SyncSubscription();
  TTrendWindow CurrentWindow() const;
  std::int64_t UnixOffset() const;
  // Copies the window's slots of every series out of the history.
  void ReadSlots(const TTrendWindow &w);
  // The frame of the window from the slots read; true when it differs from the one shown.
  bool BuildFrame(const TTrendWindow &w);
  bool HasData() const;
  void FullPaint();
  void Measure(TCanvas &c);
  void DrawFace(TCanvas &c);
  void RenderPlot();
  void DrawSeries(TCanvas &c, int i);
  void DrawTimeAxis(TCanvas &c);
  TRect PlotArea() const;
  std::string LegendText(int i) const;
  int FirstSeries() const;
  void Export(bool csv, const std::shared_ptr<TExportSnapshot> &snapshot);

  QPointer<TTrendHistory> FHistory;
  TTrendSpan FSpan = ts1min;
  std::array<int, MaxSeries> FInstrument{};
  std::array<TColor, MaxSeries> FColor{};
  TColor FBackground = clWhite;
  bool FAutoAxis = true;
  double FAxisFrom = 0, FAxisTo = 100;
  bool FPaused = false;
  std::int64_t FPauseEndNs = 0;

  TInfoSource FInfoSource;
  std::array<TTrendSeriesInfo, MaxSeries> FInfo;
  TFont FFont;
  TAnSBevel FFrameBevel;

  // The slots of the window last read (kept while paused), per series.
  std::array<std::vector<TTrendSlot>, MaxSeries> FSlots;
  std::int64_t FSlotsFirst = 0;
  bool FSlotsStale = true;
  std::array<std::uint64_t, MaxSeries> FSeen{};
  // The columns of the frame shown, per series (read by the mouse-over text).
  std::array<std::vector<TTrendSlot>, MaxSeries> FColumns;
  TFrame FFrame, FNext;

  TTrendLayout FLayout;
  TValueAxis FAxis;
  std::vector<int> FGridY;
  std::vector<TRect> FRects; // the fills of one drawing step
  std::vector<TPoint> FLegendAt;
  int FTextHeight = 0;
  int FClockWidth = 0;
  QImage FFace;
  QImage FPlot; // the widget's size; its PlotArea part is what the paint shows over the face
  bool FNeedFull = true;

  QMenu *FMenu = nullptr;
  QPoint FPressPos;
  std::uint64_t FFullPaints = 0;
  std::uint64_t FPlotRenders = 0;
};

// The span's name as the editor lists it ("10 s", "1 min", "10 min", "1 h").
const char *TrendSpanText(TTrendSpan s);
