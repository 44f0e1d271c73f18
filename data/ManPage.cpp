// Build step: writes the manual page telmora.1 from the text --help prints, so the two never
// disagree.
#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/CommandLine.h"
#include "platform/Version.h"

namespace {

// roff takes '-' as a hyphen and a leading '.' or '\'' as a request.
std::string Roff(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

// "--port NAME" becomes the option in bold and its argument in italics.
std::string OptionHead(const std::string &option) {
  std::istringstream words(option);
  std::string word, out;
  while (words >> word) {
    const bool argument = std::isupper(static_cast<unsigned char>(word[0])) != 0;
    if (!out.empty()) out += ' ';
    out += (argument ? "\\fI" : "\\fB") + Roff(word) + "\\fR";
  }
  return out;
}

std::string Trim(const std::string &s) {
  const auto b = s.find_first_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " OUT.1\n";
    return 2;
  }
  std::istringstream help(UsageText("telmora"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(help, line);) lines.push_back(line);

  std::ostringstream man;
  man << ".TH TELMORA 1 \"\" \"telmora " << TELMORA_VERSION << "\" \"User Commands\"\n";
  std::size_t i = 1; // line 0 is the usage line
  const std::string summary = lines.size() > 1 ? lines[1] : "";
  // The summary line reads as a sentence; the NAME line is its lower-case start without the stop.
  std::string name = summary;
  if (!name.empty()) name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  if (!name.empty() && name.back() == '.') name.pop_back();
  man << ".SH NAME\ntelmora \\- " << Roff(name) << "\n";
  man << ".SH SYNOPSIS\n.B telmora\n[\\fIOPTION\\fR]...\n";
  man << ".SH DESCRIPTION\n" << Roff(summary) << "\n.PP\n"
      << "Only one copy runs per user and desktop. Starting telmora again brings the running "
         "copy's window to the front, and the new start ends without opening the serial port. "
         "A copy of the program under another file name runs on its own; runs with "
         "\\fB\\-\\-demo\\fR or \\fB\\-\\-screenshot\\fR are not counted.\n";
  for (++i; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    if (line.empty()) continue;
    if (line == "Options:") {
      man << ".SH OPTIONS\n";
    } else if (line.rfind("  -", 0) == 0) {
      // "  --port NAME        text": the option ends where a run of blanks starts.
      const std::string body = Trim(line);
      const auto gap = body.find("  ");
      man << ".TP\n" << OptionHead(body.substr(0, gap)) << "\n";
      if (gap != std::string::npos) man << Roff(Trim(body.substr(gap))) << "\n";
    } else if (line.rfind("Exit status:", 0) == 0) {
      man << ".SH \"EXIT STATUS\"\n" << Roff(Trim(line.substr(12))) << "\n";
    } else {
      man << Roff(Trim(line)) << "\n";
    }
  }
  std::ofstream out(argv[1]);
  out << man.str();
  return out.flush() ? 0 : 1;
}
