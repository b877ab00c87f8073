// Two processes edit one shared table with its CDX bag open shared, in every lock scheme: key
// changes under record locks and appends, each change seen by the other process's next lock
// through the update counter; afterwards the bag is sound and holds the keys of the records.
// A writer killed in the middle of its updates leaves a bag that reindex makes sound again.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "ntx_test_support.h"
#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/dbfcdx/cdx_check.h"

namespace vosk {
namespace {

class CdxSharedTest : public NtxTest {
 protected:
  int Worker(const std::string& table, const std::string& bag, int id, int rounds) {
    errors_.clear();
    if (!DBUSEAREA(true, "DBFCDX", table, "W", true, false)) return 10;
    if (!ORDLISTADD(Value::String(bag))) return 11;
    std::mt19937 rng(static_cast<uint32_t>(id * 7919));
    for (int i = 0; i < rounds; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "P%d_%05d", id, i);
      if (i % 4 == 0) {
        if (!DBAPPEND()) return 12;
        FIELDPUT(1, Value::String(key));
        FIELDPUT(2, Value::Integer(id));
        DBCOMMIT();
        DBUNLOCK();
        continue;
      }
      DBGOTO(Value::Integer(1 + rng() % LASTREC()));
      if (!RLOCK()) continue;
      FIELDPUT(1, Value::String(key));
      DBCOMMIT();
      if (!DBSEEK(Value::String(key))) return 13;
      DBUNLOCK();
    }
    DBCLOSEAREA();
    return errors_.empty() ? 0 : 14;
  }

  // The bag's problems (empty: sound).
  std::vector<std::string> Problems() {
    auto* area = dynamic_cast<CdxArea*>(CurrentArea());
    NtxCheckReport report;
    EXPECT_TRUE(Ok(CdxCheckBag(area, dynamic_cast<CdxBag*>(area->bags()[0].get()), &report)));
    return report.problems;
  }
};

TEST_F(CdxSharedTest, TwoProcessesEditingInEveryLockScheme) {
  for (int scheme = 1; scheme <= 5; ++scheme) {
    SCOPED_TRACE("lock scheme " + std::to_string(scheme));
    SET(kSetDbfLockScheme, Value::Integer(scheme));
    std::string name = "s" + std::to_string(scheme);
    std::string table = Create(name + ".dbf", {{"K", "C", 10, 0}, {"WHO", "N", 2, 0}}, "DBF");
    ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", table, "", false, false));
    for (int i = 0; i < 150; ++i) Add({Value::String("B" + std::to_string(i)), Value::Integer(0)});
    std::string bag = Path(name + "x.cdx");
    ASSERT_TRUE(ORDCREATE(bag, "K", "K")) << ErrorText();
    DBCLOSEAREA();
    pid_t pids[2];
    for (int id = 0; id < 2; ++id) {
      pids[id] = fork();
      ASSERT_GE(pids[id], 0);
      if (pids[id] == 0) _exit(Worker(table, bag, id + 1, 120));
    }
    for (pid_t p : pids) {
      int status = 0;
      ASSERT_EQ(waitpid(p, &status, 0), p);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", table, "", true, false));
    ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
    EXPECT_EQ(LASTREC(), 150u + 2 * 30);
    EXPECT_EQ(ORDKEYCOUNT(), static_cast<int64_t>(LASTREC()));
    for (const std::string& p : Problems()) ADD_FAILURE() << p;
    DBCLOSEAREA();
    ASSERT_TRUE(errors_.empty()) << ErrorText();
  }
}

TEST_F(CdxSharedTest, KilledWriterLeavesABagThatReindexRepairs) {
  std::string table = Create("killed.dbf", {{"K", "C", 10, 0}, {"WHO", "N", 2, 0}}, "DBF");
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", table, "", false, false));
  for (int i = 0; i < 2000; ++i) Add({Value::String("B" + std::to_string(i)), Value::Integer(0)});
  std::string bag = Path("killedx.cdx");
  ASSERT_TRUE(ORDCREATE(bag, "K", "K")) << ErrorText();
  DBCLOSEAREA();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(Worker(table, bag, 1, 1000000));
  usleep(300 * 1000);
  kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", table, "", false, false));
  ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
  (void)Problems();  // the check runs to its end whatever it finds
  errors_.clear();
  ORDLISTREBUILD();
  EXPECT_TRUE(Problems().empty());
  EXPECT_EQ(ORDKEYCOUNT(), static_cast<int64_t>(LASTREC()));
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

}  // namespace
}  // namespace vosk
