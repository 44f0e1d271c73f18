#pragma once
// When which bytes of the simulated line fall due. No clock and no I/O of its own: the caller
// says what time it is, which lets tests walk through hours of simulated time at once.
//
// Paced mode: record k is due k / Rate seconds after Start — absolute times, so however late or
// irregularly the caller comes, the number of records sent by a time never drifts. Records that
// fell due together go out together. Fast mode: every Take hands out the next block of
// sequence-numbered records at once.
//
// Split: the bytes due are cut at a random point within their last few and that tail is held
// back until the next Take, so records arrive in two writes one tick apart. Concatenating all writes gives
// exactly the unsplit stream.
#include "tools/SimGenerator.h"

#include <chrono>
#include <cstdint>
#include <string>

class TSimStream {
public:
  using TClock = std::chrono::steady_clock;
  using TTime = TClock::time_point;

  // A fast-mode Take hands out about this many bytes.
  static constexpr size_t FastBlockBytes = 32 * 1024;
  // Split: at most this many bytes are held back from one Take to the next.
  static constexpr size_t MaxHeldBytes = 24;
  // Paced mode: one Take hands out at most this many records; the rest follow at once.
  static constexpr uint64_t MaxRecordsPerTake = 4096;

  explicit TSimStream(const TSimOptions &options);

  // Sets the time the first record falls due and starts over.
  void Start(TTime now);
  // Appends to `out` what is due at `now` (possibly nothing).
  void Take(TTime now, std::string &out);
  // When to call Take next: the next record's time (no earlier than MinTick after the last
  // Take), the end of the duration, or — in fast mode — at once. TTime::max() when Done.
  TTime NextDeadline() const;
  // Every record the count or duration allows has been taken, held bytes included.
  bool Done() const { return FFinished && FHeld.empty(); }
  // When the duration runs out; TTime::max() without one.
  TTime End() const { return FEnd; }
  // Ordinary records taken so far.
  uint64_t Records() const { return FNext; }
  const TSimOptions &Options() const { return FOptions; }

  // Paced mode: records due `elapsed` after the start at `rate` records per second (the one at
  // 0 s included), with no count or duration limit.
  static uint64_t DueBy(double rate, std::chrono::nanoseconds elapsed);
  // Paced mode: when record `index` falls due, counted from the start.
  static std::chrono::nanoseconds TimeOf(double rate, uint64_t index);

private:
  uint64_t DueAt(TTime now) const;

  TSimOptions FOptions;
  TSimGenerator FGenerator;
  TSimRandom FSplitRandom;
  TTime FStart{};
  TTime FEnd = TTime::max();
  TTime FLastTake{};
  bool FTaken = false;
  uint64_t FNext = 0;
  bool FFinished = false;
  std::string FHeld;
};
