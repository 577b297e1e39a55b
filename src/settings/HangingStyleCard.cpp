#include "settings/HangingStyleCard.h"

#include "settings/HangingMotionPreview.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsSymbol.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace vennimo {

namespace {

constexpr int kPadding = 12;
constexpr int kSpacing = 7;
constexpr double kCornerRadius = 12;
constexpr double kMarkPixels = 16;

} // namespace

HangingStyleCard::HangingStyleCard(HangingStyle style, QWidget* parent)
    : QAbstractButton(parent)
    , m_style(style) {
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(kSpacing);
    m_preview = new HangingMotionPreview(style, this);
    m_preview->setAttribute(Qt::WA_TransparentForMouseEvents);
    column->addWidget(m_preview);
    auto* titleRow = new QHBoxLayout;
    titleRow->setContentsMargins(0, 0, 0, 0);
    titleRow->addWidget(SettingsStyle::label(
        style.title(), SettingsStyle::font(SettingsStyle::kHeadlinePixels, QFont::Bold)));
    titleRow->addStretch();
    m_mark = new QLabel(this);
    titleRow->addWidget(m_mark);
    column->addLayout(titleRow);
    column->addWidget(SettingsStyle::label(
        description(style), SettingsStyle::font(SettingsStyle::kCaptionPixels), SettingsStyle::secondary()));
    for (QLabel* label : findChildren<QLabel*>())
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(style.title() + QStringLiteral("，") + description(style));
    setSelected(false);
}

QString HangingStyleCard::description(const HangingStyle& style) {
    if (style.strictlyVertical)
        return style.offCenter ? QStringLiteral("夹点错落，照片始终直立")
                               : QStringLiteral("绳子轻弹，照片始终直立");
    return style.offCenter ? QStringLiteral("偏心悬挂，缓缓摆向自然倾角")
                           : QStringLiteral("小幅轻摆，停在微微倾角");
}

void HangingStyleCard::setSelected(bool selected) {
    m_selected = selected;
    setCheckable(true);
    setChecked(selected);
    m_mark->setPixmap(
        selected ? SettingsSymbol::pixmap(QStringLiteral("checkmark.circle.fill"), kMarkPixels,
                                          SettingsStyle::accent())
                 : SettingsSymbol::pixmap(QStringLiteral("circle"), kMarkPixels, SettingsStyle::secondary()));
    update();
}

QSize HangingStyleCard::sizeHint() const {
    return layout()->sizeHint();
}

void HangingStyleCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath plate;
    plate.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
    QColor fill = m_selected ? SettingsStyle::accent() : QColor(Qt::black);
    fill.setAlphaF(m_selected ? 0.07f : 0.035f);
    painter.fillPath(plate, fill);
    QColor border = m_selected ? SettingsStyle::accent() : QColor(Qt::black);
    border.setAlphaF(m_selected ? 0.65f : 0.1f);
    painter.setPen(QPen(border, 1));
    painter.drawPath(plate);
}

} // namespace vennimo
