// Key goto and relative position on trees of three and more levels: ORDKEYGOTO(n) lands on
// the n-th record of the order (the one a walk from the top reaches) and ORDKEYNO() answers n,
// in ascending, descending and run-time reversed orders and on trees of full and of half-full
// pages; the relative position (order-info 130) grows along the order from near 0 to near 1,
// spans exactly 0..1 inside a scope and is 0 outside the scope and at end of file.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numeric>
#include <random>

#include "ntx_test_support.h"
#include "rdd/dbfntx/ntx_area.h"

namespace vosk {
namespace {

// Keys of 30 bytes: 24 keys per page. 2499 keys built from the records make a complete tree
// of three levels: a root of 3 keys over 4 pages of 24 keys over 100 leaves of 24 keys.
constexpr int kKeys = 2499;

enum class Shape {
  kBuilt,      // built from the records: full pages
  kInserted,   // grown key by key in random order: pages about two thirds full
};

struct TreeCase {
  const char* name;
  Shape shape;
  bool descending;  // stored direction
  bool toggled;     // direction reversed at run time
  bool counted;     // the key count is known before the gotos
};

void PrintTo(const TreeCase& tc, std::ostream* os) { *os << tc.name; }

class NtxPositionTest : public NtxTest, public ::testing::WithParamInterface<TreeCase> {
 protected:
  static std::string KeyOf(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "K%05d", n);
    return buf;
  }

  // Records hold the keys K00000.. in a shuffled physical order; every key divisible by 100
  // twice and the key after it not at all.
  void MakeTree(const TreeCase& tc) {
    ASSERT_TRUE(MakeTable("t", {{"K", "C", 30, 0}}));
    std::vector<int> keys(kKeys);
    std::iota(keys.begin(), keys.end(), 0);
    for (int i = 0; i < kKeys; i += 100) keys[static_cast<size_t>(i) + 1] = i;
    std::mt19937 rng(7);
    std::shuffle(keys.begin(), keys.end(), rng);
    if (tc.shape == Shape::kInserted) CreateOrder(tc);
    for (int k : keys) Add({Value::String(KeyOf(k))});
    if (tc.shape == Shape::kBuilt) CreateOrder(tc);
    if (tc.toggled) ORDDESCEND(Value(), Value(), Value::Logical(true));
    DBGOTOP();
    ASSERT_GE(Ntx()->controlling()->cursor.path.size(), 3u) << "the tree is too shallow";
  }

  void CreateOrder(const TreeCase& tc) {
    OrdCondArgs args;
    args.descending = tc.descending;
    ORDCONDSET(args);
    ASSERT_TRUE(ORDCREATE(Path("k.ntx"), "", "K")) << ErrorText();
  }

  double RelPos() {
    Value v = DBORDERINFO(Value::Integer(kOiRelKeyPos));
    EXPECT_TRUE(v.is_numeric());
    return v.is_numeric() ? v.number() : -1;
  }
};

TEST_P(NtxPositionTest, KeyGotoLandsWhereTheWalkDoes) {
  const TreeCase& tc = GetParam();
  ASSERT_NO_FATAL_FAILURE(MakeTree(tc));
  std::vector<uint32_t> order = Walk();
  ASSERT_EQ(order.size(), static_cast<size_t>(kKeys));
  const int64_t n_keys = kKeys;
  if (tc.counted) {
    ASSERT_EQ(ORDKEYCOUNT(), n_keys);
  }
  std::vector<int64_t> targets = {1, 2, 3, 23, 24, 25, 26, n_keys / 2, n_keys / 2 + 1,
                                  n_keys - 2, n_keys - 1, n_keys};
  for (int64_t n = 5; n < n_keys; n += 37) targets.push_back(n);
  for (int64_t n : targets) {
    ASSERT_TRUE(ORDKEYGOTO(n)) << n << ": " << ErrorText();
    EXPECT_FALSE(EOF_()) << n;
    EXPECT_EQ(RECNO(), order[static_cast<size_t>(n - 1)]) << "position " << n;
    EXPECT_EQ(ORDKEYNO(), n);
  }
  // Past either end: end of file.
  for (int64_t n : {n_keys + 1, n_keys + 1000, int64_t{0}, int64_t{-3}}) {
    EXPECT_FALSE(ORDKEYGOTO(n)) << n;
    EXPECT_TRUE(EOF_()) << n;
    EXPECT_EQ(ORDKEYNO(), 0) << n;
  }
  // Navigation goes on from a key reached by goto.
  ASSERT_TRUE(ORDKEYGOTO(100));
  DBSKIP(1);
  EXPECT_EQ(RECNO(), order[100]);
  DBSKIP(-2);
  EXPECT_EQ(RECNO(), order[98]);
}

TEST_P(NtxPositionTest, RelativePositionGrowsAlongTheOrder) {
  const TreeCase& tc = GetParam();
  ASSERT_NO_FATAL_FAILURE(MakeTree(tc));
  double previous = -1;
  int64_t seen = 0;
  double max_error = 0;
  for (DBGOTOP(); !EOF_(); DBSKIP(1)) {
    ++seen;
    double f = RelPos();
    ASSERT_GT(f, previous) << "at key " << seen;
    ASSERT_LT(f, 1.0) << "at key " << seen;
    previous = f;
    max_error = std::max(max_error, std::abs(f - (seen - 0.5) / kKeys));
  }
  ASSERT_EQ(seen, kKeys);
  // A build fills every page: the tree is complete and the fraction follows the rank within
  // about one key.
  if (tc.shape == Shape::kBuilt) {
    EXPECT_LT(max_error, 2.0 / kKeys);
  }
  DBGOTOP();
  EXPECT_LT(RelPos(), 0.01);
  DBGOBOTTOM();
  EXPECT_GT(RelPos(), 0.99);
  if (tc.shape == Shape::kBuilt) {
    // The end keys sit half a leaf slot from the ends: 4 root slots x 25 inner slots x 24.
    DBGOTOP();
    EXPECT_NEAR(RelPos(), 0.5 / 2400, 1e-12);
    DBGOBOTTOM();
    EXPECT_NEAR(RelPos(), 1 - 0.5 / 2400, 1e-12);
  }
  DBSKIP(1);
  ASSERT_TRUE(EOF_());
  EXPECT_EQ(RelPos(), 0.0) << "end of file";
}

TEST_P(NtxPositionTest, RelativePositionWithinScope) {
  const TreeCase& tc = GetParam();
  ASSERT_NO_FATAL_FAILURE(MakeTree(tc));
  ORDSCOPE(0, Value::String("K010"));
  ORDSCOPE(1, Value::String("K012"));  // K01000 .. K01299
  DBGOTOP();
  EXPECT_EQ(RelPos(), 0.0);
  DBGOBOTTOM();
  EXPECT_EQ(RelPos(), 1.0);
  double previous = -1;
  int seen = 0;
  for (DBGOTOP(); !EOF_(); DBSKIP(1)) {
    ++seen;
    double f = RelPos();
    ASSERT_GT(f, previous) << "at key " << seen;
    previous = f;
  }
  EXPECT_EQ(seen, 300);
  ASSERT_TRUE(ORDKEYGOTO(150));
  EXPECT_NEAR(RelPos(), 0.5, 0.1);
  // A record outside the scope, and a scope of one key.
  ORDSCOPE(2);
  ASSERT_TRUE(DBSEEK(Value::String("K00500")));
  ORDSCOPE(2, Value::String("K01302"));
  EXPECT_EQ(RelPos(), 0.0) << "outside the scope";
  DBGOTOP();
  ASSERT_FALSE(EOF_());
  EXPECT_EQ(RelPos(), 0.5) << "a single key in scope";
}

// Inside a scope the count, the goto and the key number are placed by subtree counts too: they
// agree with a walk of the scope in every direction.
TEST_P(NtxPositionTest, CountGotoAndKeyNumberWithinScope) {
  const TreeCase& tc = GetParam();
  ASSERT_NO_FATAL_FAILURE(MakeTree(tc));
  ORDSCOPE(0, Value::String("K003"));
  ORDSCOPE(1, Value::String("K019"));  // K00300 .. K01999
  std::vector<uint32_t> order = Walk();
  ASSERT_EQ(order.size(), 1700u);
  EXPECT_EQ(ORDKEYCOUNT(), 1700);
  for (int64_t n : {int64_t{1}, int64_t{2}, int64_t{24}, int64_t{25}, int64_t{850},
                    int64_t{1699}, int64_t{1700}}) {
    ASSERT_TRUE(ORDKEYGOTO(n)) << n << ": " << ErrorText();
    EXPECT_EQ(RECNO(), order[static_cast<size_t>(n - 1)]) << "position " << n;
    EXPECT_EQ(ORDKEYNO(), n);
  }
  for (int64_t n : {int64_t{1701}, int64_t{0}}) {
    EXPECT_FALSE(ORDKEYGOTO(n)) << n;
    EXPECT_TRUE(EOF_()) << n;
  }
  ORDSCOPE(0, Value::String("K9"));  // nothing in scope
  EXPECT_EQ(ORDKEYCOUNT(), 0);
  EXPECT_FALSE(ORDKEYGOTO(1));
}

INSTANTIATE_TEST_SUITE_P(
    Trees, NtxPositionTest,
    ::testing::Values(TreeCase{"BuiltAscending", Shape::kBuilt, false, false, false},
                      TreeCase{"BuiltDescending", Shape::kBuilt, true, false, false},
                      TreeCase{"BuiltToggled", Shape::kBuilt, false, true, false},
                      TreeCase{"BuiltCounted", Shape::kBuilt, false, false, true},
                      TreeCase{"DescendingToggledCounted", Shape::kBuilt, true, true, true},
                      TreeCase{"InsertedAscending", Shape::kInserted, false, false, false},
                      TreeCase{"InsertedToggledCounted", Shape::kInserted, false, true, true}),
    [](const ::testing::TestParamInfo<TreeCase>& info) { return std::string(info.param.name); });

// Key numbers, the count and goto stay right while keys change, move, split and merge pages:
// the subtree counts remembered between calls are forgotten along each changed path.
class NtxChangingTreeTest : public NtxTest {};

TEST_F(NtxChangingTreeTest, PositionsFollowEveryKeyChange) {
  ASSERT_TRUE(MakeTable("moves", {{"K", "C", 30, 0}}));
  std::mt19937 rng(11);
  auto random_key = [&] {
    char buf[16];
    std::snprintf(buf, sizeof buf, "K%05u", static_cast<unsigned>(rng() % 100000));
    return std::string(buf);
  };
  for (int i = 0; i < 3000; ++i) Add({Value::String(random_key())});
  ASSERT_TRUE(ORDCREATE(Path("moves.ntx"), "", "K")) << ErrorText();
  for (int step = 0; step < 150; ++step) {
    ASSERT_EQ(ORDKEYCOUNT(), static_cast<int64_t>(LASTREC()));
    if (step % 5 == 0) {
      Add({Value::String(random_key())});
    } else {
      DBGOTO(Value::Integer(1 + rng() % LASTREC()));
      // Runs of equal first letters empty and fill whole pages.
      FIELDPUT(1, Value::String(step % 3 == 0 ? "A" + random_key() : random_key()));
    }
    DBCOMMIT();
    const uint32_t changed = RECNO();
    const std::vector<uint32_t> order = Walk();
    ASSERT_EQ(order.size(), LASTREC());
    DBGOTO(Value::Integer(changed));
    const auto at = std::find(order.begin(), order.end(), changed);
    ASSERT_EQ(ORDKEYNO(), at - order.begin() + 1) << "step " << step;
    const int64_t n = 1 + static_cast<int64_t>(rng() % order.size());
    ASSERT_TRUE(ORDKEYGOTO(n));
    ASSERT_EQ(RECNO(), order[static_cast<size_t>(n - 1)]) << "step " << step;
  }
}

// With a scope or a filter ORDKEYGOTO(n) still reaches the n-th visible key in scope and
// ORDKEYNO() answers n. Hidden deleted records are not a filter: they keep their key numbers
// and count, and a goto that lands on one moves on to the next visible record.
class NtxSteppedGotoTest : public NtxTest {};

TEST_F(NtxSteppedGotoTest, GotoCountsOnlyVisibleKeysInScope) {
  ASSERT_TRUE(MakeTable("s", {{"K", "C", 10, 0}, {"N", "N", 5, 0}}));
  for (int i = 0; i < 400; ++i) {
    int k = (i * 131) % 400;  // a shuffled physical order
    char buf[16];
    std::snprintf(buf, sizeof buf, "K%04d", k);
    Add({Value::String(buf), Value::Integer(k)});
    if (k % 5 == 0) DBDELETE();
  }
  ASSERT_TRUE(ORDCREATE(Path("s.ntx"), "", "K")) << ErrorText();
  struct Condition {
    const char* name;
    std::function<void()> set, clear;
  };
  const std::vector<Condition> conditions = {
      {"scope", [] { ORDSCOPE(0, Value::String("K01")); ORDSCOPE(1, Value::String("K02")); },
       [] { ORDSCOPE(2); }},
      {"filter", [] { DBSETFILTER("N % 3 = 1"); }, [] { DBCLEARFILTER(); }},
  };
  for (const Condition& cond : conditions) {
    SCOPED_TRACE(cond.name);
    cond.set();
    std::vector<uint32_t> order = Walk();
    ASSERT_FALSE(order.empty());
    ASSERT_LT(order.size(), 400u);
    for (size_t n : {size_t{1}, size_t{2}, order.size() / 2, order.size()}) {
      ASSERT_TRUE(ORDKEYGOTO(static_cast<int64_t>(n))) << n;
      EXPECT_EQ(RECNO(), order[n - 1]) << n;
      EXPECT_EQ(ORDKEYNO(), static_cast<int64_t>(n));
    }
    EXPECT_FALSE(ORDKEYGOTO(static_cast<int64_t>(order.size()) + 1));
    EXPECT_TRUE(EOF_());
    cond.clear();
  }

  const std::vector<uint32_t> keys = Walk();  // every key, deleted ones too
  ASSERT_EQ(keys.size(), 400u);
  SET(kSetDeleted, Value::Logical(true));
  EXPECT_EQ(ORDKEYCOUNT(), 400);
  for (size_t n : {size_t{1}, size_t{2}, size_t{200}, size_t{399}}) {
    size_t expected = n - 1;  // keys K0000, K0005, ... belong to deleted records
    while (DBGOTO(Value::Integer(keys[expected])), DELETED()) ++expected;
    ASSERT_TRUE(ORDKEYGOTO(static_cast<int64_t>(n))) << n;
    EXPECT_EQ(RECNO(), keys[expected]) << n;
    EXPECT_EQ(ORDKEYNO(), static_cast<int64_t>(expected + 1)) << n;
  }
  EXPECT_FALSE(ORDKEYGOTO(401));
  EXPECT_TRUE(EOF_());
  SET(kSetDeleted, Value::Logical(false));
}

}  // namespace
}  // namespace vosk
