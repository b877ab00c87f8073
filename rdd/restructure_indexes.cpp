#include "rdd/restructure_indexes.h"

#include "expr/runtime_error.h"
#include "platform/file.h"
#include "platform/owned_file.h"
#include "rdd/db_commands.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/ord_commands.h"
#include "rdd/order/indexed_area.h"
#include "rdd/order/order.h"
#include "rdd/order/order_bag.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

constexpr char kStructuralDriver[] = "DBFCDX";
constexpr char kTableDriver[] = "DBFFPT";

std::vector<OrderDefinition> TagsOf(const OrderBag& bag) {
  std::vector<OrderDefinition> tags;
  for (const Order* o : bag.orders()) tags.push_back(DefinitionOf(*o));
  return tags;
}

// Records the errors of the index builds (as problems of the restructure, never as errors of
// the command: the table is in place by then).
class ErrorLog {
 public:
  ErrorLog()
      : handler_([this](const RuntimeError& e) {
          last_ = e.description.empty() ? GeneralDescription(e.gen_code) : e.description;
          if (!e.operation.empty()) last_ += " (" + e.operation + ")";
          return ErrorAnswer::Default();
        }) {}
  // The last error recorded since the previous call, "" when none.
  std::string Take() {
    std::string s = std::move(last_);
    last_.clear();
    return s;
  }

 private:
  std::string last_;
  ScopedErrorHandler handler_;
};

// Opens the table in a new area, exclusively, with its password; false when it does not open.
bool OpenExclusive(const std::string& table, const std::string& driver,
                   const std::string& password) {
  if (!DBUSEAREA(true, driver, table, "MODITAB", false, false)) return false;
  DBINFO(kDbiPassword, Value::String(password));
  return true;
}

// The tags of the structural bag kept with the backup table, read through the backup.
bool ReadBackupTags(const std::string& backup_table, const std::string& backup_bag,
                    const std::string& password, std::vector<OrderDefinition>* tags) {
  if (!DBUSEAREA(true, kStructuralDriver, backup_table, "MODITAB", true, true)) return false;
  DBINFO(kDbiPassword, Value::String(password));
  bool ok = ORDLISTADD(Value::String(backup_bag));
  if (ok) {
    auto* area = dynamic_cast<IndexedArea*>(CurrentArea());
    for (const auto& bag : area->bags()) {
      if (bag->structural()) *tags = TagsOf(*bag);
    }
  }
  DBCLOSEAREA();
  return ok;
}

std::string TagLabel(const std::string& bag, const OrderDefinition& tag) {
  return FilePartOf(bag) + (tag.name.empty() ? "" : ":" + tag.name) + " (" + tag.key_text +
         (tag.for_text.empty() ? "" : " FOR " + tag.for_text) + ")";
}

}  // namespace

std::vector<RestructureBag> IndexesToRebuild() {
  std::vector<RestructureBag> out;
  WorkArea* area = CurrentArea();
  auto* dbf = dynamic_cast<DbfArea*>(area);
  if (!dbf) return out;
  bool structural_open = false;
  if (auto* indexed = dynamic_cast<IndexedArea*>(area)) {
    for (const auto& bag : indexed->bags()) {
      if (bag->temporary()) continue;
      structural_open = structural_open || bag->structural();
      out.push_back({bag->path(), area->driver()->name(), bag->structural(), true, TagsOf(*bag)});
    }
  }
  if (!structural_open && dbf->structural_bag()) {
    const std::string bag = ResolveCase(PathWithoutExtension(dbf->file_name()) + ".cdx");
    if (FileExists(bag)) out.push_back({bag, kStructuralDriver, true, false, {}});
  }
  return out;
}

void RebuildIndexes(const std::string& table, const std::vector<RestructureBag>& bags,
                    const std::string& password, RestructureReport* report) {
  const int saved_area = CurrentAreaNumber();
  for (const RestructureBag& b : bags) {
    ErrorLog log;
    std::vector<OrderDefinition> tags = b.tags;
    if (b.structural) {
      // The old bag goes with the backup table, under its name.
      const std::string backup_bag = RestructureBackupName(b.path);
      (void)DeleteFile(backup_bag);
      if (!RenameFile(b.path, backup_bag)) {
        report->index_problems.push_back(FilePartOf(b.path) + ": not moved to the backup");
        continue;
      }
      if (!b.tags_known &&
          !ReadBackupTags(RestructureBackupName(table), backup_bag, password, &tags)) {
        report->index_problems.push_back(FilePartOf(b.path) + ": unreadable, not rebuilt (" +
                                         log.Take() + ")");
        continue;
      }
    }
    if (!OpenExclusive(table, b.driver, password)) {
      report->index_problems.push_back(FilePartOf(b.path) + ": not rebuilt (" + log.Take() + ")");
      continue;
    }
    const bool built = BuildBagBeside(
        b.path, tags, OrdCondArgs(), [&](const OrderDefinition& tag, bool ok) {
          if (ok) {
            report->tags_rebuilt.push_back(FilePartOf(b.path) + ":" + tag.name);
          } else {
            report->index_problems.push_back(TagLabel(b.path, tag) + ": dropped, " + log.Take());
          }
        });
    DBCLOSEAREA();
    if (!built) {
      if (!b.structural) {
        report->index_problems.push_back(FilePartOf(b.path) + ": left as it was, out of date");
      }
      continue;
    }
    // The new table opens with its structural bag, as the old one did.
    if (b.structural && OpenExclusive(table, kTableDriver, password)) {
      dynamic_cast<DbfArea*>(CurrentArea())->set_structural_bag(true);
      DBCLOSEAREA();
    }
  }
  (void)SyncDirectory(DirectoryOf(table));
  DBSELECTAREA(saved_area);
}

}  // namespace vosk
