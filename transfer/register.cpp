#include "transfer/register.h"

#include <mutex>

#include "rdd/db_commands.h"
#include "transfer/sqlite/sqlite_area.h"
#include "transfer/xlsx/xlsx_area.h"

namespace vosk {

void RegisterTransferDrivers() {
  static std::once_flag once;
  std::call_once(once, [] {
    InitDatabaseEngine();
    RegisterSqliteDriver();
    RegisterXlsxDriver();
  });
}

}  // namespace vosk
