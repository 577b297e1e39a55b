#include "shell/QuickOpenStatus.h"

namespace vennimo {

QuickOpenStatus quickOpenStatus(const QuickOpenStatusInput& input) {
    QuickOpenStatus status;
    const QString base = input.open ? QStringLiteral("收起Vennimo") : QStringLiteral("展开Vennimo");
    // A key that is not held would not open anything: it is not offered.
    const std::optional<QString> label =
        input.shortcutLabel && input.shortcutRegistered ? input.shortcutLabel : std::nullopt;
    const int n = std::max(input.arrivals, 0);
    const QString count = QString::number(n) + QStringLiteral(" 张新照片");

    status.toggleTitle = label ? base + QStringLiteral("（") + *label + QStringLiteral("）") : base;
    status.collectionVisible = input.collecting;
    status.collectionTitle = n == 0 ? QStringLiteral("后台接收中") : QStringLiteral("后台接收中 · ") + count;

    status.toolTip = base;
    if (label)
        status.toolTip += QStringLiteral(" · ") + *label;
    if (n > 0)
        status.toolTip += QStringLiteral(" · ") + count;
    if (input.shortcutLabel && !input.shortcutRegistered)
        status.toolTip += QStringLiteral(" · 快捷键不可用");

    status.accessibleName = QStringLiteral("Vennimo，") + base;
    if (n > 0)
        status.accessibleName += QStringLiteral("，") + count;
    status.dot = n > 0;
    return status;
}

} // namespace vennimo
