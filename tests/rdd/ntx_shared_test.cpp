// Two processes edit one shared table with its index open shared, in every lock scheme: key
// changes under record locks and appends. Each process finds its own change at once through
// pages the other process may have cached (the update counter must move with every change);
// afterwards the index is sound and holds exactly the keys of the records.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "ntx_test_support.h"
#include "rdd/dbfntx/ntx_check.h"

namespace vosk {
namespace {

class NtxSharedTest : public NtxTest {
 protected:
  // The work of one process; returns its exit status (0 = all went well).
  int Worker(const std::string& table, const std::string& bag, int id) {
    errors_.clear();
    if (!DBUSEAREA(true, "DBFNTX", table, "W", true, false)) return 10;
    if (!ORDLISTADD(Value::String(bag))) return 11;
    std::mt19937 rng(static_cast<uint32_t>(id * 7919));
    for (int i = 0; i < 120; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "P%d_%04d", id, i);
      if (i % 4 == 0) {
        if (!DBAPPEND()) return 12;
        FIELDPUT(1, Value::String(key));
        FIELDPUT(2, Value::Integer(id));
        DBCOMMIT();
        DBUNLOCK();
        continue;
      }
      uint32_t count = LASTREC();
      DBGOTO(Value::Integer(1 + rng() % count));
      if (!RLOCK()) continue;  // the other process holds it
      FIELDPUT(1, Value::String(key));
      DBCOMMIT();
      // While the record is still locked, the shared order finds its new key.
      if (!DBSEEK(Value::String(key))) return 13;
      DBUNLOCK();
    }
    DBCLOSEAREA();
    return errors_.empty() ? 0 : 14;
  }
};

TEST_F(NtxSharedTest, TwoProcessesEditingInEveryLockScheme) {
  for (int scheme = 1; scheme <= 5; ++scheme) {
    SCOPED_TRACE("lock scheme " + std::to_string(scheme));
    SET(kSetDbfLockScheme, Value::Integer(scheme));
    std::string name = "s" + std::to_string(scheme);
    ASSERT_TRUE(MakeTable(name, {{"K", "C", 10, 0}, {"WHO", "N", 2, 0}}));
    for (int i = 0; i < 150; ++i) Add({Value::String("B" + std::to_string(i)), Value::Integer(0)});
    std::string bag = Path(name + "x.ntx");
    ASSERT_TRUE(ORDCREATE(bag, "", "K")) << ErrorText();
    DBCLOSEAREA();
    pid_t pids[2];
    for (int id = 0; id < 2; ++id) {
      pids[id] = fork();
      ASSERT_GE(pids[id], 0);
      if (pids[id] == 0) _exit(Worker(Path(name + ".dbf"), bag, id + 1));
    }
    for (pid_t p : pids) {
      int status = 0;
      ASSERT_EQ(waitpid(p, &status, 0), p);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", Path(name + ".dbf"), "", true, false));
    ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
    EXPECT_EQ(LASTREC(), 150u + 2 * 30);
    EXPECT_EQ(ORDKEYCOUNT(), static_cast<int64_t>(LASTREC()));
    NtxCheckReport report;
    ASSERT_TRUE(Ok(NtxCheckBag(Ntx(), Ntx()->controlling()->file(), &report)));
    for (const std::string& p : report.problems) ADD_FAILURE() << p;
    EXPECT_EQ(report.keys, static_cast<int64_t>(LASTREC()));
    DBCLOSEAREA();
    ASSERT_TRUE(errors_.empty()) << ErrorText();
  }
}

// A shared append writes the record at once; its keys wait for the next go-cold. A second
// append before that go-cold completes the first one's keys instead of failing.
TEST_F(NtxSharedTest, SecondSharedAppendCompletesTheFirst) {
  ASSERT_TRUE(MakeTable("appends", {{"K", "C", 4, 0}}, true));
  ASSERT_TRUE(ORDCREATE(Path("ak.ntx"), "", "K")) << ErrorText();
  ASSERT_TRUE(DBAPPEND());
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String("B"));
  DBCOMMIT();
  EXPECT_EQ(ORDKEYCOUNT(), 2);
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2})) << "the blank key of record 1 first";
  NtxCheckReport report;
  ASSERT_TRUE(Ok(NtxCheckBag(Ntx(), Ntx()->controlling()->file(), &report)));
  EXPECT_TRUE(report.problems.empty());
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

// Counts and key positions of a shared bag are remembered between calls while the file stays
// as it was: a change by another process, or one's own, is seen at once.
TEST_F(NtxSharedTest, CountsAndPositionsFollowEveryChange) {
  ASSERT_TRUE(MakeTable("counts", {{"K", "C", 30, 0}}));
  for (int i = 0; i < 2000; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "M%04d", i);
    Add({Value::String(key)});
  }
  std::string bag = Path("counts.ntx");
  ASSERT_TRUE(ORDCREATE(bag, "", "K")) << ErrorText();
  DBCLOSEAREA();
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // waits for the word, then puts three keys before all others
    char c;
    if (read(go[0], &c, 1) != 1) _exit(20);
    if (!DBUSEAREA(true, "DBFNTX", Path("counts.dbf"), "", true, false)) _exit(21);
    if (!ORDLISTADD(Value::String(bag))) _exit(22);
    for (const char* key : {"A1", "A2", "A3"}) {
      if (!DBAPPEND()) _exit(23);
      FIELDPUT(1, Value::String(key));
      DBCOMMIT();
      DBUNLOCK();
    }
    DBCLOSEAREA();
    _exit(errors_.empty() ? 0 : 24);
  }
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", Path("counts.dbf"), "", true, false));
  ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
  EXPECT_EQ(ORDKEYCOUNT(), 2000);
  ASSERT_TRUE(ORDKEYGOTO(1000));
  EXPECT_EQ(RECNO(), 1000u);
  EXPECT_EQ(ORDKEYNO(), 1000);

  ASSERT_EQ(write(go[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ORDKEYCOUNT(), 2003) << "keys added by another process";
  EXPECT_EQ(ORDKEYNO(), 1003) << "three keys before record 1000";
  ASSERT_TRUE(ORDKEYGOTO(2));
  EXPECT_EQ(RECNO(), 2002u);
  ASSERT_TRUE(ORDKEYGOTO(1003));
  EXPECT_EQ(RECNO(), 1000u);

  // One's own change: record 1000's key moves to the end.
  ASSERT_TRUE(RLOCK());
  FIELDPUT(1, Value::String("Z"));
  DBCOMMIT();
  DBUNLOCK();
  EXPECT_EQ(ORDKEYCOUNT(), 2003);
  EXPECT_EQ(ORDKEYNO(), 2003);
  ASSERT_TRUE(ORDKEYGOTO(1003));
  EXPECT_EQ(RECNO(), 1001u);
  close(go[0]);
  close(go[1]);
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

// check beside a second process that keeps changing keys and appending: each check of the
// sound bag reports no damage, however its reads fall between the writer's record writes and
// key updates.
TEST_F(NtxSharedTest, CheckBesideAWriterReportsNoDamage) {
  ASSERT_TRUE(MakeTable("busy", {{"K", "C", 10, 0}, {"WHO", "N", 2, 0}}));
  for (int i = 0; i < 3000; ++i) {
    Add({Value::String("B" + std::to_string(i * 7919 % 3000)), Value::Integer(0)});
  }
  const std::string bag = Path("busy.ntx");
  ASSERT_TRUE(ORDCREATE(bag, "", "K")) << ErrorText();
  DBCLOSEAREA();
  pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {  // two seconds of changes
    errors_.clear();
    if (!DBUSEAREA(true, "DBFNTX", Path("busy.dbf"), "W", true, false)) _exit(10);
    if (!ORDLISTADD(Value::String(bag))) _exit(11);
    std::mt19937 rng(4242);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "W%06d", i);
      if (i % 8 == 0) {
        if (!DBAPPEND()) _exit(12);
      } else {
        DBGOTO(Value::Integer(1 + rng() % LASTREC()));
        if (!RLOCK()) continue;
      }
      FIELDPUT(1, Value::String(key));
      DBCOMMIT();
      DBUNLOCK();
    }
    DBCLOSEAREA();
    _exit(errors_.empty() ? 0 : 13);
  }
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", Path("busy.dbf"), "", true, true));
  ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
  int checks = 0;
  int status = 0;
  bool writer_done = false;
  for (;;) {
    writer_done = waitpid(writer, &status, WNOHANG) == writer;
    NtxCheckReport report;
    ASSERT_TRUE(Ok(NtxCheckBag(Ntx(), Ntx()->controlling()->file(), &report))) << ErrorText();
    for (const std::string& p : report.problems) ADD_FAILURE() << "check " << checks << ": " << p;
    ++checks;
    if (writer_done || !report.problems.empty()) break;
  }
  if (!writer_done) ASSERT_EQ(waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GE(checks, 2) << "the checks ran beside the writer";
  DBCLOSEAREA();
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

}  // namespace
}  // namespace vosk
