#include "widgets/TailCutLabel.h"

#include <QPainter>
#include <QStyle>

namespace vennimo {

TailCutLabel::TailCutLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent) {
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize TailCutLabel::minimumSizeHint() const {
    const QSize full = QLabel::minimumSizeHint();
    const QMargins margins = contentsMargins();
    const int ellipsis = fontMetrics().horizontalAdvance(QStringLiteral("…"));
    return {std::min(full.width(), ellipsis + margins.left() + margins.right()), full.height()};
}

QString TailCutLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void TailCutLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(), shownText(),
                          foregroundRole());
}

} // namespace vennimo
