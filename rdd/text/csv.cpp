#include "rdd/text/csv.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <unistd.h>

#include <cerrno>

namespace vosk {
namespace {
constexpr int kEnd = -1;
}  // namespace

namespace {

// True when text holds a comma, a quote, CR or LF (the same bytes in every code page).
bool NeedsQuotes(std::string_view text) {
  const char* p = text.data();
  const size_t n = text.size();
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(','), quote = _mm_set1_epi8('"');
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, quote)),
                               _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
    if (_mm_movemask_epi8(hit) != 0) return true;
  }
#endif
  for (; i < n; ++i) {
    if (p[i] == ',' || p[i] == '"' || p[i] == '\r' || p[i] == '\n') return true;
  }
  return false;
}

// Appends text, converted by append, inside quotes with every quote doubled.
template <typename Append>
void AppendQuoted(std::string* out, std::string_view text, Append append) {
  out->push_back('"');
  for (size_t at = 0;;) {
    size_t q = text.find('"', at);
    append(text.substr(at, q == std::string_view::npos ? std::string_view::npos : q - at));
    if (q == std::string_view::npos) break;
    out->append("\"\"");
    at = q + 1;
  }
  out->push_back('"');
}

}  // namespace

void AppendCsvField(std::string* out, std::string_view text) {
  if (!NeedsQuotes(text)) {
    out->append(text);
    return;
  }
  AppendQuoted(out, text, [out](std::string_view part) { out->append(part); });
}

void AppendCsvText(std::string* out, std::string_view bytes, Codepage cp) {
  if (!NeedsQuotes(bytes)) {
    AppendUtf8Text(out, bytes, cp);
    return;
  }
  AppendQuoted(out, bytes, [out, cp](std::string_view part) { AppendUtf8Text(out, part, cp); });
}

int CsvReader::Refill() {
  ssize_t n;
  do {
    n = ::read(fd_, buf_, sizeof buf_);
  } while (n < 0 && errno == EINTR);
  len_ = n > 0 ? static_cast<size_t>(n) : 0;
  pos_ = 0;
  if (len_ == 0) return kEnd;
  return buf_[pos_++];
}

bool CsvReader::Next(std::vector<std::string>* fields, std::string* error) {
  error->clear();
  int c = Get();
  if (c == kEnd) return false;
  record_line_ = line_;
  size_t count = 0;
  // The next field, reusing a string of an earlier record.
  auto next_field = [&]() -> std::string& {
    if (count == fields->size()) fields->emplace_back();
    std::string& f = (*fields)[count++];
    f.clear();
    return f;
  };
  std::string* field = &next_field();
  bool quoted = false;
  for (;;) {
    if (c == kEnd) break;
    if (field->empty() && !quoted && c == '"') {
      quoted = true;
      for (;;) {
        c = Get();
        if (c == kEnd) {
          *error = "unterminated quoted field";
          fields->resize(count);
          return true;
        }
        if (c == '\n') ++line_;
        if (c == '"') {
          c = Get();
          if (c == '"') {
            field->push_back('"');
            continue;
          }
          break;
        }
        field->push_back(static_cast<char>(c));
      }
      continue;
    }
    if (c == ',') {
      field = &next_field();
      quoted = false;
      c = Get();
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (c == '\r' && Get() != '\n' && pos_ > 0) Unget();
      ++line_;
      break;
    }
    if (quoted) *error = "text after a closing quote";
    // A run of plain bytes at once.
    size_t start = pos_ - 1;
    while (pos_ < len_ && buf_[pos_] != ',' && buf_[pos_] != '\r' && buf_[pos_] != '\n' &&
           buf_[pos_] != '"') {
      ++pos_;
    }
    field->append(reinterpret_cast<const char*>(buf_ + start), pos_ - start);
    c = Get();
  }
  fields->resize(count);
  return true;
}

}  // namespace vosk
