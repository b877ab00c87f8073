// Memo files byte by byte: headers, blocks, references, block counts and where values go.

#include <string>

#include "memo_test_support.h"

namespace vosk {
namespace {

using test::GetLe;

class MemoFormatTest : public MemoTest {};

TEST_F(MemoFormatTest, DbtBlocksAndNextFree) {
  CreateOpen("t.dbf", {{"ID", "N", 3, 0}, {"NOTE", "M", 10, 0}}, {.memo_kind = 1});
  std::string memo = Path("t.dbt");
  std::string b = Bytes(memo);
  ASSERT_EQ(b.size(), 512u);  // the header block only
  EXPECT_EQ(GetLe(b, 0, 4), 1u);
  EXPECT_EQ(GetLe(b, 4, 4), 512u);

  Append();
  Put(2, Value::String(std::string(600, 'x')));
  b = Bytes(memo);
  EXPECT_EQ(GetLe(b, 0, 4), 3u);  // 600 bytes + 0x1A 0x1A take two blocks
  ASSERT_EQ(b.size(), 3u * 512);
  EXPECT_EQ(b.substr(512, 600), std::string(600, 'x'));
  EXPECT_EQ(b.substr(1112, 2), "\x1A\x1A");
  EXPECT_EQ(RefBytes(2), "         1");

  // Written at the end first; once the change is written it moves into the old value's blocks
  // and the rest of the file is given back (DBT keeps no list of free blocks).
  ASSERT_TRUE(Ok(Area()->put_value(2, Value::String("short text"))));
  b = Bytes(memo);
  EXPECT_EQ(GetLe(b, 0, 4), 4u);
  EXPECT_EQ(b.substr(3 * 512, 12), "short text\x1A\x1A");
  EXPECT_EQ(b.substr(512, 600), std::string(600, 'x'));
  EXPECT_EQ(RefBytes(2), "         3");
  ASSERT_TRUE(Ok(Area()->go_cold()));
  b = Bytes(memo);
  EXPECT_EQ(GetLe(b, 0, 4), 2u);
  ASSERT_EQ(b.size(), 2u * 512);
  EXPECT_EQ(b.substr(512, 12), "short text\x1A\x1A");
  EXPECT_EQ(RefBytes(2), "         1");
  EXPECT_EQ(Get(2).str(), "short text");
}

TEST_F(MemoFormatTest, DbtBlockCountFollowsTerminator) {
  // ceil((length + 2) / 512): 510 bytes and the two terminator bytes fill one block exactly.
  const struct { size_t length; uint32_t blocks; } cases[] = {{1, 1}, {510, 1}, {511, 2}, {1022, 2}, {1023, 3}};
  CreateOpen("t.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 1});
  uint32_t next = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    Append();
    Put(1, Value::String(std::string(c.length, 'a')));
    uint32_t now = GetLe(Bytes(Path("t.dbt")), 0, 4);
    EXPECT_EQ(now - next, c.blocks);
    next = now;
  }
}

TEST_F(MemoFormatTest, FptHeaderAndBlockLayout) {
  CreateOpen("t.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 1, .block_size = 64});
  std::string memo = Path("t.fpt");
  std::string b = Bytes(memo);
  ASSERT_EQ(b.size(), 512u);
  EXPECT_EQ(Be32(b, 0), 8u);   // 512 / 64
  EXPECT_EQ(Be32(b, 4), 64u);
  EXPECT_EQ(b.substr(8, 8), std::string("Quenrod\0", 8));

  Append();
  Put(1, Value::String(std::string(56, 'a')));  // 56 + 8 = one block
  b = Bytes(memo);
  EXPECT_EQ(Be32(b, 0), 9u);
  EXPECT_EQ(Be32(b, 512), 1u);   // type text
  EXPECT_EQ(Be32(b, 516), 56u);  // data length
  EXPECT_EQ(b.substr(520, 56), std::string(56, 'a'));
  EXPECT_EQ(RefBytes(1), "         8");

  Append();
  Put(1, Value::String(std::string(57, 'b')));  // 57 + 8 needs two blocks
  b = Bytes(memo);
  EXPECT_EQ(Be32(b, 0), 11u);
  EXPECT_EQ(b.size(), 11u * 64);
  EXPECT_EQ(RefBytes(1), "         9");
  EXPECT_EQ(Get(1).str(), std::string(57, 'b'));
}

TEST_F(MemoFormatTest, FourByteReferencesOfVisualFoxProTables) {
  CreateOpen("t.dbf", {{"NOTE", "M", 4, 0}}, {.memo_kind = 2, .variant = 1, .table_kind = 2});
  Append();
  Put(1, Value::String("hello"));
  EXPECT_EQ(RefBytes(1), test::Le32(8));
  EXPECT_EQ(Get(1).str(), "hello");
  Put(1, Value::String(""));
  EXPECT_EQ(RefBytes(1), test::Le32(0));
  EXPECT_EQ(Get(1).str(), "");
}

TEST_F(MemoFormatTest, EmptyTextStoresBlankReferenceAndFreesBlocks) {
  CreateOpen("t.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 2, .block_size = 64});
  Append();
  Put(1, Value::String(std::string(100, 'a')));  // blocks 8-9
  Append();
  Put(1, Value::String("keeps the end"));  // block 10
  ASSERT_TRUE(Ok(Area()->go_to(1)));
  Put(1, Value::String(""));
  EXPECT_EQ(RefBytes(1), std::string(10, ' '));
  EXPECT_TRUE(Get(1).str().empty());
  std::string b = Bytes(Path("t.fpt"));
  EXPECT_EQ(Be32(b, 0), 11u);
  EXPECT_EQ(GetLe(b, 18, 2), 1u);  // one free run in the SIx header list
  EXPECT_EQ(GetLe(b, 20, 2), 2u);  // 2 blocks
  EXPECT_EQ(GetLe(b, 22, 4), 8u);  // from block 8
}

// A rewritten value keeps its blocks until the record change is written (a rollback may still
// need them); then the new value moves into them when it fits, and the blocks at the end of the
// file are given back.
TEST_F(MemoFormatTest, RewrittenValueKeepsItsBlocksUntilTheChangeIsWritten) {
  for (int variant : {1, 2, 3}) {
    SCOPED_TRACE(variant);
    DBCLOSEALL();
    std::string name = "t" + std::to_string(variant) + ".dbf";
    CreateOpen(name, {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = variant, .block_size = 64});
    Append();
    Put(1, Value::String(std::string(300, 'a')));  // 5 blocks
    const int64_t first = FieldInfo(1, 204).integer();
    const size_t size = Bytes(Path("t" + std::to_string(variant) + ".fpt")).size();
    ASSERT_TRUE(Ok(Area()->put_value(1, Value::String(std::string(290, 'b'))))) << ErrorText();
    EXPECT_EQ(FieldInfo(1, 204).integer(), first + 5);  // behind the old value
    ASSERT_TRUE(Ok(Area()->go_cold())) << ErrorText();
    EXPECT_EQ(FieldInfo(1, 204).integer(), first);
    EXPECT_EQ(Bytes(Path("t" + std::to_string(variant) + ".fpt")).size(), size);
    Put(1, Value::String(std::string(60, 'c')));  // 2 blocks: the last 3 are given back
    EXPECT_EQ(FieldInfo(1, 204).integer(), first);
    EXPECT_EQ(Bytes(Path("t" + std::to_string(variant) + ".fpt")).size(), size - 3 * 64);
    EXPECT_EQ(Get(1).str(), std::string(60, 'c'));
  }
}

// Rewriting the last value of a memo file with values of the same size leaves the file as if
// the last value had been written once: same size, same bytes, for every kind and variant,
// with the table held exclusively and shared. A shorter value gives the blocks it no longer
// needs at the end of the file back.
TEST_F(MemoFormatTest, RewritingTheLastValueKeepsTheFile) {
  const struct {
    const char* label;
    MemoSetup setup;
    const char* ext;
    const char* type;
    bool shared;
    size_t shorter_by;  // bytes a 100-byte value gives back against 300 bytes
  } cases[] = {
      {"dBase III DBT", {.memo_kind = 1}, ".dbt", "M", false, 0},
      {"dBase IV DBT", {.memo_kind = 1, .table_kind = 3}, ".dbt", "M", true, 0},
      {"plain FPT", {.memo_kind = 2, .variant = 1, .block_size = 64}, ".fpt", "M", false, 3 * 64},
      {"plain FPT, shared", {.memo_kind = 2, .variant = 1, .block_size = 64}, ".fpt", "M", true,
       3 * 64},
      {"SIx FPT", {.memo_kind = 2, .variant = 2, .block_size = 64}, ".fpt", "M", false, 3 * 64},
      {"FlexFile FPT", {.memo_kind = 2, .variant = 3, .block_size = 64}, ".fpt", "M", true, 3 * 64},
      {"CLIP FPT", {.memo_kind = 2, .variant = 4, .block_size = 64}, ".fpt", "M", false, 3 * 64},
      {"Visual FoxPro FPT", {.memo_kind = 2, .variant = 1, .block_size = 64, .table_kind = 2},
       ".fpt", "M", false, 3 * 64},
      {"SMT", {.memo_kind = 3, .block_size = 32}, ".smt", "M", false, 6 * 32},
      {"variant field", {.memo_kind = 2, .variant = 2, .block_size = 64}, ".fpt", "V", true, 3 * 64},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DBCLOSEALL();
    const std::string base = "r" + std::to_string(++n);
    const std::string memo = Path(base + c.ext);
    const int width = c.setup.table_kind == 2 && *c.type == 'M' ? 4 : 10;
    CreateOpen(base + ".dbf", {{"NOTE", c.type, width, 0}}, c.setup);
    Append();
    Put(1, Value::String("first"));
    Append();
    Put(1, Value::String(std::string(300, 'a')));
    if (c.shared) {
      DBCLOSEALL();
      ASSERT_TRUE(Use(Path(base + ".dbf"), true, false, "", "DBFFPT")) << ErrorText();
      bool locked = false;
      ASSERT_TRUE(Ok(Area()->lock(2, 2, &locked)) && locked);
      ASSERT_TRUE(Ok(Area()->go_to(2)));
    }
    const std::string once = Bytes(memo);
    const std::string ref = RefBytes(1);
    // A variant field keeps the first bytes of a long text in the record.
    const size_t inline_part = *c.type == 'V' ? width - kVarTrailer : 0;
    auto block_of_value = [&] {
      return *c.type == 'V' ? GetLe(RefBytes(1), width - kVarTrailer, 4)
                            : static_cast<uint32_t>(FieldInfo(1, 204).integer());
    };
    const uint32_t block = block_of_value();
    for (char letter = 'b'; letter <= 'f'; ++letter) {
      Put(1, Value::String(std::string(300, letter)));
      ASSERT_EQ(Bytes(memo).size(), once.size()) << letter;
    }
    std::string expect = once;
    const size_t in_memo = 300 - inline_part;
    expect.replace(expect.find(std::string(in_memo, 'a')), in_memo, std::string(in_memo, 'f'));
    std::string now = Bytes(memo);
    if (c.setup.memo_kind == 2 && c.setup.variant >= 3) {
      // FlexFile and CLIP headers count every save of the free list.
      now.replace(kMhFlexCounter, 4, expect.substr(kMhFlexCounter, 4));
    }
    EXPECT_EQ(now, expect);
    EXPECT_EQ(RefBytes(1).substr(inline_part), ref.substr(inline_part));
    Put(1, Value::String(std::string(100, 'g')));
    EXPECT_EQ(Bytes(memo).size(), once.size() - c.shorter_by);
    EXPECT_EQ(block_of_value(), block);
    ASSERT_TRUE(Ok(Area()->go_to(1)));
    EXPECT_EQ(Get(1).str(), "first");
    ASSERT_TRUE(Ok(Area()->go_to(2)));
    EXPECT_EQ(Get(1).str(), std::string(100, 'g'));
  }
}

TEST_F(MemoFormatTest, NonTextValuesRefusedWhereTheFormHasNoPlace) {
  const struct { const char* label; MemoSetup setup; } cases[] = {
      {"DBT", {.memo_kind = 1}},
      {"plain FPT", {.memo_kind = 2, .variant = 1}},
      {"CLIP FPT", {.memo_kind = 2, .variant = 4}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DBCLOSEALL();
    CreateOpen("r" + std::to_string(++n) + ".dbf", {{"NOTE", "M", 10, 0}}, c.setup);
    Append();
    errors_.clear();
    EXPECT_TRUE(Failed(Area()->put_value(1, Value::Integer(42))));
    EXPECT_LAST_ERROR(kEgDataType, kEdfDataType);
    EXPECT_EQ(RefBytes(1), std::string(10, ' '));
  }
}

// A memo file header written by another program.
std::string FptHeader(uint32_t next, uint32_t block_size, const std::string& signature = "") {
  std::string h(512, '\0');
  h.replace(0, 4, Be32Bytes(next));
  h.replace(4, 4, Be32Bytes(block_size));
  h.replace(8, signature.size(), signature);
  return h;
}

TEST_F(MemoFormatTest, BlockSizeAndVariantReadFromHeaders) {
  std::string flex = FptHeader(16, 0) + std::string(512, '\0');
  flex.replace(512, 10, "FlexFile3\x03");
  flex.replace(540, 2, test::Le16(32));
  std::string flex_sized = flex;
  flex_sized.replace(4, 4, Be32Bytes(64));
  const struct {
    const char* label;
    std::string header;
    int block_size;
    int variant;
  } cases[] = {
      {"plain 64", FptHeader(8, 64), 64, 1},
      {"plain 512", FptHeader(1, 512), 512, 1},
      {"SIx 32", FptHeader(16, 32, "SIxMemo"), 32, 2},
      {"CLIP", FptHeader(8, 64, "Made by CLIP"), 64, 4},
      {"over 65536: low 16 bits", FptHeader(8, 0x00030040), 64, 1},
      {"FlexFile, size only at 540", flex, 32, 3},
      {"FlexFile, size at 4 wins", flex_sized, 64, 3},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DBCLOSEALL();
    std::string base = "h" + std::to_string(++n);
    test::DbfImage img;
    img.version = 0xF5;
    img.fields = {{"NOTE", 'M', 10}};
    img.records = {test::Record({std::string(10, ' ')})};
    Write(base + ".dbf", img);
    test::WriteFileBytes(Path(base + ".fpt"), c.header);
    ASSERT_TRUE(Use(Path(base + ".dbf"), false, false, "", "DBFFPT")) << ErrorText();
    EXPECT_EQ(Info(39).integer(), c.block_size);
    EXPECT_EQ(Info(135).integer(), c.variant);
  }
}

TEST_F(MemoFormatTest, DbtAlwaysUses512) {
  std::string h(512, '\0');
  h.replace(0, 4, test::Le32(2));
  h.replace(4, 4, test::Le32(64));  // whatever is stored here
  h += std::string("dbt text\x1A\x1A", 10) + std::string(502, '\0');
  test::DbfImage img;
  img.version = 0x83;
  img.fields = {{"NOTE", 'M', 10}};
  img.records = {test::Record({"         1"})};
  Write("dd.dbf", img);
  test::WriteFileBytes(Path("DD.DBT"), h);  // found whatever its letter case
  ASSERT_TRUE(Use(Path("dd.dbf"), false, false, "", "DBFFPT")) << ErrorText();
  EXPECT_EQ(Info(39).integer(), 512);
  EXPECT_EQ(Get(1).str(), "dbt text");
}

TEST_F(MemoFormatTest, BlockSizeZeroIsCorruption) {
  test::DbfImage img;
  img.version = 0xF5;
  img.fields = {{"NOTE", 'M', 10}};
  Write("z.dbf", img);
  test::WriteFileBytes(Path("z.fpt"), FptHeader(8, 0));
  EXPECT_FALSE(Use(Path("z.dbf"), false, false, "", "DBFFPT"));
  EXPECT_LAST_ERROR(kEgCorruption, kEdfCorrupt);
  EXPECT_NE(LastError()->file_name.find("z.fpt"), std::string::npos);
}

TEST_F(MemoFormatTest, TenByteReferenceRules) {
  std::string memo = FptHeader(10, 64);
  memo += Be32Bytes(1) + Be32Bytes(5) + "block" + std::string(64 - 13, '\0');  // block 8
  memo += std::string(64, '\0');
  memo += Be32Bytes(1) + Be32Bytes(6) + "twelve" + std::string(64 - 14, '\0');  // block 10
  const struct {
    std::string ref;
    bool ok;
    std::string text;
  } cases[] = {
      {"         8", true, "block"},
      {"0000000008", true, "block"},
      {"  0 0    8", true, "block"},  // blanks before any non-zero digit
      {std::string(10, ' '), true, ""},
      {std::string("\0" "12345678x", 10), true, ""},  // a leading 0x00 is block 0
      {"8         ", false, ""},
      {"        8 ", false, ""},
      {"  1 0     ", false, ""},
      {"      0x08", false, ""},
      {"9999999999", false, ""},  // beyond a 32-bit block number
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    DBCLOSEALL();
    std::string base = "r" + std::to_string(i);
    test::DbfImage img;
    img.version = 0xF5;
    img.fields = {{"NOTE", 'M', 10}};
    img.records = {test::Record({cases[i].ref})};
    Write(base + ".dbf", img);
    test::WriteFileBytes(Path(base + ".fpt"), memo);
    ASSERT_TRUE(Use(Path(base + ".dbf"), false, false, "", "DBFFPT")) << ErrorText();
    errors_.clear();
    Value v;
    Status s = Area()->get_value(1, &v);
    if (cases[i].ok) {
      EXPECT_TRUE(Ok(s)) << ErrorText();
      EXPECT_EQ(v.str(), cases[i].text);
    } else {
      EXPECT_TRUE(Failed(s));
      EXPECT_LAST_ERROR(kEgCorruption, kEdfCorrupt);
      EXPECT_TRUE(LastError()->can_default);
    }
  }
}

TEST_F(MemoFormatTest, SmtReferenceCarriesTypeLengthAndBlock) {
  CreateOpen("s.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 3, .block_size = 32});
  std::string b = Bytes(Path("s.smt"));
  ASSERT_EQ(b.size(), 512u);
  EXPECT_EQ(GetLe(b, 0, 4), 16u);  // little-endian in SMT files
  EXPECT_EQ(GetLe(b, 4, 4), 32u);
  EXPECT_EQ(b.substr(8, 8), std::string("SIxMemo\0", 8));
  Append();
  Put(1, Value::String(std::string(40, 't')));
  EXPECT_EQ(RefBytes(1), test::Le16(1) + test::Le32(40) + test::Le32(16));
  Append();
  Put(1, Value::Date(2451545));
  EXPECT_EQ(RefBytes(1), test::Le16(4) + test::Le32(5) + test::Le32(18));
  b = Bytes(Path("s.smt"));
  EXPECT_EQ(b.substr(18 * 32, 5), "\x04" + test::Le32(2451545));  // the type repeated first
  EXPECT_EQ(Get(1).julian(), 2451545);
  EXPECT_EQ(FieldInfo(1, 205).str(), "D");
  ASSERT_TRUE(Ok(Area()->go_to(1)));
  EXPECT_EQ(Get(1).str(), std::string(40, 't'));
  EXPECT_EQ(FieldInfo(1, 202).integer(), 40);
  EXPECT_EQ(FieldInfo(1, 203).integer(), 16 * 32);
  Put(1, Value());
  EXPECT_EQ(RefBytes(1), std::string(10, ' '));
}

TEST_F(MemoFormatTest, DbaseFourTablesWriteLengthPrefixedBlocks) {
  CreateOpen("d4.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 1, .table_kind = 3});
  Append();
  Put(1, Value::String("dBase IV text"));
  std::string b = Bytes(Path("d4.dbt"));
  EXPECT_EQ(GetLe(b, 20, 2), 512u);
  EXPECT_EQ(b.substr(512, 4), std::string("\xFF\xFF\x08\x00", 4));
  EXPECT_EQ(GetLe(b, 516, 4), 13u + 8);
  EXPECT_EQ(b.substr(520, 13), "dBase IV text");
  EXPECT_EQ(Get(1).str(), "dBase IV text");
}

TEST_F(MemoFormatTest, FieldInquiries) {
  CreateOpen("fi.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 3, .block_size = 64});
  Append();
  EXPECT_EQ(FieldInfo(1, 205).str(), "M");  // no memo yet
  Put(1, Value::String("abcdefgh"));
  EXPECT_EQ(FieldInfo(1, 202).integer(), 8);
  EXPECT_EQ(FieldInfo(1, 203).integer(), 16 * 64 + 8);  // the FlexFile header is 1024 bytes
  EXPECT_EQ(FieldInfo(1, 204).integer(), 16);
  EXPECT_EQ(FieldInfo(1, 205).str(), "M");
  Value part = Value::Array({Value::Integer(3), Value::Integer(4)});
  ASSERT_TRUE(Ok(Area()->field_info(1, 201, &part)));
  EXPECT_EQ(part.str(), "cdef");
  const struct { Value v; const char* letter; } cases[] = {
      {Value::Integer(7), "N"}, {Value::Double(1.5, 10, 2), "N"}, {Value::Date(2450000), "D"},
      {Value::Logical(true), "L"}, {Value::Array({Value::Integer(1)}), "A"},
  };
  for (const auto& c : cases) {
    Put(1, c.v);
    EXPECT_EQ(FieldInfo(1, 205).str(), c.letter);
  }
  EXPECT_EQ(Info(37).str(), Path("fi.fpt"));
  EXPECT_EQ(Info(133).integer(), 2);
}

TEST_F(MemoFormatTest, FileCaseAppliesToCreatedMemoNames) {
  SET(kSetFileCase, Value::Integer(kCaseUpper));
  CreateOpen("upper.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2});
  EXPECT_TRUE(FileExists(dir_.File("UPPER.FPT")));
  DBCLOSEALL();
  ASSERT_TRUE(Use(dir_.File("upper"), false, false, "", "DBFFPT")) << ErrorText();
}

}  // namespace
}  // namespace vosk
