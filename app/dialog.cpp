#include "app/dialog.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include "app/messages.h"

namespace vosk {
namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

// Shows `message` while control `index` is red, then gives it the focus.
void Fail(Dialog& dlg, size_t index, const std::string& message) {
  Control& c = dlg.controls[index];
  c.failing = true;
  if (dlg.on_control_changed) dlg.on_control_changed(static_cast<int>(index));
  POPMSG(message, 1);
  c.failing = false;
  dlg.focus = static_cast<int>(index);
  if (dlg.on_control_changed) dlg.on_control_changed(static_cast<int>(index));
}

std::string& ValidationProblem() {
  static std::string problem;
  return problem;
}

// ": <label>" of the label that names control `index` (the nearest one on its left in the same
// row, or just above it), its caption without the colon; "" when it has none.
std::string LabelOf(const Dialog& dlg, size_t index) {
  const Control& field = dlg.controls[index];
  const Control* best = nullptr;
  int best_distance = 0;
  for (const Control& c : dlg.controls) {
    if (c.kind != ControlKind::kLabel || c.label.empty()) continue;
    int distance = -1;
    if (std::abs(c.row - field.row) <= 4 && c.col < field.col) {
      distance = field.col - c.col;
    } else if (c.row < field.row && field.row - c.row <= 14 && std::abs(c.col - field.col) <= 10) {
      distance = (field.row - c.row) * 4 + std::abs(c.col - field.col);
    }
    if (distance >= 0 && (!best || distance < best_distance)) {
      best = &c;
      best_distance = distance;
    }
  }
  if (!best) return "";
  std::string text = best->label;
  std::erase(text, '&');
  while (!text.empty() && (text.back() == ':' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text.empty() ? "" : ": " + text;
}

}  // namespace

void SetValidationProblem(std::string text) { ValidationProblem() = std::move(text); }

std::string TakeValidationProblem() {
  std::string text;
  text.swap(ValidationProblem());
  return text;
}

Control Control::Label(std::string text, int row, int col, int width, int height) {
  Control c;
  c.kind = ControlKind::kLabel;
  c.label = std::move(text);
  c.row = row, c.col = col, c.width = width, c.height = height;
  return c;
}

Control Control::Get(int id, std::string name, Value value, std::string picture, int row, int col,
                     int width, int height) {
  Control c;
  c.id = id;
  c.kind = ControlKind::kGet;
  c.name = std::move(name);
  c.get = std::make_shared<TGet>(std::move(value), std::move(picture));
  c.row = row, c.col = col, c.width = width, c.height = height;
  return c;
}

Control Control::Button(int id, std::string prompt, int row, int col, int width, int height) {
  Control c;
  c.id = id;
  c.kind = ControlKind::kButton;
  c.label = std::move(prompt);
  c.row = row, c.col = col, c.width = width, c.height = height;
  return c;
}

Control Control::Memo(int id, std::string name, std::string text, int row, int col, int width,
                      int height) {
  Control c;
  c.id = id;
  c.kind = ControlKind::kMemo;
  c.name = std::move(name);
  c.multi_line = true;
  c.value = Value::String(std::move(text), true);
  c.row = row, c.col = col, c.width = width, c.height = height;
  return c;
}

Control Control::Check(int id, std::string name, std::string label, bool on, int row, int col,
                       int width, int height) {
  Control c;
  c.id = id;
  c.kind = ControlKind::kCheck;
  c.name = std::move(name);
  c.label = std::move(label);
  c.value = Value::Logical(on);
  c.row = row, c.col = col, c.width = width, c.height = height;
  return c;
}

Value Control::Val() const { return kind == ControlKind::kGet && get ? get->value() : value; }

bool Control::Enabled() const { return !disabled && !hidden && (!when || when()); }

bool Control::Changed() const { return changed || (get && get->modified()); }

Control& Dialog::Add(Control c) {
  controls.push_back(std::move(c));
  return controls.back();
}

Control* CTL(Dialog& dlg, const std::string& name) {
  const std::string wanted = UpperAscii(name);
  for (Control& c : dlg.controls) {
    if (!c.name.empty() && UpperAscii(c.name) == wanted) return &c;
  }
  return nullptr;
}

Control* CTL(Dialog& dlg, int n) {
  if (n < 1 || n > static_cast<int>(dlg.controls.size())) return nullptr;
  return &dlg.controls[static_cast<size_t>(n - 1)];
}

bool DLGVALID(Dialog& dlg, bool lAsk) {
  static bool running = false;
  if (running) return false;
  running = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{running};

  if (dlg.cargo != 1) {
    const bool changed = std::any_of(dlg.controls.begin(), dlg.controls.end(),
                                     [](const Control& c) { return c.Changed(); });
    if (!lAsk || !changed) return true;
    return POPMSG("Annullo le modifiche?", 5).logical();
  }

  dlg.cargo.reset();
  // The focused control gives up its value.
  if (dlg.focus >= 0 && dlg.focus < static_cast<int>(dlg.controls.size())) {
    Control& f = dlg.controls[static_cast<size_t>(dlg.focus)];
    if (f.get) f.get->Assign();
  }
  for (size_t i = 0; i < dlg.controls.size(); ++i) {
    Control& c = dlg.controls[i];
    if (c.kind == ControlKind::kLabel || c.kind == ControlKind::kLine ||
        c.kind == ControlKind::kButton || !c.Enabled()) {
      continue;
    }
    if (c.get) {
      c.get->Assign();
      if (c.get->BadDate()) return Fail(dlg, i, "Data non valida."), false;
      if (c.get->BadNumber()) return Fail(dlg, i, "Numero troppo grande."), false;
    }
    (void)TakeValidationProblem();
    if (c.valid && !c.valid(c.Val())) {
      std::string why = TakeValidationProblem();
      if (why.empty()) why = "Campo non valido" + LabelOf(dlg, i) + ".";
      return Fail(dlg, i, why), false;
    }
  }
  return true;
}

void REFRESHALL(Dialog& dlg) {
  static bool running = false;
  if (running) return;
  running = true;
  for (size_t i = 0; i < dlg.controls.size(); ++i) {
    Control& c = dlg.controls[i];
    if (static_cast<int>(i) == dlg.focus || c.kind == ControlKind::kFieldList ||
        c.kind == ControlKind::kLabel || c.kind == ControlKind::kLine ||
        c.kind == ControlKind::kButton) {
      continue;
    }
    if (c.get) {
      const std::string shown = c.get->text();
      c.get->DispText();
      if (c.get->text() == shown) continue;
    }
    if (dlg.on_control_changed) dlg.on_control_changed(static_cast<int>(i));
  }
  running = false;
}

void UniqueFollowsKey(Dialog& dlg, const std::string& key, const std::string& check) {
  const auto key_blank = [&dlg, key] {
    const Value& v = CTL(dlg, key)->value;
    return !v.is_string() || v.str().find_first_not_of(" \t\r\n") == std::string::npos;
  };
  CTL(dlg, check)->when = [key_blank] { return !key_blank(); };
  CTL(dlg, key)->on_change = [&dlg, key_blank, check] {
    Control* box = CTL(dlg, check);
    if (!key_blank() || !box->value.logical()) return;
    box->value = Value::Logical(false);
    if (dlg.on_control_changed) dlg.on_control_changed(static_cast<int>(box - &dlg.controls[0]));
  };
}

bool DialogTryClose(Dialog& dlg, std::optional<int> cargo) {
  dlg.cargo = cargo;
  const bool confirm = cargo == 1;
  if (!DLGVALID(dlg, dlg.lAsk)) return false;
  dlg.result = confirm ? 1 : 0;
  return true;
}

}  // namespace vosk
