// Fuzzing the compiler and evaluator: mutations of the expressions of cases.txt and random
// bytes, compiled, evaluated under changing error-handler answers, and classified by TYPE().
// Nothing is checked but that no input crashes, hangs, leaks or trips the sanitizers, and that
// TYPE() answers one of its codes. Iterations are bounded so that the run takes seconds; set
// EXPR_FUZZ_ITERATIONS for a longer run.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "expr/expression.h"
#include "expr/fake_database.h"
#include "expr/functions.h"
#include "expr/memvars.h"
#include "expr/settings.h"

namespace vosk {
namespace {

using testing::ScopedFakeDatabase;

std::vector<std::string> Seeds() {
  std::vector<std::string> seeds;
  std::ifstream in(std::string(VOSK_SOURCE_DIR) + "/tests/expr/cases.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line[0] == '%') continue;
    if (line[0] == '>') {
      seeds.push_back(line.substr(1));
      continue;
    }
    seeds.push_back(line.substr(0, line.find('\t')));
  }
  return seeds;
}

const char* const kFragments[] = {
    "(", ")", "[", "]", "{", "}", "{||", "{|x|", "|", ",", "->", "FIELD->", "M->", ":=", "+=",
    "++", "--", "+", "-", "*", "/", "%", "^", "**", "$", "=", "==", "!=", "<", ">=", ".AND.",
    ".OR.", ".NOT.", "!", ".T.", ".F.", "NIL", "IIF(", "EVAL(", "&", "&(", "\"", "'", "E\"\\",
    "0d20240229", "0x", "1", "0", "-1", "1.5", "99999999999999999999", "NAME", "QTY", "STAMP",
    "CUST->", "ORD->", "(2)->", "arr", "blk", "loop", "txt", "LEN(", "SUBSTR(", "STR(",
    "TRANSFORM(", "REPLICATE(", "SPACE(", "PADR(", "CTOD(", "DTOC(", "TYPE(", "STRTRAN(",
    "DESCEND(", "FIELDGET(", "RECNO()", "1/0", " LIKE ", " IN ", " HAS ", "<<", ">>", "^^",
};

std::string Mutate(std::string s, const std::vector<std::string>& seeds, std::mt19937& rng) {
  auto pick = [&](size_t n) { return n == 0 ? size_t{0} : std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  int steps = 1 + static_cast<int>(pick(4));
  for (int i = 0; i < steps; ++i) {
    size_t pos = pick(s.size() + 1);
    switch (pick(7)) {
      case 0:  // flip a byte
        if (!s.empty()) s[pick(s.size())] = static_cast<char>(pick(256));
        break;
      case 1:  // insert a fragment
        s.insert(pos, kFragments[pick(sizeof kFragments / sizeof kFragments[0])]);
        break;
      case 2:  // delete a range
        if (!s.empty()) s.erase(pick(s.size()), 1 + pick(8));
        break;
      case 3: {  // duplicate a range
        if (s.empty()) break;
        size_t from = pick(s.size());
        s.insert(pos, s.substr(from, 1 + pick(16)));
        break;
      }
      case 4: {  // splice another seed
        const std::string& other = seeds[pick(seeds.size())];
        s = s.substr(0, pos) + other.substr(pick(other.size() + 1));
        break;
      }
      case 5:  // truncate
        s.resize(pos);
        break;
      default:  // wrap in parentheses or a block
        s = (pick(2) ? "(" + s + ")" : "{|x| " + s + "}");
        break;
    }
  }
  return s;
}

std::string RandomBytes(std::mt19937& rng) {
  std::uniform_int_distribution<int> len(0, 40), byte(0, 255), printable(32, 126);
  std::string s(static_cast<size_t>(len(rng)), ' ');
  bool ascii = byte(rng) < 200;
  for (char& c : s) c = static_cast<char>(ascii ? printable(rng) : byte(rng));
  return s;
}

struct FuzzStop {};

TEST(ExpressionFuzz, NoInputCrashes) {
  ScopedFakeDatabase fake;
  fake.db().Open(1, "CUST", {{"NAME", Value::String("Rossi")}, {"QTY", Value::Integer(12)},
                             {"STAMP", Value::Timestamp(2460341, 1000)}});
  fake.db().Open(2, "ORD", {{"CODE", Value::String("A1")}});
  fake.db().SelectArea(1);
  GlobalSettings().Reset();
  ClearMemvars();
  SetMaxStringLengthForTesting(1 << 20);
  SetMemvar("arr", Value::Array({Value::Integer(1), Value::String("x")}));
  SetMemvar("txt", Value::String("QTY + 1"));
  SetMemvar("loop", EvalText("{|| EVAL(loop)}"));
  SetMemvar("blk", EvalText("{|a, b| a + b}"));

  std::vector<std::string> seeds = Seeds();
  ASSERT_FALSE(seeds.empty());
  int iterations = 30000;
  if (const char* env = std::getenv("EXPR_FUZZ_ITERATIONS")) iterations = std::atoi(env);
  std::mt19937 rng(20240131);
  const std::set<std::string> kTypeCodes = {"C", "N", "D", "T", "L", "M", "A", "B", "U", "UE", "UI"};

  int mode = 0, retries = 0;
  ScopedErrorHandler handler([&](const RuntimeError&) -> ErrorAnswer {
    switch (mode) {
      case 0: throw FuzzStop{};
      case 1: return ErrorAnswer::Default();
      case 2: return ErrorAnswer::Substitute(Value::Integer(0));
      default: return ++retries < 3 ? ErrorAnswer::Retry() : ErrorAnswer::Default();
    }
  });
  for (int i = 0; i < iterations; ++i) {
    std::string text = (i % 5 == 4) ? RandomBytes(rng)
                                     : Mutate(seeds[static_cast<size_t>(rng() % seeds.size())], seeds, rng);
    mode = i % 4;
    retries = 0;
    try {
      CompileError err;
      std::unique_ptr<Expression> e = Compile(text, &err);
      if (e) {
        Value v = e->Eval();
        if (v.is_block()) CallBlock(v, {Value::Integer(1), Value::String("a")});
        e->EvalLogical();
      }
    } catch (const FuzzStop&) {
    }
    std::string type = TYPE(Value::String(text));
    ASSERT_TRUE(kTypeCodes.count(type)) << text << " -> " << type;
    // Expressions may assign the test's tables and variables; put back what the next ones use.
    fake.db().SelectArea(1);
    if (i % 100 == 0) {
      GlobalSettings().Reset();
      SetMemvar("loop", EvalText("{|| EVAL(loop)}"));
    }
  }
  SetMaxStringLengthForTesting(0);
  GlobalSettings().Reset();
  ClearMemvars();
}

}  // namespace
}  // namespace vosk
