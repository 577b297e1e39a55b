#include "canvas/PegDragBadge.h"

#include "canvas/PanelCover.h"
#include "platform/X11DropRefusal.h"
#include "rendering/AlphaMaskedPicture.h"
#include "rope/RopeDiagnostic.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace vennimo {

namespace {

QFont badgeFont() {
    QFont font;
    // Points of the drawing grid, one per logical pixel.
    font.setPixelSize(int(PegDragBadge::kFontPoints));
    font.setWeight(QFont::DemiBold);
    return font;
}

// Where nothing composites windows, the same panel cut to the badge's outline.
class BadgePanel : public QWidget {
public:
    BadgePanel(const QImage& image, bool masked)
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                               Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint) {
        if (masked) {
            const AlphaMaskedPicture shape(image);
            m_image = shape.image();
            setMask(shape.region());
        } else {
            m_image = image;
            setAttribute(Qt::WA_TranslucentBackground);
        }
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        resize(m_image.deviceIndependentSize().toSize());
        create();
        X11DropRefusal::install(windowHandle());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, m_image);
    }

private:
    QImage m_image;
};

} // namespace

double PegDragBadge::width(int count) {
    const QFontMetricsF metrics(badgeFont());
    return std::max(std::ceil(metrics.horizontalAdvance(QString::number(count))) + kTextMargin,
                    kMinimumWidth);
}

QImage PegDragBadge::image(int count) {
    QImage image(int(width(count)), int(kHeight), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(image.rect()), kHeight / 2, kHeight / 2);
    painter.fillPath(shape, QColor::fromRgbF(0.81f, 0.12f, 0.24f));
    painter.setPen(Qt::white);
    painter.setFont(badgeFont());
    painter.drawText(QRectF(image.rect()), Qt::AlignCenter, QString::number(count));
    return image;
}

PegDragBadge::PegDragBadge(int count, bool masked)
    : m_count(count)
    , m_masked(masked)
    , m_panel(std::make_unique<BadgePanel>(image(count), masked)) {}

PegDragBadge::~PegDragBadge() = default;

void PegDragBadge::update(bool external, QPointF at) {
    if (m_closed)
        return;
    const bool shown = external && m_count >= 2;
    // Below and right of the pointer, as the system puts a drag's count (y grows downward here).
    PanelCover::move(m_panel.get(), (at + kOffset).toPoint());
    if (shown == m_visible)
        return;
    m_visible = shown;
    if (shown)
        m_panel->show();
    else
        PanelCover::hide(m_panel.get());
    if (shown)
        m_panel->raise();
    RopeDiagnostic::event("PegBadgeVisibility",
                          QStringLiteral("visible=%1 count=%2").arg(shown ? u"true" : u"false").arg(m_count));
}

void PegDragBadge::close() {
    if (m_closed)
        return;
    update(false, m_panel->pos() - kOffset);
    m_closed = true;
    m_panel->close();
}

} // namespace vennimo
