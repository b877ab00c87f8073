// Failures of the disk and of the lock service, injected into the files of the tables: a
// failing fsync under hard commit is raised by every kind of table and the close tries again;
// a lock that fails for any reason but contention is raised at once, by the table and by the
// index bags of both engines; the writes that stamp a record or name a code page raise too.

#include <unistd.h>

#include <optional>

#include "ntx_test_support.h"
#include "platform/os_error.h"
#include "support/file_faults.h"

namespace vosk {
namespace {

// Ends the test program if a test hangs (a lock retried forever), instead of the whole run.
class Watchdog {
 public:
  explicit Watchdog(unsigned seconds) { alarm(seconds); }
  ~Watchdog() { alarm(0); }
};

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class IoFaultTest : public NtxTest {
 protected:
  // Expects that the last error is a write error of the file with this suffix, for this OS code.
  void ExpectWriteError(const std::string& suffix, int os_code) {
    ASSERT_NE(LastError(), nullptr) << "no error raised";
    EXPECT_EQ(LastError()->gen_code, kEgWrite) << LastError()->ToString();
    EXPECT_EQ(LastError()->sub_code, kEdfWrite) << LastError()->ToString();
    EXPECT_EQ(LastError()->os_code, os_code) << LastError()->ToString();
    EXPECT_TRUE(EndsWith(LastError()->file_name, suffix)) << LastError()->file_name;
  }
};

// Under hard commit a failed fsync of the table, its memo file or a text file is raised as a
// write error, and stays pending: the close syncs again and raises again while the disk fails.
TEST_F(IoFaultTest, FailedFsyncIsRaisedAndTheCloseTriesAgain) {
  struct Case {
    const char* name;
    const char* driver;
    std::vector<FieldRow> fields;
    const char* file;
    const char* failing;  // suffix of the file whose fsync fails
  };
  const std::vector<Case> cases = {
      {"table", "DBF", {{"NAME", "C", 8, 0}}, "t.dbf", ".dbf"},
      {"memo file", "DBFFPT", {{"NAME", "C", 8, 0}, {"NOTE", "M", 10, 0}}, "notes.dbf", ".fpt"},
      {"text file", "SDF", {{"NAME", "C", 8, 0}, {"NOTE", "C", 10, 0}}, "s.txt", ".txt"},
  };
  for (bool sticky : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (sticky ? ", failing again" : ", failing once"));
      DBCLOSEALL();
      errors_.clear();
      SET(kSetHardCommit, Value::Logical(true));
      AreaOptions o;
      o.file = Path(c.file);
      o.driver = c.driver;
      ASSERT_TRUE(DBCREATE(o, Structure(c.fields), true)) << ErrorText();
      ASSERT_TRUE(DBAPPEND());
      FIELDPUT(1, Value::String("alpha"));
      FIELDPUT(2, Value::String("a longer note"));
      FaultScope fault(FaultOp::kCommit, EIO, c.failing, 1, sticky);
      DBCOMMIT();
      ExpectWriteError(c.failing, kOsNotReady);
      errors_.clear();
      DBCLOSEAREA();
      EXPECT_EQ(fault.calls(), 2u) << "the close syncs again";
      if (sticky) {
        ExpectWriteError(c.failing, kOsNotReady);
      } else {
        EXPECT_TRUE(errors_.empty()) << ErrorText();
      }
    }
  }
}

// A lock that fails for want of locks (ENOLCK) or on a broken handle (EBADF) is raised at once
// with its OS code, whether it is a lock of the table's records, of the whole table, of an
// append or of an index bag (reading or changing keys), with either engine.
TEST_F(IoFaultTest, LockFailuresOtherThanContentionRaiseAtOnce) {
  enum Step { kRecord, kFile, kAppend, kIndexRead, kIndexWrite };
  struct Case {
    const char* name;
    Step step;
    bool index_file;  // the fault hits the bag, else the table
  };
  const std::vector<Case> cases = {
      {"record lock", kRecord, false},     {"file lock", kFile, false},
      {"append lock", kAppend, false},     {"index read lock", kIndexRead, true},
      {"index write lock", kIndexWrite, true},
  };
  Watchdog watchdog(60);
  int table = 0;
  for (const char* driver : {"DBFNTX", "DBFCDX"}) {
    const std::string ext = std::string(driver) == "DBFNTX" ? ".ntx" : ".cdx";
    for (int err : {ENOLCK, EBADF}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(driver) + " " + c.name + (err == EBADF ? " EBADF" : " ENOLCK"));
        DBCLOSEALL();
        errors_.clear();
        std::string name = "l" + std::to_string(++table);
        ASSERT_TRUE(MakeTable(name, {{"K", "C", 6, 0}}, false, driver));
        for (const char* k : {"b", "a", "c"}) Add({Value::String(k)});
        ASSERT_TRUE(ORDCREATE(Path(name + "x" + ext), "K", "K")) << ErrorText();
        DBCLOSEAREA();
        ASSERT_TRUE(DBUSEAREA(true, driver, Path(name + ".dbf"), "", true, false));
        ASSERT_TRUE(ORDLISTADD(Value::String(Path(name + "x" + ext)))) << ErrorText();
        DBGOTO(Value::Integer(2));
        if (c.step == kIndexWrite) ASSERT_TRUE(RLOCK());
        FaultScope fault(FaultOp::kLock, err, c.index_file ? ext : ".dbf", 1, true);
        bool done = true;
        switch (c.step) {
          case kRecord: done = RLOCK(); break;
          case kFile: done = FLOCK(); break;
          case kAppend: done = DBAPPEND(); break;
          case kIndexRead: done = DBSEEK(Value::String("c")); break;
          case kIndexWrite:
            FIELDPUT(1, Value::String("z"));
            DBCOMMIT();
            break;
        }
        if (c.step != kIndexWrite) EXPECT_FALSE(done);
        EXPECT_EQ(fault.injected(), 1u) << "one try, no retry";
        ASSERT_NE(LastError(), nullptr) << "no error raised";
        EXPECT_EQ(LastError()->gen_code, kEgLock) << LastError()->ToString();
        EXPECT_EQ(LastError()->os_code, err == EBADF ? kOsGeneric : kOsNoLocks)
            << LastError()->ToString();
        fault.Disarm();
        DBCLOSEALL();
      }
    }
  }
}

// Contention is waited out: an index lock refused once by another holder is tried again and
// the read goes on without an error.
TEST_F(IoFaultTest, IndexLockContentionIsTriedAgain) {
  Watchdog watchdog(60);
  for (const char* driver : {"DBFNTX", "DBFCDX"}) {
    SCOPED_TRACE(driver);
    const std::string ext = std::string(driver) == "DBFNTX" ? ".ntx" : ".cdx";
    std::string name = std::string("c") + driver;
    ASSERT_TRUE(MakeTable(name, {{"K", "C", 6, 0}}, false, driver));
    for (const char* k : {"b", "a", "c"}) Add({Value::String(k)});
    ASSERT_TRUE(ORDCREATE(Path(name + ext), "K", "K")) << ErrorText();
    DBCLOSEAREA();
    ASSERT_TRUE(DBUSEAREA(true, driver, Path(name + ".dbf"), "", true, false));
    ASSERT_TRUE(ORDLISTADD(Value::String(Path(name + ext)))) << ErrorText();
    FaultScope busy(FaultOp::kLock, EAGAIN, ext, 1, false);
    EXPECT_TRUE(DBSEEK(Value::String("c")));
    EXPECT_EQ(RECNO(), 3u);
    EXPECT_EQ(busy.injected(), 1u);
    EXPECT_GE(busy.calls(), 2u);
    EXPECT_TRUE(errors_.empty()) << ErrorText();
    DBCLOSEALL();
  }
}

// The small writes beside the records raise their failures too: the .cpg file of a new UTF-8
// table, the row-version counter of the header, the _DBASELOCK stamp of a record lock.
TEST_F(IoFaultTest, StampAndCodepageWritesRaiseTheirFailures) {
  // The .cpg file: the table is not made.
  {
    FaultScope full(FaultOp::kWrite, ENOSPC, ".cpg");
    EXPECT_FALSE(DBCREATE(Path("u.dbf"), Structure({{"NAME", "C", 8, 0}}), "DBF", std::nullopt,
                          "", "utf8"));
    ExpectWriteError(".cpg", kOsDiskFull);
  }
  // The row-version counter: the change is not written, the counter stays.
  errors_.clear();
  std::string rv = Create("rv.dbf", {{"RV", "^", 8, 0}, {"NAME", "C", 3, 0}});
  ASSERT_TRUE(Use(rv));
  ASSERT_TRUE(DBAPPEND());
  DBCOMMIT();
  const std::string before = Bytes(rv);
  FIELDPUT(2, Value::String("abc"));
  {
    FaultScope full(FaultOp::kWrite, ENOSPC, ".dbf");
    DBCOMMIT();
    ExpectWriteError(".dbf", kOsDiskFull);
    EXPECT_EQ(full.injected(), 1u);
  }
  EXPECT_EQ(Bytes(rv), before);
  DBCLOSEALL();
  // The lock stamp: the lock is given back.
  errors_.clear();
  test::DbfImage img;
  img.fields = {{"NAME", 'C', 4}, {"_DBASELOCK", '0', 24, 0, 1}};
  img.records = {test::Record({"abcd", std::string(24, '\0')})};
  std::string locks = Write("locks.dbf", img);
  ASSERT_TRUE(Use(locks, true, false, "HOLDER"));
  ASSERT_TRUE(Use(locks, true, false, "OTHER"));
  DBSELECTAREA("HOLDER");
  DBGOTO(Value::Integer(1));
  {
    FaultScope full(FaultOp::kWrite, EIO, ".dbf");
    EXPECT_FALSE(RLOCK());
    ExpectWriteError(".dbf", kOsNotReady);
  }
  DBSELECTAREA("OTHER");
  DBGOTO(Value::Integer(1));
  EXPECT_TRUE(RLOCK()) << "the failed lock was given back";
}

}  // namespace
}  // namespace vosk
