#include <gtest/gtest.h>

#include <functional>

#include "tools/SimCommandLine.h"

TEST(SimCommandLine, OptionsAndErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
    std::function<bool(const TSimCommandLine &)> holds = [](const TSimCommandLine &) { return true; };
  };
  using C = const TSimCommandLine &;
  const std::vector<Case> cases = {
      {{}, "", [](C c) {
         const TSimOptions d;
         return c.Options.Rate == d.Rate && c.Options.Count == 0 && c.Options.Duration == 0 && !c.Options.Fast &&
                !c.Options.Split && !c.Options.Garbage && c.Options.DecimalSeparator == '.' && c.Device.empty() &&
                !c.Help && !c.Version;
       }},
      {{"--help"}, "", [](C c) { return c.Help; }},
      {{"-h"}, "", [](C c) { return c.Help; }},
      {{"--version"}, "", [](C c) { return c.Version; }},
      {{"--rate", "250"}, "", [](C c) { return c.Options.Rate == 250; }},
      {{"--rate=0.5"}, "", [](C c) { return c.Options.Rate == 0.5; }},
      {{"--rate", "37500", "--count", "1000"}, "", [](C c) { return c.Options.Rate == 37500 && c.Options.Count == 1000; }},
      {{"--count=0"}, "", [](C c) { return c.Options.Count == 0; }},
      {{"--duration", "2.5"}, "", [](C c) { return c.Options.Duration == 2.5; }},
      {{"--noise"}, "", [](C c) { return c.Options.Garbage && c.Options.BadValues && c.Options.UnknownInstruments; }},
      {{"--split", "--comma"}, "", [](C c) { return c.Options.Split && c.Options.DecimalSeparator == ','; }},
      {{"--fast", "--count", "5"}, "", [](C c) { return c.Options.Fast && c.Options.Count == 5; }},
      {{"--fast", "--split"}, "", [](C c) { return c.Options.Fast && c.Options.Split; }},
      {{"--seed", "42"}, "", [](C c) { return c.Options.Seed == 42; }},
      {{"--device", "/dev/pts/7"}, "", [](C c) { return c.Device == "/dev/pts/7"; }},
      {{"--device=/tmp/ttyV0"}, "", [](C c) { return c.Device == "/tmp/ttyV0"; }},
      {{"--rate"}, "option '--rate' needs a value"},
      {{"--rate="}, "option '--rate' needs a value"},
      {{"--device"}, "option '--device' needs a value"},
      {{"--rate", "0"}, "invalid rate '0': give records per second, above 0 and at most 100000000"},
      {{"--rate", "-3"}, "invalid rate '-3': give records per second, above 0 and at most 100000000"},
      {{"--rate", "fast"}, "invalid rate 'fast': give records per second, above 0 and at most 100000000"},
      {{"--rate", "inf"}, "invalid rate 'inf': give records per second, above 0 and at most 100000000"},
      {{"--rate", "1e9"}, "invalid rate '1e9': give records per second, above 0 and at most 100000000"},
      {{"--rate", "10x"}, "invalid rate '10x': give records per second, above 0 and at most 100000000"},
      {{"--count", "-1"}, "invalid count '-1': give a whole number (0 = no limit)"},
      {{"--count", "1.5"}, "invalid count '1.5': give a whole number (0 = no limit)"},
      {{"--count", "99999999999999999999"}, "invalid count '99999999999999999999': give a whole number (0 = no limit)"},
      {{"--duration", "0"}, "invalid duration '0': give seconds, above 0 and at most a year"},
      {{"--duration", "nan"}, "invalid duration 'nan': give seconds, above 0 and at most a year"},
      {{"--seed", "x"}, "invalid seed 'x': give a whole number"},
      {{"--fast", "--noise"}, "--fast cannot be combined with --noise: the reader checks every record by its number"},
      {{"--noise=yes"}, "unknown option '--noise=yes'"},
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"-x"}, "unknown option '-x'"},
      {{"ttyUSB0"}, "unexpected argument 'ttyUSB0'"},
      // The first error is the one reported.
      {{"--bogus", "--rate", "0"}, "unknown option '--bogus'"},
  };
  for (const auto &c : cases) {
    std::string line;
    for (const auto &a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const TSimCommandLine cl = ParseSimCommandLine(c.args);
    EXPECT_EQ(cl.Error, c.error);
    if (c.error.empty()) {
      EXPECT_TRUE(c.holds(cl));
    }
  }
}

TEST(SimCommandLine, UsageNamesEveryOption) {
  const std::string usage = SimUsageText();
  for (const char *option : {"--rate N", "--count N", "--duration SECS", "--noise", "--split", "--comma", "--fast",
                             "--seed N", "--device PATH", "--help", "--version"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}
