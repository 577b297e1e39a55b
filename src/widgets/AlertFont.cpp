#include "widgets/AlertFont.h"

namespace vennimo {

QFont alertFont(qreal pointSize) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSizeF(pointSize);
    return font;
}

std::unique_ptr<QMessageBox> newAlert(QMessageBox::Icon icon, qreal pointSize, QWidget* parent) {
    auto alert = std::make_unique<QMessageBox>(parent);
    alert->setIcon(icon);
    alert->setFont(alertFont(pointSize));
    alert->setWindowTitle(QStringLiteral("Vennimo"));
    return alert;
}

} // namespace vennimo
