// Byte layouts of the CDX format: key encodings, leaf entry widths and their growth, leaf
// compression, interior capacity, and the header checks of a bag.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_format.h"
#include "rdd/dbfcdx/cdx_key.h"
#include "rdd/ord_commands.h"
#include "rdd_fixture.h"

namespace vosk {
namespace {

std::string Hex(const std::string& s) {
  std::string out;
  char buf[4];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return out;
}

TEST(CdxFormatTest, NumericKeysAreOrderedDoubles) {
  const struct {
    double value;
    const char* hex;
  } kCases[] = {
      {0.0, "80 00 00 00 00 00 00 00"},
      {-0.0, "80 00 00 00 00 00 00 00"},
      {1.0, "BF F0 00 00 00 00 00 00"},
      {-1.0, "40 0F FF FF FF FF FF FF"},
  };
  for (const auto& c : kCases) {
    std::string key = CdxDoubleKey(c.value);
    EXPECT_EQ(Hex(key), c.hex) << c.value;
    EXPECT_EQ(CdxKeyDouble(reinterpret_cast<const uint8_t*>(key.data())), c.value + 0.0);
  }
  // Unsigned byte order is numeric order.
  std::vector<double> values = {-1e300, -12345.5, -1, -0.001, 0, 0.001, 1, 2.5, 99999, 1e300};
  for (size_t i = 1; i < values.size(); ++i) {
    EXPECT_LT(CdxDoubleKey(values[i - 1]), CdxDoubleKey(values[i])) << values[i];
  }
}

// A numeric tag of key length 4 (Visual FoxPro's index of an integer field) holds 32-bit
// integers, big-endian with the sign bit inverted; its seek keys take the same form.
TEST(CdxFormatTest, IntegerKeysOfFourBytes) {
  const struct {
    double value;
    const char* hex;
  } kCases[] = {
      {0, "80 00 00 00"},          {1, "80 00 00 01"},         {-1, "7F FF FF FF"},
      {258, "80 00 01 02"},        {2.6, "80 00 00 03"},       {-2147483648.0, "00 00 00 00"},
      {2147483647.0, "FF FF FF FF"}, {1e12, "FF FF FF FF"},
  };
  for (const auto& c : kCases) {
    std::string key;
    ASSERT_TRUE(CdxEncodeKey(Value::Double(c.value), 'N', 4, false, &key));
    EXPECT_EQ(Hex(key), c.hex) << c.value;
    EXPECT_EQ(Hex(CdxSearchKey(Value::Integer(static_cast<int64_t>(c.value)), 'N', 4, false)),
              Hex(CdxIntegerKey(static_cast<double>(static_cast<int64_t>(c.value)))));
  }
  std::string eight;
  ASSERT_TRUE(CdxEncodeKey(Value::Integer(1), 'N', 8, false, &eight));
  EXPECT_EQ(Hex(eight), "BF F0 00 00 00 00 00 00") << "other numeric tags keep doubles";
}

TEST(CdxFormatTest, EntryWidthsGrowWithTheRecordNumbers) {
  const struct {
    int key_length;
    uint32_t max_recno;
    int bytes, rec_bits, dup_bits;
    uint32_t rec_mask;
  } kCases[] = {
      {10, 1, 3, 16, 4, 0xFFFF},        {10, 65535, 3, 16, 4, 0xFFFF},
      {10, 65536, 4, 24, 4, 0xFFFFFF},  {240, 255, 3, 8, 8, 0xFF},
      {240, 256, 4, 16, 8, 0xFFFF},     {1, 1, 3, 22, 1, 0x3FFFFF},
      {8, 65535, 3, 16, 4, 0xFFFF},     {10, 70000, 4, 24, 4, 0xFFFFFF},
      {8, 16777216, 5, 32, 4, 0xFFFFFFFF},
  };
  for (const auto& c : kCases) {
    CdxLeafWidths w = CdxChooseWidths(c.key_length, c.max_recno);
    EXPECT_EQ(w.bytes, c.bytes) << c.key_length << "/" << c.max_recno;
    EXPECT_EQ(w.rec_bits, c.rec_bits) << c.key_length << "/" << c.max_recno;
    EXPECT_EQ(w.dup_bits, c.dup_bits);
    EXPECT_EQ(w.trl_bits, c.dup_bits);
    EXPECT_EQ(w.rec_mask, c.rec_mask);
  }
}

TEST(CdxFormatTest, LeafPageLayoutByteByByte) {
  // "AB" then "ABC" in a tag of key length 10, records 1 and 300.
  std::vector<CdxKeyEntry> keys = {{"AB        ", 1}, {"ABC       ", 300}};
  uint8_t page[kCdxPageSize];
  ASSERT_TRUE(CdxEncodeLeaf(keys, 0, 2, 10, 0x20, kCdxAttrRoot, kCdxNone, kCdxNone, 0, page));
  std::vector<uint8_t> want(kCdxPageSize, 0);
  auto put = [&](size_t at, std::vector<uint8_t> bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) want[at + i] = bytes[i];
  };
  put(0, {0x03, 0x00, 0x02, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  // Free bytes: 488 - 2 entries of 3 - texts "AB" and "C".
  put(12, {0xDF, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x0F, 0x0F, 16, 4, 4, 3});
  // Entry 0: record 1, duplicate 0, trailing 8: top 16 bits = 1000 0000 0000 0001... as
  // trailing (4 bits) 8, duplicate (4 bits) 0, then 8 bits of record: 0x80 0x00 | rec.
  put(24, {0x01, 0x00, 0x80});
  // Entry 1: record 300 (0x012C), duplicate 2, trailing 7.
  put(27, {0x2C, 0x01, 0x72});
  put(510, {'A', 'B'});
  put(509, {'C'});
  EXPECT_EQ(std::vector<uint8_t>(page, page + kCdxPageSize), want);
  std::vector<CdxKeyEntry> back;
  ASSERT_TRUE(CdxDecodeLeaf(page, 10, 0x20, &back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].key, keys[0].key);
  EXPECT_EQ(back[1].key, keys[1].key);
  EXPECT_EQ(back[1].recno, 300u);
  // A record above the mask widens every entry of the page.
  keys.push_back({"ABD       ", 70000});
  ASSERT_TRUE(CdxEncodeLeaf(keys, 0, 3, 10, 0x20, 0, kCdxNone, kCdxNone, 0, page));
  EXPECT_EQ(page[kCdxLeafEntryBytes], 4);
  EXPECT_EQ(page[kCdxLeafRecBits], 24);
  ASSERT_TRUE(CdxDecodeLeaf(page, 10, 0x20, &back));
  EXPECT_EQ(back[2].recno, 70000u);
  // A damaged page (texts running into the entries) is refused.
  page[kCdxPageCount] = 200;
  EXPECT_FALSE(CdxDecodeLeaf(page, 10, 0x20, &back));
}

TEST(CdxFormatTest, InteriorCapacity) {
  EXPECT_EQ(CdxMaxInteriorKeys(10), 27);
  EXPECT_EQ(CdxMaxInteriorKeys(8), 31);
  EXPECT_EQ(CdxMaxInteriorKeys(240), 2);
}

class CdxBagHeaderTest : public RddTest {};

TEST_F(CdxBagHeaderTest, BadHeadersAreCorruptionOfTheBag) {
  std::string table = Create("t.dbf", {{"NAME", "C", 10, 0}});
  ASSERT_TRUE(Use(table, false, false, "", "DBFCDX")) << ErrorText();
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String("x"));
  ASSERT_TRUE(ORDCREATE(Path("good.cdx"), "NAME", "NAME")) << ErrorText();
  DBCLOSEAREA();
  std::string good = Bytes(Path("good.cdx"));
  const struct {
    const char* what;
    size_t offset;  // in the first tag's header (after the directory's two pages and root)
    std::vector<uint8_t> bytes;
    bool short_file;
  } kCases[] = {
      {"exactly 1024 bytes", 0, {}, true},
      {"root not on a page boundary", 0, {0x10, 0x02, 0, 0}, false},
      {"key length 241", 12, {241, 0}, false},
  };
  for (const auto& c : kCases) {
    std::string bytes = good;
    if (c.short_file) {
      bytes.resize(1024);
    } else {
      // The tag header follows the directory header and the directory's root page.
      uint32_t tag_header = 0x600;
      for (size_t i = 0; i < c.bytes.size(); ++i) {
        bytes[tag_header + c.offset + i] = static_cast<char>(c.bytes[i]);
      }
    }
    test::WriteFileBytes(Path("bad.cdx"), bytes);
    errors_.clear();
    ASSERT_TRUE(Use(table, false, false, "", "DBFCDX")) << ErrorText();
    EXPECT_FALSE(ORDLISTADD(Value::String(Path("bad.cdx")))) << c.what;
    EXPECT_LAST_ERROR(kEgCorruption, kEdfCorrupt);
    EXPECT_EQ(ORDCOUNT(), 0) << c.what;
    DBCLOSEAREA();
  }
}

}  // namespace
}  // namespace vosk
