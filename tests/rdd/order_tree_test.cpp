// The trees of both index engines against a sorted model: random appends, key changes, FOR
// flips, deletes and recalls in batches, checked after every batch by walking the order both
// ways, by key count and by the check of the bag (structure, and the keys of the records).
// Under failing writes, an edit whose bag write fails leaves record and order as they were.

#include <algorithm>
#include <random>
#include <map>
#include <optional>
#include <set>

#include "ntx_test_support.h"
#include "support/file_faults.h"

namespace vosk {
namespace {

struct Model {
  bool unique = false;
  bool descending = false;
  bool with_for = false;  // FOR N % 3 <> 0
  bool failing_writes = false;  // one edit in 8 has one of its bag's first writes fail
  // (key, record) entries that the order must hold.
  std::multiset<std::pair<std::string, uint32_t>> keys;
};

struct Engine {
  const char* driver;
  const char* bag;
  int min_pages;       // the tree grew to three levels with these many pages
  int directory_keys;  // keys of the bag's directory that the check counts too
};

class OrderTreeTest : public NtxTest, public ::testing::WithParamInterface<Engine> {
 protected:
  // Key values ordered by n, with a tail that CDX's leaf compression cannot fold away.
  static std::string KeyOf(int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "K%05d-%08X", n, static_cast<uint32_t>(n) * 2654435761u);
    return buf;
  }

  // The expected record order for a non-unique model: by key (reversed when descending), equal
  // keys in any order; we compare the key sequence and the set of records per key.
  void CheckAgainst(const Model& m, const std::vector<std::string>& values,
                    const std::vector<bool>& in_for) {
    std::vector<uint32_t> walk = Walk();
    std::vector<uint32_t> back = WalkBack();
    std::reverse(back.begin(), back.end());
    ASSERT_EQ(walk, back) << "forward and backward walks differ";
    std::multiset<std::pair<std::string, uint32_t>> seen;
    std::string prev;
    for (size_t i = 0; i < walk.size(); ++i) {
      const std::string& k = values[walk[i] - 1];
      if (i > 0) {
        if (m.descending) ASSERT_GE(prev, k) << "order broken at " << i;
        else ASSERT_LE(prev, k) << "order broken at " << i;
      }
      prev = k;
      seen.insert({k, walk[i]});
    }
    ASSERT_EQ(seen, m.keys);
    EXPECT_EQ(ORDKEYCOUNT(), static_cast<int64_t>(m.keys.size()));
    NtxCheckReport report;
    ASSERT_TRUE(CheckBags(&report)) << ErrorText();
    EXPECT_EQ(report.keys, static_cast<int64_t>(m.keys.size()) + GetParam().directory_keys);
    pages_ = report.pages;
    EXPECT_TRUE(report.problems.empty()) << report.problems.front();
  }

  int64_t pages_ = 0;

  void RunRandom(Model m, uint32_t seed, int batches, int ops_per_batch) {
    ASSERT_TRUE(MakeTable("t", {{"K", "C", 40, 0}, {"N", "N", 6, 0}}, false, GetParam().driver));
    if (m.with_for) ORDCONDSET({.for_text = "N % 3 <> 0", .descending = m.descending});
    else ORDCONDSET({.descending = m.descending});
    ASSERT_TRUE(ORDCREATE(Path(GetParam().bag), "K", "K", nullptr, Value::Logical(m.unique))) << ErrorText();
    std::mt19937 rng(seed);
    std::vector<std::string> values;  // per record
    std::vector<int> numbers;
    std::vector<bool> in_for;
    // Unique model: value -> owning record, following the engine's rules.
    std::map<std::string, uint32_t> owner;
    auto passes = [&](int n) { return !m.with_for || n % 3 != 0; };
    auto model_add = [&](const std::string& k, uint32_t r) {
      if (m.unique) {
        if (owner.count(k)) return;
        owner[k] = r;
      }
      m.keys.insert({k, r});
    };
    auto model_del = [&](const std::string& k, uint32_t r) {
      auto it = m.keys.find({k, r});
      if (it == m.keys.end()) return;
      m.keys.erase(it);
      if (m.unique) owner.erase(k);
    };
    const int key_range = m.unique ? 3000 : 150;
    for (int b = 0; b < batches; ++b) {
      for (int op = 0; op < ops_per_batch; ++op) {
        int what = static_cast<int>(rng() % 10);
        if (values.empty() || what < 4) {
          int v = static_cast<int>(rng() % key_range), n = static_cast<int>(rng() % 100);
          Add({Value::String(KeyOf(v)), Value::Integer(n)});
          values.push_back(KeyOf(v));
          numbers.push_back(n);
          uint32_t r = static_cast<uint32_t>(values.size());
          if (passes(n)) model_add(KeyOf(v), r);
        } else {
          uint32_t r = 1 + rng() % static_cast<uint32_t>(values.size());
          DBGOTO(Value::Integer(r));
          std::string old_key = values[r - 1];
          const int old_number = numbers[r - 1];
          bool old_for = passes(numbers[r - 1]);
          // The failed write leaves bag and record as they were: the model does not move.
          std::optional<FaultScope> fault;
          if (m.failing_writes && rng() % 8 == 0) {
            fault.emplace(FaultOp::kWrite, EIO, GetParam().bag, 1 + rng() % 4);
          }
          if (what < 7) {  // key change
            std::string k = KeyOf(static_cast<int>(rng() % key_range));
            FIELDPUT(1, Value::String(k));
            values[r - 1] = k;
          } else if (what < 9) {  // FOR flip (or plain number change)
            int n = static_cast<int>(rng() % 100);
            FIELDPUT(2, Value::Integer(n));
            numbers[r - 1] = n;
          } else {  // delete or recall: keys stay
            if (DELETED()) DBRECALL(); else DBDELETE();
          }
          DBCOMMIT();
          if (fault && fault->fired()) {
            fault.reset();
            ASSERT_FALSE(errors_.empty()) << "the failed write is raised";
            errors_.clear();
            values[r - 1] = old_key;
            numbers[r - 1] = old_number;
            continue;
          }
          fault.reset();
          // The engine's rules: equal keys react to the FOR change only; a changed key is
          // deleted when the old FOR held and added when the new one holds.
          std::string k = values[r - 1];
          bool add = passes(numbers[r - 1]);
          bool del;
          if (k == old_key) {
            del = !add && old_for;
            add = add && !old_for;
          } else {
            del = old_for;
          }
          if (del) model_del(old_key, r);
          if (add) model_add(k, r);
        }
      }
      ASSERT_NO_FATAL_FAILURE(CheckAgainst(m, values, in_for)) << "batch " << b;
      ASSERT_EQ(INDEXORD(), 1);
      ASSERT_TRUE(errors_.empty()) << ErrorText();
    }
    // The tree grew to three levels, so splits, balancing and merges ran at inner levels too.
    EXPECT_GT(pages_, GetParam().min_pages);
  }
};

TEST_P(OrderTreeTest, RandomChangesAscending) {
  RunRandom(Model{}, 1, 10, 500);
}

TEST_P(OrderTreeTest, RandomChangesDescending) {
  Model m;
  m.descending = true;
  RunRandom(m, 2, 8, 500);
}

TEST_P(OrderTreeTest, RandomChangesUnique) {
  Model m;
  m.unique = true;
  RunRandom(m, 3, 8, 500);
}

TEST_P(OrderTreeTest, RandomChangesWithFailingWrites) {
  Model m;
  m.with_for = true;
  m.failing_writes = true;
  RunRandom(m, 5, 8, 500);
}

TEST_P(OrderTreeTest, RandomChangesWithForCondition) {
  Model m;
  m.with_for = true;
  RunRandom(m, 4, 8, 500);
}

// NTX: 18 keys of 40 bytes per page. CDX: leaves hold some 25 keys (the trailing blanks and
// the prefix shared with the key before are not stored), an interior page 10: more than 12
// pages in a tree of two levels cannot be.
INSTANTIATE_TEST_SUITE_P(Engines, OrderTreeTest,
                         ::testing::Values(Engine{"DBFNTX", "t.ntx", 60, 0},
                                           Engine{"DBFCDX", "t.cdx", 12, 1}),
                         [](const auto& info) { return std::string(info.param.driver); });

}  // namespace
}  // namespace vosk
