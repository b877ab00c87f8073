// A restructure killed at any moment (SIGKILL at a chosen step of a 100,000-record conversion,
// or from outside) leaves either the table as it was, or the new table in place with the whole
// old table as its "_ORIGINALE" backup; the next open removes every file of the killed run.

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
#include "rdd/restructure.h"

namespace vosk {
namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 100000;

class RestructureKillTest : public MemoTest {
 protected:
  void SetUp() override {
    MemoTest::SetUp();
    SET(kSetDateFormat, Value::String("dd/mm/yyyy"));
    SETCENTURY(Value::Logical(true));
  }

  // ID N6, NAME C12, PRICE C10 ("1.234,56" style), NOTE M on every 50th record; every 7th
  // record deleted.
  void Build() {
    CreateOpen("t.dbf", {{"ID", "N", 6, 0}, {"NAME", "C", 12, 0}, {"PRICE", "C", 10, 0},
                         {"NOTE", "M", 10, 0}},
               {.memo_kind = 2, .variant = 1, .block_size = 64});
    for (int i = 1; i <= kRecords; ++i) {
      Append();
      Put(1, Value::Integer(i));
      Put(2, Value::String("name" + std::to_string(i)));
      Put(3, Value::String(std::to_string(i / 100) + "," + std::to_string(10 + i % 90)));
      if (i % 50 == 0) Put(4, Value::String("note " + std::to_string(i), true));
      if (i % 7 == 0) DBDELETE();
    }
    DBCLOSEAREA();
    fs::create_directories(Path("orig"));
    for (const char* f : {"t.dbf", "t.fpt"}) fs::copy_file(Path(f), Path(std::string("orig/") + f));
  }
  void Restore() {
    for (const auto& e : fs::directory_iterator(dir_.path())) {
      if (e.is_regular_file()) fs::remove(e.path());
    }
    for (const char* f : {"t.dbf", "t.fpt"}) fs::copy_file(Path(std::string("orig/") + f), Path(f));
  }

  // Every record of a table as one line: deletion flag and the fields' values as text.
  std::vector<std::string> Rows(const std::string& file) {
    std::vector<std::string> out;
    if (!DBUSEAREA(true, "DBFFPT", Path(file), "", false, true)) {
      ADD_FAILURE() << file << " does not open: " << ErrorText();
      return out;
    }
    out.reserve(LASTREC());
    for (uint32_t r = 1; r <= LASTREC(); ++r) {
      DBGOTO(Value::Integer(r));
      std::string row = DELETED() ? "*" : " ";
      for (int f = 1; f <= FCOUNT(); ++f) {
        const Value v = FIELDGET(f);
        row += "|" + (v.is_string() ? v.str() : StrOfValue(v));
      }
      out.push_back(std::move(row));
    }
    DBCLOSEAREA();
    return out;
  }
  static std::string StrOfValue(const Value& v) {
    return v.is_numeric() ? std::to_string(v.number()) : std::string(1, v.type_letter());
  }

  // The new structure: ID kept, NAME widened, PRICE to N 10.2, NOTE kept, a field added.
  static ValueArray NewStructure() {
    return Structure({{"ID", "N", 6, 0}, {"NAME", "C", 20, 0}, {"PRICE", "N", 10, 2},
                      {"NOTE", "M", 10, 0}, {"ADDED", "L", 1, 0}});
  }

  // Restructures in a child killed at a crash point (point not empty) or after delay_ms; true
  // when the child was killed.
  bool KilledRestructure(const std::string& point, int delay_ms) {
    pid_t pid = fork();
    if (pid == 0) {
      if (!point.empty()) setenv("VOSK_CRASH_AT", point.c_str(), 1);
      bool ok = DBUSEAREA(true, "DBFFPT", Path("t.dbf"), "", false, false) &&
                RestructureTable(NewStructure(), RestructureOptions(), nullptr);
      _exit(ok ? 0 : 1);
    }
    if (point.empty()) {
      SleepMillis(delay_ms);
      kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }
};

TEST_F(RestructureKillTest, KilledAtAnyStepTheTableOrTheNewTableAndItsBackupHoldEveryRecord) {
  Build();
  const std::vector<std::string> before = Rows("t.dbf");
  ASSERT_EQ(before.size(), static_cast<size_t>(kRecords));
  // The table as a restructure that runs to its end leaves it.
  ASSERT_TRUE(DBUSEAREA(true, "DBFFPT", Path("t.dbf"), "", false, false));
  ASSERT_TRUE(RestructureTable(NewStructure(), RestructureOptions(), nullptr)) << ErrorText();
  const std::vector<std::string> after = Rows("t.dbf");
  ASSERT_EQ(after.size(), before.size());
  ASSERT_EQ(after[99].substr(0, 1), " ");
  ASSERT_EQ(after[6].substr(0, 1), "*");

  int killed = 0, seen_after = 0;
  auto check = [&] {
    std::vector<std::string> now = Rows("t.dbf");  // the open finishes or removes the swap
    if (now == after) {
      ++seen_after;
      EXPECT_EQ(Rows("t_ORIGINALE.dbf"), before) << "the backup lacks old records";
    } else {
      EXPECT_TRUE(now == before) << "the table is neither as it was nor restructured";
      EXPECT_FALSE(fs::exists(Path("t_ORIGINALE.dbf")));
    }
    for (const std::string& name : ListDirectory(dir_.path())) {
      EXPECT_EQ(name.find("vosk-"), std::string::npos) << name << " left behind";
    }
  };
  for (const char* point : {"restructure-record:1", "restructure-record:50000",
                            "restructure-record:100000", "restructure-built", "rewrite-journal",
                            "rewrite-swap:1", "rewrite-swap:2"}) {
    SCOPED_TRACE(point);
    Restore();
    if (KilledRestructure(point, 0)) ++killed;
    check();
  }
  EXPECT_EQ(killed, 7);
  EXPECT_GE(seen_after, 3);  // the kills after the journal finish the swap
  std::mt19937 random(11);
  for (int i = 0; i < 3; ++i) {
    const int delay = 20 + static_cast<int>(random() % 400);
    SCOPED_TRACE("killed after " + std::to_string(delay) + " ms");
    Restore();
    KilledRestructure("", delay);
    check();
  }
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

}  // namespace
}  // namespace vosk
