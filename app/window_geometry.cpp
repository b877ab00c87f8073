#include "app/ansi.h"
#include "app/current_table.h"
#include "app/filename.h"
#include "app/ui.h"
#include "app/voskdbu.h"

namespace vosk {

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
    ui.ShowMainWindow(top, left, width, height, maximized);
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
