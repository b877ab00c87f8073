// The parser: table-driven operator parsing, re-balancing of binary nodes by precedence, and
// the constant folding done at compile time.
//
// Grammar (one production per parse function):
//   expression := chain(0)
//   chain(p)   := unary { binop unary }        binop of precedence >= p, nested to the right,
//                                              each node re-balanced as it is built
//   unary      := "-" unary | "+" unary | ".NOT." chain(38) | "++" unary | "--" unary
//               | postfix
//   postfix    := primary { "[" expression { "," expression } "]" | "++" | "--"
//                         | "->" name | "->" "(" list ")" }     ("->" only after "( )")
//   primary    := number | string | date | .T. | .F. | NIL | "(" list ")"
//               | "{" [ list ] "}" | "{" "|" [ names ] "|" [ list ] "}"
//               | name | name "(" [ args ] ")" | IIF "(" args ")" | IF "(" args ")"
//               | alias "->" name | alias "->" "(" list ")" | FIELD "->" name
//               | "&" name | "&" "(" expression ")"

#include <algorithm>
#include <cstring>

#include "expr/expr_errors.h"
#include "expr/expression.h"
#include "expr/program.h"

namespace vosk {
namespace expr_internal {
namespace {

// Binary operators: the token (or keyword) that writes it, and its precedence value (higher
// binds tighter). Operators of equal precedence group left to right; assignments (0) group
// right to left. The bitwise operators sit above "^" at one fixed value.
struct BinaryRule {
  Tok tok;
  const char* keyword;  // for the keyword operators, written as identifiers
  Op op;
  int precedence;
};
constexpr BinaryRule kBinaryRules[] = {
    {Tok::kBitOr, nullptr, Op::kBitOr, 55},
    {Tok::kBitXor, nullptr, Op::kBitXor, 55},
    {Tok::kShl, nullptr, Op::kShl, 55},
    {Tok::kShr, nullptr, Op::kShr, 55},
    {Tok::kPower, nullptr, Op::kPower, 54},          // ^ **
    {Tok::kStar, nullptr, Op::kMul, 51},
    {Tok::kSlash, nullptr, Op::kDiv, 51},
    {Tok::kPercent, nullptr, Op::kMod, 51},
    {Tok::kPlus, nullptr, Op::kAdd, 49},
    {Tok::kMinus, nullptr, Op::kSub, 49},
    {Tok::kDollar, nullptr, Op::kContains, 46},
    {Tok::kIdent, "IN", Op::kIn, 46},
    {Tok::kLt, nullptr, Op::kLt, 41},
    {Tok::kGt, nullptr, Op::kGt, 41},
    {Tok::kLe, nullptr, Op::kLe, 41},
    {Tok::kGe, nullptr, Op::kGe, 41},
    {Tok::kIdent, "LIKE", Op::kLike, 41},
    {Tok::kIdent, "HAS", Op::kHas, 41},
    {Tok::kEq, nullptr, Op::kEq, 39},
    {Tok::kEqEq, nullptr, Op::kEqEq, 39},
    {Tok::kNe, nullptr, Op::kNe, 39},                // != <> #
    {Tok::kAnd, nullptr, Op::kAnd, 37},
    {Tok::kOr, nullptr, Op::kOr, 36},
    {Tok::kAssign, nullptr, Op::kAssign, 0},
    {Tok::kPlusEq, nullptr, Op::kAddAssign, 0},
    {Tok::kMinusEq, nullptr, Op::kSubAssign, 0},
    {Tok::kStarEq, nullptr, Op::kMulAssign, 0},
    {Tok::kSlashEq, nullptr, Op::kDivAssign, 0},
    {Tok::kPercentEq, nullptr, Op::kModAssign, 0},
    {Tok::kPowerEq, nullptr, Op::kPowAssign, 0},
};

// .NOT. takes the comparison or arithmetic that follows: operators above .AND.
constexpr int kNotOperandPrecedence = 38;
// Nesting of parentheses, calls, blocks and unary operators while parsing.
constexpr int kMaxParseDepth = 200;
// Height of the finished tree (long operator chains build deep trees).
constexpr int kMaxTreeHeight = 512;
// Operators in one chain: re-balancing walks the left spine of the chain built so far, so a
// chain costs quadratic time in its length.
constexpr size_t kMaxChainOperators = 1024;

int PrecedenceOf(Op op) {
  for (const BinaryRule& r : kBinaryRules) {
    if (r.op == op) return r.precedence;
  }
  return 2;
}

bool IsAssignment(Op op) { return PrecedenceOf(op) == 0; }

bool IsLvalue(const Node* n) {
  if (n->grouped) return false;
  switch (n->kind) {
    case NodeKind::kName: case NodeKind::kMemvar: case NodeKind::kField:
    case NodeKind::kAliasField: case NodeKind::kAreaField: case NodeKind::kParam:
    case NodeKind::kIndex:
      return true;
    default:
      return false;
  }
}

struct ParseFailure {
  int gen_code;
  int position;
  std::string message;
};

class Parser {
 public:
  Parser(Program* program, const std::vector<Token>& tokens)
      : program_(program), tokens_(tokens) {}

  Node* ParseAll() {
    Node* root = ParseExpression();
    if (Peek().kind != Tok::kEnd) Fail(Peek().position, "unexpected token");
    return root;
  }

 private:
  const Token& Peek(size_t k = 0) const {
    size_t i = std::min(pos_ + k, tokens_.size() - 1);
    return tokens_[i];
  }
  const Token& Next() {
    const Token& t = tokens_[pos_];
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return t;
  }
  bool Accept(Tok kind) {
    if (Peek().kind != kind) return false;
    Next();
    return true;
  }
  void Expect(Tok kind, const char* what) {
    if (!Accept(kind)) Fail(Peek().position, std::string("expected ") + what);
  }
  [[noreturn]] void Fail(int position, std::string message, int gen_code = 7) {
    throw ParseFailure{gen_code, position, std::move(message)};
  }

  class DepthGuard {
   public:
    explicit DepthGuard(Parser* p) : p_(p) {
      if (++p_->depth_ > kMaxParseDepth) {
        p_->Fail(p_->Peek().position, "expression nested too deeply", 8);
      }
    }
    ~DepthGuard() { --p_->depth_; }

   private:
    Parser* p_;
  };

  Node* New(NodeKind kind, int position) { return program_->NewNode(kind, position); }

  const BinaryRule* BinaryRuleAt(const Token& t) const {
    for (const BinaryRule& r : kBinaryRules) {
      if (r.tok != t.kind) continue;
      if (r.keyword == nullptr || t.text == r.keyword) return &r;
    }
    return nullptr;
  }

  Node* ParseExpression() { return ParseChain(0); }

  // chain(p): operands and operators collected left to right, then nested to the right from
  // the last operand backwards, re-balancing each node as it gets its right operand.
  Node* ParseChain(int min_precedence) {
    DepthGuard guard(this);
    std::vector<Node*> operands{ParseUnary()};
    std::vector<std::pair<const BinaryRule*, int>> operators;
    while (const BinaryRule* rule = BinaryRuleAt(Peek())) {
      if (rule->precedence < min_precedence) break;
      int position = Next().position;
      if (operators.size() == kMaxChainOperators) {
        Fail(position, "too many operators in one expression", 8);
      }
      operators.emplace_back(rule, position);
      operands.push_back(ParseUnary());
    }
    Node* right = operands.back();
    for (size_t i = operators.size(); i-- > 0;) {
      right = MakeBinary(*operators[i].first, operators[i].second, operands[i], right);
    }
    return right;
  }

  // Builds `left op right` and fixes its grouping:
  //  1. a right operand that is no binary node (an ordinary operand) becomes the right child;
  //  2. a binary right operand of higher precedence stays the right child;
  //  3. otherwise the new node is pushed down into the right operand's left side, recursively,
  //     so operators of equal precedence group left to right;
  //  4. with nested logical chains, .AND. under .AND. (.OR. under .OR.) stays to the right;
  //  5. only an assignment accepts an assignment as its right operand.
  Node* MakeBinary(const BinaryRule& rule, int position, Node* left, Node* right) {
    if (IsAssignment(rule.op)) {
      if (!IsLvalue(left)) Fail(position, "assignment to something that is not a variable");
      Node* n = New(NodeKind::kAssign, position);
      n->op = rule.op;
      n->left = left;
      n->right = right;
      return n;
    }
    if (right->kind == NodeKind::kAssign && !right->grouped) {
      Fail(right->position, "assignment inside an expression");
    }
    Node* n = New(NodeKind::kBinary, position);
    n->op = rule.op;
    n->left = left;
    Node* parent = nullptr;
    Node* cur = right;
    while (cur->kind == NodeKind::kBinary && !cur->grouped &&
           rule.precedence >= PrecedenceOf(cur->op)) {
      if (program_->nested_logical_chains && cur->op == rule.op &&
          (rule.op == Op::kAnd || rule.op == Op::kOr)) {
        break;
      }
      parent = cur;
      cur = cur->left;
    }
    n->right = cur;
    if (parent == nullptr) return n;
    parent->left = n;
    return right;
  }

  Node* ParseUnary() {
    DepthGuard guard(this);
    const Token& t = Peek();
    switch (t.kind) {
      case Tok::kMinus:
      case Tok::kPlus: {
        Node* n = New(NodeKind::kUnary, Next().position);
        n->op = t.kind == Tok::kMinus ? Op::kNeg : Op::kPlus;
        n->left = ParseUnary();
        return n;
      }
      case Tok::kNot: {
        Node* n = New(NodeKind::kUnary, Next().position);
        n->op = Op::kNot;
        n->left = ParseChain(kNotOperandPrecedence);
        return n;
      }
      case Tok::kInc:
      case Tok::kDec: {
        Node* n = New(NodeKind::kUnary, Next().position);
        n->op = t.kind == Tok::kInc ? Op::kPreInc : Op::kPreDec;
        n->left = ParseUnary();
        if (!IsLvalue(n->left)) Fail(n->position, "++ or -- needs a variable");
        return n;
      }
      default:
        return ParsePostfix(ParsePrimary());
    }
  }

  Node* ParsePostfix(Node* node) {
    while (true) {
      const Token& t = Peek();
      if (t.kind == Tok::kLBracket) {
        Next();
        do {
          Node* index = New(NodeKind::kIndex, t.position);
          index->left = node;
          index->right = ParseExpression();
          node = index;
        } while (Accept(Tok::kComma));
        Expect(Tok::kRBracket, "]");
      } else if (t.kind == Tok::kInc || t.kind == Tok::kDec) {
        if (!IsLvalue(node)) Fail(t.position, "++ or -- needs a variable");
        Node* n = New(NodeKind::kUnary, Next().position);
        n->op = t.kind == Tok::kInc ? Op::kPostInc : Op::kPostDec;
        n->left = node;
        node = n;
      } else if (t.kind == Tok::kArrow) {
        if (!node->grouped) Fail(t.position, "-> needs an alias");
        Next();
        node = ParseAliased(nullptr, node, t.position);
      } else if (t.kind == Tok::kColon || t.kind == Tok::kSelfMsg) {
        Fail(t.position, "messages are not supported");
      } else {
        return node;
      }
    }
  }

  // After "alias->" or "(area)->": a field name or a parenthesised list.
  Node* ParseAliased(const std::string* alias, Node* area, int position) {
    if (Peek().kind == Tok::kIdent) {
      Node* n = New(alias ? NodeKind::kAliasField : NodeKind::kAreaField, position);
      if (alias) n->alias = *alias;
      n->left = area;
      n->name = Next().text;
      return n;
    }
    if (Peek().kind == Tok::kLParen) {
      Node* n = New(NodeKind::kAliasExpr, position);
      if (alias) n->alias = *alias;
      n->left = area;
      n->right = ParsePrimary();
      return n;
    }
    Fail(Peek().position, "expected a field name after ->");
  }

  Node* Literal(Value v, int position) {
    Node* n = New(NodeKind::kLiteral, position);
    n->slot = std::move(v);
    return n;
  }

  Node* ParsePrimary() {
    DepthGuard guard(this);
    const Token& t = Peek();
    switch (t.kind) {
      case Tok::kNumber:
      case Tok::kDate:
        Next();
        return Literal(t.value, t.position);
      case Tok::kString:
        Next();
        return Literal(Value::String(t.text), t.position);
      case Tok::kTrue:
      case Tok::kFalse:
        Next();
        return Literal(Value::Logical(t.kind == Tok::kTrue), t.position);
      case Tok::kNil:
        Next();
        return Literal(Value(), t.position);
      case Tok::kLParen: {
        Next();
        std::vector<Node*> items{ParseExpression()};
        while (Accept(Tok::kComma)) items.push_back(ParseExpression());
        Expect(Tok::kRParen, ")");
        if (items.size() == 1) {
          items[0]->grouped = true;
          return items[0];
        }
        Node* n = New(NodeKind::kList, t.position);
        n->items = std::move(items);
        n->grouped = true;
        return n;
      }
      case Tok::kLBrace:
        Next();
        if (Peek().kind == Tok::kBitOr) return ParseBlock(t.position);
        return ParseArray(t.position);
      case Tok::kIdent:
        return ParseName();
      case Tok::kMacro: {
        Next();
        Node* n = New(NodeKind::kMacro, t.position);
        n->macro = nullptr;
        if (Peek().kind == Tok::kIdent) {
          n->name = Next().text;
          // "&name." ends the macro name explicitly.
          if (Peek().kind == Tok::kDot) Next();
        } else if (Peek().kind == Tok::kLParen) {
          Next();
          n->left = ParseExpression();
          Expect(Tok::kRParen, ")");
        } else {
          Fail(Peek().position, "expected a name after &");
        }
        return n;
      }
      case Tok::kEnd:
        Fail(t.position, "unexpected end of expression");
      default:
        Fail(t.position, "unexpected token");
    }
  }

  Node* ParseArray(int position) {
    Node* n = New(NodeKind::kArray, position);
    if (Accept(Tok::kRBrace)) return n;
    n->items = ParseArguments(Tok::kRBrace);
    Expect(Tok::kRBrace, "}");
    return n;
  }

  Node* ParseBlock(int position) {
    Expect(Tok::kBitOr, "|");
    std::vector<std::string> params;
    if (Peek().kind != Tok::kBitOr) {
      do {
        if (Peek().kind != Tok::kIdent) Fail(Peek().position, "expected a parameter name");
        const std::string& name = Next().text;
        if (std::find(params.begin(), params.end(), name) != params.end()) {
          Fail(Peek().position, "parameter named twice");
        }
        params.push_back(name);
      } while (Accept(Tok::kComma));
    }
    Expect(Tok::kBitOr, "|");
    Node* n = New(NodeKind::kBlock, position);
    n->param_count = static_cast<int>(params.size());
    scopes_.push_back(std::move(params));
    if (Peek().kind != Tok::kRBrace) {
      n->items.push_back(ParseExpression());
      while (Accept(Tok::kComma)) n->items.push_back(ParseExpression());
    }
    scopes_.pop_back();
    n->text_begin = position;
    n->text_end = Peek().position + 1;
    Expect(Tok::kRBrace, "}");
    n->block_index = static_cast<int>(program_->blocks.size());
    program_->blocks.push_back(n);
    return n;
  }

  // Arguments up to `close`; an empty place (",," or "(,") is nil.
  std::vector<Node*> ParseArguments(Tok close) {
    std::vector<Node*> args;
    while (true) {
      if (Peek().kind == Tok::kComma || Peek().kind == close) {
        args.push_back(Literal(Value(), Peek().position));
      } else {
        args.push_back(ParseExpression());
      }
      if (!Accept(Tok::kComma)) break;
    }
    return args;
  }

  Node* ParseName() {
    const Token& t = Next();
    const std::string& name = t.text;
    if (Peek().kind == Tok::kArrow) {
      Next();
      if (name == "FIELD" || name == "_FIELD") {
        if (Peek().kind != Tok::kIdent) Fail(Peek().position, "expected a field name");
        const Token& f = Next();
        if (Peek().kind == Tok::kArrow) {  // FIELD->alias->name
          Next();
          return ParseAliased(&f.text, nullptr, f.position);
        }
        Node* n = New(NodeKind::kField, t.position);
        n->name = f.text;
        return n;
      }
      if (name == "M" || name == "MEMVAR") {
        if (Peek().kind != Tok::kIdent) Fail(Peek().position, "expected a variable name");
        Node* n = New(NodeKind::kMemvar, t.position);
        n->name = Next().text;
        return n;
      }
      return ParseAliased(&name, nullptr, t.position);
    }
    if (Peek().kind == Tok::kLParen) {
      Next();
      std::vector<Node*> args;
      if (!Accept(Tok::kRParen)) {
        args = ParseArguments(Tok::kRParen);
        Expect(Tok::kRParen, ")");
      }
      if (name == "IIF" || name == "IF") {
        if (args.size() < 2 || args.size() > 3) Fail(t.position, "IIF needs 2 or 3 arguments");
        Node* n = New(NodeKind::kIif, t.position);
        n->left = args[0];
        n->right = args[1];
        n->third = args.size() == 3 ? args[2] : Literal(Value(), t.position);
        return n;
      }
      Node* n = New(NodeKind::kCall, t.position);
      n->name = name;
      n->items = std::move(args);
      n->function = FindFunction(name);
      n->function_generation = FunctionRegistryGeneration();
      if (n->function != nullptr && n->function->user_defined) {
        program_->calls_user_function = true;
      }
      return n;
    }
    // A parameter of an enclosing block, innermost first.
    for (size_t up = 0; up < scopes_.size(); ++up) {
      const std::vector<std::string>& scope = scopes_[scopes_.size() - 1 - up];
      auto it = std::find(scope.begin(), scope.end(), name);
      if (it != scope.end()) {
        Node* n = New(NodeKind::kParam, t.position);
        n->name = name;
        n->param_up = static_cast<int>(up);
        n->param_index = static_cast<int>(it - scope.begin());
        return n;
      }
    }
    Node* n = New(NodeKind::kName, t.position);
    n->name = name;
    return n;
  }

  Program* program_;
  const std::vector<Token>& tokens_;
  size_t pos_ = 0;
  int depth_ = 0;
  std::vector<std::vector<std::string>> scopes_;  // parameter names of the enclosing blocks
};

// Children of a node, for the walks below.
template <typename F>
void ForEachChild(Node* n, F&& f) {
  if (n->left) f(&n->left);
  if (n->right) f(&n->right);
  if (n->third) f(&n->third);
  for (Node*& item : n->items) f(&item);
}

// Height of the tree without recursion (the tree may be deeper than the stack allows before
// this check).
int TreeHeight(Node* root) {
  int height = 0;
  std::vector<std::pair<Node*, int>> stack{{root, 1}};
  while (!stack.empty()) {
    auto [n, level] = stack.back();
    stack.pop_back();
    height = std::max(height, level);
    ForEachChild(n, [&](Node** child) { stack.emplace_back(*child, level + 1); });
  }
  return height;
}

bool ContainsParam(Node* n) {
  if (n->kind == NodeKind::kParam || n->kind == NodeKind::kBlock) return true;
  bool found = false;
  ForEachChild(n, [&](Node** child) { found = found || ContainsParam(*child); });
  return found;
}

bool IsStringLiteral(const Node* n) {
  return n->kind == NodeKind::kLiteral && n->slot.is_string();
}

bool IsLogicalLiteral(const Node* n, bool value) {
  return n->kind == NodeKind::kLiteral && n->slot.is_logical() && n->slot.logical() == value;
}

// Constant folding, bottom-up.
class Folder {
 public:
  explicit Folder(Program* program) : program_(program) {}

  Node* Fold(Node* n) {
    ForEachChild(n, [&](Node** child) { *child = Fold(*child); });
    if (n->kind == NodeKind::kCall) return FoldCall(n);
    if (n->kind == NodeKind::kBinary && (n->op == Op::kAnd || n->op == Op::kOr)) {
      bool decisive = n->op == Op::kOr;  // .T. decides .OR., .F. decides .AND.
      if (IsLogicalLiteral(n->left, decisive)) return Keep(n->left, n);
      if (n->left->kind == NodeKind::kLiteral && n->left->slot.is_logical() &&
          n->right->kind == NodeKind::kLiteral && n->right->slot.is_logical()) {
        return Keep(n->right, n);
      }
    }
    return n;
  }

 private:
  // Replaces `old` by `n`, keeping the grouping mark of the replaced node.
  Node* Keep(Node* n, Node* old) {
    n->grouped = n->grouped || old->grouped;
    return n;
  }

  Node* Evaluated(Node* call) {
    std::vector<const Value*> argv;
    for (Node* a : call->items) argv.push_back(&a->slot);
    Node* lit = program_->NewNode(NodeKind::kLiteral, call->position);
    call->function->builtin(FunctionArgs(argv.data(), static_cast<int>(argv.size())),
                            &lit->slot);
    return Keep(lit, call);
  }

  Node* FoldCall(Node* n) {
    const FunctionEntry* f = n->function;
    if (f == nullptr || f->builtin == nullptr) return n;
    const std::string& name = f->name;
    const std::vector<Node*>& a = n->items;
    if (name == "AT" && a.size() == 2 && IsStringLiteral(a[0]) && IsStringLiteral(a[1])) {
      return Evaluated(n);
    }
    if (name == "UPPER" && a.size() == 1 && IsStringLiteral(a[0])) {
      const std::string& s = a[0]->slot.str();
      bool plain = std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == ' ';
      });
      if (plain) return Evaluated(n);
    }
    if (name == "STOD" && a.size() == 1 && IsStringLiteral(a[0])) return Evaluated(n);
    if (name == "CTOD" && a.size() == 1 && IsStringLiteral(a[0])) {
      const std::string& s = a[0]->slot.str();
      if (std::none_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return Evaluated(n);
      }
    }
    if (name == "EVAL" && a.size() == 1 && a[0]->kind == NodeKind::kBlock &&
        a[0]->param_count == 0) {
      Node* block = a[0];
      bool self_contained = true;
      for (Node* item : block->items) self_contained = self_contained && !ContainsParam(item);
      if (self_contained) {
        if (block->items.empty()) {
          Node* lit = program_->NewNode(NodeKind::kLiteral, n->position);
          return Keep(lit, n);
        }
        if (block->items.size() == 1) return Keep(block->items[0], n);
        Node* list = program_->NewNode(NodeKind::kList, n->position);
        list->items = block->items;
        return Keep(list, n);
      }
    }
    return n;
  }

  Program* program_;
};

}  // namespace

void Program::ReleaseReferences() {
  for (const std::unique_ptr<Node>& n : nodes) {
    if (n->kind != NodeKind::kLiteral && (n->slot.is_array() || n->slot.is_block())) {
      n->slot = Value();
    }
  }
}

Node* Program::NewNode(NodeKind kind, int position) {
  nodes.push_back(std::make_unique<Node>());
  Node* n = nodes.back().get();
  n->kind = kind;
  n->position = position;
  return n;
}

std::shared_ptr<Program> CompileProgram(std::string_view text, bool nested_logical_chains,
                                        CompileError* error) {
  auto program = std::make_shared<Program>();
  program->text.assign(text);
  program->nested_logical_chains = nested_logical_chains;
  CompileError local;
  CompileError* err = error ? error : &local;
  std::vector<Token> tokens;
  int position = 0;
  std::string message;
  if (!Tokenize(text, &tokens, &position, &message)) {
    *err = CompileError{7, kSubSyntax, position, message};
    return nullptr;
  }
  try {
    Parser parser(program.get(), tokens);
    Node* root = parser.ParseAll();
    program->height = TreeHeight(root);
    if (program->height > kMaxTreeHeight) {
      throw ParseFailure{8, 0, "expression too complex"};
    }
    program->root = Folder(program.get()).Fold(root);
  } catch (const ParseFailure& f) {
    *err = CompileError{f.gen_code, f.gen_code == 8 ? kSubTooComplex : kSubSyntax, f.position,
                        f.message};
    return nullptr;
  }
  return program;
}

}  // namespace expr_internal
}  // namespace vosk
