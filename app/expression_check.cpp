#include "app/expression_check.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "app/ansi.h"
#include "app/area_selection.h"
#include "app/current_table.h"
#include "app/dialog.h"
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

namespace {

// The name of a value's type as a user reads it.
std::string TypeName(const Value& v) {
  if (v.is_string()) return "carattere";
  if (v.is_numeric()) return "numerico";
  if (v.is_date()) return "data";
  if (v.is_timestamp()) return "data e ora";
  if (v.is_logical()) return "logico";
  if (v.is_array()) return "array";
  if (v.is_nil()) return "NIL";
  return "sconosciuto";
}

// What is wrong with an expression that a rule refused, in the user's words: the part that
// does not compile, the field or function that does not exist, the operator whose values do
// not go together, or the kind of result that is not the one wanted.
std::string ExpressionProblem(const std::string& text, bool condition) {
  if (Blank(text)) return condition ? "Manca la condizione." : "Manca l'espressione.";
  CompileError error;
  std::unique_ptr<Expression> expr = Compile(text, &error);
  if (!expr) {
    const size_t at = std::min(static_cast<size_t>(std::max(error.position, 0)), text.size());
    const std::string rest = text.substr(at, 30);
    return rest.empty() ? Ansi("L'espressione è incompleta: manca qualcosa alla fine.")
                        : Ansi("Errore di sintassi in \"") + rest + "\".";
  }
  std::optional<RuntimeError> failure;
  std::optional<Value> result;
  {
    ScopedErrorHandler breakout([](const RuntimeError& e) -> ErrorAnswer {
      if (e.gen_code == kEgZeroDiv) return ErrorAnswer::Substitute(Value::Integer(0));
      throw Abandon(e);
    });
    try {
      result = expr->Eval();
    } catch (const Abandon& abandon) {
      failure = abandon.error();
    }
  }
  if (failure) {
    const std::string& what = failure->operation;
    switch (failure->gen_code) {
      case kEgNoVar:
      case kEgNoAlias:
        return "Campo inesistente: " + what + ".";
      case kEgNoFunc:
        return "Funzione inesistente: " + what + "().";
      case kEgArg:
      case kEgDataType:
        return what.empty() ? Ansi("Valori di tipo diverso nell'espressione.")
                            : "Valori di tipo diverso per " + what + ".";
      default:
        return "Errore nell'espressione" + (what.empty() ? "" : " (" + what + ")") + ": " +
               failure->description + ".";
    }
  }
  if (condition) {
    return Ansi("La condizione deve dare un valore logico (.T. o .F.), non di tipo ") +
           TypeName(*result) + ".";
  }
  return Ansi("La chiave deve dare un valore carattere, numerico, data o logico, non di tipo ") +
         TypeName(*result) + ".";
}

}  // namespace

std::function<bool(const Value&)> ExpressionField(bool (*rule)(const std::string&)) {
  return [rule](const Value& v) {
    const std::string text = ExpressionLine(v.is_string() ? v.str() : "");
    if (rule(text)) return true;
    SetValidationProblem(
        ExpressionProblem(text, rule == &ValidCondition || rule == &ValidConditionNotEmpty));
    return false;
  };
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
