#pragma once
// Replay: a recording played into the meters the way the demo feeds them, through a
// pseudo-terminal written by a thread of its own, so port, framer, record check and meters work
// exactly as with a live line.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <QObject>
#include <QString>

#include "app/records/RecordingReader.h"
#include "tty/PseudoTerminal.h"

class QTimer;
class TFormMain;
class TSimStop;

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
