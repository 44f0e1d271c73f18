#include <gtest/gtest.h>

#include <sstream>

#include "app/cli/CommandLine.h"

TEST(CommandLine, OptionsAndErrors) {
  const std::string badRate = "': give the speed in bits per second as a whole number greater than 0, such as 19200";
  struct Case {
    std::vector<std::string> args;
    bool help = false, version = false;
    std::string shot = "", error = "", page = "", port = "";
    int32_t baud = 0;
    bool connect = false;
    bool demo = false;
    bool trace = false;
    bool listPorts = false;
  };
  const std::vector<Case> cases = {
      {.args = {}},
      {.args = {"--help"}, .help = true},
      {.args = {"--demo"}, .demo = true},
      {.args = {"--demo", "--screenshot", "d.png"}, .shot = "d.png", .demo = true},
      {.args = {"--demo", "--port", "ttyS0"},
       .error = "--demo brings its own simulated device: it cannot be combined with --port, --baud or --connect",
       .port = "ttyS0", .demo = true},
      {.args = {"-h"}, .help = true},
      {.args = {"--version"}, .version = true},
      {.args = {"--screenshot", "a.png"}, .shot = "a.png"},
      {.args = {"--screenshot=b.png"}, .shot = "b.png"},
      {.args = {"--screenshot"}, .error = "option '--screenshot' needs a value"},
      {.args = {"--screenshot="}, .error = "option '--screenshot' needs a value"},
      {.args = {"--frobnicate"}, .error = "unknown option '--frobnicate'"},
      {.args = {"file.txt"}, .error = "unexpected argument 'file.txt'"},
      {.args = {"--page", "terminal"}, .page = "Terminal"},
      {.args = {"--page=Optionen", "--screenshot", "o.png"}, .shot = "o.png", .page = "Optionen"},
      {.args = {"--page", "Nirgends"},
       .error = "unknown page 'Nirgends' (pages: Show, Instrumente, Schnittstelle, Terminal, Optionen, Hilfe)",
       .page = "Nirgends"},
      // Port names and paths pass as they stand.
      {.args = {"--port", "/dev/pts/3"}, .port = "/dev/pts/3"},
      {.args = {"--port=ttyUSB0"}, .port = "ttyUSB0"},
      {.args = {"--port", "/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0"},
       .port = "/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0"},
      {.args = {"--port"}, .error = "option '--port' needs a value"},
      {.args = {"--port="}, .error = "option '--port' needs a value"},
      // Speeds: any whole number above 0 that fits the port's custom rate.
      {.args = {"--baud", "115200"}, .baud = 115200},
      {.args = {"--baud=250000"}, .baud = 250000},
      {.args = {"--baud", "1"}, .baud = 1},
      {.args = {"--baud", "2147483647"}, .baud = 2147483647},
      {.args = {"--baud", "2147483648"}, .error = "invalid baud rate '2147483648" + badRate},
      {.args = {"--baud", "0"}, .error = "invalid baud rate '0" + badRate},
      {.args = {"--baud", "-9600"}, .error = "invalid baud rate '-9600" + badRate},
      {.args = {"--baud", "+9600"}, .error = "invalid baud rate '+9600" + badRate},
      {.args = {"--baud", "fast"}, .error = "invalid baud rate 'fast" + badRate},
      {.args = {"--baud", "9600baud"}, .error = "invalid baud rate '9600baud" + badRate},
      {.args = {"--baud", "96.5"}, .error = "invalid baud rate '96.5" + badRate},
      {.args = {"--baud", " 9600"}, .error = "invalid baud rate ' 9600" + badRate},
      {.args = {"--baud", "99999999999999999999999"}, .error = "invalid baud rate '99999999999999999999999" + badRate},
      {.args = {"--baud"}, .error = "option '--baud' needs a value"},
      {.args = {"--connect"}, .connect = true},
      {.args = {"--trace"}, .trace = true},
      {.args = {"--list-ports"}, .listPorts = true},
      {.args = {"--list-ports=all"}, .error = "unknown option '--list-ports=all'"},
      {.args = {"--trace=on"}, .error = "unknown option '--trace=on'"},
      {.args = {"--connect=yes"}, .error = "unknown option '--connect=yes'"},
      {.args = {"--port", "/dev/pts/9", "--baud", "57600", "--connect", "--screenshot", "s.png"},
       .shot = "s.png", .port = "/dev/pts/9", .baud = 57600, .connect = true},
      // An option where a value belongs is no value; written with "=" it is.
      {.args = {"--port", "--connect"},
       .error = "option '--port' needs a value, but '--connect' is an option (write --port=--connect for a value that "
                "begins with --)"},
      {.args = {"--screenshot", "--demo"},
       .error = "option '--screenshot' needs a value, but '--demo' is an option (write --screenshot=--demo for a "
                "value that begins with --)"},
      {.args = {"--port=--odd-name", "--connect"}, .port = "--odd-name", .connect = true},
      {.args = {"--port", "-"}, .port = "-"},
      // The first error ends the parse.
      {.args = {"--baud", "x", "--connect"}, .error = "invalid baud rate 'x" + badRate},
  };
  for (const auto &c : cases) {
    std::string joined;
    for (const auto &a : c.args) joined += " " + a;
    SCOPED_TRACE(joined);
    const auto cl = ParseCommandLine(c.args);
    EXPECT_EQ(cl.Help, c.help);
    EXPECT_EQ(cl.Version, c.version);
    EXPECT_EQ(cl.Screenshot, c.shot);
    EXPECT_EQ(cl.Error, c.error);
    EXPECT_EQ(cl.Page, c.page);
    EXPECT_EQ(cl.Port, c.port);
    EXPECT_EQ(cl.BaudRate, c.baud);
    EXPECT_EQ(cl.Connect, c.connect);
    EXPECT_EQ(cl.Demo, c.demo);
    EXPECT_EQ(cl.Trace, c.trace);
    EXPECT_EQ(cl.ListPorts, c.listPorts);
  }
}

TEST(CommandLine, UsageNamesEveryOption) {
  const std::string usage = UsageText("telmora");
  for (const char *option : {"--screenshot FILE", "--page NAME", "--port NAME", "--baud RATE", "--connect", "--help",
                             "--version", "/dev/pts/3", "--list-ports"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

// --help and the window's Hilfe page come from one list: both name the same options in the same
// order, each with a text of its own language, all texts in one column.
TEST(CommandLine, helpInBothLanguagesNamesTheSameOptionsInOneColumn) {
  const struct {
    TWording Wording;
    const char *Heading, *Exit;
  } cases[] = {{TWording::English, "Options:", "Exit status: "}, {TWording::German, "Optionen:", "Rückgabewert: "}};
  std::vector<std::vector<std::string>> heads, texts;
  for (const auto &c : cases) {
    const std::string help = UsageText("telmora", c.Wording);
    SCOPED_TRACE(help);
    EXPECT_NE(help.find(std::string("\n") + c.Heading + "\n"), std::string::npos);
    EXPECT_NE(help.find(std::string("\n\n") + c.Exit), std::string::npos);
    std::istringstream lines(help.substr(help.find(c.Heading)));
    std::size_t column = 0;
    heads.emplace_back();
    texts.emplace_back();
    for (std::string line; std::getline(lines, line) && !line.empty();) {
      if (line == c.Heading) continue;
      if (line.rfind("  -", 0) == 0) {
        // "  -h, --help         text": the option's words up to the gap, then the text.
        const std::size_t gap = line.find("  ", 2);
        std::istringstream words(line.substr(2, gap - 2));
        std::string options;
        for (std::string w; words >> w;)
          if (w[0] == '-') options += w;
        heads.back().push_back(options);
        texts.back().emplace_back();
        if (gap == std::string::npos) continue; // a long option: its text starts on the next line
        if (column == 0) column = line.find_first_not_of(' ', gap);
        EXPECT_EQ(line.find_first_not_of(' ', gap), column) << line;
        texts.back().back() = line.substr(column);
      } else {
        ASSERT_FALSE(texts.back().empty()) << line;
        EXPECT_EQ(line.find_first_not_of(' '), column) << line; // a text's further line
        texts.back().back() += " " + line.substr(column);
      }
      EXPECT_LE(line.size(), 100u) << line;
    }
    EXPECT_EQ(heads.back().size(), 19u);
  }
  EXPECT_EQ(heads[0], heads[1]);
  for (std::size_t i = 0; i < texts[0].size() && i < texts[1].size(); ++i) EXPECT_NE(texts[0][i], texts[1][i]) << heads[0][i];
}

TEST(CommandLine, RecordingAndReplay) {
  const std::string badSpeed = "': give 1 for real time, 2 for twice as fast, 0.5 for half as fast, or 0 for as fast as possible";
  struct Case {
    std::vector<std::string> args;
    std::string record = "", replay = "";
    bool raw = false;
    double speed = 1;
    std::string error = "";
  };
  const std::vector<Case> cases = {
      {.args = {"--record", "a.csv", "--demo"}, .record = "a.csv"},
      {.args = {"--record=a.csv", "--record-raw", "--port", "ttyUSB0"}, .record = "a.csv", .raw = true},
      {.args = {"--record-raw"}, .raw = true, .error = "--record-raw goes with --record FILE"},
      {.args = {"--record", "--connect"},
       .error = "option '--record' needs a value, but '--connect' is an option (write --record=--connect for a value "
                "that begins with --)"},
      {.args = {"--replay", "a.csv"}, .replay = "a.csv"},
      {.args = {"--replay", "a.csv", "--speed", "0"}, .replay = "a.csv", .speed = 0},
      {.args = {"--replay", "a.csv", "--speed=2.5", "--record", "b.csv"}, .record = "b.csv", .replay = "a.csv", .speed = 2.5},
      {.args = {"--replay", "a.csv", "--speed", ".5"}, .replay = "a.csv", .speed = 0.5},
      {.args = {"--speed", "2"}, .speed = 2, .error = "--speed goes with --replay FILE"},
      {.args = {"--replay", "a.csv", "--speed", "-1"}, .replay = "a.csv", .speed = -1, .error = "invalid speed '-1" + badSpeed},
      {.args = {"--replay", "a.csv", "--speed", "inf"}, .replay = "a.csv", .speed = -1, .error = "invalid speed 'inf" + badSpeed},
      {.args = {"--replay", "a.csv", "--speed", "2x"}, .replay = "a.csv", .speed = -1, .error = "invalid speed '2x" + badSpeed},
      {.args = {"--replay", "a.csv", "--connect"}, .replay = "a.csv",
       .error = "--replay brings its own device: it cannot be combined with --demo, --port, --baud or --connect"},
      {.args = {"--replay"}, .error = "option '--replay' needs a value"},
  };
  for (const auto &c : cases) {
    const TCommandLine cl = ParseCommandLine(c.args);
    const std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(cl.Error, c.error) << what;
    EXPECT_EQ(cl.Record, c.record) << what;
    EXPECT_EQ(cl.RecordRaw, c.raw) << what;
    EXPECT_EQ(cl.Replay, c.replay) << what;
    EXPECT_EQ(cl.Speed, c.speed) << what;
  }
}

TEST(CommandLine, BrokerOptions) {
  struct Case {
    std::vector<std::string> args;
    std::string mqtt = "", source = "", caFile = "", passwordFile = "";
    std::string error = ""; // a part of it
  };
  const std::vector<Case> cases = {
      {.args = {"--mqtt", "mqtt://pi/lab"}, .mqtt = "mqtt://pi/lab"},
      {.args = {"--mqtt=mqtts://me@broker:8884", "--mqtt-cafile", "ca.pem", "--mqtt-password-file=pw"},
       .mqtt = "mqtts://me@broker:8884", .caFile = "ca.pem", .passwordFile = "pw"},
      {.args = {"--mqtt-source", "mqtt://pi/telmora/pi/ttyUSB0"}, .source = "mqtt://pi/telmora/pi/ttyUSB0"},
      {.args = {"--demo", "--mqtt", "mqtt://localhost"}, .mqtt = "mqtt://localhost"},
      {.args = {"--mqtt", "http://pi"}, .mqtt = "http://pi", .error = "must start with mqtt:// or mqtts://"},
      {.args = {"--mqtt", "mqtt://me:secret@pi"}, .mqtt = "mqtt://me:secret@pi", .error = "password does not belong"},
      {.args = {"--mqtt-source", "mqtt://pi:70000"}, .source = "mqtt://pi:70000", .error = "between 1 and 65535"},
      {.args = {"--mqtt"}, .error = "option '--mqtt' needs a value"},
      {.args = {"--mqtt-cafile"}, .error = "option '--mqtt-cafile' needs a value"},
      {.args = {"--mqtt", "mqtt://a", "--mqtt-source", "mqtt://b"}, .mqtt = "mqtt://a", .source = "mqtt://b",
       .error = "give one of them"},
      {.args = {"--mqtt-source", "mqtt://b", "--connect"}, .source = "mqtt://b", .error = "cannot be combined"},
      {.args = {"--mqtt-source", "mqtt://b", "--demo"}, .source = "mqtt://b", .error = "cannot be combined"},
  };
  for (const auto &c : cases) {
    const TCommandLine cl = ParseCommandLine(c.args);
    const std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(cl.Mqtt, c.mqtt) << what;
    EXPECT_EQ(cl.MqttSource, c.source) << what;
    EXPECT_EQ(cl.MqttCaFile, c.caFile) << what;
    EXPECT_EQ(cl.MqttPasswordFile, c.passwordFile) << what;
    EXPECT_EQ(cl.Error.empty(), c.error.empty()) << what << ": " << cl.Error;
    EXPECT_NE(cl.Error.find(c.error), std::string::npos) << what << ": " << cl.Error;
  }
  for (const char *option : {"--mqtt URL", "--mqtt-source URL", "--mqtt-cafile FILE", "--mqtt-password-file FILE",
                             "TELMORA_MQTT_PASSWORD"})
    EXPECT_NE(UsageText("telmora").find(option), std::string::npos) << option;
}
