// The recording's writer: whole CSV lines with the unit in force, dropped records with their
// reason, text in the file while the recording runs, and a full disk or a removed folder that end
// the recording with a message while records keep being taken.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <QTemporaryDir>

#include "app/records/Recorder.h"
#include "support/TestSupport.h"

namespace {

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lines without their times (which the clock decides).
std::vector<std::string> LinesAfterTime(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back("unfinished: " + text.substr(at));
      break;
    }
    const std::string line = text.substr(at, end - at);
    lines.push_back(at == 0 ? line : line.substr(line.find(',')));
    at = end + 2;
  }
  return lines;
}

bool WaitFor(const std::function<bool()> &done) {
  return testsupport::RunLoopUntil(done, testsupport::Deadline, std::chrono::milliseconds(20));
}

} // namespace

TEST(Recorder, WritesWholeLinesWithTheUnitInForceAndDroppedRecordsWhenRaw) {
  QTemporaryDir dir;
  for (const bool raw : {false, true}) {
    const std::string file = dir.filePath(raw ? "raw.csv" : "plain.csv").toStdString();
    TRecorder r;
    ASSERT_TRUE(r.Start(file, raw, TFormatSettings{}, nullptr));
    r.AcceptedRaw(3, 25.5f, "°C", "#3M25,5<");
    r.Dropped("#11M5<");
    r.Accepted(10, -0.001f, "V, DC");
    r.Accepted(3, 7.0f, "K");
    r.Dropped("#3M\x01X<");
    // Text reaches the file while the recording runs, not only when it ends.
    r.Publish();
    ASSERT_TRUE(WaitFor([&] { return r.Written() == (raw ? 5u : 3u); }));
    EXPECT_NE(ReadFile(file).find("-0.001"), std::string::npos);
    r.RequestStop();
    ASSERT_TRUE(WaitFor([&] { return r.Finished(); }));
    EXPECT_FALSE(r.Failed());
    const std::vector<std::string> expected =
        raw ? std::vector<std::string>{"Zeit,Instrument,Wert,Einheit,Datensatz,Grund",
                                       ",3,25.5,°C,\"#3M25,5<\",",
                                       ",,,,#11M5<,no instrument 11 (instruments are 1 to 10)",
                                       ",10,-0.001,\"V, DC\",,",
                                       ",3,7,K,,",
                                       ",,,,#3M␁X<,'␁X' is not a value"}
            : std::vector<std::string>{"Zeit,Instrument,Wert,Einheit", ",3,25.5,°C", ",10,-0.001,\"V, DC\"", ",3,7,K"};
    EXPECT_EQ(LinesAfterTime(ReadFile(file)), expected);
  }
}

TEST(Recorder, AFileThatCannotBeMadeIsRefusedAtOnce) {
  TRecorder r;
  std::string error;
  EXPECT_FALSE(r.Start("/nonexistent-folder/x.csv", false, TFormatSettings{}, &error));
  EXPECT_EQ(error, "Cannot record into /nonexistent-folder/x.csv: No such file or directory.");
  EXPECT_FALSE(r.Start("/nonexistent-folder/x.csv", false, TFormatSettings{}, &error, TWording::German));
  EXPECT_EQ(error, "In /nonexistent-folder/x.csv lässt sich nicht aufzeichnen: No such file or directory.");
}

// The disk failing (a full disk, a folder or stick gone) ends the recording; the producer side keeps
// taking records at once and queues nothing more.
TEST(Recorder, AFailingDiskEndsTheRecordingButNeverTheIngest) {
  QTemporaryDir dir;
  const std::string folder = dir.filePath("stick").toStdString();
  std::filesystem::create_directory(folder);
  struct Case {
    const char *Name;
    std::string File;
    std::function<void()> Break;
    const char *Why;
  } cases[] = {
      {"full disk", "/dev/full", [] {}, "der Datenträger ist voll"},
      {"removed folder", folder + "/run.csv", [&] { std::filesystem::remove_all(folder); },
       "die Datei oder ihr Ordner wurde entfernt"},
  };
  for (const auto &c : cases) {
    TRecorder r;
    ASSERT_TRUE(r.Start(c.File, false, TFormatSettings{}, nullptr)) << c.Name;
    r.Accepted(1, 1.0f, "V");
    r.Publish();
    c.Break();
    std::uint64_t fed = 0;
    ASSERT_TRUE(WaitFor([&] {
      for (int i = 0; i < 1000; ++i) r.Accepted(1 + i % 10, float(i), "V");
      fed += 1000;
      r.Publish();
      return r.Failed();
    })) << c.Name;
    EXPECT_EQ(r.Error(), "Die Aufzeichnung in " + c.File + " wurde beendet: " + c.Why + ". Die Zeilen bis dahin bleiben erhalten.");
    const std::uint64_t queued = r.Queued();
    for (int i = 0; i < 100000; ++i) r.Accepted(2, 1.0f, "V");
    r.Publish();
    EXPECT_EQ(r.Queued(), queued) << c.Name;
    EXPECT_TRUE(WaitFor([&] { return r.Finished(); })) << c.Name;
  }
}
