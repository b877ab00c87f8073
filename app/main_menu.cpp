#include "app/main_menu.h"

#include "app/ansi.h"
#include "app/browse.h"
#include "app/browse_view.h"
#include "app/copy_import.h"
#include "app/current_table.h"
#include "app/filename.h"
#include "app/group_commands.h"
#include "app/index_commands.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/password.h"
#include "app/program_info.h"
#include "app/record_commands.h"
#include "app/sort_filter.h"
#include "app/structure_editor.h"
#include "app/table_maintenance.h"
#include "app/table_presence.h"
#include "app/ui.h"
#include "app/voskdbu.h"
#include "rdd/db_commands.h"
#include "rdd/driver_registry.h"
#include "rdd/work_area.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

using Kind = MenuItem::Kind;

MenuItem Item(const char* prompt, const char* shortcut, const char* message, Action action,
              When when = When::kAlways, Check check = Check::kNone) {
  return MenuItem{Kind::kCommand, Ansi(prompt), shortcut, Ansi(message), action, when, check};
}
MenuItem Separator() { return MenuItem{Kind::kSeparator, "", "", "", Action::kNone}; }

std::vector<Menu> BuildMenus() {
  Menu file{
      "&File",
      {
          Item("Nuova tabella...", "", "Per creare una nuova tabella", Action::kNuovaTabella),
          Item("Nuovo indice...", "", "Per creare un nuovo indice", Action::kNuovoIndice),
          Item("Nuovo TAG...", "", "Per creare un nuovo TAG nell'indice corrente",
               Action::kNuovoTag, When::kHasOrders),
          Separator(),
          Item("Nuovo VOSK Software DBU", "CTRL-+", "Per lanciare un altro VOSK Software DBU",
               Action::kNuovaIstanza),
          Separator(),
          Item("Apri tabella...", "F2", "Per aprire una tabella diversa", Action::kApriTabella),
          Item("Apri indice...", "CTRL-I", "Per aprire un indice", Action::kApriIndice),
          Item("Seleziona TAG", "CTRL-T", "Per scegliere il TAG da attivare", Action::kSelezionaTag,
               When::kHasOrders),
          Separator(),
          Item("Copia tabella...", "", "Per copiare la tabella corrente", Action::kCopiaTabella),
          Item("Importa record...", "", "Per importare record da una tabella esterna",
               Action::kImportaRecord),
          Separator(),
          Item("Apri indice automaticamente", "",
               "Per attivare l'apertura automatica dell'indice avente lo stesso nome della "
               "tabella",
               Action::kAutoOpen, When::kAlways, Check::kAutoOpen),
          Separator(),
          MenuItem{Kind::kSubmenu, "Tabelle aperte di recente", "", "", Action::kNone},
          Separator(),
          Item("Esci", "", "Per uscire dal programma", Action::kEsci),
      }};
  Menu modifica{
      "&Modifica",
      {
          Item("Nuovo record", "INS", "Per creare un nuovo record", Action::kNuovoRecord),
          Item("Cancella/ripristina record corrente", "CANC",
               "Per cancellare o ripristinare il record selezionato", Action::kCancellaRipristina),
          Item("Duplica record corrente", "CTRL-D",
               "Per creare un nuovo record copiando i dati da quello selezionato",
               Action::kDuplicaRecord),
          Separator(),
          Item("Modifica campo", "Invio", "Per modificare il contenuto del campo selezionato",
               Action::kModificaCampo),
          Item("Sostituisci valori...", "F6",
               "Per modificare il contenuto di un campo di più record", Action::kSostituisciValori),
          Item("Cancella record...", "", "Per cancellare un gruppo di record",
               Action::kCancellaRecord),
          Item("Ripristina record...", "", "Per ripristinare un gruppo di record cancellati",
               Action::kRipristinaRecord),
          Item("Modifica struttura tabella...", "F3",
               "Per modificare la struttura della tabella corrente", Action::kModificaStruttura),
          Item("Modifica proprietà campo...", "",
               "Per modificare le proprietà del campo selezionato", Action::kModificaProprieta),
          Item("Modifica TAG attivo...", "", "Per modificare il TAG attivo dell'indice corrente",
               Action::kModificaTag, When::kIndexNotEmpty),
          Item("Elimina TAG...", "", "Per eliminare un tag TAG dall'indice corrente",
               Action::kEliminaTag, When::kHasOrders),
          Separator(),
          Item("Ricostruisci indice attivo...", "",
               "Per ricostruire tutti i TAG dell'indice corrente", Action::kRicostruisciIndice,
               When::kIndexNotNil),
          Separator(),
          Item("Svuota tabella", "", "Per eliminare fisicamente tutti i record della tabella",
               Action::kSvuotaTabella),
          Item("Compatta tabella", "", "Per compattare la tabella", Action::kCompattaTabella),
          Separator(),
          Item("DBFNTX", "", "Per attivare il database driver DBFNTX", Action::kDriverNtx,
               When::kAlways, Check::kRddNtx),
          Item("DBFCDX", "", "Per attivare il database driver DBFCDX", Action::kDriverCdx,
               When::kAlways, Check::kRddCdx),
          Separator(),
          Item("Memo DBT", "", "Per attivare il formato memo DBT", Action::kMemoDbt, When::kAlways,
               Check::kMemoDbt),
          Item("Memo FPT", "", "Per attivare il formato memo FPT", Action::kMemoFpt, When::kAlways,
               Check::kMemoFpt),
          Separator(),
          Item("Codifica ANSI", "", "Per attivare la codifica ANSI (Windows)",
               Action::kCodificaAnsi, When::kAlways, Check::kCodificaAnsi),
          Item("Codifica OEM", "", "Per attivare la codifica OEM (DOS)", Action::kCodificaOem,
               When::kAlways, Check::kCodificaOem),
      }};
  Menu visualizza{
      "&Visualizza",
      {
          Item("Vai al record...", "CTRL-R", "Per spostare la selezione su uno specifico record",
               Action::kVaiAlRecord),
          Item("Vai alla prima colonna", "F11", "Per spostare la selezione sulla prima colonna",
               Action::kPrimaColonna),
          Item("Vai all'ultima colonna", "F12", "Per spostare la selezione sull'ultima colonna",
               Action::kUltimaColonna),
          Item("Cerca colonna...", "F9", "Per spostare la selezione su una specifica colonna",
               Action::kCercaColonna),
          Item("Continua ricerca colonna...", "F7",
               "Per riprendere la ricerca della colonna da quella corrente",
               Action::kContinuaRicerca),
          Item("Imposta vista...", "F4", "Per specificare le colonne visibili",
               Action::kImpostaVista),
          Item("Imposta filtro...", "F8", "Per filtrare i record in base ad una condizione",
               Action::kImpostaFiltro),
          Item("Imposta password...", "", "Per impostare la password di una tabella crittata",
               Action::kImpostaPassword),
          Separator(),
          Item("Nessun ordinamento né filtro", "", "Per vedere tutti i record in ordine fisico",
               Action::kOrdina),
          Separator(),
          Item("Aggiorna", "F5", "Per aggiornare i dati visualizzati", Action::kAggiorna),
      }};
  Menu info{"?", {Item("Informazioni", "", "Informazioni sul programma", Action::kInformazioni)}};
  return {file, modifica, visualizza, info};
}

// An entry of the menu bar, for the button drop-down menus that repeat it.
MenuItem FromMenus(size_t menu, const char* prompt) {
  for (const MenuItem& item : MainMenus()[menu].items) {
    if (item.prompt == Ansi(prompt)) return item;
  }
  return Separator();
}

std::vector<ToolButton> BuildButtons() {
  MenuItem new_table = FromMenus(0, "Nuova tabella...");
  new_table.action = Action::kNuovaTabellaNoTitle;
  std::vector<MenuItem> nuovo = {
      new_table,
      FromMenus(0, "Nuovo indice..."),
      FromMenus(0, "Nuovo TAG..."),
      Separator(),
      FromMenus(0, "Nuovo VOSK Software DBU"),
      Separator(),
      FromMenus(1, "Nuovo record"),
      FromMenus(1, "Duplica record corrente"),
  };
  std::vector<MenuItem> apri = {
      FromMenus(0, "Apri tabella..."),
      FromMenus(0, "Apri indice..."),
      FromMenus(0, "Seleziona TAG"),
  };
  return {
      {"NUOVO", "Nuova tabella", Action::kNuovaTabellaNoTitle, false, nuovo},
      {"APRI", "Apri tabella (F2)", Action::kApriTabella, false, apri},
      {"COPIATAB", "Copia tabella", Action::kCopiaTabella, true, {}},
      {"IMPORTAREC", "Importa record", Action::kImportaRecord, false, {}},
      {"CERCACOL", "Cerca colonna (F9)", Action::kCercaColonna, true, {}},
      {"VISTACOL", "Imposta vista (F4)", Action::kImpostaVista, false, {}},
      {"FILTRO", "Imposta filtro (F8)", Action::kImpostaFiltro, false, {}},
      {"CHIUDI", Ansi("Nessun ordinamento né filtro"), Action::kOrdina, false, {}},
      {"AGGIORNA", "Aggiorna (F5)", Action::kAggiorna, true, {}},
      {"ESCI", "Esci", Action::kEsci, true, {}},
  };
}

// The commands that exist so far. The others come with the work on their parts of the
// program; until then their entries are disabled.
using Command = void (*)(Browse*);

// A new table becomes the current one, which the title names (from the button's drop-down
// menu too).
void NuovaTabella(Browse* b) {
  if (CREATAB(b)) GetUi().SetWindowTitle(MainWindowTitle());
}
void ModificaStruttura(Browse* b) { CREATAB(b, false); }
void NuovaIstanza(Browse*) { GetUi().StartInstance(CurTable().cCurTable); }
void Esci(Browse*) { GetUi().CloseMainWindow(); }
void ApriTabella(Browse* b) {
  APRITAB(b);
  GetUi().SetWindowTitle(MainWindowTitle());
}
void ApriIndice(Browse* b) { APRIIND(b); }
void SelezionaTag(Browse* b) { SELEZTAG(b); }
void AutoOpen(Browse* b) { AUTOOPEN(b); }
void NuovoIndice(Browse* b) { CREAIND(b); }
void NuovoTag(Browse* b) { CREAIND(b, true); }
void ModificaTag(Browse* b) { MODIIND(b); }
void EliminaTag(Browse* b) { ELIMINATAG(b); }
void RicostruisciIndice(Browse* b) { RICOSTIND(b); }
void ModificaCampo(Browse* b) { TASTI(b, kVkReturn, false); }
void NuovoRecord(Browse* b) { NUOVOREC(b); }
void DuplicaRecord(Browse* b) { NUOVOREC(b, true); }
void CancellaRipristina(Browse* b) { ELIMREC(b); }
void SostituisciValori(Browse* b) { SOSTVAL(b); }
void CancellaRecord(Browse* b) { CANCREC(b); }
void RipristinaRecord(Browse* b) { RIPRREC(b); }
void SvuotaTabella(Browse* b) { SVUOTA(b); }
void CompattaTabella(Browse* b) { COMPATTA(b); }
void DriverNtx(Browse* b) { CAMBIARDD(b, "DBFNTX"); }
void DriverCdx(Browse* b) { CAMBIARDD(b, "DBFCDX"); }
void MemoDbt(Browse* b) { CAMBIAMEMO(b, 1); }
void MemoFpt(Browse* b) { CAMBIAMEMO(b, 2); }
void CodificaAnsi(Browse* b) { CAMBIAANSI(b, "ANSI"); }
void CodificaOem(Browse* b) { CAMBIAANSI(b, "OEM"); }
void VaiAlRecord(Browse* b) { VAIALREC(b); }
void PrimaColonna(Browse* b) { TASTI(b, kVkF11, false); }
void UltimaColonna(Browse* b) { TASTI(b, kVkF12, false); }
void CercaColonna(Browse* b) { CERCACOL(b); }
void ContinuaRicerca(Browse* b) { CERCACOL(b, false); }
void ImpostaVista(Browse* b) { VISTACOL(b); }
void Ordina(Browse* b) { ORDINA(b); }
void OrdinaColonna(Browse* b) {
  if (b) ORDINA(b, b->nColAct());
}
void ImpostaFiltro(Browse* b) { FILTRA(b); }
void Aggiorna(Browse* b) {
  if (!TABLEPRESENT(b)) return;
  if (b) {
    b->Refresh();
    b->Change();
  }
}
void CopiaTabella(Browse*) { COPIATAB(); }
void ImportaRecord(Browse* b) { IMPORTAREC(b); }
void ImpostaPassword(Browse* b) { PASSWORD(b); }
void Informazioni(Browse*) { INFOS(ProgramName(), ProgramVersion(), InfoLines()); }
void SwitchDriver(Browse* b) { CAMBIARDD(b, RDDSETDEFAULT() == "DBFNTX" ? "DBFCDX" : "DBFNTX"); }
void SwitchMemo(Browse* b) {
  Value memo = RDDINFO(14);
  CAMBIAMEMO(b, memo.is_numeric() && memo.number() == 1 ? 2 : 1);
}
void SwitchCodifica(Browse* b) {
  CAMBIAANSI(b, IniString("Codifica", "ANSI") == "ANSI" ? "OEM" : "ANSI");
}

Command CommandOf(Action action) {
  switch (action) {
    case Action::kNuovaTabella:
    case Action::kNuovaTabellaNoTitle:
      return &NuovaTabella;
    case Action::kModificaStruttura:
      return &ModificaStruttura;
    case Action::kModificaProprieta:
      return &MODPROP;
    case Action::kNuovaIstanza:
      return &NuovaIstanza;
    case Action::kEsci:
      return &Esci;
    case Action::kApriTabella:
      return &ApriTabella;
    case Action::kApriIndice:
      return OrderBagsSupported() ? &ApriIndice : nullptr;
    case Action::kSelezionaTag:
      return OrderBagsSupported() ? &SelezionaTag : nullptr;
    case Action::kAutoOpen:
      return &AutoOpen;
    case Action::kNuovoIndice:
      return OrderBagsSupported() ? &NuovoIndice : nullptr;
    case Action::kNuovoTag:
      return OrderBagsSupported() ? &NuovoTag : nullptr;
    case Action::kModificaTag:
      return OrderBagsSupported() ? &ModificaTag : nullptr;
    case Action::kEliminaTag:
      return OrderBagsSupported() ? &EliminaTag : nullptr;
    case Action::kRicostruisciIndice:
      return OrderBagsSupported() ? &RicostruisciIndice : nullptr;
    case Action::kModificaCampo:
      return &ModificaCampo;
    case Action::kNuovoRecord:
      return &NuovoRecord;
    case Action::kDuplicaRecord:
      return &DuplicaRecord;
    case Action::kCancellaRipristina:
      return &CancellaRipristina;
    case Action::kSostituisciValori:
      return &SostituisciValori;
    case Action::kCancellaRecord:
      return &CancellaRecord;
    case Action::kRipristinaRecord:
      return &RipristinaRecord;
    case Action::kSvuotaTabella:
      return &SvuotaTabella;
    case Action::kCompattaTabella:
      return &CompattaTabella;
    case Action::kDriverNtx:
      return &DriverNtx;
    case Action::kDriverCdx:
      return &DriverCdx;
    case Action::kMemoDbt:
      return &MemoDbt;
    case Action::kMemoFpt:
      return &MemoFpt;
    case Action::kCodificaAnsi:
      return &CodificaAnsi;
    case Action::kCodificaOem:
      return &CodificaOem;
    case Action::kVaiAlRecord:
      return &VaiAlRecord;
    case Action::kPrimaColonna:
      return &PrimaColonna;
    case Action::kUltimaColonna:
      return &UltimaColonna;
    case Action::kCercaColonna:
      return &CercaColonna;
    case Action::kContinuaRicerca:
      return &ContinuaRicerca;
    case Action::kImpostaVista:
      return &ImpostaVista;
    case Action::kOrdina:
      return &Ordina;
    case Action::kOrdinaColonna:
      return &OrdinaColonna;
    case Action::kImpostaFiltro:
      return &ImpostaFiltro;
    case Action::kAggiorna:
      return &Aggiorna;
    case Action::kCopiaTabella:
      return &CopiaTabella;
    case Action::kImportaRecord:
      return &ImportaRecord;
    case Action::kImpostaPassword:
      return &ImpostaPassword;
    case Action::kInformazioni:
      return &Informazioni;
    case Action::kSwitchDriver:
      return &SwitchDriver;
    case Action::kSwitchMemo:
      return &SwitchMemo;
    case Action::kSwitchCodifica:
      return &SwitchCodifica;
    default:
      return nullptr;
  }
}

}  // namespace

const std::vector<Menu>& MainMenus() {
  static const std::vector<Menu> menus = BuildMenus();
  return menus;
}

const std::vector<ToolButton>& ButtonBar() {
  static const std::vector<ToolButton> buttons = BuildButtons();
  return buttons;
}

const std::vector<StatusItem>& StatusItems() {
  static const std::vector<StatusItem> items = {
      {20, std::nullopt, "VUOTO", "Password non impostata", false, Action::kImpostaPassword,
       "CRYPTED"},
      {55, 0x008000, "", "", true, Action::kSwitchDriver},
      {33, 0x800000, "", "", true, Action::kSwitchMemo},
      {37, 0x808000, "", "", true, Action::kSwitchCodifica},
  };
  return items;
}

std::string StatusItemText(int item) {
  switch (item) {
    case 2: {
      // The driver the current table got (a table with a structural CDX bag always gets
      // DBFCDX); the default driver when no table is open.
      const WorkArea* area = CurrentArea();
      return area && area->driver() ? area->driver()->name() : RDDSETDEFAULT();
    }
    case 3: {
      Value memo = RDDINFO(14);
      return memo.is_numeric() && memo.number() == 1 ? "DBT" : "FPT";
    }
    case 4:
      return CodepageItemText();
    default:
      return "";
  }
}

bool ItemEnabled(Action action, When when) {
  if (CommandOf(action) == nullptr) return false;
  switch (when) {
    case When::kAlways:
      return true;
    case When::kHasOrders:
      return OrderCount() > 0;
    case When::kIndexNotEmpty:
      return CurTable().cCurIndex.has_value() && !CurTable().cCurIndex->empty();
    case When::kIndexNotNil:
      return CurTable().cCurIndex.has_value();
  }
  return false;
}

bool ItemChecked(Check check) {
  switch (check) {
    case Check::kNone:
      return false;
    case Check::kAutoOpen:
      return IniLogical("AutoOpen", "No");
    case Check::kRddNtx:
      return IniString("RDD", "DBFNTX") == "DBFNTX";
    case Check::kRddCdx:
      return IniString("RDD", "DBFNTX") != "DBFNTX";
    case Check::kMemoDbt:
      return IniInt("Memo", 1) == 1;
    case Check::kMemoFpt:
      return IniInt("Memo", 1) != 1;
    case Check::kCodificaAnsi:
      return IniString("Codifica", "ANSI") == "ANSI";
    case Check::kCodificaOem:
      return IniString("Codifica", "ANSI") != "ANSI";
  }
  return false;
}

void RunAction(Action action, Browse* oBrw) {
  if (Command command = CommandOf(action)) command(oBrw);
}

}  // namespace vosk
