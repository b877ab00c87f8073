#include "app/startup.h"

#include <strings.h>

#include <filesystem>
#include <system_error>

#include "app/error_handler.h"
#include "expr/memvars.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "platform/file.h"
#include "platform/owned_file.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

constexpr char kTempMark = '\x7F';  // first byte of every temporary name of the program

std::string& TempDir() {
  static std::string dir;
  return dir;
}

// Runs `step` with a handler that abandons quietly; false when it was abandoned.
template <typename Step>
bool Quietly(Step step) {
  ScopedErrorHandler quiet([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
  try {
    return step();
  } catch (const Abandon&) {
    return false;
  }
}

}  // namespace

std::string SetDefaultDriver(const std::string& driver) {
  for (const std::string& name : {driver, std::string("DBFFPT"), std::string("DBF")}) {
    if (Quietly([&] {
          RDDSETDEFAULT(name);
          return true;
        }))
      return name;
  }
  return "";
}

void SetMemoFormat(int type, const std::string& extension) {
  Quietly([&] {
    RDDINFO(14, Value::Integer(type));
    RDDINFO(6, Value::String(extension));
    return true;
  });
}

void StartUp(Ui& ui) {
  InitDatabaseEngine();
  InstallErrorHandler(ui);
  SetDefaultDriver("DBFCDX");
  SET(kSetDbfLockScheme, Value::Integer(4));
  Quietly([] {
    RDDINFO(6, Value::String(".DBT"));
    return true;
  });
  SETCENTURY(Value::Logical(true));
  SET(kSetDateFormat, Value::String("dd/mm/yyyy"));
  SET(kSetDeleted, Value::Logical(true));
  SET(kSetEpoch, Value::Integer(1980));
  SET(kSetFileCase, Value::String("UPPER"));
  SetMemvar("ACS_USER", Value::String("USER"));
  SetMemvar("ACS_TEMP", Value::String(""));
  SetMemvar("ACS_PASSWD", Value::String(""));
  SetMemvar("ACS_LEVEL", Value::Integer(1));
  CleanLeftovers(".", TempDirectory());
  CleanTemporaryFolder();  // files of killed runs whose owner is gone
  // Nothing to do for the system's critical-error boxes: failures come back as errors here.
}

void CleanLeftovers(const std::string& current_dir, const std::string& temp_dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const std::string& name : ListDirectory(current_dir)) {
    if (name[0] != kTempMark) continue;
    fs::path path = fs::path(current_dir) / name;
    if (!fs::is_directory(fs::symlink_status(path, ec))) fs::remove(path, ec);
  }
  for (const std::string& name : ListDirectory(temp_dir)) {
    if (name[0] != kTempMark) continue;
    fs::path path = fs::path(temp_dir) / name;
    // A link is removed as a link, never followed.
    if (fs::is_directory(fs::symlink_status(path, ec))) fs::remove_all(path, ec);
  }
}

void CLOSEALL() {
  DBCLOSEALL();
  DBSELECTAREA(1);
  const std::string dir = SETTEMP().empty() ? "." : SETTEMP();
  for (const std::string& name : ListDirectory(dir)) {
    if (name.size() >= 1 + 4 + 4 && name[0] == kTempMark && name.compare(1, 4, "VIEW") == 0 &&
        strcasecmp(name.c_str() + name.size() - 4, ".NTX") == 0) {
      std::error_code ec;
      std::filesystem::remove(std::filesystem::path(dir) / name, ec);
    }
  }
}

void EndOfProgram() noexcept {
  SetErrorHandler(nullptr);  // every error now abandons quietly
  try {
    DBCLOSEALL();
  } catch (...) {
    // Every area is released even so.
  }
}

const std::string& SETTEMP() { return TempDir(); }
void SETTEMP(const std::string& dir) { TempDir() = dir; }

}  // namespace vosk
