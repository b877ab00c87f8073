// Shared access between real processes: concurrent writers under each lock scheme, record
// locks seen by other processes and by a second work area of the same process, exclusive
// opens, and a writer killed in the middle of its appends.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "platform/os_error.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

class SharedAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitDatabaseEngine();
    GlobalSettings().Reset();
    SET(kSetHardCommit, Value::Logical(false));
    path_ = ::testing::TempDir() + "shared_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".dbf";
    for (char& c : path_) {
      if (c == '/' && &c > path_.data() + ::testing::TempDir().size()) c = '_';
    }
    ValueArray structure = {
        Value::Array({Value::String("WRITER"), Value::String("N"), Value::Integer(3), Value::Integer(0)}),
        Value::Array({Value::String("SEQ"), Value::String("N"), Value::Integer(6), Value::Integer(0)}),
        Value::Array({Value::String("COUNTER"), Value::String("N"), Value::Integer(8), Value::Integer(0)}),
        Value::Array({Value::String("NOTE"), Value::String("C"), Value::Integer(20), Value::Integer(0)}),
    };
    ASSERT_TRUE(DBCREATE(path_, structure, "DBF"));
  }
  void TearDown() override {
    DBCLOSEALL();
    std::remove(path_.c_str());
  }

  // Runs body in a child process; the child exits 0 when body returns true.
  pid_t Spawn(const std::function<bool()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
      bool ok = false;
      try {
        ok = body();
      } catch (...) {
        ok = false;
      }
      _exit(ok ? 0 : 1);
    }
    return pid;
  }

  static int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }

  std::string path_;
};

TEST_F(SharedAccessTest, ConcurrentWritersLoseNothingUnderEveryLockScheme) {
  constexpr int kWriters = 3, kAppends = 200, kIncrements = 120;
  for (int scheme = 1; scheme <= 5; ++scheme) {
    SCOPED_TRACE("scheme " + std::to_string(scheme));
    SET(kSetDbfLockScheme, Value::Integer(scheme));
    ASSERT_TRUE(DBUSEAREA(true, "DBF", path_, "T", false, false));
    ASSERT_TRUE(DBZAP());
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(3, Value::Integer(0));
    DBCLOSEAREA();

    std::vector<pid_t> pids;
    for (int w = 1; w <= kWriters; ++w) {
      pids.push_back(Spawn([&, w]() {
        if (!DBUSEAREA(true, "DBF", path_, "T", true, false)) return false;
        for (int i = 1; i <= kAppends; ++i) {
          if (!DBAPPEND()) return false;
          FIELDPUT(1, Value::Integer(w));
          FIELDPUT(2, Value::Integer(i));
          DBCOMMIT();
          // Every other step, one read-modify-write of the shared counter in record 1.
          if (i <= kIncrements) {
            DBGOTO(Value::Integer(1));
            while (!RLOCK()) usleep(100);
            int64_t n = FIELDGET(3).integer();
            FIELDPUT(3, Value::Integer(n + 1));
            DBCOMMIT();
            DBUNLOCK();
          }
        }
        DBCLOSEAREA();
        return true;
      }));
    }
    for (pid_t p : pids) EXPECT_EQ(Wait(p), 0);

    ASSERT_TRUE(DBUSEAREA(true, "DBF", path_, "T", false, true));
    EXPECT_EQ(LASTREC(), 1u + kWriters * kAppends);
    DBGOTO(Value::Integer(1));
    EXPECT_EQ(FIELDGET(3).integer(), kWriters * kIncrements);
    std::set<std::pair<int64_t, int64_t>> seen;
    for (DBGOTO(Value::Integer(2)); !EOF_(); DBSKIP()) {
      EXPECT_TRUE(seen.insert({FIELDGET(1).integer(), FIELDGET(2).integer()}).second);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kAppends));
    DBCLOSEAREA();
  }
}

TEST_F(SharedAccessTest, RecordLockRefusedElsewhere) {
  SET(kSetDbfLockScheme, Value::Integer(4));
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path_, "A1", true, false));
  ASSERT_TRUE(DBAPPEND());
  ASSERT_TRUE(DBAPPEND());
  DBCOMMIT();
  DBGOTO(Value::Integer(1));
  ASSERT_TRUE(RLOCK());
  EXPECT_TRUE(RLOCK());  // twice: still true, listed once
  EXPECT_EQ(DBINFO(31).integer(), 1);

  // A second work area of this process competes like another process.
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path_, "A2", true, false));
  DBGOTO(Value::Integer(1));
  EXPECT_FALSE(RLOCK());
  EXPECT_FALSE(FLOCK());
  DBGOTO(Value::Integer(2));
  EXPECT_TRUE(RLOCK());

  pid_t pid = Spawn([&]() {
    if (!DBUSEAREA(true, "DBF", path_, "OTHER", true, false)) return false;
    DBGOTO(Value::Integer(1));
    bool first = RLOCK();
    DBGOTO(Value::Integer(2));
    bool second = RLOCK();
    return !first && !second;
  });
  EXPECT_EQ(Wait(pid), 0);

  // Released locks can be taken by others.
  DBSELECTAREA("A1");
  DBUNLOCK();
  DBSELECTAREA("A2");
  DBUNLOCK();
  pid = Spawn([&]() {
    if (!DBUSEAREA(true, "DBF", path_, "OTHER", true, false)) return false;
    return FLOCK();
  });
  EXPECT_EQ(Wait(pid), 0);
}

TEST_F(SharedAccessTest, LockListFollowsMethods) {
  SET(kSetDbfLockScheme, Value::Integer(1));
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path_, "T", true, false));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(DBAPPEND());
  DBUNLOCK();
  DBGOTO(Value::Integer(3));
  ASSERT_TRUE(RLOCK());
  ASSERT_TRUE(DBINFO(8).is_array());
  EXPECT_EQ(DBINFO(8).array().size(), 1u);
  EXPECT_EQ(DBINFO(8).array()[0].integer(), 3);
  ASSERT_TRUE(FLOCK());
  EXPECT_EQ(DBINFO(8).array().size(), 0u);  // the file lock released the record locks
  EXPECT_TRUE(DBINFO(20).logical());
  DBUNLOCK();
  EXPECT_FALSE(DBINFO(20).logical());
}

TEST_F(SharedAccessTest, ExclusiveOpenElsewhereIsSharingViolation) {
  pid_t holder = fork();
  if (holder == 0) {
    if (!DBUSEAREA(true, "DBF", path_, "X", false, false)) _exit(1);
    sleep(2);
    _exit(0);
  }
  usleep(300000);
  RuntimeError seen;
  {
    ScopedErrorHandler h([&](const RuntimeError& e) {
      seen = e;
      return ErrorAnswer::Default();
    });
    EXPECT_FALSE(DBUSEAREA(true, "DBF", path_, "T", true, false));
  }
  EXPECT_EQ(seen.gen_code, kEgOpen);
  EXPECT_EQ(seen.sub_code, kEdfOpen);
  EXPECT_EQ(seen.os_code, kOsSharingViolation);
  EXPECT_TRUE(seen.can_default);
  EXPECT_FALSE(USED());
  kill(holder, SIGKILL);
  Wait(holder);
}

TEST_F(SharedAccessTest, WriterKilledMidAppendLeavesWholeRecords) {
  SET(kSetDbfLockScheme, Value::Integer(4));
  pid_t pid = Spawn([&]() {
    if (!DBUSEAREA(true, "DBF", path_, "T", true, false)) return false;
    for (int i = 1;; ++i) {
      if (!DBAPPEND()) return false;
      FIELDPUT(2, Value::Integer(i % 100000));
      FIELDPUT(4, Value::String("record " + std::to_string(i)));
      DBCOMMIT();
    }
  });
  usleep(200000);
  kill(pid, SIGKILL);
  Wait(pid);
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path_, "T", false, false));
  uint32_t n = LASTREC();
  EXPECT_GT(n, 0u);
  uint32_t read = 0;
  for (DBGOTOP(); !EOF_(); DBSKIP()) {
    Value note = FIELDGET(4);
    ASSERT_TRUE(note.is_string());
    ++read;
  }
  EXPECT_EQ(read, n);
  // Writing the header again leaves exactly one end-of-file byte after the last record.
  DBINFO(147, Value::Logical(false));
  DBCLOSEAREA();
}

TEST_F(SharedAccessTest, WriterKilledMidAppendLeavesResolvableMemos) {
  SET(kSetDbfLockScheme, Value::Integer(2));
  std::string memo_table = path_.substr(0, path_.size() - 4) + "_memo.dbf";
  ValueArray structure = {
      Value::Array({Value::String("SEQ"), Value::String("N"), Value::Integer(8), Value::Integer(0)}),
      Value::Array({Value::String("BODY"), Value::String("M"), Value::Integer(10), Value::Integer(0)}),
  };
  RDDINFO(14, Value::Integer(2), "DBFFPT");
  ASSERT_TRUE(DBCREATE(memo_table, structure, "DBFFPT"));
  pid_t pid = Spawn([&]() {
    if (!DBUSEAREA(true, "DBFFPT", memo_table, "T", true, false)) return false;
    for (int i = 1;; ++i) {
      if (!DBAPPEND()) return false;
      FIELDPUT(1, Value::Integer(i));
      FIELDPUT(2, Value::String(std::string(50 + i % 300, static_cast<char>('a' + i % 26))));
      DBCOMMIT();
    }
  });
  usleep(300000);
  kill(pid, SIGKILL);
  Wait(pid);
  ASSERT_TRUE(DBUSEAREA(true, "DBFFPT", memo_table, "T", false, false));
  EXPECT_GT(LASTREC(), 0u);
  uint32_t resolved = 0;
  for (DBGOTOP(); !EOF_(); DBSKIP()) {
    int64_t seq = FIELDGET(1).integer();
    Value body = FIELDGET(2);
    ASSERT_TRUE(body.is_string());
    // A record whose memo was not written yet reads empty; a written one reads whole.
    if (!body.str().empty()) {
      EXPECT_EQ(body.str(), std::string(50 + seq % 300, static_cast<char>('a' + seq % 26)));
      ++resolved;
    }
  }
  EXPECT_GT(resolved, 0u);
  DBCLOSEAREA();
  std::remove(memo_table.c_str());
  std::remove((memo_table.substr(0, memo_table.size() - 4) + ".fpt").c_str());
}

}  // namespace
}  // namespace vosk
