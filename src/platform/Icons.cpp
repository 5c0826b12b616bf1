#include "platform/Icons.h"

#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library, whose registration the linker
// would drop unless something refers to it.
static void InitVelmoraResources() { Q_INIT_RESOURCE(velmora); }

namespace appicons {

void EnsureResources() {
    static const bool done = (InitVelmoraResources(), true);
    (void)done;
}

QPixmap Picture(const QString& name, int size) {
    EnsureResources();
    QSvgRenderer renderer(QStringLiteral(":/velmora/icons/%1.svg").arg(name));
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    if (!renderer.isValid()) return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return pixmap;
}

QIcon Icon(const QString& name) {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(Picture(name, size));
    return icon;
}

}  // namespace appicons
