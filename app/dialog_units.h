#pragma once
// Dialog units to pixels with the widget's font: a horizontal unit is a quarter of the
// average character width, a vertical unit an eighth of the character height.

#include <QSize>

class QWidget;

namespace orvanta {

QSize dialogUnitsToPixels(const QWidget& widget, int width, int height);

}  // namespace orvanta
