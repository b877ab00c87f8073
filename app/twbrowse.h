#ifndef VOSK_APP_TWBROWSE_H_
#define VOSK_APP_TWBROWSE_H_

// TWBrowse: the navigation core of the browse grid, without any window. The grid keeps no copy
// of the data: it reads the cells of the current record through bLine, moves the record pointer
// through bSkip, bGoTop and bGoBottom, and keeps its vertical scroll position equal to the
// current record's key position in the controlling order, so the scroll bar tells whether the
// pointer is on the first or last row. The Qt widget (gui/twbrowse_widget.h) paints what
// VisibleRows() returns and turns keys, clicks and scroll-bar moves into the calls below.
//
// Invariants:
//   1 <= nRowPos() <= max(1, nRowCount())
//   0 <= VScrollPos() <= VScrollMax(); VScrollPos() >= 1 unless the table is empty
//   nRowPos() <= VScrollPos() when the table is not empty (no blank rows above the cursor)

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/browse.h"

namespace vosk {

class TWBrowse : public Browse {
 public:
  // A row as the widget paints it.
  struct Row {
    std::vector<std::string> cells;
    std::optional<uint32_t> pane;        // background 0xRRGGBB; nullopt = system window colour
    std::optional<uint32_t> back_focus;  // cursor background; nullopt = system highlight
    bool cursor = false;                 // the current record
  };

  // Navigation over the table in work area `alias` (the table skipper, DBGOTOP, DBGOBOTTOM,
  // ORDKEYCOUNT, ORDKEYNO and ORDKEYGOTO through app/order_info.h). Under a controlling order
  // the skipper counts the rows it moves instead of asking for key positions before and after
  // (the same number: one key per row), so moving asks the index nothing it must count.
  explicit TWBrowse(std::string alias);
  ~TWBrowse() override;
  TWBrowse(const TWBrowse&) = delete;
  TWBrowse& operator=(const TWBrowse&) = delete;

  // Browse an array of `length` elements instead (the array skipper; nAt is the current one).
  void SetArray(int length);
  int nAt() const { return nAt_; }

  // --- Navigation functions (defaults for a table; replaceable) -----------------------------
  std::function<int64_t(int64_t)> bSkip;  // moves n rows, returns how many it moved
  // Moves one row forward (+1) or back (-1); false at the edge. Painting walks the rows with it:
  // it asks no key positions, which an order may have to count.
  std::function<bool(int)> bSkipRow;
  std::function<void()> bGoTop, bGoBottom;
  std::function<uint32_t()> bLogicLen;     // number of rows
  std::function<uint32_t()> bKeyNo;        // ordinal of the current row (0 at end of file)
  std::function<void(uint32_t)> bKeyGoto;  // to the row of ordinal p (thumb drag)
  // A mark of the current row and the way back to it (RECNO / DBGOTO for a table).
  std::function<uint64_t()> bBookmark;
  std::function<void(uint64_t)> bGoBookmark;

  // --- Handlers --------------------------------------------------------------------------
  std::function<void()> bChange;     // after the current row or cell changed
  std::function<void()> bColChange;  // after the current column changed
  std::function<void()> on_redraw;   // the widget repaints
  std::function<void()> on_focus;    // the widget takes the keyboard focus
  // Per record: row background and cursor background (nullopt = the system colours).
  std::function<std::optional<uint32_t>()> nClrPane, nClrBackFocus;
  // Width of a text in the grid font (default: 7 pixels per character).
  std::function<int(const std::string&)> measure;

  bool lHScroll = false;
  bool lCellStyle = false;
  int nFreeze = 0;
  int nColOrder = 0;  // column whose header carries the sort mark; 0 none

  // --- Geometry, set by the widget ---------------------------------------------------------
  void set_row_count(int rows);  // whole rows that fit (header excluded); at least 1
  int nRowCount() const { return row_count_; }
  void set_width(int width) { width_ = width; }
  void set_metrics(int row_height, int header_height, int vscroll_width) {
    row_height_ = row_height, header_height_ = header_height, vscroll_width_ = vscroll_width;
  }
  int row_height() const { return row_height_; }
  int header_height() const { return header_height_; }

  // --- Scroll positions --------------------------------------------------------------------
  uint32_t VScrollPos() const { return vpos_; }
  uint32_t VScrollMax() const { return vmax_; }

  // --- Operations (the grid's navigation rules) ----------------------------------------------
  int64_t Skip(int64_t n);
  void GoDown();
  void GoUp();
  void PageDown();
  void PageUp();
  void GoTop();
  void GoBottom();
  void GoLeft();
  void GoRight();
  // Thumb of the vertical scroll bar dragged to position p.
  void VThumb(uint32_t p);
  // Thumb of the horizontal scroll bar dragged to column p.
  void HThumb(int p);
  // Mouse wheel: one row per notch, one page with the middle button held.
  void Wheel(int notches, bool middle_button);
  // A click at data row r (0 = the header row) and pixel x. right: a right click. Returns
  // true when the click was on a data row within the rows shown.
  bool Click(int r, int x, bool right);
  // Sets the vertical range from bLogicLen and clamps position, rows and columns, as Display.
  void Display();
  bool IsColVisible(int n) const;
  int nAtCol(int x) const;  // the column under pixel x, 0 if none

  // The rows to paint: from nRowPos - 1 rows above the cursor down to the row count or the
  // last row; the record pointer is back on the cursor row afterwards.
  std::vector<Row> VisibleRows();
  // The columns to paint, in screen order, with their left edges.
  std::vector<std::pair<int, int>> VisibleColumns() const;

  // --- Browse ---------------------------------------------------------------------------------
  BrowseColumns& columns() override { return columns_; }
  int nColAct() const override { return nColAct_; }
  void set_nColAct(int column) override { nColAct_ = column; }
  int nColPos() const override { return nColPos_; }
  void set_nColPos(int column) override { nColPos_ = column; }
  int HScrollPos() const override { return hpos_; }
  void SetHScrollPos(int position) override { hpos_ = position; }
  int nRowPos() const override { return nRowPos_; }
  uint32_t KeyPosition() const override { return vpos_; }
  uint32_t KeyCount() const override { return vmax_; }
  void Refresh() override;
  void Stabilize(bool lFocus = true) override;
  void Change() override;
  void SetSortMark(int column) override { nColOrder = column; }
  CellRect CellRectOf(int nRow, int nCol) const override;
  int Width() const override { return width_; }
  int VScrollBarWidth() const override { return vscroll_width_; }
  int TextWidth(const std::string& text) const override;

 private:
  void Redraw();
  void ColumnChanged();
  void ClampColumns();
  // nRowPos for the current position after a jump (Stabilize, thumb drag).
  void FixRowPos(uint32_t p);
  void ScrollToColumn();

  BrowseColumns columns_;
  bool is_array_ = false;
  int array_len_ = 0;
  int nAt_ = 1;
  int nRowPos_ = 1;
  int nColPos_ = 1;
  int nColAct_ = 1;
  int hpos_ = 1;
  uint32_t vpos_ = 0;  // vertical scroll position: the current row's ordinal
  uint32_t vmax_ = 0;  // vertical maximum: the row count
  int row_count_ = 1;
  int width_ = 640;
  int row_height_ = 16, header_height_ = 17, vscroll_width_ = 21;
};

}  // namespace vosk

#endif  // VOSK_APP_TWBROWSE_H_
