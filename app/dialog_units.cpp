#include "app/dialog_units.h"

#include <QFontMetrics>
#include <QWidget>

namespace orvanta {

QSize dialogUnitsToPixels(const QWidget& widget, int width, int height) {
    const QFontMetrics metrics = widget.fontMetrics();
    const int averageWidth = metrics.averageCharWidth();
    const int charHeight = metrics.height();
    return QSize(width * averageWidth / 4, height * charHeight / 8);
}

}  // namespace orvanta
