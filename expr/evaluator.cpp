// The evaluator: walks a compiled tree. Every node keeps the value of its last evaluation in
// its own slot, so evaluating an expression once per record allocates nothing once the slots
// have grown to the texts they hold; field positions, alias areas, variables and functions are
// resolved once and kept while they stay valid.

#include <cmath>
#include <cstring>
#include <limits>

#include "expr/compare.h"
#include "expr/database_access.h"
#include "expr/expr_errors.h"
#include "expr/expression.h"
#include "expr/memvars.h"
#include "expr/program.h"
#include "expr/runtime_error.h"

namespace vosk {
namespace expr_internal {
namespace {

// Pseudo-area of the memory variables (M->).
constexpr int kMemvarArea = 65535;
// Levels of tree that may be active at once, over nested block calls and macros. Bounds the
// native stack used by recursive blocks and self-referencing macros.
constexpr int kMaxEvalDepth = 2048;

int g_eval_depth = 0;

// Operator texts and argument-error subcodes, one row per operator.
struct OpRow {
  Op op;
  const char* text;
  int sub_code;
  Op base;  // the arithmetic of a compound assignment
};
constexpr OpRow kOpRows[] = {
    {Op::kPower, "^", kSubPower, Op::kNone},
    {Op::kMul, "*", kSubMultiply, Op::kNone},
    {Op::kDiv, "/", kSubDivide, Op::kNone},
    {Op::kMod, "%", kSubModulus, Op::kNone},
    {Op::kAdd, "+", kSubPlus, Op::kNone},
    {Op::kSub, "-", kSubMinus, Op::kNone},
    {Op::kContains, "$", kSubContains, Op::kNone},
    {Op::kLike, "LIKE", kSubLike, Op::kNone},
    {Op::kHas, "HAS", kSubHas, Op::kNone},
    {Op::kIn, "IN", kSubIn, Op::kNone},
    {Op::kLt, "<", kSubLess, Op::kNone},
    {Op::kGt, ">", kSubGreater, Op::kNone},
    {Op::kLe, "<=", kSubLessEqual, Op::kNone},
    {Op::kGe, ">=", kSubGreaterEqual, Op::kNone},
    {Op::kEq, "=", kSubEqual, Op::kNone},
    {Op::kEqEq, "==", kSubExactEqual, Op::kNone},
    {Op::kNe, "<>", kSubNotEqual, Op::kNone},
    {Op::kAnd, ".AND.", kSubAnd, Op::kNone},
    {Op::kOr, ".OR.", kSubOr, Op::kNone},
    {Op::kBitOr, "|", kSubBitOr, Op::kNone},
    {Op::kBitXor, "^^", kSubBitXor, Op::kNone},
    {Op::kShl, "<<", kSubShiftLeft, Op::kNone},
    {Op::kShr, ">>", kSubShiftRight, Op::kNone},
    {Op::kAssign, ":=", 0, Op::kNone},
    {Op::kAddAssign, "+=", kSubPlus, Op::kAdd},
    {Op::kSubAssign, "-=", kSubMinus, Op::kSub},
    {Op::kMulAssign, "*=", kSubMultiply, Op::kMul},
    {Op::kDivAssign, "/=", kSubDivide, Op::kDiv},
    {Op::kModAssign, "%=", kSubModulus, Op::kMod},
    {Op::kPowAssign, "^=", kSubPower, Op::kPower},
    {Op::kNeg, "-", kSubNegate, Op::kNone},
    {Op::kPlus, "+", kSubNegate, Op::kNone},
    {Op::kNot, ".NOT.", kSubNot, Op::kNone},
    {Op::kPreInc, "++", kSubIncrement, Op::kNone},
    {Op::kPostInc, "++", kSubIncrement, Op::kNone},
    {Op::kPreDec, "--", kSubDecrement, Op::kNone},
    {Op::kPostDec, "--", kSubDecrement, Op::kNone},
};

const OpRow* RowOf(Op op) {
  for (const OpRow& r : kOpRows) {
    if (r.op == op) return &r;
  }
  return nullptr;
}

// ----- Raising errors ------------------------------------------------------------------------

ErrorAnswer Raise(int gen_code, int sub_code, std::string operation, bool can_retry,
                  bool can_substitute) {
  RuntimeError e;
  e.gen_code = gen_code;
  e.subsystem = "BASE";
  e.sub_code = sub_code;
  e.operation = std::move(operation);
  e.can_retry = can_retry;
  e.can_default = true;
  e.can_substitute = can_substitute;
  return RaiseError(std::move(e));
}

// Wrong operand types: "Argument error" with the operator's subcode. The substitute, or nil,
// becomes the result. True when a substitute was given.
bool OperandError(Op op, Value* out) {
  ErrorAnswer a = Raise(kEgArg, OpSubCode(op), OpText(op), false, true);
  if (a.kind == ErrorAnswer::Kind::kSubstitute) {
    *out = std::move(a.value);
    return true;
  }
  *out = Value();
  return false;
}

// Division or modulus by zero. The handler may substitute a value (the Application answers 0);
// a default answer also yields 0.
bool ZeroDivide(Op op, Value* out) {
  ErrorAnswer a = Raise(kEgZeroDiv, op == Op::kMod ? kSubZeroModulus : kSubZeroDivide,
                        OpText(op), false, true);
  *out = a.kind == ErrorAnswer::Kind::kSubstitute ? std::move(a.value) : Value::Integer(0);
  return true;
}

bool StringOverflow(Op op, Value* out) {
  ErrorAnswer a = Raise(kEgStrOverflow,
                        op == Op::kSub ? kSubStringOverflowMinus : kSubStringOverflowPlus,
                        OpText(op), false, true);
  if (a.kind == ErrorAnswer::Kind::kSubstitute) {
    *out = std::move(a.value);
    return true;
  }
  *out = Value();
  return false;
}

// "Variable does not exist" (retry repeats the lookup). True when the handler asks to retry.
bool NoVariable(const std::string& name, Value* out) {
  ErrorAnswer a = Raise(kEgNoVar, kSubNoVariable, name, true, false);
  if (a.retry()) return true;
  *out = Value();
  return false;
}

bool NoAlias(const std::string& alias) {
  return Raise(kEgNoAlias, kSubNoAlias, alias, true, false).retry();
}

// ----- Arithmetic ----------------------------------------------------------------------------

int DecimalsOf(const Value& v) { return v.is_integer() ? 0 : v.decimals(); }

void SetDouble(Value* out, double d, int dec) {
  if (dec > 15) dec = 15;
  out->SetDouble(d, 0, dec);
}

bool IsDateLike(const Value& v) { return v.is_date() || v.is_timestamp(); }

int64_t TotalMillis(const Value& v) {
  return static_cast<int64_t>(v.julian()) * kMillisPerDay + (v.is_timestamp() ? v.millis() : 0);
}

void SetTimestampMillis(Value* out, int64_t total) {
  int64_t day = total >= 0 ? total / kMillisPerDay : -((-total + kMillisPerDay - 1) / kMillisPerDay);
  int64_t ms = total - day * kMillisPerDay;
  if (day < std::numeric_limits<int32_t>::min() || day > std::numeric_limits<int32_t>::max()) {
    day = 0;
  }
  out->SetTimestamp(static_cast<int32_t>(day), static_cast<int32_t>(ms));
}

void SetDateDays(Value* out, int64_t julian) {
  if (julian < std::numeric_limits<int32_t>::min() || julian > std::numeric_limits<int32_t>::max()) {
    julian = 0;
  }
  out->SetDate(static_cast<int32_t>(julian));
}

// A date or timestamp moved by a number of days.
void AddDays(const Value& d, const Value& n, Value* out) {
  if (d.is_date()) {
    double days = std::trunc(n.number());
    if (!std::isfinite(days) || std::fabs(days) > 1e9) days = 0;
    SetDateDays(out, static_cast<int64_t>(d.julian()) + static_cast<int64_t>(days));
  } else {
    double ms = n.number() * kMillisPerDay;
    if (!std::isfinite(ms) || std::fabs(ms) > 1e17) ms = 0;
    SetTimestampMillis(out, TotalMillis(d) + std::llround(ms));
  }
}

bool Add(Op op, const Value& a, const Value& b, Value* out) {
  if (a.is_string() && b.is_string()) {
    uint64_t len = static_cast<uint64_t>(a.str().size()) + b.str().size();
    if (len > MaxStringLength()) return StringOverflow(op, out);
    out->AssignString(a.str());
    out->mutable_str().append(b.str());
    return true;
  }
  if (a.is_numeric() && b.is_numeric()) {
    int64_t r;
    if (a.is_integer() && b.is_integer() && !__builtin_add_overflow(a.integer(), b.integer(), &r)) {
      out->SetInteger(r);
    } else {
      SetDouble(out, a.number() + b.number(), std::max(DecimalsOf(a), DecimalsOf(b)));
    }
    return true;
  }
  if (IsDateLike(a) && b.is_numeric()) {
    AddDays(a, b, out);
    return true;
  }
  if (a.is_numeric() && IsDateLike(b)) {
    AddDays(b, a, out);
    return true;
  }
  return OperandError(op, out);
}

bool Subtract(Op op, const Value& a, const Value& b, Value* out) {
  if (a.is_string() && b.is_string()) {
    // The left text's trailing blanks move to the end of the result.
    uint64_t len = static_cast<uint64_t>(a.str().size()) + b.str().size();
    if (len > MaxStringLength()) return StringOverflow(op, out);
    std::string_view left = a.str();
    size_t kept = left.find_last_not_of(' ');
    kept = kept == std::string_view::npos ? 0 : kept + 1;
    size_t blanks = left.size() - kept;
    out->AssignString(left.substr(0, kept));
    out->mutable_str().append(b.str());
    out->mutable_str().append(blanks, ' ');
    return true;
  }
  if (a.is_numeric() && b.is_numeric()) {
    int64_t r;
    if (a.is_integer() && b.is_integer() && !__builtin_sub_overflow(a.integer(), b.integer(), &r)) {
      out->SetInteger(r);
    } else {
      SetDouble(out, a.number() - b.number(), std::max(DecimalsOf(a), DecimalsOf(b)));
    }
    return true;
  }
  if (IsDateLike(a) && b.is_numeric()) {
    Value negated = b.is_integer() && b.integer() != INT64_MIN ? Value::Integer(-b.integer())
                                                               : Value::Double(-b.number());
    AddDays(a, negated, out);
    return true;
  }
  if (a.is_date() && b.is_date()) {
    out->SetInteger(static_cast<int64_t>(a.julian()) - b.julian());
    return true;
  }
  if (IsDateLike(a) && IsDateLike(b)) {
    SetDouble(out, static_cast<double>(TotalMillis(a) - TotalMillis(b)) / kMillisPerDay, 6);
    return true;
  }
  return OperandError(op, out);
}

bool Arithmetic(Op op, const Value& a, const Value& b, Value* out) {
  switch (op) {
    case Op::kAdd: return Add(op, a, b, out);
    case Op::kSub: return Subtract(op, a, b, out);
    default: break;
  }
  if (!a.is_numeric() || !b.is_numeric()) return OperandError(op, out);
  switch (op) {
    case Op::kMul: {
      int64_t r;
      if (a.is_integer() && b.is_integer() &&
          !__builtin_mul_overflow(a.integer(), b.integer(), &r)) {
        out->SetInteger(r);
      } else {
        SetDouble(out, a.number() * b.number(), DecimalsOf(a) + DecimalsOf(b));
      }
      return true;
    }
    case Op::kDiv:
      if (b.number() == 0.0) return ZeroDivide(op, out);
      *out = Value::Double(a.number() / b.number());  // DECIMALS decimals
      return true;
    case Op::kMod:
      if (b.number() == 0.0) return ZeroDivide(op, out);
      if (a.is_integer() && b.is_integer()) {
        // INT64_MIN % -1 overflows in C++; its value is 0.
        out->SetInteger(b.integer() == -1 ? 0 : a.integer() % b.integer());
      } else {
        SetDouble(out, std::fmod(a.number(), b.number()), std::max(DecimalsOf(a), DecimalsOf(b)));
      }
      return true;
    case Op::kPower:
      out->SetDouble(std::pow(a.number(), b.number()));
      return true;
    default:
      return OperandError(op, out);
  }
}

int64_t ToInt64(const Value& v) {
  if (v.is_integer()) return v.integer();
  double d = v.number();
  if (!(d > -9.2e18 && d < 9.2e18)) return 0;
  return static_cast<int64_t>(d);
}

bool Bitwise(Op op, const Value& a, const Value& b, Value* out) {
  if (!a.is_numeric() || !b.is_numeric()) return OperandError(op, out);
  int64_t x = ToInt64(a), y = ToInt64(b);
  uint64_t ux = static_cast<uint64_t>(x);
  int64_t r = 0;
  switch (op) {
    case Op::kBitOr: r = x | y; break;
    case Op::kBitXor: r = x ^ y; break;
    case Op::kShl:
    case Op::kShr: {
      bool left = (op == Op::kShl) == (y >= 0);
      uint64_t n = y >= 0 ? static_cast<uint64_t>(y) : 0 - static_cast<uint64_t>(y);
      if (left) {
        r = n >= 64 ? 0 : static_cast<int64_t>(ux << n);
      } else {
        r = n >= 64 ? (x < 0 ? -1 : 0) : (x >> n);
      }
      break;
    }
    default: break;
  }
  out->SetInteger(r);
  return true;
}

// ----- Comparison ----------------------------------------------------------------------------

// Equality of = (exact false) and == (exact true); false in *ok for values the operators do
// not compare. NIL equals only NIL; with == arrays and blocks are equal when they are the same.
bool Equal(const Value& a, const Value& b, bool exact, bool* ok) {
  *ok = true;
  if (a.is_string() && b.is_string()) {
    if (exact) return a.str() == b.str();
    return CompareNonExact(a.str(), b.str()) == 0;
  }
  if (a.is_numeric() && b.is_numeric()) {
    if (a.is_integer() && b.is_integer()) return a.integer() == b.integer();
    return a.number() == b.number();
  }
  if (IsDateLike(a) && IsDateLike(b)) return TotalMillis(a) == TotalMillis(b);
  if (a.is_logical() && b.is_logical()) return a.logical() == b.logical();
  if (a.is_nil() || b.is_nil()) return a.is_nil() && b.is_nil();
  if (exact && a.is_array() && b.is_array()) return a.array_ref() == b.array_ref();
  if (exact && a.is_block() && b.is_block()) return a.block() == b.block();
  *ok = false;
  return false;
}

// Order of < <= > >=: texts by the non-exact comparison, numbers, dates and timestamps,
// logicals (.F. before .T.).
bool Order(const Value& a, const Value& b, int* cmp) {
  if (a.is_string() && b.is_string()) {
    *cmp = CompareNonExact(a.str(), b.str());
  } else if (a.is_numeric() && b.is_numeric()) {
    if (a.is_integer() && b.is_integer()) {
      *cmp = a.integer() < b.integer() ? -1 : a.integer() > b.integer() ? 1 : 0;
    } else {
      double x = a.number(), y = b.number();
      *cmp = x < y ? -1 : x > y ? 1 : 0;
    }
  } else if (IsDateLike(a) && IsDateLike(b)) {
    int64_t x = TotalMillis(a), y = TotalMillis(b);
    *cmp = x < y ? -1 : x > y ? 1 : 0;
  } else if (a.is_logical() && b.is_logical()) {
    *cmp = static_cast<int>(a.logical()) - static_cast<int>(b.logical());
  } else {
    return false;
  }
  return true;
}

// Wildcard match: "*" any run of characters, "?" any one character.
bool WildcardMatch(std::string_view text, std::string_view pattern) {
  size_t t = 0, p = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++t;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool Relational(Op op, const Value& a, const Value& b, Value* out) {
  bool result = false;
  switch (op) {
    case Op::kEq:
    case Op::kEqEq:
    case Op::kNe: {
      bool ok;
      result = Equal(a, b, op == Op::kEqEq, &ok);
      if (!ok) return OperandError(op, out);
      if (op == Op::kNe) result = !result;
      break;
    }
    case Op::kLt:
    case Op::kLe:
    case Op::kGt:
    case Op::kGe: {
      int cmp;
      if (!Order(a, b, &cmp)) return OperandError(op, out);
      result = op == Op::kLt ? cmp < 0 : op == Op::kLe ? cmp <= 0 : op == Op::kGt ? cmp > 0 : cmp >= 0;
      break;
    }
    case Op::kContains:
      if (!a.is_string() || !b.is_string()) return OperandError(op, out);
      result = !a.str().empty() && b.str().find(a.str()) != std::string::npos;
      break;
    case Op::kHas:
      if (!a.is_string() || !b.is_string()) return OperandError(op, out);
      result = !b.str().empty() && a.str().find(b.str()) != std::string::npos;
      break;
    case Op::kLike:
      if (!a.is_string() || !b.is_string()) return OperandError(op, out);
      result = WildcardMatch(a.str(), b.str());
      break;
    case Op::kIn:
      if (a.is_string() && b.is_string()) {
        result = !a.str().empty() && b.str().find(a.str()) != std::string::npos;
      } else if (b.is_array()) {
        for (const Value& item : b.array()) {
          bool ok;
          if (Equal(a, item, true, &ok) && ok) {
            result = true;
            break;
          }
        }
      } else {
        return OperandError(op, out);
      }
      break;
    default:
      return OperandError(op, out);
  }
  out->SetLogical(result);
  return true;
}

// The comparison operators on two numbers, the most frequent case of filters and conditions,
// without the general dispatch. False when the operands or the operator are of another kind.
inline bool CompareNumbers(Op op, const Value& a, const Value& b, bool* result) {
  if (!a.is_numeric() || !b.is_numeric()) return false;
  int cmp;
  if (a.is_integer() && b.is_integer()) {
    cmp = a.integer() < b.integer() ? -1 : a.integer() > b.integer() ? 1 : 0;
  } else {
    double x = a.number(), y = b.number();
    if (x != x || y != y) return false;  // NaN: the general path decides
    cmp = x < y ? -1 : x > y ? 1 : 0;
  }
  switch (op) {
    case Op::kEq: case Op::kEqEq: *result = cmp == 0; return true;
    case Op::kNe: *result = cmp != 0; return true;
    case Op::kLt: *result = cmp < 0; return true;
    case Op::kLe: *result = cmp <= 0; return true;
    case Op::kGt: *result = cmp > 0; return true;
    case Op::kGe: *result = cmp >= 0; return true;
    default: return false;
  }
}

bool Binary(Op op, const Value& a, const Value& b, Value* out) {
  switch (op) {
    case Op::kAdd: case Op::kSub: case Op::kMul: case Op::kDiv: case Op::kMod: case Op::kPower:
      return Arithmetic(op, a, b, out);
    case Op::kBitOr: case Op::kBitXor: case Op::kShl: case Op::kShr:
      return Bitwise(op, a, b, out);
    default:
      return Relational(op, a, b, out);
  }
}

// ----- Activations ---------------------------------------------------------------------------

// Charges a program's height against the evaluation depth budget for the activation's
// lifetime. ok() is false (after "Operation too complex" was raised) when it does not fit.
class DepthCharge {
 public:
  explicit DepthCharge(int height) : height_(height) {
    if (g_eval_depth + height_ > kMaxEvalDepth) {
      height_ = 0;
      Raise(kEgComplexity, kSubTooComplex, "nesting", false, false);
      ok_ = false;
      return;
    }
    g_eval_depth += height_;
  }
  ~DepthCharge() { g_eval_depth -= height_; }
  DepthCharge(const DepthCharge&) = delete;
  DepthCharge& operator=(const DepthCharge&) = delete;
  bool ok() const { return ok_; }

 private:
  int height_;
  bool ok_ = true;
};

class ActiveMark {
 public:
  explicit ActiveMark(Program* p) : p_(p) { ++p_->active; }
  ~ActiveMark() { --p_->active; }
  ActiveMark(const ActiveMark&) = delete;
  ActiveMark& operator=(const ActiveMark&) = delete;

 private:
  Program* p_;
};

// Releases a program's slot references when an activation ends, also when it is abandoned.
class ReleaseOnExit {
 public:
  explicit ReleaseOnExit(Program* p) : p_(p->blocks.empty() ? nullptr : p) {}
  ~ReleaseOnExit() {
    if (p_ != nullptr) p_->ReleaseReferences();
  }
  ReleaseOnExit(const ReleaseOnExit&) = delete;
  ReleaseOnExit& operator=(const ReleaseOnExit&) = delete;

 private:
  Program* p_;
};

// Whether a value holds `target` (an array or a parameter set), through arrays and the
// parameters kept by blocks. Storing such a value into the target would make a reference
// cycle that is never freed.
bool Reaches(const Value& v, const void* target, std::vector<const void*>* seen) {
  if (v.is_array()) {
    const void* a = v.array_ref().get();
    if (a == target) return true;
    for (const void* s : *seen) {
      if (s == a) return false;
    }
    seen->push_back(a);
    for (const Value& item : v.array()) {
      if (Reaches(item, target, seen)) return true;
    }
    return false;
  }
  if (v.is_block()) {
    for (const Env* env = v.block()->env().get(); env != nullptr; env = env->parent.get()) {
      if (env == target) return true;
      bool visited = false;
      for (const void* s : *seen) visited = visited || s == env;
      if (visited) return false;
      seen->push_back(env);
      for (const Value& item : env->vars) {
        if (Reaches(item, target, seen)) return true;
      }
    }
  }
  return false;
}

bool WouldContainItself(const Value& v, const void* target) {
  if (!v.is_array() && !v.is_block()) return false;
  std::vector<const void*> seen;
  return Reaches(v, target, &seen);
}

bool SelfReference(const char* operation) {
  Raise(kEgArg, kSubSelfReference, operation, false, false);
  return false;
}

// A copy of a parameter chain, for a block literal evaluated inside an activation.
std::shared_ptr<Env> Snapshot(const std::shared_ptr<Env>& env) {
  if (!env) return nullptr;
  auto copy = std::make_shared<Env>();
  copy->vars = env->vars;
  copy->parent = Snapshot(env->parent);
  return copy;
}

class SelectedArea {
 public:
  SelectedArea(DatabaseAccess* db, int area) : db_(db), previous_(db->SelectArea(area)) {}
  ~SelectedArea() { db_->SelectArea(previous_); }
  SelectedArea(const SelectedArea&) = delete;
  SelectedArea& operator=(const SelectedArea&) = delete;

 private:
  DatabaseAccess* db_;
  int previous_;
};

}  // namespace

struct MacroCache {
  std::string text;
  std::shared_ptr<Program> program;
};

// ----- The tree walk -------------------------------------------------------------------------

class Evaluator {
 public:
  Evaluator(Program* program, const std::shared_ptr<Env>* env) : program_(program), env_(env) {}

  const Value& Eval(Node* n) {
    switch (n->kind) {
      case NodeKind::kLiteral: return n->slot;
      case NodeKind::kName: return EvalName(n);
      case NodeKind::kBinary: return EvalBinary(n);
      case NodeKind::kCall: return EvalCall(n);
      case NodeKind::kParam: return ParamRef(n);
      case NodeKind::kUnary: return EvalUnary(n);
      case NodeKind::kIif: return EvalIif(n);
      case NodeKind::kAssign: return EvalAssign(n);
      default: return EvalOther(n);
    }
  }

  const Value& EvalBody(const std::vector<Node*>& items, Node* holder) {
    if (items.empty()) {
      holder->slot = Value();
      return holder->slot;
    }
    for (size_t i = 0; i + 1 < items.size(); ++i) Eval(items[i]);
    return Eval(items.back());
  }

 private:
  Value& ParamRef(Node* n) {
    Env* env = env_ ? env_->get() : nullptr;
    for (int i = 0; i < n->param_up && env; ++i) env = env->parent.get();
    // The parser only makes parameter nodes inside blocks, so the chain is there.
    return env->vars[static_cast<size_t>(n->param_index)];
  }

  static int FieldPosition(DatabaseAccess* db, Node* n, int area) {
    if (n->cache_access == db && n->cache_area == area && n->cache_stamp != 0 &&
        db->AreaStamp(area) == n->cache_stamp) {
      return n->cache_field;
    }
    n->cache_access = db;
    n->cache_area = area;
    n->cache_stamp = db->AreaStamp(area);
    n->cache_field = db->FieldPos(area, n->name);
    return n->cache_field;
  }

  static Value* Memvar(Node* n) {
    uint64_t generation = MemvarGeneration();
    if (n->memvar_generation != generation) {
      n->memvar = FindMemvar(n->name);
      n->memvar_generation = generation;
    }
    return n->memvar;
  }

  static void ReadField(DatabaseAccess* db, int area, int pos, Node* n) {
    if (Failed(db->GetField(area, pos, &n->slot))) n->slot = Value();
  }

  // The area an alias designates (kMemvarArea for M), cached while its stamp holds; -1 when
  // the alias does not exist and the handler did not ask to retry.
  static int AliasArea(DatabaseAccess* db, Node* n) {
    while (true) {
      if (db != nullptr) {
        if (n->alias_access == db && n->alias_stamp != 0 &&
            db->AreaStamp(n->alias_area) == n->alias_stamp) {
          return n->alias_area;
        }
        int area = db->AreaOfAlias(n->alias);
        if (area != 0) {
          n->alias_access = db;
          n->alias_area = area;
          n->alias_stamp = area == kMemvarArea ? 0 : db->AreaStamp(area);
          return area;
        }
      } else if (n->alias == "M" || n->alias == "MEMVAR") {
        return kMemvarArea;
      }
      if (!NoAlias(n->alias)) return -1;
    }
  }

  // The area of `(expr)->`: a number, or a text naming an alias.
  int AreaOfExpression(DatabaseAccess* db, Node* n) {
    while (true) {
      const Value& v = Eval(n->left);
      int area = 0;
      std::string shown;
      if (v.is_numeric()) {
        double d = v.number();
        area = (d >= 1 && d <= kMemvarArea) ? static_cast<int>(d) : 0;
        shown = std::to_string(static_cast<long long>(d > -1e15 && d < 1e15 ? d : 0));
      } else if (v.is_string() && db != nullptr) {
        area = db->AreaOfAlias(v.str());
        shown = v.str();
      }
      if (area != 0 && (db != nullptr || area == kMemvarArea)) return area;
      if (!NoAlias(shown)) return -1;
    }
  }

  int AreaOf(DatabaseAccess* db, Node* n) {
    return n->left != nullptr ? AreaOfExpression(db, n) : AliasArea(db, n);
  }

  const Value& EvalName(Node* n) {
    while (true) {
      DatabaseAccess* db = GetDatabaseAccess();
      if (db != nullptr) {
        int area = db->CurrentArea();
        if (area > 0) {
          int pos = FieldPosition(db, n, area);
          if (pos > 0) {
            ReadField(db, area, pos, n);
            return n->slot;
          }
        }
      }
      if (Value* v = Memvar(n)) {
        n->slot = *v;
        return n->slot;
      }
      if (!NoVariable(n->name, &n->slot)) return n->slot;
    }
  }

  const Value& EvalMemvar(Node* n) {
    while (true) {
      if (Value* v = Memvar(n)) {
        n->slot = *v;
        return n->slot;
      }
      if (!NoVariable(n->name, &n->slot)) return n->slot;
    }
  }

  // A field of an area (FIELD->, alias->, (n)->).
  const Value& EvalFieldIn(Node* n, int area) {
    while (true) {
      DatabaseAccess* db = GetDatabaseAccess();
      if (db != nullptr && area > 0) {
        int pos = FieldPosition(db, n, area);
        if (pos > 0) {
          ReadField(db, area, pos, n);
          return n->slot;
        }
      }
      if (!NoVariable(n->name, &n->slot)) return n->slot;
    }
  }

  const Value& EvalAliased(Node* n) {
    DatabaseAccess* db = GetDatabaseAccess();
    int area = AreaOf(db, n);
    if (area < 0) {
      n->slot = Value();
      return n->slot;
    }
    if (n->kind == NodeKind::kAliasExpr) {
      if (area == kMemvarArea || db == nullptr) return Eval(n->right);
      SelectedArea selected(db, area);
      return Eval(n->right);
    }
    if (area == kMemvarArea) return EvalMemvar(n);
    return EvalFieldIn(n, area);
  }

  const Value& EvalBinary(Node* n) {
    if (n->op == Op::kAnd || n->op == Op::kOr) {
      const Value& a = Eval(n->left);
      if (!a.is_logical()) {
        OperandError(n->op, &n->slot);
        return n->slot;
      }
      // Short-circuit: .F. decides .AND., .T. decides .OR.
      if (a.logical() == (n->op == Op::kOr)) {
        n->slot.SetLogical(a.logical());
        return n->slot;
      }
      const Value& b = Eval(n->right);
      if (!b.is_logical()) {
        OperandError(n->op, &n->slot);
        return n->slot;
      }
      n->slot.SetLogical(b.logical());
      return n->slot;
    }
    const Value& a = Eval(n->left);
    const Value& b = Eval(n->right);
    bool result;
    if (CompareNumbers(n->op, a, b, &result)) {
      n->slot.SetLogical(result);
    } else {
      Binary(n->op, a, b, &n->slot);
    }
    return n->slot;
  }

  const Value& EvalUnary(Node* n) {
    switch (n->op) {
      case Op::kNot: {
        const Value& a = Eval(n->left);
        if (a.is_logical()) {
          n->slot.SetLogical(!a.logical());
        } else {
          OperandError(n->op, &n->slot);
        }
        return n->slot;
      }
      case Op::kNeg:
      case Op::kPlus: {
        const Value& a = Eval(n->left);
        if (a.is_integer()) {
          if (n->op == Op::kPlus) {
            n->slot = a;
          } else if (a.integer() == INT64_MIN) {
            n->slot.SetDouble(-a.number(), 20, 0);
          } else {
            n->slot.SetInteger(-a.integer(), a.width());
          }
        } else if (a.is_double()) {
          n->slot.SetDouble(n->op == Op::kNeg ? -a.dbl() : a.dbl(), a.width(), a.decimals());
        } else if (a.is_date()) {
          n->slot = n->op == Op::kNeg ? Value::Integer(-static_cast<int64_t>(a.julian())) : a;
        } else {
          OperandError(n->op, &n->slot);
        }
        return n->slot;
      }
      default:
        return EvalIncDec(n);
    }
  }

  const Value& EvalIncDec(Node* n) {
    bool increment = n->op == Op::kPreInc || n->op == Op::kPostInc;
    bool prefix = n->op == Op::kPreInc || n->op == Op::kPreDec;
    Value old = Eval(n->left);
    Value updated;
    if (old.is_numeric()) {
      Arithmetic(increment ? Op::kAdd : Op::kSub, old, Value::Integer(1), &updated);
    } else if (IsDateLike(old)) {
      AddDays(old, Value::Integer(increment ? 1 : -1), &updated);
    } else {
      OperandError(n->op, &n->slot);
      return n->slot;
    }
    Store(n->left, updated);
    n->slot = prefix ? std::move(updated) : std::move(old);
    return n->slot;
  }

  const Value& EvalIif(Node* n) {
    const Value& c = Eval(n->left);
    bool condition;
    if (c.is_logical()) {
      condition = c.logical();
    } else {
      ErrorAnswer a = Raise(kEgArg, kSubIifCondition, "IIF", false, true);
      if (a.kind != ErrorAnswer::Kind::kSubstitute || !a.value.is_logical()) {
        n->slot = Value();
        return n->slot;
      }
      condition = a.value.logical();
    }
    return Eval(condition ? n->right : n->third);
  }

  const Value& EvalAssign(Node* n) {
    if (n->op == Op::kAssign) {
      const Value& v = Eval(n->right);
      n->slot = v;
    } else {
      Value current = Eval(n->left);
      const Value& v = Eval(n->right);
      if (!Binary(CompoundBase(n->op), current, v, &n->slot)) return n->slot;
    }
    Store(n->left, n->slot);
    return n->slot;
  }

  // Stores a value into what an lvalue node designates.
  void Store(Node* lv, const Value& v) {
    DatabaseAccess* db = GetDatabaseAccess();
    switch (lv->kind) {
      case NodeKind::kName:
        if (db != nullptr) {
          int area = db->CurrentArea();
          if (area > 0) {
            int pos = FieldPosition(db, lv, area);
            if (pos > 0) {
              (void)db->PutField(area, pos, v);
              return;
            }
          }
        }
        StoreMemvar(lv, v);
        return;
      case NodeKind::kMemvar:
        StoreMemvar(lv, v);
        return;
      case NodeKind::kParam: {
        Value& target = ParamRef(lv);
        Env* env = env_ ? env_->get() : nullptr;
        for (int i = 0; i < lv->param_up && env; ++i) env = env->parent.get();
        if (WouldContainItself(v, env)) {
          SelfReference(":=");
          return;
        }
        target = v;
        return;
      }
      case NodeKind::kField:
        StoreField(lv, db != nullptr ? db->CurrentArea() : 0, v);
        return;
      case NodeKind::kAliasField:
      case NodeKind::kAreaField: {
        int area = AreaOf(db, lv);
        if (area < 0) return;
        if (area == kMemvarArea) {
          StoreMemvar(lv, v);
        } else {
          StoreField(lv, area, v);
        }
        return;
      }
      case NodeKind::kIndex:
        StoreIndex(lv, v);
        return;
      default:
        return;
    }
  }

  static void StoreMemvar(Node* lv, const Value& v) {
    if (Value* target = Memvar(lv)) {
      if (target != &v) *target = v;
    } else {
      SetMemvar(lv->name, v);
    }
  }

  static void StoreField(Node* lv, int area, const Value& v) {
    while (true) {
      DatabaseAccess* db = GetDatabaseAccess();
      if (db != nullptr && area > 0) {
        int pos = FieldPosition(db, lv, area);
        if (pos > 0) {
          (void)db->PutField(area, pos, v);
          return;
        }
      }
      Value ignored;
      if (!NoVariable(lv->name, &ignored)) return;
    }
  }

  // The array and the 1-based position an index node designates; false after an error.
  bool IndexTarget(Node* n, bool assign, std::shared_ptr<ValueArray>* array, size_t* pos) {
    const Value& container = Eval(n->left);
    std::shared_ptr<ValueArray> items = container.is_array() ? container.array_ref() : nullptr;
    const Value& index = Eval(n->right);
    std::string op = assign ? "array assign" : "array access";
    if (items == nullptr || !index.is_numeric()) {
      ErrorAnswer a = Raise(kEgArg, assign ? kSubArrayAssign : kSubArrayAccess, op, false, true);
      n->slot = a.kind == ErrorAnswer::Kind::kSubstitute ? std::move(a.value) : Value();
      return false;
    }
    double k = index.number();
    if (!(k >= 1 && k <= static_cast<double>(items->size()))) {
      ErrorAnswer a = Raise(kEgBound, assign ? kSubBoundAssign : kSubBoundAccess, op, false, true);
      n->slot = a.kind == ErrorAnswer::Kind::kSubstitute ? std::move(a.value) : Value();
      return false;
    }
    *array = std::move(items);
    *pos = static_cast<size_t>(k) - 1;
    return true;
  }

  void StoreIndex(Node* lv, const Value& v) {
    std::shared_ptr<ValueArray> array;
    size_t pos;
    if (!IndexTarget(lv, true, &array, &pos)) return;
    if (WouldContainItself(v, array.get())) {
      SelfReference("array assign");
      return;
    }
    (*array)[pos] = v;
  }

  const Value& EvalCall(Node* n) {
    size_t count = n->items.size();
    if (n->argv.size() != count) n->argv.resize(count);
    for (size_t i = 0; i < count; ++i) n->argv[i] = &Eval(n->items[i]);
    uint64_t generation = FunctionRegistryGeneration();
    if (n->function_generation != generation) {
      n->function = FindFunction(n->name);
      n->function_generation = generation;
    }
    const FunctionEntry* f = n->function;
    if (f != nullptr && f->builtin != nullptr) {
      f->builtin(FunctionArgs(n->argv.data(), static_cast<int>(count)), &n->slot);
      return n->slot;
    }
    ValueArray args;
    args.reserve(count);
    for (const Value* a : n->argv) args.push_back(*a);
    if (f != nullptr && f->external) {
      n->slot = f->external(args);
      return n->slot;
    }
    if (DatabaseAccess* db = GetDatabaseAccess()) {
      bool known = false;
      Value result = db->CallFunction(n->name, args, &known);
      if (known) {
        n->slot = std::move(result);
        return n->slot;
      }
    }
    Raise(kEgNoFunc, kSubUndefinedFunction, n->name, false, false);
    n->slot = Value();
    return n->slot;
  }

  const Value& EvalOther(Node* n) {
    switch (n->kind) {
      case NodeKind::kMemvar:
        return EvalMemvar(n);
      case NodeKind::kField: {
        DatabaseAccess* db = GetDatabaseAccess();
        return EvalFieldIn(n, db != nullptr ? db->CurrentArea() : 0);
      }
      case NodeKind::kAliasField:
      case NodeKind::kAreaField:
      case NodeKind::kAliasExpr:
        return EvalAliased(n);
      case NodeKind::kList:
        return EvalBody(n->items, n);
      case NodeKind::kArray: {
        ValueArray items;
        items.reserve(n->items.size());
        for (Node* item : n->items) items.push_back(Eval(item));
        n->slot = Value::Array(std::move(items));
        return n->slot;
      }
      case NodeKind::kBlock: {
        std::shared_ptr<Env> env = env_ ? Snapshot(*env_) : nullptr;
        n->slot = Value::Block(std::make_shared<CodeBlock>(program_->shared_from_this(),
                                                           n->block_index, n->param_count,
                                                           std::move(env)));
        return n->slot;
      }
      case NodeKind::kIndex: {
        std::shared_ptr<ValueArray> array;
        size_t pos;
        if (IndexTarget(n, false, &array, &pos)) n->slot = (*array)[pos];
        return n->slot;
      }
      case NodeKind::kMacro:
        return EvalMacro(n);
      default:
        return Eval(n);  // the kinds Eval dispatches itself never come here
    }
  }

  const Value& EvalMacro(Node* n) {
    const Value& text = n->left != nullptr ? Eval(n->left) : EvalName(n);
    if (!text.is_string()) {
      ErrorAnswer a = Raise(kEgArg, kSubFunctionArgument, "&", false, true);
      n->slot = a.kind == ErrorAnswer::Kind::kSubstitute ? std::move(a.value) : Value();
      return n->slot;
    }
    if (!n->macro) n->macro = std::make_shared<MacroCache>();
    MacroCache& cache = *n->macro;
    if (!cache.program || cache.text != text.str()) {
      cache.text = text.str();
      CompileError error;
      cache.program = CompileProgram(cache.text, NestedLogicalChains(), &error);
      if (!cache.program) {
        RaiseError(error.ToRuntimeError(cache.text));
        n->slot = Value();
        return n->slot;
      }
    }
    std::shared_ptr<Program> keep = cache.program;  // the macro may recompile itself
    Program* run = IdleProgram(keep.get());
    DepthCharge charge(run->height);
    if (!charge.ok()) {
      n->slot = Value();
      return n->slot;
    }
    ActiveMark mark(run);
    ReleaseOnExit release(run);
    Evaluator inner(run, nullptr);
    n->slot = inner.Eval(run->root);
    return n->slot;
  }

  Program* program_;
  const std::shared_ptr<Env>* env_;  // parameters of the running block, or nullptr
};

// ----- Entry points --------------------------------------------------------------------------

const char* OpText(Op op) {
  const OpRow* r = RowOf(op);
  return r ? r->text : "";
}

int OpSubCode(Op op) {
  const OpRow* r = RowOf(op);
  return r ? r->sub_code : 0;
}

Op CompoundBase(Op op) {
  const OpRow* r = RowOf(op);
  return r ? r->base : Op::kNone;
}

Program* IdleProgram(Program* p) {
  if (p->active == 0) return p;
  for (const std::shared_ptr<Program>& clone : p->clones) {
    if (clone->active == 0) return clone.get();
  }
  // The text compiled before, so it compiles again to the same tree.
  std::shared_ptr<Program> clone = CompileProgram(p->text, p->nested_logical_chains, nullptr);
  if (!clone) return p;
  p->clones.push_back(std::move(clone));
  return p->clones.back().get();
}

const Value& EvalProgram(Program* p, Value* copy) {
  DepthCharge charge(p->height);
  if (!charge.ok()) {
    *copy = Value();
    return *copy;
  }
  ActiveMark mark(p);
  Evaluator ev(p, nullptr);
  if (p->blocks.empty()) return ev.Eval(p->root);
  ReleaseOnExit release(p);
  *copy = ev.Eval(p->root);
  return *copy;
}

void CallBlockValue(const Value& block, const Value* const* args, int count, Value* result) {
  const CodeBlock& cb = *block.block();
  // Keep the program alive even if the block value is overwritten while it runs.
  std::shared_ptr<Program> owner = cb.program()->shared_from_this();
  Program* p = IdleProgram(owner.get());
  DepthCharge charge(p->height);
  if (!charge.ok()) {
    *result = Value();
    return;
  }
  ActiveMark mark(p);
  ReleaseOnExit release(p);
  auto env = std::make_shared<Env>();
  env->vars.resize(static_cast<size_t>(cb.param_count()));
  for (int i = 0; i < count && i < cb.param_count(); ++i) env->vars[static_cast<size_t>(i)] = *args[i];
  env->parent = cb.env();
  Evaluator ev(p, &env);
  Node* node = p->blocks[static_cast<size_t>(cb.index())];
  *result = ev.EvalBody(node->items, node);
}

}  // namespace expr_internal
}  // namespace vosk
