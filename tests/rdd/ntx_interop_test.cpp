// An independent NTX reader agrees with this engine: the real NTX file written by another
// program walks in the same order here, and the files this engine writes (character, numeric
// with decimals and negatives, date, unique; several levels) walk in the same order there.

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "ntx_test_support.h"

namespace vosk {
namespace {

namespace fs = std::filesystem;

const std::string kShared = std::string(VOSK_SOURCE_DIR) + "/../shared";

// Runs the reader; false when it cannot run here.
bool ReaderWalk(const std::string& table, const std::string& index,
                std::vector<std::pair<std::string, uint32_t>>* out) {
  std::string script = kShared + "/tools/xbase-index-walk.pl";
  if (!fs::exists(script)) return false;
  std::string cmd = "perl '" + script + "' '" + table + "' '" + index + "' 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  char line[4096];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t tab = s.rfind('\t');
    if (tab == std::string::npos) continue;
    std::string key = s.substr(0, tab);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    out->push_back({key, static_cast<uint32_t>(std::stoul(s.substr(tab + 1)))});
  }
  int rc = pclose(p);
  return WIFEXITED(rc) && WEXITSTATUS(rc) == 0 && !out->empty();
}

// The record numbers of a walk. The reader prints an entry twice where equal keys continue
// from a separator into the next leaf; adjacent repeats of one (key, record) are dropped.
std::vector<uint32_t> Recnos(const std::vector<std::pair<std::string, uint32_t>>& v) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i > 0 && v[i] == v[i - 1]) continue;
    out.push_back(v[i].second);
  }
  return out;
}

class NtxInteropTest : public NtxTest {};

TEST_F(NtxInteropTest, RealNtxFileWalksAsTheReaderWalksIt) {
  std::string real = kShared + "/fixtures/real/";
  if (!fs::exists(real + "ntx-char.ntx")) GTEST_SKIP() << "no real fixtures";
  fs::copy_file(real + "ntx-char.dbf", Path("ntx-char.dbf"));
  fs::copy_file(real + "ntx-char.ntx", Path("ntx-char.ntx"));
  std::vector<std::pair<std::string, uint32_t>> theirs;
  if (!ReaderWalk(Path("ntx-char.dbf"), Path("ntx-char.ntx"), &theirs)) {
    GTEST_SKIP() << "the reader does not run here";
  }
  // "NTX-CHAR" is no alias; the key's own prefix (ntx_char->) is not one in use either.
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", Path("ntx-char.dbf"), "REAL", false, true)) << ErrorText();
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("ntx-char.ntx")))) << ErrorText();
  EXPECT_EQ(ORDKEY(), "ntx_char->v1");
  std::vector<uint32_t> ours = Walk();
  EXPECT_EQ(ours, Recnos(theirs));
  EXPECT_EQ(ORDKEYCOUNT(), 68);
  // Seeks land where the reader's order says.
  EXPECT_TRUE(DBSEEK(Value::String(theirs[10].first)));
  EXPECT_EQ(FIELDGET(1).str().substr(0, theirs[10].first.size()), theirs[10].first);
  ASSERT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(NtxInteropTest, FilesWeWriteWalkAsTheReaderWalksThem) {
  ASSERT_TRUE(MakeTable("w", {{"NAME", "C", 12, 0}, {"AMOUNT", "N", 9, 2}, {"DAY", "D", 8, 0}}));
  std::mt19937 rng(11);
  for (int i = 0; i < 3000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "N%04u", static_cast<unsigned>(rng() % 2500));
    double amount = static_cast<int>(rng() % 200000 - 100000) / 100.0;
    int32_t day = (rng() % 10 == 0) ? 0 : JulianFromYmd(1990 + static_cast<int>(rng() % 30),
                                                        1 + static_cast<int>(rng() % 12),
                                                        1 + static_cast<int>(rng() % 28));
    Add({Value::String(name), Value::Double(amount, 0, 2), Value::Date(day)});
  }
  DBCOMMIT();
  const struct {
    const char* bag;
    const char* key;
    bool unique;
  } kOrders[] = {
      {"wname.ntx", "NAME", false},
      {"wamount.ntx", "AMOUNT", false},
      {"wday.ntx", "DAY", false},
      {"wuniq.ntx", "NAME", true},
  };
  bool ran = false;
  for (const auto& o : kOrders) {
    ASSERT_TRUE(ORDCREATE(Path(o.bag), "", o.key, nullptr, Value::Logical(o.unique)))
        << ErrorText();
    std::vector<uint32_t> ours = Walk();
    DBCOMMIT();
    std::vector<std::pair<std::string, uint32_t>> theirs;
    if (!ReaderWalk(Path("w.dbf"), Path(o.bag), &theirs)) continue;
    ran = true;
    EXPECT_EQ(ours.size(), o.unique ? static_cast<size_t>(ORDKEYCOUNT()) : 3000u) << o.bag;
    EXPECT_EQ(ours, Recnos(theirs)) << o.bag;

  }
  if (!ran) GTEST_SKIP() << "the reader does not run here";
  ASSERT_TRUE(errors_.empty()) << ErrorText();
}

}  // namespace
}  // namespace vosk
