#include "app/restructure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

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

std::string TrimRight(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

bool NumberType(char type) {
  return type == 'N' || type == 'F' || type == 'I' || type == 'Y' || type == 'B';
}

// The number a value stands for, nullopt when it stands for none (a blank text, a date).
std::optional<double> NumberOf(const Value& value) {
  if (value.is_numeric()) return value.number();
  if (!value.is_string()) return std::nullopt;
  const std::string text = TrimRight(AdjustNumberText(value.str()));
  if (text.find_first_not_of(' ') == std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double n = std::strtod(text.c_str(), &end);
  if (end == text.c_str()) return std::nullopt;
  return n;
}

// Whether a number written with `dec` decimals takes at most `len` characters.
bool NumberFits(double n, int len, int dec) {
  char text[400];
  const int written = std::snprintf(text, sizeof text, "%.*f", std::max(dec, 0), n);
  return written > 0 && written <= len;
}

bool Blank(const Value& value) {
  if (value.is_nil()) return true;
  if (value.is_string()) return value.str().find_first_not_of(' ') == std::string::npos;
  if (value.is_date()) return value.julian() == 0;
  return false;
}

enum class Loss { kNone, kCut, kBlank };

// What the restructure does to one value of `from` carried into `to`.
Loss LossOf(const Value& value, const FieldSpec& from, const FieldSpec& to) {
  if (Blank(value)) return Loss::kNone;
  const Value converted = ConvertFieldValue(value, from, to);
  if (to.type == 'C') {
    return converted.is_string() && TrimRight(converted.str()).size() >
                                        static_cast<size_t>(std::max(to.length, 0))
               ? Loss::kCut
               : Loss::kNone;
  }
  if (to.type == 'N' || to.type == 'F') {
    const std::optional<double> wanted = NumberOf(value);
    if (!wanted || !converted.is_numeric()) return Loss::kNone;
    // Rounded to the field's decimals the value is still there, or it does not fit at all.
    const double scale = std::pow(10.0, std::max(to.decimals, 0));
    if (std::round(*wanted * scale) == 0) return Loss::kNone;
    return converted.number() == 0 || !NumberFits(converted.number(), to.length, to.decimals)
               ? Loss::kBlank
               : Loss::kNone;
  }
  if (to.type == 'I') {
    const std::optional<double> wanted = NumberOf(value);
    return wanted && (*wanted > 2147483647.0 || *wanted < -2147483648.0) ? Loss::kBlank
                                                                          : Loss::kNone;
  }
  if (to.type == 'D') return Blank(converted) ? Loss::kBlank : Loss::kNone;
  return Loss::kNone;
}

}  // namespace

std::vector<FieldLoss> ValuesThatWouldNotFit(const ValueArray& aStruct) {
  const std::vector<FieldSpec> old_fields = FieldSpecsOf(DBSTRUCT().array());
  const std::vector<FieldSpec> new_fields = FieldSpecsOf(aStruct);
  const std::vector<int> map = ConversionMap(old_fields, new_fields);
  std::vector<FieldLoss> losses(new_fields.size());
  std::vector<size_t> checked;  // the new fields that take values of an old one
  for (size_t i = 0; i < new_fields.size(); ++i) {
    losses[i].field = new_fields[i].name;
    losses[i].number = NumberType(new_fields[i].type);
    if (map[i] == 0 || FilledByDriver(new_fields[i].type)) continue;
    const FieldSpec& from = old_fields[static_cast<size_t>(map[i] - 1)];
    const FieldSpec& to = new_fields[i];
    // The same kind, no narrower: every value fits.
    if (from.type == to.type && to.length >= from.length && to.decimals >= from.decimals &&
        to.length - to.decimals >= from.length - from.decimals) {
      continue;
    }
    if (to.type != 'C' && to.type != 'N' && to.type != 'F' && to.type != 'I' && to.type != 'D') {
      continue;
    }
    checked.push_back(i);
  }
  if (!checked.empty()) {
    const uint32_t back = RECNO();
    const uint32_t count = LASTREC();
    Progress progress("Controllo dei valori in corso...", count);
    for (uint32_t recno = 1; recno <= count; ++recno) {
      DBGOTO(Value::Integer(recno));
      for (size_t i : checked) {
        const Loss loss = LossOf(FIELDGET(map[i]), old_fields[static_cast<size_t>(map[i] - 1)],
                                 new_fields[i]);
        if (loss == Loss::kCut) ++losses[i].cut;
        if (loss == Loss::kBlank) ++losses[i].blank;
      }
      progress.Advance(recno);
    }
    DBGOTO(Value::Integer(back));
  }
  std::vector<FieldLoss> lost;
  for (const FieldLoss& l : losses) {
    if (l.cut || l.blank) lost.push_back(l);
  }
  return lost;
}

std::string LossLines(const std::vector<FieldLoss>& losses) {
  std::string text;
  for (const FieldLoss& l : losses) {
    std::string line = l.field + ": ";
    if (l.cut) line += std::to_string(l.cut) + (l.cut == 1 ? " valore troncato" : " valori troncati");
    if (l.cut && l.blank) line += ", ";
    if (l.blank) {
      line += std::to_string(l.blank) + (l.blank == 1 ? " valore " : " valori ") +
              (l.number ? (l.blank == 1 ? "messo a 0" : "messi a 0")
                        : (l.blank == 1 ? "lasciato vuoto" : "lasciati vuoti"));
    }
    text += (text.empty() ? "" : ";") + line;
  }
  return text;
}

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

void MODITAB(const ValueArray& aStruct, const std::vector<FieldLoss>& expected) {
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
  // What did not fit, as the editor said before; values the table itself refused besides.
  if (done && (!expected.empty() || report.values_left_blank > 0)) {
    std::string text = Ansi("La struttura è stata modificata, ma non tutti i valori sono "
                            "entrati nei nuovi campi:;") + LossLines(expected);
    if (report.values_left_blank > 0) {
      text += (expected.empty() ? "" : ";") + std::string("altri ") +
              std::to_string(report.values_left_blank) + " valori lasciati vuoti";
    }
    text += ";;La tabella originale resta nel file " + report.backup + ".";
    POPMSG(text, 1);
  }
  if (done && !report.index_problems.empty()) {
    std::string text = Ansi("La struttura è stata modificata, ma questi indici non sono stati "
                            "ricostruiti:");
    for (const std::string& line : report.index_problems) text += ";" + line;
    POPMSG(text, 1);
  }
}

}  // namespace vosk
