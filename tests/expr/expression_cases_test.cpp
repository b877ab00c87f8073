// Expression cases as data: tests/expr/cases.txt holds one case per line,
//
//   expression <TAB> type <TAB> expected
//
// read and checked by the driver below. Types: the VALTYPE letter of the result (C M N D T L
// U A B); E for a runtime error ("gen/sub operation"); S for a compile failure ("gen/sub").
// Expected values: C and M as a double-quoted string with \t \n \" \\ \xHH escapes; N as
// LTRIM(STR(result)), so display decimals are checked too; D as DTOS ("empty" for the empty
// date); T as TTOS; L as .T. / .F.; U as NIL; A as ValueToText; B as the block's text.
//
// Lines starting with ">" are evaluated for their effect (settings, memory variables); lines
// starting with "%" are driver directives:
//   %reset            settings, memory variables and the fake tables back to the start
//   %select n         makes area n current
//   %handler zero     the error handler substitutes 0 for a zero divisor (as the Application)
//   %handler stop     every error stops the case (default)
//   %limit n          the string length limit (0 restores it)
//   %nested on|off    .AND./.OR. chains kept nested to the right
//   %close n          closes the table of area n

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "expr/date_text.h"
#include "expr/expression.h"
#include "expr/functions.h"
#include "expr/memvars.h"
#include "expr/settings.h"
#include "expr/fake_database.h"

namespace vosk {
namespace {

using testing::FakeDatabase;
using testing::ScopedFakeDatabase;

struct CaseAbort {};

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 32 || c >= 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Render(const Value& v) {
  switch (v.type_letter()) {
    case 'C':
    case 'M':
      return Quote(v.str());
    case 'D':
      return v.julian() == 0 ? "empty" : DateToDigits(v.julian());
    case 'T':
      return v.julian() == 0 && v.millis() == 0 ? "empty"
                                                : TimestampToDigits(v.julian(), v.millis());
    default:
      return ValueToText(v);
  }
}

void OpenStandardTables(FakeDatabase& db) {
  db.Open(1, "CUST",
          {{"NAME", Value::String("Rossi     ")},
           {"CITY", Value::String("ROMA      ")},
           {"AMOUNT", Value::Double(1234.5, 6, 2)},
           {"QTY", Value::Integer(12, 5)},
           {"BORN", Value::Date(JulianFromYmd(1975, 3, 14))},
           {"ACTIVE", Value::Logical(true)},
           {"NOTES", Value::String("hello", true)},
           {"STAMP", Value::Timestamp(JulianFromYmd(2024, 1, 31), (13 * 3600 + 45 * 60 + 10) * 1000 + 250)},
           {"CODE", Value::String("F1")}});
  db.Open(2, "ORD", {{"CODE", Value::String("A1")}, {"TOTAL", Value::Double(99.9, 5, 1)}});
  db.SelectArea(1);
}

class CaseRunner {
 public:
  CaseRunner() { Reset(); }
  ~CaseRunner() {
    SetMaxStringLengthForTesting(0);
    SetNestedLogicalChains(false);
    GlobalSettings().Reset();
    ClearMemvars();
  }

  void Reset() {
    GlobalSettings().Reset();
    ClearMemvars();
    SetMaxStringLengthForTesting(0);
    SetNestedLogicalChains(false);
    substitute_zero_ = false;
    OpenStandardTables(fake_.db());
  }

  // Runs one line; returns an empty string when it passed, else what went wrong.
  std::string Run(const std::string& line) {
    if (line[0] == '%') return Directive(line.substr(1));
    if (line[0] == '>') {
      std::string result;
      Evaluate(line.substr(1), &result);
      return last_error_.empty() ? "" : "setup failed: " + last_error_;
    }
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    if (cols.size() != 3) return "malformed line";
    std::string actual_type, actual;
    CompileError err;
    std::unique_ptr<Expression> e = Compile(cols[0], &err);
    if (!e) {
      actual_type = "S";
      actual = std::to_string(err.gen_code) + "/" + std::to_string(err.sub_code);
    } else {
      Value v;
      if (Evaluate(e.get(), &v)) {
        actual_type = std::string(1, v.type_letter());
        actual = Render(v);
      } else {
        actual_type = "E";
        actual = last_error_;
      }
    }
    if (actual_type == cols[1] && actual == cols[2]) return "";
    return "got " + actual_type + " " + actual + ", expected " + cols[1] + " " + cols[2];
  }

 private:
  bool Evaluate(const std::string& text, std::string* out) {
    CompileError err;
    std::unique_ptr<Expression> e = Compile(text, &err);
    last_error_.clear();
    if (!e) {
      last_error_ = "syntax error: " + err.message;
      return false;
    }
    Value v;
    return Evaluate(e.get(), &v);
  }

  bool Evaluate(Expression* e, Value* v) {
    last_error_.clear();
    ScopedErrorHandler handler([this](const RuntimeError& err) -> ErrorAnswer {
      if (substitute_zero_ && err.gen_code == 5) return ErrorAnswer::Substitute(Value::Integer(0));
      last_error_ = std::to_string(err.gen_code) + "/" + std::to_string(err.sub_code) + " " +
                    err.operation;
      throw CaseAbort{};
    });
    try {
      *v = e->Eval();
      return true;
    } catch (const CaseAbort&) {
      return false;
    }
  }

  std::string Directive(const std::string& d) {
    std::stringstream ss(d);
    std::string word, arg;
    ss >> word >> arg;
    if (word == "reset") {
      Reset();
    } else if (word == "select") {
      fake_.db().SelectArea(std::stoi(arg));
    } else if (word == "close") {
      fake_.db().Close(std::stoi(arg));
    } else if (word == "handler") {
      substitute_zero_ = arg == "zero";
    } else if (word == "limit") {
      SetMaxStringLengthForTesting(std::stoull(arg));
    } else if (word == "nested") {
      SetNestedLogicalChains(arg == "on");
    } else {
      return "unknown directive " + word;
    }
    return "";
  }

  ScopedFakeDatabase fake_;
  bool substitute_zero_ = false;
  std::string last_error_;
};

TEST(ExpressionCases, AllCasesOfTheTable) {
  std::ifstream in(std::string(VOSK_SOURCE_DIR) + "/tests/expr/cases.txt");
  ASSERT_TRUE(in.good()) << "tests/expr/cases.txt not found";
  CaseRunner runner;
  std::string line;
  int number = 0, cases = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    ++cases;
    std::string problem = runner.Run(line);
    EXPECT_EQ(problem, "") << "cases.txt:" << number << ": " << line;
  }
  EXPECT_GT(cases, 0);
}

}  // namespace
}  // namespace vosk
