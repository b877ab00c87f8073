#ifndef VOSK_APP_TABLE_FILES_H_
#define VOSK_APP_TABLE_FILES_H_

// What the Application learns from a table's files before it opens the table: the memo kind
// it uses, whether it can be written at all, whether its memo file is there; and the one check
// that every change of the current table makes first.

#include <string>

namespace vosk {

enum class MemoKindOnDisk { kUnknown = 0, kDbt = 1, kFpt = 2 };

// The memo kind of a table: from its version byte when that names one and its memo file is
// beside it; else from the memo file beside it (FPT when both are there); else from the version
// byte alone; kUnknown for a table without memo file and memo kind.
MemoKindOnDisk MemoKindOf(const std::string& table);

// Makes the default driver open `table` with its own memo kind (type and extension); the
// settings' "Memo" choice when the table shows none. The settings file is not written.
void UseMemoKindOf(const std::string& table);

// The memo file that the table's version byte calls for and that is not there ("" when the
// table needs none or has it).
std::string MissingMemoFile(const std::string& table);

// True when the table or its memo file can be read but not written (file permissions,
// read-only media).
bool ReadOnlyOnDisk(const std::string& table);

// Whether `table` is to be opened read-only: when its memo file is missing, it cannot be
// written, or the structural bag its header flags cannot be kept current, after saying so.
bool ExplainReadOnlyOpen(const std::string& table);
// After the current table was opened: its display errors may be reported again, except those
// on a missing memo file, which the user was told about.
void TableOpened(const std::string& table);

// The check before any change of the current table: false, after "La tabella ... è aperta in
// sola lettura: impossibile modificarla.", when it was opened read-only.
bool TableWritable();

}  // namespace vosk

#endif  // VOSK_APP_TABLE_FILES_H_
