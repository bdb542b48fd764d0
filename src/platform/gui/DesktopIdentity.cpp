#include "platform/gui/DesktopIdentity.h"

QIcon ApplicationIcon()
{
    // Rendered sizes, not the SVG: drawing an SVG would need Qt's SVG module.
    QIcon icon;
    for (const int size : {32, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    return icon;
}
