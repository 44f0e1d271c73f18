// Build step: writes the manual pages of telmora and telmora-sim from the text each prints for
// --help, so a page and its program never disagree.
#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/CommandLine.h"
#include "tools/SimCommandLine.h"
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

struct TPage {
  const char *Program;
  std::string Help;
  const char *Name;        // the NAME line's text; empty: the help's summary line
  const char *Description; // a paragraph the help leaves out, empty for none
};

std::vector<TPage> Pages() {
  return {
      {"telmora", UsageText("telmora"), "",
       "Only one copy runs per user and desktop. Starting telmora again brings the running "
       "copy's window to the front, and the new start ends without opening the serial port. "
       "A copy of the program under another file name runs on its own; runs with "
       "\\fB\\-\\-demo\\fR or \\fB\\-\\-screenshot\\fR are not counted."},
      {"telmora-sim", SimUsageText(), "simulated microcontroller sending measurement records to telmora",
       ""},
  };
}

std::string Upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The help text: a usage line, a description up to the first blank line, then options (with an
// "Options:" heading or without), further paragraphs and an "Exit status:" line.
std::string ManPage(const TPage &page) {
  std::istringstream help(page.Help);
  std::vector<std::string> lines;
  for (std::string line; std::getline(help, line);) lines.push_back(line);

  std::ostringstream man;
  man << ".TH " << Upper(page.Program) << " 1 \"\" \"" << page.Program << " " << TELMORA_VERSION
      << "\" \"User Commands\"\n";
  const std::string summary = lines.size() > 1 ? lines[1] : "";
  // The summary line reads as a sentence; the NAME line is its lower-case start without the stop.
  std::string name = *page.Name ? page.Name : summary;
  if (!name.empty()) name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  if (!name.empty() && name.back() == '.') name.pop_back();
  man << ".SH NAME\n" << Roff(page.Program) << " \\- " << Roff(name) << "\n";
  man << ".SH SYNOPSIS\n.B " << Roff(page.Program) << "\n[\\fIOPTION\\fR]...\n";
  man << ".SH DESCRIPTION\n";
  std::size_t i = 1; // line 0 is the usage line
  for (; i < lines.size() && !lines[i].empty(); ++i) man << Roff(Trim(lines[i])) << "\n";
  if (*page.Description) man << ".PP\n" << page.Description << "\n";
  bool options = false, afterOptions = false;
  for (; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    if (line.empty()) {
      afterOptions = options;
      continue;
    }
    if (line == "Options:") continue;
    if (line.rfind("  -", 0) == 0) {
      if (!options) man << ".SH OPTIONS\n";
      options = true;
      // "  --port NAME        text": the option ends where a run of blanks starts.
      const std::string body = Trim(line);
      const auto gap = body.find("  ");
      man << ".TP\n" << OptionHead(body.substr(0, gap)) << "\n";
      if (gap != std::string::npos) man << Roff(Trim(body.substr(gap))) << "\n";
    } else if (line.rfind("Exit status:", 0) == 0) {
      man << ".SH \"EXIT STATUS\"\n" << Roff(Trim(line.substr(12))) << "\n";
    } else {
      // Text after the options is a section of its own, not part of the last option.
      if (afterOptions) man << ".SH NOTES\n";
      afterOptions = false;
      man << Roff(Trim(line)) << "\n";
    }
  }
  return man.str();
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " PROGRAM OUT.1\n";
    return 2;
  }
  for (const TPage &page : Pages()) {
    if (page.Program != std::string(argv[1])) continue;
    std::ofstream out(argv[2]);
    out << ManPage(page);
    return out.flush() ? 0 : 1;
  }
  std::cerr << argv[0] << ": no manual page for '" << argv[1] << "'\n";
  return 2;
}
