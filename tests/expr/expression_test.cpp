// Behaviour of the compiled-expression API beyond single results: the error handler's answers,
// name resolution caches, code blocks, re-entrant evaluation, registered functions and the
// compiler's limits.

#include "expr/expression.h"

#include <gtest/gtest.h>

#include <string>

#include "expr/compare.h"
#include "expr/fake_database.h"
#include "expr/functions.h"
#include "expr/memvars.h"
#include "expr/settings.h"

namespace vosk {
namespace {

using testing::ScopedFakeDatabase;

class ExpressionTest : public ::testing::Test {
 protected:
  ExpressionTest() {
    GlobalSettings().Reset();
    ClearMemvars();
    fake_.db().Open(1, "CUST", {{"NAME", Value::String("Rossi")}, {"QTY", Value::Integer(12)}});
    fake_.db().Open(2, "ORD", {{"CODE", Value::String("A1")}});
    fake_.db().SelectArea(1);
  }
  ~ExpressionTest() override { ClearMemvars(); }

  std::unique_ptr<Expression> MustCompile(const std::string& text) {
    CompileError err;
    std::unique_ptr<Expression> e = Compile(text, &err);
    EXPECT_NE(e, nullptr) << text << ": " << err.message;
    return e;
  }

  ScopedFakeDatabase fake_;
};

// Records the errors it sees and answers with a fixed decision.
struct RecordingHandler {
  std::vector<RuntimeError> seen;
  ErrorHandler Answer(ErrorAnswer answer) {
    return [this, answer](const RuntimeError& e) {
      seen.push_back(e);
      return answer;
    };
  }
};

TEST_F(ExpressionTest, WithoutHandlerAnErrorAbandons) {
  ScopedErrorHandler none(nullptr);
  auto e = MustCompile("1 + 'a'");
  try {
    e->Eval();
    FAIL() << "no Abandon";
  } catch (const Abandon& a) {
    EXPECT_EQ(a.error().gen_code, kEgArg);
    EXPECT_EQ(a.error().sub_code, 1081);
    EXPECT_EQ(a.error().subsystem, "BASE");
    EXPECT_EQ(a.error().operation, "+");
  }
}

TEST_F(ExpressionTest, RetryOfMissingVariableRepeatsTheLookup) {
  int calls = 0;
  ScopedErrorHandler handler([&](const RuntimeError& e) {
    ++calls;
    EXPECT_EQ(e.gen_code, kEgNoVar);
    EXPECT_EQ(e.sub_code, 1003);
    EXPECT_EQ(e.operation, "LATE");
    EXPECT_TRUE(e.can_retry);
    SetMemvar("late", Value::Integer(41));
    return ErrorAnswer::Retry();
  });
  auto e = MustCompile("late + 1");
  EXPECT_EQ(e->Eval().integer(), 42);
  EXPECT_EQ(calls, 1);
}

TEST_F(ExpressionTest, RetryOfUnknownAliasRepeatsTheLookup) {
  ScopedErrorHandler handler([&](const RuntimeError& e) {
    EXPECT_EQ(e.gen_code, kEgNoAlias);
    EXPECT_EQ(e.sub_code, 1002);
    fake_.db().Open(3, "LATER", {{"X", Value::Integer(7)}});
    return ErrorAnswer::Retry();
  });
  EXPECT_EQ(MustCompile("LATER->X")->Eval().integer(), 7);
}

TEST_F(ExpressionTest, SubstitutedValueStandsForTheFailedOperation) {
  RecordingHandler rec;
  ScopedErrorHandler handler(rec.Answer(ErrorAnswer::Substitute(Value::Integer(100))));
  EXPECT_EQ(MustCompile("('a' * 2) + 1")->Eval().integer(), 101);
  EXPECT_EQ(MustCompile("7 / 0 + 1")->Eval().integer(), 101);
  EXPECT_EQ(MustCompile("LEFT(1, 2)")->Eval().integer(), 100);
  ASSERT_EQ(rec.seen.size(), 3u);
  EXPECT_EQ(rec.seen[1].gen_code, kEgZeroDiv);
  EXPECT_TRUE(rec.seen[1].can_substitute);
}

TEST_F(ExpressionTest, DefaultAnswerGivesNilExceptForZeroDivisor) {
  RecordingHandler rec;
  ScopedErrorHandler handler(rec.Answer(ErrorAnswer::Default()));
  EXPECT_TRUE(MustCompile("'a' * 2")->Eval().is_nil());
  Value zero = MustCompile("7 / 0")->Eval();
  ASSERT_TRUE(zero.is_numeric());
  EXPECT_EQ(zero.number(), 0.0);
  EXPECT_TRUE(MustCompile("NOSUCH")->Eval().is_nil());
  // A retry answer to an error that does not allow one counts as default.
  RecordingHandler retry;
  ScopedErrorHandler h2(retry.Answer(ErrorAnswer::Retry()));
  EXPECT_TRUE(MustCompile("'a' * 2")->Eval().is_nil());
}

TEST_F(ExpressionTest, AliasedEvaluationRestoresTheAreaWhenAbandoned) {
  ScopedErrorHandler none(nullptr);
  auto e = MustCompile("ORD->(1 + 'x')");
  EXPECT_THROW(e->Eval(), Abandon);
  EXPECT_EQ(fake_.db().CurrentArea(), 1);
  EXPECT_EQ(MustCompile("ORD->(CODE) + NAME")->Eval().str(), "A1Rossi");
  EXPECT_EQ(fake_.db().CurrentArea(), 1);
}

TEST_F(ExpressionTest, FieldPositionIsResolvedOnceWhileTheAreaIsUnchanged) {
  auto e = MustCompile("QTY + 1");
  fake_.db().field_pos_calls = 0;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(e->Eval().integer(), 13);
  EXPECT_EQ(fake_.db().field_pos_calls, 1);

  // Another table in the same area: the name is resolved again, at its new position.
  fake_.db().Open(1, "CUST", {{"OTHER", Value::Integer(0)}, {"QTY", Value::Integer(50)}});
  EXPECT_EQ(e->Eval().integer(), 51);
  EXPECT_EQ(fake_.db().field_pos_calls, 2);
}

TEST_F(ExpressionTest, WithoutStampsNamesAreResolvedAtEveryEvaluation) {
  fake_.db().set_track_stamps(false);
  auto e = MustCompile("QTY + 1");
  EXPECT_EQ(e->Eval().integer(), 13);
  fake_.db().Open(1, "CUST", {{"OTHER", Value::Integer(0)}, {"QTY", Value::Integer(50)}});
  EXPECT_EQ(e->Eval().integer(), 51);
}

TEST_F(ExpressionTest, CachedNamesFollowTheCurrentArea) {
  SetMemvar("CODE", Value::String("memvar"));
  auto e = MustCompile("CODE");
  EXPECT_EQ(e->Eval().str(), "memvar");  // area 1 has no field CODE
  fake_.db().SelectArea(2);
  EXPECT_EQ(e->Eval().str(), "A1");
  fake_.db().SelectArea(1);
  EXPECT_EQ(e->Eval().str(), "memvar");
}

TEST_F(ExpressionTest, AliasAreaFollowsAReopenedTable) {
  auto e = MustCompile("ORD->CODE");
  EXPECT_EQ(e->Eval().str(), "A1");
  fake_.db().Close(2);
  fake_.db().Open(4, "ORD", {{"X", Value()}, {"CODE", Value::String("B2")}});
  EXPECT_EQ(e->Eval().str(), "B2");
}

TEST_F(ExpressionTest, ReleasedVariableIsNotReadThroughAStaleCache) {
  SetMemvar("v", Value::String("first"));
  auto e = MustCompile("v");
  EXPECT_EQ(e->Eval().str(), "first");
  ASSERT_TRUE(ReleaseMemvar("V"));
  RecordingHandler rec;
  {
    ScopedErrorHandler handler(rec.Answer(ErrorAnswer::Default()));
    EXPECT_TRUE(e->Eval().is_nil());
  }
  ASSERT_EQ(rec.seen.size(), 1u);
  EXPECT_EQ(rec.seen[0].gen_code, kEgNoVar);
  SetMemvar("v", Value::String("second"));
  EXPECT_EQ(e->Eval().str(), "second");
}

TEST_F(ExpressionTest, EvalLogicalIsTrueOnlyForLogicalTrue) {
  EXPECT_TRUE(MustCompile("QTY = 12")->EvalLogical());
  EXPECT_FALSE(MustCompile("QTY = 13")->EvalLogical());
  EXPECT_FALSE(MustCompile("1")->EvalLogical());
  EXPECT_FALSE(MustCompile("NIL")->EvalLogical());
}

TEST_F(ExpressionTest, BlockOutlivesTheExpressionThatMadeIt) {
  Value block;
  {
    auto e = MustCompile("{|x| {x + 1, NAME}}");
    block = e->Eval();
  }
  ASSERT_TRUE(block.is_block());
  EXPECT_EQ(block.block()->text(), "{|x| {x + 1, NAME}}");
  EXPECT_EQ(block.block()->param_count(), 1);
  Value row = CallBlock(block, {Value::Integer(1)});
  ASSERT_TRUE(row.is_array());
  EXPECT_EQ(row.array()[0].integer(), 2);
  EXPECT_EQ(row.array()[1].str(), "Rossi");
  // Each call builds a new array: rows handed out earlier keep their values.
  Value row2 = CallBlock(block, {Value::Integer(5)});
  EXPECT_EQ(row.array()[0].integer(), 2);
  EXPECT_EQ(row2.array()[0].integer(), 6);
}

TEST_F(ExpressionTest, CallBlockRefusesAValueThatIsNotABlock) {
  RecordingHandler rec;
  ScopedErrorHandler handler(rec.Answer(ErrorAnswer::Default()));
  EXPECT_TRUE(CallBlock(Value::Integer(1)).is_nil());
  ASSERT_EQ(rec.seen.size(), 1u);
  EXPECT_EQ(rec.seen[0].operation, "EVAL");
}

// A function that evaluates the very expression that called it: the outer evaluation's
// intermediate values must survive the inner one.
TEST_F(ExpressionTest, ReentrantEvaluationKeepsTheOuterIntermediateValues) {
  std::unique_ptr<Expression> e;
  int depth = 0;
  RegisterFunction("AGAIN", [&](const ValueArray&) -> Value {
    if (depth == 2) return Value::Integer(0);
    ++depth;
    SetMemvar("lvl", Value::Integer(depth + 1));
    Value inner = e->Eval();
    SetMemvar("lvl", Value::Integer(depth));
    --depth;
    return inner;
  }, false);
  SetMemvar("lvl", Value::Integer(1));
  e = MustCompile("lvl * 10 + AGAIN()");
  EXPECT_EQ(e->Eval().integer(), 60);  // 10 + (20 + (30 + 0))
  EXPECT_EQ(e->Eval().integer(), 60);
  UnregisterFunction("AGAIN");
}

TEST_F(ExpressionTest, RegisteredFunctionsAreResolvedWhenCalled) {
  auto e = MustCompile("TWICE(QTY)");
  RecordingHandler rec;
  {
    ScopedErrorHandler handler(rec.Answer(ErrorAnswer::Default()));
    EXPECT_TRUE(e->Eval().is_nil());
  }
  ASSERT_EQ(rec.seen.size(), 1u);
  EXPECT_EQ(rec.seen[0].gen_code, kEgNoFunc);
  EXPECT_EQ(rec.seen[0].sub_code, 1001);
  EXPECT_EQ(rec.seen[0].operation, "TWICE");

  RegisterFunction("twice", [](const ValueArray& args) {
    return Value::Integer(args.at(0).integer() * 2);
  });
  EXPECT_EQ(e->Eval().integer(), 24);
  // A registered function takes the place of a built-in one of the same name.
  RegisterFunction("UPPER", [](const ValueArray&) { return Value::String("mine"); }, false);
  EXPECT_EQ(MustCompile("UPPER(NAME)")->Eval().str(), "mine");
  UnregisterFunction("UPPER");
  UnregisterFunction("TWICE");
  EXPECT_EQ(MustCompile("UPPER(NAME)")->Eval().str(), "ROSSI");
}

TEST_F(ExpressionTest, TypeDoesNotRunUserDefinedFunctions) {
  int calls = 0;
  RegisterFunction("MYUDF", [&](const ValueArray&) {
    ++calls;
    return Value::Integer(1);
  });
  EXPECT_EQ(TYPE(Value::String("MYUDF() + 1")), "UI");
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(MustCompile("MYUDF() + 1")->Eval().integer(), 2);
  UnregisterFunction("MYUDF");
}

TEST_F(ExpressionTest, TypeLeavesTheInstalledHandlerInPlace) {
  RecordingHandler rec;
  ScopedErrorHandler handler(rec.Answer(ErrorAnswer::Default()));
  EXPECT_EQ(TYPE(Value::String("1 / 0")), "UE");
  EXPECT_EQ(TYPE(Value::String("NOSUCH")), "U");
  EXPECT_TRUE(rec.seen.empty());
  EXPECT_TRUE(MustCompile("'a' * 2")->Eval().is_nil());
  EXPECT_EQ(rec.seen.size(), 1u);
}

TEST_F(ExpressionTest, WorkAreaFunctionsNeedAnEngine) {
  SetDatabaseAccess(nullptr);
  RecordingHandler rec;
  ScopedErrorHandler handler(rec.Answer(ErrorAnswer::Default()));
  EXPECT_TRUE(MustCompile("RECNO()")->Eval().is_nil());
  ASSERT_EQ(rec.seen.size(), 1u);
  EXPECT_EQ(rec.seen[0].gen_code, kEgNoFunc);
  // Bare names are memory variables only.
  SetMemvar("NAME", Value::String("var"));
  EXPECT_EQ(MustCompile("NAME")->Eval().str(), "var");
  SetDatabaseAccess(&fake_.db());
}

TEST_F(ExpressionTest, CompileErrorTellsWhereAndWhat) {
  CompileError err;
  EXPECT_EQ(Compile("QTY + * 2", &err), nullptr);
  EXPECT_EQ(err.gen_code, kEgSyntax);
  EXPECT_EQ(err.sub_code, 1449);
  EXPECT_EQ(err.position, 6);
  RuntimeError r = err.ToRuntimeError("QTY + * 2");
  EXPECT_EQ(r.subsystem, "BASE");
  EXPECT_EQ(r.operation, "QTY + * 2");
  EXPECT_EQ(r.description, "");
  EXPECT_EQ(Compile("", &err), nullptr);
}

TEST_F(ExpressionTest, EvalTextRaisesSyntaxErrors) {
  RecordingHandler rec;
  ScopedErrorHandler handler(rec.Answer(ErrorAnswer::Default()));
  EXPECT_EQ(EvalText("QTY * 2").integer(), 24);
  EXPECT_TRUE(EvalText("QTY *").is_nil());
  ASSERT_EQ(rec.seen.size(), 1u);
  EXPECT_EQ(rec.seen[0].gen_code, kEgSyntax);
}

TEST_F(ExpressionTest, NestingBeyondTheLimitsIsRefused) {
  struct Case {
    std::string text;
    int gen_code;  // 0: compiles
  };
  std::string parens = std::string(300, '(') + "1" + std::string(300, ')');
  std::string minus;
  for (int i = 0; i < 300; ++i) minus += "- ";
  minus += "1";
  std::string calls;
  for (int i = 0; i < 300; ++i) calls += "ABS(";
  calls += "1" + std::string(300, ')');
  std::string long_chain = "1", short_chain = "1";
  for (int i = 0; i < 5000; ++i) long_chain += "+1";
  for (int i = 0; i < 399; ++i) short_chain += "+1";
  std::string blocks;
  for (int i = 0; i < 300; ++i) blocks += "{||";
  blocks += std::string(300, '}');
  const Case cases[] = {
      {parens, kEgComplexity}, {minus, kEgComplexity}, {calls, kEgComplexity},
      {long_chain, kEgComplexity}, {blocks, kEgComplexity}, {short_chain, 0},
  };
  for (const Case& c : cases) {
    CompileError err;
    std::unique_ptr<Expression> e = Compile(c.text, &err);
    if (c.gen_code == 0) {
      ASSERT_NE(e, nullptr) << err.message;
      EXPECT_EQ(e->Eval().integer(), 400);
    } else {
      EXPECT_EQ(e, nullptr) << c.text.substr(0, 20);
      EXPECT_EQ(err.gen_code, c.gen_code);
      EXPECT_EQ(err.sub_code, 1450);
    }
  }
}

TEST_F(ExpressionTest, CollationDecidesTheOrderOfTexts) {
  uint8_t weights[256];
  for (int i = 0; i < 256; ++i) weights[i] = static_cast<uint8_t>(i);
  for (int c = 'a'; c <= 'z'; ++c) weights[c] = static_cast<uint8_t>(c - 'a' + 'A');
  const uint8_t* previous = SetCollation(weights);
  EXPECT_TRUE(MustCompile("'a' < 'B'")->EvalLogical());
  EXPECT_TRUE(MustCompile("'abc' = 'ABC'")->EvalLogical());
  EXPECT_FALSE(MustCompile("'abc' == 'ABC'")->EvalLogical());  // == compares bytes
  SetCollation(previous);
  EXPECT_FALSE(MustCompile("'a' < 'B'")->EvalLogical());
  EXPECT_FALSE(MustCompile("'abc' = 'ABC'")->EvalLogical());
}

TEST_F(ExpressionTest, ValueToTextShowsEachType) {
  EXPECT_EQ(ValueToText(Value()), "NIL");
  EXPECT_EQ(ValueToText(Value::Logical(true)), ".T.");
  EXPECT_EQ(ValueToText(Value::Integer(-5)), "-5");
  EXPECT_EQ(ValueToText(Value::Double(2.5, 0, 2)), "2.50");
  EXPECT_EQ(ValueToText(Value::Date(JulianFromYmd(2024, 1, 31))), "01/31/24");
  EXPECT_EQ(ValueToText(MustCompile("{1, 'a', {}}")->Eval()), "{1, \"a\", {}}");
}

}  // namespace
}  // namespace vosk
