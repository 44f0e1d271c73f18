// Recording and replay through the window: a simulated stream with noise is recorded, the file is
// replayed into a second window, and each meter takes the same values in the same order; the
// Datei menu starts and ends a recording, and a full disk ends it with a message while the meters
// go on.
#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <sstream>

#include <QAction>
#include <QLabel>
#include <QTemporaryDir>

#include "app/window/FormMain.h"
#include "app/startup/Replay.h"
#include "app/window/StatusLine.h"
#include "instruments/AnVMeter.h"
#include "instruments/TrendHistory.h"
#include "platform/Application.h"
#include "tty/PseudoTerminal.h"
#include "serial/ComPort.h"
#include "support/TestSupport.h"
#include "tools/SimRunner.h"

namespace {

class TFormUnderTest : public TFormMain {
public:
  using TFormMain::TFormMain;
  std::string Answer; // the file the dialog gives; empty: the user cancels
  bool Raw = false;

protected:
  bool ChooseRecordingFile(std::string &file, bool &raw) override {
    file = Answer;
    raw = Raw;
    return !Answer.empty();
  }
};

// Every record the window handled: the meter and the exact value it took, or the dropped record.
void Observe(TFormMain &form, std::vector<std::string> &seen) {
  form.OnMeasurement = [&seen](const std::string &record, const TAnVMeter *meter) {
    seen.push_back(meter ? meter->objectName().toStdString() + "=" +
                               std::to_string(std::bit_cast<std::uint32_t>(meter->Value()))
                         : "dropped " + record);
  };
}

std::size_t Taken(const std::vector<std::string> &seen) {
  return std::size_t(std::count_if(seen.begin(), seen.end(), [](const std::string &s) { return s.rfind("Instr", 0) == 0; }));
}

} // namespace

TEST(RecordReplay, AReplayedRecordingSetsEveryMeterToTheSameValuesInOrder) {
  QTemporaryDir dir;
  for (const bool raw : {false, true}) {
    const std::string file = dir.filePath(raw ? "raw.csv" : "plain.csv").toStdString();
    std::vector<std::string> live, replayed;
    TSimOptions o;
    o.Rate = 20000;
    o.Count = 3000;
    o.Garbage = o.BadValues = o.UnknownInstruments = o.Split = true;
    {
      TPseudoTerminal pty;
      ASSERT_EQ(pty.Open(), 0);
      TFormUnderTest form;
      Observe(form, live);
      std::string error;
      ASSERT_TRUE(form.StartRecording(file, raw, &error)) << error;
      form.UsePort(pty.SlavePath(), 115200);
      form.ComPort1->SetConnected(true);
      TSimulator sim(o);
      ASSERT_EQ(sim.Start(pty.MasterFd()), 0);
      ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Taken(live) == o.Count; })) << Taken(live);
      sim.Stop();
    } // the window goes, and its recording is finished
    ASSERT_GT(live.size(), Taken(live)) << "the stream should have held dropped records";
    std::vector<std::string> expected = live;
    if (!raw) std::erase_if(expected, [](const std::string &s) { return s.rfind("dropped", 0) == 0; });
    {
      TFormUnderTest form;
      Observe(form, replayed);
      TReplay replay(form);
      QString status;
      QObject::connect(&replay, &TReplay::StatusChanged, [&](const QString &s) { status = s; });
      std::string error;
      ASSERT_TRUE(replay.Start(file, 0, &error)) << error;
      ASSERT_TRUE(testsupport::RunLoopUntil(
          [&] { return status.startsWith(QStringLiteral("Wiedergabe beendet")) && replayed.size() >= expected.size(); }))
          << replayed.size() << " of " << expected.size();
      EXPECT_EQ(replay.Error(), "");
      EXPECT_EQ(replay.Records(), expected.size());
      EXPECT_TRUE(replay.StatusText().startsWith(QStringLiteral("Wiedergabe beendet 00:00:00 / 00:00:0")))
          << replay.StatusText().toStdString();
      for (int i = 1; i <= 10; ++i)
        EXPECT_FALSE(form.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(i))->isHidden()) << i;
      // The trend charts' history takes the replayed values as it takes a board's.
      std::uint64_t inHistory = 0;
      for (int i = 1; i <= 10; ++i) inHistory += form.TrendHistory1->Count(i);
      EXPECT_EQ(inHistory, static_cast<std::uint64_t>(o.Count));
    }
    EXPECT_EQ(replayed, expected) << (raw ? "raw" : "plain");
  }
}

TEST(RecordReplay, AFileThatIsNoRecordingIsRefused) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("x.csv").toStdString();
  std::ofstream(file) << "a,b,c\r\n";
  TFormUnderTest form;
  TReplay replay(form);
  std::string error;
  EXPECT_FALSE(replay.Start(file, 1, &error));
  EXPECT_EQ(error, file + " is not a Telmora recording: its first line should begin with \"Zeit,Instrument,Wert,Einheit\".");
}

TEST(RecordReplay, TheDateiMenuStartsAndEndsARecordingAndAFullDiskEndsItWithAMessage) {
  std::vector<std::string> shown;
  const TExceptionSink previous = SetExceptionSink([&](const std::string &m) { shown.push_back(m); });
  QTemporaryDir dir;
  {
    TFormUnderTest form;
    auto *meter = form.FindComponent<TAnVMeter>(QStringLiteral("Instr3"));
    EXPECT_FALSE(form.Aufzeichnungbeenden1->isEnabled());
    form.Aufzeichnungstarten1->trigger(); // cancelled
    EXPECT_FALSE(form.Recording());

    form.Answer = "/dev/full";
    form.Aufzeichnungstarten1->trigger();
    EXPECT_TRUE(form.Recording());
    EXPECT_TRUE(form.Aufzeichnungbeenden1->isEnabled());
    EXPECT_TRUE(form.StatusLine1->RecordingLabel()->isVisibleTo(&form));
    EXPECT_EQ(form.StatusLine1->RecordingLabel()->text(), QStringLiteral("Aufzeichnung: full"));
    form.ComDataPacket1Packet(nullptr, "#3M5<");
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !shown.empty(); }));
    EXPECT_EQ(shown, (std::vector<std::string>{"Die Aufzeichnung in /dev/full wurde beendet: der Datenträger ist voll. "
                                               "Die Zeilen bis dahin bleiben erhalten."}));
    EXPECT_FALSE(form.Recording());
    EXPECT_FALSE(form.Aufzeichnungbeenden1->isEnabled());
    EXPECT_FALSE(form.StatusLine1->RecordingLabel()->isVisibleTo(&form));
    form.ComDataPacket1Packet(nullptr, "#3M42<");
    EXPECT_EQ(meter->Value(), 42.0f);

    form.Answer = dir.filePath("run.csv").toStdString();
    form.Raw = true;
    form.Aufzeichnungstarten1->trigger();
    form.ComDataPacket1Packet(nullptr, "#3M7<");
    form.ComDataPacket1Packet(nullptr, "#0M7<");
    form.Aufzeichnungbeenden1->trigger();
    EXPECT_FALSE(form.Recording());
  }
  std::ifstream in(dir.filePath("run.csv").toStdString(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find(",3,7,%,#3M7<,\r\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find(",,,,#0M7<,no instrument 0 (instruments are 1 to 10)\r\n"), std::string::npos);
  EXPECT_EQ(shown.size(), 1u);
  SetExceptionSink(previous);
}
