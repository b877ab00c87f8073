// The input field's rules: pictures, character filtering, DispText and Assign.

#include "app/tget.h"

#include <gtest/gtest.h>

#include "expr/date_text.h"
#include "expr/settings.h"

namespace vosk {
namespace {

// Focus, type, leave: what the user sees afterwards and what is written back.
struct Typed {
  std::string text_while_focused;
  Value value;
};
Typed TypeInto(TGet& get, const std::string& keys) {
  get.GotFocus();
  for (char k : keys) get.KeyChar(static_cast<unsigned char>(k));
  Typed t{get.text(), Value()};
  get.LostFocus();
  t.value = get.value();
  return t;
}

class TGetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalSettings().Reset();
    SETCENTURY(Value::Logical(true));
    SET(kSetDateFormat, Value::String("dd/mm/yyyy"));
  }
};

TEST_F(TGetTest, NumericPointBecomesCommaAndReadsBackAsDecimalPoint) {
  TGet get(Value::Double(0, 8, 2), "99999.99");
  Typed t = TypeInto(get, "12.5");
  EXPECT_EQ(t.text_while_focused, "12,5");
  EXPECT_DOUBLE_EQ(t.value.number(), 12.5);
  EXPECT_EQ(get.text(), "12.50");  // unfocused: formatted by the picture and trimmed
}

TEST_F(TGetTest, NumericFilterRefusesLettersSecondPointAndLateMinus) {
  struct Case {
    const char* keys;
    const char* shown;
  } cases[] = {
      {"1a2", "12"},      // letters refused
      {"1.2.3", "1,23"},  // a second decimal point refused
      {"-12", "-12"},     // a minus at the start is taken
      {"1-2", "12"},      // a minus elsewhere is refused
      {"--1", "-1"},      // only one minus
  };
  for (const Case& c : cases) {
    TGet get(Value::Integer(0, 6), "999999");
    EXPECT_EQ(TypeInto(get, c.keys).text_while_focused, c.shown) << c.keys;
  }
}

TEST_F(TGetTest, ZeroPictureShowsZeroAsDigitOnlyWhileFocused) {
  TGet get(Value::Integer(0), "@Z 9999999999");
  EXPECT_EQ(get.text(), "");
  get.GotFocus();
  EXPECT_EQ(get.text(), "0");
  EXPECT_EQ(get.sel_len(), 1);  // all selected: typing replaces it
  get.KeyChar('7');
  get.LostFocus();
  EXPECT_EQ(get.value().number(), 7);
}

TEST_F(TGetTest, LogicalTakesOnlyTOrFInAnyCaseReplacingItsCharacter) {
  TGet get(Value::Logical(false), "@! L");
  EXPECT_EQ(get.text(), "F");
  get.GotFocus();
  EXPECT_FALSE(get.KeyChar('x'));
  EXPECT_FALSE(get.KeyChar('1'));
  EXPECT_TRUE(get.KeyChar('t'));
  EXPECT_EQ(get.text(), "T");
  get.SetPos(1);  // caret at the end: refused
  EXPECT_FALSE(get.KeyChar('f'));
  get.LostFocus();
  EXPECT_TRUE(get.value().logical());
}

TEST_F(TGetTest, UpperCaseMaskWithLetterFirstPosition) {
  TGet get(Value::String(std::string(10, ' ')), "@! AXXXXXXXXX");
  get.GotFocus();
  EXPECT_FALSE(get.KeyChar('1')) << "the first position takes letters only";
  EXPECT_TRUE(get.KeyChar('n'));
  EXPECT_TRUE(get.KeyChar('1'));
  EXPECT_TRUE(get.KeyChar('b'));
  EXPECT_EQ(get.text(), "N1B");
  get.LostFocus();
  EXPECT_EQ(get.value().str(), "N1B       ");  // padded to the field's length
}

TEST_F(TGetTest, DateLeftEmptyStaysEmptyAndBadDateStaysAsTyped) {
  TGet empty(Value::Date(0), "");
  EXPECT_EQ(empty.cPicture(), "99/99/9999");
  const std::string blank = empty.text();
  EXPECT_EQ(blank, "  /  /    ");
  empty.GotFocus();
  empty.LostFocus();
  EXPECT_EQ(empty.text(), blank);
  EXPECT_EQ(empty.value().julian(), 0);
  EXPECT_FALSE(empty.BadDate());

  TGet bad(Value::Date(0), "");
  bad.GotFocus();
  for (char k : std::string("31022024")) bad.KeyChar(static_cast<unsigned char>(k));
  EXPECT_EQ(bad.text(), "31/02/2024");  // the fixed slashes are skipped over
  bad.LostFocus();
  EXPECT_TRUE(bad.BadDate());
  EXPECT_EQ(bad.text(), "31/02/2024");

  TGet good(Value::Date(0), "");
  good.GotFocus();
  for (char k : std::string("1503202x4")) good.KeyChar(static_cast<unsigned char>(k));
  good.LostFocus();
  EXPECT_EQ(DateToText(good.value().julian()), "15/03/2024");
}

TEST_F(TGetTest, BackspaceInAMaskBlanksThePreviousInputPosition) {
  TGet get(Value::Date(TextToDate("15/03/2024")), "");
  get.GotFocus();
  get.SetPos(3);  // after "15/"
  EXPECT_TRUE(get.KeyChar(8));
  EXPECT_EQ(get.text(), "1 /03/2024");
  EXPECT_EQ(get.caret(), 1);
  get.SetSel(3, 2);
  EXPECT_TRUE(get.KeyDelete());
  EXPECT_EQ(get.text(), "1 /  /2024");
}

TEST_F(TGetTest, ReadOnlyFieldIgnoresTypingUnlessDeleteEmptiesIt) {
  TGet get(Value::String("ABC"), "");
  get.lReadOnly = true;
  EXPECT_FALSE(get.KeyChar('x'));
  EXPECT_FALSE(get.KeyDelete());
  get.lDelete = true;
  get.cCode = "code";
  EXPECT_TRUE(get.KeyChar(8));  // Backspace acts as Delete
  EXPECT_EQ(get.text(), "   ");
  EXPECT_EQ(get.cCode, "");
}

TEST_F(TGetTest, NumberTooLargeForItsPictureIsBad) {
  TGet get(Value::Integer(5), "99");
  get.GotFocus();
  for (char k : std::string("123")) get.KeyChar(static_cast<unsigned char>(k));
  EXPECT_EQ(get.text(), "12") << "the edit box holds at most the picture's length";
  get.SetText("999");
  get.LostFocus();
  EXPECT_TRUE(get.BadNumber());
}

}  // namespace
}  // namespace vosk
