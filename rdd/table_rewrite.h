#ifndef VOSK_RDD_TABLE_REWRITE_H_
#define VOSK_RDD_TABLE_REWRITE_H_

#include <string>
#include <vector>

#include "platform/file.h"

namespace vosk {

// Rewrites whole table files (pack, zap, restructure, encipher) without ever writing a table or
// memo file in place. The new files are built beside the old ones under names owned by this
// process; Commit() makes them durable, records the swap in a journal beside the table, renames
// each new file over its old one and removes the journal. A process killed at any moment leaves
// either the old files or the new ones: Recover(), called by the next open of the table,
// finishes a swap whose journal it finds and removes new files whose rewrite never committed.
//
// The new files are created exclusive (their share lock held) and stay open through the swap,
// so that after Commit() the caller adopts them as its open files with no moment in which
// another process could open the table.
//
// Usage:
//   TableRewrite rw({table_path, memo_path});
//   if (int rc = rw.Begin(&name)) ...             // creates the new files
//   ... write rw.file(0), rw.file(1) ...
//   if (int rc = rw.Commit(&name)) ...            // durable, swapped in
//   data_ = std::move(rw.file(0));                // the new file, under the table's name
// A TableRewrite destroyed before Commit() removes its new files.
class TableRewrite {
 public:
  // The final paths of the files to rewrite (for a table: data file, then memo file).
  explicit TableRewrite(std::vector<std::string> finals);
  ~TableRewrite();
  TableRewrite(const TableRewrite&) = delete;
  TableRewrite& operator=(const TableRewrite&) = delete;

  // Keeps each old file under a backup name (the final name with its extension replaced by
  // this one, e.g. "_ORIGINALE.dbf"): set before Commit(). Empty: no backup.
  void set_backup_names(std::vector<std::string> backups) { backups_ = std::move(backups); }

  // Creates the new files. Returns 0 or the OS code; *failed names the file that failed.
  int Begin(std::string* failed);
  // Instead of Begin(): takes files already built beside the table as the new files (a
  // restructure builds its new table through the engine). Their names must be owned names
  // (OwnedFileName) after the table's base name and a dot, so that the next open removes them
  // when this process dies before the swap. Opens each exclusively; returns 0 or the OS code,
  // *failed naming the file that failed. A TableRewrite that never commits removes them.
  int Adopt(const std::vector<std::string>& built, std::string* failed);
  // The new file that will replace final i.
  File& file(size_t i) { return entries_[i].file; }
  size_t size() const { return entries_.size(); }
  // A file of the table's folder that another part built beside its final name (an index bag
  // built for the rewritten records), to take that name in the same swap as the table's files:
  // made durable and renamed by Commit() (File::RenameTo, so that it knows its new name). Its
  // name must be an owned name after the table's base name and a dot. The caller keeps it open
  // and removes it when the swap does not commit.
  void AddBuilt(File* file, const std::string& final_name);

  // Makes the new files durable and swaps them in. Returns 0 or the OS code; *failed names the
  // file that failed. Once the journal is durable the swap is committed: a failure after that
  // point is finished by the next open.
  int Commit(std::string* failed);
  bool committed() const { return committed_; }

  // The journal of a table's swap.
  static std::string JournalName(const std::string& table);
  // Finishes a swap of the table's files found half done (its journal present and its owner
  // gone) and removes new files beside the table whose owner is gone. Waits while another
  // process is in the middle of a swap of this table.
  static void Recover(const std::string& table);

 private:
  struct Entry {
    std::string final_name;
    std::string new_name;
    File file;
  };
  void RemoveNewFiles();

  struct Built {
    File* file;
    std::string final_name;
  };
  std::vector<Entry> entries_;
  std::vector<Built> built_;
  std::vector<std::string> backups_;
  File journal_;
  bool committed_ = false;
};

}  // namespace vosk

#endif  // VOSK_RDD_TABLE_REWRITE_H_
