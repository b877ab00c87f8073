#include "rdd/trigger.h"

#include <cctype>
#include <map>

namespace vosk {
namespace {

std::map<std::string, TriggerFunction>& Functions() {
  static std::map<std::string, TriggerFunction> f;
  return f;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void RegisterTriggerFunction(const std::string& name, TriggerFunction fn) {
  if (fn) Functions()[Upper(name)] = std::move(fn);
  else Functions().erase(Upper(name));
}

const TriggerFunction* FindTriggerFunction(const std::string& name) {
  auto it = Functions().find(Upper(name));
  return it == Functions().end() ? nullptr : &it->second;
}

}  // namespace vosk
