#include "gui/twbrowse_widget.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

#include "app/ansi.h"
#include "app/command_state.h"
#include "gui/dispatcher.h"
#include "gui/text.h"

namespace vosk {
namespace {

QColor Rgb(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

}  // namespace

int VirtualKeyOf(int qt_key) {
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) return 'A' + (qt_key - Qt::Key_A);
  if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F12) return 112 + (qt_key - Qt::Key_F1);
  switch (qt_key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      return 187;
    default:
      return 0;
  }
}

TWBrowseWidget::TWBrowseWidget(QWidget* parent)
    : QAbstractScrollArea(parent), core_(std::make_unique<TWBrowse>("DBF")) {
  setObjectName("oBrw");
  font_ = QFont("Courier New");
  font_.setStyleHint(QFont::TypeWriter);
  font_.setPixelSize(12);
  setFont(font_);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);  // the resize cursor over the header borders
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setAutoFillBackground(false);
  core_->on_redraw = [this] { SyncFromCore(); };
  core_->on_focus = [this] { setFocus(); };
  core_->measure = [this](const std::string& text) {
    return QFontMetrics(font_).horizontalAdvance(FromApp(text));
  };
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
          [this](int action) { OnVScroll(action); });
  connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
          [this](int action) { OnHScroll(action); });
  stale_timer_ = new QTimer(this);
  stale_timer_->setSingleShot(true);
  stale_timer_->setInterval(200);
  connect(stale_timer_, &QTimer::timeout, this, [this] {
    if (CommandRunning()) {
      stale_timer_->start();
    } else {
      viewport()->update();
    }
  });
  UpdateGeometry();
}

TWBrowseWidget::~TWBrowseWidget() = default;

void TWBrowseWidget::UpdateGeometry() {
  QFontMetrics fm(font_);
  const int text_h = fm.height();
  const int header_h = core_->columns().aHeaders.empty() ? 0 : text_h + 2;
  core_->set_metrics(text_h + 1, header_h, verticalScrollBar()->sizeHint().width());
  core_->set_width(viewport()->width() + verticalScrollBar()->sizeHint().width());
  core_->set_row_count((viewport()->height() - header_h) / (text_h + 1));
}

void TWBrowseWidget::SyncFromCore() {
  UpdateGeometry();  // the header row comes and goes with the column description
  syncing_ = true;
  QScrollBar* v = verticalScrollBar();
  v->setRange(core_->VScrollMax() == 0 ? 0 : 1, static_cast<int>(core_->VScrollMax()));
  v->setPageStep(core_->nRowCount());
  v->setValue(static_cast<int>(core_->VScrollPos()));
  QScrollBar* h = horizontalScrollBar();
  h->setRange(1, std::max(core_->ColumnCount(), 1));
  h->setPageStep(1);
  h->setValue(core_->HScrollPos());
  syncing_ = false;
  viewport()->update();
}

QPoint TWBrowseWidget::GridToGlobal(QPoint p) const { return viewport()->mapToGlobal(p); }

void TWBrowseWidget::OnVScroll(int action) {
  if (syncing_) return;
  RunCommand([this, action] {
    switch (action) {
      case QAbstractSlider::SliderSingleStepAdd:
        core_->GoDown();
        break;
      case QAbstractSlider::SliderSingleStepSub:
        core_->GoUp();
        break;
      case QAbstractSlider::SliderPageStepAdd:
        core_->PageDown();
        break;
      case QAbstractSlider::SliderPageStepSub:
        core_->PageUp();
        break;
      case QAbstractSlider::SliderToMinimum:
        core_->GoTop();
        break;
      case QAbstractSlider::SliderToMaximum:
        core_->GoBottom();
        break;
      case QAbstractSlider::SliderMove:
        core_->VThumb(static_cast<uint32_t>(std::max(verticalScrollBar()->sliderPosition(), 1)));
        break;
      default:
        break;
    }
  });
  // The core's position wins over the one Qt is about to apply.
  QMetaObject::invokeMethod(
      this, [this] { SyncFromCore(); }, Qt::QueuedConnection);
}

void TWBrowseWidget::OnHScroll(int action) {
  if (syncing_) return;
  RunCommand([this, action] {
    switch (action) {
      case QAbstractSlider::SliderSingleStepAdd:
      case QAbstractSlider::SliderPageStepAdd:
        core_->GoRight();
        break;
      case QAbstractSlider::SliderSingleStepSub:
      case QAbstractSlider::SliderPageStepSub:
        core_->GoLeft();
        break;
      case QAbstractSlider::SliderMove:
        core_->HThumb(horizontalScrollBar()->sliderPosition());
        break;
      default:
        break;
    }
  });
  QMetaObject::invokeMethod(
      this, [this] { SyncFromCore(); }, Qt::QueuedConnection);
}

int TWBrowseWidget::RowAt(int y) const {
  if (y < core_->header_height()) return 0;
  return 1 + (y - core_->header_height()) / core_->row_height();
}

void TWBrowseWidget::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.setFont(font_);
  const QPalette& pal = palette();
  const int w = viewport()->width(), h = viewport()->height();
  p.fillRect(0, 0, w, h, pal.color(QPalette::Base));
  TWBrowse& core = *core_;
  const BrowseColumns& cols = core.columns();
  // A paint never asks the engine while a command runs (its boxes run nested event loops), and
  // never shows a box itself: a failed read is reported afterwards, from the event loop.
  if (CommandRunning()) {
    stale_timer_->start();
  } else {
    try {
      rows_ = core.VisibleRows();
    } catch (...) {
      // A fatal failure (a broken index) ends the program through the dispatcher, later.
      rows_.clear();
      QTimer::singleShot(0, this, [failure = std::current_exception()] {
        RunCommand([failure] { std::rethrow_exception(failure); });
      });
    }
    if (DisplayErrorPending() && !report_queued_) {
      report_queued_ = true;
      QTimer::singleShot(0, this, [this] {
        report_queued_ = false;
        RunCommand([] { ReportDisplayError(); });
      });
    }
  }
  const std::vector<TWBrowse::Row>& rows = rows_;
  const std::vector<std::pair<int, int>> visible = core.VisibleColumns();
  const int header_h = core.header_height(), row_h = core.row_height();

  // Header: a two-band gradient, every cell in a raised frame.
  if (header_h > 0) {
    QLinearGradient top(0, 0, 0, header_h / 2);
    top.setColorAt(0, QColor(254, 254, 255));
    top.setColorAt(1, QColor(232, 236, 246));
    QLinearGradient bottom(0, header_h / 2, 0, header_h);
    bottom.setColorAt(0, QColor(212, 219, 237));
    bottom.setColorAt(1, QColor(222, 227, 244));
    p.fillRect(0, 0, w, header_h / 2, top);
    p.fillRect(0, header_h / 2, w, header_h - header_h / 2, bottom);
    for (auto [c, left] : visible) {
      const int cw = cols.aColSizes[c - 1];
      QRect cell(left, 0, cw, header_h);
      qDrawShadePanel(&p, cell, pal, false, 1);
      const bool right = c <= static_cast<int>(cols.aJustify.size()) && cols.aJustify[c - 1];
      p.setPen(pal.color(QPalette::WindowText));
      p.drawText(cell.adjusted(3, 0, -3, 0),
                 Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft),
                 FromApp(cols.aHeaders[c - 1]).trimmed());
      if (c == core.nColOrder) {  // the sort mark: a small triangle
        const int x = cell.right() - 11, y = 4;
        p.setPen(QColor(128, 128, 128));
        p.drawLine(x, y + 6, x + 3, y);
        p.drawLine(x + 3, y, x + 6, y + 6);
        p.setPen(Qt::white);
        p.drawLine(x, y + 6, x + 6, y + 6);
      }
    }
  }

  // Data rows.
  const QColor lines = pal.color(QPalette::Mid);
  for (size_t i = 0; i < rows.size(); ++i) {
    const TWBrowse::Row& row = rows[i];
    const int y = header_h + static_cast<int>(i) * row_h;
    const QColor pane = row.pane ? Rgb(*row.pane) : pal.color(QPalette::Base);
    for (auto [c, left] : visible) {
      const int cw = cols.aColSizes[c - 1];
      QRect cell(left, y, cw, row_h);
      const bool cursor = row.cursor && (!core.lCellStyle || c == core.nColAct());
      QColor back = pane, fore = pal.color(QPalette::Text);
      if (cursor) {
        back = hasFocus() ? (row.back_focus ? Rgb(*row.back_focus) : pal.color(QPalette::Highlight))
                          : QColor(128, 128, 128);
        fore = pal.color(QPalette::HighlightedText);
      }
      p.fillRect(cell, back);
      p.setPen(fore);
      const bool right = c <= static_cast<int>(cols.aJustify.size()) && cols.aJustify[c - 1];
      const QString text = c <= static_cast<int>(row.cells.size())
                               ? FromApp(row.cells[static_cast<size_t>(c - 1)])
                               : QString();
      p.save();
      p.setClipRect(cell);
      p.drawText(cell.adjusted(2, 0, -2, 0),
                 Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft), text);
      p.restore();
      p.setPen(lines);
      p.drawLine(cell.bottomLeft(), cell.bottomRight());
      p.drawLine(cell.topRight(), cell.bottomRight());
    }
  }
}

void TWBrowseWidget::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateGeometry();
  if (!CommandRunning()) RunCommand([this] { core_->Refresh(); });
}

void TWBrowseWidget::keyPressEvent(QKeyEvent* event) {
  const int vk = VirtualKeyOf(event->key());
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  RunCommand([&] {
    TWBrowse& c = *core_;
    switch (vk) {
      case 36:
        c.GoTop();
        return;
      case 35:
        c.GoBottom();
        return;
      case 38:
        c.GoUp();
        return;
      case 40:
        c.GoDown();
        return;
      case 33:
        c.PageUp();
        return;
      case 34:
        c.PageDown();
        return;
      case 37:
        c.GoLeft();
        return;
      case 39:
        c.GoRight();
        return;
      default:
        break;
    }
    if (vk != 0 && bKeyDown && bKeyDown(vk, ctrl)) return;
    // The character the key typed, as the Application's text.
    const std::string typed = Ansi(event->text().toStdString());
    if (typed.size() == 1 && bKeyChar && !ctrl) bKeyChar(static_cast<unsigned char>(typed[0]));
  });
}

int TWBrowseWidget::BorderAt(int x, int y) const {
  if (RowAt(y) != 0 || core_->header_height() == 0) return 0;
  const auto& sizes = core_->columns().aColSizes;
  for (auto [c, left] : core_->VisibleColumns()) {
    if (std::abs(x - (left + sizes[c - 1])) <= 3) return c;
  }
  return 0;
}

void TWBrowseWidget::FitColumn(int c) {
  BrowseColumns& cols = core_->columns();
  if (c < 1 || c > static_cast<int>(cols.aColSizes.size())) return;
  const QFontMetrics fm(font_);
  int width = fm.horizontalAdvance(FromApp(cols.aHeaders[c - 1]).trimmed());
  for (const TWBrowse::Row& row : rows_) {
    if (c <= static_cast<int>(row.cells.size())) {
      width = std::max(width, fm.horizontalAdvance(FromApp(row.cells[c - 1])));
    }
  }
  cols.aColSizes[c - 1] = width + 7;
  SyncFromCore();
}

void TWBrowseWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (resizing_ > 0) {
    auto& sizes = core_->columns().aColSizes;
    if (resizing_ <= static_cast<int>(sizes.size())) {
      sizes[resizing_ - 1] = std::max(8, drag_width_ + pos.x() - drag_x_);
      SyncFromCore();
    }
    return;
  }
  if (BorderAt(pos.x(), pos.y()) > 0) {
    viewport()->setCursor(Qt::SplitHCursor);
  } else {
    viewport()->unsetCursor();
  }
}

void TWBrowseWidget::mouseReleaseEvent(QMouseEvent* event) {
  resizing_ = 0;
  QAbstractScrollArea::mouseReleaseEvent(event);
}

void TWBrowseWidget::mousePressEvent(QMouseEvent* event) {
  setFocus();
  const QPoint pos = event->position().toPoint();
  // Dragging a header border widens or narrows that column.
  if (event->button() == Qt::LeftButton) {
    if (const int c = BorderAt(pos.x(), pos.y()); c > 0) {
      resizing_ = c;
      drag_x_ = pos.x();
      drag_width_ = core_->columns().aColSizes[c - 1];
      return;
    }
  }
  const int r = RowAt(pos.y());
  const bool right = event->button() == Qt::RightButton;
  RunCommand([&] {
    const bool on_row = core_->Click(r, pos.x(), right);
    if (right && on_row && bRClicked) bRClicked(pos.y(), pos.x());
  });
}

void TWBrowseWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    if (const int c = BorderAt(pos.x(), pos.y()); c > 0) {
      resizing_ = 0;
      FitColumn(c);
      return;
    }
  }
  if (event->button() != Qt::LeftButton || RowAt(pos.y()) < 1) return;
  RunCommand([&] {
    if (core_->Click(RowAt(pos.y()), pos.x(), false) && bLDblClick) bLDblClick();
  });
}

void TWBrowseWidget::wheelEvent(QWheelEvent* event) {
  const int notches = event->angleDelta().y() / 120;
  const bool middle = event->buttons() & Qt::MiddleButton;
  RunCommand([&] { core_->Wheel(notches, middle); });
}

void TWBrowseWidget::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TWBrowseWidget::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

}  // namespace vosk
