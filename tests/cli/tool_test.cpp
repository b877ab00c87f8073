// dbutool as a script sees it: evaluation lines, filtered listing and counting, passwords
// and error lines.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/dbf_image.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
};

// Runs dbutool with a shell-quoted argument string; stderr joins stdout when asked.
ToolRun Tool(const std::string& args, bool with_stderr = false) {
  std::string cmd = std::string(DBUTOOL_PATH) + " " + args + (with_stderr ? " 2>&1" : " 2>/dev/null");
  ToolRun r{0, ""};
  FILE* p = popen(cmd.c_str(), "r");
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "tool_test_" + std::to_string(getpid());
    std::string mk = "mkdir -p '" + dir_ + "'";
    ASSERT_EQ(system(mk.c_str()), 0);
    table_ = "'" + dir_ + "/people.dbf'";
    std::ofstream(dir_ + "/people.csv")
        << "NAME,AMOUNT,BORN,OK,STAMP\n"
        << "Rossi,12.5,2020-01-31,T,2021-03-04 05:06:07.089\n"
        << "\"Verdi, è\",-3,,F,\n"
        << "Bianchi,600,1999-12-31,T,\n";
    ASSERT_EQ(Tool("create " + table_ + " NAME:C:12 AMOUNT:N:8:2 BORN:D:8 OK:L:1 STAMP:T:8 --kind vfp")
                  .status, 0);
    ASSERT_EQ(Tool("append " + table_ + " --csv '" + dir_ + "/people.csv'").status, 0);
  }
  void TearDown() override {
    std::string rm = "rm -rf '" + dir_ + "'";
    (void)system(rm.c_str());
  }
  // Creates dir_/NAME.dbf with the fields and the rows "<text>1,<i>" ... of fields NAME and a
  // second one, n of them; returns its path.
  std::string MakeNumbered(const std::string& name, const std::string& fields,
                           const std::string& columns, const std::string& text, int n) {
    const std::string path = dir_ + "/" + name + ".dbf";
    std::string csv = columns + "\n";
    for (int i = 1; i <= n; ++i) csv += "name" + std::to_string(i) + "," + text + std::to_string(i) + "\n";
    std::ofstream(dir_ + "/" + name + ".csv") << csv;
    EXPECT_EQ(Tool("create '" + path + "' " + fields).status, 0);
    EXPECT_EQ(Tool("append '" + path + "' --csv '" + dir_ + "/" + name + ".csv'").status, 0);
    return path;
  }
  // Creates dir_/big.dbf (NAME C30, N N6) with the 20,000 records "name <i * 7919 % 20000>",
  // i % 97; returns its path ("" when it could not be made).
  std::string MakeNames() {
    const std::string table = dir_ + "/big.dbf";
    std::ofstream out(dir_ + "/names.csv");
    out << "NAME,N\n";
    for (int i = 1; i <= 20000; ++i) out << "name " << (i * 7919 % 20000) << "," << i % 97 << "\n";
    out.close();
    const bool made = Tool("create '" + table + "' NAME:C:30 N:N:6").status == 0 &&
                      Tool("append '" + table + "' --csv '" + dir_ + "/names.csv'").status == 0;
    return made ? table : "";
  }
  std::string dir_, table_;
};

TEST_F(ToolTest, EvalPrintsTypeLetterAndValue) {
  struct Case {
    const char* expr;
    int recno;
    const char* line;
    int status;
  } cases[] = {
      {"AMOUNT * 2", 1, "N\t25.00\n", 0},
      {"NAME", 2, "C\tVerdi, è    \n", 0},
      {"BORN + 1", 1, "D\t2020-02-01\n", 0},
      {"BORN", 2, "D\t\n", 0},
      {"STAMP", 1, "T\t2021-03-04 05:06:07.089\n", 0},
      {"OK .AND. AMOUNT > 500", 3, "L\tT\n", 0},
      {"NIL", 1, "U\tNIL\n", 0},
      {"RECNO()", 3, "N\t3\n", 0},
      {"UPPER(LEFT(NAME, 3))", 3, "C\tBIA\n", 0},
      {"1/0", 1, "E\t5/1340 Zero divisor\n", 1},
      {"NOSUCHNAME", 1, "E\t14/1003 Variable does not exist\n", 1},
      {"AMOUNT +", 1, "E\t7/1449 Syntax error\n", 1},
  };
  for (const Case& c : cases) {
    ToolRun r = Tool("eval " + table_ + " '" + c.expr + "' --recno " + std::to_string(c.recno));
    EXPECT_EQ(r.out, c.line) << c.expr;
    EXPECT_EQ(r.status, c.status) << c.expr;
  }
}

TEST_F(ToolTest, ListForAndCount) {
  ToolRun r = Tool("list " + table_ + " --csv --recno --fields NAME --for 'AMOUNT > 0'");
  EXPECT_EQ(r.out, "_RECNO,NAME\r\n1,Rossi\r\n3,Bianchi\r\n");
  EXPECT_EQ(Tool("list " + table_ + " --count --for 'OK'").out, "2\n");
  EXPECT_EQ(Tool("list " + table_ + " --count").out, "3\n");
  ToolRun bad = Tool("list " + table_ + " --count --for 'AMOUNT >'", true);
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.out.find("7/1449"), std::string::npos) << bad.out;
}

// "-" is a stream: list and copy write CSV into a pipe, append and import read it from one;
// a deleted record listed with --all comes back deleted, a copy without --all leaves it out.
TEST_F(ToolTest, CsvThroughPipesBothWays) {
  std::ofstream(dir_ + "/gone.csv") << "_DELETED,NAME,AMOUNT\n*,Gone,1\n";
  ASSERT_EQ(Tool("append " + table_ + " --csv '" + dir_ + "/gone.csv'").status, 0);
  const std::string copy = "'" + dir_ + "/copy.dbf'";
  ASSERT_EQ(Tool("create " + copy + " NAME:C:12 AMOUNT:N:8:2 BORN:D:8 OK:L:1 STAMP:T:8 --kind vfp")
                .status, 0);
  ToolRun piped = Tool("list " + table_ + " --csv --all | " + DBUTOOL_PATH + " append " + copy +
                       " --csv - && " + DBUTOOL_PATH + " copy " + table_ + " - --format csv | " +
                       DBUTOOL_PATH + " import " + copy + " - --format csv", true);
  EXPECT_EQ(piped.status, 0) << piped.out;
  const std::string expected = Tool("list " + table_ + " --csv --all").out;
  EXPECT_EQ(expected.substr(0, expected.find('\n')), "_DELETED,NAME,AMOUNT,BORN,OK,STAMP\r");
  ToolRun back = Tool("list " + copy + " --csv --all");
  // The copy without --all leaves the deleted record (the last) out.
  std::string live = expected.substr(expected.find('\n') + 1);
  const size_t gone = live.rfind("\n*,");
  ASSERT_NE(gone, std::string::npos) << live;
  live.erase(gone + 1);
  EXPECT_EQ(back.out, expected + live);
}

TEST_F(ToolTest, PasswordEnciphersWhatItCreates) {
  std::string secret = "'" + dir_ + "/secret.dbf'";
  ASSERT_EQ(Tool("create " + secret + " NAME:C:10 QTY:N:5 --password chiave").status, 0);
  std::ofstream(dir_ + "/rows.csv") << "NAME,QTY\nalpha,1\nbeta,2\n";
  ASSERT_EQ(Tool("append " + secret + " --csv '" + dir_ + "/rows.csv' --password chiave").status, 0);
  std::ifstream f(dir_ + "/secret.dbf", std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
  ASSERT_GT(bytes.size(), 100u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x06);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("alpha"), std::string::npos);
  EXPECT_EQ(Tool("list " + secret + " --csv --password chiave").out, "NAME,QTY\r\nalpha,1\r\nbeta,2\r\n");
  EXPECT_NE(Tool("list " + secret + " --csv").out, "NAME,QTY\r\nalpha,1\r\nbeta,2\r\n");
}

// The table opens under an alias made from its name, or the one --alias gives.
TEST_F(ToolTest, AliasComesFromTheFileName) {
  struct Case { const char* file; const char* expr; const char* line; };
  for (const Case& c : {Case{"clienti.dbf", "CLIENTI->NAME", "C\tRossi       \n"},
                        Case{"sales-2024.dbf", "SALES_2024->NAME", "C\tRossi       \n"},
                        Case{"2024.dbf", "ALIAS()", "C\tT_2024\n"},
                        Case{"e.dbf", "ALIAS()", "C\tE_\n"}}) {
    std::string copy = "'" + dir_ + "/" + c.file + "'";
    ASSERT_EQ(system(("cp " + table_ + " " + copy).c_str()), 0);
    EXPECT_EQ(Tool("eval " + copy + " '" + c.expr + "'").out, c.line) << c.file;
    EXPECT_EQ(Tool("list " + copy + " --count --for \"" + c.expr + " = " + c.expr + "\"").out, "3\n")
        << c.file;
  }
  EXPECT_EQ(Tool("eval " + table_ + " 'ORDERS->AMOUNT' --alias ORDERS").out, "N\t12.50\n");
  ToolRun bad = Tool("eval " + table_ + " '1' --alias 9X", true);
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.out.find("not a valid alias: 9X"), std::string::npos) << bad.out;
}

TEST_F(ToolTest, CodepageIsReportedAndCanBeNamed) {
  ToolRun info = Tool("info " + table_);
  EXPECT_NE(info.out.find("Code page:      cp1252 (table header)"), std::string::npos) << info.out;
  EXPECT_NE(Tool("info " + table_ + " --codepage 850").out.find("Code page:      cp850 (named)"),
            std::string::npos);
  // The same bytes read as another code page; --oem is cp850.
  EXPECT_EQ(Tool("eval " + table_ + " NAME --recno 2 --codepage cp850").out, "C\tVerdi, \xc3\x9e    \n");
  EXPECT_EQ(Tool("eval " + table_ + " NAME --recno 2 --oem").out, "C\tVerdi, \xc3\x9e    \n");
  ToolRun bad = Tool("list " + table_ + " --codepage klingon", true);
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.out.find("unknown code page klingon"), std::string::npos) << bad.out;
}

// A numeric field filled with "*" (an overflow, or how some programs write a null) lists
// empty, as a blank one does, and counts as 0 in expressions.
TEST_F(ToolTest, StarFilledNumbersListEmpty) {
  std::string t = "'" + dir_ + "/stars.dbf'";
  ASSERT_EQ(Tool("create " + t + " QTY:N:5:0 PRICE:N:6:2 NAME:C:2").status, 0);
  std::ofstream(dir_ + "/stars.csv") << "QTY,PRICE,NAME\n1,2.5,a\n";
  ASSERT_EQ(Tool("append " + t + " --csv '" + dir_ + "/stars.csv'").status, 0);
  {
    std::fstream f(dir_ + "/stars.dbf", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(32 + 3 * 32 + 2 + 1);  // the first field of record 1
    f.write("***********", 11);
  }
  EXPECT_EQ(Tool("list " + t + " --csv").out, "QTY,PRICE,NAME\r\n,,a\r\n");
  EXPECT_EQ(Tool("eval " + t + " 'QTY + PRICE + 1'").out, "N\t1.00\n");
}

TEST_F(ToolTest, ErrorsAreOneLineWithCodes) {
  ToolRun missing = Tool("info '" + dir_ + "/nothere.dbf'", true);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("nothere.dbf: error 21/1001 Open error"), std::string::npos) << missing.out;
  EXPECT_EQ(std::count(missing.out.begin(), missing.out.end(), '\n'), 1);
  std::ofstream(dir_ + "/bad.csv") << "NAME,AMOUNT\nok,1\nbad,abc\n";
  ToolRun bad = Tool("append " + table_ + " --csv '" + dir_ + "/bad.csv'", true);
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.out.find("line 3, field AMOUNT"), std::string::npos) << bad.out;
  EXPECT_EQ(Tool("list " + table_ + " --count").out, "4\n");  // the good line stays
}

// tags lists every tag of a bag from its headers, also one whose key does not work on the
// table (contacts.CDX: TYPE_ID names a long field name of a database container): its line
// stays, stderr says why, the JSON row carries the reason.
TEST_F(ToolTest, TagsListsATagWhoseKeyDoesNotCompile) {
  const std::string real = std::string(VOSK_SOURCE_DIR) + "/../shared/fixtures/real/";
  if (!std::ifstream(real + "contacts.CDX")) GTEST_SKIP() << "no real fixtures";
  for (const char* f : {"contacts.dbf", "contacts.FPT", "contacts.CDX"}) {
    std::string cp = "cp '" + real + f + "' '" + dir_ + "/'";
    ASSERT_EQ(system(cp.c_str()), 0);
  }
  const std::string args = "tags '" + dir_ + "/contacts.dbf' '" + dir_ + "/contacts.CDX'";
  // The database's long name contact_type_id is the table's CONTACT_TY (10 characters kept).
  ToolRun plain = Tool(args, true);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, "CONTACT_ID\tcontact_id\t\t\nTYPE_ID\tcontact_type_id\t\t\n");
  // A key naming a field the table lacks: its first 10 characters name none either.
  std::string bag;
  {
    std::ifstream in(dir_ + "/contacts.CDX", std::ios::binary);
    bag.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_NE(bag.find("contact_type_id"), std::string::npos);
  for (size_t at; (at = bag.find("contact_type_id")) != std::string::npos;) {
    bag.replace(at, 15, "contact_xype_id");
  }
  std::ofstream(dir_ + "/contacts.CDX", std::ios::binary) << bag;
  ToolRun both = Tool(args, true);
  EXPECT_NE(both.out.find("tag TYPE_ID: the key does not compile"), std::string::npos) << both.out;
  EXPECT_NE(both.out.find("CONTACT_XYPE_ID"), std::string::npos) << both.out;
  // CONTACT_ID indexes an integer field with 4-byte keys: a seek finds its record.
  const std::string seek = "seek '" + dir_ + "/contacts.dbf' '" + dir_ +
                           "/contacts.CDX' --driver DBFCDX --tag CONTACT_ID ";
  EXPECT_EQ(Tool(seek + "3").out, "3\n");
  EXPECT_EQ(Tool(seek + "6").out, "EOF\n");
  ToolRun json = Tool(args + " --json");
  EXPECT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"name\":\"TYPE_ID\",\"key\":\"contact_xype_id\",\"for\":\"\","
                          "\"flags\":\"\",\"error\":\"the key does not compile"),
            std::string::npos)
      << json.out;
}

}  // namespace

namespace {

// Runs dbutool with each file it writes limited to limit bytes (a full disk: writes past the
// limit fail with EFBIG, SIGXFSZ ignored); stderr is returned.
ToolRun ToolWithFileLimit(const std::vector<std::string>& args, rlim_t limit) {
  int err_pipe[2];
  if (pipe(err_pipe) != 0) return {-1, ""};
  pid_t pid = fork();
  if (pid == 0) {
    rlimit rl{limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    signal(SIGXFSZ, SIG_IGN);
    dup2(err_pipe[1], 2);
    close(err_pipe[0]);
    std::vector<char*> argv = {const_cast<char*>(DBUTOOL_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(DBUTOOL_PATH, argv.data());
    _exit(127);
  }
  close(err_pipe[1]);
  ToolRun r{0, ""};
  char buf[4096];
  ssize_t n;
  while ((n = read(err_pipe[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
  close(err_pipe[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
  return r;
}

// An append that meets a full disk names the CSV line that failed, exits 1 and keeps every
// row before that line with its memo, in both modes; the table stays readable.
TEST_F(ToolTest, AppendOnAFullDiskKeepsEveryRowBeforeTheFailingLine) {
  const struct {
    const char* label;
    const char* fields;  // after the table name
    bool memo;
  } cases[] = {
      {"DBT memo fills first", "NAME:C:10 NOTE:M:10 --memo DBT", true},
      {"FPT memo fills first", "NAME:C:10 NOTE:M:10 --memo FPT", true},
      {"table fills first", "NAME:C:10 PAD:C:240", false},
  };
  constexpr int kRows = 3000;
  constexpr rlim_t kLimit = 256 * 1024;
  std::string csv = dir_ + "/big.csv";
  {
    std::ofstream out(csv);
    out << "NAME,NOTE\n";
    for (int i = 1; i <= kRows; ++i) {
      out << "n" << i << "," << std::string(static_cast<size_t>(100 + i % 300), 'x') << i << "\n";
    }
  }
  std::string csv_pad = dir_ + "/pad.csv";
  {
    std::ofstream out(csv_pad);
    out << "NAME,PAD\n";
    for (int i = 1; i <= kRows; ++i) out << "n" << i << "," << std::string(200, 'p') << i << "\n";
  }
  int n = 0;
  for (const auto& c : cases) {
    for (bool exclusive : {true, false}) {
      SCOPED_TRACE(std::string(c.label) + (exclusive ? ", exclusive" : ", shared"));
      std::string table = dir_ + "/full" + std::to_string(++n) + ".dbf";
      ASSERT_EQ(Tool("create '" + table + "' " + c.fields).status, 0);
      std::vector<std::string> args = {"append", table, "--csv", c.memo ? csv : csv_pad};
      if (exclusive) args.push_back("--exclusive");
      ToolRun r = ToolWithFileLimit(args, kLimit);
      EXPECT_EQ(r.status, 1) << r.out;
      size_t at = r.out.find("line ");
      ASSERT_NE(at, std::string::npos) << r.out;
      long line = std::strtol(r.out.c_str() + at + 5, nullptr, 10);
      EXPECT_GT(line, 100) << r.out;
      EXPECT_EQ(r.out.find("terminate"), std::string::npos) << r.out;

      ToolRun list = Tool("list '" + table + "' --csv");
      ASSERT_EQ(list.status, 0);
      std::vector<std::string> rows;
      size_t pos = 0;
      while (pos < list.out.size()) {
        size_t end = list.out.find('\n', pos);
        if (end == std::string::npos) end = list.out.size();
        std::string row = list.out.substr(pos, end - pos);
        if (!row.empty() && row.back() == '\r') row.pop_back();  // CSV lines end in CR LF
        rows.push_back(row);
        pos = end + 1;
      }
      // The header row, then the rows of CSV lines 2 .. line - 1.
      ASSERT_EQ(rows.size(), static_cast<size_t>(line - 1)) << r.out;
      for (long i = 1; i < line - 1; ++i) {
        std::string value = c.memo ? std::string(static_cast<size_t>(100 + i % 300), 'x')
                                   : std::string(200, 'p');
        ASSERT_EQ(rows[static_cast<size_t>(i)], "n" + std::to_string(i) + "," + value + std::to_string(i))
            << "row " << i;
      }
    }
  }
}

// An index build that meets a full disk fails, and leaves the bag that had its name as it was,
// or no bag when there was none; no half-built file stays beside it. For NTX and CDX bags.
TEST_F(ToolTest, IndexOnAFullDiskLeavesThePreviousBag) {
  const std::string table = dir_ + "/big.dbf";
  ASSERT_EQ(Tool("create '" + table + "' NAME:C:30").status, 0);
  {
    std::ofstream out(dir_ + "/names.csv");
    out << "NAME\n";
    for (int i = 1; i <= 20000; ++i) out << "name " << (i * 7919 % 20000) << "\n";
  }
  ASSERT_EQ(Tool("append '" + table + "' --csv '" + dir_ + "/names.csv'").status, 0);
  constexpr rlim_t kLimit = 64 * 1024;  // the bags built here take several times that
  for (const char* ext : {".ntx", ".cdx"}) {
    for (bool before : {false, true}) {
      SCOPED_TRACE(std::string(ext) + (before ? ", over a bag" : ", no bag before"));
      const std::string bag = dir_ + "/names" + ext;
      std::remove(bag.c_str());
      std::string previous;
      if (before) {
        ASSERT_EQ(Tool("index '" + table + "' '" + bag + "' NAME --for 'RECNO() <= 50'").status, 0);
        previous = vosk::test::ReadFileBytes(bag);
        ASSERT_LT(previous.size(), kLimit);
      }
      ToolRun r = ToolWithFileLimit({"index", table, bag, "NAME"}, kLimit);
      EXPECT_NE(r.status, 0) << r.out;
      EXPECT_EQ(r.out.find("terminate"), std::string::npos) << r.out;
      if (before) {
        EXPECT_EQ(vosk::test::ReadFileBytes(bag), previous) << "the previous bag is unchanged";
        EXPECT_EQ(Tool("check '" + table + "' '" + bag + "'").status, 0) << "and sound";
      } else {
        EXPECT_FALSE(std::ifstream(bag).good()) << "no bag";
      }
      for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        EXPECT_EQ(entry.path().string().find(".new"), std::string::npos) << entry.path();
      }
    }
  }
}

// A rebuild makes every order of the bag again with its key, condition and flags; on a full
// disk or killed it fails and leaves the bag as it was (it is built beside, never over the old
// one).
TEST_F(ToolTest, ReindexKeepsEveryOrderAndOnAFullDiskTheOldBag) {
  const std::string table = MakeNames();
  ASSERT_FALSE(table.empty());
  constexpr rlim_t kLimit = 64 * 1024;  // less than each bag takes
  const struct {
    const char* bag;
    std::vector<std::string> orders;  // the options of each dbutool index
  } cases[] = {
      {"names.ntx", {"NAME --for 'N > 3' --unique"}},
      {"names.cdx", {"NAME --tag BYNAME --for 'N > 3'", "N --tag BYN --unique --descending"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bag);
    const std::string bag = "'" + dir_ + "/" + c.bag + "'";
    for (const std::string& o : c.orders) {
      ASSERT_EQ(Tool("index '" + table + "' " + bag + " " + o).status, 0);
    }
    const std::string tags = Tool("tags '" + table + "' " + bag).out;
    const std::string bytes = vosk::test::ReadFileBytes(dir_ + "/" + c.bag);
    ASSERT_GT(bytes.size(), kLimit);

    ToolRun full = ToolWithFileLimit({"reindex", table, dir_ + "/" + c.bag}, kLimit);
    EXPECT_NE(full.status, 0) << full.out;
    EXPECT_EQ(vosk::test::ReadFileBytes(dir_ + "/" + c.bag), bytes) << "the bag is as it was";

    // Killed while the new bag's pages are written, or once it is built: the bag is as it
    // was, and the next rebuild removes what the killed one left.
    for (const char* point : {"index-flush", "bag-rebuilt"}) {
      const std::string cmd = std::string("VOSK_CRASH_AT=") + point + " '" + DBUTOOL_PATH +
                              "' reindex '" + table + "' " + bag + " 2>/dev/null";
      const int st = std::system(cmd.c_str());
      EXPECT_TRUE(WIFSIGNALED(st) || (WIFEXITED(st) && WEXITSTATUS(st) > 128)) << point;
      EXPECT_EQ(vosk::test::ReadFileBytes(dir_ + "/" + c.bag), bytes) << point;
    }

    ToolRun r = Tool("reindex '" + table + "' " + bag, true);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Tool("tags '" + table + "' " + bag).out, tags);
    EXPECT_EQ(Tool("check '" + table + "' " + bag).status, 0);
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      EXPECT_EQ(entry.path().string().find(".new"), std::string::npos) << entry.path();
    }
  }
}

// Field names are text of the table's code page: decoded to UTF-8, escaped in JSON, quoted in
// the CSV header row.
TEST_F(ToolTest, FieldNamesAreDecodedEscapedAndQuoted) {
  vosk::test::DbfImage image;
  image.fields = {{"N\xe9", 'C', 2}, {"A,\rB\"", 'C', 1}};
  image.records = {vosk::test::Record({"ab", "c"})};
  std::string path = dir_ + "/names.dbf";
  vosk::test::WriteFileBytes(path, image.Bytes());
  ToolRun json = Tool("info '" + path + "' --json");
  EXPECT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("{\"name\": \"N\xc3\xa9\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("{\"name\": \"A,\\u000dB\\\"\""), std::string::npos) << json.out;
  EXPECT_EQ(Tool("list '" + path + "' --csv").out, "N\xc3\xa9,\"A,\rB\"\"\"\r\nab,c\r\n");
}

// A CSV row that append rejects leaves nothing behind: no blank or deleted record.
TEST_F(ToolTest, RejectedCsvRowLeavesNothing) {
  struct Case {
    const char* name;
    const char* csv;
    const char* message;
  } cases[] = {
      {"text too wide", "NAME,AMOUNT\nok,1\nthis name is too long,2\nlater,3\n", "line 3, field NAME"},
      {"number too wide", "NAME,AMOUNT\nok,1\nbig,123456789\n", "line 3, field AMOUNT"},
      {"bad date", "NAME,BORN\nok,2020-01-01\nbad,2020-02-30\n", "line 3, field BORN"},
      {"bad logical", "NAME,OK\nok,T\nbad,maybe\n", "line 3, field OK"},
      {"row too short", "NAME,OK\nok,T\nshort\n", "line 3"},
  };
  for (const Case& c : cases) {
    std::ofstream(dir_ + "/rows.csv", std::ios::trunc) << c.csv;
    ToolRun r = Tool("append " + table_ + " --csv '" + dir_ + "/rows.csv'", true);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.name << ": " << r.out;
    ToolRun all = Tool("list " + table_ + " --all --csv --fields NAME");
    EXPECT_EQ(all.out, "_DELETED,NAME\r\n,Rossi\r\n,\"Verdi, è\"\r\n,Bianchi\r\n,ok\r\n") << c.name;
    ASSERT_EQ(Tool("zap " + table_).status, 0);
    ASSERT_EQ(Tool("append " + table_ + " --csv '" + dir_ + "/people.csv'").status, 0);
  }
}

// encipher and decipher rewrite the whole table beside itself: killed at any step, stopped by a
// full disk or given a wrong password, they leave the table as it was, never a mix of
// enciphered and clear records.
TEST_F(ToolTest, EncipherAndDecipherChangeEveryRecordOrNone) {
  const std::string path = MakeNumbered("cassa", "NAME:C:10 QTY:N:5", "NAME,QTY", "", 300);
  const std::string table = "'" + path + "'";
  const std::string clear_list = Tool("list " + table + " --csv").out;
  auto bytes = [&] {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
  };
  // Records by their flag byte: clear (' ', '*') and enciphered ('E', 'D').
  auto enciphered_records = [&](const std::string& b, int* clear) {
    const vosk::test::ParsedDbf d = vosk::test::ParseDbf(b);
    int e = 0;
    *clear = 0;
    for (uint32_t r = 0; r < d.header_count; ++r) {
      const char flag = b[static_cast<size_t>(d.header_length) + r * static_cast<size_t>(d.record_length)];
      if (flag == 'E' || flag == 'D') ++e; else ++(*clear);
    }
    return e;
  };
  // Without a password, nothing.
  EXPECT_NE(Tool("encipher " + table).status, 0);
  const std::string before = bytes();

  // Killed at each step of the rewrite: as it was, or wholly enciphered once the swap began.
  for (const char* point : {"rewrite-record:1", "rewrite-record:200", "rewrite-built",
                            "rewrite-journal", "rewrite-swap:1"}) {
    SCOPED_TRACE(point);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << before;
    const std::string cmd = std::string("VOSK_CRASH_AT=") + point + " '" + DBUTOOL_PATH +
                            "' encipher " + table + " --password chiave 2>/dev/null";
    const int st = system(cmd.c_str());
    EXPECT_FALSE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "the crash point was not reached";
    // The next run finds the table whole (and finishes a committed swap).
    const std::string listed = Tool("list " + table + " --csv --password chiave").out;
    int clear = 0;
    const int enc = enciphered_records(bytes(), &clear);
    EXPECT_TRUE((enc == 300 && clear == 0) || (enc == 0 && clear == 300)) << enc << " + " << clear;
    if (enc == 0) {
      EXPECT_EQ(bytes(), before);
    } else {
      EXPECT_EQ(listed, clear_list);
    }
  }

  std::ofstream(path, std::ios::binary | std::ios::trunc) << before;
  ASSERT_EQ(Tool("encipher " + table + " --password chiave").status, 0);
  const std::string enciphered = bytes();
  int clear = 0;
  EXPECT_EQ(enciphered_records(enciphered, &clear), 300);
  EXPECT_EQ(enciphered.find("name1"), std::string::npos);
  EXPECT_EQ(Tool("list " + table + " --csv --password chiave").out, clear_list);
  EXPECT_EQ(Tool("encipher " + table + " --password chiave").status, 1) << "enciphered already";

  // A wrong password, a full disk: refused, the enciphered table unchanged.
  const ToolRun wrong = Tool("decipher " + table + " --password sbagliata", true);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.out.find("Wrong password"), std::string::npos) << wrong.out;
  EXPECT_EQ(bytes(), enciphered);
  const ToolRun full = ToolWithFileLimit({"decipher", path, "--password", "chiave"},
                                         enciphered.size() / 2);
  EXPECT_NE(full.status, 0) << full.out;
  EXPECT_EQ(bytes(), enciphered);

  // Deciphered: the file as it was before, but for the date of the last update.
  ASSERT_EQ(Tool("decipher " + table + " --password chiave").status, 0);
  std::string after = bytes();
  ASSERT_EQ(after.size(), before.size());
  after.replace(1, 3, before.substr(1, 3));
  EXPECT_EQ(after, before);
  EXPECT_EQ(Tool("decipher " + table + " --password chiave").status, 1) << "not enciphered";
}

// A command that would change an enciphered table without its own password is refused before it
// writes anything: the table stays byte for byte as it was. The table holds text only, so its
// records cannot tell a wrong key (the check value kept in its header does), and one without
// that check value (enciphered elsewhere) is judged by its numbers instead.
TEST_F(ToolTest, ChangesWithoutTheTablesPasswordAreRefusedAndWriteNothing) {
  const std::string path = dir_ + "/segreta.dbf", table = "'" + path + "'";
  const std::string rows = "'" + dir_ + "/rows.csv'";
  std::ofstream(dir_ + "/rows.csv") << "NAME,QTY\nalpha,1\nbeta,2\ngamma,3\n";
  auto bytes = [&] {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
  };
  const std::string clear_list = "NAME,QTY\r\nalpha,1\r\nbeta,2\r\ngamma,3\r\n";
  const struct {
    const char* label;
    const char* fields;
    bool check_value;  // kept in the header (cleared: enciphered by another program)
  } tables[] = {
      {"text only, with its check value", "NAME:C:10 QTY:C:5", true},
      {"numbers, no check value", "NAME:C:10 QTY:N:5", false},
  };
  const char* refused[] = {
      "pack T",
      "zap T",
      "pack T --password sbagliata",
      "zap T --password sbagliata",
      "append T --csv R --password sbagliata",
      "append T --csv R",
      "import T R --password sbagliata",
      "decipher T --password sbagliata",
      "restructure T NAME:C:12 QTY:C:5 --password sbagliata",
  };
  for (const auto& t : tables) {
    SCOPED_TRACE(t.label);
    std::filesystem::remove(path);
    ASSERT_EQ(Tool("create " + table + " " + t.fields + " --password chiave").status, 0);
    ASSERT_EQ(Tool("append " + table + " --csv " + rows + " --password chiave").status, 0);
    if (!t.check_value) {
      std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
      f.seekp(20);
      f.write(std::string(8, '\0').data(), 8);
    }
    const std::string before = bytes();
    for (const char* command : refused) {
      SCOPED_TRACE(command);
      std::string cmd = command;
      cmd.replace(cmd.find('T'), 1, table);
      if (size_t r = cmd.find(" R"); r != std::string::npos) cmd.replace(r + 1, 1, rows);
      const ToolRun run = Tool(cmd, true);
      EXPECT_EQ(run.status, 1) << run.out;
      EXPECT_NE(run.out.find("password"), std::string::npos) << run.out;
      EXPECT_EQ(bytes(), before);
    }
    EXPECT_EQ(Tool("list " + table + " --csv --password chiave").out, clear_list);
    // With its password every change goes.
    EXPECT_EQ(Tool("append " + table + " --csv " + rows + " --password chiave").status, 0);
    EXPECT_EQ(Tool("pack " + table + " --password chiave").status, 0);
    EXPECT_EQ(Tool("list " + table + " --csv --password chiave --count").out, "6\n");
  }
}

// An index whose record numbers of two keys are swapped (8 bytes in a leaf): a seek of the
// first key would land on the record of the second and a listing in index order would show
// them out of order. Both say instead that the bag is damaged (32/1012, naming it), and check
// reports it.
TEST_F(ToolTest, SwappedRecordNumbersInAnIndexAreReportedAsDamage) {
  const std::string path = MakeNumbered("swap", "NAME:C:8 N:N:3", "NAME,N", "", 5);
  const std::string table = "'" + path + "'";
  auto le = [](const std::string& b, size_t at, int width) {
    uint32_t v = 0;
    for (int k = width - 1; k >= 0; --k) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(k)]);
    return v;
  };
  auto put = [](std::string* b, size_t at, int width, uint32_t v) {
    for (int k = 0; k < width; ++k) (*b)[at + static_cast<size_t>(k)] = static_cast<char>(v >> (8 * k));
  };
  // The record numbers of the first two keys of the one leaf, swapped in place.
  auto swap_ntx = [&](std::string* b) {
    const size_t page = le(*b, 4, 4);
    const size_t first = page + le(*b, page + 2, 2) + 4, second = page + le(*b, page + 4, 2) + 4;
    const uint32_t r = le(*b, first, 4);
    put(b, first, 4, le(*b, second, 4));
    put(b, second, 4, r);
  };
  auto swap_cdx = [&](std::string* b) {
    for (size_t page = 1024; page + 512 <= b->size(); page += 512) {
      if (!(le(*b, page, 2) & 2) || le(*b, page + 2, 2) != 5) continue;  // the tag's leaf
      const uint32_t mask = le(*b, page + 14, 4);
      const int bytes = static_cast<uint8_t>((*b)[page + 23]);
      const size_t e0 = page + 24, e1 = e0 + static_cast<size_t>(bytes);
      const uint32_t v0 = le(*b, e0, bytes), v1 = le(*b, e1, bytes);
      put(b, e0, bytes, (v0 & ~mask) | (v1 & mask));
      put(b, e1, bytes, (v1 & ~mask) | (v0 & mask));
      return;
    }
    ADD_FAILURE() << "no leaf of five keys";
  };
  const struct {
    const char* bag;
    const char* driver;
    std::function<void(std::string*)> damage;
  } cases[] = {{"swap.ntx", "DBFNTX", swap_ntx}, {"swapx.cdx", "DBFCDX", swap_cdx}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bag);
    const std::string bag_path = dir_ + "/" + c.bag, bag = "'" + bag_path + "'";
    ASSERT_EQ(Tool(std::string("index ") + table + " " + bag + " NAME --driver " + c.driver).status, 0);
    EXPECT_EQ(Tool("seek " + table + " " + bag + " name1").out, "1\n");
    std::string bytes;
    {
      std::ifstream f(bag_path, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(f), {});
    }
    c.damage(&bytes);
    std::ofstream(bag_path, std::ios::binary | std::ios::trunc) << bytes;
    for (const std::string& command : {"seek " + table + " " + bag + " name1",
                                       "seek " + table + " " + bag + " name2",
                                       "list " + table + " --index " + bag + " --csv",
                                       "list " + table + " --index " + bag}) {
      SCOPED_TRACE(command);
      const ToolRun run = Tool(command, true);
      EXPECT_NE(run.status, 0) << run.out;
      EXPECT_NE(run.out.find("error 32/1012"), std::string::npos) << run.out;
      EXPECT_NE(run.out.find(c.bag), std::string::npos) << "names the bag: " << run.out;
    }
    // Untouched keys still answer; check names the damage.
    EXPECT_EQ(Tool("seek " + table + " " + bag + " name4").out, "4\n");
    const ToolRun check = Tool("check " + table + " " + bag);
    EXPECT_EQ(check.status, 1) << check.out;
    EXPECT_NE(check.out.find("DAMAGED"), std::string::npos) << check.out;
  }
}


// Output of a command (with its errors when asked); *ran: it ran and succeeded.
std::string Capture(const std::string& cmd, bool* ran, bool with_stderr = true) {
  FILE* p = popen((cmd + (with_stderr ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
  std::string out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  const int st = pclose(p);
  *ran = WIFEXITED(st) && WEXITSTATUS(st) == 0;
  return out;
}

TEST_F(ToolTest, RestructureMapsConvertsAndKeepsTheOldTable) {
  const std::string old_list = Tool("list " + table_ + " --csv --all").out;
  // NAME renamed in place and widened, numbers and dates to text, a logical to a number, a
  // timestamp to its date, a field added.
  const ToolRun r = Tool("restructure " + table_ +
                         " CUSTNAME:C:20 AMOUNT:C:10 BORN:C:10 OK:N:1 STAMP:D:8 EXTRA:N:3", true);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("3 records"), std::string::npos) << r.out;
  EXPECT_EQ(Tool("list " + table_ + " --csv --all").out,
            "_DELETED,CUSTNAME,AMOUNT,BORN,OK,STAMP,EXTRA\r\n"
            ",Rossi,12.50,31/01/2020,1,2021-03-04,\r\n"
            ",\"Verdi, \xc3\xa8\",-3.00,,0,,\r\n"
            ",Bianchi,600.00,31/12/1999,1,,\r\n");
  // The old table beside it, as it was; the table kind kept.
  EXPECT_EQ(Tool("list '" + dir_ + "/people_ORIGINALE.dbf' --csv --all").out, old_list);
  EXPECT_NE(Tool("info " + table_).out.find("Visual FoxPro"), std::string::npos);
  // Another reader reads the new table.
  bool ran = false;
  const std::string peer = Capture(
      "/usr/bin/python3 -c \"import dbf; t = dbf.Table('" + dir_ + "/people.dbf'); t.open(); "
      "print(t.structure()); print([r.custname.strip() + '/' + r.amount.strip() for r in t])\"",
      &ran);
  if (ran) {
    EXPECT_NE(peer.find("custname C(20)"), std::string::npos) << peer;
    EXPECT_NE(peer.find("'Rossi/12.50', 'Verdi, \xc3\xa8/-3.00', 'Bianchi/600.00'"),
              std::string::npos)
        << peer;
  } else {
    std::fprintf(stderr, "python3-dbf is missing: not read by it (%s)\n", peer.c_str());
  }
  // Bad field lists: nothing is done.
  const std::string now = Tool("list " + table_ + " --csv --all").out;
  EXPECT_EQ(Tool("restructure " + table_).status, 2);
  EXPECT_NE(Tool("restructure " + table_ + " A:C").status, 0);
  EXPECT_NE(Tool("restructure " + table_ + " A:C:x").status, 0);
  EXPECT_EQ(Tool("list " + table_ + " --csv --all").out, now);
}

// A tag added to an existing CDX bag goes into a copy of the bag that takes its name once
// whole: on a full disk, killed after the copy, while the new tag's pages are written or just
// before the rename, and when another program holds the bag open, the bag stays byte for byte
// as it was. The add that completes keeps the old tag, its new tag seeks right and another
// reader walks it; no copy is left beside the bag.
TEST_F(ToolTest, TagAddedToABagLeavesThePreviousBagUntilWhole) {
  const std::string table = MakeNames();
  ASSERT_FALSE(table.empty());
  const std::string bag = dir_ + "/names.cdx";
  ASSERT_EQ(Tool("index '" + table + "' '" + bag + "' N --tag SMALL --for 'RECNO() <= 50'")
                .status, 0);
  const std::string previous = vosk::test::ReadFileBytes(bag);
  constexpr rlim_t kLimit = 64 * 1024;  // room for the copy, not for the new tag
  ASSERT_LT(previous.size(), kLimit / 4);
  const std::string add = "index '" + table + "' '" + bag + "' NAME --tag BYNAME";

  ToolRun full = ToolWithFileLimit({"index", table, bag, "NAME", "--tag", "BYNAME"}, kLimit);
  EXPECT_NE(full.status, 0) << full.out;
  EXPECT_EQ(full.out.find("terminate"), std::string::npos) << full.out;
  EXPECT_EQ(vosk::test::ReadFileBytes(bag), previous) << "on a full disk";
  for (const char* point : {"bag-copied", "index-flush", "bag-tag-added"}) {
    const std::string cmd = std::string("VOSK_CRASH_AT=") + point + " '" + DBUTOOL_PATH + "' " +
                            add + " >/dev/null 2>&1";
    const int st = std::system(cmd.c_str());
    EXPECT_TRUE(WIFSIGNALED(st) || (WIFEXITED(st) && WEXITSTATUS(st) > 128)) << point;
    EXPECT_EQ(vosk::test::ReadFileBytes(bag), previous) << "killed at " << point;
  }
  {
    // A shared open of another program (the lock a shared open takes on the whole file).
    const int fd = open(bag.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);
    EXPECT_NE(Tool(add).status, 0);
    close(fd);
    EXPECT_EQ(vosk::test::ReadFileBytes(bag), previous) << "held by another program";
  }
  EXPECT_EQ(Tool("check '" + table + "' '" + bag + "'").status, 0);

  ToolRun r = Tool(add, true);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Tool("tags '" + table + "' '" + bag + "'").out,
            "SMALL\tN\tRECNO() <= 50\t\nBYNAME\tNAME\t\t\n");
  EXPECT_EQ(Tool("check '" + table + "' '" + bag + "'").status, 0);
  for (int name : {0, 123, 19999}) {
    int recno = 1;
    while (recno * 7919 % 20000 != name) ++recno;
    EXPECT_EQ(Tool("seek '" + table + "' '" + bag + "' 'name " + std::to_string(name) +
                   "' --tag BYNAME").out,
              std::to_string(recno) + "\n")
        << name;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().string().find(".new"), std::string::npos) << entry.path();
  }
  const std::string walker = VOSK_SOURCE_DIR "/../shared/tools/xbase-index-walk.pl";
  bool ran = false;
  (void)Capture("perl -MXBase -e 1", &ran);
  if (!ran || !std::filesystem::exists(walker)) GTEST_SKIP() << "no index reader to walk it";
  const std::string walked =
      Capture("perl '" + walker + "' '" + table + "' '" + bag + "' BYNAME", &ran, false);
  EXPECT_TRUE(ran);
  EXPECT_EQ(std::count(walked.begin(), walked.end(), '\n'), 20000);
  EXPECT_EQ(walked.substr(0, walked.find('\n')), "name 0\t20000");
}

// check exits 0 for a sound bag, 1 for a damaged one (a record whose key the bag does not
// hold: its lines name the record) and 4 when it could not check at all (no bag, a file that
// is no bag), for both engines.
TEST_F(ToolTest, CheckTellsADamagedBagFromOneItCouldNotCheck) {
  for (const char* engine : {"DBFNTX", "DBFCDX"}) {
    SCOPED_TRACE(engine);
    const std::string ext = engine[3] == 'N' ? ".ntx" : ".cdx";
    const std::string table = dir_ + "/c" + ext.substr(1) + ".dbf";
    const std::string bag = dir_ + "/byname" + ext;
    const std::string driver = std::string(" --driver ") + engine;
    std::filesystem::copy_file(dir_ + "/people.dbf", table);
    ASSERT_EQ(Tool("index '" + table + "' '" + bag + "' NAME --tag BYNAME" + driver).status, 0);
    auto check = [&](const std::string& which) {
      return Tool("check '" + table + "' '" + which + "'" + driver);
    };
    EXPECT_EQ(check(bag).status, 0);

    std::string bytes = vosk::test::ReadFileBytes(table);
    const size_t header = static_cast<uint8_t>(bytes[8]) | static_cast<uint8_t>(bytes[9]) << 8;
    bytes.replace(header + 1, 5, "Zorzi");  // record 1 changed behind the bag's back
    vosk::test::WriteFileBytes(table, bytes);
    ToolRun damaged = check(bag);
    EXPECT_EQ(damaged.status, 1) << damaged.out;
    EXPECT_NE(damaged.out.find("record 1 has no key \"Zorzi"), std::string::npos) << damaged.out;
    EXPECT_NE(damaged.out.find("DAMAGED"), std::string::npos) << damaged.out;

    EXPECT_EQ(check(dir_ + "/none" + ext).status, 4);
    vosk::test::WriteFileBytes(dir_ + "/junk" + ext, std::string(3000, 'x'));
    EXPECT_EQ(check(dir_ + "/junk" + ext).status, 4);
  }
}

TEST_F(ToolTest, RestructureRebuildsTheStructuralBagForOtherReaders) {
  ASSERT_EQ(Tool("index " + table_ + " '" + dir_ + "/people.cdx' NAME --tag BYNAME --driver DBFCDX")
                .status, 0);
  ASSERT_EQ(Tool("index " + table_ + " '" + dir_ + "/people.cdx' BORN --tag BYBORN --driver DBFCDX")
                .status, 0);
  // BORN is gone: its tag is dropped and reported; NAME is wider.
  const ToolRun r = Tool("restructure " + table_ + " NAME:C:20 AMOUNT:N:10:2", true);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("BYBORN (BORN): dropped"), std::string::npos) << r.out;
  EXPECT_EQ(Tool("tags " + table_ + " --driver DBFCDX").out, "BYNAME\tNAME\t\t\n");
  EXPECT_EQ(Tool("check " + table_ + " '" + dir_ + "/people.cdx' --driver DBFCDX").status, 0);
  const std::string walker = VOSK_SOURCE_DIR "/../shared/tools/xbase-index-walk.pl";
  bool ran = false;
  (void)Capture("perl -MXBase -e 1", &ran);
  if (!ran || !std::filesystem::exists(walker)) GTEST_SKIP() << "no index reader to walk it";
  const std::string walked = Capture("perl '" + walker + "' '" + dir_ + "/people.dbf' '" + dir_ +
                                         "/people.cdx' BYNAME",
                                     &ran, false);
  EXPECT_TRUE(ran);
  EXPECT_EQ(walked, "Bianchi\t3\nRossi\t1\nVerdi, \xe8\t2\n");
  // The backup keeps the old bag.
  EXPECT_EQ(Tool("tags '" + dir_ + "/people_ORIGINALE.dbf' --driver DBFCDX").out,
            "BYNAME\tNAME\t\t\nBYBORN\tBORN\t\t\n");
}

TEST_F(ToolTest, RestructureOnAFullDiskLeavesTheTableAsItWas) {
  const std::string path = MakeNumbered("big", "NAME:C:20 NOTE:M:10", "NAME,NOTE", "note ", 2000);
  const std::string table = "'" + path + "'";
  auto bytes = [](const std::string& f) {
    std::ifstream in(f, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  const std::string before = bytes(path), memo = bytes(dir_ + "/big.dbt");
  const ToolRun r = ToolWithFileLimit({"restructure", path, "NAME:C:60", "NOTE:M:10"},
                                      before.size() + 4096);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(bytes(path), before);
  EXPECT_EQ(bytes(dir_ + "/big.dbt"), memo);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/big_ORIGINALE.dbf"));
  // The next run removes nothing of the table and finds no file of the failed one.
  EXPECT_EQ(Tool("list " + table + " --count").out, "2000\n");
  for (const auto& e : std::filesystem::directory_iterator(dir_)) {
    EXPECT_EQ(e.path().filename().string().find("vosk-"), std::string::npos) << e.path();
  }
}

}  // namespace
