// dbutool: scripting access to the table engine. Its commands and options are the table in
// cli/tool.cpp; "dbutool --help" lists them, and the man page and the bash completion are made
// from the same table.
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
#include "transfer/register.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  vosk::RegisterTransferDrivers();
  return vosk::RunTool(args);
}
