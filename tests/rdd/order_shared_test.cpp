// Both index engines with their bags open shared by several processes. Two processes edit one
// shared table in every lock scheme: key changes under record locks and appends. Each process
// finds its own change at once through pages the other process may have cached (the update
// counter must move with every change); afterwards the bag is sound and holds exactly the keys
// of the records. Counts and positions follow other processes' changes; a check beside a
// writer reports no damage; a writer killed in the middle of its updates leaves a bag that the
// check finds damaged and a reindex makes sound again.

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "ntx_test_support.h"

namespace vosk {
namespace {

struct Engine {
  const char* driver;
  const char* extension;
};

class SharedOrderTest : public NtxTest, public ::testing::WithParamInterface<Engine> {
 protected:
  std::string Driver() const { return GetParam().driver; }
  std::string Bag(const std::string& name) const { return Path(name + GetParam().extension); }

  // The bag's problems (empty: sound).
  std::vector<std::string> Problems(int64_t* keys = nullptr) {
    NtxCheckReport report;
    EXPECT_TRUE(CheckBags(&report)) << ErrorText();
    if (keys) *keys = report.keys;
    return report.problems;
  }

  // The work of one process; returns its exit status (0 = all went well).
  int Worker(const std::string& table, const std::string& bag, int id, int rounds = 120) {
    errors_.clear();
    if (!DBUSEAREA(true, Driver(), table, "W", true, false)) return 10;
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

TEST_P(SharedOrderTest, TwoProcessesEditingInEveryLockScheme) {
  for (int scheme = 1; scheme <= 5; ++scheme) {
    SCOPED_TRACE("lock scheme " + std::to_string(scheme));
    SET(kSetDbfLockScheme, Value::Integer(scheme));
    std::string name = "s" + std::to_string(scheme);
    ASSERT_TRUE(MakeTable(name, {{"K", "C", 10, 0}, {"WHO", "N", 2, 0}}, false, Driver()));
    for (int i = 0; i < 150; ++i) Add({Value::String("B" + std::to_string(i)), Value::Integer(0)});
    std::string bag = Bag(name + "x");
    ASSERT_TRUE(ORDCREATE(bag, "K", "K")) << ErrorText();
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
    ASSERT_TRUE(DBUSEAREA(true, Driver(), Path(name + ".dbf"), "", true, false));
    ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
    EXPECT_EQ(LASTREC(), 150u + 2 * 30);
    EXPECT_EQ(ORDKEYCOUNT(), static_cast<int64_t>(LASTREC()));
    for (const std::string& p : Problems()) ADD_FAILURE() << p;
    DBCLOSEAREA();
    ASSERT_TRUE(errors_.empty()) << ErrorText();
  }
}

// A shared append writes the record at once; its keys wait for the next go-cold. A second
// append before that go-cold completes the first one's keys instead of failing.
TEST_P(SharedOrderTest, SecondSharedAppendCompletesTheFirst) {
  ASSERT_TRUE(MakeTable("appends", {{"K", "C", 4, 0}}, true, Driver()));
  ASSERT_TRUE(ORDCREATE(Bag("ak"), "K", "K")) << ErrorText();
  ASSERT_TRUE(DBAPPEND());
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String("B"));
  DBCOMMIT();
  EXPECT_EQ(ORDKEYCOUNT(), 2);
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2})) << "the blank key of record 1 first";
  EXPECT_TRUE(Problems().empty());
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

// Counts and key positions of a shared bag are remembered between calls while the file stays
// as it was: a change by another process, or one's own, is seen at once.
TEST_P(SharedOrderTest, CountsAndPositionsFollowEveryChange) {
  ASSERT_TRUE(MakeTable("counts", {{"K", "C", 30, 0}}, false, Driver()));
  for (int i = 0; i < 2000; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "M%04d", i);
    Add({Value::String(key)});
  }
  std::string bag = Bag("counts");
  ASSERT_TRUE(ORDCREATE(bag, "K", "K")) << ErrorText();
  DBCLOSEAREA();
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // waits for the word, then puts three keys before all others
    char c;
    if (read(go[0], &c, 1) != 1) _exit(20);
    if (!DBUSEAREA(true, Driver(), Path("counts.dbf"), "", true, false)) _exit(21);
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
  ASSERT_TRUE(DBUSEAREA(true, Driver(), Path("counts.dbf"), "", true, false));
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

// check beside a second process that keeps changing keys, appending and deleting: each check
// reports exactly the bag's one real fault (a record whose key the bag does not hold, made
// before the writer starts), however its reads fall between the writer's record writes and
// key updates. The check lets the read lock go every 100 keys, and takes the walk up again
// after the writer's changes.
TEST_P(SharedOrderTest, CheckBesideAWriterReportsNoDamage) {
  ASSERT_TRUE(MakeTable("busy", {{"K", "C", 10, 0}, {"WHO", "N", 2, 0}}, false, Driver()));
  for (int i = 0; i < 3000; ++i) {
    Add({Value::String("B" + std::to_string(i * 7919 % 3000)), Value::Integer(0)});
  }
  const std::string bag = Bag("busy");
  ASSERT_TRUE(ORDCREATE(bag, "K", "K")) << ErrorText();
  DBCLOSEAREA();
  // Record 1 changed behind the bag's back.
  std::string bytes = ReadAll(Path("busy.dbf"));
  const size_t header = GetLe16(reinterpret_cast<const uint8_t*>(bytes.data()) + 8);
  bytes.replace(header + 1, 10, "STALE     ");
  WriteAll(Path("busy.dbf"), bytes);
  ASSERT_TRUE(DBUSEAREA(true, Driver(), Path("busy.dbf"), "", true, true));
  ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
  const std::vector<std::string> fault = Problems();
  ASSERT_EQ(fault.size(), 2u) << "the key the bag holds and the one the record gives";
  for (const std::string& p : fault) EXPECT_NE(p.find("record 1 "), std::string::npos) << p;

  pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {  // two seconds of changes, never to record 1
    errors_.clear();
    DBCLOSEAREA();
    if (!DBUSEAREA(true, Driver(), Path("busy.dbf"), "W", true, false)) _exit(10);
    if (!ORDLISTADD(Value::String(bag))) _exit(11);
    std::mt19937 rng(4242);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "W%06d", i);
      if (i % 8 == 0) {
        if (!DBAPPEND()) _exit(12);
      } else {
        DBGOTO(Value::Integer(2 + rng() % (LASTREC() - 1)));
        if (!RLOCK()) continue;
      }
      if (i % 8 == 4) DBDELETE();
      else FIELDPUT(1, Value::String(key));
      DBCOMMIT();
      DBUNLOCK();
    }
    DBCLOSEAREA();
    _exit(errors_.empty() ? 0 : 13);
  }
  int checks = 0;
  int64_t moves = 0;
  int status = 0;
  bool writer_done = false;
  for (;;) {
    writer_done = waitpid(writer, &status, WNOHANG) == writer;
    NtxCheckReport report;
    EXPECT_TRUE(CheckBags(&report, 100)) << ErrorText();
    EXPECT_EQ(report.problems, fault) << "check " << checks;
    moves += report.moves;
    ++checks;
    if (writer_done || report.problems != fault) break;
  }
  if (!writer_done) ASSERT_EQ(waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GE(checks, 2) << "the checks ran beside the writer";
  EXPECT_GT(moves, 0) << "walks went on after the writer's changes";
  DBCLOSEAREA();
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

// A scan of the shared bag, one skip at a time, reads keys ahead under one lock; another
// process's changes made in the middle of the scan are seen at the next skip all the same:
// a key moved before the scan's position is not met again, a key moved just after it is met
// with its record's new contents, and a record appended with a key ahead is met too (read
// past the end the table had when the scan began).
TEST_P(SharedOrderTest, ScanSeesChangesMadeWhileItRuns) {
  ASSERT_TRUE(MakeTable("scan", {{"K", "C", 8, 0}}, false, Driver()));
  auto key = [](int i) {
    char b[16];
    std::snprintf(b, sizeof b, "K%04d", i);
    return std::string(b);
  };
  for (int i = 1; i <= 300; ++i) Add({Value::String(key(i))});
  const std::string bag = Bag("scan");
  ASSERT_TRUE(ORDCREATE(bag, "K", "K")) << ErrorText();
  DBCLOSEAREA();
  ASSERT_TRUE(DBUSEAREA(true, Driver(), Path("scan.dbf"), "", true, true));
  ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
  DBGOTOP();
  for (int i = 0; i < 20; ++i) DBSKIP(1);
  ASSERT_EQ(RECNO(), 21u);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    errors_.clear();
    if (!DBUSEAREA(true, Driver(), Path("scan.dbf"), "W", true, false)) _exit(10);
    if (!ORDLISTADD(Value::String(bag))) _exit(11);
    const std::pair<uint32_t, const char*> changes[] = {
        {40, "A0040"},   // moves before the scan
        {25, "K0022X"},  // moves just after the scan's position
    };
    for (const auto& [recno, text] : changes) {
      DBGOTO(Value::Integer(recno));
      if (!RLOCK()) _exit(12);
      FIELDPUT(1, Value::String(text));
      DBCOMMIT();
      DBUNLOCK();
    }
    if (!DBAPPEND()) _exit(13);
    FIELDPUT(1, Value::String("K0250X"));
    DBCOMMIT();
    DBUNLOCK();
    DBCLOSEAREA();
    _exit(errors_.empty() ? 0 : 14);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  std::vector<uint32_t> rest;
  std::vector<std::string> keys;
  for (DBSKIP(1); !EOF_() && rest.size() < 400; DBSKIP(1)) {
    rest.push_back(RECNO());
    keys.push_back(FIELDGET(1).str());
  }
  std::vector<uint32_t> want = {22, 25};
  for (uint32_t r = 23; r <= 300; ++r) {
    if (r != 25 && r != 40) want.push_back(r);
    if (r == 250) want.push_back(301);
  }
  EXPECT_EQ(rest, want);
  ASSERT_GE(keys.size(), 2u);
  EXPECT_EQ(keys[1], "K0022X  ") << "record 25 read as the other process left it";
  auto appended = std::find(rest.begin(), rest.end(), 301u);
  ASSERT_NE(appended, rest.end());
  EXPECT_EQ(keys[static_cast<size_t>(appended - rest.begin())], "K0250X  ");
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

// A writer killed by SIGKILL at a point of its updates: after the record was written and before
// its keys were (a stale bag), and after the first page of a change of several pages was
// written (a torn tree; for CDX also a change that joins pages and frees some). The check
// finds the damage; a reindex makes the bag sound again.
TEST_P(SharedOrderTest, KilledWriterLeavesABagThatCheckFindsAndReindexRepairs) {
  std::vector<std::string> points = {"order-keys:40", "index-flush:3"};
  if (Driver() == "DBFCDX") points.push_back("index-flush-freeing:1");
  for (size_t p = 0; p < points.size(); ++p) {
    const char* point = points[p].c_str();
    SCOPED_TRACE(point);
    std::string name = "killed" + std::to_string(p + 1);
    ASSERT_TRUE(MakeTable(name, {{"K", "C", 10, 0}, {"WHO", "N", 2, 0}}, false, Driver()));
    for (int i = 0; i < 2000; ++i) Add({Value::String("B" + std::to_string(i)), Value::Integer(0)});
    std::string bag = Bag(name + "x");
    ASSERT_TRUE(ORDCREATE(bag, "K", "K")) << ErrorText();
    DBCLOSEAREA();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("VOSK_CRASH_AT", point, 1);
      _exit(Worker(Path(name + ".dbf"), bag, 1, 100000));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer reached the crash point";
    ASSERT_EQ(WTERMSIG(status), SIGKILL);
    ASSERT_TRUE(DBUSEAREA(true, Driver(), Path(name + ".dbf"), "", false, false));
    ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
    EXPECT_FALSE(Problems().empty()) << "the check finds the interrupted update";
    errors_.clear();
    ORDLISTREBUILD();
    ASSERT_TRUE(errors_.empty()) << ErrorText();
    for (const std::string& p : Problems()) ADD_FAILURE() << "after reindex: " << p;
    EXPECT_EQ(ORDKEYCOUNT(), static_cast<int64_t>(LASTREC()));
    DBCLOSEAREA();
    EXPECT_TRUE(errors_.empty()) << ErrorText();
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, SharedOrderTest,
                         ::testing::Values(Engine{"DBFNTX", ".ntx"}, Engine{"DBFCDX", ".cdx"}),
                         [](const auto& info) { return std::string(info.param.driver); });

}  // namespace
}  // namespace vosk
