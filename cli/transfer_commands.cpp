// dbutool copy and import: thin fronts over the record transfer (DBCOPYTO, DBAPPFROM) with
// the target or source format chosen by --format or by the file's extension.

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/index_commands.h"
#include "cli/tool.h"
#include "expr/runtime_error.h"
#include "rdd/db_commands.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/text/csv.h"
#include "rdd/text/text_area.h"
#include "rdd/transfer.h"
#include "rdd/codepage.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

struct Format {
  const char* name;
  const char* driver;  // nullptr: a table driver chosen by the command
  bool can_read;
};

const Format kFormats[] = {
    {"dbf", nullptr, true}, {"sdf", "SDF", true},        {"csv", "CSV", true},
    {"sqlite", "SQLITE", true}, {"xlsx", "XLSX", false},
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The format named by --format, else the one the file's extension says.
const Format& FormatOf(const ToolArgs& a, const std::string& file, bool reading) {
  std::string name = Lower(a.Get("format"));
  if (name.empty()) {
    size_t slash = file.find_last_of('/');
    size_t dot = file.rfind('.');
    std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                          ? std::string()
                          : Lower(file.substr(dot + 1));
    if (ext == "dbf") name = "dbf";
    else if (ext == "txt" || ext == "sdf") name = "sdf";
    else if (ext == "csv") name = "csv";
    else if (ext == "sqlite" || ext == "db") name = "sqlite";
    else if (ext == "xlsx") name = "xlsx";
    else throw UsageError{"cannot tell the format of " + file + ": give --format"};
  }
  for (const Format& f : kFormats) {
    if (name == f.name) {
      if (reading && !f.can_read) throw UsageError{"cannot import from " + name};
      return f;
    }
  }
  throw UsageError{"unknown format " + name};
}

// The file name without folder and extension.
std::string BaseName(const std::string& file) {
  size_t slash = file.find_last_of('/');
  std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  return base;
}

std::vector<std::string> FieldList(const ToolArgs& a) {
  std::vector<std::string> out;
  if (!a.Has("fields")) return out;
  std::string list = a.Get("fields");
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    out.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

int64_t NumberOption(const ToolArgs& a, const char* name) {
  std::string text = a.Get(name);
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end) throw UsageError{std::string("--") + name + " needs a number"};
  return v;
}

// A progress line on standard error while it is a terminal.
std::function<void(uint64_t)> ProgressLine() {
  if (!isatty(2)) return nullptr;
  return [](uint64_t copied) {
    std::fprintf(stderr, "\r%llu records", static_cast<unsigned long long>(copied));
    std::fflush(stderr);
  };
}

void EndProgress(const std::function<void(uint64_t)>& progress) {
  if (progress) std::fputs("\r\033[K", stderr);
}

// Table kind and memo kind of new DBF tables for the duration of a copy.
class DbfKindScope {
 public:
  DbfKindScope(TableKind kind, MemoKind memo) {
    int table_kind = kind == TableKind::kVfp ? 2 : kind == TableKind::kDbase4 ? 3 : 1;
    old_kind_ = RDDINFO(13, Value::Integer(table_kind), "DBFFPT");
    if (memo == MemoKind::kFpt || memo == MemoKind::kDbt) {
      old_memo_ = RDDINFO(14, Value::Integer(memo == MemoKind::kFpt ? 2 : 1), "DBFFPT");
    }
  }
  ~DbfKindScope() {
    RDDINFO(13, old_kind_, "DBFFPT");
    if (!old_memo_.is_nil()) RDDINFO(14, old_memo_, "DBFFPT");
  }

 private:
  Value old_kind_, old_memo_;
};

[[noreturn]] void TransferFailed(const std::string& file) {
  throw Abandon(RuntimeError{kEgWrite, "DBCMD", 0, 0, "", file});
}

// The code page named by an option, as its program name; empty when not given.
std::string CodepageNamed(const ToolArgs& a, const char* option) {
  if (!a.Has(option)) return "";
  Codepage cp;
  if (!CodepageFromName(a.Get(option), &cp)) throw UsageError{"unknown code page " + a.Get(option)};
  return CodepageName(cp);
}

// What the transfer met, on standard error: characters written as '?', values left blank,
// records marked deleted.
void PrintReport(const std::string& file, const TransferReport& r) {
  if (r.lost) {
    std::fprintf(stderr,
                 "dbutool: %s: %llu character%s not in the target's code page, written as ? "
                 "(first in record %u)\n",
                 file.c_str(), static_cast<unsigned long long>(r.lost), r.lost == 1 ? "" : "s",
                 r.first_lost);
  }
  if (r.bad) {
    std::string places;
    for (const BadValue& b : r.first_bad) {
      places += (places.empty() ? "line " : "; line ") + std::to_string(b.line) + ", field " +
                b.field + ": " + b.text;
    }
    std::fprintf(stderr, "dbutool: %s: %llu value%s left blank: %s%s\n", file.c_str(),
                 static_cast<unsigned long long>(r.bad), r.bad == 1 ? "" : "s", places.c_str(),
                 r.bad > r.first_bad.size() ? "; ..." : "");
  }
  if (r.failed) {
    std::fprintf(stderr, "dbutool: %s: %llu record%s not stored whole, marked deleted (first from "
                 "record %u)\n",
                 file.c_str(), static_cast<unsigned long long>(r.failed), r.failed == 1 ? "" : "s",
                 r.first_failed);
  }
}

}  // namespace

int CmdCopy(const ToolArgs& a) {
  if (a.positional.size() < 3) throw UsageError{"copy needs TABLE and TARGET"};
  const std::string target = a.positional[2];
  const Format& format = FormatOf(a, target, false);
  DbfArea* t = a.Has("index") ? OpenIndexedTable(a, true, true)
                              : OpenTable(a, a.positional[1], true, true);
  TransferArgs args;
  args.file = target;
  args.fields = FieldList(a);
  args.for_text = TableText(a.Get("for"));
  args.while_text = TableText(a.Get("while"));
  if (a.Has("next")) args.next = NumberOption(a, "next");
  if (a.Has("record")) args.record = static_cast<uint32_t>(NumberOption(a, "record"));
  if (a.Has("rest")) args.rest = true;
  args.driver = format.driver ? format.driver : "DBFFPT";
  // A database table or a worksheet is named after the table copied.
  args.table = a.Get("table", BaseName(a.positional[1]));
  args.progress = ProgressLine();
  args.codepage = CodepageNamed(a, "target-codepage");
  args.include_deleted = a.Has("all");
  args.bom = a.Has("bom");
  if (a.Has("sheet-rows")) {
    int64_t rows = NumberOption(a, "sheet-rows");
    if (rows < 1 || rows > 1048575) throw UsageError{"--sheet-rows must be 1 to 1048575"};
    args.sheet_rows = static_cast<uint32_t>(rows);
  }
  args.sheet_overflow = !a.Has("one-sheet");
  TransferReport report;
  args.report = &report;
  bool ok;
  {
    DbfKindScope kind(t->table_kind(), t->memo_kind());
    ok = DBCOPYTO(args);
  }
  EndProgress(args.progress);
  PrintReport(target, report);
  if (!ok) TransferFailed(target);
  DBCLOSEAREA();
  return 0;
}

int CmdImport(const ToolArgs& a) {
  if (a.positional.size() < 3) throw UsageError{"import needs TABLE and SOURCE"};
  const std::string source = a.positional[2];
  const Format& format = FormatOf(a, source, true);
  if (a.Has("table") && a.Has("query")) throw UsageError{"give --table or --query, not both"};
  if (!DBUSEAREA(true, "DBFFPT", a.positional[1], AliasOption(a, a.positional[1]), !a.Has("exclusive"), false,
                 CodepageOption(a))) {
    throw Abandon(RuntimeError{kEgOpen, "DBF", kEdfOpen, 0, "", a.positional[1]});
  }
  TransferArgs args;
  args.file = source;
  args.fields = FieldList(a);
  args.for_text = TableText(a.Get("for"));
  args.driver = format.driver ? format.driver : "DBFFPT";
  // Without --table or --query the rows come from the database table named after TABLE.
  args.table = a.Get("table", BaseName(a.positional[1]));
  args.query = a.Get("query");
  args.progress = ProgressLine();
  args.codepage = CodepageNamed(a, "source-codepage");
  args.empty_is_null = a.Has("nulls");
  TransferReport report;
  args.report = &report;
  bool ok = false;
  try {
    ok = DBAPPFROM(args);
  } catch (const Abandon&) {
    EndProgress(args.progress);
    PrintReport(source, report);
    throw;
  }
  EndProgress(args.progress);
  PrintReport(source, report);
  DBCOMMIT();
  if (!ok) TransferFailed(source);
  DBCLOSEAREA();
  return 0;
}

// The line on which data row k + 1 of a CSV file starts (k rows after the header row), or 0
// when the file has no such row.
long FirstRowLine(const std::string& path, uint32_t k) {
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return 0;
  CsvReader reader(fileno(in));
  std::vector<std::string> row;
  std::string err;
  long line = 0;
  uint32_t seen = 0;
  bool header = true;
  while (reader.Next(&row, &err)) {
    if (header) {
      header = false;
      continue;
    }
    if (row.size() == 1 && row[0].empty()) continue;  // blank line
    if (seen++ == k) {
      line = reader.record_line();
      break;
    }
  }
  std::fclose(in);
  return line;
}

int CmdAppendCsv(const ToolArgs& a) {
  std::string csv_file = a.Get("csv");
  if (csv_file.empty()) throw UsageError{"append needs --csv FILE"};
  const bool from_stdin = csv_file == "-";
  const std::string path = csv_file;
  if (!from_stdin) {
    // Every column of the header row must name a field of the table.
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) {
      std::fprintf(stderr, "dbutool: %s: cannot open\n", csv_file.c_str());
      return 1;
    }
    CsvReader reader(fileno(in));
    std::vector<std::string> header;
    std::string err;
    bool any = reader.Next(&header, &err);
    std::fclose(in);
    if (!DBUSEAREA(true, "DBFFPT", a.positional.at(1), AliasOption(a, a.positional.at(1)), !a.Has("exclusive"), false,
                   CodepageOption(a))) {
      throw Abandon(RuntimeError{kEgOpen, "DBF", kEdfOpen, 0, "", a.positional[1]});
    }
    for (const std::string& name : any ? header : std::vector<std::string>()) {
      if (name != "_RECNO" && name != "_DELETED" && FIELDPOS(name) == 0) {
        std::fprintf(stderr, "dbutool: %s: line 1: no field named %s\n", csv_file.c_str(),
                     name.c_str());
        DBCLOSEAREA();
        return 1;
      }
    }
  } else if (!DBUSEAREA(true, "DBFFPT", a.positional.at(1), AliasOption(a, a.positional.at(1)), !a.Has("exclusive"), false,
                        CodepageOption(a))) {
    throw Abandon(RuntimeError{kEgOpen, "DBF", kEdfOpen, 0, "", a.positional[1]});
  }
  TransferArgs args;
  args.file = path;
  args.driver = "CSV";
  args.blank_bad_values = false;  // a value the field cannot hold stops, naming its line
  const uint32_t start_count = RECCOUNT();
  int status = 0;
  long fail_line = 0;  // the first failure: its CSV line, field and reason
  std::string fail_field, fail_why;
  {
    // The first error is kept with the line of the row; the failing operation then fails,
    // which stops the transfer (a row appended before the failure is marked deleted).
    ScopedErrorHandler h([&](const RuntimeError& e) -> ErrorAnswer {
      if (status != 0) return ErrorAnswer::Default();
      status = 1;
      Value line;
      WorkArea* current = CurrentArea();
      if (current) (void)current->info(kDbiTextLine, Value(), &line);
      fail_line = line.is_numeric() ? static_cast<long>(line.number()) : 0;
      fail_field = e.operation.empty() ? "-" : e.operation;
      fail_why = e.description.empty() ? GeneralDescription(e.gen_code) : e.description;
      if (e.os_code) fail_why += " [os " + std::to_string(e.os_code) + "]";
      return ErrorAnswer::Default();
    });
    if (!DBAPPFROM(args)) status = 1;
    DBCOMMIT();
    if (status != 0 && !from_stdin) {
      // Records gathered for a table held exclusively that a full disk kept from being written
      // are not in the table: the CSV line of the first of them is the one that failed.
      long lost_line = FirstRowLine(path, RECCOUNT() - start_count);
      if (lost_line > 0 && (fail_line == 0 || lost_line < fail_line)) {
        fail_line = lost_line;
        fail_field = "-";
      }
    }
    DBCLOSEAREA();
  }
  if (status != 0) {
    std::fprintf(stderr, "dbutool: %s: line %ld, field %s: %s\n", csv_file.c_str(), fail_line,
                 fail_field.c_str(), fail_why.empty() ? "append failed" : fail_why.c_str());
  }
  return status;
}

}  // namespace vosk
