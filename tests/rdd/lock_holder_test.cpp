// Record inquiry 10: who holds the lock of a record, read from the _DBASELOCK field that the
// holder wrote when it took the lock.

#include "platform/system.h"
#include "rdd_fixture.h"

namespace vosk {
namespace {

class LockHolderTest : public RddTest {
 protected:
  std::string Table(int lock_width) {
    test::DbfImage img;
    img.fields = {{"NAME", 'C', 4}, {"_DBASELOCK", '0', lock_width, 0, 1}};
    img.records = {test::Record({"abcd", std::string(lock_width, '\0')}),
                   test::Record({"efgh", std::string(lock_width, '\0')})};
    return Write("locks.dbf", img);
  }
};

TEST_F(LockHolderTest, AnotherAreasLockReportsItsTimeDateAndComputer) {
  std::string path = Table(24);
  ASSERT_TRUE(Use(path, true, false, "HOLDER"));
  ASSERT_TRUE(Use(path, true, false, "ASKER"));
  // Nobody holds record 2 yet.
  EXPECT_TRUE(DBRECORDINFO(10, 2, Value::Integer(0)).is_nil());
  DBSELECTAREA("HOLDER");
  DBGOTO(Value::Integer(2));
  LocalTime before = Now();
  ASSERT_TRUE(RLOCK());
  DBSELECTAREA("ASKER");
  Value time = DBRECORDINFO(10, 2, Value::Integer(0));
  ASSERT_TRUE(time.is_string());
  ASSERT_EQ(time.str().size(), 8u);
  EXPECT_EQ(time.str()[2], ':');
  EXPECT_EQ(std::stoi(time.str().substr(0, 2)), before.hour);
  EXPECT_EQ(DBRECORDINFO(10, 2, Value::Integer(1)).julian(),
            JulianFromYmd(before.year, before.month, before.day));
  EXPECT_EQ(DBRECORDINFO(10, 2, Value::Integer(2)).str(), ComputerName().substr(0, 15));
  EXPECT_TRUE(DBRECORDINFO(10, 1, Value::Integer(0)).is_nil()) << "record 1 is free";
  // The holder itself sees no other holder; after the unlock nobody does.
  DBSELECTAREA("HOLDER");
  EXPECT_TRUE(DBRECORDINFO(10, 2, Value::Integer(0)).is_nil());
  DBUNLOCK();
  DBSELECTAREA("ASKER");
  EXPECT_TRUE(DBRECORDINFO(10, 2, Value::Integer(0)).is_nil());
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(LockHolderTest, ShortFieldHasNoComputerNameAndPlainTablesAnswerNil) {
  std::string path = Table(10);
  ASSERT_TRUE(Use(path, true, false, "HOLDER"));
  ASSERT_TRUE(Use(path, true, false, "ASKER"));
  DBSELECTAREA("HOLDER");
  DBGOTO(Value::Integer(1));
  ASSERT_TRUE(RLOCK());
  DBSELECTAREA("ASKER");
  EXPECT_EQ(DBRECORDINFO(10, 1, Value::Integer(2)).str(), "");
  EXPECT_TRUE(DBRECORDINFO(10, 1, Value::Integer(0)).is_string());
  DBCLOSEALL();

  std::string plain = Create("plain.dbf", {{"A", "C", 1, 0}});
  ASSERT_TRUE(Use(plain, true, false, "ONE"));
  ASSERT_TRUE(DBAPPEND());
  DBCOMMIT();
  ASSERT_TRUE(Use(plain, true, false, "TWO"));
  EXPECT_TRUE(DBRECORDINFO(10, 1, Value::Integer(0)).is_nil());
}

}  // namespace
}  // namespace vosk
