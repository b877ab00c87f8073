// Byte-exact NTX layouts: page capacities, key encodings, the order header, an empty order and
// the tree the bulk build writes for a small table, compared page by page with an image
// derived by hand.

#include <cstring>

#include "expr/number_text.h"
#include "ntx_test_support.h"
#include "rdd/byte_order.h"
#include "rdd/dbfntx/ntx_format.h"
#include "rdd/dbfntx/ntx_key.h"
#include "rdd/dbfntx/ntx_page.h"

namespace vosk {
namespace {

std::string Hex(const std::string& s) {
  std::string out;
  char buf[4];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

TEST(NtxFormatTest, PageCapacities) {
  const struct {
    int key_length, max_keys;
  } kCases[] = {
      {10, 50},   // e = 1022 / 20 = 51, odd: m = 50
      {8, 54},    // e = 56, even: 55 is lowered to 54
      {1, 90},    // e = 92
      {20, 32},   // e = 34
      {150, 4},   // e = 6
      {256, 2},   // e = 3
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(NtxMaxKeys(c.key_length), c.max_keys) << "key length " << c.key_length;
    // The page with m + 1 items fits in the block.
    EXPECT_LE(NtxFreshItemOffset(c.max_keys, c.key_length, c.max_keys + 1), kNtxBlockSize);
  }
}

TEST(NtxFormatTest, NumericKeys) {
  const struct {
    double value;
    int length, decimals;
    const char* hex;
  } kCases[] = {
      {-1.5, 6, 1, "2C 2C 2C 2B 2E 27"},
      {1.5, 6, 1, "30 30 30 31 2E 35"},
      {0, 5, 0, "30 30 30 30 30"},
      {-12, 5, 0, "2C 2C 2C 2B 2A"},
      {99999, 5, 0, "39 39 39 39 39"},
      {123456, 5, 0, "2A 2A 2A 2A 2A"},  // overflow: STR() fills with "*"
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Hex(NtxNumericKey(Value::Double(c.value, 0, c.decimals), c.length, c.decimals)),
              c.hex)
        << c.value;
  }
}

TEST(NtxFormatTest, NumericKeysSortLikeNumbers) {
  std::vector<double> values = {-1000.25, -99.5, -1.5, -0.25, 0, 0.25, 1.5, 99.5, 1000.25};
  std::string previous;
  for (double v : values) {
    std::string key = NtxNumericKey(Value::Double(v, 0, 2), 10, 2);
    EXPECT_LT(previous, key) << v;
    previous = key;
    // The text of a numeric field gives the same key as the formatted value.
    std::string text = StrOf(Value::Double(v, 0, 2), 10, 2);
    ASSERT_TRUE(NtxNumericKeyFromText(text.data(), 10, 2)) << v;
    EXPECT_EQ(text, key) << v;
  }
}

TEST(NtxFormatTest, NonCanonicalFieldTextIsNotTakenAsKey) {
  for (const char* text : {" 1.5000000", "  -0.00", "  012.50", "    1 .50", "abc"}) {
    std::string s = text;
    EXPECT_FALSE(NtxNumericKeyFromText(s.data(), static_cast<int>(s.size()), 2)) << text;
  }
}

TEST(NtxFormatTest, DateAndLogicalKeys) {
  std::string key;
  ASSERT_TRUE(NtxEncodeKey(Value::Date(0), 'D', 8, 0, &key));
  EXPECT_EQ(key, "        ");
  std::string real;
  ASSERT_TRUE(NtxEncodeKey(Value::Date(JulianFromYmd(1900, 1, 1)), 'D', 8, 0, &real));
  EXPECT_EQ(real, "19000101");
  EXPECT_LT(key, real) << "an empty date sorts before every real date";
  ASSERT_TRUE(NtxEncodeKey(Value::Logical(true), 'L', 3, 0, &key));
  EXPECT_EQ(key, std::string("T\0\0", 3));
  EXPECT_EQ(Hex(NtxSearchKey(Value::Logical(true), 'C', 3, 0)), "00 00 00")
      << "a seek value of another type is all zero bytes";
  EXPECT_EQ(NtxSearchKey(Value::String("ABCDEFG"), 'C', 4, 0), "ABCD");
  EXPECT_EQ(NtxSearchKey(Value::String("AB"), 'C', 4, 0), "AB") << "a prefix stays short";
}

TEST(NtxFormatTest, TimestampKeys) {
  const int32_t day = JulianFromYmd(2024, 1, 15);
  int len = 0, dec = 0;
  EXPECT_EQ(NtxKeyTypeOf(Value::Timestamp(day, 0), &len, &dec), 'T');
  EXPECT_EQ(len, 17);
  struct Case {
    Value value;
    const char* key;
  };
  const Case cases[] = {
      {Value::Timestamp(day, 3723004), "20240115010203004"},
      {Value::Timestamp(day, 86399999), "20240115235959999"},
      {Value::Date(day), "20240115000000000"},
      {Value::Timestamp(0, 0), "        000000000"},
  };
  for (const Case& c : cases) {
    std::string key;
    ASSERT_TRUE(NtxEncodeKey(c.value, 'T', 17, 0, &key)) << c.key;
    EXPECT_EQ(key, c.key);
  }
  std::string key;
  EXPECT_FALSE(NtxEncodeKey(Value::String("20240115"), 'T', 17, 0, &key));
  EXPECT_EQ(NtxSearchKey(Value::Date(day), 'T', 17, 0), "20240115") << "a date seeks its day";
}

TEST(NtxFormatTest, Comparison) {
  auto cmp = [](const std::string& a, const std::string& b, bool exact) {
    return NtxCompare(reinterpret_cast<const uint8_t*>(a.data()), static_cast<int>(a.size()),
                      reinterpret_cast<const uint8_t*>(b.data()), static_cast<int>(b.size()),
                      exact);
  };
  EXPECT_EQ(cmp("AB", "ABC", false), 0) << "a prefix matches";
  EXPECT_EQ(cmp("AB", "ABC", true), -1) << "an exact comparison puts the shorter first";
  EXPECT_EQ(cmp("ABC", "AB", false), 1);
  EXPECT_EQ(cmp("\xE9", "z", false), 1) << "unsigned bytes";
}

TEST(NtxFormatTest, FreshPageLayout) {
  std::vector<uint8_t> page(kNtxBlockSize, 0xEE);
  NtxPageView v(page.data(), 10, 50);
  v.Init();
  EXPECT_EQ(GetLe16(page.data()), 0);
  for (int i = 0; i <= 50; ++i) {
    EXPECT_EQ(GetLe16(page.data() + 2 + 2 * i), 2 + 2 * 51 + i * 18) << i;
  }
  EXPECT_TRUE(v.Check());
  // Insertions permute the offset table, not the items.
  const uint8_t b[10] = {'B', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  const uint8_t a[10] = {'A', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  v.InsertAt(0, 0, 2, b);
  v.InsertAt(0, 0, 1, a);
  EXPECT_EQ(v.count(), 2);
  // B took the free slot of item 1 (122), then A the free slot of item 2 (140); the right
  // child's item moved to 104.
  EXPECT_EQ(v.item_offset(0), 140);
  EXPECT_EQ(v.item_offset(1), 122);
  EXPECT_EQ(v.item_offset(2), 104);
  EXPECT_EQ(v.recno(0), 1u);
  EXPECT_EQ(v.recno(1), 2u);
  PutLe16(page.data(), 51);
  EXPECT_FALSE(v.Check()) << "more keys than the page holds";
}

class NtxFileLayoutTest : public NtxTest {};

TEST_F(NtxFileLayoutTest, HeaderFields) {
  ASSERT_TRUE(MakeTable("t", {{"NAME", "C", 10, 0}}));
  Add({Value::String("X")});
  ORDCONDSET({.for_text = "NAME <> 'Z'", .descending = true});
  ASSERT_TRUE(ORDCREATE(Path("t.ntx"), "Names", "NAME", nullptr, Value::Logical(true)))
      << ErrorText();
  DBCLOSEAREA();
  std::string f = ReadAll(Path("t.ntx"));
  ASSERT_EQ(f.size(), 2048u);
  const uint8_t* h = reinterpret_cast<const uint8_t*>(f.data());
  EXPECT_EQ(GetLe16(h + 0), 0x0006 | 0x0001) << "signature with a FOR expression";
  EXPECT_EQ(GetLe16(h + 2), 1) << "update counter after the first header write";
  EXPECT_EQ(GetLe32(h + 4), 1024u) << "root page";
  EXPECT_EQ(GetLe32(h + 8), 0u) << "no free page";
  EXPECT_EQ(GetLe16(h + 12), 18);
  EXPECT_EQ(GetLe16(h + 14), 10);
  EXPECT_EQ(GetLe16(h + 16), 0);
  EXPECT_EQ(GetLe16(h + 18), 50);
  EXPECT_EQ(GetLe16(h + 20), 25);
  EXPECT_EQ(f.substr(22, 5), std::string("NAME\0", 5));
  EXPECT_EQ(h[278], 1) << "unique";
  EXPECT_EQ(h[280], 1) << "descending";
  EXPECT_EQ(f.substr(282, 12), std::string("NAME <> 'Z'\0", 12));
  EXPECT_EQ(f.substr(538, 6), std::string("NAMES\0", 6));
  EXPECT_EQ(h[550], 0);
  EXPECT_EQ(f.substr(551), std::string(473, '\0') + f.substr(1024));
  // The root: one key, record 1.
  const uint8_t* p = h + 1024;
  EXPECT_EQ(GetLe16(p), 1);
  EXPECT_EQ(GetLe32(p + GetLe16(p + 2) + 4), 1u);
}

TEST_F(NtxFileLayoutTest, EmptyTableGivesHeaderAndEmptyRoot) {
  ASSERT_TRUE(MakeTable("t", {{"NAME", "C", 10, 0}}));
  ASSERT_TRUE(ORDCREATE(Path("e.ntx"), "", "NAME")) << ErrorText();
  EXPECT_TRUE(EOF_());
  EXPECT_EQ(ORDKEYCOUNT(), 0);
  DBCLOSEAREA();
  std::string f = ReadAll(Path("e.ntx"));
  ASSERT_EQ(f.size(), 2048u);
  std::vector<uint8_t> fresh(kNtxBlockSize);
  NtxPageView(fresh.data(), 10, 50).Init();
  EXPECT_EQ(f.substr(1024), std::string(fresh.begin(), fresh.end()));
}

// Key length 150 gives m = 4 (half page 2). Eleven keys A..K are written bottom-up:
// leaf A-D at 1024; E goes up; leaf F-I at 2048; J goes up; leaf K at 3072; the inner page
// (E, J) at 4096 is the root. The last leaf holds 1 < 2 keys, so it is balanced with its left
// neighbour: F G H | I | J K. Item 3 of the page at 2048 keeps I's old bytes (only its child
// is rewritten); item 2 of the root keeps the zeros of a fresh page.
TEST_F(NtxFileLayoutTest, SmallTreeMatchesHandDerivedImage) {
  ASSERT_TRUE(MakeTable("t", {{"KEY", "C", 150, 0}}));
  for (char c = 'A'; c <= 'K'; ++c) Add({Value::String(std::string(1, c))});
  ASSERT_TRUE(ORDCREATE(Path("t.ntx"), "", "KEY")) << ErrorText();
  DBCLOSEAREA();
  const int k = 150, m = 4;
  std::string want(5 * kNtxBlockSize, '\0');
  uint8_t* w = reinterpret_cast<uint8_t*>(want.data());
  PutLe16(w + 0, 0x0006);
  PutLe16(w + 2, 1);
  PutLe32(w + 4, 4096);
  PutLe16(w + 12, k + 8);
  PutLe16(w + 14, k);
  PutLe16(w + 18, m);
  PutLe16(w + 20, m / 2);
  std::memcpy(w + 22, "KEY", 3);
  std::memcpy(w + 538, "T", 1);
  auto page = [&](int offset, std::vector<std::tuple<uint32_t, uint32_t, char>> items,
                  int count) {
    uint8_t* p = w + offset;
    NtxPageView v(p, k, m);
    v.Init();
    for (size_t i = 0; i < items.size(); ++i) {
      auto [child, recno, key] = items[i];
      uint8_t* it = v.item(static_cast<int>(i));
      PutLe32(it, child);
      PutLe32(it + 4, recno);
      if (key) {
        std::memset(it + 8, ' ', k);
        it[8] = static_cast<uint8_t>(key);
      }
    }
    v.set_count(count);
  };
  page(1024, {{0, 1, 'A'}, {0, 2, 'B'}, {0, 3, 'C'}, {0, 4, 'D'}}, 4);
  page(2048, {{0, 6, 'F'}, {0, 7, 'G'}, {0, 8, 'H'}, {0, 9, 'I'}}, 3);
  page(3072, {{0, 10, 'J'}, {0, 11, 'K'}}, 2);
  page(4096, {{1024, 5, 'E'}, {2048, 9, 'I'}, {3072, 0, 0}}, 2);
  std::string got = ReadAll(Path("t.ntx"));
  ASSERT_EQ(got.size(), want.size());
  for (int b = 0; b < 5; ++b) {
    EXPECT_EQ(Hex(got.substr(b * 1024, 1024)), Hex(want.substr(b * 1024, 1024))) << "block " << b;
  }
}

// A build whose keys exceed the sort pool goes through the temporary file and writes the same
// file as a build that sorts in memory.
TEST_F(NtxFileLayoutTest, MergedRunsWriteTheSameTreeAsOneRun) {
  ASSERT_TRUE(MakeTable("t", {{"K", "C", 12, 0}, {"N", "N", 8, 2}}));
  uint32_t seed = 7;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245 + 12345;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06u", (seed >> 8) % 700);
    Add({Value::String(buf), Value::Double(((seed >> 4) % 20000) / 100.0 - 100, 0, 2)});
  }
  DBCOMMIT();
  for (const char* key : {"K", "N", "K + STR(N, 8, 2)"}) {
    NtxArea::SetSortRunKeys(0);
    ASSERT_TRUE(ORDCREATE(Path("one.ntx"), "", key)) << ErrorText();
    NtxArea::SetSortRunKeys(97);
    ASSERT_TRUE(ORDCREATE(Path("runs.ntx"), "", key)) << ErrorText();
    ORDLISTCLEAR();
    std::string one = ReadAll(Path("one.ntx")), runs = ReadAll(Path("runs.ntx"));
    ASSERT_EQ(one.size(), runs.size()) << key;
    EXPECT_TRUE(one.substr(1024) == runs.substr(1024)) << key << ": the trees differ";
    EXPECT_EQ(one.substr(0, 538), runs.substr(0, 538)) << key << ": the headers differ";
    EXPECT_GT(one.size(), 40u * 1024) << key;
  }
}

}  // namespace
}  // namespace vosk
