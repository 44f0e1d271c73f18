// The trend charts in the window: the Trend tab driven by mouse and keys, records reaching the
// history as the recording gets them, the charts' settings across a restart and in a project,
// the meters' drag rules on a chart, and the CSV a chart's menu saves.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/records/RecordCsv.h"
#include "app/window/ColorBox.h"
#include "app/window/FormMain.h"
#include "instruments/AnNumEdit.h"
#include "instruments/AnTrend.h"
#include "instruments/AnVMeter.h"
#include "platform/Application.h"
#include "platform/AtomicFile.h"
#include "platform/FormatSettings.h"

namespace {

std::string ReadAll(const std::string &path) {
  std::string text;
  ReadWholeFile(path, &text);
  return text;
}

class FormMainTrendTest : public ::testing::Test {
protected:
  std::vector<std::string> Shown;
  TExceptionSink PreviousSink = SetExceptionSink([this](const std::string &m) { Shown.push_back(m); });
  ScopedFormatSettings Dot{'.', ','};
  QTemporaryDir Dir;
  std::string File = Dir.path().toStdString() + "/cfg/Telmora.ini";
  ~FormMainTrendTest() override { SetExceptionSink(PreviousSink); }

  std::unique_ptr<TFormMain> Start(const std::string &file = {}) {
    auto form = std::make_unique<TFormMain>(nullptr, file);
    form->show();
    QApplication::setActiveWindow(form.get());
    QApplication::processEvents();
    return form;
  }
  // A field as a user fills it: click into it, select what is there, type, leave with Tab.
  static void Type(QWidget *field, const char *text) {
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Tab);
  }
  static void Choose(QComboBox *box, int steps) {
    box->setFocus();
    for (int i = 0; i < std::abs(steps); ++i) QTest::keyClick(box, steps > 0 ? Qt::Key_Down : Qt::Key_Up);
  }
};

TEST_F(FormMainTrendTest, theTrendTabSetsUpAChartThroughMouseAndKeys) {
  auto form = Start();
  form->ShowPageByName("Instrumente");
  // The editor area opens with an instrument's button; then the tab.
  QTest::mouseClick(form->FindComponent<QPushButton>(QStringLiteral("CButton1")), Qt::LeftButton);
  QTabBar *tabs = form->PageControl2->tabBar();
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(3).center());
  ASSERT_EQ(form->PageControl2->currentWidget()->objectName(), QStringLiteral("TabSheetTrend"));

  EXPECT_EQ(form->ComboBoxTrendKanal[0]->currentText().left(3), QStringLiteral("#01"));
  // Tab walks the fields in the order they stand.
  form->CheckBoxTrendAnzeigen->setFocus();
  for (QWidget *next : std::initializer_list<QWidget *>{form->ComboBoxTrendZeitraum, form->ComboBoxTrendKanal[0],
                                                        form->ColorBoxTrendFarbe[0], form->ComboBoxTrendKanal[1]}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
  }
  Choose(form->ComboBoxTrendKanal[1], 2); // "–" → #01 → #02
  Choose(form->ComboBoxTrendZeitraum, -1); // 1 min → 10 s
  QTest::mouseClick(form->CheckBoxTrendAnzeigen, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseClick(form->CheckBoxTrendAchseAuto, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(form->AnNumEditTrendAchseVon->isEnabled());
  Type(form->AnNumEditTrendAchseVon, "-10");
  Type(form->AnNumEditTrendAchseBis, "0.2k"); // the numeric fields' own rules: 200
  Type(form->AnNumEditTrendBreite, "9999");
  QTest::mouseClick(form->ButtonTrendWerteZuweisen, Qt::LeftButton);

  TAnTrend *t = form->Trend(1);
  EXPECT_TRUE(t->Visible());
  EXPECT_EQ(t->Instrument(0), 1);
  EXPECT_EQ(t->Instrument(1), 2);
  EXPECT_EQ(t->Instrument(2), 0);
  EXPECT_EQ(t->Span(), ts10s);
  EXPECT_FALSE(t->AutoAxis());
  EXPECT_EQ(t->AxisFrom(), -10);
  EXPECT_EQ(t->AxisTo(), 200);
  EXPECT_EQ(t->width(), TAnTrend::MaxWidth); // a size beyond the chart's limits is held to them
  EXPECT_EQ(t->height(), 200);

  // Another chart: the fields show it; an axis whose end is not above its start is refused.
  Choose(form->ComboBoxTrendNummer, 1);
  EXPECT_FALSE(form->CheckBoxTrendAnzeigen->isChecked());
  EXPECT_EQ(form->ComboBoxTrendKanal[0]->currentIndex(), 2);
  EXPECT_EQ(form->ComboBoxTrendKanal[1]->currentIndex(), 0);
  QTest::mouseClick(form->CheckBoxTrendAchseAuto, Qt::LeftButton, {}, QPoint(5, 5));
  Type(form->AnNumEditTrendAchseVon, "50");
  Type(form->AnNumEditTrendAchseBis, "50");
  QTest::mouseClick(form->ButtonTrendWerteZuweisen, Qt::LeftButton);
  EXPECT_FALSE(form->Trend(2)->AutoAxis());
  EXPECT_EQ(form->Trend(2)->AxisFrom(), 0);
  EXPECT_EQ(form->Trend(2)->AxisTo(), 100);
  EXPECT_FALSE(form->Trend(2)->Visible());
  // Back to the first: its fields again.
  Choose(form->ComboBoxTrendNummer, -1);
  EXPECT_EQ(form->ComboBoxTrendZeitraum->currentIndex(), 0);
  EXPECT_EQ(form->AnNumEditTrendBreite->ValueAsInt(), TAnTrend::MaxWidth);
}

TEST_F(FormMainTrendTest, theHistoryGetsTheValuesTheRecordingGets) {
  auto form = Start();
  std::int64_t now = 5'000'000'000'000LL;
  form->TrendHistory1->SetClock([&] { return now; });
  const struct {
    const char *Record;
    int Instrument; // 0: dropped
  } rows[] = {{"#1M12.5<", 1}, {"#2M-3,25<", 2}, {"#11M5<", 0}, {"#1Mabc<", 0}, {"#10M1e3<", 10}, {"#0M1<", 0}};
  std::uint64_t counts[11] = {};
  for (const auto &r : rows) {
    form->ComDataPacket1Packet(form.get(), r.Record);
    if (r.Instrument) ++counts[r.Instrument];
    for (int n = 1; n <= 10; ++n) EXPECT_EQ(form->TrendHistory1->Count(n), counts[n]) << r.Record << " " << n;
  }
  std::vector<TTrendSlot> slot;
  form->TrendHistory1->Read(2, ts10s, now / TrendSlotNs(ts10s), 1, slot);
  EXPECT_EQ(slot[0].Last, -3.25f);

  // A chart of instrument 1 shows it under the mouse.
  TAnTrend *t = form->Trend(1);
  t->SetVisible(true);
  const QImage picture = t->Picture();
  ASSERT_FALSE(picture.isNull());
  const std::string text = t->HoverText(t->Layout().Plot.Right - 1);
  EXPECT_NE(text.find("#01 SignalName1 (%): 12.5"), std::string::npos) << text;
}

TEST_F(FormMainTrendTest, chartSettingsComeBackAfterARestartAndWithAProject) {
  auto set = [](TAnTrend &t) {
    t.SetSpan(ts1h);
    t.SetInstrument(0, 3);
    t.SetInstrument(2, 5);
    t.SetSeriesColor(2, clTeal);
    t.SetAutoAxis(false);
    t.SetAxis(-5, 5);
    t.SetBackgroundColor(clCream);
    t.SetBounds(-20, 300, 500, 260); // partly outside the page, as a meter may be
    t.SetVisible(true);
  };
  auto check = [](TAnTrend &t, const char *where) {
    EXPECT_EQ(t.Span(), ts1h) << where;
    EXPECT_EQ(t.Instrument(0), 3) << where;
    EXPECT_EQ(t.Instrument(1), 0) << where;
    EXPECT_EQ(t.Instrument(2), 5) << where;
    EXPECT_EQ(t.SeriesColor(2), clTeal) << where;
    EXPECT_FALSE(t.AutoAxis()) << where;
    EXPECT_EQ(t.AxisFrom(), -5) << where;
    EXPECT_EQ(t.AxisTo(), 5) << where;
    EXPECT_EQ(t.BackgroundColor(), clCream) << where;
    EXPECT_EQ(t.geometry(), QRect(-20, 300, 500, 260)) << where;
    EXPECT_TRUE(t.Visible()) << where;
    EXPECT_FALSE(t.Paused()) << where; // a pause is not kept
  };
  auto form = Start(File);
  set(*form->Trend(2));
  form->Trend(2)->SetPaused(true);
  const std::string project = Dir.path().toStdString() + "/p.ini";
  std::string error;
  ASSERT_TRUE(form->SaveProject(project, &error)) << error;
  form->close();
  form.reset();
  // The chart's section follows every listed one.
  const std::string text = ReadAll(File);
  EXPECT_LT(text.rfind("Instr10_SignalSettings]"), text.find("\\Trend1]"));
  EXPECT_NE(text.find("Span=ts1h"), std::string::npos);

  form = Start(File);
  check(*form->Trend(2), "restart");
  EXPECT_FALSE(form->Trend(1)->Visible());
  // No meter is on: the hint says so, under the chart it would otherwise cover.
  const QObjectList &stack = form->Trend(2)->parentWidget()->children();
  ASSERT_TRUE(form->LabelKeineInstrumente->isVisibleTo(form.get()));
  EXPECT_GT(stack.indexOf(static_cast<QObject *>(form->Trend(2))), stack.indexOf(static_cast<QObject *>(form->LabelKeineInstrumente)));
  form->close();
  form.reset();

  form = Start();
  ASSERT_TRUE(form->LoadProject(project, &error)) << error;
  check(*form->Trend(2), "project");
  EXPECT_TRUE(Shown.empty());
}

TEST_F(FormMainTrendTest, aChartIsDraggedLikeAMeterAndAClickWithoutMovePausesIt) {
  auto form = Start();
  form->ShowPageByName("Show");
  TAnVMeter *meter = form->FindComponent<TAnVMeter>(QStringLiteral("Instr1"));
  meter->SetVisible(true);
  TAnTrend *t = form->Trend(1);
  t->SetVisible(true);
  QApplication::processEvents();
  // Right button, up and left onto the meter: the chart follows the pointer and lies in front.
  const QPoint start = t->pos();
  QTest::mousePress(t, Qt::RightButton, {}, QPoint(100, 60));
  QTest::mouseMove(t, QPoint(100 - 650, 60 - 10));
  QTest::mouseRelease(t, Qt::RightButton, {}, QPoint(100 - 650, 60 - 10));
  EXPECT_EQ(t->pos(), start + QPoint(-650, -10));
  EXPECT_FALSE(form->Dragging);
  EXPECT_EQ(form->TabSheetShow->childAt(meter->geometry().center()), t);
  EXPECT_FALSE(t->Paused());
  EXPECT_TRUE(t->ContextMenu() == nullptr || !t->ContextMenu()->isVisible()); // a drag opens no menu
  // The meter clicked comes to the front, without moving; the chart clicked comes back and pauses.
  QTest::mouseClick(meter, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(form->TabSheetShow->childAt(meter->geometry().center()), meter);
  const QPoint inside = t->mapFromParent(meter->geometry().center());
  QTest::mouseClick(t, Qt::LeftButton, {}, QPoint(inside.x() + 200, inside.y()));
  EXPECT_TRUE(t->Paused());
  EXPECT_EQ(form->TabSheetShow->childAt(meter->geometry().center()), t);
  EXPECT_EQ(t->pos(), start + QPoint(-650, -10));
  // A right click without a move opens the menu.
  QTest::mouseClick(t, Qt::RightButton, {}, QPoint(300, 60));
  ASSERT_NE(t->ContextMenu(), nullptr);
  EXPECT_TRUE(t->ContextMenu()->isVisible());
  t->ContextMenu()->hide();
}

TEST_F(FormMainTrendTest, theMenusCsvHasTheRecordingsColumns) {
  auto form = Start();
  TAnTrend *t = form->Trend(1);
  ASSERT_TRUE(t->OnWriteCsv);
  const std::string file = Dir.path().toStdString() + "/t.csv";
  const std::vector<TTrendExportRow> rows = {{1'714'572'200'000LL, 1, 25.5f, "°C"},
                                             {1'714'572'200'015LL, 1, 0.1f, "mA, DC"},
                                             {1'714'572'200'015LL, 2, std::numeric_limits<float>::infinity(), "V"}};
  std::string error;
  ASSERT_TRUE(t->OnWriteCsv(rows, file, &error)) << error;
  std::istringstream in(ReadAll(file));
  std::string line;
  std::vector<std::string> fields;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, std::string(RecordingHeader) + "\r");
  const char *values[] = {"25.5", "0.1"};
  const char *units[] = {"°C", "mA, DC"};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(std::getline(in, line));
    line.pop_back(); // CR
    ASSERT_TRUE(SplitCsvLine(line, ',', fields));
    ASSERT_EQ(fields.size(), 4u);
    std::int64_t ms = 0;
    ASSERT_TRUE(ParseIsoTime(fields[0], ms)) << fields[0];
    EXPECT_EQ(ms, rows[i].UnixMs);
    EXPECT_EQ(fields[1], "1");
    EXPECT_EQ(fields[2], values[i]);
    EXPECT_EQ(fields[3], units[i]);
  }
  EXPECT_FALSE(std::getline(in, line)); // no number is no line
  EXPECT_FALSE(t->OnWriteCsv(rows, Dir.path().toStdString() + "/t.csv/x.csv", &error));
  EXPECT_NE(error.find("t.csv/x.csv"), std::string::npos) << error;
}

} // namespace
