#include "rdd/record_walk.h"

#include "rdd/command_error.h"
#include "rdd/work_area.h"

namespace vosk {

bool GatherRecords(const std::function<bool()>& take, const WalkStep& step,
                   std::vector<uint32_t>* out) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  uint32_t total = 0;
  if (Failed(a->record_count(&total)) || Failed(a->go_top())) return false;
  for (uint64_t visited = 0; !a->eof(); ++visited) {
    if (step && !step(visited, total)) return false;
    if (!take || take()) out->push_back(a->record_number());
    if (Failed(a->skip(1))) return false;
  }
  return true;
}

bool ChangeRecords(const std::vector<uint32_t>& records, const std::function<void()>& change,
                   const WalkStep& step, uint64_t* changed) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  for (const uint32_t recno : records) {
    if (step && !step(*changed, records.size())) return false;
    if (Failed(a->go_to(recno))) return false;
    change();
    ++*changed;
  }
  return true;
}

}  // namespace vosk
