#include "rdd/codepage.h"
#include "rdd/transfer.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "expr/runtime_error.h"
#include "rdd/command_error.h"
#include "rdd/db_commands.h"
#include "rdd/driver_registry.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

// The five-value description of a source field; false when a part cannot be read.
bool FieldDescription(WorkArea* area, int pos, Value* out) {
  ValueArray row;
  for (int what = 1; what <= 5; ++what) {
    Value v;
    if (Failed(area->field_info(pos, what, &v))) return false;
    row.push_back(std::move(v));
  }
  *out = Value::Array(std::move(row));
  return true;
}

bool SameFieldLayout(WorkArea* a, int pa, WorkArea* b, int pb, bool* same) {
  *same = true;
  for (int what = 2; what <= 5; ++what) {
    Value va, vb;
    if (Failed(a->field_info(pa, what, &va)) || Failed(b->field_info(pb, what, &vb))) {
      return false;
    }
    bool equal;
    if (va.is_string() && vb.is_string()) {
      std::string x = va.str(), y = vb.str();
      for (char& c : x) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      for (char& c : y) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      equal = x == y;
    } else {
      equal = va.is_numeric() && vb.is_numeric() && va.number() == vb.number();
    }
    if (!equal) {
      *same = false;
      return true;
    }
  }
  return true;
}

// The upper-case base name of a file (folder and extension removed).
std::string BaseName(const std::string& file) {
  size_t slash = file.find_last_of("/\\:");
  std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base.size() > 32) base.resize(32);
  return base;
}

// The alias of the other area: its base name when that is a valid alias still free, else a
// free name of the engine's own (two tables of one base name in different folders).
std::string FreeAliasFor(const std::string& file) {
  std::string base = BaseName(file);
  if (IsValidAlias(base) && base.size() > 1 && AreaOfDesignator(base) == 0) return base;
  for (int n = 1;; ++n) {
    std::string alias = "TRANSFER_" + std::to_string(n);
    if (AreaOfDesignator(alias) == 0) return alias;
  }
}

// Closes the other area of a transfer and re-selects the caller's area, also when the
// transfer is abandoned by an exception.
class OtherArea {
 public:
  explicit OtherArea(int caller) : caller_(caller) {}
  ~OtherArea() {
    try {
      (void)Close();
    } catch (...) {
      // Already unwinding from the error that abandoned the transfer.
    }
    SelectAreaNumber(caller_);
  }
  void Set(int number) { number_ = number; }
  WorkArea* area() const { return number_ ? AreaAt(number_) : nullptr; }
  // Closes the area; the status of its close (the last records are written there).
  Status Close() {
    int n = number_;
    number_ = 0;
    WorkArea* a = n ? AreaAt(n) : nullptr;
    if (!a) return kSuccess;
    SelectAreaNumber(n);
    Status s = a->close();
    ReleaseArea(n);
    SelectAreaNumber(caller_);
    return s;
  }

 private:
  int caller_;
  int number_ = 0;
};

// Drivers whose copies leave deleted records out unless asked for a _DELETED column.
bool MarksDeletedColumn(const std::string& driver) {
  return driver == "CSV" || driver == "SQLITE" || driver == "XLSX";
}

// The rows a spreadsheet sheet holds below its header row.
constexpr uint64_t kSheetDataRows = 1048575;

// How many records of the source a copy's scope passes (the record pointer kept).
Status CountCopied(WorkArea* source, const Scope& scope, bool skip_deleted, uint64_t* count) {
  *count = 0;
  const uint32_t at = source->record_number();
  Status s = source->eval(
      [&] {
        bool deleted = false;
        if (!skip_deleted || (Ok(source->is_deleted(&deleted)) && !deleted)) ++*count;
      },
      scope);
  if (Failed(s)) return s;
  return scope.next || scope.while_cond || scope.rest ? source->go_to(at) : kSuccess;
}

bool RunTransfer(bool export_to, const TransferArgs& args, const char* operation) {
  WorkArea* current = CurrentArea();
  if (!current) {
    CommandError(kEgNoTable, 2001, true, operation);
    return false;
  }
  InitDatabaseEngine();
  const int caller = CurrentAreaNumber();
  OtherArea other(caller);
  std::vector<TransferItem> items;
  uint16_t flags = 0;
  ValueArray structure;
  WorkArea* source = nullptr;
  WorkArea* dest = nullptr;

  Driver* driver = args.driver.empty() ? DefaultDriver() : FindDriver(args.driver);
  const bool text_kind = driver && driver->kind() == kTransferKind;
  const std::string driver_name = driver ? driver->name() : std::string();
  Codepage table_cp = current->codepage();
  if (!args.table_codepage.empty()) (void)CodepageFromName(args.table_codepage, &table_cp);
  AreaOptions o;
  o.file = args.file;
  o.driver = args.driver;
  o.alias = FreeAliasFor(args.file);
  // Values of a text, database or sheet area are in the current table's code page (the area
  // turns them into its file's text); another table keeps its own, and text crosses between
  // the two code pages record by record.
  if (text_kind) o.codepage = CodepageName(table_cp);
  else if (export_to) o.codepage = args.codepage.empty() ? CodepageName(table_cp) : args.codepage;
  else o.codepage = args.codepage;
  o.connection = args.connection;
  o.delimiter = args.delimiter;
  o.table = args.table;
  o.query = args.query;
  const bool deleted_column = export_to && MarksDeletedColumn(driver_name) &&
                              (args.include_deleted || (args.text_columns & kTextColumnDeleted));
  const bool skip_deleted = export_to && MarksDeletedColumn(driver_name) && !deleted_column;
  // The conditions are compiled in the source area; a copy's before its target is made.
  Condition for_cond = args.for_cond, while_cond = args.while_cond;
  auto compile = [&](WorkArea* src) {
    return !((!for_cond && !args.for_text.empty() && Failed(src->compile(args.for_text, &for_cond))) ||
             (!while_cond && !args.while_text.empty() &&
              Failed(src->compile(args.while_text, &while_cond))));
  };
  auto tell = [](WorkArea* area, int code, Value v) {
    Value ignored;
    return Ok(area->info(code, v, &ignored));
  };
  // What the text, database and sheet drivers are told once their area is there.
  auto tell_options = [&](WorkArea* area) {
    if (!text_kind) return true;
    return (args.codepage.empty() || tell(area, kDbiFileCodepage, Value::String(args.codepage))) &&
           (!args.bom || tell(area, kDbiWriteBom, Value::Logical(true))) &&
           (!args.empty_is_null || tell(area, kDbiEmptyIsNull, Value::Logical(true))) &&
           tell(area, kDbiBlankBadValues, Value::Logical(args.blank_bad_values)) &&
           (!args.sheet_rows || tell(area, kDbiSheetRows, Value::Integer(args.sheet_rows)));
  };
  if (export_to) {
    if (!compile(current) ||
        !DeriveTransferLayout(current, nullptr, args.fields, &items, &flags, &structure)) {
      return false;
    }
    if (driver_name == "XLSX" && !args.sheet_overflow) {
      // Refused before anything is written when the rows would not fit one sheet.
      const uint64_t limit = args.sheet_rows ? args.sheet_rows : kSheetDataRows;
      Scope counted;
      counted.for_cond = for_cond;
      counted.while_cond = while_cond;
      counted.next = args.next;
      counted.record = args.record;
      counted.rest = args.rest.value_or(false);
      uint64_t rows = 0;
      if (Failed(CountCopied(current, counted, skip_deleted, &rows))) return false;
      if (rows > limit) {
        RuntimeError e = CommandErrorOf(kEgArg, kEdfCreate, operation);
        e.file_name = args.file;
        e.description = std::to_string(rows) + " records do not fit a sheet of " +
                        std::to_string(limit) + " rows";
        (void)RaiseError(e);
        return false;
      }
    }
    if (!DBCREATE(o, structure, true)) return false;
    other.Set(CurrentAreaNumber());
    source = current;
    dest = other.area();
    const int columns = args.text_columns | (deleted_column ? kTextColumnDeleted : 0);
    if (!tell_options(dest) || (columns && !tell(dest, kDbiTextColumns, Value::Integer(columns)))) {
      return false;
    }
  } else {
    if (!driver) {
      CommandError(kEgArg, 1005, false, operation);
      return false;
    }
    o.shared = true;
    o.read_only = true;
    if (text_kind) {
      if (!DeriveTransferLayout(current, nullptr, args.fields, &items, &flags, &structure)) {
        return false;
      }
      for (TransferItem& item : items) std::swap(item.source, item.dest);
      o.structure = &structure;
      if (!DBUSEAREA(true, o)) return false;
      other.Set(CurrentAreaNumber());
      source = other.area();
      if (!tell_options(source)) return false;
    } else {
      if (!DBUSEAREA(true, o)) return false;
      other.Set(CurrentAreaNumber());
      source = other.area();
      if (!DeriveTransferLayout(source, current, args.fields, &items, &flags, nullptr)) {
        return false;
      }
    }
    dest = current;
  }
  if (!source || !dest) return false;
  SelectAreaNumber(source->area_number());
  if (!export_to && !compile(source)) return false;
  TransferInfo info;
  info.source = source;
  info.dest = dest;
  info.flags = flags;
  if (args.text_columns & kTextColumnRecno) info.flags |= kTransferRowNumbers;
  if (skip_deleted) info.flags |= kTransferSkipDeleted;
  info.source_cp = export_to ? table_cp : source->codepage();
  if (!export_to && !text_kind && args.codepage.empty() && !args.unmarked_codepage.empty() &&
      source->codepage_source() == CodepageSource::kDefault) {
    (void)CodepageFromName(args.unmarked_codepage, &info.source_cp);
  }
  info.dest_cp = export_to ? dest->codepage() : table_cp;
  info.items = std::move(items);
  info.scope.for_cond = for_cond;
  info.scope.while_cond = while_cond;
  info.progress = args.progress;
  info.scope.next = args.next;
  info.scope.record = args.record;
  info.scope.rest = args.rest.value_or(false);
  current->ClearNotes();  // the other area's are its own since it opened
  // What the transfer met is told also when an error's handler abandons it.
  auto report = [&] {
    if (TransferReport* r = args.report) {
      const TransferNotes& notes = other.area()->notes();
      r->copied = info.copied;
      r->lost = info.lost;
      r->first_lost = info.first_lost;
      r->bad = notes.bad;
      r->first_bad = notes.first_bad;
      r->failed = info.failed;
      r->first_failed = info.first_failed;
    }
  };
  Status s;
  try {
    s = source->transfer(&info);
    // The destination's pending record is written before the other file is closed.
    if (Ok(s)) s = dest->go_cold();
  } catch (...) {
    report();
    throw;
  }
  report();
  Status closed = other.Close();
  SelectAreaNumber(caller);
  return Ok(s) && Ok(closed);
}

}  // namespace

bool DeriveTransferLayout(WorkArea* source, WorkArea* dest,
                          const std::vector<std::string>& fields,
                          std::vector<TransferItem>* items, uint16_t* flags,
                          ValueArray* structure) {
  items->clear();
  *flags = 0;
  const int s = source->field_count();
  const int d = dest ? dest->field_count() : s;
  const int n = std::min(s, d);
  if (n == 0) return false;
  bool listed = std::any_of(fields.begin(), fields.end(),
                            [](const std::string& f) { return !f.empty(); });
  items->reserve(listed ? fields.size() : static_cast<size_t>(n));
  bool identical = d == s;
  if (listed) {
    for (const std::string& name : fields) {
      if (name.empty()) continue;
      int sp = FieldPosition(source, name);
      if (sp == 0) continue;
      int dp = dest ? FieldPosition(dest, name) : static_cast<int>(items->size()) + 1;
      if (dp == 0) continue;
      if (dp != sp) identical = false;
      items->push_back({static_cast<uint16_t>(sp), static_cast<uint16_t>(dp)});
      if (!dest) {
        Value row;
        if (!FieldDescription(source, sp, &row)) {
          items->clear();
          return false;
        }
        structure->push_back(std::move(row));
      }
    }
  } else if (dest) {
    for (int i = 1; i <= s; ++i) {
      std::string name = source->field_name(i);
      if (name.empty()) {
        items->clear();
        break;
      }
      int dp = FieldPosition(dest, name);
      if (dp != i) identical = false;
      if (dp == 0) continue;
      bool taken = std::any_of(items->begin(), items->end(),
                               [&](const TransferItem& t) { return t.dest == dp; });
      if (!taken) items->push_back({static_cast<uint16_t>(i), static_cast<uint16_t>(dp)});
    }
  } else {
    for (int i = 1; i <= s; ++i) {
      Value row;
      if (!FieldDescription(source, i, &row)) {
        items->clear();
        return false;
      }
      structure->push_back(std::move(row));
      items->push_back({static_cast<uint16_t>(i), static_cast<uint16_t>(i)});
    }
  }
  if (static_cast<int>(items->size()) != s) identical = false;
  if (identical && dest) {
    for (const TransferItem& t : *items) {
      bool same = true;
      if (!SameFieldLayout(source, t.source, dest, t.dest, &same)) {
        items->clear();
        return false;
      }
      if (!same) {
        identical = false;
        break;
      }
    }
  }
  *flags = identical ? kTransferMatch : 0;
  return !items->empty();
}

void RegisterTransferKindDriver(const std::string& name, const std::string& extension,
                                AreaFactory factory) {
  if (RegisterDriver(name, kTransferKind, "", std::move(factory)) != kRegistered) {
    throw InternalError(9004, "RDD invalid or failed to load");
  }
  FindDriver(name)->settings().table_ext = extension;
}

namespace {
std::map<std::string, TableLister>& TableListers() {
  static std::map<std::string, TableLister> listers;
  return listers;
}
}  // namespace

void RegisterTableLister(const std::string& driver, TableLister lister) {
  TableListers()[driver] = std::move(lister);
}

bool TransferTables(const std::string& driver, const std::string& file,
                    std::vector<std::string>* tables) {
  tables->clear();
  auto found = TableListers().find(driver);
  return found != TableListers().end() && found->second(file, tables);
}

bool DBCOPYTO(const TransferArgs& args) {
  TransferArgs a = args;
  // A bare file name is taken in the current directory ("-" is the standard output).
  if (a.file.find_first_of("/\\:") == std::string::npos && !a.file.empty() && a.file != "-") {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) a.file = std::string(cwd) + "/" + a.file;
  }
  return RunTransfer(true, a, "COPY TO");
}

bool DBAPPFROM(const TransferArgs& args) { return RunTransfer(false, args, "APPEND FROM"); }

std::string TransferReportText(const TransferReport& r) {
  std::string text;
  auto line = [&text](const std::string& l) {
    if (!text.empty()) text += "\n";
    text += l;
  };
  if (r.lost) {
    line(std::to_string(r.lost) + (r.lost == 1 ? " carattere non esiste" : " caratteri non esistono") +
         " nella codifica di destinazione: scritt" + (r.lost == 1 ? "o" : "i") +
         " come '?' (primo al record " + std::to_string(r.first_lost) + ").");
  }
  if (r.bad) {
    std::string places;
    for (const BadValue& b : r.first_bad) {
      places += (places.empty() ? "riga " : "; riga ") + std::to_string(b.line) + ", campo " +
                b.field + ": " + b.text;
    }
    line(std::to_string(r.bad) + (r.bad == 1 ? " valore non valido lasciato" : " valori non validi lasciati") +
         " vuot" + (r.bad == 1 ? "o" : "i") + ": " + places + (r.bad > r.first_bad.size() ? "; ..." : "") + ".");
  }
  if (r.failed) {
    line(std::to_string(r.failed) + (r.failed == 1 ? " record non scritto per intero" : " record non scritti per intero") +
         ", segnat" + (r.failed == 1 ? "o" : "i") + " come cancellat" + (r.failed == 1 ? "o" : "i") +
         " (primo dal record " + std::to_string(r.first_failed) + ").");
  }
  return text;
}

bool DBSDF(bool export_to, TransferArgs args) {
  args.driver = "SDF";
  args.codepage.clear();
  args.delimiter = Value();
  return export_to ? DBCOPYTO(args) : DBAPPFROM(args);
}

}  // namespace vosk
