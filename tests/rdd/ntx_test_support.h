#ifndef VOSK_TESTS_RDD_NTX_TEST_SUPPORT_H_
#define VOSK_TESTS_RDD_NTX_TEST_SUPPORT_H_

// Test bed of the NTX engine: the RDD fixture plus table helpers, the sort-run size restored
// after each test.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "rdd/dbfcdx/cdx_bag.h"
#include "rdd/dbfcdx/cdx_check.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_check.h"
#include "rdd/ord_commands.h"
#include "rdd/work_area.h"
#include "rdd/work_area_table.h"
#include "rdd_fixture.h"

namespace vosk {

class NtxTest : public RddTest {
 protected:
  void SetUp() override {
    RddTest::SetUp();
    NtxArea::SetSortRunKeys(0);
    NtxArea::SetMultiTag(false);
  }
  void TearDown() override {
    RddTest::TearDown();
    NtxArea::SetSortRunKeys(0);
    NtxArea::SetMultiTag(false);
  }

  // Creates a table and opens it with an index engine (DBFNTX unless named) in a new area.
  bool MakeTable(const std::string& name, const std::vector<FieldRow>& rows, bool shared = false,
                 const std::string& driver = "DBFNTX") {
    std::string path = Create(name, rows, "DBF");
    return DBUSEAREA(true, driver, path, "", shared, false);
  }
  NtxArea* Ntx() const { return dynamic_cast<NtxArea*>(CurrentArea()); }

  // Appends a record with the given field values.
  void Add(const ValueArray& values) {
    ASSERT_TRUE(DBAPPEND()) << ErrorText();
    for (size_t i = 0; i < values.size(); ++i) {
      FIELDPUT(static_cast<int>(i) + 1, values[i]);
    }
  }

  // Record numbers in the controlling order, top to bottom.
  std::vector<uint32_t> Walk() {
    std::vector<uint32_t> out;
    size_t errors = errors_.size();
    DBGOTOP();
    while (!EOF_() && errors_.size() == errors) {
      out.push_back(RECNO());
      DBSKIP(1);
      if (out.size() > 1000000) break;
    }
    return out;
  }
  std::vector<uint32_t> WalkBack() {
    std::vector<uint32_t> out;
    size_t errors = errors_.size();
    DBGOBOTTOM();
    while (!BOF() && !EOF_() && errors_.size() == errors) {
      out.push_back(RECNO());
      DBSKIP(-1);
      if (out.size() > 1000000) break;
    }
    return out;
  }
};

// Checks every bag of the current area, whatever its engine; false when a check could not run.
inline bool CheckBags(NtxCheckReport* report, int64_t chunk_keys = kCheckChunkKeys) {
  auto* area = dynamic_cast<IndexedArea*>(CurrentArea());
  if (!area) return false;
  for (const auto& bag : area->bags()) {
    Status s = kFailure;
    if (auto* ntx = dynamic_cast<NtxFile*>(bag.get())) {
      s = NtxCheckBag(area, ntx, report, chunk_keys);
    } else if (auto* cdx = dynamic_cast<CdxBag*>(bag.get())) {
      s = CdxCheckBag(area, cdx, report, chunk_keys);
    }
    if (Failed(s)) return false;
  }
  return true;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace vosk

#endif  // VOSK_TESTS_RDD_NTX_TEST_SUPPORT_H_
