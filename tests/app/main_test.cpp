// MAIN: from the command-line argument to the open current table, or to the message that ends
// the program.

#include <gtest/gtest.h>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

class MainTest : public AppTest {
 protected:
  // Runs MAIN; inside the window's place records what the window would have been built on.
  void RunMain(const std::string& arg) {
    ui_.on_main_window = [this] {
      in_window_ = true;
      alias_ = ALIAS();
      fields_ = FCOUNT();
      memo_ext_ = RDDINFO(6).str();
      title_ = MainWindowTitle();
    };
    MAIN(arg);
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : ui_.messages) t.push_back(m.text);
    return t;
  }

  bool in_window_ = false;
  std::string alias_, memo_ext_, title_;
  int fields_ = -1;
};

TEST_F(MainTest, OpensTableGivenWithoutExtensionAndClosesItAfterTheWindow) {
  MakeClienti();
  RunMain("CLIENTI");
  EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
  ASSERT_TRUE(in_window_);
  EXPECT_EQ(alias_, "DBF");
  EXPECT_EQ(fields_, 5);
  EXPECT_EQ(CurTable().cCurTable, Path("CLIENTI.DBF"));
  EXPECT_EQ(title_, "VOSK Software DBU - " + Path("CLIENTI.DBF"));
  EXPECT_EQ(CurTable().aViewCols, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(SELECT(Value::String("DBF")), 0) << "the table is closed when the window ends";
}

// The end of the program, after the window's CLOSEALL (whatever it left) and before the Ui
// goes: nothing is left open, and no error reaches the Ui any more.
TEST_F(MainTest, EndOfProgramLeavesNothingOpenNorAHandlerOnTheUi) {
  MakeClienti();
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", Path("CLIENTI.DBF"), "UNO", true, false));
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", Path("CLIENTI.DBF"), "DUE", true, true));
  EndOfProgram();
  EXPECT_EQ(SELECT(Value::String("UNO")), 0) << "nothing left open";
  EXPECT_EQ(SELECT(Value::String("DUE")), 0);
  RuntimeError e;
  e.gen_code = kEgCorruption;
  e.sub_code = kEdfCorrupt;
  e.file_name = Path("CLIENTI.DBF");
  EXPECT_THROW(RaiseError(e), Abandon);
  EXPECT_TRUE(ui_.messages.empty()) << "no message after the end";
  EXPECT_TRUE(ui_.mails.empty());
}

TEST_F(MainTest, RelativeNameWithDotStepsBecomesFullPath) {
  MakeClienti();
  std::filesystem::create_directory(Path("sub"));
  RunMain("./sub/../CLIENTI.DBF");
  ASSERT_TRUE(in_window_);
  EXPECT_EQ(CurTable().cCurTable, Path("CLIENTI.DBF"));
}

TEST_F(MainTest, MissingTableEndsWithItsMessage) {
  RunMain("NESSUNA");
  EXPECT_FALSE(in_window_);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Impossibile trovare il file " + Path("NESSUNA.DBF") + ".");
  EXPECT_EQ(ui_.messages[0].title, "Attenzione");
  EXPECT_EQ(ui_.messages[0].kind, MessageKind::kInformation);
}

TEST_F(MainTest, TableWithoutFieldsEndsWithThreeLineMessage) {
  WriteDbf(Path("VUOTA.DBF"), {}, {});
  RunMain("VUOTA.DBF");
  EXPECT_FALSE(in_window_);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text,
            "Impossibile aprire il file\n" + Path("VUOTA.DBF") + Ansi("\nperché privo di campi."));
  EXPECT_EQ(SELECT(Value::String("DBF")), 0);
}

TEST_F(MainTest, CorruptTableEndsWithAMessage) {
  std::ofstream(Path("ROTTA.DBF"), std::ios::binary) << std::string("\x03garbage", 8);
  RunMain("ROTTA.DBF");
  EXPECT_FALSE(in_window_);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].text.find("ROTTA.DBF"), std::string::npos) << ui_.messages[0].text;
}

// No name, ".", ".." and a cancelled dialog all lead to the creation question; creating a table
// is not possible yet, so OK ends the program as Cancel does.
TEST_F(MainTest, NoTableAsksToCreateOneAndEnds) {
  struct Case {
    const char* arg;
    size_t dialogs;
    int answer;
  } cases[] = {{"", 1, kButtonCancel}, {".", 0, kButtonCancel}, {"..", 0, kButtonOk}};
  for (const Case& c : cases) {
    ui_.messages.clear();
    ui_.file_dialogs.clear();
    ui_.answers = {c.answer};
    RunMain(c.arg);
    SCOPED_TRACE(c.arg);
    EXPECT_FALSE(in_window_);
    ASSERT_EQ(ui_.file_dialogs.size(), c.dialogs);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text, "Vuoi creare una nuova tabella?");
    EXPECT_EQ(ui_.messages[0].kind, MessageKind::kOkCancel);
  }
  EXPECT_EQ(ui_.beeps, 3);
}

TEST_F(MainTest, FileDialogChoiceIsOpened) {
  MakeClienti();
  ui_.file_results = {Path("CLIENTI.DBF")};
  RunMain("");
  ASSERT_EQ(ui_.file_dialogs.size(), 1u);
  EXPECT_EQ(ui_.file_dialogs[0].filter, "File DBF (*.DBF)|*.DBF");
  EXPECT_EQ(ui_.file_dialogs[0].title, "Apri tabella...");
  EXPECT_EQ(ui_.file_dialogs[0].initial_dir, dir_);
  EXPECT_TRUE(in_window_);
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(MainTest, SettingsOfTheIniFileAndTheRuntime) {
  MakeClienti();
  Ini("RDD", "DBFCDX");
  Ini("Memo", "2");
  RunMain("CLIENTI");
  ASSERT_TRUE(in_window_);
  EXPECT_EQ(RDDSETDEFAULT(), "DBFCDX");
  EXPECT_EQ(RDDINFO(14).integer(), 2);
  EXPECT_EQ(memo_ext_, ".FPT");
  EXPECT_FALSE(GlobalSettings().autopen());
  EXPECT_FALSE(GlobalSettings().deleted()) << "deleted records are shown";
  EXPECT_TRUE(GlobalSettings().century());
}

TEST_F(MainTest, MemoFilesBesideTheTableChooseTheExtension) {
  struct Case {
    bool dbt, fpt;
    const char* memo;  // "Memo" of the INI file
    const char* expected;
  } cases[] = {
      {false, false, "2", ".FPT"},
      {true, false, "2", ".DBT"},
      {false, true, "1", ".FPT"},
      {true, true, "1", ".FPT"},
  };
  MakeClienti();
  for (const Case& c : cases) {
    std::filesystem::remove(Path("CLIENTI.DBT"));
    std::filesystem::remove(Path("CLIENTI.FPT"));
    if (c.dbt) std::ofstream(Path("CLIENTI.DBT")) << "";
    if (c.fpt) std::ofstream(Path("CLIENTI.FPT")) << "";
    Ini("Memo", c.memo);
    in_window_ = false;
    RunMain("CLIENTI");
    SCOPED_TRACE(std::string(c.dbt ? "DBT " : "") + (c.fpt ? "FPT " : "") + c.memo);
    EXPECT_TRUE(in_window_);
    EXPECT_EQ(memo_ext_, c.expected);
  }
}

TEST_F(MainTest, MakerSwitchKeepsDbtExtension) {
  MakeClienti();
  Ini("Memo", "2");
  Ini("Vosk", "Si");
  RunMain("CLIENTI");
  EXPECT_EQ(memo_ext_, ".DBT");
}

}  // namespace
}  // namespace vosk
