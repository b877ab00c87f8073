#ifndef VOSK_EXPR_PROGRAM_H_
#define VOSK_EXPR_PROGRAM_H_

// Internals of the expression compiler and evaluator: tokens, operators, the node tree and the
// compiled program. Other layers use expr/expression.h.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expr/functions.h"
#include "expr/value.h"

namespace vosk {

class DatabaseAccess;
struct CompileError;

namespace expr_internal {

// ---------------------------------------------------------------------------------------------
// Tokens

enum class Tok : uint8_t {
  kEnd, kNumber, kString, kDate, kIdent, kTrue, kFalse, kNil,
  kAnd, kOr, kNot,
  kAssign, kEqEq, kEq, kNe, kLt, kLe, kGt, kGe, kDollar,
  kPlus, kMinus, kStar, kSlash, kPercent, kPower,
  kPlusEq, kMinusEq, kStarEq, kSlashEq, kPercentEq, kPowerEq,
  kInc, kDec, kArrow, kSelfMsg, kHashPair, kBitOr, kBitXor, kShl, kShr, kAt, kMacro,
  kLParen, kRParen, kLBracket, kRBracket, kLBrace, kRBrace, kComma, kColon, kDot,
};

struct Token {
  Tok kind = Tok::kEnd;
  int position = 0;  // byte offset in the text
  std::string text;  // identifiers upper-cased; string literals decoded
  Value value;       // number and date literals
};

// Splits the text into tokens (the last one kEnd). False with *error_position set on an
// unterminated string or a character that starts no token.
bool Tokenize(std::string_view text, std::vector<Token>* tokens, int* error_position,
              std::string* message);

// ---------------------------------------------------------------------------------------------
// Operators

enum class Op : uint8_t {
  kNone,
  kPower, kMul, kDiv, kMod, kAdd, kSub, kContains, kLike, kHas, kIn,
  kLt, kGt, kLe, kGe, kEq, kEqEq, kNe, kAnd, kOr,
  kBitOr, kBitXor, kShl, kShr,
  kAssign, kAddAssign, kSubAssign, kMulAssign, kDivAssign, kModAssign, kPowAssign,
  kNeg, kPlus, kNot, kPreInc, kPreDec, kPostInc, kPostDec,
};

// Operation text and argument-error subcode of an operator.
const char* OpText(Op op);
int OpSubCode(Op op);
// The arithmetic operator of a compound assignment (kAdd for kAddAssign), else kNone.
Op CompoundBase(Op op);

// ---------------------------------------------------------------------------------------------
// Nodes

enum class NodeKind : uint8_t {
  kLiteral,     // slot holds the value
  kName,        // bare name: a field of the current area, else a memory variable
  kMemvar,      // M->name, MEMVAR->name
  kField,       // FIELD->name, _FIELD->name: a field of the current area
  kAliasField,  // alias->name
  kAreaField,   // (expr)->name: the area by number or alias text
  kAliasExpr,   // alias->(expr), (expr)->(expr): expr evaluated with that area selected
  kParam,       // a code-block parameter
  kCall,        // name(args)
  kIif,         // IIF(cond, a, b) and IF(cond, a, b)
  kUnary,       // - + .NOT. ++ --
  kBinary,      // arithmetic, comparison, .AND., .OR., bitwise
  kAssign,      // := and the compound assignments
  kList,        // (a, b, c): the value of the last
  kArray,       // {a, b, c}
  kBlock,       // {|params| body}
  kIndex,       // a[i]
  kMacro,       // &name, &(expr): the text compiled and evaluated at run time
};

struct Program;
struct MacroCache;

struct Node {
  NodeKind kind = NodeKind::kLiteral;
  Op op = Op::kNone;
  bool grouped = false;   // written in parentheses: an operand when re-balancing
  int position = 0;       // byte offset in the text
  Node* left = nullptr;   // unary operand, binary left, lvalue, alias area expression
  Node* right = nullptr;  // binary right, assigned value, index
  Node* third = nullptr;  // IIF else-branch
  std::vector<Node*> items;  // call arguments, list and array items, block body
  std::string name;          // upper-cased name: variable, field or function
  std::string alias;         // kAliasField, kAliasExpr: the upper-cased alias
  Value slot;                // literal value, or the result of the last evaluation

  // Resolution caches (see DatabaseAccess::AreaStamp).
  DatabaseAccess* cache_access = nullptr;
  int cache_area = 0;
  uint64_t cache_stamp = 0;
  int cache_field = 0;
  int alias_area = 0;  // kAliasField: area of the alias, with its stamp
  uint64_t alias_stamp = 0;
  DatabaseAccess* alias_access = nullptr;
  Value* memvar = nullptr;
  uint64_t memvar_generation = 0;
  const FunctionEntry* function = nullptr;
  uint64_t function_generation = 0;

  int param_up = 0;      // kParam: enclosing blocks to go out
  int param_index = 0;   // kParam: position among the parameters
  int block_index = 0;   // kBlock: position in Program::blocks
  int param_count = 0;   // kBlock
  int text_begin = 0;    // kBlock: the literal's text
  int text_end = 0;
  std::vector<const Value*> argv;     // kCall: argument pointers of the current call
  std::shared_ptr<MacroCache> macro;  // kMacro
};

// A compiled expression: the text, its nodes and its root.
//
// Invariants: nodes are owned by `nodes` and never freed before the program; a program that is
// being evaluated (active > 0) is not evaluated again at the same time: a re-entrant
// activation (a block calling itself, the same key evaluated from inside its own evaluation)
// runs on a clone compiled from the same text, so that the result slots of the outer
// activation are left intact.
struct Program : std::enable_shared_from_this<Program> {
  std::string text;
  bool nested_logical_chains = false;  // compiled with .AND./.OR. chains nested to the right
  std::vector<std::unique_ptr<Node>> nodes;
  Node* root = nullptr;
  std::vector<Node*> blocks;  // block literals in the order of their creation
  bool calls_user_function = false;
  int height = 1;  // levels of the tree, charged against the evaluation depth budget
  int active = 0;
  std::vector<std::shared_ptr<Program>> clones;

  Node* NewNode(NodeKind kind, int position);
  // Drops the arrays and blocks that result slots still hold after an activation. A block
  // made by this program holds the program, so keeping it in a slot would be a reference
  // cycle; only programs with block literals can make one.
  void ReleaseReferences();
};

// Parameters of one code-block activation, linked to those of the enclosing block. A block
// literal evaluated inside an activation keeps a copy of the whole chain as it is at that
// moment (its parameters are detached from the activation that created it).
struct Env {
  std::vector<Value> vars;
  std::shared_ptr<Env> parent;
};

// Compiles a text; nullptr with *error filled on failure.
std::shared_ptr<Program> CompileProgram(std::string_view text, bool nested_logical_chains,
                                        CompileError* error);

// An idle program equal to p: p itself when it is not active, else a clone.
Program* IdleProgram(Program* p);

// Evaluates the program's root (top level, no parameters). The reference is valid until the
// next evaluation of the same program; for a program with block literals the result is in
// *copy instead (and the reference designates it), because its slots are released.
const Value& EvalProgram(Program* p, Value* copy);

// Calls a block value with arguments; the result goes into *result.
void CallBlockValue(const Value& block, const Value* const* args, int count, Value* result);

}  // namespace expr_internal
}  // namespace vosk

#endif  // VOSK_EXPR_PROGRAM_H_
