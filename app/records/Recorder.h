#pragma once
// A recording: every accepted record (and, when raw, every dropped one) as a CSV line, written by a
// thread of its own. The measurement handler only appends to a batch in memory; full batches go
// to the writer through a bounded queue, so a slow, full or vanished disk never holds up the
// ingest. The writer hands its text to the file at every batch and syncs it at least once a
// second, so a crash loses at most about the last second.
//
// Accepted, Dropped, Publish, RequestStop and the read-outs belong to the thread that runs the
// measurement handler (the GUI thread).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FormatSettings.h"

class TRecorder {
public:
  // A batch goes to the writer at this size, or once its first record is this old.
  static constexpr std::size_t BatchRecords = 4096;
  static constexpr std::int64_t BatchAgeMs = 100;
  // Records waiting for the writer; beyond this whole batches are left out and counted.
  static constexpr std::size_t QueueLimit = 1 << 20;
  // The writer's sync and its look whether the file is still there.
  static constexpr std::int64_t SyncIntervalMs = 1000;

  TRecorder() = default;
  // Finishes the file (waits for the writer).
  ~TRecorder();
  TRecorder(const TRecorder &) = delete;
  TRecorder &operator=(const TRecorder &) = delete;

  // Creates (or empties) `file`, writes the header and starts the writer. False with *error (a
  // sentence naming the file and the reason, in `wording`) when the file cannot be made.
  bool Start(const std::string &file, bool raw, const TFormatSettings &fs, std::string *error,
             TWording wording = TWording::English);

  // An accepted record for `instrument`, with the meter's unit.
  void Accepted(int instrument, float value, const std::string &unit) {
    if (FStopping) return;
    const std::int64_t now = NowMs();
    if (unit != FUnits[instrument]) NoteUnit(instrument, unit, now);
    FBatch.push_back({now, value, instrument, 0});
    if (FBatch.size() >= BatchRecords || now - FBatch.front().TimeMs >= BatchAgeMs) Publish();
  }
  // An accepted record with the text it arrived as (raw recordings), or a dropped one.
  void AcceptedRaw(int instrument, float value, const std::string &unit, const std::string &record);
  void Dropped(const std::string &record);
  bool Raw() const { return FRaw; }

  // Hands the batch to the writer now (called twice a second when records come slowly).
  void Publish();
  // Ends the recording without waiting: what is queued is still written and the file synced and
  // closed. Finished() tells when that is done.
  void RequestStop();
  bool Finished() const { return FFinished.load(std::memory_order_acquire); }
  // The writer gave up (full disk, removed folder or stick); the recording has stopped.
  bool Failed() const { return FFailed.load(std::memory_order_acquire); }
  // Why it failed, one sentence naming the file, in German (the window shows it); "" while it did not.
  std::string Error() const;
  const std::string &File() const { return FFile; }
  // Records that reached the writer's queue, and those left out because it was full.
  std::uint64_t Queued() const { return FQueued; }
  std::uint64_t Lost() const { return FLost.load(std::memory_order_relaxed); }
  // Lines in the file (the header not counted); read by the owner, written by the writer.
  std::uint64_t Written() const { return FWritten.load(std::memory_order_acquire); }

  static std::int64_t NowMs();

private:
  enum : std::uint8_t { kAccepted, kDropped, kUnit, kAcceptedRaw };
  struct TItem {
    std::int64_t TimeMs = 0;
    float Value = 0;
    int Instrument = 0;
    std::uint32_t Text = 0; // kind in the low byte, index into the batch's texts above it
  };
  struct TBatch {
    std::vector<TItem> Items;
    std::vector<std::string> Texts;
  };
  void NoteUnit(int instrument, const std::string &unit, std::int64_t now);
  void PushText(std::uint8_t kind, int instrument, float value, std::string text);
  void Run();
  // Writes out `text` whole; errno on failure (the file is then cut back to its last whole line).
  int WriteOut(std::string &text);
  int CheckStillThere() const;
  void Fail(const std::string &what, int error);
  void FailWrite(int error);

  std::string FFile;
  bool FRaw = false;
  TFormatSettings FFormat;
  int FFd = -1;
  std::uint64_t FFileDevice = 0, FFileInode = 0;
  std::uint64_t FFileSize = 0; // bytes of whole lines in the file

  // Producer side.
  std::vector<TItem> FBatch;
  std::vector<std::string> FBatchTexts;
  std::string FUnits[11];
  std::uint64_t FQueued = 0;
  bool FStopping = false;

  // Shared with the writer.
  mutable std::mutex FMutex;
  std::condition_variable FWake;
  std::vector<TBatch> FQueue;
  std::size_t FQueueRecords = 0;
  bool FStop = false;
  std::string FError;
  std::atomic<std::uint64_t> FLost{0};
  std::atomic<std::uint64_t> FWritten{0};
  std::atomic<bool> FFailed{false};
  std::atomic<bool> FFinished{false};
  std::thread FThread;
};
