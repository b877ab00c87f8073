// Open modes and the writes they refuse, and the exact bytes that record and file locks take in
// each lock scheme, probed through a second open of the data file.

#include <map>
#include <string>

#include "platform/file.h"
#include "platform/os_error.h"
#include "rdd/ord_commands.h"
#include "rdd_fixture.h"

namespace vosk {
namespace {

class DbfAccessTest : public RddTest {
 protected:
  // Header length 98 (two descriptors) and record length 20 (1 + 10 + 9), six records.
  std::string MakeTable(uint8_t table_flags = 0) {
    test::DbfImage img;
    img.fields = {{"NAME", 'C', 10}, {"AMOUNT", 'N', 9}};
    img.table_flags = table_flags;
    for (int i = 1; i <= 6; ++i) {
      std::string n = std::to_string(i);
      img.records.push_back(test::Record({"name" + n + "     ", std::string(8, ' ') + n}));
    }
    return Write("locks.dbf", img);
  }
};

TEST_F(DbfAccessTest, ExclusiveOpenRefusesASecondOpenWithSharingViolation) {
  std::string path = MakeTable();
  ASSERT_TRUE(Use(path, false, false, "FIRST"));
  File other;
  EXPECT_EQ(other.Open(path, Access::kRead, Share::kDenyNone), kOsSharingViolation);
  EXPECT_FALSE(other.is_open());
  EXPECT_FALSE(Use(path, true, true, "SECOND"));
  EXPECT_LAST_ERROR(kEgOpen, 1001);
  EXPECT_EQ(LastError()->os_code, kOsSharingViolation);
  EXPECT_TRUE(LastError()->can_retry);
  EXPECT_FALSE(USED());
  // Once the first area is closed the file opens again.
  DBSELECTAREA("FIRST");
  DBCLOSEAREA();
  EXPECT_EQ(other.Open(path, Access::kRead, Share::kExclusive), 0);
}

TEST_F(DbfAccessTest, SharedOpensCoexistButRefuseAnExclusiveOne) {
  std::string path = MakeTable();
  ASSERT_TRUE(Use(path, true, false, "A1"));
  ASSERT_TRUE(Use(path, true, true, "A2"));
  File other;
  EXPECT_EQ(other.Open(path, Access::kReadWrite, Share::kExclusive), kOsSharingViolation);
  EXPECT_EQ(other.Open(path, Access::kRead, Share::kDenyNone), 0);
}

TEST_F(DbfAccessTest, ReadOnlyOpenRefusesEveryWrite) {
  std::string path = MakeTable();
  std::string before = Bytes(path);
  ASSERT_TRUE(Use(path, false, true));
  EXPECT_TRUE(DBINFO(129).logical());
  EXPECT_TRUE(FIELDPUT(1, Value::String("x")).is_nil());
  EXPECT_LAST_ERROR(kEgReadonly, 1025);
  errors_.clear();
  DBDELETE();
  EXPECT_LAST_ERROR(kEgReadonly, 1025);
  errors_.clear();
  EXPECT_FALSE(DBAPPEND());
  EXPECT_LAST_ERROR(kEgReadonly, 1025);
  errors_.clear();
  EXPECT_FALSE(DBPACK());
  EXPECT_LAST_ERROR(kEgReadonly, 1025);
  errors_.clear();
  EXPECT_FALSE(DBZAP());
  EXPECT_LAST_ERROR(kEgReadonly, 1025);
  DBCLOSEAREA();
  EXPECT_EQ(Bytes(path), before);
}

TEST_F(DbfAccessTest, SharedWritesNeedALock) {
  std::string path = MakeTable();
  ASSERT_TRUE(Use(path, true));
  DBGOTO(Value::Integer(2));
  EXPECT_TRUE(FIELDPUT(1, Value::String("changed")).is_nil());
  EXPECT_LAST_ERROR(kEgUnlocked, 1022);
  errors_.clear();
  DBDELETE();
  EXPECT_LAST_ERROR(kEgUnlocked, 1022);
  errors_.clear();
  ASSERT_TRUE(RLOCK());
  EXPECT_EQ(FIELDPUT(1, Value::String("changed")).str(), "changed");
  DBUNLOCK();
  EXPECT_TRUE(errors_.empty()) << ErrorText();
  EXPECT_EQ(test::FieldBytes(Bytes(path), 2, "NAME"), "changed   ");
}

TEST_F(DbfAccessTest, PackAndZapOnASharedTableRequireExclusiveAndChangeNothing) {
  std::string path = MakeTable();
  ASSERT_TRUE(Use(path, true));
  ASSERT_TRUE(FLOCK());
  DBGOTO(Value::Integer(3));
  DBDELETE();
  DBCOMMIT();
  std::string before = Bytes(path);
  errors_.clear();
  EXPECT_FALSE(DBPACK());
  EXPECT_LAST_ERROR(kEgShared, 1023);
  errors_.clear();
  EXPECT_FALSE(DBZAP());
  EXPECT_LAST_ERROR(kEgShared, 1023);
  EXPECT_EQ(LASTREC(), 6u);
  DBCLOSEAREA();
  EXPECT_EQ(Bytes(path), before);
}

// Where a scheme puts the lock of record 5 and the file lock.
struct SchemeCase {
  int scheme;
  bool structural_bag;
  uint64_t record5;
  uint64_t file_first;  // first byte of the file lock
  uint64_t file_last;   // last byte of the file lock
  uint64_t base;        // DBINFO(35)
};

TEST_F(DbfAccessTest, LockBytesOfEveryScheme) {
  const SchemeCase cases[] = {
      {1, false, 1000000000ULL + 5, 1000000001ULL, 2000000000ULL, 1000000000ULL},
      {2, false, 1000000000ULL + 5, 1000000001ULL, 2000000000ULL, 1000000000ULL},
      {3, false, 0x40000000ULL + 98 + 4 * 20, 0x40000001ULL, 0x7FFFFFFDULL, 0x40000000ULL},
      {3, true, 0x7FFFFFFEULL - 5, 0x7FFFFFFEULL - 0x07FFFFFFULL, 0x7FFFFFFDULL, 0x7FFFFFFEULL},
      {4, false, 4000000000ULL + 5, 4000000001ULL, 4294967295ULL, 4000000000ULL},
      {5, false, 0x7FFFFFFF00000001ULL + 5, 0x7FFFFFFF00000002ULL, 0x7FFFFFFF7FFFFFFFULL,
       0x7FFFFFFF00000001ULL},
  };
  for (const SchemeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "scheme " << c.scheme << (c.structural_bag ? " bag" : ""));
    SET(kSetDbfLockScheme, Value::Integer(c.scheme));
    std::string path = MakeTable(c.structural_bag ? 0x01 : 0x00);
    ASSERT_TRUE(Use(path, true)) << ErrorText();
    EXPECT_EQ(DBINFO(128).number(), c.scheme);
    EXPECT_EQ(static_cast<uint64_t>(DBINFO(35).integer()), c.base);
    File probe;
    ASSERT_EQ(probe.Open(path, Access::kReadWrite, Share::kDenyNone), 0);
    auto free_byte = [&](uint64_t offset) {
      if (!probe.Lock(offset, 1, true, false)) return false;
      EXPECT_TRUE(probe.Unlock(offset, 1));
      return true;
    };

    DBGOTO(Value::Integer(5));
    ASSERT_TRUE(RLOCK());
    EXPECT_FALSE(free_byte(c.record5));
    EXPECT_TRUE(free_byte(c.record5 - 1));
    EXPECT_TRUE(free_byte(c.record5 + 1));
    DBUNLOCK();
    EXPECT_TRUE(free_byte(c.record5));

    ASSERT_TRUE(FLOCK());
    EXPECT_FALSE(free_byte(c.file_first));
    EXPECT_FALSE(free_byte(c.file_last));
    EXPECT_TRUE(free_byte(c.file_first - 1));
    EXPECT_TRUE(free_byte(c.file_last + 1));
    DBUNLOCK();
    EXPECT_TRUE(free_byte(c.file_first));
    EXPECT_TRUE(free_byte(c.file_last));

    // A record lock held elsewhere refuses ours and the file lock.
    ASSERT_TRUE(probe.Lock(c.record5, 1, true, false));
    EXPECT_FALSE(RLOCK());
    EXPECT_FALSE(FLOCK());
    DBGOTO(Value::Integer(4));
    EXPECT_TRUE(RLOCK());
    EXPECT_TRUE(probe.Unlock(c.record5, 1));
    DBCLOSEAREA();
  }
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

// A table locked whole is read ahead while it is walked in natural order; what the walk writes
// and what another program wrote before the lock are both read back, and after the unlock the
// table is read from the file again.
TEST_F(DbfAccessTest, AWalkUnderTheTableLockReadsBackEveryChange) {
  std::string path = MakeTable();
  ASSERT_TRUE(Use(path, true, false, "OTHER"));
  ASSERT_TRUE(Use(path, true, false, "WALKER"));
  const auto put = [](const char* alias, uint32_t recno, const char* name) {
    DBSELECTAREA(alias);
    DBGOTO(Value::Integer(recno));
    ASSERT_TRUE(RLOCK());
    FIELDPUT(1, Value::String(name));
    DBUNLOCK();
  };
  const auto name = [](const char* alias, uint32_t recno) {
    DBSELECTAREA(alias);
    DBGOTO(Value::Integer(recno));
    return FIELDGET(1).str();
  };
  EXPECT_EQ(name("WALKER", 5), "name5     ");  // read before the lock
  put("OTHER", 5, "other5");
  DBSELECTAREA("WALKER");
  ASSERT_TRUE(FLOCK());
  DBGOTOP();
  std::vector<std::string> seen;
  while (!EOF_()) {
    seen.push_back(FIELDGET(1).str());
    FIELDPUT(1, Value::String("walk" + std::to_string(RECNO())));
    DBSKIP(1);
  }
  EXPECT_EQ(seen[4], "other5    ") << "the other program's change, made before the lock";
  EXPECT_EQ(name("WALKER", 3), "walk3     ") << "the walk's own change";
  DBUNLOCK();
  put("OTHER", 4, "other4");
  EXPECT_EQ(name("WALKER", 4), "other4    ") << "unlocked: read from the file";
  for (uint32_t r = 1; r <= 6; ++r) {
    EXPECT_EQ(test::FieldBytes(Bytes(path), r, "NAME"),
              r == 4 ? std::string("other4    ") : "walk" + std::to_string(r) + "     ");
  }
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

// Under the table lock the changes a walk makes are held back and written together; whatever
// order the records are changed in, with re-reads and commits between, the file holds every
// change after the unlock, and a commit makes them visible to another area before it.
TEST_F(DbfAccessTest, ChangesHeldBackUnderTheTableLockAllReachTheFile) {
  struct Case {
    const char* name;
    std::vector<uint32_t> order;  // records changed, in this order
    bool reread = false;          // DBSKIP(0) after each change
  };
  const Case cases[] = {
      {"forward", {1, 2, 3, 4, 5, 6}},
      {"backward", {6, 5, 4, 3, 2, 1}},
      {"gaps", {1, 3, 5, 2, 6}},
      {"twice", {2, 3, 2, 4, 3}},
      {"with re-reads", {1, 2, 4, 5}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = MakeTable();
    ASSERT_TRUE(Use(path, true, false, "OTHER"));
    ASSERT_TRUE(Use(path, true, false, "WALKER"));
    ASSERT_TRUE(FLOCK());
    DBGOTOP();  // the read-ahead now holds the table
    std::map<uint32_t, std::string> expect;
    int n = 0;
    for (uint32_t r : c.order) {
      DBGOTO(Value::Integer(r));
      const std::string v = "v" + std::to_string(++n);
      FIELDPUT(1, Value::String(v));
      expect[r] = v + std::string(10 - v.size(), ' ');
      if (c.reread) DBSKIP(0);
    }
    DBCOMMIT();
    DBSELECTAREA("OTHER");
    for (const auto& [r, v] : expect) {
      DBGOTO(Value::Integer(r));
      EXPECT_EQ(FIELDGET(1).str(), v) << "record " << r << " after the commit";
    }
    DBSELECTAREA("WALKER");
    DBGOTO(Value::Integer(c.order.front()));
    FIELDPUT(2, Value::Integer(77));
    DBUNLOCK();
    for (uint32_t r = 1; r <= 6; ++r) {
      const std::string want = expect.count(r) ? expect[r] : "name" + std::to_string(r) + "     ";
      EXPECT_EQ(test::FieldBytes(Bytes(path), r, "NAME"), want) << "record " << r;
    }
    EXPECT_EQ(test::FieldBytes(Bytes(path), c.order.front(), "AMOUNT"), "       77");
    DBCLOSEALL();
  }
  // An order that takes control after the walk reads the changes it held back.
  std::string path = MakeTable();
  ASSERT_TRUE(Use(path, true, false, "WALKER", "DBFNTX"));
  ASSERT_TRUE(ORDCREATE(Path("names.ntx"), "NAMES", "NAME"));
  ORDSETFOCUS(Value::Integer(0));
  ASSERT_TRUE(FLOCK());
  DBGOTOP();
  FIELDPUT(1, Value::String("zeta"));
  DBSKIP(1);
  FIELDPUT(1, Value::String("alfa"));
  ORDSETFOCUS(Value::Integer(1));
  DBGOTOP();
  EXPECT_EQ(FIELDGET(1).str(), "alfa      ");
  EXPECT_EQ(RECNO(), 2u);
  DBGOTO(Value::Integer(1));
  EXPECT_EQ(FIELDGET(1).str(), "zeta      ");
  DBUNLOCK();
  DBCLOSEALL();
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

}  // namespace
}  // namespace vosk
