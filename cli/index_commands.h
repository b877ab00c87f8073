#ifndef VOSK_CLI_INDEX_COMMANDS_H_
#define VOSK_CLI_INDEX_COMMANDS_H_

#include "cli/tool.h"

namespace vosk {

class DbfArea;

// Opens TABLE with the order driver (--driver, DBFNTX by default) and the bag named by
// --index, controlled by --tag or the bag's first order. Throws Abandon on failure.
DbfArea* OpenIndexedTable(const ToolArgs& a, bool shared, bool read_only);

// dbutool index TABLE BAG KEY [--tag T] [--for EXPR] [--unique] [--descending]
int CmdIndex(const ToolArgs& a);
// dbutool seek TABLE BAG VALUE [--soft] [--last] [--tag T]; or --keys FILE: one seek per line.
int CmdSeek(const ToolArgs& a);
// dbutool reindex TABLE BAG
int CmdReindex(const ToolArgs& a);
// dbutool check TABLE BAG: exit status 1 when anything is wrong.
int CmdCheck(const ToolArgs& a);

}  // namespace vosk

#endif  // VOSK_CLI_INDEX_COMMANDS_H_
