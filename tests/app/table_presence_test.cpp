// The table's file removed or replaced by another program while it is open: told at the refresh
// timer (once), at F5 (every time), and saved again or opened anew as the user chooses.

#include "app/table_presence.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/twbrowse.h"
#include "rdd/db_commands.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

class TablePresenceTest : public AppTest {};

TEST_F(TablePresenceTest, ARemovedTableIsToldOnceByTheTimerAndSavedAgainOnRequest) {
  const std::string table = MakeClienti();
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    EXPECT_TRUE(TABLEPRESENT(&brw, true));
    EXPECT_TRUE(ui_.messages.empty());
    ASSERT_TRUE(std::filesystem::remove(table));
    ui_.answers = {kButtonNo};
    EXPECT_FALSE(TABLEPRESENT(&brw, true));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_NE(ui_.messages[0].text.find("eliminato da un altro programma"), std::string::npos);
    EXPECT_FALSE(TABLEPRESENT(&brw, true)) << "the timer does not ask again";
    EXPECT_EQ(ui_.messages.size(), 1u);
    // F5 asks again; saved, the table is back at its path with every record, and open there.
    ui_.answers = {kButtonYes};
    EXPECT_TRUE(TABLEPRESENT(&brw));
    ASSERT_EQ(ui_.messages.size(), 3u);
    EXPECT_EQ(ui_.messages[2].text, Ansi("La tabella è stata salvata di nuovo nel file ") + table + ".");
    EXPECT_TRUE(OpenTableAtItsPath());
    EXPECT_EQ(LASTREC(), 10u);
    // What is written now goes to the file at the path.
    ASSERT_TRUE(DBAPPEND());
    DBCOMMIT();
    DBUNLOCK();
    EXPECT_EQ(std::filesystem::file_size(table), 32u * 6 + 1 + 11 * 36 + 1);
  });
}

TEST_F(TablePresenceTest, AReplacedTableIsOpenedAnewOnRequest) {
  const std::string table = MakeClienti();
  WriteDbf(Path("ALTRA.DBF"), {{"ALTRO", 'C', 5, 0}}, {{"abcde"}});
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    std::filesystem::remove(table);
    std::filesystem::copy_file(Path("ALTRA.DBF"), table);
    ui_.answers = {kButtonYes};
    EXPECT_TRUE(TABLEPRESENT(&brw));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_NE(ui_.messages[0].text.find("sostituito da un altro programma"), std::string::npos);
    EXPECT_EQ(LASTREC(), 1u);
  });
}

}  // namespace
}  // namespace vosk
