// Pack and zap killed at any moment (SIGKILL, from outside or at a chosen step) leave either
// the table as it was or the table as rewritten, never a mix; the next open finds it so and
// leaves no file of the killed rewrite behind.

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "memo_test_support.h"
#include "platform/system.h"
#include "rdd/ord_commands.h"

namespace vosk {
namespace {

namespace fs = std::filesystem;

// One record as a reader sees it.
struct Row {
  bool deleted;
  int id;
  std::string note;
  bool operator==(const Row&) const = default;
};

class RewriteKillTest : public MemoTest {
 public:
  struct Kind {
    const char* label;
    MemoSetup setup;
    const char* memo_ext;  // "" : no memo file
  };

 protected:
  std::string base_ = "t";  // the table's name without extension

  // Clears the folder and builds the table anew (see Build).
  void Fresh(const Kind& k, int n) {
    fs::remove_all(Path("orig"));
    for (const auto& e : fs::directory_iterator(dir_.File("."))) fs::remove_all(e.path());
    Build(k, n);
  }

  // Pack killed at each crash point; *seen_after counts the runs that found the pack done.
  void PackKilledAtEachPoint(const Kind& k, const std::vector<Row>& before, int* killed,
                             int* seen_after) {
    std::vector<Row> after;
    for (const Row& r : before) {
      if (!r.deleted) after.push_back(r);
    }
    for (const char* point : {"rewrite-memo:1", "rewrite-memo:150", "rewrite-record:1",
                              "rewrite-record:299", "rewrite-built", "rewrite-journal",
                              "rewrite-swap:1", "rewrite-swap:2"}) {
      SCOPED_TRACE(point);
      Restore();
      if (KilledRewrite(false, point, 0)) ++*killed;
      ExpectWholeState(before, after, *k.memo_ext, seen_after);
    }
  }

  static std::string Note(int i) {
    return std::string(static_cast<size_t>(20 + (i * 37) % 700), static_cast<char>('a' + i % 26)) +
           std::to_string(i);
  }

  // A table of n records with an NTX order on ID; every third record deleted.
  void Build(const Kind& k, int n) {
    std::vector<FieldRow> rows = {{"ID", "N", 6, 0}, {"NAME", "C", 12, 0}};
    if (*k.memo_ext) rows.push_back({"NOTE", "M", 10, 0});
    CreateOpen(base_ + ".dbf", rows, k.setup, "T");
    for (int i = 1; i <= n; ++i) {
      Append();
      FIELDPUT(1, Value::Integer(i));
      FIELDPUT(2, Value::String("name" + std::to_string(i)));
      if (*k.memo_ext) FIELDPUT(3, Value::String(Note(i)));
      if (i % 3 == 0) DBDELETE();
    }
    DBCLOSEAREA();
    ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", Path(base_ + ".dbf"), "T", false, false)) << ErrorText();
    ASSERT_TRUE(ORDCREATE(Path("t_id.ntx"), "T_ID", "ID")) << ErrorText();
    DBCLOSEALL();
    fs::create_directories(Path("orig"));
    for (const auto& e : fs::directory_iterator(dir_.File("."))) {
      if (e.is_regular_file()) fs::copy_file(e.path(), fs::path(Path("orig")) / e.path().filename());
    }
  }
  void Restore() {
    for (const auto& e : fs::directory_iterator(dir_.File("."))) {
      if (e.is_regular_file()) fs::remove(e.path());
    }
    for (const auto& e : fs::directory_iterator(Path("orig"))) {
      fs::copy_file(e.path(), dir_.File(e.path().filename().string()));
    }
  }

  // Every record of the table, in record order.
  std::vector<Row> Rows(bool with_memo) {
    std::vector<Row> out;
    EXPECT_TRUE(DBUSEAREA(true, "DBFNTX", Path(base_ + ".dbf"), "T", false, false)) << ErrorText();
    for (uint32_t r = 1; r <= LASTREC(); ++r) {
      DBGOTO(Value::Integer(r));
      out.push_back({DELETED(), static_cast<int>(FIELDGET(1).number()),
                     with_memo ? FIELDGET(3).str() : std::string()});
    }
    return out;
  }

  // Runs pack or zap in a child that is killed at a crash point (point non-empty) or after
  // delay_us microseconds; true when the child was killed.
  bool KilledRewrite(bool zap, const std::string& point, int delay_us) {
    pid_t pid = fork();
    if (pid == 0) {
      if (!point.empty()) setenv("VOSK_CRASH_AT", point.c_str(), 1);
      bool ok = DBUSEAREA(true, "DBFNTX", Path(base_ + ".dbf"), "T", false, false) &&
                ORDLISTADD(Value::String(Path("t_id.ntx"))) && (zap ? DBZAP() : DBPACK());
      _exit(ok ? 0 : 1);
    }
    if (point.empty()) {
      SleepMillis(delay_us / 1000);
      kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

  // After a killed rewrite: the table is either `before` or `after`, and nothing of the
  // rewrite is left beside it.
  void ExpectWholeState(const std::vector<Row>& before, const std::vector<Row>& after,
                        bool with_memo, int* seen_after) {
    std::vector<Row> now = Rows(with_memo);
    EXPECT_TRUE(errors_.empty()) << ErrorText();
    bool rewritten = now == after;
    if (rewritten) {
      ++*seen_after;
    } else {
      EXPECT_EQ(now.size(), before.size());
      EXPECT_TRUE(now == before) << "the table is neither as it was nor as rewritten";
    }
    // The order opens with the table; only a kill inside its rebuild after the swap may leave
    // it damaged, and then it says so (a reindex mends it).
    if (!ORDLISTADD(Value::String(Path("t_id.ntx")))) {
      EXPECT_TRUE(rewritten);
      EXPECT_TRUE(HasError(kEgCorruption, kEdfCorrupt)) << ErrorText();
    }
    errors_.clear();
    DBCLOSEALL();
    for (const std::string& name : ListDirectory(dir_.File("."))) {
      EXPECT_EQ(name.find("vosk-"), std::string::npos) << name << " left behind";
    }
  }
};

const RewriteKillTest::Kind kKinds[] = {
    {"FPT", {.memo_kind = 2, .variant = 3, .block_size = 64}, ".fpt"},
    {"DBT", {.memo_kind = 1}, ".dbt"},
    {"no memo", {.memo_kind = 2}, ""},
};

TEST_F(RewriteKillTest, PackKilledAtEveryStepLeavesTheTableWhole) {
  constexpr int kRecords = 300;
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.label);
    Fresh(k, kRecords);
    const bool memo = *k.memo_ext;
    std::vector<Row> before = Rows(memo);
    DBCLOSEALL();
    std::vector<Row> after;
    for (const Row& r : before) {
      if (!r.deleted) after.push_back(r);
    }
    int seen_after = 0, killed = 0;
    PackKilledAtEachPoint(k, before, &killed, &seen_after);
    EXPECT_GE(killed, memo ? 8 : 5);  // the memo pass exists only with a memo file
    EXPECT_GE(seen_after, 2);         // kills after the journal finish the swap
    // Kills from outside at random moments.
    std::mt19937 random(7);
    for (int i = 0; i < 6; ++i) {
      Restore();
      int delay = static_cast<int>(random() % 40000);
      SCOPED_TRACE("kill after " + std::to_string(delay) + " us");
      KilledRewrite(false, "", delay);
      ExpectWholeState(before, after, memo, &seen_after);
    }
  }
}

TEST_F(RewriteKillTest, ZapKilledAtEveryStepLeavesTheTableWhole) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.label);
    Fresh(k, 40);
    const bool memo = *k.memo_ext;
    std::vector<Row> before = Rows(memo);
    DBCLOSEALL();
    int seen_after = 0;
    for (const char* point : {"rewrite-built", "rewrite-journal", "rewrite-swap:1", "rewrite-swap:2"}) {
      SCOPED_TRACE(point);
      Restore();
      // Without a memo file there is no second file to swap.
      bool killed = KilledRewrite(true, point, 0);
      EXPECT_TRUE(killed || (!memo && std::string(point) == "rewrite-swap:2"));
      ExpectWholeState(before, {}, memo, &seen_after);
    }
    EXPECT_EQ(seen_after, 3);
    if (*k.memo_ext) {
      // The memo file of the zapped table holds its header only.
      EXPECT_LE(fs::file_size(Path(base_ + k.memo_ext)), 1024u);
    }
  }
}

// The swap's journal holds any file name: a table whose name has a tab and a line break, its
// pack killed between the renames of table and memo file, is finished at the next open and
// every memo stays with its record.
TEST_F(RewriteKillTest, PackOfATableWithATabAndALineBreakInItsNameIsFinishedOrUndone) {
  base_ = "t\tab\nline";
  const Kind& k = kKinds[0];
  Fresh(k, 300);
  std::vector<Row> before = Rows(true);
  DBCLOSEALL();
  int seen_after = 0, killed = 0;
  PackKilledAtEachPoint(k, before, &killed, &seen_after);
  EXPECT_EQ(killed, 8);
  EXPECT_GE(seen_after, 3);  // the journal, then each of the two renames
}

}  // namespace
}  // namespace vosk
