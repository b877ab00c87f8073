// A date sought in an order of timestamps finds the keys of its whole day, in both index
// engines: the first of the day, the last with SEEK LAST, none on a day without keys (a soft
// seek then stands on the next day's first), and a scope of dates takes whole days.

#include "ntx_test_support.h"

namespace vosk {
namespace {

class TimestampSeekTest : public NtxTest {};

TEST_F(TimestampSeekTest, ADateFindsTheKeysOfItsWholeDayInBothEngines) {
  const int32_t day = JulianFromYmd(2024, 1, 15);
  // Records 1-6, in key order 6 3 2 5 4 1.
  const Value stamps[] = {Value::Timestamp(day + 2, 5),     Value::Timestamp(day, 43200000),
                          Value::Timestamp(day, 1000),      Value::Timestamp(day + 2, 0),
                          Value::Timestamp(day, 86399999),  Value::Timestamp(day - 1, 86399999)};
  struct Case {
    const char* what;
    Value key;
    bool soft, last;
    bool found;
    uint32_t record;  // 0: end of file
  };
  const Case cases[] = {
      {"a date: the first key of its day", Value::Date(day), false, false, true, 3},
      {"seek last: the last key of the day", Value::Date(day), false, true, true, 5},
      {"the day before: its only key", Value::Date(day - 1), false, false, true, 6},
      {"a day without keys", Value::Date(day + 1), false, false, false, 0},
      {"soft: the next day's first key", Value::Date(day + 1), true, false, false, 4},
      {"after the last day", Value::Date(day + 3), true, false, false, 0},
      {"a timestamp still seeks its instant", Value::Timestamp(day, 43200000), false, false, true,
       2},
      {"a timestamp between keys", Value::Timestamp(day, 2000), false, false, false, 0},
  };
  for (const char* driver : {"DBFNTX", "DBFCDX"}) {
    SCOPED_TRACE(driver);
    ASSERT_TRUE(MakeTable(std::string("ts") + driver, {{"AT", "T", 8, 0}}, false, driver));
    for (const Value& v : stamps) Add({v});
    DBCOMMIT();
    ASSERT_TRUE(ORDCREATE(Path(std::string("ts") + (driver[3] == 'N' ? ".ntx" : ".cdx")), "AT",
                          "AT"))
        << ErrorText();
    ASSERT_EQ(Walk(), (std::vector<uint32_t>{6, 3, 2, 5, 4, 1}));
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      EXPECT_EQ(DBSEEK(c.key, Value::Logical(c.soft), Value::Logical(c.last)), c.found);
      EXPECT_EQ(EOF_() ? 0u : RECNO(), c.record);
    }
    // Skipping on from a day's first key walks the rest of the order.
    ASSERT_TRUE(DBSEEK(Value::Date(day)));
    DBSKIP(1);
    EXPECT_EQ(RECNO(), 2u);
    // A scope of dates holds their whole days.
    ORDSCOPE(0, Value::Date(day));
    ORDSCOPE(1, Value::Date(day));
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{3, 2, 5}));
    ORDSCOPE(0, Value::Date(day - 1));
    ORDSCOPE(1, Value::Date(day + 1));
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{6, 3, 2, 5}));
    EXPECT_TRUE(errors_.empty()) << ErrorText();
    DBCLOSEAREA();
  }
}

}  // namespace
}  // namespace vosk
