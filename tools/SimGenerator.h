#pragma once
// The measurement records a microcontroller would send, made up for the simulator and the demo.
//
// Record format: "#" number "M" value "<". Ordinary records go to the instruments 1 … 10 in turn
// (record k to instrument 1 + k % 10); the value is what that instrument's waveform shows at the
// record's time, with at most two decimals and no trailing zeros ("25.5", "7.25", "80").
//
//   1 sine 5…95 (8 s)          2 triangle 5…95 (10 s)       3 saw 0…100 (6 s)
//   4 square 20/80 (4 s)       5 random walk 0…100          6 slow ramp 0…100 (60 s)
//   7 noise 66…74              8 two tones 5…95             9 staircase 0, 25 … 100 (2 s a step)
//  10 slow sine 20…80 (7 s) that jumps to 130 for the last 3 s of every 15 s, so that meter's
//     pointer leaves its range and blinks.
//
// Fast mode (benchmarks): record number `seq` (0, 1, 2 …) is
//   "#" (1 + seq % 10) "M" (seq % 10000000) "<"        e.g. seq 1234567 → "#8M1234567<"
// The value is a plain decimal integer below 10^7, so it survives the program's 32-bit float
// exactly, and the instrument equals 1 + value % 10. Each meter therefore sees its values rise
// by 10 from record to record; TSimFastChecker checks an arriving stream for loss and order.
//
// Noise, when asked for, comes before a record, each kind with its own chance:
//  - garbage: 1 … 16 bytes of line noise (letters, digits, blanks, CR, LF, NUL, 0x7F, 0xFF …)
//    that never contain '#' or '<', so every record around them stays whole;
//  - bad values: a record for 1 … 10 that is broken ("#3MX<", "#3M1.2.3<", "#3M7M9<", "#3M<",
//    "#3m7<", "#3M--5<");
//  - unknown instruments: a well-formed record for a number outside 1 … 10 ("#11M5<", "#0M42<",
//    "#-1M7.5<", "#29M80<" …).
// Noise records are extra: the count of records always counts the ordinary ones.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

struct TSimOptions {
  double Rate = 100.0;    // records per second in paced mode; anything not above 0 counts as 1
  uint64_t Count = 0;     // ordinary records to send; 0 = no limit
  double Duration = 0.0;  // seconds to send for; 0 = no limit
  char DecimalSeparator = '.';
  bool Garbage = false;            // line noise between records
  bool BadValues = false;          // broken records for the instruments 1 … 10
  bool UnknownInstruments = false; // records for numbers outside 1 … 10
  double NoiseChance = 0.125;      // chance of each enabled noise kind before a record
  bool Split = false;  // the byte stream is cut at random points, so records straddle writes
  bool Fast = false;   // sequence-numbered records as fast as the line takes them (no noise)
  uint64_t Seed = 1;   // the same seed and options give the same bytes
  // Paced mode: the shortest time between two writes; records due in between go out together.
  std::chrono::nanoseconds MinTick = std::chrono::milliseconds(1);
};

// A small, fully specified random source (splitmix64), so a seed means the same bytes on every
// platform and library version.
class TSimRandom {
public:
  explicit TSimRandom(uint64_t seed) : FState(seed) {}
  uint64_t Next();
  // Uniform in 0 … n − 1; 0 when n is 0.
  uint64_t Below(uint64_t n);
  // Uniform in [0, 1).
  double Unit();
  bool Chance(double p) { return Unit() < p; }

private:
  uint64_t FState = 0;
};

inline constexpr int SimInstrumentCount = 10;
inline constexpr int SimOverflowInstrument = 10;
inline constexpr uint64_t SimFastModulus = 10'000'000;

class TSimGenerator {
public:
  explicit TSimGenerator(const TSimOptions &options);

  // The instrument that record `index` addresses.
  static int InstrumentOf(uint64_t index) { return 1 + int(index % SimInstrumentCount); }
  // What `instrument` (1 … 10) shows `seconds` after the start. Instruments 5 and 7 draw random
  // numbers: each call moves the walk on and draws new noise.
  double Value(int instrument, double seconds);
  // Appends ordinary record `index`, due `seconds` after the start, preceded by the noise the
  // options ask for; in fast mode the sequence-numbered record instead.
  void AppendRecord(std::string &out, uint64_t index, double seconds);

  // Appends the fast-mode record for `seq`.
  static void AppendFastRecord(std::string &out, uint64_t seq);
  // Appends `value` with at most two decimals and no trailing zeros, `separator` before them.
  static void AppendValue(std::string &out, double value, char separator);

private:
  void AppendGarbage(std::string &out);
  void AppendBadRecord(std::string &out);
  void AppendUnknownRecord(std::string &out);

  TSimOptions FOptions;
  TSimRandom FValueRandom;
  TSimRandom FNoiseRandom;
  double FWalk = 50.0;
};

// Checks fast-mode records in the order they arrive. A missing stretch counts as lost and the
// check goes on after it; a record from before the expected one (repeated or reordered) counts as
// out of order; anything that is not a fast-mode record counts as malformed.
class TSimFastChecker {
public:
  enum class TVerdict { InOrder, AfterGap, OutOfOrder, Malformed };

  // A whole record "#…<" as the framer delivers it.
  TVerdict Check(std::string_view record);
  // The same check for a value that reached a meter.
  TVerdict Check(int instrument, double value);

  uint64_t Received() const { return FReceived; }
  uint64_t Lost() const { return FLost; }
  uint64_t OutOfOrder() const { return FOutOfOrder; }
  uint64_t Malformed() const { return FMalformed; }
  // The sequence number expected next (records in order so far plus the lost ones).
  uint64_t Expected() const { return FExpected; }
  bool Clean() const { return FLost == 0 && FOutOfOrder == 0 && FMalformed == 0; }

private:
  TVerdict CheckValue(int instrument, uint64_t value);

  uint64_t FExpected = 0;
  uint64_t FReceived = 0;
  uint64_t FLost = 0;
  uint64_t FOutOfOrder = 0;
  uint64_t FMalformed = 0;
};
