#include "rdd/work_area_table.h"

#include <cctype>
#include <map>

#include "rdd/work_area.h"

namespace vosk {
namespace {

struct AreaTable {
  std::map<int, std::unique_ptr<WorkArea>> areas;  // kept sorted by area number
  std::map<int, uint64_t> stamps;                   // slots that ever held a table
  uint64_t next_stamp = 2;                          // 1: a slot never used
  int current = 1;
};

AreaTable& Table() {
  static AreaTable t;
  return t;
}

std::string TrimUpper(std::string_view text) {
  size_t b = 0;
  while (b < text.size() && text[b] == ' ') ++b;
  size_t e = text.size();
  while (e > b && text[e - 1] == ' ') --e;
  std::string s(text.substr(b, e - b));
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int CurrentAreaNumber() { return Table().current; }

WorkArea* CurrentArea() { return AreaAt(Table().current); }

WorkArea* AreaAt(int number) {
  auto& areas = Table().areas;
  auto it = areas.find(number);
  return it == areas.end() ? nullptr : it->second.get();
}

int SelectAreaNumber(int number) {
  AreaTable& t = Table();
  int previous = t.current;
  if (number >= 1 && number <= kMemvarArea) {
    t.current = number;
  } else {
    t.current = t.areas.empty() ? 1 : t.areas.begin()->first;
  }
  return previous;
}

int FirstFreeArea() {
  int n = 1;
  for (const auto& [num, area] : Table().areas) {
    if (num != n) break;
    ++n;
  }
  return n <= kMaxArea ? n : 0;
}

bool IsValidAlias(std::string_view text) {
  size_t e = text.size();
  while (e > 0 && text[e - 1] == ' ') --e;
  if (e == 0) return false;
  auto c0 = static_cast<unsigned char>(text[0]);
  if (!std::isalpha(c0) && c0 != '_') return false;
  for (size_t i = 1; i < e; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '_') return false;
  }
  return true;
}

std::string AliasOfFileName(std::string_view file) {
  size_t slash = file.find_last_of("/\\:");
  std::string_view base = slash == std::string_view::npos ? file : file.substr(slash + 1);
  size_t dot = base.rfind('.');
  if (dot != std::string_view::npos && dot > 0) base = base.substr(0, dot);
  std::string alias;
  for (char ch : base) {
    auto c = static_cast<unsigned char>(ch);
    alias += c < 0x80 && std::isalnum(c) ? static_cast<char>(std::toupper(c)) : '_';
  }
  if (alias.empty()) alias = "T";
  if (std::isdigit(static_cast<unsigned char>(alias[0]))) alias.insert(0, "T_");
  if (alias.size() == 1 && ((alias[0] >= 'A' && alias[0] <= 'K') || alias[0] == 'M')) alias += '_';
  if (alias.size() > 32) alias.resize(32);
  return alias;
}

int AreaOfDesignator(std::string_view text) {
  size_t b = 0;
  while (b < text.size() && text[b] == ' ') ++b;
  text = text.substr(b);
  if (text.empty()) return 0;
  if (std::isdigit(static_cast<unsigned char>(text[0]))) {
    long n = 0;
    for (char c : text) {
      if (!std::isdigit(static_cast<unsigned char>(c))) break;
      n = n * 10 + (c - '0');
      if (n > kMemvarArea) return 0;
    }
    return static_cast<int>(n);
  }
  std::string up = TrimUpper(text);
  if (up.size() == 1) {
    if (up[0] >= 'A' && up[0] <= 'K') return up[0] - 'A' + 1;
    if (up[0] == 'M') return kMemvarArea;
  }
  for (const auto& [num, area] : Table().areas) {
    if (area && area->alias_name() == up) return num;
  }
  return 0;
}

void InstallArea(int number, std::unique_ptr<WorkArea> area) {
  area->set_area_number(number);
  AreaTable& t = Table();
  t.areas[number] = std::move(area);
  t.stamps[number] = t.next_stamp++;
}

void ReleaseArea(int number) {
  AreaTable& t = Table();
  if (t.areas.erase(number)) t.stamps[number] = t.next_stamp++;
}

uint64_t AreaSlotStamp(int number) {
  const AreaTable& t = Table();
  auto it = t.stamps.find(number);
  return it == t.stamps.end() ? 1 : it->second;
}

void ForEachArea(const std::function<void(WorkArea*)>& f) {
  // Copy the numbers first: f may close areas.
  std::vector<int> numbers;
  for (const auto& [num, area] : Table().areas) numbers.push_back(num);
  for (int n : numbers) {
    if (WorkArea* a = AreaAt(n)) f(a);
  }
}

}  // namespace vosk
