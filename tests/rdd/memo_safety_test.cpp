// Memo data survives failures: a pack that fails before the memo file is replaced leaves the
// table and its memo file exactly as they were, a rolled-back record change never leaves a
// reference to blocks that were freed (and possibly reused) while the change was pending, and
// a process killed while a rewritten value moves into its old blocks leaves every value whole.

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "memo_test_support.h"

namespace vosk {
namespace {

class MemoSafetyTest : public MemoTest {
 protected:
  std::string Text(int i, size_t length) {
    return std::string(length, static_cast<char>('a' + i % 26)) + std::to_string(i);
  }
  // The table and memo file bytes on disk, with everything pending written first.
  std::vector<std::string> Files(const std::string& dbf, const std::string& memo) {
    EXPECT_TRUE(Ok(Area()->flush())) << ErrorText();
    return {Bytes(Path(dbf)), Bytes(Path(memo))};
  }
};

// Names the first byte where two file images differ.
::testing::AssertionResult SameFiles(const std::vector<std::string>& now,
                                     const std::vector<std::string>& before) {
  const char* names[] = {"table", "memo file"};
  for (size_t i = 0; i < now.size(); ++i) {
    const std::string& a = now[i];
    const std::string& b = before[i];
    if (a == b) continue;
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    return ::testing::AssertionFailure() << "the " << names[i] << " changed at byte " << at
                                         << " (size " << b.size() << " -> " << a.size() << ")";
  }
  return ::testing::AssertionSuccess();
}

TEST_F(MemoSafetyTest, PackFailingBeforeTheSwitchLeavesBothFilesAsTheyWere) {
  const struct {
    const char* label;
    MemoSetup setup;
    const char* ext;
    const char* type;  // of the memo field
  } cases[] = {
      {"FPT", {.memo_kind = 2, .variant = 2, .block_size = 64}, ".fpt", "M"},
      {"DBT", {.memo_kind = 1}, ".dbt", "M"},
      {"SMT", {.memo_kind = 3, .block_size = 32}, ".smt", "M"},
      {"variant field", {.memo_kind = 2, .variant = 2, .block_size = 64}, ".fpt", "V"},
  };
  constexpr int kRecords = 40;
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DBCLOSEALL();
    std::string base = "pf" + std::to_string(++n);
    CreateOpen(base + ".dbf", {{"ID", "N", 3, 0}, {"NOTE", c.type, 10, 0}}, c.setup);
    for (int i = 1; i <= kRecords; ++i) {
      Append();
      Put(1, Value::Integer(i));
      Put(2, Value::String(Text(i, 2000)));
    }
    // Deleting the first records moves every survivor and every value.
    for (uint32_t r : {1u, 2u, 7u}) {
      ASSERT_TRUE(Ok(Area()->go_to(r)));
      ASSERT_TRUE(Ok(Area()->delete_record()));
    }
    std::vector<std::string> before = Files(base + ".dbf", base + c.ext);
    size_t memo_size = Bytes(Path(base + c.ext)).size();
    ASSERT_LT(Bytes(Path(base + ".dbf")).size(), memo_size / 2);
    errors_.clear();
    {
      // The temporary memo file cannot grow past half of what the survivors need.
      FileSizeLimit limit(memo_size / 2);
      ASSERT_TRUE(limit.ok());
      EXPECT_FALSE(Ok(Area()->pack()));
    }
    EXPECT_TRUE(HasError(kEgWrite, kEdfWrite)) << ErrorText();
    EXPECT_TRUE(SameFiles(Files(base + ".dbf", base + c.ext), before));

    // Without the limit the same pack goes through and keeps every surviving value.
    ASSERT_TRUE(Ok(Area()->pack())) << ErrorText();
    uint32_t count = 0;
    ASSERT_TRUE(Ok(Area()->record_count(&count)));
    ASSERT_EQ(count, static_cast<uint32_t>(kRecords - 3));
    for (uint32_t r = 1; r <= count; ++r) {
      ASSERT_TRUE(Ok(Area()->go_to(r)));
      int id = static_cast<int>(Get(1).number());
      EXPECT_EQ(Get(2).str(), Text(id, 2000)) << "record " << r;
    }
    EXPECT_LT(Bytes(Path(base + c.ext)).size(), memo_size);
  }
}

// Each case writes memo values in a record change and rolls it back; before the rollback's
// effect is judged, another record writes values that would take any freed blocks.
TEST_F(MemoSafetyTest, RollbackRestoresReferencesToIntactBlocks) {
  const struct {
    const char* label;
    MemoSetup setup;
    const char* ext;
    const char* type;
    std::vector<std::string> writes;  // written into record 1 within one change
  } cases[] = {
      // A shorter value would take the blocks of the last value in the file.
      {"FPT shorter", {.memo_kind = 2, .variant = 2, .block_size = 32}, ".fpt", "M",
       {std::string(50, 'n')}},
      {"FPT emptied", {.memo_kind = 2, .variant = 2, .block_size = 32}, ".fpt", "M", {""}},
      {"FPT written twice", {.memo_kind = 2, .variant = 3, .block_size = 32}, ".fpt", "M",
       {std::string(500, 'n'), std::string(20, 'm')}},
      {"plain FPT", {.memo_kind = 2, .variant = 1, .block_size = 32}, ".fpt", "M",
       {std::string(50, 'n')}},
      {"SMT", {.memo_kind = 3, .block_size = 32}, ".smt", "M", {std::string(50, 'n')}},
      {"variant field", {.memo_kind = 2, .variant = 2, .block_size = 32}, ".fpt", "V",
       {std::string(50, 'n')}},
  };
  const std::string old_value(120, 'o');
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DBCLOSEALL();
    std::string base = "rb" + std::to_string(++n);
    CreateOpen(base + ".dbf", {{"NOTE", c.type, 10, 0}}, c.setup);
    Append();
    Put(1, Value::String(old_value));  // the last value of the file
    Append();
    ASSERT_TRUE(Ok(Area()->go_cold()));
    ASSERT_TRUE(Ok(Area()->go_to(1)));
    std::vector<std::string> before = Files(base + ".dbf", base + c.ext);

    for (const std::string& w : c.writes) {
      ASSERT_TRUE(Ok(Area()->put_value(1, Value::String(w)))) << ErrorText();
    }
    EXPECT_TRUE(Info(130).logical());
    EXPECT_EQ(Get(1).str(), old_value);
    if (c.setup.variant != 3) {  // FlexFile headers count every save of the free list
      EXPECT_TRUE(SameFiles(Files(base + ".dbf", base + c.ext), before));
    }

    ASSERT_TRUE(Ok(Area()->go_to(2)));
    Put(1, Value::String(std::string(old_value.size(), 'x')));
    ASSERT_TRUE(Ok(Area()->go_to(1)));
    EXPECT_EQ(Get(1).str(), old_value);
  }
}

// A process is killed after the new value was copied into the old value's blocks (the record
// still references the value where it was written) and after the record was written again (the
// freed blocks are still counted as used): both times every value reads whole, and the next
// rewrites neither lose a value nor make the file grow.
TEST_F(MemoSafetyTest, KilledWhileAValueMovesIntoItsOldBlocks) {
  const struct {
    const char* label;
    MemoSetup setup;
    const char* ext;
  } kinds[] = {
      {"SIx FPT", {.memo_kind = 2, .variant = 2, .block_size = 32}, ".fpt"},
      {"plain FPT", {.memo_kind = 2, .variant = 1, .block_size = 32}, ".fpt"},
      {"DBT", {.memo_kind = 1}, ".dbt"},
  };
  int n = 0;
  for (const auto& k : kinds) {
    for (const char* point : {"memo-move-copied", "memo-move-written"}) {
      SCOPED_TRACE(std::string(k.label) + " " + point);
      DBCLOSEALL();
      const std::string base = "mv" + std::to_string(++n);
      CreateOpen(base + ".dbf", {{"NOTE", "M", 10, 0}}, k.setup);
      Append();
      Put(1, Value::String(Text(1, 700)));
      Append();
      Put(1, Value::String(Text(2, 700)));
      DBCLOSEALL();
      pid_t pid = fork();
      if (pid == 0) {
        setenv("VOSK_CRASH_AT", point, 1);
        bool ok = Use(Path(base + ".dbf"), false, false, "", "DBFFPT") &&
                  Ok(Area()->go_to(2)) && Ok(Area()->put_value(1, Value::String(Text(3, 650)))) &&
                  Ok(Area()->go_cold());
        _exit(ok ? 0 : 1);
      }
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

      ASSERT_TRUE(Use(Path(base + ".dbf"), false, false, "", "DBFFPT")) << ErrorText();
      ASSERT_TRUE(Ok(Area()->go_to(1)));
      EXPECT_EQ(Get(1).str(), Text(1, 700));
      ASSERT_TRUE(Ok(Area()->go_to(2)));
      EXPECT_EQ(Get(1).str(), Text(3, 650));
      Put(1, Value::String(Text(4, 650)));
      const size_t size = Bytes(Path(base + k.ext)).size();
      for (int i = 5; i < 8; ++i) Put(1, Value::String(Text(i, 650)));
      EXPECT_EQ(Bytes(Path(base + k.ext)).size(), size);
      EXPECT_EQ(Get(1).str(), Text(7, 650));
      ASSERT_TRUE(Ok(Area()->go_to(1)));
      EXPECT_EQ(Get(1).str(), Text(1, 700));
    }
  }
}

TEST_F(MemoSafetyTest, RollbackOfAnAppendedRecordGivesItsBlocksBack) {
  CreateOpen("ap.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 2, .block_size = 32});
  Append();
  Put(1, Value::String(std::string(100, 'k')));
  std::string memo = Bytes(Path("ap.fpt"));
  Append();
  ASSERT_TRUE(Ok(Area()->put_value(1, Value::String(std::string(300, 'g')))));
  EXPECT_TRUE(Info(130).logical());
  EXPECT_EQ(Get(1).str(), "");
  ASSERT_TRUE(Ok(Area()->go_cold()));
  EXPECT_EQ(Bytes(Path("ap.fpt")), memo);
}

// Until the change is written, the record in the file still references the old value: a
// reader in another area, and a writer that takes free blocks, see and keep it intact.
TEST_F(MemoSafetyTest, PendingChangeKeepsTheOldValueForOtherAreas) {
  CreateOpen("sh.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 2, .block_size = 32});
  Append();
  Put(1, Value::String(std::string(200, 'o')));
  Append();
  Put(1, Value::String("second"));
  DBCLOSEALL();
  ASSERT_TRUE(Use(Path("sh.dbf"), true, false, "A", "DBFFPT")) << ErrorText();
  FptArea* writer = Area();
  bool locked = false;
  ASSERT_TRUE(Ok(writer->lock(2, 1, &locked)) && locked);
  ASSERT_TRUE(Ok(writer->go_to(1)));
  ASSERT_TRUE(Ok(writer->put_value(1, Value::String(""))));

  ASSERT_TRUE(Use(Path("sh.dbf"), true, false, "B", "DBFFPT")) << ErrorText();
  ASSERT_TRUE(Ok(Area()->lock(2, 2, &locked)) && locked);
  ASSERT_TRUE(Ok(Area()->go_to(2)));
  Put(1, Value::String(std::string(200, 'y')));
  ASSERT_TRUE(Ok(Area()->go_to(1)));
  EXPECT_EQ(Get(1).str(), std::string(200, 'o'));

  ASSERT_TRUE(Ok(writer->go_cold()));
  EXPECT_TRUE(Ok(Area()->go_to(1)));
  EXPECT_EQ(Get(1).str(), "");
  ASSERT_TRUE(Ok(Area()->go_to(2)));
  EXPECT_EQ(Get(1).str(), std::string(200, 'y'));
}

}  // namespace
}  // namespace vosk
