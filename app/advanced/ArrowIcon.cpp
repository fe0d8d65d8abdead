#include "ArrowIcon.h"

#include <QPainter>
#include <QPolygon>

namespace Advanced {

QPixmap arrowPicture(Qt::ArrowType direction) {
    const bool vertical = direction == Qt::UpArrow || direction == Qt::DownArrow;
    QPixmap picture(vertical ? QSize(7, 6) : QSize(6, 7));
    picture.fill(Qt::transparent);

    QPolygon triangle;
    switch (direction) {
        case Qt::UpArrow:
            triangle << QPoint(3, 1) << QPoint(0, 4) << QPoint(6, 4);
            break;
        case Qt::DownArrow:
            triangle << QPoint(0, 1) << QPoint(6, 1) << QPoint(3, 4);
            break;
        case Qt::LeftArrow:
            triangle << QPoint(1, 3) << QPoint(4, 0) << QPoint(4, 6);
            break;
        default:
            triangle << QPoint(1, 0) << QPoint(4, 3) << QPoint(1, 6);
            break;
    }
    QPainter painter(&picture);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::black);
    painter.drawPolygon(triangle);
    return picture;
}

}  // namespace Advanced
