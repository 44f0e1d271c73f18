#include <gtest/gtest.h>

#include "tools/SimRecords.h"
#include "tools/SimStream.h"

using namespace std::chrono_literals;
using TTime = TSimStream::TTime;
using simtest::TKind;

namespace {

// Any fixed point serves: the stream only ever looks at differences.
const TTime T0 = TTime() + 1000s;

size_t GoodRecords(const std::string &bytes, char separator = '.') {
  return simtest::Only(simtest::Parse(bytes, separator), TKind::Good).size();
}

// Drives the stream the way the runner does, but on simulated time: each Take happens at the
// stream's own deadline plus a lateness the test chooses. Returns the writes in order.
std::vector<std::string> Walk(TSimStream &stream, TTime until, std::chrono::nanoseconds late = 0ns) {
  std::vector<std::string> writes;
  stream.Start(T0);
  TTime now = T0;
  while (!stream.Done() && now < until) {
    std::string out;
    stream.Take(now, out);
    if (!out.empty()) writes.push_back(out);
    if (stream.Done()) break;
    now = std::max(now, stream.NextDeadline()) + late;
  }
  return writes;
}

std::string Joined(const std::vector<std::string> &writes) {
  std::string all;
  for (const auto &w : writes) all += w;
  return all;
}

} // namespace

TEST(SimStream, RecordsDueByAnElapsedTime) {
  struct Case {
    double rate;
    std::chrono::nanoseconds elapsed;
    uint64_t due;
  };
  const std::vector<Case> cases = {
      {100, -1ns, 0},      {100, 0ns, 1},          {100, 9'999'999ns, 1},  {100, 10ms, 2},
      {100, 1s, 101},      {0.5, 1999ms, 1},       {0.5, 2s, 2},           {3, 1s, 4},
      {3, 999'999'999ns, 3}, {37500, 10s, 375001}, {1e6, 3600s, 3'600'000'001},
      {0, 1s, 2}, // a rate that is no rate counts as one a second
  };
  for (const auto &c : cases) {
    EXPECT_EQ(TSimStream::DueBy(c.rate, c.elapsed), c.due) << c.rate << " " << c.elapsed.count();
    if (c.due > 0) {
      // The last record due was due at or before the time, the next one after it.
      EXPECT_LE(TSimStream::TimeOf(c.rate, c.due - 1), c.elapsed);
      EXPECT_GT(TSimStream::TimeOf(c.rate, c.due), c.elapsed);
    }
  }
}

TEST(SimStream, RecordsSentByATimeDoNotDependOnWhenTheCallerComes) {
  // However the caller's wake-ups fall, by every Take the records sent are exactly those due.
  struct Case {
    const char *name;
    double rate;
    std::vector<std::chrono::nanoseconds> steps; // repeated until 10 s have passed
  };
  const std::vector<Case> cases = {
      {"every millisecond", 250, {1ms}},
      {"irregular", 250, {3ms, 17ms, 1ms, 250ms, 7'300us, 2ns}},
      {"rarely", 250, {1700ms}},
      {"faster than the steps", 37500, {1ms, 5ms, 10ms}},
      {"slower than the steps", 0.7, {1ms, 400ms}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TSimOptions o;
    o.Rate = c.rate;
    TSimStream stream(o);
    stream.Start(T0);
    std::string all;
    TTime now = T0;
    for (size_t k = 0; now < T0 + 10s; ++k) {
      now = std::min(now + c.steps[k % c.steps.size()], T0 + 10s);
      // A backlog is caught up in blocks; a late caller comes back at once for the rest.
      do stream.Take(now, all);
      while (stream.NextDeadline() <= now);
      ASSERT_EQ(stream.Records(), TSimStream::DueBy(c.rate, now - T0));
    }
    EXPECT_EQ(GoodRecords(all), TSimStream::DueBy(c.rate, 10s));
  }
}

TEST(SimStream, CountAndDurationEndTheStream) {
  struct Case {
    const char *name;
    double rate;
    uint64_t count;
    double duration;
    bool fast;
    uint64_t records;
  };
  const std::vector<Case> cases = {
      {"count", 1000, 50, 0, false, 50},
      {"duration", 100, 0, 2.5, false, 250},
      {"count before duration", 100, 30, 2.5, false, 30},
      {"duration before count", 100, 1000, 0.5, false, 50},
      {"fast count", 1, 12345, 0, true, 12345},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TSimOptions o;
    o.Rate = c.rate;
    o.Count = c.count;
    o.Duration = c.duration;
    o.Fast = c.fast;
    TSimStream stream(o);
    const auto writes = Walk(stream, T0 + 100s);
    EXPECT_TRUE(stream.Done());
    EXPECT_EQ(stream.Records(), c.records);
    EXPECT_EQ(GoodRecords(Joined(writes)), c.records);
    EXPECT_EQ(stream.NextDeadline(), TTime::max());
    std::string more;
    stream.Take(T0 + 1000s, more);
    EXPECT_EQ(more, "");
  }
}

TEST(SimStream, FastModeEndsAtTheDurationWhateverItHasSent) {
  TSimOptions o;
  o.Fast = true;
  o.Duration = 1;
  TSimStream stream(o);
  stream.Start(T0);
  std::string out;
  for (int k = 0; k < 3; ++k) {
    stream.Take(T0 + 10ms * k, out);
    EXPECT_EQ(stream.NextDeadline(), T0 + 10ms * k); // at once
  }
  EXPECT_FALSE(stream.Done());
  stream.Take(T0 + 1s, out);
  EXPECT_TRUE(stream.Done());
  EXPECT_EQ(GoodRecords(out), stream.Records());
  EXPECT_GE(out.size(), 3 * TSimStream::FastBlockBytes);
}

TEST(SimStream, EachRecordGoesOutAtItsDueTimeWhenTheRateIsLow) {
  TSimOptions o;
  o.Rate = 100;
  o.Count = 300;
  TSimStream stream(o);
  stream.Start(T0);
  TTime now = T0;
  for (uint64_t k = 0; k < o.Count; ++k) {
    ASSERT_EQ(stream.NextDeadline(), T0 + TSimStream::TimeOf(o.Rate, k));
    now = stream.NextDeadline();
    std::string out;
    stream.Take(now, out);
    ASSERT_EQ(GoodRecords(out), 1u) << k;
  }
  EXPECT_TRUE(stream.Done());
}

TEST(SimStream, HighRatesAreBatchedIntoTicks) {
  TSimOptions o;
  o.Rate = 100000;
  o.MinTick = 1ms;
  TSimStream stream(o);
  const auto writes = Walk(stream, T0 + 1s);
  // One write a millisecond, about a hundred records in each.
  EXPECT_GE(writes.size(), 999u);
  EXPECT_LE(writes.size(), 1001u);
  for (size_t k = 1; k < writes.size(); ++k) EXPECT_NEAR(double(GoodRecords(writes[k])), 100, 1) << k;
}

TEST(SimStream, SplittingKeepsTheByteStreamAndCutsRecords) {
  struct Case {
    const char *name;
    TSimOptions options;
  };
  TSimOptions paced;
  paced.Rate = 500;
  paced.Count = 3000;
  TSimOptions noisy = paced;
  noisy.Garbage = noisy.BadValues = noisy.UnknownInstruments = true;
  noisy.DecimalSeparator = ',';
  TSimOptions fast;
  fast.Fast = true;
  fast.Count = 100000;
  const std::vector<Case> cases = {{"paced", paced}, {"noisy", noisy}, {"fast", fast}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TSimStream whole(c.options);
    TSimOptions o = c.options;
    o.Split = true;
    TSimStream split(o);
    // Different wake-up patterns on the two sides: the bytes must not depend on them.
    const auto writes = Walk(split, T0 + 1h, 3ms);
    EXPECT_EQ(Joined(writes), Joined(Walk(whole, T0 + 1h)));
    EXPECT_TRUE(split.Done());
    size_t cut = 0;
    for (const auto &w : writes) cut += w.back() != '<';
    EXPECT_GT(cut, writes.size() / 2);
  }
}

TEST(SimStream, HeldBytesFollowAtTheNextTick) {
  TSimOptions o;
  o.Rate = 10;
  o.Split = true;
  TSimStream stream(o);
  stream.Start(T0);
  std::string sent;
  int cut = 0;
  for (int k = 0; k < 200; ++k) {
    const TTime now = stream.NextDeadline();
    ASSERT_EQ(now, T0 + 100ms * k);
    stream.Take(now, sent);
    // Everything up to the record just due is out, that one perhaps in part.
    const size_t whole = GoodRecords(sent);
    ASSERT_GE(whole, size_t(k)) << k;
    ASSERT_LE(whole, size_t(k) + 1) << k;
    cut += sent.back() != '<';
  }
  EXPECT_GT(cut, 150);
}

TEST(SimStream, StartingAgainRepeatsTheStream) {
  TSimOptions o;
  o.Count = 200;
  o.Garbage = o.BadValues = o.UnknownInstruments = o.Split = true;
  TSimStream stream(o);
  const std::string first = Joined(Walk(stream, T0 + 1h));
  EXPECT_EQ(Joined(Walk(stream, T0 + 1h, 5ms)), first);
  EXPECT_EQ(GoodRecords(first), 200u);
}
