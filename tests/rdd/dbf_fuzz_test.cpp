// Damaged tables, run only to find crashes, sanitizer faults and leaks: sound tables with
// mutated headers, descriptors and records are opened, every field of every record is read,
// the area is navigated and, now and then, written. Errors are expected and answered
// "default"; what must never happen is a fault, an exception other than the engine's own, or
// a write into a file whose open failed.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "rdd_fixture.h"

namespace vosk {
namespace {

using test::DbfDescriptor;
using test::DbfImage;
using test::Le16;
using test::Le24;
using test::Le32;
using test::Le64;
using test::Record;

std::string DoubleBytes(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return Le64(bits);
}

// Sound tables covering every kind of field the driver decodes.
std::vector<DbfImage> Seeds() {
  std::vector<DbfImage> seeds;
  {
    DbfImage img;
    img.fields = {{"NAME", 'C', 6},    {"PRICE", 'N', 7, 2}, {"OK", 'L', 1},
                  {"DAY", 'D', 8},     {"DAY3", 'D', 3},     {"SMALL", 'I', 2},
                  {"DBL", 'B', 8, 2},  {"STAMP", 'T', 8},    {"MONEY", 'Y', 8},
                  {"ID", '+', 4, 0, 0, 7, 1}, {"RV", '^', 8},  {"MOD", '@', 8},
                  {"VAR", 'V', 4},     {"F", 'F', 6, 3},     {"TIME", 'T', 4}};
    for (int i = 1; i <= 5; ++i) {
      std::string n = std::to_string(i);
      img.records.push_back(Record({"name" + n + " ", "   " + n + ".50", i % 2 ? "T" : "F",
                                    "2024011" + n, Le24(2460320 + i), Le16(i * 100),
                                    DoubleBytes(i / 3.0), Le32(2460320 + i) + Le32(i * 1000),
                                    Le64(i * 12345), Le32(i), Le64(i), Le32(2460320) + Le32(i),
                                    Le32(i * 7), " 0.125", Le32(i * 60000)},
                                   i == 3));
    }
    seeds.push_back(img);
  }
  {
    DbfImage img;
    img.version = 0x30;
    img.table_flags = 0x02;
    img.fields = {{"A", 'C', 3, 0, 0x02}, {"N", 'N', 4, 1, 0x02}, {"V", 'V', 5},
                  {"I", 'I', 4, 2},       {"Y", 'Y', 8},          {"_NullFlags", '0', 1, 0, 0x05}};
    for (int i = 1; i <= 4; ++i) {
      img.records.push_back(Record({"ab" + std::to_string(i), " 1.5", "vvvvv", Le32(i * 150),
                                    Le64(i * 10000), std::string(1, static_cast<char>(i))}));
    }
    seeds.push_back(img);
  }
  {
    DbfImage img;
    img.version = 0x8B;
    img.fields = {{"WHO", 'C', 4}, {"N", '2', 2}, {"O", 'O', 8}, {"_DBASELOCK", '0', 24}};
    for (int i = 1; i <= 3; ++i) {
      img.records.push_back(Record({"who" + std::to_string(i), Le16(i), DoubleBytes(-i),
                                    std::string(24, '\0')}));
    }
    seeds.push_back(img);
  }
  {
    DbfImage img;
    img.fields = {{"ONLY", 'C', 1}};
    img.records = {Record({"a"}), Record({"b"}, true), Record({"c"})};
    seeds.push_back(img);
  }
  return seeds;
}

class DbfFuzzTest : public RddTest {
 protected:
  // Applies 1 to 4 random changes to a sound image.
  std::string Mutate(std::string b, std::mt19937& rng) {
    auto pick = [&](size_t n) { return n == 0 ? 0 : static_cast<size_t>(rng() % n); };
    size_t descriptors_end = std::min<size_t>(b.size(), 32 + 32 * 16);
    static const char kLetters[] = "CLDNFI24YB8OT@=^+QVMPWG0Xc";
    static const uint8_t kVersions[] = {0x02, 0x03, 0x04, 0x06, 0x30, 0x31, 0x32, 0x7B,
                                        0x83, 0x86, 0x8B, 0xE5, 0xE6, 0xF5, 0xF6, 0x99};
    int changes = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < changes && !b.empty(); ++i) {
      switch (rng() % 10) {
        case 0: b[pick(32)] = static_cast<char>(rng()); break;
        case 1: b[32 + pick(descriptors_end - 32)] = static_cast<char>(rng()); break;
        case 2: b[pick(b.size())] = static_cast<char>(rng()); break;
        case 3: b[0] = static_cast<char>(kVersions[pick(sizeof kVersions)]); break;
        case 4: {  // a descriptor's type letter
          size_t d = 32 + 32 * pick((descriptors_end - 32) / 32);
          if (d + 11 < b.size()) b[d + 11] = kLetters[pick(sizeof kLetters - 1)];
          break;
        }
        case 5: {  // a descriptor's length or decimals
          size_t d = 32 + 32 * pick((descriptors_end - 32) / 32);
          if (d + 17 < b.size()) b[d + 16 + pick(2)] = static_cast<char>(rng() % 20);
          break;
        }
        case 6: b.replace(8, 2, Le16(static_cast<uint16_t>(rng()))); break;
        case 7: b.resize(pick(b.size() + 1)); break;
        case 8: b.append(pick(64), static_cast<char>(rng())); break;
        case 9: {  // a descriptor's flags: nullable, binary, autoincrement, system
          size_t d = 32 + 32 * pick((descriptors_end - 32) / 32);
          if (d + 18 < b.size()) b[d + 18] = static_cast<char>(rng() % 16);
          break;
        }
      }
      if (b.size() < 10) break;
    }
    return b;
  }

  // Reads every field of every record (at most 40), navigates, and sometimes writes.
  void Exercise(bool write) {
    uint32_t count = std::min<uint32_t>(LASTREC(), 40);
    int fields = FCOUNT();
    for (uint32_t r = 0; r <= count + 1; ++r) {
      DBGOTO(Value::Integer(r));
      for (int f = 1; f <= fields; ++f) (void)FIELDGET(f);
      (void)DELETED();
      (void)DBRECORDINFO(7);
    }
    for (bool hide : {false, true}) {
      SET(kSetDeleted, Value::Logical(hide));
      int steps = 0;
      for (DBGOTOP(); !EOF_() && steps < 50; DBSKIP()) ++steps;
      DBGOBOTTOM();
      for (steps = 0; !BOF() && steps < 50; DBSKIP(-1)) ++steps;
      DBSKIP(0);
      DBSKIP(-3);
      DBSKIP(3);
    }
    SET(kSetDeleted, Value::Logical(false));
    if (!write) return;
    DBGOTO(Value::Integer(1));
    for (int f = 1; f <= fields; ++f) {
      Value v = FIELDGET(f);
      (void)FIELDPUT(f, Value());
      (void)FIELDPUT(f, v);
    }
    DBDELETE();
    DBCOMMIT();
    if (DBAPPEND()) {
      for (int f = 1; f <= fields; ++f) (void)FIELDPUT(f, Value::Integer(1));
    }
    DBCOMMIT();
    (void)DBPACK();
  }
};

TEST_F(DbfFuzzTest, MutatedTablesNeverCrash) {
  std::vector<std::string> seeds;
  for (const DbfImage& img : Seeds()) seeds.push_back(img.Bytes());
  // The seeds themselves are sound.
  for (const std::string& s : seeds) {
    std::string path = Path("seed.dbf");
    test::WriteFileBytes(path, s);
    ASSERT_TRUE(Use(path)) << ErrorText();
    DBCLOSEAREA();
  }
  std::string path = Path("fuzz.dbf");
  int opened = 0;
  const int kIterations = FuzzIterations(3000);
  for (int i = 0; i < kIterations; ++i) {
    std::mt19937 rng(static_cast<uint32_t>(i) * 2654435761u + 17);
    const std::string& seed = seeds[static_cast<size_t>(i) % seeds.size()];
    std::string bytes = Mutate(seed, rng);
    // A new file each time: truncating a written one makes the file system flush it.
    std::remove(path.c_str());
    test::WriteFileBytes(path, bytes);
    errors_.clear();
    try {
      if (Use(path)) {
        ++opened;
        Exercise(i % 5 == 0);
        DBCLOSEALL();
      } else {
        ASSERT_FALSE(errors_.empty()) << "iteration " << i << ": a failed open raised nothing";
        ASSERT_EQ(Bytes(path), bytes) << "iteration " << i << ": a failed open wrote";
      }
    } catch (const Abandon& a) {
      FAIL() << "iteration " << i << ": abandoned although the handler answers default: "
             << a.what();
    }
  }
  // The mutations reach the reading code, not only the header checks.
  EXPECT_GT(opened, kIterations / 4);
}

// A null-flags field too short for the null bits that its table hands out.
TEST_F(DbfFuzzTest, NullFlagsShorterThanItsBits) {
  DbfImage img;
  img.version = 0x30;
  for (int i = 0; i < 9; ++i) img.fields.push_back({"N" + std::to_string(i), 'C', 1, 0, 0x02});
  img.fields.push_back({"_NullFlags", '0', 1, 0, 0x05});
  img.records = {Record({"a", "b", "c", "d", "e", "f", "g", "h", "i", "\xFF"})};
  ASSERT_TRUE(Use(Write("short_nulls.dbf", img))) << ErrorText();
  for (int f = 1; f <= 9; ++f) {
    (void)FIELDGET(f);
    (void)FIELDPUT(f, Value());
    (void)FIELDPUT(f, Value::String("z"));
  }
  DBCOMMIT();
}

// Arguments at the edges of their types, as expressions may compute them.
TEST_F(DbfFuzzTest, ExtremeNavigationArguments) {
  ASSERT_TRUE(Use(Write("edges.dbf", Seeds().back()))) << ErrorText();
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  for (const Value& r : {Value::Double(kNaN), Value::Double(1e300), Value::Double(-1e300),
                         Value::Double(4294967296.0), Value::Integer(-5),
                         Value::Integer(std::numeric_limits<int64_t>::max())}) {
    DBGOTO(r);
    EXPECT_TRUE(EOF_());
    EXPECT_EQ(RECNO(), 4u);
  }
  for (bool hide : {false, true}) {
    SET(kSetDeleted, Value::Logical(hide));
    for (int64_t n : {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                      std::numeric_limits<int64_t>::min() + 1, int64_t{-4294967296LL},
                      int64_t{4294967296LL}}) {
      DBGOTO(Value::Integer(2));
      DBSKIP(n);
      EXPECT_EQ(RECNO(), n < 0 ? 1u : 4u) << n;
      EXPECT_EQ(n < 0 ? BOF() : EOF_(), true) << n;
    }
  }
  for (int pos : {-1, 0, 2, 1000}) {
    EXPECT_TRUE(FIELDGET(pos).is_nil());
    EXPECT_TRUE(FIELDPUT(pos, Value::String("x")).is_nil());
  }
}

}  // namespace
}  // namespace vosk
