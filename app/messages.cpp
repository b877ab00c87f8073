#include "app/messages.h"

#include "app/ui.h"

namespace vosk {
namespace {

Ui* g_ui = nullptr;

// The open progress pop-up (TMSGBOX of the utility library).
struct ProgressPopup {
  bool open = false;
  std::string text;
  int page = 0;  // page counter of the ninth argument
};
ProgressPopup& Popup() {
  static ProgressPopup popup;
  return popup;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

void Progress(Ui& ui, const std::string& text, const std::string& title, const ProgressOptions& o) {
  ProgressPopup& p = Popup();
  if (!text.empty() && !p.open) {
    ui.ProgressOpen(text, title);
    p = ProgressPopup{true, text, 0};
  } else if (!text.empty() && o.replace_text) {
    ui.ProgressSetText(text);
    p.text = text;
  }
  if (!p.open) return;
  if (o.position) ui.ProgressSetPosition(*o.position);
  if (o.next_page) {
    p.text = std::to_string(++p.page);
    ui.ProgressSetText(p.text);
  }
  if (text.empty() && !o.keep_open && !o.next_page) {
    ui.ProgressClose();
    p = ProgressPopup{};
  }
}

}  // namespace

Ui& GetUi() { return *g_ui; }
void SetUi(Ui* ui) {
  g_ui = ui;
  Popup() = ProgressPopup{};
}

std::string O2A(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    switch (static_cast<unsigned char>(c)) {
      case 0x85:
        c = static_cast<char>(0xE0);
        break;  // à
      case 0x8A:
        c = static_cast<char>(0xE8);
        break;  // è
      case 0x82:
        c = static_cast<char>(0xE9);
        break;  // é
      case 0x8D:
        c = static_cast<char>(0xEC);
        break;  // ì
      case 0x95:
        c = static_cast<char>(0xF2);
        break;  // ò
      case 0x97:
        c = static_cast<char>(0xF9);
        break;  // ù
      default:
        break;
    }
  }
  return out;
}

Value POPMSG(std::string_view text, int kind, std::string_view title,
             const ProgressOptions& options) {
  return POPMSG(GetUi(), text, kind, title, options);
}

Value POPMSG(Ui& ui, std::string_view text, int kind, std::string_view title,
             const ProgressOptions& options) {
  std::string shown = O2A(TrimBlanks(text));
  for (char& c : shown) {
    if (c == ';') c = '\n';
  }
  std::string caption = title.empty() ? std::string("Attenzione") : std::string(title);
  Value result;
  if (kind < 1 || kind > 6) {
    Progress(ui, shown, caption, options);
  } else {
    if (kind >= 2) ui.Beep();
    int button = ui.MessageBox(shown, caption, static_cast<MessageKind>(kind));
    switch (kind) {
      case 1:
        break;
      case 3:
        result = Value::Integer(button);
        break;
      case 4:
      case 5:
        result = Value::Logical(button == kButtonYes);
        break;
      default:
        result = Value::Logical(button == kButtonOk);
        break;
    }
  }
  ui.ProcessEvents();
  return result;
}

std::optional<std::string> ProgressText() {
  if (!Popup().open) return std::nullopt;
  return Popup().text;
}

}  // namespace vosk
