#include "rdd/db_commands.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "expr/runtime_error.h"
#include "platform/file.h"
#include "expr/settings.h"
#include "rdd/command_error.h"
#include "rdd/dbf1/dbf_format.h"
#include "rdd/driver_registry.h"
#include "rdd/dbffpt/memo_format.h"
#include "rdd/expression_glue.h"
#include "rdd/work_area.h"
#include "rdd/work_area_table.h"

namespace vosk {

RuntimeError CommandErrorOf(int gen_code, int sub_code, const std::string& operation) {
  RuntimeError e;
  e.gen_code = gen_code;
  e.subsystem = "DBCMD";
  e.sub_code = sub_code;
  e.operation = operation;
  return e;
}

ErrorAnswer CommandError(int gen_code, int sub_code, bool can_default,
                         const std::string& operation) {
  RuntimeError e = CommandErrorOf(gen_code, sub_code, operation);
  e.can_default = can_default;
  return RaiseError(std::move(e));
}

WorkArea* CommandArea() {
  WorkArea* a = CurrentArea();
  if (!a) CommandError(kEgNoTable, 2001, true);
  return a;
}

namespace {

bool g_neterr = false;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

Driver* DriverByName(const std::string& name) {
  if (name.empty()) return DefaultDriver();
  std::string up = Upper(name);
  if (up.size() > 32) up.resize(32);
  return FindDriver(up);
}

}  // namespace

void InitDatabaseEngine() {
  RegisterBuiltinDrivers();
  InstallExpressionGlue();
}

StructuralBag StructuralBagOf(const std::string& table) {
  StructuralBag out;
  File f;
  const std::string path = ResolveCase(table);
  if (f.Open(path, Access::kRead, Share::kDenyNone) != 0) return out;
  uint8_t header[32] = {};
  if (f.ReadAt(header, sizeof header, 0) != static_cast<int64_t>(sizeof header)) return out;
  out.flagged = (header[kHdrTableFlags] & kTblStructuralBag) != 0;
  if (!out.flagged) return out;
  std::string base = path;
  const size_t slash = base.find_last_of('/');
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) base.resize(dot);
  out.path = ResolveCase(base + ".cdx");
  out.present = FileExists(out.path);
  return out;
}

bool DBUSEAREA(bool new_area, const std::string& driver, const std::string& file,
               const std::string& alias, std::optional<bool> shared, bool read_only,
               const std::string& codepage) {
  AreaOptions o;
  o.driver = driver;
  o.file = file;
  o.alias = alias;
  o.shared = shared;
  o.read_only = read_only;
  o.codepage = codepage;
  return DBUSEAREA(new_area, o);
}

namespace {

OpenInfo OpenInfoOf(const AreaOptions& o, int number) {
  OpenInfo info;
  info.area = number;
  info.file = o.file;
  info.alias = o.alias;
  info.codepage = o.codepage;
  info.connection = o.connection;
  info.table = o.table;
  info.query = o.query;
  return info;
}

// Hands a delimiter value to a new area (info 6) when one was given.
Status PassDelimiter(WorkArea* area, const Value& delimiter) {
  if (delimiter.is_nil()) return kSuccess;
  Value ignored;
  return area->info(kDbiSetDelimiter, delimiter, &ignored);
}

}  // namespace

bool DBUSEAREA(bool new_area, const AreaOptions& o) {
  InitDatabaseEngine();
  int number;
  if (new_area) {
    number = FirstFreeArea();
    if (number == 0) {
      CommandError(kEgLimit, 1001);
      return false;
    }
    SelectAreaNumber(number);
  } else {
    number = CurrentAreaNumber();
    if (number < 1 || number > kMaxArea) {
      number = FirstFreeArea();
      SelectAreaNumber(number);
    }
    if (CurrentArea()) DBCLOSEAREA();
  }
  g_neterr = false;
  Driver* d = DriverByName(o.driver);
  std::unique_ptr<WorkArea> area = d ? d->NewArea() : nullptr;
  if (!area || Failed(area->new_area())) {
    CommandError(kEgArg, 1015);
    return false;
  }
  if (o.file.empty()) {
    CommandError(kEgArg, 1005);
    return false;
  }
  OpenInfo info = OpenInfoOf(o, number);
  info.shared = o.shared.has_value() ? *o.shared : !GlobalSettings().exclusive();
  info.read_only = o.read_only;
  area->set_area_number(number);
  if (o.structure && Failed(area->create_fields(*o.structure))) return false;
  if (Failed(PassDelimiter(area.get(), o.delimiter))) return false;
  // Installed before it opens: the keys and conditions of the orders that open with the table
  // (its structural bag) are evaluated on the area's fields.
  // An open that fails or is abandoned leaves the slot empty.
  struct Installed {
    int number;
    bool opened = false;
    ~Installed() {
      if (!opened) ReleaseArea(number);
    }
  } installed{number};
  WorkArea* opening = area.get();
  InstallArea(number, std::move(area));
  if (Failed(opening->open(info))) return false;
  installed.opened = true;
  return true;
}

bool DBCREATE(const std::string& file, const ValueArray& structure, const std::string& driver,
              std::optional<bool> keep_open, const std::string& alias,
              const std::string& codepage) {
  AreaOptions o;
  o.file = file;
  o.driver = driver;
  o.alias = alias;
  o.codepage = codepage;
  return DBCREATE(o, structure, keep_open);
}

bool DBCREATE(const AreaOptions& o, const ValueArray& structure,
              std::optional<bool> keep_open) {
  InitDatabaseEngine();
  for (const Value& row : structure) {
    if (!row.is_array() || row.array().size() < 4 || !row.array()[0].is_string() ||
        !row.array()[1].is_string() || !row.array()[2].is_numeric() ||
        !row.array()[3].is_numeric()) {
      CommandError(kEgArg, 1014);
      return false;
    }
  }
  if (o.file.empty()) {
    CommandError(kEgArg, 1014);
    return false;
  }
  int previous = CurrentAreaNumber();
  Driver* d = DriverByName(o.driver);
  std::unique_ptr<WorkArea> area = d ? d->NewArea() : nullptr;
  if (!area || Failed(area->new_area())) {
    CommandError(kEgArg, 1015);
    return false;
  }
  int number = 0;
  if (keep_open.has_value()) {
    if (*keep_open) {
      number = FirstFreeArea();
    } else {
      number = CurrentAreaNumber();
      if (CurrentArea()) DBCLOSEAREA();
    }
    area->set_area_number(number);
  }
  OpenInfo info = OpenInfoOf(o, number);
  if (Failed(PassDelimiter(area.get(), o.delimiter)) ||
      Failed(area->create_fields(structure)) || Failed(area->create(info))) {
    (void)area->close();
    SelectAreaNumber(previous);
    return false;
  }
  if (!keep_open.has_value()) {
    Status s = area->close();
    return Ok(s);
  }
  InstallArea(number, std::move(area));
  SelectAreaNumber(number);
  return true;
}

void DBCLOSEAREA() {
  int number = CurrentAreaNumber();
  WorkArea* a = CurrentArea();
  if (!a) return;
  // Parents drop their relations into this area, and keep the others. (Its own children
  // lose their parent when the area closes.)
  ForEachArea([&](WorkArea* other) {
    if (other != a) other->DropRelationsInto(number);
  });
  // The area is released even when its close raised.
  struct Release {
    int number;
    ~Release() { ReleaseArea(number); }
  } release{number};
  (void)a->close();
}

void DBCLOSEALL() {
  // Every area is closed and released even when a close raises; the first exception goes on
  // once all are released.
  std::exception_ptr raised;
  auto close_and_release = [&](WorkArea* a) {
    int n = a->area_number();
    try {
      (void)a->close();
    } catch (...) {
      if (!raised) raised = std::current_exception();
    }
    ReleaseArea(n);
  };
  // Relation children are closed after their parents have dropped them.
  for (int pass = 0; pass < 16; ++pass) {
    bool any = false;
    ForEachArea([&](WorkArea* a) {
      if (a->parent_count() > 0) return;
      any = true;
      (void)a->clear_relations();
    });
    if (!any) break;
    bool left = false;
    ForEachArea([&](WorkArea* a) {
      if (a->parent_count() > 0) {
        left = true;
        return;
      }
      close_and_release(a);
    });
    if (!left) break;
  }
  ForEachArea(close_and_release);
  SelectAreaNumber(1);
  if (raised) std::rethrow_exception(raised);
}

void DBSELECTAREA(int area) {
  if (area < 1 || area > kMaxArea) area = FirstFreeArea();
  SelectAreaNumber(area);
}

void DBSELECTAREA(const std::string& designator) {
  for (;;) {
    int n = AreaOfDesignator(designator);
    size_t b = designator.find_first_not_of(' ');
    bool numeric = b != std::string::npos && std::isdigit(static_cast<unsigned char>(designator[b]));
    if (n == 0 && !numeric) {
      RuntimeError e;
      e.gen_code = kEgNoAlias;
      e.subsystem = "BASE";
      e.sub_code = 1002;
      e.operation = designator;
      e.can_retry = true;
      if (RaiseError(std::move(e)).retry()) continue;
      return;
    }
    if (n == 0 || n == kMemvarArea) n = FirstFreeArea();
    SelectAreaNumber(n);
    return;
  }
}

int SELECT() { return CurrentAreaNumber(); }

int SELECT(const Value& designator) {
  if (!designator.is_string()) return 0;
  if (!IsValidAlias(designator.str())) return 0;
  return AreaOfDesignator(designator.str());
}

std::string ALIAS(int area) {
  WorkArea* a = area == 0 ? CurrentArea() : AreaAt(area);
  return a ? a->alias_name() : std::string();
}

bool USED() { return CurrentArea() != nullptr; }

std::string RDDSETDEFAULT(const std::string& driver) {
  InitDatabaseEngine();
  Driver* current = DefaultDriver();
  std::string previous = current ? current->name() : std::string();
  if (!driver.empty()) {
    Driver* d = FindDriver(Upper(driver));
    if (!d) {
      CommandError(kEgArg, 1015);
      return previous;
    }
    SetDefaultDriver(d);
  }
  return previous;
}

bool DBAPPEND(bool release_locks) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  g_neterr = false;
  return Ok(a->append(release_locks));
}

void DBDELETE() {
  if (WorkArea* a = CommandArea()) (void)a->delete_record();
}

void DBRECALL() {
  if (WorkArea* a = CommandArea()) (void)a->recall();
}

void DBCOMMIT() {
  if (WorkArea* a = CommandArea()) (void)a->flush();
}

void DBGOTOP() {
  if (WorkArea* a = CommandArea()) (void)a->go_top();
}

void DBGOBOTTOM() {
  if (WorkArea* a = CommandArea()) (void)a->go_bottom();
}

void DBGOTO(const Value& record) {
  WorkArea* a = CommandArea();
  if (!a) return;
  if (record.is_nil()) {
    CommandError(kEgArg, 1003);
    return;
  }
  (void)a->go_to_id(record);
}

void DBSKIP(int64_t count) {
  if (WorkArea* a = CommandArea()) (void)a->skip(count);
}

namespace {

// The current area, positioned first by a pending relation: the child of a relation follows
// its parent before it is asked anything.
WorkArea* SyncedArea() {
  WorkArea* a = CurrentArea();
  if (a) (void)a->force_relation();
  return a;
}

}  // namespace

bool BOF() {
  WorkArea* a = SyncedArea();
  return a ? a->bof() : true;
}

bool EOF_() {
  WorkArea* a = SyncedArea();
  return a ? a->eof() : true;
}

bool FOUND() {
  WorkArea* a = SyncedArea();
  return a ? a->found() : false;
}

bool DELETED() {
  WorkArea* a = CurrentArea();
  bool d = false;
  if (a) (void)a->is_deleted(&d);
  return d;
}

uint32_t RECNO() {
  WorkArea* a = SyncedArea();
  return a ? a->record_number() : 0;
}

uint32_t LASTREC() {
  WorkArea* a = CurrentArea();
  uint32_t n = 0;
  if (a) (void)a->record_count(&n);
  return n;
}

uint32_t RECCOUNT() { return LASTREC(); }

int FCOUNT() {
  WorkArea* a = CurrentArea();
  return a ? a->field_count() : 0;
}

std::string FIELDNAME(int pos) {
  WorkArea* a = CurrentArea();
  return a ? a->field_name(pos) : std::string();
}

// Field lookup: blanks and alias prefixes (the area's alias, FIELD, _FIELD and their
// abbreviations) are stripped, then the upper-cased name is compared with each field.
int FIELDPOS(const std::string& name) { return FieldPosition(CurrentArea(), name); }

int FieldPosition(WorkArea* a, const std::string& name) {
  if (!a) return 0;
  std::string s = name;
  size_t b = s.find_first_not_of(" \t\r\n");
  s = b == std::string::npos ? std::string() : s.substr(b);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  while (s.find("->") != std::string::npos) {
    size_t arrow = s.find("->");
    std::string prefix = Upper(s.substr(0, arrow));
    while (!prefix.empty() && prefix.back() == ' ') prefix.pop_back();
    if (prefix == a->alias_name() || prefix == "FIEL" || prefix == "FIELD" || prefix == "_FIE" ||
        prefix == "_FIEL" || prefix == "_FIELD") {
      s = s.substr(arrow + 2);
      size_t nb = s.find_first_not_of(' ');
      s = nb == std::string::npos ? std::string() : s.substr(nb);
    } else {
      break;
    }
  }
  s = Upper(s);
  if (s.size() > 63) s.resize(63);
  for (int i = 1; i <= a->field_count(); ++i) {
    if (a->field_name(i) == s) return i;
  }
  return 0;
}

Value FIELDGET(int pos) {
  WorkArea* a = CurrentArea();
  if (!a || pos < 1 || pos > a->field_count()) return Value();
  Value v;
  if (Failed(a->get_value(pos, &v))) return Value();
  return v;
}

Value FIELDPUT(int pos, const Value& value) {
  WorkArea* a = CommandArea();
  if (!a || pos < 1 || pos > a->field_count()) return Value();
  if (Failed(a->put_value(pos, value))) return Value();
  return value;
}

Value FIELDTYPE(int pos) {
  WorkArea* a = CurrentArea();
  Value v;
  if (!a || pos < 1 || pos > a->field_count() || Failed(a->field_info(pos, 2, &v))) return Value();
  return v;
}

int FIELDLEN(int pos) {
  WorkArea* a = CurrentArea();
  Value v;
  if (!a || pos < 1 || pos > a->field_count() || Failed(a->field_info(pos, 3, &v))) return 0;
  return static_cast<int>(v.number());
}

int FIELDDEC(int pos) {
  WorkArea* a = CurrentArea();
  Value v;
  if (!a || pos < 1 || pos > a->field_count() || Failed(a->field_info(pos, 4, &v))) return 0;
  return static_cast<int>(v.number());
}

Value DBSTRUCT() {
  ValueArray rows;
  WorkArea* a = CurrentArea();
  if (!a) return Value::Array();
  for (int i = 1; i <= a->field_count(); ++i) {
    ValueArray row;
    for (int what = 1; what <= 5; ++what) {
      Value v;
      (void)a->field_info(i, what, &v);
      row.push_back(v);
    }
    rows.push_back(Value::Array(std::move(row)));
  }
  return Value::Array(std::move(rows));
}

bool RLOCK() {
  WorkArea* a = CommandArea();
  bool locked = false;
  if (a) (void)a->lock(1, 0, &locked);
  return locked;
}

bool FLOCK() {
  WorkArea* a = CommandArea();
  bool locked = false;
  if (a) (void)a->lock(3, 0, &locked);
  return locked;
}

void DBUNLOCK() {
  if (WorkArea* a = CommandArea()) (void)a->unlock(0);
}

bool NETERR(std::optional<bool> value) {
  bool previous = g_neterr;
  if (value.has_value()) g_neterr = *value;
  return previous;
}

bool DBEVAL(const std::function<void()>& block, const Scope& scope) {
  WorkArea* a = CommandArea();
  return a && Ok(a->eval(block, scope));
}

bool DBLOCATE(const Scope& scope) {
  WorkArea* a = CurrentArea();
  if (!a) {
    CommandError(kEgNoTable, 35, true);
    return false;
  }
  if (Failed(a->set_locate(scope)) || Failed(a->locate(false))) return false;
  return a->found();
}

bool DBCONTINUE() {
  WorkArea* a = CommandArea();
  if (!a || Failed(a->locate(true))) return false;
  return a->found();
}

bool DBSETFILTER(const std::string& text) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  if (text.empty()) return Ok(a->clear_filter());
  Condition c;
  if (Failed(a->compile(text, &c))) return false;
  return Ok(a->set_filter(c));
}

void DBCLEARFILTER() {
  if (WorkArea* a = CommandArea()) (void)a->clear_filter();
}

bool DBPACK(const Value& progress_block, int step) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  a->scratch() = progress_block.is_nil()
                     ? Value()
                     : Value::Array({progress_block, Value::Integer(step)});
  Status s = a->pack();
  a->scratch() = Value();
  return Ok(s);
}

bool DBZAP() {
  WorkArea* a = CommandArea();
  return a && Ok(a->zap());
}

std::string DBFILTER() {
  WorkArea* a = CurrentArea();
  return a ? a->filter_text() : std::string();
}

namespace {

bool HasExtension(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  size_t dot = name.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

std::string WithoutExtension(const std::string& name) {
  return HasExtension(name) ? name.substr(0, name.rfind('.')) : name;
}

// The file a drop, exists or rename acts on, and the companions that go with a table.
struct FileSet {
  std::string main;
  std::vector<std::string> companions;  // extensions, beside the main file
};

bool FileSetOf(const std::string& table, const std::string& bag, const std::string& driver,
               FileSet* out) {
  InitDatabaseEngine();
  Driver* d = DriverByName(driver);
  if (!d) {
    CommandError(kEgArg, 1015);
    return false;
  }
  const bool is_bag = !bag.empty();
  std::string name = NormalizeSeparators(is_bag ? bag : table);
  if (name.empty()) return false;
  std::string bag_ext = d->IsA("DBFCDX") ? ".cdx" : d->IsA("DBFNTX") ? ".ntx" : "";
  if (!HasExtension(name) && GlobalSettings().defextensions()) {
    name += is_bag ? bag_ext : d->settings().table_ext;
  }
  out->main = ResolveCase(name);
  out->companions.clear();
  if (!is_bag) {
    // The memo file the table's version byte names, and the driver's memo extension.
    uint8_t head[29] = {};
    File t;
    if (t.Open(out->main, Access::kRead, Share::kDenyNone) == 0 && t.ReadAt(head, 29, 0) == 29) {
      switch (head[0]) {
        case 0x04: case 0x7B: case 0x83: case 0x86: case 0x8B:
          out->companions.push_back(".dbt");
          break;
        case 0xE5: case 0xE6: out->companions.push_back(".smt"); break;
        case 0xF5: case 0xF6: out->companions.push_back(".fpt"); break;
        case 0x30: case 0x31: case 0x32:
          if (head[28] & 2) out->companions.push_back(".fpt");
          break;
        default: break;
      }
    }
    Value memo = RDDINFO(6, Value(), d->name());
    if (memo.is_string() && !memo.str().empty() &&
        std::find(out->companions.begin(), out->companions.end(), memo.str()) ==
            out->companions.end()) {
      out->companions.push_back(memo.str());
    }
    if (d->IsA("DBFCDX")) out->companions.push_back(".cdx");  // the structural bag
    out->companions.push_back(".cpg");
  }
  return true;
}

std::string Companion(const std::string& main, const std::string& ext) {
  return ResolveCase(WithoutExtension(main) + ext);
}

// True when no one has the file open (an exclusive share of it can be had).
bool FileIsFree(const std::string& path) {
  File f;
  return f.Open(path, Access::kRead, Share::kExclusive) == 0;
}

}  // namespace

bool DBDROP(const std::string& table, const std::string& bag, const std::string& driver) {
  FileSet set;
  if (!FileSetOf(table, bag, driver, &set) || !FileExists(set.main) || !FileIsFree(set.main)) {
    return false;
  }
  if (!DeleteFile(set.main)) return false;
  for (const std::string& ext : set.companions) {
    std::string file = Companion(set.main, ext);
    if (FileExists(file) && FileIsFree(file)) (void)DeleteFile(file);
  }
  return true;
}

bool DBEXISTS(const std::string& table, const std::string& bag, const std::string& driver) {
  FileSet set;
  return FileSetOf(table, bag, driver, &set) && FileExists(set.main);
}

bool DBRENAME(const std::string& table, const std::string& bag, const std::string& new_name,
              const std::string& driver) {
  FileSet set;
  if (new_name.empty() || !FileSetOf(table, bag, driver, &set) || !FileExists(set.main) ||
      !FileIsFree(set.main)) {
    return false;
  }
  std::string target = NormalizeSeparators(new_name);
  if (target.find('/') == std::string::npos) {
    size_t slash = set.main.find_last_of('/');
    if (slash != std::string::npos) target = set.main.substr(0, slash + 1) + target;
  }
  if (!HasExtension(target) && HasExtension(set.main)) {
    target += set.main.substr(set.main.rfind('.'));
  }
  if (FileExists(target)) return false;
  // Companions whose new name is taken stay; those that exist are moved with the table.
  std::vector<std::pair<std::string, std::string>> moves;
  for (const std::string& ext : set.companions) {
    std::string from = Companion(set.main, ext);
    std::string to = WithoutExtension(target) + ext;
    if (FileExists(from) && !FileExists(to) && FileIsFree(from)) moves.emplace_back(from, to);
  }
  if (!RenameFile(set.main, target)) return false;
  for (const auto& [from, to] : moves) (void)RenameFile(from, to);
  return true;
}

bool DBSETRELATION(const Value& child, const std::string& key_text, bool additive,
                   bool scoped) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  if (key_text.find_first_not_of(' ') == std::string::npos ||
      !(child.is_numeric() || child.is_string())) {
    CommandError(kEgArg, 1006);
    return false;
  }
  int number = child.is_numeric() ? static_cast<int>(child.number()) : AreaOfDesignator(child.str());
  WorkArea* c = number > 0 && number <= kMaxArea ? AreaAt(number) : nullptr;
  if (!c) {
    RuntimeError e;
    e.gen_code = kEgNoAlias;
    e.subsystem = "BASE";
    e.sub_code = 1002;
    e.operation = child.is_string() ? child.str() : std::to_string(number);
    RaiseError(std::move(e));
    return false;
  }
  if (c == a) {  // an area cannot follow itself
    CommandError(kEgArg, 1006);
    return false;
  }
  Relation rel;
  rel.scoped = scoped;
  rel.child_area = number;
  if (Failed(a->compile(key_text, &rel.key))) return false;
  if (!additive) (void)a->clear_relations();
  return Ok(a->set_relation(rel));
}

void DBCLEARRELATION() {
  if (WorkArea* a = CommandArea()) (void)a->clear_relations();
}

std::string DBRELATION(int n) {
  WorkArea* a = CurrentArea();
  return a ? a->relation_text(n) : std::string();
}

int DBRSELECT(int n) {
  WorkArea* a = CurrentArea();
  return a ? a->relation_area(n) : 0;
}

Value DBINFO(int code, const Value& new_value) {
  WorkArea* a = CommandArea();
  if (!a) return Value();
  Value out;
  (void)a->info(code, new_value, &out);
  return out;
}

Value DBRECORDINFO(int code, uint32_t recno, const Value& arg) {
  WorkArea* a = CommandArea();
  if (!a) return Value();
  Value out = arg;  // record_info reads the argument from its result slot
  (void)a->record_info(recno, code, &out);
  return out;
}

// Driver-wide inquiries of the DBF family.
Value RDDINFO(int code, const Value& nv, const std::string& driver) {
  InitDatabaseEngine();
  Driver* d = DriverByName(driver);
  if (!d) {
    CommandError(kEgArg, 2019);
    return Value();
  }
  DbfDriverSettings& s = d->settings();
  Settings& g = GlobalSettings();
  const bool memo_driver = d->IsA("DBFFPT") || d->name() == "DBFBLOB";
  auto text_setting = [&](std::string* target) {
    Value prev = Value::String(*target);
    if (nv.is_string()) *target = nv.str();
    return prev;
  };
  auto int_setting = [&](int* target, int lo, int hi) {
    Value prev = Value::Integer(*target);
    if (nv.is_numeric() && nv.number() >= lo && nv.number() <= hi) *target = static_cast<int>(nv.number());
    return prev;
  };
  switch (code) {
    case 1: case 2: case 10: return Value::Logical(true);
    case 5: {
      Value prev = Value::String(s.table_ext);
      if (nv.is_string() && nv.str().size() > 1 && nv.str()[0] == '.') {
        s.table_ext = nv.str().substr(0, 10);
      }
      return prev;
    }
    case 6: {
      std::string cur = s.memo_ext.empty()
                            ? (s.memo_type == 2 ? ".fpt" : s.memo_type == 3 ? ".smt" : ".dbt")
                            : s.memo_ext;
      Value prev = Value::String(cur);
      if (nv.is_string()) s.memo_ext = nv.str();
      return prev;
    }
    case 13: return int_setting(&s.table_kind, 1, 3);
    case 14:
      if (d->name() == "DBFBLOB") return Value::Integer(s.memo_type);  // always FPT
      return int_setting(&s.memo_type, 1, 3);
    case 16: {
      Value prev = Value::Integer(s.lock_scheme ? s.lock_scheme : g.dbflockscheme());
      if (nv.is_numeric() && nv.number() >= 1 && nv.number() <= 5) s.lock_scheme = static_cast<int>(nv.number());
      return prev;
    }
    case 19: return text_setting(&s.trigger);
    case 32: {
      if (!memo_driver) return int_setting(&s.memo_block_size, 0, 0x7FFFFFFF);
      // The stored size, else the global setting when valid, else the size of the memo kind.
      int cur = s.memo_block_size;
      if (!IsValidBlockSize(cur)) {
        cur = IsValidBlockSize(g.mblocksize()) ? g.mblocksize()
              : s.memo_type == 1 ? kDbtBlockSize
              : s.memo_type == 3 ? kDefaultSmtBlockSize : kDefaultFptBlockSize;
      }
      Value prev = Value::Integer(cur);
      if (nv.is_numeric() && IsValidBlockSize(static_cast<int64_t>(nv.number()))) {
        s.memo_block_size = static_cast<int>(nv.number());
      }
      return prev;
    }
    case 33:
      if (!memo_driver) return Value::Integer(0);
      return int_setting(&s.memo_variant, 1, 4);
    case 37: return Value::Logical(d->name() == "DBFBLOB");
    case 40:
    case 41: {
      std::string* target = code == 40 ? &s.pending_trigger : &s.pending_password;
      Value prev = Value::String(*target);
      if (nv.is_string()) *target = nv.str();
      else target->clear();
      return prev;
    }
    case 42: return text_setting(&s.password);
    case 44: {
      Value prev = Value::Logical(s.read_mode == 3);
      if (nv.is_logical()) s.read_mode = nv.logical() ? 3 : 2;
      return prev;
    }
    case 22: case 24: case 25: case 26: case 27: case 28: return Value::Logical(false);
    case 3: case 4: case 7: case 8: case 9: return Value::String(std::string());
    case 12: return Value::Integer(0);
    default: return code <= 40 ? Value::Logical(false) : Value();
  }
}

}  // namespace vosk
