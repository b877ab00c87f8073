#include "rdd/table_driver.h"

#include <strings.h>

#include <memory>

#include "expr/expression.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "rdd/driver_registry.h"
#include "rdd/ord_commands.h"
#include "rdd/order/indexed_area.h"
#include "rdd/order/order_bag.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

constexpr const char* kBagDriver = "DBFCDX";

bool EndsWithNoCase(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         ::strcasecmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The table's file as DBUSEAREA finds it: a name without extension gets ".dbf".
std::string TableFile(const std::string& file) {
  const std::string name = FileNameOf(file);
  return name.find('.') == std::string::npos ? file + ".dbf" : file;
}

// True when `name` (empty: no preference) may be replaced by the driver of a CDX bag: a
// driver without orders, or one whose orders are CDX bags.
bool GivesWayToBag(const std::string& name) {
  if (name.empty()) return true;
  Driver* d = FindDriver(name);
  if (!d) return false;
  if (d->IsA(kBagDriver)) return true;
  std::unique_ptr<WorkArea> probe = d->NewArea();
  return dynamic_cast<IndexedArea*>(probe.get()) == nullptr;
}

// Opens the table with the bag driver and its structural bag. An error that names the bag,
// or any error while every tag's key and FOR condition are evaluated on the table, is taken
// as the bag's: the area is closed and `reason` says what it was. Other errors go to the
// installed handler.
bool OpenWithBag(bool new_area, AreaOptions o, const std::string& bag, std::string* reason) {
  o.driver = kBagDriver;
  const std::string bag_name = FileNameOf(bag);
  bool bag_failed = false;
  const Value autopen = SET(kSetAutOpen, Value::Logical(true));
  struct Restore {
    Value value;
    ~Restore() { SET(kSetAutOpen, value); }
  } restore{autopen};
  ErrorHandler program = GetErrorHandler();
  bool opened = false;
  int area = 0;
  try {
    {
      ScopedErrorHandler watch([&](const RuntimeError& e) -> ErrorAnswer {
        if (EndsWithNoCase(e.file_name, bag_name)) {
          bag_failed = true;
          throw Abandon(e);
        }
        if (program) return program(e);
        throw Abandon(e);
      });
      opened = DBUSEAREA(new_area, o);
    }
    if (!opened) return false;
    area = CurrentAreaNumber();
    // Every tag must be computable here, or a change would leave it wrong.
    ScopedErrorHandler strict([&](const RuntimeError& e) -> ErrorAnswer {
      bag_failed = true;
      throw Abandon(e);
    });
    auto* indexed = dynamic_cast<IndexedArea*>(CurrentArea());
    if (!indexed) return true;
    for (const auto& b : indexed->bags()) {
      if (!b->structural()) continue;
      for (Order* order : b->orders()) {
        for (const std::string& text : {order->key_text(), order->for_text()}) {
          if (text.empty()) continue;
          CompileError err;
          std::unique_ptr<Expression> e = Compile(text, &err);
          if (!e) throw Abandon(err.ToRuntimeError(text));
          (void)e->Eval();
        }
      }
    }
    return true;
  } catch (const Abandon& e) {
    if (!bag_failed) throw;
    *reason = e.error().ToString();
    if (area > 0 && CurrentAreaNumber() == area && CurrentArea()) {
      try {
        DBCLOSEAREA();
      } catch (const Abandon&) {
      }
    }
    return false;
  }
}

}  // namespace

std::string DriverForTable(const std::string& table, const std::string& wanted) {
  InitDatabaseEngine();
  const StructuralBag bag = StructuralBagOf(TableFile(table));
  if (bag.present && GivesWayToBag(wanted)) return kBagDriver;
  if (!wanted.empty()) return wanted;
  Driver* d = DefaultDriver();
  return d ? d->name() : "";
}

TableOpening UseTable(bool new_area, const AreaOptions& options, bool for_change) {
  InitDatabaseEngine();
  TableOpening out;
  const StructuralBag bag = StructuralBagOf(TableFile(options.file));
  out.driver = DriverForTable(options.file, options.driver);
  AreaOptions o = options;
  o.driver = out.driver;
  if (bag.flagged) {
    out.trouble.bag = bag.path;
    if (!bag.present) {
      out.trouble.kind = BagTrouble::Kind::kMissing;
    } else if (out.driver != kBagDriver) {
      // Read, the table needs no bag; a change needs one driver for every order it keeps.
      if (!for_change) {
        out.trouble = BagTrouble();
      } else {
        out.trouble.kind = BagTrouble::Kind::kOtherDriver;
        out.trouble.reason = out.driver;
      }
    } else if (OpenWithBag(new_area, o, bag.path, &out.trouble.reason)) {
      out.opened = out.with_bag = true;
      out.trouble = BagTrouble();
      return out;
    } else if (!out.trouble.reason.empty()) {
      out.trouble.kind = BagTrouble::Kind::kDamaged;
    } else {
      return out;  // the table itself did not open
    }
    // Changes through the table alone would leave the bag wrong for every other program.
    if (for_change) return out;
  }
  const Value autopen = SET(kSetAutOpen, Value::Logical(false));
  struct Restore {
    Value value;
    ~Restore() { SET(kSetAutOpen, value); }
  } restore{autopen};
  out.opened = DBUSEAREA(new_area, o);
  return out;
}

}  // namespace vosk
