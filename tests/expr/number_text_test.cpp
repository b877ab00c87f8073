// Number-to-text conversion (STR and the text of numeric fields and keys) against hand-checked
// cases, and VAL / ROUND on the same rules.

#include "expr/number_text.h"

#include <gtest/gtest.h>

#include <cmath>

#include "expr/settings.h"

namespace vosk {
namespace {

struct StrCase {
  Value number;
  int width;
  int dec;
  const char* expected;
};

class NumberTextTest : public ::testing::Test {
 protected:
  NumberTextTest() { GlobalSettings().Reset(); }
  ~NumberTextTest() override { GlobalSettings().Reset(); }
};

TEST_F(NumberTextTest, StrOfHandCheckedCases) {
  const StrCase cases[] = {
      // Display width and decimals of the value when none are given.
      {Value::Integer(12), -1, -1, "        12"},
      {Value::Integer(-12), -1, -1, "       -12"},
      {Value::Integer(0), -1, -1, "         0"},
      {Value::Integer(12, 5), -1, -1, "   12"},
      {Value::Double(1234.5, 6, 2), -1, -1, "  1234.50"},   // N(9,2) field
      {Value::Double(99.9, 5, 1), -1, -1, "   99.9"},
      {Value::Double(0.5, 10, 2), -1, -1, "         0.50"},
      {Value::Double(-0.5, 10, 2), -1, -1, "        -0.50"},
      {Value::Double(1e15, 0, 0), -1, -1, "    1000000000000000"},  // natural width 20
      {Value::Integer(9223372036854775807LL), -1, -1, " 9223372036854775807"},
      {Value::Integer(INT64_MIN), -1, -1, "-9223372036854775808"},
      // A given width only: no decimals.
      {Value::Double(123.45, 10, 2), 4, -1, " 123"},
      {Value::Double(123.45, 10, 2), 3, -1, "123"},
      {Value::Double(123.45, 10, 2), 2, -1, "**"},
      {Value::Double(123.5, 10, 1), 4, -1, " 124"},    // half up
      {Value::Double(-123.5, 10, 1), 5, -1, " -124"},  // half away from zero
      {Value::Integer(12), 0, -1, "        12"},         // width below 1: 10
      // Width and decimals.
      {Value::Double(123.45, 10, 2), 8, 1, "   123.5"},
      {Value::Double(2.675, 10, 3), 5, 2, " 2.68"},    // 2.67499999... in binary
      {Value::Double(1.005, 10, 3), 5, 2, " 1.01"},
      {Value::Double(1.0049, 10, 4), 5, 2, " 1.00"},
      {Value::Double(0.125, 10, 3), 4, 2, "0.13"},
      {Value::Double(9.995, 10, 3), 5, 2, "10.00"},    // the carry adds a digit
      {Value::Double(9.995, 10, 3), 4, 2, "****"},
      {Value::Double(-0.001, 10, 3), 6, 2, "  0.00"},  // no minus on a zero result
      {Value::Double(-1.5, 10, 1), 5, 1, " -1.5"},
      {Value::Double(-1.5, 10, 1), 4, 1, "-1.5"},
      {Value::Double(-1.5, 10, 1), 3, 1, "***"},
      {Value::Integer(1), 5, 3, "1.000"},
      {Value::Integer(10), 5, 3, "*****"},
      {Value::Integer(1), 4, 3, "****"},               // width = decimals + 1
      {Value::Integer(7), 3, 0, "  7"},
      {Value::Double(0.000004, 10, 6), 10, 5, "   0.00000"},
      {Value::Double(0.000005, 10, 6), 10, 5, "   0.00001"},
      {Value::Double(1234567890123456789.0, 20, 0), 20, 0, " 1234567890123460000"},  // 15 digits
      {Value::Double(0.1 + 0.2, 10, 1), 20, 17, " 0.30000000000000000"},
      {Value::Double(HUGE_VAL, 10, 2), 6, 2, "******"},
      {Value::Double(std::nan(""), 10, 2), 6, 2, "******"},
  };
  for (const StrCase& c : cases) {
    EXPECT_EQ(StrOf(c.number, c.width, c.dec), c.expected)
        << c.number.number() << " width " << c.width << " dec " << c.dec;
  }
}

TEST_F(NumberTextTest, FixedUsesDecimalsSettingForNonIntegers) {
  SET(kSetFixed, Value::Logical(true));
  SET(kSetDecimals, Value::Integer(3));
  EXPECT_EQ(StrOf(Value::Double(1.5, 10, 1)), "         1.500");
  EXPECT_EQ(StrOf(Value::Double(1.5, 4, 1)), "   1.500");
  EXPECT_EQ(StrOf(Value::Integer(7)), "         7");
  EXPECT_EQ(StrOf(Value::Double(1.5, 10, 1), 6), "     2");
}

TEST_F(NumberTextTest, StrZeroFillsWithZerosAfterTheSign) {
  EXPECT_EQ(StrZeroOf(Value::Integer(12), 5), "00012");
  EXPECT_EQ(StrZeroOf(Value::Integer(-12), 5), "-0012");
  EXPECT_EQ(StrZeroOf(Value::Double(1.5, 10, 2), 6, 2), "001.50");
  EXPECT_EQ(StrZeroOf(Value::Integer(123456), 3), "***");
}

TEST_F(NumberTextTest, ValReadsSignDigitsAndOnePoint) {
  struct Case {
    const char* text;
    double value;
    bool integer;
    int width;
    int dec;
  } cases[] = {
      {"123", 123, true, 3, 0},         {"  42", 42, true, 4, 0},
      {"12.50", 12.5, false, 2, 2},     {"-3.5xyz", -3.5, false, 5, 1},
      {"+7", 7, true, 2, 0},            {"1.2.3", 1.2, false, 3, 1},
      {"", 0, true, 1, 0},              {"abc", 0, true, 3, 0},
      {"99999999999999999999", 1e20, false, 20, 0},
      {"-9223372036854775808", -9223372036854775807.0 - 1, true, 20, 0},
  };
  for (const Case& c : cases) {
    Value v = ValOf(c.text);
    EXPECT_EQ(v.number(), c.value) << c.text;
    EXPECT_EQ(v.is_integer(), c.integer) << c.text;
    EXPECT_EQ(v.width(), c.width) << c.text;
    EXPECT_EQ(v.is_integer() ? 0 : v.decimals(), c.dec) << c.text;
  }
}

TEST_F(NumberTextTest, RoundHalfUpOverFifteenDigits) {
  EXPECT_EQ(RoundHalfUp(2.675, 2), 2.68);
  EXPECT_EQ(RoundHalfUp(-2.675, 2), -2.68);
  EXPECT_EQ(RoundHalfUp(2.5, 0), 3.0);
  EXPECT_EQ(RoundHalfUp(1234.5, -2), 1200.0);
  EXPECT_EQ(RoundHalfUp(1250.0, -2), 1300.0);
  EXPECT_EQ(RoundHalfUp(0.0, 2), 0.0);
  EXPECT_TRUE(std::isinf(RoundHalfUp(HUGE_VAL, 2)));
}

}  // namespace
}  // namespace vosk
