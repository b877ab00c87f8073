// Both index engines on a failing disk. For every n, the nth write of the bag failing (half of
// its bytes written first) during an append, a key change, a key dropped by its FOR condition,
// a tag added and a tag dropped leaves the bag byte for byte as it was before the change: the
// error is raised, an edited record is written back as it was, an appended record is left
// without its keys (which the check reports, and nothing else), and the bag takes the next
// change. A failing sync of the bag under hard commit is raised.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ntx_test_support.h"
#include "support/file_faults.h"

namespace vosk {
namespace {

namespace fs = std::filesystem;

struct Engine {
  const char* driver;
  const char* extension;
};

struct Change {
  const char* name;
  std::function<void()> run;
  bool appends;  // a failure leaves the appended record without its keys
  bool beside;   // the change is made in a copy beside the bag: every file's writes fail
};

constexpr int kRecords = 300;

class BagFaultTest : public NtxTest, public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    NtxTest::SetUp();
    NtxArea::SetMultiTag(true);  // NTX: the tags share one compound file, changed in place
    fs::create_directories(Path("golden"));
    const std::string table = Golden("t.dbf");
    ASSERT_TRUE(DBCREATE(table, Structure({{"K", "C", 10, 0}, {"N", "N", 4, 0}}), "DBF"));
    ASSERT_TRUE(DBUSEAREA(true, GetParam().driver, table, "", false, false));
    for (int i = 0; i < kRecords; ++i) {
      // Keys spread over the whole order, so that a change touches pages inside the file.
      Add({Value::String(KeyOf((i * 7919) % kRecords)), Value::Integer(i)});
    }
    ASSERT_TRUE(ORDCREATE(Golden(BagName()), "K", "K")) << ErrorText();
    ORDCONDSET({.for_text = "N % 3 <> 0"});
    ASSERT_TRUE(ORDCREATE(Golden(BagName()), "N", "STR(N, 4) + K")) << ErrorText();
    DBCLOSEAREA();
    ASSERT_TRUE(errors_.empty()) << ErrorText();
  }

  static std::string KeyOf(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "K%05d", n * 10);
    return buf;
  }
  std::string BagName() const { return std::string("b") + GetParam().extension; }
  std::string Golden(const std::string& name) const { return Path("golden/" + name); }
  std::string Table() const { return Path("t.dbf"); }
  std::string Bag() const { return Path(BagName()); }

  // Fresh copies of the table and its bag, opened with the bag in control of order K.
  void OpenCopies() {
    for (const std::string name : {std::string("t.dbf"), BagName()}) {
      fs::copy_file(Golden(name), Path(name), fs::copy_options::overwrite_existing);
    }
    ASSERT_TRUE(DBUSEAREA(true, GetParam().driver, Table(), "", false, false)) << ErrorText();
    ASSERT_TRUE(ORDLISTADD(Value::String(Bag()))) << ErrorText();
    ORDSETFOCUS(Value::String("K"));
  }

  std::vector<std::string> Problems() {
    NtxCheckReport report;
    EXPECT_TRUE(CheckBags(&report)) << ErrorText();
    return report.problems;
  }

  std::vector<Change> Changes() {
    auto edit = [](uint32_t recno, int field, Value v) {
      DBGOTO(Value::Integer(recno));
      FIELDPUT(field, v);
      DBCOMMIT();
    };
    return {
        {"append",
         [] {
           if (DBAPPEND()) {
             FIELDPUT(1, Value::String(KeyOf(77) + "A"));
             FIELDPUT(2, Value::Integer(1));
             DBCOMMIT();
           }
         },
         true, false},
        {"key change", [=] { edit(5, 1, Value::String("K99999")); }, false, false},
        {"key dropped by FOR", [=] { edit(8, 2, Value::Integer(3)); }, false, false},
        {"tag added", [this] { (void)ORDCREATE(Bag(), "NEW", "K + STR(N, 4)"); }, false,
         GetParam().extension == std::string(".cdx")},
        {"tag dropped", [this] { (void)ORDDESTROY(Value::String("N"), Value::String(Bag())); },
         false, false},
    };
  }
};

TEST_P(BagFaultTest, EveryFailedWriteOfAChangeLeavesTheBagAsItWas) {
  for (const Change& change : Changes()) {
    SCOPED_TRACE(change.name);
    uint64_t n = 1;
    for (;; ++n) {
      SCOPED_TRACE("write " + std::to_string(n));
      ASSERT_NO_FATAL_FAILURE(OpenCopies());
      const std::string bag = Bytes(Bag()), table = Bytes(Table());
      errors_.clear();
      FileFault fault(FaultOp::kWrite, EIO, change.beside ? "" : GetParam().extension, n);
      fault.torn = true;
      FaultScope scope(fault);
      change.run();
      scope.Disarm();
      if (!scope.fired()) {
        EXPECT_TRUE(errors_.empty()) << ErrorText();
        EXPECT_TRUE(Problems().empty());
        DBCLOSEALL();
        break;
      }
      ASSERT_FALSE(errors_.empty()) << "the failed write is raised";
      EXPECT_EQ(errors_.front().gen_code, kEgWrite) << ErrorText();
      EXPECT_TRUE(Bytes(Bag()) == bag) << "the bag changed";
      std::vector<std::string> problems = Problems();
      if (change.appends) {
        // The record is in the table, its keys are not (the FOR of N holds for it).
        EXPECT_EQ(problems.size(), 2u);
        for (const std::string& p : problems) {
          EXPECT_NE(p.find("record " + std::to_string(kRecords + 1) + " has no key"),
                    std::string::npos)
              << p;
        }
      } else {
        EXPECT_TRUE(Bytes(Table()) == table) << "the record was not written back";
        for (const std::string& p : problems) ADD_FAILURE() << p;
      }
      // The bag takes the next change.
      errors_.clear();
      ORDSETFOCUS(Value::String("K"));
      ASSERT_TRUE(DBAPPEND());
      FIELDPUT(1, Value::String("AFTER"));
      DBCOMMIT();
      EXPECT_TRUE(errors_.empty()) << ErrorText();
      EXPECT_TRUE(DBSEEK(Value::String("AFTER")));
      EXPECT_EQ(Problems().size(), change.appends ? 2u : 0u);
      DBCLOSEALL();
    }
    EXPECT_GT(n, 1u) << "the change wrote the bag";
  }
}

// Under hard commit the table's commit syncs the bag too; a failed sync is raised (the change
// is in the file, and the bag is sound), at the commit and at the close.
TEST_P(BagFaultTest, AFailedSyncIsRaised) {
  SET(kSetHardCommit, Value::Logical(true));
  for (bool at_close : {false, true}) {
    SCOPED_TRACE(at_close ? "close" : "commit");
    ASSERT_NO_FATAL_FAILURE(OpenCopies());
    errors_.clear();
    {
      FaultScope sync(FaultOp::kCommit, EIO, GetParam().extension);
      DBGOTO(Value::Integer(5));
      FIELDPUT(1, Value::String("K99999"));
      if (at_close) DBCLOSEALL();
      else DBCOMMIT();
      EXPECT_TRUE(sync.fired());
    }
    ASSERT_EQ(errors_.size(), 1u) << "the failed sync is raised";
    EXPECT_EQ(errors_.front().gen_code, kEgWrite);
    EXPECT_EQ(errors_.front().file_name, Bag());
    if (!at_close) {
      errors_.clear();
      EXPECT_TRUE(Problems().empty());
      EXPECT_TRUE(DBSEEK(Value::String("K99999")));
      EXPECT_EQ(RECNO(), 5u);
      EXPECT_TRUE(errors_.empty()) << ErrorText();
    }
    DBCLOSEALL();
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, BagFaultTest,
                         ::testing::Values(Engine{"DBFNTX", ".ntx"}, Engine{"DBFCDX", ".cdx"}),
                         [](const auto& info) { return std::string(info.param.driver); });

}  // namespace
}  // namespace vosk
