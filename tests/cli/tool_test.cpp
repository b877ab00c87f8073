// dbutool as a script sees it: evaluation lines, filtered listing and counting, passwords
// and error lines.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

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

}  // namespace
