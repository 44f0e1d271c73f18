#pragma once
// The simulator's command line, parsed apart from main so that every option and error is tested.
#include "tools/SimGenerator.h"

#include <string>
#include <vector>

struct TSimCommandLine {
  TSimOptions Options;
  std::string Device; // write into this tty instead of a pseudo-terminal of our own
  bool Help = false;
  bool Version = false;
  std::string Error; // set when the arguments are not understood
};

TSimCommandLine ParseSimCommandLine(const std::vector<std::string> &args);
std::string SimUsageText();
