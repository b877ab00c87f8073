// Navigation through an NTX order: top, bottom, skip, seek (soft, last), scopes by prefix, key
// position and count with and without scope and filter, key goto, BOF/EOF after each move.

#include "ntx_test_support.h"

namespace vosk {
namespace {

class NtxNavigationTest : public NtxTest {
 protected:
  // Records 1..8: names in this physical order.
  void SetUp() override {
    NtxTest::SetUp();
    ASSERT_TRUE(MakeTable("t", {{"NAME", "C", 8, 0}, {"N", "N", 5, 1}}));
    const char* names[] = {"ROSSI", "BIANCHI", "ROSA", "VERDI", "BIANCO", "ROSSI", "NERI", "AMATO"};
    double n = -3.5;
    for (const char* s : names) {
      Add({Value::String(s), Value::Double(n, 0, 1)});
      n += 1.5;
    }
    ASSERT_TRUE(ORDCREATE(Path("name.ntx"), "", "NAME")) << ErrorText();
  }
  struct Pos {
    uint32_t recno;
    bool bof, eof, found;
  };
  Pos Here() const { return {RECNO(), BOF(), EOF_(), FOUND()}; }
};

// Alphabetical: AMATO 8, BIANCHI 2, BIANCO 5, NERI 7, ROSA 3, ROSSI 1, ROSSI 6, VERDI 4.

TEST_F(NtxNavigationTest, WalksInKeyOrderBothWays) {
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{8, 2, 5, 7, 3, 1, 6, 4}));
  EXPECT_EQ(WalkBack(), (std::vector<uint32_t>{4, 6, 1, 3, 7, 5, 2, 8}));
}

TEST_F(NtxNavigationTest, BofAndEofAfterEachMove) {
  DBGOTOP();
  DBSKIP(-1);
  Pos p = Here();
  EXPECT_EQ(p.recno, 8u);
  EXPECT_TRUE(p.bof);
  EXPECT_FALSE(p.eof);
  DBGOBOTTOM();
  DBSKIP(1);
  p = Here();
  EXPECT_EQ(p.recno, 9u) << "the phantom record";
  EXPECT_TRUE(p.eof);
  EXPECT_FALSE(p.bof);
  DBSKIP(-1);
  EXPECT_EQ(RECNO(), 4u) << "a skip back from EOF starts at the bottom";
  EXPECT_FALSE(EOF_());
  DBGOTOP();
  DBSKIP(3);
  EXPECT_EQ(RECNO(), 7u);
  DBSKIP(-2);
  EXPECT_EQ(RECNO(), 2u);
  DBSKIP(100);
  EXPECT_TRUE(EOF_());
}

TEST_F(NtxNavigationTest, Seeks) {
  const struct {
    const char* key;
    bool soft, last;
    uint32_t recno;
    bool found, eof;
  } kCases[] = {
      {"ROSSI", false, false, 1, true, false},
      {"ROSSI", false, true, 6, true, false},
      {"ROS", false, false, 3, true, false},    // a prefix matches the first ROS...
      {"ROS", false, true, 6, true, false},     // ... and the last
      {"BIANCA", false, false, 9, false, true}, // not found, not soft: EOF
      {"BIANCA", true, false, 2, false, false}, // soft: the next greater key
      {"BIANCA", true, true, 8, false, false},  // soft last: the next smaller key
      {"ZZZ", true, false, 9, false, true},     // beyond the last key: EOF even soft
      {"AA", true, true, 9, false, true},       // before the first key, last: EOF
  };
  for (const auto& c : kCases) {
    bool found = DBSEEK(Value::String(c.key), Value::Logical(c.soft), Value::Logical(c.last));
    EXPECT_EQ(found, c.found) << c.key << " soft " << c.soft << " last " << c.last;
    EXPECT_EQ(Here().recno, c.recno) << c.key << " soft " << c.soft << " last " << c.last;
    EXPECT_EQ(Here().eof, c.eof) << c.key;
    EXPECT_FALSE(Here().bof) << c.key;
  }
  // The seek positions the order: a skip goes on from the key found.
  DBSEEK(Value::String("NERI"));
  DBSKIP(1);
  EXPECT_EQ(RECNO(), 3u);
}

TEST_F(NtxNavigationTest, SeekWithoutOrderIsAnError) {
  ORDSETFOCUS(Value::Integer(0));
  EXPECT_FALSE(DBSEEK(Value::String("ROSSI")));
  EXPECT_LAST_ERROR(kEgNoOrder, 1201);
  DBSEEK(Value());
  EXPECT_LAST_ERROR(kEgArg, 1001);
}

TEST_F(NtxNavigationTest, ScopeByPrefix) {
  ORDSCOPE(0, Value::String("B"));
  ORDSCOPE(1, Value::String("R"));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 5, 7, 3, 1, 6}));
  EXPECT_EQ(WalkBack(), (std::vector<uint32_t>{6, 1, 3, 7, 5, 2}));
  EXPECT_EQ(ORDKEYCOUNT(), 6);
  DBGOTO(Value::Integer(7));
  EXPECT_EQ(ORDKEYNO(), 3);
  DBGOTO(Value::Integer(8));
  EXPECT_EQ(ORDKEYNO(), 0) << "a record outside the scope has no position";
  // Seeks outside the scope: before the top goes to the top of the scope, after the bottom EOF.
  EXPECT_FALSE(DBSEEK(Value::String("AMATO"), Value::Logical(true)));
  EXPECT_EQ(RECNO(), 2u);
  EXPECT_FALSE(DBSEEK(Value::String("VERDI")));
  EXPECT_TRUE(EOF_());
  // Reading, then clearing with an explicit nil.
  EXPECT_EQ(ORDSCOPE(0).str(), "B");
  ORDSCOPE(0, Value());
  EXPECT_TRUE(ORDSCOPE(0).is_nil());
  EXPECT_EQ(Walk().front(), 8u);
  ORDSCOPE(2);
  EXPECT_EQ(ORDKEYCOUNT(), 8);
}

TEST_F(NtxNavigationTest, DescendingToggleStartsAtTheBottomScope) {
  ORDSCOPE(2, Value::String("ROS"));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{3, 1, 6}));
  ORDDESCEND(Value(), Value(), Value::Logical(true));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{6, 1, 3}));
  EXPECT_TRUE(DBSEEK(Value::String("ROSSI")));
  EXPECT_EQ(RECNO(), 6u) << "the first ROSSI in the direction of travel";
  DBGOTO(Value::Integer(3));
  EXPECT_EQ(ORDKEYNO(), 3);
}

TEST_F(NtxNavigationTest, KeyPositionAndCountWithFilter) {
  DBGOTO(Value::Integer(5));
  EXPECT_EQ(ORDKEYNO(), 3);
  EXPECT_EQ(ORDKEYCOUNT(), 8);
  ASSERT_TRUE(DBSETFILTER("N > 0")) << ErrorText();  // records 4..8
  EXPECT_EQ(ORDKEYCOUNT(), 5);
  DBGOTO(Value::Integer(5));
  EXPECT_EQ(ORDKEYNO(), 2) << "AMATO 8 passes, BIANCHI 2 does not";
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{8, 5, 7, 6, 4}));
  DBGOTO(Value::Integer(3));
  EXPECT_EQ(ORDKEYNO(), 0) << "a record hidden by the filter";
  DBCLEARFILTER();
  DBGOTO(Value::Integer(9));
  EXPECT_EQ(ORDKEYNO(), 0) << "end of file";
}

TEST_F(NtxNavigationTest, KeyGoto) {
  EXPECT_TRUE(ORDKEYGOTO(4));
  EXPECT_EQ(RECNO(), 7u);
  EXPECT_FALSE(ORDKEYGOTO(9));
  EXPECT_TRUE(EOF_());
  EXPECT_EQ(ORDKEYNO(), 0);
}

TEST_F(NtxNavigationTest, NumericAndFindRecord) {
  ASSERT_TRUE(ORDCREATE(Path("n.ntx"), "", "N")) << ErrorText();
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(DBSEEK(Value::Double(-0.5, 0, 1)));
  EXPECT_EQ(RECNO(), 3u);
  EXPECT_TRUE(DBSEEK(Value::Integer(1)));
  EXPECT_EQ(RECNO(), 4u);
  EXPECT_TRUE(ORDFINDREC(6));
  EXPECT_EQ(RECNO(), 6u);
  EXPECT_FALSE(ORDFINDREC(6, true));
  EXPECT_TRUE(EOF_());
}

TEST_F(NtxNavigationTest, ChangedKeyMovesTheRecord) {
  DBGOTO(Value::Integer(8));  // AMATO
  FIELDPUT(1, Value::String("ZETA"));
  DBCOMMIT();
  EXPECT_EQ(ORDKEYNO(), 8);
  DBSKIP(-1);
  EXPECT_EQ(RECNO(), 4u);
  DBGOTOP();
  EXPECT_EQ(RECNO(), 2u);
}

}  // namespace
}  // namespace vosk
