// The character grid on its own: sizes, cells outside the grid, the row ring under long runs of
// shifts checked against a plain model, clearing, tab stops, and what the view is told.
#include "serial/ComTermBuffer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct Recorder : TComTermBufferView {
  std::vector<std::string> Log;
  void GridShifted(int Delta) override { Log.push_back("shift " + std::to_string(Delta)); }
  void CellsCleared(int Row, int FromCol, int ToCol) override {
    Log.push_back("clear " + std::to_string(Row) + ":" + std::to_string(FromCol) + "-" + std::to_string(ToCol));
  }
};

TTermCell Cell(char ch) { return TTermCell{0x112233, 0x445566, ch, false}; }

std::string RowText(const TComTermBuffer &b, int row) {
  std::string s;
  for (int c = 1; c <= b.Columns(); ++c) {
    const char ch = b.GetCell(c, row).Ch;
    s += ch ? ch : '.';
  }
  return s;
}

TEST(ComTermBuffer, sizeIsClampedAndPositionsOutsideAreIgnored) {
  struct Case {
    int Cols, Rows, WantCols, WantRows;
  } cases[] = {{80, 24, 80, 24}, {1, 1, 2, 2}, {-5, 0, 2, 2}, {300, 500, 256, 100}};
  for (const Case &c : cases) {
    TComTermBuffer b;
    b.Initialise(c.Cols, c.Rows);
    EXPECT_EQ(b.Columns(), c.WantCols);
    EXPECT_EQ(b.Rows(), c.WantRows);
    for (auto [col, row] : {std::pair{0, 1}, {c.WantCols + 1, 1}, {1, 0}, {1, c.WantRows + 1}, {-1, 1 << 30}}) {
      b.SetCell(col, row, Cell('z'));
      EXPECT_EQ(b.GetCell(col, row), TTermCell{}) << col << "," << row;
    }
  }
  // Initialising again discards cells, tab stops and the ring's origin.
  TComTermBuffer b;
  b.Initialise(4, 2);
  b.SetCell(2, 2, Cell('x'));
  b.SetTabAt(3, true);
  b.ShiftUp();
  b.Initialise(4, 2);
  EXPECT_EQ(RowText(b, 1) + RowText(b, 2), "........");
  EXPECT_FALSE(b.TabAt(3));
}

TEST(ComTermBuffer, tabStopsEveryEighthColumnAndTheNextStopSearch) {
  TComTermBuffer b;
  b.Initialise(20, 2);
  struct Case {
    int From, Want;
  } cases[] = {{1, 1}, {2, 9}, {9, 9}, {10, 17}, {17, 17}, {18, 0}, {21, 0}, {0, 1}, {-3, 1}};
  for (const Case &c : cases)
    EXPECT_EQ(b.NextTabStop(c.From), c.Want) << c.From;

  b.SetTabAt(12, true);
  b.SetTabAt(9, false);
  b.SetTabAt(0, true);  // outside: ignored
  b.SetTabAt(21, true); // outside: ignored
  EXPECT_EQ(b.NextTabStop(2), 12);
  EXPECT_EQ(b.NextTabStop(13), 17);
  EXPECT_EQ(b.NextTabStop(18), 0);
  b.ClearTabStops();
  EXPECT_EQ(b.NextTabStop(1), 0);
}

TEST(ComTermBuffer, clearingEmptiesTheRangeAndReportsEachRow) {
  struct Case {
    const char *Name;
    bool ToGridEnd;
    int Col, Row;
    std::vector<std::string> Rows;
    std::vector<std::string> Log;
  } cases[] = {
      {"line from middle", false, 3, 2, {"aaaa", "bb..", "cccc"}, {"clear 2:3-4"}},
      {"line from column 1", false, 1, 3, {"aaaa", "bbbb", "...."}, {"clear 3:1-4"}},
      {"line from below column 1", false, -7, 1, {"....", "bbbb", "cccc"}, {"clear 1:1-4"}},
      {"line right of the grid", false, 5, 1, {"aaaa", "bbbb", "cccc"}, {}},
      {"line below the grid", false, 1, 4, {"aaaa", "bbbb", "cccc"}, {}},
      {"grid from middle", true, 2, 2, {"aaaa", "b...", "...."}, {"clear 2:2-4", "clear 3:1-4"}},
      {"grid from origin", true, 1, 1, {"....", "....", "...."}, {"clear 1:1-4", "clear 2:1-4", "clear 3:1-4"}},
      {"grid from last cell", true, 4, 3, {"aaaa", "bbbb", "ccc."}, {"clear 3:4-4"}},
      {"grid right of a row", true, 9, 2, {"aaaa", "bbbb", "...."}, {"clear 3:1-4"}},
      {"grid below the grid", true, 1, 7, {"aaaa", "bbbb", "cccc"}, {}},
  };
  for (const Case &c : cases) {
    Recorder view;
    TComTermBuffer b(&view);
    b.Initialise(4, 3);
    for (int r = 1; r <= 3; ++r)
      for (int col = 1; col <= 4; ++col)
        b.SetCell(col, r, Cell(static_cast<char>('a' + r - 1)));
    if (c.ToGridEnd)
      b.ClearToGridEnd(c.Col, c.Row);
    else
      b.ClearToLineEnd(c.Col, c.Row);
    EXPECT_EQ((std::vector<std::string>{RowText(b, 1), RowText(b, 2), RowText(b, 3)}), c.Rows) << c.Name;
    EXPECT_EQ(view.Log, c.Log) << c.Name;
  }
}

TEST(ComTermBuffer, shiftsMoveRowsAndEmptyTheUncoveredOne) {
  Recorder view;
  TComTermBuffer b(&view);
  b.Initialise(3, 3);
  for (int r = 1; r <= 3; ++r)
    b.SetCell(1, r, Cell(static_cast<char>('0' + r)));
  b.ShiftUp();
  EXPECT_EQ(RowText(b, 1) + "|" + RowText(b, 2) + "|" + RowText(b, 3), "2..|3..|...");
  b.ShiftDown();
  EXPECT_EQ(RowText(b, 1) + "|" + RowText(b, 2) + "|" + RowText(b, 3), "...|2..|3..");
  EXPECT_EQ(view.Log, (std::vector<std::string>{"shift -1", "shift 1"}));
}

// Thousands of operations against a plain vector-of-rows model: the ring must agree with it
// after every step, through many wrap-arounds in both directions.
TEST(ComTermBuffer, ringAgreesWithAPlainModelThroughManyShifts) {
  const int cols = 5;
  const int rows = 4;
  TComTermBuffer b;
  b.Initialise(cols, rows);
  std::vector<std::string> model(rows, std::string(cols, '.'));
  std::mt19937 rng(12345);
  for (int step = 0; step < 5000; ++step) {
    const int op = static_cast<int>(rng() % 5);
    const int c = static_cast<int>(rng() % cols) + 1;
    const int r = static_cast<int>(rng() % rows) + 1;
    const char ch = static_cast<char>('A' + rng() % 26);
    switch (op) {
    case 0:
    case 1:
      b.SetCell(c, r, Cell(ch));
      model[r - 1][c - 1] = ch;
      break;
    case 2:
      b.ShiftUp();
      model.erase(model.begin());
      model.push_back(std::string(cols, '.'));
      break;
    case 3:
      b.ShiftDown();
      model.pop_back();
      model.insert(model.begin(), std::string(cols, '.'));
      break;
    case 4:
      b.ClearToLineEnd(c, r);
      for (int i = c; i <= cols; ++i)
        model[r - 1][i - 1] = '.';
      break;
    }
    for (int row = 1; row <= rows; ++row)
      ASSERT_EQ(RowText(b, row), model[row - 1]) << "step " << step << " row " << row;
  }
}

} // namespace
