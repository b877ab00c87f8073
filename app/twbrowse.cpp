#include "app/twbrowse.h"

#include <algorithm>
#include <type_traits>

#include "app/area_selection.h"
#include "app/browse_view.h"
#include "app/command_state.h"
#include "app/order_info.h"
#include "expr/settings.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

// Runs `body` with `alias` selected, re-selecting the previous work area afterwards. A grid
// whose table is not open (between a failed open and the next one) has no rows: the body does
// not run and the answer is the empty one.
template <typename F>
auto InArea(const std::string& alias, F body) -> decltype(body()) {
  using Result = decltype(body());
  if (!AreaInUse(alias)) {
    if constexpr (std::is_void_v<Result>) {
      return;
    } else {
      return Result{};
    }
  }
  AreaSelection selection(alias);
  return body();
}

}  // namespace

TWBrowse::TWBrowse(std::string alias) {
  columns_.cAlias = std::move(alias);
  // The table skipper: the number returned is the change of key position, not the number
  // asked for; a skip past the end lands on the last record.
  bSkip = [this](int64_t n) -> int64_t {
    return InArea(columns_.cAlias, [n] {
      if (OrderControls()) {
        // Key positions of an order are counted through the index: count the rows instead,
        // which is the same number without asking for positions at all.
        const int dir = n > 0 ? 1 : -1;
        int64_t moved = 0;
        for (int64_t i = 0; i < (n > 0 ? n : -n); ++i) {
          DBSKIP(dir);
          if (EOF_()) {
            DBGOBOTTOM();
            break;
          }
          if (BOF()) break;
          moved += dir;
        }
        return moved;
      }
      const int64_t before = OrderKeyNo();
      DBSKIP(n);
      if (EOF_()) DBGOBOTTOM();
      return static_cast<int64_t>(OrderKeyNo()) - before;
    });
  };
  bSkipRow = [this](int dir) {
    return InArea(columns_.cAlias, [dir] {
      DBSKIP(dir);
      if (EOF_()) {
        DBGOBOTTOM();
        return false;
      }
      return !BOF();
    });
  };
  bGoTop = [this] { InArea(columns_.cAlias, [] { DBGOTOP(); }); };
  bGoBottom = [this] { InArea(columns_.cAlias, [] { DBGOBOTTOM(); }); };
  bLogicLen = [this] { return InArea(columns_.cAlias, [] { return OrderKeyCount(); }); };
  bKeyNo = [this] { return InArea(columns_.cAlias, [] { return OrderKeyNo(); }); };
  bKeyGoto = [this](uint32_t p) { InArea(columns_.cAlias, [p] { OrderKeyGoto(p); }); };
  bBookmark = [this] { return InArea(columns_.cAlias, [] { return uint64_t{RECNO()}; }); };
  bGoBookmark = [this](uint64_t mark) {
    InArea(columns_.cAlias, [mark] { DBGOTO(Value::Integer(static_cast<int64_t>(mark))); });
  };
}

TWBrowse::~TWBrowse() { ForgetMainBrowse(this); }

void TWBrowse::SetArray(int length) {
  is_array_ = true;
  array_len_ = length;
  nAt_ = 1;
  columns_.cAlias = "ARRAY";
  bSkip = [this](int64_t n) -> int64_t {
    const int64_t old = nAt_;
    nAt_ = static_cast<int>(std::clamp<int64_t>(old + n, 1, std::max(array_len_, 1)));
    return nAt_ - old;
  };
  bSkipRow = [this](int dir) {
    const int next = nAt_ + dir;
    if (next < 1 || next > array_len_) return false;
    nAt_ = next;
    return true;
  };
  bGoTop = [this] { nAt_ = 1; };
  bGoBottom = [this] { nAt_ = std::max(array_len_, 1); };
  bLogicLen = [this] { return static_cast<uint32_t>(array_len_); };
  bKeyNo = [this] { return array_len_ == 0 ? 0u : static_cast<uint32_t>(nAt_); };
  bKeyGoto = [this](uint32_t p) { nAt_ = static_cast<int>(p); };
  bBookmark = [this] { return static_cast<uint64_t>(nAt_); };
  bGoBookmark = [this](uint64_t mark) { nAt_ = static_cast<int>(mark); };
}

void TWBrowse::set_row_count(int rows) {
  row_count_ = std::max(rows, 1);
  nRowPos_ = std::clamp(nRowPos_, 1, row_count_);
}

int64_t TWBrowse::Skip(int64_t n) { return n == 0 ? 0 : bSkip(n); }

void TWBrowse::Redraw() {
  if (on_redraw) on_redraw();
}

void TWBrowse::Change() {
  if (bChange) bChange();
}

void TWBrowse::GoDown() {
  if (vpos_ >= vmax_) return;
  if (Skip(1) == 0) return;  // the table ended before its key count said: keep the cursor
  ++vpos_;
  if (++nRowPos_ > row_count_) nRowPos_ = row_count_;  // the rows scroll up one
  Redraw();
  Change();
}

void TWBrowse::GoUp() {
  if (vpos_ <= 1) return;
  if (Skip(-1) == 0) return;
  --vpos_;
  if (--nRowPos_ < 1) nRowPos_ = 1;  // the rows scroll down one
  Redraw();
  Change();
}

void TWBrowse::PageDown() {
  const int64_t n = row_count_;
  const int64_t moved = Skip(n);
  if (moved <= 0) return;
  if (moved < n) {
    vpos_ = static_cast<uint32_t>(std::min<int64_t>(vpos_ + moved, vmax_));
    nRowPos_ = static_cast<int>(std::min<int64_t>(vmax_, n));
  } else {
    vpos_ = static_cast<uint32_t>(std::min<int64_t>(vpos_ + n, vmax_));
    if (n - nRowPos_ > static_cast<int64_t>(vmax_) - vpos_) {
      nRowPos_ = static_cast<int>(n - (vmax_ - vpos_));
    }
  }
  nRowPos_ = std::clamp(nRowPos_, 1, row_count_);
  Redraw();
  Change();
}

void TWBrowse::PageUp() {
  const int64_t n = row_count_;
  const int64_t moved = -Skip(-n);
  if (moved <= 0) return;
  if (moved < n) {
    vpos_ = 1;
    nRowPos_ = 1;
  } else {
    vpos_ = vpos_ > n ? static_cast<uint32_t>(vpos_ - n) : 1;
    nRowPos_ = std::min<int>(nRowPos_, static_cast<int>(vpos_));
  }
  Redraw();
  Change();
}

void TWBrowse::GoTop() {
  if (Skip(-1) == 0) return;  // already on the first row
  vpos_ = 1;
  bGoTop();
  nRowPos_ = 1;
  Redraw();
  Change();
}

void TWBrowse::GoBottom() {
  if (Skip(1) == 0) return;  // already on the last row
  bGoBottom();
  vpos_ = vmax_;
  nRowPos_ = static_cast<int>(std::min<uint32_t>(vmax_, static_cast<uint32_t>(row_count_)));
  nRowPos_ = std::max(nRowPos_, 1);
  Redraw();
  Change();
}

void TWBrowse::FixRowPos(uint32_t p) {
  if (vmax_ == 0) {
    nRowPos_ = 1;
  } else if (static_cast<uint32_t>(nRowPos_) > p) {
    nRowPos_ = static_cast<int>(p);
  } else if (vmax_ <= static_cast<uint32_t>(row_count_)) {
    nRowPos_ = static_cast<int>(p);  // every row fits: the cursor row is the ordinal
  } else if (static_cast<int64_t>(row_count_) - nRowPos_ > static_cast<int64_t>(vmax_) - p) {
    nRowPos_ = static_cast<int>(row_count_ - static_cast<int64_t>(vmax_ - p));
  }
  nRowPos_ = std::clamp(nRowPos_, 1, row_count_);
}

void TWBrowse::VThumb(uint32_t p) {
  if (vmax_ == 0) return;
  p = std::clamp<uint32_t>(p, 1, vmax_);
  if (is_array_) {
    Skip(static_cast<int64_t>(p) - vpos_);
  } else {
    bKeyGoto(p);  // straight to key position p: no row-by-row skipping
  }
  vpos_ = p;
  FixRowPos(p);
  Redraw();
  Change();
}

void TWBrowse::Wheel(int notches, bool middle_button) {
  for (int i = 0; i < std::abs(notches); ++i) {
    if (notches > 0) {
      middle_button ? PageUp() : GoUp();
    } else {
      middle_button ? PageDown() : GoDown();
    }
  }
}

void TWBrowse::ClampColumns() {
  const int count = std::max(ColumnCount(), 1);
  hpos_ = std::clamp(hpos_, 1, count);
  nColAct_ = std::clamp(nColAct_, 1, count);
  nColPos_ = std::clamp(nColPos_, 1, count);
}

void TWBrowse::Display() {
  vmax_ = bLogicLen();
  if (vpos_ > vmax_) {
    bGoBottom();
    vpos_ = vmax_;
    nRowPos_ = std::max(1, static_cast<int>(std::min<uint32_t>(vmax_, row_count_)));
  }
  ClampColumns();
  Redraw();
}

void TWBrowse::Refresh() {
  vmax_ = bLogicLen();
  vpos_ = std::min(bKeyNo(), vmax_);
  FixRowPos(vpos_);
  ClampColumns();
  Redraw();
}

void TWBrowse::Stabilize(bool lFocus) {
  vmax_ = bLogicLen();
  if (!is_array_) {
    InArea(columns_.cAlias, [] {
      if (SET(kSetDeleted).logical() && DELETED()) DBSKIP(1);  // step off a hidden record
      if (EOF_()) DBGOBOTTOM();
    });
  }
  vpos_ = std::min(bKeyNo(), vmax_);
  FixRowPos(vpos_);
  ClampColumns();
  Redraw();
  Change();
  if (lFocus && on_focus) on_focus();
}

bool TWBrowse::IsColVisible(int n) const {
  if (n <= nFreeze) return true;
  if (n < nColPos_ + nFreeze) return false;
  const auto& sizes = columns_.aColSizes;
  int sum = 0;
  for (int i = 1; i <= nFreeze && i <= static_cast<int>(sizes.size()); ++i) sum += sizes[i - 1];
  for (int i = nColPos_ + nFreeze; i <= n && i <= static_cast<int>(sizes.size()); ++i) {
    sum += sizes[i - 1];
  }
  return sum <= width_ - vscroll_width_;
}

std::vector<std::pair<int, int>> TWBrowse::VisibleColumns() const {
  std::vector<std::pair<int, int>> out;
  const auto& sizes = columns_.aColSizes;
  const int count = static_cast<int>(sizes.size());
  int x = 0;
  auto add = [&](int c) {
    if (sizes[c - 1] <= 1) return;  // columns of width 1 or less are skipped
    out.push_back({c, x});
    x += sizes[c - 1];
  };
  for (int c = 1; c <= std::min(nFreeze, count); ++c) add(c);
  for (int c = nColPos_ + nFreeze; c <= count && x < width_ - vscroll_width_; ++c) add(c);
  return out;
}

int TWBrowse::nAtCol(int x) const {
  for (auto [c, left] : VisibleColumns()) {
    if (left + columns_.aColSizes[c - 1] - 1 > x) return c;
  }
  return 0;
}

void TWBrowse::ColumnChanged() {
  if (bColChange) bColChange();
}

void TWBrowse::ScrollToColumn() {
  if (nColAct_ > nFreeze && nColAct_ < nColPos_ + nFreeze) nColPos_ = nColAct_ - nFreeze;
  while (!IsColVisible(nColAct_) && nColPos_ + nFreeze < nColAct_) ++nColPos_;
  nColPos_ = std::max(nColPos_, 1);
}

void TWBrowse::GoLeft() {
  if (!lHScroll && !lCellStyle) return;
  if (lCellStyle) {
    if (nColAct_ <= 1) return;
    --nColAct_;
    ScrollToColumn();
    hpos_ = nColAct_;
  } else {
    if (nColPos_ <= 1) return;
    hpos_ = --nColPos_;
  }
  Redraw();
  ColumnChanged();
}

void TWBrowse::GoRight() {
  if (!lHScroll && !lCellStyle) return;
  const int count = ColumnCount();
  if (lCellStyle) {
    if (nColAct_ >= count) return;
    ++nColAct_;
    ScrollToColumn();
    hpos_ = nColAct_;
  } else {
    const auto& sizes = columns_.aColSizes;
    const int last = (!sizes.empty() && sizes.back() <= 0) ? count - 1 : count;
    if (nColPos_ >= last) return;
    hpos_ = ++nColPos_;
  }
  Redraw();
  ColumnChanged();
}

void TWBrowse::HThumb(int p) {
  const int count = ColumnCount();
  if (count == 0) return;
  p = std::clamp(p, 1, count);
  hpos_ = p;
  if (lCellStyle) {
    nColAct_ = p;
    if (!IsColVisible(p)) nColPos_ = std::max(1, p - nFreeze);
  } else {
    nColPos_ = p;
  }
  Redraw();
  ColumnChanged();
}

bool TWBrowse::Click(int r, int x, bool right) {
  if (r == 0) {
    if (right) return false;
    const int c = nAtCol(x);
    if (c > 0 && c <= static_cast<int>(columns_.aActions.size()) && columns_.aActions[c - 1]) {
      columns_.aActions[c - 1]();  // the record pointer stays
    }
    return false;
  }
  if (r < 1 || r > row_count_) return false;
  if (r != nRowPos_ && vmax_ > 0) {
    const int64_t moved = Skip(r - nRowPos_);
    nRowPos_ = std::clamp(static_cast<int>(nRowPos_ + moved), 1, row_count_);
    vpos_ = static_cast<uint32_t>(std::clamp<int64_t>(vpos_ + moved, 1, vmax_));
    Redraw();
    Change();
  }
  if (lCellStyle) {
    if (int c = nAtCol(x); c > 0 && c != nColAct_) {
      nColAct_ = hpos_ = c;
      Redraw();
      ColumnChanged();
    }
  }
  return true;
}

std::vector<TWBrowse::Row> TWBrowse::VisibleRows() {
  std::vector<Row> rows;
  if (vmax_ == 0 || !columns_.bLine) return rows;
  if (!is_array_ && !AreaInUse(columns_.cAlias)) return rows;
  // A display read: a failure is kept for a report outside the paint and ends the rows there;
  // the selected work area and the record pointer are back as they were in any case.
  ReadForDisplay([&] {
    std::optional<AreaSelection> selection;
    if (!is_array_) selection.emplace(columns_.cAlias);
    const uint64_t mark = bBookmark();
    struct BackToMark {
      const std::function<void(uint64_t)>& go;
      uint64_t mark;
      ~BackToMark() {
        try {
          go(mark);
        } catch (...) {
          // Kept for the report like any other display failure.
        }
      }
    } back{bGoBookmark, mark};
    for (int k = 1; k < nRowPos_; ++k) {
      if (!bSkipRow(-1)) break;
    }
    for (int i = 1; i <= row_count_; ++i) {
      Row row;
      row.cells = columns_.bLine();
      if (nClrPane) row.pane = nClrPane();
      if (nClrBackFocus) row.back_focus = nClrBackFocus();
      row.cursor = bBookmark() == mark;
      rows.push_back(std::move(row));
      if (i == row_count_ || !bSkipRow(1)) break;
    }
  });
  return rows;
}

CellRect TWBrowse::CellRectOf(int nRow, int nCol) const {
  CellRect r;
  r.top = header_height_ + (nRow - 1) * row_height_;
  r.bottom = r.top + row_height_;
  for (auto [c, left] : VisibleColumns()) {
    if (c == nCol) {
      r.left = left;
      r.right = left + columns_.aColSizes[c - 1];
      return r;
    }
  }
  r.left = r.right = 0;
  return r;
}

int TWBrowse::TextWidth(const std::string& text) const {
  if (measure) return measure(text);
  return 7 * static_cast<int>(text.size());
}

}  // namespace vosk
