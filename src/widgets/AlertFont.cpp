#include "widgets/AlertFont.h"

namespace vennimo {

QFont alertFont(qreal pointSize) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSizeF(pointSize);
    return font;
}

} // namespace vennimo
