#include "app/table_maintenance.h"

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/ansi.h"
#include "app/browse.h"
#include "app/current_table.h"
#include "app/error_handler.h"
#include "app/filename.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/progress.h"
#include "app/sort_filter.h"
#include "app/table_files.h"
#include "expr/memvars.h"
#include "expr/runtime_error.h"
#include "platform/file.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/order_types.h"

namespace vosk {
namespace {


bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The full path of an open order's bag: the bag reports its file name alone, which is the
// user's index when it has that name, else a file beside the table.
std::string BagPath(const std::string& name) {
  const CurrentTableState& state = CurTable();
  if (state.cCurIndex && SameName(CFILENOPATH(*state.cCurIndex), name)) return *state.cCurIndex;
  return CFILEPATH(state.cCurTable) + name;
}

// Zap (true) or pack (false) of the current table.
void Rewrite(Browse* oBrw, bool zap) {
  if (!TableWritable()) return;
  if (!POPMSG(zap ? "Confermi lo ZAP della tabella?" : "Confermi il PACK della tabella?", 2)
           .logical()) {
    return;
  }
  const std::string table = CurTable().cCurTable;
  // The index the user opened is built again with the table, like its structural bag.
  const std::optional<std::string> index = CurTable().cCurIndex;
  if (!OKEXCL(oBrw, table)) {
    POPMSG(std::string(kOpenElsewhere) + (zap ? "svuotarla." : "compattarla."), 1);
    return;
  }
  {
    Progress progress(zap ? "Svuotamento della tabella in corso..."
                          : "Compattazione tabella in corso...",
                      LASTREC());
    try {
      OpenCurrent(false);
      if (index && !index->empty()) OrderListAdd(*index);
      if (zap) DBZAPKEEP();
      DBPACK(progress.Block(), static_cast<int>(progress.EvalStep()));
      DBCLOSE();
    } catch (const Abandon&) {
      // Told by the error handler. The engine left the table as it was; it is opened shared
      // again below like after a rewrite that worked.
    }
    OpenCurrent(true);
  }
  ORDINA(oBrw);
}

}  // namespace

void OpenCurrent(bool shared) {
  const CurrentTableState& state = CurTable();
  DBOPEN(false, "", state.cCurTable, kCurrentAlias, shared, shared && state.lReadOnly);
  TableOpened(state.cCurTable);
  DBINFO(kDbiPassword, Value::String(state.cPassword.value_or("")));
}

void SVUOTA(Browse* oBrw) {
  RoutineFrame frame("SVUOTA", __LINE__);
  Rewrite(oBrw, true);
}

void COMPATTA(Browse* oBrw) {
  RoutineFrame frame("COMPATTA", __LINE__);
  Rewrite(oBrw, false);
}

bool OKEXCL(Browse* oBrw, const std::string& cTable) {
  const uint32_t record = RECNO();
  DBCLOSE();
  const bool free = !NETUSED(cTable);
  OpenCurrent(true);
  DBGOTO(Value::Integer(record));
  ORDINA(oBrw);
  return free;
}

bool NETUSED(const std::string& cFile) {
  const std::string file = CFILEEXT(cFile).empty() ? cFile + ".DBF" : cFile;
  if (!FileExists(file)) return false;
  File probe;
  return probe.Open(file, Access::kRead, Share::kExclusive) != 0;
}

void DBZAPKEEP() {
  const std::vector<std::string> bags = ORDLIST();
  const std::string focus = ORDSETFOCUS();
  const Value top = ORDSCOPE(0);
  const Value bottom = ORDSCOPE(1);
  DBZAP();
  ORDLISTCLEAR();
  ORDLIST(bags);
  if (!focus.empty()) ORDSETFOCUS(Value::String(focus));
  if (!top.is_nil()) ORDSCOPE(0, top);
  if (!bottom.is_nil()) ORDSCOPE(1, bottom);
  DBGOTOP();
}

std::vector<std::string> ORDLIST() {
  std::vector<std::string> bags;
  for (int n = 1;; ++n) {
    const Value name = DBORDERINFO(Value::Integer(kOiBagName), Value(), Value::Integer(n));
    if (!name.is_string() || name.str().empty()) break;
    bags.push_back(BagPath(name.str()));
  }
  return bags;
}

std::vector<std::string> ORDLIST(const std::string& cExclude) {
  const std::string excluded =
      UpperName(CFILEEXT(cExclude).empty() ? cExclude + ".NTX" : cExclude);
  std::vector<std::string> bags = ORDLIST();
  std::erase_if(bags, [&](const std::string& bag) { return UpperName(bag) == excluded; });
  return bags;
}

void ORDLIST(const std::vector<std::string>& aBags) {
  std::vector<std::string> added;
  for (const std::string& bag : aBags) {
    // A bag of several orders is listed once per order and opened once.
    if (std::any_of(added.begin(), added.end(),
                    [&](const std::string& a) { return SameName(a, bag); })) {
      continue;
    }
    ORDADD(bag);
    added.push_back(bag);
  }
}

void ORDADD(const std::string& cBag) {
  const std::string name = CFILENOPATH(cBag);
  ORDLISTADD(Value::String(name.find('.') == std::string::npos ? cBag + OrderBagExt() : cBag));
}

}  // namespace vosk
