// Decimal text of field values: the fast path agrees with the general conversion, ties round
// half up over 15 significant digits, and numeric field text parses exactly.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "expr/decimal_text.h"
#include "expr/number_text.h"

namespace vosk {
namespace {

TEST(DecimalText, HandCheckedCases) {
  struct Case {
    double value;
    int decimals;
    const char* text;
  } cases[] = {
      {2.675, 2, "2.68"},         {12.5, 2, "12.50"},      {-0.004, 2, "0.00"},
      {-0.005, 2, "-0.01"},       {1234.5, 1, "1234.5"},   {0.5, 0, "1"},
      {2.5, 0, "3"},              {-2.5, 0, "-3"},         {0.1 + 0.2, 2, "0.30"},
      {1e-7, 3, "0.000"},         {123456789.125, 2, "123456789.13"},
      {999.995, 2, "1000.00"},    {1e15, 2, "1000000000000000.00"},
      {-1234567.891, 0, "-1234568"}, {1.005, 2, "1.01"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDecimal(c.value, c.decimals), c.text) << c.value;
}

TEST(DecimalText, AgreesWithGeneralConversionOnRandomValues) {
  std::mt19937_64 gen(42);
  std::uniform_real_distribution<double> mag(-9.0, 12.0);
  for (int i = 0; i < 200000; ++i) {
    double v = std::pow(10.0, mag(gen)) * ((gen() & 1) ? -1 : 1);
    if (i % 7 == 0) v = static_cast<double>(static_cast<int64_t>(v * 1000)) / 1000 + 0.0005;
    int dec = static_cast<int>(gen() % 6);
    std::string digits;
    bool negative = false;
    ASSERT_TRUE(FormatFixed(v, dec, &digits, &negative, /*fast=*/false));
    ASSERT_EQ(FormatDecimal(v, dec), (negative ? "-" : "") + digits) << v << " dec " << dec;
  }
}

TEST(DecimalText, ParsesFieldText) {
  struct Case {
    const char* text;
    double value;
    bool is_integer;
    int64_t integer;
  } cases[] = {
      {"   12.50", 12.5, false, 0},
      {"  -3", -3, true, -3},
      {"      ", 0, true, 0},
      {"1234567890123456789", 1234567890123456789.0, true, 1234567890123456789LL},
      {"-9223372036854775807", -9223372036854775807.0, true, -9223372036854775807LL},
      {"9999999999999999999", 9999999999999999999.0, false, 0},
      {"12.5abc", 12.5, false, 0},
      // Exponent form, as some programs write floats: the whole value.
      {" 1.10042642493e+09", 1100426424.93, false, 0},
      {"7.28159472653e+008", 728159472.653, false, 0},
      {"  -6.8E-002", -0.068, false, 0},
      {"3e", 3, true, 3},  // no exponent digits: the number before it
  };
  for (const Case& c : cases) {
    int64_t i = -1;
    bool is_int = !c.is_integer;
    EXPECT_DOUBLE_EQ(ParseDecimal(c.text, &i, &is_int), c.value) << c.text;
    EXPECT_EQ(is_int, c.is_integer) << c.text;
    if (c.is_integer) EXPECT_EQ(i, c.integer) << c.text;
  }
}

}  // namespace
}  // namespace vosk
