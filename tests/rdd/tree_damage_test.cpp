// Trees whose pages are each sound but which together are not: a page without keys inside an
// NTX tree, a cut or misdirected sibling link between CDX leaves. A walk that meets one fails
// naming the bag (32/1012) instead of listing part of the records as if that were all.

#include <string>
#include <vector>

#include "ntx_test_support.h"
#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_format.h"
#include "rdd/dbfntx/ntx_check.h"
#include "rdd/dbfntx/ntx_file.h"

namespace vosk {
namespace {

class TreeDamageTest : public NtxTest {
 protected:
  static constexpr int kRecords = 300;

  // A table of kRecords distinct keys and a bag over it, closed; the bag's bytes.
  std::string Build(const std::string& driver, const std::string& bag) {
    std::string table = Create("t.dbf", {{"NAME", "C", 10, 0}});
    EXPECT_TRUE(DBUSEAREA(true, driver, table, "", false, false)) << ErrorText();
    for (int i = 0; i < kRecords; ++i) Add({Value::String("K" + std::to_string(i * 7919 % 1000))});
    EXPECT_TRUE(ORDCREATE(Path(bag), "NAME", "NAME")) << ErrorText();
    DBCLOSEAREA();
    return ReadAll(Path(bag));
  }

  void ExpectCorruptBag(const std::string& bag) {
    ASSERT_FALSE(errors_.empty());
    EXPECT_EQ(errors_.back().gen_code, kEgCorruption);
    EXPECT_EQ(errors_.back().sub_code, kEdfCorrupt);
    EXPECT_EQ(errors_.back().file_name, Path(bag)) << "the error names the bag";
  }

  // Opens the damaged bag and walks it each way: the walk expected to meet the damage fails
  // naming the bag (or the open does, which goes to the first key); the other lists every
  // record or fails too. False when the bag did not open.
  bool ExpectWalksFail(const std::string& driver, const std::string& bag,
                       const std::string& bytes, bool forward_fails, bool backward_fails) {
    WriteAll(Path(bag), bytes);
    EXPECT_TRUE(DBUSEAREA(true, driver, Path("t.dbf"), "", false, false)) << ErrorText();
    errors_.clear();
    bool opened = ORDLISTADD(Value::String(Path(bag)));
    if (!opened) ExpectCorruptBag(bag);
    for (bool forward : {true, false}) {
      if (!opened) break;
      errors_.clear();
      std::vector<uint32_t> seen = forward ? Walk() : WalkBack();
      if (forward ? forward_fails : backward_fails) {
        EXPECT_FALSE(errors_.empty()) << "walk " << forward << " listed " << seen.size();
        ExpectCorruptBag(bag);
      } else if (errors_.empty()) {
        EXPECT_EQ(seen.size(), static_cast<size_t>(kRecords));
      }
    }
    EXPECT_EQ(ReadAll(Path(bag)), bytes) << "nothing written";
    return opened;
  }
};

TEST_F(TreeDamageTest, NtxPageWithoutKeysInsideATree) {
  const std::string good = Build("DBFNTX", "t.ntx");
  const uint32_t root = GetLe32(reinterpret_cast<const uint8_t*>(good.data()) + 4);
  auto child0 = [&](const std::string& b, uint32_t page) {
    const auto* p = reinterpret_cast<const uint8_t*>(b.data()) + page;
    return GetLe32(p + GetLe16(p + 2));
  };
  const uint32_t leaf = child0(good, root);
  ASSERT_NE(leaf, 0u) << "the root has children";
  for (uint32_t page : {root, leaf}) {
    SCOPED_TRACE(page == root ? "root without keys" : "leaf without keys");
    std::string bytes = good;
    PutLe16(reinterpret_cast<uint8_t*>(bytes.data()) + page, 0);
    if (ExpectWalksFail("DBFNTX", "t.ntx", bytes, true, true)) {
      NtxCheckReport report;
      auto* ntx = static_cast<NtxFile*>(Ntx()->bags()[0].get());
      ASSERT_TRUE(Ok(NtxCheckBag(Ntx(), ntx, &report)));
      EXPECT_FALSE(report.problems.empty()) << "the check finds it too";
    }
    DBCLOSEAREA();
  }
}

TEST_F(TreeDamageTest, CdxLeafChainCutOrMisdirected) {
  const std::string good = Build("DBFCDX", "tx.cdx");
  // The tag's leaves from left to right along their links (the directory's own leaf is a root).
  auto at = [](const std::string& b, size_t off) {
    return GetLe32(reinterpret_cast<const uint8_t*>(b.data()) + off);
  };
  std::vector<uint32_t> leaves;
  for (size_t page = 0x400; page + kCdxPageSize <= good.size(); page += kCdxPageSize) {
    uint16_t attr = GetLe16(reinterpret_cast<const uint8_t*>(good.data()) + page);
    if (attr == kCdxAttrLeaf && at(good, page + kCdxPageLeft) == kCdxNone) {
      leaves.push_back(static_cast<uint32_t>(page));
    }
  }
  ASSERT_EQ(leaves.size(), 1u) << "one leftmost leaf";
  while (at(good, leaves.back() + kCdxPageRight) != kCdxNone) {
    leaves.push_back(at(good, leaves.back() + kCdxPageRight));
  }
  ASSERT_GE(leaves.size(), 3u);
  const struct {
    const char* what;
    uint32_t page;
    int link;
    uint32_t value;
    bool forward_fails, backward_fails;
  } kCases[] = {
      {"right link cut (0)", leaves[0], kCdxPageRight, 0, true, false},
      {"right link cut (none)", leaves[0], kCdxPageRight, kCdxNone, true, false},
      {"right link past a leaf", leaves[0], kCdxPageRight, leaves[2], true, false},
      {"left link cut", leaves.back(), kCdxPageLeft, kCdxNone, false, true},
      {"left link past a leaf", leaves[2], kCdxPageLeft, leaves[0], false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    PutLe32(reinterpret_cast<uint8_t*>(bytes.data()) + c.page + c.link, c.value);
    ExpectWalksFail("DBFCDX", "tx.cdx", bytes, c.forward_fails, c.backward_fails);
    DBCLOSEAREA();
  }
}

}  // namespace
}  // namespace vosk
