// The program's icon: a card with its magnetic stripe.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tollwick {

QPixmap AppIconPixmap(int size);
QIcon AppIcon();

}  // namespace tollwick
