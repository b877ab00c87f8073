#include "platform/owned_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/file.h"

namespace vosk {
namespace {

// Owned files of the temporary folder are removed once their owner is gone, never while a
// process still uses them.
TEST(OwnedFiles, CleaningRemovesOnlyFilesWhoseOwnerIsGone) {
  char tmpl[] = "/tmp/owned_test.XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", dir.c_str(), 1);

  // A child that makes a temporary file and is killed while holding it.
  int to_parent[2];
  ASSERT_EQ(pipe(to_parent), 0);
  auto child_with_file = [&](bool stay) {
    pid_t pid = fork();
    if (pid == 0) {
      File f;
      std::string name = TemporaryFileName();
      if (f.Create(name, Share::kExclusive) != 0) _exit(1);
      (void)!write(to_parent[1], "x", 1);
      if (!stay) raise(SIGKILL);
      pause();
      _exit(0);
    }
    char c;
    EXPECT_EQ(read(to_parent[0], &c, 1), 1);
    return pid;
  };
  pid_t killed = child_with_file(false);
  int status = 0;
  waitpid(killed, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  pid_t live = child_with_file(true);

  File mine;
  std::string my_name = TemporaryFileName();
  ASSERT_EQ(mine.Create(my_name, Share::kExclusive), 0);
  std::ofstream(dir + "/vosk-notes.txt") << "not ours";
  std::ofstream(dir + "/vosk-12x-1.tmp") << "not an owned name";

  ASSERT_EQ(ListDirectory(dir).size(), 5u);
  CleanTemporaryFolder();
  std::vector<std::string> left = ListDirectory(dir);
  EXPECT_EQ(left.size(), 4u);
  for (const std::string& name : left) {
    EXPECT_NE(name.find("vosk-" + std::to_string(killed) + "-"), 0u) << name;
  }
  EXPECT_TRUE(FileExists(my_name));

  // Once the live owner is gone too, its file goes at the next clean-up.
  kill(live, SIGKILL);
  waitpid(live, &status, 0);
  CleanTemporaryFolder();
  EXPECT_EQ(ListDirectory(dir).size(), 3u);

  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
  std::filesystem::remove_all(dir);
}

TEST(OwnedFiles, OwnerPidIsReadOnlyFromOwnedNames) {
  const struct { const char* name; const char* prefix; long pid; } cases[] = {
      {"vosk-123-4.tmp", "", 123},
      {"T.vosk-77-0.dbf.new", "t.", 77},  // the prefix compares without regard to case
      {"T.vosk-77-0.dbf.new", "", 0},
      {"vosk-123.tmp", "", 0},
      {"vosk--1-2.tmp", "", 0},
      {"xvosk-1-2.tmp", "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OwnerPidOf(c.name, c.prefix), c.pid) << c.name;
  }
}

}  // namespace
}  // namespace vosk
