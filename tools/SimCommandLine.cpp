#include "tools/SimCommandLine.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace {

// Far above what any line carries; keeps the arithmetic on due times well inside its range.
constexpr double MaxRate = 1e8;
// A year of sending.
constexpr double MaxDuration = 365.0 * 24 * 3600;

bool ParseUnsigned(const std::string &text, uint64_t &value) {
  const char *end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value);
  return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

bool ParsePositive(const std::string &text, double limit, double &value) {
  const char *end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value);
  return !text.empty() && r.ec == std::errc() && r.ptr == end && std::isfinite(value) && value > 0 &&
         value <= limit;
}

} // namespace

TSimCommandLine ParseSimCommandLine(const std::vector<std::string> &args) {
  TSimCommandLine cl;
  TSimOptions &o = cl.Options;
  bool noise = false;
  using TApply = std::function<std::string(const std::string &)>;
  // Options with a value: the handler returns an error text, empty when the value is good.
  const std::map<std::string, TApply> valued = {
      {"--rate",
       [&](const std::string &v) {
         return ParsePositive(v, MaxRate, o.Rate)
                    ? std::string()
                    : "invalid rate '" + v + "': give records per second, above 0 and at most 100000000";
       }},
      {"--count",
       [&](const std::string &v) {
         return ParseUnsigned(v, o.Count) ? std::string()
                                          : "invalid count '" + v + "': give a whole number (0 = no limit)";
       }},
      {"--duration",
       [&](const std::string &v) {
         return ParsePositive(v, MaxDuration, o.Duration)
                    ? std::string()
                    : "invalid duration '" + v + "': give seconds, above 0 and at most a year";
       }},
      {"--seed",
       [&](const std::string &v) {
         return ParseUnsigned(v, o.Seed) ? std::string() : "invalid seed '" + v + "': give a whole number";
       }},
      {"--device",
       [&](const std::string &v) {
         cl.Device = v;
         return std::string();
       }},
  };
  const std::map<std::string, std::function<void()>> flags = {
      {"--noise", [&] { noise = true; }},      {"--split", [&] { o.Split = true; }},
      {"--fast", [&] { o.Fast = true; }},      {"--comma", [&] { o.DecimalSeparator = ','; }},
      {"--help", [&] { cl.Help = true; }},     {"-h", [&] { cl.Help = true; }},
      {"--version", [&] { cl.Version = true; }},
  };

  for (size_t i = 0; i < args.size() && cl.Error.empty(); ++i) {
    const std::string &arg = args[i];
    const size_t eq = arg.find('=');
    const std::string name = arg.rfind("--", 0) == 0 && eq != std::string::npos ? arg.substr(0, eq) : arg;
    if (auto f = flags.find(name); f != flags.end() && name == arg) {
      f->second();
    } else if (auto v = valued.find(name); v != valued.end()) {
      std::string value;
      if (name != arg)
        value = arg.substr(eq + 1);
      else if (i + 1 < args.size())
        value = args[++i];
      cl.Error = value.empty() ? "option '" + name + "' needs a value" : v->second(value);
    } else if (arg.rfind("-", 0) == 0) {
      cl.Error = "unknown option '" + arg + "'";
    } else {
      cl.Error = "unexpected argument '" + arg + "'";
    }
  }
  if (cl.Error.empty() && o.Fast && noise)
    cl.Error = "--fast cannot be combined with --noise: the reader checks every record by its number";
  o.Garbage = o.BadValues = o.UnknownInstruments = noise;
  return cl;
}

std::string SimUsageText() {
  return "Usage: telmora-sim [OPTION]...\n"
         "Sends the measurement protocol (\"#\" instrument \"M\" value \"<\") like a microcontroller:\n"
         "instruments 1 to 10 with distinct waveforms over 0..100; instrument 10 jumps to 130 for\n"
         "3 s of every 15 s. Creates a pseudo-terminal and prints its path as the first line, then\n"
         "sends until the count or duration is done (or for ever), or until SIGINT/SIGTERM.\n"
         "\n"
         "  --rate N          records per second (default 100)\n"
         "  --count N         send N records, then end (0 = no limit, the default)\n"
         "  --duration SECS   send for SECS seconds, then end\n"
         "  --noise           line noise between records, broken records (\"#3MX<\") and records\n"
         "                    for unknown instruments (\"#11M5<\"); the count counts the good ones\n"
         "  --split           cut the stream at random points, so records straddle writes\n"
         "  --comma           \",\" as the decimal separator\n"
         "  --fast            benchmark mode: record number s (0, 1, 2 ...) is\n"
         "                    \"#\" (1 + s % 10) \"M\" (s % 10000000) \"<\", sent as fast as the\n"
         "                    line takes them; --rate does not apply\n"
         "  --seed N          random seed (default 1); the same seed gives the same bytes\n"
         "  --device PATH     write into this tty (a socat pty, a serial port) instead of a\n"
         "                    pseudo-terminal of its own; it is switched to raw mode\n"
         "  -h, --help        show this help and exit\n"
         "  --version         show the version and exit\n"
         "\n"
         "At the end it waits up to 5 s for the reader to take the last bytes, since closing the\n"
         "line discards what the other end has not read yet.\n"
         "Exit status: 0 when done or stopped by a signal, 1 when the line fails, 2 for bad options.\n";
}
