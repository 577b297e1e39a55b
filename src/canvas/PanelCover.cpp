#include "canvas/PanelCover.h"

#include <QVariant>
#include <QWidget>

namespace vennimo {

void PanelCover::move(QWidget* panel, QPoint to) {
    if (!panel || panel->pos() == to)
        return;
    if (!panel->isVisible()) {
        panel->move(to);
        return;
    }
    const QRegion shown = panel->mask().isEmpty() ? QRegion(panel->rect()) : panel->mask();
    announce(panel, shown.translated(panel->pos()) & shown.translated(to));
    panel->move(to);
    announce(panel, std::nullopt);
}

void PanelCover::hide(QWidget* panel) {
    if (!panel || !panel->isVisible())
        return;
    announce(panel, QRegion());
    panel->hide();
    announce(panel, std::nullopt);
}

std::optional<QRegion> PanelCover::duringChange(const QWidget* panel) {
    const QVariant covered = panel ? panel->property(kProperty) : QVariant();
    if (!covered.isValid())
        return std::nullopt;
    return covered.value<QRegion>();
}

void PanelCover::announce(QWidget* panel, const std::optional<QRegion>& covered) {
    panel->setProperty(kProperty, covered ? QVariant::fromValue(*covered) : QVariant());
}

} // namespace vennimo
