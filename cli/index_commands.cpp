#include "cli/index_commands.h"

#include <cstdio>
#include <fstream>
#include <string>

#include "cli/command_line.h"
#include "expr/number_text.h"
#include "expr/runtime_error.h"
#include "rdd/db_commands.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_check.h"
#include "rdd/ord_commands.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

std::string DriverOf(const ToolArgs& a) {
  std::string d = a.Get("driver", "DBFNTX");
  for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return d;
}

void Open(const ToolArgs& a, const std::string& table, bool shared, bool read_only) {
  if (!DBUSEAREA(true, DriverOf(a), table, "T", shared, read_only)) {
    throw Abandon(RuntimeError{kEgOpen, DriverOf(a), kEdfOpen, 0, "", table});
  }
}

void AddBag(const ToolArgs& a, const std::string& bag) {
  if (!ORDLISTADD(Value::String(bag))) {
    throw Abandon(RuntimeError{kEgOpen, DriverOf(a), 1003, 0, "", bag});
  }
  if (a.Has("tag")) {
    ORDSETFOCUS(Value::String(a.Get("tag")));
    if (INDEXORD() == 0) throw Abandon(RuntimeError{kEgArg, DriverOf(a), 1006, 0, "", bag, a.Get("tag")});
    DBGOTOP();
  }
}

// The seek value of a text for the controlling order's key type.
Value SeekValue(const std::string& text) {
  Value type = DBORDERINFO(Value::Integer(kOiKeyType));
  char t = type.is_string() && !type.str().empty() ? type.str()[0] : 'C';
  switch (t) {
    case 'N': return ValOf(text);
    case 'D':
    case 'T': return Value::Date(DateFromDigits(text));  // a timestamp order: the whole day
    case 'L': return Value::Logical(!text.empty() && (text[0] == 'T' || text[0] == 't'));
    default: return Value::String(text);
  }
}

}  // namespace

DbfArea* OpenIndexedTable(const ToolArgs& a, bool shared, bool read_only) {
  Open(a, a.positional.at(1), shared, read_only);
  AddBag(a, a.Get("index"));
  return dynamic_cast<DbfArea*>(CurrentArea());
}

int CmdIndex(const ToolArgs& a) {
  if (a.positional.size() < 4) throw Abandon(RuntimeError{kEgArg, "DBCMD", 1006});
  Open(a, a.positional[1], !a.Has("exclusive"), false);
  OrdCondArgs cond;
  cond.for_text = a.Get("for");
  cond.descending = a.Has("descending");
  ORDCONDSET(cond);
  if (!ORDCREATE(a.positional[2], a.Get("tag"), a.positional[3], nullptr,
                 Value::Logical(a.Has("unique")))) {
    throw Abandon(RuntimeError{kEgCreate, DriverOf(a), 1006, 0, "", a.positional[2]});
  }
  std::printf("%lld keys\n", static_cast<long long>(ORDKEYCOUNT()));
  DBCLOSEAREA();
  return 0;
}

int CmdSeek(const ToolArgs& a) {
  bool from_file = a.Has("keys");
  if (from_file == (a.positional.size() > 3)) throw UsageError{"give either VALUE or --keys FILE"};
  Open(a, a.positional[1], true, true);
  AddBag(a, a.positional[2]);
  Value soft = Value::Logical(a.Has("soft"));
  Value last = Value::Logical(a.Has("last"));
  std::string out;
  auto one = [&](const std::string& text) {
    DBSEEK(SeekValue(text), soft, last);
    out += EOF_() ? std::string("EOF") : std::to_string(RECNO());
    out += '\n';
    if (out.size() > (1u << 16)) {
      std::fputs(out.c_str(), stdout);
      out.clear();
    }
  };
  if (from_file) {
    std::ifstream in(a.Get("keys"));
    std::string line;
    while (std::getline(in, line)) one(line);
  } else {
    one(a.positional[3]);
  }
  std::fputs(out.c_str(), stdout);
  DBCLOSEAREA();
  return 0;
}

int CmdReindex(const ToolArgs& a) {
  if (a.positional.size() < 3) throw Abandon(RuntimeError{kEgArg, "DBCMD", 1006});
  Open(a, a.positional[1], false, false);
  AddBag(a, a.positional[2]);
  ORDLISTREBUILD();
  std::printf("%lld keys\n", static_cast<long long>(ORDKEYCOUNT()));
  DBCLOSEAREA();
  return 0;
}

namespace {

// Exit status of a check that could not run.
constexpr int kCheckNotDone = 4;

// The work of check; raises Abandon when the table or a bag cannot be read.
int CheckBags(const ToolArgs& a) {
  Open(a, a.positional[1], true, true);
  AddBag(a, a.positional[2]);
  auto* area = dynamic_cast<NtxArea*>(CurrentArea());
  if (!area) throw Abandon(RuntimeError{kEgUnsupported, DriverOf(a), 0});
  int bad = 0;
  for (const auto& bag : area->bags()) {
    auto* ntx = dynamic_cast<NtxFile*>(bag.get());
    if (!ntx) continue;
    NtxCheckReport report;
    if (Failed(NtxCheckBag(area, ntx, &report))) return kCheckNotDone;
    for (const std::string& p : report.problems) std::printf("%s: %s\n", bag->path().c_str(), p.c_str());
    for (const std::string& n : report.notes) std::printf("%s: note: %s\n", bag->path().c_str(), n.c_str());
    std::printf("%s: %zu order(s), %lld keys, %lld pages, %s\n", bag->path().c_str(),
                bag->order_count(), static_cast<long long>(report.keys),
                static_cast<long long>(report.pages), report.problems.empty() ? "ok" : "DAMAGED");
    bad += static_cast<int>(report.problems.size());
  }
  DBCLOSEAREA();
  return bad ? 1 : 0;
}

}  // namespace

int CmdCheck(const ToolArgs& a) {
  if (a.positional.size() < 3) throw Abandon(RuntimeError{kEgArg, "DBCMD", 1006});
  try {
    return CheckBags(a);
  } catch (const Abandon& e) {
    ReportAbandonedCommand(e);
    return kCheckNotDone;
  }
}

}  // namespace vosk
