#pragma once
// The terminal's character grid: Columns × Rows cells and one tab stop per column, positions
// 1-based. It knows nothing of painting; whoever shows it listens through TComTermBufferView.
//
// Rows are kept in a ring, so scrolling the grid by one row moves no cells: a flood of lines into
// a 200 × 100 grid costs one cleared row per line, not a copy of the whole grid.
#include <cstdint>
#include <vector>

#include "platform/Color.h"

// One character position. A cell whose fields are all zero is empty and is never drawn.
struct TTermCell {
  TColor FrontColor = 0;
  TColor BackColor = 0;
  char Ch = 0;
  bool Underline = false;
  bool operator==(const TTermCell &) const = default;
};

// What a change of the grid means for its picture.
class TComTermBufferView {
public:
  virtual ~TComTermBufferView() = default;
  // The content moved by Delta rows (-1: up, +1: down); the uncovered row is empty.
  virtual void GridShifted(int Delta) = 0;
  // Cells FromCol … ToCol of Row were emptied.
  virtual void CellsCleared(int Row, int FromCol, int ToCol) = 0;
};

class TComTermBuffer {
public:
  static constexpr int MinColumns = 2;
  static constexpr int MaxColumns = 256;
  static constexpr int MinRows = 2;
  static constexpr int MaxRows = 100;
  static constexpr int TabWidth = 8;

  explicit TComTermBuffer(TComTermBufferView *View = nullptr) : FView(View) {}

  // Discards cells and tab stops and allocates Columns × Rows empty cells (each clamped to its
  // range) with tab stops at columns 1, 9, 17, … Does not notify: the caller repaints everything.
  void Initialise(int Columns, int Rows);
  int Columns() const { return FColumns; }
  int Rows() const { return FRows; }
  bool Contains(int Col, int Row) const { return Col >= 1 && Col <= FColumns && Row >= 1 && Row <= FRows; }

  // Outside the grid a write does nothing and a read gives an empty cell.
  void SetCell(int Col, int Row, const TTermCell &Cell) {
    if (Contains(Col, Row)) RowCells(Row)[Col - 1] = Cell;
  }
  TTermCell GetCell(int Col, int Row) const { return Contains(Col, Row) ? RowCells(Row)[Col - 1] : TTermCell{}; }
  // The Columns cells of a row (1 … Rows, not checked), for code that walks a whole row.
  TTermCell *RowCells(int Row) { return &FCells[PhysicalRow(Row) * static_cast<std::size_t>(FColumns)]; }
  const TTermCell *RowCells(int Row) const { return &FCells[PhysicalRow(Row) * static_cast<std::size_t>(FColumns)]; }

  // Rows 2 … Rows move up one row and the last row becomes empty.
  void ShiftUp();
  // Rows 1 … Rows−1 move down one row and the first row becomes empty.
  void ShiftDown();
  // Empties (Col, Row) … end of the row; columns below 1 count from 1.
  void ClearToLineEnd(int Col, int Row);
  // Empties (Col, Row) … end of the grid: the rest of the row and every row below.
  void ClearToGridEnd(int Col, int Row);

  // Outside 1 … Columns nothing happens.
  void SetTabAt(int Col, bool Set);
  bool TabAt(int Col) const { return Col >= 1 && Col <= FColumns && FTabs[static_cast<std::size_t>(Col) - 1]; }
  // The first column at or after Col with a tab stop, or 0 when there is none.
  int NextTabStop(int Col) const;
  void ClearTabStops();

private:
  std::size_t PhysicalRow(int Row) const {
    std::size_t p = FTop + static_cast<std::size_t>(Row - 1);
    return p >= static_cast<std::size_t>(FRows) ? p - static_cast<std::size_t>(FRows) : p;
  }
  void ClearRow(int Row, int FromCol);

  TComTermBufferView *FView = nullptr;
  int FColumns = 0;
  int FRows = 0;
  std::size_t FTop = 0; // physical index of row 1
  std::vector<TTermCell> FCells;
  std::vector<bool> FTabs;
};
