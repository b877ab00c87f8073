// dbutool: scripting access to the table engine.
//
//   dbutool info TABLE [--json]
//   dbutool list TABLE [--csv] [--all] [--recno] [--oem] [--fields A,B]
//   dbutool create TABLE NAME:TYPE:LEN[:DEC] ... [--memo DBT|FPT] [--kind db3|db4|vfp]
//   dbutool append TABLE --csv FILE [--oem] [--exclusive]
//   dbutool pack TABLE
//   dbutool zap TABLE
//
// Errors go to standard error as one line naming the file and the runtime error, with exit
// status 1; usage errors exit with status 2.

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli/tool.h"
#include "expr/runtime_error.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vosk::RunTool(args);
}
