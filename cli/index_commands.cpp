#include "cli/index_commands.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/tool.h"
#include "expr/expression.h"
#include "expr/number_text.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "rdd/db_commands.h"
#include "platform/file.h"
#include "platform/system.h"
#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/dbfcdx/cdx_check.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_check.h"
#include "rdd/ord_commands.h"
#include "rdd/order_bag_build.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string DriverOf(const ToolArgs& a) {
  std::string d = a.Get("driver", "DBFNTX");
  for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return d;
}

// The engine of a bag follows its extension; --driver decides for a name without one.
std::string DriverFor(const ToolArgs& a, const std::string& bag) {
  std::string name = bag.substr(bag.find_last_of('/') == std::string::npos ? 0 : bag.find_last_of('/') + 1);
  size_t dot = name.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : Lower(name.substr(dot));
  if (ext == ".cdx") return "DBFCDX";
  if (ext == ".ntx") return "DBFNTX";
  return DriverOf(a);
}

std::string g_driver;  // the driver the table was opened with


void Open(const ToolArgs& a, const std::string& table, bool shared, bool read_only,
          const std::string& driver) {
  g_driver = driver;
  // A table whose structural bag is kept current opens with it when it may change.
  bool structural = !read_only && driver == "DBFCDX" && !StructuralCdxOf(table).empty();
  if (structural) SET(kSetAutOpen, Value::Logical(true));
  bool ok = DBUSEAREA(true, driver, table, AliasOption(a, table), shared, read_only,
                     CodepageOption(a));
  if (structural) SET(kSetAutOpen, Value::Logical(false));
  if (!ok) throw Abandon(RuntimeError{kEgOpen, driver, kEdfOpen, 0, "", table});
}

void AddBag(const ToolArgs& a, const std::string& bag) {
  if (!ORDLISTADD(Value::String(bag))) {
    throw Abandon(RuntimeError{kEgOpen, g_driver, 1003, 0, "", bag});
  }
  if (a.Has("tag")) {
    ORDSETFOCUS(Value::String(a.Get("tag")));
    if (INDEXORD() == 0) throw Abandon(RuntimeError{kEgArg, g_driver, 1006, 0, "", bag, a.Get("tag")});
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

std::string StructuralCdxOf(const std::string& table) {
  const StructuralBag bag = StructuralBagOf(table);
  return bag.present ? bag.path : "";
}

DbfArea* OpenIndexedTable(const ToolArgs& a, bool shared, bool read_only) {
  Open(a, a.positional.at(1), shared, read_only, DriverFor(a, a.Get("index")));
  AddBag(a, a.Get("index"));
  // Opening a bag does not judge the record it stands on (check must open a damaged bag): the
  // rows start from a top that does.
  DBGOTOP();
  return dynamic_cast<DbfArea*>(CurrentArea());
}

int CmdIndex(const ToolArgs& a) {
  if (a.positional.size() < 4) throw Abandon(RuntimeError{kEgArg, "DBCMD", 1006});
  Open(a, a.positional[1], !a.Has("exclusive"), false, DriverFor(a, a.positional[2]));
  OrdCondArgs cond;
  cond.for_text = TableText(a.Get("for"));
  cond.descending = a.Has("descending");
  ORDCONDSET(cond);
  // A new structural CDX bag (the table's own name) is flagged in the table's header, so that
  // every later change keeps it current.
  if (g_driver == "DBFCDX") SET(kSetAutOpen, Value::Logical(true));
  bool created = ORDCREATE(a.positional[2], a.Get("tag"), TableText(a.positional[3]), nullptr,
                           Value::Logical(a.Has("unique")));
  SET(kSetAutOpen, Value::Logical(false));
  if (!created) {
    throw Abandon(RuntimeError{kEgCreate, g_driver, 1006, 0, "", a.positional[2]});
  }
  std::printf("%lld keys\n", static_cast<long long>(ORDKEYCOUNT()));
  DBCLOSEAREA();
  return 0;
}

int CmdSeek(const ToolArgs& a) {
  bool from_file = a.Has("keys");
  if (from_file == (a.positional.size() > 3)) throw UsageError{"give either VALUE or --keys FILE"};
  Open(a, a.positional[1], true, true, DriverFor(a, a.positional[2]));
  AddBag(a, a.positional[2]);
  Value soft = Value::Logical(a.Has("soft"));
  Value last = Value::Logical(a.Has("last"));
  std::string out;
  auto one = [&](const std::string& text) {
    DBSEEK(SeekValue(TableText(text)), soft, last);
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
  Open(a, a.positional[1], false, false, DriverFor(a, a.positional[2]));
  AddBag(a, a.positional[2]);
  // Built beside and swapped in, every order with its key, FOR condition, unique and
  // descending flags: a failed build leaves the bag as it was.
  if (!RebuildBagBeside(a.positional[2])) {
    throw Abandon(RuntimeError{kEgCreate, g_driver, 1006, 0, "", a.positional[2]});
  }
  std::printf("%lld keys\n", static_cast<long long>(ORDKEYCOUNT()));
  DBCLOSEAREA();
  return 0;
}

namespace {

// Exit status of a check that could not run.
constexpr int kCheckNotDone = 4;

// The work of check; raises Abandon when the table or a bag cannot be read.
int CheckBags(const ToolArgs& a) {
  Open(a, a.positional[1], true, true, DriverFor(a, a.positional[2]));
  AddBag(a, a.positional[2]);
  auto* area = dynamic_cast<IndexedArea*>(CurrentArea());
  if (!area) throw Abandon(RuntimeError{kEgUnsupported, g_driver, 0, 0, "", a.positional[2]});
  int bad = 0;
  for (const auto& bag : area->bags()) {
    NtxCheckReport report;
    if (auto* ntx = dynamic_cast<NtxFile*>(bag.get())) {
      if (Failed(NtxCheckBag(area, ntx, &report))) return kCheckNotDone;
    } else if (auto* cdx = dynamic_cast<CdxBag*>(bag.get())) {
      if (Failed(CdxCheckBag(area, cdx, &report))) return kCheckNotDone;
    } else {
      continue;
    }
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

int CmdTags(const ToolArgs& a) {
  std::string table = a.positional.at(1);
  std::string bag = a.positional.size() > 2 ? a.positional[2] : StructuralCdxOf(table);
  if (bag.empty()) {
    throw Abandon(RuntimeError{kEgOpen, "DBFCDX", 1003, 2, "", table + " (structural bag)"});
  }
  struct Row {
    std::string name, key, cond, flags, problem;
  };
  std::vector<Row> rows;
  std::string driver = DriverFor(a, bag);
  Open(a, table, true, true, driver);
  auto* area = dynamic_cast<IndexedArea*>(CurrentArea());
  if (driver == "DBFCDX" && area) {
    // The tags as the bag's headers describe them: a tag whose key does not compile here is
    // listed with its key text and the reason.
    CdxBag reader(area);
    if (Failed(reader.Open(bag, true, true))) {
      throw Abandon(RuntimeError{kEgOpen, driver, 1003, 0, "", bag});
    }
    for (const auto& t : reader.tags()) {
      Row r{t->name(), t->key_text(), t->for_text(), "", ""};
      if (t->unique()) r.flags += 'U';
      if (t->descending()) r.flags += 'D';
      if (t->custom()) r.flags += 'C';
      const std::pair<const char*, std::string> texts[] = {{"key", t->key_text()},
                                                            {"FOR condition", t->for_text()}};
      for (const auto& [what, text] : texts) {
        if (text.empty() || !r.problem.empty()) continue;
        // Compiled and evaluated on the table's first record, as opening the bag would.
        CompileError err;
        std::unique_ptr<Expression> e = Compile(text, &err);
        try {
          if (!e) throw Abandon(err.ToRuntimeError(text));
          (void)e->Eval();
        } catch (const Abandon& ex) {
          r.problem = std::string("the ") + what + " does not compile here: " +
                      ex.error().ToString();
        }
      }
      rows.push_back(std::move(r));
    }
    reader.Close();
  } else {
    AddBag(a, bag);
    int64_t n = ORDCOUNT(Value::String(bag));
    for (int64_t i = 1; i <= n; ++i) {
      Value num = Value::Integer(i);
      Value b = Value::String(bag);
      Row r{ORDNAME(num, b), ORDKEY(num, b), ORDFOR(num, b), "", ""};
      if (ORDISUNIQUE(num, b)) r.flags += 'U';
      if (DBORDERINFO(Value::Integer(kOiIsDesc), b, num).logical()) r.flags += 'D';
      if (DBORDERINFO(Value::Integer(kOiCustom), b, num).logical()) r.flags += 'C';
      rows.push_back(std::move(r));
    }
  }
  std::string out = a.Has("json") ? "[" : "";
  for (Row& r : rows) {
    // Key texts are stored padded with blanks.
    for (std::string* text : {&r.name, &r.key, &r.cond}) {
      text->erase(text->find_last_not_of(' ') + 1);
    }
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    if (a.Has("json")) {
      if (i > 0) out += ",";
      out += "{\"name\":" + JsonString(r.name) + ",\"key\":" + JsonString(r.key) +
             ",\"for\":" + JsonString(r.cond) + ",\"flags\":" + JsonString(r.flags);
      if (!r.problem.empty()) out += ",\"error\":" + JsonString(r.problem);
      out += "}";
    } else {
      out += r.name + "\t" + r.key + "\t" + r.cond + "\t" + r.flags + "\n";
    }
    if (!r.problem.empty()) {
      std::fprintf(stderr, "dbutool: %s: tag %s: %s\n", bag.c_str(), r.name.c_str(),
                   r.problem.c_str());
    }
  }
  if (a.Has("json")) out += "]\n";
  std::fputs(out.c_str(), stdout);
  DBCLOSEAREA();
  return 0;
}

int CmdDropTag(const ToolArgs& a) {
  if (a.positional.size() < 4) throw Abandon(RuntimeError{kEgArg, "DBCMD", 1006});
  Open(a, a.positional[1], false, false, DriverFor(a, a.positional[2]));
  AddBag(a, a.positional[2]);
  if (!ORDDESTROY(Value::String(a.positional[3]), Value::String(a.positional[2]))) {
    throw Abandon(RuntimeError{kEgArg, g_driver, 1006, 0, "", a.positional[2], a.positional[3]});
  }
  DBCLOSEAREA();
  return 0;
}

}  // namespace vosk
