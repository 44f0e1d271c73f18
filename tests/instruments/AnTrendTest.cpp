// The trend chart drawn offscreen from a history on a clock of the test's own: where a step and
// values beyond the axis land in pixels, when it renders and when not, pause by click, the text
// under the mouse, and the context menu's exports.
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "instruments/AnTrend.h"
#include "platform/Application.h"
#include "platform/FormatSettings.h"

namespace {

constexpr std::int64_t Ms = 1'000'000;
constexpr std::int64_t S = 1'000'000'000;

TColor At(const QImage &img, int x, int y) {
  const QColor c = img.pixelColor(x, y);
  return RGBColor(c.red(), c.green(), c.blue());
}

struct Rig {
  QWidget Host;
  TTrendHistory History;
  std::int64_t Now = 1000 * S;
  TAnTrend *Chart;
  Rig() {
    Host.resize(600, 400);
    History.SetClock([this] { return Now; });
    Chart = new TAnTrend(&Host, &History);
    Chart->UnixOffsetMs = [] { return std::int64_t{0}; };
    Chart->LocalOffsetMs = [] { return std::int64_t{0}; };
    Chart->SetInfoSource([](int n) {
      TTrendSeriesInfo info;
      info.Name = "Signal" + std::to_string(n);
      info.Unit = "V";
      info.Format = "##0";
      return info;
    });
    Chart->SetBounds(10, 10, 480, 220);
    Chart->SetInstrument(0, 1);
    Host.show();
    QApplication::processEvents();
    Chart->Picture(); // lays the chart out
  }
  // Values every 10 ms from `from` up to (not including) `to`.
  void Feed(int instrument, float value, std::int64_t from, std::int64_t to) {
    for (std::int64_t t = from; t < to; t += 10 * Ms) History.AddAt(instrument, value, t);
  }
  int X(std::int64_t t) const { return Chart->Layout().Plot.Left + int(Chart->Window().ColumnOf(t)); }
  QImage Shot() {
    History.Tick();
    return Chart->grab().toImage();
  }
};

TEST(AnTrend, aStepLandsInTheColumnOfItsTimeAndValuesBeyondTheAxisRunAlongItsEdge) {
  Rig r;
  const std::int64_t step = r.Now - 20 * S;
  r.Feed(1, 0, r.Now - 50 * S, step);
  r.Feed(1, 100, step, r.Now - 10 * S);
  r.Feed(1, 150, r.Now - 10 * S, r.Now - 5 * S);
  r.Feed(1, -50, r.Now - 5 * S, r.Now);
  const QImage img = r.Shot();
  const TRect p = r.Chart->Layout().Plot;
  const int top = p.Top, bottom = p.Bottom - 1;
  ASSERT_EQ(r.Chart->Window().EndNs() - r.Chart->Window().StartNs(), 60 * S);

  const int x = r.X(step);
  EXPECT_EQ(At(img, x, top), clRed);              // the step's column rises to 100
  EXPECT_NE(At(img, x - 1, top), clRed);          // the column before stays at 0
  EXPECT_EQ(At(img, x - 1, bottom), clRed);
  EXPECT_EQ(At(img, x + 20, top), clRed);
  EXPECT_NE(At(img, x + 20, bottom), clRed);
  EXPECT_NE(At(img, r.X(r.Now - 50 * S) - 2, bottom), clRed); // nothing before the first value

  // 100 is on the axis: the edge mark is for values beyond it only.
  EXPECT_NE(At(img, x + 20, top + TAnTrend::EdgeMark - 1), clRed);
  const int above = r.X(r.Now - 7 * S), below = r.X(r.Now - 2 * S);
  for (int row = top; row < top + TAnTrend::EdgeMark; ++row) EXPECT_EQ(At(img, above, row), clRed) << row;
  for (int row = bottom; row > bottom - TAnTrend::EdgeMark; --row) EXPECT_EQ(At(img, below, row), clRed) << row;
  EXPECT_NE(At(img, above, top + TAnTrend::EdgeMark + 1), clRed);
}

TEST(AnTrend, rendersOnlyWhenItsPixelsChangeAndNeverWhileHiddenOrPaused) {
  Rig r;
  r.Feed(1, 50, r.Now - 5 * S, r.Now);
  r.Shot();
  const std::uint64_t renders = r.Chart->PlotRenderCount();
  // The same time, nothing new: nothing to do.
  r.History.Tick();
  EXPECT_EQ(r.Chart->PlotRenderCount(), renders);
  // A value that draws the same pixels.
  r.History.AddAt(1, 50, r.Now - 1);
  r.History.Tick();
  EXPECT_EQ(r.Chart->PlotRenderCount(), renders);
  // Time moves on by a column: everything moves.
  r.Now = r.Chart->Window().EndNs(); // the first slot of the next column
  r.History.Tick();
  EXPECT_EQ(r.Chart->PlotRenderCount(), renders + 1);

  // A minimized window is drawn for when it comes back.
  r.Host.showMinimized();
  r.Now = r.Chart->Window().EndNs();
  r.History.Tick();
  EXPECT_EQ(r.Chart->PlotRenderCount(), renders + 1);
  r.Host.showNormal();
  r.Shot();
  EXPECT_EQ(r.Chart->PlotRenderCount(), renders + 2);

  r.Chart->SetVisible(false);
  EXPECT_FALSE(r.History.IsSubscribed(r.Chart));
  r.Chart->SetVisible(true);
  EXPECT_TRUE(r.History.IsSubscribed(r.Chart));

  // Paused: the picture keeps its window, shows "Pause", and new values do not move it.
  QTest::mouseClick(r.Chart, Qt::LeftButton, {}, QPoint(100, 100));
  EXPECT_TRUE(r.Chart->Paused());
  EXPECT_FALSE(r.History.IsSubscribed(r.Chart));
  const TTrendWindow frozen = r.Chart->Window();
  QImage img = r.Chart->grab().toImage();
  const TRect p = r.Chart->Layout().Plot;
  EXPECT_EQ(At(img, p.Right - 6, p.Top + 5), clYellow);
  r.Now += 5 * S;
  r.Feed(1, 90, r.Now - 5 * S, r.Now);
  img = r.Chart->grab().toImage();
  EXPECT_EQ(r.Chart->Window(), frozen);
  EXPECT_NE(At(img, r.X(r.Now - 6 * S), r.Chart->Axis().Y(90)), clRed);
  // Hidden and shown again (another page) long after the history has moved on, it still shows
  // what it showed.
  r.Now += 70 * S;
  r.History.AddAt(1, 10, r.Now);
  r.Chart->hide();
  r.Chart->show();
  img = r.Chart->grab().toImage();
  EXPECT_EQ(r.Chart->Window(), frozen);
  EXPECT_EQ(At(img, r.X(frozen.EndNs() - 2 * S), r.Chart->Axis().Y(50)), clRed);
  QTest::mouseClick(r.Chart, Qt::LeftButton, {}, QPoint(100, 100));
  EXPECT_FALSE(r.Chart->Paused());
  img = r.Shot();
  EXPECT_NE(r.Chart->Window(), frozen);
  EXPECT_EQ(At(img, r.X(r.Now - 1), r.Chart->Axis().Y(10)), clRed);
}

TEST(AnTrend, theMouseOverThePlotShowsTimeAndValuesThere) {
  ScopedFormatSettings comma(',', '.');
  Rig r;
  r.Chart->SetInstrument(1, 2);
  r.Feed(1, 12.5f, r.Now - 10 * S, r.Now);
  r.History.AddAt(2, 3, r.Now - 3 * S);
  r.History.AddAt(2, 4, r.Now - 3 * S + 1);
  r.Shot();
  const int x = r.X(r.Now - 3 * S);
  const std::string text = r.Chart->HoverText(x);
  // The time where the column starts: steady 997 s is 00:16:37 on this rig's clock.
  const TTrendWindow &w = r.Chart->Window();
  const int column = x - r.Chart->Layout().Plot.Left;
  const std::int64_t start = w.ColumnStartNs(column);
  EXPECT_LE(start, r.Now - 3 * S);
  EXPECT_GT(w.ColumnStartNs(column + 1), r.Now - 3 * S);
  EXPECT_EQ(text.substr(0, 12), ClockText(start / Ms, true, true, ','));
  EXPECT_EQ(text.substr(0, 6), "00:16:");
  EXPECT_NE(text.find("#01 Signal1 (V): 12,5"), std::string::npos) << text;
  EXPECT_NE(text.find("#02 Signal2 (V): 3 … 4"), std::string::npos) << text;
  EXPECT_NE(r.Chart->HoverText(r.X(r.Now - 30 * S)).find("#01 Signal1 (V): –"), std::string::npos);
  EXPECT_EQ(r.Chart->HoverText(r.Chart->Layout().Plot.Left - 1), "");
}

TEST(AnTrend, theContextMenuSavesTheSpanShownAsPictureAndRows) {
  Rig r;
  QTemporaryDir dir;
  std::string chosen;
  r.Chart->ChooseExportFile = [&](bool csv) { return chosen = dir.filePath(csv ? "t.csv" : "t.png").toStdString(); };
  std::vector<TTrendExportRow> written;
  r.Chart->OnWriteCsv = [&](const std::vector<TTrendExportRow> &rows, const std::string &, std::string *) {
    written = rows;
    return true;
  };
  r.History.AddAt(1, 99, r.Now - 100 * S); // long before the window
  for (float v : {5.0f, 9.0f, 1.0f}) r.History.AddAt(1, v, r.Now - 10 * S);
  r.History.AddAt(1, 7, r.Now - 5 * S);
  r.Shot();

  QTest::mouseClick(r.Chart, Qt::RightButton, {}, QPoint(100, 100));
  ASSERT_NE(r.Chart->ContextMenu(), nullptr);
  EXPECT_TRUE(r.Chart->ContextMenu()->isVisible());
  EXPECT_FALSE(r.Chart->Paused());
  const auto actions = r.Chart->ContextMenu()->actions();
  ASSERT_EQ(actions.size(), 2);
  // Values after the menu opened are not in the export.
  r.History.AddAt(1, 8, r.Now - 1);
  actions[1]->trigger();
  ASSERT_EQ(written.size(), 3u);
  // The slot that ended on its minimum gives the maximum first.
  EXPECT_EQ(written[0].Value, 9.0f);
  EXPECT_EQ(written[1].Value, 1.0f);
  EXPECT_EQ(written[0].UnixMs, (r.Now - 10 * S) / Ms);
  EXPECT_EQ(written[2].Value, 7.0f);
  EXPECT_EQ(written[2].Instrument, 1);
  EXPECT_EQ(written[2].Unit, "V");

  actions[0]->trigger();
  const QImage saved(QString::fromStdString(chosen));
  EXPECT_EQ(saved.size(), r.Chart->size());

  // A file that cannot be written is reported, and nothing is left behind.
  std::string shown;
  const TExceptionSink old = SetExceptionSink([&](const std::string &m) { shown = m; });
  r.Chart->ChooseExportFile = [&](bool) { return dir.filePath("t.png/inside.png").toStdString(); };
  actions[0]->trigger();
  SetExceptionSink(old);
  EXPECT_NE(shown.find("t.png/inside.png"), std::string::npos) << shown;
}

TEST(AnTrend, settingsOutOfTheirRangeAreRefused) {
  Rig r;
  EXPECT_FALSE(r.Chart->SetAxis(10, 10));
  EXPECT_FALSE(r.Chart->SetAxis(0, std::numeric_limits<double>::infinity()));
  EXPECT_TRUE(r.Chart->SetAxis(-5, 5));
  EXPECT_EQ(r.Chart->AxisFrom(), -5);
  r.Chart->SetInstrument(2, 11);
  EXPECT_EQ(r.Chart->Instrument(2), 0);
  r.Chart->SetBounds(0, 0, 10, 100000);
  EXPECT_EQ(r.Chart->width(), TAnTrend::MinWidth);
  EXPECT_EQ(r.Chart->height(), TAnTrend::MaxHeight);
}

} // namespace
