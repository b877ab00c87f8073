#include "app/area_selection.h"

#include "rdd/db_commands.h"

namespace vosk {

AreaSelection::AreaSelection(const std::string& alias) : previous_(SELECT()) {
  if (!alias.empty() && ALIAS() != alias) DBSELECTAREA(alias);
}

AreaSelection::~AreaSelection() {
  try {
    if (previous_ > 0 && SELECT() != previous_) DBSELECTAREA(previous_);
  } catch (...) {
    // Selecting an area by number fails only out of range, which a current area is not.
  }
}

bool AreaInUse(const std::string& alias) {
  return alias.empty() ? USED() : SELECT(Value::String(alias)) > 0;
}

}  // namespace vosk
