// Trigger events of the DBF driver: which operations fire them, in which order, and what a
// refusing or value-changing trigger does.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "rdd/db_commands.h"
#include "rdd/trigger.h"

namespace vosk {
namespace {

class TriggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitDatabaseEngine();
    GlobalSettings().Reset();
    path_ = ::testing::TempDir() + "trigger_test.dbf";
    ValueArray structure = {Value::Array({Value::String("NAME"), Value::String("C"),
                                          Value::Integer(10), Value::Integer(0)})};
    ASSERT_TRUE(DBCREATE(path_, structure, "DBF"));
    RegisterTriggerFunction("AUDIT", [this](int event, int area, Value* extra, Value* value) {
      events_.push_back(event);
      if (event == kTrgPut && value && value->is_string()) {
        if (value->str() == "no") return false;
        value->mutable_str() = "<" + value->str() + ">";
      }
      if (event == kTrgGet && value && value->is_string()) value->mutable_str() += "!";
      return true;
    });
  }
  void TearDown() override {
    RDDINFO(19, Value::String(""), "DBF");
    RegisterTriggerFunction("AUDIT", nullptr);
    DBCLOSEALL();
  }
  std::string path_;
  std::vector<int> events_;
};

TEST_F(TriggerTest, OperationsFireTheirEventsInOrder) {
  RDDINFO(19, Value::String("audit"), "DBF");
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path_, "T", false, false));
  EXPECT_EQ(events_, (std::vector<int>{kTrgPreUse, kTrgPostUse}));
  events_.clear();
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String("abc"));
  DBCOMMIT();
  DBDELETE();
  DBRECALL();
  DBCOMMIT();
  EXPECT_EQ(events_, (std::vector<int>{kTrgAppend, kTrgPut, kTrgUpdate, kTrgDelete, kTrgRecall,
                                       kTrgUpdate}));
  // The trigger changed the value on its way in and on its way out.
  EXPECT_EQ(FIELDGET(1).str(), "<abc>     !");
  events_.clear();
  EXPECT_TRUE(FIELDPUT(1, Value::String("no")).is_nil());  // refused
  DBCLOSEAREA();
  EXPECT_EQ(events_, (std::vector<int>{kTrgPut, kTrgPreClose, kTrgPostClose}));

  // Without the trigger the stored bytes show the change the trigger made.
  RDDINFO(19, Value::String(""), "DBF");
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path_, "T", false, false));
  EXPECT_EQ(FIELDGET(1).str(), "<abc>     ");
}

TEST_F(TriggerTest, TriggersSwitchOnAndOffPerTable) {
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path_, "T", false, false));
  ASSERT_TRUE(DBAPPEND());
  EXPECT_TRUE(events_.empty());
  DBINFO(138, Value::String("AUDIT"));  // names the function and turns triggers on
  FIELDPUT(1, Value::String("x"));
  EXPECT_EQ(events_, (std::vector<int>{kTrgPut}));
  DBINFO(138, Value::Logical(false));
  FIELDPUT(1, Value::String("y"));
  EXPECT_EQ(events_.size(), 1u);
  EXPECT_EQ(FIELDGET(1).str(), "y         ");
}

TEST_F(TriggerTest, MemoFieldsFirePutAndGet) {
  std::string memo_table = ::testing::TempDir() + "trigger_memo.dbf";
  ValueArray structure = {Value::Array({Value::String("NOTE"), Value::String("M"),
                                        Value::Integer(10), Value::Integer(0)})};
  ASSERT_TRUE(DBCREATE(memo_table, structure, "DBFFPT"));
  RDDINFO(19, Value::String("audit"), "DBFFPT");
  ASSERT_TRUE(DBUSEAREA(true, "DBFFPT", memo_table, "M1", false, false));
  RDDINFO(19, Value::String(""), "DBFFPT");
  ASSERT_TRUE(DBAPPEND());
  events_.clear();
  FIELDPUT(1, Value::String("long text"));
  EXPECT_EQ(FIELDGET(1).str(), "<long text>!");
  EXPECT_TRUE(FIELDPUT(1, Value::String("no")).is_nil());
  EXPECT_EQ(events_, (std::vector<int>{kTrgPut, kTrgGet, kTrgPut}));
  DBINFO(138, Value::Logical(false));
  // The record inquiries that carry the memo data with the record.
  std::string raw = DBRECORDINFO(7).str();
  EXPECT_EQ(DBRECORDINFO(8).str(), "<long text>");
  EXPECT_EQ(DBRECORDINFO(9).str(), raw + "<long text>");
}

}  // namespace
}  // namespace vosk
