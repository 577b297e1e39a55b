#include "preview/PreviewActionButton.h"

#include "rendering/PreviewToolbarMetrics.h"
#include "widgets/HoverHint.h"
#include "widgets/ToolbarSymbol.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace vennimo {

namespace {

QColor rgb(double r, double g, double b, double a = 1) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

} // namespace

QColor PreviewActionButton::ink() {
    return rgb(0.23, 0.215, 0.18);
}

QColor PreviewActionButton::paper() {
    return rgb(0.995, 0.987, 0.961);
}

QColor PreviewActionButton::mutedTint() {
    return rgb(0.42, 0.4, 0.35);
}

QColor PreviewActionButton::destructiveTint() {
    return rgb(0.66, 0.24, 0.19);
}

PreviewActionButton::PreviewActionButton(Appearance visual, QWidget* parent)
    : QAbstractButton(parent)
    , m_visual(visual) {
    setFont(PreviewToolbarMetrics::font());
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

void PreviewActionButton::setSymbol(const QString& symbol) {
    if (m_symbol == symbol)
        return;
    m_symbol = symbol;
    update();
}

void PreviewActionButton::setHint(const std::optional<QString>& hint) {
    m_hint = hint;
    if (!hint) {
        delete m_hoverHint;
        m_hoverHint = nullptr;
    } else if (m_hoverHint) {
        m_hoverHint->setText(*hint);
    } else {
        m_hoverHint = new HoverHint(this, *hint);
        m_hoverHint->setPlacement(PreviewToolbarMetrics::height + kHintBelow, kHintMargin);
    }
}

QColor PreviewActionButton::tint() const {
    switch (m_visual) {
    case Appearance::dismiss:
        return ink();
    case Appearance::destructive:
        return destructiveTint();
    case Appearance::primary:
        return paper();
    case Appearance::secondary:
    case Appearance::quiet:
    case Appearance::ghost:
        break;
    }
    return mutedTint();
}

QColor PreviewActionButton::background() const {
    const bool active = isEnabled() && (m_hovered || isDown());
    QColor color;
    switch (m_visual) {
    case Appearance::secondary:
    case Appearance::quiet:
    case Appearance::ghost:
        color = rgb(0.23, 0.215, 0.18, active ? 0.08 : 0);
        break;
    case Appearance::dismiss:
        color = active ? rgb(0.9, 0.875, 0.81) : rgb(0.94, 0.918, 0.86);
        break;
    case Appearance::primary:
        color = active ? rgb(0.32, 0.3, 0.26) : ink();
        break;
    case Appearance::destructive:
        color = rgb(0.75, 0.25, 0.2, active ? 0.12 : 0);
        break;
    }
    if (!isEnabled())
        color.setAlphaF(color.alphaF() * float(kDisabledAlpha));
    return color;
}

QSize PreviewActionButton::sizeHint() const {
    return QSize(int(PreviewToolbarMetrics::width(text())), int(PreviewToolbarMetrics::height));
}

void PreviewActionButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(background());
    painter.drawRoundedRect(frame, kCornerRadius, kCornerRadius);

    QColor color = tint();
    if (!isEnabled())
        color.setAlphaF(color.alphaF() * float(kDisabledAlpha));
    const double icon = PreviewToolbarMetrics::icon;
    if (text().isEmpty()) {
        if (m_symbol.isEmpty())
            return;
        const QRectF box(std::round(frame.center().x() - icon / 2), std::round(frame.center().y() - icon / 2),
                         icon, icon);
        ToolbarSymbol::paint(painter, m_symbol, box, icon, color, kSymbolWeight);
        return;
    }
    painter.setFont(font());
    painter.setPen(color);
    const QFontMetricsF metrics(font());
    const double tw = std::ceil(metrics.horizontalAdvance(text()));
    const double th = metrics.height();
    double x = frame.center().x() - tw / 2;
    if (!m_symbol.isEmpty()) {
        x = frame.center().x() - (tw + icon + PreviewToolbarMetrics::iconGap) / 2;
        ToolbarSymbol::paint(painter, m_symbol, QRectF(x, frame.center().y() - icon / 2, icon, icon), icon,
                             color, kSymbolWeight);
        x += icon + PreviewToolbarMetrics::iconGap;
    }
    painter.drawText(QRectF(x, frame.center().y() - th / 2, tw, th), Qt::AlignCenter | Qt::TextSingleLine,
                     text());
}

void PreviewActionButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    setHovered(true);
}

void PreviewActionButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    setHovered(false);
}

void PreviewActionButton::changeEvent(QEvent* event) {
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        update();
}

void PreviewActionButton::setHovered(bool hovered) {
    m_hovered = hovered;
    update();
}

} // namespace vennimo
