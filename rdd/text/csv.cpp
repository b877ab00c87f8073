#include "rdd/text/csv.h"

#include <unistd.h>

#include <cerrno>

namespace vosk {
namespace {
constexpr int kEnd = -1;
}  // namespace

void AppendCsvField(std::string* out, std::string_view text) {
  bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos;
  if (!quote) {
    out->append(text);
    return;
  }
  out->push_back('"');
  for (char c : text) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  out->push_back('"');
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
