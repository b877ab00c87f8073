// Replace values (F6) and delete records by condition through the scripted Ui: values of each
// type, conditions, expressions of the right and of the wrong type, the dialog's value and
// expression excluding each other, a table lock held by another process. What changed is read
// from the table file without the engine.

#include "app/group_commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/browse_view.h"
#include "app/open_table.h"
#include "app/other_program.h"
#include "app/sort_filter.h"
#include "app/twbrowse.h"
#include "expr/expression.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "support/dbf_image.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

class GroupCommandsTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    table_ = MakeClienti();
  }
  // Field `name` of every record, as another reader finds it in the file.
  std::vector<std::string> Column(const std::string& name) const {
    const std::string bytes = test::ReadFileBytes(table_);
    std::vector<std::string> values;
    for (uint32_t r = 1; r <= test::ParseDbf(bytes).header_count; ++r) {
      values.push_back(test::FieldBytes(bytes, r, name));
    }
    return values;
  }
  std::string DeletionMarks() const {
    const std::string bytes = test::ReadFileBytes(table_);
    const test::ParsedDbf dbf = test::ParseDbf(bytes);
    std::string marks;
    for (uint32_t r = 0; r < dbf.header_count; ++r) {
      marks += bytes.at(static_cast<size_t>(dbf.header_length) + r * dbf.record_length);
    }
    return marks;
  }
  // A script of the replace dialog: field, then `fill` types the rest, then Conferma.
  std::function<void(Dialog&)> Replace(std::string field, std::function<void(Dialog&)> fill) {
    return [this, field, fill](Dialog& d) {
      ScriptedUi::Choose(d, "cCam", field);
      fill(d);
      ui_.Press(d, kIdConferma);
    };
  }

  std::string table_;
};

TEST_F(GroupCommandsTest, AValueOfEachTypeReplacesTheFieldWhereTheConditionHolds) {
  struct Case {
    const char* field;
    std::function<void(Dialog&)> fill;
    std::vector<std::string> expected;  // the field in records 1 to 10
  };
  const std::string mario = "Mario       ";
  const Case cases[] = {
      {"NOME", [](Dialog& d) { ScriptedUi::SetMemo(d, "cVal", "Mario"); },
       std::vector<std::string>(10, mario)},
      // Empty text blanks the field where the condition holds; the text is cut to the field.
      {"NOME",
       [](Dialog& d) {
         ScriptedUi::SetMemo(d, "cVal", "");
         ScriptedUi::SetMemo(d, "cFor", "ATTIVO");
       },
       {"            ", mario, "            ", mario, "            ", mario, "            ", mario,
        "            ", mario}},
      {"CITTA", [](Dialog& d) { ScriptedUi::SetMemo(d, "cVal", "Milano Marittima"); },
       std::vector<std::string>(10, "Milano Mar")},
      {"CODICE",
       [](Dialog& d) {
         ScriptedUi::Type(d, "nVal", "77");
         ScriptedUi::SetMemo(d, "cFor", "CODICE > 7");
       },
       {"   1", "   2", "   3", "   4", "   5", "   6", "   7", "  77", "  77", "  77"}},
      {"DATA", [](Dialog& d) { ScriptedUi::Type(d, "dVal", "01022025"); },
       std::vector<std::string>(10, "20250201")},
      {"ATTIVO", [](Dialog& d) { ScriptedUi::Choose(d, "lVal", ".T."); },
       std::vector<std::string>(10, "T")},
  };
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    DBGOTO(Value::Integer(4));
    brw.Refresh();
    for (const Case& c : cases) {
      ui_.dialog_scripts.push_back(Replace(c.field, c.fill));
      EXPECT_TRUE(TASTI(&brw, kVkF6, false));
      EXPECT_EQ(Column(c.field), c.expected) << c.field;
      EXPECT_EQ(RECNO(), 4u) << "the record that was current is current again";
    }
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{"10 record modificati", "5 record modificati",
                                        "10 record modificati", "3 record modificati",
                                        "10 record modificati", "10 record modificati"}));
    EXPECT_EQ(ui_.progress.front(), "open:Sostituzione valori in corso...|Attenzione");
    EXPECT_EQ(ui_.progress.back(), "close");
  });
}

TEST_F(GroupCommandsTest, ExpressionsOfTheRightTypeAssignAndOfTheWrongTypeChangeNothing) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    const auto expression = [this, &brw](const char* field, const char* exp, const char* cond = "") {
      ui_.dialog_scripts.push_back(Replace(field, [exp, cond](Dialog& d) {
        ScriptedUi::SetMemo(d, "cExp", exp);
        ScriptedUi::SetMemo(d, "cFor", cond);
      }));
      SOSTVAL(&brw);
    };
    expression("NOME", "'N' + LTRIM(STR(CODICE * 2))", "CODICE < 3");
    EXPECT_EQ(Column("NOME")[0], "N2          ");
    EXPECT_EQ(Column("NOME")[1], "N4          ");
    EXPECT_EQ(Column("NOME")[2], "Cliente 3   ");
    // A division by zero gives 0 for that record and the walk goes on.
    expression("CODICE", "100 / (CODICE - 5)");
    EXPECT_EQ(Column("CODICE"),
              (std::vector<std::string>{" -25", " -33", " -50", "-100", "   0", " 100", "  50",
                                        "  33", "  25", "  20"}));
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{"2 record modificati", "10 record modificati"}));

    const std::string before = test::ReadFileBytes(table_);
    for (auto [field, exp] : {std::pair{"NOME", "CODICE + 1"}, std::pair{"CODICE", "NOME"},
                              std::pair{"DATA", "'2024'"}, std::pair{"ATTIVO", "1"}}) {
      ui_.messages.clear();
      expression(field, exp);
      EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Espressione non valida per questo campo."}))
          << field << " := " << exp;
    }
    // An expression that fails on a later record stops there.
    ui_.messages.clear();
    expression("NOME", "IF(CODICE > 50, 'ok', 1)");
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Espressione non valida per questo campo."}));
    EXPECT_EQ(Column("NOME")[0], "N2          ") << "record 1 fails: nothing changed";
    EXPECT_EQ(test::ReadFileBytes(table_), before);
  });
}

TEST_F(GroupCommandsTest, IntegerAndTimeFieldsTakeOnlyExpressions) {
  ValueArray structure;
  for (auto [name, type, len] : {std::tuple{"PEZZI", "I", 4}, std::tuple{"QUANDO", "T", 8},
                                 std::tuple{"NOME", "C", 6}}) {
    structure.push_back(Value::Array({Value::String(name), Value::String(type),
                                      Value::Integer(len), Value::Integer(0)}));
  }
  const std::string path = Path("TIPI.DBF");
  ASSERT_TRUE(DBCREATE(path, structure, "DBFCDX"));
  DBCLOSEAREA();
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", path, "MK", false, false));
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::Integer(i));
  }
  DBCLOSEAREA();
  table_ = path;
  Ini("RDD", "DBFCDX");
  RunWithTable(ui_, path, [&](TWBrowse& brw) {
    const std::string before = test::ReadFileBytes(path);
    for (const char* field : {"PEZZI", "QUANDO"}) {
      ui_.dialog_scripts.push_back(Replace(field, [](Dialog& d) {
        for (const char* name : {"cVal", "dVal", "nVal", "lVal"}) {
          EXPECT_TRUE(CTL(d, name)->hidden) << "no value control for this type: " << name;
        }
      }));
      SOSTVAL(&brw);
    }
    EXPECT_EQ(test::ReadFileBytes(path), before) << "without an expression nothing changes";

    ui_.dialog_scripts.push_back(
        Replace("PEZZI", [](Dialog& d) { ScriptedUi::SetMemo(d, "cExp", "PEZZI * 1000"); }));
    SOSTVAL(&brw);
    ui_.dialog_scripts.push_back(Replace(
        "QUANDO", [](Dialog& d) { ScriptedUi::SetMemo(d, "cExp", "STOT('20250201103000')"); }));
    SOSTVAL(&brw);
    EXPECT_EQ(Column("PEZZI"), (std::vector<std::string>{test::Le32(1000), test::Le32(2000),
                                                         test::Le32(3000)}));
    DBGOTO(Value::Integer(3));
    EXPECT_EQ(ValueToText(FIELDGET(2)).substr(0, 16), "01/02/2025 10:30");
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{"0 record modificati", "0 record modificati",
                                        "3 record modificati", "3 record modificati"}));
  });
}

TEST_F(GroupCommandsTest, TheReplaceDialogShowsOneValueControlAndValueAndExpressionExcludeEachOther) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      auto shown = [&d] {
        std::string names;
        for (const char* name : {"cVal", "dVal", "nVal", "lVal"}) {
          if (!CTL(d, name)->hidden) names += name;
        }
        return names;
      };
      EXPECT_EQ(CTL(d, "cCam")->items,
                (std::vector<std::string>{"CODICE", "NOME", "CITTA", "DATA", "ATTIVO"}));
      EXPECT_EQ(shown(), "nVal") << "the first field is CODICE";
      for (const char* name : {"dVal", "nVal", "lVal"}) {
        EXPECT_EQ(CTL(d, name)->row, CTL(d, "cVal")->row);
        EXPECT_EQ(CTL(d, name)->col, CTL(d, "cVal")->col);
      }
      ScriptedUi::Choose(d, "cCam", "NOME");
      EXPECT_EQ(shown(), "cVal");
      EXPECT_EQ(CTL(d, "cVal")->max_length, 12);
      ScriptedUi::Choose(d, "cCam", "ATTIVO");
      EXPECT_EQ(shown(), "lVal");
      ScriptedUi::Choose(d, "cCam", "DATA");
      EXPECT_EQ(shown(), "dVal");

      ScriptedUi::SetMemo(d, "cExp", "DATE()");
      ScriptedUi::Type(d, "dVal", "01022025");
      EXPECT_EQ(CTL(d, "cExp")->value.str(), "") << "a value drops the expression";
      ScriptedUi::SetMemo(d, "cExp", "DATE() + 1");
      EXPECT_EQ(CTL(d, "dVal")->Val().julian(), 0) << "an expression drops the value";
      ScriptedUi::Choose(d, "cCam", "ATTIVO");
      ScriptedUi::Choose(d, "lVal", ".T.");
      EXPECT_EQ(CTL(d, "cExp")->value.str(), "");

      // Expressions and conditions that do not evaluate are refused.
      ScriptedUi::SetMemo(d, "cExp", "NOSUCHFIELD");
      EXPECT_FALSE(ui_.Press(d, kIdConferma));
      ScriptedUi::SetMemo(d, "cExp", "");
      ScriptedUi::SetMemo(d, "cFor", "CODICE +");
      EXPECT_FALSE(ui_.Press(d, kIdConferma));
      EXPECT_EQ(ui_.messages.size(), 2u);
      ui_.answers.push_back(kButtonYes);  // "Annullo le modifiche?"
      EXPECT_TRUE(ui_.Press(d, kIdAnnulla));
    });
    SOSTVAL(&brw);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Campo non valido: Espressione.",
                                                        "Campo non valido: Condizione di filtro.",
                                                        "Annullo le modifiche?"}));
    EXPECT_EQ(Column("ATTIVO")[1], "F") << "cancelled: nothing changed";
  });
}

TEST_F(GroupCommandsTest, DeleteRecordsByConditionMarksThemAndNeedsACondition) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    DBGOTO(Value::Integer(2));
    brw.Refresh();
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      EXPECT_FALSE(ui_.Press(d, kIdConferma)) << "an empty condition is refused";
      ScriptedUi::SetMemo(d, "cFor", "CODICE");
      EXPECT_FALSE(ui_.Press(d, kIdConferma)) << "a condition is logical";
      ScriptedUi::SetMemo(d, "cFor", "CODICE > 7 .OR. CODICE = 2");
      EXPECT_TRUE(ui_.Press(d, kIdConferma));
    });
    CANCREC(&brw);
    EXPECT_EQ(DeletionMarks(), " *     ***");
    EXPECT_EQ(RECNO(), 2u);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Campo non valido: Condizione.",
                                                        "Campo non valido: Condizione.",
                                                        "4 record eliminati"}));
    EXPECT_EQ(ui_.progress.front(), "open:Cancellazione record in corso...|Attenzione");
  });
}

TEST_F(GroupCommandsTest, ATableLockedElsewhereIsToldAndTheDialogComesBackAsItWas) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    OtherProgram other(table_, OtherProgram::kRecordLock, 5);
    ASSERT_TRUE(other.holding());
    ui_.dialog_scripts.push_back(
        Replace("NOME", [](Dialog& d) { ScriptedUi::SetMemo(d, "cVal", "Mario"); }));
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      EXPECT_EQ(CTL(d, "cCam")->value.str(), "NOME");
      EXPECT_EQ(CTL(d, "cVal")->value.str(), "Mario");
      other.Release();
      ui_.Press(d, kIdConferma);
    });
    SOSTVAL(&brw);
    EXPECT_EQ(Column("NOME"), std::vector<std::string>(10, "Mario       "));

    OtherProgram again(table_, OtherProgram::kRecordLock, 5);
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      ScriptedUi::SetMemo(d, "cFor", "CODICE = 1");
      ui_.Press(d, kIdConferma);
    });
    CANCREC(&brw);  // the second run of the dialog is left with Esc, keeping its condition
    EXPECT_EQ(DeletionMarks(), std::string(10, ' '));
    const std::string locked =
        "Il file (o un suo record) risulta attualmente bloccato da un altro programma. "
        "Impossibile effettuare la ";
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{locked + "sostituzione.", "10 record modificati",
                                        locked + "cancellazione.", "Annullo le modifiche?"}));
    EXPECT_EQ(ui_.dialogs.size(), 4u);
  });
}

// Replace, delete and recall by condition over a table far longer than the grid, in every
// kind of view, on the field the view is ordered or filtered by and on another one: every
// record the command selects is changed exactly once and the count is told. A model of the
// table says what each command must select: the records the view shows (deleted ones
// included) that meet the condition.
class GroupWalkTest : public AppTest, public ::testing::WithParamInterface<const char*> {
 protected:
  static constexpr uint32_t kRecords = 100000;
  struct Row {
    int64_t prezzo;
    std::string prov;
    bool deleted;
  };

  void SetUp() override {
    AppTest::SetUp();
    Ini("RDD", GetParam());
    RDDSETDEFAULT(GetParam());
  }
  // A fresh table and model, and the user's index of it on PREZZO (in a CDX bag, its second
  // tag).
  void MakeTable(const std::string& bag) {
    rows_.clear();
    std::vector<std::vector<std::string>> records;
    for (uint32_t r = 1; r <= kRecords; ++r) {
      // Prices in an order unlike the records' (7919 is prime to the count).
      const int64_t prezzo = ((int64_t{r} * 7919) % kRecords + 1) * 10;
      rows_.push_back({prezzo, r % 3 == 0 ? "CO" : "MI", false});
      records.push_back({Num(r, 7), Num(prezzo, 10), rows_.back().prov});
    }
    table_ = Path("ARTICOLI.DBF");
    WriteDbf(table_, {{"CODICE", 'N', 7, 0}, {"PREZZO", 'N', 10, 0}, {"PROV", 'C', 2, 0}},
             records);
    std::filesystem::remove(bag);
    ASSERT_TRUE(DBUSEAREA(true, GetParam(), table_, "MK", false, false));
    if (std::string(GetParam()) == "DBFCDX") ASSERT_TRUE(ORDCREATE(bag, "PROV", "PROV"));
    ASSERT_TRUE(ORDCREATE(bag, "PREZZO", "PREZZO"));
    DBCLOSEAREA();
  }
  static std::string Num(int64_t n, size_t width) {
    const std::string digits = std::to_string(n);
    return std::string(width - digits.size(), ' ') + digits;
  }
  // The table as another reader finds it in the file.
  std::vector<Row> OnDisk() const {
    const std::string bytes = test::ReadFileBytes(table_);
    const test::ParsedDbf dbf = test::ParseDbf(bytes);
    std::vector<Row> rows;
    for (uint32_t r = 0; r < dbf.header_count; ++r) {
      const size_t at =
          static_cast<size_t>(dbf.header_length) + r * static_cast<size_t>(dbf.record_length);
      rows.push_back({std::stoll(bytes.substr(at + 8, 10)), bytes.substr(at + 18, 2),
                      bytes[at] == '*'});
    }
    return rows;
  }
  static std::string Grouped(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
      if (i > 0 && (digits.size() - i) % 3 == 0) out += '.';
      out += digits[i];
    }
    return out;
  }

  std::string table_;
  std::vector<Row> rows_;  // the model, record 1 first
};

INSTANTIATE_TEST_SUITE_P(Drivers, GroupWalkTest, ::testing::Values("DBFNTX", "DBFCDX"));

TEST_P(GroupWalkTest, EveryRecordTheCommandSelectsIsChangedOnceInEveryView) {
  using Model = std::function<bool(uint32_t recno, const Row&)>;
  struct View {
    const char* name;
    std::function<void(TWBrowse&)> set;  // puts the browse in this view
    Model shows;                         // the records it shows
  };
  const bool cdx = std::string(GetParam()) == "DBFCDX";
  const std::string bag = Path(cdx ? "PREZZI.CDX" : "PREZZI.NTX");
  const Model all = [](uint32_t, const Row&) { return true; };
  const View views[] = {
      {"natural order", [](TWBrowse&) {}, all},
      {"column sort", [](TWBrowse& brw) { ORDINA(&brw, 2); }, all},
      {"opened index",
       [&](TWBrowse& brw) {
         ui_.file_results.push_back(bag);
         APRIIND(&brw);
         if (cdx) {
           ui_.dialog_scripts.push_back([this](Dialog& d) {
             ScriptedUi::Choose(d, "cTag", "PREZZO");
             ui_.Press(d, kIdConferma);
           });
           SELEZTAG(&brw);
         }
         ASSERT_EQ(ORDKEY(), "PREZZO");
       },
       all},
      {"filter",
       [&](TWBrowse& brw) {
         ui_.dialog_scripts.push_back([this](Dialog& d) {
           ScriptedUi::SetMemo(d, "cFor", "PROV = 'CO'");
           ScriptedUi::SetMemo(d, "cKey", "PREZZO");
           ui_.Press(d, kIdConferma);
         });
         FILTRA(&brw);
       },
       [](uint32_t, const Row& row) { return row.prov == "CO"; }},
  };
  struct Command {
    std::function<void(TWBrowse&)> run;
    Model selects;                  // among the records the view shows
    std::function<void(Row&)> change;
    const char* told;
  };
  const auto replace = [this](const char* field, std::function<void(Dialog&)> fill) {
    return [this, field, fill](TWBrowse& brw) {
      ui_.dialog_scripts.push_back([this, field, fill](Dialog& d) {
        ScriptedUi::Choose(d, "cCam", field);
        fill(d);
        ui_.Press(d, kIdConferma);
      });
      EXPECT_TRUE(TASTI(&brw, kVkF6, false));
    };
  };
  const auto by_condition = [this](bool recall, const char* cond) {
    return [this, recall, cond](TWBrowse& brw) {
      ui_.dialog_scripts.push_back([this, cond](Dialog& d) {
        ScriptedUi::SetMemo(d, "cFor", cond);
        ui_.Press(d, kIdConferma);
      });
      RunAction(recall ? Action::kRipristinaRecord : Action::kCancellaRecord, &brw);
    };
  };
  const Command commands[] = {
      // The field the sorted, indexed and filtered views are keyed by.
      {replace("PREZZO",
               [](Dialog& d) {
                 ScriptedUi::SetMemo(d, "cExp", "PREZZO * 2");
                 ScriptedUi::SetMemo(d, "cFor", "CODICE % 9 = 0");
               }),
       [](uint32_t r, const Row&) { return r % 9 == 0; }, [](Row& row) { row.prezzo *= 2; },
       "modificati"},
      // The field the filter's condition tests: records leave the view as they change.
      {replace("PROV",
               [](Dialog& d) {
                 ScriptedUi::SetMemo(d, "cVal", "LC");
                 ScriptedUi::SetMemo(d, "cFor", "PREZZO > 900000");
               }),
       [](uint32_t, const Row& row) { return row.prezzo > 900000; },
       [](Row& row) { row.prov = "LC"; }, "modificati"},
      {by_condition(false, "PREZZO < 900000"),
       [](uint32_t, const Row& row) { return !row.deleted && row.prezzo < 900000; },
       [](Row& row) { row.deleted = true; }, "eliminati"},
      {by_condition(true, "CODICE % 2 = 0"),
       [](uint32_t r, const Row& row) { return row.deleted && r % 2 == 0; },
       [](Row& row) { row.deleted = false; }, "richiamati"},
  };
  for (const View& view : views) {
    SCOPED_TRACE(view.name);
    MakeTable(bag);
    ui_.main_windows = 0;
    RunWithTable(ui_, table_, [&](TWBrowse& brw) {
      view.set(brw);
      for (const Command& command : commands) {
        SCOPED_TRACE(command.told);
        uint64_t selected = 0;
        for (uint32_t r = 1; r <= kRecords; ++r) {
          Row& row = rows_[r - 1];
          if (view.shows(r, row) && command.selects(r, row)) {
            command.change(row);
            ++selected;
          }
        }
        ASSERT_GT(selected, 1000u) << "far more records than the grid shows";
        ui_.messages.clear();
        command.run(brw);
        EXPECT_EQ(MessageTexts(),
                  std::vector<std::string>{Grouped(selected) + " record " + command.told});
        const std::vector<Row> disk = OnDisk();
        ASSERT_EQ(disk.size(), rows_.size());
        uint32_t wrong = 0, first = 0;
        for (uint32_t r = 1; r <= kRecords; ++r) {
          const Row &want = rows_[r - 1], &got = disk[r - 1];
          if (got.prezzo != want.prezzo || got.prov != want.prov || got.deleted != want.deleted) {
            if (!wrong++) first = r;
          }
        }
        EXPECT_EQ(wrong, 0u) << "first wrong record " << first;
      }
    });
  }
}

}  // namespace
}  // namespace vosk
