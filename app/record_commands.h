#ifndef VOSK_APP_RECORD_COMMANDS_H_
#define VOSK_APP_RECORD_COMMANDS_H_

// Commands on the current record of the main browse: append a blank record, duplicate the
// current one, delete or recall it. Each refuses a read-only table first, then locks, changes,
// commits and re-synchronises the browse (app/record_change.h).

namespace vosk {

class Browse;

// NUOVOREC(oBrw, lDup): appends a blank record (Insert) or a copy of the current one (Ctrl+D;
// at end of file the copy is blank). Fields the table keeps itself (autoincrement, row
// versions, modification stamps) and nulls are not copied.
void NUOVOREC(Browse* oBrw, bool lDup = false);
// ELIMREC(oBrw): marks the current record deleted, or recalls it when it is (Delete).
void ELIMREC(Browse* oBrw);

}  // namespace vosk

#endif  // VOSK_APP_RECORD_COMMANDS_H_
