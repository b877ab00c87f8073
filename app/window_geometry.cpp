#include "app/ansi.h"
#include "app/current_table.h"
#include "app/filename.h"
#include "app/ui.h"
#include "app/voskdbu.h"

#include <algorithm>
#include <vector>

namespace vosk {
namespace {

int Overlap(const WindowRect& a, const WindowRect& b) {
  const int w = std::min(a.right, b.right) - std::max(a.left, b.left);
  const int h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
  return w > 0 && h > 0 ? w * h : 0;
}

// The saved rectangle moved (and if need be shrunk) onto the screen that holds most of it, the
// primary one when none does: a window restored off the screens, or half on them, could not be
// reached.
WindowRect OnAScreen(WindowRect r, const std::vector<WindowRect>& areas) {
  if (areas.empty()) return r;
  const WindowRect* best = &areas.front();
  for (const WindowRect& a : areas) {
    if (Overlap(r, a) > Overlap(r, *best)) best = &a;
  }
  const WindowRect& a = *best;
  const int width = std::min(r.right - r.left, a.right - a.left);
  const int height = std::min(r.bottom - r.top, a.bottom - a.top);
  const int left = std::clamp(r.left, a.left, a.right - width);
  const int top = std::clamp(r.top, a.top, a.bottom - height);
  return {left, top, left + width, top + height};
}

}  // namespace

void RESIZE(std::optional<int> nType) {
  Ui& ui = GetUi();
  const bool maximized = IniLogical("Maximized", Ansi("Sì"));
  const int top = IniInt("Top", 0);
  const int left = IniInt("Left", 0);
  const int width = IniInt("Width", ui.ScreenWidth() / 2);
  const int height = IniInt("Height", ui.ScreenHeight() / 2);
  CurrentTableState& state = CurTable();
  if (!state.nSavedTop) state.nSavedTop = top;
  if (!state.nSavedLeft) state.nSavedLeft = left;

  if (!nType) {
    const WindowRect r = OnAScreen({left, top, left + width, top + height}, ui.ScreenAreas());
    ui.ShowMainWindow(r.top, r.left, r.right - r.left, r.bottom - r.top, maximized);
  } else if (*nType == 0 && maximized) {
    WriteIniLogical("Maximized", false);  // restored from maximized
  } else if (*nType == 0) {
    WindowRect r = ui.MainWindowRect();
    WRITEPPROSTRING(kIniSection, "Width", std::to_string(r.right - r.left));
    WRITEPPROSTRING(kIniSection, "Height", std::to_string(r.bottom - r.top));
  } else if (*nType == 2) {
    // The position of the normal window as the window system keeps it: the order in which a
    // window system reports the move to the maximized place and the maximizing varies, so the
    // position saved before the last move may be older than the last move itself.
    WindowRect normal = ui.NormalWindowRect();
    WriteIniLogical("Maximized", true);
    WRITEPPROSTRING(kIniSection, "Top", std::to_string(normal.top));
    WRITEPPROSTRING(kIniSection, "Left", std::to_string(normal.left));
  } else if (*nType == -1 && !maximized && !ui.MainWindowMinimized()) {
    // The position before this move: a maximize first reports a move to the maximized place,
    // then type 2 writes this one back.
    state.nSavedTop = top;
    state.nSavedLeft = left;
    WindowRect r = ui.MainWindowRect();
    WRITEPPROSTRING(kIniSection, "Top", std::to_string(r.top));
    WRITEPPROSTRING(kIniSection, "Left", std::to_string(r.left));
  }
}

}  // namespace vosk
