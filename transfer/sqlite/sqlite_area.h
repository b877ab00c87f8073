#ifndef VOSK_TRANSFER_SQLITE_SQLITE_AREA_H_
#define VOSK_TRANSFER_SQLITE_SQLITE_AREA_H_

#include <string>
#include <vector>

#include "transfer/row_area.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vosk {

// The SQLITE driver: a table of a SQLite database file. A copy makes one table (named by the
// open info's table, else after the file) with a column per field: character and memo TEXT,
// numbers INTEGER without decimals and REAL with them, dates TEXT YYYY-MM-DD, timestamps TEXT
// YYYY-MM-DD HH:MM:SS.mmm, logicals INTEGER 0/1, binary memos BLOB; empty values are NULL.
// Every row goes in through one prepared statement inside one transaction under the database's
// own journal, committed at close (a table of that name is replaced in the same transaction)
// unless the copy failed: then it is rolled back. Reading takes the rows of a table or of a
// query, matching columns to the given fields by name; a NULL is a null value. Text is UTF-8
// in the database and in the table's code page in the values. A copy that keeps deleted
// records adds a column _DELETED ("*" for a deleted record, else NULL); reading, such a column
// marks the records deleted.
class SqliteArea : public RowArea {
 public:
  explicit SqliteArea(Driver* driver) : RowArea(driver) {}
  ~SqliteArea() override;

  Status create(const OpenInfo& info) override;
  Status open(const OpenInfo& info) override;
  Status close() override;
  Status field_is_blank(int pos, bool* out) override;

 protected:
  Status WriteRow() override;
  Status ReadRow(bool* got) override;
  Status AddDeletedColumn() override;

 private:
  // Raises an error of the database with its message; always kFailure.
  Status DbError(int sub_code, const std::string& what);
  Status Exec(const char* sql);
  void Release();
  // Prepares the insert of a row (the fields, then _DELETED when there is one).
  Status PrepareInsert();

  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  std::string file_name_;
  std::string table_;        // writing: the table made
  std::vector<int> column_;  // reading: per field its result column, -1 when none
  int deleted_col_ = -1;     // reading: the _DELETED column, -1 when none
  bool in_transaction_ = false;
  bool failed_ = false;      // an error was raised: the copy is rolled back at close
  std::string text_;         // scratch
};

// The tables and views of a SQLite database file, by name; false when the file is no database
// that can be read.
bool SqliteTables(const std::string& file, std::vector<std::string>* tables);

// Registers "SQLITE" (transfer kind) and its lister of tables.
void RegisterSqliteDriver();

}  // namespace vosk

#endif  // VOSK_TRANSFER_SQLITE_SQLITE_AREA_H_
