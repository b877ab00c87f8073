// Key maintenance that every index engine shares: a record changed and then followed by an
// append (without moving off it first) keeps its new key in every order.

#include "ntx_test_support.h"

namespace vosk {
namespace {

class OrderMaintenanceTest : public NtxTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OrderMaintenanceTest, EditThenAppendKeepsTheEditedKey) {
  const std::string driver = GetParam();
  std::string path = Create("edits.dbf", {{"NAME", "C", 8, 0}, {"AMOUNT", "N", 9, 2}}, "DBF");
  ASSERT_TRUE(DBUSEAREA(true, driver, path, "", false, false)) << ErrorText();
  for (int i = 1; i <= 50; ++i) Add({Value::String("N" + std::to_string(i)), Value::Double(i, 0, 2)});
  ASSERT_TRUE(ORDCREATE(Path(driver == "DBFCDX" ? "edits.cdx" : "edits.ntx"), "AMOUNT", "AMOUNT"))
      << ErrorText();
  DBGOTO(Value::Integer(10));
  FIELDPUT(2, Value::Double(1000, 0, 2));        // record 10 moves to the end of the order
  Add({Value::String("NEW"), Value::Double(0.5, 0, 2)});  // record 51 comes first
  DBCOMMIT();
  std::vector<uint32_t> walk = Walk();
  ASSERT_EQ(walk.size(), 51u);
  EXPECT_EQ(walk.front(), 51u);
  EXPECT_EQ(walk.back(), 10u);
  EXPECT_TRUE(DBSEEK(Value::Double(1000, 0, 2)));
  EXPECT_EQ(RECNO(), 10u);
  EXPECT_FALSE(DBSEEK(Value::Double(10, 0, 2)));  // the old key is gone
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

INSTANTIATE_TEST_SUITE_P(Engines, OrderMaintenanceTest, ::testing::Values("DBFNTX", "DBFCDX"));

}  // namespace
}  // namespace vosk
