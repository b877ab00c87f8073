// Damaged and hostile NTX input: the errors named for it, no crash, nothing written.

#include "ntx_test_support.h"
#include "rdd/byte_order.h"

namespace vosk {
namespace {

class NtxBadInputTest : public NtxTest {
 protected:
  // A table of 400 records and an index on it (several levels: key length 40, m = 18), in a
  // bag not named like the table, so that ORDLISTCLEAR closes it.
  void SetUp() override {
    NtxTest::SetUp();
    ASSERT_TRUE(MakeTable("t", {{"NAME", "C", 40, 0}}));
    for (int i = 0; i < 400; ++i) Add({Value::String("N" + std::to_string(i * 7919 % 1000))});
    ASSERT_TRUE(ORDCREATE(Path("idx.ntx"), "", "NAME")) << ErrorText();
    ORDLISTCLEAR();
    good_ = ReadAll(Path("idx.ntx"));
    errors_.clear();
  }
  // Opens the damaged bag and walks it; the file must stay as damaged.
  void OpenAndWalk(const std::string& damaged) {
    WriteAll(Path("idx.ntx"), damaged);
    if (ORDLISTADD(Value::String(Path("idx.ntx")))) {
      Walk();
      WalkBack();
      ORDKEYCOUNT();
      DBGOTO(Value::Integer(3));
      FIELDPUT(1, Value::String("CHANGED"));
      DBCOMMIT();
    }
    EXPECT_EQ(ReadAll(Path("idx.ntx")), damaged) << "a corrupt index was written";
  }
  std::string good_;
};

TEST_F(NtxBadInputTest, HeaderWithControlByteKeyIsRejected) {
  std::string bad = good_;
  bad[22] = '\x01';
  OpenAndWalk(bad);
  EXPECT_LAST_ERROR(kEgCorruption, kEdfCorrupt);
  EXPECT_EQ(ORDCOUNT(), 0) << "the bag is dropped";
}

TEST_F(NtxBadInputTest, HeaderFlagsAndSizes) {
  const struct {
    int offset;
    uint16_t value;
    const char* what;
  } kCases[] = {
      {0, 0x0806, "unknown flag bit"},
      {0, 0x0000, "no signature"},
      {14, 0, "key length 0"},
      {14, 300, "key length beyond 256"},
      {18, 200, "more keys per page than fit"},
      {4, 3, "root not on a block"},
  };
  for (const auto& c : kCases) {
    std::string bad = good_;
    PutLe16(reinterpret_cast<uint8_t*>(bad.data()) + c.offset, c.value);
    errors_.clear();
    OpenAndWalk(bad);
    EXPECT_TRUE(HasError(kEgCorruption, kEdfCorrupt)) << c.what;
    ORDLISTCLEAR();
  }
}

TEST_F(NtxBadInputTest, CompoundHeaderWith64OrdersIsRejected) {
  std::string bad(2048, '\0');
  PutLe16(reinterpret_cast<uint8_t*>(bad.data()), 0x8000);
  PutLe16(reinterpret_cast<uint8_t*>(bad.data()) + 2, 64);
  OpenAndWalk(bad);
  EXPECT_LAST_ERROR(kEgCorruption, kEdfCorrupt);
}

TEST_F(NtxBadInputTest, TruncatedFile) {
  for (size_t size : {size_t{0}, size_t{500}, size_t{3 * 1024}, good_.size() - 1024}) {
    errors_.clear();
    OpenAndWalk(good_.substr(0, size));
    EXPECT_TRUE(HasError(kEgCorruption, kEdfCorrupt)) << size;
    ORDLISTCLEAR();
  }
}

TEST_F(NtxBadInputTest, PageWithMoreKeysThanItHolds) {
  std::string bad = good_;
  uint32_t root = GetLe32(reinterpret_cast<const uint8_t*>(bad.data()) + 4);
  PutLe16(reinterpret_cast<uint8_t*>(bad.data()) + root, 19);  // m = 18
  OpenAndWalk(bad);
  EXPECT_LAST_ERROR(kEgCorruption, kEdfCorrupt);
}

TEST_F(NtxBadInputTest, ItemOffsetOutsideThePage) {
  std::string bad = good_;
  uint32_t root = GetLe32(reinterpret_cast<const uint8_t*>(bad.data()) + 4);
  PutLe16(reinterpret_cast<uint8_t*>(bad.data()) + root + 2, 1020);
  OpenAndWalk(bad);
  EXPECT_LAST_ERROR(kEgCorruption, kEdfCorrupt);
}

TEST_F(NtxBadInputTest, ChildCycleEndsInCorruption) {
  std::string bad = good_;
  uint8_t* b = reinterpret_cast<uint8_t*>(bad.data());
  uint32_t root = GetLe32(b + 4);
  // The root's first child points back to the root.
  uint16_t item0 = GetLe16(b + root + 2);
  PutLe32(b + root + item0, root);
  OpenAndWalk(bad);
  EXPECT_TRUE(HasError(kEgCorruption, kEdfCorrupt));
}

// One page of ten keys "0001".."0010" (records 1..10); a damaged entry is met by every walk
// through it and by a seek of its key, and each of them fails naming the bag instead of
// ending the listing early or answering "not found".
using NtxDamagedEntryTest = NtxTest;

TEST_F(NtxDamagedEntryTest, WalksAndSeeksThroughADamagedEntryFail) {
  const struct {
    const char* what;
    int field;  // 4 = record number, 8 = key bytes (offsets in the item)
    uint32_t value;
    bool seek_fails;  // the damaged key itself is sought
  } kCases[] = {
      {"record number 0", 4, 0, true},
      {"record number past the record count", 4, 11, true},
      {"record number far past the end", 4, 0x7FFFFFFF, true},
      {"key above the next one", 8, 0x39393939, false},  // "9999" between "0002" and "0004"
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string name = "d" + std::to_string(++n);
    ASSERT_TRUE(MakeTable(name, {{"N", "N", 4, 0}}));
    for (int i = 1; i <= 10; ++i) Add({Value::Integer(i)});
    const std::string bag = Path(name + "x.ntx");
    ASSERT_TRUE(ORDCREATE(bag, "", "N"));
    ORDLISTCLEAR();
    std::string bytes = ReadAll(bag);
    uint8_t* b = reinterpret_cast<uint8_t*>(bytes.data());
    uint32_t root = GetLe32(b + 4);
    ASSERT_EQ(GetLe16(b + root), 10) << "one page holds every key";
    uint16_t item = GetLe16(b + root + 2 + 2 * 2);  // the third key, "0003" of record 3
    PutLe32(b + root + item + c.field, c.value);
    WriteAll(bag, bytes);
    ASSERT_TRUE(ORDLISTADD(Value::String(bag)));

    for (bool forward : {true, false}) {
      errors_.clear();
      std::vector<uint32_t> seen = forward ? Walk() : WalkBack();
      ASSERT_FALSE(errors_.empty()) << "walk " << forward << " listed " << seen.size();
      EXPECT_EQ(errors_.back().gen_code, kEgCorruption);
      EXPECT_EQ(errors_.back().sub_code, kEdfCorrupt);
      EXPECT_EQ(errors_.back().file_name, bag) << "the error names the bag";
    }
    errors_.clear();
    DBSEEK(Value::Integer(3));
    EXPECT_EQ(!errors_.empty(), c.seek_fails);
    errors_.clear();
    EXPECT_TRUE(DBSEEK(Value::Integer(7))) << "keys away from the damage stay found";
    EXPECT_EQ(ReadAll(bag), bytes) << "nothing written";
    DBCLOSEAREA();
  }
}

// A record appended by another user of the shared table after this area read the record count
// is no damage: its key is found and listed.
TEST_F(NtxBadInputTest, KeyOfARecordAppendedElsewhereIsNoDamage) {
  DBCLOSEAREA();
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", Path("t.dbf"), "A", true, false));
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("idx.ntx"))));
  const int a = SELECT();
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", Path("t.dbf"), "B", true, false));
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("idx.ntx"))));
  Add({Value::String("ZZ LATE")});
  DBCOMMIT();
  DBUNLOCK();
  DBSELECTAREA(a);
  errors_.clear();
  EXPECT_TRUE(DBSEEK(Value::String("ZZ LATE")));
  EXPECT_EQ(RECNO(), 401u);
  DBGOTOP();
  EXPECT_EQ(Walk().size(), 401u);
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(NtxBadInputTest, KeyNamingAMissingFieldCreatesNothing) {
  EXPECT_FALSE(ORDCREATE(Path("x.ntx"), "", "NOSUCH"));
  EXPECT_TRUE(HasError(kEgNoVar, 1003)) << ErrorText();
  EXPECT_FALSE(FileExists(Path("x.ntx")));
  EXPECT_FALSE(ORDCREATE(Path("x.ntx"), "", "NAME +"));
  EXPECT_EQ(LastError()->gen_code, kEgSyntax);
  EXPECT_FALSE(FileExists(Path("x.ntx")));
}

TEST_F(NtxBadInputTest, KeyOfUnusableTypeOrWidth) {
  EXPECT_FALSE(ORDCREATE(Path("x.ntx"), "", "TRIM(NAME)"));
  EXPECT_LAST_ERROR(kEgDataWidth, 1026);  // an empty character key on the phantom record
  EXPECT_FALSE(ORDCREATE(Path("x.ntx"), "", "{1}"));
  EXPECT_LAST_ERROR(kEgDataType, 1026);
  ORDCONDSET({.for_text = "NAME"});
  EXPECT_FALSE(ORDCREATE(Path("x.ntx"), "", "NAME"));
  EXPECT_LAST_ERROR(kEgDataType, 1053);
  EXPECT_FALSE(ORDCREATE("", "", "NAME"));
  EXPECT_LAST_ERROR(kEgArg, 1006);
}

}  // namespace
}  // namespace vosk
