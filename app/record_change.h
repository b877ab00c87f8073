#ifndef VOSK_APP_RECORD_CHANGE_H_
#define VOSK_APP_RECORD_CHANGE_H_

// How every command changes records of the current table: lock, change, commit, re-read,
// unlock. A command that changes one record locks it (RLOCK), one that changes many locks the
// table (FLOCK); both give up at once when another program holds the lock. Appending never
// gives up: DBAPP waits, after 3 seconds under the "busy" pop-up.
//
//   RecordChange change(RecordChange::kRecord);
//   if (!change.held()) { POPMSG("... bloccato da un altro programma ...", 1); return; }
//   DBDELETE();
//   change.Finish();  // commit, re-read, unlock
//   oBrw->Stabilize();
//
// Invariants: when the guard ends, the lock it holds is released and what was changed has been
// committed and re-read, also when an error abandoned the command in the middle of the change.

namespace vosk {

class RecordChange {
 public:
  enum Lock {
    kRecord,    // RLOCK() of the current record, at once
    kTable,     // FLOCK(), at once
    kAppended,  // the new record that DBAPP() appended and locked
  };
  explicit RecordChange(Lock lock);
  // When not finished: commits, re-reads and unlocks, errors kept quiet (the error that
  // abandoned the command has been reported already).
  ~RecordChange();
  RecordChange(const RecordChange&) = delete;
  RecordChange& operator=(const RecordChange&) = delete;

  // False when another program holds the lock: nothing may be changed.
  bool held() const { return held_; }
  // DBCOMMIT(), DBSKIP(0), DBUNLOCK(). Errors pass on (the unlock still happens).
  void Finish();

 private:
  bool held_ = false;
};

// DBLOCK(lRecord): locks the current record (true) or the table (false), trying again and
// again; after 3 seconds under the pop-up "Il sistema è momentaneamente occupato...", without
// limit. Any progress pop-up that was open is shown again afterwards.
void DBLOCK(bool lRecord);
// DBAPP(): appends a blank record with the table locked (DBLOCK(false)), trying again while
// another program holds the append lock (3 seconds, then under the busy pop-up, without
// limit), and locks the new record. False when the append failed for another reason (which
// the error handler has reported).
bool DBAPP();

}  // namespace vosk

#endif  // VOSK_APP_RECORD_CHANGE_H_
