// Navigation with BOF, EOF and the phantom record, the DELETED setting, and the file sizes
// that pack and zap leave.

#include <string>
#include <vector>

#include "rdd_fixture.h"

namespace vosk {
namespace {

using test::Le32;

class DbfNavigationTest : public RddTest {
 protected:
  // A table with one record per value of NUM (1..n), opened exclusively.
  void OpenNumbered(int n, const std::vector<int>& deleted = {}) {
    path_ = Create("nav.dbf", {{"NUM", "N", 3, 0}, {"NAME", "C", 4, 0}});
    ASSERT_TRUE(Use(path_));
    for (int i = 1; i <= n; ++i) {
      ASSERT_TRUE(DBAPPEND());
      FIELDPUT(1, Value::Integer(i));
      FIELDPUT(2, Value::String("r" + std::to_string(i)));
    }
    for (int r : deleted) {
      DBGOTO(Value::Integer(r));
      DBDELETE();
    }
    DBCOMMIT();
    ASSERT_TRUE(errors_.empty()) << ErrorText();
  }
  // NUM of every record in navigation order from the top.
  std::vector<int> Walk() {
    std::vector<int> out;
    for (DBGOTOP(); !EOF_(); DBSKIP()) out.push_back(static_cast<int>(FIELDGET(1).number()));
    return out;
  }
  void ExpectPosition(uint32_t recno, bool bof, bool eof) {
    EXPECT_EQ(RECNO(), recno);
    EXPECT_EQ(BOF(), bof);
    EXPECT_EQ(EOF_(), eof);
  }

  std::string path_;
};

TEST_F(DbfNavigationTest, PhantomRecordIsBlankWithBofAndEof) {
  path_ = Create("phantom.dbf", {{"C", "C", 3, 0},
                                 {"N", "N", 4, 1},
                                 {"L", "L", 1, 0},
                                 {"D8", "D", 8, 0},
                                 {"D3", "D", 3, 0},
                                 {"I", "I", 4, 0},
                                 {"B", "B", 8, 0},
                                 {"T", "T", 8, 0}});
  ASSERT_TRUE(Use(path_));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::String("abc"));
    FIELDPUT(2, Value::Double(1.5));
    FIELDPUT(4, Value::Date(2460325));
    FIELDPUT(6, Value::Integer(-1));
  }
  DBGOTO(Value::Integer(99));
  ExpectPosition(4, true, true);
  EXPECT_FALSE(DELETED());
  EXPECT_FALSE(DBINFO(144).logical()) << "not positioned on a real record";
  std::string raw = DBRECORDINFO(7).str();
  EXPECT_EQ(raw, " " + std::string(3 + 4 + 1 + 8, ' ') + std::string(3 + 4 + 8 + 8, '\0'));
  EXPECT_EQ(FIELDGET(1).str(), "   ");
  EXPECT_EQ(FIELDGET(2).number(), 0);
  EXPECT_FALSE(FIELDGET(3).logical());
  EXPECT_EQ(FIELDGET(4).julian(), 0);
  EXPECT_EQ(FIELDGET(6).integer(), 0);
  // Record 0 is the phantom record too.
  DBGOTO(Value::Integer(0));
  ExpectPosition(4, true, true);
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfNavigationTest, PutValueOnThePhantomRecordChangesNothing) {
  OpenNumbered(2);
  std::string before = Bytes(path_);
  DBGOTO(Value::Integer(3));
  EXPECT_EQ(FIELDPUT(1, Value::Integer(7)).integer(), 7);
  DBDELETE();
  DBCOMMIT();
  DBCLOSEAREA();
  EXPECT_EQ(Bytes(path_), before);
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfNavigationTest, SkipBackFromTheFirstRecordSetsBof) {
  for (bool hide_deleted : {false, true}) {
    SCOPED_TRACE(hide_deleted ? "DELETED on" : "DELETED off");
    SET(kSetDeleted, Value::Logical(hide_deleted));
    OpenNumbered(3);
    DBGOTOP();
    DBSKIP(-1);
    ExpectPosition(1, true, false);
    EXPECT_EQ(FIELDGET(1).integer(), 1);
    DBSKIP(-5);
    ExpectPosition(1, true, false);
    DBGOTO(Value::Integer(3));
    DBSKIP(-2);
    ExpectPosition(1, false, false);
    DBCLOSEAREA();
  }
}

TEST_F(DbfNavigationTest, SkipPastTheLastRecordReachesThePhantom) {
  OpenNumbered(3);
  DBGOBOTTOM();
  ExpectPosition(3, false, false);
  DBSKIP();
  ExpectPosition(4, false, true);
  DBSKIP();
  ExpectPosition(4, false, true);
  DBSKIP(-1);
  ExpectPosition(3, false, false);
  DBGOTO(Value::Integer(1));
  DBSKIP(10);
  ExpectPosition(4, false, true);
}

TEST_F(DbfNavigationTest, EmptyTableIsAtBofAndEof) {
  path_ = Create("empty.dbf", {{"A", "C", 1, 0}});
  ASSERT_TRUE(Use(path_));
  ExpectPosition(1, true, true);
  DBGOBOTTOM();
  ExpectPosition(1, true, true);
  DBSKIP(-1);
  EXPECT_TRUE(BOF());
  EXPECT_EQ(LASTREC(), 0u);
}

TEST_F(DbfNavigationTest, DeletedSettingHidesDeletedRecords) {
  OpenNumbered(6, {1, 3, 4, 6});
  EXPECT_EQ(Walk(), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  SET(kSetDeleted, Value::Logical(true));
  EXPECT_EQ(Walk(), (std::vector<int>{2, 5}));
  DBGOBOTTOM();
  EXPECT_EQ(RECNO(), 5u);
  DBSKIP(-1);
  ExpectPosition(2, false, false);
  DBSKIP(-1);
  ExpectPosition(2, true, false);
  DBGOTO(Value::Integer(5));
  DBSKIP();
  ExpectPosition(7, false, true);
}

TEST_F(DbfNavigationTest, OnlyDeletedRecordsLeaveTopAndBottomOnThePhantom) {
  OpenNumbered(3, {1, 2, 3});
  SET(kSetDeleted, Value::Logical(true));
  DBGOTOP();
  EXPECT_EQ(RECNO(), 4u);
  EXPECT_TRUE(EOF_());
  DBGOBOTTOM();
  EXPECT_EQ(RECNO(), 4u);
  EXPECT_TRUE(EOF_());
  EXPECT_TRUE(Walk().empty());
}

TEST_F(DbfNavigationTest, DeleteAndRecallWriteTheDeletionByte) {
  OpenNumbered(2);
  size_t header = 32 + 2 * 32 + 2, reclen = 1 + 3 + 4;
  DBGOTO(Value::Integer(2));
  DBDELETE();
  EXPECT_TRUE(DELETED());
  DBCOMMIT();
  EXPECT_EQ(Bytes(path_)[header + reclen], '*');
  DBRECALL();
  EXPECT_FALSE(DELETED());
  DBCOMMIT();
  EXPECT_EQ(Bytes(path_)[header + reclen], ' ');
}

TEST_F(DbfNavigationTest, PackKeepsLiveRecordsInOrderAndShortensTheFile) {
  OpenNumbered(10, {2, 5});
  std::string before = Bytes(path_);
  int header = 32 + 2 * 32 + 2, reclen = 1 + 3 + 4;
  ASSERT_EQ(before.size(), static_cast<size_t>(header + 10 * reclen + 1));
  ASSERT_TRUE(DBPACK());
  EXPECT_EQ(LASTREC(), 8u);
  EXPECT_EQ(RECNO(), 1u);
  EXPECT_EQ(Walk(), (std::vector<int>{1, 3, 4, 6, 7, 8, 9, 10}));
  DBCLOSEAREA();
  std::string after = Bytes(path_);
  ASSERT_EQ(after.size(), before.size() - 2 * reclen);
  EXPECT_EQ(after.substr(4, 4), Le32(8));
  EXPECT_EQ(after.back(), '\x1A');
  EXPECT_NE(after[after.size() - 2], '\x1A');
  EXPECT_EQ(after.substr(header + 7 * reclen, reclen), "  10r10 ");
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfNavigationTest, PackWithNothingDeletedChangesNothing) {
  OpenNumbered(4);
  std::string before = Bytes(path_);
  ASSERT_TRUE(DBPACK());
  DBCLOSEAREA();
  std::string after = Bytes(path_);
  EXPECT_EQ(after.substr(32), before.substr(32));
}

TEST_F(DbfNavigationTest, PackDropsEveryRecordWhenAllAreDeleted) {
  OpenNumbered(3, {1, 2, 3});
  ASSERT_TRUE(DBPACK());
  EXPECT_EQ(LASTREC(), 0u);
  EXPECT_TRUE(EOF_());
  DBCLOSEAREA();
  EXPECT_EQ(Bytes(path_).size(), static_cast<size_t>(32 + 2 * 32 + 2 + 1));
}

TEST_F(DbfNavigationTest, ZapLeavesHeaderAndEofByte) {
  OpenNumbered(5);
  ASSERT_TRUE(DBZAP());
  EXPECT_EQ(LASTREC(), 0u);
  ExpectPosition(1, true, true);
  std::string b = Bytes(path_);
  int header = 32 + 2 * 32 + 2;
  ASSERT_EQ(b.size(), static_cast<size_t>(header + 1));
  EXPECT_EQ(b.substr(4, 4), Le32(0));
  EXPECT_EQ(b.back(), '\x1A');
  // The table works as before.
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::Integer(9));
  DBCLOSEAREA();
  EXPECT_EQ(Bytes(path_).size(), static_cast<size_t>(header + 8 + 1));
}

TEST_F(DbfNavigationTest, RollbackDiscardsChangesToTheCurrentRecord) {
  OpenNumbered(2);
  DBGOTO(Value::Integer(1));
  FIELDPUT(2, Value::String("zzzz"));
  EXPECT_TRUE(DBRECORDINFO(5).logical()) << "the record is hot";
  DBINFO(130);
  EXPECT_EQ(FIELDGET(2).str(), "r1  ");
  DBCOMMIT();
  DBCLOSEAREA();
  EXPECT_EQ(test::FieldBytes(Bytes(path_), 1, "NAME"), "r1  ");
}

TEST_F(DbfNavigationTest, RollbackOfAnAppendedRecordBlanksItAndKeepsItsCounter) {
  path_ = Create("roll.dbf", {{"ID", "+", 4, 0}, {"NAME", "C", 4, 0}});
  ASSERT_TRUE(Use(path_));
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(2, Value::String("abcd"));
  DBDELETE();
  DBINFO(130);
  EXPECT_EQ(FIELDGET(1).integer(), 1);
  EXPECT_EQ(FIELDGET(2).str(), "    ");
  EXPECT_FALSE(DELETED());
  DBCLOSEAREA();
  EXPECT_EQ(test::FieldBytes(Bytes(path_), 1, "ID"), Le32(1));
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

}  // namespace
}  // namespace vosk
