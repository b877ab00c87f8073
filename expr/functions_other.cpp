// Functions on types and values, code blocks, settings and the fields of the current work
// area. Work-area functions not listed here (RECNO, EOF, DELETED, ORDKEYNO, DBSEEK, ...) are
// answered by the table engine through DatabaseAccess::CallFunction.
//
// Edges:
//  - EMPTY is true for nil, a text of blanks, tabs, CR and LF only, the number 0, the empty
//    date, the empty timestamp, .F. and an array without elements; never for a code block.
//  - FIELDGET(n) and FIELDPUT(n, x) work on the current area; without a table, or with a
//    position the engine refuses, they give nil. FIELDPOS(c) is 0 without a table.
//  - SET(n) and SET(n, x) are those of the settings table (expr/settings.h).

#include "expr/builtins.h"
#include "expr/database_access.h"
#include "expr/expr_errors.h"
#include "expr/expression.h"
#include "expr/memvars.h"
#include "expr/program.h"
#include "expr/settings.h"

namespace vosk {
namespace builtins {
namespace {

void Valtype(const FunctionArgs& a, Value* r) {
  char letter = a[0].type_letter();
  r->AssignString(std::string_view(&letter, 1));
}

void Type(const FunctionArgs& a, Value* r) { r->AssignString(TYPE(a[0])); }

void Empty(const FunctionArgs& a, Value* r) {
  const Value& v = a[0];
  bool empty = false;
  switch (v.type()) {
    case Value::Type::kNil: empty = true; break;
    case Value::Type::kLogical: empty = !v.logical(); break;
    case Value::Type::kInteger: empty = v.integer() == 0; break;
    case Value::Type::kDouble: empty = v.dbl() == 0.0; break;
    case Value::Type::kDate: empty = v.julian() == 0; break;
    case Value::Type::kTimestamp: empty = v.julian() == 0 && v.millis() == 0; break;
    case Value::Type::kString:
      empty = v.str().find_first_not_of(" \t\r\n") == std::string::npos;
      break;
    case Value::Type::kArray: empty = v.array().empty(); break;
    case Value::Type::kBlock: empty = false; break;
  }
  r->SetLogical(empty);
}

// EVAL(bBlock, args...): the block's value for the arguments.
void Eval(const FunctionArgs& a, Value* r) {
  if (!a[0].is_block()) return RaiseArgumentError(r, kSubFunctionArgument, "EVAL");
  std::vector<const Value*> argv;
  for (int i = 1; i < a.size(); ++i) argv.push_back(&a[i]);
  Value result;
  expr_internal::CallBlockValue(a[0], argv.data(), static_cast<int>(argv.size()), &result);
  *r = std::move(result);
}

void Fieldget(const FunctionArgs& a, Value* r) {
  DatabaseAccess* db = GetDatabaseAccess();
  if (!a[0].is_numeric()) return RaiseArgumentError(r, kSubFunctionArgument, "FIELDGET");
  int64_t pos = IntArg(a[0], 0);
  int area = db != nullptr ? db->CurrentArea() : 0;
  if (area <= 0 || pos < 1 || pos > 65535 ||
      Failed(db->GetField(area, static_cast<int>(pos), r))) {
    *r = Value();
  }
}

void Fieldput(const FunctionArgs& a, Value* r) {
  DatabaseAccess* db = GetDatabaseAccess();
  if (!a[0].is_numeric()) return RaiseArgumentError(r, kSubFunctionArgument, "FIELDPUT");
  int64_t pos = IntArg(a[0], 0);
  int area = db != nullptr ? db->CurrentArea() : 0;
  if (area <= 0 || pos < 1 || pos > 65535 ||
      Failed(db->PutField(area, static_cast<int>(pos), a[1]))) {
    *r = Value();
    return;
  }
  *r = a[1];
}

void Fieldpos(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, kSubFunctionArgument, "FIELDPOS");
  DatabaseAccess* db = GetDatabaseAccess();
  int area = db != nullptr ? db->CurrentArea() : 0;
  std::string name = UpperName(a[0].str());
  size_t start = name.find_first_not_of(' ');
  size_t end = name.find_last_not_of(' ');
  name = start == std::string::npos ? std::string() : name.substr(start, end - start + 1);
  r->SetInteger(area > 0 && !name.empty() ? db->FieldPos(area, name) : 0);
}

void Set(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric()) return RaiseArgumentError(r, kSubFunctionArgument, "SET");
  int number = static_cast<int>(IntArg(a[0], 0));
  *r = a.size() >= 2 ? SET(number, a[1]) : SET(number);
}

void Setcentury(const FunctionArgs& a, Value* r) {
  r->SetLogical(a.size() >= 1 ? SETCENTURY(a[0]) : GlobalSettings().century());
}

constexpr Row kRows[] = {
    {"VALTYPE", Valtype},   {"TYPE", Type},         {"EMPTY", Empty},
    {"EVAL", Eval},         {"FIELDGET", Fieldget}, {"FIELDPUT", Fieldput},
    {"FIELDPOS", Fieldpos}, {"SET", Set},           {"SETCENTURY", Setcentury},
};

}  // namespace

std::span<const Row> OtherFunctions() { return kRows; }

}  // namespace builtins
}  // namespace vosk
