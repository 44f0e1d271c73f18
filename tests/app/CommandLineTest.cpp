#include <gtest/gtest.h>

#include "app/CommandLine.h"

TEST(CommandLine, OptionsAndErrors) {
  struct Case {
    std::vector<std::string> args;
    bool help, version;
    std::string shot, error, page = "";
  };
  const std::vector<Case> cases = {
      {{}, false, false, "", ""},
      {{"--help"}, true, false, "", ""},
      {{"-h"}, true, false, "", ""},
      {{"--version"}, false, true, "", ""},
      {{"--screenshot", "a.png"}, false, false, "a.png", ""},
      {{"--screenshot=b.png"}, false, false, "b.png", ""},
      {{"--screenshot"}, false, false, "", "option '--screenshot' needs a value"},
      {{"--screenshot="}, false, false, "", "option '--screenshot' needs a value"},
      {{"--frobnicate"}, false, false, "", "unknown option '--frobnicate'"},
      {{"file.txt"}, false, false, "", "unexpected argument 'file.txt'"},
      {{"--page", "terminal"}, false, false, "", "", "Terminal"},
      {{"--page=Optionen", "--screenshot", "o.png"}, false, false, "o.png", "", "Optionen"},
      {{"--page", "Nirgends"}, false, false, "",
       "unknown page 'Nirgends' (pages: Show, Instrumente, Schnittstelle, Terminal, Optionen, Hilfe)", "Nirgends"},
  };
  for (const auto &c : cases) {
    const auto cl = ParseCommandLine(c.args);
    EXPECT_EQ(cl.Help, c.help);
    EXPECT_EQ(cl.Version, c.version);
    EXPECT_EQ(cl.Screenshot, c.shot);
    EXPECT_EQ(cl.Error, c.error);
    EXPECT_EQ(cl.Page, c.page);
  }
  EXPECT_NE(UsageText("telmora").find("--screenshot FILE"), std::string::npos);
}
