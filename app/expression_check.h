#ifndef VOSK_APP_EXPRESSION_CHECK_H_
#define VOSK_APP_EXPRESSION_CHECK_H_

// The check of the expressions a user types: every dialog that takes an expression (filter,
// replace values, delete records, create index and tag, copy table, import records) validates
// its fields through these before it may close with "&Conferma".

#include <functional>
#include <optional>
#include <string>

#include "expr/runtime_error.h"
#include "expr/value.h"

namespace vosk {

// The value of `cExpr` compiled and evaluated in the current work area on the current record,
// or nullopt when it does not compile or its evaluation raised any runtime error (no message is
// shown; nothing changes). A division by zero yields 0, as everywhere in the program.
std::optional<Value> TestEval(const std::string& cExpr);

// TESTEXP(cExpr): true when the text compiles and evaluates without a runtime error in the
// current work area. The type of the result is not tested.
bool TESTEXP(const std::string& cExpr);
// TESTEXP2(cTable, cExpr): the same against another table, opened for the test in a free work
// area (alias "TESTEXP2", shared, read-only) with the current table's password; the test area
// is closed and the previous work area selected again afterwards. False as well when the table
// cannot be opened.
bool TESTEXP2(const std::string& cTable, const std::string& cExpr);

// The text of a multi-line dialog field as one line of an expression: the editor's line breaks
// are blanks, leading and trailing blanks go.
std::string ExpressionLine(std::string text);

// The validation of a dialog field holding an expression: `rule` (one of those below) on the
// field's text as one line.
std::function<bool(const Value&)> ExpressionField(bool (*rule)(const std::string&));

// Runtime errors that say a typed key or condition cannot serve: the expression failed
// (syntax, unknown name or function, wrong argument), or its value does not fit (data type or
// width). Failures of the files (disk full, locks, I/O) are not: the program's handler tells
// them.
bool KeyOrConditionError(const RuntimeError& e);

// The rules of the dialog fields.
// A condition: empty, or an expression whose value is logical.
bool ValidCondition(const std::string& text);
// A key: empty, or an expression whose value can be a key (text, number, date, time stamp or
// logical).
bool ValidKey(const std::string& text);
// The same rules for fields that must not be empty.
bool ValidConditionNotEmpty(const std::string& text);
bool ValidKeyNotEmpty(const std::string& text);

}  // namespace vosk

#endif  // VOSK_APP_EXPRESSION_CHECK_H_
