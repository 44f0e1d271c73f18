#pragma once
// Replay: a recording played into the meters the way the demo feeds them, through a
// pseudo-terminal written by a thread of its own, so port, framer, record check and meters work
// exactly as with a live line. Each line goes out at its recorded time relative to the first,
// divided by the speed (0: as fast as the line takes them).
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QObject>
#include <QString>

#include "tty/PseudoTerminal.h"

class QTimer;
class TFormMain;
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

  // Opens `file` and checks its header. False with *error (a sentence) otherwise.
  bool Open(const std::string &file, std::string *error);
  // The next record; false at the end or at a line that is no recording line (Error() says which).
  // A last line without its line end (a recording cut off by a crash) counts as the end.
  bool Next(TReplayRecord &record);
  const std::string &Error() const { return FError; }

private:
  bool ReadLine(std::string &line, bool &complete);

  std::FILE *FFile = nullptr;
  std::string FName;
  char FSeparator = ',';
  std::size_t FLineNumber = 0;
  std::string FError;
  std::vector<std::string> FFields;
};

// Times of the first and last records of a recording, for the progress shown. False when the
// file holds no record.
bool RecordingSpan(const std::string &file, std::int64_t &firstMs, std::int64_t &lastMs);

// Writes a recording into `fd` (the master side of a pseudo-terminal, made non-blocking here)
// until the end, a bad line, a failed write or the stop. Progress goes to the atomics as it goes.
struct TReplayProgress {
  std::atomic<std::int64_t> PositionMs{0}; // recorded time of the last record sent, from the first
  std::atomic<std::uint64_t> Records{0};   // records sent
  std::atomic<std::uint32_t> Instruments{0}; // bit n: instrument n was addressed
};
// "" when the recording was played to its end or stopped; else what went wrong.
std::string RunReplay(int fd, TRecordingReader &reader, double speed, const TSimStop &stop, TReplayProgress &progress);

// The replay inside the program: the device, the writer thread and the progress shown in the
// window. The meters a recording addresses are shown as they first appear.
class TReplay : public QObject {
  Q_OBJECT
public:
  explicit TReplay(TFormMain &form);
  ~TReplay() override;

  // Opens the recording, creates the device, connects the port and starts playing. False with
  // *error when the file is no recording or the device cannot be made.
  bool Start(const std::string &file, double speed, std::string *error);
  // Stops the writer (before the device goes).
  void Stop();
  bool Finished() const { return FFinished.load(std::memory_order_acquire); }
  // What went wrong while playing; "" when nothing did.
  std::string Error() const;
  // "Wiedergabe 00:12:05 / 01:00:00", and "Wiedergabe beendet …" at the end.
  QString StatusText() const;
  const std::string &DevicePath() const { return FPty.SlavePath(); }
  std::uint64_t Records() const { return FProgress.Records.load(std::memory_order_relaxed); }

signals:
  // The progress changed (at most twice a second) or the replay ended.
  void StatusChanged(const QString &text);

private:
  void Tick();

  TFormMain &FForm;
  TPseudoTerminal FPty;
  TRecordingReader FReader;
  std::unique_ptr<TSimStop> FStop;
  std::thread FThread;
  TReplayProgress FProgress;
  std::atomic<bool> FFinished{false};
  mutable std::mutex FMutex;
  std::string FError;
  bool FErrorShown = false;
  std::uint32_t FShownInstruments = 0;
  double FSpeed = 1;
  std::int64_t FDurationMs = 0;
  QString FLastStatus;
  QTimer *FTimer = nullptr;
};
