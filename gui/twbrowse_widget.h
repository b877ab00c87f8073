#ifndef VOSK_GUI_TWBROWSE_WIDGET_H_
#define VOSK_GUI_TWBROWSE_WIDGET_H_

// The browse grid on screen: a scroll area that paints the rows its navigation core (TWBrowse)
// hands it and turns keys, clicks, the wheel and the scroll bars into the core's moves. It keeps
// no copy of the data and uses no item model.

#include <QAbstractScrollArea>
#include <QFont>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "app/twbrowse.h"

namespace vosk {

class TWBrowseWidget : public QAbstractScrollArea {
 public:
  explicit TWBrowseWidget(QWidget* parent = nullptr);
  ~TWBrowseWidget() override;

  TWBrowse& core() { return *core_; }

  // Handlers of the Application: a key the grid does not navigate with (bKeyDown, with the
  // Windows virtual-key code and the Ctrl state), a double click (bLDblClick) and a right click
  // (bRClicked, at the click position in the grid).
  std::function<bool(int vk, bool ctrl)> bKeyDown;
  // A character typed that no key handler took (bKeyChar, with its ANSI code; Backspace is 8).
  std::function<void(int ch)> bKeyChar;
  std::function<void()> bLDblClick;
  std::function<void(int y, int x)> bRClicked;

  // Scroll bars and geometry from the core, then a repaint.
  void SyncFromCore();
  // Maps a point of the grid's own pixels (the core's) to the screen.
  QPoint GridToGlobal(QPoint p) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void scrollContentsBy(int, int) override {}

 private:
  void UpdateGeometry();
  void OnVScroll(int action);
  void OnHScroll(int action);
  int RowAt(int y) const;  // 0 header, 1.. data rows, -1 outside
  // The column whose right border in the header row lies within a few pixels of x; 0 if none.
  int BorderAt(int x, int y) const;
  // Fits column c to its header and the values shown.
  void FitColumn(int c);

  // The rows last read from the table: painted again while a command runs (the engine is not
  // asked then), until the command is over.
  std::vector<TWBrowse::Row> rows_;
  QTimer* stale_timer_ = nullptr;  // repaints once the running command is over
  bool report_queued_ = false;     // a failed read is about to be reported
  int resizing_ = 0;               // the column whose border is being dragged
  int drag_x_ = 0, drag_width_ = 0;

  std::unique_ptr<TWBrowse> core_;
  QFont font_;
  bool syncing_ = false;  // setting the scroll bars from the core
};

// A Qt key as the Windows virtual-key code TASTI expects; 0 when it has none.
int VirtualKeyOf(int qt_key);

}  // namespace vosk

#endif  // VOSK_GUI_TWBROWSE_WIDGET_H_
