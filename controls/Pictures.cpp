#include "controls/Pictures.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygon>

QIcon LinkedComputersPicture() {
  QPixmap picture(25, 21);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  const auto computer = [&](int x, int y) {
    painter.setPen(Qt::black);
    painter.setBrush(QColor(192, 192, 192));
    painter.drawRect(x, y, 10, 7);
    painter.fillRect(x + 2, y + 2, 7, 4, QColor(0, 128, 128));
    painter.fillRect(x + 4, y + 8, 3, 1, Qt::black);
    painter.drawRect(x + 2, y + 9, 6, 1);
  };
  computer(0, 0);
  computer(14, 10);
  painter.setPen(QColor(0, 0, 128));
  painter.drawPolyline(QPolygon({QPoint(5, 11), QPoint(5, 14), QPoint(13, 14)}));
  return QIcon(picture);
}
