#include "app/app_icon.h"

#include <QByteArray>
#include <QPainter>
#include <QSvgRenderer>

#include "app_icon_svg.h"

namespace tollwick {

// The drawing is packaging/icons/io.github.tollwick.Tollwick.svg, compiled in; the icons
// installed for the menu are rendered from the same file.
QPixmap AppIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(
        QByteArray::fromRawData(reinterpret_cast<const char*>(kAppIconSvg), sizeof kAppIconSvg));
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(AppIconPixmap(size));
    return icon;
}

}  // namespace tollwick
