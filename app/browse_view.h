#ifndef VOSK_APP_BROWSE_VIEW_H_
#define VOSK_APP_BROWSE_VIEW_H_

// The browse view over the current table: its columns and cell texts, the keyboard map and the
// context menu, in-place editing of a cell and of a memo, going to a record, searching a column
// and choosing the shown columns.

#include <optional>
#include <string>
#include <vector>

#include "expr/value.h"
#include "rdd/codepage.h"

namespace vosk {

class Browse;
class TWBrowse;

// Registers the Application's functions of the row expression: DTOCHR, TTOCHR, OEMTOANSI,
// TABLETEXT and STARRED.
// Safe to call more than once.
void RegisterBrowseFunctions();

// Rebuilds the grid's column description. lReset: every field shown again; lInitOnly: stop
// after that reset.
void REBUILDBRW(Browse* oBrw, bool lReset = true, bool lInitOnly = false);
// Sets the row expression, the column widths and the header actions from aFieldVis.
void MKFLD(Browse* oBrw);
// The row expression's text for the shown fields ("{ || { FIELDGET( 1 ), ... } }").
std::string RowExpressionText();
// The picture of field n for widths and the cell editor; nullopt when it has none.
std::optional<std::string> MKPICTURE(int nField);
std::string DTOCHR(const Value& dDate);
std::string TTOCHR(const Value& tTime);
// Installs the main grid's handlers that belong to the Application (colours, change action).
void InstallBrowseHandlers(TWBrowse* oBrw);
// The grid the handlers were last installed on (the main window's), or null once it is gone.
Browse* MainBrowse();
void ForgetMainBrowse(TWBrowse* oBrw);
// DELETED() of the work area of that alias.
bool InAreaDeleted(const std::string& alias);

// Windows virtual-key codes that TASTI tells apart.
enum VirtualKey : int {
  kVkReturn = 13,
  kVkEscape = 27,
  kVkPrior = 33,
  kVkNext = 34,
  kVkEnd = 35,
  kVkHome = 36,
  kVkLeft = 37,
  kVkUp = 38,
  kVkRight = 39,
  kVkDown = 40,
  kVkInsert = 45,
  kVkDelete = 46,
  kVkF2 = 113,
  kVkF3 = 114,
  kVkF4 = 115,
  kVkF5 = 116,
  kVkF6 = 117,
  kVkF7 = 118,
  kVkF8 = 119,
  kVkF9 = 120,
  kVkF11 = 122,
  kVkF12 = 123,
  kVkOemPlus = 187,
};
// The keyboard map. ctrl: the Ctrl key was held at the time of the event. Returns true when
// the key was taken (the grid's own navigation then leaves it alone).
bool TASTI(Browse* oBrw, int nKey, bool ctrl);
// The context menu's entries (the checks from the settings file as they are now).
std::vector<struct MenuItem> ContextMenuItems();
// Shows the context menu at (nRow, nCol) of the browse and runs the chosen entry.
void RMENU(Browse* oBrw, int nRow, int nCol);

void EDCOL(Browse* oBrw, int nCol);
// Places the cell editor over cell (current row, nCol): the pop-up 2 pixels below and 1 right
// of the cell's corner, as wide as the column (at most the grid less its scroll bar), one pixel
// less high; the input field inside by the field's type.
void DLGADJUST(struct Dialog& oDlg, Browse* oBrw, struct Control& oGet, int nCol, int nField);
// Edits memo field nField of the current record in the memo dialog, in the table's code page.
void EDMEMO(Browse* oBrw, int nField);
void VAIALREC(Browse* oBrw);
void CERCACOL(Browse* oBrw, bool lNew = true);
void VISTACOL(Browse* oBrw);
// Toggles field n in the column chooser (its list is the dialog's first control).
void CAMBIAVIS(struct Dialog& dlg, int n);
bool VISVUOTA(const std::vector<bool>& aVis);
std::string STATMSG2(int nAt, int nLen);
// TIPO(cType): the name of a field type ("Carattere", ...); "" when it has none.
std::string TIPO(const std::string& cType);
// A list of fields as the column chooser and the structure editor show it: the columns
// "NOME CAMPO", "TIPO", "DIM" and "DEC", one row per structure row {name, type letter, length,
// decimals}.
struct Control FieldListControl(const std::string& name, const ValueArray& aStruct);
std::vector<std::string> FieldListRows(const ValueArray& aStruct);

// What the refresh timer compares between ticks: size and modification time of the current
// table and of its index file. Unchanged files need no re-synchronisation (which under an
// order asks the index to count its keys).
std::string TableStamp();

// The write test before an edit, on the directory that holds the current table: "Disco non
// pronto." when it cannot be reached, "Disco protetto da scrittura." when no file can be
// created there. True when writing is possible.
bool ISPROTECTED(const std::string& dir);

// The code page the window reads the current table's text in: the table's own when the table
// names one (its code-page byte, a .cpg file beside it, or a name given when it was opened);
// otherwise the "Codifica" setting: ANSI (Windows-1252) or OEM (CP850).
Codepage ViewCodepage();
// The status bar's code-page item: "ANSI" or "OEM" for a table that names no code page, else
// the table's code page in capitals ("CP1251", "UTF8", ...).
std::string CodepageItemText();
// A text of the current table as the grid shows it: the Application's Windows-1252 text, or
// UTF-8 when its letters have no place in Windows-1252 (a Cyrillic or Greek table).
std::string ShownText(const std::string& table_text);
// A text of the current table for editing as Windows-1252 text; false, after telling the user,
// when it holds letters that Windows-1252 cannot show.
bool EditableText(const std::string& table_text, std::string* ansi);
// Text typed in the window as the current table stores it; false, after telling the user, when
// a character has no place in the table's code page.
bool StoredText(const std::string& ansi, std::string* stored);

// CP850 <-> Windows-1252, whole code pages (the OEMTOANSI of the row expression).
std::string OemToAnsi(const std::string& oem);

}  // namespace vosk

#endif  // VOSK_APP_BROWSE_VIEW_H_
