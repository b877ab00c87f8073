#include "gui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vosk {
namespace {

// Every picture is drawn on a 24 x 24 grid.
constexpr int kGrid = 24;

const QColor kInk(40, 40, 40);
const QColor kPaper(255, 255, 255);
const QColor kFolder(232, 186, 60);
const QColor kGreen(40, 150, 60);
const QColor kRed(200, 40, 40);
const QColor kBlue(40, 90, 180);
const QColor kHeader(170, 195, 230);

// A small table: header row and grid lines.
void Table(QPainter& p, QRectF r) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(kPaper);
  p.drawRect(r);
  QRectF head(r.left(), r.top(), r.width(), r.height() / 4);
  p.fillRect(head.adjusted(0.5, 0.5, 0, 0), kHeader);
  p.drawLine(QPointF(r.left(), head.bottom()), QPointF(r.right(), head.bottom()));
  for (int i = 1; i < 3; ++i) {
    qreal y = head.bottom() + (r.bottom() - head.bottom()) * i / 3;
    p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
  }
  qreal x = r.left() + r.width() / 2;
  p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
  p.setPen(QPen(c, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(from, to);
  QLineF line(to, from);
  QLineF a = line, b = line;
  a.setLength(5);
  b.setLength(5);
  a.setAngle(line.angle() + 35);
  b.setAngle(line.angle() - 35);
  p.drawLine(a);
  p.drawLine(b);
}

void Funnel(QPainter& p, const QColor& fill) {
  QPainterPath path;
  path.moveTo(3, 4);
  path.lineTo(21, 4);
  path.lineTo(14, 12);
  path.lineTo(14, 20);
  path.lineTo(10, 18);
  path.lineTo(10, 12);
  path.closeSubpath();
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(fill);
  p.drawPath(path);
}

void Draw(QPainter& p, const std::string& name) {
  if (name == "NUOVO") {
    QPainterPath page;
    page.moveTo(5, 2);
    page.lineTo(14, 2);
    page.lineTo(19, 7);
    page.lineTo(19, 22);
    page.lineTo(5, 22);
    page.closeSubpath();
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kPaper);
    p.drawPath(page);
    p.drawPolyline(QPolygonF({QPointF(14, 2), QPointF(14, 7), QPointF(19, 7)}));
    p.setPen(QPen(kGreen, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12, 11), QPointF(12, 19));
    p.drawLine(QPointF(8, 15), QPointF(16, 15));
  } else if (name == "APRI") {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kFolder.darker(115));
    p.drawRect(QRectF(2, 6, 17, 14));
    p.drawRect(QRectF(2, 4, 7, 2));
    QPolygonF flap({QPointF(5, 10), QPointF(22, 10), QPointF(19, 20), QPointF(2, 20)});
    p.setBrush(kFolder);
    p.drawPolygon(flap);
  } else if (name == "COPIATAB") {
    Table(p, QRectF(2, 2, 13, 12));
    Table(p, QRectF(9, 10, 13, 12));
  } else if (name == "IMPORTAREC") {
    Table(p, QRectF(8, 6, 14, 16));
    Arrow(p, QPointF(1, 3), QPointF(12, 14), kGreen);
  } else if (name == "CERCACOL") {
    Table(p, QRectF(2, 2, 14, 18));
    p.setPen(QPen(kBlue, 2));
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(QPointF(14, 13), 5, 5);
    p.setPen(QPen(kBlue, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 17), QPointF(22, 21));
  } else if (name == "VISTACOL") {
    p.setPen(QPen(kInk, 1));
    for (int i = 0; i < 4; ++i) {
      QRectF col(2 + i * 5, 3, 4, 18);
      p.setBrush(i % 2 ? QColor(210, 210, 210) : kHeader);
      p.drawRect(col);
    }
    p.setPen(QPen(kGreen, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(13, 17), QPointF(16, 20), QPointF(22, 12)}));
  } else if (name == "FILTRO") {
    Funnel(p, kBlue.lighter(150));
  } else if (name == "CHIUDI") {
    Funnel(p, QColor(200, 200, 200));
    p.setPen(QPen(kRed, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(15, 14), QPointF(21, 20));
    p.drawLine(QPointF(21, 14), QPointF(15, 20));
  } else if (name == "AGGIORNA") {
    p.setPen(QPen(kGreen, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(4, 4, 16, 16), 30 * 16, 240 * 16);
    Arrow(p, QPointF(19, 5), QPointF(19, 10), kGreen);
  } else if (name == "ESCI") {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(QColor(150, 100, 60));
    p.drawRect(QRectF(3, 2, 11, 20));
    p.setBrush(kFolder);
    p.drawEllipse(QPointF(11.5, 12), 1, 1);
    Arrow(p, QPointF(10, 12), QPointF(22, 12), kRed);
  } else if (name == "CRYPTED") {
    p.setPen(QPen(kInk, 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(7, 3, 10, 12), 0, 180 * 16);
    p.drawLine(QPointF(7, 9), QPointF(7, 11));
    p.drawLine(QPointF(17, 9), QPointF(17, 11));
    p.setPen(QPen(kInk, 1));
    p.setBrush(kFolder);
    p.drawRect(QRectF(5, 11, 14, 10));
  } else if (name == "ICONA") {
    Table(p, QRectF(2, 3, 20, 18));
  } else if (name == "VOSK") {
    // The product picture: a table with its index key beside it.
    Table(p, QRectF(1, 4, 16, 16));
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kFolder);
    p.drawEllipse(QPointF(18, 8), 3, 3);
    p.setPen(QPen(kFolder.darker(130), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 11), QPointF(18, 21));
    p.drawLine(QPointF(18, 17), QPointF(21, 17));
    p.drawLine(QPointF(18, 20), QPointF(21, 20));
  } else if (name == "ELIMINA") {
    // A rubber wiping out a line.
    p.setPen(QPen(kInk, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 21), QPointF(21, 21));
    QPolygonF rubber({QPointF(6, 15), QPointF(14, 5), QPointF(21, 11), QPointF(13, 20),
                      QPointF(9, 20)});
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kRed.lighter(150));
    p.drawPolygon(rubber);
  } else if (name == "OK" || name == "SELECT") {
    p.setPen(QPen(kGreen, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(5, 13), QPointF(10, 18), QPointF(19, 6)}));
  } else if (name == "CANCEL") {
    p.setPen(QPen(kRed, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(6, 6), QPointF(18, 18));
    p.drawLine(QPointF(18, 6), QPointF(6, 18));
  } else if (name == "ALL") {
    p.setPen(QPen(kGreen, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (int i = 0; i < 3; ++i) {
      const qreal y = 5 + 6 * i;
      p.drawPolyline(QPolygonF({QPointF(3, y + 2), QPointF(5, y + 4), QPointF(9, y)}));
      p.setPen(QPen(kInk, 1.5));
      p.drawLine(QPointF(12, y + 2), QPointF(21, y + 2));
      p.setPen(QPen(kGreen, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
  } else if (name == "INSERT" || name == "APPEND") {
    // A list of fields with a new row: above the current one, or at the end.
    p.setPen(QPen(kInk, 1.5));
    for (qreal y : {5.0, 10.0, 15.0, 20.0}) p.drawLine(QPointF(3, y), QPointF(14, y));
    const qreal y = name == "INSERT" ? 7.5 : 20;
    p.setPen(QPen(kGreen, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(19, y - 4), QPointF(19, y + 3));
    p.drawLine(QPointF(15.5, y - 0.5), QPointF(22.5, y - 0.5));
  } else if (name == "EDIT") {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kFolder);
    QPolygonF pencil({QPointF(5, 19), QPointF(7, 14), QPointF(17, 4), QPointF(20, 7),
                      QPointF(10, 17)});
    p.drawPolygon(pencil);
    p.drawLine(QPointF(3, 22), QPointF(21, 22));
  } else if (name == "DELETE") {
    p.setPen(QPen(kInk, 1.5));
    for (qreal y : {5.0, 10.0, 15.0, 20.0}) p.drawLine(QPointF(3, y), QPointF(14, y));
    p.setPen(QPen(kRed, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(15, 9), QPointF(21, 15));
    p.drawLine(QPointF(21, 9), QPointF(15, 15));
  }
  // VUOTO and unknown names: blank.
}

}  // namespace

QIcon DrawnIcon(const std::string& name) {
  QIcon icon;
  for (int scale : {1, 2}) {
    QPixmap pixmap(kGrid * scale, kGrid * scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    Draw(p, name);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace vosk
