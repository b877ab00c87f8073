// The record commands through the scripted Ui: append, duplicate, delete and recall, checked
// in the table file read without the engine; locks held by another process; a full disk; a
// read-only table.

#include "app/record_commands.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/browse_view.h"
#include "app/other_program.h"
#include "app/twbrowse.h"
#include "rdd/db_commands.h"
#include "rdd/rdd_fixture.h"
#include "support/dbf_image.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

class RecordCommandsTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    table_ = MakeClienti();
  }
  // What another reader finds in the file.
  uint32_t Count() const { return test::ParseDbf(test::ReadFileBytes(table_)).header_count; }
  std::string Field(uint32_t recno, const std::string& name) const {
    return test::FieldBytes(test::ReadFileBytes(table_), recno, name);
  }
  char DeletionByte(uint32_t recno) const {
    const std::string bytes = test::ReadFileBytes(table_);
    const test::ParsedDbf dbf = test::ParseDbf(bytes);
    return bytes.at(static_cast<size_t>(dbf.header_length) +
                    (recno - 1) * static_cast<size_t>(dbf.record_length));
  }
  void Go(TWBrowse& brw, uint32_t recno) {
    DBGOTO(Value::Integer(recno));
    brw.Refresh();
  }

  std::string table_;
};

TEST_F(RecordCommandsTest, InsertAppendsABlankRecordAndCtrlDCopiesTheCurrentOne) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    Go(brw, 3);
    EXPECT_TRUE(TASTI(&brw, kVkInsert, false));
    EXPECT_EQ(Count(), 11u);
    EXPECT_EQ(RECNO(), 11u) << "the browse shows the new record";
    EXPECT_EQ(Field(11, "CODICE"), "    ");
    EXPECT_EQ(Field(11, "NOME"), std::string(12, ' '));

    Go(brw, 3);
    EXPECT_TRUE(TASTI(&brw, 'D', true));
    EXPECT_EQ(Count(), 12u);
    EXPECT_EQ(RECNO(), 12u);
    for (const char* name : {"CODICE", "NOME", "CITTA", "DATA", "ATTIVO"}) {
      EXPECT_EQ(Field(12, name), Field(3, name)) << name;
    }

    // Standing after the last record, the copy is blank.
    DBGOBOTTOM();
    DBSKIP(1);
    ASSERT_TRUE(EOF_());
    EXPECT_TRUE(TASTI(&brw, 'D', true));
    EXPECT_EQ(Count(), 13u);
    EXPECT_EQ(Field(13, "CODICE"), "   0") << "an empty number is written as 0";
    EXPECT_EQ(Field(13, "NOME"), std::string(12, ' '));
    EXPECT_EQ(Field(13, "DATA"), std::string(8, ' '));
    EXPECT_FALSE(TASTI(&brw, 'D', false)) << "D alone is a letter for the grid";
    EXPECT_TRUE(MessageTexts().empty());
  });
}

TEST_F(RecordCommandsTest, DeleteThenDeleteAgainRecallsAndALockElsewhereIsNamed) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    Go(brw, 4);
    TASTI(&brw, kVkDelete, false);
    EXPECT_EQ(DeletionByte(4), '*');
    EXPECT_EQ(RECNO(), 4u) << "deleted records stay in view";
    TASTI(&brw, kVkDelete, false);
    EXPECT_EQ(DeletionByte(4), ' ');

    const std::string locked =
        "Il record risulta attualmente bloccato da un altro programma. Impossibile ";
    {
      OtherProgram other(table_, OtherProgram::kRecordLock, 4);
      ASSERT_TRUE(other.holding());
      TASTI(&brw, kVkDelete, false);
      EXPECT_EQ(DeletionByte(4), ' ');
    }
    TASTI(&brw, kVkDelete, false);
    EXPECT_EQ(DeletionByte(4), '*');
    {
      OtherProgram other(table_, OtherProgram::kRecordLock, 4);
      ASSERT_TRUE(other.holding());
      TASTI(&brw, kVkDelete, false);
      EXPECT_EQ(DeletionByte(4), '*');
    }
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{locked + "cancellarlo.", locked + "ripristinarlo."}));
  });
}

TEST_F(RecordCommandsTest, AppendWaitsForAnotherProgramsTableLockUnderTheBusyPopUp) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    // Let go within the first 3 seconds: no pop-up.
    {
      OtherProgram other(table_, OtherProgram::kTableLock);
      ASSERT_TRUE(other.holding());
      ui_.on_process_events = [&] { other.Release(); };
      TASTI(&brw, kVkInsert, false);
      ui_.on_process_events = nullptr;
    }
    EXPECT_EQ(Count(), 11u);
    EXPECT_TRUE(ui_.progress.empty());

    // Held longer: after 3 seconds the busy pop-up shows until the append is done.
    {
      OtherProgram other(table_, OtherProgram::kTableLock);
      ASSERT_TRUE(other.holding());
      ui_.on_process_events = [&] {
        if (!ui_.progress.empty()) other.Release();
      };
      TASTI(&brw, kVkInsert, false);
      ui_.on_process_events = nullptr;
    }
    EXPECT_EQ(Count(), 12u);
    EXPECT_EQ(ui_.progress, (std::vector<std::string>{
                                Ansi("open:Il sistema è momentaneamente occupato...|Attenzione"),
                                "close"}));
    EXPECT_TRUE(MessageTexts().empty());
  });
}

TEST_F(RecordCommandsTest, AFullDiskAbandonsTheAppendWithAMessage) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    const std::string before = test::ReadFileBytes(table_);
    {
      FileSizeLimit limit(before.size());
      ASSERT_TRUE(limit.ok());
      EXPECT_THROW(TASTI(&brw, kVkInsert, false), Abandon);
    }
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Spazio sul disco " + table_ +
                                                 " insufficiente."}));
    EXPECT_TRUE(ui_.mails.empty());
    // The table is still sound: the next append works.
    ui_.messages.clear();
    TASTI(&brw, kVkInsert, false);
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_EQ(Field(1, "NOME"), "Cliente 1   ");
    EXPECT_EQ(test::ReadFileBytes(table_).size(),
              before.size() + static_cast<size_t>(test::ParseDbf(before).record_length) * Count() -
                  static_cast<size_t>(test::ParseDbf(before).record_length) * 10);
  });
}

TEST_F(RecordCommandsTest, ADuplicateHasItsOwnCopyOfTheMemo) {
  ValueArray structure;
  for (auto [name, type, len] : {std::tuple{"NOME", "C", 8}, std::tuple{"NOTE", "M", 10}}) {
    structure.push_back(Value::Array({Value::String(name), Value::String(type),
                                      Value::Integer(len), Value::Integer(0)}));
  }
  table_ = Path("NOTE.DBF");
  ASSERT_TRUE(DBCREATE(table_, structure, "DBFNTX"));
  DBCLOSEAREA();
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", table_, "MK", false, false));
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String("Anna"));
  FIELDPUT(2, Value::String(std::string(700, 'm'), true));  // two blocks
  DBCLOSEAREA();
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    Go(brw, 1);
    TASTI(&brw, 'D', true);
    EXPECT_EQ(RECNO(), 2u);
    ASSERT_TRUE(RLOCK());
    FIELDPUT(2, Value::String("changed", true));  // the copy changes, the original does not
    DBCOMMIT();
    DBUNLOCK();
    ASSERT_TRUE(DBUSEAREA(true, "", table_, "ALTRO", true, true));
    DBGOTO(Value::Integer(1));
    EXPECT_EQ(FIELDGET(2).str(), std::string(700, 'm'));
    DBGOTO(Value::Integer(2));
    EXPECT_EQ(FIELDGET(1).str(), "Anna    ");
    EXPECT_EQ(FIELDGET(2).str(), "changed");
    DBCLOSEAREA();
    DBSELECTAREA("DBF");
    EXPECT_NE(Field(1, "NOTE"), Field(2, "NOTE")) << "each record points to its own block";
    EXPECT_TRUE(MessageTexts().empty());
  });
}

}  // namespace
}  // namespace vosk
