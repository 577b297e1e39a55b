#include "canvas/ClotheslineErrorBanner.h"

#include "widgets/ClotheslineToolbarButtonStyle.h"
#include "widgets/ToolbarSymbol.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace vennimo {

namespace {

// The system orange of a light appearance.
const QColor kTextColour(255, 149, 0);
const QColor kMaterial(246, 246, 246, 238);

class CloseButton : public QAbstractButton {
public:
    explicit CloseButton(QWidget* parent)
        : QAbstractButton(parent) {
        setFixedSize(ClotheslineErrorBanner::kCloseFrame, ClotheslineErrorBanner::kCloseFrame);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::ArrowCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        ToolbarSymbol::paint(painter, QStringLiteral("xmark"), QRectF(rect()), 10,
                             ClotheslineToolbarButtonStyle::labelColor(!isDown()), 1.9);
    }
};

} // namespace

ClotheslineErrorBanner::ClotheslineErrorBanner(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(kSpacing);
    m_label = new QLabel(this);
    // Messages name files and folders; those show as written, never as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setFont(ClotheslineToolbarButtonStyle::font(kTextPixels));
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, kTextColour);
    m_label->setPalette(palette);
    layout->addWidget(m_label, 1, Qt::AlignTop);
    m_close = new CloseButton(this);
    m_close->setToolTip(QString::fromUtf8("关闭提示"));
    m_close->setAccessibleName(QString::fromUtf8("关闭提示"));
    layout->addWidget(m_close, 0, Qt::AlignTop);
    connect(m_close, &QAbstractButton::clicked, this, &ClotheslineErrorBanner::dismissRequested);
}

void ClotheslineErrorBanner::setText(const QString& text) {
    m_label->setText(text);
}

QString ClotheslineErrorBanner::text() const {
    return m_label->text();
}

void ClotheslineErrorBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 0, 28), 1));
    painter.setBrush(kMaterial);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
}

} // namespace vennimo
