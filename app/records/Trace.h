#pragma once
// --trace's writer: one line per record received, with the meter value it set or why it was
// dropped. Lines collect in a buffer that goes out in one write when the stream pauses, at least
// every 100 ms and whenever it grows large: a system call per record would cost more at tens of
// thousands of records a second than everything else the program does with them.
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/FormatSettings.h"
#include "serial/ComDataPacket.h"

class TAnVMeter;

class TTraceWriter {
public:
  // Writes to `Fd` (standard output in the program). GUI thread, with an application object.
  explicit TTraceWriter(int Fd);
  // Writes what is left.
  ~TTraceWriter();
  TTraceWriter(const TTraceWriter &) = delete;
  TTraceWriter &operator=(const TTraceWriter &) = delete;

  // The line of one record: the meter it set (null when it was dropped, for `Reason`, or when
  // that is empty, for the serial record's reason).
  void Measurement(const std::string &Record, const TAnVMeter *Meter, const std::string &Reason = {});
  // Appends `Text` and a line end.
  void Line(const std::string &Text);
  // Writes the buffer now. A reader that went away (EPIPE) ends the tracing for good; the
  // program goes on without it.
  void Flush();

  // The reader went away: nothing is collected or written any more.
  bool Stopped() const { return FStopped; }
  // Writes made so far (system calls).
  std::uint64_t Writes() const { return FWrites; }

  // How long the stream must be silent to count as paused, and how long a line may wait at most.
  static constexpr std::chrono::milliseconds PauseSpan{20};
  static constexpr std::chrono::milliseconds MaxDelay{100};
  // A buffer this large goes out at once.
  static constexpr std::size_t FlushSize = 64 * 1024;

private:
  void Check();

  int FFd = -1;
  std::string FBuffer;
  QTimer FTimer;
  bool FStopped = false;
  // Lines came in since the timer last looked: the stream has not paused.
  bool FFreshLines = false;
  std::chrono::steady_clock::time_point FOldest;
  std::uint64_t FWrites = 0;
};

// The line for one record without its line end: "record -> InstrN = value" or
// "record -> dropped: reason" (`Reason`, or the serial record's when empty).
std::string TraceLine(const std::string &Record, const TAnVMeter *Meter, const std::string &Reason = {});

// The line for text the framer discarded: "1500 bytes discarded: record longer than the
// 1024-byte buffer" (--trace), or in German for the status line's tool tip.
std::string DiscardLine(TDiscardReason Reason, std::uint64_t Bytes, std::int32_t BufferLimit,
                        TWording Wording = TWording::English);

// Has `trace` print a line for every discard of `framer` (replacing its OnDiscard); `trace` must
// outlive the framer.
void TraceDiscards(TTraceWriter &trace, TComDataPacket &framer);
