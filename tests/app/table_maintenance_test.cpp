// Zap and pack of the current table through the scripted Ui: the question, the test that no
// other process has the table open (a real second process), the rewrite, a full disk in the
// middle; the open order bags kept across a zap; every record command refusing a read-only
// table before it asks anything.

#include "app/table_maintenance.h"

#include <gtest/gtest.h>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/browse_view.h"
#include "app/group_commands.h"
#include "app/other_program.h"
#include "app/record_commands.h"
#include "app/twbrowse.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/rdd_fixture.h"
#include "support/dbf_image.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

class TableMaintenanceTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Ini("RDD", "DBFNTX");
    table_ = MakeClienti();
  }
  // The CODICE of every record in the file, '*' before a deleted one.
  std::vector<std::string> Records() const {
    const std::string bytes = test::ReadFileBytes(table_);
    const test::ParsedDbf dbf = test::ParseDbf(bytes);
    std::vector<std::string> out;
    for (uint32_t r = 1; r <= dbf.header_count; ++r) {
      const char mark = bytes.at(static_cast<size_t>(dbf.header_length) +
                                 (r - 1) * static_cast<size_t>(dbf.record_length));
      out.push_back((mark == '*' ? "*" : "") + test::FieldBytes(bytes, r, "CODICE"));
    }
    return out;
  }
  // The table is open shared in the browse's work area: another program can open it too.
  void ExpectOpenShared() {
    EXPECT_EQ(ALIAS(), "DBF");
    EXPECT_FALSE(DBINFO(129).logical()) << "not read-only";
    OtherProgram other(table_, OtherProgram::kShared);
    EXPECT_TRUE(other.holding());
  }

  std::string table_;
};

TEST_F(TableMaintenanceTest, PackDropsDeletedRecordsAndZapEmptiesTheTableAfterTheQuestion) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    for (uint32_t r : {2u, 5u, 6u}) {
      DBGOTO(Value::Integer(r));
      ELIMREC(&brw);
    }
    CurTable().cCurFilter = "CODICE > 1";  // what the user had chosen is dropped
    COMPATTA(&brw);  // Cancel
    EXPECT_EQ(Records().size(), 10u);
    ui_.answers = {kButtonOk};
    COMPATTA(&brw);
    EXPECT_EQ(Records(),
              (std::vector<std::string>{"   1", "   3", "   4", "   7", "   8", "   9", "  10"}));
    EXPECT_FALSE(CurTable().cCurFilter.has_value());
    EXPECT_EQ(ui_.progress.front(), "open:Compattazione tabella in corso...|Attenzione");
    EXPECT_EQ(ui_.progress.back(), "close");
    ExpectOpenShared();

    ui_.answers = {kButtonOk};
    SVUOTA(&brw);
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(LASTREC(), 0u);
    EXPECT_TRUE(EOF_());
    ExpectOpenShared();
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Confermi il PACK della tabella?",
                                                 "Confermi il PACK della tabella?",
                                                 "Confermi lo ZAP della tabella?"}));
  });
}

TEST_F(TableMaintenanceTest, ZapAndPackAreRefusedWhileAnotherProcessHasTheTableOpen) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    DBGOTO(Value::Integer(3));
    ELIMREC(&brw);
    const std::string before = test::ReadFileBytes(table_);
    {
      OtherProgram other(table_, OtherProgram::kShared);
      ASSERT_TRUE(other.holding());
      EXPECT_FALSE(OKEXCL(&brw, table_));
      ui_.answers = {kButtonOk, kButtonOk, kButtonOk, kButtonOk};
      SVUOTA(&brw);
      COMPATTA(&brw);
      EXPECT_EQ(test::ReadFileBytes(table_), before);
      EXPECT_EQ(RECNO(), 3u) << "back on the record it was on";
    }
    EXPECT_TRUE(OKEXCL(&brw, table_));
    EXPECT_TRUE(NETUSED(table_)) << "this program has it open";
    EXPECT_FALSE(NETUSED(Path("NONE")));
    const std::string open = "La tabella risulta attualmente aperta da un altro programma. ";
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Confermi lo ZAP della tabella?",
                                                 open + "Impossibile svuotarla.",
                                                 "Confermi il PACK della tabella?",
                                                 open + "Impossibile compattarla."}));
    ui_.answers = {kButtonOk};
    COMPATTA(&brw);
    EXPECT_EQ(Records().size(), 9u) << "once the other program is gone";
  });
}

TEST_F(TableMaintenanceTest, AFullDiskDuringThePackIsToldAndLeavesTheTableAsItWas) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    DBGOTO(Value::Integer(3));
    ELIMREC(&brw);
    const std::string before = test::ReadFileBytes(table_);
    {
      FileSizeLimit limit(200);  // the new table file does not fit
      ASSERT_TRUE(limit.ok());
      ui_.answers = {kButtonOk};
      COMPATTA(&brw);
    }
    EXPECT_EQ(MessageTexts().size(), 2u);
    EXPECT_NE(MessageTexts().back().find(" insufficiente."), std::string::npos) << MessageTexts().back();
    EXPECT_EQ(MessageTexts().back().rfind("Spazio sul disco ", 0), 0u) << MessageTexts().back();
    EXPECT_TRUE(ui_.mails.empty()) << "no error report";
    EXPECT_EQ(test::ReadFileBytes(table_), before);
    ExpectOpenShared();
    ui_.answers = {kButtonOk};
    COMPATTA(&brw);
    EXPECT_EQ(Records().size(), 9u);
  });
}

// Zap and pack of an enciphered table without its password, or with another one, are refused
// with a message before anything is written; with its password the pack goes.
TEST_F(TableMaintenanceTest, ZapAndPackOfAnEncipheredTableWantItsPassword) {
  ASSERT_TRUE(DBUSEAREA(true, "DBF", table_, "CIPH", false, false));
  ASSERT_TRUE(DBINFO(140, Value::String("segreto")).logical());
  DBCLOSEAREA();
  const std::string before = test::ReadFileBytes(table_);
  const auto set_password = [](const std::string& password) {
    CurTable().cPassword = password;
    DBINFO(kDbiPassword, Value::String(password));
  };
  const struct {
    const char* password;
    std::string message;
  } cases[] = {
      {"", Ansi(" è crittata: per modificarla serve la sua password.")},
      {"sbagliata", Ansi("La password impostata non è quella della tabella ")},
  };
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.password);
      set_password(c.password);
      ui_.messages.clear();
      ui_.answers = {kButtonOk};
      COMPATTA(&brw);
      ui_.answers = {kButtonOk};
      SVUOTA(&brw);
      const std::vector<std::string> told = MessageTexts();
      ASSERT_EQ(told.size(), 4u);
      for (size_t i : {1u, 3u}) {
        EXPECT_NE(told[i].find(c.message), std::string::npos) << told[i];
      }
      EXPECT_TRUE(ui_.mails.empty()) << "no error report";
      EXPECT_EQ(test::ReadFileBytes(table_), before);
    }
    set_password("segreto");
    DBGOTO(Value::Integer(2));
    ELIMREC(&brw);
    ui_.answers = {kButtonOk};
    COMPATTA(&brw);
    EXPECT_EQ(LASTREC(), 9u);
    DBGOTO(Value::Integer(2));
    EXPECT_EQ(FIELDGET(1).number(), 3);
  });
}

TEST_F(TableMaintenanceTest, AZapKeepsTheOpenBagsTheControllingOrderAndItsScope) {
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", table_, "DBF", false, false));
  ASSERT_TRUE(ORDCREATE(Path("CODICE.NTX"), "", "CODICE"));
  ASSERT_TRUE(ORDCREATE(Path("NOME.NTX"), "", "NOME"));
  CurTable().cCurTable = table_;
  ORDLISTCLEAR();
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("CODICE.NTX"))));
  ORDADD(Path("NOME"));  // the extension is added
  ORDSETFOCUS(Value::Integer(2));
  ORDSCOPE(0, Value::String("C"));
  EXPECT_EQ(ORDLIST(), (std::vector<std::string>{Path("CODICE.NTX"), Path("NOME.NTX")}));
  EXPECT_EQ(ORDLIST(Path("CODICE")), (std::vector<std::string>{Path("NOME.NTX")}));
  DBZAPKEEP();
  EXPECT_EQ(LASTREC(), 0u);
  EXPECT_EQ(ORDCOUNT(), 2);
  EXPECT_EQ(ORDSETFOCUS(), "NOME");
  EXPECT_EQ(ORDSCOPE(0).str(), "C");
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(2, Value::String("Zeta"));
  DBCOMMIT();
  EXPECT_EQ(ORDKEYCOUNT(), 1) << "the emptied order takes new keys";
  DBCLOSEAREA();
}

TEST_F(TableMaintenanceTest, EveryRecordCommandRefusesAReadOnlyTableBeforeAskingAnything) {
  const struct {
    const char* name;
    void (*command)(Browse*);
  } commands[] = {
      {"NUOVOREC", [](Browse* b) { NUOVOREC(b); }},
      {"duplicate", [](Browse* b) { NUOVOREC(b, true); }},
      {"ELIMREC", &ELIMREC},
      {"SOSTVAL", &SOSTVAL},
      {"CANCREC", &CANCREC},
      {"SVUOTA", &SVUOTA},
      {"COMPATTA", &COMPATTA},
  };
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    CurTable().lReadOnly = true;
    DBUSEAREA(false, "", table_, "DBF", true, true);  // as a read-only open leaves it
    REBUILDBRW(&brw);
    const std::string before = test::ReadFileBytes(table_);
    for (const auto& c : commands) {
      ui_.messages.clear();
      ui_.answers = {kButtonOk};
      c.command(&brw);
      EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"La tabella " + table_ +
                                                   Ansi(" è aperta in sola lettura: impossibile "
                                                        "modificarla.")}))
          << c.name;
    }
    EXPECT_TRUE(ui_.dialogs.empty());
    EXPECT_EQ(test::ReadFileBytes(table_), before);
  });
}

}  // namespace
}  // namespace vosk
