// Appends to a table held exclusively are gathered and written to the data file in blocks;
// with an order open each append also adds its key. These cases append across several block
// boundaries with records of different lengths and check that the data file never grows past
// its records, that a read sees every record appended before it, and that the table and the
// order hold exactly the records appended.

#include <sys/stat.h>

#include <cstdio>
#include <set>

#include "ntx_test_support.h"

namespace vosk {
namespace {

int64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// The NUM value of record r: scrambled, so that keys arrive out of order.
int64_t ValueOf(uint32_t r) { return (static_cast<int64_t>(r) * 7919) % 100003; }

std::string NameOf(int64_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "N%07lld", static_cast<long long>(v));
  return buf;
}

class NtxAppendTest : public NtxTest {};

TEST_F(NtxAppendTest, ExclusiveAppendsAcrossBlocksKeepFileAndOrderExact) {
  struct Case {
    int name_len;     // the record is name_len + NUM (10) + deletion flag (1) bytes
    const char* key;  // "" = no order open
  };
  const Case cases[] = {
      {2, "NAME"},    // tiny records, many per block
      {53, "NAME"},   // 64-byte records: a block ends exactly on a record
      {66, "NUM"},    // 77-byte records: a block ends inside a record
      {66, ""},       // the same without an order
      {1013, "NUM"},  // 1 KB records, few per block
  };
  constexpr uint32_t kAppends = 12000;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "name length " << c.name_len << ", key '" << c.key << "'");
    DBCLOSEALL();
    std::string table = "t" + std::to_string(c.name_len) + c.key + ".dbf";
    ASSERT_TRUE(MakeTable(table, {{"NAME", "C", c.name_len, 0}, {"NUM", "N", 10, 0}}))
        << ErrorText();
    if (*c.key) {
      ASSERT_TRUE(ORDCREATE(Path(std::string("i") + c.key + std::to_string(c.name_len) + ".ntx"),
                            "", c.key))
          << ErrorText();
    }
    const std::string path = Path(table);
    const int64_t header = Dbf()->header_length();
    const int64_t record = Dbf()->record_length();
    ASSERT_EQ(record, c.name_len + 11);
    auto expected_size = [&](uint32_t records) { return header + records * record + 1; };
    // The key of record r as the order compares it (NAME may be cut to the field's width).
    auto key_of = [&](uint32_t r) {
      std::string name = NameOf(ValueOf(r));
      return std::string(c.key) == "NAME" ? name.substr(0, c.name_len) : name;
    };

    for (uint32_t r = 1; r <= kAppends; ++r) {
      ASSERT_TRUE(DBAPPEND()) << ErrorText();
      const int64_t v = ValueOf(r);
      FIELDPUT(1, Value::String(NameOf(v)));
      FIELDPUT(2, Value::Integer(v));
      ASSERT_LE(FileSize(path), expected_size(r)) << "data file past its records at " << r;
      if (r % 997 == 0) {
        // Reading the record just appended and one from the middle writes what is gathered.
        for (uint32_t back : {r, r / 2 + 1}) {
          DBGOTO(Value::Integer(back));
          ASSERT_EQ(RECNO(), back);
          Value got = FIELDGET(2);
          ASSERT_TRUE(got.is_numeric()) << "record " << back;
          ASSERT_EQ(static_cast<int64_t>(got.number()), ValueOf(back)) << "record " << back;
        }
        ASSERT_EQ(FileSize(path), expected_size(r)) << "after reading back at " << r;
      }
    }
    ASSERT_TRUE(errors_.empty()) << ErrorText();
    EXPECT_EQ(LASTREC(), kAppends);
    DBCOMMIT();
    EXPECT_EQ(FileSize(path), expected_size(kAppends));
    if (*c.key) {
      EXPECT_EQ(ORDKEYCOUNT(), static_cast<int64_t>(kAppends));
      std::vector<uint32_t> walk = Walk();
      ASSERT_EQ(walk.size(), kAppends);
      EXPECT_EQ(std::set<uint32_t>(walk.begin(), walk.end()).size(), kAppends);
      for (size_t i = 1; i < walk.size(); ++i) {
        ASSERT_LE(key_of(walk[i - 1]), key_of(walk[i])) << "order broken at " << i;
      }
    }
    DBCLOSEALL();
    EXPECT_EQ(FileSize(path), expected_size(kAppends));
    ASSERT_TRUE(errors_.empty()) << ErrorText();
  }
}

}  // namespace
}  // namespace vosk
