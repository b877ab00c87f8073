// The grid's navigation core against real tables: page moves near the ends, the thumb drag,
// Stabilize, the empty table, columns and clicks.

#include "app/twbrowse.h"

#include <gtest/gtest.h>

#include "app/app_fixture.h"
#include "expr/settings.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

class TWBrowseTest : public AppTest {
 protected:
  // A table of `records` records whose one field holds the record number; open as "DBF".
  void OpenNumbers(int records, int rows_on_screen) {
    std::vector<std::vector<std::string>> rows;
    for (int i = 1; i <= records; ++i) {
      std::string n = std::to_string(i);
      rows.push_back({std::string(5 - n.size(), ' ') + n});
    }
    WriteDbf(Path("NUM.DBF"), {{"N", 'N', 5, 0}}, rows);
    ASSERT_TRUE(DBUSEAREA(false, "", Path("NUM.DBF"), "DBF", false, false));
    brw_ = std::make_unique<TWBrowse>("DBF");
    brw_->columns().aHeaders = {"N"};
    brw_->columns().aColSizes = {60};
    brw_->columns().bLine = [] { return std::vector<std::string>{std::to_string(RECNO())}; };
    brw_->bChange = [this] { ++changes_; };
    // Count the row-by-row moves, to tell a direct jump from a walk.
    auto skip = brw_->bSkip;
    brw_->bSkip = [this, skip](int64_t n) {
      ++skips_;
      return skip(n);
    };
    brw_->set_row_count(rows_on_screen);
    DBGOTOP();
    brw_->Stabilize(false);
    changes_ = skips_ = 0;
  }
  // Record numbers of the painted rows, and the cursor row's index (1-based).
  std::pair<std::vector<int>, int> Painted() {
    std::vector<int> recs;
    int cursor = 0;
    for (const TWBrowse::Row& r : brw_->VisibleRows()) {
      recs.push_back(std::stoi(r.cells[0]));
      if (r.cursor) cursor = static_cast<int>(recs.size());
    }
    return {recs, cursor};
  }
  void ExpectAt(uint32_t recno, int row_pos) {
    EXPECT_EQ(RECNO(), recno);
    EXPECT_EQ(brw_->VScrollPos(), recno);  // natural order: the key position is RECNO
    EXPECT_EQ(brw_->nRowPos(), row_pos);
    auto [recs, cursor] = Painted();
    EXPECT_EQ(cursor, row_pos);
    EXPECT_EQ(RECNO(), recno) << "painting moved the record pointer";
  }

  std::unique_ptr<TWBrowse> brw_;
  int changes_ = 0, skips_ = 0;
};

TEST_F(TWBrowseTest, PageDownNearTheEndLandsOnTheLastRowAtTheBottom) {
  OpenNumbers(30, 10);
  brw_->PageDown();
  ExpectAt(11, 1);
  brw_->PageDown();
  ExpectAt(21, 1);
  brw_->PageDown();  // only 9 rows left: cursor on the last row, bar at its maximum
  ExpectAt(30, 10);
  EXPECT_EQ(brw_->VScrollPos(), brw_->VScrollMax());
  EXPECT_EQ(Painted().first.front(), 21);
  const int changes = changes_;
  brw_->PageDown();  // nothing moves any more
  brw_->GoDown();
  ExpectAt(30, 10);
  EXPECT_EQ(changes_, changes);
}

TEST_F(TWBrowseTest, PageDownKeepsTheBottomRowFilled) {
  OpenNumbers(30, 10);
  brw_->VThumb(16);
  for (int i = 0; i < 2; ++i) brw_->GoDown();
  ASSERT_EQ(brw_->nRowPos(), 3);
  brw_->PageDown();  // 28 on row 8: rows 21..30, no blank rows below
  ExpectAt(30 - 2, 8);
  EXPECT_EQ(Painted().first, (std::vector<int>{21, 22, 23, 24, 25, 26, 27, 28, 29, 30}));
}

TEST_F(TWBrowseTest, PageUpNearTheStartGoesToTheFirstRow) {
  OpenNumbers(30, 10);
  for (int i = 0; i < 4; ++i) brw_->GoDown();
  ExpectAt(5, 5);
  brw_->PageUp();
  ExpectAt(1, 1);
  brw_->VThumb(25);
  brw_->PageUp();  // a whole page back: the cursor row stays where it fits
  EXPECT_EQ(RECNO(), 15u);
  EXPECT_LE(brw_->nRowPos(), 10);
  const int changes = changes_;
  brw_->GoTop();
  brw_->GoTop();  // already on top: nothing
  ExpectAt(1, 1);
  EXPECT_EQ(changes_, changes + 1);
}

TEST_F(TWBrowseTest, ThumbDragGoesStraightToKeyPosition) {
  OpenNumbers(1000, 20);
  brw_->VThumb(500);
  EXPECT_EQ(skips_, 0) << "a thumb drag seeks the key position, it does not walk";
  ExpectAt(500, 1);
  brw_->VThumb(995);  // near the end the cursor moves down so that no row is blank
  ExpectAt(995, 15);
  brw_->VThumb(3);  // above the cursor row: the cursor row is the position
  ExpectAt(3, 3);
}

TEST_F(TWBrowseTest, DownScrollsAtTheLastScreenRowAndStopsAtTheEnd) {
  OpenNumbers(5, 3);
  for (int i = 0; i < 4; ++i) brw_->GoDown();
  ExpectAt(5, 3);
  EXPECT_EQ(Painted().first, (std::vector<int>{3, 4, 5}));
  brw_->GoDown();
  ExpectAt(5, 3);
  EXPECT_EQ(changes_, 4);
  brw_->GoUp();
  brw_->GoUp();
  ExpectAt(3, 1);
  brw_->GoBottom();
  ExpectAt(5, 3);
}

TEST_F(TWBrowseTest, StabilizeStepsOffADeletedRecordWhenDeletedIsOn) {
  OpenNumbers(10, 5);
  DBGOTO(Value::Integer(5));
  DBDELETE();
  DBCOMMIT();
  SET(kSetDeleted, Value::Logical(true));
  bool focused = false;
  brw_->on_focus = [&] { focused = true; };
  DBGOTO(Value::Integer(5));
  brw_->Stabilize();
  EXPECT_EQ(RECNO(), 6u);
  EXPECT_EQ(brw_->VScrollPos(), 6u);
  EXPECT_TRUE(focused);
  EXPECT_EQ(changes_, 1);
  // At the end of file Stabilize goes to the last record.
  DBGOBOTTOM();
  DBSKIP(1);
  ASSERT_TRUE(EOF_());
  brw_->Stabilize(false);
  EXPECT_EQ(RECNO(), 10u);
  EXPECT_EQ(brw_->VScrollPos(), 10u);
}

TEST_F(TWBrowseTest, EmptyTableDrawsNothingAndIgnoresMoves) {
  OpenNumbers(0, 5);
  EXPECT_EQ(brw_->nRowPos(), 1);
  EXPECT_EQ(brw_->VScrollMax(), 0u);
  EXPECT_TRUE(brw_->VisibleRows().empty());
  brw_->GoDown();
  brw_->PageDown();
  brw_->GoBottom();
  brw_->VThumb(3);
  EXPECT_EQ(brw_->nRowPos(), 1);
  EXPECT_EQ(changes_, 0);
  EXPECT_TRUE(EOF_());
}

TEST_F(TWBrowseTest, CellModeColumnsScrollIntoViewAndClicksHitTheirCell) {
  OpenNumbers(10, 5);
  brw_->lCellStyle = true;
  brw_->set_width(200 + 21);
  brw_->columns().aHeaders = {"A", "B", "C", "D"};
  brw_->columns().aColSizes = {100, 100, 100, 100};
  int col_changes = 0, header_clicks = 0;
  brw_->bColChange = [&] { ++col_changes; };
  brw_->columns().aActions = {nullptr, [&] { ++header_clicks; }, nullptr, nullptr};
  EXPECT_TRUE(brw_->IsColVisible(2));
  EXPECT_FALSE(brw_->IsColVisible(3));
  brw_->GoRight();
  brw_->GoRight();  // column 3 is not visible from column 1: the view scrolls
  EXPECT_EQ(brw_->nColAct(), 3);
  EXPECT_EQ(brw_->nColPos(), 2);
  EXPECT_EQ(col_changes, 2);
  EXPECT_EQ(brw_->nAtCol(150), 3);
  EXPECT_EQ(brw_->nAtCol(10), 2);
  // A header click runs the column's action and leaves the record pointer alone.
  brw_->Click(0, 10, false);
  EXPECT_EQ(header_clicks, 1);
  EXPECT_EQ(RECNO(), 1u);
  // A click on data row 4, second visible column: that record and that cell.
  brw_->Click(4, 150, false);
  ExpectAt(4, 4);
  EXPECT_EQ(brw_->nColAct(), 3);
  brw_->HThumb(1);
  EXPECT_EQ(brw_->nColAct(), 1);
  EXPECT_EQ(brw_->nColPos(), 1);
}

TEST_F(TWBrowseTest, ArrayBrowseUsesTheArraySkipper) {
  TWBrowse brw("");
  brw.SetArray(25);
  brw.set_row_count(10);
  brw.columns().bLine = [&brw] { return std::vector<std::string>{std::to_string(brw.nAt())}; };
  brw.Stabilize(false);
  brw.PageDown();
  brw.PageDown();
  brw.PageDown();
  EXPECT_EQ(brw.nAt(), 25);
  EXPECT_EQ(brw.nRowPos(), 10);
  brw.VThumb(12);
  EXPECT_EQ(brw.nAt(), 12);
  EXPECT_EQ(brw.VisibleRows().size(), 10u);
  EXPECT_EQ(brw.nAt(), 12);
}

}  // namespace
}  // namespace vosk
