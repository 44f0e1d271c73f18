// The terminal control: received text into the grid (control characters, wrapping, scrolling,
// attributes, escape codes and replies, shrinking grids), parser choice and port binding; the
// view (caret, scroll ranges, painting and damage, fonts, size); the keyboard; a pseudo-terminal.
#include "serial/ComTerminal.h"

#include "tty/FakeSerialDevice.h"
#include "tty/PseudoTerminal.h"
#include "serial/ComPort.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <chrono>
#include <functional>
#include <optional>
#include <random>

using namespace std::chrono_literals;

namespace {

const std::string ESC = "\x1b";

// A grid row with empty cells as '.', trailing ones dropped.
std::string RowText(const TCustomComTerminal &t, int row) {
  std::string s;
  for (int c = 1; c <= t.Columns(); ++c)
    s += t.Buffer().GetCell(c, row).Ch ? t.Buffer().GetCell(c, row).Ch : '.';
  return s.erase(s.find_last_not_of('.') + 1);
}

// An open port on a scripted device without an event thread: writes can be read back at once.
struct OpenPort {
  std::shared_ptr<TFakeSerialDevice> Device = std::make_shared<TFakeSerialDevice>();
  TComPort Port;
  explicit OpenPort(bool open = true) {
    Port.SetDeviceFactory([d = Device] { return d; });
    Port.SetEvents({});
    if (open) Port.SetConnected(true);
  }
};

bool RunUntil(const std::function<bool()> &done) { return testsupport::RunLoopUntil(done, 5000ms, 5ms); }

// Hands the damage to Qt and lets Qt paint what was asked for, and only that.
void Settle(TCustomComTerminal &t) {
  t.FlushRepaint();
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents();
}

void ShowExposed(QWidget &w) {
  w.show();
  ASSERT_TRUE(RunUntil([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }));
  QCoreApplication::sendPostedEvents();
}

// What the window really shows (its backing store), unlike Render, which paints afresh.
QImage Screen(TCustomComTerminal &t) {
  const QImage w = t.screen()->grabWindow(t.window()->winId()).toImage().convertToFormat(QImage::Format_RGB32);
  return w.copy(QRect(t.viewport()->mapTo(t.window(), QPoint(0, 0)), t.viewport()->size()));
}

QImage Render(TCustomComTerminal &t) {
  QImage img(t.viewport()->size(), QImage::Format_RGB32);
  t.viewport()->render(&img);
  return img;
}

TColor PixelAt(const QImage &img, int x, int y) {
  const QRgb p = img.pixel(x, y);
  return RGBColor(qRed(p), qGreen(p), qBlue(p));
}

void Focus(TCustomComTerminal &t, bool in) {
  QFocusEvent e(in ? QEvent::FocusIn : QEvent::FocusOut, Qt::OtherFocusReason);
  QCoreApplication::sendEvent(&t, &e);
}

void Key(QWidget &w, int key, const QString &text = QString(), Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent e(QEvent::KeyPress, key, mods, text);
  QCoreApplication::sendEvent(&w, &e);
}

// The default terminal face at 17 pixels has 10 × 20 pixel cells.
void UseTenByTwenty(TCustomComTerminal &t) {
  TFont f;
  f.SetName("Fixedsys");
  f.SetHeight(-17);
  f.SetColor(clBlack);
  t.SetFont(f);
}

// A shown terminal without border and caret (shown windows take the focus) and 10 × 20 cells.
struct Shown {
  TComTerminal T;
  Shown(int width, int height, TScrollStyle bars = ssNone, int columns = 80, int rows = 24) {
    T.SetBorderStyle(bsNone);
    T.SetCaret(tcNone);
    T.SetScrollBars(bars);
    T.SetColor(clCream);
    UseTenByTwenty(T);
    T.SetColumns(columns);
    T.SetRows(rows);
    T.resize(width, height);
    ShowExposed(T);
    Settle(T);
  }
};

// ---------------------------------------------------------------------------------------------
// Model

TEST(ComTerminalGrid, inputPlacesTextAndCaret) {
  const std::string vt52Move = ESC + "Y" + char(36) + char(41); // row 5, column 10
  struct Case {
    const char *Name;
    TTermEmulation Emulation;
    int Columns, Rows;
    bool Wrap;
    std::string Input;
    std::vector<std::string> Rows1; // rows from row 1
    TPoint Caret;
  } cases[] = {
      {"CR LF", teNone, 80, 24, false, "AB\r\nC", {"AB", "C"}, {2, 2}},
      {"LF keeps the column", teNone, 80, 24, false, "AB\nC", {"AB", "..C"}, {4, 2}},
      {"tab from 1 to 9", teNone, 80, 24, false, "\tx", {"........x"}, {10, 1}},
      {"tab from 79 stays", teNone, 80, 24, false, std::string(78, '-') + "\tx", {std::string(78, '-') + "x"}, {80, 1}},
      {"backspace in column 1", teNone, 80, 24, false, "ab\r\bX", {"Xb"}, {2, 1}},
      {"85 characters without wrap", teNone, 80, 24, false, std::string(79, 'a') + "bcdef", {std::string(79, 'a') + "f"}, {80, 1}},
      {"81st character wraps", teNone, 80, 24, true, std::string(80, 'a') + "b", {std::string(80, 'a'), "b"}, {2, 2}},
      {"wrap on the last row scrolls first", teNone, 4, 2, true, "111122223", {"2222", "3"}, {2, 2}},
      {"LF on the last row scrolls", teNone, 80, 3, false, "top\r\nmid\r\nlow\r\nnew", {"mid", "low", "new"}, {4, 3}},
      {"bell and other controls show nothing", teNone, 80, 24, false, std::string("a\x01\x07\x0b\x1b\x00", 6) + "[b", {"a[b"}, {4, 1}},
      {"form feed", teVT100orANSI, 80, 24, false, "abc" + ESC + "[3g\fx\t", {"x"}, {9, 1}},
      {"erase line from caret", teVT100orANSI, 80, 24, false, "abcd\r\nefgh" + ESC + "[2;3H" + ESC + "[K", {"abcd", "ef"}, {3, 2}},
      {"erase line", teVT100orANSI, 80, 24, false, "abcd\r\nefgh" + ESC + "[2;3H" + ESC + "[2K", {"abcd", ""}, {1, 2}},
      {"erase screen from caret", teVT100orANSI, 80, 24, false, "ab\r\ncd\r\nef" + ESC + "[2;2H" + ESC + "[J", {"ab", "c", ""}, {2, 2}},
      {"erase screen", teVT100orANSI, 80, 24, false, "ab\r\ncd" + ESC + "[2J", {"", ""}, {1, 1}},
      {"tab stop set and cleared", teVT100orANSI, 80, 24, false, ESC + "[4C" + ESC + "H\r" + ESC + "[8C" + ESC + "[g\r\ty\tz", {"....y...........z"}, {18, 1}},
      {"all tab stops cleared", teVT100orANSI, 80, 24, false, ESC + "[3g\tx", {"x"}, {2, 1}},
      {"test pattern", teVT100orANSI, 3, 2, false, ESC + "#8", {"EEE", "EEE"}, {1, 1}},
      {"vt52 reverse line feed moves up", teVT52, 80, 24, false, "a\r\nb" + ESC + "I", {"a", "b"}, {2, 1}},
      {"vt52 reverse line feed on row 1 scrolls down", teVT52, 80, 3, false, "a\r\nb\r\nc" + ESC + "H" + ESC + "I", {"", "a", "b"}, {1, 1}},
      {"vt52 move", teVT52, 80, 24, false, vt52Move + "x", {"", "", "", "", ".........x"}, {11, 5}},
  };
  for (const Case &c : cases) {
    TComTerminal t;
    t.SetEmulation(c.Emulation);
    t.SetColumns(c.Columns);
    t.SetRows(c.Rows);
    t.SetWrapLines(c.Wrap);
    t.WriteString(c.Input);
    for (std::size_t r = 0; r < c.Rows1.size(); ++r)
      EXPECT_EQ(RowText(t, static_cast<int>(r) + 1), c.Rows1[r]) << c.Name << " row " << r + 1;
    EXPECT_EQ(t.CaretPos(), c.Caret) << c.Name;
  }
}

TEST(ComTerminalGrid, receivePathAndCharacterEvent) {
  struct Case {
    bool AppendLF, Force7Bit;
    std::string Received, HandlerSaw;
    TPoint Caret;
  } cases[] = {
      {true, false, "a\rb", "a\r\nb", {2, 2}},     // CR becomes CR LF
      {true, false, "a\r\nb", "a\r\n\nb", {2, 3}}, // CR LF becomes CR LF LF
      {false, false, "a\rb", "a\rb", {2, 1}},
      {false, true, "\xc1\x8d", "A\r", {1, 1}},
  };
  for (const Case &c : cases) {
    TComTerminal t;
    t.SetAppendLF(c.AppendLF);
    t.SetForce7Bit(c.Force7Bit);
    std::string saw, raised;
    t.OnStrRecieved = [&](TObject *, std::string &s) { saw = s; };
    t.OnChar = [&](TObject *, char ch) { raised += ch; };
    t.Link()->OnRxBuf(nullptr, c.Received.data(), static_cast<std::int32_t>(c.Received.size()));
    EXPECT_EQ(saw, c.HandlerSaw);
    EXPECT_EQ(raised, c.HandlerSaw); // every character, control characters too
    EXPECT_EQ(t.CaretPos(), c.Caret) << c.HandlerSaw;
  }
  TComTerminal t;
  t.OnStrRecieved = [](TObject *, std::string &s) { s = "changed"; };
  TPoint caretWhenRaised{};
  t.OnChar = [&](TObject *, char) { caretWhenRaised = t.CaretPos(); };
  t.Link()->OnRxBuf(nullptr, "abc", 3);
  EXPECT_EQ(RowText(t, 1), "changed");
  EXPECT_EQ(caretWhenRaised, (TPoint{8, 1})); // raised after the character moved the caret
}

TEST(ComTerminalAttributes, writtenCellsTakeTheirColours) {
  const TColor font = 0x030201, back = 0x060504, alt = 0x090807, red = 0x0000FF, green = 0x008000;
  struct Case {
    std::string Sequence;
    TColor Front, Back;
    bool Underline;
  } cases[] = {
      {"[m", font, back, false},         {"[1;31m", alt, back, false},   {"[1;31;21m", red, back, false},
      {"[7m", back, font, false},        {"[31;42;7m", green, red, false}, {"[7;1m", alt, font, false},
      {"[4m", font, back, true},         {"[4;24m", font, back, false},  {"[7;27m", font, back, false},
      {"[39;49m", 0x808080, 0x808080, false}, {"[31;4;7;1;0m", font, back, false},
      {"[2;5;38;50;-1;32m", green, back, false}, {"[;32m", alt, back, false}, // ";32" is no number: 1, bold
      {"[31;4m" + ESC + "c", font, back, false},
  };
  for (const Case &c : cases) {
    TComTerminal t;
    t.Font().SetColor(font);
    t.SetColor(back);
    t.SetAltColor(alt);
    t.WriteString(ESC + c.Sequence + "X");
    const TTermCell cell = t.Buffer().GetCell(1, 1);
    EXPECT_EQ(cell, (TTermCell{c.Front, c.Back, 'X', c.Underline})) << c.Sequence;
    // Changes afterwards leave the written cell alone.
    t.SetAltColor(1);
    t.SetColor(2);
    t.Font().SetColor(3);
    EXPECT_EQ(t.Buffer().GetCell(1, 1), cell) << c.Sequence;
  }
}

TEST(ComTerminalCodes, caretMovesAreClamped) {
  struct Case {
    std::string Input;                  // written after a move to (5, 5) ...
    TEscapeCode Code;                   // ... or, when Input is empty, this code performed
    std::optional<TEscapeParams> Params;
    TPoint Want;
  } cases[] = {
      {"[5;10H", {}, {}, {10, 5}},        {"[7;3f", {}, {}, {3, 7}},         {"[0;0H", {}, {}, {1, 1}},
      {"[999;999H", {}, {}, {80, 24}},   {"[H", {}, {}, {1, 1}},            {"[0A", {}, {}, {5, 5}},
      {"[2A", {}, {}, {5, 3}},           {"[A", {}, {}, {5, 4}},            {"[99A", {}, {}, {5, 1}},
      {"[2147483647B", {}, {}, {5, 24}}, {"[-2147483648D", {}, {}, {80, 5}}, {"[3C", {}, {}, {8, 5}},
      {"OA", {}, {}, {5, 4}},
      {"", ecCursorMove, TEscapeParams{"x", "y"}, {1, 1}},
      {"", ecCursorMove, std::nullopt, {1, 1}},
      {"", ecCursorHome, TEscapeParams{"3"}, {1, 3}},
      {"", ecCursorDown, TEscapeParams{"x"}, {5, 6}},
      {"", ecCursorLeft, std::nullopt, {4, 5}},
  };
  for (Case &c : cases) {
    TComTerminal t;
    t.MoveCaretTo(5, 5);
    if (c.Input.empty())
      EXPECT_TRUE(t.PerformCode(c.Code, c.Params ? &*c.Params : nullptr));
    else
      t.WriteString(ESC + c.Input);
    EXPECT_EQ(t.CaretPos(), c.Want) << c.Input << " " << c.Code;
  }
}

TEST(ComTerminalCodes, saveRestoreAndModes) {
  TComTerminal t;
  t.WriteString(ESC + "[5;5H" + ESC + "[u");
  EXPECT_EQ(t.CaretPos(), (TPoint{1, 1})); // nothing saved yet: (0, 0) clamps to (1, 1)
  t.WriteString(ESC + "[3;4H" + ESC + "[31;4m" + ESC + "7" + ESC + "[0m" + ESC + "[9;9H");
  const TTermAttributes normal = t.Attributes();
  t.WriteString(ESC + "8");
  EXPECT_EQ(t.CaretPos(), (TPoint{4, 3}));
  EXPECT_EQ(t.Attributes().FrontColor, clRed);
  EXPECT_TRUE(t.Attributes().Underline);
  t.WriteString(ESC + "[0m" + ESC + "[6;6H" + ESC + "[s" + ESC + "[1;1H" + ESC + "[u");
  EXPECT_EQ(t.CaretPos(), (TPoint{6, 6}));
  EXPECT_EQ(t.Attributes(), normal);

  t.WriteString("abc" + ESC + "[?1h" + ESC + "[?7h" + ESC + "[?3h");
  EXPECT_TRUE(t.AppCursorMode());
  EXPECT_TRUE(t.WrapLines());
  EXPECT_EQ(t.Columns(), 132);
  EXPECT_EQ(RowText(t, 6), ""); // cleared
  t.WriteString(ESC + "[?1l" + ESC + "[?7l" + ESC + "[?3l" + ESC + "[?9h" + ESC + "[h");
  EXPECT_FALSE(t.AppCursorMode());
  EXPECT_FALSE(t.WrapLines());
  EXPECT_EQ(t.Columns(), 80);
}

TEST(ComTerminalCodes, codesNotActedOnAreReportedOnly) {
  struct Case {
    TTermEmulation Emulation;
    std::string Input;
    TEscapeCode Code;
  } cases[] = {{teVT100orANSI, "x", ecUnknown},           {teVT100orANSI, "[5;7R", ecReportCursorPos},
               {teVT100orANSI, "OD", ecAppCursorLeft},    {teVT100orANSI, "[?1;2c", ecIdentResponse},
               {teVT52, "/Z", ecIdentResponse}};
  for (const Case &c : cases) {
    TComTerminal t;
    t.SetEmulation(c.Emulation);
    std::vector<std::pair<TEscapeCode, std::string>> seen;
    t.OnUnhandledCode = [&](TObject *, TEscapeCode code, const std::string &data) { seen.emplace_back(code, data); };
    t.WriteString(ESC + c.Input);
    EXPECT_EQ(seen, (std::vector<std::pair<TEscapeCode, std::string>>{{c.Code, c.Input}}));
    EXPECT_EQ(RowText(t, 1), "") << c.Input;
    EXPECT_TRUE(t.EscapeCodes()->Parameters().empty()) << c.Input;
  }

  const TEscapeCode ignored[] = {ecUnknown, ecNotCompleted, ecAppCursorLeft, ecAppCursorRight, ecAppCursorDown,
                                 ecIdentResponse, ecReportDeviceOK, ecReportDeviceFailure, ecReportCursorPos};
  TComTerminal t;
  for (int code = 0; code < EscapeCodeCount; ++code) {
    const bool acted = std::find(std::begin(ignored), std::end(ignored), code) == std::end(ignored);
    EXPECT_EQ(t.PerformCode(static_cast<TEscapeCode>(code)), acted) << code;
  }
}

TEST(ComTerminalCodes, queriesAreAnsweredThroughThePort) {
  struct Case {
    TTermEmulation Emulation;
    std::string Input, Sent;
  } cases[] = {
      {teVT100orANSI, ESC + "[3;7H" + ESC + "[6n", ESC + "[3;7R"},
      {teVT100orANSI, ESC + "[c" + ESC + "[0c", ESC + "[?1;2c" + ESC + "[?1;2c"},
      {teVT100orANSI, ESC + "[5n", ESC + "[0n"},
      {teVT52, ESC + "Z", ESC + "/Z"},
      {teVT52, ESC + "Y" + char(34) + char(38) + ESC + "[6n", ""}, // VT52 cannot report a position
  };
  for (const Case &c : cases) {
    OpenPort port;
    TComTerminal t;
    t.SetEmulation(c.Emulation);
    t.SetComPort(&port.Port);
    t.WriteString(c.Input);
    EXPECT_EQ(port.Device->TakeWritten(), c.Sent) << c.Input.substr(1);
  }
  // Callers without a list: the answering codes use one of their own.
  OpenPort port;
  TComTerminal t;
  t.SetComPort(&port.Port);
  t.MoveCaretTo(7, 3);
  EXPECT_TRUE(t.PerformCode(ecQueryCursorPos));
  EXPECT_TRUE(t.PerformCode(ecReset));
  EXPECT_EQ(port.Device->TakeWritten(), ESC + "[3;7R");
  TEscapeParams list{"junk"};
  t.PerformCode(ecQueryCursorPos, &list);
  EXPECT_EQ(list, (TEscapeParams{"3", "7"}));
}

TEST(ComTerminalCodes, sendingNeedsAnOpenPortAndAParser) {
  struct Case {
    bool HasPort, Open;
    TTermEmulation Emulation;
    std::string Sent;
  } cases[] = {{true, true, teVT100orANSI, ESC + "[A"}, {true, false, teVT100orANSI, ""},
               {false, false, teVT100orANSI, ""},        {true, true, teNone, ""}};
  for (const Case &c : cases) {
    OpenPort port(c.Open);
    TComTerminal t;
    t.SetEmulation(c.Emulation);
    if (c.HasPort) t.SetComPort(&port.Port);
    t.SetLocalEcho(true);
    t.MoveCaretTo(1, 5);
    t.TransmitCode(ecCursorUp);
    t.TransmitReply(ecCursorUp); // never echoed
    EXPECT_EQ(port.Device->TakeWritten(), c.Sent.empty() ? "" : c.Sent + c.Sent);
    EXPECT_EQ(t.CaretPos().Y, c.Sent.empty() ? 5 : 4); // only what was sent is echoed
  }
}

TEST(ComTerminalSize, clampedAndShrinkingKeepsBothCaretsInTheGrid) {
  TComTerminal clamp;
  clamp.SetColumns(1);
  clamp.SetRows(500);
  EXPECT_EQ(clamp.Columns(), 2);
  EXPECT_EQ(clamp.Rows(), 100);
  EXPECT_EQ(clamp.SavedCaret(), (TPoint{0, 0})); // unsaved stays unsaved

  struct Case {
    const char *Name;
    std::function<void(TComTerminal &)> Shrink;
    TPoint Caret, Saved;
  } cases[] = {
      {"columns", [](TComTerminal &t) { t.SetColumns(80); }, {80, 50}, {80, 90}},
      {"rows", [](TComTerminal &t) { t.SetRows(24); }, {100, 24}, {150, 24}},
      {"both to 2", [](TComTerminal &t) { t.SetColumns(2); t.SetRows(2); }, {2, 2}, {2, 2}},
      {"?3 off", [](TComTerminal &t) { t.WriteString(ESC + "[?3l"); }, {80, 50}, {80, 90}},
  };
  for (const Case &c : cases) {
    TComTerminal t;
    t.SetColumns(200);
    t.SetRows(100);
    t.WriteString(ESC + "[90;150H" + ESC + "[s" + ESC + "[50;100H");
    c.Shrink(t);
    EXPECT_EQ(t.CaretPos(), c.Caret) << c.Name;
    EXPECT_EQ(t.SavedCaret(), c.Saved) << c.Name;
    t.WriteString("X" + ESC + "[uY");
    EXPECT_EQ(t.Buffer().GetCell(c.Saved.X, c.Saved.Y).Ch, 'Y') << c.Name;
  }
}

// Random bytes rich in sequence characters, with the grid resized in between: the caret stays in
// the grid (and the sanitizer build sees every cell access).
TEST(ComTerminalSize, randomInputNeverLeavesTheGrid) {
  const char alphabet[] = "\x1b\x1b[[[;;0123456789?AaBbCcDdfHhJKlmnRsu#8OYZ/I\r\n\t\b\f x";
  std::mt19937 rng(7);
  for (TTermEmulation e : {teVT100orANSI, teVT52}) {
    TComTerminal t;
    t.SetEmulation(e);
    t.SetWrapLines(true);
    for (int block = 0; block < 300; ++block) {
      std::string s;
      for (int i = 0; i < 64; ++i)
        s += alphabet[rng() % (sizeof alphabet - 1)];
      t.WriteString(s);
      if (block % 37 == 0) t.SetColumns(2 + static_cast<int>(rng() % 140));
      if (block % 53 == 0) t.SetRows(2 + static_cast<int>(rng() % 40));
      ASSERT_TRUE(t.Buffer().Contains(t.CaretPos().X, t.CaretPos().Y)) << block;
      ASSERT_LE(t.SavedCaret().X, t.Columns());
      ASSERT_LE(t.SavedCaret().Y, t.Rows());
    }
  }
}

TEST(ComTerminalGrid, textRunsMatchCharacterByCharacter) {
  // A terminal with an OnChar handler takes every character on its own; one without takes runs
  // of text a row at a time. Both must end with the same cells and caret, however split.
  const std::string pieces[] = {"x", "lorem ipsum dolor sit amet ", "0123456789abcdefghij0123456789abcdefghijXYZ",
                                "\r\n", "\n", "\t", "\b", "\x7f\xe4", ESC + "[1m", ESC + "[7m", ESC + "[0m",
                                ESC + "[4m", ESC + "[2;5H", ESC + "[K", ESC + "Y", ESC + "H", ESC};
  std::mt19937 rng(16);
  for (TTermEmulation e : {teVT100orANSI, teVT52, teNone})
    for (bool wrap : {false, true})
      for (int columns : {2, 7, 40}) {
        TComTerminal runs, single;
        std::size_t seen = 0;
        single.OnChar = [&](TObject *, char) { ++seen; };
        for (TComTerminal *t : {&runs, &single}) {
          t->SetEmulation(e);
          t->SetWrapLines(wrap);
          t->SetColumns(columns);
          t->SetRows(4);
        }
        std::string stream;
        for (int i = 0; i < 400; ++i) stream += pieces[rng() % std::size(pieces)];
        for (std::size_t at = 0; at < stream.size();) {
          const std::size_t n = std::min<std::size_t>(1 + rng() % 90, stream.size() - at);
          runs.WriteString(stream.substr(at, n));
          single.WriteString(stream.substr(at, n));
          at += n;
        }
        SCOPED_TRACE(testing::Message() << "emulation " << e << " wrap " << wrap << " columns " << columns);
        EXPECT_GT(seen, 0u);
        EXPECT_EQ(runs.CaretPos().X, single.CaretPos().X);
        EXPECT_EQ(runs.CaretPos().Y, single.CaretPos().Y);
        for (int row = 1; row <= 4; ++row)
          for (int col = 1; col <= columns; ++col)
            ASSERT_EQ(runs.Buffer().GetCell(col, row), single.Buffer().GetCell(col, row)) << col << "," << row;
      }
}

TEST(ComTerminalParser, emulationHandlerAndLoadingChooseTheParser) {
  TComTerminal t;
  EXPECT_STREQ(t.EscapeCodes()->ClassName(), "TEscapeCodesVT100");
  t.SetEmulation(teVT52);
  EXPECT_STREQ(t.EscapeCodes()->ClassName(), "TEscapeCodesVT52");
  t.SetEmulation(teNone);
  EXPECT_EQ(t.EscapeCodes(), nullptr);

  t.OnGetEscapeCodes = [&](TObject *sender, std::unique_ptr<TEscapeCodes> &codes) {
    EXPECT_EQ(sender, &t);
    EXPECT_EQ(codes, nullptr);
    codes = std::make_unique<TEscapeCodesVT52>();
  };
  t.SetEmulation(teVT100orANSI);
  t.SetEmulation(teNone);
  ASSERT_NE(t.EscapeCodes(), nullptr);
  t.WriteString(ESC + "Y" + char(33) + char(34) + "x");
  EXPECT_EQ(t.Buffer().GetCell(3, 2).Ch, 'x');

  t.BeginLoading();
  t.SetEmulation(teVT100orANSI);
  EXPECT_STREQ(t.EscapeCodes()->ClassName(), "TEscapeCodesVT52"); // only stored while loading
  t.Loaded();
  EXPECT_STREQ(t.EscapeCodes()->ClassName(), "TEscapeCodesVT100");
  EXPECT_EQ(RowText(t, 2), ""); // the grid is initialised after loading
}

TEST(ComTerminalPort, bindingConnectingAndRemoval) {
  TComTerminal t;
  const TComLink *link = t.Link();
  {
    OpenPort port;
    OpenPort other;
    t.SetComPort(&port.Port);
    EXPECT_TRUE(port.Port.HasLink(link));
    EXPECT_TRUE(t.Connected());
    t.SetConnected(false);
    EXPECT_FALSE(port.Port.Connected());
    EXPECT_FALSE(t.Connected());
    t.SetConnected(true);
    EXPECT_TRUE(port.Port.Connected());
    t.SetComPort(&other.Port);
    EXPECT_FALSE(port.Port.HasLink(link));
    EXPECT_TRUE(other.Port.HasLink(link));
    {
      TComTerminal gone;
      gone.SetComPort(&other.Port);
      link = gone.Link();
    }
    EXPECT_FALSE(other.Port.HasLink(link));
  }
  EXPECT_EQ(t.ComPort(), nullptr); // the destroyed port cleared itself
  t.SetConnected(true);
  t.TransmitChar('a');
  EXPECT_FALSE(t.Connected());
}

// ---------------------------------------------------------------------------------------------
// View

TEST(ComTerminalView, caretGeometryForATenByTwentyFont) {
  TComTerminal t;
  UseTenByTwenty(t);
  ASSERT_EQ(t.CellWidth(), 10);
  ASSERT_EQ(t.CellHeight(), 20);
  struct Case {
    TTermCaret Shape;
    TPoint Caret;
    QRect Want;
  } cases[] = {{tcUnderline, {1, 1}, QRect(0, 18, 10, 2)}, {tcUnderline, {4, 3}, QRect(30, 58, 10, 2)},
               {tcBlock, {4, 3}, QRect(30, 40, 10, 20)},   {tcNone, {4, 3}, QRect()}};
  for (const Case &c : cases) {
    t.SetCaret(c.Shape);
    t.MoveCaretTo(c.Caret.X, c.Caret.Y);
    EXPECT_FALSE(t.CaretCreated());
    Focus(t, true);
    EXPECT_EQ(t.CaretRect(), c.Want) << c.Shape;
    t.SetCaret(c.Shape == tcBlock ? tcUnderline : tcBlock); // recreated while focused
    EXPECT_EQ(t.CaretHeight(), c.Shape == tcBlock ? 2 : 20);
    t.SetCaret(c.Shape);
    Focus(t, false);
    EXPECT_FALSE(t.CaretCreated());
    EXPECT_EQ(t.CaretRect(), QRect());
  }
}

TEST(ComTerminalView, horizontalScrollingOf200ColumnsIn1050Pixels) {
  Shown s(1050, 400, ssHorizontal, 200, 100);
  QScrollBar *bar = s.T.horizontalScrollBar();
  EXPECT_EQ(bar->maximum(), 95);
  EXPECT_EQ(bar->pageStep(), 105);
  EXPECT_EQ(s.T.verticalScrollBar()->maximum(), 0);
  s.T.WriteString(ESC + "[1;96H" + ESC + "[41m " + ESC + "[1;200H" + ESC + "[42m ");
  bar->setValue(95);
  EXPECT_EQ(s.T.TopLeft(), (TPoint{96, 1}));
  Settle(s.T);
  const QImage img = Screen(s.T);
  EXPECT_EQ(PixelAt(img, 0, 0), clRed);      // column 96 first …
  EXPECT_EQ(PixelAt(img, 1049, 0), clGreen); // … and column 200 last

  struct Step {
    QAbstractSlider::SliderAction Action;
    int Column;
  } steps[] = {{QAbstractSlider::SliderToMinimum, 96},  {QAbstractSlider::SliderPageStepSub, 1},
               {QAbstractSlider::SliderSingleStepAdd, 2}, {QAbstractSlider::SliderPageStepAdd, 96},
               {QAbstractSlider::SliderSingleStepSub, 95}, {QAbstractSlider::SliderToMaximum, 95}};
  for (const Step &st : steps) {
    bar->triggerAction(st.Action);
    EXPECT_EQ(s.T.TopLeft().X, st.Column) << st.Action;
  }
  for (bool smooth : {false, true}) {
    s.T.SetSmoothScroll(smooth);
    bar->setSliderDown(true);
    bar->setSliderPosition(smooth ? 40 : 20);
    EXPECT_EQ(s.T.TopLeft().X, smooth ? 41 : 95) << smooth; // the view follows the drag only when smooth
    bar->setSliderDown(false);
    EXPECT_EQ(s.T.TopLeft().X, smooth ? 41 : 21) << smooth;
  }
}

// After a flood the view shows the newest lines at the caret, as a terminal does; a user who
// scrolled back keeps their place until they scroll to the caret again or clear the terminal.
TEST(ComTerminalView, theViewFollowsTheCaretUnlessTheUserScrolledBack) {
  Shown s(800, 200, ssVertical, 80, 100); // ten rows in view
  QScrollBar *bar = s.T.verticalScrollBar();
  const auto flood = [&](int from, int count) {
    for (int i = from; i < from + count; ++i)
      s.T.WriteString("line " + std::to_string(i) + "\r\n");
    Settle(s.T);
  };
  flood(0, 5);
  EXPECT_EQ(s.T.TopLeft().Y, 1) << "the caret is in view: nothing moves";
  flood(5, 500);
  EXPECT_EQ(s.T.CaretPos().Y, 100);
  EXPECT_EQ(s.T.TopLeft().Y, 91) << "the last ten rows, the caret's among them";
  EXPECT_EQ(RowText(s.T, 99), "line 504");
  EXPECT_EQ(Screen(s.T), Render(s.T));

  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(s.T.TopLeft().Y, 81);
  flood(505, 50);
  EXPECT_EQ(s.T.TopLeft().Y, 81) << "scrolled back: the view stays";

  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  flood(555, 50);
  EXPECT_EQ(s.T.TopLeft().Y, 91) << "back at the caret: following again";

  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  s.T.EraseAll();
  Settle(s.T);
  EXPECT_EQ(s.T.TopLeft().Y, 1) << "cleared: the caret at the top is followed";
  EXPECT_EQ(Screen(s.T), Render(s.T));
}

TEST(ComTerminalView, fontsAndAutoSize) {
  TComTerminal t;
  EXPECT_EQ(t.Font().Name(), "Fixedsys");
  t.Font().SetName("Arial");
  EXPECT_EQ(t.Font().Name(), "Fixedsys"); // a proportional face is replaced
  t.Font().SetName("Courier");
  t.Font().SetStyle(fsBold | fsUnderline);
  EXPECT_EQ(t.Font().Name(), "Courier");
  EXPECT_EQ(t.Font().Style(), fsBold);
  t.Font().SetColor(clLime);
  EXPECT_EQ(t.Attributes().FrontColor, clLime);

  struct Case {
    TBorderStyle Border;
    bool Ctl3D;
    int Extra;
  } cases[] = {{bsNone, true, 0}, {bsSingle, true, 4}, {bsSingle, false, 2}};
  for (const Case &c : cases) {
    TComTerminal a;
    UseTenByTwenty(a);
    a.SetBorderStyle(c.Border);
    a.SetCtl3D(c.Ctl3D);
    a.SetAutoSize(true);
    a.SetColumns(30);
    a.SetRows(5);
    EXPECT_EQ(a.size(), QSize(300 + c.Extra, 100 + c.Extra)) << c.Border << c.Ctl3D;
  }
}

TEST(ComTerminalPaint, cellsAndCaretArePainted) {
  Shown s(400, 200);
  s.T.WriteString(" " + ESC + "[7m " + ESC + "[0;4m " + ESC + "[0;31;44m " + ESC + "[0m");
  Settle(s.T);
  QImage img = Screen(s.T);
  EXPECT_EQ(PixelAt(img, 0, 0), clCream);
  EXPECT_EQ(PixelAt(img, 10, 0), clBlack); // reverse: the back is the font colour
  EXPECT_EQ(PixelAt(img, 30, 0), clBlue);
  EXPECT_EQ(PixelAt(img, 45, 45), clCream); // empty cells keep the background
  const auto ink = [&img](int x) {
    int n = 0;
    for (int y = 0; y < 20; ++y)
      n += PixelAt(img, x, y) != clCream;
    return n;
  };
  EXPECT_EQ(ink(5), 0);
  EXPECT_GT(ink(25), 0); // the underlined space

  s.T.SetCaret(tcBlock);
  s.T.MoveCaretTo(3, 2);
  Focus(s.T, true);
  Settle(s.T);
  img = Screen(s.T);
  EXPECT_EQ(PixelAt(img, 25, 25), static_cast<TColor>(clCream ^ 0xFFFFFF)); // inverted
  Focus(s.T, false);
  Settle(s.T);
  EXPECT_EQ(PixelAt(Screen(s.T), 25, 25), clCream);
}

TEST(ComTerminalPaint, onlyDamagedCellsAreRepainted) {
  struct Case {
    std::string Input; // after the caret was put at (3, 2)
    QRegion Want;
  } cases[] = {
      {"ab", QRegion(20, 20, 20, 20)},
      {"ab\r\nc", QRegion(20, 20, 20, 20) + QRegion(0, 40, 10, 20)},
      {ESC + "[5;5H", QRegion()},
      {ESC + "[K", QRegion(20, 20, 780, 20)},
      {ESC + "[J", QRegion(20, 20, 780, 20) + QRegion(0, 40, 800, 440)},
      {"\f", QRegion(0, 0, 800, 480)},
  };
  for (const Case &c : cases) {
    Shown s(800, 480);
    s.T.MoveCaretTo(3, 2);
    Settle(s.T);
    s.T.WriteString(c.Input);
    const TTermRepaint plan = s.T.PendingRepaint();
    EXPECT_TRUE((plan.Full ? QRegion(0, 0, 800, 480) : plan.Region).xored(c.Want).isEmpty()) << c.Input;
    EXPECT_EQ(plan.ScrollPixels, 0);
  }
}

TEST(ComTerminalPaint, scrollingMovesPixelsAndFloodsRepaintOnce) {
  Shown s(800, 100, ssNone, 80, 5);
  s.T.WriteString("1\r\n2\r\n3\r\n4\r\n5");
  Settle(s.T);
  s.T.WriteString("\r\nx");
  TTermRepaint plan = s.T.PendingRepaint();
  ASSERT_FALSE(plan.Full);
  EXPECT_EQ(plan.ScrollPixels, -20);
  EXPECT_EQ(plan.ScrollArea, QRect(0, 0, 800, 100));
  EXPECT_EQ(plan.Region, QRegion(0, 80, 800, 20)); // only the new last row
  Settle(s.T);
  EXPECT_EQ(Screen(s.T), Render(s.T));

  for (int i = 0; i < 1000; ++i)
    s.T.WriteString("line " + std::to_string(i) + "\r\n");
  EXPECT_TRUE(s.T.PendingRepaint().Full); // past the whole screen: one plain repaint
  Settle(s.T);
  plan = s.T.PendingRepaint();
  EXPECT_TRUE(!plan.Full && plan.Region.isEmpty() && plan.ScrollPixels == 0);
}

// Writing, scrolling both ways, caret moves and flushes that Qt has not painted yet: after each
// settled step the screen equals a fresh paint.
TEST(ComTerminalPaint, screenAlwaysMatchesAFreshPaint) {
  QApplication::setCursorFlashTime(0); // no blinking between the two pictures
  Shown s(200, 120, ssBoth, 80, 6);
  s.T.SetCaret(tcBlock);
  Focus(s.T, true);
  const std::function<void(TComTerminal &)> steps[] = {
      [](TComTerminal &t) { t.WriteString("one\r\ntwo\r\nthree"); },
      [](TComTerminal &t) { t.WriteString(ESC + "[7mrev" + ESC + "[0m\r\n\r\n\r\n\r\nlast"); },
      [](TComTerminal &t) {
        t.WriteString("\r\nA");
        t.FlushRepaint(); // not painted before the next scroll
        t.WriteString("\r\nB");
      },
      [](TComTerminal &t) { t.WriteString(ESC + "[2;3H" + ESC + "[K"); },
      [](TComTerminal &t) {
        t.SetEmulation(teVT52);
        t.WriteString(ESC + "H" + ESC + "I"); // down one row
        t.FlushRepaint();
        t.MoveCaretTo(15, 6);
        t.WriteString("\n\n");
        t.SetEmulation(teVT100orANSI);
      },
      [](TComTerminal &t) { t.horizontalScrollBar()->setValue(3); },
      [](TComTerminal &t) {
        t.WriteString("tail");
        t.FlushRepaint();
        t.horizontalScrollBar()->setValue(0);
      },
      [](TComTerminal &t) { t.verticalScrollBar()->setValue(0); },
      [](TComTerminal &t) { t.SetCaret(tcUnderline); t.WriteString("\f"); },
  };
  for (std::size_t n = 0; n < std::size(steps); ++n) {
    steps[n](s.T);
    Settle(s.T);
    const QImage screen = Screen(s.T), fresh = Render(s.T);
    EXPECT_EQ(screen, fresh) << "step " << n;
    if (screen != fresh) { screen.save(QString("/tmp/h16/screen%1.png").arg(n)); fresh.save(QString("/tmp/h16/fresh%1.png").arg(n)); }
  }
}

// ---------------------------------------------------------------------------------------------
// Keyboard

TEST(ComTerminalKeys, typedCharactersWithSendLFLocalEchoAndThePortState) {
  struct Case {
    bool Open, SendLF, LocalEcho;
    std::string Sent, Shown;
    TPoint Caret;
  } cases[] = {
      {true, true, true, "\r\n", "", {1, 2}},    {true, true, false, "\r\n", "", {3, 1}},
      {true, false, true, "\r", "", {1, 1}},     {true, false, false, "\r", "", {3, 1}},
      {true, false, true, "h\xe4\x80", "..h\xe4\x80", {6, 1}},
      {false, true, true, "", "", {3, 1}}, // closed: nothing sent, nothing shown
  };
  for (const Case &c : cases) {
    OpenPort port(c.Open);
    TComTerminal t;
    t.SetComPort(&port.Port);
    t.SetSendLF(c.SendLF);
    t.SetLocalEcho(c.LocalEcho);
    t.MoveCaretTo(3, 1);
    if (c.Shown.empty()) {
      Key(t, Qt::Key_Return, "\r");
    } else {
      Key(t, Qt::Key_H, "h");
      Key(t, 0, QString(QChar(0x00E4)));
      Key(t, 0, QString(QChar(0x20AC))); // the euro sign is byte 128 of the code page
      Key(t, 0, QString(QChar(0x4E2D))); // no byte for this one: dropped
    }
    EXPECT_EQ(port.Device->TakeWritten(), c.Sent);
    EXPECT_EQ(RowText(t, 1), c.Shown);
    EXPECT_EQ(t.CaretPos(), c.Caret) << c.Sent;
  }

  OpenPort port;
  TComTerminal t;
  t.SetComPort(&port.Port);
  t.OnKeyDown = [](TObject *, int &key, TShiftState shift) {
    EXPECT_EQ(shift, ssCtrl);
    if (key == Qt::Key_B) key = 0; // swallowed
  };
  t.OnKeyPress = [](TObject *, char &ch) { ch = ch == 'a' ? 'A' : ch == 'c' ? 0 : ch; };
  for (const char *k : {"a", "b", "c"})
    Key(t, Qt::Key_A + (k[0] - 'a'), k, Qt::ControlModifier);
  EXPECT_EQ(port.Device->TakeWritten(), "A");
}

TEST(ComTerminalKeys, arrowKeysInEveryMode) {
  struct Case {
    TArrowKeys Arrows;
    bool AppMode, Echo;
    TTermEmulation Emulation;
    int Key;
    std::string Sent;
    TPoint Caret; // from (5, 5)
  } cases[] = {
      {akTerminal, false, false, teVT100orANSI, Qt::Key_Left, ESC + "[D", {5, 5}},
      {akTerminal, false, true, teVT100orANSI, Qt::Key_Left, ESC + "[D", {4, 5}},
      {akTerminal, false, false, teVT100orANSI, Qt::Key_Home, ESC + "[H", {5, 5}},
      {akTerminal, false, false, teVT52, Qt::Key_Right, ESC + "C", {5, 5}},
      {akTerminal, false, false, teNone, Qt::Key_Down, "", {5, 5}},
      {akWindows, false, false, teVT100orANSI, Qt::Key_Left, "", {4, 5}},
      {akWindows, false, false, teVT100orANSI, Qt::Key_Up, "", {5, 4}},
      {akWindows, false, false, teVT100orANSI, Qt::Key_Home, "", {1, 1}},
      {akWindows, false, false, teNone, Qt::Key_Right, "", {6, 5}},
      {akTerminal, true, false, teVT100orANSI, Qt::Key_Up, ESC + "OA", {5, 5}},
      {akWindows, true, false, teVT100orANSI, Qt::Key_Down, ESC + "OB", {5, 5}},
      {akWindows, true, false, teVT100orANSI, Qt::Key_Right, ESC + "OC", {5, 5}},
      {akTerminal, true, true, teVT100orANSI, Qt::Key_Left, ESC + "OD", {5, 5}},
      {akWindows, true, false, teVT100orANSI, Qt::Key_Home, "", {5, 5}},
      {akTerminal, true, false, teVT52, Qt::Key_Up, "", {5, 5}},
      {akWindows, false, false, teVT100orANSI, Qt::Key_F5, "", {5, 5}},
  };
  for (const Case &c : cases) {
    OpenPort port;
    TComTerminal t;
    t.SetComPort(&port.Port);
    t.SetArrowKeys(c.Arrows);
    t.SetLocalEcho(c.Echo);
    if (c.AppMode) t.WriteString(ESC + "[?1h");
    t.SetEmulation(c.Emulation);
    t.MoveCaretTo(5, 5);
    Key(t, c.Key);
    EXPECT_EQ(port.Device->TakeWritten(), c.Sent) << c.Key << " " << c.Arrows << c.AppMode;
    EXPECT_EQ(t.CaretPos(), c.Caret) << c.Key << " " << c.Arrows << c.AppMode;
  }
}

TEST(ComTerminalKeys, tabMovesTheFocusUnlessWanted) {
  for (bool wantTab : {false, true}) {
    OpenPort port;
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *t = new TComTerminal(&window);
    auto *next = new QLineEdit(&window);
    layout->addWidget(t);
    layout->addWidget(next);
    t->SetComPort(&port.Port);
    t->SetWantTab(wantTab);
    ShowExposed(window);
    window.activateWindow();
    t->setFocus();
    ASSERT_TRUE(RunUntil([&] { return QApplication::focusWidget() == t; }));
    Key(*t, Qt::Key_Tab, "\t");
    EXPECT_EQ(port.Device->TakeWritten(), wantTab ? "\t" : "");
    EXPECT_EQ(QApplication::focusWidget(), wantTab ? static_cast<QWidget *>(t) : next);
  }
}

TEST(ComTerminalPty, receivedBytesAppearAndTypedKeysArrive) {
  TPseudoTerminal pty;
  ASSERT_EQ(pty.Open(), 0);
  TComPort port;
  port.SetPort(pty.SlavePath());
  TComTerminal t;
  t.SetComPort(&port);
  t.SetConnected(true);
  ASSERT_TRUE(t.Connected());
  ASSERT_EQ(pty.Send("hello\r\n" + ESC + "[31mworld", 2000ms), 17u);
  ASSERT_TRUE(RunUntil([&] { return RowText(t, 2) == "world"; })) << RowText(t, 1) << "|" << RowText(t, 2);
  EXPECT_EQ(RowText(t, 1), "hello");
  EXPECT_EQ(t.Buffer().GetCell(1, 2).FrontColor, clRed);
  Key(t, Qt::Key_O, "o");
  Key(t, Qt::Key_K, "k");
  Key(t, Qt::Key_Up);
  EXPECT_EQ(pty.Receive(5, 2000ms), "ok" + ESC + "[A");
  t.SetConnected(false);
  EXPECT_FALSE(port.Connected());
}

} // namespace
