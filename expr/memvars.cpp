#include "expr/memvars.h"

#include <unordered_map>

namespace vosk {
namespace {

struct MemvarTable {
  // Node-based map: element addresses survive rehashing, which the cached pointers rely on.
  std::unordered_map<std::string, Value> vars;
  uint64_t generation = 1;
};

MemvarTable& Table() {
  static MemvarTable table;
  return table;
}

}  // namespace

std::string UpperName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

void SetMemvar(std::string_view name, Value value) {
  MemvarTable& t = Table();
  auto [it, inserted] = t.vars.insert_or_assign(UpperName(name), std::move(value));
  if (inserted) ++t.generation;
}

Value* FindMemvar(std::string_view name) {
  MemvarTable& t = Table();
  auto it = t.vars.find(UpperName(name));
  return it == t.vars.end() ? nullptr : &it->second;
}

bool ReleaseMemvar(std::string_view name) {
  MemvarTable& t = Table();
  if (t.vars.erase(UpperName(name)) == 0) return false;
  ++t.generation;
  return true;
}

void ClearMemvars() {
  MemvarTable& t = Table();
  t.vars.clear();
  ++t.generation;
}

uint64_t MemvarGeneration() { return Table().generation; }

}  // namespace vosk
