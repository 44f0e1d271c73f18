#include "serial/EscapeCodes.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string ESC(1, '\x1b');

// What the parser reported for one character: a character to display or a finished code.
struct Event {
  bool IsCode = false;
  char Ch = 0;
  TEscapeCode Code = ecUnknown;
  TEscapeParams Params;
  std::string Text;

  bool operator==(const Event &) const = default;
};

Event Char(char c) { return {false, c, ecUnknown, {}, {}}; }
Event Code(TEscapeCode code, TEscapeParams params, std::string text) {
  return {true, 0, code, std::move(params), std::move(text)};
}

std::string Printable(const std::string &s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 32 && c < 127) out += static_cast<char>(c);
    else out += "\\x" + std::to_string(c);
  }
  return out;
}

void PrintTo(const Event &e, std::ostream *os) {
  if (!e.IsCode) {
    *os << "Char(" << Printable(std::string(1, e.Ch)) << ")";
    return;
  }
  *os << "Code(" << static_cast<int>(e.Code) << ", {";
  for (const auto &p : e.Params) *os << '"' << Printable(p) << "\" ";
  *os << "}, \"" << Printable(e.Text) << "\")";
}

// Feeds text one character at a time and records what comes out. It does not clear Parameters
// between codes, so a stale list would show up in the next code's record.
struct Recorder {
  explicit Recorder(std::unique_ptr<TEscapeCodes> parser) : Parser(std::move(parser)) {}

  TFeedResult FeedOne(char c) {
    const TFeedResult r = Parser->FeedChar(c);
    if (r == frCharacter) Events.push_back(Char(Parser->PlainChar()));
    if (r == frCode) Events.push_back(Code(Parser->FoundCode(), Parser->Parameters(), Parser->SequenceText()));
    return r;
  }
  void Feed(const std::string &text) {
    for (char c : text) FeedOne(c);
  }

  std::unique_ptr<TEscapeCodes> Parser;
  std::vector<Event> Events;
};

Recorder Vt100() { return Recorder(std::make_unique<TEscapeCodesVT100>()); }
Recorder Vt52() { return Recorder(std::make_unique<TEscapeCodesVT52>()); }

// A complete sequence (without its escape character) and what it reports.
struct SeqCase {
  std::string Text;
  TEscapeCode Expected;
  TEscapeParams Params;
};

const std::vector<SeqCase> &Vt100Cases() {
  static const std::vector<SeqCase> cases = {
      // Short sequences.
      {"7", ecSaveCaretAndAttr, {}},
      {"8", ecRestoreCaretAndAttr, {}},
      {"H", ecSetTab, {}},
      {"c", ecReset, {}},
      {"x", ecUnknown, {}},
      {ESC, ecUnknown, {}},
      {"#8", ecTest, {}},
      {"#9", ecUnknown, {}},
      {"#[", ecUnknown, {}},
      {"#" + ESC, ecUnknown, {}},
      {"OA", ecAppCursorUp, {}},
      {"OB", ecAppCursorDown, {}},
      {"OC", ecAppCursorRight, {}},
      {"OD", ecAppCursorLeft, {}},
      {"OE", ecUnknown, {}},
      {"O[", ecUnknown, {}},
      // Bracket sequences by final letter.
      {"[A", ecCursorUp, {}},
      {"[3B", ecCursorDown, {"3"}},
      {"[C", ecCursorRight, {}},
      {"[12D", ecCursorLeft, {"12"}},
      {"[H", ecCursorHome, {}},
      {"[5;10H", ecCursorHome, {"5", "10"}},
      {"[5;10f", ecCursorMove, {"5", "10"}},
      {"[J", ecEraseScreenFrom, {}},
      {"[0J", ecEraseScreenFrom, {}},
      {"[0;2J", ecEraseScreenFrom, {}},
      {"[01J", ecEraseScreenFrom, {}},
      {"[2J", ecEraseScreen, {}},
      {"[25J", ecEraseScreen, {}},
      {"[1J", ecUnknown, {}},
      {"[;2J", ecUnknown, {}},
      {std::string("[\0J", 3), ecUnknown, {}},
      {"[K", ecEraseLineFrom, {}},
      {"[0K", ecEraseLineFrom, {}},
      {"[2K", ecEraseLine, {}},
      {"[1K", ecUnknown, {}},
      {"[g", ecClearTab, {}},
      {"[0g", ecClearTab, {}},
      {"[3g", ecClearAllTabs, {}},
      {"[2g", ecUnknown, {}},
      {"[0n", ecReportDeviceOK, {}},
      {"[3n", ecReportDeviceFailure, {}},
      {"[5n", ecQueryDevice, {}},
      {"[6n", ecQueryCursorPos, {}},
      {"[5?;7n", ecQueryDevice, {}},
      {"[n", ecUnknown, {}},
      {"[9n", ecUnknown, {}},
      {"[c", ecIdentify, {}},
      {"[0c", ecIdentify, {"0"}},
      {"[00c", ecUnknown, {"00"}},
      {"[2c", ecUnknown, {"2"}},
      {"[0;0c", ecUnknown, {"0", "0"}},
      {"[?1;2c", ecIdentResponse, {"?1", "2"}},
      {"[?1c", ecUnknown, {"?1"}},
      {"[?1;2;3c", ecUnknown, {"?1", "2", "3"}},
      {"[?2;2c", ecUnknown, {"?2", "2"}},
      {"[R", ecReportCursorPos, {}},
      {"[3;7R", ecReportCursorPos, {"3", "7"}},
      {"[m", ecAttributes, {}},
      {"[1;31m", ecAttributes, {"1", "31"}},
      {"[0;1;4;7;44m", ecAttributes, {"0", "1", "4", "7", "44"}},
      {"[?1h", ecSetMode, {"?1"}},
      {"[?3l", ecResetMode, {"?3"}},
      {"[s", ecSaveCaret, {}},
      {"[u", ecRestoreCaret, {}},
      {"[z", ecUnknown, {}},
      {"[5;10Z", ecUnknown, {"5", "10"}},
      // How ";" splits the parameters: it closes a non-empty entry, else it joins the entry.
      {"[;5H", ecCursorHome, {";5"}},
      {"[5;H", ecCursorHome, {"5"}},
      {"[5;;6H", ecCursorHome, {"5", ";6"}},
      {"[;H", ecCursorHome, {";"}},
      {"[;;H", ecCursorHome, {";"}},
      {"[;;;H", ecCursorHome, {";", ";"}},
      // Anything that is not a letter is collected, escape characters and "[" included.
      {"[1" + ESC + "[2m", ecAttributes, {"1" + ESC + "[2"}},
      {"[12345678901234567890A", ecCursorUp, {"12345678901234567890"}},
      {"[ \x7f\xff" "A", ecCursorUp, {" \x7f\xff"}},
  };
  return cases;
}

const std::vector<SeqCase> &Vt52Cases() {
  static const std::vector<SeqCase> cases = {
      {"A", ecCursorUp, {}},
      {"B", ecCursorDown, {}},
      {"C", ecCursorRight, {}},
      {"D", ecCursorLeft, {}},
      {"H", ecCursorHome, {}},
      {"I", ecReverseLineFeed, {}},
      {"J", ecEraseScreenFrom, {}},
      {"K", ecEraseLineFrom, {}},
      {"Z", ecIdentify, {}},
      {"Y\x24\x29", ecCursorMove, {"5", "10"}},
      {"Y  ", ecCursorMove, {"1", "1"}},
      {std::string("Y\0\xff", 3), ecCursorMove, {"-31", "224"}},
      {"Y" + ESC + ESC, ecCursorMove, {"-4", "-4"}},
      {"/Z", ecIdentResponse, {}},
      {"/A", ecUnknown, {}},
      {"/" + ESC, ecUnknown, {}},
      {"x", ecUnknown, {}},
      {"[", ecUnknown, {}},
      {ESC, ecUnknown, {}},
  };
  return cases;
}

struct Family {
  const char *Name;
  Recorder (*Make)();
  const std::vector<SeqCase> &(*Cases)();
};

const Family Families[] = {{"VT100", Vt100, Vt100Cases}, {"VT52", Vt52, Vt52Cases}};

TEST(EscapeCodes, everySequenceReportsItsCodeOnlyOnTheLastCharacter) {
  for (const Family &f : Families) {
    for (const SeqCase &c : f.Cases()) {
      SCOPED_TRACE(std::string(f.Name) + " ESC " + Printable(c.Text));
      Recorder r = f.Make();
      // Every prefix swallows its characters and shows the sequence collected so far.
      EXPECT_EQ(r.FeedOne('\x1b'), frNothing);
      EXPECT_EQ(r.Parser->SequenceText(), "");
      for (std::size_t i = 0; i + 1 < c.Text.size(); ++i) {
        EXPECT_EQ(r.FeedOne(c.Text[i]), frNothing) << "at " << i;
        EXPECT_EQ(r.Parser->SequenceText(), c.Text.substr(0, i + 1));
      }
      EXPECT_EQ(r.FeedOne(c.Text.back()), frCode);
      EXPECT_EQ(r.Events, (std::vector<Event>{Code(c.Expected, c.Params, c.Text)}));
    }
  }
}

TEST(EscapeCodes, sequencesSplitAtEveryPointBetweenPlainText) {
  for (const Family &f : Families) {
    for (const SeqCase &c : f.Cases()) {
      const std::string whole = "ab" + ESC + c.Text + "cd";
      const std::vector<Event> expected = {Char('a'), Char('b'), Code(c.Expected, c.Params, c.Text), Char('c'),
                                           Char('d')};
      for (std::size_t split = 0; split <= whole.size(); ++split) {
        SCOPED_TRACE(std::string(f.Name) + " ESC " + Printable(c.Text) + " split at " + std::to_string(split));
        Recorder r = f.Make();
        r.Feed(whole.substr(0, split));
        r.Feed(whole.substr(split));
        EXPECT_EQ(r.Events, expected);
      }
    }
  }
}

TEST(EscapeCodes, twoSequencesBackToBackEachReportTheirOwnParameters) {
  for (const Family &f : Families) {
    for (const SeqCase &a : f.Cases()) {
      for (const SeqCase &b : f.Cases()) {
        SCOPED_TRACE(std::string(f.Name) + " ESC " + Printable(a.Text) + " ESC " + Printable(b.Text));
        Recorder r = f.Make();
        r.Feed(ESC + a.Text + ESC + b.Text);
        EXPECT_EQ(r.Events, (std::vector<Event>{Code(a.Expected, a.Params, a.Text),
                                                Code(b.Expected, b.Params, b.Text)}));
      }
    }
  }
}

TEST(EscapeCodes, everyCharacterButEscapePassesUnchanged) {
  for (const Family &f : Families) {
    SCOPED_TRACE(f.Name);
    Recorder r = f.Make();
    std::vector<Event> expected;
    for (int c = 0; c < 256; ++c) {
      if (c == 27) continue;
      r.Feed(std::string(1, static_cast<char>(c)));
      expected.push_back(Char(static_cast<char>(c)));
    }
    EXPECT_EQ(r.Events, expected);
  }
}

TEST(EscapeCodes, unfinishedSequencesKeepCollecting) {
  struct Pending {
    const Family *F;
    std::string Text;
  };
  std::string digits = "[12";
  for (int i = 0; i < 3000; ++i) digits += static_cast<char>('0' + i % 10);
  const std::vector<Pending> cases = {
      {&Families[0], "["}, {&Families[0], "#"}, {&Families[0], "O"}, {&Families[0], "[1;2"},
      {&Families[0], digits}, {&Families[1], "Y"}, {&Families[1], "Y!"}, {&Families[1], "/"},
  };
  for (const Pending &c : cases) {
    SCOPED_TRACE(std::string(c.F->Name) + " ESC " + Printable(c.Text.substr(0, 10)));
    Recorder r = c.F->Make();
    r.Feed(ESC + c.Text);
    EXPECT_TRUE(r.Events.empty());
    EXPECT_EQ(r.Parser->SequenceText(), c.Text);
  }
}

TEST(EscapeCodes, longDigitRunEndsWithItsLetter) {
  Recorder r = Vt100();
  const std::string run(4000, '7');
  r.Feed(ESC + "[12" + run + "m");
  EXPECT_EQ(r.Events, (std::vector<Event>{Code(ecAttributes, {"12" + run}, "[12" + run + "m")}));
}

// The sequence limit: 4,095 characters after the escape character still classify as usual; the
// 4,096th ends the sequence as ecUnknown, whatever it is.
TEST(EscapeCodes, bracketSequenceLimit) {
  const std::size_t limit = TEscapeCodes::MaxSequenceLength;
  ASSERT_EQ(limit, 4096u);
  struct LimitCase {
    std::size_t Digits;
    std::string Tail;
    std::vector<Event> Expected;
  };
  auto text = [](std::size_t digits, const std::string &tail) { return "[" + std::string(digits, '1') + tail; };
  const std::vector<LimitCase> cases = {
      {limit - 3, "A", {Code(ecCursorUp, {std::string(limit - 3, '1')}, text(limit - 3, "A"))}},
      {limit - 2, "A", {Code(ecUnknown, {}, text(limit - 2, "A"))}},
      {limit - 1, "x", {Code(ecUnknown, {}, text(limit - 1, "")), Char('x')}},
      {limit - 2, ";", {Code(ecUnknown, {}, text(limit - 2, ";"))}},
      {limit - 2, "", {}},
  };
  for (const LimitCase &c : cases) {
    SCOPED_TRACE(std::to_string(c.Digits) + " digits then \"" + c.Tail + "\"");
    Recorder r = Vt100();
    r.Feed(ESC + text(c.Digits, c.Tail));
    EXPECT_EQ(r.Events, c.Expected);
    EXPECT_LE(r.Parser->SequenceText().size(), limit);
  }
}

TEST(EscapeCodes, endlessDigitStreamKeepsTheBufferBounded) {
  Recorder r = Vt100();
  const std::size_t limit = TEscapeCodes::MaxSequenceLength;
  const std::string megabyte(1 << 20, '5');
  r.Feed(ESC + "[" + megabyte);
  ASSERT_EQ(r.Events.size(), megabyte.size() - (limit - 2));
  EXPECT_EQ(r.Events.front(), Code(ecUnknown, {}, "[" + megabyte.substr(0, limit - 1)));
  EXPECT_EQ(r.Events.back(), Char('5'));
  EXPECT_EQ(r.Parser->SequenceText().size(), limit);
  EXPECT_LE(r.Parser->SequenceText().capacity(), limit);

  // Restarted again and again: every round ends at the limit, the buffer never grows.
  r.Events.clear();
  for (int i = 0; i < 200; ++i) r.Feed(ESC + "[" + std::string(5000, '9'));
  EXPECT_LE(r.Parser->SequenceText().capacity(), limit);
  EXPECT_EQ(r.Events.size(), 200u * (5000 - (limit - 2)));
}

TEST(EscapeCodes, paramValuePositionsAndMissingEntries) {
  const TEscapeParams pair = {"5", "10"};
  const TEscapeParams empty;
  struct PositionCase {
    int N;
    const TEscapeParams *Params;
    std::int32_t Expected;
  };
  const std::vector<PositionCase> cases = {
      {1, nullptr, 1}, {2, nullptr, 1}, {1, &empty, 1}, {1, &pair, 5},
      {2, &pair, 10},  {3, &pair, 1},   {0, &pair, 1},  {-1, &pair, 1},
  };
  for (const PositionCase &c : cases) {
    SCOPED_TRACE("entry " + std::to_string(c.N) + (c.Params ? "" : " of none"));
    EXPECT_EQ(TEscapeCodes::ParamValue(c.N, c.Params), c.Expected);
  }
}

TEST(EscapeCodes, paramValueReadsOnlyWholeDecimalIntegers) {
  struct EntryCase {
    std::string Entry;
    std::int32_t Expected;
  };
  const std::vector<EntryCase> cases = {
      {"0", 0},           {"007", 7},          {"-7", -7},       {"+7", 7},         {"x", 1},
      {"+-7", 1},         {"-", 1},            {"+", 1},         {"", 1},           {" 5", 1},
      {"5 ", 1},          {"5x", 1},           {";5", 1},        {"0x10", 1},       {"1e3", 1},
      {"2147483647", INT_MAX}, {"2147483648", 1}, {"-2147483648", INT_MIN}, {"-2147483649", 1},
      {"99999999999999999999", 1},
  };
  for (const EntryCase &c : cases) {
    SCOPED_TRACE('"' + c.Entry + '"');
    const TEscapeParams params = {c.Entry};
    EXPECT_EQ(TEscapeCodes::ParamValue(1, &params), c.Expected);
  }
}

// What each code sends, with the parameters ("5", "10").
struct SendCase {
  TEscapeCode Code;
  std::string Vt52;
  std::string Vt100;
};

TEST(EscapeCodes, codeToSequenceForEveryCode) {
  const std::string none;
  const std::vector<SendCase> cases = {
      {ecUnknown, none, none},
      {ecNotCompleted, none, none},
      {ecCursorUp, ESC + "A", ESC + "[A"},
      {ecCursorDown, ESC + "B", ESC + "[B"},
      {ecCursorLeft, ESC + "D", ESC + "[D"},
      {ecCursorRight, ESC + "C", ESC + "[C"},
      {ecCursorHome, ESC + "H", ESC + "[H"},
      {ecCursorMove, ESC + "Y\x24\x29", ESC + "[5;10f"},
      {ecReverseLineFeed, ESC + "I", none},
      {ecAppCursorLeft, none, ESC + "OD"},
      {ecAppCursorRight, none, ESC + "OC"},
      {ecAppCursorUp, none, ESC + "OA"},
      {ecAppCursorDown, none, ESC + "OB"},
      {ecEraseLineFrom, ESC + "K", ESC + "[K"},
      {ecEraseScreenFrom, ESC + "J", ESC + "[J"},
      {ecEraseLine, none, ESC + "[2K"},
      {ecEraseScreen, none, ESC + "[2J"},
      {ecSetTab, none, ESC + "H"},
      {ecClearTab, none, ESC + "[g"},
      {ecClearAllTabs, none, ESC + "[3g"},
      {ecIdentify, ESC + "Z", ESC + "[c"},
      {ecIdentResponse, ESC + "/Z", ESC + "[?1;5c"},
      {ecQueryDevice, none, ESC + "[5n"},
      {ecReportDeviceOK, none, ESC + "[0n"},
      {ecReportDeviceFailure, none, ESC + "[3n"},
      {ecQueryCursorPos, none, ESC + "[6n"},
      {ecReportCursorPos, none, ESC + "[5;10R"},
      {ecAttributes, none, ESC + "[m"},
      {ecSetMode, none, ESC + "[h"},
      {ecResetMode, none, ESC + "[l"},
      {ecReset, none, ESC + "c"},
      {ecSaveCaretAndAttr, none, ESC + "7"},
      {ecRestoreCaretAndAttr, none, ESC + "8"},
      {ecSaveCaret, none, ESC + "[s"},
      {ecRestoreCaret, none, ESC + "[u"},
      {ecTest, none, ESC + "#8"},
  };
  ASSERT_EQ(cases.size(), static_cast<std::size_t>(EscapeCodeCount));
  const TEscapeParams params = {"5", "10"};
  const TEscapeCodesVT52 vt52;
  const TEscapeCodesVT100 vt100;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const SendCase &c = cases[i];
    SCOPED_TRACE("code " + std::to_string(c.Code));
    EXPECT_EQ(static_cast<std::size_t>(c.Code), i); // the table is in ordinal order
    EXPECT_EQ(vt52.CodeToSequence(c.Code, &params), c.Vt52);
    EXPECT_EQ(vt100.CodeToSequence(c.Code, &params), c.Vt100);
  }
}

TEST(EscapeCodes, codeToSequenceFillsTheNumbers) {
  const TEscapeParams none;
  const TEscapeParams words = {"x", "y"};
  const TEscapeParams edge = {"0", "-31"};
  const TEscapeParams extreme = {"2147483647", "-2147483648"};
  const TEscapeParams negative = {"-3", "0"};
  struct FillCase {
    TEscapeCode Code;
    const TEscapeParams *Params;
    std::string Vt52;
    std::string Vt100;
  };
  const std::vector<FillCase> cases = {
      {ecCursorMove, nullptr, ESC + "Y  ", ESC + "[1;1f"},
      {ecCursorMove, &none, ESC + "Y  ", ESC + "[1;1f"},
      {ecCursorMove, &words, ESC + "Y  ", ESC + "[1;1f"},
      {ecCursorMove, &negative, ESC + "Y\x1c\x1f", ESC + "[-3;0f"},
      {ecCursorMove, &edge, ESC + "Y\x1f" + std::string(1, '\0'), ESC + "[0;-31f"},
      // Codes outside 0…255 wrap to 8 bits.
      {ecCursorMove, &extreme, ESC + "Y\x1e\x1f", ESC + "[2147483647;-2147483648f"},
      {ecIdentResponse, nullptr, ESC + "/Z", ESC + "[?1;1c"},
      {ecIdentResponse, &negative, ESC + "/Z", ESC + "[?1;-3c"},
      {ecReportCursorPos, nullptr, "", ESC + "[1;1R"},
      {ecReportCursorPos, &negative, "", ESC + "[-3;0R"},
      {ecAttributes, &negative, "", ESC + "[m"},
      {ecSetMode, &negative, "", ESC + "[h"},
  };
  const TEscapeCodesVT52 vt52;
  const TEscapeCodesVT100 vt100;
  for (const FillCase &c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.Code) + " expecting " + Printable(c.Vt100));
    EXPECT_EQ(vt52.CodeToSequence(c.Code, c.Params), c.Vt52);
    EXPECT_EQ(vt100.CodeToSequence(c.Code, c.Params), c.Vt100);
  }
}

// Whatever a family sends, its own parser reads back as the same code.
TEST(EscapeCodes, sentSequencesParseBackToTheirCode) {
  const TEscapeParams params = {"5", "10"};
  for (const Family &f : Families) {
    for (int i = 0; i < EscapeCodeCount; ++i) {
      const auto code = static_cast<TEscapeCode>(i);
      Recorder r = f.Make();
      const std::string sent = r.Parser->CodeToSequence(code, &params);
      if (sent.empty()) continue;
      SCOPED_TRACE(std::string(f.Name) + " " + Printable(sent));
      r.Feed(sent);
      ASSERT_EQ(r.Events.size(), 1u);
      EXPECT_TRUE(r.Events[0].IsCode);
      EXPECT_EQ(r.Events[0].Code, code);
      EXPECT_EQ(r.Events[0].Text, sent.substr(1));
    }
  }
}

} // namespace
