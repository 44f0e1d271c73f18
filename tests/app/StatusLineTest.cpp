// The status line: port, state, rates, dropped records and discarded bytes, and the list of the
// last dropped records behind a click.
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "app/DropLog.h"
#include "app/FormMain.h"
#include "app/StatusLine.h"
#include "instruments/AnVMeter.h"
#include "platform/Application.h"
#include "serial/ComDataPacket.h"
#include "serial/ComPort.h"
#include "support/TestSupport.h"
#include "tty/PseudoTerminal.h"

using namespace std::chrono_literals;

namespace {

TEST(StatusLine, ratesAreShortAndSwitchFormWhereTheRoundedFigureWouldGrow) {
  const struct {
    double Rate;
    char Separator;
    const char *Text;
  } cases[] = {
      {0, '.', "0"},           {-3, '.', "0"},          {std::nan(""), '.', "0"},
      {9999.4, '.', "9999"},   {9999.6, '.', "10.0k"},  {12345, ',', "12,3k"},
      {999949, '.', "999.9k"}, {999951, '.', "1.00M"},  {1049000, ',', "1,05M"},
      {9994999, '.', "9.99M"}, {9995001, '.', "10.0M"}, {std::numeric_limits<double>::infinity(), '.', "0"},
  };
  for (const auto &c : cases) {
    TFormatSettings fs;
    fs.DecimalSeparator = c.Separator;
    EXPECT_EQ(ShortRate(c.Rate, fs), c.Text) << c.Rate;
  }
}

TEST(StatusLine, rateIsTheGrowthSinceThePreviousSampleOverItsTime) {
  const struct {
    std::uint64_t Records, Bytes;
    std::int64_t Ms;
    double RecordsPerSecond, BytesPerSecond;
  } steps[] = {
      {100, 800, 1000, 0, 0},      // a first sample has nothing to compare with
      {600, 4800, 1500, 1000, 8000}, {600, 4800, 2500, 0, 0},
      {650, 5000, 2500, 0, 0},      // no time passed
      {10, 80, 3000, 0, 0},         // counters started again
      {40, 200, 3250, 120, 480},
  };
  TRateMeter meter;
  for (const auto &s : steps) {
    meter.Sample(s.Records, s.Bytes, s.Ms);
    EXPECT_DOUBLE_EQ(meter.RecordsPerSecond(), s.RecordsPerSecond) << "at " << s.Ms;
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), s.BytesPerSecond) << "at " << s.Ms;
  }
}

TEST(StatusLine, dropLogKeepsTheLastHundredOldestFirstAndGivesTheTraceReason) {
  TDropLog log;
  EXPECT_EQ(log.LastReason(), "");
  const auto t0 = TDropLog::TClock::now();
  for (int i = 0; i < 250; ++i) log.Add("#" + std::to_string(i) + "M1<", t0 + std::chrono::milliseconds(i));
  EXPECT_EQ(log.Count(), 250u);
  const auto kept = log.Entries();
  ASSERT_EQ(kept.size(), TDropLog::Capacity);
  EXPECT_EQ(kept.front().Record, "#150M1<");
  EXPECT_EQ(kept.back().Record, "#249M1<");
  EXPECT_EQ(kept.back().Time - kept.front().Time, std::chrono::milliseconds(99));
  EXPECT_EQ(log.LastReason(), "no instrument 249 (instruments are 1 to 10)");

  log.Add(std::string("#1M\x01") + std::string(200, 'x') + "<");
  const std::string line = DropLogLine(log.Entries().back());
  EXPECT_NE(line.find("#1M\\x01xxx"), std::string::npos) << line;
  EXPECT_NE(line.find("...  ->  '"), std::string::npos) << line;
  EXPECT_LT(line.size(), 80u + 120u + 40u) << "record and reason are cut short";
  EXPECT_EQ(line.find('\x01'), std::string::npos) << "no control byte in the reason either";
  EXPECT_EQ(line[2], ':');
}

TEST(StatusLine, printableTextEscapesControlBytesAndCutsBetweenCharacters) {
  const struct {
    std::string Text;
    std::size_t Longest;
    const char *Printed;
  } cases[] = {
      {"#1M2<", 5, "#1M2<"},
      {"#1M2<x", 5, "#1M2<..."},
      {std::string("a\0b\r\x7f", 5), 10, "a\\x00b\\x0D\\x7F"},
      {"ab\xC3\xA4", 3, "ab..."}, // "ä" is not split
      {"ab\xC3\xA4", 4, "ab\xC3\xA4"},
  };
  for (const auto &c : cases) EXPECT_EQ(PrintableText(c.Text, c.Longest), c.Printed) << c.Longest;
}

class StatusLineForm : public ::testing::Test {
protected:
  TPseudoTerminal Pty;
  std::unique_ptr<TFormMain> Form = std::make_unique<TFormMain>();
  QString State() const { return Form->StatusLine1->StateLabel()->text(); }
};

TEST_F(StatusLineForm, stateFollowsThePortTheWaitAndTheReplayAndTheTitleStaysPlain) {
  ASSERT_EQ(Pty.Open(), 0);
  Form->UsePort(Pty.SlavePath(), 57600);
  Form->UpdateStatusLine();
  EXPECT_EQ(Form->StatusLine1->PortLabel()->text(), QString::fromStdString(Pty.SlavePath()) + ", 57600 Baud");
  const struct {
    const char *Name;
    std::function<void()> Do;
    const char *State;
  } steps[] = {
      {"fresh", [] {}, "getrennt"},
      {"waiting", [&] { Form->SetWaitingForDevice(true); }, "wartet auf Gerät"},
      {"device back", [&] { Form->ConnectSchnittstelle1Click(); }, "verbunden"},
      {"wait ended", [&] { Form->SetWaitingForDevice(false); }, "verbunden"},
      {"demo", [&] { Form->SetDemo(true); }, "Demo"},
      {"replay", [&] { Form->SetReplayStatus("Wiedergabe 00:12:05 / 01:00:00"); }, "Wiedergabe 00:12:05 / 01:00:00"},
      {"replay over", [&] { Form->SetReplayStatus(""); }, "Demo"},
      {"closed", [&] { Form->DisconnectSchnittstelle1Click(); }, "getrennt"},
      {"waiting again", [&] { Form->SetWaitingForDevice(true); }, "wartet auf Gerät"},
  };
  for (const auto &s : steps) {
    s.Do();
    EXPECT_EQ(State(), QString::fromUtf8(s.State)) << s.Name;
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("    Telmora")) << s.Name;
  }
}

TEST_F(StatusLineForm, droppedRecordsAndDiscardedBytesAreCountedAndAClickListsThem) {
  ASSERT_EQ(Pty.Open(), 0);
  Form->UsePort(Pty.SlavePath(), 115200);
  Form->ConnectSchnittstelle1Click();
  auto *instr3 = Form->FindComponent<TAnVMeter>(QStringLiteral("Instr3"));
  const std::string bytes = "#3M1<#12M1<xx#3M2<";
  ASSERT_EQ(Pty.Send(bytes, 2s), bytes.size());
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return instr3->Value() == 2.0f; }));
  Form->UpdateStatusLine();
  EXPECT_EQ(Form->StatusLine1->DroppedLabel()->text(),
            QStringLiteral("Verworfene Datensätze: 1 (no instrument 12 (instruments are 1 to 10))"));
  EXPECT_EQ(Form->StatusLine1->DiscardedLabel()->text(), QStringLiteral("Verworfene Bytes: 2"));
  EXPECT_EQ(Form->StatusLine1->DiscardedLabel()->toolTip(), QStringLiteral("2 bytes discarded: text outside records"));

  Form->show();
  QTest::mouseClick(Form->StatusLine1->DroppedLabel(), Qt::LeftButton);
  auto *dialog = Form->findChild<QDialog *>(QStringLiteral("DropLogDialog"));
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  const QString listed = dialog->findChild<QPlainTextEdit *>()->toPlainText();
  EXPECT_TRUE(listed.contains(QStringLiteral("  #12M1<  ->  no instrument 12"))) << listed.toStdString();
  EXPECT_EQ(listed.count(QLatin1Char('\n')), 1);

  // More drops while the list is open reach it with the next update.
  const std::string more = "#0M1<";
  ASSERT_EQ(Pty.Send(more, 2s), more.size());
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Form->DropLog().Count() == 2; }));
  Form->UpdateStatusLine();
  EXPECT_EQ(dialog->findChild<QPlainTextEdit *>()->toPlainText().count(QLatin1Char('\n')), 2);
}

TEST_F(StatusLineForm, followsAnotherPortAndFramerAndOutlivesThem) {
  ASSERT_EQ(Pty.Open(), 0);
  {
    auto port = std::make_unique<TComPort>();
    TComDataPacket framer;
    framer.SetStartString("#");
    framer.SetStopString("<");
    framer.SetComPort(port.get());
    port->SetPort(Pty.SlavePath());
    Form->SetStatusSource(port.get(), &framer);
    EXPECT_EQ(Form->StatusLine1->PortLabel()->text(), QString::fromStdString(Pty.SlavePath()) + ", 9600 Baud");
    port->SetConnected(true);
    EXPECT_EQ(State(), QStringLiteral("verbunden"));
    EXPECT_FALSE(Form->ComPort1->Connected());
    const std::string noise = "abc#1";
    ASSERT_EQ(Pty.Send(noise, 2s), noise.size());
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return framer.ReceivedBytes() == noise.size(); }));
    Form->UpdateStatusLine();
    EXPECT_EQ(Form->StatusLine1->DiscardedLabel()->text(), QStringLiteral("Verworfene Bytes: 3"));
    port.reset(); // closes while the framer still holds "#1", then goes before the window
  }
  Form->UpdateStatusLine();
  EXPECT_EQ(State(), QStringLiteral("getrennt"));
  EXPECT_EQ(Form->StatusLine1->PortLabel()->text(), QString());
}

} // namespace
