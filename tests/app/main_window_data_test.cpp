// The main window as data: menus, buttons and status items, the status text, the geometry
// handling and the commands that exist so far.

#include <gtest/gtest.h>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/twbrowse.h"
#include "app/main_menu.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

// A browse whose current column is `column`.
struct FakeBrowse : TWBrowse {
  explicit FakeBrowse(int column) : TWBrowse("DBF") { set_nColAct(column); }
};

const MenuItem* FindItem(const std::string& prompt) {
  for (const Menu& menu : MainMenus()) {
    for (const MenuItem& item : menu.items) {
      if (item.prompt == prompt) return &item;
    }
  }
  return nullptr;
}

using MainWindowDataTest = AppTest;

TEST_F(MainWindowDataTest, MenusHoldTheirEntriesInOrder) {
  const auto& menus = MainMenus();
  ASSERT_EQ(menus.size(), 4u);
  std::vector<std::string> titles;
  for (const Menu& m : menus) titles.push_back(m.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&Modifica", "&Visualizza", "?"}));

  // Prompts of the File menu, "-" for separators and "*" for the submenu.
  std::vector<std::string> file;
  for (const MenuItem& item : menus[0].items) {
    file.push_back(item.kind == MenuItem::Kind::kSeparator ? "-"
                   : item.kind == MenuItem::Kind::kSubmenu ? "*" + item.prompt
                                                           : item.FullPrompt());
  }
  EXPECT_EQ(file, (std::vector<std::string>{"Nuova tabella...", "Nuovo indice...", "Nuovo TAG...",
                                            "-", "Nuovo VOSK Software DBU\tCTRL-+", "-",
                                            "Apri tabella...\tF2", "Apri indice...\tCTRL-I",
                                            "Seleziona TAG\tCTRL-T", "-", "Copia tabella...",
                                            "Importa record...", "-", "Apri indice automaticamente",
                                            "-", "*Tabelle aperte di recente", "-", "Esci"}));
  EXPECT_EQ(menus[1].items.size(), 26u);
  EXPECT_EQ(menus[2].items.size(), 12u);
  ASSERT_EQ(menus[3].items.size(), 1u);
  EXPECT_EQ(menus[3].items[0].prompt, "Informazioni");
  EXPECT_EQ(menus[3].items[0].message, "Informazioni sul programma");

  const MenuItem* props = FindItem(Ansi("Modifica proprietà campo..."));
  ASSERT_NE(props, nullptr);
  EXPECT_EQ(props->message, Ansi("Per modificare le proprietà del campo selezionato"));
  const MenuItem* sost = FindItem("Sostituisci valori...");
  ASSERT_NE(sost, nullptr);
  EXPECT_EQ(sost->FullPrompt(), "Sostituisci valori...\tF6");
  EXPECT_EQ(sost->message, Ansi("Per modificare il contenuto di un campo di più record"));
  ASSERT_NE(FindItem(Ansi("Nessun ordinamento né filtro")), nullptr);
}

TEST_F(MainWindowDataTest, OnlyExistingCommandsAreEnabled) {
  struct Case {
    const char* prompt;
    bool enabled;
  } cases[] = {
      {"Nuovo VOSK Software DBU", true}, {"Esci", true},          {"Nuova tabella...", true},
      {"Apri tabella...", true},         {"Aggiorna", true},      {"Vai al record...", true},
      {"Imposta vista...", true},        {"Codifica OEM", true},  {"Informazioni", true},
      {"Imposta filtro...", true},       {"Nuovo record", true},  {"Apri indice...", true},
      {"Seleziona TAG", false},          {"Duplica record corrente", true},
      {"Cancella/ripristina record corrente", true},
  };
  for (const Case& c : cases) {
    const MenuItem* item = FindItem(c.prompt);
    ASSERT_NE(item, nullptr) << c.prompt;
    EXPECT_EQ(ItemEnabled(item->action, item->when), c.enabled) << c.prompt;
  }
}

TEST_F(MainWindowDataTest, CheckMarksFollowTheIniFile) {
  auto checked = [](const char* prompt) { return ItemChecked(FindItem(prompt)->check); };
  EXPECT_TRUE(checked("DBFNTX"));
  EXPECT_FALSE(checked("DBFCDX"));
  EXPECT_TRUE(checked("Memo DBT"));
  EXPECT_TRUE(checked("Codifica ANSI"));
  EXPECT_FALSE(checked("Apri indice automaticamente"));
  Ini("RDD", "DBFCDX");
  Ini("Memo", "2");
  Ini("Codifica", "OEM");
  Ini("AutoOpen", "Si");
  EXPECT_FALSE(checked("DBFNTX"));
  EXPECT_TRUE(checked("DBFCDX"));
  EXPECT_FALSE(checked("Memo DBT"));
  EXPECT_TRUE(checked("Memo FPT"));
  EXPECT_TRUE(checked("Codifica OEM"));
  EXPECT_TRUE(checked("Apri indice automaticamente"));
}

TEST_F(MainWindowDataTest, ButtonBarAndStatusItems) {
  const auto& buttons = ButtonBar();
  std::vector<std::string> names;
  for (const ToolButton& b : buttons) names.push_back(b.bitmap + (b.group_start ? "|" : ""));
  EXPECT_EQ(names,
            (std::vector<std::string>{"NUOVO", "APRI", "COPIATAB|", "IMPORTAREC", "CERCACOL|",
                                      "VISTACOL", "FILTRO", "CHIUDI", "AGGIORNA|", "ESCI|"}));
  EXPECT_EQ(buttons[1].tooltip, "Apri tabella (F2)");
  EXPECT_EQ(buttons[7].tooltip, Ansi("Nessun ordinamento né filtro"));
  ASSERT_EQ(buttons[0].drop_down.size(), 8u);
  EXPECT_EQ(buttons[0].drop_down[0].action, Action::kNuovaTabellaNoTitle);
  EXPECT_EQ(buttons[0].drop_down[7].FullPrompt(), "Duplica record corrente\tCTRL-D");
  ASSERT_EQ(buttons[1].drop_down.size(), 3u);
  EXPECT_EQ(buttons[1].drop_down[2].when, When::kHasOrders);
  EXPECT_TRUE(buttons[2].drop_down.empty());

  const auto& items = StatusItems();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].tooltip, "Password non impostata");
  EXPECT_FALSE(items[0].starts_active);
  EXPECT_EQ(items[1].width, 55);
  EXPECT_EQ(items[1].colour, 0x008000u);
  EXPECT_EQ(items[2].colour, 0x800000u);
  EXPECT_EQ(items[3].colour, 0x808000u);
}

TEST_F(MainWindowDataTest, StatusTextAndItemsOnAnOpenTable) {
  std::string table = MakeClienti();
  Ini("RDD", "DBFCDX");
  Ini("Memo", "2");
  Ini("Codifica", "OEM");
  ui_.on_main_window = [&] {
    EXPECT_EQ(StatusItemText(2), "DBFCDX");
    EXPECT_EQ(StatusItemText(3), "FPT");
    EXPECT_EQ(StatusItemText(4), "OEM");

    FakeBrowse second(2);
    DBGOTO(Value::Integer(3));
    EXPECT_EQ(STATMSG(&second), "Campo: 2/5     RecNo: 3/10     KeyNo: 3/10     ");
    DBGOBOTTOM();
    DBSKIP(1);
    FakeBrowse none(0);
    EXPECT_EQ(STATMSG(&none), "Campi: 5     RecNo: 0/10     KeyNo: 0/10     ");
    EXPECT_EQ(STATMSG(nullptr), std::nullopt);

    CurTable().xCurOrder = Value::Integer(2);
    CurTable().cCurFilter = "CITTA = 'Roma'";
    CurTable().cCurIndex = "/dati/CLIENTI.NTX";
    std::string text = *STATMSG(&second);
    EXPECT_NE(text.find("     Ordine: NOME     Indice: CLIENTI     "), std::string::npos) << text;
    EXPECT_NE(text.find("     Filtro: CITTA = 'Roma'     "), std::string::npos) << text;
    CurTable().xCurOrder = Value::String("UPPER(NOME)");
    CurTable().cCurIndex = std::nullopt;
    text = *STATMSG(&second);
    const std::string tail = "     Ordine: UPPER(NOME)     ";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
  };
  MAIN(table);
  EXPECT_EQ(ui_.main_windows, 1);
}

TEST_F(MainWindowDataTest, ExistingCommands) {
  CurTable().cCurTable = "/dati/con spazi/CLIENTI.DBF";
  RunAction(Action::kNuovaIstanza, nullptr);
  EXPECT_EQ(ui_.instances, (std::vector<std::string>{"/dati/con spazi/CLIENTI.DBF"}));
  RunAction(Action::kEsci, nullptr);
  EXPECT_EQ(ui_.closes, 1);
  RunAction(Action::kInformazioni, nullptr);  // not there yet: nothing happens
  EXPECT_TRUE(ui_.messages.empty());
}

// ---- Window geometry ----

TEST_F(MainWindowDataTest, GeometryDefaultsShowAMaximizedHalfScreen) {
  RESIZE(std::nullopt);
  ASSERT_EQ(ui_.shown_windows.size(), 1u);
  const auto& w = ui_.shown_windows[0];
  EXPECT_EQ(w.top, 0);
  EXPECT_EQ(w.left, 0);
  EXPECT_EQ(w.width, 960);
  EXPECT_EQ(w.height, 540);
  EXPECT_TRUE(w.maximized);
}

TEST_F(MainWindowDataTest, MaximizingKeepsTheNormalPosition) {
  Ini("Maximized", "No");
  Ini("Top", "100");
  Ini("Left", "50");
  Ini("Width", "640");
  Ini("Height", "480");
  RESIZE(std::nullopt);
  ASSERT_EQ(ui_.shown_windows.size(), 1u);
  EXPECT_EQ(ui_.shown_windows[0].top, 100);
  EXPECT_EQ(ui_.shown_windows[0].left, 50);
  EXPECT_EQ(ui_.shown_windows[0].width, 640);
  EXPECT_EQ(ui_.shown_windows[0].height, 480);
  EXPECT_FALSE(ui_.shown_windows[0].maximized);

  // The system reports a move to the maximized place, then the size type 2.
  ui_.normal_rect = {50, 100, 690, 580};
  ui_.rect = {-4, -4, 1924, 1084};
  RESIZE(-1);
  RESIZE(2);
  EXPECT_EQ(IniValue("Maximized"), "S\xEC");
  EXPECT_EQ(IniValue("Top"), "100");
  EXPECT_EQ(IniValue("Left"), "50");

  // Restored: "Maximized" becomes "No"; then sizes are recorded, then moves.
  RESIZE(0);
  EXPECT_EQ(IniValue("Maximized"), "No");
  ui_.rect = {50, 100, 850, 700};
  RESIZE(0);
  EXPECT_EQ(IniValue("Width"), "800");
  EXPECT_EQ(IniValue("Height"), "600");
  ui_.rect = {70, 120, 870, 720};
  RESIZE(-1);
  EXPECT_EQ(IniValue("Top"), "120");
  EXPECT_EQ(IniValue("Left"), "70");
  EXPECT_EQ(CurTable().nSavedTop, 100);
  EXPECT_EQ(CurTable().nSavedLeft, 50);

  // A move while minimized is not recorded.
  ui_.minimized = true;
  ui_.rect = {-32000, -32000, -31840, -31970};
  RESIZE(-1);
  EXPECT_EQ(IniValue("Top"), "120");
}

// The saved place of a window that would lie off the screen (another screen gone, a setting
// grown over starts): the window comes back wholly on a screen, as large as it fits.
TEST_F(MainWindowDataTest, ARestoredWindowIsWhollyOnAScreen) {
  const struct {
    const char *top, *left, *width, *height;
    ScriptedUi::WindowShow shown;  // top, left, width, height
  } cases[] = {
      {"100", "50", "640", "480", {100, 50, 640, 480, false}},       // on the screen: as saved
      {"1000", "50", "640", "480", {600, 50, 640, 480, false}},      // below the bottom edge
      {"-40", "-300", "640", "480", {0, 0, 640, 480, false}},        // above and left of it
      {"5000", "3000", "640", "480", {600, 1280, 640, 480, false}},  // on a screen now gone
      {"10", "10", "4000", "2000", {0, 0, 1920, 1080, false}},       // larger than the screen
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.top) + "," + c.left + " " + c.width + "x" + c.height);
    Ini("Maximized", "No");
    Ini("Top", c.top);
    Ini("Left", c.left);
    Ini("Width", c.width);
    Ini("Height", c.height);
    ui_.shown_windows.clear();
    RESIZE(std::nullopt);
    ASSERT_EQ(ui_.shown_windows.size(), 1u);
    const auto& w = ui_.shown_windows[0];
    EXPECT_EQ(std::vector<int>({w.top, w.left, w.width, w.height}),
              std::vector<int>({c.shown.top, c.shown.left, c.shown.width, c.shown.height}));
  }
}

}  // namespace
}  // namespace vosk
