#include "app/restructure.h"

#include <cstdint>

#include "app/ansi.h"
#include "app/browse_view.h"
#include "app/current_table.h"
#include "app/error_handler.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/progress.h"
#include "expr/runtime_error.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/restructure.h"

namespace vosk {
namespace {

constexpr uint64_t kBarSteps = 1000;  // the bar's resolution over the records

}  // namespace

ValueArray ACONVDATI(const ValueArray& aStruct) {
  const std::vector<int> map = ConversionMap(FieldSpecsOf(DBSTRUCT().array()), FieldSpecsOf(aStruct));
  ValueArray out;
  out.reserve(map.size());
  for (int n : map) out.push_back(Value::Integer(n));
  return out;
}

Value CONVDATO(const Value& xValue, const Value& aOldField, const Value& aNewField) {
  return ConvertFieldValue(xValue, FieldSpecOfRow(aOldField), FieldSpecOfRow(aNewField));
}

std::string ADJNUM(const std::string& cText) { return AdjustNumberText(cText); }

void MODITAB(const ValueArray& aStruct) {
  RoutineFrame frame("MODITAB", __LINE__);
  const CurrentTableState& state = CurTable();
  const std::string password = state.cPassword.value_or("");
  RestructureReport report;
  bool done = false;
  {
    Progress progress("Modifica della struttura in corso...", kBarSteps);
    RestructureOptions options;
    options.password = password;
    options.progress = [&progress](double fraction) {
      progress.Advance(static_cast<uint64_t>(fraction * kBarSteps));
    };
    try {
      // The caller made sure no other program has the table open: it is taken for this
      // program alone for the restructure, which closes it.
      DBOPEN(false, "", state.cCurTable, kCurrentAlias, false, false);
      DBINFO(kDbiPassword, Value::String(password));
      // An unmarked table read in the DOS code page is marked with it.
      options.codepage = CodepageName(ViewCodepage());
      // The index the user opened is built again with the structural bag; one that does not
      // open is left alone.
      if (state.cCurIndex) {
        ScopedErrorHandler quiet([](const RuntimeError&) { return ErrorAnswer::Default(); });
        (void)ORDLISTADD(Value::String(*state.cCurIndex));
      }
      done = RestructureTable(aStruct, options, &report);
    } catch (const Abandon&) {
      // Told by the error handler; the table is as it was, and the caller opens it again.
    }
  }
  if (done && !report.index_problems.empty()) {
    std::string text = Ansi("La struttura è stata modificata, ma questi indici non sono stati "
                            "ricostruiti:");
    for (const std::string& line : report.index_problems) text += ";" + line;
    POPMSG(text, 1);
  }
}

}  // namespace vosk
