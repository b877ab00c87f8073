#ifndef VOSK_EXPR_VALUE_H_
#define VOSK_EXPR_VALUE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vosk {

class Value;
using ValueArray = std::vector<Value>;

// A compiled code block ({ |params| expr }); defined by the expression compiler.
class CodeBlock;

// The typed value exchanged with fields and expressions.
//
// Invariants:
//  - Numbers carry a display width and decimals (the width STR() uses when none is given).
//    Integers always have 0 decimals.
//  - Dates are Julian day numbers; 0 is the empty date. Timestamps add milliseconds since
//    midnight.
//  - Text is a byte string in the program's codepage; memo text is text with is_memo() set.
//  - Arrays and code blocks are shared by reference, as the language expects.
class Value {
 public:
  enum class Type : uint8_t { kNil, kLogical, kInteger, kDouble, kDate, kTimestamp, kString,
                              kArray, kBlock };

  Value() = default;  // nil

  static Value Logical(bool b);
  static Value Integer(int64_t i, int width = 0);  // width 0: the natural width
  // width 0: the natural width, 10 for -1e9 < d < 1e10 and 20 beyond; decimals -1: the
  // DECIMALS setting.
  static Value Double(double d, int width = 0, int decimals = -1);
  static Value Date(int32_t julian);
  static Value Timestamp(int32_t julian, int32_t millis);
  static Value String(std::string s, bool memo = false);
  static Value Array(ValueArray items = {});
  static Value Array(std::shared_ptr<ValueArray> items);
  static Value Block(std::shared_ptr<const CodeBlock> block);

  Type type() const { return type_; }
  bool is_nil() const { return type_ == Type::kNil; }
  bool is_logical() const { return type_ == Type::kLogical; }
  bool is_numeric() const { return type_ == Type::kInteger || type_ == Type::kDouble; }
  bool is_integer() const { return type_ == Type::kInteger; }
  bool is_double() const { return type_ == Type::kDouble; }
  bool is_date() const { return type_ == Type::kDate; }
  bool is_timestamp() const { return type_ == Type::kTimestamp; }
  bool is_string() const { return type_ == Type::kString; }
  bool is_memo() const { return type_ == Type::kString && memo_; }
  bool is_array() const { return type_ == Type::kArray; }
  bool is_block() const { return type_ == Type::kBlock; }

  bool logical() const { return b_; }
  int64_t integer() const { return i_; }
  // The number as a double, whichever numeric kind this is.
  double number() const { return type_ == Type::kInteger ? static_cast<double>(i_) : d_; }
  double dbl() const { return d_; }
  int width() const { return width_; }
  int decimals() const { return decimals_; }
  int32_t julian() const { return julian_; }
  int32_t millis() const { return millis_; }
  const std::string& str() const { return s_; }
  std::string& mutable_str() { return s_; }
  const ValueArray& array() const { return *arr_; }
  ValueArray& mutable_array() { return *arr_; }
  const std::shared_ptr<ValueArray>& array_ref() const { return arr_; }
  const std::shared_ptr<const CodeBlock>& block() const { return block_; }

  // In-place setters with the meaning of the factories above. They keep the storage of a
  // previous text (no allocation when its capacity suffices) and cost far less than assigning
  // a new value: the evaluator keeps one value per node and refills it for every record, and
  // an engine filling field values can do the same.
  void AssignString(std::string_view s, bool memo = false);
  void SetNil() { Become(Type::kNil); }
  void SetLogical(bool b) {
    Become(Type::kLogical);
    b_ = b;
  }
  void SetInteger(int64_t i, int width = 0);
  void SetDouble(double d, int width = 0, int decimals = -1);
  void SetDate(int32_t julian) {
    Become(Type::kDate);
    julian_ = julian;
  }
  void SetTimestamp(int32_t julian, int32_t millis) {
    Become(Type::kTimestamp);
    julian_ = julian;
    millis_ = millis;
  }

  void set_width(int w) { width_ = static_cast<int16_t>(w); }
  void set_decimals(int d) { decimals_ = static_cast<int16_t>(d); }
  void set_memo(bool m) { memo_ = m; }

  // The type letter of VALTYPE(): U L N D T C M A B.
  char type_letter() const;

 private:
  // Changes the type, dropping shared references; the text storage is kept.
  void Become(Type t) {
    type_ = t;
    memo_ = false;
    if (arr_) arr_.reset();
    if (block_) block_.reset();
  }

  Type type_ = Type::kNil;
  bool b_ = false;
  bool memo_ = false;
  int16_t width_ = 0;     // display width of numbers
  int16_t decimals_ = 0;  // display decimals of numbers
  int32_t julian_ = 0;    // dates and timestamps
  int32_t millis_ = 0;    // timestamps
  int64_t i_ = 0;
  double d_ = 0.0;
  std::string s_;
  std::shared_ptr<ValueArray> arr_;
  std::shared_ptr<const CodeBlock> block_;
};

// Calendar helpers shared by the expression language and the table engine.
// Julian day number of a Gregorian date; 0 when the date is not valid.
int32_t JulianFromYmd(int year, int month, int day);
// Splits a Julian day number; false for 0 (the empty date) or out-of-range numbers.
bool YmdFromJulian(int32_t julian, int* year, int* month, int* day);
// "YYYYMMDD", or eight blanks for the empty date.
std::string DateToDigits(int32_t julian);
// Parses "YYYYMMDD"; blanks (or anything not a valid date) give 0.
int32_t DateFromDigits(std::string_view digits);

inline constexpr int32_t kMillisPerDay = 86400000;

}  // namespace vosk

#endif  // VOSK_EXPR_VALUE_H_
