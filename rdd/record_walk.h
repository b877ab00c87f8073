#ifndef VOSK_RDD_RECORD_WALK_H_
#define VOSK_RDD_RECORD_WALK_H_

// A walk that changes records of the current work area: replace a field over many records,
// delete or recall the records that meet a condition. Every record the walk takes is changed
// exactly once, however the change moves it in the controlling order or takes it out of the
// order's condition: the records are first gathered in the controlling order (as a skip walk
// from the top goes: through the order's scope and condition and the area's filter), and
// changed afterwards by record number.
//
//   std::vector<uint32_t> records;
//   if (GatherRecords([&] { return cond.IsTrue(); }, step, &records)) {
//     uint64_t changed = 0;
//     ChangeRecords(records, [] { DBDELETE(); }, step, &changed);
//   }
//
// A failing engine operation has been told to the error handler (whose answer may abandon the
// walk by unwinding); the walk then answers false. A walk is stopped between two records by
// its step callback.

#include <cstdint>
#include <functional>
#include <vector>

namespace vosk {

// Told before each record how far the walk got: `done` records of `total` (while gathering:
// the records visited of the table's count; while changing: the records changed of those
// gathered). Answers false to stop the walk before that record.
using WalkStep = std::function<bool(uint64_t done, uint64_t total)>;

// The record numbers, in the controlling order from the top, of the records for which `take`
// (run with each record current; empty: every record) answers true. False when an engine
// operation failed or the step stopped the walk (*out then holds the records taken so far).
bool GatherRecords(const std::function<bool()>& take, const WalkStep& step,
                   std::vector<uint32_t>* out);

// Makes each record of `records` current in turn and runs `change` on it; *changed counts the
// records `change` ran on. False when an engine operation failed or the step stopped the walk.
bool ChangeRecords(const std::vector<uint32_t>& records, const std::function<void()>& change,
                   const WalkStep& step, uint64_t* changed);

}  // namespace vosk

#endif  // VOSK_RDD_RECORD_WALK_H_
