// Sorting and filtering the view, the type-ahead searches, the check of typed expressions and
// the progress pop-up of long commands, through the scripted Ui, under both index drivers.

#include "app/sort_filter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/area_selection.h"
#include "app/browse_view.h"
#include "app/expression_check.h"
#include "app/key_search.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/progress.h"
#include "app/twbrowse.h"
#include "platform/file.h"
#include "platform/owned_file.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

std::string Pad(const std::string& s, size_t width) {
  std::string out = s.substr(0, width);
  out.resize(width, ' ');
  return out;
}
std::string Num(int n, size_t width) {
  std::string s = std::to_string(n);
  return std::string(width - s.size(), ' ') + s;
}

// NOME C 12, ETA N 3, CITTA C 10, NOTE C 250 (its first letters decide its order), ARRIVO T.
struct Person {
  const char* nome;
  int eta;
  const char* citta;
  const char* note;
};
const std::vector<Person> kPeople = {
    {"rosa", 40, "Roma", "b"},    {"Marco", 31, "Milano", "a"}, {"roberto", 25, "Roma", "c"},
    {"Anna", 52, "Torino", "b"},  {"Rita", 18, "Milano", "a"},  {"zeno", 60, "Roma", "d"},
    {"Bruno", 33, "Torino", "c"},
};

class SortFilterTest : public AppTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    // Temporary bags go to the test's own folder.
    const char* old = std::getenv("TMPDIR");
    old_tmpdir_ = old ? old : "";
    tmp_ = dir_ + "/tmp";
    std::filesystem::create_directory(tmp_);
    ::setenv("TMPDIR", tmp_.c_str(), 1);
    Ini("RDD", GetParam());
  }
  void TearDown() override {
    AppTest::TearDown();
    if (old_tmpdir_.empty()) {
      ::unsetenv("TMPDIR");
    } else {
      ::setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    }
  }

  std::string MakePeople() {
    std::vector<std::vector<std::string>> rows;
    for (const Person& p : kPeople) {
      // ARRIVO: 8-byte time stamp (day number, milliseconds), zero here.
      rows.push_back({Pad(p.nome, 12), Num(p.eta, 3), Pad(p.citta, 10),
                      std::string(245, ' ') + Pad(p.note, 5), std::string(8, '\0')});
    }
    WriteDbf(Path("PERSONE.DBF"),
             {{"NOME", 'C', 12, 0},
              {"ETA", 'N', 3, 0},
              {"CITTA", 'C', 10, 0},
              {"NOTE", 'C', 250, 0},
              {"ARRIVO", 'T', 8, 0}},
             rows);
    return Path("PERSONE.DBF");
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : ui_.messages) t.push_back(m.text);
    return t;
  }
  // Temporary view bags in the temporary folder (their names hold the byte 0x7F).
  std::vector<std::string> ViewBags() const {
    std::vector<std::string> found;
    for (const std::string& name : ListDirectory(tmp_)) {
      if (name.find('\x7F') != std::string::npos) found.push_back(name);
    }
    return found;
  }
  // A filter dialog script: condition, key, unique, then Conferma.
  std::function<void(Dialog&)> Filter(std::string cond, std::string key, bool unique = false) {
    return [this, cond, key, unique](Dialog& d) {
      ScriptedUi::SetMemo(d, "cFor", cond);
      ScriptedUi::SetMemo(d, "cKey", key);
      EXPECT_EQ(ScriptedUi::SetCheck(d, "lUni", unique), !key.empty());
      ui_.Press(d, kIdConferma);
    };
  }

  std::string old_tmpdir_, tmp_;
};

INSTANTIATE_TEST_SUITE_P(Drivers, SortFilterTest, ::testing::Values("DBFNTX", "DBFCDX"));

TEST_P(SortFilterTest, SortingByAColumnUsesItsKeyAndKeepsTheRecord) {
  RunWithTable(ui_, MakePeople(), [&](TWBrowse& brw) {
    DBGOTO(Value::Integer(3));
    struct Case {
      int column;
      std::string key;
      std::vector<uint32_t> order;
    } cases[] = {
        {1, "UPPER( NOME )", {4, 7, 2, 5, 3, 1, 6}},
        {2, "ETA", {5, 3, 2, 7, 1, 4, 6}},
        // Longer than a key may be: its first 240 characters (all blank here) then record
        // order among equal keys.
        {4, "UPPER( LEFT( NOTE, 240 ) )", {1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.key);
      ORDINA(&brw, c.column);
      EXPECT_EQ(OrderKey(), c.key);
      EXPECT_EQ(Walk(), c.order);
      EXPECT_EQ(RECNO(), 3u) << "the record stays current";
      EXPECT_EQ(CurTable().xCurOrder.number(), c.column);
      const std::string field = FIELDNAME(c.column);
      EXPECT_NE(ui_.status_text.find("Ordine: " + field + "     "), std::string::npos)
          << ui_.status_text;
      EXPECT_EQ(ViewBags().size(), 1u) << "one temporary bag, in the temporary folder";
    }
    // Back to physical order: the bag is gone.
    ORDINA(&brw);
    EXPECT_FALSE(OrderControls());
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(CurTable().xCurOrder.is_nil());
    EXPECT_TRUE(ViewBags().empty());
    EXPECT_EQ(ui_.status_text.find("Ordine:"), std::string::npos);
  });
  EXPECT_TRUE(ViewBags().empty());
}

TEST_P(SortFilterTest, ColumnsThatCannotBeSortedOnlyBeep) {
  RunWithTable(ui_, MakePeople(), [&](TWBrowse& brw) {
    ORDINA(&brw, 2);
    const int beeps = ui_.beeps;
    ORDINA(&brw, 9);  // beyond the shown columns
    EXPECT_EQ(ui_.beeps, beeps + 1);
    ORDINA(&brw, 5);  // a time stamp: NTX keys cannot hold one
    const bool ntx = std::string(GetParam()) == "DBFNTX";
    EXPECT_EQ(ui_.beeps, beeps + (ntx ? 2 : 1));
    EXPECT_EQ(OrderKey(), ntx ? "ETA" : "ARRIVO") << "nothing changed under NTX";
    EXPECT_TRUE(ui_.messages.empty()) << Texts()[0];
  });
}

TEST_P(SortFilterTest, AHeaderClickSortsByItsColumn) {
  RunWithTable(ui_, MakePeople(), [&](TWBrowse& brw) {
    const auto columns = brw.VisibleColumns();
    ASSERT_GE(columns.size(), 3u);
    brw.Click(0, columns[2].second + 2, false);  // the header of CITTA
    EXPECT_EQ(OrderKey(), "UPPER( CITTA )");
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 5, 1, 3, 6, 4, 7}));
    // "Ordina colonna" of the context menu sorts by the current column.
    brw.set_nColAct(2);
    ui_.popup_choice = Action::kOrdinaColonna;
    RMENU(&brw, 20, 20);
    EXPECT_EQ(OrderKey(), "ETA");
  });
}

TEST_P(SortFilterTest, TheFourFilterCombinations) {
  struct Case {
    std::string cond, key;
    bool unique;
    std::vector<uint32_t> order;
    std::string status;  // a piece the status text holds ("" none of Ordine and Filtro)
  } cases[] = {
      // Empty key and condition: every record in physical order, nothing in the status text.
      {"", "", false, {1, 2, 3, 4, 5, 6, 7}, ""},
      {"ETA > 30", "", false, {1, 2, 4, 6, 7}, "Filtro: ETA > 30     "},
      {"", "CITTA", true, {2, 1, 4}, "Ordine: CITTA     UNIQUE"},
      {"ETA < 50", "UPPER(CITTA)", true, {2, 1, 7}, "Filtro: ETA < 50     Ordine: UPPER(CITTA)"},
      {"ETA < 50", "UPPER(CITTA)", false, {2, 5, 1, 3, 7}, "Ordine: UPPER(CITTA)     "},
  };
  RunWithTable(ui_, MakePeople(), [&](TWBrowse& brw) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.cond + " | " + c.key);
      ui_.dialog_scripts.push_back(Filter(c.cond, c.key, c.unique));
      FILTRA(&brw);
      EXPECT_TRUE(OrderControls());
      EXPECT_EQ(Walk(), c.order);
      EXPECT_EQ(OrderKey(), c.key.empty() ? "RECNO()" : c.key);
      EXPECT_EQ(CurTable().xCurOrder.str(), c.key);
      EXPECT_EQ(CurTable().cCurFilter, c.cond);
      EXPECT_EQ(ORDISUNIQUE(), c.unique);
      if (c.status.empty()) {
        EXPECT_EQ(ui_.status_text.find("Ordine:"), std::string::npos) << ui_.status_text;
        EXPECT_EQ(ui_.status_text.find("Filtro:"), std::string::npos) << ui_.status_text;
      } else {
        EXPECT_NE(ui_.status_text.find(c.status), std::string::npos) << ui_.status_text;
      }
      EXPECT_EQ(ViewBags().size(), 1u);
    }
    // The dialog starts from the filter in force; an empty key clears and disables "Unique:".
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      EXPECT_EQ(CTL(d, "cFor")->value.str(), "ETA < 50");
      EXPECT_EQ(CTL(d, "cKey")->value.str(), "UPPER(CITTA)");
      ScriptedUi::SetCheck(d, "lUni", true);
      ScriptedUi::SetMemo(d, "cKey", "");
      EXPECT_FALSE(CTL(d, "lUni")->value.logical());
      EXPECT_FALSE(ScriptedUi::SetCheck(d, "lUni", true));
      ui_.answers.push_back(kButtonYes);  // "Annullo le modifiche?"
      ui_.Press(d, kIdAnnulla);
    });
    FILTRA(&brw);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Annullo le modifiche?"}));
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 5, 1, 3, 7}))
        << "a cancelled dialog changes nothing";
  });
}

TEST_P(SortFilterTest, AWrongExpressionIsRefusedAndNothingChanges) {
  RunWithTable(ui_, MakePeople(), [&](TWBrowse& brw) {
    ORDINA(&brw, 2);
    const std::vector<uint32_t> before = Walk();
    struct Case {
      const char* cond;
      const char* key;
      const char* message;  // what is wrong, in the user's words
    } cases[] = {
        {"NOME + 1", "", "Valori di tipo diverso per +."},
        {"NOME", "",
         "La condizione deve dare un valore logico (.T. o .F.), non di tipo carattere."},
        {"ETA > ", "", "L'espressione \xE8 incompleta: manca qualcosa alla fine."},
        {"", "NOME + 1", "Valori di tipo diverso per +."},
        {"", "{1, 2}",
         "La chiave deve dare un valore carattere, numerico, data o logico, non di tipo array."},
        {"NESSUNO > 1", "", "Campo inesistente: NESSUNO."},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.cond) + " | " + c.key);
      ui_.messages.clear();
      bool stayed_open = false;
      ui_.dialog_scripts.push_back([&](Dialog& d) {
        ScriptedUi::SetMemo(d, "cFor", c.cond);
        ScriptedUi::SetMemo(d, "cKey", c.key);
        stayed_open = !ui_.Press(d, kIdConferma);
        ui_.answers.push_back(kButtonYes);
        ui_.Press(d, kIdAnnulla);
      });
      FILTRA(&brw);
      EXPECT_TRUE(stayed_open);
      EXPECT_EQ(Texts(), (std::vector<std::string>{c.message, "Annullo le modifiche?"}));
      EXPECT_EQ(OrderKey(), "ETA");
      EXPECT_EQ(Walk(), before);
      EXPECT_EQ(CurTable().xCurOrder.number(), 2);
      EXPECT_FALSE(CurTable().cCurFilter.has_value());
    }
  });
}

TEST_P(SortFilterTest, AKeyThatFailsOnSomeRecordLeavesThePhysicalView) {
  RunWithTable(ui_, MakePeople(), [&](TWBrowse& brw) {
    ORDINA(&brw, 2);
    // Valid on the current record (record 1), fails on record 2: the build stops.
    DBGOTO(Value::Integer(1));
    ui_.dialog_scripts.push_back(Filter("", "IF(RECNO() == 1, 'A', 5)"));
    FILTRA(&brw);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Chiave non valida."}));
    EXPECT_FALSE(OrderControls());
    EXPECT_TRUE(CurTable().xCurOrder.is_nil());
    EXPECT_FALSE(CurTable().cCurFilter.has_value());
    EXPECT_EQ(ui_.status_text.find("Ordine:"), std::string::npos) << ui_.status_text;
    EXPECT_TRUE(ViewBags().empty());
    EXPECT_EQ(ui_.progress.back(), "close");
  });
}

TEST_P(SortFilterTest, AnOpenIndexGivesTheFilterDialogItsKeyAndCondition) {
  const std::string table = MakePeople();
  ASSERT_TRUE(DBUSEAREA(true, GetParam(), table, "MK", false, false));
  OrdCondArgs cond;
  cond.for_text = "ETA > 20";
  ASSERT_TRUE(ORDCONDSET(cond));
  const std::string bag =
      Path(std::string("PERSONE") + (std::string(GetParam()) == "DBFNTX" ? ".NTX" : ".CDX"));
  ASSERT_TRUE(ORDCREATE(bag, "PERS", "UPPER(NOME)"));
  DBCLOSEAREA();
  Ini("AutoOpen", Ansi("Sì"));
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    ASSERT_TRUE(CurTable().cCurIndex.has_value());
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      EXPECT_EQ(CTL(d, "cFor")->value.str(), "ETA > 20");
      EXPECT_EQ(CTL(d, "cKey")->value.str(), "UPPER(NOME)");
      ui_.Press(d, kIdConferma);
    });
    FILTRA(&brw);
    EXPECT_FALSE(CurTable().cCurIndex.has_value()) << "the filter closes the index";
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 7, 2, 3, 1, 6}));
  });
  EXPECT_TRUE(FileExists(bag)) << "the user's index is not a temporary bag";
}

TEST_P(SortFilterTest, KeySearchOnASortedView) {
  RunWithTable(ui_, MakePeople(), [&](TWBrowse& brw) {
    ORDINA(&brw, 1);  // Anna Bruno Marco Rita roberto rosa zeno
    DBGOTOP();
    brw.Refresh();
    struct Step {
      int key;
      uint32_t record;
      const char* buffer;
    } steps[] = {
        {'r', 5, "R"},                          // Rita
        {'O', 3, "RO"},                         // roberto
        {'z', 3, "RO"},                         // no ROZ: the position and the buffer stay
        {'s', 1, "ROS"},                        // rosa
        {kBackspace, 3, "RO"}, {200, 3, "RO"},  // not a character the search takes
    };
    for (const Step& s : steps) {
      SCOPED_TRACE(s.key);
      KEYSEARCH(&brw, s.key);
      EXPECT_EQ(RECNO(), s.record);
      EXPECT_EQ(KeySearchBuffer(), s.buffer);
    }
    EXPECT_EQ(brw.VScrollPos(), 5u) << "the grid follows the key";
    // An arrow key between two characters starts a new search: M finds Marco, not ROM.
    brw.GoDown();
    KEYSEARCH(&brw, 'm');
    EXPECT_EQ(RECNO(), 2u);
    EXPECT_EQ(KeySearchBuffer(), "M");
    // A new view empties the buffer.
    ORDINA(&brw, 3);
    EXPECT_EQ(KeySearchBuffer(), "");
    // A numeric key takes no typed characters.
    ORDINA(&brw, 2);
    const uint32_t at = RECNO();
    KEYSEARCH(&brw, '4');
    EXPECT_EQ(RECNO(), at);
    EXPECT_TRUE(ui_.messages.empty());
  });
}

TEST_F(AppTest, KeySearchInAFieldList) {
  const std::vector<std::string> names = {"CODICE", "NOME", "NOTE", "CITTA"};
  KEYSEARCHARRAY();
  int nAt = 1;
  struct Step {
    int key;
    int at;
    bool moved;
    const char* buffer;
  } steps[] = {
      {'n', 2, true, "N"},    {'o', 2, false, "NO"},       {'t', 3, true, "NOT"},
      {'x', 3, false, "NOT"}, {kBackspace, 2, true, "NO"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.key);
    EXPECT_EQ(KEYSEARCHARRAY(names, nAt, s.key), s.moved);
    EXPECT_EQ(nAt, s.at);
    EXPECT_EQ(CurTable().cArrSearchBuf, s.buffer);
  }
  nAt = 4;  // the user moved: a new search
  EXPECT_TRUE(KEYSEARCHARRAY(names, nAt, 'c'));
  EXPECT_EQ(nAt, 1);
  EXPECT_EQ(CurTable().cArrSearchBuf, "C");
}

TEST_P(SortFilterTest, ExpressionChecks) {
  const std::string table = MakePeople();
  WriteDbf(Path("ALTRA.DBF"), {{"SOLOQUI", 'N', 3, 0}}, {{"  7"}});
  RunWithTable(ui_, table, [&](TWBrowse&) {
    struct Case {
      const char* text;
      bool testexp, condition, key;
    } cases[] = {
        {"NOME", true, false, true},       {"ETA > 30 .AND. CITTA = 'Roma'", true, true, true},
        {"ETA / 0 > 1", true, true, true},  // a division by zero yields 0
        {"NOME + 1", false, false, false}, {"SOLOQUI > 1", false, false, false},
        {"ETA >", false, false, false},    {"{1, 2}", true, false, false},
        {"", false, true, true},  // an empty field is allowed where it may be empty
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.text);
      EXPECT_EQ(TESTEXP(c.text), c.testexp);
      EXPECT_EQ(ValidCondition(c.text), c.condition);
      EXPECT_EQ(ValidKey(c.text), c.key);
    }
    EXPECT_FALSE(ValidConditionNotEmpty(""));
    EXPECT_FALSE(ValidKeyNotEmpty("  "));
    // Against another table, which is closed again afterwards.
    EXPECT_TRUE(TESTEXP2(Path("ALTRA.DBF"), "SOLOQUI > 1"));
    EXPECT_FALSE(TESTEXP2(Path("ALTRA.DBF"), "NOME"));
    EXPECT_FALSE(TESTEXP2(Path("MANCA.DBF"), "1"));
    EXPECT_EQ(ALIAS(), "DBF");
    EXPECT_FALSE(AreaInUse("TESTEXP2"));
    EXPECT_TRUE(ui_.messages.empty()) << Texts()[0];
  });
}

TEST_P(SortFilterTest, TheViewBagOfAKilledRunGoesAtTheNextStart) {
  const std::string table = MakePeople();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A run that sorts its view and is killed.
    ScriptedUi ui;
    SetUi(&ui);
    RunWithTable(ui, table, [&](TWBrowse& brw) {
      ORDINA(&brw, 1);
      ::raise(SIGKILL);
    });
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_EQ(ViewBags().size(), 1u) << "the killed run left its bag";
  StartUp(ui_);
  EXPECT_TRUE(ViewBags().empty());
}

TEST_P(SortFilterTest, LongCommandsMoveTheProgressBar) {
  // Enough records for many steps of the bar.
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 3000; ++i) rows.push_back({Num((i * 7919) % 3000, 5)});
  WriteDbf(Path("NUMERI.DBF"), {{"N", 'N', 5, 0}}, rows);
  const int tick = Progress::SetTickMs(0);
  RunWithTable(ui_, Path("NUMERI.DBF"), [&](TWBrowse& brw) {
    for (int pass = 0; pass < 2; ++pass) {
      ui_.progress.clear();
      int events_while_open = 0;
      ui_.on_process_events = [&] { events_while_open += ProgressText().has_value(); };
      if (pass == 0) {
        ORDINA(&brw, 1);
      } else {
        ui_.dialog_scripts.push_back(Filter("N > 100", "N"));
        FILTRA(&brw);
      }
      ui_.on_process_events = nullptr;
      ASSERT_FALSE(ui_.progress.empty());
      EXPECT_EQ(ui_.progress.front(), pass == 0 ? "open:Ordinamento in corso...|Attenzione"
                                                : "open:Creazione filtro in corso...|Attenzione");
      EXPECT_EQ(ui_.progress.back(), "close");
      std::vector<int> positions;
      for (const std::string& p : ui_.progress) {
        if (p.rfind("pos:", 0) == 0) positions.push_back(std::stoi(p.substr(4)));
      }
      ASSERT_GE(positions.size(), 50u);
      EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
      EXPECT_EQ(positions.front(), 0);
      EXPECT_GE(positions.back(), 99);
      EXPECT_GE(events_while_open, 50) << "the window runs while the order is built";
    }
  });
  Progress::SetTickMs(tick);
}

TEST_F(AppTest, ProgressUpdatesAtMostEveryTickAndClosesItsPopup) {
  {
    Progress progress("Lavoro...", 200);
    EXPECT_EQ(ProgressText(), "Lavoro...");
    progress.Advance(50);  // within the first tick: not shown
    std::this_thread::sleep_for(std::chrono::milliseconds(Progress::kTickMs + 5));
    progress.Advance(100);
    {
      Progress nested("Altro", 10);  // moves the open pop-up's bar
      EXPECT_EQ(ProgressText(), "Lavoro...");
    }
    EXPECT_EQ(ProgressText(), "Lavoro...");
  }
  EXPECT_EQ(ProgressText(), std::nullopt);
  EXPECT_EQ(ui_.progress,
            (std::vector<std::string>{"open:Lavoro...|Attenzione", "pos:0", "pos:50", "close"}));
}

}  // namespace
}  // namespace vosk
