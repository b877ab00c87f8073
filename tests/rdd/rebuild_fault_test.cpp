// Pack, zap and reindex with the nth write failing, for every n: the command fails, and the
// table and its bags are as they were, byte for byte, and still pass the check; the run that
// goes through leaves bags that pass it. NTX and CDX alike.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/dbfcdx/cdx_check.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_check.h"
#include "rdd/ord_commands.h"
#include "rdd_fixture.h"
#include "support/bag_check.h"
#include "support/file_faults.h"

namespace vosk {
namespace {

namespace fs = std::filesystem;

class RebuildFaultTest : public RddTest {
 protected:
  struct Engine {
    const char* driver;
    const char* bag;
  };

  // t.dbf of 200 records (every fourth deleted) with the engine's bag on ID and NAME; copies
  // of its files are kept in orig/.
  void Build(const Engine& e) {
    for (const auto& f : fs::directory_iterator(dir_.File("."))) fs::remove_all(f.path());
    ASSERT_TRUE(DBCREATE(Path("t.dbf"), Structure({{"ID", "N", 6, 0}, {"NAME", "C", 12, 0}}),
                         "DBF"));
    ASSERT_TRUE(DBUSEAREA(true, e.driver, Path("t.dbf"), "", false, false)) << ErrorText();
    for (int i = 1; i <= 200; ++i) {
      ASSERT_TRUE(DBAPPEND());
      FIELDPUT(1, Value::Integer((i * 37) % 200));
      FIELDPUT(2, Value::String("name" + std::to_string(i)));
      if (i % 4 == 0) DBDELETE();
    }
    ASSERT_TRUE(ORDCREATE(Path(e.bag), "BYID", "ID")) << ErrorText();
    if (std::string(e.driver) == "DBFCDX") {
      ASSERT_TRUE(ORDCREATE(Path(e.bag), "BYNAME", "NAME")) << ErrorText();
    }
    DBCLOSEALL();
    fs::create_directories(Path("orig"));
    for (const char* f : {"t.dbf", e.bag}) fs::copy_file(Path(f), Path(std::string("orig/") + f));
  }
  void Restore(const Engine& e) {
    for (const auto& f : fs::directory_iterator(dir_.File("."))) {
      if (f.is_regular_file()) fs::remove(f.path());
    }
    for (const char* f : {"t.dbf", e.bag}) fs::copy_file(Path(std::string("orig/") + f), Path(f));
  }
  // Every bag open in the current area passes the check.
  void ExpectBagsPass() {
    ExpectOpenBagsPassCheck();
  }
};

TEST_F(RebuildFaultTest, AFailedWriteAtAnyStepLeavesTheOldFilesWhole) {
  const Engine engines[] = {{"DBFNTX", "t_id.ntx"}, {"DBFCDX", "t.cdx"}};
  const struct {
    const char* label;
    std::function<bool()> command;
  } commands[] = {
      {"pack", [] { return DBPACK(); }},
      {"zap", [] { return DBZAP(); }},
      {"reindex", [] { return ORDLISTREBUILD(); }},
  };
  for (const Engine& e : engines) {
    Build(e);
    const std::string table = Bytes(Path("t.dbf")), bag = Bytes(Path(e.bag));
    for (const auto& c : commands) {
      SCOPED_TRACE(std::string(e.driver) + " " + c.label);
      const uint64_t failed = SweepFaults(
          FileFault(FaultOp::kWrite, ENOSPC), [&](uint64_t n, FaultScope& fault) {
            SCOPED_TRACE("write " + std::to_string(n));
            Restore(e);
            errors_.clear();
            bool done = DBUSEAREA(true, e.driver, Path("t.dbf"), "", false, false) &&
                        ORDLISTADD(Value::String(Path(e.bag))) && c.command();
            DBCLOSEALL();
            fault.Disarm();
            if (fault.fired()) {
              EXPECT_FALSE(done);
              EXPECT_FALSE(errors_.empty());
              EXPECT_EQ(Bytes(Path("t.dbf")), table);
              EXPECT_EQ(Bytes(Path(e.bag)), bag);
            } else {
              EXPECT_TRUE(done) << ErrorText();
            }
            errors_.clear();
            ASSERT_TRUE(DBUSEAREA(true, e.driver, Path("t.dbf"), "", false, false));
            ASSERT_TRUE(ORDLISTADD(Value::String(Path(e.bag)))) << ErrorText();
            ExpectBagsPass();
            DBCLOSEALL();
            for (const auto& f : fs::directory_iterator(dir_.File("."))) {
              EXPECT_EQ(f.path().string().find("vosk-"), std::string::npos) << f.path();
            }
          });
      EXPECT_GE(failed, 2u);
    }
  }
}

}  // namespace
}  // namespace vosk
