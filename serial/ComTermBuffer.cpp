#include "serial/ComTermBuffer.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace {

// An empty cell is all zero bytes, so emptying a row is one memset.
static_assert(std::is_trivially_copyable_v<TTermCell>);
void Empty(TTermCell *from, TTermCell *to) {
  std::memset(static_cast<void *>(from), 0, static_cast<std::size_t>(to - from) * sizeof(TTermCell));
}

} // namespace

void TComTermBuffer::Initialise(int Columns, int Rows) {
  FColumns = std::clamp(Columns, MinColumns, MaxColumns);
  FRows = std::clamp(Rows, MinRows, MaxRows);
  FTop = 0;
  FCells.assign(static_cast<std::size_t>(FColumns) * static_cast<std::size_t>(FRows), TTermCell{});
  FTabs.assign(static_cast<std::size_t>(FColumns), false);
  for (int c = 1; c <= FColumns; c += TabWidth)
    FTabs[static_cast<std::size_t>(c) - 1] = true;
}

void TComTermBuffer::ClearRow(int Row, int FromCol) {
  TTermCell *cells = RowCells(Row);
  Empty(cells + (FromCol - 1), cells + FColumns);
  if (FView) FView->CellsCleared(Row, FromCol, FColumns);
}

void TComTermBuffer::ShiftUp() {
  if (FRows == 0) return;
  // The old first row becomes the new last row.
  FTop = FTop + 1 == static_cast<std::size_t>(FRows) ? 0 : FTop + 1;
  Empty(RowCells(FRows), RowCells(FRows) + FColumns);
  if (FView) FView->GridShifted(-1);
}

void TComTermBuffer::ShiftDown() {
  if (FRows == 0) return;
  // The old last row becomes the new first row.
  FTop = FTop == 0 ? static_cast<std::size_t>(FRows) - 1 : FTop - 1;
  Empty(RowCells(1), RowCells(1) + FColumns);
  if (FView) FView->GridShifted(+1);
}

void TComTermBuffer::ClearToLineEnd(int Col, int Row) {
  if (Row < 1 || Row > FRows || Col > FColumns) return;
  ClearRow(Row, std::max(Col, 1));
}

void TComTermBuffer::ClearToGridEnd(int Col, int Row) {
  if (Row > FRows) return;
  if (Row < 1) {
    Row = 1;
    Col = 1;
  }
  ClearToLineEnd(Col, Row);
  for (int r = Row + 1; r <= FRows; ++r)
    ClearRow(r, 1);
}

void TComTermBuffer::SetTabAt(int Col, bool Set) {
  if (Col >= 1 && Col <= FColumns) FTabs[static_cast<std::size_t>(Col) - 1] = Set;
}

int TComTermBuffer::NextTabStop(int Col) const {
  for (int c = std::max(Col, 1); c <= FColumns; ++c)
    if (FTabs[static_cast<std::size_t>(c) - 1]) return c;
  return 0;
}

void TComTermBuffer::ClearTabStops() { std::fill(FTabs.begin(), FTabs.end(), false); }
