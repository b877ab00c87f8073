#include "cli/tool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "cli/csv.h"
#include "cli/field_text.h"
#include "cli/index_commands.h"
#include "expr/expression.h"
#include "expr/number_text.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "platform/version.h"
#include "rdd/db_commands.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

// Options that take a value.
const std::set<std::string> kValued = {"fields", "memo", "kind", "password", "for", "tag",
                                       "driver", "index", "keys"};

// Options whose taking a value depends on the command: "append --csv FILE" and
// "eval --recno N", while "list --csv" and "list --recno" are switches.
bool TakesValue(const std::string& name, const std::string& command) {
  if (kValued.count(name)) return true;
  return (name == "csv" && command == "append") || (name == "recno" && command == "eval");
}

struct UsageError {
  std::string text;
};

std::string g_table;  // file named in error lines

// The program's start-up settings that matter to the tool.
void ApplyStartupSettings() {
  InitDatabaseEngine();
  SET(kSetDbfLockScheme, Value::Integer(4));
  SETCENTURY(Value::Logical(true));
  SET(kSetDateFormat, Value::String("dd/mm/yyyy"));
  SET(kSetEpoch, Value::Integer(1980));
  SET(kSetAutOpen, Value::Logical(false));
  SET(kSetDeleted, Value::Logical(false));
}

DbfArea* OpenTable(const std::string& file, bool shared, bool read_only) {
  g_table = file;
  if (!DBUSEAREA(true, "DBFFPT", file, "T", shared, read_only)) {
    throw Abandon(RuntimeError{kEgOpen, "DBF", kEdfOpen, 0, "", file});
  }
  return dynamic_cast<DbfArea*>(CurrentArea());
}

const char* MemoName(MemoKind k) {
  switch (k) {
    case MemoKind::kDbt: return "DBT";
    case MemoKind::kFpt: return "FPT";
    case MemoKind::kSmt: return "SMT";
    default: return "none";
  }
}

const char* KindName(TableKind k) {
  switch (k) {
    case TableKind::kVfp: return "Visual FoxPro";
    case TableKind::kDbase4: return "dBase IV";
    default: return "dBase III";
  }
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

int CmdInfo(const ToolArgs& a) {
  DbfArea* t = OpenTable(a.positional.at(1), true, true);
  uint32_t count = 0;
  (void)t->record_count(&count);
  const std::vector<Field>& fields = t->fields();
  if (a.Has("json")) {
    std::string out = "{\"version\": " + std::to_string(t->version_byte()) +
                      ", \"records\": " + std::to_string(count) +
                      ", \"header_length\": " + std::to_string(t->header_length()) +
                      ", \"record_length\": " + std::to_string(t->record_length()) +
                      ", \"memo\": \"" + MemoName(t->memo_kind()) + "\", \"fields\": [";
    bool first = true;
    for (int i = 1; i <= t->field_count(); ++i) {
      const Field& f = fields[static_cast<size_t>(i - 1)];
      if (!first) out += ", ";
      first = false;
      out += "{\"name\": " + JsonString(f.name) + ", \"type\": " +
             JsonString(std::string(1, f.letter)) + ", \"len\": " + std::to_string(f.length) +
             ", \"dec\": " + std::to_string(f.decimals) + "}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
  } else {
    std::printf("Table:          %s\n", t->file_name().c_str());
    std::printf("Version byte:   0x%02X (%s)\n", t->version_byte(), KindName(t->table_kind()));
    std::printf("Records:        %u\n", count);
    std::printf("Header length:  %u\n", t->header_length());
    std::printf("Record length:  %u\n", t->record_length());
    std::printf("Memo:           %s\n", MemoName(t->memo_kind()));
    std::printf("Fields:         %d\n", t->field_count());
    for (int i = 1; i <= t->field_count(); ++i) {
      const Field& f = fields[static_cast<size_t>(i - 1)];
      std::printf("  %3d  %-10s  %c  %5u  %3u\n", i, f.name.c_str(), f.letter, f.length,
                  f.decimals);
    }
  }
  DBCLOSEAREA();
  return 0;
}

// Field positions named by --fields (all visible fields when absent).
std::vector<int> SelectedFields(const ToolArgs& a, DbfArea* t) {
  std::vector<int> out;
  if (!a.Has("fields")) {
    for (int i = 1; i <= t->field_count(); ++i) out.push_back(i);
    return out;
  }
  std::string list = a.Get("fields");
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int pos = FIELDPOS(name);
    if (pos == 0) throw UsageError{"no field named " + name};
    out.push_back(pos);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

// Output buffered in large blocks.
class Output {
 public:
  ~Output() { Flush(); }
  std::string& buf() { return buf_; }
  void MaybeFlush() {
    if (buf_.size() >= (1u << 20)) Flush();
  }
  void Flush() {
    if (!buf_.empty()) std::fwrite(buf_.data(), 1, buf_.size(), stdout);
    buf_.clear();
  }

 private:
  std::string buf_;
};

int CmdList(const ToolArgs& a) {
  DbfArea* t = a.Has("index") ? OpenIndexedTable(a, true, true)
                              : OpenTable(a.positional.at(1), true, true);
  bool csv = a.Has("csv");
  bool all = a.Has("all");
  bool recno = a.Has("recno");
  Codepage cp = a.Has("oem") ? Codepage::kCp850 : Codepage::kCp1252;
  std::vector<int> cols = SelectedFields(a, t);
  const std::vector<Field>& fields = t->fields();
  const char sep = csv ? ',' : '\t';
  Output out;
  std::string& o = out.buf();
  // Header row.
  bool first = true;
  auto add_sep = [&]() {
    if (!first) o.push_back(sep);
    first = false;
  };
  if (recno) { add_sep(); o += "_RECNO"; }
  if (all) { add_sep(); o += "_DELETED"; }
  for (int c : cols) {
    add_sep();
    o += fields[static_cast<size_t>(c - 1)].name;
  }
  const std::string_view eol = csv ? "\r\n" : "\n";
  o.append(eol);

  // Null flags of Visual FoxPro tables. A variable-length field owns the bit after its null
  // bit (bits are handed out in field order); when set, the field's last byte holds the length
  // of its value.
  const Field* null_flags = nullptr;
  std::vector<int> length_bit(fields.size(), -1);
  int next_bit = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const Field& f = fields[i];
    if (f.kind == FieldKind::kSystem) {
      if (f.name == "_NULLFLAGS") null_flags = &f;
      continue;
    }
    if (f.null_bit >= 0) next_bit = f.null_bit + 1;
    if (f.kind == FieldKind::kVarLength) length_bit[i] = next_bit++;
  }
  auto bit_set = [&](const uint8_t* rec, int bit) {
    return null_flags && bit >= 0 && bit / 8 < null_flags->length &&
           ((rec[null_flags->offset + bit / 8] >> (bit % 8)) & 1);
  };
  std::unique_ptr<Expression> cond;
  if (a.Has("for")) {
    CompileError err;
    cond = Compile(a.Get("for"), &err);
    if (!cond) throw Abandon(err.ToRuntimeError(a.Get("for")));
  }
  bool count_only = a.Has("count");
  if (count_only) o.clear();
  uint64_t passed = 0;
  ScopedErrorHandler quiet([](const RuntimeError& e) -> ErrorAnswer {
    if (e.gen_code == kEgDataType && e.sub_code == kEdfDataType) {
      return ErrorAnswer::Default();  // a value the driver cannot decode is left empty
    }
    throw Abandon(e);
  });
  (void)t->go_top();
  while (!t->eof()) {
    const uint8_t* rec = t->RawRecord();
    if (!rec) throw Abandon(RuntimeError{kEgRead, "DBF", kEdfRead, 0, "", g_table});
    bool deleted = rec[0] == '*';
    if ((deleted && !all) || (cond && !cond->EvalLogical())) {
      (void)t->skip(1);
      continue;
    }
    ++passed;
    if (count_only) {
      (void)t->skip(1);
      continue;
    }
    if (cond) rec = t->RawRecord();
    first = true;
    if (recno) { add_sep(); o += std::to_string(t->record_number()); }
    if (all) { add_sep(); if (deleted) o.push_back('*'); }
    for (int c : cols) {
      add_sep();
      const Field& f = fields[static_cast<size_t>(c - 1)];
      bool is_null = bit_set(rec, f.null_bit);
      if (f.kind == FieldKind::kVarLength && bit_set(rec, length_bit[static_cast<size_t>(c - 1)])) {
        Field shorter = f;
        shorter.length = std::min<uint16_t>(rec[f.offset + f.length - 1], f.length - 1);
        AppendFieldText(&o, shorter, rec, cp, is_null);
      } else if (!AppendFieldText(&o, f, rec, cp, is_null)) {
        Value v;
        if (Ok(t->get_value(c, &v)) && v.is_string()) {
          if (csv) AppendCsvField(&o, ToUtf8(v.str(), cp));
          else o += ToUtf8(v.str(), cp);
        }
        rec = t->RawRecord();
      }
    }
    o.append(eol);
    out.MaybeFlush();
    (void)t->skip(1);
  }
  if (count_only) o = std::to_string(passed) + "\n";
  out.Flush();
  DBCLOSEAREA();
  return 0;
}

// One line: the value's type letter, a tab and the value's text.
std::string EvalLine(const Value& v, Codepage cp) {
  std::string text;
  switch (v.type()) {
    case Value::Type::kNil: text = "NIL"; break;
    case Value::Type::kLogical: text = v.logical() ? "T" : "F"; break;
    case Value::Type::kInteger:
    case Value::Type::kDouble: {
      text = StrOf(v);
      size_t b = text.find_first_not_of(' ');
      text = b == std::string::npos ? std::string() : text.substr(b);
      break;
    }
    case Value::Type::kDate: {
      int y, m, d;
      if (YmdFromJulian(v.julian(), &y, &m, &d)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
        text = buf;
      }
      break;
    }
    case Value::Type::kTimestamp: text = TimestampText(v.julian(), v.millis()); break;
    case Value::Type::kString: text = ToUtf8(v.str(), cp); break;
    default: text = ToUtf8(ValueToText(v), cp); break;
  }
  return std::string(1, v.type_letter()) + "\t" + text + "\n";
}

int CmdEval(const ToolArgs& a) {
  if (a.positional.size() < 3) throw UsageError{"eval needs TABLE and EXPR"};
  DbfArea* t = OpenTable(a.positional[1], true, true);
  Codepage cp = a.Has("oem") ? Codepage::kCp850 : Codepage::kCp1252;
  long recno = a.Has("recno") ? std::strtol(a.Get("recno").c_str(), nullptr, 10) : 1;
  (void)t->go_to(static_cast<uint32_t>(recno < 0 ? 0 : recno));
  try {
    CompileError err;
    std::unique_ptr<Expression> e = Compile(a.positional[2], &err);
    if (!e) throw Abandon(err.ToRuntimeError(a.positional[2]));
    Value v = e->Eval();
    std::fputs(EvalLine(v, cp).c_str(), stdout);
  } catch (const Abandon& ex) {
    const RuntimeError& r = ex.error();
    std::string desc = r.description.empty() ? GeneralDescription(r.gen_code) : r.description;
    std::printf("E\t%d/%d %s\n", r.gen_code, r.sub_code, desc.c_str());
    DBCLOSEALL();
    return 1;
  }
  DBCLOSEAREA();
  return 0;
}

int CmdCreate(const ToolArgs& a) {
  std::string file = a.positional.at(1);
  g_table = file;
  ValueArray structure;
  for (size_t i = 2; i < a.positional.size(); ++i) {
    std::vector<std::string> parts;
    std::string field_def = a.positional[i];
    size_t start = 0;
    for (;;) {
      size_t colon = field_def.find(':', start);
      parts.push_back(field_def.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    if (parts.size() < 3 || parts.size() > 5) throw UsageError{"bad field " + field_def};
    char* end = nullptr;
    long len = std::strtol(parts[2].c_str(), &end, 10);
    if (*end) throw UsageError{"bad length in " + field_def};
    long dec = parts.size() > 3 ? std::strtol(parts[3].c_str(), &end, 10) : 0;
    if (parts.size() > 3 && *end) throw UsageError{"bad decimals in " + field_def};
    ValueArray row = {Value::String(parts[0]), Value::String(parts[1]), Value::Integer(len),
                      Value::Integer(dec)};
    if (parts.size() > 4) row.push_back(Value::Integer(std::strtol(parts[4].c_str(), nullptr, 10)));
    structure.push_back(Value::Array(std::move(row)));
  }
  if (structure.empty()) throw UsageError{"create needs at least one field"};
  std::string kind = a.Get("kind", "db3");
  int table_kind = kind == "vfp" ? 2 : kind == "db4" ? 3 : kind == "db3" ? 1 : 0;
  if (table_kind == 0) throw UsageError{"unknown kind " + kind};
  std::string memo = a.Get("memo", "DBT");
  int memo_type = memo == "FPT" || memo == "fpt" ? 2 : memo == "DBT" || memo == "dbt" ? 1 : 0;
  if (memo_type == 0) throw UsageError{"unknown memo kind " + memo};
  Value old_kind = RDDINFO(13, Value::Integer(table_kind), "DBFFPT");
  Value old_memo = RDDINFO(14, Value::Integer(memo_type), "DBFFPT");
  // An alias of our own: the one made from the file name may be taken (a table named "e" or
  // "m" would clash with the area letters).
  bool ok = DBCREATE(file, structure, "DBFFPT", std::nullopt, "T");
  RDDINFO(13, old_kind, "DBFFPT");
  RDDINFO(14, old_memo, "DBFFPT");
  if (!ok) throw Abandon(RuntimeError{kEgCreate, "DBF", kEdfCreate, 0, "", file});
  return 0;
}

int CmdAppend(const ToolArgs& a) {
  std::string csv_file = a.Get("csv");
  if (csv_file.empty()) throw UsageError{"append needs --csv FILE"};
  std::FILE* in = csv_file == "-" ? stdin : std::fopen(csv_file.c_str(), "rb");
  if (!in) {
    std::fprintf(stderr, "dbutool: %s: cannot open\n", csv_file.c_str());
    return 1;
  }
  bool exclusive = a.Has("exclusive");
  DbfArea* t = OpenTable(a.positional.at(1), !exclusive, false);
  Codepage cp = a.Has("oem") ? Codepage::kCp850 : Codepage::kCp1252;
  CsvReader reader(in);
  std::vector<std::string> row;
  std::string err;
  if (!reader.Next(&row, &err)) {
    if (in != stdin) std::fclose(in);
    DBCLOSEAREA();
    return 0;
  }
  std::vector<int> positions;
  for (const std::string& name : row) {
    int pos = name == "_RECNO" || name == "_DELETED" ? -1 : FIELDPOS(name);
    if (pos == 0) {
      std::fprintf(stderr, "dbutool: %s: line 1: no field named %s\n", csv_file.c_str(), name.c_str());
      if (in != stdin) std::fclose(in);
      DBCLOSEAREA();
      return 1;
    }
    positions.push_back(pos);
  }
  const std::vector<Field>& fields = t->fields();
  int status = 0;
  std::vector<Value> values(positions.size());
  while (reader.Next(&row, &err)) {
    long line = reader.record_line();
    auto fail = [&](const std::string& field, const std::string& why) {
      std::fprintf(stderr, "dbutool: %s: line %ld, field %s: %s\n", csv_file.c_str(), line,
                   field.c_str(), why.c_str());
      status = 1;
    };
    if (!err.empty()) {
      fail("-", err);
      break;
    }
    if (row.size() == 1 && row[0].empty()) continue;  // blank line
    if (row.size() != positions.size()) {
      fail("-", "expected " + std::to_string(positions.size()) + " values, found " +
                    std::to_string(row.size()));
      break;
    }
    bool deleted = false;
    for (size_t i = 0; i < positions.size(); ++i) {
      values[i] = Value();
      if (positions[i] < 0) {
        deleted = deleted || (row[i] == "*" && i < positions.size());
        continue;
      }
      if (row[i].empty()) continue;  // left blank
      const Field& f = fields[static_cast<size_t>(positions[i] - 1)];
      std::string why;
      if (!ParseFieldText(row[i], f, cp, &values[i], &why)) {
        fail(f.name, why);
        break;
      }
    }
    if (status) break;
    if (!DBAPPEND()) {
      fail("-", "append failed");
      break;
    }
    {
      const Field* f = nullptr;  // the field being written
      ScopedErrorHandler h([&](const RuntimeError& e) -> ErrorAnswer {
        fail(f->name, e.description.empty() ? GeneralDescription(e.gen_code) : e.description);
        return ErrorAnswer::Default();
      });
      for (size_t i = 0; i < positions.size() && !status; ++i) {
        if (positions[i] < 0 || values[i].is_nil()) continue;
        f = &fields[static_cast<size_t>(positions[i] - 1)];
        (void)t->put_value(positions[i], values[i]);
      }
    }
    if (status) {
      // The failed record is not kept half-written: roll it back and mark it deleted.
      Value ignored;
      (void)t->info(130, Value(), &ignored);
      (void)t->delete_record();
      break;
    }
    if (deleted) (void)t->delete_record();
  }
  if (in != stdin) std::fclose(in);
  DBCOMMIT();
  DBCLOSEAREA();
  return status;
}

int CmdPackZap(const ToolArgs& a, bool zap) {
  OpenTable(a.positional.at(1), false, false);
  bool ok = zap ? DBZAP() : DBPACK();
  DBCLOSEAREA();
  return ok ? 0 : 1;
}

void PrintUsage() {
  std::fputs(
      "usage: dbutool info TABLE [--json]\n"
      "       dbutool list TABLE [--csv] [--all] [--recno] [--oem] [--fields A,B]\n"
      "                          [--for EXPR] [--count] [--index BAG [--tag T]]\n"
      "       dbutool eval TABLE EXPR [--recno N] [--oem]\n"
      "       dbutool create TABLE NAME:TYPE:LEN[:DEC] ... [--memo DBT|FPT] [--kind db3|db4|vfp]\n"
      "       dbutool append TABLE --csv FILE [--oem] [--exclusive]\n"
      "       dbutool pack TABLE\n"
      "       dbutool zap TABLE\n"
      "       dbutool index TABLE BAG KEY [--tag T] [--for EXPR] [--unique] [--descending]\n"
      "                                   [--driver D]\n"
      "       dbutool seek TABLE BAG VALUE|--keys FILE [--soft] [--last] [--tag T]\n"
      "       dbutool reindex TABLE BAG\n"
      "       dbutool check TABLE BAG\n"
      "every command that opens a table takes --password PW\n",
      stderr);
}

}  // namespace

bool ToolArgs::Has(const std::string& name) const {
  for (const auto& [n, v] : options) {
    if (n == name) return true;
  }
  return false;
}

std::string ToolArgs::Get(const std::string& name, const std::string& def) const {
  for (const auto& [n, v] : options) {
    if (n == name) return v;
  }
  return def;
}

int RunTool(const std::vector<std::string>& argv) {
  if (argv.size() == 1 && argv[0] == "--version") {
    std::printf("dbutool (%s) %s\n", kProductName, kProductVersion);
    return 0;
  }
  ToolArgs a;
  std::string command;
  for (const std::string& s : argv) {
    if (s.compare(0, 2, "--") != 0) {
      command = s;
      break;
    }
  }
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& s = argv[i];
    if (s.size() > 2 && s.compare(0, 2, "--") == 0) {
      std::string name = s.substr(2), value;
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
      } else if (TakesValue(name, command) && i + 1 < argv.size()) {
        value = argv[++i];
      }
      a.options.emplace_back(name, value);
    } else {
      a.positional.push_back(s);
    }
  }
  if (a.positional.size() < 2) {
    PrintUsage();
    return 2;
  }
  const std::string& cmd = a.positional[0];
  try {
    ApplyStartupSettings();
    if (a.Has("password")) {
      // The standing password of every table driver: tables opened or created by this
      // command are read and written with its key.
      for (const char* d : {"DBF", "DBFFPT", "DBFNTX", "DBFCDX"}) {
        RDDINFO(42, Value::String(a.Get("password")), d);
      }
    }
    if (cmd == "info") return CmdInfo(a);
    if (cmd == "list") return CmdList(a);
    if (cmd == "eval") return CmdEval(a);
    if (cmd == "create") return CmdCreate(a);
    if (cmd == "append") return CmdAppend(a);
    if (cmd == "pack") return CmdPackZap(a, false);
    if (cmd == "zap") return CmdPackZap(a, true);
    if (cmd == "index") return CmdIndex(a);
    if (cmd == "seek") return CmdSeek(a);
    if (cmd == "reindex") return CmdReindex(a);
    if (cmd == "check") return CmdCheck(a);
    PrintUsage();
    return 2;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "dbutool: %s\n", e.text.c_str());
    return 2;
  } catch (const Abandon& e) {
    const RuntimeError& r = e.error();
    std::string file = r.file_name.empty() ? g_table : r.file_name;
    std::string desc = r.description.empty() ? GeneralDescription(r.gen_code) : r.description;
    std::fprintf(stderr, "dbutool: %s: error %d/%d %s%s%s\n", file.c_str(), r.gen_code,
                 r.sub_code, desc.c_str(), r.operation.empty() ? "" : (" (" + r.operation + ")").c_str(),
                 r.os_code ? (" [os " + std::to_string(r.os_code) + "]").c_str() : "");
    DBCLOSEALL();
    return 1;
  } catch (const InternalError& e) {
    std::fprintf(stderr, "dbutool: internal error %s\n", e.what());
    return 3;
  }
}

}  // namespace vosk
