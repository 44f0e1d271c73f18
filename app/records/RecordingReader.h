#pragma once
// Reading a recording back and playing it onto a line: each line goes out at its recorded time
// relative to the first, divided by the speed (0: as fast as the line takes them). What plays it
// into the window is the replay in app/startup/.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/records/RecordCsv.h"

class TSimStop;

// One line of a recording as the line sends it.
struct TReplayRecord {
  std::int64_t TimeMs = 0;
  int Instrument = 0; // 1 … 10 for an accepted record, 0 for a dropped one
  std::string Bytes;  // "#3M25.5<", or a dropped record's own bytes
};

// Reads a recording line by line. Besides Telmora's own files it takes what a spreadsheet saves
// back: ";" between fields, "," in values, a byte order mark, quoted fields over several lines.
class TRecordingReader {
public:
  TRecordingReader() = default;
  ~TRecordingReader();
  TRecordingReader(const TRecordingReader &) = delete;
  TRecordingReader &operator=(const TRecordingReader &) = delete;

  // A line, or a record whose quoted field runs over several lines, longer than this is no
  // recording of ours (a copy of /dev/zero, a quote never closed): reading ends there, saying so.
  static constexpr std::size_t MaxRecordBytes = 1 << 20;

  // Opens `file` (a regular file only: a FIFO or a device would block or never end) and checks
  // its header. False with *error (an English sentence: the command line reports it) otherwise.
  bool Open(const std::string &file, std::string *error);
  // The next record; false at the end or at a line that is no recording line (Error() says which,
  // in German: the window shows it).
  // A last line without its line end (a recording cut off by a crash) counts as the end.
  bool Next(TReplayRecord &record);
  const std::string &Error() const { return FError; }

private:
  // The next line without its end into `line`; `complete` when it had its LF. False at the end
  // of the file, or (with FTooLong set) when the line would be longer than `room` bytes.
  bool ReadLine(std::string &line, bool &complete, std::size_t room);

  std::FILE *FFile = nullptr;
  std::string FName;
  char FSeparator = ',';
  std::size_t FLineNumber = 0;
  std::string FError;
  bool FTooLong = false;
  TCsvSplitter FSplitter;
};

// Times of the first and last records of a recording, for the progress shown. False when the
// file holds no record.
bool RecordingSpan(const std::string &file, std::int64_t &firstMs, std::int64_t &lastMs);

// How long after the first record one recorded `atMs` later is due at `speed` (> 0), saturated
// so that no distance in time and no speed overflows the clock; a record from before the first
// (time going backwards) is due at once, as is everything at a speed that is not above 0.
std::chrono::nanoseconds ReplayDelay(std::int64_t atMs, double speed);

// Writes a recording into `fd` (the master side of a pseudo-terminal, made non-blocking here)
// until the end, a bad line, a failed write or the stop. Progress goes to the atomics as it goes.
struct TReplayProgress {
  std::atomic<std::int64_t> PositionMs{0}; // recorded time of the last record sent, from the first
  std::atomic<std::uint64_t> Records{0};   // records sent
  std::atomic<std::uint32_t> Instruments{0}; // bit n: instrument n was addressed
};
// "" when the recording was played to its end or stopped; else what went wrong, in German.
std::string RunReplay(int fd, TRecordingReader &reader, double speed, const TSimStop &stop, TReplayProgress &progress);
