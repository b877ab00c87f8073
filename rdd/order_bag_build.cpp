#include "rdd/order_bag_build.h"

#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "platform/file.h"
#include "platform/owned_file.h"
#include "rdd/command_error.h"
#include "rdd/order/order.h"
#include "rdd/order/order_bag.h"
#include "rdd/order_types.h"

namespace vosk {
namespace {

// The bag's file: the default extension added to a name without one, letter case resolved.
std::string BagFile(const std::string& bag) {
  std::string file = NormalizeSeparators(bag);
  if (FilePartOf(file).find('.') == std::string::npos) file += ORDBAGEXT();
  return ResolveCase(file);
}

// Raises an error of the build naming the bag's file; the handler's answer.
ErrorAnswer BuildError(int gen_code, int sub_code, int os_code, const std::string& file,
                       bool can_retry) {
  RuntimeError e = CommandErrorOf(gen_code, sub_code, file);
  e.os_code = os_code;
  e.file_name = file;
  e.can_retry = can_retry;
  return RaiseError(std::move(e));
}

// The new file of a build until it takes the bag's name: its orders are closed and the file
// removed when the build does not get that far.
class NewBag {
 public:
  explicit NewBag(const std::string& file) {
    const std::string dir = DirectoryOf(file), part = FilePartOf(file);
    const size_t dot = part.find_last_of('.');
    // The names BuildBeside of the engines gives its own builds: the files of a killed build
    // go at the next build beside the same name, whichever makes it.
    const std::string prefix = part.substr(0, dot) + ".";
    const std::string suffix = (dot == std::string::npos ? "" : part.substr(dot)) + ".new";
    (void)RemoveOrphanedFiles(dir, prefix, suffix);
    (void)RemoveOrphanedFiles(dir, prefix, ".new.new");  // an engine's build inside this one
    path_ = OwnedFileName(dir, prefix, suffix);
  }
  ~NewBag() {
    if (path_.empty()) return;
    try {
      ORDLISTCLEAR();
    } catch (...) {
      // The order list is closed as far as it can be; the file goes all the same.
    }
    DeleteFile(path_);
  }
  NewBag(const NewBag&) = delete;
  NewBag& operator=(const NewBag&) = delete;

  const std::string& path() const { return path_; }
  // The file took its final name.
  void Done() { path_.clear(); }

 private:
  std::string path_;
};

}  // namespace

std::vector<OrderDefinition> BagOrderDefinitions(const std::string& bag) {
  std::vector<OrderDefinition> out;
  const Value b = Value::String(bag);
  const int count = ORDCOUNT(b);
  for (int n = 1; n <= count; ++n) {
    const Value order = Value::Integer(n);
    OrderDefinition d;
    d.name = ORDNAME(order, b);
    d.key_text = ORDKEY(order, b);
    d.for_text = ORDFOR(order, b);
    d.unique = ORDISUNIQUE(order, b);
    d.descending = DBORDERINFO(Value::Integer(kOiIsDesc), b, order).logical();
    d.custom = DBORDERINFO(Value::Integer(kOiCustom), b, order).logical();
    d.candidate = DBORDERINFO(Value::Integer(kOiCandidate), b, order).logical();
    d.bag = bag;
    out.push_back(std::move(d));
  }
  return out;
}

OrderDefinition DefinitionOf(const Order& o) {
  OrderDefinition d;
  d.name = o.name();
  d.key_text = o.key_text();
  d.for_text = o.for_text();
  d.unique = o.unique();
  d.descending = o.descending();
  d.custom = o.custom();
  d.candidate = o.candidate();
  d.bag = o.bag()->path();
  return d;
}

bool BuildBagBeside(const std::string& bag, const std::vector<OrderDefinition>& orders,
                    const OrdCondArgs& scan,
                    const std::function<void(const OrderDefinition&, bool ok)>& report) {
  if (orders.empty()) return false;
  ORDLISTCLEAR();
  const std::string file = BagFile(bag);
  // The bag in place is held until the new one takes its name: one that another program
  // holds is refused before anything is built.
  File held;
  while (FileExists(file)) {
    const int rc = held.Open(file, Access::kRead, Share::kExclusive);
    if (rc == 0) break;
    if (!BuildError(kEgCreate, 1006, rc, file, true).retry()) return false;
  }
  NewBag fresh(file);
  // An error of the new file (a full disk) is told as one of the bag it is to become.
  const ErrorHandler outer = GetErrorHandler();
  ScopedErrorHandler named([&](const RuntimeError& e) -> ErrorAnswer {
    RuntimeError told = e;
    const std::string part = FilePartOf(fresh.path());
    if (FilePartOf(told.file_name) == part) told.file_name = file;
    if (FilePartOf(told.operation) == part) told.operation = file;
    if (outer) return outer(told);
    throw Abandon(told);
  });
  size_t made = 0;
  for (const OrderDefinition& d : orders) {
    OrdCondArgs cond = scan;
    cond.for_text = d.for_text;
    cond.descending = d.descending;
    cond.custom = d.custom;
    cond.candidate = d.candidate;
    cond.additive = true;
    const bool ok =
        ORDCONDSET(cond) &&
        ORDCREATE(fresh.path(), d.name, d.key_text, nullptr, Value::Logical(d.unique));
    if (report) report(d, ok);
    if (!ok && !report) return false;
    if (ok) ++made;
    CrashPoint("bag-order-built");
  }
  if (made == 0) return false;
  ORDLISTCLEAR();
  File built;
  int rc = built.Open(fresh.path(), Access::kReadWrite, Share::kExclusive);
  if (rc == 0 && GlobalSettings().hardcommit() && !built.Commit()) rc = built.last_error();
  if (rc == 0 && !built.RenameTo(file)) rc = built.last_error();
  if (rc != 0) {
    BuildError(kEgWrite, 1006, rc, file, false);
    return false;
  }
  fresh.Done();
  (void)SyncDirectory(DirectoryOf(file));
  built.Close();
  held.Close();
  return ORDLISTADD(Value::String(file));
}

}  // namespace vosk
