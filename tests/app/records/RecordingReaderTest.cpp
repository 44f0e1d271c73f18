// Reading a recording back from hostile files: what is no regular file is refused at once, an
// endless line or a quote that is never closed ends the reading with a message naming the line,
// and the replay's waits stay defined for any distance in time and any speed.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <QTemporaryDir>

#include "app/records/RecordingReader.h"

namespace {

const std::string Header = "Zeit,Instrument,Wert,Einheit\r\n";
const std::string Line = "2024-05-01T14:03:07.000+02:00,1,25.5,%\r\n";
constexpr std::size_t Max = TRecordingReader::MaxRecordBytes;

TEST(RecordingReader, hostileFilesAreRefusedOrEndWithAMessageNamingTheLine) {
  QTemporaryDir dir;
  const std::string d = dir.path().toStdString();
  ASSERT_EQ(mkfifo((d + "/fifo.csv").c_str(), 0600), 0);
  std::string filler;
  while (filler.size() <= Max) filler += "more text inside the quotes\r\n";
  struct TCase {
    const char *Name;
    std::string File;
    std::string Content; // written unless empty
    const char *OpenError; // "" when it opens
    int Records;
    const char *Error; // after the last record; "" for a clean end
  };
  const TCase cases[] = {
      {"FIFO without writer", d + "/fifo.csv", "", "not a regular file", 0, ""},
      {"device", "/dev/zero", "", "not a regular file", 0, ""},
      {"folder", d, "", "it is a folder", 0, ""},
      {"a header beyond the bound", d + "/h.csv", std::string(Max + 1, 'x'), "Line 1 of", 0, ""},
      {"a line beyond the bound", d + "/l.csv", Header + Line + std::string(Max + 1, '0') + "\r\n" + Line, "", 1,
       "Zeile 3 von"},
      {"a quote never closed within the bound", d + "/q.csv", Header + Line + Line + "2024-05-01T14:03:08.000+02:00,1,\"25\r\n" + filler,
       "", 2, "Zeile 4 von"},
      {"a quote open until a short file's end: cut off", d + "/c.csv", Header + Line + "2024-05-01T14:03:08.000+02:00,1,\"2",
       "", 1, ""},
      {"a quoted field over three lines", d + "/m.csv",
       Header + Line + "2024-05-01T14:03:08.000+02:00,,,,\"#1M1\r\n\r\n<\"\r\n" + Line, "", 3, ""},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    if (!c.Content.empty()) std::ofstream(c.File, std::ios::binary) << c.Content;
    TRecordingReader reader;
    std::string error;
    const bool opened = reader.Open(c.File, &error);
    EXPECT_EQ(opened, !*c.OpenError);
    EXPECT_NE(error.find(c.OpenError), std::string::npos) << error;
    if (!opened) continue;
    TReplayRecord record;
    int records = 0;
    while (reader.Next(record)) ++records;
    EXPECT_EQ(records, c.Records);
    EXPECT_EQ(reader.Error().empty(), !*c.Error) << reader.Error();
    EXPECT_NE(reader.Error().find(c.Error), std::string::npos) << reader.Error();
  }
}

TEST(RecordingReader, aQuotedFieldOverSeveralLinesKeepsItsLineBreaks) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("m.csv").toStdString();
  std::ofstream(file, std::ios::binary) << Header << "2024-05-01T14:03:08.000+02:00,,,,\"#1M1\r\n\r\n<\"\r\n";
  TRecordingReader reader;
  ASSERT_TRUE(reader.Open(file, nullptr));
  TReplayRecord record;
  ASSERT_TRUE(reader.Next(record)) << reader.Error();
  EXPECT_EQ(record.Bytes, "#1M1\r\n\r\n<");
  EXPECT_EQ(record.Instrument, 0);
}

TEST(RecordingReader, replayWaitsAreSaturatedAndTimeGoingBackwardsWaitsNot) {
  using std::chrono::nanoseconds;
  constexpr double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  constexpr std::int64_t year = 365LL * 24 * 3600 * 1000, most = 1000000000000000000LL;
  const struct {
    std::int64_t AtMs;
    double Speed;
    std::int64_t WantNs;
  } cases[] = {
      {1500, 1, 1500000000},      {1500, 2, 750000000},     {1500, 0.5, 3000000000},
      {-5, 1, 0},                 {-400 * year, 1e-300, 0}, {INT64_MIN, 1, 0},
      {0, 1, 0},                  {1500, 0, 0},             {1500, -1, 0},
      {1500, nan, 0},             {1500, inf, 0},           {400 * year, 1, most},
      {1, 1e-300, most},          {INT64_MAX, 1, most},     {INT64_MAX, 1e-300, most},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ReplayDelay(c.AtMs, c.Speed), nanoseconds(c.WantNs)) << c.AtMs << " ms at speed " << c.Speed;
  // The longest wait still leaves the clock's range from any start of the steady clock.
  EXPECT_GT(std::chrono::steady_clock::time_point::max() - std::chrono::steady_clock::now(), nanoseconds(most));
}

} // namespace
