#include "app/expression_check.h"

#include <memory>

#include "app/area_selection.h"
#include "app/current_table.h"
#include "expr/expression.h"
#include "expr/runtime_error.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

constexpr char kTestAlias[] = "TESTEXP2";

bool Blank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

bool IsKeyValue(const Value& v) {
  return v.is_string() || v.is_numeric() || v.is_date() || v.is_timestamp() || v.is_logical();
}

// Closes the test area, whatever ends the test.
class TestArea {
 public:
  TestArea() = default;
  ~TestArea() {
    if (!AreaInUse(kTestAlias)) return;
    ScopedErrorHandler quiet([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
    try {
      AreaSelection area(kTestAlias);
      DBCLOSEAREA();
    } catch (const Abandon&) {
    }
  }
  TestArea(const TestArea&) = delete;
  TestArea& operator=(const TestArea&) = delete;
};

}  // namespace

bool KeyOrConditionError(const RuntimeError& e) {
  return e.gen_code < kEgCreate || e.gen_code == kEgDataType || e.gen_code == kEgDataWidth ||
         e.gen_code >= kEgArrAccess;
}

std::optional<Value> TestEval(const std::string& cExpr) {
  CompileError error;
  std::unique_ptr<Expression> expr = Compile(cExpr, &error);
  if (!expr) return std::nullopt;
  ScopedErrorHandler breakout([](const RuntimeError& e) -> ErrorAnswer {
    if (e.gen_code == kEgZeroDiv) return ErrorAnswer::Substitute(Value::Integer(0));
    throw Abandon(e);
  });
  try {
    return expr->Eval();
  } catch (const Abandon&) {
    return std::nullopt;
  }
}

bool TESTEXP(const std::string& cExpr) { return TestEval(cExpr).has_value(); }

bool TESTEXP2(const std::string& cTable, const std::string& cExpr) {
  AreaSelection back("");
  TestArea area;
  {
    ScopedErrorHandler quiet([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
    try {
      if (!DBUSEAREA(true, "", cTable, kTestAlias, true, true) || !USED()) return false;
      DBINFO(kDbiPassword, Value::String(CurTable().cPassword.value_or("")));
    } catch (const Abandon&) {
      return false;
    }
  }
  return TESTEXP(cExpr);
}

std::string ExpressionLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::function<bool(const Value&)> ExpressionField(bool (*rule)(const std::string&)) {
  return [rule](const Value& v) { return rule(ExpressionLine(v.is_string() ? v.str() : "")); };
}

bool ValidCondition(const std::string& text) { return Blank(text) || ValidConditionNotEmpty(text); }

bool ValidKey(const std::string& text) { return Blank(text) || ValidKeyNotEmpty(text); }

bool ValidConditionNotEmpty(const std::string& text) {
  if (Blank(text)) return false;
  const std::optional<Value> v = TestEval(text);
  return v && v->is_logical();
}

bool ValidKeyNotEmpty(const std::string& text) {
  if (Blank(text)) return false;
  const std::optional<Value> v = TestEval(text);
  return v && IsKeyValue(*v);
}

}  // namespace vosk
