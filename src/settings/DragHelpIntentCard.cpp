#include "settings/DragHelpIntentCard.h"

#include "settings/DragHelpPicture.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsSymbol.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace vennimo {

namespace {

constexpr double kCornerRadius = 14;
constexpr int kPadding = 12;

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(float(r), float(g), float(b));
}

QWidget* pictureColumn(const DragHelpPicture::Parts& parts, const QString& caption, QWidget* parent) {
    auto* column = new QWidget(parent);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new DragHelpPicture(parts, column), 0, Qt::AlignHCenter);
    layout->addWidget(SettingsStyle::label(caption, SettingsStyle::font(11, QFont::Medium)), 0,
                      Qt::AlignHCenter);
    return column;
}

QWidget* routeRow(const DragHelpIntentCard::Route& route, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(7);
    const QColor muted = route.destructive ? SettingsStyle::destructive() : SettingsStyle::secondary();
    auto* symbol = new QLabel(row);
    symbol->setPixmap(SettingsSymbol::pixmap(route.symbol, 13, muted));
    symbol->setFixedWidth(15);
    symbol->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol);
    layout->addWidget(SettingsStyle::label(route.title, SettingsStyle::font(12)));
    layout->addStretch(1);
    layout->addSpacing(4);
    layout->addWidget(SettingsStyle::label(route.detail, SettingsStyle::font(12), muted));
    return row;
}

} // namespace

QColor DragHelpIntentCard::tint(bool peg, bool dark) {
    if (dark)
        return peg ? rgb(0.94, 0.68, 0.34) : rgb(0.5, 0.72, 1.0);
    return peg ? rgb(0.67, 0.4, 0.15) : rgb(0.2, 0.43, 0.72);
}

QList<DragHelpIntentCard::Route> DragHelpIntentCard::routes(bool peg) {
    if (peg)
        return {{"arrow.left.and.right", "沿绳拖动", "换位置"},
                {"folder", "拖到其他文件夹", "移动文件并取下"},
                {"arrow.down", "放回原文件夹／绳外空白", "只取下"},
                {"trash", "拖到废纸篓", "确认后删除", true}};
    return {{"arrow.uturn.backward", "放回原拍立得内", "不操作"},
            {"plus", "拖到绳线上", "创建副本"},
            {"doc.on.doc", "拖到应用或文件夹", "复制"}};
}

DragHelpIntentCard::DragHelpIntentCard(bool peg, bool showGrip, QWidget* parent)
    : QWidget(parent)
    , m_peg(peg) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->addWidget(SettingsStyle::label(peg ? QStringLiteral("拖夹子") : QStringLiteral("拖照片"),
                                           SettingsStyle::font(17, QFont::Bold)));
    header->addStretch();
    m_badge = SettingsStyle::label(peg ? QStringLiteral("移动 · 取下") : QStringLiteral("复制"),
                                   SettingsStyle::font(11, QFont::Medium));
    m_badge->setContentsMargins(8, 4, 8, 4);
    header->addWidget(m_badge);
    column->addLayout(header);

    // The pictures keep the light tints in either scheme.
    DragHelpPicture::Parts held;
    held.blue = tint(false, false);
    held.amber = tint(true, false);
    if (showGrip)
        held.grip = peg;
    DragHelpPicture::Parts dragged = held;
    dragged.framed = peg;
    dragged.peg = peg;
    dragged.rope = false;
    dragged.grip.reset();
    auto* illustration = new QWidget(this);
    auto* pictures = new QHBoxLayout(illustration);
    pictures->setContentsMargins(0, 0, 0, 0);
    pictures->setSpacing(0);
    pictures->addWidget(
        pictureColumn(held, peg ? QStringLiteral("按住木夹") : QStringLiteral("按住照片画面"), this));
    pictures->addStretch(1);
    pictures->addSpacing(2);
    auto* arrow = new QLabel(this);
    arrow->setPixmap(SettingsSymbol::pixmap(QStringLiteral("arrow.right"), 14, SettingsStyle::secondary()));
    arrow->setContentsMargins(0, 0, 0, 20);
    pictures->addWidget(arrow);
    pictures->addSpacing(2);
    pictures->addStretch(1);
    pictures->addWidget(pictureColumn(
        dragged, peg ? QStringLiteral("拖影：夹子 + 相纸") : QStringLiteral("拖影：只有照片"), this));
    illustration->setAccessibleName(peg ? QStringLiteral("按住木夹，拖动时显示夹子和相纸")
                                        : QStringLiteral("按住照片画面，拖动时只显示照片"));
    column->addWidget(illustration);
    column->addWidget(SettingsStyle::divider(this));

    auto* routeList = new QVBoxLayout;
    routeList->setSpacing(9);
    for (const Route& route : routes(peg))
        routeList->addWidget(routeRow(route, this));
    column->addLayout(routeList);
    column->addStretch(1);
    applyTint();
}

bool DragHelpIntentCard::dark() const {
    return palette().color(QPalette::Window).lightnessF() < 0.5;
}

void DragHelpIntentCard::applyTint() {
    const QColor color = tint(m_peg, dark());
    QColor plate = color;
    plate.setAlphaF(0.1f);
    m_badge->setStyleSheet(QStringLiteral("color: %1; background: %2; border-radius: 9px;")
                               .arg(color.name(QColor::HexRgb), plate.name(QColor::HexArgb)));
    update();
}

void DragHelpIntentCard::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        applyTint();
    QWidget::changeEvent(event);
}

void DragHelpIntentCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = tint(m_peg, dark());
    QPainterPath plate;
    plate.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
    QColor fill = color;
    fill.setAlphaF(0.045f);
    painter.fillPath(plate, fill);
    QColor border = color;
    border.setAlphaF(0.16f);
    QPen pen(border, 1);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawPath(plate);
}

} // namespace vennimo
