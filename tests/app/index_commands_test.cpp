// The index commands of the window (new index, new TAG, change of the active TAG, removal of a
// TAG, rebuild) through the scripted Ui, under both index drivers. The files they write are
// walked by an independent reader (Debian's XBase::Index, through the perl script beside the
// sources) where it is installed.

#include "app/index_commands.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/browse_view.h"
#include "app/dialog.h"
#include "app/main_menu.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/progress.h"
#include "app/sort_filter.h"
#include "app/twbrowse.h"
#include "platform/file.h"
#include "rdd/db_commands.h"
#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/dbfcdx/cdx_check.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_check.h"
#include "rdd/ord_commands.h"
#include "rdd/order_bag_build.h"
#include "rdd/order_types.h"
#include "rdd/work_area_table.h"
#include "support/bag_check.h"
#include "support/dbf_image.h"
#include "support/file_size_limit.h"
#include "support/read_only_mount.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

namespace fs = std::filesystem;

const std::string kTools = std::string(VOSK_SOURCE_DIR) + "/../shared/tools/";

// The independent readers: Debian's XBase::Index (through a perl script) for CDX bags, which
// refuses the NTX header flags of the lock scheme this program uses, and a reader written from
// the file format alone for NTX files.
bool ReaderPresent(bool cdx) {
  if (!cdx) return fs::exists(kTools + "ntx-page-walk.py") && fs::exists("/usr/bin/python3");
  return fs::exists(kTools + "xbase-index-walk.pl") &&
         std::system("perl -MXBase::Index -e 1 2>/dev/null") == 0;
}

// The reader's lines for a bag (one tag of a compound bag): "key<TAB>recno", or "TAGS: ..."
// when no tag of a compound bag is named. XBase::Index learns a key's type from the table's
// field of that name, so the orders it walks here have a field as their key.
std::vector<std::string> ReaderLines(const std::string& table, const std::string& bag, bool cdx,
                                     const std::string& tag = "") {
  std::string cmd = cdx ? "perl '" + kTools + "xbase-index-walk.pl' '" + table + "' '" + bag + "'"
                        : "/usr/bin/python3 '" + kTools + "ntx-page-walk.py' '" + bag + "'";
  if (!tag.empty()) cmd += " " + tag;
  cmd += " 2>/dev/null";
  std::vector<std::string> lines;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return lines;
  char line[4096];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    lines.push_back(s);
  }
  pclose(p);
  return lines;
}

// The record numbers of the reader's walk; an entry the reader repeats where equal keys go on
// into the next leaf counts once.
std::vector<uint32_t> ReaderWalk(const std::string& table, const std::string& bag, bool cdx,
                                 const std::string& tag) {
  std::vector<uint32_t> records;
  std::string previous;
  for (const std::string& s : ReaderLines(table, bag, cdx, tag)) {
    const size_t tab = s.rfind('\t');
    if (tab == std::string::npos || s == previous) continue;
    previous = s;
    records.push_back(std::stoul(s.substr(tab + 1)));
  }
  return records;
}

// NOME C 10, CITTA C 10, N N 4.
struct Person {
  const char* nome;
  const char* citta;
  int n;
};
const std::vector<Person> kPeople = {
    {"Rosa", "Roma", 40},    {"Marco", "Milano", 31}, {"Anna", "Roma", 52},
    {"Bruno", "Torino", 33}, {"Rita", "Milano", 18},  {"Zeno", "Roma", 60},
    {"Carla", "Torino", 25}, {"Dario", "Napoli", 44},
};

std::string Pad(const std::string& s, size_t width) {
  std::string out = s.substr(0, width);
  out.resize(width, ' ');
  return out;
}

class IndexCommandsTest : public AppTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Ini("RDD", GetParam());
    tick_ms_ = Progress::SetTickMs(0);  // every step of a build moves the bar
    std::vector<std::vector<std::string>> rows;
    for (const Person& p : kPeople) {
      std::string n = std::to_string(p.n);
      rows.push_back({Pad(p.nome, 10), Pad(p.citta, 10), std::string(4 - n.size(), ' ') + n});
    }
    WriteDbf(Path("PERSONE.DBF"), {{"NOME", 'C', 10, 0}, {"CITTA", 'C', 10, 0}, {"N", 'N', 4, 0}},
             rows);
  }

  void TearDown() override {
    Progress::SetTickMs(tick_ms_);
    AppTest::TearDown();
  }

  int tick_ms_ = 0;

  bool Cdx() const { return std::string(GetParam()) == "DBFCDX"; }
  std::string Ext() const { return Cdx() ? ".CDX" : ".NTX"; }
  std::string Table() const { return Path("PERSONE.DBF"); }

  // Every bag open in the current area passes the check.
  void ExpectBagsPassCheck() {
    ExpectOpenBagsPassCheck();
  }

  // The reader walks the controlling order of the bag as the engine does.
  // (The reader walks a descending tag in ascending order.)
  void ExpectReaderAgrees(const std::string& bag) {
    if (!ReaderPresent(Cdx())) return;
    std::vector<uint32_t> ours = Walk();
    if (DBORDERINFO(Value::Integer(kOiIsDesc)).logical()) std::reverse(ours.begin(), ours.end());
    EXPECT_EQ(ReaderWalk(Table(), bag, Cdx(), Cdx() ? ORDSETFOCUS() : ""), ours) << ORDSETFOCUS();
  }

  // A dialog script for "CREAIND": the TAG name (unless empty), key, condition and unique
  // flag, then Conferma.
  std::function<void(Dialog&)> Form(std::string tag, std::string key, std::string cond = "",
                                    bool unique = false) {
    return [this, tag, key, cond, unique](Dialog& d) {
      if (!tag.empty()) ScriptedUi::Type(d, "cTag", tag);
      ScriptedUi::SetMemo(d, "cKey", key);
      ScriptedUi::SetMemo(d, "cFor", cond);
      ScriptedUi::SetCheck(d, "lUni", unique);
      EXPECT_TRUE(ui_.Press(d, kIdConferma)) << d.title;
    };
  }

  // "Nuovo indice..." on the file `name` (no extension) with the form's values.
  void NewIndex(Browse* brw, const std::string& name, std::function<void(Dialog&)> form) {
    ui_.file_results.push_back(Path(name));
    ui_.dialog_scripts.push_back(std::move(form));
    RunAction(Action::kNuovoIndice, brw);
  }

  // The files of the test folder that a build left beside the bags.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.path().string().find(".new") != std::string::npos) found.push_back(e.path());
    }
    return found;
  }
};

INSTANTIATE_TEST_SUITE_P(Drivers, IndexCommandsTest, ::testing::Values("DBFNTX", "DBFCDX"));

// A new index chosen as ORDERS takes the extension of the default driver and a TAG named after
// the file; its FOR condition and unique flag are the form's; the progress bar runs full.
TEST_P(IndexCommandsTest, NewIndexIsNamedAfterItsFileWithTheDriversExtension) {
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    DBGOTO(Value::Integer(4));
    ui_.file_results.push_back(Path("ORDERS"));
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      EXPECT_EQ(CTL(d, "cTag")->Val().str(), "ORDERS    ");
      EXPECT_EQ(CTL(d, "cInd")->value.str(), Path("ORDERS") + Ext());
      EXPECT_FALSE(CTL(d, "cInd")->Enabled());
      Form("", "CITTA", "N > 20", true)(d);
    });
    CREAIND(&brw);
    ASSERT_EQ(ui_.file_dialogs.size(), 1u);
    EXPECT_EQ(ui_.file_dialogs[0].title, "Nuovo indice...");
    EXPECT_EQ(ui_.file_dialogs[0].filter,
              "File " + Ext().substr(1) + " (*" + Ext() + ")|*" + Ext());
    EXPECT_TRUE(ui_.file_dialogs[0].save);
    EXPECT_EQ(ui_.dialogs, std::vector<std::string>{"CREAIND|Nuovo indice"});
    EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
    const std::string bag = Path("ORDERS") + Ext();
    EXPECT_TRUE(FileExists(bag));
    EXPECT_EQ(CurTable().cCurIndex, bag);
    EXPECT_EQ(ORDSETFOCUS(), "ORDERS");
    EXPECT_EQ(ORDKEY(), "CITTA");
    EXPECT_EQ(ORDFOR(), "N > 20");
    EXPECT_TRUE(ORDISUNIQUE());
    // Milano (2), Napoli (8), Roma (1), Torino (4): one record per city, Rita (18) left out.
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 8, 1, 4}));
    EXPECT_EQ(RECNO(), 4u) << "the record stays current";
    ExpectReaderAgrees(bag);
    EXPECT_EQ(ui_.progress.front(), "open:Creazione indice in corso...|Attenzione");
    EXPECT_NE(std::find(ui_.progress.begin(), ui_.progress.end(), "pos:100"), ui_.progress.end());
    EXPECT_EQ(ui_.progress.back(), "close");
    EXPECT_TRUE(Leftovers().empty());
  });
}

// A new index starts from the order of the view: an open index's or a filter's key,
// condition and unique flag; a filter without key gives its condition alone.
TEST_P(IndexCommandsTest, ANewIndexStartsFromTheViewsOrder) {
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    const struct {
      const char* key;  // of the filter
      bool unique;
    } cases[] = {{"CITTA", true}, {"", false}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.key);
      ui_.dialog_scripts.push_back([&](Dialog& d) {
        ScriptedUi::SetMemo(d, "cFor", "N > 30");
        ScriptedUi::SetMemo(d, "cKey", c.key);
        ScriptedUi::SetCheck(d, "lUni", c.unique);
        ui_.Press(d, kIdConferma);
      });
      FILTRA(&brw);
      ASSERT_TRUE(CurTable().cCurFilter.has_value());
      ui_.file_results.push_back(Path("VIEW"));
      ui_.dialog_scripts.push_back([&](Dialog& d) {
        EXPECT_EQ(CTL(d, "cKey")->value.str(), c.key);
        EXPECT_EQ(CTL(d, "cFor")->value.str(), "N > 30");
        EXPECT_EQ(CTL(d, "lUni")->value.logical(), c.unique);
      });
      RunAction(Action::kNuovoIndice, &brw);
    }
  });
}

// The dialog's rules: a TAG name without blanks inside, a key that can be a key, a condition
// that is logical; the unique box follows the key.
TEST_P(IndexCommandsTest, TheIndexDialogRefusesWhatCannotBeAnOrder) {
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    // Each refusal says which field, or what is wrong with the expression.
    const struct {
      const char* tag;
      const char* key;
      const char* cond;
      const char* message;
    } bad[] = {
        {"A B", "NOME", "", "Campo non valido: TAG."},         // a blank inside the name
        {"          ", "NOME", "", "Campo non valido: TAG."},  // no name
        {"X", "", "", "Manca l'espressione."},                 // no key
        {"X", "NOME +", "", "L'espressione \xE8 incompleta: manca qualcosa alla fine."},
        {"X", "NOME", "N + 1",
         "La condizione deve dare un valore logico (.T. o .F.), non di tipo numerico."},
        {"X", "NOME", "NOSUCH > 1", "Campo inesistente: NOSUCH."},
        {"X", "NOME + 1", "", "Valori di tipo diverso per +."},
    };
    for (const auto& c : bad) {
      SCOPED_TRACE(std::string(c.tag) + "|" + c.key + "|" + c.cond);
      ui_.messages.clear();
      ui_.file_results.push_back(Path("BAD"));
      ui_.dialog_scripts.push_back([&](Dialog& d) {
        ScriptedUi::Type(d, "cTag", c.tag);
        ScriptedUi::SetMemo(d, "cKey", c.key);
        ScriptedUi::SetMemo(d, "cFor", c.cond);
        EXPECT_FALSE(ui_.Press(d, kIdConferma));
        ui_.answers.push_back(kButtonYes);  // "Annullo le modifiche?"
        EXPECT_TRUE(ui_.Press(d, kIdAnnulla));
      });
      CREAIND(&brw);
      ASSERT_GE(ui_.messages.size(), 2u);
      EXPECT_EQ(ui_.messages[0].text, c.message);
      EXPECT_EQ(ui_.messages[1].text, "Annullo le modifiche?");
      EXPECT_FALSE(FileExists(Path("BAD") + Ext()));
    }
    // Emptying the key clears and disables "Unique:".
    ui_.file_results.push_back(Path("BAD"));
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      ScriptedUi::SetMemo(d, "cKey", "NOME");
      EXPECT_TRUE(ScriptedUi::SetCheck(d, "lUni", true));
      ScriptedUi::SetMemo(d, "cKey", "  ");
      EXPECT_FALSE(CTL(d, "lUni")->value.logical());
      EXPECT_FALSE(CTL(d, "lUni")->Enabled());
      ScriptedUi::SetMemo(d, "cKey", "CITTA");
      EXPECT_TRUE(CTL(d, "lUni")->Enabled());
    });
    CREAIND(&brw);
    EXPECT_EQ(OrderCount(), 0);
  });
}

// A new TAG goes into the open compound index beside the TAGs it has; a name that begins an
// existing one asks first, and No returns to the dialog with what was typed. An NTX file holds
// one order: the new TAG goes to a new file, and the old one keeps its order.
TEST_P(IndexCommandsTest, ANewTagNeverTakesThePlaceOfAnotherUnasked) {
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    NewIndex(&brw, "CUST", Form("CUSTNAME", "NOME"));
    ASSERT_EQ(ORDSETFOCUS(), "CUSTNAME");
    const std::string cust = Path("CUST") + Ext();
    const std::string before = test::ReadFileBytes(cust);
    if (Cdx()) {
      ui_.dialog_scripts.push_back(Form("CUST", "CITTA"));
      ui_.answers.push_back(kButtonCancel);  // "Sostituisco il TAG esistente?"
      ui_.dialog_scripts.push_back([&](Dialog& d) {
        EXPECT_EQ(CTL(d, "cKey")->value.str(), "CITTA") << "what was typed is kept";
        ui_.Press(d, kIdConferma);
      });
      ui_.answers.push_back(kButtonOk);
      RunAction(Action::kNuovoTag, &brw);  // through the menu entry
      EXPECT_EQ(ui_.dialogs.back(), "CREAIND|Nuovo TAG");
      ASSERT_EQ(ui_.messages.size(), 2u);
      EXPECT_EQ(ui_.messages[0].text, "Sostituisco il TAG esistente?");
      EXPECT_EQ(ATAG(), (std::vector<std::string>{"CUSTNAME", "CUST"}));
      EXPECT_EQ(ORDSETFOCUS(), "CUST");
      EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 5, 8, 1, 3, 6, 4, 7}));
      ExpectReaderAgrees(cust);
      if (ReaderPresent(true)) {
        EXPECT_EQ(ReaderLines(Table(), cust, true),
                  std::vector<std::string>{"TAGS: CUST CUSTNAME"});
      }
    } else {
      // Refused: nothing changes.
      CREAIND(&brw, true);
      ASSERT_EQ(ui_.messages.size(), 1u);
      EXPECT_EQ(ui_.messages[0].text,
                "Il file indice CUST.NTX contiene un solo TAG, che il nuovo TAG sostituirebbe.\n"
                "Creo il nuovo TAG in un nuovo file indice?");
      EXPECT_TRUE(ui_.dialogs.size() == 1 && ui_.file_dialogs.size() == 1);
      // Accepted: a new file.
      ui_.answers.push_back(kButtonOk);
      ui_.file_results.push_back(Path("CITY"));
      ui_.dialog_scripts.push_back(Form("CITY", "CITTA"));
      CREAIND(&brw, true);
      EXPECT_EQ(CurTable().cCurIndex, Path("CITY.NTX"));
      EXPECT_EQ(ui_.dialogs.back(), "CREAIND|Nuovo indice");
      EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 5, 8, 1, 3, 6, 4, 7}));
      ExpectReaderAgrees(Path("CITY.NTX"));
      EXPECT_EQ(test::ReadFileBytes(cust), before) << "the first file keeps its order";
    }
  });
}

// The active TAG takes a new key and condition under its name, in its file; a compound file
// keeps its other TAGs.
TEST_P(IndexCommandsTest, ModifyingTheActiveTagRebuildsItUnderItsName) {
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    NewIndex(&brw, "PEOPLE", Form("BYNAME", "NOME"));
    if (Cdx()) {
      ui_.dialog_scripts.push_back(Form("BYCITY", "CITTA"));
      CREAIND(&brw, true);
      ORDSETFOCUS(Value::String("BYNAME"));
    }
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      EXPECT_EQ(d.title, "Modifica indice");
      EXPECT_FALSE(CTL(d, "cTag")->Enabled());
      EXPECT_FALSE(CTL(d, "cInd")->Enabled());
      EXPECT_EQ(CTL(d, "cKey")->value.str(), "NOME");
      Form("", "N", "N >= 30", true)(d);
    });
    RunAction(Action::kModificaTag, &brw);
    EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
    EXPECT_EQ(ORDSETFOCUS(), "BYNAME");
    EXPECT_EQ(ORDKEY(), "N");
    EXPECT_EQ(ORDFOR(), "N >= 30");
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 4, 1, 8, 3, 6}));
    ExpectReaderAgrees(Path("PEOPLE") + Ext());
    EXPECT_EQ(ATAG(), Cdx() ? (std::vector<std::string>{"BYCITY", "BYNAME"})
                            : (std::vector<std::string>{"BYNAME"}));
  });
}

// Removing the only TAG leaves the table in natural order without index (and the entries that
// need an index disabled); with several, the controlling order stays unless it was removed,
// and then the one before it (after it, for the first) takes over.
TEST_P(IndexCommandsTest, RemovingTagsPicksTheOrderThatControlsNext) {
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    NewIndex(&brw, "ONLY", Form("ONLY", "NOME"));
    const std::pair<Action, When> entries[] = {{Action::kNuovoTag, When::kHasOrders},
                                               {Action::kModificaTag, When::kIndexNotEmpty},
                                               {Action::kEliminaTag, When::kHasOrders},
                                               {Action::kRicostruisciIndice, When::kIndexNotNil}};
    for (const auto& [action, when] : entries) EXPECT_TRUE(ItemEnabled(action, when));
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      EXPECT_EQ(d.title, "Elimina TAG");
      ui_.Press(d, kIdConferma);
    });
    ui_.answers = {kButtonYes};
    RunAction(Action::kEliminaTag, &brw);
    EXPECT_EQ(ui_.dialogs.back(), "SELEZTAG|Elimina TAG");
    EXPECT_EQ(ui_.messages.back().text, Ansi("Eliminare il TAG ONLY? L'operazione non può essere annullata."));
    EXPECT_EQ(OrderCount(), 0);
    EXPECT_FALSE(CurTable().cCurIndex.has_value());
    EXPECT_FALSE(FileExists(Path("ONLY") + Ext())) << "a file of no order is removed";
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    for (const auto& [action, when] : entries) EXPECT_FALSE(ItemEnabled(action, when));
    EXPECT_TRUE(ItemEnabled(Action::kNuovoIndice, When::kAlways));
    if (!Cdx()) return;  // an NTX file holds one order

    const struct {
      const char* focus;
      const char* removed;
      const char* controls;
    } cases[] = {
        {"B", "B", "A"},  // the one before
        {"A", "A", "B"},  // the first: the one after
        {"C", "A", "C"},  // another removed: the controlling one stays
        {"A", "C", "A"},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.focus) + " controlling, " + c.removed + " removed");
      fs::remove(Path("ABC.CDX"));
      NewIndex(&brw, "ABC", Form("A", "NOME"));
      ui_.dialog_scripts.push_back(Form("B", "CITTA"));
      CREAIND(&brw, true);
      ui_.dialog_scripts.push_back(Form("C", "N"));
      CREAIND(&brw, true);
      ASSERT_EQ(ATAG(), (std::vector<std::string>{"A", "B", "C"}));
      ORDSETFOCUS(Value::String(c.focus));
      ui_.dialog_scripts.push_back([&](Dialog& d) {
        EXPECT_EQ(CTL(d, "cTag")->value.str(), c.focus) << "the list starts on the active TAG";
        ScriptedUi::Choose(d, "cTag", c.removed);
        ui_.Press(d, kIdConferma);
      });
      // Asked once more: No keeps the TAG, Yes deletes it.
      ui_.answers = {kButtonNo};
      ELIMINATAG(&brw);
      EXPECT_EQ(OrderCount(), 3);
      ui_.dialog_scripts.push_back([&](Dialog& d) {
        ScriptedUi::Choose(d, "cTag", c.removed);
        ui_.Press(d, kIdConferma);
      });
      ui_.answers = {kButtonYes};
      ELIMINATAG(&brw);
      EXPECT_EQ(ORDSETFOCUS(), c.controls);
      EXPECT_EQ(OrderCount(), 2);
      ExpectReaderAgrees(Path("ABC.CDX"));
    }
  });
}

// A rebuild makes every order again with its key, condition, unique and descending flags, and
// the order that controlled controls again on the same record. With the table open in another
// program it refuses and changes nothing.
TEST_P(IndexCommandsTest, RebuildKeepsEveryOrderAndTheControllingOne) {
  // The bag as another program made it: a descending order (which the dialog cannot make), a
  // unique one with a condition and a custom one holding two keys; a CDX bag is the table's
  // structural bag, which the table's own open holds.
  const std::string bag = Cdx() ? Path("PERSONE") + Ext() : Path("ALL") + Ext();
  {
    ASSERT_TRUE(DBUSEAREA(true, GetParam(), Table(), "MAKE", false, false));
    SET(kSetAutOpen, Value::Logical(true));
    OrdCondArgs cond;
    cond.for_text = "N > 20";
    ORDCONDSET(cond);
    ASSERT_TRUE(ORDCREATE(bag, "CITY", "CITTA", nullptr, Value::Logical(true)));
    if (Cdx()) {
      OrdCondArgs desc;
      desc.descending = true;
      ORDCONDSET(desc);
      ASSERT_TRUE(ORDCREATE(bag, "NUM", "N", nullptr, Value::Logical(false)));
      OrdCondArgs custom;
      custom.custom = true;
      ORDCONDSET(custom);
      ASSERT_TRUE(ORDCREATE(bag, "PICKED", "NOME", nullptr, Value::Logical(false)));
      for (int r : {2, 5}) {
        DBGOTO(Value::Integer(r));
        ASSERT_TRUE(ORDKEYADD());
      }
    }
    SET(kSetAutOpen, Value::Logical(false));
    DBCLOSEAREA();
  }
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    ASSERT_TRUE(OrderListAdd(bag));
    CurTable().cCurIndex = bag;
    ORDSETFOCUS(Value::String("CITY"));
    DBGOTO(Value::Integer(3));
    const std::vector<OrderDefinition> before = BagOrderDefinitions(bag);
    const std::vector<uint32_t> walk = Walk();

    // Refused while another program has the table open.
    {
      File other;
      ASSERT_EQ(other.Open(Table(), Access::kRead, Share::kDenyNone), 0);
      const std::string bytes = test::ReadFileBytes(bag);
      ui_.answers.push_back(kButtonOk);
      RICOSTIND(&brw);
      ASSERT_EQ(ui_.messages.size(), 2u);
      EXPECT_EQ(ui_.messages[1].text,
                "La tabella risulta attualmente aperta da un altro programma. Impossibile "
                "ricostruire l'indice attivo.");
      EXPECT_EQ(test::ReadFileBytes(bag), bytes);
      EXPECT_EQ(ORDSETFOCUS(), "CITY");
      EXPECT_EQ(RECNO(), 3u);
    }
    ui_.messages.clear();
    ui_.progress.clear();
    ui_.answers.push_back(kButtonOk);
    RunAction(Action::kRicostruisciIndice, &brw);
    ASSERT_EQ(ui_.messages.size(), 1u) << ui_.messages.back().text;
    EXPECT_EQ(ui_.messages[0].text, "Confermi la ricostruzione dell'indice attivo?");
    EXPECT_EQ(ui_.progress.front(), "open:Ricostruzione indice in corso...|Attenzione");
    EXPECT_NE(std::find(ui_.progress.begin(), ui_.progress.end(), "pos:100"), ui_.progress.end());
    const std::vector<OrderDefinition> after = BagOrderDefinitions(bag);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
      SCOPED_TRACE(after[i].name);
      EXPECT_EQ(after[i].name, before[i].name);
      EXPECT_EQ(after[i].key_text, before[i].key_text);
      EXPECT_EQ(after[i].for_text, before[i].for_text);
      EXPECT_EQ(after[i].unique, before[i].unique);
      EXPECT_EQ(after[i].descending, before[i].descending);
      EXPECT_EQ(after[i].custom, before[i].custom);
    }
    EXPECT_EQ(ORDSETFOCUS(), "CITY");
    EXPECT_EQ(RECNO(), 3u);
    EXPECT_EQ(Walk(), walk);
    EXPECT_EQ(CurTable().cCurIndex, bag);
    ExpectReaderAgrees(bag);
    ExpectBagsPassCheck();
    if (Cdx()) {
      ORDSETFOCUS(Value::String("NUM"));
      EXPECT_EQ(Walk(), (std::vector<uint32_t>{6, 3, 8, 1, 4, 2, 7, 5}));
      ExpectReaderAgrees(bag);
      EXPECT_TRUE(after.back().custom);
      EXPECT_EQ(ORDKEYCOUNT(Value::String("PICKED")), 0) << "a custom tag comes back empty";
      ORDSETFOCUS(Value::String("CITY"));
    }
    EXPECT_TRUE(Leftovers().empty());
  });
}

// A key that compiles on the current record but fails on another shows "Chiave non valida.";
// the index file it was to replace is left as it was and open again, and nothing stays beside.
TEST_P(IndexCommandsTest, ABadKeyLeavesTheOldIndexInPlace) {
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    NewIndex(&brw, "ORDERS", Form("ORDERS", "NOME"));
    const std::string bag = Path("ORDERS") + Ext();
    const std::string bytes = test::ReadFileBytes(bag);
    DBGOTO(Value::Integer(1));
    const char* failing = "NOME + IIF(N = 52, 1, \"\")";  // record 3 adds a number
    // A new file over the old one, and (compound) a new TAG in it, and its active TAG changed.
    ui_.answers.push_back(kButtonOk);  // "Sostituire il file esistente?"
    NewIndex(&brw, "ORDERS", Form("OTHER", failing));
    ui_.dialog_scripts.push_back([&](Dialog& d) { Form("", failing)(d); });
    MODIIND(&brw);
    if (Cdx()) {
      ui_.dialog_scripts.push_back(Form("NEWTAG", failing));
      CREAIND(&brw, true);
    }
    std::vector<std::string> expected = {"Sostituire il file esistente?", "Chiave non valida.",
                                         "Chiave non valida."};
    if (Cdx()) expected.push_back("Chiave non valida.");
    EXPECT_EQ(MessageTexts(), expected);
    // A TAG built in place in a compound file and dropped may leave the pages it took at the
    // end of the file, free for the next change; what the file held is untouched.
    EXPECT_EQ(test::ReadFileBytes(bag).substr(0, bytes.size()), bytes);
    EXPECT_EQ(CurTable().cCurIndex, bag) << "the old index is open again";
    EXPECT_EQ(ORDSETFOCUS(), "ORDERS");
    EXPECT_EQ(ORDKEY(), "NOME");
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{3, 4, 7, 8, 2, 5, 1, 6}));
    ExpectReaderAgrees(bag);
    EXPECT_TRUE(Leftovers().empty());
  });
}

// A disk too full for the new file: the rebuild and the new index over the old file are told
// by the program's message, and the index is as it was, open again with its order.
TEST_P(IndexCommandsTest, AFullDiskLeavesTheIndexAsItWas) {
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    NewIndex(&brw, "ORDERS", Form("ORDERS", "NOME"));
    const std::string bag = Path("ORDERS") + Ext();
    const std::string bytes = test::ReadFileBytes(bag);
    {
      FileSizeLimit full(bytes.size() - 512);  // the new file cannot grow as large as the old
      ASSERT_TRUE(full.ok());
      ui_.answers.push_back(kButtonOk);  // "Confermi la ricostruzione dell'indice attivo?"
      RICOSTIND(&brw);
      ui_.answers.push_back(kButtonOk);  // "Sostituire il file esistente?"
      NewIndex(&brw, "ORDERS", Form("ORDERS", "CITTA"));
    }
    const std::string full_disk = "Spazio sul disco " + bag + " insufficiente.";
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{"Confermi la ricostruzione dell'indice attivo?", full_disk,
                                        "Sostituire il file esistente?", full_disk}));
    EXPECT_EQ(test::ReadFileBytes(bag), bytes);
    EXPECT_EQ(CurTable().cCurIndex, bag);
    EXPECT_EQ(ORDSETFOCUS(), "ORDERS");
    EXPECT_EQ(ORDKEY(), "NOME");
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{3, 4, 7, 8, 2, 5, 1, 6}));
    EXPECT_TRUE(Leftovers().empty());
  });
}

// A record edit on a disk that has filled up: the keys cannot be written, so the record is
// written back and the index stays byte for byte as it was, with the program's message; the
// table and the index go on working. The edits go on until one of them needs a block the disk
// no longer has (pages grow the index by less than a block of the disk).
TEST_P(IndexCommandsTest, AnEditOnAFullDiskLeavesTableAndIndexAsTheyWere) {
  const std::string disk = Path("DISCO");
  ReadOnlyMount small(disk);  // a tmpfs of 1 MB, left writable
  if (!small.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  const std::string table = disk + "/MOLTI.DBF";
  // Keys of 40 letters that no prefix or trailing blank shortens: few keys to a page.
  auto name_of = [](char first, int n) {
    std::string name(1, first);
    for (uint32_t x = static_cast<uint32_t>(n) * 2654435761u + 1; name.size() < 40;) {
      x = x * 1103515245u + 12345u;
      name += static_cast<char>('A' + (x >> 16) % 26);
    }
    return name;
  };
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 300; ++i) rows.push_back({name_of('N', (i * 7) % 300)});
  WriteDbf(table, {{"NOME", 'C', 40, 0}}, rows);
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    NewIndex(&brw, "DISCO/ORDERS", Form("ORDERS", "NOME"));
    const std::string bag = disk + "/ORDERS" + Ext();
    ASSERT_TRUE(fs::exists(bag));
    ASSERT_TRUE(ui_.messages.empty()) << ui_.messages.front().text;
    {
      // Every block of the disk taken.
      File filler;
      ASSERT_EQ(filler.Create(disk + "/FILLER", Share::kExclusive), 0);
      const std::string chunk(4096, 'x');
      for (uint64_t at = 0; filler.WriteAt(chunk.data(), chunk.size(), at) == 4096;) at += 4096;
    }
    brw.set_nColAct(1);
    std::string full_disk;
    for (int i = 0; i < 200 && full_disk.empty(); ++i) {
      const uint32_t recno = static_cast<uint32_t>(1 + (i * 37) % 300);
      DBGOTO(Value::Integer(recno));
      brw.Refresh();
      const std::string table_bytes = test::ReadFileBytes(table);
      const std::string bag_bytes = test::ReadFileBytes(bag);
      const std::string name = name_of('M', i);  // the new keys crowd one part of the order
      ui_.dialog_scripts.push_back([this, name](Dialog& d) {
        ScriptedUi::Type(d, "uValue", name);
        ui_.Press(d, kIdConferma);
      });
      try {
        EDCOL(&brw, 1);
      } catch (const Abandon&) {
      }
      if (ui_.messages.empty()) continue;
      full_disk = MessageTexts().back();
      EXPECT_EQ(full_disk.rfind("Spazio sul disco ", 0), 0u) << full_disk;
      EXPECT_NE(full_disk.find("/DISCO/ORDERS" + Ext() + " insufficiente."),
                std::string::npos)
          << full_disk;
      EXPECT_TRUE(test::ReadFileBytes(bag) == bag_bytes) << "the index changed";
      EXPECT_TRUE(test::ReadFileBytes(table) == table_bytes) << "the record changed";
      DBGOTO(Value::Integer(recno));
      EXPECT_EQ(FIELDGET(1).str().substr(0, 1), "N") << "the record reads as it was";
    }
    ASSERT_FALSE(full_disk.empty()) << "no edit needed a new block";
    // Room again: the next edit goes through, and the order holds every record once.
    fs::remove(disk + "/FILLER");
    ui_.messages.clear();
    DBGOTO(Value::Integer(1));
    brw.Refresh();
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      ScriptedUi::Type(d, "uValue", "A0000");
      ui_.Press(d, kIdConferma);
    });
    EDCOL(&brw, 1);
    EXPECT_TRUE(ui_.messages.empty());
    std::vector<uint32_t> walk = Walk();
    EXPECT_EQ(walk.size(), 300u);
    ASSERT_FALSE(walk.empty());
    EXPECT_EQ(walk.front(), 1u);
    std::sort(walk.begin(), walk.end());
    EXPECT_EQ(std::adjacent_find(walk.begin(), walk.end()), walk.end());
    if (ReaderPresent(Cdx())) {
      EXPECT_EQ(ReaderWalk(table, bag, Cdx(), Cdx() ? ORDSETFOCUS() : ""), Walk());
    }
  });
}

// A new index over a file that another program holds is refused before anything is built.
TEST_P(IndexCommandsTest, ANewIndexOverAFileInUseElsewhereIsRefused) {
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    NewIndex(&brw, "ORDERS", Form("ORDERS", "NOME"));
    const std::string bag = Path("ORDERS") + Ext();
    const std::string bytes = test::ReadFileBytes(bag);
    File other;
    ASSERT_EQ(other.Open(bag, Access::kRead, Share::kDenyNone), 0);
    ui_.answers.push_back(kButtonOk);  // "Sostituire il file esistente?"
    NewIndex(&brw, "ORDERS", Form("ORDERS", "CITTA"));
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{
                  "Sostituire il file esistente?",
                  "Il file " + bag + " risulta aperto da un altro programma."}));
    other.Close();
    EXPECT_EQ(test::ReadFileBytes(bag), bytes);
    EXPECT_EQ(CurTable().cCurIndex, bag);
    EXPECT_EQ(ORDKEY(), "NOME");
    EXPECT_TRUE(Leftovers().empty());
  });
}

// The order of a sorted or filtered view is the program's own: "Elimina TAG" and "Seleziona
// TAG" list only the user's orders (here the structural bag's under DBFCDX; under DBFNTX none,
// and "Elimina TAG" then has nothing to offer).
TEST_P(IndexCommandsTest, TagListsLeaveOutTheOrderOfASortedView) {
  if (Cdx()) {
    ASSERT_TRUE(DBUSEAREA(true, GetParam(), Table(), "MAKE", false, false));
    ASSERT_TRUE(ORDCREATE(Path("PERSONE.CDX"), "CITY", "CITTA"));
    DBCLOSEAREA();
  }
  const std::vector<std::string> users = Cdx() ? std::vector<std::string>{"CITY"}
                                               : std::vector<std::string>{};
  RunWithTable(ui_, Table(), [&](TWBrowse& brw) {
    ORDINA(&brw, 1);
    ASSERT_EQ(OrderCount(), Cdx() ? 2 : 1);
    EXPECT_EQ(ATAG(), users);
    for (const Action action : {Action::kEliminaTag, Action::kSelezionaTag}) {
      const size_t shown = ui_.dialogs.size();
      ui_.dialog_scripts.push_back([&](Dialog& d) {
        EXPECT_EQ(CTL(d, "cTag")->items, users);
        EXPECT_EQ(CTL(d, "cTag")->value.str(), "CITY") << "the view's order is not listed";
        ui_.Press(d, kIdAnnulla);
      });
      RunAction(action, &brw);
      EXPECT_EQ(ui_.dialogs.size(), shown + (Cdx() ? 1 : 0));
      if (!Cdx()) ui_.dialog_scripts.clear();
    }
    EXPECT_EQ(OrderCount(), Cdx() ? 2 : 1) << "nothing removed";
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{3, 4, 7, 8, 2, 5, 1, 6})) << "still sorted by NOME";
  });
}

}  // namespace
}  // namespace vosk
