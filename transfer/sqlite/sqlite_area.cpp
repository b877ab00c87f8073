#include "transfer/sqlite/sqlite_area.h"

#include <sqlite3.h>

#include <cctype>
#include <cmath>
#include <exception>

#include "expr/runtime_error.h"
#include "rdd/driver_registry.h"
#include "rdd/text/field_text.h"
#include "rdd/transfer.h"

namespace vosk {
namespace {

std::string Quoted(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool IsBinaryField(const Field& f) {
  return f.kind == FieldKind::kBinaryMemo || f.kind == FieldKind::kPicture ||
         f.kind == FieldKind::kBlob || f.kind == FieldKind::kGeneral ||
         (f.flags & 0x04 && (f.kind == FieldKind::kMemo));
}

bool IsNumberField(const Field& f) {
  switch (f.kind) {
    case FieldKind::kNumeric: case FieldKind::kFloat: case FieldKind::kInteger:
    case FieldKind::kCurrency: case FieldKind::kDouble: case FieldKind::kDoubleCurrency:
    case FieldKind::kAutoInc: case FieldKind::kRowVersion:
      return true;
    default:
      return false;
  }
}

// Binary doubles have no decimals of their own: they are REAL.
bool IsRealField(const Field& f) {
  return f.decimals > 0 || f.kind == FieldKind::kDouble ||
         f.kind == FieldKind::kDoubleCurrency || f.kind == FieldKind::kCurrency;
}

const char* ColumnType(const Field& f) {
  if (IsBinaryField(f)) return "BLOB";
  if (IsNumberField(f)) return IsRealField(f) ? "REAL" : "INTEGER";
  if (f.kind == FieldKind::kLogical) return "INTEGER";
  return "TEXT";
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

SqliteArea::~SqliteArea() { Release(); }

void SqliteArea::Release() {
  if (stmt_) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
}

Status SqliteArea::DbError(int sub_code, const std::string& what) {
  failed_ = true;
  RuntimeError e;
  e.gen_code = GeneralCodeOfDriverSubcode(sub_code);
  e.sub_code = sub_code;
  e.file_name = file_name_;
  e.description = what + (db_ ? std::string(": ") + sqlite3_errmsg(db_) : std::string());
  error(std::move(e));
  return kFailure;
}

Status SqliteArea::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return DbError(kEdfWrite, sql);
  }
  return kSuccess;
}

Status SqliteArea::create(const OpenInfo& info) {
  file_name_ = info.file;
  read_only_ = false;
  TakeCodepage(info);
  if (sqlite3_open_v2(file_name_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    DbError(kEdfCreate, "cannot create the database");
    Release();
    return kFailure;
  }
  OpenInfo named = info;
  if (named.alias.empty()) named.alias = Upper(BaseNameOf(file_name_));
  if (Failed(WorkArea::open(named))) return kFailure;
  table_ = info.table.empty() ? BaseNameOf(file_name_) : info.table;
  const std::string& table = table_;
  std::string create = "CREATE TABLE " + Quoted(table) + " (";
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) create += ", ";
    create += Quoted(ToUtf8(fields_[i].name, codepage_)) + " " + ColumnType(fields_[i]);
  }
  create += ")";
  // The database keeps its own journal (rollback journal or WAL, as its owner chose): a copy
  // that fails or is killed rolls back and leaves every table as it was. The speed comes from
  // the one transaction.
  if (Failed(Exec("BEGIN"))) return kFailure;
  in_transaction_ = true;
  if (Failed(Exec(("DROP TABLE IF EXISTS " + Quoted(table)).c_str())) ||
      Failed(Exec(create.c_str())) || Failed(PrepareInsert())) {
    return kFailure;
  }
  values_.assign(fields_.size(), Value());
  recno_ = 1;
  eof_ = true;
  return kSuccess;
}

Status SqliteArea::PrepareInsert() {
  std::string insert = "INSERT INTO " + Quoted(table_) + " VALUES (";
  for (size_t i = 0; i < fields_.size() + (deleted_column_ ? 1 : 0); ++i) {
    insert += i > 0 ? ", ?" : "?";
  }
  insert += ")";
  if (stmt_) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  if (sqlite3_prepare_v2(db_, insert.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
    return DbError(kEdfCreate, insert);
  }
  return kSuccess;
}

Status SqliteArea::AddDeletedColumn() {
  deleted_column_ = true;
  if (Failed(Exec(("ALTER TABLE " + Quoted(table_) + " ADD COLUMN \"_DELETED\" TEXT").c_str())) ||
      Failed(PrepareInsert())) {
    deleted_column_ = false;
    return kFailure;
  }
  return kSuccess;
}

Status SqliteArea::WriteRow() {
  if (deleted_column_) {
    const int col = static_cast<int>(fields_.size() + 1);
    if (row_deleted_) sqlite3_bind_text(stmt_, col, "*", 1, SQLITE_STATIC);
    else sqlite3_bind_null(stmt_, col);
  }
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    const Value& v = values_[i];
    int col = static_cast<int>(i + 1);
    switch (v.type()) {
      case Value::Type::kNil:
        sqlite3_bind_null(stmt_, col);
        break;
      case Value::Type::kLogical:
        sqlite3_bind_int(stmt_, col, v.logical() ? 1 : 0);
        break;
      case Value::Type::kInteger:
        if (IsRealField(f)) sqlite3_bind_double(stmt_, col, static_cast<double>(v.integer()));
        else sqlite3_bind_int64(stmt_, col, v.integer());
        break;
      case Value::Type::kDouble:
        if (IsNumberField(f) && !IsRealField(f) && std::fabs(v.number()) < 9.2e18) {
          sqlite3_bind_int64(stmt_, col, std::llround(v.number()));
        } else {
          sqlite3_bind_double(stmt_, col, v.number());
        }
        break;
      case Value::Type::kString:
        if (IsBinaryField(f)) {
          sqlite3_bind_blob(stmt_, col, v.str().data(), static_cast<int>(v.str().size()),
                            SQLITE_TRANSIENT);
          break;
        }
        [[fallthrough]];
      default: {
        text_.clear();
        AppendValueText(&text_, v, f, codepage_);
        if (text_.empty() && !v.is_string()) sqlite3_bind_null(stmt_, col);
        else sqlite3_bind_text(stmt_, col, text_.data(), static_cast<int>(text_.size()),
                               SQLITE_TRANSIENT);
        break;
      }
    }
  }
  int rc = sqlite3_step(stmt_);
  sqlite3_reset(stmt_);
  if (rc != SQLITE_DONE) return DbError(kEdfWrite, "insert");
  return kSuccess;
}

Status SqliteArea::open(const OpenInfo& info) {
  file_name_ = info.file;
  read_only_ = true;
  TakeCodepage(info);
  if (sqlite3_open_v2(file_name_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    DbError(kEdfOpen, "cannot open the database");
    Release();
    return kFailure;
  }
  OpenInfo named = info;
  if (named.alias.empty()) named.alias = Upper(BaseNameOf(file_name_));
  if (Failed(WorkArea::open(named))) return kFailure;
  std::string sql = !info.query.empty()
                        ? info.query
                        : "SELECT * FROM " +
                              Quoted(info.table.empty() ? BaseNameOf(file_name_) : info.table);
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
    return DbError(kEdfOpen, sql);
  }
  column_.assign(fields_.size(), -1);
  deleted_col_ = -1;
  for (int c = 0; c < sqlite3_column_count(stmt_); ++c) {
    std::string name = Upper(sqlite3_column_name(stmt_, c));
    if (name == "_DELETED") deleted_col_ = c;
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (column_[i] < 0 && Upper(ToUtf8(fields_[i].name, codepage_)) == name) {
        column_[i] = c;
        break;
      }
    }
  }
  values_.assign(fields_.size(), Value());
  return go_top();
}

// One row: every value is checked against its field here, before any record is appended.
Status SqliteArea::ReadRow(bool* got) {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_DONE) {
    *got = false;
    return kSuccess;
  }
  if (rc != SQLITE_ROW) return DbError(kEdfRead, "select");
  *got = true;
  row_deleted_ = false;
  if (deleted_col_ >= 0) {
    // "*" as copies write it; 1, T or Y as other programs may.
    const unsigned char* mark = sqlite3_column_text(stmt_, deleted_col_);
    row_deleted_ = mark && std::string_view("*1TtYy").find(static_cast<char>(mark[0])) !=
                               std::string_view::npos;
  }
  for (size_t i = 0; i < fields_.size(); ++i) {
    Value& v = values_[i];
    v = Value();
    int c = column_[i];
    if (c < 0) continue;
    const Field& f = fields_[i];
    int type = sqlite3_column_type(stmt_, c);
    if (type == SQLITE_NULL) continue;
    std::string why;
    if (type == SQLITE_BLOB && IsBinaryField(f)) {
      const void* p = sqlite3_column_blob(stmt_, c);
      int n = sqlite3_column_bytes(stmt_, c);
      v = Value::String(std::string(static_cast<const char*>(p), static_cast<size_t>(n)), true);
      continue;
    }
    if (type == SQLITE_INTEGER && f.kind == FieldKind::kLogical) {
      v = Value::Logical(sqlite3_column_int64(stmt_, c) != 0);
      continue;
    }
    const char* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, c));
    int n = sqlite3_column_bytes(stmt_, c);
    std::string_view text(p ? p : "", static_cast<size_t>(n));
    if (!ParseFieldText(text, f, codepage_, &v, &why, &notes_.lost)) {
      RuntimeError e;
      e.gen_code = kEgDataType;
      e.sub_code = kEdfDataType;
      e.description = why;
      e.file_name = file_name_;
      e.operation = f.name;
      error(std::move(e));
      return kFailure;
    }
  }
  return kSuccess;
}

Status SqliteArea::close() {
  Status s = kSuccess;
  if (db_ && !read_only_) {
    s = go_cold();
    if (stmt_) sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    if (in_transaction_) {
      in_transaction_ = false;
      // A copy that failed here, or that an error abandoned, is not committed: the table it
      // replaced stays.
      if (Ok(s) && !failed_ && std::uncaught_exceptions() == 0) {
        if (Failed(Exec("COMMIT"))) s = kFailure;
      } else {
        (void)sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        s = kFailure;
      }
    }
  }
  Release();
  Status base = WorkArea::close();
  return Ok(s) ? base : s;
}

// A NULL is a value (null in a nullable field); only a field without a column is blank.
Status SqliteArea::field_is_blank(int pos, bool* out) {
  *out = pos < 1 || pos > static_cast<int>(column_.size()) || !positioned_ ||
         column_[static_cast<size_t>(pos - 1)] < 0;
  return kSuccess;
}

bool SqliteTables(const std::string& file, std::vector<std::string>* tables) {
  tables->clear();
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
  sqlite3_stmt* stmt = nullptr;
  // Reading the schema is what tells a database from any other file.
  ok = ok && sqlite3_prepare_v2(db,
                                "SELECT name FROM sqlite_master WHERE type IN ('table', 'view') "
                                "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name",
                                -1, &stmt, nullptr) == SQLITE_OK;
  int rc = SQLITE_DONE;
  while (ok && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(stmt, 0);
    if (name) tables->emplace_back(reinterpret_cast<const char*>(name));
  }
  ok = ok && rc == SQLITE_DONE;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (!ok) tables->clear();
  return ok;
}

void RegisterSqliteDriver() {
  RegisterTransferKindDriver("SQLITE", ".sqlite", [](Driver* d) -> std::unique_ptr<WorkArea> {
    return std::make_unique<SqliteArea>(d);
  });
  RegisterTableLister("SQLITE", &SqliteTables);
}

}  // namespace vosk
