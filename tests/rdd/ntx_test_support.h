#ifndef VOSK_TESTS_RDD_NTX_TEST_SUPPORT_H_
#define VOSK_TESTS_RDD_NTX_TEST_SUPPORT_H_

// Test bed of the NTX engine: the RDD fixture plus table helpers, the sort-run size restored
// after each test, and field access for expressions when the engine has not installed its own.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "expr/database_access.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/ord_commands.h"
#include "rdd/work_area.h"
#include "rdd/work_area_table.h"
#include "rdd_fixture.h"

namespace vosk {

// Field access for expressions over the work-area table (used only when none is installed).
class TestDatabaseAccess : public DatabaseAccess {
 public:
  int CurrentArea() override { return CurrentAreaNumber(); }
  int SelectArea(int area) override { return SelectAreaNumber(area); }
  int AreaOfAlias(std::string_view alias) override { return AreaOfDesignator(alias); }
  int FieldPos(int area, std::string_view name) override {
    WorkArea* a = AreaAt(area);
    if (!a) return 0;
    for (int i = 1; i <= a->field_count(); ++i) {
      if (a->field_name(i) == name) return i;
    }
    return 0;
  }
  Status GetField(int area, int field, Value* out) override {
    WorkArea* a = AreaAt(area);
    return a ? a->get_value(field, out) : kFailure;
  }
  Status PutField(int area, int field, const Value& value) override {
    WorkArea* a = AreaAt(area);
    return a ? a->put_value(field, value) : kFailure;
  }
  Value CallFunction(std::string_view name, const ValueArray& args, bool* known) override {
    *known = false;
    WorkArea* a = vosk::CurrentArea();
    if (a && name == "RECNO") {
      *known = true;
      return Value::Integer(a->record_number());
    }
    return Value();
  }
};

class NtxTest : public RddTest {
 protected:
  void SetUp() override {
    RddTest::SetUp();
    if (!GetDatabaseAccess()) SetDatabaseAccess(&access_);
    NtxArea::SetSortRunKeys(0);
    NtxArea::SetMultiTag(false);
  }
  void TearDown() override {
    RddTest::TearDown();
    NtxArea::SetSortRunKeys(0);
    NtxArea::SetMultiTag(false);
    if (GetDatabaseAccess() == &access_) SetDatabaseAccess(nullptr);
  }

  // Creates a table and opens it with DBFNTX in a new area.
  bool MakeTable(const std::string& name, const std::vector<FieldRow>& rows, bool shared = false) {
    std::string path = Create(name, rows, "DBF");
    return DBUSEAREA(true, "DBFNTX", path, "", shared, false);
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

  TestDatabaseAccess access_;
};

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
