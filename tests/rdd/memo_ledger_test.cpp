// Where new memo values go: never into blocks that hold another record's value, whatever the
// header claims, and never into memory or disk out of proportion to the value.

#include <sys/resource.h>

#include <string>

#include "memo_test_support.h"

namespace vosk {
namespace {

using test::GetLe;

class MemoLedgerTest : public MemoTest {};

TEST_F(MemoLedgerTest, HeaderBehindTheFileNeverHandsOutBlocksInUse) {
  const struct {
    const char* label;
    MemoSetup setup;
    const char* ext;
    bool big_endian;  // FPT headers are big-endian
  } cases[] = {
      {"DBT", {.memo_kind = 1}, ".dbt", false},
      {"plain FPT", {.memo_kind = 2, .variant = 1, .block_size = 64}, ".fpt", true},
      {"SIx FPT", {.memo_kind = 2, .variant = 2, .block_size = 32}, ".fpt", true},
      {"FlexFile FPT", {.memo_kind = 2, .variant = 3, .block_size = 64}, ".fpt", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DBCLOSEALL();
    std::string base = "lag" + std::to_string(++n);
    CreateOpen(base + ".dbf", {{"ID", "N", 3, 0}, {"NOTE", "M", 10, 0}}, c.setup);
    std::string memo = Path(base + c.ext);
    uint32_t first = c.big_endian ? Be32(Bytes(memo), 0) : GetLe(Bytes(memo), 0, 4);
    for (int i = 1; i <= 2; ++i) {
      Append();
      Put(1, Value::Integer(i));
      Put(2, Value::String(std::string(300, static_cast<char>('a' + i))));
    }
    DBCLOSEALL();
    // The header's next free block goes back to the first data block.
    std::string b = Bytes(memo);
    b.replace(0, 4, c.big_endian ? Be32Bytes(first) : test::Le32(first));
    test::WriteFileBytes(memo, b);
    ASSERT_TRUE(Use(Path(base + ".dbf"), false, false, "", "DBFFPT")) << ErrorText();
    Append();
    Put(1, Value::Integer(3));
    Put(2, Value::String(std::string(300, 'z')));
    ASSERT_TRUE(errors_.empty()) << ErrorText();
    for (int i = 1; i <= 3; ++i) {
      DBGOTO(Value::Integer(i));
      EXPECT_EQ(Get(2).str(), std::string(300, i == 3 ? 'z' : static_cast<char>('a' + i)))
          << "record " << i;
    }
    EXPECT_EQ(Bytes(memo).size(), b.size() + (c.big_endian ? 320u : 512u));
  }
}

TEST_F(MemoLedgerTest, BlockSizesAbove65536AreCorrupt) {
  // Any multiple of 65536 used to be a valid block size: a 9-byte value then took a whole
  // block of up to 2 GB in memory and on disk.
  for (uint32_t size : {131072u, 0x80000000u, 0x00010000u}) {
    SCOPED_TRACE(size);
    DBCLOSEALL();
    errors_.clear();
    std::string base = "bs" + std::to_string(size);
    test::DbfImage img;
    img.version = 0xF5;
    img.fields = {{"NOTE", 'M', 10}};
    img.records = {test::Record({std::string(10, ' ')})};
    Write(base + ".dbf", img);
    std::string h(512, '\0');
    h.replace(0, 4, Be32Bytes(1));
    h.replace(4, 4, Be32Bytes(size));
    std::string memo = Path(base + ".fpt");
    test::WriteFileBytes(memo, h);
    bool opened = Use(Path(base + ".dbf"), false, false, "", "DBFFPT");
    if (size == 0x00010000u) {
      // 65536 itself stays valid, and a value takes one block of it.
      ASSERT_TRUE(opened) << ErrorText();
      ASSERT_TRUE(DBAPPEND());
      Put(1, Value::String("nine byte"));
      EXPECT_EQ(Bytes(memo).size(), 2u * 65536);
      continue;
    }
    EXPECT_FALSE(opened);
    EXPECT_TRUE(HasError(kEgCorruption, kEdfCorrupt)) << ErrorText();
    EXPECT_EQ(Bytes(memo), h);  // refused without a write
  }
}

}  // namespace
}  // namespace vosk
