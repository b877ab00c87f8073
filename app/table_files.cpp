#include "app/table_files.h"

#include <cstdint>

#include "app/ansi.h"
#include "app/area_selection.h"
#include "app/browse_view.h"
#include "app/command_state.h"
#include "app/current_table.h"
#include "app/filename.h"
#include "app/messages.h"
#include "app/startup.h"
#include "app/table_presence.h"
#include "app/voskdbu.h"
#include "expr/memvars.h"
#include "platform/file.h"
#include "platform/os_error.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

constexpr int kDbiReadOnly = 129;

std::string Base(const std::string& table) { return CFILEPATH(table) + CFILENOEXT(table); }

const char* Extension(MemoKindOnDisk kind) {
  return kind == MemoKindOnDisk::kDbt ? ".DBT" : ".FPT";
}

// The memo kind that the version byte (offset 0) and, for Visual FoxPro tables, the memo flag
// of the table flags (offset 28) call for.
MemoKindOnDisk KindOfVersion(const std::string& table) {
  File f;
  if (f.Open(table, Access::kRead, Share::kDenyNone) != 0) return MemoKindOnDisk::kUnknown;
  uint8_t header[32] = {};
  if (f.ReadAt(header, sizeof header, 0) != static_cast<int64_t>(sizeof header)) {
    return MemoKindOnDisk::kUnknown;
  }
  switch (header[0]) {
    case 0x83:
    case 0x86:
    case 0x8B:
    case 0x8E:
    case 0xCB:
      return MemoKindOnDisk::kDbt;
    case 0xF5:
    case 0xF6:
      return MemoKindOnDisk::kFpt;
    case 0x30:
    case 0x31:
    case 0x32:
      return header[28] & 0x02 ? MemoKindOnDisk::kFpt : MemoKindOnDisk::kUnknown;
    default:
      return MemoKindOnDisk::kUnknown;
  }
}

// True when `path` exists and opens for reading but not for writing.
bool ReadOnlyFile(const std::string& path) {
  if (!FileExists(path)) return false;
  File f;
  const int rc = f.Open(path, Access::kReadWrite, Share::kDenyNone);
  if (rc != kOsAccessDenied && rc != kOsWriteProtected) return false;
  File r;
  return r.Open(path, Access::kRead, Share::kDenyNone) == 0;
}

}  // namespace

MemoKindOnDisk MemoKindOf(const std::string& table) {
  const MemoKindOnDisk version = KindOfVersion(table);
  const std::string base = Base(table);
  const bool dbt = FileExists(base + ".DBT"), fpt = FileExists(base + ".FPT");
  if (version == MemoKindOnDisk::kDbt && dbt) return version;
  if (version == MemoKindOnDisk::kFpt && fpt) return version;
  if (fpt) return MemoKindOnDisk::kFpt;
  if (dbt) return MemoKindOnDisk::kDbt;
  return version;
}

void UseMemoKindOf(const std::string& table) {
  MemoKindOnDisk kind = MemoKindOf(table);
  if (kind == MemoKindOnDisk::kUnknown) {
    const int memo = IniInt("Memo", 1);
    SetMemoFormat(memo, memo == 1 || VOSK() ? ".DBT" : ".FPT");
    return;
  }
  SetMemoFormat(static_cast<int>(kind), VOSK() ? ".DBT" : Extension(kind));
}

std::string MissingMemoFile(const std::string& table) {
  const MemoKindOnDisk kind = KindOfVersion(table);
  if (kind == MemoKindOnDisk::kUnknown) return "";
  const std::string memo = Base(table) + (VOSK() ? ".DBT" : Extension(kind));
  return FileExists(memo) ? "" : memo;
}

bool ReadOnlyOnDisk(const std::string& table) {
  if (ReadOnlyFile(table)) return true;
  const std::string base = Base(table);
  return ReadOnlyFile(base + ".DBT") || ReadOnlyFile(base + ".FPT");
}

bool ExplainReadOnlyOpen(const std::string& table) {
  const std::string missing = MissingMemoFile(table);
  if (!missing.empty()) {
    POPMSG("Il file memo " + missing + Ansi(" non è presente:;la tabella ") +
               table +
               Ansi(" viene aperta in sola lettura e i campi memo non sono "
                    "disponibili."),
           1);
    return true;
  }
  if (ReadOnlyOnDisk(table)) {
    POPMSG("Il file " + table +
               Ansi(" è in sola lettura:;la tabella viene aperta in sola "
                    "lettura e non potrà essere modificata."),
           1);
    return true;
  }
  return false;
}

void TableOpened(const std::string& table) {
  ForgetDisplayErrors();
  const std::string missing = MissingMemoFile(table);
  if (!missing.empty()) MarkFileTold(missing);
}

bool TableWritable() {
  if (!AreaInUse(kCurrentAlias)) return true;
  // A write to a file that is no longer at the table's path would be lost.
  if (!TABLEPRESENT(MainBrowse())) return false;
  bool read_only = false;
  {
    AreaSelection selection(kCurrentAlias);
    const Value v = DBINFO(kDbiReadOnly);
    read_only = v.is_logical() && v.logical();
  }
  if (!read_only) return true;
  POPMSG("La tabella " + CurTable().cCurTable +
             Ansi(" è aperta in sola lettura: impossibile modificarla."),
         1);
  return false;
}

}  // namespace vosk
