#include "app/app_icon.h"

#include <QPainter>

namespace tollwick {

QPixmap AppIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const QRectF card(s * 0.06, s * 0.2, s * 0.88, s * 0.6);
    painter.setPen(QPen(QColor(20, 40, 90), s / 32.0 + 0.5));
    painter.setBrush(QColor(235, 240, 250));
    painter.drawRoundedRect(card, s * 0.08, s * 0.08);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 30, 30));
    painter.drawRect(
        QRectF(card.left(), card.top() + card.height() * 0.18, card.width(), card.height() * 0.22));
    painter.setBrush(QColor(200, 40, 40));
    painter.drawRect(QRectF(card.left() + card.width() * 0.1, card.top() + card.height() * 0.62,
                            card.width() * 0.5, card.height() * 0.12));
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(AppIconPixmap(size));
    return icon;
}

}  // namespace tollwick
