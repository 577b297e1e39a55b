#include "widgets/ToolbarIcon.h"

#include "widgets/ClotheslineToolbarButtonStyle.h"
#include "widgets/HoverHint.h"
#include "widgets/ToolbarSymbol.h"

#include <QPainter>

namespace vennimo {

namespace {

constexpr int kSpinSteps = 8;
// The mini progress indicator's diameter.
constexpr double kSpinnerPixels = 12;

} // namespace

ToolbarIcon::ToolbarIcon(const QString& symbol, const QString& label, const std::optional<QString>& shortcut,
                         QWidget* parent)
    : ToolbarButton(QString(), parent)
    , m_symbol(symbol)
    , m_label(label)
    , m_shortcut(shortcut) {
    setAccessibleName(label);
    m_hint = new HoverHint(this, hintText());
    m_spinTimer.setInterval(kSpinInterval);
    connect(&m_spinTimer, &QTimer::timeout, this, [this] {
        m_spin = (m_spin + 1) % kSpinSteps;
        update();
    });
}

QString ToolbarIcon::hintText(const QString& label, const std::optional<QString>& shortcut) {
    return shortcut ? label + QStringLiteral("  ") + *shortcut : label;
}

QString ToolbarIcon::hintText() const {
    return hintText(m_label, m_shortcut);
}

void ToolbarIcon::setSymbol(const QString& symbol) {
    if (m_symbol != symbol) {
        m_symbol = symbol;
        update();
    }
}

void ToolbarIcon::setLabel(const QString& label) {
    if (m_label == label)
        return;
    m_label = label;
    setAccessibleName(label);
    m_hint->setText(hintText());
}

void ToolbarIcon::setShortcut(const std::optional<QString>& shortcut) {
    m_shortcut = shortcut;
    m_hint->setText(hintText());
}

void ToolbarIcon::setDestructive(bool destructive) {
    if (m_destructive != destructive) {
        m_destructive = destructive;
        update();
    }
}

void ToolbarIcon::setBusy(bool busy) {
    if (m_busy == busy)
        return;
    m_busy = busy;
    busy ? m_spinTimer.start() : m_spinTimer.stop();
    update();
}

QColor ToolbarIcon::symbolColor() const {
    if (m_destructive && isEnabled())
        return QColor(255, 59, 48);
    return ClotheslineToolbarButtonStyle::labelColor(isEnabled());
}

void ToolbarIcon::paintLabel(QPainter& painter, const QRectF& rect) {
    const QRectF frame(rect.center() - QPointF(kFrame.width() / 2.0, kFrame.height() / 2.0), QSizeF(kFrame));
    if (!m_busy) {
        ToolbarSymbol::paint(painter, m_symbol, frame, kSymbolPixels, symbolColor(), 1.15);
        return;
    }
    // The spokes of a small activity indicator, the brightest one turning.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(frame.center());
    for (int i = 0; i < kSpinSteps; ++i) {
        const int age = (m_spin - i + kSpinSteps) % kSpinSteps;
        QColor colour(Qt::black);
        colour.setAlphaF(float(0.85 - 0.09 * age));
        painter.setPen(QPen(colour, 1.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -kSpinnerPixels / 4), QPointF(0, -kSpinnerPixels / 2));
        painter.rotate(360.0 / kSpinSteps);
    }
    painter.restore();
}

} // namespace vennimo
