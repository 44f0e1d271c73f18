#include "tools/SimStream.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace std::chrono_literals;

namespace {

constexpr long double NsPerSecond = 1e9L;
// Far enough for any run and still far from the clock's own limits.
constexpr long double LongestNs = 1e18L;

double SaneRate(double rate) { return std::isfinite(rate) && rate > 0 ? rate : 1.0; }

} // namespace

TSimStream::TSimStream(const TSimOptions &options)
    : FOptions(options), FGenerator(options), FSplitRandom(options.Seed ^ 0x73706C6974ull) {
  FOptions.Rate = SaneRate(FOptions.Rate);
  if (!std::isfinite(FOptions.Duration) || FOptions.Duration < 0) FOptions.Duration = 0;
  FOptions.MinTick = std::clamp<std::chrono::nanoseconds>(FOptions.MinTick, 0ns, 1h);
}

uint64_t TSimStream::DueBy(double rate, std::chrono::nanoseconds elapsed) {
  if (elapsed < 0ns) return 0;
  const long double records = std::floor((long double)elapsed.count() * SaneRate(rate) / NsPerSecond);
  if (records >= (long double)std::numeric_limits<uint64_t>::max() / 2) return std::numeric_limits<uint64_t>::max() / 2;
  return uint64_t(records) + 1;
}

std::chrono::nanoseconds TSimStream::TimeOf(double rate, uint64_t index) {
  const long double ns = std::ceil((long double)index * NsPerSecond / SaneRate(rate));
  return std::chrono::nanoseconds(int64_t(std::min(ns, LongestNs)));
}

void TSimStream::Start(TTime now) {
  FGenerator = TSimGenerator(FOptions);
  FSplitRandom = TSimRandom(FOptions.Seed ^ 0x73706C6974ull);
  FStart = now;
  FLastTake = now;
  FTaken = false;
  FNext = 0;
  FFinished = false;
  FHeld.clear();
  FEnd = TTime::max();
  if (FOptions.Duration > 0) {
    const long double ns = std::min((long double)FOptions.Duration * NsPerSecond, LongestNs);
    FEnd = now + std::chrono::nanoseconds(int64_t(ns));
  }
}

uint64_t TSimStream::DueAt(TTime now) const {
  if (now < FStart) return 0;
  uint64_t due = DueBy(FOptions.Rate, now - FStart);
  // The floating-point division above may land one off the rounded due times; the due times are
  // what the deadlines use, so they decide.
  while (FStart + TimeOf(FOptions.Rate, due) <= now) ++due;
  while (due > 0 && FStart + TimeOf(FOptions.Rate, due - 1) > now) --due;
  return FOptions.Count > 0 ? std::min(due, FOptions.Count) : due;
}

void TSimStream::Take(TTime now, std::string &out) {
  if (Done()) return;
  FLastTake = now;
  FTaken = true;
  std::string &dst = FOptions.Split ? FHeld : out;
  const size_t before = dst.size();
  const bool ended = now >= FEnd;
  const bool counted = FOptions.Count > 0;
  if (FOptions.Fast) {
    const size_t goal = dst.size() + FastBlockBytes;
    while (!ended && dst.size() < goal && !(counted && FNext >= FOptions.Count))
      TSimGenerator::AppendFastRecord(dst, FNext++);
    if (ended || (counted && FNext >= FOptions.Count)) FFinished = true;
  } else {
    // Past the end only the records due before it are sent. A caller far behind catches up a
    // block at a time, so a stalled reader does not pile the backlog up in memory.
    const uint64_t due = DueAt(ended ? FEnd - 1ns : now);
    const uint64_t upto = std::min(due, FNext + MaxRecordsPerTake);
    for (; FNext < upto; ++FNext) {
      const double seconds = double(TimeOf(FOptions.Rate, FNext).count()) / 1e9;
      FGenerator.AppendRecord(dst, FNext, seconds);
    }
    if ((ended && FNext >= due) || (counted && FNext >= FOptions.Count)) FFinished = true;
  }
  if (FOptions.Split) {
    // Only new bytes are held back, so what was held last time goes out now.
    const size_t fresh = FHeld.size() - before;
    const size_t keep = FFinished ? 0 : size_t(FSplitRandom.Below(std::min(fresh, MaxHeldBytes) + 1));
    out.append(FHeld, 0, FHeld.size() - keep);
    FHeld.erase(0, FHeld.size() - keep);
  }
}

TSimStream::TTime TSimStream::NextDeadline() const {
  if (Done()) return TTime::max();
  if (FOptions.Fast || FFinished) return FLastTake;
  if (DueAt(FLastTake) > FNext) return FLastTake; // still catching up
  TTime next = std::min(FStart + TimeOf(FOptions.Rate, FNext), FEnd);
  if (FTaken) next = std::max(next, FLastTake + FOptions.MinTick);
  return next;
}
