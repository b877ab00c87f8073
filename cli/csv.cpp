#include "cli/csv.h"

namespace vosk {

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

int CsvReader::Get() {
  if (pending_ != -2) {
    int c = pending_;
    pending_ = -2;
    return c;
  }
  return std::getc(in_);
}

bool CsvReader::Next(std::vector<std::string>* fields, std::string* error) {
  fields->clear();
  error->clear();
  int c = Get();
  if (c == EOF) return false;
  record_line_ = line_;
  std::string field;
  bool quoted = false;
  for (;;) {
    if (c == EOF) {
      fields->push_back(std::move(field));
      return true;
    }
    if (field.empty() && !quoted && c == '"') {
      quoted = true;
      for (;;) {
        c = Get();
        if (c == EOF) {
          *error = "unterminated quoted field";
          fields->push_back(std::move(field));
          return true;
        }
        if (c == '\n') ++line_;
        if (c == '"') {
          int d = Get();
          if (d == '"') {
            field.push_back('"');
            continue;
          }
          c = d;
          break;
        }
        field.push_back(static_cast<char>(c));
      }
      continue;
    }
    if (c == ',') {
      fields->push_back(std::move(field));
      field.clear();
      quoted = false;
      c = Get();
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (c == '\r') {
        int d = Get();
        if (d != '\n') pending_ = d;
      }
      ++line_;
      fields->push_back(std::move(field));
      return true;
    }
    if (quoted) {
      *error = "text after a closing quote";
    }
    field.push_back(static_cast<char>(c));
    c = Get();
  }
}

}  // namespace vosk
