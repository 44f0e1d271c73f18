#pragma once
// The recent past of every instrument, for the trend charts: per instrument and chart span a ring
// of time slots, each holding the minimum, maximum and last value that fell into it. A chart at
// most TrendSlotsPerSpan pixels wide thus finds at least one slot per pixel column, whatever its
// span, and the memory is fixed from the start (about 2 MB for ten instruments), however fast the
// records come. A record costs the same four slot updates whether no chart or four show it.
//
// The history also paces the charts: while one is shown and running it ticks them ten times a
// second; when none has anything left to move, the timer stops until the next record.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include <QObject>
#include <QTimer>

enum TTrendSpan : std::uint8_t { ts10s, ts1min, ts10min, ts1h };
inline constexpr int TrendSpanCount = 4;
inline constexpr std::int64_t TrendSpanNs[TrendSpanCount] = {10'000'000'000LL, 60'000'000'000LL,
                                                             600'000'000'000LL, 3'600'000'000'000LL};
// The widest plot a chart may have, in pixel columns; a span holds this many slots.
inline constexpr int TrendSlotsPerSpan = 4000;
// Slots kept per ring: the span and a margin for the column that is still filling.
inline constexpr int TrendRingSlots = 4096;
constexpr std::int64_t TrendSlotNs(TTrendSpan s) { return TrendSpanNs[s] / TrendSlotsPerSpan; }

struct TTrendSlot {
  float Min = std::numeric_limits<float>::infinity();
  float Max = -std::numeric_limits<float>::infinity();
  float Last = 0.0f;
  bool Empty() const { return !(Min <= Max); }
  void Add(float v) {
    if (v < Min) Min = v;
    if (v > Max) Max = v;
    Last = v;
  }
  // Takes in a later slot: its last value becomes this one's.
  void Merge(const TTrendSlot &later) {
    if (later.Empty()) return;
    if (later.Min < Min) Min = later.Min;
    if (later.Max > Max) Max = later.Max;
    Last = later.Last;
  }
};

// A chart's turn: returns whether it still has something that moves (data in its window), so
// that the ticks go on without new records.
class TTrendClient {
public:
  virtual bool TrendTick() = 0;

protected:
  ~TTrendClient() = default;
};

class TTrendHistory : public QObject {
public:
  static constexpr int Instruments = 10;
  static constexpr std::chrono::milliseconds TickPeriod{100};
  // Steady time in nanoseconds (the monotonic clock by default): a clock step never reorders
  // the slots. Replaceable for tests.
  using TClock = std::function<std::int64_t()>;

  explicit TTrendHistory(QObject *parent = nullptr);
  ~TTrendHistory() override;

  // A value instrument 1 … 10 took, at the clock's time or at `timeNs`. NaN is no value and is
  // left out; other numbers of instruments are ignored.
  void Add(int instrument, float value) { AddAt(instrument, value, FClock()); }
  void AddAt(int instrument, float value, std::int64_t timeNs);

  // Copies `count` slots of `span` from slot number `first` on (slot n covers n × TrendSlotNs …);
  // slots the ring no longer (or not yet) holds come out empty.
  void Read(int instrument, TTrendSpan span, std::int64_t first, std::size_t count, std::vector<TTrendSlot> &out) const;
  // Values instrument n has received so far (0 for other numbers).
  std::uint64_t Count(int instrument) const;
  // Bytes the rings take; fixed from construction.
  std::size_t MemoryBytes() const;

  std::int64_t Now() const { return FClock(); }
  void SetClock(TClock clock);

  // Charts that want ticks: a shown, running chart subscribes, a hidden or paused one leaves.
  void Subscribe(TTrendClient *client);
  void Unsubscribe(TTrendClient *client);
  bool IsSubscribed(const TTrendClient *client) const;
  bool Ticking() const { return FTimer.isActive(); }
  // One tick to every subscribed chart (the timer's job; tests call it directly).
  void Tick();

private:
  struct TRing {
    std::int64_t Head = std::numeric_limits<std::int64_t>::min();
    std::array<TTrendSlot, TrendRingSlots> Slots;
  };
  struct TInstrument {
    std::array<TRing, TrendSpanCount> Rings;
  };
  static void AddToRing(TRing &ring, std::int64_t slot, float value);
  void Wake();

  std::unique_ptr<TInstrument[]> FInstruments;
  std::array<std::uint64_t, Instruments + 1> FCounts{};
  TClock FClock;
  QTimer FTimer;
  std::vector<TTrendClient *> FClients;
  // Set when the ticks stopped for want of anything to move: the next record starts them.
  bool FWakeArmed = false;
};

// Floor division for the time arithmetic (times before the clock's zero stay in order).
constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
