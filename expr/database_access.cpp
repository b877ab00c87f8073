#include "expr/database_access.h"

namespace vosk {
namespace {
DatabaseAccess* g_access = nullptr;
}  // namespace

DatabaseAccess* GetDatabaseAccess() { return g_access; }
void SetDatabaseAccess(DatabaseAccess* access) { g_access = access; }

}  // namespace vosk
