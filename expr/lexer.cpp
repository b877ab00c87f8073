// The tokeniser: longest match first, identifiers upper-cased (letters a-z only).

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "expr/program.h"

namespace vosk {
namespace expr_internal {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsAlnum(char c) { return IsAlpha(c) || IsDigit(c); }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Tokens after which an operand has ended: a '[' that follows one indexes instead of opening a
// string.
bool EndsOperand(Tok t) {
  switch (t) {
    case Tok::kNumber: case Tok::kString: case Tok::kDate: case Tok::kIdent: case Tok::kTrue:
    case Tok::kFalse: case Tok::kNil: case Tok::kRParen: case Tok::kRBracket:
    case Tok::kRBrace: case Tok::kInc: case Tok::kDec:
      return true;
    default:
      return false;
  }
}

// Dotted words: .AND. .OR. .NOT. .T. .F. .Y. .N.
struct DottedWord {
  const char* word;
  Tok tok;
};
constexpr DottedWord kDottedWords[] = {
    {".AND.", Tok::kAnd}, {".OR.", Tok::kOr}, {".NOT.", Tok::kNot}, {".T.", Tok::kTrue},
    {".Y.", Tok::kTrue},  {".F.", Tok::kFalse}, {".N.", Tok::kFalse},
};

// Symbols, longest first within each leading character.
struct Symbol {
  const char* text;
  Tok tok;
};
constexpr Symbol kSymbols[] = {
    {"**=", Tok::kPowerEq}, {"->", Tok::kArrow}, {":=", Tok::kAssign}, {"::", Tok::kSelfMsg},
    {"==", Tok::kEqEq},     {"=>", Tok::kHashPair}, {"!=", Tok::kNe},  {"<>", Tok::kNe},
    {"<=", Tok::kLe},       {">=", Tok::kGe},     {"<<", Tok::kShl},   {">>", Tok::kShr},
    {"**", Tok::kPower},    {"^^", Tok::kBitXor}, {"^=", Tok::kPowerEq}, {"+=", Tok::kPlusEq},
    {"-=", Tok::kMinusEq},  {"*=", Tok::kStarEq}, {"/=", Tok::kSlashEq}, {"%=", Tok::kPercentEq},
    {"++", Tok::kInc},      {"--", Tok::kDec},    {"=", Tok::kEq},     {"#", Tok::kNe},
    {"<", Tok::kLt},        {">", Tok::kGt},      {"$", Tok::kDollar}, {"+", Tok::kPlus},
    {"-", Tok::kMinus},     {"*", Tok::kStar},    {"/", Tok::kSlash},  {"%", Tok::kPercent},
    {"^", Tok::kPower},     {"!", Tok::kNot},     {"|", Tok::kBitOr},  {"@", Tok::kAt},
    {"&", Tok::kMacro},     {"(", Tok::kLParen},  {")", Tok::kRParen}, {"[", Tok::kLBracket}, {"]", Tok::kRBracket},
    {"{", Tok::kLBrace},    {"}", Tok::kRBrace},  {",", Tok::kComma},  {":", Tok::kColon},
    {".", Tok::kDot},
};

// Reads a number at text[i]: digits with an optional decimal point (".5", "12.", "1.25"),
// 0x hexadecimal digits, or a date literal 0dYYYYMMDD.
bool ReadNumber(std::string_view text, size_t* i, Token* tok) {
  size_t p = *i, n = text.size();
  if (text[p] == '0' && p + 1 < n && (text[p + 1] == 'x' || text[p + 1] == 'X') && p + 2 < n &&
      std::strchr("0123456789abcdefABCDEF", text[p + 2]) != nullptr) {
    uint64_t v = 0;
    p += 2;
    while (p < n && text[p] != 0 && std::strchr("0123456789abcdefABCDEF", text[p]) != nullptr) {
      char c = Upper(text[p]);
      v = v * 16 + static_cast<uint64_t>(IsDigit(c) ? c - '0' : c - 'A' + 10);
      ++p;
    }
    tok->kind = Tok::kNumber;
    tok->value = Value::Integer(static_cast<int64_t>(v));
    *i = p;
    return true;
  }
  if (text[p] == '0' && p + 9 < n && (text[p + 1] == 'd' || text[p + 1] == 'D')) {
    bool digits = true;
    for (size_t k = 2; k < 10; ++k) digits = digits && IsDigit(text[p + k]);
    if (digits && (p + 10 >= n || !IsAlnum(text[p + 10]))) {
      int32_t julian = DateFromDigits(text.substr(p + 2, 8));
      if (julian == 0 && text.substr(p + 2, 8) != "00000000") return false;
      tok->kind = Tok::kDate;
      tok->value = Value::Date(julian);
      *i = p + 10;
      return true;
    }
  }
  std::string digits;
  int dec = 0;
  bool point = false;
  while (p < n && IsDigit(text[p])) digits += text[p++];
  if (p < n && text[p] == '.') {
    // A point followed by a letter belongs to a dotted word (1.AND.x), not to the number.
    bool next_alpha = p + 1 < n && IsAlpha(text[p + 1]);
    if (!next_alpha) {
      point = true;
      ++p;
      while (p < n && IsDigit(text[p])) {
        digits += text[p++];
        ++dec;
      }
    }
  }
  if (digits.empty()) return false;
  tok->kind = Tok::kNumber;
  if (!point) {
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(digits.c_str(), &end, 10);
    if (errno == 0 && v <= static_cast<unsigned long long>(INT64_MAX)) {
      tok->value = Value::Integer(static_cast<int64_t>(v));
    } else {
      tok->value = Value::Double(std::strtod(digits.c_str(), nullptr), 0, 0);
    }
  } else {
    std::string s = digits.substr(0, digits.size() - dec) + "." + digits.substr(digits.size() - dec);
    double d = std::strtod(s.c_str(), nullptr);
    int int_digits = static_cast<int>(digits.size()) - dec;
    tok->value = Value::Double(d, int_digits > 10 ? int_digits : 0, dec);
  }
  *i = p;
  return true;
}

// Reads a string literal whose opening delimiter is at text[*i].
bool ReadString(std::string_view text, size_t* i, bool escapes, Token* tok) {
  char open = text[*i];
  char close = open == '[' ? ']' : open;
  size_t p = *i + 1;
  std::string out;
  while (p < text.size() && text[p] != close) {
    char c = text[p++];
    if (escapes && c == '\\' && p < text.size()) {
      char e = text[p++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case 'x': {
          int v = 0, k = 0;
          while (k < 2 && p < text.size() &&
                 std::strchr("0123456789abcdefABCDEF", text[p]) != nullptr && text[p] != 0) {
            char h = Upper(text[p++]);
            v = v * 16 + (IsDigit(h) ? h - '0' : h - 'A' + 10);
            ++k;
          }
          out += static_cast<char>(v);
          break;
        }
        default: out += e; break;  // \\ \" \' and any other character stand for themselves
      }
      continue;
    }
    out += c;
  }
  if (p >= text.size()) return false;
  tok->kind = Tok::kString;
  tok->text = std::move(out);
  *i = p + 1;
  return true;
}

}  // namespace

bool Tokenize(std::string_view text, std::vector<Token>* tokens, int* error_position,
              std::string* message) {
  tokens->clear();
  size_t i = 0, n = text.size();
  auto fail = [&](size_t at, const char* what) {
    *error_position = static_cast<int>(at);
    *message = what;
    return false;
  };
  while (true) {
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
      ++i;
    }
    Token tok;
    tok.position = static_cast<int>(i);
    if (i >= n) {
      tok.kind = Tok::kEnd;
      tokens->push_back(std::move(tok));
      return true;
    }
    char c = text[i];
    Tok previous = tokens->empty() ? Tok::kEnd : tokens->back().kind;
    if (c == '"' || c == '\'' || (c == '[' && !EndsOperand(previous))) {
      if (!ReadString(text, &i, false, &tok)) return fail(tok.position, "unterminated string");
    } else if ((c == 'E' || c == 'e') && i + 1 < n && text[i + 1] == '"') {
      ++i;
      if (!ReadString(text, &i, true, &tok)) return fail(tok.position, "unterminated string");
    } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(text[i + 1]))) {
      if (!ReadNumber(text, &i, &tok)) return fail(tok.position, "bad number");
    } else if (IsAlpha(c)) {
      size_t start = i;
      while (i < n && IsAlnum(text[i])) ++i;
      tok.kind = Tok::kIdent;
      tok.text.assign(text.substr(start, i - start));
      for (char& ch : tok.text) ch = Upper(ch);
      if (tok.text == "NIL") tok.kind = Tok::kNil;
    } else {
      bool matched = false;
      if (c == '.') {
        for (const DottedWord& w : kDottedWords) {
          size_t len = std::strlen(w.word);
          if (i + len > n) continue;
          bool same = true;
          for (size_t k = 0; k < len && same; ++k) same = Upper(text[i + k]) == w.word[k];
          if (same) {
            tok.kind = w.tok;
            i += len;
            matched = true;
            break;
          }
        }
      }
      for (size_t s = 0; !matched && s < sizeof kSymbols / sizeof kSymbols[0]; ++s) {
        size_t len = std::strlen(kSymbols[s].text);
        if (text.substr(i, len) == kSymbols[s].text) {
          tok.kind = kSymbols[s].tok;
          i += len;
          matched = true;
        }
      }
      if (!matched) return fail(i, "unexpected character");
    }
    tokens->push_back(std::move(tok));
  }
}

}  // namespace expr_internal
}  // namespace vosk
