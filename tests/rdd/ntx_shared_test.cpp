// Two processes edit one shared table with its index open shared, in every lock scheme: key
// changes under record locks and appends. Each process finds its own change at once through
// pages the other process may have cached (the update counter must move with every change);
// afterwards the index is sound and holds exactly the keys of the records.

#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
}  // namespace vosk
