#ifndef VOSK_TESTS_RDD_RDD_FIXTURE_H_
#define VOSK_TESTS_RDD_RDD_FIXTURE_H_

// The table engine's test bed: default settings, a temporary directory, every work area closed
// before and after each test, driver settings restored, and an error handler that records every
// runtime error and answers "default" so that a failing operation simply returns failure.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "expr/value.h"
#include "rdd/db_commands.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/driver_registry.h"
#include "rdd/work_area_table.h"
#include "support/dbf_image.h"
#include "support/file_size_limit.h"

namespace vosk {

// One row of a structure array.
struct FieldRow {
  std::string name;
  std::string type;
  int length;
  int decimals;
  int flags = -1;  // -1: no fifth element
};

inline ValueArray Structure(const std::vector<FieldRow>& rows) {
  ValueArray out;
  for (const FieldRow& r : rows) {
    ValueArray row{Value::String(r.name), Value::String(r.type), Value::Integer(r.length),
                   Value::Integer(r.decimals)};
    if (r.flags >= 0) row.push_back(Value::Integer(r.flags));
    out.push_back(Value::Array(std::move(row)));
  }
  return out;
}

// Iterations of a fuzz loop: n, or VOSK_FUZZ_ITERATIONS for a longer run by hand.
inline int FuzzIterations(int n) {
  const char* wanted = std::getenv("VOSK_FUZZ_ITERATIONS");
  return wanted && std::atoi(wanted) > 0 ? std::atoi(wanted) : n;
}

class RddTest : public ::testing::Test {
 protected:
  RddTest()
      : handler_([this](const RuntimeError& e) {
          errors_.push_back(e);
          return ErrorAnswer::Default();
        }) {}

  void SetUp() override {
    GlobalSettings().Reset();
    SET(kSetHardCommit, Value::Logical(false));  // no fsync: the tests read through the cache
    InitDatabaseEngine();
    for (const char* name : {"DBF", "DBFFPT", "DBFBLOB", "DBFNTX", "DBFCDX"}) {
      saved_[name] = FindDriver(name)->settings();
    }
    DBCLOSEALL();
  }

  void TearDown() override {
    DBCLOSEALL();
    for (auto& [name, settings] : saved_) FindDriver(name)->settings() = settings;
    SetDefaultDriver(nullptr);
    GlobalSettings().Reset();
  }

  std::string Path(const std::string& name) const { return dir_.File(name); }

  // Creates a table with the DBF driver (or another one) and closes it.
  std::string Create(const std::string& name, const std::vector<FieldRow>& rows,
                     const std::string& driver = "DBF") {
    std::string path = Path(name);
    EXPECT_TRUE(DBCREATE(path, Structure(rows), driver)) << ErrorText();
    return path;
  }
  // Writes a hand-built image and returns its path.
  std::string Write(const std::string& name, const test::DbfImage& image) {
    std::string path = Path(name);
    test::WriteFileBytes(path, image.Bytes());
    return path;
  }
  // Opens a table in a new area (exclusive unless asked otherwise).
  bool Use(const std::string& path, bool shared = false, bool read_only = false,
           const std::string& alias = "", const std::string& driver = "DBF") {
    return DBUSEAREA(true, driver, path, alias, shared, read_only);
  }
  DbfArea* Dbf() const { return dynamic_cast<DbfArea*>(CurrentArea()); }
  std::string Bytes(const std::string& path) const { return test::ReadFileBytes(path); }

  // The last recorded error, or nullptr.
  const RuntimeError* LastError() const { return errors_.empty() ? nullptr : &errors_.back(); }
  bool HasError(int gen_code, int sub_code) const {
    for (const RuntimeError& e : errors_) {
      if (e.gen_code == gen_code && e.sub_code == sub_code) return true;
    }
    return false;
  }
  std::string ErrorText() const {
    std::string s;
    for (const RuntimeError& e : errors_) s += e.ToString() + "; ";
    return s;
  }

  test::TempDir dir_;
  std::vector<RuntimeError> errors_;
  ScopedErrorHandler handler_;
  std::map<std::string, DbfDriverSettings> saved_;
};

// Expects that the last error carries these codes.
#define EXPECT_LAST_ERROR(gen, sub)                                      \
  do {                                                                   \
    ASSERT_NE(LastError(), nullptr) << "no error raised";                \
    EXPECT_EQ(LastError()->gen_code, (gen)) << LastError()->ToString(); \
    EXPECT_EQ(LastError()->sub_code, (sub)) << LastError()->ToString(); \
  } while (0)

}  // namespace vosk

#endif  // VOSK_TESTS_RDD_RDD_FIXTURE_H_
