#include "rdd/driver_registry.h"

#include <mutex>

#include "expr/runtime_error.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbffpt/fpt_area.h"
#include "rdd/csv/csv_area.h"
#include "rdd/sdf1/sdf_area.h"
#include "rdd/work_area.h"

namespace vosk {
namespace {

struct Registry {
  std::vector<std::unique_ptr<Driver>> drivers;
  Driver* default_driver = nullptr;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

}  // namespace

bool Driver::IsA(const std::string& name) const {
  for (const Driver* d = this; d; d = d->parent()) {
    if (d->name() == name) return true;
  }
  return false;
}

int RegisterDriver(const std::string& name, int kind, const std::string& parent,
                   AreaFactory factory) {
  Registry& r = TheRegistry();
  if (FindDriver(name)) return kAlreadyRegistered;
  if (!factory) return kNoExportFunction;
  Driver* parent_driver = nullptr;
  if (!parent.empty()) {
    parent_driver = FindDriver(parent);
    if (!parent_driver) return kExportFailed;
  }
  auto d = std::make_unique<Driver>(name, kind, static_cast<int>(r.drivers.size()), parent_driver,
                                    std::move(factory));
  if (parent_driver) d->settings() = parent_driver->settings();
  r.drivers.push_back(std::move(d));
  return kRegistered;
}

Driver* FindDriver(const std::string& name) {
  for (auto& d : TheRegistry().drivers) {
    if (d->name() == name) return d.get();
  }
  return nullptr;
}

Driver* DefaultDriver() {
  Registry& r = TheRegistry();
  if (r.default_driver) return r.default_driver;
  for (const char* n : {"DBFNTX", "DBFCDX", "DBFFPT", "DBF"}) {
    if (Driver* d = FindDriver(n)) return d;
  }
  return nullptr;
}

void SetDefaultDriver(Driver* driver) { TheRegistry().default_driver = driver; }

void RegisterBuiltinDrivers() {
  static std::once_flag once;
  std::call_once(once, [] {
    auto dbf = [](Driver* d) -> std::unique_ptr<WorkArea> { return std::make_unique<DbfArea>(d); };
    auto fpt = [](Driver* d) -> std::unique_ptr<WorkArea> { return std::make_unique<FptArea>(d); };
    auto ntx = [](Driver* d) -> std::unique_ptr<WorkArea> { return NewNtxArea(d); };
    auto cdx = [](Driver* d) -> std::unique_ptr<WorkArea> { return NewCdxArea(d); };
    // The order drivers build on the memo layer.
    const struct { const char* name; const char* parent; bool memo; } kDrivers[] = {
        {"DBF", "", false}, {"DBFFPT", "DBF", true}, {"DBFBLOB", "DBF", true},
        {"DBFNTX", "DBFFPT", true}, {"DBFCDX", "DBFFPT", true},
    };
    for (const auto& d : kDrivers) {
      AreaFactory factory = d.memo ? AreaFactory(fpt) : AreaFactory(dbf);
      if (std::string(d.name) == "DBFNTX") factory = ntx;
      if (std::string(d.name) == "DBFCDX") factory = cdx;
      if (RegisterDriver(d.name, 1, d.parent, factory) != kRegistered) {
        throw InternalError(9004, std::string("Driver registration failed: ") + d.name);
      }
      if (std::string(d.name) == "DBFFPT" || std::string(d.name) == "DBFBLOB") {
        FindDriver(d.name)->settings().memo_type = 2;
      }
    }
    RegisterSdfDriver();
    RegisterCsvDriver();
  });
}

}  // namespace vosk
