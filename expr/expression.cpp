#include "expr/expression.h"

#include "expr/expr_errors.h"
#include "expr/functions.h"
#include "expr/program.h"
#include "expr/date_text.h"
#include "expr/number_text.h"

namespace vosk {

using expr_internal::Program;

namespace {

bool g_nested_logical_chains = false;

// Thrown by TYPE()'s handler to stop the evaluation at the first error.
struct TypeProbeFailure {
  int gen_code;
};

std::string ArrayText(const Value& v, int depth);

std::string ElementText(const Value& v, int depth) {
  if (v.is_string()) return "\"" + v.str() + "\"";
  if (v.is_array()) return ArrayText(v, depth + 1);
  return ValueToText(v);
}

std::string ArrayText(const Value& v, int depth) {
  if (depth > 8) return "{...}";
  std::string out = "{";
  bool first = true;
  for (const Value& item : v.array()) {
    if (!first) out += ", ";
    first = false;
    out += ElementText(item, depth);
  }
  return out + "}";
}

}  // namespace

RuntimeError CompileError::ToRuntimeError(std::string_view text) const {
  RuntimeError e;
  e.gen_code = gen_code;
  e.subsystem = "BASE";
  e.sub_code = sub_code;
  e.operation.assign(text);
  e.can_default = true;
  return e;
}

Expression::Expression(std::shared_ptr<Program> program) : program_(std::move(program)) {}
Expression::~Expression() = default;

const std::string& Expression::text() const { return program_->text; }

bool Expression::calls_user_function() const { return program_->calls_user_function; }

const Value& Expression::EvalRef() {
  Program* run = program_->active == 0 ? program_.get()
                                        : expr_internal::IdleProgram(program_.get());
  const Value& v = expr_internal::EvalProgram(run, &result_);
  if (run == program_.get() || &v == &result_) return v;
  // A re-entrant evaluation ran on a clone whose slots the next one reuses: keep a copy.
  result_ = v;
  return result_;
}

Value Expression::Eval() { return EvalRef(); }

bool Expression::EvalLogical() {
  const Value& v = EvalRef();
  return v.is_logical() && v.logical();
}

std::unique_ptr<Expression> Compile(std::string_view text, CompileError* error) {
  std::shared_ptr<Program> program =
      expr_internal::CompileProgram(text, g_nested_logical_chains, error);
  if (!program) return nullptr;
  return std::make_unique<Expression>(std::move(program));
}

Value EvalText(std::string_view text) {
  CompileError error;
  std::unique_ptr<Expression> e = Compile(text, &error);
  if (!e) {
    RaiseError(error.ToRuntimeError(text));
    return Value();
  }
  return e->Eval();
}

Value CallBlock(const Value& block, const ValueArray& args) {
  if (!block.is_block()) {
    Value result;
    RaiseArgumentError(&result, kSubFunctionArgument, "EVAL");
    return result;
  }
  std::vector<const Value*> argv;
  argv.reserve(args.size());
  for (const Value& a : args) argv.push_back(&a);
  Value result;
  expr_internal::CallBlockValue(block, argv.data(), static_cast<int>(argv.size()), &result);
  return result;
}

std::string TYPE(const Value& text) {
  if (!text.is_string()) {
    Value ignored;
    RaiseArgumentError(&ignored, kSubTypeArgument, "TYPE");
    return "U";
  }
  std::unique_ptr<Expression> e = Compile(text.str());
  if (!e) return "UE";
  if (e->calls_user_function()) return "UI";
  try {
    ScopedErrorHandler probe([](const RuntimeError& err) -> ErrorAnswer {
      throw TypeProbeFailure{err.gen_code};
    });
    const Value& v = e->EvalRef();
    return std::string(1, v.type_letter());
  } catch (const TypeProbeFailure& f) {
    return f.gen_code == kEgNoVar ? "U" : "UE";
  }
}

std::string VALTYPE(const Value& value) { return std::string(1, value.type_letter()); }

std::string ValueToText(const Value& v) {
  switch (v.type()) {
    case Value::Type::kNil: return "NIL";
    case Value::Type::kLogical: return v.logical() ? ".T." : ".F.";
    case Value::Type::kInteger:
    case Value::Type::kDouble: {
      std::string s = StrOf(v);
      size_t start = s.find_first_not_of(' ');
      return start == std::string::npos ? std::string() : s.substr(start);
    }
    case Value::Type::kDate: return DateToText(v.julian());
    case Value::Type::kTimestamp: return TimestampToText(v.julian(), v.millis());
    case Value::Type::kString: return v.str();
    case Value::Type::kArray: return ArrayText(v, 0);
    case Value::Type::kBlock: return v.block()->text();
  }
  return std::string();
}

void SetNestedLogicalChains(bool on) { g_nested_logical_chains = on; }
bool NestedLogicalChains() { return g_nested_logical_chains; }

CodeBlock::CodeBlock(std::shared_ptr<Program> program, int index, int param_count,
                     std::shared_ptr<expr_internal::Env> env)
    : program_(std::move(program)), index_(index), param_count_(param_count),
      env_(std::move(env)) {}

CodeBlock::~CodeBlock() = default;

std::string CodeBlock::text() const {
  const expr_internal::Node* n = program_->blocks[static_cast<size_t>(index_)];
  size_t begin = static_cast<size_t>(n->text_begin);
  size_t end = static_cast<size_t>(n->text_end);
  if (end > program_->text.size() || begin > end) return std::string();
  return program_->text.substr(begin, end - begin);
}

}  // namespace vosk
