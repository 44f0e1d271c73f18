#include "instruments/TrendHistory.h"

#include <algorithm>
#include <cmath>

namespace {

std::int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

} // namespace

TTrendHistory::TTrendHistory(QObject *parent)
    : QObject(parent), FInstruments(new TInstrument[Instruments]), FClock(SteadyNs) {
  FTimer.setInterval(TickPeriod);
  connect(&FTimer, &QTimer::timeout, this, &TTrendHistory::Tick);
}

TTrendHistory::~TTrendHistory() = default;

void TTrendHistory::SetClock(TClock clock) { FClock = clock ? std::move(clock) : TClock(SteadyNs); }

void TTrendHistory::AddToRing(TRing &ring, std::int64_t slot, float value) {
  if (slot > ring.Head) {
    // The slots passed over since the last value hold nothing; a jump beyond the ring empties it.
    const std::int64_t from = ring.Head == std::numeric_limits<std::int64_t>::min()
                                  ? slot - TrendRingSlots + 1
                                  : std::max(ring.Head + 1, slot - TrendRingSlots + 1);
    for (std::int64_t s = from; s <= slot; ++s) ring.Slots[static_cast<std::size_t>(s & (TrendRingSlots - 1))] = {};
    ring.Head = slot;
  } else if (slot <= ring.Head - TrendRingSlots) {
    return; // older than the ring reaches
  }
  ring.Slots[static_cast<std::size_t>(slot & (TrendRingSlots - 1))].Add(value);
}

void TTrendHistory::AddAt(int instrument, float value, std::int64_t timeNs) {
  if (instrument < 1 || instrument > Instruments || std::isnan(value)) return;
  ++FCounts[static_cast<std::size_t>(instrument)];
  TInstrument &in = FInstruments[static_cast<std::size_t>(instrument - 1)];
  // The divisors are constants: the compiler turns each division into a multiplication.
  AddToRing(in.Rings[ts10s], FloorDiv(timeNs, TrendSlotNs(ts10s)), value);
  AddToRing(in.Rings[ts1min], FloorDiv(timeNs, TrendSlotNs(ts1min)), value);
  AddToRing(in.Rings[ts10min], FloorDiv(timeNs, TrendSlotNs(ts10min)), value);
  AddToRing(in.Rings[ts1h], FloorDiv(timeNs, TrendSlotNs(ts1h)), value);
  if (FWakeArmed) [[unlikely]]
    Wake();
}

void TTrendHistory::Read(int instrument, TTrendSpan span, std::int64_t first, std::size_t count,
                         std::vector<TTrendSlot> &out) const {
  out.assign(count, TTrendSlot{});
  if (instrument < 1 || instrument > Instruments) return;
  const TRing &ring = FInstruments[static_cast<std::size_t>(instrument - 1)].Rings[span];
  if (ring.Head == std::numeric_limits<std::int64_t>::min()) return;
  const std::int64_t lo = std::max(first, ring.Head - TrendRingSlots + 1);
  const std::int64_t hi = std::min(first + static_cast<std::int64_t>(count) - 1, ring.Head);
  for (std::int64_t s = lo; s <= hi; ++s)
    out[static_cast<std::size_t>(s - first)] = ring.Slots[static_cast<std::size_t>(s & (TrendRingSlots - 1))];
}

std::uint64_t TTrendHistory::Count(int instrument) const {
  if (instrument < 1 || instrument > Instruments) return 0;
  return FCounts[static_cast<std::size_t>(instrument)];
}

std::size_t TTrendHistory::MemoryBytes() const { return sizeof(TInstrument) * Instruments + sizeof(*this); }

void TTrendHistory::Subscribe(TTrendClient *client) {
  if (IsSubscribed(client)) return;
  FClients.push_back(client);
  FWakeArmed = false;
  if (!FTimer.isActive()) FTimer.start();
}

void TTrendHistory::Unsubscribe(TTrendClient *client) {
  FClients.erase(std::remove(FClients.begin(), FClients.end(), client), FClients.end());
  if (!FClients.empty()) return;
  FTimer.stop();
  FWakeArmed = false;
}

bool TTrendHistory::IsSubscribed(const TTrendClient *client) const {
  return std::find(FClients.begin(), FClients.end(), client) != FClients.end();
}

void TTrendHistory::Wake() {
  FWakeArmed = false;
  if (!FClients.empty() && !FTimer.isActive()) FTimer.start();
}

void TTrendHistory::Tick() {
  bool busy = false;
  // A client may leave while it is served (it hid itself): serve a copy.
  const std::vector<TTrendClient *> clients = FClients;
  for (TTrendClient *c : clients)
    if (IsSubscribed(c)) busy = c->TrendTick() || busy;
  if (busy || FClients.empty()) return;
  FTimer.stop();
  FWakeArmed = true;
}
