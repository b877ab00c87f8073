#include "platform/file_fault.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/os_error.h"
#include "support/file_faults.h"

namespace vosk {
namespace {

class FileFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/file_fault_test.XXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A file of 16 bytes "0123456789abcdef", open read-write.
  void Make(File* f, const std::string& name) {
    ASSERT_EQ(f->Create(dir_ + "/" + name, Share::kDenyNone), 0);
    ASSERT_EQ(f->WriteAt("0123456789abcdef", 16, 0), 16);
  }
  std::string Contents(File* f) {
    std::string s(static_cast<size_t>(f->Size()), '\0');
    EXPECT_EQ(f->ReadAt(s.data(), s.size(), 0), static_cast<int64_t>(s.size()));
    return s;
  }

  std::string dir_;
};

// Each kind of fault fails the call it names, with the code a real failure of that errno
// gets, and leaves the file as the failed call found it.
TEST_F(FileFaultTest, EachKindFailsItsCallWithTheMappedCode) {
  struct Case {
    const char* name;
    FaultOp op;
    int error;
    std::function<bool(File*)> call;  // true when the call went through
    int os_code;
    const char* after;                // the file afterwards
  };
  const std::vector<Case> cases = {
      {"write ENOSPC", FaultOp::kWrite, ENOSPC,
       [](File* f) { return f->WriteAt("XY", 2, 4) == 2; }, kOsDiskFull, "0123456789abcdef"},
      {"write EIO", FaultOp::kWrite, EIO,
       [](File* f) { return f->WriteAt("XY", 2, 4) == 2; }, kOsNotReady, "0123456789abcdef"},
      {"growing write", FaultOp::kGrowingWrite, ENOSPC,
       [](File* f) { return f->WriteAt("XYZ", 3, 15) == 3; }, kOsDiskFull, "0123456789abcdef"},
      {"sequential write", FaultOp::kWrite, EFBIG,
       [](File* f) { return f->Write("XY", 2) == 2; }, kOsDiskFull, "0123456789abcdef"},
      {"fsync", FaultOp::kCommit, EIO, [](File* f) { return f->Commit(); }, kOsNotReady,
       "0123456789abcdef"},
      {"truncate", FaultOp::kTruncate, EIO, [](File* f) { return f->Truncate(4); },
       kOsNotReady, "0123456789abcdef"},
      {"lock EBADF", FaultOp::kLock, EBADF,
       [](File* f) { return f->Lock(100, 1, true, false); }, kOsGeneric, "0123456789abcdef"},
      {"lock ENOLCK", FaultOp::kLock, ENOLCK,
       [](File* f) { return f->Lock(100, 1, true, true); }, kOsNoLocks, "0123456789abcdef"},
      {"lock contention", FaultOp::kLock, EAGAIN,
       [](File* f) { return f->Lock(100, 1, false, false); }, kOsLockViolation,
       "0123456789abcdef"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    File f;
    Make(&f, "t.dbf");
    {
      FaultScope fault(c.op, c.error, ".dbf");
      EXPECT_FALSE(c.call(&f));
      EXPECT_EQ(f.last_error(), c.os_code);
      EXPECT_EQ(fault.injected(), 1u);
      EXPECT_EQ(Contents(&f), c.after);
      // Only the first matching call fails.
      EXPECT_TRUE(c.call(&f));
      EXPECT_EQ(fault.calls(), 2u);
    }
    // Disarmed: nothing fails, nothing counts.
    EXPECT_TRUE(c.call(&f));
  }
}

// What a fault matches: its kind of call, the files of its suffix in any letter case, the
// writes past the end only for a growing write; the nth call, and every later one when sticky.
TEST_F(FileFaultTest, CountingFollowsSuffixKindAndPosition) {
  File table, index;
  Make(&table, "T.DBF");
  Make(&index, "t.ntx");
  {
    FaultScope fault(FaultOp::kWrite, ENOSPC, ".dbf", 2, /*sticky=*/true);
    EXPECT_EQ(index.WriteAt("x", 1, 0), 1);   // another file
    EXPECT_TRUE(table.Commit());              // another kind of call
    EXPECT_EQ(table.WriteAt("x", 1, 0), 1);   // the first write of T.DBF
    EXPECT_EQ(table.WriteAt("x", 1, 1), -1);  // the second
    EXPECT_EQ(table.Write("x", 1), -1);       // sticky: every later one
    EXPECT_EQ(fault.calls(), 3u);
    EXPECT_EQ(fault.injected(), 2u);
  }
  {
    FaultScope full(FaultOp::kGrowingWrite, ENOSPC);
    EXPECT_EQ(index.WriteAt("yy", 2, 14), 2);   // within the file: not counted
    EXPECT_EQ(index.WriteAt("yy", 2, 15), -1);  // one byte past the end
    EXPECT_EQ(index.Size(), 16);
    EXPECT_EQ(full.calls(), 1u);
  }
  {
    FileFault torn(FaultOp::kWrite, ENOSPC);
    torn.torn = true;
    FaultScope fault(torn);
    EXPECT_EQ(index.WriteAt("ABCDE", 5, 0), -1);
    EXPECT_EQ(Contents(&index).substr(0, 5), "AB234");
  }
}

// A real refusal by another holder is contention, as the injected EAGAIN is.
TEST_F(FileFaultTest, RealContentionHasTheContentionCode) {
  File a, b;
  Make(&a, "t.cdx");
  ASSERT_EQ(b.Open(dir_ + "/t.cdx", Access::kReadWrite, Share::kDenyNone), 0);
  ASSERT_TRUE(a.Lock(500, 1, true, false));
  EXPECT_FALSE(b.Lock(500, 1, true, false));
  EXPECT_EQ(b.last_error(), kOsLockViolation);
}

// A sweep fails every matching call of a run once, then stops at the run that goes through.
TEST_F(FileFaultTest, SweepFailsEachCallOnceThenStops) {
  std::vector<int> failed_at;
  uint64_t runs = SweepFaults({FaultOp::kWrite, ENOSPC, ".fpt"}, [&](uint64_t n, FaultScope&) {
    File f;
    ASSERT_EQ(f.Create(dir_ + "/m.fpt", Share::kExclusive), 0);
    for (int i = 0; i < 4; ++i) {
      if (f.WriteAt("b", 1, static_cast<uint64_t>(i)) != 1) {
        failed_at.push_back(i);
        return;  // the change gives up at its first failure
      }
    }
  });
  EXPECT_EQ(runs, 4u);
  EXPECT_EQ(failed_at, (std::vector<int>{0, 1, 2, 3}));
}

}  // namespace
}  // namespace vosk
