// Closes and locks are exception-safe: an error handler that abandons the command in the
// middle of an append or a close leaves no lock held, no area in use and no record counted
// that is not in the file; an area destroyed with a hot record writes it with its keys.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "ntx_test_support.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

class CloseSafetyTest : public NtxTest {
 protected:
  // Runs f with a handler that abandons the command; true when it was abandoned.
  template <typename F>
  bool Abandoned(F f) {
    ScopedErrorHandler abandon([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
    try {
      f();
    } catch (const Abandon&) {
      return true;
    }
    return false;
  }
};

TEST_F(CloseSafetyTest, AbandonedSharedAppendLeavesTheHeaderLockFree) {
  std::string path = Create("t.dbf", {{"NAME", "C", 100, 0}});
  ASSERT_TRUE(Use(path, true));
  int64_t size = static_cast<int64_t>(Bytes(path).size());
  {
    FileSizeLimit limit(static_cast<rlim_t>(size + 150));  // room for one record
    ASSERT_TRUE(limit.ok());
    ASSERT_TRUE(DBAPPEND()) << ErrorText();
    EXPECT_TRUE(Abandoned([] { (void)DBAPPEND(); }));
  }
  // Another open of the table (another process, as far as locks go) takes the header lock.
  LockScheme ls;
  ASSERT_TRUE(DbfArea::SchemeOf(Dbf()->lock_scheme(), false, &ls));
  File other;
  ASSERT_EQ(other.Open(path, Access::kReadWrite, Share::kDenyNone), 0);
  EXPECT_TRUE(other.Lock(ls.base, 1, true, false)) << "the header lock leaked";
  other.Close();
  EXPECT_TRUE(DBAPPEND()) << ErrorText();  // and this area appends again
}

// The header lock of a shared append waits while another program holds it; a lock that fails
// for another reason fails the append at once. The fault: the table's descriptor is made a
// path-only one (O_PATH), on which every lock call fails with EBADF.
TEST_F(CloseSafetyTest, HeaderLockFailureOtherThanContentionFailsTheAppend) {
  std::string path = Create("t.dbf", {{"NAME", "C", 10, 0}});
  ASSERT_TRUE(Use(path, true));
  int table_fd = -1;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(entry.path(), ec) == std::filesystem::path(path)) {
      table_fd = std::stoi(entry.path().filename().string());
    }
  }
  ASSERT_GE(table_fd, 0) << "the table's descriptor";
  int path_only = open(path.c_str(), O_PATH);
  ASSERT_GE(path_only, 0);
  ASSERT_EQ(dup2(path_only, table_fd), table_fd);
  close(path_only);
  alarm(60);  // a lock loop that never ends fails the test program
  errors_.clear();
  EXPECT_FALSE(DBAPPEND());
  alarm(0);
  EXPECT_FALSE(errors_.empty()) << "the failure is raised";
  DBCLOSEALL();
}

TEST_F(CloseSafetyTest, CloseAbandonedOnAFullDiskReleasesTheAreaAndCountsOnlyWrittenRecords) {
  std::string path = Create("t.dbf", {{"NAME", "C", 100, 0}});
  ASSERT_TRUE(Use(path, false));
  const uint64_t header = Bytes(path).size() - 1;
  {
    FileSizeLimit limit(static_cast<rlim_t>(header + 50 * 101 + 30));  // 50 whole records
    ASSERT_TRUE(limit.ok());
    // Appends of a table held exclusively are gathered and written at close.
    for (int i = 0; i < 200; ++i) {
      ASSERT_TRUE(DBAPPEND()) << ErrorText();
      FIELDPUT(1, Value::String("row " + std::to_string(i + 1)));
    }
    EXPECT_TRUE(Abandoned([] { DBCLOSEAREA(); }));
  }
  EXPECT_FALSE(USED()) << "the area stayed in use after its close was abandoned";
  std::string b = Bytes(path);
  uint32_t count = static_cast<uint32_t>(test::GetLe(b, 4, 4));
  EXPECT_EQ(count, 50u);
  EXPECT_EQ(b.size(), header + count * 101 + 1);  // no zero-filled records past the data
  ASSERT_TRUE(Use(path, false)) << ErrorText();
  DBGOTO(Value::Integer(50));
  EXPECT_EQ(FIELDGET(1).str().substr(0, 6), "row 50");
}

TEST_F(CloseSafetyTest, AreaDestroyedWithAHotRecordWritesItsKeys) {
  ASSERT_TRUE(MakeTable("t.dbf", {{"ID", "N", 4, 0}}));
  for (int i = 1; i <= 3; ++i) Add({Value::Integer(i)});
  ASSERT_TRUE(ORDCREATE(Path("t_id.ntx"), "T_ID", "ID")) << ErrorText();
  DBGOTO(Value::Integer(2));
  FIELDPUT(1, Value::Integer(99));  // hot, not yet written
  ReleaseArea(SELECT());            // the destructor path (a close-all that was abandoned)
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", Path("t.dbf"), "", false, false)) << ErrorText();
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("t_id.ntx")))) << ErrorText();
  EXPECT_TRUE(DBSEEK(Value::Integer(99)));
  EXPECT_EQ(RECNO(), 2u);
  EXPECT_FALSE(DBSEEK(Value::Integer(2)));
  EXPECT_EQ(ORDKEYCOUNT(), 3);
}

}  // namespace
}  // namespace vosk
