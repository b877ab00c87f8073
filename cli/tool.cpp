#include "cli/tool.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

#include "cli/command_line.h"
#include "cli/index_commands.h"
#include "expr/expression.h"
#include "expr/number_text.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "platform/owned_file.h"
#include "rdd/text/csv.h"
#include "rdd/transfer.h"
#include "rdd/text/field_text.h"
#include "rdd/db_commands.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/restructure.h"
#include "rdd/work_area_table.h"

namespace vosk {
// A JSON string literal of bytes (control characters escaped).
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

namespace {

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

}  // namespace

std::string CodepageOption(const ToolArgs& a) {
  if (!a.Has("codepage")) return a.Has("oem") ? "cp850" : "";
  Codepage cp;
  if (!CodepageFromName(a.Get("codepage"), &cp)) {
    throw UsageError{"unknown code page " + a.Get("codepage")};
  }
  return CodepageName(cp);
}

std::string TableText(const std::string& utf8) {
  const WorkArea* area = CurrentArea();
  if (!area || AsciiRun(utf8) == utf8.size() || area->codepage() == Codepage::kUtf8) return utf8;
  std::string bytes;
  size_t bad = 0;
  if (FromUtf8(utf8, area->codepage(), &bytes, &bad)) return bytes;
  std::string none;
  if (!FromUtf8(utf8, Codepage::kUtf8, &none)) return utf8;  // not UTF-8: the bytes as given
  throw UsageError{"\"" + utf8 + "\": a character is not in the table's code page " +
                   CodepageName(area->codepage())};
}

std::string AliasOption(const ToolArgs& a, const std::string& table) {
  if (!a.Has("alias")) return AliasOfFileName(table);
  if (!IsValidAlias(a.Get("alias"))) throw UsageError{"not a valid alias: " + a.Get("alias")};
  return a.Get("alias");
}

DbfArea* OpenTable(const ToolArgs& a, const std::string& file, bool shared, bool read_only) {
  g_table = file;
  if (!DBUSEAREA(true, "DBFFPT", file, AliasOption(a, file), shared, read_only,
                 CodepageOption(a))) {
    throw Abandon(RuntimeError{kEgOpen, "DBF", kEdfOpen, 0, "", file});
  }
  return dynamic_cast<DbfArea*>(CurrentArea());
}

namespace {

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


int CmdInfo(const ToolArgs& a) {
  DbfArea* t = OpenTable(a, a.positional.at(1), true, true);
  uint32_t count = 0;
  (void)t->record_count(&count);
  const std::vector<Field>& fields = t->fields();
  if (a.Has("json")) {
    std::string out = "{\"version\": " + std::to_string(t->version_byte()) +
                      ", \"records\": " + std::to_string(count) +
                      ", \"header_length\": " + std::to_string(t->header_length()) +
                      ", \"record_length\": " + std::to_string(t->record_length()) +
                      ", \"memo\": \"" + MemoName(t->memo_kind()) +
                      "\", \"codepage\": \"" + CodepageName(t->codepage()) +
                      "\", \"codepage_source\": \"" + CodepageSourceName(t->codepage_source()) +
                      "\", \"fields\": [";
    bool first = true;
    for (int i = 1; i <= t->field_count(); ++i) {
      const Field& f = fields[static_cast<size_t>(i - 1)];
      if (!first) out += ", ";
      first = false;
      out += "{\"name\": " + JsonString(ToUtf8(f.name, kProgramCodepage)) + ", \"type\": " +
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
    std::printf("Code page:      %s (%s)\n", CodepageName(t->codepage()),
                CodepageSourceName(t->codepage_source()));
    std::printf("Fields:         %d\n", t->field_count());
    for (int i = 1; i <= t->field_count(); ++i) {
      const Field& f = fields[static_cast<size_t>(i - 1)];
      std::printf("  %3d  %-10s  %c  %5u  %3u\n", i, ToUtf8(f.name, kProgramCodepage).c_str(), f.letter, f.length,
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

// A value the driver cannot decode is listed empty; any other error ends the listing.
ErrorAnswer QuietDecodeErrors(const RuntimeError& e) {
  if (e.gen_code == kEgDataType && e.sub_code == kEdfDataType) return ErrorAnswer::Default();
  throw Abandon(e);
}

// list --csv: a copy of the records to CSV on the standard output, with the columns of the
// record number and the deletion mark when asked for. Deleted records are left out unless
// --all.
int ListCsv(const ToolArgs& a, DbfArea* t, const std::vector<int>& cols) {
  TransferArgs args;
  args.file = "-";
  args.driver = "CSV";
  if (a.Has("fields")) {
    for (int c : cols) args.fields.push_back(t->field_name(c));
  }
  args.for_text = TableText(a.Get("for"));
  args.text_columns = (a.Has("recno") ? kTextColumnRecno : 0) |
                      (a.Has("all") ? kTextColumnDeleted : 0);
  ScopedErrorHandler quiet(QuietDecodeErrors);
  SET(kSetDeleted, Value::Logical(!a.Has("all")));
  bool ok = DBCOPYTO(args);
  SET(kSetDeleted, Value::Logical(false));
  if (!ok) throw Abandon(RuntimeError{kEgWrite, "DBCMD", 0, 0, "", t->file_name()});
  DBCLOSEAREA();
  return 0;
}

int CmdList(const ToolArgs& a) {
  DbfArea* t = a.Has("index") ? OpenIndexedTable(a, true, true)
                              : OpenTable(a, a.positional.at(1), true, true);
  bool csv = a.Has("csv");
  bool all = a.Has("all");
  bool recno = a.Has("recno");
  Codepage cp = t->codepage();
  std::vector<int> cols = SelectedFields(a, t);
  // (A table without fields cannot be copied: its rows are listed empty below.)
  if (csv && !a.Has("count") && !cols.empty()) return ListCsv(a, t, cols);
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
    // Names are decoded like text; in CSV a name with a comma, quote or line break is quoted.
    std::string name = ToUtf8(fields[static_cast<size_t>(c - 1)].name, cp);
    if (csv) AppendCsvField(&o, name);
    else o += name;
  }
  const std::string_view eol = csv ? "\r\n" : "\n";
  o.append(eol);

  // Null flags of Visual FoxPro tables: a field's null bit, and a variable-length field's length
  // bit (when set, the field's last byte holds the length of its value).
  const Field* null_flags = nullptr;
  for (const Field& f : fields) {
    if (f.kind == FieldKind::kSystem && f.name == "_NULLFLAGS") null_flags = &f;
  }
  auto bit_set = [&](const uint8_t* rec, int bit) {
    return null_flags && bit >= 0 && bit / 8 < null_flags->length &&
           ((rec[null_flags->offset + bit / 8] >> (bit % 8)) & 1);
  };
  std::unique_ptr<Expression> cond;
  if (a.Has("for")) {
    CompileError err;
    cond = Compile(TableText(a.Get("for")), &err);
    if (!cond) throw Abandon(err.ToRuntimeError(a.Get("for")));
  }
  bool count_only = a.Has("count");
  if (count_only) o.clear();
  uint64_t passed = 0;
  ScopedErrorHandler quiet(QuietDecodeErrors);
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
      if (f.kind == FieldKind::kVarLength && bit_set(rec, f.length_bit)) {
        Field shorter = f;
        shorter.length = std::min<uint16_t>(rec[f.offset + f.length - 1], f.length - 1);
        AppendFieldText(&o, shorter, rec, cp, is_null);
      } else if (!AppendFieldText(&o, f, rec, cp, is_null)) {
        Value v;
        if (Ok(t->get_value(c, &v)) && v.is_string()) {
          if (csv) AppendCsvText(&o, v.str(), cp);
          else AppendUtf8Text(&o, v.str(), cp);
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

void CloseAllReporting();

int CmdEval(const ToolArgs& a) {
  DbfArea* t = OpenTable(a, a.positional[1], true, true);
  Codepage cp = t->codepage();
  long recno = a.Has("recno") ? std::strtol(a.Get("recno").c_str(), nullptr, 10) : 1;
  (void)t->go_to(static_cast<uint32_t>(recno < 0 ? 0 : recno));
  try {
    CompileError err;
    std::unique_ptr<Expression> e = Compile(TableText(a.positional[2]), &err);
    if (!e) throw Abandon(err.ToRuntimeError(a.positional[2]));
    Value v = e->Eval();
    std::fputs(EvalLine(v, cp).c_str(), stdout);
  } catch (const Abandon& ex) {
    const RuntimeError& r = ex.error();
    std::string desc = r.description.empty() ? GeneralDescription(r.gen_code) : r.description;
    std::printf("E\t%d/%d %s\n", r.gen_code, r.sub_code, desc.c_str());
    CloseAllReporting();
    return 1;
  }
  DBCLOSEAREA();
  return 0;
}

// The fields NAME:TYPE:LEN[:DEC[:FLAGS]] given from positional argument `first` on, as a
// structure array.
ValueArray FieldArguments(const ToolArgs& a, size_t first) {
  ValueArray structure;
  for (size_t i = first; i < a.positional.size(); ++i) {
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
  return structure;
}

int CmdCreate(const ToolArgs& a) {
  std::string file = a.positional.at(1);
  g_table = file;
  ValueArray structure = FieldArguments(a, 2);
  if (structure.empty()) throw UsageError{"create needs at least one field"};
  if (a.Has("password")) {
    for (const Value& row : structure) {
      const std::string type = row.array()[1].str();
      const int64_t len = static_cast<int64_t>(row.array()[2].number());
      char t = type.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(type[0])));
      if (std::strchr("MBGPW", t) || (t == 'V' && len >= 6)) {
        std::fprintf(stderr,
                     "dbutool: %s: a table with memo fields cannot be enciphered: "
                     "--password refused, nothing created\n",
                     file.c_str());
        return 1;
      }
    }
  }
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
  bool ok = DBCREATE(file, structure, "DBFFPT", std::nullopt, "T", CodepageOption(a));
  RDDINFO(13, old_kind, "DBFFPT");
  RDDINFO(14, old_memo, "DBFFPT");
  if (!ok) throw Abandon(RuntimeError{kEgCreate, "DBF", kEdfCreate, 0, "", file});
  return 0;
}

int CmdPackZap(const ToolArgs& a, bool zap) {
  OpenTable(a, a.positional.at(1), false, false);
  bool ok = zap ? DBZAP() : DBPACK();
  DBCLOSEAREA();
  return ok ? 0 : 1;
}

// Gives a table a new list of fields, converting every record (rdd/restructure.h).
int CmdRestructure(const ToolArgs& a) {
  const std::string file = a.positional.at(1);
  ValueArray structure = FieldArguments(a, 2);
  if (structure.empty()) throw UsageError{"restructure needs at least one field"};
  OpenTable(a, file, false, false);
  RestructureOptions options;
  options.password = a.Get("password");
  RestructureReport report;
  if (!RestructureTable(structure, options, &report)) return 1;
  if (report.values_left_blank > 0) {
    std::fprintf(stderr, "dbutool: %s: %llu values did not fit their new field and were left blank\n",
                 file.c_str(), static_cast<unsigned long long>(report.values_left_blank));
  }
  for (const std::string& line : report.index_problems) {
    std::fprintf(stderr, "dbutool: %s: %s\n", file.c_str(), line.c_str());
  }
  std::printf("%u records; the old table is kept as %s\n", report.records, report.backup.c_str());
  return 0;
}

// Enciphers or deciphers every record of a table, through a rewrite beside it: a kill or a full
// disk half-way leaves the table as it was.
int CmdCipher(const ToolArgs& a, bool encipher) {
  const std::string file = a.positional.at(1);
  if (!a.Has("password") || a.Get("password").empty()) {
    throw UsageError{"a password is needed (--password PW)"};
  }
  DbfArea* t = OpenTable(a, file, false, false);
  const char* refusal = nullptr;
  if (encipher && t->table_enciphered()) refusal = "the table is enciphered already";
  if (encipher && t->memo_kind() != MemoKind::kNone) {
    refusal = "a table with memo fields cannot be enciphered";
  }
  if (!encipher && !t->table_enciphered()) refusal = "the table is not enciphered";
  if (refusal) {
    std::fprintf(stderr, "dbutool: %s: %s: nothing changed\n", file.c_str(), refusal);
    DBCLOSEAREA();
    return 1;
  }
  const Value done = DBINFO(encipher ? 140 : 141, Value::String(a.Get("password")));
  DBCLOSEAREA();
  return done.is_logical() && done.logical() ? 0 : 1;
}

// Options of every command that opens a table.
std::vector<OptionSpec> TableOptions() {
  return {
      {.name = "password", .value = "PW",
       .help = "Read and write the table enciphered with this password's key; a table created "
               "with it is enciphered."},
      {.name = "codepage", .value = "NAME",
       .help = "The table's text is in this code page: cp437, cp737, cp850, cp852, cp857, "
               "cp861, cp865, cp866, cp874, cp1250 to cp1256, plmaz (Mazovia), kamenicky "
               "(Kamenick\xc3\xbd) or utf8. Without it: the code page a .cpg file beside the "
               "table names, else the one the table's header marks, else cp1252. A table "
               "created with it is marked with it."},
      {.name = "alias", .value = "NAME",
       .help = "Open the table under this alias (default: made from the file name, as "
               "SALES_2024 for sales-2024.dbf) for ALIAS->FIELD in expressions."},
  };
}

// The command's own options followed by those of every command that opens a table.
std::vector<OptionSpec> WithTableOptions(std::vector<OptionSpec> own) {
  for (OptionSpec& o : TableOptions()) own.push_back(std::move(o));
  return own;
}

const ArgSpec kTableArg{.name = "TABLE", .help = "The table (.dbf).",
                        .completion = Completion::kTable};
const ArgSpec kBagArg{.name = "BAG", .help = "The index file: an NTX order or a CDX bag.",
                      .completion = Completion::kIndex};

const OptionSpec kOemOption{.name = "oem", .help = "The same as --codepage cp850 (DOS)."};
const OptionSpec kTagOption{.name = "tag", .value = "T",
                            .help = "The order named T of a compound bag."};
const OptionSpec kDriverOption{.name = "driver", .value = "D",
                               .help = "The index driver: DBFNTX (the default) or DBFCDX.",
                               .completion = Completion::kChoice,
                               .choices = {"DBFNTX", "DBFCDX"}};
const OptionSpec kFormatOption{.name = "format", .value = "FORMAT",
                               .help = "The file's format, when its extension does not say it.",
                               .completion = Completion::kChoice,
                               .choices = {"dbf", "sdf", "csv", "sqlite", "xlsx"}};
const OptionSpec kExclusiveOption{
    .name = "exclusive", .help = "Open the table for this process alone, which is faster."};

// Every command of dbutool, in the order of its help and man page.
const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
      {.name = "info",
       .summary = "Show a table's header and fields",
       .description =
           "Shows the version byte, record count, header and record lengths, memo kind, the "
           "code page and where it came from (named, .cpg file, table header or default) and "
           "the fields (name, type letter, length, decimals).",
       .args = {kTableArg},
       .options = WithTableOptions({
           {.name = "json",
            .help = "Print one JSON object {\"version\", \"records\", \"header_length\", "
                    "\"record_length\", \"memo\", \"codepage\", \"codepage_source\", "
                    "\"fields\": [{\"name\", \"type\", "
                    "\"len\", \"dec\"}]} with the type letter as stored."},
       }),
       .run = CmdInfo},
      {.name = "list",
       .summary = "Write the records of a table",
       .description =
           "Writes the records in physical order (or in the order of an index), deleted ones "
           "left out unless --all, one per line with a header row, tab-separated or CSV. "
           "Numbers keep the field's decimals (12.50; a blank field is empty), dates are "
           "YYYY-MM-DD, timestamps YYYY-MM-DD HH:MM:SS.mmm, logicals T or F (unset: empty), "
           "memos their text.",
       .args = {kTableArg},
       .options = WithTableOptions({
           {.name = "csv", .help = "Write RFC 4180 CSV in UTF-8 with a header row."},
           {.name = "all", .help = "Include deleted records, with a _DELETED column (* or empty)."},
           {.name = "recno", .help = "Add the record number as a first column _RECNO."},
           kOemOption,
           {.name = "fields", .value = "A,B", .help = "Only these fields, in this order."},
           {.name = "for", .value = "EXPR",
            .help = "Only the records for which the expression is true."},
           {.name = "count", .help = "Print only how many records there are."},
           {.name = "index", .value = "BAG", .help = "List in the order of this index file.",
            .completion = Completion::kIndex},
           kTagOption,
           kDriverOption,
       }),
       .run = CmdList},
      {.name = "eval",
       .summary = "Evaluate an expression on a record",
       .description =
           "Prints one line: the value's type letter (C, N, D, T, L, M, or U for NIL), a tab "
           "and the value (25.00, 2020-02-01, T, NIL). A runtime error prints E, a tab, "
           "general/subcode and its description (5/1340 Zero divisor) and exits with status 1.",
       .args = {kTableArg, {.name = "EXPR", .help = "The expression."}},
       .options = WithTableOptions({
           {.name = "recno", .value = "N", .help = "On record N (default 1)."},
           kOemOption,
       }),
       .run = CmdEval},
      {.name = "create",
       .summary = "Create an empty table",
       .description =
           "Makes an empty table with the given fields: a dBase III (db3, the default), dBase "
           "IV (db4) or Visual FoxPro (vfp) table.",
       .args = {{.name = "TABLE", .help = "The table to create (.dbf).",
                 .completion = Completion::kTable},
                {.name = "NAME:TYPE:LEN[:DEC[:FLAGS]]",
                 .help = "A field: name, type letter, length, decimals and field flags "
                         "(2 = nullable).",
                 .count = ArgSpec::kOneOrMore}},
       .options = WithTableOptions({
           {.name = "memo", .value = "DBT|FPT", .help = "The memo file kind (default DBT).",
            .completion = Completion::kChoice, .choices = {"DBT", "FPT"}},
           {.name = "kind", .value = "db3|db4|vfp", .help = "The table kind (default db3).",
            .completion = Completion::kChoice, .choices = {"db3", "db4", "vfp"}},
       }),
       .run = CmdCreate},
      {.name = "append",
       .summary = "Add the rows of a CSV file to a table",
       .description =
           "Adds the rows of a UTF-8 CSV file whose header row names the fields (in any order, "
           "_DELETED and _RECNO accepted), in the forms that list --csv writes; an empty value "
           "leaves the field blank. A value the field cannot hold stops with an error naming "
           "the line and the field; the rows before it stay.",
       .args = {kTableArg},
       .options = WithTableOptions({
           {.name = "csv", .value = "FILE", .help = "The CSV file (- for standard input).",
            .completion = Completion::kCsv, .required = true},
           kOemOption,
           kExclusiveOption,
       }),
       .run = CmdAppendCsv},
      {.name = "copy",
       .summary = "Copy the records of a table to a new table, text file, database or sheet",
       .description =
           "Writes the records of TABLE (in physical order, or in the order of an index) to "
           "TARGET: a table of the same kind and memo kind (dbf), fixed-width text (sdf, one "
           "line per record, the fields at fixed widths), CSV with a header row in the forms "
           "that list --csv writes (csv), a table of a SQLite database (sqlite; named after "
           "TABLE unless --table; an existing table of that name is replaced) or a spreadsheet "
           "(xlsx). Without --format the format follows TARGET's extension: .dbf, .txt or "
           ".sdf, .csv, .sqlite or .db, .xlsx. Deleted records are copied deleted to a dbf "
           "target and to sdf; csv, sqlite and xlsx leave them out unless --all. Text goes "
           "as characters: a dbf or sdf target in TABLE's code page (or --target-codepage), "
           "csv, sqlite and xlsx in UTF-8; characters the target's code page lacks are "
           "written as ? and reported with the first record that had one.",
       .args = {kTableArg, {.name = "TARGET", .help = "The file to write (- for standard output, with --format).",
                            .completion = Completion::kFile}},
       .options = WithTableOptions({
           kFormatOption,
           {.name = "table", .value = "NAME",
            .help = "The name of the SQLite table or of the worksheet."},
           {.name = "all",
            .help = "csv, sqlite, xlsx: include deleted records, with a _DELETED column (* for "
                    "a deleted record), which import turns back into the deletion mark."},
           {.name = "target-codepage", .value = "NAME",
            .help = "The code page of a dbf, sdf or csv target's text (default: TABLE's; csv: "
                    "UTF-8)."},
           {.name = "bom", .help = "csv: start with the UTF-8 byte-order mark, which "
                                   "spreadsheets need to show accented letters."},
           {.name = "sheet-rows", .value = "N",
            .help = "xlsx: rows per sheet below the header row (default and at most "
                    "1048575); the rows after them go on in a next sheet named after the "
                    "first with its number."},
           {.name = "one-sheet",
            .help = "xlsx: refuse, before writing anything, a copy that needs more than one "
                    "sheet."},
           {.name = "fields", .value = "A,B", .help = "Only these fields, in this order."},
           {.name = "for", .value = "EXPR",
            .help = "Only the records for which the expression is true."},
           {.name = "while", .value = "EXPR",
            .help = "From the first record (or the current one), as long as it is true."},
           {.name = "next", .value = "N", .help = "At most N records."},
           {.name = "record", .value = "N", .help = "Only record N."},
           {.name = "rest", .help = "From the current record to the end."},
           {.name = "index", .value = "BAG", .help = "Copy in the order of this index file.",
            .completion = Completion::kIndex},
           kTagOption,
           kDriverOption,
       }),
       .run = CmdCopy},
      {.name = "import",
       .summary = "Add the records of another table, text file or database to a table",
       .description =
           "Appends the records of SOURCE to TABLE, matching fields by name (a source field "
           "that TABLE lacks is ignored; a field of TABLE that the source lacks stays blank). "
           "SOURCE is a table (dbf), fixed-width text in TABLE's layout (sdf), CSV with a "
           "header row (csv) or a SQLite table or query (sqlite; the table named after TABLE "
           "unless --table or --query). Every value read from sdf or csv text is checked by its "
           "field's type: one the field cannot hold is left blank and reported with its line. "
           "A SQLite value the field cannot take stops the import; the rows before it stay. "
           "A record whose store fails stays, marked deleted. Characters TABLE's code page "
           "lacks are written as ? and reported.",
       .args = {kTableArg, {.name = "SOURCE", .help = "The file to read (- for standard input, with --format).",
                            .completion = Completion::kFile}},
       .options = WithTableOptions({
           kFormatOption,
           {.name = "table", .value = "NAME", .help = "The SQLite table to read."},
           {.name = "query", .value = "SQL", .help = "The SQLite query whose rows are read."},
           {.name = "source-codepage", .value = "NAME",
            .help = "The code page of SOURCE's text: a dbf's (default: its own), an sdf "
                    "file's (default: TABLE's) or a csv file's (default: UTF-8)."},
           {.name = "nulls", .help = "csv: an empty value is null in a nullable field (a "
                                     "SQLite NULL always is)."},
           {.name = "fields", .value = "A,B", .help = "Only these fields."},
           {.name = "for", .value = "EXPR",
            .help = "Only the records of SOURCE for which the expression is true."},
           kOemOption,
           kExclusiveOption,
       }),
       .run = CmdImport},
      {.name = "pack",
       .summary = "Remove the deleted records of a table",
       .args = {kTableArg},
       .options = TableOptions(),
       .run = [](const ToolArgs& a) { return CmdPackZap(a, false); }},
      {.name = "zap",
       .summary = "Remove all records of a table",
       .args = {kTableArg},
       .options = TableOptions(),
       .run = [](const ToolArgs& a) { return CmdPackZap(a, true); }},
      {.name = "restructure",
       .summary = "Give a table a new list of fields, converting every record",
       .description =
           "Rebuilds TABLE with the fields listed (in the form create takes), as the "
           "structure editor does: a field keeps the values of the old field of its name, or "
           "of the field in its place when that one was renamed; each value is converted to "
           "the new type (text to numbers with Italian punctuation 1.234,56, dates as "
           "dd/mm/yyyy, logicals as 1 and 0, a number too wide for its field becomes 0); "
           "deleted records stay deleted, memos are kept. The old table and memo file stay "
           "beside it as TABLE_ORIGINALE; an interruption before the swap leaves the table as "
           "it was. The structural index bag is rebuilt; a tag whose key no longer fits the "
           "fields is dropped and reported.",
       .args = {kTableArg,
                {.name = "NAME:TYPE:LEN[:DEC[:FLAGS]]",
                 .help = "A field of the new structure, in order.",
                 .count = ArgSpec::kOneOrMore}},
       .options = TableOptions(),
       .run = CmdRestructure},
      {.name = "encipher",
       .summary = "Encipher every record of a table with a password",
       .description = "The table (without memo fields) is rewritten beside itself and swapped "
                      "in once every record is enciphered: an interruption leaves it as it "
                      "was. The cipher hides the data from casual eyes only: it is not "
                      "encryption.",
       .args = {kTableArg},
       .options = TableOptions(),
       .run = [](const ToolArgs& a) { return CmdCipher(a, true); }},
      {.name = "decipher",
       .summary = "Decipher every record of a table enciphered with a password",
       .description = "The table is rewritten in clear beside itself and swapped in once every "
                      "record is deciphered. A password other than the table's is refused "
                      "before anything is written.",
       .args = {kTableArg},
       .options = TableOptions(),
       .run = [](const ToolArgs& a) { return CmdCipher(a, false); }},
      {.name = "index",
       .summary = "Build an index order from a key expression",
       .description = "Builds the order and prints how many keys it holds.",
       .args = {kTableArg,
                {.name = "BAG", .help = "The index file to write.",
                 .completion = Completion::kIndex},
                {.name = "KEY", .help = "The key expression."}},
       .options = WithTableOptions({
           {.name = "tag", .value = "T", .help = "The order's name in a compound bag."},
           {.name = "for", .value = "EXPR", .help = "Only the records for which it is true."},
           {.name = "unique", .help = "One key for records with equal key values."},
           {.name = "descending", .help = "Keys in descending order."},
           kDriverOption,
           kExclusiveOption,
       }),
       .run = CmdIndex},
      {.name = "seek",
       .summary = "Find a key in an index",
       .description =
           "Prints the record number that the key finds, or EOF; with --keys, one line for "
           "each line of the file. Give VALUE or --keys.",
       .args = {kTableArg, kBagArg,
                {.name = "VALUE", .help = "The key to find.", .count = ArgSpec::kOptional}},
       .options = WithTableOptions({
           {.name = "keys", .value = "FILE", .help = "Seek each line of this file.",
            .completion = Completion::kFile},
           {.name = "soft", .help = "When the key is missing, stop at the next greater key."},
           {.name = "last", .help = "Find the last of equal keys."},
           kTagOption,
           kDriverOption,
       }),
       .run = CmdSeek},
      {.name = "reindex",
       .summary = "Rebuild every order of an index file",
       .description =
           "Every order is built again with its key, FOR condition and flags, into a new file "
           "beside the index that takes its place only once whole: a rebuild that fails "
           "leaves the index as it was.",
       .args = {kTableArg, kBagArg},
       .options = WithTableOptions({kDriverOption}),
       .run = CmdReindex},
      {.name = "tags",
       .summary = "List the tags of an index bag",
       .description =
           "One line per tag: NAME, KEY, FOR and FLAGS (U unique, D descending, C custom) "
           "separated by tabs; the table's structural bag when BAG is not given.",
       .args = {kTableArg,
                {.name = "BAG", .help = "The index file.", .completion = Completion::kIndex,
                 .count = ArgSpec::kOptional}},
       .options = WithTableOptions({{.name = "json", .help = "A JSON array of tags."},
                                    kDriverOption}),
       .run = CmdTags},
      {.name = "droptag",
       .summary = "Remove a tag from an index bag",
       .description = "A bag left without tags is deleted.",
       .args = {kTableArg, kBagArg, {.name = "TAG", .help = "The tag to remove."}},
       .options = WithTableOptions({kDriverOption}),
       .run = CmdDropTag},
      {.name = "check",
       .summary = "Verify an index file against its table",
       .description =
           "Verifies the structure of the index file and that its keys are exactly those of "
           "the table's records, beside other programs editing them; prints the problems "
           "found. Exit status 0: the index is sound; 1: it is damaged; 4: it could not be "
           "checked (the table or the index does not open or cannot be read).",
       .args = {kTableArg, kBagArg},
       .options = WithTableOptions({kDriverOption}),
       .run = CmdCheck},
  };
  return commands;
}

void ReportAbandon(const RuntimeError& r) {
  std::string file = r.file_name.empty() ? g_table : r.file_name;
  if (!file.empty()) file += ": ";
  std::string desc = r.description.empty() ? GeneralDescription(r.gen_code) : r.description;
  std::fprintf(stderr, "dbutool: %serror %d/%d %s%s%s\n", file.c_str(), r.gen_code,
               r.sub_code, desc.c_str(), r.operation.empty() ? "" : (" (" + r.operation + ")").c_str(),
               r.os_code ? (" [os " + std::to_string(r.os_code) + "]").c_str() : "");
}

// Closes every table after a command was abandoned; an error of the closes is reported, never
// thrown out of the recovery point.
void CloseAllReporting() {
  try {
    DBCLOSEALL();
  } catch (const Abandon& e) {
    ReportAbandon(e.error());
  }
}

// Runs one parsed command with the engine set up as the program sets it up.
int RunCommand(const CommandSpec& command, const ToolArgs& a) {
  try {
    CleanTemporaryFolder();  // files of killed runs whose owner is gone
    ApplyStartupSettings();
    // Errors name the table the command works on until a file of their own is known.
    g_table = a.positional.size() > 1 ? a.positional[1] : std::string();
    if (a.Has("password")) {
      // The standing password of every table driver: tables opened or created by this
      // command are read and written with its key.
      for (const char* d : {"DBF", "DBFFPT", "DBFNTX", "DBFCDX"}) {
        RDDINFO(42, Value::String(a.Get("password")), d);
      }
    }
    return command.run(a);
  } catch (const UsageError& e) {
    CloseAllReporting();
    return ReportUsageError(command.name + ": " + e.text, command);
  } catch (const Abandon& e) {
    ReportAbandon(e.error());
    CloseAllReporting();
    return 1;
  } catch (const InternalError& e) {
    std::fprintf(stderr, "dbutool: internal error %s\n", e.what());
    return 3;
  }
}

}  // namespace

int ReportAbandonedCommand(const Abandon& e) {
  ReportAbandon(e.error());
  CloseAllReporting();
  return 1;
}

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
  return RunCommandLine(Commands(), argv, RunCommand);
}

}  // namespace vosk
