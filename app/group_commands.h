#ifndef VOSK_APP_GROUP_COMMANDS_H_
#define VOSK_APP_GROUP_COMMANDS_H_

// Commands that change many records of the current table at once, with the table locked:
// replace the value of a field (SOSTVAL, F6), delete the records that meet a condition
// (CANCREC) and recall them (RIPRREC). Each takes the records from the top, in the browse's
// order and through its filter, deleted records included, under the progress pop-up, and
// changes every record it takes exactly once, also when the change moves the record in that
// order or out of the filter. The record that was current is current again afterwards, and a
// message tells how many records were changed ("1.234 record modificati", "... eliminati",
// "... richiamati").

#include <string>
#include <vector>

namespace vosk {

class Browse;
struct Dialog;

// SOSTVAL(oBrw): the dialog "Sostituisci valori" (a field; a value or an expression; a
// condition), then the replacement. Without an expression the field takes the value typed for
// its type (C and M text, D date, N number, L logical; other types take nothing). An expression
// is evaluated on each record; a value of the wrong type for the field (checked on the current
// record first), or any error of its evaluation, shows "Espressione non valida per questo
// campo." and stops the walk there.
void SOSTVAL(Browse* oBrw);
// CANCREC(oBrw): the dialog "Cancella record" (a condition that must not be empty), then every
// record that meets the condition is marked deleted.
void CANCREC(Browse* oBrw);
// RIPRREC(oBrw): the dialog "Ripristina record" (a condition that must not be empty), then every
// deleted record that meets the condition is recalled.
void RIPRREC(Browse* oBrw);

// The field names of the current table, in field order.
std::vector<std::string> ACAMPI();
// The replace dialog's value controls (cVal, dVal, nVal, lVal): ATTIVACAM shows the one of field
// nField's type, empty, and hides the others (refreshing the dialog unless lInit); PULISCICAM
// empties the one of the field's type; ADJPOS lays dVal, nVal and lVal over cVal.
void ATTIVACAM(Dialog& oDlg, int nField, bool lInit = false);
void PULISCICAM(Dialog& oDlg, int nField);
void ADJPOS(Dialog& oDlg);

}  // namespace vosk

#endif  // VOSK_APP_GROUP_COMMANDS_H_
