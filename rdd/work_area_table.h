#ifndef VOSK_RDD_WORK_AREA_TABLE_H_
#define VOSK_RDD_WORK_AREA_TABLE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vosk {

class WorkArea;

inline constexpr int kMaxArea = 65534;
inline constexpr int kMemvarArea = 65535;

// The process-wide work-area table.

// The current area number (0 when none) and the table in it (nullptr when the slot is empty).
int CurrentAreaNumber();
WorkArea* CurrentArea();
WorkArea* AreaAt(int number);
// Selects an area by number: 1-65535 selects that slot; 0 or out of range selects the first
// area in use (or 1 when none). Returns the previously current number.
int SelectAreaNumber(int number);
// The lowest area number holding no table (0 when all are used).
int FirstFreeArea();
// The area a designator text names: a number it spells, A-K = 1-11, M = 65535, or an alias in
// use; 0 when none.
int AreaOfDesignator(std::string_view text);
// True when text passes the alias character rule (letter or "_" first, then letters, digits,
// "_"; trailing blanks allowed).
bool IsValidAlias(std::string_view text);
// An alias made from a table's file name that is always valid and never an area letter: the
// base name upper-cased (at most 32 characters), other characters than letters, digits and
// "_" made "_", "T_" before a leading digit, "_" after a single letter A-K or M.
std::string AliasOfFileName(std::string_view file);
// Places an area object in a slot (the slot must be empty) / takes it out and destroys it.
void InstallArea(int number, std::unique_ptr<WorkArea> area);
void ReleaseArea(int number);
// A number that changes whenever a table is placed in or taken out of the slot (never 0).
uint64_t AreaSlotStamp(int number);
// Calls f on every area in use, in area order.
void ForEachArea(const std::function<void(WorkArea*)>& f);

}  // namespace vosk

#endif  // VOSK_RDD_WORK_AREA_TABLE_H_
