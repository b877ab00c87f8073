#include "app/table_presence.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/ansi.h"
#include "app/area_selection.h"
#include "app/browse.h"
#include "app/browse_view.h"
#include "app/current_table.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/sort_filter.h"
#include "app/table_files.h"
#include "expr/runtime_error.h"
#include "platform/file.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/work_area.h"

namespace vosk {
namespace {

constexpr int kDbiFileHandle = 23;  // the table file's descriptor
constexpr int kDbiMemoHandle = 38;  // the memo file's descriptor

// The descriptor a DBINFO item gives, -1 when none.
int Handle(int item) {
  ScopedErrorHandler quiet([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
  try {
    const Value v = DBINFO(item);
    return v.is_numeric() ? static_cast<int>(v.number()) : -1;
  } catch (const Abandon&) {
    return -1;
  }
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the open descriptor is the file at `path`.
bool AtPath(int fd, const std::string& path) {
  struct stat open_file, at_path;
  if (fd < 0 || ::fstat(fd, &open_file) != 0) return true;  // cannot be told
  if (open_file.st_nlink == 0) return false;
  return ::stat(path.c_str(), &at_path) == 0 && SameFile(open_file, at_path);
}

// The name a removed open file had ("/dir/T.FPT (deleted)" gives "/dir/T.FPT").
std::string NameOfOpenFile(int fd) {
  char buffer[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  std::string name(buffer, static_cast<size_t>(n));
  const std::string deleted = " (deleted)";
  if (name.size() > deleted.size() &&
      name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0) {
    name.resize(name.size() - deleted.size());
  }
  return name;
}

// Writes the whole open file under `path`: a new file beside it, filled, flushed and renamed
// over the path, so that a failure leaves no half-written file there. False on failure.
bool SaveOpenFile(int fd, const std::string& path) {
  const std::string temporary = path + ".vosk-save";
  const int out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (out < 0) return false;
  bool ok = true;
  std::vector<char> buffer(1 << 16);
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    for (ssize_t written = 0; written < n;) {
      const ssize_t w = ::write(out, buffer.data() + written, static_cast<size_t>(n - written));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      written += w;
    }
    if (!ok) break;
    at += n;
  }
  ok = ::fsync(out) == 0 && ok;
  ok = ::close(out) == 0 && ok;
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

// The open file the refresh timer told about last (device and inode), so that it tells once.
std::optional<std::pair<dev_t, ino_t>>& ToldFile() {
  static std::optional<std::pair<dev_t, ino_t>> told;
  return told;
}

bool Reopen(Browse* oBrw, bool same_table);

// Saves the open table (and its memo file when that is gone too) at their paths and opens the
// saved table in the current work area as it was open: the same index, the same record.
bool SaveAgain(Browse* oBrw) {
  CurrentTableState& state = CurTable();
  DBCOMMIT();
  const int table_fd = Handle(kDbiFileHandle);
  const int memo_fd = Handle(kDbiMemoHandle);
  std::string memo;
  if (memo_fd >= 0) {
    memo = NameOfOpenFile(memo_fd);
    if (!memo.empty() && AtPath(memo_fd, memo)) memo.clear();
  }
  if (!SaveOpenFile(table_fd, state.cCurTable) || (!memo.empty() && !SaveOpenFile(memo_fd, memo))) {
    POPMSG("Impossibile salvare la tabella " + state.cCurTable + ".", 1);
    return false;
  }
  if (!Reopen(oBrw, true)) return false;
  POPMSG(Ansi("La tabella è stata salvata di nuovo nel file ") + state.cCurTable + ".", 1);
  return true;
}

// Opens the file at the table's path in the current work area. The same table (saved again)
// opens as it was: the same index, the same record; another file opens as a table opened anew.
bool Reopen(Browse* oBrw, bool same_table) {
  CurrentTableState& state = CurTable();
  const uint32_t record = RECNO();
  DBOPEN(false, "", state.cCurTable, kCurrentAlias, true, state.lReadOnly);
  if (!USED()) return false;
  TableOpened(state.cCurTable);
  DBINFO(kDbiPassword, Value::String(state.cPassword.value_or("")));
  if (!same_table) {
    state.cCurIndex.reset();
    if (oBrw) {
      REBUILDBRW(oBrw);
      ORDINA(oBrw);
    } else {
      ShowAllFields(FCOUNT());
    }
    return true;
  }
  if (state.cCurIndex && FileExists(*state.cCurIndex)) {
    OrderListAdd(*state.cCurIndex);
  } else {
    state.cCurIndex.reset();
  }
  DBGOTO(Value::Integer(record));
  if (oBrw) {
    // A sort or filter of the view lived in the area just closed: the view starts again from
    // the table's own order.
    if (!state.xCurOrder.is_nil() || state.cCurFilter) {
      ORDINA(oBrw);
    } else {
      oBrw->Refresh();
      oBrw->Change();
    }
  }
  return true;
}

}  // namespace

bool OpenTableAtItsPath() {
  if (!AreaInUse(kCurrentAlias)) return true;
  AreaSelection selection(kCurrentAlias);
  return AtPath(Handle(kDbiFileHandle), CurTable().cCurTable);
}

bool TABLEPRESENT(Browse* oBrw, bool timer) {
  if (OpenTableAtItsPath()) return true;
  AreaSelection selection(kCurrentAlias);
  struct stat open_file;
  const int fd = Handle(kDbiFileHandle);
  if (fd < 0 || ::fstat(fd, &open_file) != 0) return true;
  const std::pair<dev_t, ino_t> id{open_file.st_dev, open_file.st_ino};
  if (timer && ToldFile() == id) return false;
  ToldFile() = id;
  const std::string& path = CurTable().cCurTable;
  if (FileExists(path)) {
    // Another file took the name: it is not this program's to overwrite; the user may open it.
    if (!POPMSG("Il file " + path +
                    Ansi(" è stato sostituito da un altro programma: la tabella aperta non è "
                         "più quella del file e le modifiche andrebbero perse.;;Aprire il file "
                         "che ora porta quel nome?"),
                4)
             .logical()) {
      return false;
    }
    return Reopen(oBrw, false);
  }
  if (!POPMSG("Il file " + path +
                  Ansi(" è stato eliminato da un altro programma: la tabella aperta non è più "
                       "su disco e le modifiche andrebbero perse.;;Salvare la tabella aperta "
                       "con il suo nome?"),
              4)
           .logical()) {
    return false;
  }
  return SaveAgain(oBrw);
}

}  // namespace vosk
