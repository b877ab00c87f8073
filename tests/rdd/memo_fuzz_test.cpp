// Damaged memo files, run only to find crashes, sanitizer faults, hangs and writes where none
// belong: sound tables with DBT, FPT and SMT memo files have their memo blocks, headers, free
// lists and references mutated; every value is read through a read-only open (which must not
// change either file), then the table is opened for writing, appended to and packed. Errors
// are expected and answered "default".

#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "memo_test_support.h"

namespace vosk {
namespace {

class MemoFuzzTest : public MemoTest {
 protected:
  struct Seed {
    std::string ext;
    std::string dbf, memo;
  };

  Seed MakeSeed(const std::string& name, const MemoSetup& setup, const std::string& ext) {
    DBCLOSEALL();
    CreateOpen(name + ".dbf", {{"ID", "N", 4, 0}, {"NOTE", "M", 10, 0}, {"MORE", "M", 10, 0}},
               setup);
    for (int i = 1; i <= 12; ++i) {
      Append();
      Put(1, Value::Integer(i));
      Put(2, Value::String(std::string(static_cast<size_t>(i * 97 % 1500), 'a' + i % 26)));
      if (i % 2) Put(3, Value::String("short " + std::to_string(i)));
      if (i % 4 == 0) DBDELETE();
    }
    // Rewritten values leave free runs (and list blocks) behind.
    for (int i = 2; i <= 12; i += 3) {
      DBGOTO(Value::Integer(i));
      Put(2, Value::String(std::string(10, 'z')));
    }
    DBCLOSEALL();
    return {ext, Bytes(Path(name + ".dbf")), Bytes(Path(name + ext))};
  }

  static std::string MutateMemo(std::string b, std::mt19937& rng, uint32_t block) {
    auto pick = [&](size_t n) { return n == 0 ? 0 : static_cast<size_t>(rng() % n); };
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !b.empty(); ++e) {
      switch (rng() % 8) {
        case 0:
          b[pick(b.size())] ^= static_cast<char>(1u << (rng() % 8));
          break;
        case 1:
          b[pick(b.size())] = static_cast<char>(rng());
          break;
        case 2: {  // a header word: next free block, block size, list entries and offsets
          static const size_t kWords[] = {0, 4, 18, 20, 22, 524, 528, 532, 540};
          size_t at = kWords[pick(sizeof kWords / sizeof kWords[0])];
          uint32_t v =
              rng() % 3 == 0 ? static_cast<uint32_t>(rng()) : static_cast<uint32_t>(rng() % 64);
          for (int k = 0; k < 4 && at + k < b.size(); ++k)
            b[at + k] = static_cast<char>(v >> (8 * (3 - k)));
          break;
        }
        case 3: {  // a block header: type and length words of some value
          size_t at = static_cast<size_t>(block) * (1 + pick(12));
          uint32_t v = static_cast<uint32_t>(rng());
          for (int k = 0; k < 4 && at + 4 + k < b.size(); ++k)
            b[at + 4 + k] = static_cast<char>(v >> (8 * k));
          break;
        }
        case 4:
          b.resize(pick(b.size() + 1));
          break;
        case 5:
          b.append(pick(700), static_cast<char>(rng()));
          break;
        case 6: {  // 0x1A terminators of DBT values vanish or appear
          size_t at = pick(b.size());
          b[at] = b[at] == 0x1A ? 'x' : 0x1A;
          break;
        }
        case 7:
          std::fill(b.begin() + static_cast<long>(pick(b.size())), b.end(), '\0');
          break;
      }
    }
    return b;
  }

  static std::string MutateReferences(std::string dbf, std::mt19937& rng) {
    // Record references: ten bytes after the ID field of some record.
    uint16_t header =
        static_cast<uint16_t>(static_cast<uint8_t>(dbf[8]) | (static_cast<uint8_t>(dbf[9]) << 8));
    uint16_t length =
        static_cast<uint16_t>(static_cast<uint8_t>(dbf[10]) | (static_cast<uint8_t>(dbf[11]) << 8));
    size_t at = header + length * (rng() % 12) + 5 + rng() % 20;
    if (at < dbf.size()) dbf[at] = "0123456789 -\xFF"[rng() % 13];
    return dbf;
  }
};

TEST_F(MemoFuzzTest, MutatedMemoFilesNeverCrashNorChangeOnReading) {
  std::vector<Seed> seeds = {
      MakeSeed("s_dbt", {.memo_kind = 1}, ".dbt"),
      MakeSeed("s_six", {.memo_kind = 2, .variant = 2, .block_size = 32}, ".fpt"),
      MakeSeed("s_flex", {.memo_kind = 2, .variant = 3, .block_size = 64}, ".fpt"),
      MakeSeed("s_plain", {.memo_kind = 2, .variant = 1, .block_size = 64}, ".fpt"),
      MakeSeed("s_smt", {.memo_kind = 3, .block_size = 32}, ".smt"),
  };
  const uint32_t blocks[] = {512, 32, 64, 64, 32};
  const int kIterations = FuzzIterations(250);
  alarm(60 + static_cast<unsigned>(kIterations) / 5);  // a hang ends the program
  int read_ok = 0;
  for (int i = 0; i < kIterations; ++i) {
    std::mt19937 rng(static_cast<uint32_t>(i) * 2654435761u + 5);
    size_t s = static_cast<size_t>(i) % seeds.size();
    const Seed& seed = seeds[s];
    std::string memo = MutateMemo(seed.memo, rng, blocks[s]);
    std::string dbf = rng() % 4 == 0 ? MutateReferences(seed.dbf, rng) : seed.dbf;
    std::string table = Path("fz.dbf"), memo_path = Path("fz" + seed.ext);
    DBCLOSEALL();
    for (const char* ext : {".dbf", ".dbt", ".fpt", ".smt"})
      std::remove(Path(std::string("fz") + ext).c_str());
    test::WriteFileBytes(table, dbf);
    test::WriteFileBytes(memo_path, memo);
    errors_.clear();
    try {
      if (Use(table, false, true, "", "DBFFPT")) {
        for (uint32_t r = 1; r <= LASTREC() && r <= 14; ++r) {
          DBGOTO(Value::Integer(r));
          (void)FIELDGET(2);
          (void)FIELDGET(3);
          Value v;
          (void)Area()->field_info(2, 202, &v);
          (void)Area()->field_info(3, 205, &v);
        }
        ++read_ok;
        DBCLOSEALL();
      }
      ASSERT_EQ(Bytes(table), dbf) << "iteration " << i << ": reading wrote the table";
      ASSERT_EQ(Bytes(memo_path), memo) << "iteration " << i << ": reading wrote the memo file";
      if (i % 3 == 0 && Use(table, false, false, "", "DBFFPT")) {
        if (DBAPPEND()) {
          FIELDPUT(1, Value::Integer(99));
          FIELDPUT(2, Value::String(std::string(300, 'q')));
        }
        DBGOTO(Value::Integer(1 + rng() % 12));
        FIELDPUT(3, Value::String(std::string(1 + rng() % 200, 'r')));
        DBCOMMIT();
        (void)DBPACK();
        DBCLOSEALL();
      }
    } catch (const Abandon& a) {
      FAIL() << "iteration " << i
             << ": abandoned although the handler answers default: " << a.what();
    }
  }
  alarm(0);
  EXPECT_GT(read_ok, kIterations / 3);
}

}  // namespace
}  // namespace vosk
