// Text functions. Edges, where the usual behaviour of these functions is relied on:
//  - Positions and counts are 1-based; a count <= 0 gives the empty text; numbers are
//    truncated toward zero.
//  - Only the letters a-z / A-Z are changed by UPPER and LOWER and tested by ISALPHA and
//    ISUPPER; other bytes pass unchanged.
//  - TRIM/RTRIM, LTRIM and ALLTRIM remove blanks (byte 32) only.
//  - A wrong argument type raises "Argument error" with the function's subcode (3012 for the
//    functions without one of their own); the handler's substitute is the result.

#include <algorithm>
#include <cstring>

#include "expr/builtins.h"
#include "expr/date_text.h"
#include "expr/expr_errors.h"
#include "expr/number_text.h"

namespace vosk {
namespace builtins {
namespace {

char UpperByte(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char LowerByte(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// LEFT(c, n): the first n bytes.
void Left(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string() || !a[1].is_numeric()) return RaiseArgumentError(r, 1124, "LEFT");
  int64_t n = std::clamp<int64_t>(IntArg(a[1], 0), 0, static_cast<int64_t>(a[0].str().size()));
  r->AssignString(std::string_view(a[0].str()).substr(0, static_cast<size_t>(n)));
}

// RIGHT(c, n): the last n bytes.
void Right(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string() || !a[1].is_numeric()) {
    return RaiseArgumentError(r, kSubFunctionArgument, "RIGHT");
  }
  const std::string& s = a[0].str();
  int64_t n = std::clamp<int64_t>(IntArg(a[1], 0), 0, static_cast<int64_t>(s.size()));
  r->AssignString(std::string_view(s).substr(s.size() - static_cast<size_t>(n)));
}

// SUBSTR(c, start[, count]): start 0 counts as 1; a negative start counts from the end (-1 is
// the last byte); a start beyond the end or a count <= 0 gives "".
void Substr(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string() || !a[1].is_numeric() || !(a[2].is_nil() || a[2].is_numeric())) {
    return RaiseArgumentError(r, 1110, "SUBSTR");
  }
  const std::string& s = a[0].str();
  int64_t len = static_cast<int64_t>(s.size());
  int64_t start = IntArg(a[1], 1);
  if (start < 0) start = std::max<int64_t>(len + start + 1, 1);
  if (start == 0) start = 1;
  if (start > len) return r->AssignString("");
  int64_t count = a[2].is_nil() ? len : IntArg(a[2], len);
  count = std::clamp<int64_t>(count, 0, len - start + 1);
  r->AssignString(std::string_view(s).substr(static_cast<size_t>(start - 1),
                                             static_cast<size_t>(count)));
}

void Upper(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, 1102, "UPPER");
  r->AssignString(a[0].str());
  for (char& c : r->mutable_str()) c = UpperByte(c);
}

void Lower(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, 1103, "LOWER");
  r->AssignString(a[0].str());
  for (char& c : r->mutable_str()) c = LowerByte(c);
}

std::string_view TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

std::string_view TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

void Rtrim(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, 1100, "TRIM");
  r->AssignString(TrimRight(a[0].str()));
}

void Ltrim(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, 1101, "LTRIM");
  r->AssignString(TrimLeft(a[0].str()));
}

void Alltrim(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, 2022, "ALLTRIM");
  r->AssignString(TrimLeft(TrimRight(a[0].str())));
}

// The text PADR/PADL/PADC pad: numbers as LTRIM(STR(n)), dates as DTOC, logicals "T"/"F",
// anything else "".
std::string PadSource(const Value& v) {
  if (v.is_string()) return v.str();
  if (v.is_numeric()) return std::string(TrimLeft(StrOf(v)));
  if (v.is_date()) return DateToText(v.julian());
  if (v.is_timestamp()) return TimestampToText(v.julian(), v.millis());
  if (v.is_logical()) return v.logical() ? "T" : "F";
  return std::string();
}

// PADR/PADL/PADC(x, n[, cFill]): x padded with the first byte of cFill (default blank) to n
// bytes, on the right, the left, or both sides (the odd byte goes right). A longer text keeps
// its first n bytes. A missing or non-positive n gives "".
void Pad(const FunctionArgs& a, Value* r, char side, const char* name) {
  if (!a[1].is_numeric()) return r->AssignString("");
  int64_t n = IntArg(a[1], 0);
  if (n <= 0) return r->AssignString("");
  if (!FitsStringLimit(static_cast<uint64_t>(n), r, name)) return;
  std::string s = PadSource(a[0]);
  char fill = a[2].is_string() && !a[2].str().empty() ? a[2].str()[0] : ' ';
  size_t width = static_cast<size_t>(n);
  if (s.size() >= width) return r->AssignString(std::string_view(s).substr(0, width));
  size_t extra = width - s.size();
  size_t left = side == 'R' ? 0 : side == 'L' ? extra : extra / 2;
  r->AssignString("");
  std::string& out = r->mutable_str();
  out.append(left, fill);
  out.append(s);
  out.append(extra - left, fill);
}

void Padr(const FunctionArgs& a, Value* r) { Pad(a, r, 'R', "PADR"); }
void Padl(const FunctionArgs& a, Value* r) { Pad(a, r, 'L', "PADL"); }
void Padc(const FunctionArgs& a, Value* r) { Pad(a, r, 'C', "PADC"); }

void Space(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric()) return RaiseArgumentError(r, 1105, "SPACE");
  int64_t n = std::max<int64_t>(IntArg(a[0], 0), 0);
  if (!FitsStringLimit(static_cast<uint64_t>(n), r, "SPACE")) return;
  r->AssignString("");
  r->mutable_str().assign(static_cast<size_t>(n), ' ');
}

void Replicate(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string() || !a[1].is_numeric()) return RaiseArgumentError(r, 1106, "REPLICATE");
  int64_t n = std::max<int64_t>(IntArg(a[1], 0), 0);
  const std::string& s = a[0].str();
  if (s.empty()) return r->AssignString("");
  if (static_cast<uint64_t>(n) > MaxStringLength() / s.size()) {
    FitsStringLimit(MaxStringLength() + 1, r, "REPLICATE");
    return;
  }
  std::string out;
  out.reserve(s.size() * static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) out += s;
  r->AssignString(out);
}

// STRTRAN(c, cSearch[, cReplace[, nStart[, nCount]]]): replaces occurrences of cSearch, from
// the nStart-th occurrence (default 1) for nCount of them (default all); cReplace defaults to
// "". An empty cSearch changes nothing.
void Strtran(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string() || !a[1].is_string()) return RaiseArgumentError(r, 1126, "STRTRAN");
  const std::string& s = a[0].str();
  const std::string& search = a[1].str();
  std::string replace = a[2].is_string() ? a[2].str() : std::string();
  int64_t start = a[3].is_numeric() ? IntArg(a[3], 1) : 1;
  int64_t count = a[4].is_numeric() ? IntArg(a[4], -1) : -1;
  if (search.empty() || start < 1 || count == 0) return r->AssignString(s);
  std::string out;
  size_t pos = 0;
  int64_t seen = 0, replaced = 0;
  while (true) {
    size_t hit = s.find(search, pos);
    if (hit == std::string::npos) break;
    ++seen;
    out.append(s, pos, hit - pos);
    if (seen >= start && (count < 0 || replaced < count)) {
      if (!FitsStringLimit(out.size() + replace.size(), r, "STRTRAN")) return;
      out += replace;
      ++replaced;
    } else {
      out += search;
    }
    pos = hit + search.size();
  }
  out.append(s, pos, std::string::npos);
  SetText(r, out, "STRTRAN");
}

// CHARREPL(cSearch, cString, cReplace[, lMode]): every byte of cString that occurs in cSearch
// is replaced by the byte at the same position of cReplace (its last byte when it is shorter).
// Without lMode the bytes of cSearch are applied one after another, so replacements can chain
// ("ab" -> "bc" turns "a" into "c"); with lMode .T. each byte is replaced once, by the first
// match.
void Charrepl(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string() || !a[1].is_string() || !a[2].is_string()) {
    return RaiseArgumentError(r, kSubFunctionArgument, "CHARREPL");
  }
  const std::string& search = a[0].str();
  const std::string& repl = a[2].str();
  std::string s = a[1].str();
  if (repl.empty() || search.empty()) return r->AssignString(s);
  auto replacement = [&](size_t i) { return repl[std::min(i, repl.size() - 1)]; };
  if (a[3].is_logical() && a[3].logical()) {
    for (char& c : s) {
      size_t i = search.find(c);
      if (i != std::string::npos) c = replacement(i);
    }
  } else {
    for (size_t i = 0; i < search.size(); ++i) {
      for (char& c : s) {
        if (c == search[i]) c = replacement(i);
      }
    }
  }
  r->AssignString(s);
}

// AT(cSearch, cString): 1-based position of the first occurrence, 0 when absent or when
// cSearch is empty.
void At(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string() || !a[1].is_string()) return RaiseArgumentError(r, 1108, "AT");
  size_t hit = a[0].str().empty() ? std::string::npos : a[1].str().find(a[0].str());
  r->SetInteger(hit == std::string::npos ? 0 : static_cast<int64_t>(hit) + 1);
}

// RAT(cSearch, cString): position of the last occurrence, as AT.
void Rat(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string() || !a[1].is_string()) {
    return RaiseArgumentError(r, kSubFunctionArgument, "RAT");
  }
  size_t hit = a[0].str().empty() ? std::string::npos : a[1].str().rfind(a[0].str());
  r->SetInteger(hit == std::string::npos ? 0 : static_cast<int64_t>(hit) + 1);
}

// Start positions (0-based) of the non-overlapping occurrences of search in s, from `from`.
std::vector<size_t> Occurrences(const std::string& search, const std::string& s, size_t from) {
  std::vector<size_t> hits;
  if (search.empty()) return hits;
  size_t pos = from;
  while (pos <= s.size()) {
    size_t hit = s.find(search, pos);
    if (hit == std::string::npos) break;
    hits.push_back(hit);
    pos = hit + search.size();
  }
  return hits;
}

// OCCURS(cSearch, cString): number of non-overlapping occurrences ("aa" occurs twice in
// "aaaaa"); 0 for an empty cSearch.
void Occurs(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string() || !a[1].is_string()) {
    return RaiseArgumentError(r, kSubFunctionArgument, "OCCURS");
  }
  r->SetInteger(static_cast<int64_t>(Occurrences(a[0].str(), a[1].str(), 0).size()));
}

// AFTERATNUM / BEFORATNUM(cSearch, cString[, nNth[, nIgnore]]): the text after (before) the
// nNth non-overlapping occurrence of cSearch, by default the last one; the first nIgnore bytes
// are not searched. "" when there is no such occurrence.
void AtNum(const FunctionArgs& a, Value* r, bool after, const char* name) {
  if (!a[0].is_string() || !a[1].is_string()) {
    return RaiseArgumentError(r, kSubFunctionArgument, name);
  }
  const std::string& s = a[1].str();
  int64_t ignore = std::clamp<int64_t>(a[3].is_numeric() ? IntArg(a[3], 0) : 0, 0,
                                       static_cast<int64_t>(s.size()));
  std::vector<size_t> hits = Occurrences(a[0].str(), s, static_cast<size_t>(ignore));
  int64_t nth = a[2].is_numeric() ? IntArg(a[2], 0) : static_cast<int64_t>(hits.size());
  if (hits.empty() || nth < 1 || nth > static_cast<int64_t>(hits.size())) {
    return r->AssignString("");
  }
  size_t hit = hits[static_cast<size_t>(nth - 1)];
  if (after) {
    r->AssignString(std::string_view(s).substr(hit + a[0].str().size()));
  } else {
    r->AssignString(std::string_view(s).substr(0, hit));
  }
}

void Afteratnum(const FunctionArgs& a, Value* r) { AtNum(a, r, true, "AFTERATNUM"); }
void Beforatnum(const FunctionArgs& a, Value* r) { AtNum(a, r, false, "BEFORATNUM"); }

// LEN(x): bytes of a text, elements of an array.
void Len(const FunctionArgs& a, Value* r) {
  if (a[0].is_string()) {
    r->SetInteger(static_cast<int64_t>(a[0].str().size()));
  } else if (a[0].is_array()) {
    r->SetInteger(static_cast<int64_t>(a[0].array().size()));
  } else {
    RaiseArgumentError(r, 1111, "LEN");
  }
}

// ASC(c): the first byte (0-255), 0 for "".
void Asc(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, 1107, "ASC");
  const std::string& s = a[0].str();
  r->SetInteger(s.empty() ? 0 : static_cast<unsigned char>(s[0]));
}

// CHR(n): the byte n modulo 256.
void Chr(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric()) return RaiseArgumentError(r, 1104, "CHR");
  int64_t n = IntArg(a[0], 0) % 256;
  if (n < 0) n += 256;
  char c = static_cast<char>(n);
  r->AssignString(std::string_view(&c, 1));
}

// ISALPHA / ISDIGIT / ISUPPER / ISLOWER(c): a test of the first byte; .F. for "" or a value
// that is not text.
template <bool (*Test)(char)>
void FirstByteTest(const FunctionArgs& a, Value* r) {
  r->SetLogical(a[0].is_string() && !a[0].str().empty() && Test(a[0].str()[0]));
}
bool IsAlphaByte(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigitByte(char c) { return c >= '0' && c <= '9'; }
bool IsUpperByte(char c) { return c >= 'A' && c <= 'Z'; }
bool IsLowerByte(char c) { return c >= 'a' && c <= 'z'; }

// DESCEND(x): the value that sorts in reverse order. Text: each byte b becomes (256 - b) mod
// 256; number: its negation; date: 5231808 minus the day number, as a number; timestamp:
// 5231808 minus the day number with the time as a fraction of a day; logical: its negation;
// nil stays nil.
void Descend(const FunctionArgs& a, Value* r) {
  constexpr int64_t kDescendBase = 5231808;
  const Value& v = a[0];
  if (v.is_string()) {
    r->AssignString(v.str());
    for (char& c : r->mutable_str()) {
      c = static_cast<char>((256 - static_cast<unsigned char>(c)) & 0xFF);
    }
  } else if (v.is_integer()) {
    *r = v.integer() == INT64_MIN ? Value::Double(-v.number(), 20, 0)
                                  : Value::Integer(-v.integer(), v.width());
  } else if (v.is_double()) {
    r->SetDouble(-v.dbl(), v.width(), v.decimals());
  } else if (v.is_date()) {
    r->SetInteger(kDescendBase - v.julian());
  } else if (v.is_timestamp()) {
    double value = v.julian() + static_cast<double>(v.millis()) / kMillisPerDay;
    r->SetDouble(static_cast<double>(kDescendBase) - value, 0, 8);
  } else if (v.is_logical()) {
    r->SetLogical(!v.logical());
  } else {
    *r = Value();
  }
}

constexpr Row kRows[] = {
    {"LEFT", Left},
    {"RIGHT", Right},
    {"SUBSTR", Substr},
    {"UPPER", Upper},
    {"LOWER", Lower},
    {"TRIM", Rtrim},
    {"RTRIM", Rtrim},
    {"LTRIM", Ltrim},
    {"ALLTRIM", Alltrim},
    {"PADR", Padr},
    {"PADL", Padl},
    {"PADC", Padc},
    {"SPACE", Space},
    {"REPLICATE", Replicate},
    {"STRTRAN", Strtran},
    {"CHARREPL", Charrepl},
    {"AT", At},
    {"RAT", Rat},
    {"OCCURS", Occurs},
    {"AFTERATNUM", Afteratnum},
    {"BEFORATNUM", Beforatnum},
    {"LEN", Len},
    {"ASC", Asc},
    {"CHR", Chr},
    {"ISALPHA", FirstByteTest<IsAlphaByte>},
    {"ISDIGIT", FirstByteTest<IsDigitByte>},
    {"ISUPPER", FirstByteTest<IsUpperByte>},
    {"ISLOWER", FirstByteTest<IsLowerByte>},
    {"DESCEND", Descend},
};

}  // namespace

std::span<const Row> TextFunctions() { return kRows; }

}  // namespace builtins
}  // namespace vosk
