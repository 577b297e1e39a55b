#include "grid/GridEmptyState.h"

#include "widgets/ClotheslineToolbarButtonStyle.h"
#include "widgets/ToolbarSymbol.h"

#include <QFontMetricsF>
#include <QPainter>

namespace vennimo {

GridEmptyState::GridEmptyState(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFont(ClotheslineToolbarButtonStyle::font(13));
}

void GridEmptyState::setSearching(bool searching) {
    if (searching == m_searching)
        return;
    m_searching = searching;
    update();
}

QString GridEmptyState::text() const {
    return QString::fromUtf8(m_searching ? "无匹配" : "还没有照片");
}

void GridEmptyState::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    const QFontMetricsF metrics(font());
    const double line = metrics.height();
    const double top = (height() - (kSymbolPixels + kSpacing + line)) / 2;
    ToolbarSymbol::paint(painter, QStringLiteral("photo.on.rectangle.angled"),
                         QRectF(0, top, width(), kSymbolPixels), kSymbolPixels, secondary);
    painter.setPen(secondary);
    painter.drawText(QRectF(0, top + kSymbolPixels + kSpacing, width(), line),
                     Qt::AlignHCenter | Qt::AlignTop, text());
}

} // namespace vennimo
