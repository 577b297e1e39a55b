#include "widgets/ToolbarButton.h"

#include "platform/ReduceMotion.h"
#include "widgets/ClotheslineToolbarButtonStyle.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace vennimo {

using Style = ClotheslineToolbarButtonStyle;

ToolbarButton::ToolbarButton(const QString& text, QWidget* parent)
    : QAbstractButton(parent) {
    setText(text);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    m_fillAnimation.setEasingCurve(QEasingCurve::OutQuad);
    m_fillAnimation.setDuration(int(Style::kFillAnimation.count()));
    connect(&m_fillAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_fill = value.toDouble();
        update();
    });
}

double ToolbarButton::targetFillOpacity() const {
    return Style::fillOpacity(isEnabled(), m_hovered, isDown());
}

void ToolbarButton::setReservedTexts(const QStringList& texts) {
    m_reservedTexts = texts;
    updateGeometry();
}

void ToolbarButton::followFill() {
    const double target = targetFillOpacity();
    if (ReduceMotion::isOn() || !isVisible()) {
        m_fillAnimation.stop();
        m_fill = target;
        update();
        return;
    }
    if (m_fillAnimation.state() == QAbstractAnimation::Running &&
        m_fillAnimation.endValue().toDouble() == target)
        return;
    m_fillAnimation.stop();
    m_fillAnimation.setStartValue(m_fill);
    m_fillAnimation.setEndValue(target);
    m_fillAnimation.start();
}

QSize ToolbarButton::labelSize() const {
    const QFontMetricsF metrics(Style::font(Style::kLabelPixels));
    double width = metrics.horizontalAdvance(text());
    for (const QString& reserved : m_reservedTexts)
        width = std::max(width, metrics.horizontalAdvance(reserved));
    return QSize(int(std::ceil(width)), int(std::ceil(metrics.height())));
}

void ToolbarButton::paintLabel(QPainter& painter, const QRectF& rect) {
    painter.setFont(Style::font(Style::kLabelPixels));
    painter.setPen(Style::labelColor(isEnabled()));
    painter.drawText(rect, Qt::AlignCenter, text());
}

QSize ToolbarButton::sizeHint() const {
    const int padding = int(2 * Style::kPadding);
    return labelSize() + QSize(padding, padding);
}

void ToolbarButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Style::paintSurface(painter, QRectF(rect()), m_fill);
    paintLabel(painter,
               QRectF(rect()).adjusted(Style::kPadding, Style::kPadding, -Style::kPadding, -Style::kPadding));
}

void ToolbarButton::enterEvent(QEnterEvent* event) {
    m_hovered = true;
    followFill();
    QAbstractButton::enterEvent(event);
}

void ToolbarButton::leaveEvent(QEvent* event) {
    m_hovered = false;
    followFill();
    QAbstractButton::leaveEvent(event);
}

void ToolbarButton::hideEvent(QHideEvent* event) {
    m_hovered = false;
    followFill();
    QAbstractButton::hideEvent(event);
}

void ToolbarButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        followFill();
    QAbstractButton::changeEvent(event);
}

void ToolbarButton::mousePressEvent(QMouseEvent* event) {
    QAbstractButton::mousePressEvent(event);
    followFill();
}

void ToolbarButton::mouseReleaseEvent(QMouseEvent* event) {
    QAbstractButton::mouseReleaseEvent(event);
    followFill();
}

} // namespace vennimo
