// RestructureTable: the new table is built through the engine beside the old one, under a name
// owned by this process, then swapped in through a TableRewrite.

#include <cctype>
#include <cstring>

#include "expr/runtime_error.h"
#include "platform/file.h"
#include "platform/owned_file.h"
#include "rdd/codepage.h"
#include "rdd/db_commands.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/restructure.h"
#include "rdd/restructure_indexes.h"
#include "rdd/table_rewrite.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

constexpr uint32_t kProgressStep = 4096;  // records between two progress calls
constexpr char kScratchDriver[] = "DBFFPT";
constexpr char kScratchAlias[] = "MODITAB";
constexpr int kRddTableKind = 13;
constexpr int kRddMemoType = 14;
constexpr int kDbiEncipher = 140;

std::string ExtensionOf(const std::string& path) {
  return path.substr(PathWithoutExtension(path).size());
}

// The memo file of a table of this memo kind, as it is on disk ("" when there is none).
std::string ExistingMemoFile(const std::string& table, MemoKind kind) {
  const char* ext = kind == MemoKind::kDbt ? ".dbt" : kind == MemoKind::kSmt ? ".smt" : ".fpt";
  if (kind == MemoKind::kNone) return "";
  const std::string name = ResolveCase(PathWithoutExtension(table) + ext);
  return FileExists(name) ? name : "";
}

// The memo file name for a table, in the letter case of the table's extension.
std::string MemoNameFor(const std::string& table, const std::string& memo_ext) {
  std::string ext = memo_ext;
  const std::string table_ext = ExtensionOf(table);
  const bool upper = table_ext.size() > 1 && std::isupper(static_cast<unsigned char>(table_ext[1]));
  for (char& c : ext) {
    c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                : std::tolower(static_cast<unsigned char>(c)));
  }
  return PathWithoutExtension(table) + ext;
}

RuntimeError RestructureError(int gen_code, int sub_code, const std::string& file,
                              const std::string& description = "", int os_code = 0) {
  RuntimeError e;
  e.gen_code = gen_code;
  e.subsystem = "DBF";
  e.sub_code = sub_code;
  e.os_code = os_code;
  e.file_name = file;
  e.description = description;
  e.operation = "RESTRUCTURE";
  return e;
}

// Closes the work area with this number, reporting (never throwing) what fails.
void CloseAreaQuietly(int area) {
  if (area <= 0) return;
  ScopedErrorHandler quiet([](const RuntimeError&) { return ErrorAnswer::Default(); });
  try {
    DBSELECTAREA(area);
    DBCLOSEAREA();
  } catch (...) {
  }
}

// The scratch table's files: removed when the scratch table was not swapped in.
struct ScratchFiles {
  int area = 0;  // the scratch table's work area while it is open
  std::string table;
  std::string cpg;
  std::vector<std::string> memos;
  bool kept = false;
  ~ScratchFiles() {
    CloseAreaQuietly(area);
    if (kept) return;
    for (const std::string& f : memos) (void)DeleteFile(f);
    (void)DeleteFile(table);
    (void)DeleteFile(cpg);
  }
};

// Closes the old table however the restructure ends.
struct OldTable {
  int area = 0;
  ~OldTable() { CloseAreaQuietly(area); }
};

// How each new field is filled from an old record.
struct FieldPlan {
  int source = 0;         // old field number, 0 = none
  bool raw = false;       // the bytes are copied as they are
  uint32_t from_offset = 0, to_offset = 0, length = 0;
  FieldSpec old_field, new_field;
};

bool SameLayout(const Field& a, const Field& b) {
  return a.letter == b.letter && a.length == b.length && a.decimals == b.decimals &&
         a.flags == b.flags && a.null_bit < 0 && b.null_bit < 0 && !IsMemoKind(a.kind) &&
         a.kind != FieldKind::kVariant && a.kind != FieldKind::kVarLength &&
         a.kind != FieldKind::kSystem;
}

}  // namespace

bool RestructureTable(const ValueArray& structure, const RestructureOptions& options,
                      RestructureReport* report) {
  RestructureReport local;
  if (!report) report = &local;
  *report = RestructureReport();
  OldTable old_guard;
  old_guard.area = CurrentAreaNumber();
  DbfArea* old = dynamic_cast<DbfArea*>(CurrentArea());
  if (!old) {
    (void)RaiseError(RestructureError(kEgNoTable, 2001, ""));
    return false;
  }
  const std::string table = old->file_name();
  if (old->shared() || old->read_only()) {
    (void)RaiseError(RestructureError(kEgShared, kEdfShared, table));
    return false;
  }
  const std::vector<FieldSpec> old_specs = FieldSpecsOf(DBSTRUCT().array());
  const std::vector<FieldSpec> new_specs = FieldSpecsOf(structure);
  if (new_specs.empty()) {
    (void)RaiseError(RestructureError(kEgArg, kEdfCreate, table, "The new structure has no fields"));
    return false;
  }
  if (old->table_enciphered() && options.password.empty()) {
    (void)RaiseError(RestructureError(kEgReadonly, kEdfReadonly, table,
                                      "The table is enciphered: its password is needed"));
    return false;
  }
  if (Failed(old->RequireMatchingKey())) return false;  // a wrong password
  const std::vector<int> map = ConversionMap(old_specs, new_specs);
  const std::vector<RestructureBag> indexes = IndexesToRebuild();
  const std::string codepage =
      options.codepage.empty() ? CodepageName(old->codepage()) : options.codepage;

  // The new table, beside the old one under an owned name: the next open of the table removes
  // it when this process dies before the swap.
  ScratchFiles scratch;
  const std::string base = PathWithoutExtension(FilePartOf(table)) + ".";
  scratch.table = OwnedFileName(DirectoryOf(table), base, ExtensionOf(table));
  scratch.cpg = PathWithoutExtension(scratch.table) + ".cpg";
  for (const char* ext : {".dbt", ".fpt", ".smt"}) {
    scratch.memos.push_back(PathWithoutExtension(scratch.table) + ext);
  }
  {
    const Value old_kind =
        RDDINFO(kRddTableKind, Value::Integer(static_cast<int>(old->table_kind())), kScratchDriver);
    const Value old_memo =
        old->memo_kind() == MemoKind::kNone
            ? RDDINFO(kRddMemoType, Value(), kScratchDriver)
            : RDDINFO(kRddMemoType, Value::Integer(static_cast<int>(old->memo_kind())),
                      kScratchDriver);
    const bool created = DBCREATE(scratch.table, structure, kScratchDriver, std::nullopt, kScratchAlias, codepage);
    RDDINFO(kRddTableKind, old_kind, kScratchDriver);
    RDDINFO(kRddMemoType, old_memo, kScratchDriver);
    if (!created) return false;
  }
  if (!DBUSEAREA(true, kScratchDriver, scratch.table, kScratchAlias, false, false, codepage)) return false;
  scratch.area = CurrentAreaNumber();
  DbfArea* fresh = dynamic_cast<DbfArea*>(CurrentArea());
  // The cipher of the old table: enciphered with the same password, else clear (a standing
  // password of the driver is not for this table).
  if (old->table_enciphered()) {
    if (fresh->memo_kind() != MemoKind::kNone) {
      (void)RaiseError(RestructureError(kEgUnsupported, kEdfCreate, table,
                                        "A table with memo fields cannot be enciphered"));
      return false;
    }
    DBINFO(kDbiPassword, Value::String(""));
    const Value done = DBINFO(kDbiEncipher, Value::String(options.password));
    if (!done.is_logical() || !done.logical()) return false;
  } else {
    DBINFO(kDbiPassword, Value::String(""));
  }

  // What each new field takes from the old record.
  std::vector<FieldPlan> plans(new_specs.size());
  bool any_raw = false;
  for (size_t i = 0; i < new_specs.size(); ++i) {
    FieldPlan& p = plans[i];
    p.new_field = new_specs[i];
    if (FilledByDriver(new_specs[i].type)) continue;
    p.source = map[i];
    if (p.source == 0) continue;
    p.old_field = old_specs[static_cast<size_t>(p.source - 1)];
    const Field& from = old->field(p.source);
    const Field& to = fresh->field(static_cast<int>(i + 1));
    if (SameLayout(from, to)) {
      p.raw = any_raw = true;
      p.from_offset = from.offset;
      p.to_offset = to.offset;
      p.length = to.length;
    }
  }

  // Values the new field cannot take are left blank (and counted); any other error ends the
  // restructure through the handler that was installed.
  bool failed = false;
  const ErrorHandler outer = GetErrorHandler();
  uint64_t* blanks = &report->values_left_blank;
  ScopedErrorHandler handler([&](const RuntimeError& e) -> ErrorAnswer {
    if ((e.gen_code == kEgDataType || e.gen_code == kEgDataWidth) && e.can_default) {
      ++*blanks;
      return ErrorAnswer::Default();
    }
    failed = true;
    return outer ? outer(e) : ErrorAnswer::Default();
  });

  uint32_t count = 0;
  if (Failed(old->record_count(&count))) return false;
  old->set_read_ahead(true);
  std::string image;
  Value value;
  for (uint32_t recno = 1; recno <= count && !failed; ++recno) {
    if (Failed(old->go_to(recno))) return false;
    const uint8_t* raw = old->RawRecord();
    if (!raw) return false;
    const bool deleted = raw[0] == '*';
    if (Failed(fresh->append(false))) return false;
    if (any_raw) {
      if (Failed(fresh->get_record(&image))) return false;
      raw = old->RawRecord();
      for (const FieldPlan& p : plans) {
        if (p.raw) std::memcpy(image.data() + p.to_offset, raw + p.from_offset, p.length);
      }
      image[0] = deleted ? '*' : ' ';
      if (Failed(fresh->put_record(&image))) return false;
    }
    for (size_t i = 0; i < plans.size() && !failed; ++i) {
      const FieldPlan& p = plans[i];
      if (p.source == 0 || p.raw) continue;
      if (Failed(old->get_value(p.source, &value))) {
        if (failed) break;
        continue;  // left blank
      }
      (void)fresh->put_value(static_cast<int>(i + 1),
                             ConvertFieldValue(value, p.old_field, p.new_field));
    }
    if (deleted && !any_raw) (void)fresh->delete_record();
    if (failed) break;
    CrashPoint("restructure-record");
    if (options.progress && recno % kProgressStep == 0) options.progress(double(recno) / count);
  }
  if (failed) return false;
  report->records = count;
  const MemoKind new_memo_kind = fresh->memo_kind();
  DBSELECTAREA(scratch.area);
  DBCLOSEAREA();
  scratch.area = 0;
  if (failed) return false;
  if (options.progress) options.progress(1.0);

  // The swap: the new table (and memo file) in place, the old ones kept as the backup.
  const std::string old_memo = ExistingMemoFile(table, old->memo_kind());
  std::vector<std::string> finals = {table};
  std::vector<std::string> built = {scratch.table};
  std::string new_memo;
  for (const std::string& m : scratch.memos) {
    if (new_memo_kind != MemoKind::kNone && FileExists(m)) {
      new_memo = old_memo.empty() ? MemoNameFor(table, ExtensionOf(m)) : old_memo;
      finals.push_back(new_memo);
      built.push_back(m);
      break;
    }
  }
  std::vector<std::string> backups;
  for (const std::string& f : finals) backups.push_back(RestructureBackupName(f));
  {
    TableRewrite rw(finals);
    rw.set_backup_names(backups);
    std::string failed_file;
    if (int rc = rw.Adopt(built, &failed_file)) {
      (void)RaiseError(RestructureError(kEgOpen, kEdfOpen, failed_file, "", rc));
      return false;
    }
    scratch.kept = true;  // the TableRewrite removes them now, unless it commits
    CrashPoint("restructure-built");
    if (int rc = rw.Commit(&failed_file)) {
      (void)RaiseError(RestructureError(kEgWrite, kEdfWrite, failed_file, "", rc));
      if (!rw.committed()) return false;
    }
  }
  report->backup = backups[0];
  CloseAreaQuietly(old_guard.area);
  old_guard.area = 0;
  old = nullptr;
  // The old memo file of a table that has no memo fields any more goes to the backup too.
  if (!old_memo.empty() && new_memo.empty()) {
    const std::string backup_memo = RestructureBackupName(old_memo);
    (void)DeleteFile(backup_memo);
    (void)RenameFile(old_memo, backup_memo);
  }
  // The backup of a table whose code page a .cpg file names gets one too.
  const std::string cpg = ResolveCase(PathWithoutExtension(table) + ".cpg");
  if (FileExists(cpg)) {
    const std::string backup_cpg = RestructureBackupName(cpg);
    (void)DeleteFile(backup_cpg);
    (void)LinkFile(cpg, backup_cpg);
  }
  (void)DeleteFile(scratch.cpg);
  (void)SyncDirectory(DirectoryOf(table));
  RebuildIndexes(table, indexes, options.password, report);
  return true;
}

}  // namespace vosk
