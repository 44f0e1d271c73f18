#include "app/cli/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "broker/BrokerUrl.h"

const std::vector<std::string> &PageNames() {
  static const std::vector<std::string> names = {"Show", "Instrumente", "Schnittstelle", "Terminal", "Optionen", "Hilfe"};
  return names;
}

namespace {
bool SameText(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A speed is a plain decimal number of bits per second, greater than 0 and small enough for the
// port's 32-bit custom rate; 0 for anything else.
// A replay speed: a plain decimal number, 0 or more; -1 for anything else.
double ParseSpeed(const std::string &text) {
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.')) return -1;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return -1;
  return value;
}

int32_t ParseBaudRate(const std::string &text) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))) return 0;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return 0;
  if (value <= 0 || value > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(value);
}
} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string> &args) {
  TCommandLine cl;
  bool speedGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto value = [&](const std::string &name, std::string &out) {
      const std::string prefix = name + "=";
      if (a.rfind(prefix, 0) == 0) {
        out = a.substr(prefix.size());
      } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) == 0) {
        // "--port --connect" forgot the port: the next option is no value. A value that does
        // begin with "--" is written --port=--odd-name.
        cl.Error = "option '" + name + "' needs a value, but '" + args[i + 1] + "' is an option (write " + name +
                   "=" + args[i + 1] + " for a value that begins with --)";
        return;
      } else if (i + 1 < args.size()) {
        out = args[++i];
      } else {
        cl.Error = "option '" + name + "' needs a value";
        return;
      }
      if (out.empty()) cl.Error = "option '" + name + "' needs a value";
    };
    if (a == "-h" || a == "--help") {
      cl.Help = true;
    } else if (a == "--list-ports") {
      cl.ListPorts = true;
    } else if (a == "--demo") {
      cl.Demo = true;
    } else if (a == "-V" || a == "--version") {
      cl.Version = true;
    } else if (a == "--screenshot" || a.rfind("--screenshot=", 0) == 0) {
      value("--screenshot", cl.Screenshot);
    } else if (a == "--page" || a.rfind("--page=", 0) == 0) {
      value("--page", cl.Page);
      const auto &names = PageNames();
      const auto it = std::find_if(names.begin(), names.end(), [&](const std::string &n) { return SameText(n, cl.Page); });
      if (it != names.end()) {
        cl.Page = *it;
      } else if (cl.Error.empty()) {
        cl.Error = "unknown page '" + cl.Page + "' (pages: Show, Instrumente, Schnittstelle, Terminal, Optionen, Hilfe)";
      }
    } else if (a == "--port" || a.rfind("--port=", 0) == 0) {
      value("--port", cl.Port);
    } else if (a == "--baud" || a.rfind("--baud=", 0) == 0) {
      std::string rate;
      value("--baud", rate);
      if (cl.Error.empty()) {
        cl.BaudRate = ParseBaudRate(rate);
        if (cl.BaudRate == 0)
          cl.Error = "invalid baud rate '" + rate + "': give the speed in bits per second as a whole number "
                     "greater than 0, such as 19200";
      }
    } else if (a == "--settings" || a.rfind("--settings=", 0) == 0) {
      value("--settings", cl.Settings);
    } else if (a == "--record" || a.rfind("--record=", 0) == 0) {
      value("--record", cl.Record);
    } else if (a == "--record-raw") {
      cl.RecordRaw = true;
    } else if (a == "--replay" || a.rfind("--replay=", 0) == 0) {
      value("--replay", cl.Replay);
    } else if (a == "--speed" || a.rfind("--speed=", 0) == 0) {
      std::string speed;
      value("--speed", speed);
      if (cl.Error.empty()) {
        cl.Speed = ParseSpeed(speed);
        speedGiven = true;
        if (cl.Speed < 0)
          cl.Error = "invalid speed '" + speed + "': give 1 for real time, 2 for twice as fast, 0.5 for half "
                     "as fast, or 0 for as fast as possible";
      }
    } else if (a == "--mqtt" || a.rfind("--mqtt=", 0) == 0 || a == "--mqtt-source" || a.rfind("--mqtt-source=", 0) == 0) {
      const bool source = a.rfind("--mqtt-source", 0) == 0;
      std::string &url = source ? cl.MqttSource : cl.Mqtt;
      value(source ? "--mqtt-source" : "--mqtt", url);
      std::string why;
      if (cl.Error.empty() && !ParseBrokerUrl(url, &why)) cl.Error = why;
    } else if (a == "--mqtt-cafile" || a.rfind("--mqtt-cafile=", 0) == 0) {
      value("--mqtt-cafile", cl.MqttCaFile);
    } else if (a == "--mqtt-password-file" || a.rfind("--mqtt-password-file=", 0) == 0) {
      value("--mqtt-password-file", cl.MqttPasswordFile);
    } else if (a == "--connect") {
      cl.Connect = true;
    } else if (a == "--trace") {
      cl.Trace = true;
    } else if (a.rfind("-", 0) == 0) {
      cl.Error = "unknown option '" + a + "'";
    } else {
      cl.Error = "unexpected argument '" + a + "'";
    }
    if (!cl.Error.empty()) break;
  }
  if (cl.Error.empty() && cl.Demo && (!cl.Port.empty() || cl.BaudRate != 0 || cl.Connect))
    cl.Error = "--demo brings its own simulated device: it cannot be combined with --port, --baud or --connect";
  if (cl.Error.empty() && cl.Demo && !cl.Settings.empty())
    cl.Error = "--demo keeps its own layout and never touches a settings file: it cannot be combined with --settings";
  if (cl.Error.empty() && cl.RecordRaw && cl.Record.empty()) cl.Error = "--record-raw goes with --record FILE";
  if (cl.Error.empty() && speedGiven && cl.Replay.empty()) cl.Error = "--speed goes with --replay FILE";
  if (cl.Error.empty() && !cl.Replay.empty() && (cl.Demo || !cl.Port.empty() || cl.BaudRate != 0 || cl.Connect))
    cl.Error = "--replay brings its own device: it cannot be combined with --demo, --port, --baud or --connect";
  if (cl.Error.empty() && !cl.Mqtt.empty() && !cl.MqttSource.empty())
    cl.Error = "--mqtt publishes the serial port's values, --mqtt-source shows a broker's: give one of them";
  if (cl.Error.empty() && !cl.MqttSource.empty() &&
      (cl.Demo || !cl.Replay.empty() || !cl.Port.empty() || cl.BaudRate != 0 || cl.Connect))
    cl.Error = "--mqtt-source takes the values from the broker: it cannot be combined with --demo, --replay, "
               "--port, --baud or --connect";
  return cl;
}

namespace {
// One row per option: what it is called, its argument and what it does, in both languages. The
// same rows make --help (and from it the manual page) and the window's Hilfe page; a "\n" in a
// text starts a new line under the text column.
struct TOptionHelp {
  const char *Option;
  const char *Argument[2]; // English, German; "" for none
  const char *Text[2];
};

constexpr TOptionHelp OptionHelp[] = {
    {"--screenshot",
     {"FILE", "DATEI"},
     {"start, write a PNG picture of the main window to FILE and exit\n(works without a display)",
      "starten, ein PNG-Bild des Hauptfensters in DATEI schreiben und beenden\n(geht auch ohne Bildschirm)"}},
    {"--page",
     {"NAME", "NAME"},
     {"show page NAME after start: Show, Instrumente, Schnittstelle,\nTerminal, Optionen or Hilfe",
      "nach dem Start die Seite NAME zeigen: Show, Instrumente, Schnittstelle,\nTerminal, Optionen oder Hilfe"}},
    {"--port",
     {"NAME", "NAME"},
     {"use serial port NAME: a device in /dev (ttyUSB0, ttyACM0) or any\npath to a tty, such as /dev/pts/3 or a "
      "/dev/serial/by-id/ link",
      "die serielle Schnittstelle NAME nehmen: ein Gerät in /dev (ttyUSB0,\nttyACM0) oder jeder Pfad zu einem tty, "
      "etwa /dev/pts/3 oder ein Link\nin /dev/serial/by-id/"}},
    {"--baud",
     {"RATE", "RATE"},
     {"use RATE bits per second; rates the Baud Rate list does not offer\nare set as a custom rate",
      "RATE Bit pro Sekunde nehmen; eine Rate, die die Liste Baud Rate nicht\nanbietet, wird als eigene Rate "
      "eingestellt"}},
    {"--connect", {"", ""}, {"open the port at start, as Connect does", "die Schnittstelle beim Start öffnen, wie Connect"}},
    {"--trace",
     {"", ""},
     {"print every record received on standard output, with the meter\nand value it set or why it was dropped",
      "jeden empfangenen Datensatz auf der Standardausgabe zeigen, mit dem\nInstrument und Wert, den er setzte, "
      "oder warum er verworfen wurde"}},
    {"--settings",
     {"FILE", "DATEI"},
     {"keep the settings in FILE instead of\n$XDG_CONFIG_HOME/Telmora/Telmora.ini (~/.config/Telmora/Telmora.ini)",
      "die Einstellungen in DATEI halten statt in\n$XDG_CONFIG_HOME/Telmora/Telmora.ini "
      "(~/.config/Telmora/Telmora.ini)"}},
    {"--record",
     {"FILE", "DATEI"},
     {"record every value the meters take into the CSV file FILE",
      "jeden Wert, den die Instrumente übernehmen, in die CSV-Datei DATEI\naufzeichnen"}},
    {"--record-raw",
     {"", ""},
     {"record the dropped records too, with the reason", "auch die verworfenen Datensätze aufzeichnen, mit Grund"}},
    {"--replay",
     {"FILE", "DATEI"},
     {"play the recording FILE into the meters (your settings are read\nbut not written)",
      "die Aufzeichnung DATEI in die Instrumente abspielen (die eigenen\nEinstellungen werden gelesen, aber nicht "
      "geschrieben)"}},
    {"--speed",
     {"X", "X"},
     {"replay at X times real time; 0 plays as fast as possible",
      "mit dem X-fachen der Echtzeit abspielen; 0 spielt so schnell wie möglich"}},
    {"--demo",
     {"", ""},
     {"start connected to a built-in simulated device that sends values\nto all ten meters (your own settings are "
      "left alone)",
      "verbunden mit einem eingebauten simulierten Gerät starten, das Werte an\nalle zehn Instrumente sendet (die "
      "eigenen Einstellungen bleiben unberührt)"}},
    {"--mqtt",
     {"URL", "URL"},
     {"publish every value to the MQTT broker at URL:\nmqtt://[user@]host[:port][/prefix] or mqtts://... (TLS); topics\n"
      "are prefix/1 ... prefix/10, prefix/N/meta and prefix/status",
      "jeden Wert an den MQTT-Broker unter URL senden:\nmqtt://[benutzer@]host[:port][/präfix] oder mqtts://... (TLS);\n"
      "die Topics sind präfix/1 ... präfix/10, präfix/N/meta und präfix/status"}},
    {"--mqtt-source",
     {"URL", "URL"},
     {"show the values a broker carries below URL's prefix instead of\nthose of the serial port (a remote panel)",
      "die Werte zeigen, die ein Broker unter dem Präfix von URL trägt,\nstatt derer der seriellen Schnittstelle "
      "(eine entfernte Anzeige)"}},
    {"--mqtt-cafile",
     {"FILE", "DATEI"},
     {"trust the CA certificates in FILE for mqtts:// (default: the\nsystem's)",
      "den CA-Zertifikaten in DATEI für mqtts:// vertrauen (sonst denen\ndes Systems)"}},
    {"--mqtt-password-file",
     {"FILE", "DATEI"},
     {"send the first line of FILE as the broker password (or set\nTELMORA_MQTT_PASSWORD); it is never stored or shown",
      "die erste Zeile von DATEI als Broker-Passwort senden (oder\nTELMORA_MQTT_PASSWORD setzen); es wird nie "
      "gespeichert oder gezeigt"}},
    {"--list-ports",
     {"", ""},
     {"print the serial ports found, one per line: path, by-id name,\nUSB vendor:product and serial number, driver; "
      "then exit",
      "die gefundenen seriellen Schnittstellen zeigen, eine je Zeile: Pfad,\nby-id-Name, USB-Hersteller:Produkt und "
      "Seriennummer, Treiber; dann beenden"}},
    {"-h, --help", {"", ""}, {"show this help and exit", "diese Hilfe zeigen und beenden"}},
    {"-V, --version", {"", ""}, {"show the version and exit", "die Version zeigen und beenden"}},
};
} // namespace

std::string UsageText(const std::string &program, TWording wording) {
  const int l = wording == TWording::German ? 1 : 0;
  auto head = [l](const TOptionHelp &o) {
    return *o.Argument[l] ? std::string(o.Option) + " " + o.Argument[l] : std::string(o.Option);
  };
  // The texts start two blanks after the longest option (the heads are ASCII); an option longer
  // than Widest stands on a line of its own, so that the texts keep to a terminal's width.
  constexpr std::size_t Widest = 18;
  std::size_t width = 0;
  for (const TOptionHelp &o : OptionHelp) width = std::max(width, std::min(head(o).size(), Widest));
  const std::string indent(2 + width + 2, ' ');
  std::string options;
  for (const TOptionHelp &o : OptionHelp) {
    const std::string h = head(o);
    options += "  " + h + (h.size() > width ? "\n" + indent : std::string(width + 2 - h.size(), ' '));
    for (const char *c = o.Text[l]; *c; ++c) options += *c == '\n' ? "\n" + indent : std::string(1, *c);
    options += '\n';
  }
  if (l == 1)
    return "Aufruf: " + program + " [OPTION]...\n"
           "Zeigt Messwerte, die ein Mikrocontroller über eine serielle Schnittstelle sendet, auf analogen\n"
           "Zeigerinstrumenten an.\n"
           "\n"
           "Optionen:\n" + options +
           "\n"
           "Rückgabewert: 0 bei Erfolg, 1 wenn das Programm scheiterte, 2 bei einer falschen Kommandozeile.\n";
  return "Usage: " + program + " [OPTION]...\n"
         "Shows measured values sent by a microcontroller over a serial port on analog meters.\n"
         "\n"
         "Options:\n" + options +
         "\n"
         "Exit status: 0 on success, 1 when the program failed, 2 for a bad command line.\n";
}
