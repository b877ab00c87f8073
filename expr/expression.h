#ifndef VOSK_EXPR_EXPRESSION_H_
#define VOSK_EXPR_EXPRESSION_H_

// The expression language: compile a text once, evaluate it many times against the current
// work area.
//
//   CompileError err;
//   std::unique_ptr<Expression> e = Compile("AMOUNT > 100 .AND. CITY = 'ROMA'", &err);
//   if (!e) ... err.message ...
//   while (...) { if (e->EvalLogical()) ...; DBSKIP(); }
//
// Evaluation errors are runtime error records raised through the installed handler
// (RaiseError): operators and functions with wrong operand types raise "Argument error"
// (general 1, subcodes in expr/expr_errors.h), division by zero "Zero divisor" (5), which the
// handler may answer with a substitute value, unknown names "Variable does not exist" (14,
// retry repeats the lookup), unknown aliases "Alias does not exist" (15), unknown functions
// "Undefined function" (12). Without a handler every error abandons (throws Abandon).
//
// Thread safety: none. Expressions, memory variables and settings belong to the program's one
// thread.
//
// The language beyond names, literals, calls and the operators of the precedence table:
//  - Literals: numbers "12", "1.50" (a double with 2 decimals), ".5", hexadecimal "0x1F"; dates
//    "0d20240131"; texts in "...", '...', [...] (where an operand is expected) and E"..." with
//    the escapes \n \r \t \0 \xHH; .T. .Y. .F. .N. NIL.
//  - Arrays {a, b}, indexed a[i] or a[i, j] from 1; code blocks {|x, y| e1, e2} (the value of
//    the last expression). A block made inside another block's activation keeps a copy of the
//    enclosing parameters as they are at that moment.
//  - Assignments := += -= *= /= %= ^= and ++ / -- store into fields of the current area (or the
//    aliased one), else into memory variables, which they create; also into parameters and
//    array elements. A value that would contain itself (an array stored into itself, a block
//    stored into the parameters it keeps) is refused with "Argument error" 1/1142: reference
//    counting could never free it.
//  - Keyword operators between operands: a LIKE b (b a pattern with * and ?), a HAS b (b occurs
//    in a), a IN b (a occurs in the text b, or equals an element of the array b). Bitwise
//    integers: | ^^ << >> at one precedence above ^.
//  - Macros: &name and &(expr) compile the text and evaluate it (blocks' parameters are not
//    visible inside); "&name." ends the name.
//  - Limits: nesting deeper than 200 levels while parsing, a tree higher than 512 levels, more
//    than 1024 operators in one chain, or evaluations (recursive blocks, macros) nested beyond
//    2048 tree levels give "Operation too complex" (8/1450).

#include <memory>
#include <string>
#include <string_view>

#include "expr/runtime_error.h"
#include "expr/value.h"

namespace vosk {

namespace expr_internal {
struct Program;
struct Env;
}  // namespace expr_internal

// Why a text did not compile: "Syntax error" (general 7, subcode 1449), or "Operation too
// complex" (general 8, subcode 1450) when it nests deeper than the compiler allows.
struct CompileError {
  int gen_code = 0;
  int sub_code = 0;
  int position = 0;     // byte offset of the offending token
  std::string message;  // what was expected or found there

  // The runtime error record of the failure (subsystem BASE, the text as operation).
  RuntimeError ToRuntimeError(std::string_view text) const;
};

// A compiled expression. Owned by whoever compiled it (a filter by its work area, a key by its
// order); code blocks it produced stay valid after it is destroyed.
class Expression {
 public:
  explicit Expression(std::shared_ptr<expr_internal::Program> program);
  ~Expression();
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  // The source text.
  const std::string& text() const;

  // Evaluates and returns the value. EvalRef avoids the copy: the reference stays valid until
  // the next evaluation of this expression.
  Value Eval();
  const Value& EvalRef();
  // True only when the result is the logical true (how conditions count).
  bool EvalLogical();

  // The text calls a function registered as user-defined (TYPE() answers "UI").
  bool calls_user_function() const;

 private:
  std::shared_ptr<expr_internal::Program> program_;
  Value result_;  // copy of a re-entrant evaluation's result
};

// Compiles a text. Returns nullptr and fills *error (when given) on a syntax error. Nothing is
// evaluated except the constant folding of a few calls with literal arguments (AT, UPPER,
// STOD, CTOD, EVAL of a block literal) and of logical constants under .AND./.OR.
std::unique_ptr<Expression> Compile(std::string_view text, CompileError* error = nullptr);

// Compiles and evaluates a text once. A syntax error is raised through the handler (it can
// only be defaulted); the result is then nil.
Value EvalText(std::string_view text);

// Evaluates a code block with arguments (missing parameters are nil, extra arguments are
// ignored). A value that is not a block raises "Argument error" (1/3012, operation "EVAL").
Value CallBlock(const Value& block, const ValueArray& args = {});

// TYPE(cText): "C", "N", "D", "T", "L", "M", "A", "B" for what the text yields; "U" for nil, a
// name that is neither a field nor a variable, or any evaluation error of general code 14;
// "UE" for a syntax error or any other evaluation error; "UI" when the text calls a
// user-defined function (it is then not evaluated). Never raises for a bad text; a
// non-character argument raises "Argument error" (1/1121, operation "TYPE").
std::string TYPE(const Value& text);
// VALTYPE(x): the type letter of a value.
std::string VALTYPE(const Value& value);

// A value as plain text: text as it is, numbers as LTRIM(STR(n)), dates as DTOC, timestamps
// as TTOC, logicals ".T."/".F.", nil "NIL", arrays "{...}", blocks "{|| ... }".
std::string ValueToText(const Value& value);

// The compatibility switch that keeps chains of .AND. (and of .OR.) nested to the right
// instead of re-grouping them left to right; the value is the same either way. Off by default.
// Affects expressions compiled afterwards.
void SetNestedLogicalChains(bool on);
bool NestedLogicalChains();

// A code-block value ({|params| body}), created by evaluating a block literal.
class CodeBlock {
 public:
  CodeBlock(std::shared_ptr<expr_internal::Program> program, int index, int param_count,
            std::shared_ptr<expr_internal::Env> env);
  ~CodeBlock();

  int param_count() const { return param_count_; }
  // The literal's text, "{|x| x + 1}".
  std::string text() const;

  expr_internal::Program* program() const { return program_.get(); }
  int index() const { return index_; }
  const std::shared_ptr<expr_internal::Env>& env() const { return env_; }

 private:
  std::shared_ptr<expr_internal::Program> program_;
  int index_;        // which block literal of the program
  int param_count_;
  std::shared_ptr<expr_internal::Env> env_;  // parameters of the enclosing activation
};

}  // namespace vosk

#endif  // VOSK_EXPR_EXPRESSION_H_
