// The status line: port, state, rates, dropped records and discarded bytes, and the list of the
// last dropped records behind a click.
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

#include "app/records/DropLog.h"
#include "app/window/FormMain.h"
#include "app/window/StatusLine.h"
#include "instruments/AnVMeter.h"
#include "serial/ComControls.h"
#include "serial/ComPort.h"
#include "support/TestSupport.h"
#include "tty/PseudoTerminal.h"

using namespace std::chrono_literals;

namespace {

TEST(StatusLine, ratesAreShortAndSwitchFormWhereTheRoundedFigureWouldGrow) {
  const struct {
    double Rate;
    const char *Text;
  } cases[] = {{-3, "0"},          {std::nan(""), "0"}, {9999.4, "9999"},   {9999.6, "10,0k"},
               {999949, "999,9k"}, {999951, "1,00M"},   {9994999, "9,99M"}, {9995001, "10,0M"}};
  TFormatSettings fs;
  fs.DecimalSeparator = ',';
  for (const auto &c : cases) EXPECT_EQ(ShortRate(c.Rate, fs), c.Text) << c.Rate;
}

// Samples come at the status timer's ticks and at other refreshes (a replay's progress, every
// 500 ms on a clock of its own): an even stream reads as one steady figure all the same.
TEST(StatusLine, anEvenStreamReadsSteadyWhereverTheSamplesFall) {
  const struct {
    const char *Name;
    std::int64_t RecordEveryMs, ExtraSampleStepMs; // -1: no extra samples
    const char *Shown;
  } cases[] = {{"4 records/s, ticks only", 250, -1, "4"},
               {"4 records/s, a replay refresh 90 ms after each tick", 250, 0, "4"},
               {"4 records/s, replay refreshes anywhere between the ticks", 250, 137, "4"},
               {"3 records/s, replay refreshes anywhere between the ticks", 333, 211, "3"},
               {"1 record/s, replay refreshes anywhere between the ticks", 1000, 173, "1"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TRateMeter meter;
    std::vector<std::int64_t> samples;
    for (std::int64_t t = 0, k = 0; t <= 20000; t += 500, ++k) {
      samples.push_back(t);
      if (c.ExtraSampleStepMs >= 0) samples.push_back(t + 90 + k * c.ExtraSampleStepMs % 400);
    }
    for (const std::int64_t t : samples) {
      const std::uint64_t records = std::uint64_t(t / c.RecordEveryMs); // one record at every multiple
      meter.Sample(records, records * 9, t);
      EXPECT_FALSE(meter.Quiet()) << "at " << t;
      if (t < TRateMeter::WindowMs) continue; // the first window fills
      EXPECT_GE(meter.RecordsPerSecond(), 0.5) << "at " << t;
      EXPECT_EQ(ShortRate(meter.RecordsPerSecond(), TFormatSettings{}), c.Shown) << "at " << t;
    }
  }
}

// The timer stops once a whole window passed without data; a counter that starts again (a new
// framer) or a sample right after the first gives no made-up figure.
TEST(StatusLine, rateFallsToZeroAfterAQuietWindowAndNeverJumps) {
  const struct {
    std::uint64_t Records, Bytes;
    std::int64_t Ms;
    double RecordsPerSecond;
    bool Quiet;
  } steps[] = {{100, 800, 1000, 0, false},
               {101, 808, 1010, 0, false} /* 10 ms after the first: no 100/s */,
               {200, 1600, 1500, 200, false},
               {600, 4800, 3000, 250, false},
               {600, 4800, 4500, 400.0 / 3, false} /* the window still holds data */,
               {600, 4800, 6000, 0, true},
               {10, 80, 6500, 0, false} /* counters started again */,
               {40, 320, 7000, 60, false}};
  TRateMeter meter;
  for (const auto &s : steps) {
    meter.Sample(s.Records, s.Bytes, s.Ms);
    EXPECT_DOUBLE_EQ(meter.RecordsPerSecond(), s.RecordsPerSecond) << "at " << s.Ms;
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), s.RecordsPerSecond * 8) << "at " << s.Ms;
    EXPECT_EQ(meter.Quiet(), s.Quiet) << "at " << s.Ms;
  }
}

// A long reason is cut after a whole word, marked with "…", never pressed into the next field.
// The broker's part speaks German; away from the broker it says why, and rates only where they
// can be more than nothing.
TEST(StatusLine, brokerPartSaysStateReasonAndWhatMoves) {
  const struct {
    TBrokerUse Use;
    bool Connected;
    const char *Failure;
    double Sent, Dropped, Received;
    bool Offline;
    const char *Shown;
  } cases[] = {
      {buNone, true, "", 5, 5, 5, false, ""},
      {buPublisher, true, "", 12345, 0, 0, false, "MQTT verbunden, 12,3k gesendet/s, 0 verworfen/s"},
      {buPublisher, false, "", 0, 0, 0, false, "MQTT verbindet"},
      {buPublisher, false, "connection refused", 0, 0, 0, false, "MQTT getrennt: Verbindung abgelehnt"},
      {buPublisher, false, "not authorised", 0, 25, 0, false, "MQTT getrennt: nicht berechtigt, 25 verworfen/s"},
      {buPanel, true, "", 0, 0, 10, true, "MQTT verbunden, 10 empfangen/s, Quelle offline"},
      {buPanel, false, "host not found", 0, 0, 0, false, "MQTT getrennt: Host nicht gefunden, 0 empfangen/s"},
  };
  const ScopedFormatSettings german(',', '.');
  for (const auto &c : cases) {
    TStatusInfo info;
    info.Broker = c.Use;
    info.BrokerConnected = c.Connected;
    info.BrokerFailure = c.Failure;
    info.BrokerSentPerSecond = c.Sent;
    info.BrokerDroppedPerSecond = c.Dropped;
    info.BrokerReceivedPerSecond = c.Received;
    info.SourceOffline = c.Offline;
    EXPECT_EQ(BrokerText(info), c.Shown);
  }
}

// A long broker part and a long reason crowd the line: the dropped field still shows its count.
TEST(StatusLine, theDroppedCountKeepsItsRoomInACrowdedLine) {
  TStatusLine line;
  line.resize(700, 24);
  line.show();
  TStatusInfo info;
  info.Port = "/dev/serial/by-id/usb-Some_Vendor_Long_Board_Name_0123456789-if00-port0, 115200 Baud";
  info.Broker = buPublisher;
  info.BrokerFailure = "TLS certificate not trusted";
  info.Dropped = 123456;
  info.LastDropReason = "„#12M1 und noch viel mehr Text“ ist keine Instrumentnummer";
  line.Show(info);
  QApplication::processEvents();
  const QLabel *dropped = line.DroppedLabel();
  EXPECT_TRUE(dropped->text().startsWith(QStringLiteral("Verworfene Datensätze: 123456"))) << dropped->text().toStdString();
  EXPECT_GE(dropped->width(), QFontMetrics(dropped->font()).horizontalAdvance(QStringLiteral("Verworfene Datensätze: 123456")));
}

TEST(StatusLine, longReasonsAreCutAtAWord) {
  const QFontMetrics metrics{QFont()};
  const QString reason = QStringLiteral("„#12M1 und noch viel mehr Text“ ist keine Instrumentnummer");
  const int whole = metrics.horizontalAdvance(reason);
  for (const int width : {whole + 5, whole, whole - 1, whole / 2, metrics.horizontalAdvance(QStringLiteral("„#12M1…")), 3}) {
    SCOPED_TRACE(width);
    const QString shown = ElideAtWord(reason, metrics, width);
    if (width >= whole) {
      EXPECT_EQ(shown, reason);
      continue;
    }
    ASSERT_TRUE(shown.endsWith(QStringLiteral("…")));
    const QString kept = shown.chopped(1);
    EXPECT_TRUE(kept.isEmpty() || (reason.startsWith(kept) && reason.at(kept.size()) == QLatin1Char(' ')))
        << shown.toStdString();
    EXPECT_TRUE(kept.isEmpty() || metrics.horizontalAdvance(shown) <= width);
  }
  EXPECT_EQ(ElideAtWord(reason, metrics, metrics.horizontalAdvance(QStringLiteral("„#12M1…"))), QStringLiteral("„#12M1…"));
}

TEST(StatusLine, dropLogKeepsTheLastHundredOldestFirstAndGivesTheTraceReason) {
  TDropLog log;
  const auto t0 = TDropLog::TClock::now();
  for (int i = 0; i < 250; ++i) log.Add("#" + std::to_string(i) + "M1<", t0 + std::chrono::milliseconds(i));
  EXPECT_EQ(log.Count(), 250u);
  const auto kept = log.Entries();
  ASSERT_EQ(kept.size(), TDropLog::Capacity);
  EXPECT_EQ(kept.front().Record, "#150M1<");
  EXPECT_EQ(kept.back().Record, "#249M1<");
  EXPECT_EQ(log.LastReason(), "kein Instrument 249 (Instrumente 1 bis 10)") << "the window speaks German";
  EXPECT_EQ(DropReason(kept.back().Record), "no instrument 249 (instruments are 1 to 10)") << "--trace English";

  log.Add(std::string("#1M\x01") + std::string(200, 'x') + "<");
  const std::string line = DropLogLine(log.Entries().back());
  EXPECT_EQ(line.find('\x01'), std::string::npos) << "no control byte, in the reason either: " << line;
  EXPECT_EQ(PrintableText(std::string("a\0\x7f", 3), 3), "a\\x00\\x7F");
  EXPECT_EQ(PrintableText("ab\xC3\xA4", 3), "ab...") << "the \"ä\" is not split";
  EXPECT_EQ(PrintableText("ab\xC3\xA4", 4), "ab\xC3\xA4");
}

class StatusLineForm : public ::testing::Test {
protected:
  TPseudoTerminal Pty;
  std::unique_ptr<TFormMain> Form = std::make_unique<TFormMain>();
  QString State() const { return Form->StatusLine1->StateLabel()->text(); }
};

TEST_F(StatusLineForm, stateFollowsThePortTheWaitAndTheReplayAndTheTitleStaysPlain) {
  ASSERT_EQ(Pty.Open(), 0);
  // A closed port shows what will be opened: given on the command line, restored, or picked.
  Form->UsePort(Pty.SlavePath(), 57600);
  EXPECT_EQ(Form->StatusLine1->PortLabel()->text(), QString::fromStdString(Pty.SlavePath()) + ", 57600 Baud");
  Form->ComComboBox2->SetText("9600");
  Form->ComComboBox2->Change();
  EXPECT_EQ(Form->StatusLine1->PortLabel()->text(), QString::fromStdString(Pty.SlavePath()) + ", 9600 Baud");
  const struct {
    const char *Name;
    std::function<void()> Do;
    const char *State;
  } steps[] = {
      {"fresh", [] {}, "getrennt"}, // the title never changes either
      {"waiting", [&] { Form->SetWaitingForDevice(true); }, "wartet auf Gerät"},
      {"device back", [&] { Form->ConnectSchnittstelle1Click(); }, "verbunden"}, // though still waiting
      {"demo", [&] { Form->SetDemo(true); }, "Demo"},
      {"replay", [&] { Form->SetReplayStatus("Wiedergabe 00:12:05 / 01:00:00"); }, "Wiedergabe 00:12:05 / 01:00:00"},
      {"replay over", [&] { Form->SetReplayStatus(""); }, "Demo"},
      {"closed", [&] { Form->DisconnectSchnittstelle1Click(), Form->SetWaitingForDevice(false); }, "getrennt"},
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
  const std::string bytes = "#3M1<#12M1<xx#3M2<", more = "#0M1<";
  ASSERT_EQ(Pty.Send(bytes, 2s), bytes.size());
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return instr3->Value() == 2.0f; }));
  Form->UpdateStatusLine();
  // Cut to the room the hidden window gives it; whole in the tool tip.
  EXPECT_TRUE(Form->StatusLine1->DroppedLabel()->text().startsWith(QStringLiteral("Verworfene Datensätze: 1 (")));
  EXPECT_TRUE(Form->StatusLine1->DroppedLabel()->toolTip().startsWith(
      QStringLiteral("kein Instrument 12 (Instrumente 1 bis 10)\n")));
  EXPECT_EQ(Form->StatusLine1->DiscardedLabel()->text(), QStringLiteral("Verworfene Bytes: 2"));
  EXPECT_EQ(Form->StatusLine1->DiscardedLabel()->toolTip(), QStringLiteral("2 Byte verworfen: Text außerhalb von Datensätzen"));

  Form->show();
  QTest::mouseClick(Form->StatusLine1->DroppedLabel(), Qt::LeftButton);
  auto *dialog = Form->findChild<QDialog *>(QStringLiteral("DropLogDialog"));
  ASSERT_TRUE(dialog && dialog->isVisible());
  const QString listed = dialog->findChild<QPlainTextEdit *>()->toPlainText();
  EXPECT_TRUE(listed.contains(QStringLiteral("  #12M1<  ->  kein Instrument 12"))) << listed.toStdString();
  EXPECT_EQ(listed.count(QLatin1Char('\n')), 1);

  // A tick that finds nothing new for a whole rate window stops the timer; the next reception
  // starts it again. More drops while the list is open reach it with the next update.
  auto *timer = Form->findChild<QTimer *>(QStringLiteral("StatusTimer"));
  const auto now = std::make_shared<std::int64_t>(Form->StatusClock());
  Form->StatusClock = [now] { return *now; };
  Form->UpdateStatusLine();
  EXPECT_TRUE(timer->isActive());
  *now += TRateMeter::WindowMs / 2;
  Form->UpdateStatusLine();
  EXPECT_TRUE(timer->isActive());
  *now += TRateMeter::WindowMs;
  Form->UpdateStatusLine();
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(Form->StatusLine1->RateLabel()->text(), QStringLiteral("0 Datensätze/s, 0 Byte/s"));
  ASSERT_EQ(Pty.Send(more, 2s), more.size());
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Form->DropLog().Count() == 2; }));
  EXPECT_TRUE(timer->isActive());
  Form->UpdateStatusLine();
  EXPECT_EQ(dialog->findChild<QPlainTextEdit *>()->toPlainText().count(QLatin1Char('\n')), 2);
}

TEST_F(StatusLineForm, followsAnotherPortAndOutlivesIt) {
  ASSERT_EQ(Pty.Open(), 0);
  auto port = std::make_unique<TComPort>();
  port->SetPort(Pty.SlavePath());
  Form->SetStatusSource(port.get(), nullptr);
  port->SetConnected(true);
  EXPECT_EQ(State(), QStringLiteral("verbunden"));
  port.reset(); // closes, and goes before the window
  Form->UpdateStatusLine();
  EXPECT_EQ(State() + Form->StatusLine1->PortLabel()->text(), QStringLiteral("getrennt"));
}

} // namespace
