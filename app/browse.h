#ifndef VOSK_APP_BROWSE_H_
#define VOSK_APP_BROWSE_H_

// What the Application uses of the browse grid over the current table. The grid's Qt-free
// navigation core (TWBrowse, app/twbrowse.h) implements it, so the commands run the same
// headless and in the window.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vosk {

// A rectangle in the grid's own pixels.
struct CellRect {
  int top = 0, left = 0, bottom = 0, right = 0;
};

// The column description the Application sets (REBUILDBRW, MKFLD).
struct BrowseColumns {
  std::string cAlias;                         // the work area shown
  std::vector<std::string> aHeaders;          // column titles
  std::vector<bool> aJustify;                 // per column: true = right-aligned
  std::vector<int> aColSizes;                 // per column: width in pixels
  std::vector<std::function<void()>> aActions;  // per column: header-click action
  // The cell texts of the current record, one per column (Application text, ANSI).
  std::function<std::vector<std::string>()> bLine;
};

class Browse {
 public:
  virtual ~Browse() = default;

  virtual BrowseColumns& columns() = 0;
  int ColumnCount() { return static_cast<int>(columns().aHeaders.size()); }

  // The current column in cell mode, 1-based among the shown columns.
  virtual int nColAct() const = 0;
  virtual void set_nColAct(int column) = 0;
  // The first column shown at the left.
  virtual int nColPos() const = 0;
  virtual void set_nColPos(int column) = 0;
  // Position of the horizontal scroll bar (1..number of columns).
  virtual int HScrollPos() const = 0;
  virtual void SetHScrollPos(int position) = 0;
  // Row of the cursor on screen, 1-based.
  virtual int nRowPos() const = 0;
  // The vertical scroll bar: position (the current row's key position) and maximum (the row
  // count), as the grid keeps them in step with the order.
  virtual uint32_t KeyPosition() const = 0;
  virtual uint32_t KeyCount() const = 0;

  // Re-reads the row count and the current record's key position and redraws, keeping the
  // cursor on the current record.
  virtual void Refresh() = 0;
  // Re-synchronises with a table changed outside the grid (steps off a deleted record when
  // DELETED is on, off the end of file), redraws, runs the change action, and takes the
  // keyboard focus unless lFocus is false.
  virtual void Stabilize(bool lFocus = true) = 0;
  // Runs the change action (bChange).
  virtual void Change() = 0;
  // The shown column whose header carries the sort mark (1-based; 0 none).
  virtual void SetSortMark(int column) = 0;

  // The rectangle of cell (row on screen, column), in the grid's pixels.
  virtual CellRect CellRectOf(int nRow, int nCol) const = 0;
  // Width of the grid's window and of a vertical scroll bar, pixels.
  virtual int Width() const = 0;
  virtual int VScrollBarWidth() const = 0;
  // Width of a text in the grid's font, pixels.
  virtual int TextWidth(const std::string& text) const = 0;
};

}  // namespace vosk

#endif  // VOSK_APP_BROWSE_H_
