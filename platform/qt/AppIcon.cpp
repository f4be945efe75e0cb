#include "platform/qt/AppIcon.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPixmap>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>

#include <array>

namespace qtfront {

namespace {

// Drawn on a 64-unit square and scaled to the size wanted.
void Draw(QPainter& painter, int size) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.scale(size / 64.0, size / 64.0);

    // The board: a dark card with the gold fingers of its bus connector along the bottom edge.
    QPainterPath board;
    board.addRoundedRect(QRectF(4, 14, 56, 34), 5, 5);
    painter.setPen(QPen(QColor(0x10, 0x14, 0x18), 2));
    painter.setBrush(QColor(0x2B, 0x33, 0x3B));
    painter.drawPath(board);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xD4, 0xA0, 0x17));
    for (int finger = 0; finger < 6; ++finger) painter.drawRect(QRectF(14 + finger * 6, 48, 4, 6));

    // The fan.
    painter.setBrush(QColor(0x45, 0x51, 0x5C));
    painter.drawEllipse(QPointF(22, 31), 12, 12);
    painter.setBrush(QColor(0x1B, 0x21, 0x27));
    painter.drawEllipse(QPointF(22, 31), 3.5, 3.5);

    // The bolt: the power the program sets.
    const std::array<QPointF, 7> bolt{QPointF(44, 4),  QPointF(28, 34), QPointF(38, 34), QPointF(32, 60),
                                      QPointF(54, 26), QPointF(43, 26), QPointF(52, 4)};
    painter.setPen(QPen(QColor(0x5A, 0x3A, 0x00), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(0xFF, 0xC1, 0x07));
    painter.drawPolygon(bolt.data(), static_cast<int>(bolt.size()));
}

}  // namespace

QImage AppIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    Draw(painter, size);
    painter.end();
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
    return icon;
}

}  // namespace qtfront
