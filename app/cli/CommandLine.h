#pragma once
// The program's command line, parsed before any window exists so that --help and --version work
// without a display.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FormatSettings.h"

struct TCommandLine {
  bool Help = false;
  bool Version = false;
  bool ListPorts = false; // print the serial ports found and exit
  std::string Screenshot; // PNG file to write, empty when not asked for
  std::string Page;       // page to show after start ("Show", "Terminal", …), empty for Show
  std::string Port;       // port name or device path to use, empty for the stored one
  int32_t BaudRate = 0;   // bits per second, greater than 0; 0 when not given
  bool Connect = false;   // open the port once the window is shown
  bool Demo = false;      // run against the built-in simulated device
  bool Trace = false;     // print every record received and what it set
  std::string Settings;   // settings file to use instead of the user's, empty for that one
  std::string Record;     // CSV file to record into from the start, empty for none
  bool RecordRaw = false; // the recording keeps dropped records too
  std::string Replay;     // recording to play into the meters, empty for none
  double Speed = 1.0;     // replay speed: 1 real time, 2 twice as fast, 0 as fast as possible
  std::string Mqtt;       // broker URL every value is published to; empty for the stored setting
  std::string MqttSource; // broker URL the meters take their values from; empty for the serial port
  std::string MqttCaFile; // CA certificates (PEM) an mqtts:// broker is checked against
  std::string MqttPasswordFile; // file whose first line is the broker password
  std::string Error;      // set when the arguments are not understood
};

// The pages a user can ask for on the command line, as the main menu names them.
const std::vector<std::string> &PageNames();

TCommandLine ParseCommandLine(const std::vector<std::string> &args);
// The help --help prints (English), or the same in German for the window's Hilfe page.
std::string UsageText(const std::string &program, TWording wording = TWording::English);
