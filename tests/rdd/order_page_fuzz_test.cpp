// Damaged index pages, run with the sanitizers: a sound NTX bag and a sound CDX bag over a
// small table are mutated at random and run through open, listing in key order (both ways),
// seek, key count, position, check, append and pack, and opened shared and read-only as a
// reading program opens them. Errors are expected; what must never happen is a fault, a hang,
// a write by a reading command, a listing in key order that ends without an error yet misses
// a record or shows one twice, or a row reached through a key without an error whose record
// gives another key.

#include <unistd.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "ntx_test_support.h"
#include "rdd/dbfcdx/cdx_bag.h"
#include "rdd/dbfcdx/cdx_check.h"
#include "rdd/dbfntx/ntx_check.h"
#include "rdd/dbfntx/ntx_file.h"

namespace vosk {
namespace {

struct Engine {
  const char* driver;
  const char* bag;
};

class OrderPageFuzzTest : public NtxTest, public ::testing::WithParamInterface<Engine> {
 protected:
  static std::string Mutate(const std::string& good, std::mt19937& rng) {
    std::string b = good;
    int changes = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < changes; ++c) {
      // Mostly the pages; now and then the header.
      size_t at = rng() % 8 == 0 ? rng() % 1024 : 1024 + rng() % (b.size() - 1024);
      switch (rng() % 5) {
        case 0:
          b[at] = static_cast<char>(rng());
          break;  // any byte
        case 1:
          b[at] = static_cast<char>(b[at] ^ (1 << (rng() % 8)));
          break;  // one bit
        case 2:
          b[at] = 0;
          break;
        case 3:
          b.resize(at);
          break;  // a torn end
        default:  // a small number in a 16- or 32-bit field
          if (at + 4 <= b.size()) {
            uint32_t v = rng() % 3 == 0 ? static_cast<uint32_t>(rng()) : rng() % 2048;
            for (int k = 0; k < 4; ++k)
              b[at + static_cast<size_t>(k)] = static_cast<char>(v >> (8 * k));
          }
      }
      if (b.size() <= 1024) break;
    }
    return b;
  }

  // Problems the engine's own check finds in the first bag; failure when it could not run.
  Status Check(std::vector<std::string>* problems) {
    auto* area = dynamic_cast<IndexedArea*>(CurrentArea());
    NtxCheckReport report;
    Status s = kFailure;
    if (auto* ntx = dynamic_cast<NtxFile*>(area->bags()[0].get())) {
      s = NtxCheckBag(area, ntx, &report);
    } else if (auto* cdx = dynamic_cast<CdxBag*>(area->bags()[0].get())) {
      s = CdxCheckBag(area, cdx, &report);
    }
    *problems = report.problems;
    return s;
  }

  // Whether the record the area stands on gives the key its order's cursor holds there (the
  // order keys NAME, whose key is the field's bytes).
  static bool ShowsItsKey() {
    auto* area = dynamic_cast<IndexedArea*>(CurrentArea());
    const Order* o = area->bags()[0]->order_at(0);
    return o->cursor.on && o->cursor.recno == RECNO() && o->cursor.key == FIELDGET(1).str();
  }

  // Rows reached through the keys of the open order, shared and read-only, without an error
  // although their record gives another key: a listing forward and two seeks.
  int RowsOfAnotherKey() {
    int wrong = 0;
    size_t errors = errors_.size();
    DBGOTOP();
    for (size_t n = 0; !EOF_() && errors_.size() == errors && n < 1000; ++n) {
      if (!ShowsItsKey()) ++wrong;
      DBSKIP(1);
    }
    for (const char* key : {"K1", "K500"}) {
      errors = errors_.size();
      if (DBSEEK(Value::String(key)) && errors_.size() == errors && !ShowsItsKey()) ++wrong;
    }
    return wrong;
  }
};

TEST_P(OrderPageFuzzTest, MutatedPagesNeverListWrongly) {
  const Engine engine = GetParam();
  constexpr int kRecords = 300;
  const std::string table = Create("fz.dbf", {{"NAME", "C", 10, 0}});
  ASSERT_TRUE(DBUSEAREA(true, engine.driver, table, "", false, false)) << ErrorText();
  for (int i = 0; i < kRecords; ++i) Add({Value::String("K" + std::to_string(i * 7919 % 1000))});
  const std::string bag = Path(engine.bag);
  ASSERT_TRUE(ORDCREATE(bag, "NAME", "NAME")) << ErrorText();
  DBCLOSEAREA();
  const std::string table_bytes = ReadAll(table);
  const std::string good = ReadAll(bag);
  ASSERT_GT(good.size(), 4u * 1024) << "several pages";
  std::set<uint32_t> all;
  for (uint32_t r = 1; r <= kRecords; ++r) all.insert(r);
  int opened = 0, listed = 0, failed = 0, undetectable = 0;
  const int kIterations = FuzzIterations(250);
  alarm(60 + static_cast<unsigned>(kIterations) / 5);  // a hang ends the program
  for (int i = 0; i < kIterations; ++i) {
    SCOPED_TRACE("iteration " + std::to_string(i));
    std::mt19937 rng(static_cast<uint32_t>(i) * 2654435761u + 5);
    const std::string bytes = Mutate(good, rng);
    WriteAll(table, table_bytes);
    std::remove(bag.c_str());
    WriteAll(bag, bytes);
    errors_.clear();
    try {
      ASSERT_TRUE(DBUSEAREA(true, engine.driver, table, "", false, false)) << ErrorText();
      if (!ORDLISTADD(Value::String(bag))) {
        ASSERT_FALSE(errors_.empty()) << "a failed open raised nothing";
        ASSERT_EQ(ReadAll(bag), bytes) << "a failed open wrote";
        DBCLOSEAREA();
        continue;
      }
      ++opened;
      bool listed_wrongly = false;
      for (bool forward : {true, false}) {
        errors_.clear();
        std::vector<uint32_t> seen = forward ? Walk() : WalkBack();
        if (!errors_.empty()) {
          ++failed;
          continue;
        }
        ++listed;
        std::set<uint32_t> unique(seen.begin(), seen.end());
        listed_wrongly |= seen.size() != unique.size() || unique != all;
      }
      DBSEEK(Value::String("K1"));
      DBSEEK(Value::String("K999"), Value::Logical(true));
      ORDKEYCOUNT();
      DBGOTO(Value::Integer(150));
      ORDKEYNO();
      // Some damage leaves a smaller tree that is whole in itself (a key count lowered): no
      // walk can see it, the check must.
      std::vector<std::string> problems;
      const bool checked = Ok(Check(&problems));
      if (listed_wrongly) {
        ++undetectable;
        EXPECT_TRUE(checked && !problems.empty())
            << "records missing, extra or twice in a listing without an error, and the check "
               "found nothing";
      }
      ASSERT_EQ(ReadAll(bag), bytes) << "a reading command wrote";
      if (i % 10 == 0) {  // writing commands: whatever they do, no fault
        if (DBAPPEND()) FIELDPUT(1, Value::String("NEW"));
        DBCOMMIT();
        DBGOTO(Value::Integer(2));
        DBDELETE();
        DBCOMMIT();
        (void)DBPACK();
      }
      DBCLOSEAREA();
      // As a reading program opens them (seek and list of dbutool): no row of another key.
      std::remove(bag.c_str());
      WriteAll(bag, bytes);
      ASSERT_TRUE(DBUSEAREA(true, engine.driver, table, "", true, true)) << ErrorText();
      if (ORDLISTADD(Value::String(bag))) {
        EXPECT_EQ(RowsOfAnotherKey(), 0) << "rows whose record gives another key, no error";
        ASSERT_EQ(ReadAll(bag), bytes) << "a reading command wrote";
      }
      DBCLOSEAREA();
    } catch (const Abandon& a) {
      FAIL() << "abandoned although the handler answers default: " << a.what();
    }
  }
  alarm(0);
  // The mutations reach the navigation, not only the header checks, and both outcomes occur.
  EXPECT_GT(opened, kIterations / 2);
  EXPECT_GT(listed, 0);
  EXPECT_GT(failed, 0);
  // Damage that a walk can see is found by the walk.
  EXPECT_LT(undetectable, kIterations / 50);
}

INSTANTIATE_TEST_SUITE_P(Engines, OrderPageFuzzTest,
                         ::testing::Values(Engine{"DBFNTX", "fz.ntx"}, Engine{"DBFCDX", "fzx.cdx"}),
                         [](const ::testing::TestParamInfo<Engine>& p) {
                           return std::string(p.param.driver);
                         });

}  // namespace
}  // namespace vosk
