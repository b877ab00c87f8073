#include "app/record_commands.h"

#include <string>

#include "app/browse.h"
#include "app/error_handler.h"
#include "app/messages.h"
#include "app/record_change.h"
#include "app/table_files.h"
#include "app/ui.h"
#include "expr/value.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

constexpr char kRecordLocked[] =
    "Il record risulta attualmente bloccato da un altro programma. Impossibile ";

// True for the fields a copy takes over: not those the table fills in itself.
bool CopiedByDuplicate(int n) {
  const Value type = FIELDTYPE(n);
  if (!type.is_string() || type.str().empty()) return false;
  switch (type.str()[0]) {
    case '+':  // autoincrement
    case '^':  // row version
    case '=':  // modification stamp
      return false;
    default:
      return true;
  }
}

}  // namespace

void NUOVOREC(Browse* oBrw, bool lDup) {
  RoutineFrame frame("NUOVOREC", __LINE__);
  if (!TableWritable()) return;
  const int fields = FCOUNT();
  ValueArray values(static_cast<size_t>(fields));
  if (lDup) {
    for (int n = 1; n <= fields; ++n) values[static_cast<size_t>(n - 1)] = FIELDGET(n);
  }
  frame.set_line(__LINE__);
  if (!DBAPP()) return;
  RecordChange change(RecordChange::kAppended);
  if (lDup) {
    for (int n = 1; n <= fields; ++n) {
      const Value& v = values[static_cast<size_t>(n - 1)];
      if (!v.is_nil() && CopiedByDuplicate(n)) FIELDPUT(n, v);
    }
  }
  change.Finish();
  if (oBrw) oBrw->Stabilize();
}

void ELIMREC(Browse* oBrw) {
  RoutineFrame frame("ELIMREC", __LINE__);
  if (!TableWritable()) return;
  if (EOF_()) {
    GetUi().Beep();  // no record to delete: the table is empty or the view shows none
    return;
  }
  const bool deleted = DELETED();
  RecordChange change(RecordChange::kRecord);
  if (!change.held()) {
    POPMSG(std::string(kRecordLocked) + (deleted ? "ripristinarlo" : "cancellarlo") + ".", 1);
    return;
  }
  if (deleted) {
    DBRECALL();
  } else {
    DBDELETE();
  }
  change.Finish();
  if (oBrw) oBrw->Stabilize();
}

}  // namespace vosk
