// Every field type read and written bit-exactly: the stored bytes, the values read back with
// their display widths, the width and type errors, autoincrement and stamp fields, nulls.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/system.h"
#include "rdd_fixture.h"

namespace vosk {
namespace {

using test::DbfDescriptor;
using test::DbfImage;
using test::FieldBytes;
using test::Le16;
using test::Le24;
using test::Le32;
using test::Le64;
using test::Record;

constexpr int32_t kJan15 = 2460325;  // 2024-01-15

std::string DoubleBytes(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return Le64(bits);
}

// A value as text with everything a field read decides: type, content, display width and
// decimals of numbers.
std::string Describe(const Value& v) {
  char buf[96];
  switch (v.type()) {
    case Value::Type::kNil: return "NIL";
    case Value::Type::kLogical: return v.logical() ? "L:T" : "L:F";
    case Value::Type::kInteger:
      std::snprintf(buf, sizeof buf, "I:%lld/%d", static_cast<long long>(v.integer()), v.width());
      return buf;
    case Value::Type::kDouble:
      std::snprintf(buf, sizeof buf, "F:%.10g/%d.%d", v.dbl(), v.width(), v.decimals());
      return buf;
    case Value::Type::kDate: return "D:" + std::to_string(v.julian());
    case Value::Type::kTimestamp:
      return "T:" + std::to_string(v.julian()) + "," + std::to_string(v.millis());
    case Value::Type::kString: return "C:" + v.str();
    default: return "?";
  }
}

class DbfFieldsTest : public RddTest {
 protected:
  // Creates a table of the given fields, opens it exclusively and appends one blank record.
  void OpenWithOneRecord(const std::vector<FieldRow>& rows) {
    std::string path = Create("t" + std::to_string(++tables_) + ".dbf", rows);
    path_ = path;
    ASSERT_TRUE(Use(path)) << ErrorText();
    ASSERT_TRUE(DBAPPEND()) << ErrorText();
  }
  // The stored bytes of a field of record 1, after a commit.
  std::string Stored(const std::string& name) {
    DBCOMMIT();
    return FieldBytes(Bytes(path_), 1, name);
  }

  int tables_ = 0;
  std::string path_;
};

// Writing a value into a field: the bytes stored and the error raised, if any.
struct WriteCase {
  const char* label;
  FieldRow field;
  Value value;
  std::string stored;  // empty: not checked
  int gen_code;        // 0: no error
};

TEST_F(DbfFieldsTest, WritingValuesStoresExactBytesOrRaisesTheNamedError) {
  const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
  const WriteCase cases[] = {
      {"C padded", {"F", "C", 10, 0}, Value::String("abc"), "abc       ", 0},
      {"C cut without error", {"F", "C", 10, 0}, Value::String(thirty), "abcdefghij", 0},
      {"C 300", {"F", "C", 300, 0}, Value::String("x"), "x" + std::string(299, ' '), 0},
      {"L true", {"F", "L", 1, 0}, Value::Logical(true), "T", 0},
      {"L false", {"F", "L", 1, 0}, Value::Logical(false), "F", 0},
      {"L from text", {"F", "L", 1, 0}, Value::String("T"), "", kEgDataType},
      {"D8", {"F", "D", 8, 0}, Value::Date(kJan15), "20240115", 0},
      {"D8 empty", {"F", "D", 8, 0}, Value::Date(0), "        ", 0},
      {"D8 from timestamp", {"F", "D", 8, 0}, Value::Timestamp(kJan15, 5000), "20240115", 0},
      {"D3", {"F", "D", 3, 0}, Value::Date(kJan15), Le24(kJan15), 0},
      {"D4", {"F", "D", 4, 0}, Value::Date(kJan15), Le32(kJan15), 0},
      {"D from number", {"F", "D", 8, 0}, Value::Integer(1), "", kEgDataType},
      {"N 5.1 fits", {"F", "N", 5, 1}, Value::Double(123.4), "123.4", 0},
      {"N 5.1 padded", {"F", "N", 5, 1}, Value::Double(1.5), "  1.5", 0},
      {"N 5.1 negative", {"F", "N", 5, 1}, Value::Double(-1.25), " -1.3", 0},
      {"N 5.1 integer", {"F", "N", 5, 1}, Value::Integer(12), " 12.0", 0},
      {"N 5.1 overflow", {"F", "N", 5, 1}, Value::Double(1234.5), "*****", kEgDataWidth},
      {"N 3.0 overflow", {"F", "N", 3, 0}, Value::Integer(-100), "***", kEgDataWidth},
      {"N 5.0", {"F", "N", 5, 0}, Value::Integer(42), "   42", 0},
      {"N 5.0 rounds", {"F", "N", 5, 0}, Value::Double(41.5), "   42", 0},
      {"N from text", {"F", "N", 5, 0}, Value::String("42"), "", kEgDataType},
      {"F 8.2", {"F", "F", 8, 2}, Value::Double(3.14159), "    3.14", 0},
      {"I1 100", {"F", "I", 1, 0}, Value::Integer(100), "\x64", 0},
      {"I1 -128", {"F", "I", 1, 0}, Value::Integer(-128), "\x80", 0},
      {"I1 200", {"F", "I", 1, 0}, Value::Integer(200), "", kEgDataWidth},
      {"I2 -2", {"F", "I", 2, 0}, Value::Integer(-2), Le16(0xFFFE), 0},
      {"I2 40000", {"F", "I", 2, 0}, Value::Integer(40000), "", kEgDataWidth},
      {"I3 -1", {"F", "I", 3, 0}, Value::Integer(-1), Le24(0xFFFFFF), 0},
      {"I3 8388608", {"F", "I", 3, 0}, Value::Integer(8388608), "", kEgDataWidth},
      {"I4 max", {"F", "I", 4, 0}, Value::Integer(2147483647), Le32(0x7FFFFFFF), 0},
      {"I4 2^31", {"F", "I", 4, 0}, Value::Integer(2147483648LL), "", kEgDataWidth},
      {"I8", {"F", "I", 8, 0}, Value::Integer(-(1LL << 40)), Le64(static_cast<uint64_t>(-(1LL << 40))), 0},
      {"I8 out of range", {"F", "I", 8, 0}, Value::Double(1e19), "", kEgDataWidth},
      {"I4.2", {"F", "I", 4, 2}, Value::Double(12.34), Le32(1234), 0},
      {"I4.2 negative", {"F", "I", 4, 2}, Value::Double(-0.05), Le32(static_cast<uint32_t>(-5)), 0},
      {"I1.1 width", {"F", "I", 1, 1}, Value::Double(12.8), "", kEgDataWidth},
      {"I from double", {"F", "I", 4, 0}, Value::Double(7.6), Le32(8), 0},
      {"2 letter", {"F", "2", 2, 0}, Value::Integer(300), Le16(300), 0},
      {"4 letter", {"F", "4", 4, 0}, Value::Integer(-300), Le32(static_cast<uint32_t>(-300)), 0},
      {"Y outside Visual FoxPro", {"F", "Y", 8, 4}, Value::Double(12.3456), Le64(123456), 0},
      {"B", {"F", "B", 8, 0}, Value::Double(1.5), DoubleBytes(1.5), 0},
      {"B from integer", {"F", "B", 8, 2}, Value::Integer(-3), DoubleBytes(-3.0), 0},
      {"8", {"F", "8", 8, 0}, Value::Double(-0.1), DoubleBytes(-0.1), 0},
      {"Z", {"F", "Z", 8, 2}, Value::Double(2.25), DoubleBytes(2.25), 0},
      {"T8", {"F", "T", 8, 0}, Value::Timestamp(kJan15, 3723004), Le32(kJan15) + Le32(3723004), 0},
      {"T8 from date", {"F", "T", 8, 0}, Value::Date(kJan15), Le32(kJan15) + Le32(0), 0},
      {"T4", {"F", "T", 4, 0}, Value::Timestamp(kJan15, 3723004), Le32(3723004), 0},
      {"V3", {"F", "V", 3, 0}, Value::Date(kJan15), Le24(kJan15), 0},
      {"V4", {"F", "V", 4, 0}, Value::Integer(-123456), Le32(static_cast<uint32_t>(-123456)), 0},
      {"V4 too wide", {"F", "V", 4, 0}, Value::Double(3e9), "", kEgDataWidth},
      {"V3 number", {"F", "V", 3, 0}, Value::Integer(1), "", kEgDataType},
      {"+ refuses writes", {"F", "+", 4, 0}, Value::Integer(5), Le32(1), kEgDataType},
      {"^ refuses writes", {"F", "^", 8, 0}, Value::Integer(5), "", kEgDataType},
      {"= refuses writes", {"F", "=", 8, 0}, Value::Timestamp(kJan15, 0), "", kEgDataType},
      {"Q full width", {"F", "Q", 5, 0}, Value::String("abcde"), "abcde", 0},
      {"Q from number", {"F", "Q", 5, 0}, Value::Integer(1), "", kEgDataType},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.label);
    errors_.clear();
    OpenWithOneRecord({c.field});
    Value result = FIELDPUT(1, c.value);
    if (c.gen_code == 0) {
      EXPECT_TRUE(errors_.empty()) << ErrorText();
      EXPECT_FALSE(result.is_nil());
    } else {
      EXPECT_TRUE(result.is_nil());
      ASSERT_NE(LastError(), nullptr);
      EXPECT_EQ(LastError()->gen_code, c.gen_code);
      EXPECT_EQ(LastError()->sub_code, c.gen_code == kEgDataType ? 1020 : 1021);
      EXPECT_EQ(LastError()->operation, "F");
    }
    if (!c.stored.empty()) EXPECT_EQ(Stored("F"), c.stored);
    DBCLOSEAREA();
  }
}

// A table written by another program: every kind decoded, with its display width.
TEST_F(DbfFieldsTest, ReadingEveryKindDecodesStoredBytes) {
  struct Column {
    DbfDescriptor desc;
    std::string bytes;
    std::string expect;
    char reported;  // FIELDTYPE
  };
  const std::vector<Column> columns = {
      {{"C", 'C', 5}, "ab   ", "C:ab   ", 'C'},
      {{"L1", 'L', 1}, "t", "L:T", 'L'},
      {{"L2", 'L', 1}, "Y", "L:T", 'L'},
      {{"L3", 'L', 1}, "y", "L:T", 'L'},
      {{"L4", 'L', 1}, "N", "L:F", 'L'},
      {{"L5", 'L', 1}, "?", "L:F", 'L'},
      {{"D8", 'D', 8}, "20240115", "D:2460325", 'D'},
      {{"D8B", 'D', 8}, "        ", "D:0", 'D'},
      {{"D3", 'D', 3}, Le24(kJan15), "D:2460325", 'D'},
      {{"D4", 'D', 4}, Le32(kJan15), "D:2460325", 'D'},
      {{"N62", 'N', 6, 2}, "  1.50", "F:1.5/3.2", 'N'},
      {{"N40", 'N', 4}, "  42", "I:42/4", 'N'},
      {{"N40B", 'N', 4}, "    ", "I:0/4", 'N'},
      {{"N40M", 'N', 4}, " -7 ", "I:-7/4", 'N'},
      {{"NBIG", 'N', 22}, "1234567890123456789012", "F:1.23456789e+21/22.0", 'N'},
      {{"F83", 'F', 8, 3}, " -12.500", "F:-12.5/4.3", 'F'},
      {{"I1", 'I', 1}, "\xFF", "I:-1/4", 'I'},
      {{"I2", 'I', 2}, Le16(0x8000), "I:-32768/6", 'I'},
      {{"I3", 'I', 3}, Le24(0x800000), "I:-8388608/10", 'I'},
      {{"I4", 'I', 4}, Le32(123456), "I:123456/10", 'I'},
      {{"I8", 'I', 8}, Le64(1ULL << 40), "I:1099511627776/20", 'I'},
      {{"I42", 'I', 4, 2}, Le32(static_cast<uint32_t>(-1234)), "F:-12.34/10.2", 'I'},
      {{"TWO", '2', 2}, Le16(300), "I:300/6", 'I'},
      {{"FOUR", '4', 4}, Le32(70000), "I:70000/10", 'I'},
      {{"Y8", 'Y', 8}, Le64(123456), "F:12.3456/20.4", 'Y'},
      {{"Y4", 'Y', 4}, Le32(static_cast<uint32_t>(-50000)), "F:-5/10.4", 'Y'},
      {{"B8", 'B', 8, 2}, DoubleBytes(2.5), "F:2.5/17.2", 'B'},
      {{"B80", 'B', 8}, DoubleBytes(-1e300), "F:-1e+300/20.0", 'B'},
      {{"EIGHT", '8', 8}, DoubleBytes(0.25), "F:0.25/20.0", 'B'},
      {{"O", 'O', 8, 1}, DoubleBytes(7), "F:7/18.1", 'B'},
      {{"T8", 'T', 8}, Le32(kJan15) + Le32(3723004), "T:2460325,3723004", 'T'},
      {{"T4", 'T', 4}, Le32(3723004), "T:0,3723004", 'T'},
      {{"AT", '@', 8}, Le32(kJan15) + Le32(1), "T:2460325,1", '@'},
      {{"EQ", '=', 8}, Le32(kJan15) + Le32(2), "T:2460325,2", '='},
      {{"RV", '^', 8}, Le64(77), "I:77/20", '^'},
      {{"AI", '+', 4}, Le32(9), "I:9/10", '+'},
      {{"V3", 'V', 3}, Le24(kJan15), "D:2460325", 'V'},
      {{"V4", 'V', 4}, Le32(static_cast<uint32_t>(-5)), "I:-5/10", 'V'},
  };
  DbfImage img;
  std::string record = " ";
  for (const Column& c : columns) {
    img.fields.push_back(c.desc);
    record += c.bytes;
  }
  img.records = {record};
  ASSERT_EQ(static_cast<int>(record.size()), img.RecordLength());
  ASSERT_TRUE(Use(Write("kinds.dbf", img))) << ErrorText();
  ASSERT_EQ(FCOUNT(), static_cast<int>(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) {
    SCOPED_TRACE(columns[i].desc.name);
    int pos = static_cast<int>(i) + 1;
    EXPECT_EQ(Describe(FIELDGET(pos)), columns[i].expect);
    EXPECT_EQ(FIELDTYPE(pos).str(), std::string(1, columns[i].reported));
  }
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfFieldsTest, WidthsNormalisedOnRead) {
  DbfImage img;
  img.fields = {{"D", 'D', 8}, {"I0", 'I', 0}, {"I6", 'I', 6}, {"Y3", 'Y', 0}};
  // Only the descriptors matter: widths on read become D 8, I 4, I 4, Y 8.
  ASSERT_TRUE(Use(Write("widths.dbf", img))) << ErrorText();
  EXPECT_EQ(FIELDLEN(1), 8);
  EXPECT_EQ(FIELDLEN(2), 4);
  EXPECT_EQ(FIELDLEN(3), 4);
  EXPECT_EQ(FIELDLEN(4), 8);
  EXPECT_EQ(DBINFO(7).number(), 1 + 8 + 4 + 4 + 8);
}

// Variable-length fields (Q, and V of Visual FoxPro tables): the whole width, or, when the
// field's length bit in _NullFlags is set, as many bytes as the last byte says. Bits are handed
// out in field order, a nullable field's null bit before its length bit.
TEST_F(DbfFieldsTest, VariableLengthFieldsReadAndWriteTheirLength) {
  DbfImage q;
  q.fields = {{"A", 'C', 2}, {"Q", 'Q', 4}};
  q.records = {Record({"ab", "wxyz"})};
  ASSERT_TRUE(Use(Write("q.dbf", q))) << ErrorText();
  EXPECT_EQ(FIELDTYPE(2).str(), "Q");
  EXPECT_EQ(FIELDGET(2).str(), "wxyz");
  DBCLOSEAREA();

  DbfImage v;
  v.version = 0x30;
  // N is nullable (bit 0), V1 owns bit 1, V2 bit 2.
  v.fields = {{"N", 'C', 1, 0, 0x02}, {"V1", 'V', 6}, {"V2", 'V', 3},
              {"_NullFlags", '0', 1, 0, 0x05}};
  v.records = {Record({"x", std::string("Bad\0\0\3", 6), "abc", std::string(1, '\x02')}),
               Record({"y", std::string("full!!"), std::string("z\0\1", 3), std::string(1, '\x04')})};
  path_ = Write("vfpv.dbf", v);
  ASSERT_TRUE(Use(path_)) << ErrorText();
  EXPECT_EQ(FIELDTYPE(2).str(), "Q");
  EXPECT_EQ(FIELDGET(2).str(), "Bad");
  EXPECT_EQ(FIELDGET(3).str(), "abc");
  DBGOTO(Value::Integer(2));
  EXPECT_EQ(FIELDGET(2).str(), "full!!");
  EXPECT_EQ(FIELDGET(3).str(), "z");

  // Writing: a shorter value sets the bit and its length, a full one clears it; the null bit
  // of the field before stays as it was.
  DBGOTO(Value::Integer(1));
  FIELDPUT(2, Value::String("Meets!"));
  FIELDPUT(3, Value::String(""));
  FIELDPUT(1, Value());
  EXPECT_FALSE(LastError()) << ErrorText();
  EXPECT_EQ(FIELDGET(2).str(), "Meets!");
  EXPECT_EQ(FIELDGET(3).str(), "");
  DBCLOSEAREA();
  const std::string bytes = test::ReadFileBytes(path_);
  EXPECT_EQ(FieldBytes(bytes, 1, "V1"), "Meets!");
  EXPECT_EQ(FieldBytes(bytes, 1, "V2"), std::string("\0\0\0", 3));
  EXPECT_EQ(FieldBytes(bytes, 1, "_NullFlags"), std::string(1, '\x05'));
}

// Currency is user data: a number is stored as the 64-bit integer of value x 10^4.
TEST_F(DbfFieldsTest, CurrencyFieldsTakeNumbers) {
  FindDriver("DBF")->settings().table_kind = 2;
  path_ = Create("money.dbf", {{"PRICE", "Y", 8, 4}});
  ASSERT_TRUE(Use(path_));
  ASSERT_TRUE(DBAPPEND());
  struct Case { Value value; std::string stored; const char* read; };
  const Case cases[] = {
      {Value::Integer(0), Le64(0), "F:0/20.4"},
      {Value::Double(12.3456), Le64(123456), "F:12.3456/20.4"},
      {Value::Double(-0.00005), Le64(static_cast<uint64_t>(-1)), "F:-0.0001/20.4"},
      {Value::Integer(-7), Le64(static_cast<uint64_t>(-70000)), "F:-7/20.4"},
      {Value::Integer(123456789), Le64(1234567890000ULL), "F:123456789/20.4"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(FIELDPUT(1, c.value).is_nil()) << c.read << ErrorText();
    EXPECT_EQ(Stored("PRICE"), c.stored) << c.read;
    EXPECT_EQ(Describe(FIELDGET(1)), c.read);
  }
  EXPECT_TRUE(errors_.empty()) << ErrorText();
  EXPECT_TRUE(FIELDPUT(1, Value::String("1")).is_nil());
  EXPECT_LAST_ERROR(kEgDataType, 1020);
  EXPECT_TRUE(FIELDPUT(1, Value::Double(1e16)).is_nil());  // x 10^4 leaves 64 bits
  EXPECT_LAST_ERROR(kEgDataWidth, 1021);
}

TEST_F(DbfFieldsTest, CurrencyIsCreatedAsYOnlyInVisualFoxPro) {
  FindDriver("DBF")->settings().table_kind = 2;
  std::string path = Create("money.dbf", {{"PRICE", "Y", 8, 4}});
  EXPECT_EQ(test::ParseDbf(Bytes(path)).fields.at(0).type, 'Y');
  ASSERT_TRUE(Use(path));
  ASSERT_TRUE(DBAPPEND());
  EXPECT_EQ(Describe(FIELDGET(1)), "F:0/20.4");
  DBCLOSEAREA();
  FindDriver("DBF")->settings().table_kind = 1;
  path = Create("money2.dbf", {{"PRICE", "Y", 8, 4}});
  test::ParsedField f = test::ParseDbf(Bytes(path)).fields.at(0);
  EXPECT_EQ(f.type, 'I');
  EXPECT_EQ(f.length, 8);
  EXPECT_EQ(f.decimals, 4);
}

TEST_F(DbfFieldsTest, AutoincrementCountersComeFromTheDescriptorAndZapResetsThem) {
  OpenWithOneRecord({{"ID", "+", 4, 0}, {"NAME", "C", 3, 0}});
  std::string b = Bytes(path_);
  size_t desc = 32;
  EXPECT_EQ(b.substr(desc + 19, 4), Le32(2)) << "the first append took 1";
  EXPECT_EQ(static_cast<uint8_t>(b[desc + 23]), 1);
  EXPECT_EQ(static_cast<uint8_t>(b[desc + 18]), 0);
  EXPECT_EQ(FIELDGET(1).integer(), 1);
  ASSERT_TRUE(DBAPPEND());
  EXPECT_EQ(FIELDGET(1).integer(), 2);
  EXPECT_EQ(Stored("ID"), Le32(1));
  EXPECT_EQ(FieldBytes(Bytes(path_), 2, "ID"), Le32(2));
  EXPECT_EQ(Bytes(path_).substr(desc + 19, 4), Le32(3));
  ASSERT_TRUE(DBZAP());
  b = Bytes(path_);
  EXPECT_EQ(b.substr(desc + 19, 4), Le32(0));
  EXPECT_EQ(static_cast<uint8_t>(b[desc + 23]), 1) << "the step stays";
  ASSERT_TRUE(DBAPPEND());
  EXPECT_EQ(FIELDGET(1).integer(), 0);
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfFieldsTest, AutoincrementFlagOnNumericAndIntegerFields) {
  FindDriver("DBF")->settings().table_kind = 2;
  OpenWithOneRecord({{"SEQ", "N", 5, 0, 8}, {"DEC", "N", 6, 2, 8}, {"BIN", "I", 4, 0, 8}});
  EXPECT_EQ(static_cast<uint8_t>(Bytes(path_)[0]), 0x31);
  ASSERT_TRUE(DBAPPEND());
  DBCOMMIT();
  std::string b = Bytes(path_);
  EXPECT_EQ(FieldBytes(b, 1, "SEQ"), "    1");
  EXPECT_EQ(FieldBytes(b, 1, "DEC"), "  0.01");
  EXPECT_EQ(FieldBytes(b, 1, "BIN"), Le32(1));
  EXPECT_EQ(FieldBytes(b, 2, "SEQ"), "    2");
  EXPECT_EQ(FieldBytes(b, 2, "DEC"), "  0.02");
  EXPECT_EQ(FieldBytes(b, 2, "BIN"), Le32(2));
  EXPECT_EQ(static_cast<uint8_t>(b[32 + 18]), 8);  // the flag is kept in the descriptor
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfFieldsTest, RowVersionTakesTheNextCounterOnEveryWrite) {
  OpenWithOneRecord({{"RV", "^", 8, 0}, {"NAME", "C", 3, 0}});
  size_t counter = 32 + 24;
  EXPECT_EQ(Stored("RV"), Le64(1));
  EXPECT_EQ(Bytes(path_).substr(counter, 8), Le64(1));
  EXPECT_EQ(static_cast<uint8_t>(Bytes(path_)[32 + 23]), 1);
  FIELDPUT(2, Value::String("abc"));
  EXPECT_EQ(Stored("RV"), Le64(2));
  EXPECT_EQ(Bytes(path_).substr(counter, 8), Le64(2));
  EXPECT_EQ(FIELDGET(1).integer(), 2);
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfFieldsTest, ModificationStampsTakeTheCurrentDateAndTime) {
  OpenWithOneRecord({{"AT", "@", 8, 0}, {"EQ", "=", 8, 0}, {"NAME", "C", 3, 0}});
  LocalTime before = Now();
  FIELDPUT(3, Value::String("x"));
  std::string at = Stored("AT");
  LocalTime after = Now();
  int32_t day = static_cast<int32_t>(test::GetLe(at, 0, 4));
  EXPECT_GE(day, JulianFromYmd(before.year, before.month, before.day));
  EXPECT_LE(day, JulianFromYmd(after.year, after.month, after.day));
  EXPECT_LT(test::GetLe(at, 4, 4), static_cast<uint32_t>(kMillisPerDay));
  EXPECT_EQ(test::GetLe(Stored("EQ"), 0, 4), static_cast<uint32_t>(day));
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfFieldsTest, NullFlagsInVisualFoxProTables) {
  FindDriver("DBF")->settings().table_kind = 2;
  OpenWithOneRecord({{"A", "C", 5, 0, 2}, {"B", "N", 5, 0, 2}, {"C", "C", 3, 0, 0}});
  test::ParsedDbf p = test::ParseDbf(Bytes(path_));
  ASSERT_EQ(p.fields.size(), 4u);
  EXPECT_EQ(p.fields[3].name, "_NullFlags");
  EXPECT_EQ(p.fields[3].type, '0');
  EXPECT_EQ(p.fields[3].length, 1);
  EXPECT_EQ(p.fields[3].flags & 0x01, 0x01);
  EXPECT_EQ(p.header_length, 32 + 4 * 32 + 1 + 263);
  EXPECT_EQ(FCOUNT(), 3);
  EXPECT_EQ(DBINFO(30).number(), 4);

  EXPECT_EQ(Stored("_NullFlags"), std::string(1, '\0'));
  EXPECT_EQ(FIELDGET(1).str(), "     ");
  FIELDPUT(2, Value());
  EXPECT_TRUE(FIELDGET(2).is_nil());
  EXPECT_FALSE(FIELDGET(1).is_nil());
  EXPECT_EQ(Stored("_NullFlags"), "\x02");
  FIELDPUT(1, Value());
  EXPECT_EQ(Stored("_NullFlags"), "\x03");
  FIELDPUT(2, Value::Integer(7));
  EXPECT_EQ(Describe(FIELDGET(2)), "I:7/5");
  EXPECT_EQ(Stored("_NullFlags"), "\x01");
  // A field without the nullable flag refuses nil.
  EXPECT_TRUE(FIELDPUT(3, Value()).is_nil());
  EXPECT_LAST_ERROR(kEgDataType, 1020);
}

TEST_F(DbfFieldsTest, NullFlagsWrittenByAnotherProgram) {
  DbfImage img;
  img.version = 0x30;
  img.fields = {{"A", 'C', 2, 0, 0x02}, {"V", 'V', 3, 0, 0x00}, {"B", 'N', 3, 0, 0x02},
                {"_NullFlags", '0', 1, 0, 0x05}};
  // Bits: A = 0, the variable-length V = 1, B = 2.
  img.records = {Record({"ab", "xyz", " 12", "\x04"}), Record({"cd", "xyz", " 34", "\x01"})};
  ASSERT_TRUE(Use(Write("nulls.dbf", img))) << ErrorText();
  EXPECT_EQ(FCOUNT(), 3);
  EXPECT_EQ(FIELDGET(1).str(), "ab");
  EXPECT_TRUE(FIELDGET(3).is_nil());
  DBSKIP();
  EXPECT_TRUE(FIELDGET(1).is_nil());
  EXPECT_EQ(FIELDGET(3).integer(), 34);
}

}  // namespace
}  // namespace vosk
