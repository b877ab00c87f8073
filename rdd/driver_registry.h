#ifndef VOSK_RDD_DRIVER_REGISTRY_H_
#define VOSK_RDD_DRIVER_REGISTRY_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "expr/value.h"

namespace vosk {

class WorkArea;
class Driver;

// Driver-wide settings of the DBF family.
struct DbfDriverSettings {
  std::string table_ext = ".dbf";
  int table_kind = 1;       // 1 standard, 2 Visual FoxPro, 3 dBase IV
  int lock_scheme = 0;      // 0: the global DBFLOCKSCHEME setting
  std::string trigger;      // trigger function for newly opened tables
  std::string pending_trigger;
  std::string pending_password;
  std::string password;
  int read_mode = 2;
  int memo_type = 1;        // default memo kind of new tables: 1 DBT, 2 FPT, 3 SMT
  std::string memo_ext;     // default memo extension; empty: by memo kind
  int memo_block_size = 0;  // default block size of new memo files; 0: by memo kind
  int memo_variant = 3;     // default FPT variant: 1 plain, 2 SIx, 3 FlexFile, 4 CLIP
};

using AreaFactory = std::function<std::unique_ptr<WorkArea>(Driver*)>;

// A registered driver: its name, kind, registry index, parent and settings. The C++ class
// created by the factory is the driver's method table; inheritance is the class hierarchy.
class Driver {
 public:
  Driver(std::string name, int kind, int index, Driver* parent, AreaFactory factory)
      : name_(std::move(name)), kind_(kind), index_(index), parent_(parent),
        factory_(std::move(factory)) {}

  const std::string& name() const { return name_; }
  int kind() const { return kind_; }
  int index() const { return index_; }
  Driver* parent() const { return parent_; }
  DbfDriverSettings& settings() { return settings_; }
  std::unique_ptr<WorkArea> NewArea() { return factory_(this); }
  // True when this driver is `name` or inherits from it.
  bool IsA(const std::string& name) const;

 private:
  std::string name_;
  int kind_;
  int index_;
  Driver* parent_;
  AreaFactory factory_;
  DbfDriverSettings settings_;
};

// Registration results.
enum RegisterResult : int {
  kRegistered = 0, kAlreadyRegistered = 1, kNoExportFunction = 2, kExportFailed = 3,
};

// Registers a driver. parent empty = the base work area. A named parent that is not
// registered is an export failure (kExportFailed).
int RegisterDriver(const std::string& name, int kind, const std::string& parent,
                   AreaFactory factory);
// The driver of that (upper-case) name, or nullptr.
Driver* FindDriver(const std::string& name);
// The default driver: the last one made default, else the first registered among DBFNTX,
// DBFCDX, DBFFPT, DBF.
Driver* DefaultDriver();
void SetDefaultDriver(Driver* driver);
// Registers the built-in drivers once (DBF, DBFFPT, DBFBLOB and the order drivers).
void RegisterBuiltinDrivers();

}  // namespace vosk

#endif  // VOSK_RDD_DRIVER_REGISTRY_H_
