#ifndef VOSK_APP_TABLE_PRESENCE_H_
#define VOSK_APP_TABLE_PRESENCE_H_

// The table file the window has open, against the file now at its path. When another program
// removes (or replaces) the table's file, the open file lives on unseen: whatever is written goes
// to a file no one will find again. The window notices at F5, at the refresh timer and before a
// write, says so, and offers to write the open table under its name again.

namespace vosk {

class Browse;

// Whether the file the current work area has open is the file at the current table's path
// (true when no table is open or that cannot be told).
bool OpenTableAtItsPath();

// When the open table's file is no longer at its path: tells the user and offers to save the
// open table (and its memo file, when that is gone too) under its name again, then opens that
// file in its place. `timer`: asked by the refresh timer, which tells only once about the same
// open file (F5 and the writes ask every time). True when the table is at its path (again).
bool TABLEPRESENT(Browse* oBrw, bool timer = false);

}  // namespace vosk

#endif  // VOSK_APP_TABLE_PRESENCE_H_
