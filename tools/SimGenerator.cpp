#include "tools/SimGenerator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <numbers>

using namespace std::literals;

namespace {

constexpr double TwoPi = 2 * std::numbers::pi;

double Frac(double x) { return x - std::floor(x); }

// No '#' and no '<': either would open or close a record and cut into the good ones around it.
constexpr std::string_view GarbageBytes = "abcxyzQW 0123456789.,-+M>=*\r\n\t\x1b\x7f\xff\0"sv;

// Broken records for an instrument that exists; "%" stands for its number.
constexpr std::array BadPatterns = {"#%MX<"sv, "#%M1.2.3<"sv, "#%M7M9<"sv,
                                    "#%M<"sv,  "#%m7<"sv,     "#%M--5<"sv};

// Numbers the program has no instrument for (the hidden meters 20 and 29 among them).
constexpr std::array UnknownNumbers = {0, 11, 12, 20, 29, 42, 99, -1};

void AppendInteger(std::string &out, long long n) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, r.ptr);
}

} // namespace

uint64_t TSimRandom::Next() {
  uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t TSimRandom::Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }

double TSimRandom::Unit() { return double(Next() >> 11) * 0x1.0p-53; }

TSimGenerator::TSimGenerator(const TSimOptions &options)
    : FOptions(options), FValueRandom(options.Seed), FNoiseRandom(options.Seed ^ 0x6E6F697365ull) {}

double TSimGenerator::Value(int instrument, double t) {
  switch (instrument) {
  case 1:
    return 50 + 45 * std::sin(TwoPi * t / 8);
  case 2:
    return 5 + 90 * (1 - std::fabs(2 * Frac(t / 10) - 1));
  case 3:
    return 100 * Frac(t / 6);
  case 4:
    return Frac(t / 4) < 0.5 ? 80 : 20;
  case 5: {
    // A walk that turns back at the ends instead of sticking to them.
    FWalk += 6 * FValueRandom.Unit() - 3;
    if (FWalk < 0) FWalk = -FWalk;
    if (FWalk > 100) FWalk = 200 - FWalk;
    return FWalk;
  }
  case 6:
    return 100 * Frac(t / 60);
  case 7:
    return 70 + 8 * FValueRandom.Unit() - 4;
  case 8:
    return 50 + 30 * std::sin(TwoPi * t / 5) + 15 * std::sin(TwoPi * t / 1.3);
  case 9:
    return 25 * double(uint64_t(std::floor(t / 2)) % 5);
  case 10:
    return Frac(t / 15) >= 0.8 ? 130 : 50 + 30 * std::sin(TwoPi * t / 7);
  default:
    return 0;
  }
}

void TSimGenerator::AppendValue(std::string &out, double value, char separator) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
  std::string_view text(buf, size_t(r.ptr - buf));
  if (text.find('.') != std::string_view::npos) {
    while (text.back() == '0') text.remove_suffix(1);
    if (text.back() == '.') text.remove_suffix(1);
  }
  if (text == "-0") text = "0";
  const size_t start = out.size();
  out.append(text);
  std::replace(out.begin() + std::ptrdiff_t(start), out.end(), '.', separator);
}

void TSimGenerator::AppendFastRecord(std::string &out, uint64_t seq) {
  out += '#';
  AppendInteger(out, InstrumentOf(seq));
  out += 'M';
  AppendInteger(out, (long long)(seq % SimFastModulus));
  out += '<';
}

void TSimGenerator::AppendGarbage(std::string &out) {
  const uint64_t n = 1 + FNoiseRandom.Below(16);
  for (uint64_t i = 0; i < n; ++i) out += GarbageBytes[FNoiseRandom.Below(GarbageBytes.size())];
}

void TSimGenerator::AppendBadRecord(std::string &out) {
  const std::string_view pattern = BadPatterns[FNoiseRandom.Below(BadPatterns.size())];
  const long long instrument = 1 + (long long)FNoiseRandom.Below(SimInstrumentCount);
  for (char c : pattern) {
    if (c == '%')
      AppendInteger(out, instrument);
    else
      out += c;
  }
}

void TSimGenerator::AppendUnknownRecord(std::string &out) {
  out += '#';
  AppendInteger(out, UnknownNumbers[FNoiseRandom.Below(UnknownNumbers.size())]);
  out += 'M';
  AppendValue(out, double(FNoiseRandom.Below(1001)) / 10, FOptions.DecimalSeparator);
  out += '<';
}

void TSimGenerator::AppendRecord(std::string &out, uint64_t index, double seconds) {
  if (FOptions.Fast) {
    AppendFastRecord(out, index);
    return;
  }
  // Every chance is drawn whether or not its kind is enabled, so switching one kind on or off
  // leaves where the others fall unchanged.
  const bool garbage = FNoiseRandom.Chance(FOptions.NoiseChance);
  const bool bad = FNoiseRandom.Chance(FOptions.NoiseChance);
  const bool unknown = FNoiseRandom.Chance(FOptions.NoiseChance);
  if (FOptions.Garbage && garbage) AppendGarbage(out);
  if (FOptions.BadValues && bad) AppendBadRecord(out);
  if (FOptions.UnknownInstruments && unknown) AppendUnknownRecord(out);

  const int instrument = InstrumentOf(index);
  out += '#';
  AppendInteger(out, instrument);
  out += 'M';
  AppendValue(out, Value(instrument, seconds), FOptions.DecimalSeparator);
  out += '<';
}

TSimFastChecker::TVerdict TSimFastChecker::Check(std::string_view record) {
  // "#" digits "M" digits "<", nothing else.
  auto number = [](std::string_view text, uint64_t &n) {
    if (text.empty() || text.size() > 19) return false;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && text.front() != '+';
  };
  const size_t m = record.find('M');
  uint64_t instrument = 0, value = 0;
  if (record.size() < 5 || record.front() != '#' || record.back() != '<' || m == std::string_view::npos ||
      !number(record.substr(1, m - 1), instrument) || !number(record.substr(m + 1, record.size() - m - 2), value) ||
      instrument > SimInstrumentCount) {
    ++FReceived;
    ++FMalformed;
    return TVerdict::Malformed;
  }
  return CheckValue(int(instrument), value);
}

TSimFastChecker::TVerdict TSimFastChecker::Check(int instrument, double value) {
  if (!(value >= 0 && value < double(SimFastModulus)) || value != std::floor(value)) {
    ++FReceived;
    ++FMalformed;
    return TVerdict::Malformed;
  }
  return CheckValue(instrument, uint64_t(value));
}

TSimFastChecker::TVerdict TSimFastChecker::CheckValue(int instrument, uint64_t value) {
  ++FReceived;
  if (value >= SimFastModulus || instrument != TSimGenerator::InstrumentOf(value)) {
    ++FMalformed;
    return TVerdict::Malformed;
  }
  const uint64_t expected = FExpected % SimFastModulus;
  const uint64_t ahead = (value + SimFastModulus - expected) % SimFastModulus;
  if (ahead >= SimFastModulus / 2) {
    ++FOutOfOrder;
    return TVerdict::OutOfOrder;
  }
  FLost += ahead;
  FExpected += ahead + 1;
  return ahead == 0 ? TVerdict::InOrder : TVerdict::AfterGap;
}
