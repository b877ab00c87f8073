#ifndef VOSK_APP_PASSWORD_H_
#define VOSK_APP_PASSWORD_H_

// The password of an enciphered table: the dialog that sets or clears it and the status-bar
// item that tells whether one is set. The password is handed to the table engine, which
// deciphers the records with it; the Application keeps it in cPassword and hands it again after
// every reopening of the table.

namespace vosk {

class Browse;

// "Imposta password...": shows the dialog "PASSWORD" (8 masked characters; the button "ELIMINA"
// clears the password and confirms). On confirmation hands the trimmed text to the table
// (DBINFO 131), keeps it in cPassword, re-synchronises the browse (which now shows the records
// as the password deciphers them) and refreshes the indicator.
void PASSWORD(Browse* oBrw);

// The first status-bar item: active with the picture "CRYPTED" while cPassword is not empty,
// inactive otherwise; its tooltip "Password impostata" or "Password non impostata".
void REFRESHPSW();

}  // namespace vosk

#endif  // VOSK_APP_PASSWORD_H_
